#include "tiers_kernel.h"

#include <emmintrin.h>

namespace {

void Fold(TiersKernel& k)
{
    const int P = k.order;
    for (int m = 0; m <= P / 2; ++m)
        for (int b = 0; b < TiersBands; ++b) {
            double h = k.band[b].taps[m];
            // The centre of an even order is the only tap applied to one sample.
            k.folded[m][b][0] = k.folded[m][b][1] = h;
        }
}

}  // namespace

bool TiersDesign(TiersKernel& k, const double crossoverHz[4], unsigned rate, int firstBand, int lastBand)
{
    const double nyquist = rate * 0.5;
    double edge[6];
    edge[0] = 0.0;
    // A crossover at or above the Nyquist frequency is taken just below it, so
    // the bands above it stay bands rather than folded, negated responses.
    for (int i = 0; i < 4; ++i)
        edge[i + 1] = crossoverHz[i] >= nyquist ? 0.98 : crossoverHz[i] / nyquist;
    edge[5] = 1.0;
    double taps[TiersBands][BandMaxTaps];
    for (int b = firstBand; b <= lastBand; ++b)
        if (!DesignBandPass(k.order, taps[b], edge[b], edge[b + 1])) return false;
    for (int b = firstBand; b <= lastBand; ++b) memcpy(k.band[b].taps, taps[b], sizeof taps[b]);
    Fold(k);
    return true;
}

bool TiersSetOrder(TiersKernel& k, int order, const double crossoverHz[4], unsigned rate)
{
    int old = k.order;
    k.order = order;
    if (!TiersDesign(k, crossoverHz, rate, 0, TiersBands - 1)) {
        k.order = old;
        return false;
    }
    memset(k.delay, 0, sizeof k.delay);
    return true;
}

void TiersSetBand(TiersKernel& k, int band, int kind, double v, unsigned rate)
{
    DspSetLawValue(k.band[band], kind, v, rate);
}

void TiersStart(TiersKernel& k, int channels)
{
    for (int b = 0; b < TiersBands; ++b) {
        TiersBand& band = k.band[b];
        for (int j = 0; j < channels; ++j) band.envelope[j] = band.threshold * band.gain;
        band.holdCounter = band.holdSamples;
    }
}

void TiersProcess(TiersKernel& k, const short* x, short* y, int frames, int n, const bool tie[TiersBands])
{
    const int P = k.order;
    const int pairs = (P - 1) / 2;  // m = 1..pairs pair with P - m
    const bool centre = P % 2 == 0;
    double uScale[TiersBands], outScale[TiersBands];
    for (int b = 0; b < TiersBands; ++b) {
        uScale[b] = k.band[b].gain / 32768.0;
        outScale[b] = k.band[b].gain;
    }
    double out[TiersBands][DspMaxChannels];
    int p = k.ringPos;
    for (int t = 0; t < frames; ++t, x += n, y += n) {
        for (int j = 0; j < n; ++j) k.delay[p][j] = k.delay[p + P][j] = x[j];
        for (int c = 0; c < n; c += 2) {
            const double* d = &k.delay[p][c];
            const int stride = DspMaxChannels;
            __m128d s = _mm_loadu_pd(d);
            __m128d a0 = _mm_mul_pd(s, _mm_loadu_pd(k.folded[0][0]));
            __m128d a1 = _mm_mul_pd(s, _mm_loadu_pd(k.folded[0][1]));
            __m128d a2 = _mm_mul_pd(s, _mm_loadu_pd(k.folded[0][2]));
            __m128d a3 = _mm_mul_pd(s, _mm_loadu_pd(k.folded[0][3]));
            __m128d a4 = _mm_mul_pd(s, _mm_loadu_pd(k.folded[0][4]));
            for (int m = 1; m <= pairs; ++m) {
                s = _mm_add_pd(_mm_loadu_pd(d + m * stride), _mm_loadu_pd(d + (P - m) * stride));
                const double* h = k.folded[m][0];
                a0 = _mm_add_pd(a0, _mm_mul_pd(s, _mm_loadu_pd(h)));
                a1 = _mm_add_pd(a1, _mm_mul_pd(s, _mm_loadu_pd(h + 2)));
                a2 = _mm_add_pd(a2, _mm_mul_pd(s, _mm_loadu_pd(h + 4)));
                a3 = _mm_add_pd(a3, _mm_mul_pd(s, _mm_loadu_pd(h + 6)));
                a4 = _mm_add_pd(a4, _mm_mul_pd(s, _mm_loadu_pd(h + 8)));
            }
            if (centre) {
                s = _mm_loadu_pd(d + (P / 2) * stride);
                const double* h = k.folded[P / 2][0];
                a0 = _mm_add_pd(a0, _mm_mul_pd(s, _mm_loadu_pd(h)));
                a1 = _mm_add_pd(a1, _mm_mul_pd(s, _mm_loadu_pd(h + 2)));
                a2 = _mm_add_pd(a2, _mm_mul_pd(s, _mm_loadu_pd(h + 4)));
                a3 = _mm_add_pd(a3, _mm_mul_pd(s, _mm_loadu_pd(h + 6)));
                a4 = _mm_add_pd(a4, _mm_mul_pd(s, _mm_loadu_pd(h + 8)));
            }
            _mm_storeu_pd(&out[0][c], a0);
            _mm_storeu_pd(&out[1][c], a1);
            _mm_storeu_pd(&out[2][c], a2);
            _mm_storeu_pd(&out[3][c], a3);
            _mm_storeu_pd(&out[4][c], a4);
        }
        for (int b = TiersBands - 1; b >= 0; --b) {
            TiersBand& band = k.band[b];
            for (int j = n - 1; j >= 0; --j) {
                int v = x[j];
                DspEnvelopeStep(band.envelope[j], (v < 0 ? -v : v) * uScale[b], band.attackCoef,
                                band.releaseCoef, band.holdCounter, band.holdSamples);
            }
            if (tie[b]) DspTieEnvelopes(band.envelope, n);
        }
        for (int j = n - 1; j >= 0; --j) {
            double sum = 0.0;
            for (int b = TiersBands - 1; b >= 0; --b) {
                const TiersBand& band = k.band[b];
                double e = band.envelope[j], T = band.threshold;
                double g = e > T ? (T + (e - T) * band.invRatio) / e : 1.0;
                sum += g * out[b][j] * outScale[b];
            }
            y[j] = DspOutputSample(k.makeupGain * sum);
        }
        p = p == 0 ? P - 1 : p - 1;
    }
    k.ringPos = p;
}

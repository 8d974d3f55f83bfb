// Five-band compressor: each channel is split into five bands by FIR filters,
// each band is compressed by its own detector (keyed by the full-band input),
// and the bands are summed through one makeup gain.
#include <emmintrin.h>
#include <stdio.h>

#include "band_split.h"
#include "dynamics.h"

namespace {

enum {
    Crossover = 0,  // 0..3
    Makeup = 4,
    BandGain = 5,
    BandThreshold = 10,
    BandRatio = 15,
    BandAttack = 20,
    BandHold = 25,
    BandRelease = 30,
    BandTie = 35,
    FilterOrder = 40,
    SettingCount = 41,
    Bands = 5,
    DelayLength = 2 * BandMaxOrder + 1,
};

struct Band {
    double taps[BandMaxTaps];
    double gain, threshold, invRatio;
    double envelope[DspMaxChannels];
    double attackCoef, releaseCoef;
    int holdSamples, holdCounter;
};

// Every band filters the same input with the same ring position, so one
// mirrored delay line per channel serves all five: delay[p + m][j] holds the
// sample of m frames ago. The band taps are kept folded around their centre
// (h[m] applies to d[m] + d[P - m]) and doubled for two-channel vectors.
struct TiersInstance : DspInstance {
    double makeupGain;
    Band band[Bands];
    int order;  // P, the number of past samples each band convolves
    int ringPos;
    double delay[DelayLength][DspMaxChannels];
    double folded[BandMaxOrder / 2 + 1][Bands][2];
};

void BuildTemplate(SettingRecord* t)
{
    const EditorKind spin = EditorKind::Spin;
    static const double crossover[4] = {156, 625, 2500, 10000};
    static const double threshold[5] = {-18, -21, -21, -21, -18};
    static const double attack[5] = {10, 7, 5, 3, 2};
    char name[32], text[256];
    for (int k = 1; k <= 4; ++k) {
        snprintf(name, sizeof name, "Frequency %d", k);
        snprintf(text, sizeof text, "Cutoff frequency %d(high cutoff for band %d and low cutoff for band %d)", k, k,
                 k + 1);
        DspMakeRange(t[Crossover + k - 1], name, text, "Hz", 5, spin, 0, 24000, crossover[k - 1]);
    }
    DspMakeDynamicsRange(t[Makeup], FullDynamics::Makeup, 0.1, -60, 32, 18);
    for (int k = 1; k <= 5; ++k) {
        int b = k - 1;
        DspMakeDynamicsRange(t[BandGain + b], FullDynamics::Gain, 0.1, -60, 32, 6, nullptr, k);
        DspMakeDynamicsRange(t[BandThreshold + b], FullDynamics::Threshold, 0.1, -96, 0, threshold[b], nullptr, k);
        DspMakeDynamicsRange(t[BandRatio + b], FullDynamics::Ratio, 0.1, 1.1, 1000, 100, nullptr, k);
        DspMakeDynamicsRange(t[BandAttack + b], FullDynamics::Attack, 0.1, 0.2f, 50, attack[b], nullptr, k);
        DspMakeDynamicsRange(t[BandHold + b], FullDynamics::Hold, 0.1, 0.1, 300, 10.0 / k, nullptr, k);
        DspMakeDynamicsRange(t[BandRelease + b], FullDynamics::Release, 10, 100, 10000, 1000 - 100 * b, nullptr, k);
        DspMakeStereoTie(t[BandTie + b], kStereoTieReductionHelp, k);
    }
    DspMakeIntRange(t[FilterOrder], "Filter Order",
                    "This control affect the filter performance, the higher this value is the best performace in "
                    "band separation the filter acchives.",
                    "", 2, spin, 4, 64, 48);
}

void Fold(TiersInstance* inst)
{
    const int P = inst->order;
    for (int m = 0; m <= P / 2; ++m)
        for (int b = 0; b < Bands; ++b) {
            double h = inst->band[b].taps[m];
            // The centre of an even order is the only tap applied to one sample.
            inst->folded[m][b][0] = inst->folded[m][b][1] = h;
        }
}

// Designs the taps of the given bands with the current order and crossovers;
// nothing changes when a design fails.
bool Design(TiersInstance* inst, int firstBand, int lastBand)
{
    const double nyquist = DspSampleRate(inst) * 0.5;
    double edge[6];
    edge[0] = 0.0;
    for (int k = 0; k < 4; ++k) edge[k + 1] = DspSettingDouble(inst, Crossover + k) / nyquist;
    edge[5] = 1.0;
    double taps[Bands][BandMaxTaps];
    for (int b = firstBand; b <= lastBand; ++b)
        if (!DesignBandPass(inst->order, taps[b], edge[b], edge[b + 1])) return false;
    for (int b = firstBand; b <= lastBand; ++b) memcpy(inst->band[b].taps, taps[b], sizeof taps[b]);
    Fold(inst);
    return true;
}

bool Apply(DspInstance* base, int index)
{
    TiersInstance* inst = static_cast<TiersInstance*>(base);
    double v = DspSettingDouble(inst, index);
    if (index < Makeup) return Design(inst, index, index + 1);
    if (index == Makeup) {
        inst->makeupGain = DspDbToGain(v);
        return true;
    }
    if (index == FilterOrder) {
        int P = DspSettingInt(inst, FilterOrder);
        if (P % 2) {
            ++P;
            SettingStore<int32_t>(inst->settings[FilterOrder].currentValue, P);
        }
        int old = inst->order;
        inst->order = P;
        if (!Design(inst, 0, Bands - 1)) {
            inst->order = old;
            return false;
        }
        memset(inst->delay, 0, sizeof inst->delay);
        return true;
    }
    if (index >= BandTie) return true;
    Band& band = inst->band[(index - BandGain) % Bands];
    switch ((index - BandGain) / Bands) {
    case 0: band.gain = DspDbToGain(v); break;
    case 1: band.threshold = DspDbToGain(v); break;
    case 2: band.invRatio = 1.0 / v; break;
    case 3: band.attackCoef = DspTimeCoef(v, DspSampleRate(inst)); break;
    case 4: band.holdSamples = DspHoldSamples(v, DspSampleRate(inst)); break;
    case 5: band.releaseCoef = DspTimeCoef(v, DspSampleRate(inst)); break;
    }
    return true;
}

DspOpenResult Open(DspInstance* base)
{
    TiersInstance* inst = static_cast<TiersInstance*>(base);
    inst->makeupGain = DspDbToGain(DspSettingDouble(inst, Makeup));
    inst->order = DspSettingInt(inst, FilterOrder);  // an odd order from the store is used as it is
    if (!Design(inst, 0, Bands - 1)) return DspOpenResult::OutOfMemory;
    for (int b = 0; b < Bands; ++b) {
        for (int group = 0; group < 6; ++group) Apply(inst, BandGain + group * Bands + b);
        Band& band = inst->band[b];
        for (int j = 0; j < inst->format.channels; ++j) band.envelope[j] = band.threshold * band.gain;
        band.holdCounter = band.holdSamples;
    }
    inst->active = true;
    return DspOpenResult::Ok;
}

void Process(DspInstance* base, const short* x, const short*, short* y, int frames, const StreamFormat* fmt)
{
    TiersInstance* inst = static_cast<TiersInstance*>(base);
    const int n = fmt->channels;
    const int P = inst->order;
    const int pairs = (P - 1) / 2;  // m = 1..pairs pair with P - m
    const bool centre = P % 2 == 0;
    bool tie[Bands];
    double uScale[Bands], outScale[Bands];
    for (int b = 0; b < Bands; ++b) {
        tie[b] = DspSettingInt(inst, BandTie + b) != 0;
        uScale[b] = inst->band[b].gain / 32768.0;
        outScale[b] = inst->band[b].gain;
    }
    double out[Bands][DspMaxChannels];
    int p = inst->ringPos;
    for (int t = 0; t < frames; ++t, x += n, y += n) {
        for (int j = 0; j < n; ++j) inst->delay[p][j] = inst->delay[p + P][j] = x[j];
        for (int c = 0; c < n; c += 2) {
            const double* d = &inst->delay[p][c];
            const int stride = DspMaxChannels;
            __m128d s = _mm_loadu_pd(d);
            __m128d a0 = _mm_mul_pd(s, _mm_loadu_pd(inst->folded[0][0]));
            __m128d a1 = _mm_mul_pd(s, _mm_loadu_pd(inst->folded[0][1]));
            __m128d a2 = _mm_mul_pd(s, _mm_loadu_pd(inst->folded[0][2]));
            __m128d a3 = _mm_mul_pd(s, _mm_loadu_pd(inst->folded[0][3]));
            __m128d a4 = _mm_mul_pd(s, _mm_loadu_pd(inst->folded[0][4]));
            for (int m = 1; m <= pairs; ++m) {
                s = _mm_add_pd(_mm_loadu_pd(d + m * stride), _mm_loadu_pd(d + (P - m) * stride));
                const double* h = inst->folded[m][0];
                a0 = _mm_add_pd(a0, _mm_mul_pd(s, _mm_loadu_pd(h)));
                a1 = _mm_add_pd(a1, _mm_mul_pd(s, _mm_loadu_pd(h + 2)));
                a2 = _mm_add_pd(a2, _mm_mul_pd(s, _mm_loadu_pd(h + 4)));
                a3 = _mm_add_pd(a3, _mm_mul_pd(s, _mm_loadu_pd(h + 6)));
                a4 = _mm_add_pd(a4, _mm_mul_pd(s, _mm_loadu_pd(h + 8)));
            }
            if (centre) {
                s = _mm_loadu_pd(d + (P / 2) * stride);
                const double* h = inst->folded[P / 2][0];
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
        for (int b = Bands - 1; b >= 0; --b) {
            Band& band = inst->band[b];
            for (int j = n - 1; j >= 0; --j) {
                int v = x[j];
                DspEnvelopeStep(band.envelope[j], (v < 0 ? -v : v) * uScale[b], band.attackCoef,
                                band.releaseCoef, band.holdCounter, band.holdSamples);
            }
            if (tie[b]) DspTieEnvelopes(band.envelope, n);
        }
        for (int j = n - 1; j >= 0; --j) {
            double sum = 0.0;
            for (int b = Bands - 1; b >= 0; --b) {
                const Band& band = inst->band[b];
                double e = band.envelope[j], T = band.threshold;
                double g = e > T ? (T + (e - T) * band.invRatio) / e : 1.0;
                sum += g * out[b][j] * outScale[b];
            }
            y[j] = DspOutputSample(inst->makeupGain * sum);
        }
        p = p == 0 ? P - 1 : p - 1;
    }
    inst->ringPos = p;
}

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x11000045, 5, "PylSoftMultiBandCompressorDSP", "PylSoft Multi-Band Compressor DSP",
    "PylSoft Multi-Band Compressor DSP v1.1.0.69\nFive-band compressor with linear-phase band split.",
    SettingCount, 128, true, 1,
    false, "Error alocating memory", 15, {147, 262, 285, 294, 307, 712},
    sizeof(TiersInstance), BuildTemplate, Open, Apply, nullptr, Process, nullptr,
};

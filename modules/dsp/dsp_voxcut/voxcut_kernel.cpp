#include "voxcut_kernel.h"

void BiquadSetup(Biquad* f, double frequency, double q, double rate)
{
    // At or above half the sample rate the notch's poles leave the unit
    // circle and the output runs away: keep it just below.
    if (frequency >= rate * 0.5) frequency = rate * 0.49;
    double w0 = 6.283185307179586 * frequency / rate;
    double alpha = sin(w0) / (2.0 * q);
    double a0 = 1.0 + alpha;
    f->b0 = 1.0 / a0;
    f->b1 = -2.0 * cos(w0) / a0;
    f->b2 = 1.0 / a0;
    f->a1 = -2.0 * cos(w0) / a0;
    f->a2 = (1.0 - alpha) / a0;
}

Biquad* BiquadCreate(double frequency, double q, double rate)
{
    Biquad* f = static_cast<Biquad*>(DspAlloc(sizeof(Biquad)));
    if (f) BiquadSetup(f, frequency, q, rate);
    return f;
}

void BiquadDestroy(Biquad* f) { DspFree(f); }

void BiquadProcess(const double* in, double* out, int frames, Biquad* f)
{
    // Both channels in one pair of lanes: each lane rounds as the scalar filter would.
    const DspLanes b0 = f->b0, b1 = f->b1, b2 = f->b2, a1 = f->a1, a2 = f->a2;
    DspLanes x1 = _mm_loadu_pd(f->x1), x2 = _mm_loadu_pd(f->x2);
    DspLanes y1 = _mm_loadu_pd(f->y1), y2 = _mm_loadu_pd(f->y2);
    for (int t = 0; t < frames; ++t) {
        const DspLanes x = _mm_loadu_pd(in + 2 * t);
        DspLanes y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        y = DspSelect(DspAbs(y) < 1e-30, 0.0, y);
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        _mm_storeu_pd(out + 2 * t, y.v);
    }
    _mm_storeu_pd(f->x1, x1.v);
    _mm_storeu_pd(f->x2, x2.v);
    _mm_storeu_pd(f->y1, y1.v);
    _mm_storeu_pd(f->y2, y2.v);
}

void VoxcutProcess(Biquad* f, const short* x, short* y, int frames)
{
    enum { Chunk = 512 };
    double raw[2 * Chunk], notched[2 * Chunk];
    while (frames > 0) {
        int n = frames < Chunk ? frames : Chunk;
        for (int i = 0; i < 2 * n; ++i) raw[i] = x[i];
        BiquadProcess(raw, notched, n, f);
        for (int t = 0; t < n; ++t) {
            const __m128d lr = _mm_loadu_pd(raw + 2 * t);
            const __m128d diff = _mm_sub_pd(lr, _mm_shuffle_pd(lr, lr, 1));  // L - R in lane 0
            const DspLanes side = _mm_unpacklo_pd(diff, diff);
            DspOutputSamples2(side + DspLanes(_mm_loadu_pd(notched + 2 * t)), y + 2 * t);
        }
        x += 2 * n;
        y += 2 * n;
        frames -= n;
    }
}

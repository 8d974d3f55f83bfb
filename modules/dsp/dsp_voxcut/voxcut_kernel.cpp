#include "voxcut_kernel.h"

void BiquadSetup(Biquad* f, double frequency, double q, double rate)
{
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
    for (int t = 0; t < frames; ++t) {
        for (int c = 0; c < 2; ++c) {
            double x = in[2 * t + c];
            double y = f->b0 * x + f->b1 * f->x1[c] + f->b2 * f->x2[c] - f->a1 * f->y1[c] - f->a2 * f->y2[c];
            if (fabs(y) < 1e-30) y = 0.0;
            f->x2[c] = f->x1[c];
            f->x1[c] = x;
            f->y2[c] = f->y1[c];
            f->y1[c] = y;
            out[2 * t + c] = y;
        }
    }
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
            double side = raw[2 * t] - raw[2 * t + 1];
            y[2 * t] = DspOutputSample(side + notched[2 * t]);
            y[2 * t + 1] = DspOutputSample(side + notched[2 * t + 1]);
        }
        x += 2 * n;
        y += 2 * n;
        frames -= n;
    }
}

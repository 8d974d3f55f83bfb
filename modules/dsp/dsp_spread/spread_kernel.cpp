#include "spread_kernel.h"

void SpreadProcess(const short* x, short* y, int frames, double w)
{
    for (int t = 0; t < frames; ++t, x += 2, y += 2) {
        int L = x[0], R = x[1];
        double mid = (L + R) * 0.5;
        double d = (L - mid) * w;
        y[0] = DspOutputSample(L + d);
        y[1] = DspOutputSample(R - d);
    }
}

#include "band_split.h"

#include <math.h>
#include <string.h>

#include "dsp_kernel.h"

double* BuildHammingWindow(int n)
{
    if (n < 2) return nullptr;
    double* w = static_cast<double*>(DspAlloc(sizeof(double) * n));
    if (!w) return nullptr;
    const double a = 0.54f, b = 0.46f, twoPi = 6.2831855f;
    const double span = (float)(n - 1);
    for (int i = 0; i < n; ++i) w[i] = a - b * cos(twoPi * i / span);
    return w;
}

bool DesignBandPass(int order, double* taps, double f1, double f2)
{
    if (order < 1 || order > BandMaxOrder) return false;
    const int n = order + 1;
    const int q = n % 2;
    const int half = (n + 1) / 2;
    double* w = BuildHammingWindow(n);
    if (!w) return false;
    const double pi = 3.1415927f;
    const double B = (f2 - f1) / 2.0, M = (f1 + f2) / 2.0;
    double side[BandMaxTaps];
    for (int k = 0; k < half; ++k) {
        double t = q ? k : k + 0.5;
        side[k] = (q && k == 0) ? f2 - f1 : 2.0 * sin(pi * t * B) * cos(pi * t * M) / (pi * t);
    }
    double r[BandMaxTaps];
    int i = 0;
    for (int k = half - 1; k >= q; --k) r[i++] = side[k];
    for (int k = 0; k < half; ++k) r[i++] = side[k];
    for (int k = 0; k < n; ++k) taps[k] = r[k] * w[k];
    DspFree(w);
    return true;
}

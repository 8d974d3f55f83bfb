#include "squeeze_kernel.h"

void SqueezeProcess(Dynamics& d, const short* x, const short* key, short* y, int frames, int channels, bool tie)
{
    const double T = d.threshold, invRatio = d.invRatio;
    DspRunDynamics(d, x, key, y, frames, channels, tie,
                   [T, invRatio](auto e) { return DspSelect(e > T, (T + (e - T) * invRatio) / e, 1.0); });
}

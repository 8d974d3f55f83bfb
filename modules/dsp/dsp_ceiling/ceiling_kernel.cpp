#include "ceiling_kernel.h"

void CeilingProcess(Dynamics& d, const short* x, const short* key, short* y, int frames, int channels, bool tie)
{
    const double T = d.threshold;
    DspRunDynamics(d, x, key, y, frames, channels, tie, [T](auto e) { return DspSelect(e > T, T / e, 1.0); });
}

#include "lowgate_kernel.h"

void LowgateProcess(Dynamics& d, const short* x, short* y, int frames, int channels, bool tie)
{
    const double T = d.threshold, invRatio = d.invRatio;
    // An envelope of 0 gives silence, never 0/0.
    DspRunDynamics(d, x, nullptr, y, frames, channels, tie, [T, invRatio](double e) {
        if (e >= T) return 1.0;
        if (e <= 0.0) return 0.0;
        double level = T - (T - e) / invRatio;
        return level < 0.0 ? 0.0 : level / e;
    });
}

#include "lowgate_kernel.h"

void LowgateProcess(Dynamics& d, const short* x, short* y, int frames, int channels, bool tie)
{
    const double T = d.threshold, invRatio = d.invRatio;
    // An envelope of 0 gives silence (level / e is then not taken).
    DspRunDynamics(d, x, nullptr, y, frames, channels, tie, [T, invRatio](auto e) {
        auto level = T - (T - e) / invRatio;
        return DspSelect(e >= T, 1.0, DspSelect(e <= 0.0, 0.0, DspSelect(level < 0.0, 0.0, level / e)));
    });
}

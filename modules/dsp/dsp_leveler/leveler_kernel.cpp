#include "leveler_kernel.h"

void LevelerStart(Dynamics& d, unsigned rate, int channels)
{
    d.makeupGain = 1.0;
    d.holdSamples = (int)(rate / 50);
    d.releaseCoef = exp(-1.0 / (rate * 5.0));
    DspStartDetector(d, channels, d.gain * d.threshold);
}

void LevelerProcess(Dynamics& d, const short* x, short* y, int frames, int channels, bool tie)
{
    const double target = d.threshold;
    DspRunDynamics(d, x, nullptr, y, frames, channels, tie,
                   [target](auto e) { return DspSelect(target < e, target / e, 1.0); });
}

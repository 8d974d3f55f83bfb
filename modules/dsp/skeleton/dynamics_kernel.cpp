#include "dynamics_kernel.h"

bool DspSetLookAhead(Dynamics& d, int frames, int channels)
{
    short* ring = nullptr;
    if (frames >= 1) {
        ring = static_cast<short*>(DspAlloc(sizeof(short) * 2 * (size_t)frames * channels));
        if (!ring) return false;
    }
    DspFree(d.delayRing);
    d.delayRing = ring;
    d.lookAheadFrames = frames >= 1 ? frames : 0;
    d.ringPos = 0;
    return true;
}

void DspFreeLookAhead(Dynamics& d)
{
    DspFree(d.delayRing);
    d.delayRing = nullptr;
    d.lookAheadFrames = 0;
}

bool DspSetDynamics(Dynamics& d, int kind, double v, unsigned rate, int channels)
{
    using namespace FullDynamics;
    if (kind == Makeup)
        d.makeupGain = DspDbToGain(v);
    else if (kind == LookAhead)
        return DspSetLookAhead(d, DspLookAheadFrames(rate, v), channels);
    else
        DspSetLawValue(d, kind, v, rate);
    return true;
}

void DspStartDetector(Dynamics& d, int channels, double level)
{
    for (int j = 0; j < channels; ++j) d.envelope[j] = level;
    d.holdCounter = d.holdSamples;
}

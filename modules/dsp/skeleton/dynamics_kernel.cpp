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
    switch (kind) {
    case Gain: d.gain = DspDbToGain(v); break;
    case Threshold: d.threshold = DspDbToGain(v); break;
    case Ratio: d.invRatio = 1.0 / v; break;
    case Attack: d.attackCoef = DspTimeCoef(v, rate); break;
    case Hold: d.holdSamples = DspHoldSamples(v, rate); break;
    case Release: d.releaseCoef = DspTimeCoef(v, rate); break;
    case Makeup: d.makeupGain = DspDbToGain(v); break;
    case LookAhead: return DspSetLookAhead(d, DspLookAheadFrames(rate, v), channels);
    }
    return true;
}

void DspStartDetector(Dynamics& d, int channels, double level)
{
    for (int j = 0; j < channels; ++j) d.envelope[j] = level;
    d.holdCounter = d.holdSamples;
}

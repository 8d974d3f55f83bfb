#include "dynamics.h"

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

using namespace FullDynamics;

static unsigned Rate(const DspInstance* inst) { return (unsigned)inst->format.sampleRate; }

bool FullDynamicsApply(DspInstance* base, int index)
{
    DynamicsInstance* inst = static_cast<DynamicsInstance*>(base);
    Dynamics& d = inst->dyn;
    double v = DspSettingDouble(inst, index);
    switch (index) {
    case Gain: d.gain = DspDbToGain(v); break;
    case Threshold: d.threshold = DspDbToGain(v); break;
    case Ratio: d.invRatio = 1.0 / v; break;
    case Attack: d.attackCoef = DspTimeCoef(v, Rate(inst)); break;
    case Hold: d.holdSamples = DspHoldSamples(v, Rate(inst)); break;
    case Release: d.releaseCoef = DspTimeCoef(v, Rate(inst)); break;
    case Makeup: d.makeupGain = DspDbToGain(v); break;
    case LookAhead:
        if (!DspSetLookAhead(d, DspLookAheadFrames(Rate(inst), v), inst->format.channels)) return false;
        inst->active = d.lookAheadFrames >= 1;
        break;
    }
    return true;
}

DspOpenResult FullDynamicsOpen(DspInstance* base)
{
    DynamicsInstance* inst = static_cast<DynamicsInstance*>(base);
    Dynamics& d = inst->dyn;
    if (!FullDynamicsApply(inst, LookAhead)) return DspOpenResult::OutOfMemory;
    for (int i : {Gain, Makeup, Threshold, Ratio, Attack, Hold, Release}) FullDynamicsApply(inst, i);
    for (int j = 0; j < inst->format.channels; ++j) d.envelope[j] = d.threshold;
    d.holdCounter = d.holdSamples;
    return DspOpenResult::Ok;
}

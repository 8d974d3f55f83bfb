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

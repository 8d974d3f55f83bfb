// Normalizer arithmetic: a fixed input gain, every channel's envelope pulled
// down to the target level (kept as the threshold), the look-ahead time as
// the attack time, a 20 ms hold and a 5-second release.
#pragma once
#include "dynamics_kernel.h"

// The attack follows the look-ahead time (ms).
inline void LevelerSetAttack(Dynamics& d, double lookAheadMs, unsigned rate)
{
    d.attackCoef = DspTimeCoef(lookAheadMs, rate);
}

// The fixed parts, once the settings are applied: unity makeup, hold and
// release, and the detector started at gain x target.
void LevelerStart(Dynamics& d, unsigned rate, int channels);

// The signal keys itself; the output is delayed by L - 1 frames.
void LevelerProcess(Dynamics& d, const short* x, short* y, int frames, int channels, bool tie);

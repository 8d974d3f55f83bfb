// Hard limiter arithmetic: the detected level is held at the threshold (an
// infinite ratio).
#pragma once
#include "dynamics_kernel.h"

// The detector starts at the threshold times the input gain.
inline void CeilingStart(Dynamics& d, int channels) { DspStartDetector(d, channels, d.threshold * d.gain); }

// key keys the detector (the signal when NULL); the output is delayed by L - 1 frames.
void CeilingProcess(Dynamics& d, const short* x, const short* key, short* y, int frames, int channels, bool tie);

// Compressor/limiter arithmetic: above the threshold the level is
// threshold + (level - threshold) / ratio, on linear amplitudes. The detector
// starts at the threshold (DspStartAtThreshold).
#pragma once
#include "dynamics_kernel.h"

// key keys the detector (the signal when NULL); the output is delayed by L - 1 frames.
void SqueezeProcess(Dynamics& d, const short* x, const short* key, short* y, int frames, int channels, bool tie);

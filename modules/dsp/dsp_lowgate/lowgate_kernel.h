// Expander arithmetic: below the threshold T a level e comes out at
// T - ratio x (T - e), and at 0 once that is negative; above it the gain is 1.
// The signal keys itself; the detector starts at the threshold (DspStartAtThreshold).
#pragma once
#include "dynamics_kernel.h"

void LowgateProcess(Dynamics& d, const short* x, short* y, int frames, int channels, bool tie);

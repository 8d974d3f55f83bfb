// Stereo enhancer arithmetic: the side signal scaled by 1 + width, the mid kept.
#pragma once
#include "dsp_kernel.h"

// Whole interleaved 16-bit stereo frames.
void SpreadProcess(const short* x, short* y, int frames, double width);

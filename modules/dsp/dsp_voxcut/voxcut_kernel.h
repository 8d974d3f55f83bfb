// Karaoke arithmetic: both channels get L - R (which cancels the centre) plus
// their own input through a notch biquad.
#pragma once
#include "dsp_lanes.h"

// Direct form I notch: coefficients divided by a0, then the state of both channels.
struct Biquad {
    double b0, b1, b2, a1, a2;
    double x1[2], x2[2], y1[2], y2[2];
};

// Notch coefficients at `frequency` Hz with quality q; the state is kept. A
// frequency at or above half the rate is taken as 0.49 x rate.
void BiquadSetup(Biquad* f, double frequency, double q, double rate);
// A new filter (DspAlloc) with zero state, or NULL.
Biquad* BiquadCreate(double frequency, double q, double rate);
void BiquadDestroy(Biquad* f);
// Filters interleaved stereo frames; a state that decays below 1e-30 is flushed to 0.
void BiquadProcess(const double* in, double* out, int frames, Biquad* f);

// Whole interleaved 16-bit stereo frames.
void VoxcutProcess(Biquad* f, const short* x, short* y, int frames);

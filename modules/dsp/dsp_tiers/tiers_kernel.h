// Five-band compressor arithmetic: each channel is split into five bands by
// FIR filters (band_split.h), each band is compressed by its own detector
// (keyed by the full-band input), and the bands are summed through one makeup
// gain.
#pragma once
#include "band_split.h"
#include "dynamics_kernel.h"

enum { TiersBands = 5, TiersDelayLength = 2 * BandMaxOrder + 1 };

struct TiersBand {
    double taps[BandMaxTaps];
    double gain, threshold, invRatio;
    double envelope[DspMaxChannels];
    double attackCoef, releaseCoef;
    int holdSamples, holdCounter;
};

// Every band filters the same input with the same ring position, so one
// mirrored delay line per channel serves all five: delay[p + m][j] holds the
// sample of m frames ago. The band taps are kept folded around their centre
// (h[m] applies to d[m] + d[P - m]) and doubled for two-channel vectors.
struct TiersKernel {
    double makeupGain;
    TiersBand band[TiersBands];
    int order;  // P, the number of past samples each band convolves
    int ringPos;
    double delay[TiersDelayLength][DspMaxChannels];
    double folded[BandMaxOrder / 2 + 1][TiersBands][2];
};

// Designs the taps of bands first..last (0-based) with the current order from
// the four crossover frequencies (Hz) at the sample rate (one at or above the
// Nyquist frequency counts as 0.98 of it); nothing changes when a design fails.
bool TiersDesign(TiersKernel& k, const double crossoverHz[4], unsigned rate, int firstBand, int lastBand);
// A new order: every band designed again and the delay line cleared (its
// position kept). False, with the old order and taps kept, when a design fails.
bool TiersSetOrder(TiersKernel& k, int order, const double crossoverHz[4], unsigned rate);
// A band's value of a dynamics kind from Gain to Release (FullDynamics).
void TiersSetBand(TiersKernel& k, int band, int kind, double value, unsigned rate);
// Each band's envelopes started at its threshold x gain, its hold countdown full.
void TiersStart(TiersKernel& k, int channels);

// Whole interleaved 16-bit frames of 1..8 channels; tie[b] shares band b's
// envelope across the channels.
void TiersProcess(TiersKernel& k, const short* x, short* y, int frames, int channels, const bool tie[TiersBands]);

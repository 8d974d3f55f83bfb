// Linear-phase FIR band-pass design (window method, Hamming window) for the
// five-band compressor.
#pragma once

enum { BandMaxOrder = 64, BandMaxTaps = BandMaxOrder + 1 };

// w[i] = 0.54 - 0.46 cos(2 pi i / (n - 1)) with the constants in single precision.
// Returns a new array (DspAlloc; freed with DspFree), or NULL.
double* BuildHammingWindow(int n);

// Writes order + 1 coefficients of the band (f1, f2) (units of the Nyquist
// frequency) into taps. Returns false, leaving taps unchanged, when the window
// cannot be allocated or the order is outside 1..BandMaxOrder.
bool DesignBandPass(int order, double* taps, double f1, double f2);

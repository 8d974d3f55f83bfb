// Dithering and packing of the decoder's 28-bit fixed-point samples to PCM:
// noise-shaped, dithered quantisation with the state carried per channel from
// frame to frame. Plain C++ over libmad's types, no platform header.
#pragma once
#include <stdint.h>

#include <mad.h>

struct DitherState {
    int32_t error[3];   // the last quantisation errors
    uint32_t random;    // the last value of the noise generator
};

// One sample quantised to min(bits, 24) bits.
int32_t DitherSample(mad_fixed_t sample, DitherState* state, int bits);
// count samples of left (and right, when not NULL) dithered with dither[0]
// (dither[1]) and stored interleaved, little-endian, in bits / 8 bytes each
// (8: unsigned, 32: the 24-bit value shifted up a byte). Returns the bytes stored.
uint32_t PackPcm(unsigned char* dst, unsigned count, const mad_fixed_t* left, const mad_fixed_t* right, int bits,
                 DitherState* dither);

// One synthesised frame as 16-bit PCM of the stream's channel count (1 or 2),
// whatever the frame carries: a mono frame goes to both channels, a stereo
// frame of a mono stream is mixed down through mix (1152 values). dst holds
// 1152 x 2 x 2 bytes. Returns the bytes stored.
uint32_t PackFrame16(unsigned char* dst, const mad_pcm* pcm, int channels, DitherState dither[2], mad_fixed_t* mix);

#include "mpeg_pcm.h"

namespace {

// Noise-shaped, dithered quantisation of one 28-bit fixed-point sample to
// `bits` bits (at most 24).
inline int32_t Dither(mad_fixed_t sample, DitherState* state, int bits)
{
    sample += state->error[0] - state->error[1] + state->error[2];
    state->error[2] = state->error[1];
    state->error[1] = state->error[0] / 2;

    const int scalebits = 29 - bits;  // MAD_F_FRACBITS + 1 - bits
    const mad_fixed_t mask = (1L << scalebits) - 1;
    mad_fixed_t output = sample + (1L << (28 - bits));

    uint32_t random = state->random * 1664525u + 1013904223u;
    output += (mad_fixed_t)(random & mask) - (mad_fixed_t)(state->random & mask);
    state->random = random;

    const mad_fixed_t maxv = (1L << 28) - 1, minv = -(1L << 28);
    if (output > maxv) {
        output = maxv;
        if (sample > maxv) sample = maxv;
    } else if (output < minv) {
        output = minv;
        if (sample < minv) sample = minv;
    }
    output &= ~mask;
    state->error[0] = sample - output;
    return output >> scalebits;
}

// One channel, stored every `stride` bytes; the width is a constant so the
// compiler can keep the loop tight.
template <int Bits>
void PackChannel(unsigned char* p, int stride, unsigned count, const mad_fixed_t* in, DitherState* dither)
{
    const int bits = Bits > 24 ? 24 : Bits;
    DitherState d = *dither;
    for (unsigned i = 0; i < count; ++i, p += stride) {
        int32_t v = Dither(in[i], &d, bits);
        if (Bits == 8) {
            p[0] = (unsigned char)(v + 128);
        } else if (Bits == 16) {
            p[0] = (unsigned char)v;
            p[1] = (unsigned char)(v >> 8);
        } else if (Bits == 24) {
            p[0] = (unsigned char)v;
            p[1] = (unsigned char)(v >> 8);
            p[2] = (unsigned char)(v >> 16);
        } else {
            uint32_t w = (uint32_t)v << 8;
            p[0] = (unsigned char)w;
            p[1] = (unsigned char)(w >> 8);
            p[2] = (unsigned char)(w >> 16);
            p[3] = (unsigned char)(w >> 24);
        }
    }
    *dither = d;
}

template <int Bits>
uint32_t PackAll(unsigned char* dst, unsigned count, const mad_fixed_t* left, const mad_fixed_t* right,
                 DitherState* dither)
{
    const int bytes = Bits / 8;
    const int channels = right ? 2 : 1;
    PackChannel<Bits>(dst, bytes * channels, count, left, &dither[0]);
    if (right) PackChannel<Bits>(dst + bytes, bytes * 2, count, right, &dither[1]);
    return count * bytes * channels;
}

}  // namespace

int32_t DitherSample(mad_fixed_t sample, DitherState* state, int bits)
{
    return Dither(sample, state, bits > 24 ? 24 : bits);
}

uint32_t PackPcm(unsigned char* dst, unsigned count, const mad_fixed_t* left, const mad_fixed_t* right, int bits,
                 DitherState* dither)
{
    switch (bits) {
    case 8: return PackAll<8>(dst, count, left, right, dither);
    case 16: return PackAll<16>(dst, count, left, right, dither);
    case 24: return PackAll<24>(dst, count, left, right, dither);
    default: return PackAll<32>(dst, count, left, right, dither);
    }
}

uint32_t PackFrame16(unsigned char* dst, const mad_pcm* pcm, int channels, DitherState dither[2], mad_fixed_t* mix)
{
    unsigned count = pcm->length > 1152 ? 1152 : pcm->length;
    const mad_fixed_t* left = pcm->samples[0];
    const mad_fixed_t* right = nullptr;
    if (channels == 2) {
        right = pcm->channels == 2 ? pcm->samples[1] : pcm->samples[0];
    } else if (pcm->channels == 2) {
        for (unsigned i = 0; i < count; ++i) mix[i] = pcm->samples[0][i] / 2 + pcm->samples[1][i] / 2;
        left = mix;
    }
    return PackPcm(dst, count, left, right, 16, dither);
}

// Compares two decodes of one stream (16-bit interleaved PCM) that may start
// at different points: codecs differ in their start-up delay.
#pragma once
#include <stdint.h>
#include <vector>

namespace vqtest {

struct PcmMatch {
    long offset = 0;      // frames: got[i] lines up with reference[i + offset]
    size_t frames = 0;    // frames compared
    double snrDb = 0.0;   // reference energy over difference energy
};

// Finds the offset (within +-maxOffset frames) at which `got` best lines up
// with `reference`, then measures the signal-to-noise ratio over the frames
// both hold at that offset. With fitGain the reference is first scaled by the
// least-squares gain (for a chain that changes the level; the offset search
// wants the two at about the same level). A match of no frames has an SNR of 0.
PcmMatch MatchPcm(const std::vector<int16_t>& got, const std::vector<int16_t>& reference, int channels,
                  long maxOffset, bool fitGain = false);

// Bytes of 16-bit little-endian PCM as samples.
std::vector<int16_t> Samples16(const std::vector<unsigned char>& bytes);

}  // namespace vqtest

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "pcm_converter.h"

namespace {

StreamFormat Fmt(int ch, int rate, int bits)
{
    StreamFormat f{};
    f.formatTag = 1;
    f.channels = ch;
    f.sampleRate = rate;
    f.bitsPerSample = bits;
    f.blockAlign = ch * bits / 8;
    f.avgBytesPerSec = f.blockAlign * rate;
    return f;
}

std::vector<int16_t> Sine(size_t frames, int ch, double freq, double rate)
{
    std::vector<int16_t> v(frames * ch);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < ch; ++c) v[i * ch + c] = (int16_t)(12000 * sin(2 * M_PI * freq * i / rate + c));
    return v;
}

// Converts src in blocks of the given byte sizes (cycled) and concatenates.
std::vector<int16_t> ConvertInBlocks(const std::vector<int16_t>& src, const StreamFormat& in, const StreamFormat& out,
                                     const std::vector<uint32_t>& sizes)
{
    ConverterState st{};
    std::vector<int16_t> result;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(src.data());
    uint32_t left = (uint32_t)(src.size() * 2);
    size_t i = 0;
    while (left) {
        uint32_t n = sizes[i++ % sizes.size()];
        if (n > left) n = left;
        int32_t cap = PcmConverter_BufferSize(n, &in, &out, 1);
        std::vector<int16_t> dst(cap / 2 + 1);
        int32_t got = PcmConverter_Convert(p, dst.data(), n, &in, &out, &st, (uint32_t)cap);
        EXPECT_LE(got, cap);
        result.insert(result.end(), dst.begin(), dst.begin() + got / 2);
        p += n;
        left -= n;
    }
    return result;
}

TEST(PcmConverter, BufferSizes)
{
    StreamFormat a = Fmt(2, 44100, 16), b = Fmt(2, 22050, 16);
    EXPECT_EQ(PcmConverter_BufferSize(4608, &a, &b, 1), 2308);
    // Input needed for 100 ms of 22050 Hz output: 4410 frames of 44100 Hz.
    EXPECT_EQ(PcmConverter_BufferSize(8820, &a, &b, 0) , 17640);
    StreamFormat m8 = Fmt(1, 44100, 8);
    EXPECT_EQ(PcmConverter_BufferSize(100, &a, &m8, 0), 400);
}

TEST(PcmConverter, WidthAndChannelTable)
{
    StreamFormat s16 = Fmt(2, 8000, 16), m16 = Fmt(1, 8000, 16), s8 = Fmt(2, 8000, 8), m8 = Fmt(1, 8000, 8);
    ConverterState st{};
    // 8-bit silence becomes 16-bit 0 and back.
    unsigned char silence8[4] = {128, 128, 128, 128};
    int16_t out16[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    ASSERT_EQ(PcmConverter_Convert(silence8, out16, 4, &m8, &s16, &st), 16);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out16[i], 0);
    int16_t zero16[2] = {0, 0};
    unsigned char out8[2] = {0, 0};
    ASSERT_EQ(PcmConverter_Convert(zero16, out8, 4, &s16, &m8, &st), 1);
    EXPECT_EQ(out8[0], 128);
    // Stereo to mono: each half truncated toward zero.
    int16_t st16[4] = {-3, -3, 32767, 32767};
    int16_t mono[2];
    ASSERT_EQ(PcmConverter_Convert(st16, mono, 8, &s16, &m16, &st), 4);
    EXPECT_EQ(mono[0], -2);  // -1 + -1
    EXPECT_EQ(mono[1], 32766);
    // 8-bit widening and 16-bit narrowing.
    unsigned char u[2] = {0, 255};
    int16_t w[2];
    ASSERT_EQ(PcmConverter_Convert(u, w, 2, &s8, &s16, &st), 4);
    EXPECT_EQ(w[0], -32768);
    EXPECT_EQ(w[1], 32512);
    int16_t n16[2] = {-32768, 0x7F00};
    unsigned char n8[2];
    ASSERT_EQ(PcmConverter_Convert(n16, n8, 4, &s16, &s8, &st), 2);
    EXPECT_EQ(n8[0], 0);
    EXPECT_EQ(n8[1], 255);
    // The output never exceeds the capacity given.
    int16_t mono4[4] = {1, 2, 3, 4};
    int16_t big[8] = {};
    EXPECT_EQ(PcmConverter_Convert(mono4, big, 8, &m16, &s16, &st, 6), 4);
    EXPECT_EQ(big[2], 0);
    StreamFormat s24 = Fmt(2, 8000, 24);
    EXPECT_FALSE(PcmConverter_Supports(&s16, &s24));
}

TEST(PcmConverter, UpsamplingAcrossBlocksHasNoGap)
{
    StreamFormat in = Fmt(1, 22050, 16);
    int16_t a[4] = {0, 100, 200, 300}, b[2] = {400, 500};
    ConverterState st{};
    int16_t o1[16] = {}, o2[16] = {};
    int32_t n1 = PcmConverter_Resample(a, o1, 8, &in, 0.5, &st);
    int32_t n2 = PcmConverter_Resample(b, o2, 4, &in, 0.5, &st);
    std::vector<int16_t> all(o1, o1 + n1 / 2);
    all.insert(all.end(), o2, o2 + n2 / 2);
    // Positions 0, 0.5, 1, ... 5: every half step exactly once.
    ASSERT_EQ(all.size(), 11u);
    for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], (int16_t)(50 * i)) << i;
    // A block of no whole frame changes nothing.
    ConverterState before = st;
    EXPECT_EQ(PcmConverter_Resample(b, o2, 1, &in, 0.5, &st), 0);
    EXPECT_EQ(memcmp(&before, &st, sizeof st), 0);
}

TEST(PcmConverter, DownsamplingDoesNotDriftOrDependOnBlocks)
{
    const StreamFormat in = Fmt(2, 48000, 16), out = Fmt(2, 44100, 16);
    const size_t frames = 48000 * 3;
    auto src = Sine(frames, 2, 441.0, 48000);
    auto whole = ConvertInBlocks(src, in, out, {(uint32_t)(frames * 4)});
    std::mt19937 rng(5);
    std::vector<uint32_t> sizes;
    for (int i = 0; i < 50; ++i) sizes.push_back((rng() % 3000) * 4 + (i % 7 == 0 ? 0 : 4));
    sizes.push_back(4);
    auto split = ConvertInBlocks(src, in, out, sizes);
    EXPECT_EQ(split, whole);
    // Output k lies at input position k x 48000/44100: floor((F-1) x 44100/48000) + 1 frames.
    // (64-bit: the product does not fit the 32-bit size_t of this target.)
    EXPECT_EQ(whole.size() / 2, (size_t)((uint64_t)(frames - 1) * 44100 / 48000) + 1);
    // No drift: the last output frames still match the sine at their own time.
    double maxErr = 0;
    for (size_t k = whole.size() / 2 - 2000; k < whole.size() / 2; ++k) {
        double expect = 12000 * sin(2 * M_PI * 441.0 * k / 44100.0);
        maxErr = std::max(maxErr, std::fabs(whole[2 * k] - expect));
    }
    EXPECT_LT(maxErr, 40.0);
}

}  // namespace

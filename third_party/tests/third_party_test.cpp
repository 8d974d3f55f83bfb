// The two cross-built libraries link and work: libmad decodes a lame-made MP3,
// id3lib reads the ID3v2 tag the id3v2 tool wrote, and our patches to id3lib
// hold on the tag shapes it used to fail on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <id3/misc_support.h>
#include <id3/tag.h>
#include <mad.h>

#include "test_support.h"

// Every allocation of this program, id3lib's included (it is linked in
// statically), comes through here; the largest request since the last reset.
static size_t g_largestRequest = 0;
static void* Allocate(size_t n)
{
    if (n > g_largestRequest) g_largestRequest = n;
    void* p = malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return n > 0x7FFFFFFF ? nullptr : malloc(n ? n : 1); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return operator new(n, std::nothrow); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

namespace {

std::string TonePath() { return vqtest::TestDataDir() + "\\third_party\\tone.mp3"; }

TEST(Libmad, DecodesToneFrames)
{
    std::vector<unsigned char> file;
    ASSERT_TRUE(vqtest::ReadFile(TonePath(), file));
    ASSERT_GT(file.size(), 10u);
    size_t start = 0;
    if (memcmp(file.data(), "ID3", 3) == 0)
        start = 10 + ((file[6] << 21) | (file[7] << 14) | (file[8] << 7) | file[9]);
    file.insert(file.end(), MAD_BUFFER_GUARD, 0);

    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_buffer(&stream, file.data() + start, file.size() - start);

    int frames = 0;
    mad_fixed_t peak = 0;
    int crossings = 0;
    long samples = 0;
    mad_fixed_t prev = 0;
    while (true) {
        if (mad_frame_decode(&frame, &stream) != 0) {
            if (MAD_RECOVERABLE(stream.error)) continue;
            break;
        }
        EXPECT_EQ(frame.header.samplerate, 44100u);
        EXPECT_EQ(frame.header.layer, MAD_LAYER_III);
        mad_synth_frame(&synth, &frame);
        ASSERT_EQ(synth.pcm.channels, 2);
        ++frames;
        if (frames < 3) continue;  // skip the encoder's start-up
        for (unsigned i = 0; i < synth.pcm.length; ++i) {
            mad_fixed_t s = synth.pcm.samples[0][i];
            if (std::abs(s) > peak) peak = std::abs(s);
            if ((prev < 0) != (s < 0)) ++crossings;
            prev = s;
            ++samples;
        }
    }
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);

    // One second at 44.1 kHz is about 38 frames of 1152 samples (plus the
    // encoder's padding frames, and a Xing/LAME info frame that decodes as silence).
    EXPECT_GE(frames, 38);
    EXPECT_LE(frames, 42);
    double peakLevel = double(peak) / MAD_F_ONE;
    EXPECT_NEAR(peakLevel, 0.5, 0.05);
    // 1 kHz: two zero crossings per millisecond.
    double seconds = double(samples) / 44100.0;
    EXPECT_NEAR(crossings / seconds, 2000.0, 60.0);
}

TEST(Id3lib, ReadsTagWrittenByTool)
{
    ID3_Tag tag;
    tag.Link(TonePath().c_str());
    ASSERT_TRUE(tag.HasV2Tag());
    char* artist = ID3_GetArtist(&tag);
    char* title = ID3_GetTitle(&tag);
    char* album = ID3_GetAlbum(&tag);
    char* year = ID3_GetYear(&tag);
    ASSERT_NE(artist, nullptr);
    ASSERT_NE(title, nullptr);
    ASSERT_NE(album, nullptr);
    EXPECT_STREQ(artist, "Test Artist");
    EXPECT_STREQ(title, "Tone Title");
    EXPECT_STREQ(album, "Some Album");
    if (year) {
        EXPECT_STREQ(year, "2004");
    }
    EXPECT_EQ(ID3_GetTrackNum(&tag), 7u);
    EXPECT_EQ(ID3_GetGenreNum(&tag), 17u);
    ID3_FreeString(artist);
    ID3_FreeString(title);
    ID3_FreeString(album);
    if (year) ID3_FreeString(year);
}

std::string Shape(const char* name) { return vqtest::TestDataDir() + "\\third_party\\id3\\" + name + ".mp3"; }

struct ShapeTags {
    bool threw = false;
    std::string title, album;
};

ShapeTags ReadShape(const char* name)
{
    ShapeTags r;
    auto take = [](char* s, std::string* to) {
        if (s) *to = s, ID3_FreeString(s);
    };
    try {
        ID3_Tag tag;
        tag.Link(Shape(name).c_str());
        take(ID3_GetTitle(&tag), &r.title);
        take(ID3_GetAlbum(&tag), &r.album);
    } catch (...) {
        r.threw = true;
    }
    return r;
}

// A compressed frame's expanded size is not believed beyond what its bytes
// can inflate to: no exception, no allocation near the claimed size, the
// frame dropped and the frames after it read.
TEST(Id3lib, CompressedFrameSizesAreBounded)
{
    for (const char* name : {"comp_40000032", "comp_fffffffe", "comp_ffffffff", "comp_sizeonly", "comp_empty"}) {
        g_largestRequest = 0;
        ShapeTags t = ReadShape(name);
        EXPECT_FALSE(t.threw) << name;
        EXPECT_LT(g_largestRequest, 64u * 1024) << name;  // the whole file is 17 KB
        EXPECT_EQ(t.title, "Plain title") << name;
        EXPECT_EQ(t.album, "") << name;
    }
    ShapeTags good = ReadShape("comp_good");
    EXPECT_EQ(good.album, "Packed album");
    EXPECT_EQ(good.title, "Plain title");
}

// The ID3v2.2.1 compressed meta frame ("CDM") has one field, binary data.
TEST(Id3lib, CdmFrameHasOneField)
{
    ID3_Frame cdm(ID3FID_METACOMPRESSION);
    EXPECT_EQ(cdm.NumFields(), 1u);
    EXPECT_NE(cdm.GetField(ID3FN_DATA), nullptr);
}

}  // namespace

// The two cross-built libraries link and work: libmad decodes a lame-made MP3,
// id3lib reads the ID3v2 tag the id3v2 tool wrote.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include <id3/misc_support.h>
#include <id3/tag.h>
#include <mad.h>

#include "test_support.h"

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

}  // namespace

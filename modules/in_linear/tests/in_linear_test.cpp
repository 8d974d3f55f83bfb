// The WAV input module against files made by sox, ffmpeg and python: Read
// delivers exactly the data chunk's bytes, bad files fail cleanly.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "input_module_harness.h"
#include "test_support.h"

namespace {

InputModuleHarness g_h;

class WavTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(g_h.Load("in_linear.dll", "inlinear")); }
    static void TearDownTestSuite() { g_h.Unload(); }
    IVqProModule* m() { return g_h.mod(); }
};

std::string Data(const std::string& name) { return vqtest::TestDataDir() + "\\in_linear\\" + name; }

TEST_F(WavTest, RecordAndFileTest)
{
    EXPECT_EQ(m()->h.Id, 1);
    EXPECT_STREQ(m()->h.InternalName, "PylSoftWAVInputModule");
    EXPECT_EQ(m()->h.Version, VQ_VERSION(1, 0, 0, 73));
    EXPECT_NE(m()->h.hIcon, nullptr);
    EXPECT_STREQ(m()->input.FilterList, "Windows Waveform files (*.wav)");
    EXPECT_EQ(m()->input.IsOurFile("x\\A.WAV"), 1);
    EXPECT_EQ(m()->input.IsOurFile("x\\a.wave"), 0);
    EXPECT_EQ(m()->input.IsOurFile("x\\wav"), 0);
    SettingRecord r;
    EXPECT_EQ(m()->h.GetSetting(&r, 0, nullptr, nullptr), -1);
    EXPECT_EQ(m()->h.QuerySetting(&r, 0, nullptr), 0);
    EXPECT_EQ(m()->input.SetTagEx(nullptr), 0);
    EXPECT_EQ(m()->input.Read(nullptr, 4, nullptr), -1);
    EXPECT_EQ(m()->input.SetTime(0, nullptr), -1);
    EXPECT_EQ(m()->input.GetTime(0, nullptr), -1.0);
    EXPECT_EQ(m()->input.GetPcmFormat(nullptr, nullptr), -1);
    EXPECT_EQ(m()->input.Open(nullptr, nullptr), nullptr);
}

class WavFileTest : public WavTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(WavFileTest, DeliversExactlyTheDataChunk)
{
    std::string name = GetParam();
    std::vector<unsigned char> expect;
    ASSERT_TRUE(vqtest::ReadFile(Data(name + ".data"), expect));
    int tag, ch, rate, avg, align, bits;
    ASSERT_EQ(sscanf(vqtest::ReadText(Data(name + ".fmt")).c_str(), "%d %d %d %d %d %d", &tag, &ch, &rate, &avg,
                     &align, &bits), 6);
    void* h = m()->input.Open(Data(name + ".wav").c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    StreamFormat f{};
    ASSERT_EQ(m()->input.GetPcmFormat(&f, h), 1);
    EXPECT_EQ(f.formatTag, tag);
    EXPECT_EQ(f.channels, ch);
    EXPECT_EQ(f.sampleRate, rate);
    EXPECT_EQ(f.avgBytesPerSec, avg);
    EXPECT_EQ(f.blockAlign, align);
    EXPECT_EQ(f.bitsPerSample, bits);
    EXPECT_EQ(m()->input.GetTime(0, h), 0.0);
    EXPECT_DOUBLE_EQ(m()->input.GetTime(1, h), (double)expect.size() / avg);
    bool whole = false;
    auto got = g_h.ReadAll(h, f.avgBytesPerSec / 10, f.blockAlign, &whole);
    EXPECT_TRUE(whole);
    EXPECT_EQ(got.size(), expect.size());
    EXPECT_TRUE(got == expect);
    EXPECT_LT(m()->input.Read((char*)got.data(), 100, h), 1);
    // Back to the start: the first data bytes, not the header.
    ASSERT_EQ(m()->input.SetTime(0, h), 1);
    std::vector<char> first(f.blockAlign * 8);
    ASSERT_EQ(m()->input.Read(first.data(), (int)first.size(), h), (int)first.size());
    EXPECT_EQ(memcmp(first.data(), expect.data(), first.size()), 0);
    EXPECT_EQ(m()->input.Close(h), 1);
}

INSTANTIATE_TEST_SUITE_P(Files, WavFileTest,
                         ::testing::Values("u8", "s16", "s24", "f32", "s32", "r11k", "ext6", "list", "trailer",
                                           "clamp", "badrate"));

TEST_F(WavTest, SeekingStaysInsideTheData)
{
    std::vector<unsigned char> expect;
    ASSERT_TRUE(vqtest::ReadFile(Data("s16.data"), expect));
    void* h = m()->input.Open(Data("s16.wav").c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(m()->input.SetTime(1.00001, h), 1);
    EXPECT_DOUBLE_EQ(m()->input.GetTime(0, h), 1.0);
    std::vector<char> buf(400);
    ASSERT_EQ(m()->input.Read(buf.data(), 400, h), 400);
    EXPECT_EQ(memcmp(buf.data(), expect.data() + 176400, 400), 0);
    ASSERT_EQ(m()->input.SetTime(-3, h), 1);
    EXPECT_EQ(m()->input.GetTime(0, h), 0.0);
    ASSERT_EQ(m()->input.SetTime(1e9, h), 1);
    EXPECT_DOUBLE_EQ(m()->input.GetTime(1, h), 0.0);
    EXPECT_LT(m()->input.Read(buf.data(), 400, h), 1);
    // A read smaller than one frame delivers nothing rather than half a frame.
    ASSERT_EQ(m()->input.SetTime(0, h), 1);
    EXPECT_EQ(m()->input.Read(buf.data(), 3, h), 0);
    EXPECT_EQ(m()->input.Read(buf.data(), 7, h), 4);
    m()->input.Close(h);
}

TEST_F(WavTest, TrackInformation)
{
    TrackInfo info{};
    std::string path = Data("s16.wav");
    strcpy(info.path, path.c_str());
    ASSERT_EQ(m()->input.GetTagEx(&info), 1);
    EXPECT_EQ(info.duration, 10.0);  // 10.9 s, whole seconds
    EXPECT_EQ(info.bitrate, 44100 * 16);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.bits, 16);
    EXPECT_STREQ(info.format, "WAV");
    EXPECT_EQ(info.title, path.substr(0, 127));
    EXPECT_STREQ(info.author, "<Not Set>");
    EXPECT_STREQ(info.genre, "<Not Set>");
    EXPECT_EQ(info.repeatEvery, -1);
    std::vector<unsigned char> data;
    vqtest::ReadFile(Data("s16.data"), data);
    EXPECT_EQ(info.size, data.size());
    EXPECT_GE(info.fileTime.year, 2020);
}

TEST_F(WavTest, ConvertsWithoutLosingFrames)
{
    // 22050 Hz mono 8-bit to 44100 Hz stereo 16-bit, read in awkward sizes.
    std::vector<unsigned char> src;
    ASSERT_TRUE(vqtest::ReadFile(Data("u8.data"), src));
    StreamFormat want{1, 2, 44100, 176400, 4, 16};
    void* h = m()->input.Open(Data("u8.wav").c_str(), &want);
    ASSERT_NE(h, nullptr);
    std::vector<int16_t> out;
    std::vector<char> buf(4000);
    int sizes[] = {4000, 12, 404, 1000, 4};
    for (int i = 0;; ++i) {
        int n = m()->input.Read(buf.data(), sizes[i % 5], h);
        if (n < 1) break;
        EXPECT_EQ(n % 4, 0);
        out.insert(out.end(), (int16_t*)buf.data(), (int16_t*)(buf.data() + n));
    }
    m()->input.Close(h);
    // Output k lies at input position k/2: 2(F-1)+1 frames.
    ASSERT_EQ(out.size() / 2, 2 * (src.size() - 1) + 1);
    for (size_t k = 0; k < src.size(); ++k) {
        int16_t v = (int16_t)((src[k] << 8) ^ 0x8000);
        ASSERT_EQ(out[4 * k], v) << k;
        ASSERT_EQ(out[4 * k + 1], v) << k;
    }
    // Float data cannot be converted: refused at Open.
    EXPECT_EQ(m()->input.Open(Data("f32.wav").c_str(), &want), nullptr);
}

TEST_F(WavTest, BadFilesFailCleanly)
{
    const char* bad[] = {"empty.wav", "header_only.wav", "short_fmt.wav", "no_data.wav", "no_fmt.wav",
                         "huge_chunk.wav", "zero_channels.wav", "zero_rate.wav", "zero_align.wav", "adpcm.wav",
                         "ext_unknown.wav", "empty_data.wav", "not_riff.wav", "jpeg.wav", "mp3.wav", "missing.wav",
                         "bad_align.wav", "float16.wav"};
    std::string dir = vqtest::MakeTempDir("inlinear_bad");
    for (const char* name : bad) {
        std::string path = dir + "\\" + name;
        CopyFileA((vqtest::TestDataDir() + "\\in_linear\\bad\\" + name).c_str(), path.c_str(), FALSE);
        std::string before = g_h.LogText();
        DWORD t0 = GetTickCount();
        EXPECT_EQ(m()->input.Open(path.c_str(), nullptr), nullptr) << name;
        TrackInfo info{};
        strcpy(info.path, path.c_str());
        EXPECT_EQ(m()->input.GetTagEx(&info), 0) << name;
        EXPECT_LT(GetTickCount() - t0, 2000u) << name;
        // Failures show in the results only: a log line would be a message box
        // per file when no log file is set.
        EXPECT_EQ(g_h.LogText(), before) << name << ": the module wrote a log line";
        if (strcmp(name, "missing.wav") != 0) {
            EXPECT_TRUE(DeleteFileA(path.c_str())) << name;
        }
    }
    vqtest::RemoveTree(dir);
}

}  // namespace

// The real module over the system's Windows Media runtime (Wine's reader,
// decoding through GStreamer): an ffmpeg-made WMA decodes to what ffmpeg's
// own decoder makes of it, and its tags come through our own header reader.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "input_module_harness.h"
#include "pcm_compare.h"
#include "test_support.h"
#include "vq_module.h"

namespace {

InputModuleHarness g_h;

std::string Data(const std::string& name) { return vqtest::TestDataDir() + "\\in_velvet\\" + name; }

class RealWma : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(g_h.Load("in_velvet.dll", "velvetreal")); }
    static void TearDownTestSuite() { g_h.Unload(); }
    IVqProModule* m() { return g_h.mod(); }

    TrackInfo TagsOf(const std::string& path, int* result)
    {
        TrackInfo t;
        memset(&t, 0, sizeof t);
        lstrcpynA(t.path, path.c_str(), 255);
        *result = m()->input.GetTagEx(&t);
        return t;
    }
};

std::vector<int16_t> Reference(const char* name)
{
    std::vector<unsigned char> raw;
    EXPECT_TRUE(vqtest::ReadFile(Data(name), raw));
    return vqtest::Samples16(raw);
}

// Also what builds GStreamer's plugin cache before the other tests run.
TEST_F(RealWma, OpensAndCloses)
{
    void* h = m()->input.Open(Data("tagged.wma").c_str(), nullptr);
    ASSERT_NE(h, nullptr) << g_h.LogText();
    EXPECT_EQ(m()->input.Close(h), 1);
}

TEST_F(RealWma, DecodeMatchesFfmpegAndCarriesTags)
{
    std::string path = Data("tagged.wma");
    void* h = m()->input.Open(path.c_str(), nullptr);
    ASSERT_NE(h, nullptr) << g_h.LogText();
    StreamFormat f{};
    f.formatTag = 77;
    ASSERT_EQ(m()->input.GetPcmFormat(&f, h), 1);
    EXPECT_EQ(f.formatTag, 77);  // left as the caller had it
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.sampleRate, 44100);
    EXPECT_EQ(f.bitsPerSample, 16);
    EXPECT_EQ(f.blockAlign, 4);
    EXPECT_EQ(f.avgBytesPerSec, 176400);
    double stated = atof(vqtest::ReadText(Data("tagged.duration")).c_str());
    EXPECT_NEAR(m()->input.GetTime(2, h), stated, 0.001);

    // The stream's tags: Wine's reader has none, so they come from the file's header.
    TrackInfo t;
    memset(&t, 0, sizeof t);
    ASSERT_EQ(m()->input.GetTag(&t, h), 1);
    EXPECT_STREQ(t.title, "Sweep Title");
    EXPECT_STREQ(t.author, "Sweep Artist");
    EXPECT_EQ(t.bitrate, 128000);
    EXPECT_EQ(t.sampleRate, 44100);
    EXPECT_EQ(t.channels, 2);
    EXPECT_EQ(t.bits, 16);

    bool whole = false;
    std::vector<unsigned char> pcm = g_h.ReadAll(h, f.avgBytesPerSec / 10, f.blockAlign, &whole);
    EXPECT_TRUE(whole);
    EXPECT_EQ(m()->input.Read(reinterpret_cast<char*>(pcm.data()), 4, h), -1);  // stays at the end
    EXPECT_NEAR(m()->input.GetTime(0, h), pcm.size() / 176400.0, 1e-6);
    EXPECT_EQ(m()->input.Close(h), 1);

    // Wine stops at the stated duration and starts after the codec's delay.
    EXPECT_NEAR(pcm.size() / 176400.0, stated, 0.15);
    vqtest::PcmMatch match = vqtest::MatchPcm(vqtest::Samples16(pcm), Reference("tagged.raw"), 2, 8192);
    EXPECT_GE(match.snrDb, 40.0) << "offset " << match.offset;
    printf("decode against ffmpeg's: %.1f dB over %u frames at offset %ld\n", match.snrDb, (unsigned)match.frames,
           match.offset);
    EXPECT_GT(match.frames, 44100u * 2);
}

// Its index sends the reader 3 s ahead, so its first sample comes that late.
TEST_F(RealWma, FileWhoseFirstSampleIsLateConvertsFromIt)
{
    void* h = m()->input.Open(Data("late.wma").c_str(), nullptr);
    ASSERT_NE(h, nullptr) << g_h.LogText();
    double duration = m()->input.GetTime(2, h);
    DWORD t0 = GetTickCount();
    std::vector<unsigned char> pcm = g_h.ReadAll(h, 17640, 4);
    DWORD took = GetTickCount() - t0;
    EXPECT_EQ(m()->input.Close(h), 1);
    EXPECT_LT(took, 10000u);
    // From its first sample to the end, as ffmpeg decodes it (the decoder
    // starts afresh there: its first block is left out of the comparison).
    double start = atof(vqtest::ReadText(Data("late.start")).c_str());
    ASSERT_GT(start, 3.0);
    EXPECT_NEAR(pcm.size() / 176400.0, duration - start, 0.15);
    std::vector<int16_t> got = vqtest::Samples16(pcm);
    ASSERT_GT(got.size(), 4096u * 2 * 4);
    got.erase(got.begin(), got.begin() + 4096 * 2);
    long at = (long)(start * 44100) + 4096;
    vqtest::PcmMatch match = vqtest::MatchPcm(got, Reference("late.raw"), 2, at + 8192);
    EXPECT_GE(match.snrDb, 40.0);
    EXPECT_NEAR(match.offset, at, 8192);
}

TEST_F(RealWma, SeekDeliversFromTheNewPosition)
{
    void* h = m()->input.Open(Data("tagged.wma").c_str(), nullptr);
    ASSERT_NE(h, nullptr) << g_h.LogText();
    std::vector<char> buf(17640);
    ASSERT_GT(m()->input.Read(buf.data(), (int)buf.size(), h), 0);
    ASSERT_EQ(m()->input.SetTime(1.5, h), 1);
    EXPECT_DOUBLE_EQ(m()->input.GetTime(0, h), 1.5);
    std::vector<unsigned char> pcm = g_h.ReadAll(h, 17640, 4);
    EXPECT_EQ(m()->input.Close(h), 1);
    // What follows 1.5 s of ffmpeg's decode, give or take the codec's delay.
    std::vector<int16_t> ref = Reference("tagged.raw");
    EXPECT_NEAR(pcm.size() / 176400.0, ref.size() / 2 / 44100.0 - 1.5, 0.15);
    // The decoder starts afresh at the seek: its first block lacks the overlap
    // of the one before and differs from a continuous decode.
    std::vector<int16_t> got = vqtest::Samples16(pcm);
    ASSERT_GT(got.size(), 4096u * 2 * 4);
    got.erase(got.begin(), got.begin() + 4096 * 2);
    vqtest::PcmMatch match = vqtest::MatchPcm(got, ref, 2, 66150 + 8192);
    EXPECT_GE(match.snrDb, 40.0);
    EXPECT_NEAR(match.offset, 66150 + 4096, 8192);
}

// A file cut while it is read (from outside: the module lets no one write to
// it meanwhile): what was decoded is handed over, and the stream ends on an
// error.
TEST_F(RealWma, FileCutWhileReadEndsOnAnError)
{
    typedef char*(__cdecl * UnixName)(const WCHAR*);
    auto unixName = reinterpret_cast<UnixName>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    ASSERT_NE(unixName, nullptr);
    std::string dir = vqtest::MakeTempDir("velvetcut"), path = dir + "\\six.wma";
    ASSERT_TRUE(CopyFileA(Data("reader\\six.wma").c_str(), path.c_str(), FALSE));
    void* h = m()->input.Open(path.c_str(), nullptr);
    ASSERT_NE(h, nullptr) << g_h.LogText();
    std::vector<char> buf(17640);
    int n = m()->input.Read(buf.data(), (int)buf.size(), h);
    ASSERT_GT(n, 0);
    std::wstring wide(path.begin(), path.end());
    std::string cmd = std::string("Z:\\usr\\bin\\truncate -s 20000 ") + unixName(wide.c_str());
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) << cmd;
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    size_t got = n;
    while ((n = m()->input.Read(buf.data(), (int)buf.size(), h)) > 0) got += n;
    EXPECT_EQ(n, VQ_READ_ERROR);
    EXPECT_LT(got / 176400.0, 5.0);
    EXPECT_NE(g_h.LogText().find("the file could not be read to its end, the stream of " + path + " ends here"),
              std::string::npos)
        << g_h.LogText();
    EXPECT_EQ(m()->input.Close(h), 1);
    vqtest::RemoveTree(dir);
}

TEST_F(RealWma, TagsOfFilesComeFromOurHeaderReader)
{
    int r = 0;
    TrackInfo t = TagsOf(Data("tagged.wma"), &r);
    ASSERT_EQ(r, 1) << g_h.LogText();
    EXPECT_STREQ(t.title, "Sweep Title");
    EXPECT_STREQ(t.author, "Sweep Artist");
    EXPECT_STREQ(t.album, "Sweep Album");
    EXPECT_STREQ(t.genre, "Test Genre");
    EXPECT_STREQ(t.year, "2004");
    EXPECT_STREQ(t.description, "A comment");
    EXPECT_STREQ(t.copyright, "(c) Nobody");
    EXPECT_STREQ(t.url, "http://example.org/x");
    EXPECT_STREQ(t.rating, "<Not Set>");
    EXPECT_STREQ(t.format, "wma");
    EXPECT_EQ(t.track, 4);
    EXPECT_EQ(t.playCount, 7);
    EXPECT_EQ(t.bitrate, 128000);
    EXPECT_NEAR(t.duration, atof(vqtest::ReadText(Data("tagged.duration")).c_str()), 0.001);
    EXPECT_EQ(t.mixLevel, (double)0.1f);
    EXPECT_EQ(t.bpm, 128.456);
    EXPECT_EQ(t.curveEndCurve, 2.5);  // written with a decimal comma
    EXPECT_EQ(t.curveBegCurve, 1.0);
    EXPECT_EQ(t.albumRepeatAfter, -1);
    EXPECT_EQ(t.sampleRate, 0);  // no stream is open
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(vqtest::ReadFile(Data("tagged.wma"), bytes));
    EXPECT_EQ(t.size, bytes.size());
    EXPECT_GE(t.fileTime.year, 2020);

    t = TagsOf(Data("Artist - Song.wma"), &r);
    ASSERT_EQ(r, 1);
    EXPECT_STREQ(t.title, "Artist - Song");
    EXPECT_STREQ(t.author, "<Not Set>");
    EXPECT_STREQ(t.year, "");
    EXPECT_EQ(t.bitrate, 64000);

    t = TagsOf(Data("oddtitle.wma"), &r);
    ASSERT_EQ(r, 1);
    std::string odd = vqtest::ReadText(Data("oddtitle.expect"));
    EXPECT_EQ(std::string(t.title) + "\n", odd);
    EXPECT_STREQ(t.author, "Odd Author");
}

TEST_F(RealWma, DamagedHeadersFailCleanly)
{
    for (const char* name : {"empty.wma", "truncated.wma", "size0.wma", "pastend.wma", "header_past_file.wma",
                             "renamed.wma"}) {
        int r = -5;
        std::string path = Data(std::string("bad\\") + name);
        TagsOf(path, &r);
        EXPECT_EQ(r, 0) << name;
        EXPECT_NE(g_h.LogText().find("[PylSoftWMAInputModule::GetTagEx(698)] Open(): Failed to open the file " + path),
                  std::string::npos)
            << name;
        // Wine's reader can hang on a damaged header: such a file never reaches it.
        EXPECT_EQ(m()->input.Open(path.c_str(), nullptr), nullptr) << name;
        EXPECT_NE(g_h.LogText().find("[PylSoftWMAInputModule::Open(407)] Open(): Failed to open the file " + path),
                  std::string::npos)
            << name;
    }
    int r = -5;
    TagsOf(Data("missing.wma"), &r);
    EXPECT_EQ(r, 0);
}

TEST_F(RealWma, TagObjectWithBadContentsGivesNoTagsAndTheFilePlays)
{
    struct Case {
        const char* name;
        const char* title;
        const char* album;
    };
    // The content description's title fits, but it comes from the extended
    // content, as the album does.
    for (const Case& c :
         {Case{"badcontent", "Sweep Title", "Sweep Album"}, Case{"badextended", "Sweep Title", "<Not Set>"}}) {
        std::string path = Data(std::string(c.name) + ".wma");
        int r = 0;
        TrackInfo t = TagsOf(path, &r);
        ASSERT_EQ(r, 1) << c.name << g_h.LogText();
        EXPECT_STREQ(t.title, c.title);
        EXPECT_STREQ(t.album, c.album);
        EXPECT_EQ(t.bitrate, 128000);
        void* h = m()->input.Open(path.c_str(), nullptr);
        ASSERT_NE(h, nullptr) << c.name;
        double stated = m()->input.GetTime(2, h);
        std::vector<unsigned char> pcm = g_h.ReadAll(h, 17640, 4);
        EXPECT_EQ(m()->input.Close(h), 1);
        EXPECT_NEAR(pcm.size() / 176400.0, stated, 0.15) << c.name;
    }
}

// Damage after the header is refused before the platform's reader sees the
// file (which abort the process or hang it there): the tags of the header
// still list the file, Open fails with its log lines, and the next file plays.
void ExpectRefusedAfterTags(IVqProModule* m, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        std::string path = Data(std::string("bad\\") + name);
        TrackInfo t;
        memset(&t, 0, sizeof t);
        lstrcpynA(t.path, path.c_str(), 255);
        EXPECT_EQ(m->input.GetTagEx(&t), 1) << name;
        EXPECT_STREQ(t.title, "Sweep Title") << name;
        std::string before = g_h.LogText();
        EXPECT_EQ(m->input.Open(path.c_str(), nullptr), nullptr) << name;
        std::string added = g_h.LogText().substr(before.size());
        EXPECT_NE(added.find("[PylSoftWMAInputModule::CWmaFlt::Open(267)] CWmaFlt::Open(): failed to open(hr=0x8007000b)"),
                  std::string::npos)
            << name;
        EXPECT_NE(added.find("[PylSoftWMAInputModule::Open(407)] Open(): Failed to open the file " + path),
                  std::string::npos)
            << name;
    }
    void* h = m->input.Open(Data("tagged.wma").c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    bool whole = false;
    EXPECT_GT(g_h.ReadAll(h, 17640, 4, &whole).size(), 176400u * 2);
    EXPECT_EQ(m->input.Close(h), 1);
}

// The reader allocates entry count x 8 bytes for a simple index (after the
// data or inside the header) and the stated size of a media object: GLib
// aborts the process when that fails.
TEST_F(RealWma, DamageThatAbortsTheReaderIsRefused)
{
    ExpectRefusedAfterTags(m(), {"index_7fffffff.wma", "index_ffffffff.wma", "index_in_header.wma", "object_2g.wma"});
}

// The reader's Open never returns for the first two; for the third it never
// reports the end of the stream, and then its Close never returns.
TEST_F(RealWma, DamageThatHangsTheReaderIsRefused)
{
    ExpectRefusedAfterTags(m(), {"pts_ffffffff.wma", "packet0_broadcast.wma", "second_header.wma"});
}

TEST_F(RealWma, WritingTagsIsRefusedWhereThereIsNoEditor)
{
    std::string path = g_h.dir() + "\\copy.wma";
    ASSERT_TRUE(CopyFileA(Data("tagged.wma").c_str(), path.c_str(), FALSE));
    std::vector<unsigned char> before, after;
    ASSERT_TRUE(vqtest::ReadFile(path, before));
    int r = 0;
    TrackInfo t = TagsOf(path, &r);
    ASSERT_EQ(r, 1);
    lstrcpynA(t.title, "New Title", sizeof t.title);
    EXPECT_EQ(m()->input.SetTagEx(&t), 0);
    EXPECT_NE(g_h.LogText().find("failed m_pHeader->SetAttribute(),(hr=0x80004001)"), std::string::npos);
    ASSERT_TRUE(vqtest::ReadFile(path, after));
    EXPECT_TRUE(before == after);
}

}  // namespace

// File batch engine against fake modules and plain data.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <string>
#include <vector>
#include "engine.h"
#include "fake_modules.h"
#include "test_support.h"

using namespace fakes;

namespace {

class RecordingSink : public EngineProgressSink {
public:
    int ranges[3] = {-1, -1, -1};
    std::vector<std::string> texts[3], titles;
    int navigationEnabled = 0, pauseEnabled = 0;
    void SetBarRange(Bar bar, int maximum) override { ranges[bar] = maximum; }
    void SetBarPos(Bar, int) override {}
    void SetText(Text which, const char* text) override { texts[which].push_back(text); }
    void SetTitle(const char* text) override { titles.push_back(text); }
    void EnablePause(bool enable) override { pauseEnabled += enable; }
    void EnableNavigation() override { navigationEnabled++; }
    void RestoreTitle() override { titles.push_back(kProgramTitle); }
    static constexpr const char* kProgramTitle = "(program title)";
};

class TestActions : public EngineActions {
public:
    bool deleteOriginals = false;
    int whenDone = 0;
    std::vector<std::string> finished;
    std::vector<bool> converted;
    bool DeleteOriginals() override { return deleteOriginals; }
    EngineRunSummary summary;
    void WhenDone(const EngineRunSummary& s) override
    {
        whenDone++;
        summary = s;
    }
    void FileFinished(const char* path, bool ok) override
    {
        finished.push_back(path);
        converted.push_back(ok);
    }
};

// Sleeps are counted; the third one clears the pause flag.
class FakeClock : public EngineClock {
public:
    std::atomic<int>* pause = nullptr;
    int sleeps = 0;
    int Now() override { return 1000; }
    void Sleep(int) override
    {
        if (++sleeps == 3 && pause) pause->store(0);
    }
};

std::atomic<int> g_stop{0};

std::vector<unsigned char> Pattern(size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; i++) v[i] = (unsigned char)((i * 2654435761u + seed) >> 13);
    return v;
}

// The path with forward slashes for backslashes.
std::string Slashed(std::string path)
{
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// How many handles of this process are open on the file at `path`.
int HandlesOn(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION want, info;
    HANDLE mine = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!GetFileInformationByHandle(mine, &want)) return -1;
    int n = 0;
    for (uintptr_t v = 4; v < 0x10000; v += 4)
        if ((HANDLE)v != mine && GetFileType((HANDLE)v) == FILE_TYPE_DISK &&
            GetFileInformationByHandle((HANDLE)v, &info) && info.nFileIndexLow == want.nFileIndexLow &&
            info.nFileIndexHigh == want.nFileIndexHigh && info.dwVolumeSerialNumber == want.dwVolumeSerialNumber)
            n++;
    CloseHandle(mine);
    return n;
}

class FileEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        Reset();
        g_stop = 0;
        dir = vqtest::MakeTempDir("engine");
        logFile = dir + "\\engine.log";
        inputs[0] = Input();
        encoders[0] = Encoder();
        dsps[0] = Dsp(1);
        dsps[1] = Dsp(2);
        dsps[2] = Dsp(3);
        dsps[3] = Dsp(9);
        EngineContextInit(&ctx);
        ctx.modules = {inputs, encoders, captures, dsps};
        ctx.encoderIndex = 0;
        ctx.files = &rows;
        ctx.sink = &sink;
        ctx.clock = &clock;
        ctx.actions = &actions;
        ctx.stopFlag = &g_stop;
        ctx.pauseFlag = &pause;
        ctx.displayName = "PylSoft Batch Converter";
        ctx.logFile = logFile.c_str();
        ctx.logLevel = &level;
    }
    void TearDown() override
    {
        g_engineAlloc = [](size_t n) -> void* { return HeapAlloc(GetProcessHeap(), 0, n); };
        vqtest::RemoveTree(dir);
    }
    // A real source file (so deletion can be observed) with its script.
    std::string AddFile(const char* name, size_t bytes, StreamFormat fmt = {1, 2, 44100, 176400, 4, 16})
    {
        std::string path = MakeSource(name, bytes, fmt);
        EXPECT_TRUE(rows.Add(path.c_str()));
        return path;
    }
    std::string MakeSource(const char* name, size_t bytes, StreamFormat fmt = {1, 2, 44100, 176400, 4, 16})
    {
        Script& s = g_input.scripts[name];
        s.format = fmt;
        s.data = Pattern(bytes, (unsigned)strlen(name) * 77 + name[0]);
        s.duration = fmt.avgBytesPerSec ? (double)bytes / fmt.avgBytesPerSec : 0.0;
        std::string path = dir + "\\" + name;
        EXPECT_TRUE(vqtest::WriteFile(path, "src", 3));
        return path;
    }
    std::string Log() { return vqtest::ReadText(logFile); }

    std::string dir, logFile;
    int level = 1;  // every line
    IVqProModule *inputs[32] = {}, *encoders[32] = {}, *captures[32] = {}, *dsps[32] = {};
    SortedFileRows rows;
    RecordingSink sink;
    TestActions actions;
    FakeClock clock;
    std::atomic<int> pause{0};
    EngineContext ctx;
};

TEST_F(FileEngine, FilesRunInPathOrderAndBytesPassThroughExactly)
{
    AddFile("c.fake", 100000);
    AddFile("A.fake", 44100, {1, 1, 8000, 8000, 1, 8});
    AddFile("b.fake", 288001 - 1, {1, 2, 48000, 288000, 6, 24});
    AddFile("skip.txt", 10);  // no input module accepts it
    EXPECT_EQ(0, ProccessFiles(&ctx));
    ASSERT_EQ(3u, g_encoder.files.size());
    EXPECT_EQ((std::vector<std::string>{"A.fake", "b.fake", "c.fake"}), g_encoder.openedFor);
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(g_input.scripts[g_encoder.openedFor[i]].data, g_encoder.files[i]) << g_encoder.openedFor[i];
        EXPECT_EQ(VQ_HOST_SECTION, g_encoder.sections[i]);
    }
    EXPECT_EQ(0, g_input.openStreams);
    EXPECT_EQ(0, g_encoder.openInstances);
    EXPECT_EQ(1, actions.whenDone);
    EXPECT_EQ(0, rows.Count());
    EXPECT_EQ(4u, actions.finished.size());
    EXPECT_NE(std::string::npos, Log().find("File complete."));
    // The file nobody accepts is the run's one failure; the title is the program's again.
    EXPECT_EQ(4, actions.summary.files);
    ASSERT_EQ(1, actions.summary.failed);
    EXPECT_EQ(dir + "\\skip.txt", actions.summary.failedNames[0]);
    EXPECT_EQ(0, actions.summary.recording);
    ASSERT_FALSE(sink.titles.empty());
    EXPECT_STREQ(RecordingSink::kProgramTitle, sink.titles.back().c_str());
}

TEST_F(FileEngine, ThreeDspChainRunsInOrderWithItsSections)
{
    AddFile("a.fake", 50000);
    ctx.dspChain[0] = 0;
    ctx.dspChain[1] = 1;
    ctx.dspChain[2] = 2;
    EXPECT_EQ(0, ProccessFiles(&ctx));
    EXPECT_EQ((std::vector<std::string>{"PylSoftBatchConverter::DSP001", "PylSoftBatchConverter::DSP002",
                                        "PylSoftBatchConverter::DSP003"}),
              g_dsp.sections);
    ASSERT_EQ(0u, g_dsp.calls.size() % 3);
    for (size_t i = 0; i < g_dsp.calls.size(); i++) EXPECT_EQ((int)(i % 3) + 1, g_dsp.calls[i]);
    // Each DSP read what the previous one produced: +1 +2 +3 on every byte.
    std::vector<unsigned char> expected = g_input.scripts["a.fake"].data;
    for (auto& b : expected) b = (unsigned char)(b + 6);
    ASSERT_EQ(1u, g_encoder.files.size());
    EXPECT_EQ(expected, g_encoder.files[0]);
    EXPECT_EQ(0, g_dsp.openInstances);
}

TEST_F(FileEngine, FailingDspFailsTheFileAndKeepsTheSource)
{
    actions.deleteOriginals = true;
    ctx.dspChain[0] = 0;
    ctx.dspChain[1] = 1;
    std::string a = MakeSource("a.fake", 20000), b = MakeSource("b.fake", 20000), c = MakeSource("c.fake", 20000);
    // a: DSP 2 fails to open.
    g_dsp.failOpenAt[2] = 1;
    rows.Add(a.c_str());
    EXPECT_EQ(0, ProccessFiles(&ctx));
    EXPECT_TRUE(g_encoder.files.empty());  // the encoder is never opened
    EXPECT_EQ(0, g_dsp.openInstances);     // DSP 1 was closed again
    // b: DSP 2 answers -1.
    g_dsp.failOpenAt.clear();
    g_dsp.processResult[2] = -1;
    rows.Add(b.c_str());
    EXPECT_EQ(0, ProccessFiles(&ctx));
    // c: DSP 1 answers more bytes than it was given.
    g_dsp.processResult.clear();
    g_dsp.processResult[1] = 2;
    rows.Add(c.c_str());
    EXPECT_EQ(0, ProccessFiles(&ctx));
    EXPECT_EQ(0, g_dsp.openInstances);
    EXPECT_EQ(0, g_input.openStreams);
    EXPECT_EQ(0, g_encoder.openInstances);
    EXPECT_TRUE(vqtest::FileExists(a));
    EXPECT_TRUE(vqtest::FileExists(b));
    EXPECT_TRUE(vqtest::FileExists(c));
    EXPECT_EQ((std::vector<bool>{false, false, false}), actions.converted);
    for (auto& f : g_encoder.files) EXPECT_TRUE(f.empty());
    EXPECT_NE(std::string::npos, Log().find("Error opening DSP Module!"));
    EXPECT_NE(std::string::npos, Log().find("DSP Module error."));
}

TEST_F(FileEngine, OriginalIsDeletedOnlyAfterARealConversion)
{
    actions.deleteOriginals = true;
    std::string good = AddFile("1good.fake", 30000);
    std::string writeFails = AddFile("2write.fake", 30000);
    std::string empty = AddFile("3empty.fake", 0);
    std::string badFormat = AddFile("4format.fake", 1000, {1, 0, 44100, 176400, 4, 16});
    std::string noOpen = AddFile("5noopen.fake", 1000);
    g_input.scripts["5noopen.fake"].failOpen = true;
    std::string good2 = AddFile("6good.fake", 30000);
    static std::string failedEarly[2];
    static int renamed;
    failedEarly[0] = badFormat, failedEarly[1] = noOpen, renamed = 0;
    g_encoder.onWrite = [](int block) {
        // Write fails at block 1 of the second file only.
        g_encoder.failWriteAtBlock = g_encoder.files.size() == 2 ? 1 : -1;
        // Files that failed before their input was read are the user's again
        // while the batch goes on.
        if (g_encoder.openedFor.back() == "6good.fake" && block == 0)
            for (const std::string& f : failedEarly)
                renamed += MoveFileA(f.c_str(), (f + "~").c_str()) && MoveFileA((f + "~").c_str(), f.c_str());
    };
    EXPECT_EQ(0, ProccessFiles(&ctx));
    EXPECT_EQ(2, renamed);
    EXPECT_FALSE(vqtest::FileExists(good));
    EXPECT_TRUE(vqtest::FileExists(writeFails));
    EXPECT_TRUE(vqtest::FileExists(empty));
    EXPECT_TRUE(vqtest::FileExists(badFormat));
    EXPECT_TRUE(vqtest::FileExists(noOpen));
    EXPECT_FALSE(vqtest::FileExists(good2));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("Invalid stream format."));
    EXPECT_NE(std::string::npos, log.find("Error opening source file!"));
    EXPECT_NE(std::string::npos, log.find("deleted."));
    EXPECT_EQ(1, actions.whenDone);
    EXPECT_EQ(6, actions.summary.files);
    ASSERT_EQ(4, actions.summary.failed);
    const std::string failedNames[] = {writeFails, empty, badFormat, noOpen};
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(failedNames[i], actions.summary.failedNames[i]);

    // Delete switched off, or an encoder whose Close failed: the source stays.
    Reset();
    std::string kept = AddFile("7kept.fake", 30000);
    actions.deleteOriginals = false;
    ProccessFiles(&ctx);
    EXPECT_TRUE(vqtest::FileExists(kept));
    Reset();
    std::string closeFails = AddFile("8close.fake", 30000);
    actions.deleteOriginals = true;
    g_encoder.closeResult = 0;
    ProccessFiles(&ctx);
    EXPECT_TRUE(vqtest::FileExists(closeFails));
    Reset();
    std::string encoderFails = AddFile("9enc.fake", 30000);
    g_encoder.failOpen = true;
    ProccessFiles(&ctx);
    EXPECT_TRUE(vqtest::FileExists(encoderFails));
    EXPECT_NE(std::string::npos, Log().find("Error opening Encoder Module!"));
    EXPECT_EQ(1, actions.summary.failed);
    // A stream that breaks off after some audio: written, but not converted.
    Reset();
    std::string broken = AddFile("10broken.fake", 30000);
    g_input.scripts["10broken.fake"].endResult = VQ_READ_ERROR;
    ProccessFiles(&ctx);
    EXPECT_TRUE(vqtest::FileExists(broken));
    EXPECT_NE(std::string::npos, Log().find("Error reading source file!"));
    ASSERT_EQ(1, actions.summary.failed);
    EXPECT_EQ(broken, actions.summary.failedNames[0]);

    // Twelve failures: all counted, the first ten named.
    Reset();
    g_encoder.failOpen = true;
    for (int i = 0; i < 12; i++) {
        char name[32];
        snprintf(name, sizeof(name), "x%02d.fake", i);
        AddFile(name, 1000);
    }
    ProccessFiles(&ctx);
    EXPECT_EQ(12, actions.summary.files);
    EXPECT_EQ(12, actions.summary.failed);
    EXPECT_EQ(dir + "\\x09.fake", actions.summary.failedNames[EngineRunSummary::MaxNames - 1]);

    // Sources named with forward slashes, beside a file of CD drive V: (no
    // input takes it): the CD file is not held after a held one, and a source
    // after it is held.
    if (GetDriveTypeA("V:\\") != DRIVE_CDROM) GTEST_SKIP() << "drive V: of the prefix is not a CD drive";
    static int cdHandles, laterRenamed;
    static std::string later;
    cdHandles = laterRenamed = -1;
    Reset();
    actions.deleteOriginals = false;
    g_encoder.failOpen = false;
    ASSERT_TRUE(rows.Add(Slashed(MakeSource("11first.fake", 30000)).c_str()));
    ASSERT_TRUE(rows.Add("V:/track02.cda"));
    g_encoder.onWrite = [](int block) {
        if (block == 0) cdHandles = HandlesOn("V:\\track02.cda");
    };
    ProccessFiles(&ctx);
    EXPECT_EQ(0, cdHandles);
    Reset();
    std::string laterFile = vqtest::TestDataDir() + "\\engine_test_later.fake";  // on drive Z:, after V:
    later = Slashed(laterFile);
    ASSERT_TRUE(vqtest::WriteFile(laterFile, "src", 3));
    g_input.scripts["engine_test_later.fake"].data = Pattern(30000, 5);
    ASSERT_TRUE(rows.Add("V:/track02.cda"));
    ASSERT_TRUE(rows.Add(later.c_str()));
    g_encoder.onWrite = [](int block) {
        if (block == 0)
            laterRenamed = MoveFileA(later.c_str(), (later + "~").c_str()) &&
                           MoveFileA((later + "~").c_str(), later.c_str());
    };
    ProccessFiles(&ctx);
    DeleteFileA(laterFile.c_str());
    EXPECT_EQ(0, laterRenamed);
}

TEST_F(FileEngine, StopKeepsTheSourceAndTheRowsNotBegunAndSkipsWhenDone)
{
    actions.deleteOriginals = true;
    std::string a = AddFile("a.fake", 100000);
    AddFile("b.fake", 100000);
    AddFile("c.fake", 100000);
    g_encoder.onWrite = [](int block) {
        if (block == 2) g_stop = 1;
    };
    EXPECT_EQ(0, ProccessFiles(&ctx));
    EXPECT_TRUE(vqtest::FileExists(a));
    EXPECT_EQ(2, rows.Count());
    EXPECT_EQ(0, actions.whenDone);
    EXPECT_EQ(1u, g_encoder.files.size());
    EXPECT_EQ(0, g_input.openStreams);
    EXPECT_EQ(0, g_encoder.openInstances);
}

TEST_F(FileEngine, WhenDoneRunsOnceAndPrescanHonoursStop)
{
    EXPECT_EQ(0, ProccessFiles(&ctx));  // empty list
    EXPECT_EQ(1, actions.whenDone);
    AddFile("a.fake", 1000);
    AddFile("b.fake", 1000);
    g_stop = 1;
    EXPECT_EQ(0, ProccessFiles(&ctx));
    EXPECT_TRUE(g_input.tagged.empty());
    EXPECT_TRUE(g_input.opened.empty());
    EXPECT_EQ(1, actions.whenDone);
    g_stop = 0;
    EXPECT_EQ(0, ProccessFiles(&ctx));
    EXPECT_EQ(2, actions.whenDone);
}

TEST_F(FileEngine, OddRateMonoStaysFrameAlignedThroughAStatefulDsp)
{
    // 11025 Hz mono 16-bit: a tenth of a second is 2205 bytes, half a sample too many.
    StreamFormat fmt = {1, 1, 11025, 22050, 2, 16};
    AddFile("ramp.fake", 0, fmt);
    std::vector<unsigned char>& data = g_input.scripts["ramp.fake"].data;
    for (int i = 0; i < 11025 * 3 / 2; i++) {
        short v = (short)(i * 3 - 20000);
        data.push_back((unsigned char)v);
        data.push_back((unsigned char)(v >> 8));
    }
    ctx.dspChain[0] = 3;  // the one-sample delay
    EXPECT_EQ(0, ProccessFiles(&ctx));
    for (int r : g_input.readRequests) EXPECT_EQ(2204, r);
    for (int b : g_dsp.processBytes) EXPECT_EQ(0, b % 2);
    ASSERT_EQ(1u, g_encoder.files.size());
    const std::vector<unsigned char>& out = g_encoder.files[0];
    ASSERT_EQ(data.size(), out.size());
    EXPECT_EQ(0, out[0] | out[1]);
    EXPECT_EQ(0, memcmp(out.data() + 2, data.data(), data.size() - 2));
}

TEST_F(FileEngine, OverlongReadsAreClampedToTheRequest)
{
    AddFile("a.fake", 70560);
    g_input.scripts["a.fake"].extraReported = 5000;
    EXPECT_EQ(0, ProccessFiles(&ctx));
    ASSERT_EQ(1u, g_encoder.files.size());
    EXPECT_EQ(g_input.scripts["a.fake"].data, g_encoder.files[0]);
}

TEST_F(FileEngine, EarlyExitsCloseWhatTheyOpenedAndGiveBackNavigation)
{
    AddFile("a.fake", 1000);
    AddFile("b.fake", 1000);
    ctx.encoderIndex = -1;
    EXPECT_EQ(-1, ProccessFiles(&ctx));
    EXPECT_EQ(1, sink.navigationEnabled);
    EXPECT_TRUE(g_input.opened.empty());
    EXPECT_EQ(0, actions.whenDone);

    // No memory for a file's buffers: each file fails alone, keeps its source,
    // and "When done" still runs.
    ctx.encoderIndex = 0;
    actions.deleteOriginals = true;
    g_engineAlloc = [](size_t) -> void* { return nullptr; };
    EXPECT_EQ(0, ProccessFiles(&ctx));
    EXPECT_EQ(2u, g_input.opened.size());
    EXPECT_EQ(0, g_input.openStreams);
    EXPECT_EQ(1, actions.whenDone);
    EXPECT_EQ(2, actions.summary.failed);
    EXPECT_TRUE(vqtest::FileExists(dir + "\\a.fake"));
    EXPECT_NE(std::string::npos, Log().find("[PylPUM::ProccessFiles(634)] Error allocating memory."));
    AddFile("a.fake", 1000);

    // The input block is granted, the output buffer is not: its own line.
    static int allocations;
    allocations = 0;
    g_engineAlloc = [](size_t n) -> void* {
        return ++allocations == 1 ? HeapAlloc(GetProcessHeap(), 0, n) : nullptr;
    };
    EXPECT_EQ(0, ProccessFiles(&ctx));
    EXPECT_EQ(0, g_input.openStreams);
    EXPECT_EQ(0, rows.Count());
    EXPECT_NE(std::string::npos, Log().find("[PylPUM::ProccessFiles(642)] Error allocating memory."));
}

TEST_F(FileEngine, LongTracksUseFullRangesAndPauseWaits)
{
    // One hour: the track bar runs to 3 600 000, beyond a 16-bit range.
    AddFile("long.fake", 1764);
    g_input.scripts["long.fake"].duration = 3600.0;
    pause = 1;
    clock.pause = &pause;
    EXPECT_EQ(0, ProccessFiles(&ctx));
    EXPECT_EQ(3600000, sink.ranges[EngineProgressSink::BarTrack]);
    EXPECT_EQ(3600, sink.ranges[EngineProgressSink::BarGeneral]);
    EXPECT_EQ(100, sink.ranges[EngineProgressSink::BarLevel]);
    EXPECT_EQ(3, clock.sleeps);
    ASSERT_FALSE(sink.titles.empty());
    EXPECT_EQ("PylSoft Batch Converter - Paused", sink.titles[0]);
    EXPECT_EQ(1, sink.pauseEnabled);
    ASSERT_FALSE(sink.texts[EngineProgressSink::TextGeneral].empty());
    EXPECT_EQ("Total encoding time: 01:00:00", sink.texts[EngineProgressSink::TextGeneral][0]);
}

TEST(FileRows, SortedAndTooLongPathsRefused)
{
    SortedFileRows rows;
    EXPECT_TRUE(rows.Add("C:\\b.mp3"));
    EXPECT_TRUE(rows.Add("C:\\A.mp3"));
    EXPECT_FALSE(rows.Add(std::string(EngineTagPathChars, 'x').c_str()));
    EXPECT_TRUE(rows.Add(std::string(EngineTagPathChars - 1, 'x').c_str()));
    char buf[EnginePathChars];
    ASSERT_TRUE(rows.TakeFirst(buf, sizeof(buf)));
    EXPECT_STREQ("C:\\A.mp3", buf);
    EXPECT_EQ(2, rows.Count());
}

TEST(FileRows, ListFileSkipsAUtf8MarkAndRefusesUtf16)
{
    std::string dir = vqtest::MakeTempDir("list");
    std::string utf8 = dir + "\\utf8.txt";
    const char withMark[] = "\xEF\xBB\xBF" "C:\\A.mp3\r\nC:\\b.mp3\n";
    ASSERT_TRUE(vqtest::WriteFile(utf8, withMark, sizeof(withMark) - 1));
    SortedFileRows rows;
    AddListFile(&rows, utf8.c_str(), nullptr, nullptr, 0);
    char first[EnginePathChars] = "", second[EnginePathChars] = "";
    rows.TakeFirst(first, sizeof(first));
    rows.TakeFirst(second, sizeof(second));
    EXPECT_STREQ("C:\\A.mp3", first);
    EXPECT_STREQ("C:\\b.mp3", second);

    // As a PowerShell redirect writes it: little-endian, and big-endian.
    const char le[] = "\xFF\xFE" "C\0:\0\\\0a\0.\0m\0p\0" "3\0\r\0\n\0";
    const char be[] = "\xFE\xFF" "\0C\0:\0\\\0a\0.\0m\0p\0" "3\0\r\0\n";
    for (const std::string& text : {std::string(le, sizeof(le) - 1), std::string(be, sizeof(be) - 1)}) {
        std::string utf16 = dir + "\\utf16.txt";
        ASSERT_TRUE(vqtest::WriteFile(utf16, text.data(), text.size()));
        SortedFileRows none;
        int added = 0;
        EXPECT_EQ(ListFileResult::Utf16, AddListFile(&none, utf16.c_str(), &added, nullptr, 0));
        EXPECT_EQ(0, added);
        EXPECT_EQ(0, none.Count());
    }
    vqtest::RemoveTree(dir);
}

TEST(Meters, PeakAndRmsAtTheExtremes)
{
    StreamFormat f8 = {1, 2, 8000, 16000, 2, 8};
    const unsigned char u8[4] = {128, 0, 255, 128};
    EXPECT_DOUBLE_EQ(1.0, ComputePeak((const char*)u8, 4, &f8));  // |0 - 128| / 128
    const unsigned char quiet8[2] = {128, 192};
    EXPECT_DOUBLE_EQ(0.5, ComputePeak((const char*)quiet8, 2, &f8));
    EXPECT_DOUBLE_EQ(sqrt(0.125), ComputeRms((const char*)quiet8, 2, &f8));

    StreamFormat f16 = {1, 1, 8000, 16000, 2, 16};
    short s16[3] = {32767, -32768, 0};
    EXPECT_DOUBLE_EQ(1.0, ComputePeak((const char*)s16, 6, &f16));
    EXPECT_DOUBLE_EQ(32767.0 / 32768.0, ComputePeak((const char*)s16, 2, &f16));
    short half[2] = {16384, -16384};
    EXPECT_DOUBLE_EQ(0.5, ComputeRms((const char*)half, 4, &f16));

    StreamFormat f24 = {1, 1, 8000, 24000, 3, 24};
    const unsigned char min24[3] = {0x00, 0x00, 0x80}, max24[3] = {0xFF, 0xFF, 0x7F};
    EXPECT_DOUBLE_EQ(1.0, ComputePeak((const char*)min24, 3, &f24));
    EXPECT_DOUBLE_EQ((double)0x7FFFFF00 / 2147483648.0, ComputePeak((const char*)max24, 3, &f24));
    EXPECT_EQ(0.0, ComputeRms((const char*)max24, 3, &f24));  // no RMS for 24 bits

    StreamFormat f32 = {3, 1, 8000, 32000, 4, 32};
    float fl[2] = {0.25f, -0.75f};
    EXPECT_DOUBLE_EQ(0.75, ComputePeak((const char*)fl, 8, &f32));
    // 32-bit integer samples are integers, 12-bit ones sit in 16-bit containers.
    StreamFormat i32 = {1, 1, 8000, 32000, 4, 32}, i12 = {1, 1, 8000, 16000, 2, 12};
    const int32_t s32[2] = {0x40000000, INT32_MIN};
    EXPECT_DOUBLE_EQ(0.5, ComputePeak((const char*)s32, 4, &i32));
    EXPECT_DOUBLE_EQ(1.0, ComputePeak((const char*)s32, 8, &i32));
    EXPECT_DOUBLE_EQ(0.5, ComputePeak((const char*)half, 4, &i12));
    // An odd byte count covers whole frames only.
    EXPECT_DOUBLE_EQ(0.0, ComputePeak((const char*)s16 + 4, 3, &f16));
}

}  // namespace

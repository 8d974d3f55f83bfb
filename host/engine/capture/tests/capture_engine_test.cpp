// Live-capture engine with a scripted capture module on virtual time: the
// module's clock advances only with the bytes it delivers and every nap of the
// engine is counted, never slept.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "capture_engine.h"
#include "fake_modules.h"
#include "test_support.h"
#include "vq_log.h"

namespace {

// ---- scripted capture module --------------------------------------------------

struct CaptureScript {
    StreamFormat format{1, 2, 44100, 176400, 4, 16};
    // Loudness per 100 ms block (true: sound); blocks past the end are silent.
    std::function<bool(int block)> loud = [](int) { return true; };
    int emptyReadsFirst = 0;  // Read answers 0 this many times before delivering
    int failReadAt = -1;      // block whose Read fails
    bool failOpen = false;
    bool hasTags = false;
    std::function<void(int block)> onRead;
    // Recorded calls.
    int opens = 0, closes = 0, reads = 0, blocks = 0;
    std::vector<int> pauses;
    uint64_t delivered = 0;
};
CaptureScript g_cap;

int Fill(char* buf, int bytes, int block)
{
    const StreamFormat& f = g_cap.format;
    int width = f.bitsPerSample / 8;
    int samples = bytes / width;
    bool sound = g_cap.loud(block);
    for (int i = 0; i < samples; ++i) {
        int sign = (i / f.channels / 20) % 2 ? -1 : 1;
        char* p = buf + i * width;
        if (f.bitsPerSample == 16) {
            int16_t v = sound ? (int16_t)(sign * 8000) : 0;
            memcpy(p, &v, 2);
        } else if (f.bitsPerSample == 24) {
            int32_t v = sound ? sign * 2000000 : 0;
            p[0] = (char)(v & 0xFF);
            p[1] = (char)((v >> 8) & 0xFF);
            p[2] = (char)((v >> 16) & 0xFF);
        } else if (f.bitsPerSample == 32) {
            float v = sound ? sign * 0.25f : 0.0f;
            memcpy(p, &v, 4);
        }
    }
    return bytes;
}

void* __cdecl CapOpen(const StreamFormat* wanted, const char* section)
{
    EXPECT_EQ(nullptr, wanted);
    EXPECT_STREQ(VQ_HOST_SECTION, section);
    if (g_cap.failOpen)
        return nullptr;
    ++g_cap.opens;
    return &g_cap;
}
int __cdecl CapPause(int pause, void* h)
{
    EXPECT_EQ(&g_cap, h);
    g_cap.pauses.push_back(pause);
    return 1;
}
int __cdecl CapRead(char* buf, int bytes, void* h)
{
    EXPECT_EQ(&g_cap, h);
    ++g_cap.reads;
    if (g_cap.emptyReadsFirst > 0) {
        --g_cap.emptyReadsFirst;
        return 0;
    }
    if (g_cap.blocks == g_cap.failReadAt)
        return VQ_READ_ERROR;
    int block = g_cap.blocks++;
    if (g_cap.onRead)
        g_cap.onRead(block);
    bytes -= bytes % g_cap.format.blockAlign;
    Fill(buf, bytes, block);
    g_cap.delivered += (uint64_t)bytes;
    return bytes;
}
double __cdecl CapGetTime(void* h) { return h ? (double)g_cap.delivered / g_cap.format.avgBytesPerSec : -1.0; }
int __cdecl CapGetPcmFormat(StreamFormat* out, void*)
{
    *out = g_cap.format;
    return 1;
}
int __cdecl CapGetTag(TrackInfo* out, void*)
{
    if (!g_cap.hasTags)
        return 0;
    strcpy(out->path, "From the module");
    return 1;
}
int __cdecl CapClose(void* h)
{
    EXPECT_EQ(&g_cap, h);
    ++g_cap.closes;
    return 1;
}

// ---- recording encoder ----------------------------------------------------------

struct EncoderLog {
    std::vector<std::string> names;             // TrackInfo.path per Open
    std::vector<std::string> titles;
    std::vector<std::vector<char>> files;
    int open = 0, closes = 0, writes = 0;
    int failWriteAt = -1;  // 0-based Write call that fails
    int failCloseAt = -1;  // 0-based Close call that fails
    bool failOpen = false;
};
EncoderLog g_enc;

void* __cdecl EncOpen(const TrackInfo* info, const StreamFormat*, const char*)
{
    if (g_enc.failOpen)
        return nullptr;
    g_enc.names.push_back(info->path);
    g_enc.titles.push_back(info->title);
    g_enc.files.emplace_back();
    ++g_enc.open;
    return reinterpret_cast<void*>(g_enc.files.size());
}
int __cdecl EncWrite(const char* data, int bytes, void* h)
{
    EXPECT_GT(bytes, 0);
    if (g_enc.writes++ == g_enc.failWriteAt)
        return -1;
    std::vector<char>& f = g_enc.files[reinterpret_cast<size_t>(h) - 1];
    f.insert(f.end(), data, data + bytes);
    return bytes;
}
int __cdecl EncClose(void*)
{
    --g_enc.open;
    return g_enc.closes++ == g_enc.failCloseAt ? 0 : 1;
}

// ---- host side ------------------------------------------------------------------

struct Sink : EngineProgressSink {
    std::vector<std::string> titles;
    int generalRange = -1, navigation = 0;
    bool pauseEnabled = false;
    void SetBarRange(Bar bar, int maximum) override
    {
        if (bar == BarGeneral)
            generalRange = maximum;
    }
    void SetBarPos(Bar, int) override {}
    void SetText(Text, const char*) override {}
    void SetTitle(const char* text) override { titles.push_back(text); }
    void EnablePause(bool enable) override { pauseEnabled = enable; }
    void EnableNavigation() override { ++navigation; }
    void RestoreTitle() override { titles.push_back("(program title)"); }
};

// Wall time for names: a fixed instant plus the recorded time, so a split's
// name carries the time at which it happened.
struct VirtualClock : EngineClock {
    time_t base = 0;
    bool followRecording = true;
    int sleeps = 0;
    std::function<void(int)> onSleep;
    int Now() override
    {
        return (int)(base + (followRecording ? (time_t)(g_cap.delivered / g_cap.format.avgBytesPerSec) : 0));
    }
    void Sleep(int ms) override
    {
        EXPECT_EQ(50, ms);
        ++sleeps;
        if (onSleep)
            onSleep(sleeps);
    }
};

struct Actions : EngineActions {
    int whenDone = 0;
    int recording = -1;  // what the last "When done" was told
    void WhenDone(const EngineRunSummary& summary) override
    {
        ++whenDone;
        recording = summary.recording;
        EXPECT_EQ(0, summary.failed);
    }
    void RecordingTags(TrackInfo* info) override { strcpy(info->title, "Live Title"); }
};

struct Settings : CaptureSettings {
    int limit = 3600;
    bool detect = false;
    double length = 3.0, maximum = 10.0;
    int TimeLimit() override { return limit; }
    bool SilenceDetection() override { return detect; }
    double SilenceLength() override { return length; }
    double MaximumSilence() override { return maximum; }
};

// Local time 2008-03-05 07:04:09 as seconds since 1970.
time_t LocalInstant(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s)
{
    SYSTEMTIME local = {y, mo, 0, d, h, mi, s, 0}, utc;
    EXPECT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
    FILETIME ft;
    SystemTimeToFileTime(&utc, &ft);
    ULARGE_INTEGER u = {{ft.dwLowDateTime, ft.dwHighDateTime}};
    return (time_t)(u.QuadPart / 10000000ull - 11644473600ull);
}

const int kBlock = 17640;  // 100 ms of 44.1 kHz 16-bit stereo

class CaptureEngineTest : public ::testing::Test {
protected:
    IVqProModule capture{}, encoder{};
    IVqProModule* captures[EngineMaxModules] = {};
    IVqProModule* encoders[EngineMaxModules] = {};
    IVqProModule* none[EngineMaxModules] = {};
    EngineContext ctx;
    Sink sink;
    VirtualClock clock;
    Actions actions;
    Settings settings;
    std::atomic<int> stop{0}, pause{0};
    std::string dir, log;
    int level = 1;

    void SetUp() override
    {
        // Tests call SetUp() again for a second run: every recorded or
        // scripted value starts afresh, not only the module scripts.
        g_cap = CaptureScript();
        g_enc = EncoderLog();
        sink = Sink();
        clock = VirtualClock();
        actions = Actions();
        settings = Settings();
        stop = 0;
        pause = 0;
        capture.h.Kind = KindCapture;
        capture.capture = {CapOpen, CapPause, CapRead, CapGetTime, CapGetPcmFormat, CapGetTag, CapClose};
        encoder.h.Kind = KindEncoder;
        encoder.encoder.Open = EncOpen;
        encoder.encoder.Write = EncWrite;
        encoder.encoder.Close = EncClose;
        captures[2] = &capture;
        encoders[1] = &encoder;
        dir = vqtest::MakeTempDir("capeng");
        log = dir + "\\engine.log";
        EngineContextInit(&ctx);
        ctx.modules = {none, encoders, captures, none};
        ctx.captureIndex = 2;
        ctx.encoderIndex = 1;
        ctx.sink = &sink;
        ctx.clock = &clock;
        ctx.actions = &actions;
        ctx.stopFlag = &stop;
        ctx.pauseFlag = &pause;
        ctx.displayName = "PylSoft Batch Converter";
        ctx.logFile = log.c_str();
        ctx.logLevel = &level;
        clock.base = LocalInstant(2008, 3, 5, 7, 4, 9);
    }
    void TearDown() override
    {
        EXPECT_EQ(0, g_enc.open) << "an encoder instance was left open";
        EXPECT_EQ(g_cap.opens, g_cap.closes) << "the capture instance was left open";
        vqtest::RemoveTree(dir);
    }

    int Run() { return ProccessLiveInput(&ctx, &settings); }
    std::string LogText() { return vqtest::ReadText(log); }
    static size_t Blocks(const std::vector<char>& file) { return file.size() / kBlock; }
};

}  // namespace

TEST_F(CaptureEngineTest, TimeLimitEndsAfterTheBlockThatReachesIt)
{
    settings.limit = 5;
    EXPECT_EQ(0, Run());
    ASSERT_EQ(1u, g_enc.files.size());
    EXPECT_EQ(50u * kBlock, g_enc.files[0].size());
    EXPECT_EQ(50, g_cap.reads);
    EXPECT_EQ(1, g_cap.closes);
    EXPECT_EQ(1, actions.whenDone);
    EXPECT_EQ(0, clock.sleeps);  // nothing waited
    EXPECT_EQ(5, sink.generalRange);
    EXPECT_TRUE(sink.pauseEnabled);
    // The last block is shown, then the title is the program's again.
    ASSERT_GE(sink.titles.size(), 2u);
    EXPECT_EQ("PylSoft Batch Converter - Recorded time: 00:00:05", sink.titles[sink.titles.size() - 2]);
    EXPECT_EQ("(program title)", sink.titles.back());
    std::string text = LogText();
    for (const char* line : {"Opening Audio Capture Module...", "Opening Encoder Module...", "Processing audio data...",
                             "Closing Encoder Module...", "Closing Capture Module...", "File complete."})
        EXPECT_NE(std::string::npos, text.find(line)) << line;
    EXPECT_NE(std::string::npos, text.find("[PylPUM::ProccessLiveInput("));
}

TEST_F(CaptureEngineTest, LongSilenceSplitsShortOneDoesNot)
{
    settings.detect = true;
    settings.limit = 8;
    // 2 s sound, 4 s silence, sound again.
    g_cap.loud = [](int b) { return b < 20 || b >= 60; };
    Run();
    ASSERT_EQ(2u, g_enc.files.size());
    EXPECT_EQ(60u, Blocks(g_enc.files[0]));  // the silence stays in the first file
    EXPECT_EQ(20u, Blocks(g_enc.files[1]));
    EXPECT_EQ("PylSoftBatchConverter(2008-03-05 07-04-09)", g_enc.names[0]);
    EXPECT_EQ("PylSoftBatchConverter(2008-03-05 07-04-15)", g_enc.names[1]);  // the time of the split
    EXPECT_EQ("Live Title", g_enc.titles[1]);
    EXPECT_EQ(1, g_cap.opens);  // the capture runs on across the split
    EXPECT_EQ(80, g_cap.reads);

    SetUp();
    settings.detect = true;
    settings.limit = 6;
    g_cap.loud = [](int b) { return b < 20 || b >= 40; };  // only 2 s of silence
    Run();
    ASSERT_EQ(1u, g_enc.files.size());
    EXPECT_EQ(60u, Blocks(g_enc.files[0]));
}

TEST_F(CaptureEngineTest, SilentBeginningStaysInTheFirstFile)
{
    settings.detect = true;
    settings.limit = 6;
    g_cap.loud = [](int b) { return b >= 40; };
    Run();
    ASSERT_EQ(2u, g_enc.files.size());
    EXPECT_EQ(40u, Blocks(g_enc.files[0]));
    EXPECT_EQ(20u, Blocks(g_enc.files[1]));

    // All-zero blocks never count as sound, not even at the start.
    SetUp();
    settings.detect = true;
    settings.limit = 3;
    g_cap.loud = [](int) { return false; };
    Run();
    EXPECT_EQ(1u, g_enc.files.size());
}

TEST_F(CaptureEngineTest, MaximumSilenceEndsTheRecordingThenWhenDone)
{
    settings.detect = true;
    settings.maximum = 10.0;
    g_cap.loud = [](int b) { return b < 10; };  // 1 s of sound, then silence
    Run();
    ASSERT_EQ(1u, g_enc.files.size());
    // Ends with the first block more than 10 s after the last loud one (at 1.0 s).
    EXPECT_EQ(111u, Blocks(g_enc.files[0]));
    EXPECT_EQ(1, actions.whenDone);
    EXPECT_EQ(EngineRunSummary::RecordingNone, actions.recording);
    EXPECT_EQ(1, g_cap.closes);
}

TEST_F(CaptureEngineTest, RecordingNames)
{
    settings.limit = 1;
    Run();
    ASSERT_EQ(1u, g_enc.names.size());
    EXPECT_EQ("PylSoftBatchConverter(2008-03-05 07-04-09)", g_enc.names[0]);
    EXPECT_EQ("Live Title", g_enc.titles[0]);

    // A module with its own track information keeps it.
    SetUp();
    settings.limit = 1;
    g_cap.hasTags = true;
    Run();
    EXPECT_EQ("From the module", g_enc.names[0]);
    EXPECT_EQ("", g_enc.titles[0]);

    // Three files started within one second get three names.
    SetUp();
    clock.followRecording = false;
    settings.detect = true;
    settings.length = 0.5;
    settings.limit = 4;
    g_cap.loud = [](int b) { return b < 5 || (b >= 12 && b < 17) || b >= 24; };
    Run();
    ASSERT_EQ(3u, g_enc.names.size());
    EXPECT_EQ(3u, std::set<std::string>(g_enc.names.begin(), g_enc.names.end()).size());
    EXPECT_EQ(0u, g_enc.names[1].find("PylSoftBatchConverter(2008-03-05 07-04-09)"));
}

TEST_F(CaptureEngineTest, CaptureModuleThatFailsToOpenStillRunsWhenDone)
{
    g_cap.failOpen = true;
    EXPECT_EQ(0, Run());
    EXPECT_EQ(1, actions.whenDone);
    EXPECT_EQ(EngineRunSummary::RecordingNotStarted, actions.recording);
    EXPECT_TRUE(g_enc.names.empty());
    std::string text = LogText();
    EXPECT_NE(std::string::npos, text.find("Error opening capture module, unable to continue!"));
    EXPECT_NE(std::string::npos, text.find("File complete."));

    // Nothing selected: the thread ends at once.
    SetUp();
    ctx.captureIndex = -1;
    EXPECT_EQ(-1, Run());
    EXPECT_EQ(0, g_cap.opens);
    EXPECT_EQ(0, actions.whenDone);
    EXPECT_EQ(1, sink.navigation);
}

TEST_F(CaptureEngineTest, PauseGivesOnePauseResumePair)
{
    settings.limit = 2;
    pause = 1;
    clock.onSleep = [&](int n) {
        if (n == 3)
            pause = 0;
    };
    Run();
    EXPECT_EQ((std::vector<int>{1, 0}), g_cap.pauses);
    EXPECT_EQ(3, clock.sleeps);
    ASSERT_FALSE(sink.titles.empty());
    EXPECT_EQ("PylSoft Batch Converter - Paused", sink.titles.front());
    EXPECT_EQ(20u, Blocks(g_enc.files[0]));
}

TEST_F(CaptureEngineTest, EmptyReadsAreRetriedOnTheEngineClock)
{
    settings.limit = 1;
    g_cap.emptyReadsFirst = 3;
    Run();
    EXPECT_EQ(3, clock.sleeps);
    EXPECT_EQ(10u, Blocks(g_enc.files[0]));
}

TEST_F(CaptureEngineTest, StopEndsWithoutWritingTheBlockOrWhenDone)
{
    g_cap.onRead = [&](int block) {
        if (block == 5)
            stop = 1;
    };
    Run();
    EXPECT_EQ(5u, Blocks(g_enc.files[0]));
    EXPECT_EQ(0, actions.whenDone);
    EXPECT_EQ(1, g_cap.closes);
}

TEST_F(CaptureEngineTest, FailedWriteEndsTheRecordingWithALogLine)
{
    g_enc.failWriteAt = 10;
    Run();
    EXPECT_EQ(11, g_cap.reads);  // no recording on into nothing
    EXPECT_EQ(1, g_enc.closes);
    EXPECT_EQ(1, g_cap.closes);
    EXPECT_NE(std::string::npos, LogText().find("Error writing to Encoder Module!"));
    EXPECT_EQ(EngineRunSummary::RecordingBroken, actions.recording);
}

TEST_F(CaptureEngineTest, FailedReadEndsTheRecordingWithALogLine)
{
    g_cap.failReadAt = 10;
    Run();
    EXPECT_EQ(10u, Blocks(g_enc.files[0]));  // what came before is kept
    EXPECT_NE(std::string::npos, LogText().find("Error reading source file!"));
    EXPECT_EQ(EngineRunSummary::RecordingBroken, actions.recording);
}

TEST_F(CaptureEngineTest, OutputThatDoesNotCloseBreaksTheRecording)
{
    // The last file fails to close; then the first file, closed at a split.
    for (bool split : {false, true}) {
        SetUp();
        g_enc.failCloseAt = 0;
        settings.limit = 8;
        if (split) {
            settings.detect = true;
            g_cap.loud = [](int b) { return b < 20 || b >= 60; };
        }
        Run();
        EXPECT_EQ(split ? 2 : 1, g_enc.closes);
        EXPECT_EQ(1, actions.whenDone);
        EXPECT_EQ(EngineRunSummary::RecordingBroken, actions.recording) << "split " << split;
    }
}

TEST_F(CaptureEngineTest, AllocationFailureClosesTheCaptureInstance)
{
    auto old = g_engineAlloc;
    g_engineAlloc = [](size_t) -> void* { return nullptr; };
    Run();
    g_engineAlloc = old;
    EXPECT_EQ(1, g_cap.opens);
    EXPECT_EQ(1, g_cap.closes);
    EXPECT_EQ(0, actions.whenDone);
    EXPECT_EQ(1, sink.navigation);
    EXPECT_TRUE(g_enc.names.empty());
    EXPECT_NE(std::string::npos, LogText().find("[PylPUM::ProccessLiveInput(165)] Error allocating memory."));

    // Only the output buffer fails: its own line.
    SetUp();
    static int allocations;
    allocations = 0;
    g_engineAlloc = [](size_t n) -> void* {
        return ++allocations == 1 ? HeapAlloc(GetProcessHeap(), 0, n) : nullptr;
    };
    Run();
    g_engineAlloc = old;
    EXPECT_EQ(1, g_cap.closes);
    EXPECT_EQ(0, actions.whenDone);
    EXPECT_NE(std::string::npos, LogText().find("[PylPUM::ProccessLiveInput(173)] Error allocating memory."));
}

TEST_F(CaptureEngineTest, BlocksRunThroughTheDspChainInOrder)
{
    fakes::Reset();
    IVqProModule* dsps[EngineMaxModules] = {fakes::Dsp(1), fakes::Dsp(2)};
    ctx.modules.dsps = dsps;
    ctx.dspChain[0] = 1;  // id 2 first, then id 1
    ctx.dspChain[1] = 0;
    level = LogError;
    settings.limit = 1;
    EXPECT_EQ(0, Run());
    EXPECT_EQ((std::vector<std::string>{"PylSoftBatchConverter::DSP001", "PylSoftBatchConverter::DSP002"}),
              fakes::g_dsp.sections);
    ASSERT_EQ(20u, fakes::g_dsp.calls.size());
    for (size_t i = 0; i < fakes::g_dsp.calls.size(); i++)
        EXPECT_EQ(i % 2 ? 1 : 2, fakes::g_dsp.calls[i]);
    EXPECT_EQ(0, fakes::g_dsp.openInstances);
    // Each DSP adds its id to every byte: the file holds the capture plus 3.
    ASSERT_EQ(1u, g_enc.files.size());
    ASSERT_EQ(10u * kBlock, g_enc.files[0].size());
    std::vector<char> block(kBlock);
    for (int b = 0; b < 10; b++) {
        Fill(block.data(), kBlock, b);
        for (int i = 0; i < kBlock; i++)
            ASSERT_EQ((char)(block[i] + 3), g_enc.files[0][b * kBlock + i]) << "block " << b << " byte " << i;
    }
    // The capture engine announces each DSP at the error level.
    std::string text = LogText();
    EXPECT_NE(std::string::npos, text.find("[PylPUM::ProccessLiveInput(186)] Opening DSP Module..."));
    EXPECT_EQ(std::string::npos, text.find("Processing audio data..."));
}

TEST_F(CaptureEngineTest, EncoderThatFailsToOpenClosesEverythingThenWhenDone)
{
    fakes::Reset();
    IVqProModule* dsps[EngineMaxModules] = {fakes::Dsp(1)};
    ctx.modules.dsps = dsps;
    ctx.dspChain[0] = 0;
    g_enc.failOpen = true;
    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, g_cap.reads);
    EXPECT_EQ(1, g_cap.closes);
    EXPECT_EQ(1u, fakes::g_dsp.sections.size());
    EXPECT_EQ(0, fakes::g_dsp.openInstances);
    EXPECT_EQ(1, actions.whenDone);
    EXPECT_EQ(EngineRunSummary::RecordingNotStarted, actions.recording);
    EXPECT_NE(std::string::npos, LogText().find("[PylPUM::ProccessLiveInput(398)] Error opening Encoder Module!"));
}

TEST_F(CaptureEngineTest, RmsAndSilenceDetectionForWideSamples)
{
    // 24-bit: half scale square wave; 32-bit float: constant quarter.
    unsigned char b24[6 * 4];
    for (int i = 0; i < 8; ++i) {
        int32_t v = (i % 2 ? -1 : 1) * 0x400000;
        b24[3 * i] = (unsigned char)(v & 0xFF);
        b24[3 * i + 1] = (unsigned char)((v >> 8) & 0xFF);
        b24[3 * i + 2] = (unsigned char)((v >> 16) & 0xFF);
    }
    StreamFormat f24 = {1, 2, 48000, 288000, 6, 24};
    EXPECT_DOUBLE_EQ(0.5, CaptureRms((const char*)b24, sizeof b24, &f24));
    float b32[4] = {0.25f, -0.25f, 0.25f, -0.25f};
    StreamFormat f32 = {3, 2, 48000, 384000, 8, 32};
    EXPECT_DOUBLE_EQ(0.25, CaptureRms((const char*)b32, sizeof b32, &f32));
    int16_t b16[4] = {16384, -16384, 16384, -16384};
    StreamFormat f16 = {1, 2, 44100, 176400, 4, 16};
    EXPECT_DOUBLE_EQ(0.5, CaptureRms((const char*)b16, sizeof b16, &f16));

    for (int bits : {24, 32}) {
        SetUp();
        g_cap.format = {1, 2, 48000, 48000 * bits / 4, bits / 4, bits};
        settings.detect = true;
        settings.limit = 8;
        g_cap.loud = [](int b) { return b < 20 || b >= 60; };
        Run();
        EXPECT_EQ(2u, g_enc.files.size()) << bits;
        TearDown();
    }
}

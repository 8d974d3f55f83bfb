// The module against the stand-in runtime: its record and table, the reader
// protocol under our own clock (start, grants, seek, end, stop), scripted
// failures, the attribute mapping in both directions, and the check of a
// file's structure.
#include <gtest/gtest.h>
#include <windows.h>

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "asf_structure.h"
#include "standin.h"
#include "test_support.h"
#include "vq_log.h"
#include "vq_module.h"

extern "C" IVqProModule* __cdecl GetModuleInterface(void);

namespace {

std::string Data(const std::string& name) { return vqtest::TestDataDir() + "\\in_velvet\\" + name; }

std::atomic<int> g_boxes{0};
int __cdecl CountBox(const char*, const char*, unsigned)
{
    ++g_boxes;
    return IDOK;
}

bool WaitFor(const std::function<bool()>& done, DWORD ms)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(5))
        if (done()) return true;
    return done();
}

class Velvet : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = vqtest::MakeTempDir("velvet");
        log = dir + "\\velvet.log";
        LogSetMessageBox(CountBox);
        g_boxes = 0;
        m = GetModuleInterface();
        m->h.hInstance = GetModuleHandleA(nullptr);
        standin::Script s;
        s.wavPath = Data("play.wav");
        standin::Install(s);
        ASSERT_EQ(m->h.InitModule(log.c_str(), &level), 1);
    }
    void TearDown() override
    {
        m->h.QuitModule();
        standin::Uninstall();
        LogSetMessageBox(nullptr);
        EXPECT_EQ(g_boxes, 0);
        vqtest::RemoveTree(dir);
    }

    standin::Script& script() { return standin::CurrentScript(); }
    standin::Record& record() { return standin::CurrentRecord(); }
    std::string LogText() { return vqtest::ReadText(log); }
    bool Logged(const std::string& text) { return LogText().find(text) != std::string::npos; }

    std::string MakeFile(const std::string& name, size_t bytes)
    {
        std::string path = dir + "\\" + name;
        std::vector<unsigned char> b(bytes, 0x11);
        EXPECT_TRUE(vqtest::WriteFile(path, b.data(), b.size()));
        return path;
    }

    std::vector<BYTE> WavData(const char* name)
    {
        WAVEFORMATEX f;
        std::vector<BYTE> data;
        EXPECT_TRUE(standin::LoadWav(Data(name), &f, &data));
        return data;
    }

    std::vector<BYTE> ReadAll(void* h, int block = 17640)
    {
        std::vector<BYTE> out;
        std::vector<char> buf(block);
        for (int n; (n = m->input.Read(buf.data(), block, h)) > 0;) out.insert(out.end(), buf.begin(), buf.begin() + n);
        return out;
    }

    TrackInfo TagsOf(const std::string& path, int* result)
    {
        TrackInfo t;
        memset(&t, 0, sizeof t);
        lstrcpynA(t.path, path.c_str(), 255);
        *result = m->input.GetTagEx(&t);
        return t;
    }

    IVqProModule* m = nullptr;
    std::string dir, log;
    int level = LogDebug;
};

// ---- record, settings, no stream ------------------------------------------------

TEST_F(Velvet, RecordSettingsAndOperationsWithoutAStream)
{
    EXPECT_EQ(m->h.Version, VQ_VERSION(1, 0, 8, 87));
    EXPECT_EQ(m->h.Kind, KindInput);
    EXPECT_EQ(m->h.Id, 2);
    EXPECT_STREQ(m->h.InternalName, "PylSoftWMAInputModule");
    EXPECT_STREQ(m->h.DisplayName, "PylSoft Windows Media Audio Input Module");
    EXPECT_EQ(std::string(m->h.AboutText).rfind("PylSoft Windows Media Audio Input Module v1.0.8.87\n\n", 0), 0u);
    EXPECT_NE(m->h.hIcon, nullptr);
    const char filter[] = "Windows Media Audio files (*.wma)\0*.wma\0";
    EXPECT_EQ(memcmp(m->input.FilterList, filter, sizeof filter), 0);

    for (const char* yes : {"C:\\music\\Song.WMA", "a.wma", "b.Wma", "list.asx"}) EXPECT_EQ(m->input.IsOurFile(yes), 1) << yes;
    for (const char* no : {"clip.wmv", "noext", "", "dir.wma\\file", "song.wma.mp3"}) EXPECT_EQ(m->input.IsOurFile(no), 0) << no;

    SettingRecord r;
    ASSERT_EQ(m->h.QuerySetting(&r, 0, nullptr), 1);
    EXPECT_STREQ(r.name, "Dummy");
    EXPECT_STREQ(r.description, "Dummy value");
    EXPECT_EQ(r.type, (int32_t)SettingType::Int32);
    EXPECT_EQ(r.editor, (int32_t)EditorKind::CheckBox);
    EXPECT_EQ(r.constraint, 2);
    EXPECT_EQ(SettingLoad<int32_t>(r.limits, 0), 0);
    EXPECT_EQ(SettingLoad<int32_t>(r.limits, 1), 1);
    EXPECT_EQ(r.step, 1.0);
    EXPECT_EQ(m->h.GetSetting(&r, 0, "Any", nullptr), 2);
    EXPECT_EQ(m->h.GetSetting(&r, 1, nullptr, nullptr), -1);
    EXPECT_EQ(m->h.QuerySetting(&r, 1, nullptr), 0);
    EXPECT_EQ(m->h.SetSetting(&r, 0, nullptr, nullptr), 0);
    EXPECT_EQ(m->h.Configure(nullptr, nullptr, nullptr), -1);
    IVqProModule* sub = m;
    char section[256] = "x";
    EXPECT_EQ(m->h.GetSubModule(&r, &sub, section, nullptr), nullptr);
    EXPECT_EQ(sub, nullptr);
    EXPECT_STREQ(section, "");

    char buf[8];
    StreamFormat f;
    TrackInfo t;
    EXPECT_EQ(m->input.Open(nullptr, nullptr), nullptr);
    EXPECT_EQ(m->input.Read(buf, 4, nullptr), 0);
    EXPECT_EQ(m->input.SetTime(1.0, nullptr), 0);
    EXPECT_EQ(m->input.GetTime(0, nullptr), -1.0);
    EXPECT_EQ(m->input.GetPcmFormat(&f, nullptr), 0);
    EXPECT_EQ(m->input.GetTag(&t, nullptr), 0);
    EXPECT_EQ(m->input.GetTagEx(nullptr), 0);
    EXPECT_EQ(m->input.SetTagEx(nullptr), 0);
    m->input.Close(nullptr);
    for (const char* line : {"[PylSoftWMAInputModule::Open(368)] Open(): Filename can not be NULL",
                             "[PylSoftWMAInputModule::Read(452)] Read(): Invalid handle",
                             "[PylSoftWMAInputModule::SetTime(484)] SetPosition(): Invalid handle",
                             "[PylSoftWMAInputModule::GetTime(546)] GetTime(): Invalid handle",
                             "[PylSoftWMAInputModule::GetPcmFormat(595)] GetPcmFormat(): Invalid handle",
                             "[PylSoftWMAInputModule::GetTag(633)] GetID3(): Invalid handle",
                             "[PylSoftWMAInputModule::GetTagEx(667)] Open(): Filename can not be NULL",
                             "[PylSoftWMAInputModule::SetTagEx(740)] Open(): Filename can not be NULL",
                             "[PylSoftWMAInputModule::Close(813)] Close(): Invalid handle"})
        EXPECT_TRUE(Logged(line)) << line;
    EXPECT_EQ(LogText().substr(0, 4), "[E][");
}

// ---- the reader protocol ---------------------------------------------------------

TEST_F(Velvet, PlaysTheWavUnderOurOwnClockToTheEnd)
{
    script().startedDelayMs = 300;
    std::vector<BYTE> expect = WavData("play.wav");
    void* h = m->input.Open("C:\\nowhere\\clip.wma", nullptr);
    ASSERT_NE(h, nullptr) << LogText();
    EXPECT_EQ(record().userClock, 1);
    StreamFormat f = {};
    ASSERT_EQ(m->input.GetPcmFormat(&f, h), 1);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.sampleRate, 44100);
    EXPECT_EQ(f.avgBytesPerSec, 176400);
    EXPECT_EQ(f.blockAlign, 4);
    EXPECT_EQ(f.bitsPerSample, 16);
    EXPECT_DOUBLE_EQ(m->input.GetTime(2, h), 1.0);

    // The first read waits for the reader to start.
    char first[4000];
    DWORD t0 = GetTickCount();
    int n = m->input.Read(first, (int)sizeof first, h);
    EXPECT_GE(GetTickCount() - t0, 250u);
    ASSERT_EQ(n, 4000);  // whole frames of what was asked
    std::vector<BYTE> got(first, first + n), rest = ReadAll(h);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_TRUE(got == expect) << got.size() << " of " << expect.size();

    char b[16];
    EXPECT_EQ(m->input.Read(b, 16, h), -1);
    EXPECT_EQ(m->input.Read(b, 16, h), -1);
    // Each read advances the position by its own bytes, truncated to 100 ns.
    EXPECT_NEAR(m->input.GetTime(0, h), 1.0, 1e-6);
    EXPECT_NEAR(m->input.GetTime(1, h), 0.0, 1e-6);
    EXPECT_EQ(m->input.GetTime(7, h), 0.0);
    // Half a second at the start, half a second more when the reader reaches it.
    EXPECT_EQ(record().grants, 2);
    EXPECT_EQ(record().lastGrant, 10000000ull);
    EXPECT_EQ(m->input.Close(h), 1);
    EXPECT_EQ(record().readersAlive, 0);
}

TEST_F(Velvet, StreamWhoseFirstSampleIsLatePlaysFromIt)
{
    script().lateStart = 30000000;
    void* h = m->input.Open("C:\\nowhere\\late.wma", nullptr);
    ASSERT_NE(h, nullptr);
    DWORD t0 = GetTickCount();
    EXPECT_TRUE(ReadAll(h) == WavData("play.wav"));
    EXPECT_LT(GetTickCount() - t0, 5000u);
    EXPECT_EQ(m->input.Close(h), 1);
    EXPECT_FALSE(Logged("CWmaFlt::Read"));
}

// The host's grant ahead reaches a reader whose clock call waits for its own
// callback thread, which asks for time in turn.
TEST_F(Velvet, ClockCallIntoTheReaderHoldsNoLockItsCallbackNeeds)
{
    script().lateStart = 30000000;
    script().onTimeInDeliver = true;
    void* h = m->input.Open("C:\\nowhere\\late.wma", nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ReadAll(h) == WavData("play.wav"));
    EXPECT_EQ(m->input.Close(h), 1);
    EXPECT_GT(record().grants, 2);
    EXPECT_EQ(record().deliverStuck, 0);
}

TEST_F(Velvet, StalledReaderEndsTheStreamWithAnErrorLine)
{
    script().hold = true;
    void* h = m->input.Open("C:\\nowhere\\stuck.wma", nullptr);
    ASSERT_NE(h, nullptr);
    char b[64];
    DWORD t0 = GetTickCount();
    EXPECT_EQ(m->input.Read(b, sizeof b, h), VQ_READ_ERROR);
    EXPECT_GE(GetTickCount() - t0, 19000u);
    // The stream ended on an error, and stays so without waiting again.
    t0 = GetTickCount();
    EXPECT_EQ(m->input.Read(b, sizeof b, h), VQ_READ_ERROR);
    EXPECT_LT(GetTickCount() - t0, 1000u);
    EXPECT_TRUE(Logged("[PylSoftWMAInputModule::CWmaFlt::Read(530)] CWmaFlt::Read(): the reader stalled, the stream "
                       "of C:\\nowhere\\stuck.wma ends here"))
        << LogText();
    EXPECT_EQ(m->input.Close(h), 1);
}

// While the reader decodes, each read waits for its whole request rather
// than taking whatever a sample just brought.
TEST_F(Velvet, ReadsWhileDecodingFillTheirRequest)
{
    script().wavPath = Data("long.wav");
    script().sampleBytes = 4096;
    std::vector<BYTE> expect = WavData("long.wav");
    void* h = m->input.Open("C:\\nowhere\\long.wma", nullptr);
    ASSERT_NE(h, nullptr);
    const int block = 10002;  // not whole frames: 10000 bytes are
    std::vector<BYTE> got;
    std::vector<int> sizes;
    std::vector<char> buf(block);
    for (int n; (n = m->input.Read(buf.data(), block, h)) > 0;) {
        got.insert(got.end(), buf.begin(), buf.begin() + n);
        sizes.push_back(n);
    }
    EXPECT_TRUE(got == expect) << got.size() << " of " << expect.size();
    ASSERT_FALSE(sizes.empty());
    // A read may come short on a loaded machine; most are full, and the
    // audio is handed over in about as many reads as full ones would need.
    int partial = 0;
    for (size_t i = 0; i + 1 < sizes.size(); ++i) partial += sizes[i] != 10000;
    EXPECT_LE(partial * 10, (int)sizes.size()) << "of " << sizes.size() << " reads";
    EXPECT_LE(sizes.size(), expect.size() / 10000 * 11 / 10 + 1);
    EXPECT_EQ(m->input.Close(h), 1);
}

TEST_F(Velvet, SeekDeliversNothingFromBeforeIt)
{
    script().wavPath = Data("long.wav");
    std::vector<BYTE> expect = WavData("long.wav");
    void* h = m->input.Open("C:\\nowhere\\long.wma", nullptr);
    ASSERT_NE(h, nullptr);
    // A read hands over what the ring holds: take the first 100 ms in as many reads as it needs.
    char block[17640];
    for (int taken = 0, n; taken < (int)sizeof block; taken += n) {
        n = m->input.Read(block, (int)sizeof block - taken, h);
        ASSERT_GT(n, 0);
    }
    // The ring fills and a sample waits for room when the seek comes.
    ASSERT_TRUE(WaitFor([&] { return record().inSample > 0; }, 5000));
    Sleep(50);
    ASSERT_EQ(m->input.SetTime(1.5, h), 1);
    EXPECT_DOUBLE_EQ(m->input.GetTime(0, h), 1.5);
    std::vector<BYTE> got = ReadAll(h);
    std::vector<BYTE> tail(expect.begin() + 264600, expect.end());
    EXPECT_TRUE(got == tail) << got.size() << " against " << tail.size();
    EXPECT_EQ(m->input.Close(h), 1);
}

TEST_F(Velvet, StopWhileASampleWaitsForRoomEndsQuickly)
{
    script().wavPath = Data("long.wav");
    void* h = m->input.Open("C:\\nowhere\\long.wma", nullptr);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(WaitFor([&] { return record().inSample > 0; }, 5000));
    Sleep(100);
    ASSERT_GT(record().inSample, 0);
    DWORD t0 = GetTickCount();
    EXPECT_EQ(m->input.Close(h), 1);
    EXPECT_LT(GetTickCount() - t0, 1000u);
    EXPECT_EQ(record().readersAlive, 0);
}

TEST_F(Velvet, FailedSeekEndsTheStream)
{
    script().startsBeforeFailure = 1;
    void* h = m->input.Open("C:\\nowhere\\clip.wma", nullptr);
    ASSERT_NE(h, nullptr);
    char block[1764];
    ASSERT_GT(m->input.Read(block, sizeof block, h), 0);
    EXPECT_EQ(m->input.SetTime(0.5, h), (int)0xC00D0BCF);
    EXPECT_TRUE(Logged("[PylSoftWMAInputModule::CWmaFlt::SetPosition(559)] CWmaFlt::SetPosition(): failed Start() "
                       "at 5000000,(hr=0xc00d0bcf)"));
    DWORD t0 = GetTickCount();
    EXPECT_EQ(m->input.Read(block, sizeof block, h), VQ_READ_ERROR);
    EXPECT_EQ(m->input.Read(block, sizeof block, h), VQ_READ_ERROR);
    EXPECT_LT(GetTickCount() - t0, 1000u);
    // Why the stream ends here, said once.
    std::string line = "[PylSoftWMAInputModule::CWmaFlt::Read(515)] CWmaFlt::Read(): the reader did not start, the "
                       "stream of C:\\nowhere\\clip.wma ends here";
    std::string text = LogText();
    size_t at = text.find(line);
    EXPECT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find(line, at + 1), std::string::npos);
    EXPECT_EQ(m->input.Close(h), 1);
}

TEST_F(Velvet, ZeroByteRateDoesNotDivide)
{
    script().zeroByteRate = true;
    void* h = m->input.Open("C:\\nowhere\\clip.wma", nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ReadAll(h, 4096) == WavData("play.wav"));
    EXPECT_EQ(m->input.GetTime(0, h), 0.0);
    EXPECT_EQ(m->input.Close(h), 1);
}

struct OpenCase {
    const char* what;
    void (*script)(standin::Script&);
    const char* logged;  // empty: the stream opens
    int end = 0;         // not 0: the stream opens, its last read gives this and logs `logged`
};

TEST_F(Velvet, ScriptedOpenings)
{
    static const char kFailed[] = "[PylSoftWMAInputModule::CWmaFlt::Read(535)] CWmaFlt::Read(): the reader failed or "
                                  "lost a sample, the stream of C:\\nowhere\\case.wma ends here";
    const OpenCase cases[] = {
        {"no reader", [](standin::Script& s) { s.createReader = E_OUTOFMEMORY; },
         "[PylSoftWMAInputModule::CWmaFlt::Open(228)] CWmaFlt::Open(): failed to create audio reader(hr=0x8007000e)"},
        {"open refused", [](standin::Script& s) { s.openCall = (HRESULT)0xC00D001A; },
         "[PylSoftWMAInputModule::CWmaFlt::Open(267)] CWmaFlt::Open(): failed to open(hr=0xc00d001a)"},
        {"opened with a failure", [](standin::Script& s) { s.openedStatus = (HRESULT)0xC00D0BBE; },
         "[PylSoftWMAInputModule::CWmaFlt::Open(267)] CWmaFlt::Open(): failed to open(hr=0xc00d0bbe)"},
        {"video", [](standin::Script& s) { s.video = true; },
         "[PylSoftWMAInputModule::CWmaFlt::Open(405)] CWmaFlt::Open(): not audio only(major type mismatch)"},
        {"start fails", [](standin::Script& s) { s.startsBeforeFailure = 0; },
         "[PylSoftWMAInputModule::CWmaFlt::Open(478)] CWmaFlt::Read(): failed Start(),(hr=0xc00d0bcf)"},
        {"source switch", [](standin::Script& s) { s.sourceSwitch = true; }, ""},
        {"reader error", [](standin::Script& s) { s.extraStatuses = {{WMT_ERROR, E_FAIL}}; }, kFailed, VQ_READ_ERROR},
        {"reader stops by itself", [](standin::Script& s) { s.extraStatuses = {{WMT_STOPPED, S_OK}}; }, kFailed,
         VQ_READ_ERROR},
        {"end on an error", [](standin::Script& s) { s.extraStatuses = {{WMT_EOF, E_FAIL}}; }, kFailed, VQ_READ_ERROR},
        {"sample without its data", [](standin::Script& s) { s.failBufferAt = 2; },
         "[PylSoftWMAInputModule::CWmaFlt::OnSample(3572)] CWmaFlt::OnSample(): GetBufferAndLength failed"
         "(hr=0x8007000e)",
         VQ_READ_ERROR},
    };
    for (const OpenCase& c : cases) {
        standin::Script s;
        s.wavPath = Data("play.wav");
        c.script(s);
        standin::Install(s);
        void* h = m->input.Open("C:\\nowhere\\case.wma", nullptr);
        if (c.end) {
            // It ends on an error once it has handed over what it has.
            ASSERT_NE(h, nullptr) << c.what;
            std::vector<BYTE> all = WavData("play.wav"), got;
            char buf[4096];
            int n;
            while ((n = m->input.Read(buf, sizeof buf, h)) > 0) got.insert(got.end(), buf, buf + n);
            EXPECT_EQ(n, c.end) << c.what;
            EXPECT_LT(got.size(), all.size()) << c.what;
            EXPECT_TRUE(Logged(c.logged)) << c.what << "\n" << LogText();
            EXPECT_EQ(m->input.Close(h), 1);
            continue;
        }
        if (!*c.logged) {
            ASSERT_NE(h, nullptr) << c.what;
            EXPECT_TRUE(ReadAll(h) == WavData("play.wav")) << c.what;
            EXPECT_EQ(m->input.Close(h), 1);
            continue;
        }
        EXPECT_EQ(h, nullptr) << c.what;
        EXPECT_TRUE(Logged(c.logged)) << c.what;
        EXPECT_EQ(record().readersAlive, 0) << c.what;
    }
    EXPECT_TRUE(Logged("[PylSoftWMAInputModule::Open(407)] Open(): Failed to open the file C:\\nowhere\\case.wma"));
}

// Runs `call` on a thread of its own and tells whether it returned within
// `ms`; one that has not is let go (the blocked reader calls are released,
// then blocked again) and waited for, so a failing test still ends.
bool ReturnsWithin(DWORD ms, const std::function<void()>& call)
{
    std::atomic<bool> done{false};
    std::thread t([&] {
        call();
        done = true;
    });
    bool inTime = WaitFor([&] { return done.load(); }, ms);
    if (!inTime) standin::ReleaseBlocked();
    t.join();
    if (!inTime) standin::ReleaseBlocked(false);
    return inTime;
}

TEST_F(Velvet, ReaderStuckInOpenOrCloseIsLeftBehind)
{
    standin::Script s;
    s.wavPath = Data("play.wav");
    s.callWaitMs = 500;
    s.openBlocks = true;
    standin::Install(s);
    void* h = nullptr;
    EXPECT_TRUE(ReturnsWithin(5000, [&] { h = m->input.Open("C:\\nowhere\\stuck.wma", nullptr); }));
    EXPECT_EQ(h, nullptr);
    EXPECT_TRUE(Logged("[PylSoftWMAInputModule::CWmaFlt::Open(267)] CWmaFlt::Open(): failed to open(hr=0x800705b4)"));
    EXPECT_TRUE(Logged("[PylSoftWMAInputModule::Open(407)] Open(): Failed to open the file C:\\nowhere\\stuck.wma"));

    script().openBlocks = false;
    script().closeBlocks = true;
    h = m->input.Open("C:\\nowhere\\closing.wma", nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ReadAll(h) == WavData("play.wav"));
    int closed = 0;
    EXPECT_TRUE(ReturnsWithin(5000, [&] { closed = m->input.Close(h); }));
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(Logged("[PylSoftWMAInputModule::CWmaFlt::Stop(648)] CWmaFlt::Stop(): the reader of "
                       "C:\\nowhere\\closing.wma did not stop or close in time and is left behind"));

    // The next file is not held up by the readers left behind.
    script().closeBlocks = false;
    h = m->input.Open("C:\\nowhere\\next.wma", nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ReadAll(h) == WavData("play.wav"));
    EXPECT_EQ(m->input.Close(h), 1);
    standin::ReleaseBlocked();
}

// A reader whose Close never returns keeps its stream and itself until the
// call is over, on every way a stream ends: an open that fails after the
// reader opened, a Close, and the module's shut-down with the stream open.
// So does one whose Close returns at once and whose closed status comes from
// its own thread later than the wait for it.
TEST_F(Velvet, ReaderLeftInCloseKeepsWhatItUses)
{
    auto install = [this](bool video, DWORD closedLateMs = 0) {
        standin::Script s;
        s.wavPath = Data("play.wav");
        s.callWaitMs = 500;
        s.closeBlocks = !closedLateMs;
        s.closedLateMs = closedLateMs;
        s.video = video;
        standin::Install(s);
        return &record();
    };
    const std::string left = "[PylSoftWMAInputModule::CWmaFlt::Stop(648)] CWmaFlt::Stop(): the reader of "
                             "C:\\nowhere\\%s did not stop or close in time and is left behind";
    auto leftBehind = [&](const char* name) {
        char line[256];
        snprintf(line, sizeof line, left.c_str(), name);
        return Logged(line);
    };
    std::vector<standin::Record*> records;

    records.push_back(install(true));
    void* h = nullptr;
    EXPECT_TRUE(ReturnsWithin(5000, [&] { h = m->input.Open("C:\\nowhere\\video.wma", nullptr); }));
    EXPECT_EQ(h, nullptr);
    EXPECT_TRUE(leftBehind("video.wma")) << LogText();

    records.push_back(install(false));
    h = m->input.Open("C:\\nowhere\\closed.wma", nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ReturnsWithin(5000, [&] { EXPECT_EQ(m->input.Close(h), 1); }));
    EXPECT_TRUE(leftBehind("closed.wma"));

    records.push_back(install(false));
    h = m->input.Open("C:\\nowhere\\unloaded.wma", nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ReturnsWithin(5000, [&] { m->h.QuitModule(); }));
    EXPECT_TRUE(leftBehind("unloaded.wma"));
    ASSERT_EQ(m->h.InitModule(log.c_str(), &level), 1);

    records.push_back(install(false, 1500));
    h = m->input.Open("C:\\nowhere\\late.wma", nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ReadAll(h) == WavData("play.wav"));
    EXPECT_TRUE(ReturnsWithin(5000, [&] { EXPECT_EQ(m->input.Close(h), 1); }));
    EXPECT_TRUE(leftBehind("late.wma"));
    EXPECT_TRUE(WaitFor([&] { return records.back()->lateClosed == 1; }, 5000));

    // A reader of the file's checked bytes, left behind while a thread of it
    // holds the stream it read, keeps its stream but not the file: the close
    // does not wait for it, and the file can be deleted.
    records.push_back(install(false, 1500));
    script().platformEditor = false;
    script().streamHeld = true;
    const std::string source = dir + "\\left.wma";
    ASSERT_TRUE(CopyFileA(Data("tagged.wma").c_str(), source.c_str(), FALSE));
    h = m->input.Open(source.c_str(), nullptr);
    ASSERT_NE(h, nullptr) << LogText();
    ASSERT_TRUE(WaitFor([&] { return records.back()->holdingStream == 1; }, 5000));
    EXPECT_TRUE(ReturnsWithin(5000, [&] { EXPECT_EQ(m->input.Close(h), 1); }));
    EXPECT_EQ(records.back()->holdingStream, 1);
    EXPECT_TRUE(DeleteFileA(source.c_str())) << GetLastError();

    // The calls left behind end, and find their readers still there.
    standin::ReleaseBlocked();
    for (standin::Record* r : records) {
        EXPECT_TRUE(WaitFor([r] { return r->callsRunning == 0; }, 5000));
        EXPECT_EQ(r->freedInCall, 0);
        EXPECT_EQ(r->releasedBeforeClosed, 0);
    }
}

TEST_F(Velvet, SecondOutputOversizedSampleAndStatusesAreHandled)
{
    script().outputs = 2;
    script().oversizedSample = 600000;
    script().extraStatuses = {{WMT_NO_RIGHTS, (HRESULT)0xC00D277F}, {WMT_MISSING_CODEC, (HRESULT)0xC00D0BBC}};
    void* h = m->input.Open("C:\\nowhere\\clip.wma", nullptr);
    ASSERT_NE(h, nullptr) << LogText();
    EXPECT_TRUE(ReadAll(h) == WavData("play.wav"));
    EXPECT_EQ(m->input.Close(h), 1);
    std::vector<HRESULT> results = standin::SampleResults();
    ASSERT_GT(results.size(), 2u);
    EXPECT_EQ(results[0], E_UNEXPECTED);
    for (size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i], S_OK) << i;
    for (const char* line :
         {"[PylSoftWMAInputModule::CWmaFlt::Open(340)] CWmaFlt::Open(): not audio only(cOutputs = 2)",
          "[PylSoftWMAInputModule::CWmaFlt::OnSample(3641)] CWmaFlt::OnSample(): cbData > m_fifo.buffsize(cbData=600000)",
          "[PylSoftWMAInputModule::CWmaFlt::OnStatus(3759)] CWmaFlt::OnStatus(): no rights (hr=0xc00d277f)",
          "[PylSoftWMAInputModule::CWmaFlt::OnStatus(3771)] CWmaFlt::OnStatus(): missing codec (hr=0xc00d0bbc)"})
        EXPECT_TRUE(Logged(line)) << line;
}

TEST_F(Velvet, WantedFormatIsConvertedSampleBySample)
{
    const StreamFormat want = {1, 1, 22050, 44100, 2, 16};
    void* h = m->input.Open("C:\\nowhere\\clip.wma", &want);
    ASSERT_NE(h, nullptr);
    StreamFormat f = {};
    ASSERT_EQ(m->input.GetPcmFormat(&f, h), 1);
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.sampleRate, 22050);
    EXPECT_EQ(f.blockAlign, 2);
    std::vector<BYTE> got = ReadAll(h, 4410);
    EXPECT_NEAR((double)got.size(), 44100.0, 64.0);
    EXPECT_NEAR(m->input.GetTime(0, h), 1.0, 0.002);
    EXPECT_EQ(m->input.Close(h), 1);

    // A format the converter does not make: no sample arrives, and that is no clean end.
    const StreamFormat odd = {1, 2, 44100, 132300, 3, 12};
    h = m->input.Open("C:\\nowhere\\odd.wma", &odd);
    ASSERT_NE(h, nullptr);
    char b[4096];
    EXPECT_EQ(m->input.Read(b, sizeof b, h), VQ_READ_ERROR);
    EXPECT_EQ(m->input.Close(h), 1);
}

TEST_F(Velvet, TableHolds256Streams)
{
    script().hold = true;
    std::vector<void*> handles;
    for (int i = 0; i < 256; ++i) {
        void* h = m->input.Open("C:\\nowhere\\held.wma", nullptr);
        ASSERT_NE(h, nullptr) << i;
        handles.push_back(h);
    }
    std::string before = LogText();
    EXPECT_EQ(m->input.Open("C:\\nowhere\\held.wma", nullptr), nullptr);
    EXPECT_EQ(LogText(), before);
    EXPECT_EQ(m->input.Close(handles[17]), 1);
    handles[17] = m->input.Open("C:\\nowhere\\held.wma", nullptr);
    EXPECT_NE(handles[17], nullptr);
    for (void* h : handles)
        if (h) m->input.Close(h);
    EXPECT_EQ(record().readersAlive, 0);
}

TEST_F(Velvet, RuntimeIsCalledWithComOnEveryThread)
{
    std::string path = MakeFile("com.wma", 100);
    int stillInitialised = -1;
    std::thread worker([&] {
        void* h = m->input.Open(path.c_str(), nullptr);
        ASSERT_NE(h, nullptr);
        char block[1764];
        EXPECT_GT(m->input.Read(block, sizeof block, h), 0);
        EXPECT_EQ(m->input.SetTime(0.25, h), 1);
        int r;
        TrackInfo t = TagsOf(dir + "\\other.wma", &r);
        EXPECT_EQ(m->input.SetTagEx(&t), 1);
        EXPECT_EQ(m->input.Close(h), 1);
        // What the module initialised on this thread it has ended again.
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        stillInitialised = hr == S_OK ? 0 : 1;
        if (SUCCEEDED(hr)) CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(record().comMissing, 0);
    EXPECT_EQ(stillInitialised, 0);
}

// ---- attribute mapping --------------------------------------------------------------

standin::Attributes AllAttributes()
{
    using standin::Dword;
    using standin::Text;
    return {
        {L"Title", Text(L"Full Title")},           {L"Author", Text(L"Full Author")},
        {L"WM/AlbumTitle", Text(L"Full Album")},   {L"WM/Genre", Text(L"Full Genre")},
        {L"WM/Year", Text(L"1999")},               {L"WM/Track", Dword(7)},
        {L"Description", Text(L"Full comment")},  {L"Copyright", Text(L"(c) Full")},
        {L"WM/PromotionURL", Text(L"http://full.example/")}, {L"Rating", Text(L"5 stars")},
        {L"Duration", standin::Qword(1800000000ull)}, {L"Bitrate", Dword(96000)},
        {L"PlayCount", Dword(12)},                 {L"AlbumRepeatAfter", Dword(3)},
        {L"ArtistRepeatAfter", Dword(4)},          {L"GenreRepeatAfter", Dword(5)},
        {L"RepeatEvery", Dword(6)},                {L"Rotation", Dword(1)},
        {L"MixingFlags", Dword(9)},                {L"MixLevel", Text(L"0.1")},
        {L"BPM", Text(L"128.456")},                {L"CueBeg.Cue", Text(L"1.25")},
        {L"CueBeg.Len", Text(L"2.5")},             {L"CueEnd.Cue", Text(L"170")},
        {L"CueEnd.Len", Text(L"0,75")},            {L"CurveBeg.Curve", Text(L"2")},
        {L"CurveBeg.Level", Text(L"-3.5")},        {L"CurveBeg.Time", Text(L"0.5 s")},
        {L"CurveEnd.Curve", Text(L"3")},           {L"CurveEnd.Level", Text(L"-6")},
        {L"CurveEnd.Time", Text(L"1e1")},
    };
}

TEST_F(Velvet, ThirtyOneAttributesRoundTrip)
{
    std::string path = MakeFile("Full.wma", 1000);
    script().attributes = AllAttributes();
    ASSERT_EQ(script().attributes.size(), 31u);
    int r = 0;
    TrackInfo t = TagsOf(path, &r);
    ASSERT_EQ(r, 1) << LogText();
    EXPECT_STREQ(t.path, path.c_str());
    EXPECT_STREQ(t.format, "wma");
    EXPECT_EQ(t.size, 1000u);
    EXPECT_STREQ(t.title, "Full Title");
    EXPECT_STREQ(t.author, "Full Author");
    EXPECT_STREQ(t.album, "Full Album");
    EXPECT_STREQ(t.genre, "Full Genre");
    EXPECT_STREQ(t.year, "1999");
    EXPECT_EQ(t.track, 7);
    EXPECT_STREQ(t.description, "Full comment");
    EXPECT_STREQ(t.copyright, "(c) Full");
    EXPECT_STREQ(t.url, "http://full.example/");
    EXPECT_STREQ(t.rating, "5 stars");
    EXPECT_EQ(t.duration, 180.0);
    EXPECT_EQ(t.bitrate, 96000);
    EXPECT_EQ(t.playCount, 12);
    EXPECT_EQ(t.albumRepeatAfter, 3);
    EXPECT_EQ(t.artistRepeatAfter, 4);
    EXPECT_EQ(t.genreRepeatAfter, 5);
    EXPECT_EQ(t.repeatEvery, 6);
    EXPECT_EQ(t.rotation, 1);
    EXPECT_EQ(t.mixingFlags, 9);
    EXPECT_EQ(t.mixLevel, (double)0.1f);
    EXPECT_EQ(t.mixLevel, 0.100000001490116119384765625);
    EXPECT_EQ(t.bpm, 128.456);
    EXPECT_EQ(t.cueBegCue, 1.25);
    EXPECT_EQ(t.cueBegLen, 2.5);
    EXPECT_EQ(t.cueEndCue, 170.0);
    EXPECT_EQ(t.cueEndLen, 0.75);  // written with a decimal comma
    EXPECT_EQ(t.curveBegCurve, 2.0);
    EXPECT_EQ(t.curveBegLevel, -3.5);
    EXPECT_EQ(t.curveBegTime, 0.5);  // the leading number of the text
    EXPECT_EQ(t.curveEndCurve, 3.0);
    EXPECT_EQ(t.curveEndLevel, -6.0);
    EXPECT_EQ(t.curveEndTime, 10.0);
    EXPECT_EQ(t.sampleRate, 0);

    // Written back where the C library's numbers use a decimal comma.
    std::string oldLocale = setlocale(LC_ALL, nullptr);
    ASSERT_NE(setlocale(LC_ALL, "Spanish"), nullptr);
    char probe[16];
    snprintf(probe, sizeof probe, "%0.2f", 0.5);
    EXPECT_STREQ(probe, "0,50");
    int written = m->input.SetTagEx(&t);
    setlocale(LC_ALL, oldLocale.c_str());
    ASSERT_EQ(written, 1) << LogText();

    struct Expect {
        const wchar_t* name;
        standin::Value value;
    };
    using standin::Dword;
    using standin::Text;
    const Expect expected[] = {
        {L"Title", Text(L"Full Title")},        {L"Author", Text(L"Full Author")},
        {L"WM/AlbumTitle", Text(L"Full Album")}, {L"WM/Genre", Text(L"Full Genre")},
        {L"WM/Year", Text(L"1999")},            {L"WM/Track", Dword(7)},
        {L"Description", Text(L"Full comment")}, {L"Copyright", Text(L"(c) Full")},
        {L"WM/PromotionURL", Text(L"http://full.example/")}, {L"Rating", Text(L"5 stars")},
        {L"PlayCount", Dword(12)},              {L"AlbumRepeatAfter", Dword(3)},
        {L"ArtistRepeatAfter", Dword(4)},       {L"GenreRepeatAfter", Dword(5)},
        {L"RepeatEvery", Dword(6)},             {L"Rotation", Dword(1)},
        {L"MixingFlags", Dword(9)},             {L"MixLevel", Text(L"0.10")},
        {L"BPM", Text(L"128.46")},              {L"CueBeg.Cue", Text(L"1.25")},
        {L"CueBeg.Len", Text(L"2.50")},         {L"CueEnd.Cue", Text(L"170.00")},
        {L"CueEnd.Len", Text(L"0.75")},         {L"CurveBeg.Curve", Text(L"2.00")},
        {L"CurveBeg.Level", Text(L"-3.50")},    {L"CurveBeg.Time", Text(L"0.50")},
        {L"CurveEnd.Curve", Text(L"3.00")},     {L"CurveEnd.Level", Text(L"-6.00")},
        {L"CurveEnd.Time", Text(L"10.00")},
    };
    const auto& sets = record().sets;
    ASSERT_EQ(sets.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < sets.size(); ++i) {
        EXPECT_EQ(sets[i].first, expected[i].name) << i;
        EXPECT_TRUE(sets[i].second == expected[i].value) << i << " " << standin::AsText(sets[i].second).size();
    }
    EXPECT_EQ(record().flushes, 1);
    EXPECT_EQ(record().editorPath, std::wstring(path.begin(), path.end()));

    // Read again: what was written comes back.
    TrackInfo back = TagsOf(path, &r);
    ASSERT_EQ(r, 1);
    EXPECT_EQ(memcmp(back.title, t.title, offsetof(TrackInfo, format) - offsetof(TrackInfo, title)), 0);
    EXPECT_EQ(back.bpm, 128.46);
    EXPECT_EQ(back.curveEndTime, 10.0);
}

TEST_F(Velvet, AbsentAttributesAndTitleFromTheFileName)
{
    std::string path = MakeFile("Artist - Song.wma", 123);
    int r = 0;
    TrackInfo t = TagsOf(path, &r);
    ASSERT_EQ(r, 1);
    EXPECT_STREQ(t.title, "Artist - Song");
    for (const char* notSet : {t.author, t.album, t.genre, t.rating}) EXPECT_STREQ(notSet, "<Not Set>");
    for (const char* empty : {t.year, t.description, t.copyright, t.url}) EXPECT_STREQ(empty, "");
    EXPECT_EQ(t.track, 0);
    EXPECT_EQ(t.playCount, 0);
    EXPECT_EQ(t.bitrate, 0);
    EXPECT_EQ(t.duration, 0.0);
    for (int32_t repeat : {t.albumRepeatAfter, t.artistRepeatAfter, t.genreRepeatAfter, t.repeatEvery})
        EXPECT_EQ(repeat, -1);
    EXPECT_EQ(t.rotation, 0);
    EXPECT_EQ(t.mixingFlags, 0);
    EXPECT_EQ(t.curveBegCurve, 1.0);
    EXPECT_EQ(t.curveEndCurve, 1.0);
    for (double zero : {t.mixLevel, t.bpm, t.cueBegCue, t.cueBegLen, t.cueEndCue, t.cueEndLen, t.curveBegLevel,
                        t.curveBegTime, t.curveEndLevel, t.curveEndTime})
        EXPECT_EQ(zero, 0.0);
    EXPECT_EQ(t.sampleRate + t.channels + t.bits, 0);
    EXPECT_EQ(t.size, 123u);
    WIN32_FILE_ATTRIBUTE_DATA fa;
    SYSTEMTIME st;
    ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &fa));
    ASSERT_TRUE(FileTimeToSystemTime(&fa.ftLastWriteTime, &st));
    EXPECT_EQ(t.fileTime.year, st.wYear);
    EXPECT_EQ(t.fileTime.day, st.wDay);
    EXPECT_EQ(t.fileTime.second, st.wSecond);
    EXPECT_EQ(t.fileTime.milliseconds, st.wMilliseconds);

    // Present but empty: "<Not Set>" where the absent value is, the year stays empty.
    script().attributes = {{L"Author", standin::Text(L"")}, {L"WM/Year", standin::Text(L"")}};
    t = TagsOf(path, &r);
    EXPECT_STREQ(t.author, "<Not Set>");
    EXPECT_STREQ(t.year, "");

    // Writing back what was read gives the file a rating of "<Not Set>".
    ASSERT_EQ(m->input.SetTagEx(&t), 1);
    EXPECT_TRUE(script().attributes[L"Rating"] == standin::Text(L"<Not Set>"));
}

TEST_F(Velvet, LongAuthorIsCutAndTheRestIsRead)
{
    std::wstring author;
    for (int i = 0; i < 200; ++i) author += (wchar_t)(L'a' + i % 26);
    script().attributes = {{L"Title", standin::Text(L"Short")},
                           {L"Author", standin::Text(author)},
                           {L"WM/AlbumTitle", standin::Text(L"After")},
                           {L"Duration", standin::Qword(1800000000ull)},
                           {L"Bitrate", standin::Dword(128000)}};
    int r = 0;
    TrackInfo t = TagsOf(MakeFile("long.wma", 10), &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(std::string(t.author), std::string(author.begin(), author.begin() + 127));
    EXPECT_STREQ(t.title, "Short");
    EXPECT_STREQ(t.album, "After");
    EXPECT_EQ(t.duration, 180.0);
    EXPECT_EQ(t.bitrate, 128000);
    EXPECT_FALSE(Logged("internal error"));
}

TEST_F(Velvet, TagWritingAndReadingFailuresAreReported)
{
    std::string path = MakeFile("fail.wma", 10);
    int r = 0;
    TrackInfo t = TagsOf(path, &r);
    ASSERT_EQ(r, 1);

    script().createEditor = E_NOTIMPL;
    EXPECT_EQ(m->input.SetTagEx(&t), 0);
    EXPECT_TRUE(Logged("[PylSoftWMAInputModule::CWmaFlt::SetXTagEx(2705)] CWmaFlt::GetID3Ex(): failed "
                       "WMCreateEditor(),(hr=0x80004001)"));
    EXPECT_TRUE(Logged("[PylSoftWMAInputModule::SetTagEx(774)] Open(): Failed to open the file " + path));

    script().createEditor = S_OK;
    script().editorOpen = E_ACCESSDENIED;
    EXPECT_EQ(m->input.SetTagEx(&t), 0);
    EXPECT_TRUE(Logged("(2733)] CWmaFlt::SetID3Ex(): failed m_pEditor->Open(),(hr=0x80070005)"));
    TagsOf(path, &r);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(Logged("(2636)] CWmaFlt::GetID3Ex(): failed m_pEditor->Open(),(hr=0x80070005)"));
    EXPECT_TRUE(Logged("[PylSoftWMAInputModule::GetTagEx(698)] Open(): Failed to open the file " + path));

    // Nothing reaches the file before the final flush.
    script().editorOpen = S_OK;
    script().failSetOn = L"WM/Genre";
    script().attributes = {{L"Title", standin::Text(L"Kept")}};
    EXPECT_EQ(m->input.SetTagEx(&t), 0);
    EXPECT_TRUE(Logged("(2871)] CWmaFlt::SetID3Ex(): failed m_pHeader->SetAttribute(),(hr=0x80070005)"));
    EXPECT_EQ(record().flushes, 0);
    EXPECT_EQ(script().attributes.size(), 1u);
}

TEST_F(Velvet, OpenStreamAnswersTagsFromItsCacheAndWritesAtClose)
{
    std::string path = MakeFile("Song.wma", 50);
    script().attributes = {{L"Title", standin::Text(L"Cached")}};
    void* h = m->input.Open(path.c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    TrackInfo cached;
    memset(&cached, 0x5A, sizeof cached);
    ASSERT_EQ(m->input.GetTag(&cached, h), 1);
    EXPECT_STREQ(cached.title, "Cached");
    EXPECT_STREQ(cached.path, path.c_str());
    EXPECT_EQ(cached.sampleRate, 44100);
    EXPECT_EQ(cached.channels, 2);
    EXPECT_EQ(cached.bits, 16);

    std::string upper = path;
    CharUpperA(&upper[0]);
    int r = 0;
    TrackInfo asked = TagsOf(upper, &r);
    ASSERT_EQ(r, 1);
    EXPECT_EQ(memcmp(&asked, &cached, sizeof asked), 0);

    lstrcpynA(cached.title, "Changed", sizeof cached.title);
    ASSERT_EQ(m->input.SetTagEx(&cached), 1);
    EXPECT_TRUE(record().sets.empty());
    EXPECT_STREQ(TagsOf(path, &r).title, "Changed");
    EXPECT_EQ(m->input.Close(h), 1);
    EXPECT_EQ(record().flushes, 1);
    EXPECT_TRUE(script().attributes[L"Title"] == standin::Text(L"Changed"));
}

TEST_F(Velvet, TagsOfAStreamBeingClosedComeWholeFromEitherSide)
{
    std::string path = MakeFile("Steady.wma", 50);
    script().attributes = {{L"Title", standin::Text(L"Steady")}};
    std::atomic<bool> done{false};
    std::atomic<int> bad{0}, asked{0};
    std::thread reader([&] {
        while (!done) {
            int r = 0;
            TrackInfo t = TagsOf(path, &r);
            if (r != 1 || strcmp(t.title, "Steady") != 0) ++bad;
            ++asked;
        }
    });
    for (int i = 0; i < 20; ++i) {
        void* h = m->input.Open(path.c_str(), nullptr);
        ASSERT_NE(h, nullptr);
        Sleep(2);
        m->input.Close(h);
    }
    done = true;
    reader.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(asked, 20);
}

}  // namespace

// ---- our own header reader --------------------------------------------------------

namespace {

struct OwnHeader {
    IWMMetadataEditor* editor = nullptr;
    IWMHeaderInfo* header = nullptr;
    HRESULT Open(const std::string& path)
    {
        EXPECT_EQ(CreateAsfHeaderEditor(&editor), S_OK);
        std::wstring wide(path.begin(), path.end());
        HRESULT hr = editor->Open(wide.c_str());
        EXPECT_EQ(editor->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&header)), S_OK);
        return hr;
    }
    ~OwnHeader()
    {
        if (header) header->Release();
        if (editor) editor->Release();
    }
    // The value's type and bytes, or the failure of the lookup.
    HRESULT Get(const wchar_t* name, standin::Value* v, WORD stream = 0)
    {
        WORD length = 0;
        HRESULT hr = header->GetAttributeByName(&stream, name, &v->type, nullptr, &length);
        if (FAILED(hr)) return hr;
        v->bytes.assign(length, 0xEE);
        WORD given = length;
        return header->GetAttributeByName(&stream, name, &v->type, v->bytes.data(), &given);
    }
};

}  // namespace

TEST(OwnHeaderReader, AnswersLikeTheRuntimeForEveryStoredType)
{
    OwnHeader h;
    ASSERT_EQ(h.Open(Data("typed.wma")), S_OK);
    standin::Value v;
    ASSERT_EQ(h.Get(L"Duration", &v), S_OK);
    // The file's play duration less its preroll, as ffprobe states it.
    double stated = atof(vqtest::ReadText(Data("tagged.duration")).c_str());
    EXPECT_TRUE(v == standin::Qword((unsigned long long)(stated * 1e7 + 0.5)));
    ASSERT_EQ(h.Get(L"Bitrate", &v), S_OK);
    EXPECT_TRUE(v == standin::Dword(128000));
    ASSERT_EQ(h.Get(L"Title", &v), S_OK);
    EXPECT_TRUE(v == standin::Text(L"Sweep Title"));
    ASSERT_EQ(h.Get(L"mixlevel", &v), S_OK);  // names ignore letter case
    EXPECT_TRUE(v == standin::Text(L"0,5"));
    ASSERT_EQ(h.Get(L"Blob", &v), S_OK);
    EXPECT_EQ(v.type, WMT_TYPE_BINARY);
    EXPECT_EQ(v.bytes, (std::vector<BYTE>{1, 2, 3}));
    ASSERT_EQ(h.Get(L"Flag", &v), S_OK);
    EXPECT_EQ(v.type, WMT_TYPE_BOOL);
    EXPECT_EQ(v.bytes, (std::vector<BYTE>{1, 0, 0, 0}));
    ASSERT_EQ(h.Get(L"PlayCount", &v), S_OK);
    EXPECT_TRUE(v == standin::Dword(7));
    ASSERT_EQ(h.Get(L"Big", &v), S_OK);
    EXPECT_TRUE(v == standin::Qword(1ull << 40));
    ASSERT_EQ(h.Get(L"Small", &v), S_OK);
    EXPECT_EQ(v.type, WMT_TYPE_WORD);
    EXPECT_EQ(v.bytes, (std::vector<BYTE>{9, 0}));
    EXPECT_EQ(h.Get(L"Odd", &v), (HRESULT)0xC00D07F0);
    EXPECT_EQ(h.Get(L"Rating", &v), (HRESULT)0xC00D07F0);
    EXPECT_EQ(h.Get(L"Title", &v, 1), (HRESULT)0xC00D07F0);

    // A buffer that is too small is refused and told the size.
    WORD stream = 0, length = 4;
    BYTE small[4];
    WMT_ATTR_DATATYPE type;
    EXPECT_EQ(h.header->GetAttributeByName(&stream, L"Title", &type, small, &length), (HRESULT)0xC00D07D2);
    EXPECT_EQ(length, (WORD)((11 + 1) * 2));
    // It reads and never writes.
    DWORD one = 1;
    EXPECT_EQ(h.header->SetAttribute(0, L"Title", WMT_TYPE_DWORD, reinterpret_cast<BYTE*>(&one), 4), E_NOTIMPL);

    OwnHeader bad;
    EXPECT_EQ(bad.Open(Data("bad\\size0.wma")), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
    EXPECT_EQ(bad.Get(L"Duration", &v), (HRESULT)0xC00D07F0);
}

TEST(OwnHeaderReader, ManyDescriptorsReadQuicklyAndTheFirstOfANameCounts)
{
    OwnHeader h;
    DWORD t0 = GetTickCount();
    ASSERT_EQ(h.Open(Data("many.wma")), S_OK);
    DWORD took = GetTickCount() - t0;
    printf("65,535 descriptors read in %lu ms\n", took);
    EXPECT_LT(took, 2000u);
    standin::Value v;
    ASSERT_EQ(h.Get(L"X0007", &v), S_OK);
    EXPECT_TRUE(v == standin::Dword(7));
    ASSERT_EQ(h.Get(L"xfffa", &v), S_OK);
    EXPECT_TRUE(v == standin::Dword(0xfffa));
    ASSERT_EQ(h.Get(L"Title", &v), S_OK);
    EXPECT_TRUE(v == standin::Text(L"Sweep Title"));
    ASSERT_EQ(h.Get(L"wm/albumTITLE", &v), S_OK);
    EXPECT_TRUE(v == standin::Text(L"Many Album"));
}

// ---- the structure check ----------------------------------------------------

namespace {

bool ReadFromBytes(void* file, uint64_t offset, uint8_t* to, size_t bytes)
{
    const auto* b = static_cast<const std::vector<unsigned char>*>(file);
    if (offset > b->size() || bytes > b->size() - offset) return false;
    memcpy(to, b->data() + offset, bytes);
    return true;
}

}  // namespace

// Each file breaks one rule of the check, or keeps just within it; its name
// says the verdict: <verdict>+<what>.wma.
TEST(AsfStructure, EveryRuleGivesItsVerdict)
{
    static const char* const kVerdicts[] = {"none",       "unreadable",   "no-header",     "header-object",
                                            "no-file-properties",          "packet-size",   "no-data",
                                            "data-size",  "packet-count", "object-order",  "object-size",
                                            "index-entries", "packet",    "media-object-size", "presentation-time"};
    std::vector<unsigned char> good;
    ASSERT_TRUE(vqtest::ReadFile(Data("tagged.wma"), good));
    EXPECT_EQ(asf::CheckStructure(good.size(), ReadFromBytes, &good), asf::Fault::None);
    EXPECT_EQ(asf::CheckStructure(good.size() + 1, ReadFromBytes, &good), asf::Fault::Unreadable);

    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA(Data("structure\\*.wma").c_str(), &fd);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int files = 0;
    do {
        std::string name = fd.cFileName;
        std::vector<unsigned char> b;
        ASSERT_TRUE(vqtest::ReadFile(Data("structure\\" + name), b));
        asf::Fault fault = asf::CheckStructure(b.size(), ReadFromBytes, &b);
        EXPECT_EQ(kVerdicts[(int)fault], name.substr(0, name.find('+'))) << name;
        ++files;
    } while (FindNextFileA(find, &fd));
    FindClose(find);
    EXPECT_EQ(files, 25);
}

// A reader call that returned in time still runs on its own thread for a
// moment after its caller has the answer: the module DLL stays loaded until
// that thread is gone, even when the host unloads it at once.
TEST(VelvetDll, StaysLoadedUntilTheThreadsOfItsCallsHaveEnded)
{
    std::string dll = vqtest::BinDir() + "\\testmods\\in_velvet_stalling.dll";
    const char* name = "in_velvet_stalling.dll";
    ASSERT_EQ(GetModuleHandleA(name), nullptr);
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, "VqStandinCallGate");
    ASSERT_NE(gate, nullptr);
    SetEnvironmentVariableA("VQ_STANDIN_WAV", Data("play.wav").c_str());
    HMODULE lib = LoadLibraryA(dll.c_str());
    ASSERT_NE(lib, nullptr) << dll;
    auto get = reinterpret_cast<GetModuleInterfaceFn>(GetProcAddress(lib, "GetModuleInterface"));
    ASSERT_NE(get, nullptr);
    IVqProModule* m = get();
    m->h.hInstance = lib;
    std::string dir = vqtest::MakeTempDir("velvetdll"), log = dir + "\\velvet.log";
    int level = 15;
    ASSERT_EQ(m->h.InitModule(log.c_str(), &level), 1);
    void* h = m->input.Open("C:\\nowhere\\short.wma", nullptr);
    ASSERT_NE(h, nullptr);
    char b[4096];
    EXPECT_GT(m->input.Read(b, sizeof b, h), 0);
    EXPECT_EQ(m->input.Close(h), 1);
    m->h.QuitModule();
    FreeLibrary(lib);
    EXPECT_NE(GetModuleHandleA(name), nullptr) << "unloaded under the threads of its calls";
    SetEvent(gate);
    EXPECT_TRUE(WaitFor([name] { return GetModuleHandleA(name) == nullptr; }, 5000));
    CloseHandle(gate);
    SetEnvironmentVariableA("VQ_STANDIN_WAV", nullptr);
    vqtest::RemoveTree(dir);
}

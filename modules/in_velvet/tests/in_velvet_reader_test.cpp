// Faults that the structure check looks at, each alone in a copy of an
// ffmpeg-made WMA, given to Wine's reader twice: once with no check in front
// of it, through the module's own code in a process of its own that a
// watchdog ends when it hangs (what the reader makes of the fault), and once
// through the module as the host uses it. A fault the reader plays through
// must play through the module too; one that crashes or hangs the reader
// must be refused before the reader sees it, or lie where the module never
// lets the reader read.
#include <gtest/gtest.h>
#include <windows.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "input_module_harness.h"
#include "pcm_compare.h"
#include "test_support.h"
#include "vq_module.h"
#include "wm_runtime.h"

extern "C" IVqProModule* __cdecl GetModuleInterface(void);

namespace {

std::string Data(const std::string& name) { return vqtest::TestDataDir() + "\\in_velvet\\" + name; }

// How long the reader may take over one file before it counts as hung: a
// good file of three seconds plays in well under this.
constexpr DWORD kHangMs = 15000;

const char kFileVar[] = "VQ_UNCHECKED_FILE";
const char kOutVar[] = "VQ_UNCHECKED_OUT";

std::string Env(const char* name)
{
    char v[MAX_PATH] = "";
    DWORD n = GetEnvironmentVariableA(name, v, sizeof v);
    return n && n < sizeof v ? v : "";
}

LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*)
{
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

void EndOnAbort(int) { TerminateProcess(GetCurrentProcess(), 3); }

// The child: the module's own code over the platform's reader, but with the
// check switched off (it runs only where the platform has no editor of its
// own). Writes the PCM it read to <out>.raw and "<opened> <last Read result>"
// to <out>.txt, then ends at once: a reader left behind may never let the
// process end on its own.
TEST(UncheckedReader, DISABLED_Child)
{
    const std::string file = Env(kFileVar), out = Env(kOutVar);
    ASSERT_FALSE(file.empty() || out.empty());
    SetUnhandledExceptionFilter(EndOnCrash);
    signal(SIGABRT, EndOnAbort);
    static WmRuntime unchecked = *ActiveWmRuntime();
    unchecked.PlatformEditorAvailable = [] { return true; };
    SetWmRuntime(&unchecked);

    IVqProModule* m = GetModuleInterface();
    m->h.hInstance = GetModuleHandleA(nullptr);
    int level = LogDebug;
    std::string log = out + ".log";
    ASSERT_EQ(m->h.InitModule(log.c_str(), &level), 1);
    void* h = m->input.Open(file.c_str(), nullptr);
    std::vector<char> pcm, buf(17640);
    int last = 0;
    while (h && (last = m->input.Read(buf.data(), (int)buf.size(), h)) > 0)
        pcm.insert(pcm.end(), buf.begin(), buf.begin() + last);
    vqtest::WriteFile(out + ".raw", pcm.data(), pcm.size());
    std::string result = std::to_string(h ? 1 : 0) + " " + std::to_string(last);
    vqtest::WriteFile(out + ".txt", result.data(), result.size());
    if (h) m->input.Close(h);
    TerminateProcess(GetCurrentProcess(), 0);
}

struct ReaderRun {
    enum { Played, OpenFailed, Crashed, Hung } outcome = Crashed;
    int lastRead = 0;
    std::vector<unsigned char> pcm;
};

const char* Name(const ReaderRun& r)
{
    static const char* const kNames[] = {"played", "failed to open", "crashed", "hung"};
    return kNames[r.outcome];
}

// The file through the unchecked reader, in a child process.
ReaderRun RunUnchecked(const std::string& file, const std::string& dir)
{
    ReaderRun r;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string out = dir + "\\" + file.substr(file.find_last_of('\\') + 1);
    std::string cmd = std::string("\"") + self +
                      "\" --gtest_filter=UncheckedReader.DISABLED_Child --gtest_also_run_disabled_tests";
    SetEnvironmentVariableA(kFileVar, file.c_str());
    SetEnvironmentVariableA(kOutVar, out.c_str());
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE nul = CreateFileA((out + ".stdout").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA(kFileVar, nullptr);
    SetEnvironmentVariableA(kOutVar, nullptr);
    CloseHandle(nul);
    EXPECT_TRUE(started) << GetLastError();
    if (!started) return r;
    if (WaitForSingleObject(pi.hProcess, kHangMs) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 4);
        WaitForSingleObject(pi.hProcess, 5000);
        r.outcome = ReaderRun::Hung;
    } else {
        std::string result = vqtest::ReadText(out + ".txt");
        int opened = 0;
        if (sscanf(result.c_str(), "%d %d", &opened, &r.lastRead) == 2) {
            r.outcome = opened ? ReaderRun::Played : ReaderRun::OpenFailed;
            vqtest::ReadFile(out + ".raw", r.pcm);
        }
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return r;
}

InputModuleHarness g_h;

class ReaderFaults : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(g_h.Load("in_velvet.dll", "velvetfaults")); }
    static void TearDownTestSuite() { g_h.Unload(); }
    void SetUp() override
    {
        dir = vqtest::MakeTempDir("unchecked");
        std::vector<unsigned char> raw;
        ASSERT_TRUE(vqtest::ReadFile(Data("tagged.raw"), raw));
        reference = vqtest::Samples16(raw);
        stated = atof(vqtest::ReadText(Data("tagged.duration")).c_str());
    }
    void TearDown() override { vqtest::RemoveTree(dir); }

    // Through the module with its check: the PCM it reads, or false when Open fails.
    bool PlayChecked(const std::string& path, std::vector<unsigned char>* pcm, int* lastRead)
    {
        void* h = g_h.mod()->input.Open(path.c_str(), nullptr);
        if (!h) return false;
        std::vector<char> buf(17640);
        int n;
        while ((n = g_h.mod()->input.Read(buf.data(), (int)buf.size(), h)) > 0)
            pcm->insert(pcm->end(), buf.begin(), buf.begin() + n);
        *lastRead = n;
        g_h.mod()->input.Close(h);
        return true;
    }

    // The fault plays through the reader alone and through the module alike,
    // as ffmpeg decodes it: `seconds` of it (give or take the codec's delay),
    // or with 0 a part of it from the start. With `crashesLike` the reader
    // alone crashes on it, and the module plays it as the reader alone plays
    // the file of that name, `seconds` of it.
    void ExpectPlays(const char* name, double seconds, const char* crashesLike = nullptr)
    {
        SCOPED_TRACE(name);
        std::string path = Data(std::string("reader\\") + name + ".wma");
        ReaderRun r = RunUnchecked(path, dir);
        if (crashesLike) {
            ASSERT_EQ(r.outcome, ReaderRun::Crashed) << Name(r);
            r = RunUnchecked(Data(std::string("reader\\") + crashesLike + ".wma"), dir);
        }
        ASSERT_EQ(r.outcome, ReaderRun::Played) << Name(r);
        double unchecked = r.pcm.size() / 176400.0;
        if (seconds > 0 || crashesLike) {
            EXPECT_NEAR(unchecked, seconds, 0.15);
        } else {
            EXPECT_GT(unchecked, 1.0);
            EXPECT_LT(unchecked, stated - 0.5);
        }
        std::vector<unsigned char> pcm;
        int last = 0;
        EXPECT_EQ(r.lastRead, -1);
        ASSERT_TRUE(PlayChecked(path, &pcm, &last));
        EXPECT_EQ(last, -1);
        printf("%s: %s%.3f s alone, %.3f s through the module\n", name,
               crashesLike ? "crashes alone; without the packet " : "", unchecked, pcm.size() / 176400.0);
        EXPECT_NEAR(pcm.size() / 176400.0, unchecked, 0.05);
        if (unchecked == 0) return;
        vqtest::PcmMatch match = vqtest::MatchPcm(vqtest::Samples16(pcm), reference, 2, 8192);
        EXPECT_GE(match.snrDb, 40.0);
        EXPECT_GT(match.frames, (size_t)((unchecked - 0.2) * 44100));
    }

    // The module never gives the file to the reader.
    void ExpectRefused(const char* name)
    {
        SCOPED_TRACE(name);
        std::string path = Data(std::string("reader\\") + name + ".wma");
        std::vector<unsigned char> pcm;
        int last = 0;
        EXPECT_FALSE(PlayChecked(path, &pcm, &last));
        EXPECT_NE(g_h.LogText().find("[PylSoftWMAInputModule::CWmaFlt::Open(267)] CWmaFlt::Open(): failed to "
                                     "open(hr=0x8007000b)"),
                  std::string::npos);
        EXPECT_NE(g_h.LogText().find("Open(): Failed to open the file " + path), std::string::npos);
    }

    std::string dir;
    std::vector<int16_t> reference;
    double stated = 0;
};

// An appended tag, padding, and the part of an index object that a download
// which stopped kept.
TEST_F(ReaderFaults, BytesAfterTheLastObjectAreIgnored)
{
    for (const char* name : {"tail-id3v1", "tail-zero-16", "tail-zero-2048", "tail-cut-index"})
        ExpectPlays(name, stated);
}

// The reader goes by the data object's count (one packet less plays one
// packet less); for one more it reads a packet's worth after the data object
// (an index object there it passes over), and in a broadcast file it reads on
// past the data. A packet there that crashes it (a media object of 2 GiB,
// with or without the length type bits of its error correction set) is never
// read through the module: the reader is given the file up to its data's end.
TEST_F(ReaderFaults, PacketCountsOneOffPlay)
{
    for (const char* name : {"file-properties-count-plus-1", "file-properties-count-minus-1", "data-count-plus-1",
                             "data-count-minus-1", "data-count-plus-1-index"})
        ExpectPlays(name, stated);
    ExpectPlays("data-count-plus-1-bad-packet", stated, "data-count-plus-1");
    ExpectPlays("data-count-plus-1-ec-type-packet", stated, "data-count-plus-1");
    // The reader plays nothing of a broadcast file, with or without the packet
    // (the engine tells the file as failed: it gave no audio).
    ExpectPlays("broadcast-count-0-ec-type-packet", 0, "broadcast-count-0");
    ExpectPlays("broadcast-count-exact-ec-type-packet", 0, "broadcast-count-exact");
}

// A download that stopped: the reader plays its whole packets and ends there.
TEST_F(ReaderFaults, FileCutShortPlaysTheWholePacketsThatAreThere)
{
    for (const char* name : {"cut-in-packet", "cut-after-packet"}) ExpectPlays(name, 0);
}

// The reader neither crashes nor hangs on these, but it does not play them
// whole. It ends the stream at the first payload whose presentation time lies
// past the play duration, however little: with a play duration of 0 it plays
// nothing, with one that leaves out the preroll it loses the last preroll's
// worth (all of a file shorter than that). With a data packet count of 0 it
// takes the file for a live stream and plays an arbitrary part of it (from a
// fraction of a second to all of it, often without its beginning). Opened,
// they would convert to an empty or a cut output that looks complete, so they
// stay refused.
TEST_F(ReaderFaults, FaultsTheReaderDoesNotPlayStayRefused)
{
    struct Cut {
        const char* name;
        double seconds;  // what the reader plays of it
    };
    // six seconds less ffmpeg's preroll of 3.1 s; the 8 packets of 4 x 2,048
    // samples before the one past the play duration
    const double packet = 4 * 2048 / 44100.0;
    for (Cut c : {Cut{"play-duration-0", 0}, Cut{"play-duration-without-preroll", 0},
                  Cut{"long-play-duration-without-preroll", 6.0 - 3.1}, Cut{"payload-past-play-duration", 8 * packet}}) {
        SCOPED_TRACE(c.name);
        ReaderRun r = RunUnchecked(Data(std::string("reader\\") + c.name + ".wma"), dir);
        EXPECT_EQ(r.outcome, ReaderRun::Played) << Name(r);
        EXPECT_EQ(r.lastRead, -1);
        EXPECT_NEAR(r.pcm.size() / 176400.0, c.seconds, 0.1);
        ExpectRefused(c.name);
    }
    ReaderRun r = RunUnchecked(Data("reader\\data-count-0.wma"), dir);
    EXPECT_EQ(r.outcome, ReaderRun::Played) << Name(r);
    printf("data count 0, unchecked: %.3f s of %.3f s\n", r.pcm.size() / 176400.0, stated);
    ExpectRefused("data-count-0");
}

}  // namespace

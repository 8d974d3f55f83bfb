// Fuzz test of the input modules: one process per module loads it once and
// puts many deterministic mutations of small seed files through it (tags,
// open, read to the end, seek, close, now and then a tag write). A file that
// crashes the process, hangs an operation, damages a heap or makes Read
// return more than it was asked for fails the test; the file is kept.
//
// VQ_FUZZ_COUNT: files per module (default below); VQ_FUZZ_SEED: the run's
// seed; VQ_FUZZ_FIRST: number of the first file (VQ_FUZZ_FIRST=n with
// VQ_FUZZ_COUNT=1 makes file n of a run again); VQ_FUZZ_HANG_SECONDS: how
// long one operation may take.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "file_exercise.h"
#include "fuzz_mutator.h"
#include "input_module_harness.h"
#include "test_support.h"

namespace {

using vqfuzz::Bytes;

uint64_t EnvNumber(const char* name, uint64_t fallback)
{
    const char* v = getenv(name);
    return v && *v ? strtoull(v, nullptr, 0) : fallback;
}

// What the crash, abort and hang reporters print.
struct Current {
    volatile LONG index = -1;
    const char* volatile step = "";  // set by ExerciseFile
    char file[MAX_PATH] = "";
    char mutations[256] = "";
    char seed[MAX_PATH] = "";
} g_cur;

void Report(const char* what)
{
    fprintf(stderr, "\nfuzz: %s in file %ld (seed %s; mutations: %s) during %s; the file is kept as %s\n", what,
            (long)g_cur.index, g_cur.seed, g_cur.mutations, g_cur.step, g_cur.file);
    fflush(stderr);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* e)
{
    char what[64];
    snprintf(what, sizeof what, "exception 0x%08lX", e->ExceptionRecord->ExceptionCode);
    Report(what);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

void OnAbort(int)
{
    Report("abort (an uncaught C++ exception?)");
    TerminateProcess(GetCurrentProcess(), 3);
}

// Ends the process when one step of one file lasts longer than the limit.
DWORD WINAPI Watchdog(void* arg)
{
    const DWORD limit = (DWORD)(uintptr_t)arg;
    LONG index = -2;
    const char* step = nullptr;
    DWORD since = GetTickCount();
    for (;;) {
        Sleep(500);
        if (g_cur.index != index || g_cur.step != step) {
            index = g_cur.index;
            step = g_cur.step;
            since = GetTickCount();
        } else if (*step && GetTickCount() - since > limit) {
            Report("hang");
            TerminateProcess(GetCurrentProcess(), 4);
        }
    }
}

struct FuzzRun {
    const char* dll;
    vqfuzz::Format format;
    const char* seedDir;  // under testdata\fuzz_seeds
    const char* ext;
    uint64_t defaultCount;
};

// The seed files in name order, so a run makes the same files everywhere.
std::vector<Bytes> LoadSeeds(const std::string& dir, std::vector<std::string>* names)
{
    WIN32_FIND_DATAA fd;
    HANDLE f = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (f == INVALID_HANDLE_VALUE) return {};
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names->push_back(fd.cFileName);
    } while (FindNextFileA(f, &fd));
    FindClose(f);
    std::sort(names->begin(), names->end());
    std::vector<Bytes> seeds(names->size());
    for (size_t i = 0; i < names->size(); ++i) vqtest::ReadFile(dir + "\\" + (*names)[i], seeds[i]);
    return seeds;
}

void RunFuzz(const FuzzRun& run)
{
    const uint64_t count = EnvNumber("VQ_FUZZ_COUNT", run.defaultCount);
    const uint64_t seed = EnvNumber("VQ_FUZZ_SEED", 20240611);
    const uint64_t first = EnvNumber("VQ_FUZZ_FIRST", 0);
    const DWORD hangMs = (DWORD)EnvNumber("VQ_FUZZ_HANG_SECONDS", 60) * 1000;

    std::vector<std::string> names;
    std::vector<Bytes> seeds = LoadSeeds(vqtest::TestDataDir() + "\\fuzz_seeds\\" + run.seedDir, &names);
    ASSERT_GE(seeds.size(), 5u) << "seed files missing";

    InputModuleHarness h;
    ASSERT_TRUE(h.Load(run.dll, "fuzz"));
    // The file under test lives in the build tree, so it outlives a crash.
    // One folder per run: runs over the same seeds may go on side by side.
    std::string work = vqtest::TestDataDir() + "\\fuzz_work_" + run.seedDir +
                       (run.format == vqfuzz::Format::WmaPastData ? "_past_data" : "");
    vqtest::RemoveTree(work);
    CreateDirectoryA(work.c_str(), nullptr);
    std::string path = work + "\\current" + run.ext;
    lstrcpynA(g_cur.file, path.c_str(), sizeof g_cur.file);

    SetUnhandledExceptionFilter(OnCrash);
    signal(SIGABRT, OnAbort);
    HANDLE dog = CreateThread(nullptr, 0, Watchdog, (void*)(uintptr_t)hangMs, 0, nullptr);

    DWORD t0 = GetTickCount();
    uint64_t done = 0, opened = 0, tagged = 0, failures = 0;
    for (uint64_t i = first; i < first + count && failures == 0; ++i, ++done) {
        vqfuzz::Rng rng = vqfuzz::FileRng(seed, i);
        size_t s = rng.Below((uint32_t)seeds.size());
        std::string log;
        Bytes file = vqfuzz::Mutate(seeds[s], run.format, rng, &log);
        g_cur.index = (LONG)i;
        lstrcpynA(g_cur.seed, names[s].c_str(), sizeof g_cur.seed);
        lstrcpynA(g_cur.mutations, log.c_str(), sizeof g_cur.mutations);
        if (!vqtest::WriteFile(path, file.data(), file.size())) {
            // A platform reader that failed to open a file may keep it open:
            // the next file gets a name of its own.
            path = work + "\\current" + std::to_string(i) + run.ext;
            lstrcpynA(g_cur.file, path.c_str(), sizeof g_cur.file);
            ASSERT_TRUE(vqtest::WriteFile(path, file.data(), file.size())) << "file " << i << ", error " << GetLastError();
        }
        // A process ended from outside (an abort inside a platform library)
        // reports nothing: what the file under test is stays beside it.
        std::string note = "file " + std::to_string(i) + " (seed " + names[s] + "; mutations: " + log + ")\n";
        vqtest::WriteFile(work + "\\current.txt", note.data(), note.size());

        vqtest::ExerciseOptions o;
        static const int kSizes[] = {1, 3, 4, 6, 333, 1000, 4096, 4608, 17640, 65536, 200000};
        o.readSizes = {kSizes[6 + rng.Below(5)]};
        if (rng.OneIn(4)) o.readSizes.push_back(kSizes[rng.Below(6)]);  // odd or tiny requests as well
        if (rng.OneIn(2)) o.seekTo = (double)rng.Below(4000) / 1000.0 - 0.5;
        // A conversion: a file that claims a rate of a few Hz really is hours
        // long at 22,050 Hz, so only its beginning is read.
        StreamFormat want{1, 1, 22050, 44100, 2, 16};
        if (rng.OneIn(6)) {
            o.wanted = &want;
            o.maxCalls = 64;
        }
        o.writeTags = rng.OneIn(8);
        o.maxBytes = 64u << 20;

        vqtest::ExerciseResult r = vqtest::ExerciseFile(h.mod(), path, o, &g_cur.step);
        if (r.opened) ++opened;
        if (r.tagEx == 1) ++tagged;
        if (!r.fault.empty()) {
            ++failures;
            Report(r.fault.c_str());
            ADD_FAILURE() << "file " << i << " (" << names[s] << ": " << log << "): " << r.fault;
        }
    }
    DWORD ms = GetTickCount() - t0;
    TerminateThread(dog, 0);
    CloseHandle(dog);
    printf("fuzz %s: %llu files from %zu seeds in %.1f s (seed %llu, first %llu): %llu opened, %llu with tags read\n",
           run.dll, (unsigned long long)done, seeds.size(), ms / 1000.0, (unsigned long long)seed,
           (unsigned long long)first, (unsigned long long)opened, (unsigned long long)tagged);
    g_cur.step = "unloading the module";
    h.Unload();
    g_cur.step = "";
    if (failures == 0) vqtest::RemoveTree(work);
}

TEST(InputFuzz, Mpeg) { RunFuzz({"in_strata.dll", vqfuzz::Format::Mpeg, "mpeg", ".mp3", 1000}); }

TEST(InputFuzz, Wav) { RunFuzz({"in_linear.dll", vqfuzz::Format::Wav, "wav", ".wav", 2000}); }

TEST(InputFuzz, Wma) { RunFuzz({"in_velvet.dll", vqfuzz::Format::Wma, "wma", ".wma", 1000}); }

TEST(InputFuzz, WmaPastData) { RunFuzz({"in_velvet.dll", vqfuzz::Format::WmaPastData, "wma", ".wma", 1000}); }

}  // namespace

// Command-line driver of the file batch engine: loads the modules folder and
// converts the files named on the command line (in ascending path order).
//
// vq_headless [--modules DIR] [--encoder ID] [--dsp ID[:ID...]] [--out DIR]
//             [--pattern TEXT] [--delete] [--log FILE] [--level N] [--priority N] [--time]
//             [--list FILE] FILE...
// --priority N sets the worker thread's priority (a THREAD_PRIORITY_ value, as the Processing page does).
// --list FILE adds the paths of a text file (ANSI or UTF-8), one a line: a
// command line cannot name thousands of files (it ends at 32,767 characters).
// A UTF-16 list is refused, and then nothing is converted.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include "engine.h"
#include "module_loader.h"

namespace {

class DriverActions : public EngineActions {
public:
    bool deleteOriginals = false;
    int priority = THREAD_PRIORITY_NORMAL;  // of the worker thread
    int converted = 0, failed = 0;
    bool DeleteOriginals() override { return deleteOriginals; }
    int ThreadPriority() override { return priority; }
    void FileFinished(const char* path, bool ok) override
    {
        (ok ? converted : failed)++;
        printf("%s: %s\n", ok ? "converted" : "FAILED", path);
    }
};

int FindById(IVqProModule* table[32], int id)
{
    for (int i = 0; i < 32; i++)
        if (table[i] && table[i]->h.Id == id)
            return i;
    return -1;
}

// Adds every line of a list file as a path; false when the file cannot be
// read, is UTF-16 text or a path is refused.
bool AddListed(SortedFileRows* files, const char* listFile, bool* anyFile)
{
    char refused[EnginePathChars + 2] = "";
    int added = 0;
    ListFileResult result = AddListFile(files, listFile, &added, refused, sizeof(refused));
    if (added > 0)
        *anyFile = true;
    switch (result) {
    case ListFileResult::Added:
        return true;
    case ListFileResult::Unreadable:
        fprintf(stderr, "cannot read the list file %s\n", listFile);
        break;
    case ListFileResult::Utf16:
        fprintf(stderr, "the list file %s is UTF-16 text; save it as UTF-8 or ANSI text, one path a line\n", listFile);
        break;
    case ListFileResult::PathRefused:
        fprintf(stderr, "path refused (too long for a track record): %s\n", refused);
        break;
    }
    return false;
}

bool SetTextSetting(IVqProModule* m, int index, const char* value)
{
    SettingRecord rec;
    if (m->h.GetSetting(&rec, index, VQ_HOST_SECTION, nullptr) != (int)SettingType::Text)
        return false;
    memset(rec.currentValue, 0, sizeof(rec.currentValue));
    if (strlen(value) >= sizeof(rec.currentValue))
        return false;
    strcpy((char*)rec.currentValue, value);
    return m->h.SetSetting(&rec, index, VQ_HOST_SECTION, nullptr) >= 0;
}

// User and kernel time of every thread of the process so far.
double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0.0;
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}}, u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (double)(k.QuadPart + u.QuadPart) / 1e7;
}

int Usage()
{
    fprintf(stderr, "usage: vq_headless [--modules DIR] [--encoder ID] [--dsp ID[:ID...]] [--out DIR]\n"
                    "                   [--pattern TEXT] [--delete] [--log FILE] [--level N] [--priority N]\n"
                    "                   [--time] [--list FILE] FILE...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string modulesDir, outDir, pattern, dspIds, logFile = "vq_headless.log";
    int encoderId = 1, logLevel = 15;
    bool timing = false;
    DriverActions actions;
    SortedFileRows files;
    bool anyFile = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--modules" && hasValue) modulesDir = argv[++i];
        else if (a == "--encoder" && hasValue) encoderId = atoi(argv[++i]);
        else if (a == "--dsp" && hasValue) dspIds = argv[++i];
        else if (a == "--out" && hasValue) outDir = argv[++i];
        else if (a == "--pattern" && hasValue) pattern = argv[++i];
        else if (a == "--log" && hasValue) logFile = argv[++i];
        else if (a == "--level" && hasValue) logLevel = atoi(argv[++i]);
        else if (a == "--priority" && hasValue) actions.priority = atoi(argv[++i]);
        else if (a == "--delete") actions.deleteOriginals = true;
        else if (a == "--time") timing = true;
        else if (a == "--list" && hasValue) {
            if (!AddListed(&files, argv[++i], &anyFile)) return 2;
        }
        else if (a.size() > 1 && a[0] == '-' && a[1] == '-') return Usage();
        else if (!files.Add(a.c_str())) {
            fprintf(stderr, "path refused (too long for a track record): %s\n", a.c_str());
            return 2;
        } else anyFile = true;
    }
    if (!anyFile)
        return Usage();

    char logPath[MAX_PATH];
    GetFullPathNameA(logFile.c_str(), sizeof(logPath), logPath, nullptr);
    static IVqProModule *inputs[32], *encoders[32], *captures[32], *dsps[32];
    const char* folder = modulesDir.empty() ? nullptr : modulesDir.c_str();
    LoadModules(folder, KindInput, inputs, logPath, &logLevel);
    LoadModules(folder, KindEncoder, encoders, logPath, &logLevel);
    LoadModules(folder, KindCapture, captures, logPath, &logLevel);
    LoadModules(folder, KindDsp, dsps, logPath, &logLevel);

    EngineContext ctx;
    EngineContextInit(&ctx);
    ctx.modules = {inputs, encoders, captures, dsps};
    ctx.encoderIndex = FindById(encoders, encoderId);
    int rc = 0;
    if (ctx.encoderIndex < 0) {
        fprintf(stderr, "no encoder module with id %d\n", encoderId);
        rc = 3;
    }
    int positions = 0;
    for (size_t start = 0; rc == 0 && !dspIds.empty() && start <= dspIds.size();) {
        size_t end = dspIds.find(':', start);
        if (end == std::string::npos) end = dspIds.size();
        int slot = FindById(dsps, atoi(dspIds.substr(start, end - start).c_str()));
        if (slot < 0 || positions >= EngineMaxChain) {
            fprintf(stderr, "unknown DSP module in \"%s\"\n", dspIds.c_str());
            rc = 3;
        } else ctx.dspChain[positions++] = slot;
        start = end + 1;
    }
    if (rc == 0) {
        IVqProModule* enc = encoders[ctx.encoderIndex];
        if ((!outDir.empty() && !SetTextSetting(enc, 0, outDir.c_str())) ||
            (!pattern.empty() && !SetTextSetting(enc, 1, pattern.c_str()))) {
            fprintf(stderr, "cannot set the encoder's output settings\n");
            rc = 3;
        }
    }
    if (rc == 0) {
        NullProgressSink sink;
        std::atomic<int> stopFlag{0}, pauseFlag{0};
        ctx.files = &files;
        ctx.sink = &sink;
        ctx.actions = &actions;
        ctx.stopFlag = &stopFlag;
        ctx.pauseFlag = &pauseFlag;
        ctx.displayName = "PylSoft Batch Converter";
        ctx.logFile = logPath;
        ctx.logLevel = &logLevel;
        LARGE_INTEGER freq, t0, t1;
        QueryPerformanceFrequency(&freq);
        double cpu0 = ProcessCpuSeconds();
        QueryPerformanceCounter(&t0);
        ProccessFiles(&ctx);
        QueryPerformanceCounter(&t1);
        double cpu = ProcessCpuSeconds() - cpu0;
        if (timing) {
            PROCESS_MEMORY_COUNTERS pmc;
            memset(&pmc, 0, sizeof(pmc));
            pmc.cb = sizeof(pmc);
            GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
            printf("engine-seconds %.3f peak-working-set-kb %lu peak-pagefile-kb %lu cpu-seconds %.3f\n",
                   (double)(t1.QuadPart - t0.QuadPart) / (double)freq.QuadPart,
                   (unsigned long)(pmc.PeakWorkingSetSize / 1024), (unsigned long)(pmc.PeakPagefileUsage / 1024), cpu);
        }
        rc = actions.failed ? 1 : 0;
    }
    UnloadModules(inputs);
    UnloadModules(encoders);
    UnloadModules(captures);
    UnloadModules(dsps);
    fflush(stdout);
    return rc;
}

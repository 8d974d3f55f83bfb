// Test helper: converts files through the file batch engine with the input
// modules and the WAV encoder of a modules folder, without a DSP chain.
#pragma once
#include <windows.h>
#include <string.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine.h"
#include "module_loader.h"

namespace vqtest {

class BatchActions : public EngineActions {
public:
    std::vector<std::string> converted, failed;
    bool deleteOriginals = false;
    void FileFinished(const char* path, bool ok) override { (ok ? converted : failed).push_back(path); }
    bool DeleteOriginals() override { return deleteOriginals; }
};

struct BatchRun {
    int inputsLoaded = 0, encodersLoaded = 0, result = -1;
    BatchActions actions;
};

inline bool SetHostText(IVqProModule* m, int index, const std::string& value)
{
    SettingRecord r;
    if (m->h.GetSetting(&r, index, VQ_HOST_SECTION, nullptr) != (int)SettingType::Text) return false;
    memset(r.currentValue, 0, sizeof(r.currentValue));
    strcpy((char*)r.currentValue, value.c_str());
    return m->h.SetSetting(&r, index, VQ_HOST_SECTION, nullptr) >= 0;
}

// Loads the folder's modules, points the encoder at `outDir` with the name
// pattern "%f.wav" (or `pattern`) and converts `paths`; warnings and errors
// are logged to `log`. Optionally with "Delete original files" on, and a sink
// and clock of the caller's.
inline BatchRun ConvertFiles(const std::string& modsDir, const std::vector<std::string>& paths,
                             const std::string& outDir, const std::string& log, bool deleteOriginals = false,
                             EngineProgressSink* shown = nullptr, EngineClock* clock = nullptr,
                             const char* pattern = "%f.wav")
{
    BatchRun run;
    run.actions.deleteOriginals = deleteOriginals;
    int level = 7;
    static IVqProModule *inputs[32], *encoders[32], *captures[32], *dsps[32];
    run.inputsLoaded = LoadModules(modsDir.c_str(), KindInput, inputs, log.c_str(), &level);
    run.encodersLoaded = LoadModules(modsDir.c_str(), KindEncoder, encoders, log.c_str(), &level);
    if (run.encodersLoaded == 1 && SetHostText(encoders[0], 0, outDir) && SetHostText(encoders[0], 1, pattern)) {
        SortedFileRows rows;
        bool listed = true;
        for (const std::string& p : paths) listed = rows.Add(p.c_str()) && listed;
        std::atomic<int> stop{0}, pause{0};
        NullProgressSink sink;
        EngineContext ctx;
        EngineContextInit(&ctx);
        ctx.modules = {inputs, encoders, captures, dsps};
        ctx.encoderIndex = 0;
        ctx.files = &rows;
        ctx.sink = shown ? shown : &sink;
        ctx.clock = clock;
        ctx.actions = &run.actions;
        ctx.stopFlag = &stop;
        ctx.pauseFlag = &pause;
        ctx.logFile = log.c_str();
        ctx.logLevel = &level;
        if (listed) run.result = ProccessFiles(&ctx);
    }
    UnloadModules(inputs);
    UnloadModules(encoders);
    return run;
}

}  // namespace vqtest

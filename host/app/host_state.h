// Process-wide state of the host program: its twelve settings, its own module
// record, the module tables, the wizard pages, the flags shared with the
// worker threads, and the seams through which tests replace calls that would
// block or act on the machine.
#pragma once
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <atomic>
#include "setting_record.h"
#include "vq_module.h"

class EngineClock;

enum HostSettingIndex {
    SetEncoderSource = 0,
    SetEncoderModule = 1,
    SetDspChain = 2,
    SetTimeLimit = 3,
    SetSilenceDetection = 4,
    SetSilenceLength = 5,
    SetMaximumSilence = 6,
    SetDeleteOriginals = 7,
    SetLogFile = 8,
    SetLogLevel = 9,
    SetModuleDirectory = 10,
    SetCheckUpdates = 11,
    HostSettingCount = 12
};

enum PageIndex { PageSource = 0, PageFiles = 1, PageDsp = 2, PageEncoder = 3, PageProcessing = 4, PageCount = 5 };

// Private page messages; numbered from WM_APP so they never meet the dialog
// manager's own WM_USER-based messages (DM_GETDEFID is WM_USER + 0).
enum : UINT {
    PAGE_SHOWCAPTURE = WM_APP + 0,
    PAGE_LOCKTAGS = WM_APP + 1,
};

// Replaceable calls: the defaults go to the system; tests install fakes.
struct HostSeams {
    BOOL(WINAPI* exitWindows)(UINT flags, DWORD reason);
    HINSTANCE(WINAPI* shellOpen)(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir, INT show);
    int(WINAPI* messageBox)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
    BOOL(WINAPI* getOpenFileName)(OPENFILENAMEA* ofn);
    BOOL(WINAPI* getSaveFileName)(OPENFILENAMEA* ofn);
    // Folder browser: fills path (MAX_PATH bytes) and returns TRUE when a folder was chosen.
    BOOL (*browseForFolder)(HWND owner, const char* title, char* path);
    // Module loading at start-up (default: the loader on "Module Directory").
    int (*loadModules)(const char* folder, int kind, IVqProModule* table[32], const char* logFile, int* logLevel);
    int (*unloadModules)(IVqProModule* table[32]);
    // Clock of the engine runs (NULL: the system clock).
    EngineClock* engineClock;
    // Told every start-up status text as it is shown on the splash (NULL: nobody).
    void (*startupStatus)(const char* text);
};
extern HostSeams g_seams;
void ResetHostSeams();

struct HostState {
    HINSTANCE hInstance = nullptr;
    SettingRecord settings[HostSettingCount];
    char versionText[64] = {};

    HWND mainDialog = nullptr;
    HWND pages[PageCount] = {};
    int currentPage = 0;
    HBRUSH mainBrush = nullptr;

    std::atomic<int> sourceIsFiles{1};
    std::atomic<int> stopFlag{0};
    std::atomic<int> pauseFlag{0};
    std::atomic<HANDLE> workerThread{nullptr};
    std::atomic<int> fileCount{0};

    IVqProModule* inputModules[32] = {};
    IVqProModule* encoderModules[32] = {};
    IVqProModule* captureModules[32] = {};
    IVqProModule* dspModules[32] = {};
    int dspChain[32];

    // Set when the main dialog has finished its initialisation (tests wait for it).
    std::atomic<int> ready{0};
};
extern HostState g_host;
extern IVqProModule g_hostModule;

// Settings: typed views of the current values in g_host.settings.
int32_t HostInt32(int index);
int16_t HostInt16(int index);
double HostDouble(int index);
const char* HostText(int index);
void SetHostInt32(int index, int32_t v);
void SetHostInt16(int index, int16_t v);
void SetHostDouble(int index, double v);
void SetHostText(int index, const char* text);
char* HostLogFile();   // address handed to modules as logFile
int* HostLogLevel();   // address handed to modules as logLevel

// Builds the twelve settings with their defaults and fills the host record.
void BuildHostSettings(HINSTANCE instance);
// One record re-read from / written to the host INI ("Default").
void ReadHostSetting(int index);
void StoreHostSetting(int index);

// Threads the host started (engine workers, folder scans): every one is kept
// so the exit wait can reach them all; workerThread holds the last one.
void RegisterHostThread(HANDLE thread, bool isScan);
// Waits up to timeoutMs for every registered thread (the same time for each),
// terminating those still running. Returns the kinds of terminated threads:
// bit 0 a folder scan, bit 1 an engine worker.
int WaitForHostThreads(DWORD timeoutMs);
// Number of registered threads still running.
int RunningHostThreads();

// Loaded string resource (static per-call ring of buffers; for short texts).
const char* LoadStr(UINT id);

// Host log line with the level test made first.
void HostLog(const char* cls, const char* fn, int line, int level, const char* text);

#include <windows.h>
#include "host_state.h"
#include <commdlg.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>
#include <mutex>
#include <vector>
#include "module_loader.h"
#include "pyl_comlib.h"
#include "pyl_config.h"
#include "resource.h"
#include "vq_log.h"

HostState g_host;
HostSeams g_seams;

static BOOL BrowseForFolderDefault(HWND owner, const char* title, char* path)
{
    BROWSEINFOA bi = {};
    char display[MAX_PATH] = {};
    bi.hwndOwner = owner;
    bi.pszDisplayName = display;
    bi.lpszTitle = title;
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
    LPITEMIDLIST pidl = SHBrowseForFolderA(&bi);
    if (!pidl)
        return FALSE;
    BOOL ok = SHGetPathFromIDListA(pidl, path);
    CoTaskMemFree(pidl);
    return ok;
}

void ResetHostSeams()
{
    g_seams.exitWindows = ExitWindowsEx;
    g_seams.shellOpen = ShellExecuteA;
    g_seams.messageBox = MessageBoxA;
    g_seams.getOpenFileName = GetOpenFileNameA;
    g_seams.getSaveFileName = GetSaveFileNameA;
    g_seams.browseForFolder = BrowseForFolderDefault;
    g_seams.loadModules = LoadModules;
    g_seams.unloadModules = UnloadModules;
    g_seams.engineClock = nullptr;
    g_seams.startupStatus = nullptr;
}

namespace {
struct SeamInit {
    SeamInit() { ResetHostSeams(); }
} s_seamInit;
}

// ---- settings ---------------------------------------------------------------

int32_t HostInt32(int i) { return SettingLoad<int32_t>(g_host.settings[i].currentValue); }
int16_t HostInt16(int i) { return SettingLoad<int16_t>(g_host.settings[i].currentValue); }
double HostDouble(int i) { return SettingLoad<double>(g_host.settings[i].currentValue); }
const char* HostText(int i) { return reinterpret_cast<const char*>(g_host.settings[i].currentValue); }
void SetHostInt32(int i, int32_t v) { SettingStore<int32_t>(g_host.settings[i].currentValue, v); }
void SetHostInt16(int i, int16_t v) { SettingStore<int16_t>(g_host.settings[i].currentValue, v); }
void SetHostDouble(int i, double v) { SettingStore<double>(g_host.settings[i].currentValue, v); }
void SetHostText(int i, const char* text)
{
    char* dst = reinterpret_cast<char*>(g_host.settings[i].currentValue);
    lstrcpynA(dst, text ? text : "", sizeof(g_host.settings[i].currentValue));
}
char* HostLogFile() { return reinterpret_cast<char*>(g_host.settings[SetLogFile].currentValue); }
int* HostLogLevel() { return reinterpret_cast<int*>(g_host.settings[SetLogLevel].currentValue); }

static SettingRecord* InitRecord(int index, const char* name, SettingType type, ConstraintMode mode)
{
    SettingRecord* r = &g_host.settings[index];
    memset(r, 0, sizeof(*r));
    lstrcpynA(r->name, name, sizeof(r->name));
    r->type = static_cast<int32_t>(type);
    r->editor = static_cast<int32_t>(EditorKind::Edit);
    r->constraint = static_cast<int32_t>(mode);
    return r;
}

template <typename T> static void SetDefault(SettingRecord* r, T v)
{
    SettingStore<T>(r->defaultValue, v);
    SettingStore<T>(r->currentValue, v);
}

// A number setting kept within [lo, hi]; with a two-entry list mode, lo and hi
// are the list's values.
template <typename T>
static void InitRanged(int index, const char* name, SettingType type, T lo, T hi, T def,
                       ConstraintMode mode = ConstraintMode::Range)
{
    SettingRecord* r = InitRecord(index, name, type, mode);
    SettingStore<T>(r->limits, lo, 0);
    SettingStore<T>(r->limits, hi, 1);
    SetDefault<T>(r, def);
}

static void SetDefaultText(SettingRecord* r, const char* text)
{
    lstrcpynA(reinterpret_cast<char*>(r->defaultValue), text, sizeof(r->defaultValue));
    lstrcpynA(reinterpret_cast<char*>(r->currentValue), text, sizeof(r->currentValue));
}

static int __cdecl HostGetSetting(SettingRecord* out, int index, const char* section, void*)
{
    if (index < 0 || index >= HostSettingCount || !out)
        return -1;
    *out = g_host.settings[index];
    PylConfigRead(out, 1, section, g_host.hInstance);
    return out->type;
}

static int __cdecl HostSetSetting(const SettingRecord* in, int index, const char* section, void*)
{
    if (index < 0 || index >= HostSettingCount || !in)
        return -1;
    g_host.settings[index] = *in;
    PylConfigWrite(&g_host.settings[index], 1, section, g_host.hInstance);
    return in->type;
}

static int __cdecl HostQuerySetting(SettingRecord* out, int index, void*)
{
    if (index < 0 || index >= HostSettingCount || !out)
        return 0;
    *out = g_host.settings[index];
    return 1;
}

int ShowOptionsDialog(HWND parent);  // options.cpp

static int __cdecl HostConfigure(HWND parent, const char*, void*)
{
    ShowOptionsDialog(parent);
    return 0;
}

IVqProModule g_hostModule = {{
    VQ_VERSION(1, 0, 7, 180),
    nullptr,
    KindGeneral,
    1,
    "PylSoftBatchConverter",
    "PylSoft Batch Converter",
    "PylSoft Batch Converter v1.0.7.180\n"
    "Written by the PylSoft team.\n"
    "Built " __DATE__ ".",
    nullptr,
    nullptr,
    nullptr,
    HostGetSetting,
    HostSetSetting,
    HostQuerySetting,
    VqNoSubModule,
    HostConfigure,
}, {}};

void BuildHostSettings(HINSTANCE instance)
{
    g_host.hInstance = instance;
    g_hostModule.h.hInstance = instance;

    SettingRecord* r;
    r = InitRecord(SetEncoderSource, "Encoder Source", SettingType::Int32, ConstraintMode::MinOnly);
    SettingStore<int32_t>(r->limits, 0);
    SetDefault<int32_t>(r, 0);
    r = InitRecord(SetEncoderModule, "Encoder Module", SettingType::Int32, ConstraintMode::MinOnly);
    SettingStore<int32_t>(r->limits, 0);
    SetDefault<int32_t>(r, 1);
    r = InitRecord(SetDspChain, "DSP Chain", SettingType::Text, ConstraintMode::Fixed);
    SetDefaultText(r, "");
    InitRanged<int32_t>(SetTimeLimit, "Encoding Time Limit", SettingType::Int32, 5, 86400, 3600);
    InitRanged<int16_t>(SetSilenceDetection, "Silence Detection", SettingType::Int16, 0, 1, 0);
    InitRanged<double>(SetSilenceLength, "Silence Lenght", SettingType::Double, 0.5, 10.0, 3.0);
    InitRanged<double>(SetMaximumSilence, "Maximum Silence", SettingType::Double, 5.0, 60.0, 10.0);
    InitRanged<int16_t>(SetDeleteOriginals, "Delete original files", SettingType::Int16, 0, 1, 0);
    r = InitRecord(SetLogFile, "Log File", SettingType::Text, ConstraintMode::Fixed);
    char path[1024] = {};
    ChangeFileExt(instance, "log", path, sizeof(path));
    SetDefaultText(r, path);
    r = InitRecord(SetLogLevel, "Log Level", SettingType::Int32, static_cast<ConstraintMode>(4));
    const int32_t levels[4] = {15, 7, 1, 3};
    for (int i = 0; i < 4; i++)
        SettingStore<int32_t>(r->limits, levels[i], i);
    SetDefault<int32_t>(r, 15);
    r = InitRecord(SetModuleDirectory, "Module Directory", SettingType::Text, ConstraintMode::Fixed);
    char common[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, common, CSIDL_PROGRAM_FILES_COMMON, FALSE);
    char dir[1024];
    snprintf(dir, sizeof(dir), "%s\\PylSoft\\Modules", common);
    SetDefaultText(r, dir);
    InitRanged<int16_t>(SetCheckUpdates, "Check updates", SettingType::Int16, 0, 1, 1, static_cast<ConstraintMode>(2));

    snprintf(g_host.versionText, sizeof(g_host.versionText), "v%d.%d.%d.%d",
             (int)(g_hostModule.h.Version >> 28 & 0xF), (int)(g_hostModule.h.Version >> 24 & 0xF),
             (int)(g_hostModule.h.Version >> 16 & 0xFF), (int)(g_hostModule.h.Version & 0xFFFF));
    g_hostModule.h.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM));
    for (int i = 0; i < 32; i++)
        g_host.dspChain[i] = -1;
}

void ReadHostSetting(int index)
{
    PylConfigRead(&g_host.settings[index], 1, nullptr, g_host.hInstance);
}

void StoreHostSetting(int index)
{
    PylConfigWrite(&g_host.settings[index], 1, nullptr, g_host.hInstance);
}

// ---- threads ----------------------------------------------------------------

namespace {
struct HostThread {
    HANDLE handle;
    bool isScan;
};
std::mutex s_threadLock;
std::vector<HostThread> s_threads;
}

void RegisterHostThread(HANDLE thread, bool isScan)
{
    if (!thread)
        return;
    HANDLE keep = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &keep, 0, FALSE, DUPLICATE_SAME_ACCESS);
    {
        std::lock_guard<std::mutex> lock(s_threadLock);
        // Forget threads that have already ended.
        for (size_t i = 0; i < s_threads.size();) {
            if (WaitForSingleObject(s_threads[i].handle, 0) == WAIT_OBJECT_0) {
                CloseHandle(s_threads[i].handle);
                s_threads.erase(s_threads.begin() + i);
            } else {
                i++;
            }
        }
        if (keep)
            s_threads.push_back({keep, isScan});
    }
    HANDLE old = g_host.workerThread.exchange(thread);
    if (old)
        CloseHandle(old);
}

// Waits while still carrying out messages sent to this thread's windows, so a
// worker blocked in SendMessage towards the UI thread can finish.
static DWORD WaitPumping(HANDLE h, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return WaitForSingleObject(h, 0);
        DWORD r = MsgWaitForMultipleObjects(1, &h, FALSE, timeoutMs - elapsed, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1)
            return r;
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

int WaitForHostThreads(DWORD timeoutMs)
{
    std::vector<HostThread> threads;
    {
        std::lock_guard<std::mutex> lock(s_threadLock);
        threads.swap(s_threads);
    }
    int terminated = 0;
    for (auto& t : threads) {
        if (WaitPumping(t.handle, timeoutMs) != WAIT_OBJECT_0) {
            TerminateThread(t.handle, (DWORD)-1);
            terminated |= t.isScan ? 1 : 2;
        }
        CloseHandle(t.handle);
    }
    HANDLE last = g_host.workerThread.exchange(nullptr);
    if (last)
        CloseHandle(last);
    return terminated;
}

int RunningHostThreads()
{
    std::lock_guard<std::mutex> lock(s_threadLock);
    int n = 0;
    for (auto& t : s_threads)
        if (WaitForSingleObject(t.handle, 0) == WAIT_TIMEOUT)
            n++;
    return n;
}

const char* LoadStr(UINT id)
{
    static thread_local char ring[8][1024];
    static thread_local int next = 0;
    char* buf = ring[next];
    next = (next + 1) % 8;
    if (!LoadStringA(g_host.hInstance ? g_host.hInstance : GetModuleHandleA(nullptr), id, buf, sizeof(ring[0])))
        buf[0] = 0;
    return buf;
}

void HostLog(const char* cls, const char* fn, int line, int level, const char* text)
{
    if (LogLevelPasses(level, HostLogLevel()))
        LogMessage(cls, fn, line, text, level, HostLogFile());
}

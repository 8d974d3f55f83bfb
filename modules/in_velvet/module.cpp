// Windows Media Audio input module: the module record, the placeholder
// setting, the table of open streams and the input operations, each of which
// forwards to the stream's CWmaFlt.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <new>

#include "pyl_config.h"
#include "resource.h"
#include "vq_log.h"
#include "vq_module.h"
#include "wma_flt.h"

extern IVqProModule g_module;

namespace {

const char kClass[] = "PylSoftWMAInputModule";
constexpr int kSlots = 256;

const char* g_logFile = nullptr;
int* g_logLevel = nullptr;  // kept; every message is written whatever the level
HRESULT g_comInit = E_FAIL;
SettingRecord g_settings[1];

struct Slot {
    CWmaFlt* flt;
    bool ready;     // opened: GetTagEx and SetTagEx may use it
    bool closing;   // a Close has taken it
    HRESULT com;    // COM initialisation of the opening thread, ended by a Close on that thread
    DWORD thread;
};
Slot g_slots[kSlots];

// Open, Close, GetTagEx and SetTagEx come from several threads of the host:
// the table and the track information of its streams are used under this lock.
struct TableLock {
    CRITICAL_SECTION cs;
    TableLock() { InitializeCriticalSection(&cs); }
    ~TableLock() { DeleteCriticalSection(&cs); }
} g_table;

struct TableGuard {
    TableGuard() { EnterCriticalSection(&g_table.cs); }
    ~TableGuard() { LeaveCriticalSection(&g_table.cs); }
    TableGuard(const TableGuard&) = delete;
    TableGuard& operator=(const TableGuard&) = delete;
};

CWmaFlt* FindStream(void* handle)
{
    if (!handle) return nullptr;
    TableGuard guard;
    for (const Slot& s : g_slots)
        if (s.flt == handle && s.ready) return s.flt;
    return nullptr;
}

void BuildDummySetting(SettingRecord* r)
{
    memset(r, 0, sizeof *r);
    strcpy(r->name, "Dummy");
    strcpy(r->description, "Dummy value");
    r->type = (int32_t)SettingType::Int32;
    r->step = 1.0;
    r->editor = (int32_t)EditorKind::CheckBox;
    r->constraint = 2;
    SettingStore<int32_t>(r->limits, 0, 0);
    SettingStore<int32_t>(r->limits, 1, 1);
}

int __cdecl CloseOp(void* handle);

int __cdecl InitModuleOp(const char* logFile, int* logLevel)
{
    g_logFile = nullptr;
    HRESULT hr = CoInitialize(nullptr);
    // A thread already in the multithreaded apartment can use the runtime as it is.
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
        velvet::Message(IDS_COINIT_FAILED, "InitModule", 158, hr);
        return hr;
    }
    g_comInit = hr;
    memset(g_settings, 0, sizeof g_settings);
    {
        TableGuard guard;
        memset(g_slots, 0, sizeof g_slots);
    }
    g_module.h.hIcon = static_cast<HICON>(
        LoadImageA(g_module.h.hInstance, MAKEINTRESOURCEA(IDI_VELVET), IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
    BuildDummySetting(&g_settings[0]);
    PylConfigRead(g_settings, 1, nullptr, g_module.h.hInstance);
    g_logFile = logFile;
    g_logLevel = logLevel;
    return 1;
}

int __cdecl QuitModuleOp(void)
{
    for (int i = 0; i < kSlots; ++i) {
        CWmaFlt* flt;
        {
            TableGuard guard;
            flt = g_slots[i].ready && !g_slots[i].closing ? g_slots[i].flt : nullptr;
        }
        if (flt) CloseOp(flt);
    }
    PylConfigWrite(g_settings, 1, nullptr, g_module.h.hInstance);
    if (SUCCEEDED(g_comInit)) CoUninitialize();
    g_comInit = E_FAIL;
    return 1;
}

int __cdecl GetSettingOp(SettingRecord* out, int index, const char*, void*)
{
    if (index != 0) return -1;
    if (out) *out = g_settings[0];
    return g_settings[0].type;
}

int __cdecl SetSettingOp(const SettingRecord* in, int index, const char*, void*)
{
    if (index == 0 && in) g_settings[0] = *in;
    return 0;
}

int __cdecl QuerySettingOp(SettingRecord* out, int index, void*)
{
    if (index != 0) return 0;
    if (out) *out = g_settings[0];
    return 1;
}

int __cdecl ConfigureOp(HWND, const char*, void*) { return -1; }

int __cdecl IsOurFileOp(const char* path)
{
    if (!path) return 0;
    const char* dot = strrchr(path, '.');
    if (!dot) return 0;
    return _stricmp(dot + 1, "wma") == 0 || _stricmp(dot + 1, "asx") == 0 ? 1 : 0;
}

// A new stream object; when it cannot be made, the "not enough memory" message.
CWmaFlt* NewStream(const char* operation, int line)
{
    HRESULT made = E_OUTOFMEMORY;
    CWmaFlt* flt = new (std::nothrow) CWmaFlt(&made);
    if (!flt || FAILED(made)) {
        delete flt;
        velvet::Message(IDS_NO_MEMORY, operation, line);
        return nullptr;
    }
    return flt;
}

void* __cdecl OpenOp(const char* path, const StreamFormat* wanted)
{
    if (!path) {
        velvet::Message(IDS_NULL_FILENAME, "Open", 368);
        return nullptr;
    }
    // COM stays initialised on this thread while the stream is open.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CWmaFlt* flt = nullptr;
    int slot = -1;
    {
        TableGuard guard;
        for (int i = 0; i < kSlots && !flt; ++i) {
            if (g_slots[i].flt) continue;
            CWmaFlt* candidate = NewStream("Open", 421);
            if (!candidate) continue;
            g_slots[i] = Slot{candidate, false, false, com, GetCurrentThreadId()};
            flt = candidate;
            slot = i;
        }
    }
    if (!flt) {
        if (SUCCEEDED(com)) CoUninitialize();
        return nullptr;
    }
    WAVEFORMATEX format, *wantedFormat = nullptr;
    if (wanted) {
        memset(&format, 0, sizeof format);
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = (WORD)wanted->channels;
        format.nSamplesPerSec = (DWORD)wanted->sampleRate;
        format.nAvgBytesPerSec = (DWORD)wanted->avgBytesPerSec;
        format.nBlockAlign = (WORD)(wanted->bitsPerSample * wanted->channels / 8);
        format.wBitsPerSample = (WORD)wanted->bitsPerSample;
        wantedFormat = &format;
    }
    HRESULT hr = flt->Open(path, wantedFormat);
    if (FAILED(hr)) {
        velvet::Message(IDS_OPEN_FAILED, "Open", 407, path);
        {
            TableGuard guard;
            g_slots[slot] = Slot{};
        }
        CWmaFlt::Dispose(flt);
        if (SUCCEEDED(com)) CoUninitialize();
        return nullptr;
    }
    flt->FillTrackInfo();
    TableGuard guard;
    g_slots[slot].ready = true;
    return flt;
}

int __cdecl ReadOp(char* buffer, int bytes, void* handle)
{
    CWmaFlt* flt = FindStream(handle);
    if (!flt) {
        velvet::Message(IDS_READ_HANDLE, "Read", 452);
        return 0;
    }
    return flt->Read(buffer, bytes);
}

int __cdecl SetTimeOp(double seconds, void* handle)
{
    CWmaFlt* flt = FindStream(handle);
    if (!flt) {
        velvet::Message(IDS_SETTIME_HANDLE, "SetTime", 484);
        return 0;
    }
    ComScope com;
    return flt->SetPosition(seconds);
}

double __cdecl GetTimeOp(int what, void* handle)
{
    CWmaFlt* flt = FindStream(handle);
    if (!flt) {
        velvet::Message(IDS_GETTIME_HANDLE, "GetTime", 546);
        return -1.0;
    }
    switch (what) {
    case 0: return flt->GetPosition();
    case 1: return flt->GetDuration() - flt->GetPosition();
    case 2: return flt->GetDuration();
    default: return 0.0;
    }
}

int __cdecl GetPcmFormatOp(StreamFormat* out, void* handle)
{
    CWmaFlt* flt = FindStream(handle);
    if (!flt) {
        velvet::Message(IDS_GETFORMAT_HANDLE, "GetPcmFormat", 595);
        return 0;
    }
    WAVEFORMATEX format;
    if (!out || !flt->GetPcmFormat(&format)) return 0;
    out->channels = format.nChannels;
    out->sampleRate = (int32_t)format.nSamplesPerSec;
    out->avgBytesPerSec = (int32_t)format.nAvgBytesPerSec;
    out->blockAlign = format.nBlockAlign;
    out->bitsPerSample = format.wBitsPerSample;
    return 1;
}

int __cdecl GetTagOp(TrackInfo* out, void* handle)
{
    CWmaFlt* flt = FindStream(handle);
    if (!flt) {
        velvet::Message(IDS_GETTAG_HANDLE, "GetTag", 633);
        return 0;
    }
    if (!out) return 0;
    TableGuard guard;
    memcpy(out, &flt->m_trackInfo, sizeof *out);
    return 1;
}

// The open stream of a path (the first in slot order, letter case ignored),
// or -1. The caller holds the table lock.
int OpenSlotOf(const TrackInfo* record)
{
    velvet::RecordPathText path;
    velvet::RecordPath(record, path);
    for (int i = 0; i < kSlots; ++i)
        if (g_slots[i].flt && g_slots[i].ready && _stricmp(g_slots[i].flt->m_path, path) == 0) return i;
    return -1;
}

int __cdecl GetTagExOp(TrackInfo* io)
{
    if (!io) {
        velvet::Message(IDS_NULL_FILENAME, "GetTagEx", 667);
        return 0;
    }
    {
        // An open file is never opened a second time; the copy is made while
        // no Close can free the stream.
        TableGuard guard;
        int slot = OpenSlotOf(io);
        if (slot >= 0) {
            memcpy(io, &g_slots[slot].flt->m_trackInfo, sizeof *io);
            return 1;
        }
    }
    ComScope com;
    CWmaFlt* flt = NewStream("GetTagEx", 709);
    if (!flt) return 0;
    velvet::RecordPathText path;
    velvet::RecordPath(io, path);
    HRESULT hr = flt->GetID3Ex(io);
    delete flt;
    if (FAILED(hr)) {
        velvet::Message(IDS_OPEN_FAILED, "GetTagEx", 698, path);
        return 0;
    }
    return 1;
}

int __cdecl SetTagExOp(const TrackInfo* in)
{
    if (!in) {
        velvet::Message(IDS_NULL_FILENAME, "SetTagEx", 740);
        return 0;
    }
    {
        // The reader holds the file: the stream writes it when it is closed.
        TableGuard guard;
        int slot = OpenSlotOf(in);
        if (slot >= 0) {
            CWmaFlt* flt = g_slots[slot].flt;
            memcpy(&flt->m_trackInfo, in, sizeof *in);
            InterlockedExchange(&flt->m_tagsChanged, 1);
            return 1;
        }
    }
    ComScope com;
    CWmaFlt* flt = NewStream("SetTagEx", 783);
    if (!flt) return 0;
    HRESULT hr = flt->SetXTagEx(in);
    delete flt;
    if (FAILED(hr)) {
        velvet::RecordPathText path;
        velvet::RecordPath(in, path);
        velvet::Message(IDS_OPEN_FAILED, "SetTagEx", 774, path);
        return 0;
    }
    return 1;
}

int __cdecl CloseOp(void* handle)
{
    int slot = -1;
    if (handle) {
        TableGuard guard;
        for (int i = 0; i < kSlots && slot < 0; ++i)
            if (g_slots[i].flt == handle && g_slots[i].ready && !g_slots[i].closing) slot = i;
        if (slot >= 0) g_slots[slot].closing = true;
    }
    if (slot < 0) {
        velvet::Message(IDS_CLOSE_HANDLE, "Close", 813);
        return 0;
    }
    CWmaFlt* flt = static_cast<CWmaFlt*>(handle);
    Slot taken;
    {
        ComScope com;
        flt->Stop();
        {
            TableGuard guard;
            taken = g_slots[slot];
            g_slots[slot] = Slot{};
        }
        // The reader has let go of the file: pending tag changes can be written
        // (a reader left behind still holds it).
        if (flt->m_tagsChanged && !flt->m_abandoned) flt->SetXTagEx(&flt->m_trackInfo);
        CWmaFlt::Dispose(flt);
    }
    if (SUCCEEDED(taken.com) && taken.thread == GetCurrentThreadId()) CoUninitialize();
    return 1;
}

}  // namespace

IVqProModule g_module = {
    {VQ_VERSION(1, 0, 8, 87), nullptr, KindInput, 2, kClass, "PylSoft Windows Media Audio Input Module",
     "PylSoft Windows Media Audio Input Module v1.0.8.87\n\nWritten by the PylSoft audio team.\nBuilt " __DATE__ ".",
     nullptr, InitModuleOp, QuitModuleOp, GetSettingOp, SetSettingOp, QuerySettingOp, VqNoSubModule, ConfigureOp},
    // Input operations, in the record's order.
    {{"Windows Media Audio files (*.wma)\0*.wma\0", IsOurFileOp, OpenOp, ReadOp, SetTimeOp, GetTimeOp,
      GetPcmFormatOp, GetTagOp, GetTagExOp, SetTagExOp, CloseOp}}};

namespace velvet {

void Message(UINT id, const char* operation, int line, ...)
{
    char format[512];
    if (LoadStringA(g_module.h.hInstance, id, format, sizeof format) <= 0) snprintf(format, sizeof format, "#%u", id);
    char text[1024];
    va_list args;
    va_start(args, line);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogMessage(kClass, operation, line, text, LogError, g_logFile);
}

}  // namespace velvet

extern "C" IVqProModule* __cdecl GetModuleInterface(void) { return &g_module; }

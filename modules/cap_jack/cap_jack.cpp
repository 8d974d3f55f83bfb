// Line-in capture module: records from a waveIn device into a ring buffer that
// the host's live-capture engine reads.
#include "cap_jack.h"

#include <stdio.h>
#include <string.h>

#include "pyl_config.h"
#include "resource.h"
#include "ring_buffer.h"
#include "vq_log.h"

namespace capjack {
namespace {

const char kClass[] = "PylSoftLineinCaptureModule";
const char kNoDevice[] = "No audio device installed!\t";
// How often the capture thread looks for room while the ring is full.
const DWORD kRoomPollMs = 10;

const GUID kSubFormatPcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kSubFormatFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

const char* g_logFile;
int* g_logLevel;
SettingRecord g_settings[kSettingCount];
CaptureInstance* g_instances[kMaxInstances];

// The instance table is shared by every thread that opens or closes instances.
struct TableLock {
    CRITICAL_SECTION cs;
    TableLock() { InitializeCriticalSection(&cs); }
    ~TableLock() { DeleteCriticalSection(&cs); }
};
TableLock g_table;

struct TableGuard {
    TableGuard() { EnterCriticalSection(&g_table.cs); }
    ~TableGuard() { LeaveCriticalSection(&g_table.cs); }
};

HINSTANCE ModuleHandle() { return Module()->h.hInstance; }

void LoadText(UINT id, char* out, int size)
{
    if (LoadStringA(ModuleHandle(), id, out, size) <= 0)
        out[0] = 0;
}

void Log(const char* function, int line, UINT id, int level)
{
    if (!LogLevelPasses(level, g_logLevel))
        return;
    char text[512];
    LoadText(id, text, sizeof text);
    LogMessage(kClass, function, line, text, level, g_logFile);
}

// Logs a message followed by the system's text for the error the caller saw.
void LogSystem(const char* function, int line, UINT id, DWORD error)
{
    char text[512];
    LoadText(id, text, sizeof text);
    LogSystemErrorCode(kClass, function, line, text, g_logFile, error);
}

bool IsOpenInstance(void* handle)
{
    if (!handle)
        return false;
    TableGuard guard;
    for (CaptureInstance* inst : g_instances)
        if (inst == handle)
            return true;
    return false;
}

CaptureInstance* FindInstance(void* handle)
{
    return IsOpenInstance(handle) ? static_cast<CaptureInstance*>(handle) : nullptr;
}

int32_t IntValue(const SettingRecord& rec) { return SettingLoad<int32_t>(rec.currentValue); }

void AppendLabel(char* labels, size_t size, const char* text)
{
    size_t used = strlen(labels);
    if (used + 1 >= size)
        return;
    snprintf(labels + used, size - used, "%s", text);
}

void BuildDeviceSetting(SettingRecord* rec)
{
    memset(rec, 0, sizeof *rec);
    strcpy(rec->name, "Input Device");
    strcpy(rec->description, "Audio Input Device");
    rec->type = static_cast<int32_t>(SettingType::Int32);
    rec->editor = static_cast<int32_t>(EditorKind::DropList);
    rec->step = 1.0;
    UINT count = g_waveIn->GetNumDevs();
    // The list holds at most 256 values: the wave mapper and 255 devices.
    if (count > 255)
        count = 255;
    if (count == 0) {
        rec->constraint = 1;
        SettingStore<int32_t>(rec->limits, -1, 0);
        strcpy(rec->labels, kNoDevice);
    } else {
        rec->constraint = static_cast<int32_t>(count) + 1;
        for (int i = -1; i < static_cast<int>(count); ++i) {
            SettingStore<int32_t>(rec->limits, i, i + 1);
            WAVEINCAPSA caps;
            memset(&caps, 0, sizeof caps);
            UINT_PTR id = i < 0 ? static_cast<UINT_PTR>(WAVE_MAPPER) : static_cast<UINT_PTR>(i);
            if (g_waveIn->GetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR)
                snprintf(caps.szPname, sizeof caps.szPname, "%s", i < 0 ? "Wave Mapper" : "?");
            caps.szPname[sizeof caps.szPname - 1] = 0;
            char label[64];
            snprintf(label, sizeof label, "%s\t", caps.szPname);
            AppendLabel(rec->labels, sizeof rec->labels, label);
        }
    }
    SettingStore<int32_t>(rec->defaultValue, -1);
    SettingStore<int32_t>(rec->currentValue, -1);
}

void BuildFormatSetting(SettingRecord* rec)
{
    memset(rec, 0, sizeof *rec);
    strcpy(rec->name, "Sample format");
    strcpy(rec->description, "Sample format used to record audio");
    rec->type = static_cast<int32_t>(SettingType::Int32);
    rec->editor = static_cast<int32_t>(EditorKind::DropList);
    rec->step = 1.0;
    rec->constraint = kFormatCodes;
    EnumerateFormats(-1, rec);
    SettingStore<int32_t>(rec->defaultValue, 11);
    SettingStore<int32_t>(rec->currentValue, 11);
}

void BuildBufferSetting(SettingRecord* rec)
{
    memset(rec, 0, sizeof *rec);
    strcpy(rec->name, "Buffer size");
    strcpy(rec->description, "Size of the buffer used to store the sound data");
    strcpy(rec->unit, "ms");
    rec->type = static_cast<int32_t>(SettingType::Int32);
    rec->editor = static_cast<int32_t>(EditorKind::Slider);
    rec->step = 1.0;
    rec->constraint = static_cast<int32_t>(ConstraintMode::Range);
    SettingStore<int32_t>(rec->limits, 20, 0);
    SettingStore<int32_t>(rec->limits, 3000, 1);
    SettingStore<int32_t>(rec->defaultValue, 300);
    SettingStore<int32_t>(rec->currentValue, 300);
}

void CALLBACK WaveInCallback(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
{
    if (message != WIM_DATA)
        return;
    auto* inst = reinterpret_cast<CaptureInstance*>(instance);
    auto* header = reinterpret_cast<WAVEHDR*>(param1);
    InterlockedExchange(reinterpret_cast<volatile LONG*>(&header->dwUser), HeaderFilled);
    SetEvent(inst->event);
}

DWORD_PTR HeaderStateOf(WAVEHDR* header)
{
    return static_cast<DWORD_PTR>(InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&header->dwUser), 0, 0));
}

// Gives every free header a fresh data buffer and hands it to the device.
void QueueFreeHeaders(CaptureInstance* inst)
{
    for (int i = 0; i < kHeaderCount; ++i) {
        WAVEHDR* h = &inst->headers[i];
        if (HeaderStateOf(h) != HeaderFree)
            continue;
        void* data = HeapAlloc(GetProcessHeap(), 0, kCaptureBufferBytes);
        if (!data)
            continue;  // try again on the next pass
        h->lpData = static_cast<LPSTR>(data);
        h->dwBufferLength = kCaptureBufferBytes;
        h->dwBytesRecorded = 0;
        h->dwFlags = 0;
        h->dwLoops = 0;
        h->dwUser = HeaderQueued;
        if (g_waveIn->PrepareHeader(inst->device, h, sizeof *h) != MMSYSERR_NOERROR) {
            h->dwUser = HeaderFree;
            h->lpData = nullptr;
            HeapFree(GetProcessHeap(), 0, data);
            continue;
        }
        // The device may fill it at once: it must be in the queue order first.
        inst->queue[(inst->queueHead + inst->queueCount) % kHeaderCount] = i;
        ++inst->queueCount;
        if (g_waveIn->AddBuffer(inst->device, h, sizeof *h) != MMSYSERR_NOERROR) {
            --inst->queueCount;
            g_waveIn->UnprepareHeader(inst->device, h, sizeof *h);
            h->dwUser = HeaderFree;
            h->lpData = nullptr;
            HeapFree(GetProcessHeap(), 0, data);
        }
    }
}

// Moves filled buffers into the ring in the order the device filled them;
// stops at the first one still recording or one the ring cannot take yet.
// Returns true when a filled buffer is left waiting for room in the ring.
bool DrainFilledHeaders(CaptureInstance* inst)
{
    while (inst->queueCount > 0) {
        int index = inst->queue[inst->queueHead];
        WAVEHDR* h = &inst->headers[index];
        if (HeaderStateOf(h) != HeaderFilled)
            break;
        DWORD bytes = h->dwBytesRecorded;
        if (bytes > h->dwBufferLength)
            bytes = h->dwBufferLength;
        if (RingBuffer_Free(inst->ring) < bytes)
            return true;
        if (bytes > 0)
            RingBuffer_Write(h->lpData, bytes, inst->ring);
        g_waveIn->UnprepareHeader(inst->device, h, sizeof *h);
        HeapFree(GetProcessHeap(), 0, h->lpData);
        h->lpData = nullptr;
        h->dwUser = HeaderFree;
        inst->queueHead = (inst->queueHead + 1) % kHeaderCount;
        --inst->queueCount;
    }
    return false;
}

DWORD WINAPI CaptureThread(LPVOID param)
{
    auto* inst = static_cast<CaptureInstance*>(param);
    bool waitingForRoom = false;
    while (!inst->stop) {
        // Reads make room without signalling the event: while a filled buffer
        // waits for the ring, look again soon instead of after the full 500 ms,
        // or a device with every buffer filled records nothing in between.
        WaitForSingleObject(inst->event, waitingForRoom ? kRoomPollMs : 500);
        if (inst->stop)
            break;
        waitingForRoom = DrainFilledHeaders(inst);
        QueueFreeHeaders(inst);
    }
    return 0;
}

// Stops the device and takes every buffer back from it before it is closed.
void ShutDownDevice(CaptureInstance* inst)
{
    if (!inst->device)
        return;
    g_waveIn->Reset(inst->device);
    for (int i = 0; i < kHeaderCount; ++i) {
        WAVEHDR* h = &inst->headers[i];
        if (!h->lpData || !(h->dwFlags & WHDR_PREPARED))
            continue;
        MMRESULT r = g_waveIn->UnprepareHeader(inst->device, h, sizeof *h);
        for (int tries = 0; r == WAVERR_STILLPLAYING && tries < 100; ++tries) {
            Sleep(10);
            r = g_waveIn->UnprepareHeader(inst->device, h, sizeof *h);
        }
        if (r != MMSYSERR_NOERROR)
            h->lpData = nullptr;  // the device may still write there: never free it
    }
    g_waveIn->Close(inst->device);
    inst->device = nullptr;
}

void FreeHeaders(CaptureInstance* inst, const char* function)
{
    if (!inst->headers)
        return;
    for (int i = 0; i < kHeaderCount; ++i) {
        WAVEHDR* h = &inst->headers[i];
        if (h->lpData && !HeapFree(GetProcessHeap(), 0, h->lpData))
            LogSystem(function, __LINE__, IDS_FREE_ERROR, GetLastError());
        h->lpData = nullptr;
    }
    if (!HeapFree(GetProcessHeap(), 0, inst->headers))
        LogSystem(function, __LINE__, IDS_FREE_ERROR, GetLastError());
    inst->headers = nullptr;
}

// Releases what Open or Close built, in reverse order, and frees the slot.
void DestroyInstance(CaptureInstance* inst, const char* function)
{
    FreeHeaders(inst, function);
    if (inst->ring)
        RingBuffer_Destroy(inst->ring);
    if (inst->event)
        CloseHandle(inst->event);
    {
        TableGuard guard;
        for (CaptureInstance*& slot : g_instances)
            if (slot == inst)
                slot = nullptr;
    }
    if (!HeapFree(GetProcessHeap(), 0, inst))
        LogSystem(function, __LINE__, IDS_FREE_ERROR, GetLastError());
}

void StopThread(CaptureInstance* inst)
{
    InterlockedExchange(&inst->stop, 1);
    SetEvent(inst->event);
    WaitForSingleObject(inst->thread, INFINITE);
    CloseHandle(inst->thread);
    inst->thread = INVALID_HANDLE_VALUE;
}

// ---- module operations ------------------------------------------------------

int __cdecl QuitModuleOp(void);
int __cdecl CloseOp(void* handle);

int __cdecl InitModuleOp(const char* logFile, int* logLevel)
{
    g_logFile = logFile;
    g_logLevel = logLevel;
    Log("InitModule", __LINE__, IDS_INIT_BEGIN, LogDebug);
    Module()->h.hIcon = LoadIconA(ModuleHandle(), MAKEINTRESOURCEA(IDI_CAPTURE));
    memset(g_settings, 0, sizeof g_settings);
    {
        TableGuard guard;
        memset(g_instances, 0, sizeof g_instances);
    }
    BuildDeviceSetting(&g_settings[SettingDevice]);
    BuildFormatSetting(&g_settings[SettingFormat]);
    BuildBufferSetting(&g_settings[SettingBufferSize]);
    PylConfigRead(g_settings, kSettingCount, nullptr, ModuleHandle());
    Log("InitModule", __LINE__, IDS_INIT_DONE, LogDebug);
    return 1;
}

int __cdecl QuitModuleOp(void)
{
    Log("QuitModule", __LINE__, IDS_QUIT_BEGIN, LogDebug);
    for (int slot = kMaxInstances - 1; slot >= 0; --slot) {
        CaptureInstance* inst;
        {
            TableGuard guard;
            inst = g_instances[slot];
        }
        if (inst)
            CloseOp(inst);
    }
    if (Module()->h.hIcon) {
        DestroyIcon(Module()->h.hIcon);
        Module()->h.hIcon = nullptr;
    }
    PylConfigWrite(g_settings, kSettingCount, nullptr, ModuleHandle());
    Log("QuitModule", __LINE__, IDS_QUIT_DONE, LogDebug);
    return 1;
}

int __cdecl GetSettingOp(SettingRecord* out, int index, const char* section, void* instance)
{
    if (index < 0 || index >= kSettingCount || !out)
        return -1;
    if (instance) {
        CaptureInstance* inst = FindInstance(instance);
        if (!inst)
            return -1;
        *out = inst->settings[index];
    } else {
        *out = g_settings[index];
        PylConfigRead(out, 1, section, ModuleHandle());
    }
    return out->type;
}

int __cdecl SetSettingOp(const SettingRecord* in, int index, const char* section, void* instance)
{
    if (index < 0 || index >= kSettingCount || !in)
        return 1;
    if (instance) {
        CaptureInstance* inst = FindInstance(instance);
        if (!inst)
            return 1;
        inst->settings[index] = *in;
        if (index == SettingDevice)
            EnumerateFormats(IntValue(*in), &inst->settings[SettingFormat]);
        else if (index == SettingBufferSize)
            inst->capacity = RingCapacity(inst->format.Format.nAvgBytesPerSec, IntValue(*in));
    } else {
        g_settings[index] = *in;
        PylConfigWrite(&g_settings[index], 1, section, ModuleHandle());
        if (index == SettingDevice)
            EnumerateFormats(IntValue(*in), &g_settings[SettingFormat]);
    }
    return 1;
}

int __cdecl QuerySettingOp(SettingRecord* out, int index, void*)
{
    if (index < 0 || index >= kSettingCount)
        return 0;
    if (out)
        *out = g_settings[index];
    return 1;
}

void* __cdecl GetSubModuleOp(SettingRecord*, IVqProModule** outModule, char outSection[256], void*)
{
    if (outModule)
        *outModule = nullptr;
    if (outSection)
        outSection[0] = 0;
    return nullptr;
}

int __cdecl ConfigureOp(HWND parent, const char* section, void* instance)
{
    return static_cast<int>(RunConfigDialog(parent, section, instance));
}

void* __cdecl OpenOp(const StreamFormat* wanted, const char* section)
{
    static const char kFn[] = "Open";
    Log(kFn, __LINE__, IDS_OPEN_BEGIN, LogDebug);

    CaptureInstance* inst = nullptr;
    {
        TableGuard guard;
        int slot = kMaxInstances - 1;
        while (slot >= 0 && g_instances[slot])
            --slot;
        if (slot < 0)
            return nullptr;
        inst = static_cast<CaptureInstance*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CaptureInstance)));
        if (!inst)
            return nullptr;
        g_instances[slot] = inst;
    }
    inst->thread = INVALID_HANDLE_VALUE;
    snprintf(inst->section, sizeof inst->section, "%s", section ? section : "");

    inst->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!inst->event) {
        LogSystem(kFn, __LINE__, IDS_EVENT_ERROR, GetLastError());
        DestroyInstance(inst, kFn);
        return nullptr;
    }

    // Module-wide values become the defaults, then the section's values apply.
    memcpy(inst->settings, g_settings, sizeof inst->settings);
    PylConfigRead(inst->settings, kSettingCount, nullptr, ModuleHandle());
    for (SettingRecord& rec : inst->settings)
        memcpy(rec.defaultValue, rec.currentValue, sizeof rec.defaultValue);
    PylConfigRead(inst->settings, kSettingCount, section, ModuleHandle());

    if (wanted) {
        BuildCaptureFormat(&inst->format, wanted->channels, wanted->sampleRate, wanted->bitsPerSample);
    } else {
        int code = IntValue(inst->settings[SettingFormat]) & (kFormatCodes - 1);
        BuildCaptureFormat(&inst->format, CodeChannels(code), CodeRate(code), CodeBits(code));
    }
    if (inst->format.Format.nBlockAlign == 0 || inst->format.Format.nAvgBytesPerSec == 0) {
        DestroyInstance(inst, kFn);
        return nullptr;
    }
    inst->capacity = RingCapacity(inst->format.Format.nAvgBytesPerSec, IntValue(inst->settings[SettingBufferSize]));

    inst->headers = static_cast<WAVEHDR*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kHeaderCount * sizeof(WAVEHDR)));
    if (inst->headers)
        inst->ring = RingBuffer_Create(static_cast<int32_t>(inst->capacity));
    if (!inst->headers || !inst->ring) {
        DestroyInstance(inst, kFn);
        return nullptr;
    }

    int device = IntValue(inst->settings[SettingDevice]);
    MMRESULT r = g_waveIn->Open(&inst->device, static_cast<UINT>(device), &inst->format.Format,
                                reinterpret_cast<DWORD_PTR>(&WaveInCallback), reinterpret_cast<DWORD_PTR>(inst),
                                CALLBACK_FUNCTION);
    if (r != MMSYSERR_NOERROR) {
        DWORD error = GetLastError();
        // The message shows the device's result code in hexadecimal where it says %h.
        char text[512], message[600];
        LoadText(IDS_OPEN_DEVICE_ERROR, text, sizeof text);
        char code[16];
        snprintf(code, sizeof code, "%X", static_cast<unsigned>(r));
        const char* mark = strstr(text, "%h");
        if (mark)
            snprintf(message, sizeof message, "%.*s%s%s", static_cast<int>(mark - text), text, code, mark + 2);
        else
            snprintf(message, sizeof message, "%s", text);
        LogSystemErrorCode(kClass, kFn, __LINE__, message, g_logFile, error);
        inst->device = nullptr;
        DestroyInstance(inst, kFn);
        return nullptr;
    }

    // Every buffer is queued before the device starts, so no sound is lost
    // while the capture thread gets going.
    QueueFreeHeaders(inst);

    inst->thread = CreateThread(nullptr, 0, CaptureThread, inst, 0, nullptr);
    if (!inst->thread) {
        LogSystem(kFn, __LINE__, IDS_THREAD_ERROR, GetLastError());
        inst->thread = INVALID_HANDLE_VALUE;
        ShutDownDevice(inst);
        DestroyInstance(inst, kFn);
        return nullptr;
    }
    if (!SetThreadPriority(inst->thread, THREAD_PRIORITY_TIME_CRITICAL))
        LogSystem(kFn, __LINE__, IDS_PRIORITY_ERROR, GetLastError());

    if (g_waveIn->Start(inst->device) != MMSYSERR_NOERROR) {
        Log(kFn, __LINE__, IDS_START_ERROR, LogError);
        StopThread(inst);
        ShutDownDevice(inst);
        DestroyInstance(inst, kFn);
        return nullptr;
    }
    return inst;
}

int __cdecl PauseOp(int pause, void* handle)
{
    CaptureInstance* inst = FindInstance(handle);
    if (!inst)
        return -1;
    MMRESULT r = pause ? g_waveIn->Stop(inst->device) : g_waveIn->Start(inst->device);
    return r == MMSYSERR_NOERROR ? 1 : 0;
}

int __cdecl ReadOp(char* buffer, int bytes, void* handle)
{
    CaptureInstance* inst = FindInstance(handle);
    if (!inst)
        return -1;
    if (!buffer || bytes <= 0)
        return 0;
    uint32_t n = static_cast<uint32_t>(bytes);
    uint32_t used = RingBuffer_Used(inst->ring);
    if (n > used)
        n = used;
    n -= n % inst->format.Format.nBlockAlign;
    if (n == 0)
        return 0;
    uint32_t got = RingBuffer_Read(buffer, n, inst->ring);
    inst->delivered += got;
    return static_cast<int>(got);
}

double __cdecl GetTimeOp(void* handle)
{
    CaptureInstance* inst = FindInstance(handle);
    if (!inst)
        return -1.0;
    return static_cast<double>(inst->delivered) / inst->format.Format.nAvgBytesPerSec;
}

int __cdecl GetPcmFormatOp(StreamFormat* out, void* handle)
{
    CaptureInstance* inst = FindInstance(handle);
    if (!inst)
        return -1;
    if (!out)
        return 0;
    out->channels = inst->format.Format.nChannels;
    out->sampleRate = static_cast<int32_t>(inst->format.Format.nSamplesPerSec);
    out->avgBytesPerSec = static_cast<int32_t>(inst->format.Format.nAvgBytesPerSec);
    out->blockAlign = inst->format.Format.nBlockAlign;
    out->bitsPerSample = inst->format.Format.wBitsPerSample;
    return 1;
}

int __cdecl GetTagOp(TrackInfo*, void*) { return 0; }

int __cdecl CloseOp(void* handle)
{
    static const char kFn[] = "Close";
    CaptureInstance* inst = FindInstance(handle);
    if (!inst)
        return 0;

    // The capture thread goes first, so nothing touches the headers while the
    // device hands them back and they are released.
    InterlockedExchange(&inst->stop, 1);
    if (!SetEvent(inst->event)) {
        LogSystem(kFn, __LINE__, IDS_SET_EVENT_ERROR, GetLastError());
        return 0;
    }
    if (inst->thread != INVALID_HANDLE_VALUE) {
        Log(kFn, __LINE__, IDS_WAIT_THREAD, LogDebug);
        if (WaitForSingleObject(inst->thread, 10000) == WAIT_TIMEOUT) {
            Log(kFn, __LINE__, IDS_THREAD_TIMEOUT, LogDebug);
            if (!TerminateThread(inst->thread, 1))
                LogSystem(kFn, __LINE__, IDS_TERMINATE_ERROR, GetLastError());
        }
        CloseHandle(inst->thread);
        inst->thread = INVALID_HANDLE_VALUE;
    }
    ShutDownDevice(inst);

    PylConfigWrite(inst->settings, kSettingCount, inst->section, ModuleHandle());
    DestroyInstance(inst, kFn);
    return 1;
}

IVqProModule g_module = [] {
    IVqProModule m;
    memset(&m, 0, sizeof m);
    m.h.Version = 0;
    m.h.Kind = KindCapture;
    m.h.Id = 1;
    m.h.InternalName = kClass;
    m.h.DisplayName = "PylSoft Line-in Capture Module";
    m.h.AboutText = "PylSoft Line-in Capture Module v1.0.2.149\n\n"
                    "Written by the PylSoft audio team.\n"
                    "Built " __DATE__ ".";
    m.h.InitModule = InitModuleOp;
    m.h.QuitModule = QuitModuleOp;
    m.h.GetSetting = GetSettingOp;
    m.h.SetSetting = SetSettingOp;
    m.h.QuerySetting = QuerySettingOp;
    m.h.GetSubModule = GetSubModuleOp;
    m.h.Configure = ConfigureOp;
    m.capture.Open = OpenOp;
    m.capture.Pause = PauseOp;
    m.capture.Read = ReadOp;
    m.capture.GetTime = GetTimeOp;
    m.capture.GetPcmFormat = GetPcmFormatOp;
    m.capture.GetTag = GetTagOp;
    m.capture.Close = CloseOp;
    return m;
}();

}  // namespace

}  // namespace capjack

const WaveInApi kWinmmWaveIn = {
    waveInGetNumDevs, waveInGetDevCapsA, waveInOpen, waveInPrepareHeader, waveInAddBuffer,
    waveInUnprepareHeader, waveInStart, waveInStop, waveInReset, waveInClose,
};
const WaveInApi* g_waveIn = &kWinmmWaveIn;

namespace capjack {

int CodeChannels(int code) { return (code & 1) ? 2 : 1; }
int CodeBits(int code)
{
    static const int bits[4] = {8, 16, 24, 32};
    return bits[(code >> 1) & 3];
}
int CodeRate(int code)
{
    static const int rates[4] = {22050, 44100, 48000, 96000};
    return rates[(code >> 3) & 3];
}

void CodeLabel(int code, char* out, size_t size)
{
    snprintf(out, size, "%.3f kHz, %d Bit, %s", CodeRate(code) / 1000.0, CodeBits(code),
             CodeChannels(code) == 2 ? "Stereo" : "Mono");
}

void BuildCaptureFormat(WAVEFORMATEXTENSIBLE* out, int channels, int rate, int bits)
{
    memset(out, 0, sizeof *out);
    if (channels < 0 || channels > 0xFFFF || bits < 0 || bits > 0xFFFF || rate < 0)
        channels = bits = rate = 0;
    out->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    out->Format.nChannels = static_cast<WORD>(channels);
    out->Format.nSamplesPerSec = static_cast<DWORD>(rate);
    out->Format.wBitsPerSample = static_cast<WORD>(bits);
    out->Format.nBlockAlign = static_cast<WORD>(bits * channels / 8);
    out->Format.nAvgBytesPerSec = out->Format.nBlockAlign * static_cast<DWORD>(rate);
    out->Format.cbSize = 22;
    out->Samples.wValidBitsPerSample = static_cast<WORD>(bits);
    out->dwChannelMask = 3;
    out->SubFormat = bits <= 24 ? kSubFormatPcm : kSubFormatFloat;
}

int EnumerateFormats(int device, SettingRecord* format)
{
    memset(format->limits, 0, sizeof format->limits);
    memset(format->labels, 0, sizeof format->labels);
    int accepted = 0;
    for (int code = 0; code < kFormatCodes && code < format->constraint; ++code) {
        WAVEFORMATEXTENSIBLE wfx;
        BuildCaptureFormat(&wfx, CodeChannels(code), CodeRate(code), CodeBits(code));
        if (g_waveIn->Open(nullptr, static_cast<UINT>(device), &wfx.Format, 0, 0, WAVE_FORMAT_QUERY) !=
            MMSYSERR_NOERROR)
            continue;
        SettingStore<int32_t>(format->limits, code, accepted);
        char label[128];
        CodeLabel(code, label, sizeof label);
        if (accepted > 0)
            AppendLabel(format->labels, sizeof format->labels, "\t");
        AppendLabel(format->labels, sizeof format->labels, label);
        ++accepted;
    }
    format->constraint = kFormatCodes;
    return 0;
}

uint32_t RingCapacity(uint32_t avgBytesPerSec, int milliseconds)
{
    if (milliseconds < 20)
        milliseconds = 20;
    if (milliseconds > 3000)
        milliseconds = 3000;
    uint64_t bytes = static_cast<uint64_t>(avgBytesPerSec) * static_cast<uint64_t>(milliseconds) / 1000;
    const uint64_t minimum = 2 * kCaptureBufferBytes;
    return static_cast<uint32_t>(bytes < minimum ? minimum : bytes);
}

IVqProModule* Module() { return &g_module; }

int OpenInstanceCount()
{
    TableGuard guard;
    int n = 0;
    for (CaptureInstance* inst : g_instances)
        if (inst)
            ++n;
    return n;
}

}  // namespace capjack

extern "C" IVqProModule* __cdecl GetModuleInterface(void) { return capjack::Module(); }

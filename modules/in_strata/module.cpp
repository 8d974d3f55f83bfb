// Module record, settings and stream operations of the MPEG input module.
#include <stdio.h>
#include <string.h>

#include "in_strata.h"
#include "pyl_config.h"

const char* g_logFile = nullptr;
int* g_logLevel = nullptr;

namespace {

SettingRecord g_settings[1];

const int kPriorities[7] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL,
                            THREAD_PRIORITY_NORMAL,       THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                            THREAD_PRIORITY_TIME_CRITICAL};

void BuildPriorityRecord(SettingRecord* r)
{
    memset(r, 0, sizeof *r);
    strcpy(r->name, "Priority");
    strcpy(r->description, "Thread processing priority");
    r->type = (int32_t)SettingType::Int32;
    r->step = 1.0;
    r->editor = (int32_t)EditorKind::DropList;
    r->constraint = 7;
    for (int i = 0; i < 7; ++i) SettingStore<int32_t>(r->limits, i, i);
    strcpy(r->labels, "Idle\tLowest\tBelow normal\tNormal\tAbove normal\tHighest\tTime critical");
    SettingStore<int32_t>(r->defaultValue, 5);
    SettingStore<int32_t>(r->currentValue, 5);
}

int __cdecl InitModule(const char* logFile, int* logLevel)
{
    g_logFile = logFile;
    g_logLevel = logLevel;
    BuildPriorityRecord(&g_settings[0]);
    g_module.h.hIcon = LoadIconA(g_module.h.hInstance, MAKEINTRESOURCEA(101));
    PylConfigRead(g_settings, 1, nullptr, g_module.h.hInstance);
    return 1;
}

int __cdecl QuitModule(void)
{
    PylConfigWrite(g_settings, 1, nullptr, g_module.h.hInstance);
    if (g_module.h.hIcon) {
        DestroyIcon(g_module.h.hIcon);
        g_module.h.hIcon = nullptr;
    }
    return 1;
}

int __cdecl GetSetting(SettingRecord* out, int index, const char*, void*)
{
    if (index != 0 || !out) return -1;
    *out = g_settings[0];
    return g_settings[0].type;
}

int __cdecl SetSetting(const SettingRecord* in, int index, const char*, void*)
{
    if (index == 0 && in) g_settings[0] = *in;
    return 0;
}

int __cdecl QuerySetting(SettingRecord* out, int index, void*)
{
    if (index != 0 || !out) return 0;
    *out = g_settings[0];
    return 1;
}

int __cdecl Configure(HWND, const char*, void*) { return -1; }

int __cdecl IsOurFile(const char* path)
{
    if (!path) return 0;
    const char* dot = strrchr(path, '.');
    return dot && _stricmp(dot + 1, "mp3") == 0 ? 1 : 0;
}

void FreeInstance(MpegInstance* inst)
{
    if (inst->ring) RingBuffer_Destroy(inst->ring);
    if (inst->file && inst->file != INVALID_HANDLE_VALUE) CloseHandle(inst->file);
    if (inst->dataEvent) CloseHandle(inst->dataEvent);
    if (inst->spaceEvent) CloseHandle(inst->spaceEvent);
    if (inst->seekDoneEvent) CloseHandle(inst->seekDoneEvent);
    DeleteCriticalSection(&inst->lock);
    HeapFree(GetProcessHeap(), 0, inst);
}

void* __cdecl Open(const char* path, const StreamFormat* wanted)
{
    if (!path) return nullptr;
    auto* inst = static_cast<MpegInstance*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(MpegInstance)));
    if (!inst) return nullptr;
    InitializeCriticalSection(&inst->lock);
    inst->seekRequest = -1;
    inst->file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (inst->file == INVALID_HANDLE_VALUE) {
        inst->file = nullptr;
        FreeInstance(inst);
        return nullptr;
    }
    MpegProbe probe;
    if (!ProbeMpegFile(inst->file, &probe)) {
        FreeInstance(inst);
        return nullptr;
    }
    inst->audioStart = probe.audioStart;
    inst->audioBytes = probe.audioBytes;
    inst->duration = probe.duration;
    inst->bitrate = probe.bitrate;
    inst->xing = probe.xing;
    inst->infoFrame = probe.infoFrame;

    StreamFormat& df = inst->decodedFormat;
    df.formatTag = 1;
    df.channels = probe.header.mode == MAD_MODE_SINGLE_CHANNEL ? 1 : 2;
    df.sampleRate = (int32_t)probe.header.samplerate;
    df.blockAlign = 2 * df.channels;
    df.avgBytesPerSec = df.blockAlign * df.sampleRate;
    df.bitsPerSample = 16;
    inst->outputFormat = wanted ? *wanted : df;
    inst->convert = inst->outputFormat.channels != df.channels || inst->outputFormat.sampleRate != df.sampleRate ||
                    inst->outputFormat.bitsPerSample != df.bitsPerSample;
    if (inst->convert && !PcmConverter_Supports(&df, &inst->outputFormat)) {
        FreeInstance(inst);
        return nullptr;
    }
    lstrcpynA(inst->path, path, sizeof inst->path);

    inst->ring = RingBuffer_Create(65536);
    inst->dataEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    inst->spaceEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    inst->seekDoneEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!inst->ring || !inst->dataEvent || !inst->spaceEvent || !inst->seekDoneEvent) {
        FreeInstance(inst);
        return nullptr;
    }
    // Read looks again for up to a millisecond before it waits, when another
    // processor this process may use can run the decoder meanwhile.
    DWORD_PTR mask = 0, systemMask = 0;
    int processors = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &mask, &systemMask))
        for (; mask; mask &= mask - 1) ++processors;
    LARGE_INTEGER freq;
    if (processors > 1 && QueryPerformanceFrequency(&freq)) inst->spinTicks = freq.QuadPart / 1000;
    int32_t pri = SettingLoad<int32_t>(g_settings[0].currentValue);
    inst->priority = pri >= 0 && pri <= 6 ? pri : 5;
    inst->thread = CreateThread(nullptr, 0, DecoderThread, inst, CREATE_SUSPENDED, nullptr);
    if (!inst->thread) {
        FreeInstance(inst);
        return nullptr;
    }
    SetThreadPriority(inst->thread, kPriorities[inst->priority]);
    ResumeThread(inst->thread);
    return inst;
}

int __cdecl Read(char* buf, int bytes, void* handle)
{
    auto* inst = static_cast<MpegInstance*>(handle);
    if (!inst) return -1;
    // Whole sample frames only.
    uint32_t block = inst->outputFormat.blockAlign > 0 ? (uint32_t)inst->outputFormat.blockAlign : 1;
    if (!buf || bytes <= 0) return 0;
    uint32_t want = (uint32_t)bytes - (uint32_t)bytes % block;
    if (want == 0) return 0;
    // Wait until the request can be filled, or half the ring for a larger
    // one, so that one hand-over moves tens of kilobytes. The decoder makes
    // that much in well under a millisecond: with another processor, look
    // again for a moment before paying for a wait on the event (each signal
    // and wait is a round trip through the system). Then, whenever the ring
    // cannot serve the request, Read blocks on the decoder's signal (bounded,
    // in case a signal is missed), so a decoder of any priority gets the
    // processor. The end of the stream, or a decoder waiting for room it
    // cannot get, hands over what there is.
    uint32_t need = inst->ring->capacity / 2;
    if (need > want) need = want;
    LONGLONG spinUntil = 0;
    for (;;) {
        uint32_t used = RingBuffer_Used(inst->ring);
        if (used >= need) break;
        if (inst->endOfFile) {
            if (RingBuffer_Used(inst->ring) == 0) return inst->failed ? VQ_READ_ERROR : -1;
            break;
        }
        if (used > 0 && (inst->writerNeed || inst->stop)) break;
        if (inst->spinTicks > 0) {
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            if (spinUntil == 0) spinUntil = now.QuadPart + inst->spinTicks;
            if (now.QuadPart < spinUntil) {
                SwitchToThread();
                continue;
            }
        }
        InterlockedExchange(&inst->readerNeed, (LONG)need);
        used = RingBuffer_Used(inst->ring);
        if (used < need && !inst->endOfFile && !(used > 0 && inst->writerNeed))
            WaitForSingleObject(inst->dataEvent, 20);
        InterlockedExchange(&inst->readerNeed, 0);
    }
    uint32_t n = RingBuffer_Read(buf, want, inst->ring);
    EnterCriticalSection(&inst->lock);
    inst->delivered += n;
    LeaveCriticalSection(&inst->lock);
    MemoryBarrier();
    LONG room = inst->writerNeed;
    if (room > 0 && RingBuffer_Free(inst->ring) >= (uint32_t)room) SetEvent(inst->spaceEvent);
    return (int)n;
}

int __cdecl SetTime(double seconds, void* handle)
{
    auto* inst = static_cast<MpegInstance*>(handle);
    if (!inst) return -1;
    if (!(inst->duration > 0) || seconds != seconds) return 0;
    if (seconds < 0) seconds = 0;
    if (seconds > inst->duration) seconds = inst->duration;
    if (WaitForSingleObject(inst->thread, 0) == WAIT_OBJECT_0) return 0;  // the decoder has ended
    EnterCriticalSection(&inst->lock);
    RingBuffer_Reset(inst->ring);
    ResetEvent(inst->seekDoneEvent);
    inst->seekRequest = seconds;
    inst->seekResult = 0;
    LeaveCriticalSection(&inst->lock);
    SetEvent(inst->spaceEvent);
    HANDLE waits[2] = {inst->seekDoneEvent, inst->thread};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    EnterCriticalSection(&inst->lock);
    if (inst->seekRequest >= 0) inst->seekRequest = -1;  // the thread ended without taking it
    int result = inst->seekResult;
    LeaveCriticalSection(&inst->lock);
    return result;
}

double __cdecl GetTime(int what, void* handle)
{
    auto* inst = static_cast<MpegInstance*>(handle);
    if (!inst) return 0.0;
    EnterCriticalSection(&inst->lock);
    uint64_t delivered = inst->delivered;
    LeaveCriticalSection(&inst->lock);
    double elapsed = inst->outputFormat.avgBytesPerSec > 0 ? (double)delivered / inst->outputFormat.avgBytesPerSec : 0.0;
    switch (what) {
    case 0: return elapsed;
    case 1: return inst->duration - elapsed;
    case 2: return inst->duration;
    default: return 0.0;
    }
}

int __cdecl GetPcmFormat(StreamFormat* out, void* handle)
{
    auto* inst = static_cast<MpegInstance*>(handle);
    if (!inst) return -1;
    if (out) *out = inst->outputFormat;
    return 1;
}

int __cdecl Close(void* handle)
{
    auto* inst = static_cast<MpegInstance*>(handle);
    if (!inst) return -1;
    InterlockedExchange(&inst->stop, 1);
    SetEvent(inst->spaceEvent);
    if (WaitForSingleObject(inst->thread, 10000) != WAIT_OBJECT_0) TerminateThread(inst->thread, 1);
    CloseHandle(inst->thread);
    FreeInstance(inst);
    return 1;
}

}  // namespace

IVqProModule g_module = {
    {VQ_VERSION(1, 0, 1, 78), nullptr, KindInput, 4, "PylSoftMpegInputModule", "PylSoft MPEG Input Module",
     "PylSoft MPEG Input Module v1.0.1.78\n\nMPEG audio layers I, II and III through libmad, tags through id3lib.\n"
     "Built " __DATE__,
     nullptr, InitModule, QuitModule, GetSetting, SetSetting, QuerySetting, VqNoSubModule, Configure},
    // Input operations, in the record's order.
    {{"MPEG Audio Layer III files (*.mp3)\0*.mp3\0MPEG Audio Layer II files (*.mp2)\0*.mp2\0"
     "MPEG Audio Layer I files (*.mp1)\0*.mp1\0",
      IsOurFile, Open, Read, SetTime, GetTime, GetPcmFormat, Mpeg_GetTag, Mpeg_GetTagEx, Mpeg_SetTagEx, Close}}};

extern "C" IVqProModule* __cdecl GetModuleInterface(void) { return &g_module; }

// Audio CD input module: ".cda" track files of a disc in a CD drive, read as
// CD-DA sectors through the CD-reading layer, buffered in a ring and named
// from the CD database or the system CD player's title file.
#include <windows.h>
#include <mmsystem.h>

#include <stdio.h>
#include <string.h>

#include "cd_layer.h"
#include "cddb.h"
#include "in_platter.h"
#include "pcm_converter.h"
#include "resource.h"
#include "ring_buffer.h"
#include "scsi_pt.h"
#include "vq_log.h"
#include "vq_module.h"

extern IVqProModule g_module;

namespace {

const uint32_t kRingSectors = 26;
const uint32_t kRingBytes = kRingSectors * kSectorBytes;  // 61152
const int kSlots = 256;

struct CdaInstance {
    CRITICAL_SECTION lock;
    StreamFormat nativeFormat;
    StreamFormat outputFormat;
    ConverterState converter;
    char* path;
    int32_t needsConversion;
    int32_t drive;
    uint32_t startSector;
    uint32_t lengthSectors;
    uint32_t currentSector;
    uint32_t sectorsLeft;
    RingBuffer* ring;
    ReadRequest* request;
    uint32_t bytesDelivered;
    TrackInfo info;
    int32_t opened;  // set under the slot lock once Open has finished it
    int32_t lostBlocks;  // blocks of the stream given up as unreadable
};

const char* g_logFile = nullptr;
int* g_logLevel = nullptr;
CdaInstance* g_slots[kSlots];
CRITICAL_SECTION g_slotLock;
bool g_slotLockReady = false;

void Log(const char* operation, int line, int level, UINT textId, bool always = false, long argument = 0)
{
    if (!always && (!g_logLevel || !LogLevelPasses(level, g_logLevel))) return;
    char format[128], text[160];
    if (!LoadStringA(g_module.h.hInstance, textId, format, sizeof format)) return;
    snprintf(text, sizeof text, format, argument);
    LogMessage(g_module.h.InternalName, operation, line, text, level, g_logFile);
}

void LockSlots()
{
    if (g_slotLockReady) EnterCriticalSection(&g_slotLock);
}
void UnlockSlots()
{
    if (g_slotLockReady) LeaveCriticalSection(&g_slotLock);
}

// Drive-type query through the device table, so that tests can name their drive.
bool OnCdRomDrive(const char* path)
{
    if (strlen(path) < 3) return false;
    char root[4] = {path[0], path[1], path[2], 0};
    return g_cdDevice->GetDriveTypeA(root) == DRIVE_CDROM;
}

// Start and length of track t from the drive's table of contents (LBA form).
bool TrackFromToc(int handle, int t, uint32_t* start, uint32_t* length)
{
    uint8_t toc[kTocBytes];
    TocView v;
    if (readTOC(handle, toc) != CD_OK || !ParseToc(toc, &v)) return false;
    if (t < v.first || t > v.last) return false;
    const uint8_t* d = v.descriptors + 8 * (t - v.first);
    uint32_t s = Be32(d + 4), next = Be32(d + 12);
    if (next < s) return false;
    *start = s;
    *length = next - s;
    return true;
}

int OpenDrive(const CdListEntry& e)
{
    DriveOpenRequest r = {};
    r.size = sizeof r;
    r.version = 1;
    r.adapter = e.adapter;
    r.target = e.target;
    r.lun = e.lun;
    return getCDHandle(&r);
}

// First listed drive whose disc holds the track with that start and length;
// its handle stays open when keepOpen (0: none).
int FindDrive(const CdaTrackChunk& chunk, bool keepOpen, uint32_t* start, uint32_t* length)
{
    CdList list = {};
    list.capacity = 8;
    GetCDList(&list);
    for (int i = 0; i < list.count && i < 8; ++i) {
        int h = OpenDrive(list.entries[i]);
        if (!h) continue;
        uint32_t s = 0, n = 0;
        bool match = TrackFromToc(h, chunk.trackNumber, &s, &n) && s == chunk.startSector && n == chunk.lengthSectors;
        if (match && keepOpen) {
            *start = s;
            *length = n;
            return h;
        }
        closeCDHandle(h);
        if (match) return 1;
    }
    return 0;
}

void FreeInstance(CdaInstance* c)
{
    if (c->ring) RingBuffer_Destroy(c->ring);
    if (c->request) HeapFree(GetProcessHeap(), 0, c->request);
    if (c->path) HeapFree(GetProcessHeap(), 0, c->path);
    DeleteCriticalSection(&c->lock);
    HeapFree(GetProcessHeap(), 0, c);
}

void ReleaseSlot(CdaInstance* c)
{
    LockSlots();
    for (int i = kSlots - 1; i >= 0; --i) {
        if (g_slots[i] == c) {
            g_slots[i] = nullptr;
            break;
        }
    }
    UnlockSlots();
}

int __cdecl InitModule(const char* logFile, int* logLevel)
{
    g_logFile = logFile;
    g_logLevel = logLevel;
    Log("InitModule", __LINE__, LogDebug, IDS_INIT_BEGIN);
    SetAPI(logFile, logLevel);
    if (!g_slotLockReady) {
        InitializeCriticalSection(&g_slotLock);
        g_slotLockReady = true;
    }
    memset(g_slots, 0, sizeof g_slots);
    g_module.h.hIcon = static_cast<HICON>(
        LoadImageA(g_module.h.hInstance, MAKEINTRESOURCEA(IDI_MODULE), IMAGE_ICON, 16, 16, 0));
    Cddb_Init(logFile, logLevel);
    Log("InitModule", __LINE__, LogDebug, IDS_INIT_DONE);
    return 1;
}

int __cdecl Close(void* handle);

int __cdecl QuitModule(void)
{
    Log("QuitModule", __LINE__, LogDebug, IDS_QUIT_BEGIN);
    for (int i = kSlots - 1; i >= 0; --i) {
        if (g_slots[i]) {
            Log("QuitModule", __LINE__, LogWarning, IDS_CLOSE_INSTANCE);
            Close(g_slots[i]);
        }
    }
    if (g_module.h.hIcon) DestroyIcon(g_module.h.hIcon);
    g_module.h.hIcon = nullptr;
    Cddb_Quit();
    libraryStop();
    Log("QuitModule", __LINE__, LogDebug, IDS_QUIT_DONE);
    return 1;
}

int __cdecl GetSetting(SettingRecord*, int, const char*, void*) { return -1; }
int __cdecl SetSetting(const SettingRecord*, int, const char*, void*) { return -1; }
int __cdecl QuerySetting(SettingRecord*, int, void*) { return 0; }

int __cdecl Configure(HWND, const char*, void*) { return -1; }

int __cdecl IsOurFile(const char* path)
{
    if (!path || !OnCdRomDrive(path)) return 0;
    const char* dot = strrchr(path, '.');
    if (!dot || _stricmp(dot, ".cda") != 0) return 0;
    CdaTrackChunk chunk;
    if (!ReadTrackChunk(path, &chunk)) return 0;
    uint32_t s, n;
    return FindDrive(chunk, false, &s, &n) ? 1 : 0;
}

void* __cdecl Open(const char* path, const StreamFormat* wanted)
{
    if (!path) return nullptr;
    // The path is in place before the instance is put in a slot, where
    // GetTagEx on another thread looks for it.
    size_t pathBytes = strlen(path) + 1;
    char* pathCopy = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, pathBytes));
    if (!pathCopy) return nullptr;
    memcpy(pathCopy, path, pathBytes);
    CdaInstance* c = nullptr;
    LockSlots();
    for (int i = kSlots - 1; i >= 0 && !c; --i) {
        if (g_slots[i]) continue;
        c = static_cast<CdaInstance*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CdaInstance)));
        if (c) {
            c->path = pathCopy;
            g_slots[i] = c;
        }
    }
    UnlockSlots();
    if (!c) {
        HeapFree(GetProcessHeap(), 0, pathCopy);
        return nullptr;
    }
    InitializeCriticalSection(&c->lock);

    CdaTrackChunk chunk;
    if (!ReadTrackChunk(path, &chunk) ||
        !(c->drive = FindDrive(chunk, true, &c->startSector, &c->lengthSectors))) {
        ReleaseSlot(c);
        FreeInstance(c);
        return nullptr;
    }
    c->currentSector = c->startSector;
    c->sectorsLeft = c->lengthSectors;
    c->nativeFormat = {0, 2, 44100, 176400, 4, 16};
    c->outputFormat = wanted ? *wanted : c->nativeFormat;
    const StreamFormat& in = c->nativeFormat;
    const StreamFormat& out = c->outputFormat;
    c->needsConversion =
        out.sampleRate != in.sampleRate || out.bitsPerSample != in.bitsPerSample || out.channels != in.channels;
    c->ring = RingBuffer_Create((int32_t)kRingBytes);
    c->request = ReadRequest_Create(kRingSectors);
    // A conversion the converter cannot make is refused here, not in Read.
    if (!c->ring || !c->request ||
        (c->needsConversion && !PcmConverter_Supports(&c->nativeFormat, &c->outputFormat))) {
        ReleaseSlot(c);
        closeCDHandle(c->drive);
        FreeInstance(c);
        return nullptr;
    }
    TrackInfo& info = c->info;
    lstrcpynA(info.path, path, 255);
    info.sampleRate = 44100;
    info.channels = 2;
    info.bits = 16;
    info.size = (uint64_t)c->lengthSectors * kSectorBytes;
    info.bitrate = 176400 * 8;
    info.duration = chunk.lengthFrames / 75.0 + chunk.lengthSeconds + chunk.lengthMinutes * 60;
    strcpy(info.format, "cda");
    info.track = chunk.trackNumber;
    info.albumRepeatAfter = info.artistRepeatAfter = info.genreRepeatAfter = info.repeatEvery = -1;
    c->bytesDelivered = 0;
    LockSlots();
    c->opened = 1;
    UnlockSlots();
    return c;
}

// Fills the ring with as many whole sectors as it has room for.
void Refill(CdaInstance* c)
{
    uint32_t n = RingBuffer_Free(c->ring) / kSectorBytes;
    if (n > c->sectorsLeft) n = c->sectorsLeft;
    if (n == 0) return;
    ReadRequest* r = c->request;
    bool done = false;
    for (int attempt = 0; attempt < 5 && !done; ++attempt) {
        r->startSector = c->currentSector;
        r->sectorCount = n;
        r->bytesRead = 0;
        r->dataOffset = 0;
        if (readCDAudioLBA(c->drive, r) == CD_OK) {
            uint32_t bytes = r->bytesRead;
            if (bytes > n * kSectorBytes) bytes = n * kSectorBytes;
            if (r->dataOffset > r->capacity - bytes) bytes = 0;
            RingBuffer_Write(r->data + r->dataOffset, bytes, c->ring);
            done = true;
        }
    }
    if (!done) {
        Log("Read", __LINE__, LogError, IDS_READ_ERROR, true, (long)c->currentSector);
        ++c->lostBlocks;
        // The unreadable sectors keep their place in the track as silence.
        memset(r->data, 0, n * kSectorBytes);
        RingBuffer_Write(r->data, n * kSectorBytes, c->ring);
    }
    c->currentSector += n;
    c->sectorsLeft -= n;
}

// Takes up to `want` bytes of the track: what the ring holds, and when that
// is not enough, the ring refilled once it is empty, so that every read
// command but the track's last fetches a whole ring (each command costs far
// more than its bytes). Less than asked only at the end of the track.
uint32_t Take(CdaInstance* c, char* to, uint32_t want)
{
    uint32_t done = 0;
    for (;;) {
        done += RingBuffer_Read(to + done, want - done, c->ring);
        if (done == want || c->sectorsLeft == 0) break;
        Refill(c);
    }
    c->bytesDelivered += done;
    return done;
}

int __cdecl Read(char* buf, int bytes, void* handle)
{
    auto* c = static_cast<CdaInstance*>(handle);
    if (!c) return -1;
    if (!buf || bytes <= 0) return 0;
    EnterCriticalSection(&c->lock);
    // At the end of the track: a stream with blocks given up (delivered as
    // silence) ends on an error, since what came before is incomplete.
    int result;
    if (!c->needsConversion) {
        uint32_t got = Take(c, buf, (uint32_t)bytes);
        result = got == 0 && c->lostBlocks ? VQ_READ_ERROR : (int)got;
    } else {
        int32_t need = PcmConverter_BufferSize((uint32_t)bytes, &c->nativeFormat, &c->outputFormat, 0);
        char* temp = need > 0 ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, need)) : nullptr;
        if (need <= 0) {
            // Less than one output frame asked for: nothing to give.
            result = 0;
        } else if (!temp) {
            // The track is not at its end: the stream stops on an error.
            result = VQ_READ_ERROR;
        } else {
            uint32_t got = Take(c, temp, (uint32_t)need);
            result = got == 0 ? (c->lostBlocks ? VQ_READ_ERROR : -1)
                              : PcmConverter_Convert(temp, buf, got, &c->nativeFormat, &c->outputFormat,
                                                     &c->converter, (uint32_t)bytes);
            HeapFree(GetProcessHeap(), 0, temp);
        }
    }
    LeaveCriticalSection(&c->lock);
    return result;
}

int __cdecl SetTime(double seconds, void* handle)
{
    auto* c = static_cast<CdaInstance*>(handle);
    if (!c) return -1;
    EnterCriticalSection(&c->lock);
    double duration = c->info.duration;
    uint32_t offset = 0;
    if (duration > 0 && seconds > 0) {
        double sector = seconds / duration * c->lengthSectors;
        offset = sector >= c->lengthSectors ? c->lengthSectors : (uint32_t)sector;
    }
    c->currentSector = c->startSector + offset;
    c->sectorsLeft = c->startSector + c->lengthSectors - c->currentSector;
    RingBuffer_Reset(c->ring);
    LeaveCriticalSection(&c->lock);
    return 1;
}

double __cdecl GetTime(int what, void* handle)
{
    auto* c = static_cast<CdaInstance*>(handle);
    if (!c) return -1.0;
    EnterCriticalSection(&c->lock);
    double size = (double)c->info.size, duration = c->info.duration;
    double part = size > 0 ? c->bytesDelivered / size : 0.0;
    double r = what == 0 ? part * duration : what == 1 ? (1 - part) * duration : what == 2 ? duration : 0.0;
    LeaveCriticalSection(&c->lock);
    return r;
}

int __cdecl GetPcmFormat(StreamFormat* out, void* handle)
{
    auto* c = static_cast<CdaInstance*>(handle);
    if (!c) return -1;
    if (out) {
        out->channels = c->outputFormat.channels;
        out->sampleRate = c->outputFormat.sampleRate;
        out->avgBytesPerSec = c->outputFormat.avgBytesPerSec;
        out->blockAlign = c->outputFormat.blockAlign;
        out->bitsPerSample = c->outputFormat.bitsPerSample;
    }
    return 1;
}

int __cdecl GetTag(TrackInfo* out, void* handle)
{
    auto* c = static_cast<CdaInstance*>(handle);
    if (!c || !out) return 0;
    if (!Cddb_FillTrackInfo(c->drive, c->info.track, &c->info)) return 0;
    memcpy(out, &c->info, sizeof(TrackInfo));
    return 1;
}

int __cdecl Close(void* handle)
{
    auto* c = static_cast<CdaInstance*>(handle);
    if (!c) return -1;
    // Out of the slots first: a GetTagEx on another thread uses an instance
    // it found only under the slot lock, so once the instance is out of its
    // slot nothing else uses its drive handle.
    ReleaseSlot(c);
    closeCDHandle(c->drive);
    FreeInstance(c);
    return 1;
}

int __cdecl GetTagEx(TrackInfo* info)
{
    if (!info) return 0;
    char path[261];
    size_t n = strnlen(info->path, sizeof info->path);
    memcpy(path, info->path, n);
    path[n] = '\0';
    CdaInstance* open = nullptr;
    LockSlots();
    // An instance that Open is still setting up is not looked at.
    for (int i = kSlots - 1; i >= 0 && !open; --i)
        if (g_slots[i] && g_slots[i]->opened && g_slots[i]->path && _stricmp(g_slots[i]->path, path) == 0)
            open = g_slots[i];
    int r = 0;
    if (open) r = GetTag(info, open);
    UnlockSlots();
    if (open) return r;
    void* h = Open(path, nullptr);
    if (!h) return 0;
    r = GetTag(info, h);
    Close(h);
    return r;
}

int __cdecl SetTagEx(const TrackInfo*) { return 0; }

}  // namespace

bool ReadTrackChunk(const char* path, CdaTrackChunk* chunk)
{
    HMMIO mmio = mmioOpenA(const_cast<char*>(path), nullptr, MMIO_READ | MMIO_DENYNONE);
    if (!mmio) return false;
    MMCKINFO riff = {}, fmt = {};
    riff.fccType = mmioFOURCC('C', 'D', 'D', 'A');
    fmt.ckid = mmioFOURCC('f', 'm', 't', ' ');
    bool ok = mmioDescend(mmio, &riff, nullptr, MMIO_FINDRIFF) == MMSYSERR_NOERROR &&
              mmioDescend(mmio, &fmt, &riff, MMIO_FINDCHUNK) == MMSYSERR_NOERROR && fmt.cksize >= sizeof *chunk &&
              mmioRead(mmio, reinterpret_cast<HPSTR>(chunk), sizeof *chunk) == (LONG)sizeof *chunk;
    mmioClose(mmio, 0);
    return ok;
}

IVqProModule g_module = {
    {VQ_VERSION(1, 0, 0, 68), nullptr, KindInput, 5, "PylSoftCDAInputModule", "PylSoft Digital Audio CD Input Module",
     "PylSoft Digital Audio CD Input Module v1.0.0.68\n\nAudio CD tracks (.cda) read digitally, titled from a CD "
     "database.\nCopyright (c) PylSoft\nBuilt " __DATE__,
     nullptr, InitModule, QuitModule, GetSetting, SetSetting, QuerySetting, VqNoSubModule, Configure},
    // Input operations, in the record's order.
    {{"Audio CD files (*.cda)\0*.cda\0",
      IsOurFile, Open, Read, SetTime, GetTime, GetPcmFormat, GetTag, GetTagEx, SetTagEx, Close}}};

extern "C" IVqProModule* __cdecl GetModuleInterface(void) { return &g_module; }

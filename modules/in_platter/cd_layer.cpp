// CD-reading layer: interface set-up, the shared drive table, drive listing,
// handles and the execution of SCSI commands through the ASPI entry points.
#include "cd_layer.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "aspi_defs.h"
#include "cd_read.h"
#include "scsi_pt.h"
#include "vq_log.h"

namespace {

const char kClass[] = "PylRIP32";
const DWORD kMutexWaitMs = 10000;
const DWORD kCommandWaitMs = 4000;

// A command whose completion wait ran out: the manager may still write into
// its request block and data buffer, and signal its event, so all three stay
// alive until the manager is gone.
struct ParkedCommand {
    void* block;
    HANDLE event;
    ParkedCommand* next;
};

struct Layer {
    int api = APIC_NONE;
    GetAspiSupportInfoFn getSupportInfo = nullptr;
    SendAspiCommandFn sendCommand = nullptr;
    FARPROC otherEntries[4] = {};
    HMODULE library = nullptr;
    const char* logFile = nullptr;
    int* logLevel = nullptr;
    int lastErrorCode = 0;
    int lastAspiStatus = 0;
    HANDLE section = nullptr;
    SharedDriveTable* table = nullptr;
    HANDLE slotMutex[kMaxDrives] = {};
    HANDLE cacheMutex = nullptr;
    ParkedCommand* parked = nullptr;
} g;

DWORD __cdecl StubSupportInfo(void) { return SS_NO_ASPI; }
DWORD __cdecl StubSendCommand(void* srb)
{
    if (srb) static_cast<SrbHeader*>(srb)->status = SS_NO_ASPI;
    return SS_NO_ASPI;
}
int __cdecl StubOther(void) { return 0; }

void InstallStubs()
{
    g.getSupportInfo = StubSupportInfo;
    g.sendCommand = StubSendCommand;
    for (auto& e : g.otherEntries) e = reinterpret_cast<FARPROC>(StubOther);
}

bool Take(HANDLE mutex)
{
    if (!mutex) return false;
    DWORD r = WaitForSingleObject(mutex, kMutexWaitMs);
    // An owner that died without releasing leaves the mutex abandoned: it is ours now.
    return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

void FreeParked()
{
    while (g.parked) {
        ParkedCommand* p = g.parked;
        g.parked = p->next;
        HeapFree(GetProcessHeap(), 0, p->block);
        if (p->event) CloseHandle(p->event);
        HeapFree(GetProcessHeap(), 0, p);
    }
}

void UnloadAspi()
{
    g.getSupportInfo = nullptr;
    g.sendCommand = nullptr;
    for (auto& e : g.otherEntries) e = nullptr;
    if (g.library) FreeLibrary(g.library);
    g.library = nullptr;
    // With the manager gone nothing can write into parked commands any more.
    FreeParked();
}

// Whether the process that filled a slot is still running.
bool OwnerAlive(uint32_t pid)
{
    if (pid == 0 || pid == GetCurrentProcessId()) return true;
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;
    bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return alive;
}

// A slot is held when it is in use by a live process; a dead owner's slot
// is cleared so its drive can be opened again.
bool SlotHeld(DriveSlot* s)
{
    if (!s->inUse) return false;
    if (OwnerAlive(s->ownerProcess)) return true;
    memset(s, 0, sizeof *s);
    return false;
}

void CopyField(char* dst, size_t width, const uint8_t* src, size_t n)
{
    size_t k = 0;
    while (k < n && k + 1 < width && src[k]) {
        dst[k] = (char)src[k];
        ++k;
    }
    dst[k] = '\0';
}

}  // namespace

void CdLayer_Log(const char* operation, int line, int level, const char* format, ...)
{
    if (!g.logLevel || !LogLevelPasses(level, g.logLevel)) return;
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogMessage(kClass, operation, line, text, level, g.logFile);
}

int CdLayer_Interface() { return g.api; }
int CdLayer_LastError() { return g.lastErrorCode; }
int CdLayer_LastAspiStatus() { return g.lastAspiStatus; }
void CdLayer_SetLastError(int code) { g.lastErrorCode = code; }

ReadRequest* ReadRequest_Create(uint32_t sectors)
{
    uint32_t bytes = sectors * kSectorBytes;
    auto* r = static_cast<ReadRequest*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, offsetof(ReadRequest, data) + bytes));
    if (r) r->capacity = bytes;
    return r;
}

bool ParseToc(const uint8_t* toc, TocView* view)
{
    uint32_t answered = (uint32_t)(toc[0] << 8 | toc[1]) + 2;
    if (answered > kTocBytes) answered = kTocBytes;
    int first = toc[2], last = toc[3];
    if (first < 1 || last < first || last > 99) return false;
    int count = last - first + 1;
    if (4 + (uint32_t)(count + 1) * 8 > answered) return false;
    view->first = first;
    view->last = last;
    view->count = count;
    view->descriptors = toc + 4;
    return true;
}

// ---------------------------------------------------------------------------
// Interface set-up

int loadAspi()
{
    HMODULE lib = LoadLibraryA("WNASPI32.DLL");
    DWORD loadError = GetLastError();
    CdLayer_Log("loadAspi", __LINE__, LogDebug, "Loading...");
    if (g.api == APIC_SCSIPT) {
        Scsipt_Stop();
        g.api = APIC_NONE;
    }
    if (!lib) {
        g.lastErrorCode = CDERR_NO_LIBRARY;
        InstallStubs();
        SetLastError(loadError);
        LogSystemError(kClass, "loadAspi", __LINE__, "Unable to load WNASPI32.DLL", g.logFile);
        g.api = APIC_NONE;
        return 0;
    }
    g.library = lib;
    auto support = reinterpret_cast<GetAspiSupportInfoFn>(GetProcAddress(lib, "GetASPI32SupportInfo"));
    auto send = reinterpret_cast<SendAspiCommandFn>(GetProcAddress(lib, "SendASPI32Command"));
    g.otherEntries[0] = GetProcAddress(lib, "GetASPI32Buffer");
    g.otherEntries[1] = GetProcAddress(lib, "FreeASPI32Buffer");
    g.otherEntries[2] = GetProcAddress(lib, "TranslateASPI32Address");
    g.otherEntries[3] = GetProcAddress(lib, "GetASPI32DLLVersion");
    if (support && send) {
        g.getSupportInfo = support;
        g.sendCommand = send;
        g.api = APIC_ASPI;
        CdLayer_Log("loadAspi", __LINE__, LogDebug, "Loaded successfully");
        return 1;
    }
    g.lastErrorCode = support ? CDERR_NO_SEND_COMMAND : CDERR_NO_SUPPORT_INFO;
    CdLayer_Log("loadAspi", __LINE__, LogDebug, "GetASPI32SupportInfo = 0x%08X, SendASPI32Command = 0x%08X",
                (unsigned)(uintptr_t)support, (unsigned)(uintptr_t)send);
    UnloadAspi();
    InstallStubs();
    return 0;
}

int loadScsipt()
{
    CdLayer_Log("loadScsipt", __LINE__, LogDebug, "Loading...");
    if (g.api == APIC_ASPI) {
        UnloadAspi();
        g.api = APIC_NONE;
    }
    if (Scsipt_Init() > 0) {
        g.getSupportInfo = Scsipt_GetSupportInfo;
        g.sendCommand = Scsipt_SendCommand;
        g.api = APIC_SCSIPT;
        CdLayer_Log("loadScsipt", __LINE__, LogDebug, "Loaded successfully");
        return 1;
    }
    Scsipt_Stop();
    g.lastErrorCode = CDERR_SCSIPT_FAILED;
    InstallStubs();
    LogSystemError(kClass, "loadScsipt", __LINE__, "Unable to initialize SCSIPT", g.logFile);
    g.api = APIC_NONE;
    return 0;
}

void deinitLibrary()
{
    switch (g.api) {
    case APIC_ASPI:
        CdLayer_Log("deinitLibrary", __LINE__, LogDebug, "APIC_ASPI");
        UnloadAspi();
        break;
    case APIC_SCSIPT:
        CdLayer_Log("deinitLibrary", __LINE__, LogDebug, "APIC_SCSIPT");
        Scsipt_Stop();
        break;
    default:
        CdLayer_Log("deinitLibrary", __LINE__, LogDebug, "APIC_NONE");
        break;
    }
    g.api = APIC_NONE;
    InstallStubs();
}

void SetAPI(const char* logFile, int* logLevel)
{
    g.logFile = logFile;
    g.logLevel = logLevel;
    g.lastErrorCode = 0;
    g.lastAspiStatus = 0;
    CdLayer_Log("SetAPI", __LINE__, LogDebug, "APIC_AUTO");
    // A manager that loads but reports no adapter (Wine's own, for one) is
    // no use: the pass-through emulation gets its chance then too.
    if (!loadAspi() || GetNumAdapters() <= 0) loadScsipt();

    g.section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedDriveTable),
                                   "PylRipMemMap2");
    bool existed = g.section && GetLastError() == ERROR_ALREADY_EXISTS;
    if (g.section)
        g.table = static_cast<SharedDriveTable*>(
            MapViewOfFile(g.section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(SharedDriveTable)));
    if (!g.table) {
        if (g.section) CloseHandle(g.section);
        g.section = nullptr;
        return;
    }
    if (!existed) memset(g.table, 0, sizeof *g.table);
    g.table->size = sizeof(SharedDriveTable);
    g.table->version = 2;
    for (int i = 0; i < kMaxDrives; ++i) {
        char name[32];
        snprintf(name, sizeof name, "PylRipCdMtx%02d", i);
        g.slotMutex[i] = CreateMutexA(nullptr, FALSE, name);
        if (!g.slotMutex[i]) break;
        g.table->mutexHandles[i] = (uint32_t)(uintptr_t)g.slotMutex[i];
    }
    g.cacheMutex = CreateMutexA(nullptr, FALSE, "PylRipCacheMtx");
}

void libraryStop()
{
    for (auto& m : g.slotMutex) {
        if (m) CloseHandle(m);
        m = nullptr;
    }
    if (g.cacheMutex) CloseHandle(g.cacheMutex);
    g.cacheMutex = nullptr;
    if (g.table) UnmapViewOfFile(g.table);
    g.table = nullptr;
    if (g.section) CloseHandle(g.section);
    g.section = nullptr;
    deinitLibrary();
}

// ---------------------------------------------------------------------------
// Commands

int CdExecute(int adapter, int target, int lun, const uint8_t* cdb, int cdbLength, uint8_t flags, void* data,
              uint32_t length)
{
    if (!g.sendCommand) InstallStubs();
    // The request block and a copy of the data travel together in one heap
    // block, so that a command that never completes can be left to the
    // manager without handing it the caller's memory.
    uint8_t* block = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SrbExec) + length));
    if (!block) {
        g.lastErrorCode = CDERR_SRB_STATUS;
        g.lastAspiStatus = SS_ERR;
        return CD_FAIL;
    }
    auto* srb = reinterpret_cast<SrbExec*>(block);
    uint8_t* buffer = block + sizeof(SrbExec);
    if (data && length) memcpy(buffer, data, length);
    srb->h.command = SC_EXEC_SCSI_CMD;
    srb->h.adapter = (uint8_t)adapter;
    srb->h.flags = flags;
    srb->target = (uint8_t)target;
    srb->lun = (uint8_t)lun;
    srb->bufferLength = length;
    srb->buffer = length ? buffer : nullptr;
    srb->senseLength = 14;
    srb->cdbLength = (uint8_t)cdbLength;
    memcpy(srb->cdb, cdb, cdbLength);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    srb->postEvent = event;
    if (event) ResetEvent(event);
    DWORD r = g.sendCommand(srb);
    if (r == SS_PENDING) {
        if (event) WaitForSingleObject(event, kCommandWaitMs);
        if (*(volatile uint8_t*)&srb->h.status == SS_PENDING) {
            // Timed out: ask the manager to drop it, and keep the block and
            // the event alive for as long as the manager is loaded.
            SrbAbort abort = {};
            abort.h.command = SC_ABORT_SRB;
            abort.h.adapter = (uint8_t)adapter;
            abort.srbToAbort = srb;
            g.sendCommand(&abort);
            auto* p = static_cast<ParkedCommand*>(HeapAlloc(GetProcessHeap(), 0, sizeof(ParkedCommand)));
            if (p) {
                p->block = block;
                p->event = event;
                p->next = g.parked;
                g.parked = p;
            }
            g.lastErrorCode = CDERR_SRB_STATUS;
            g.lastAspiStatus = 0;
            return CD_FAIL;
        }
    }
    if (event) CloseHandle(event);
    uint8_t status = srb->h.status;
    if (data && length) memcpy(data, buffer, length);
    HeapFree(GetProcessHeap(), 0, block);
    if (status == SS_COMP) return CD_OK;
    g.lastErrorCode = CDERR_SRB_STATUS;
    g.lastAspiStatus = status;
    return CD_FAIL;
}

int GetNumAdapters()
{
    if (!g.getSupportInfo) InstallStubs();
    DWORD v = g.getSupportInfo();
    int status = (v >> 8) & 0xFF;
    if (status == SS_COMP || status == SS_NO_ADAPTERS) return (int)(v & 0xFF);
    g.lastErrorCode = CDERR_SRB_STATUS;
    g.lastAspiStatus = status;
    CdLayer_Log("GetNumAdapters", __LINE__, LogDebug, "bASPIStatus = 0x%02X", status);
    return -1;
}

int getSCSIDevType(int adapter, int target, int lun, int* type, char* name, int nameCapacity)
{
    static const char* const kNames[] = {"Direct-access device", "Sequential-access device", "Printer device",
                                         "Processor device", "Write-once device", "CD-ROM device",
                                         "Scanner device", "Optical memory device", "Medium changer device",
                                         "Communication device", "ASC IT8 device", "ASC IT8 device"};
    if (!g.sendCommand) InstallStubs();
    SrbDeviceType srb = {};
    srb.h.command = SC_GET_DEV_TYPE;
    srb.h.adapter = (uint8_t)adapter;
    srb.target = (uint8_t)target;
    srb.lun = (uint8_t)lun;
    DWORD r = g.sendCommand(&srb);
    const char* text;
    int t = DTYPE_UNKNOWN, result = 0;
    if (r == SS_COMP) {
        t = srb.deviceType;
        CdLayer_Log("getSCSIDevType", __LINE__, LogDebug, "SS_COMP: %04X, pDevType = 0x%08X", t,
                    (unsigned)(uintptr_t)type);
        text = t < 12 ? kNames[t] : t == DTYPE_UNKNOWN ? "Unknown or no device" : "";
        result = 1;
    } else if (r == SS_NO_DEVICE) {
        CdLayer_Log("getSCSIDevType", __LINE__, LogDebug, "SS_NO_DEVICE");
        text = "SS_NO_DEVICE";
    } else {
        CdLayer_Log("getSCSIDevType", __LINE__, LogDebug, "Unexpected return from ASPI(%04X)", (unsigned)r);
        text = "Unknown return";
    }
    if (type) *type = t;
    if (name && nameCapacity > 0) lstrcpynA(name, text, nameCapacity);
    return result;
}

int GetDriveInfo(int adapter, int target, int lun, CdListEntry* entry)
{
    uint8_t inquiry[100] = {};
    uint8_t cdb[6] = {0x12, 0, 0, 0, 100, 0};
    if (CdExecute(adapter, target, lun, cdb, 6, SRB_EVENT_NOTIFY | SRB_DIR_IN, inquiry, sizeof inquiry) != CD_OK) {
        CdLayer_Log("GetDriveInfo", __LINE__, LogDebug, "Error status: 0x%04X", g.lastAspiStatus);
        return CD_FAIL;
    }
    char vendor[9], product[17], revision[5], description[160];
    CopyField(vendor, sizeof vendor, inquiry + 8, 8);
    CopyField(product, sizeof product, inquiry + 16, 16);
    CopyField(revision, sizeof revision, inquiry + 32, 4);
    snprintf(description, sizeof description, "%s, %s v%s(%d:%d:%d)", vendor, product, revision, adapter, target,
             lun);
    CdLayer_Log("GetDriveInfo", __LINE__, LogDebug, "%s", description);
    if (entry) {
        lstrcpynA(entry->description, description, 65);
        memcpy(entry->vendor, vendor, sizeof vendor);
        memcpy(entry->product, product, sizeof product);
        memcpy(entry->revision, revision, sizeof revision);
        CopyField(entry->vendorSpecific, sizeof entry->vendorSpecific, inquiry + 36, 20);
    }
    return CD_OK;
}

int GetCDList(CdList* list)
{
    if (!list) return 1;
    uint8_t capacity = list->capacity;
    memset(list, 0, sizeof *list);
    list->capacity = capacity;
    int n = GetNumAdapters();
    CdLayer_Log("GetCDList", __LINE__, LogDebug, "numAdapters = %d", n);
    if (n == 0) {
        g.lastErrorCode = CDERR_NO_ADAPTER;
        return 1;
    }
    for (int a = 0; a < n; ++a) {
        SrbAdapterInquiry inq = {};
        inq.h.command = SC_HA_INQUIRY;
        inq.h.adapter = (uint8_t)a;
        g.sendCommand(&inq);
        if (inq.h.status != SS_COMP) continue;
        int targets = inq.unique[3] ? inq.unique[3] : 8;
        for (int t = 0; t < targets; ++t) {
            for (int l = 0; l < 8; ++l) {
                SrbDeviceType dev = {};
                dev.h.command = SC_GET_DEV_TYPE;
                dev.h.adapter = (uint8_t)a;
                dev.target = (uint8_t)t;
                dev.lun = (uint8_t)l;
                g.sendCommand(&dev);
                if (dev.h.status != SS_COMP) continue;
                if (dev.deviceType == DTYPE_CDROM) {
                    if (list->count >= 8) continue;
                    CdListEntry* e = &list->entries[list->count++];
                    e->adapter = (uint8_t)a;
                    e->target = (uint8_t)t;
                    e->lun = (uint8_t)l;
                    GetDriveInfo(a, t, l, e);
                } else {
                    CdLayer_Log("GetCDList", __LINE__, LogDebug, "sd.SRB_DeviceType = %d", dev.deviceType);
                    if (g.logLevel && LogLevelPasses(LogDebug, g.logLevel)) GetDriveInfo(a, t, l, nullptr);
                }
            }
        }
    }
    if (list->count == 0) g.lastErrorCode = CDERR_NO_CDROM;
    return 1;
}

// ---------------------------------------------------------------------------
// Drive handles

int getCDHandle(const DriveOpenRequest* request)
{
    if (!request) {
        g.lastErrorCode = CDERR_NO_REQUEST;
        return 0;
    }
    if (request->size < sizeof(DriveOpenRequest) || request->version != 1) {
        g.lastErrorCode = CDERR_BAD_REQUEST;
        return 0;
    }
    if (!g.table) {
        g.lastErrorCode = CDERR_NO_SLOT;
        return 0;
    }
    HANDLE alloc = CreateMutexA(nullptr, FALSE, "pylrip32_getCDHandle");
    if (!Take(alloc)) {
        if (alloc) CloseHandle(alloc);
        g.lastErrorCode = CDERR_MUTEX_TIMEOUT;
        return 0;
    }
    int handle = 0;
    for (int i = 0; i < kMaxDrives; ++i) {
        DriveSlot* s = &g.table->slots[i];
        if (SlotHeld(s) && s->adapter == request->adapter && s->target == request->target &&
            s->lun == request->lun) {
            g.lastErrorCode = CDERR_DRIVE_IN_USE;
            goto done;
        }
    }
    {
        int type = DTYPE_UNKNOWN;
        if (!getSCSIDevType(request->adapter, request->target, request->lun, &type, nullptr, 0) ||
            type != DTYPE_CDROM) {
            if (g.lastErrorCode == 0) g.lastErrorCode = CDERR_NOT_CDROM;
            goto done;
        }
        int start = g.table->nextSlot;
        if (start < 0 || start >= kMaxDrives) start = 0;
        int found = -1;
        for (int k = 0; k < kMaxDrives; ++k) {
            int i = (start + k) % kMaxDrives;
            if (!SlotHeld(&g.table->slots[i])) {
                found = i;
                break;
            }
        }
        if (found < 0) {
            g.lastErrorCode = CDERR_NO_SLOT;
            goto done;
        }
        DriveSlot* s = &g.table->slots[found];
        memset(s, 0, sizeof *s);
        s->adapter = request->adapter;
        s->target = request->target;
        s->lun = request->lun;
        s->inUse = 1;
        s->ownerProcess = GetCurrentProcessId();
        s->readMethod = request->readMethod <= 8 ? request->readMethod : 0;
        s->readProc = s->readMethod;
        s->option10 = request->option10;
        s->option11 = request->option11;
        g.table->nextSlot = found;
        if (g.api == APIC_SCSIPT && Scsipt_HasDrives())
            Scsipt_OpenDevice(request->adapter, request->target, request->lun);
        handle = found + 1;
    }
done:
    ReleaseMutex(alloc);
    CloseHandle(alloc);
    return handle;
}

DriveSlot* CdLayer_LockSlot(int handle)
{
    if (handle < 1 || handle > kMaxDrives || !g.table) {
        g.lastErrorCode = CDERR_BAD_HANDLE;
        return nullptr;
    }
    if (!Take(g.slotMutex[handle - 1])) {
        g.lastErrorCode = CDERR_MUTEX_TIMEOUT;
        return nullptr;
    }
    DriveSlot* s = &g.table->slots[handle - 1];
    if (!s->inUse) {
        ReleaseMutex(g.slotMutex[handle - 1]);
        g.lastErrorCode = CDERR_BAD_HANDLE;
        return nullptr;
    }
    return s;
}

void CdLayer_UnlockSlot(int handle)
{
    if (handle >= 1 && handle <= kMaxDrives && g.slotMutex[handle - 1]) ReleaseMutex(g.slotMutex[handle - 1]);
}

int closeCDHandle(int handle)
{
    if (handle < 1 || handle > kMaxDrives || !g.table || !g.table->slots[handle - 1].inUse) return 0;
    DriveSlot* s = CdLayer_LockSlot(handle);
    if (!s) return 0;
    if (s->releaseProc) RestoreBlockSize(handle, s);
    memset(s, 0, sizeof *s);
    CdLayer_UnlockSlot(handle);
    return 1;
}

int readTOC(int handle, uint8_t* toc)
{
    DriveSlot* s = CdLayer_LockSlot(handle);
    if (!s) return CD_FAIL;
    uint8_t cdb[10] = {0x43, (uint8_t)(s->msf ? 0x02 : 0x00), 0, 0, 0, 0, 0, 0x03, 0x24, 0};
    memset(toc, 0, kTocBytes);
    int r = CdExecute(s->adapter, s->target, s->lun, cdb, 10, SRB_EVENT_NOTIFY | SRB_DIR_IN, toc, kTocBytes);
    CdLayer_UnlockSlot(handle);
    return r;
}

int readCDAudioLBA(int handle, ReadRequest* request)
{
    DriveSlot* s = CdLayer_LockSlot(handle);
    if (!s) return CD_FAIL;
    int r = RunReadProcedure(handle, s, request);
    CdLayer_UnlockSlot(handle);
    return r;
}

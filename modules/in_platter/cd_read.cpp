// The eight read methods built from READ CD, READ(10) and the vendor reads
// D8h and D4h, their preparation and undoing, and the automatic detection.
#include "cd_read.h"

#include <string.h>

#include "aspi_defs.h"
#include "vq_log.h"

namespace {

const uint8_t kDataIn = SRB_EVENT_NOTIFY | SRB_DIR_IN;
const uint8_t kByCommand = SRB_EVENT_NOTIFY;

int Send(const DriveSlot* s, const uint8_t* cdb, int length, uint8_t flags, void* data, uint32_t bytes)
{
    return CdExecute(s->adapter, s->target, s->lun, cdb, length, flags, data, bytes);
}

int ModeSelect(const DriveSlot* s, uint8_t byte1, uint8_t length, uint8_t flags, const uint8_t* list, uint32_t bytes)
{
    uint8_t cdb[6] = {0x15, byte1, 0, 0, length, 0};
    uint8_t copy[20];
    memcpy(copy, list, bytes);
    return Send(s, cdb, 6, flags, copy, bytes);
}

const uint8_t kList2352[12] = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x09, 0x30};
const uint8_t kListRestore[12] = {0, 0, 0, 8, 0x53, 0, 0, 0, 0, 0, 0x08, 0x00};
const uint8_t kListPage23[20] = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x09, 0x30, 0x23, 6, 0, 0, 0, 0, 0, 0x80};
const uint8_t kListPage01[20] = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x09, 0x30, 0x01, 6, 0x20, 7, 0, 0, 0, 0};
const uint8_t kListD4[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x09, 0x30};

void PutLba(uint8_t* cdb, uint32_t lba)
{
    cdb[3] = (uint8_t)(lba >> 16);
    cdb[4] = (uint8_t)(lba >> 8);
    cdb[5] = (uint8_t)lba;
}

int Delivered(ReadRequest* r, int result)
{
    if (result == CD_OK) {
        r->bytesRead = r->sectorCount * kSectorBytes;
        r->dataOffset = 0;
        r->status = 1;
    }
    return result;
}

int ReadCd(int handle, DriveSlot* s, ReadRequest* r)
{
    DriveSlot* locked = CdLayer_LockSlot(handle);
    if (!locked) return CD_FAIL;
    uint8_t tur[12] = {};
    Send(s, tur, 12, kDataIn, nullptr, 0);
    uint8_t cdb[12] = {0xBE};
    PutLba(cdb, r->startSector);
    cdb[8] = (uint8_t)r->sectorCount;
    cdb[9] = s->readProc == 1 ? 0x10 : 0xF0;
    int result = Delivered(r, Send(s, cdb, 12, kDataIn, r->data, r->sectorCount * kSectorBytes));
    CdLayer_UnlockSlot(handle);
    return result;
}

int Read10(int, DriveSlot* s, ReadRequest* r)
{
    if (!s->prepared) {
        int ok;
        if (s->readProc == 8) {
            ok = ModeSelect(s, 0x10, 0x14, kByCommand, kListPage23, 20) == CD_OK &&
                 ModeSelect(s, 0x10, 0x14, kByCommand, kListPage01, 20) == CD_OK;
        } else {
            ok = ModeSelect(s, 0, 0x0C, kByCommand, kList2352, 12) == CD_OK;
        }
        if (!ok) return CD_FAIL;
        s->prepared = 1;
        s->releaseProc = 1;
    }
    uint8_t cdb[10] = {0x28, (uint8_t)(s->lun << 5)};
    PutLba(cdb, r->startSector);
    cdb[8] = (uint8_t)r->sectorCount;
    return Delivered(r, Send(s, cdb, 10, kDataIn, r->data, r->sectorCount * kSectorBytes));
}

int ReadVendor(int handle, DriveSlot* s, ReadRequest* r)
{
    DriveSlot* locked = CdLayer_LockSlot(handle);
    if (!locked) return CD_FAIL;
    if (!s->prepared) {
        pauseResumeCD(handle, 1);
        if (s->readProc == 7) ModeSelect(s, 0x10, 0x08, kByCommand, kListD4, 12);
        s->prepared = 1;
    }
    int result;
    if (s->readProc == 5) {
        uint8_t cdb[12] = {0xD8};
        PutLba(cdb, r->startSector);
        cdb[9] = (uint8_t)r->sectorCount;
        result = Send(s, cdb, 12, kDataIn, r->data, r->sectorCount * kSectorBytes);
    } else {
        uint8_t cdb[10] = {0xD4};
        PutLba(cdb, r->startSector);
        cdb[8] = (uint8_t)r->sectorCount;
        result = Send(s, cdb, 10, kDataIn, r->data, r->sectorCount * kSectorBytes);
    }
    CdLayer_UnlockSlot(handle);
    return Delivered(r, result);
}

int ReadFixed(int handle, DriveSlot* s, ReadRequest* r)
{
    switch (s->readProc) {
    case 1:
    case 2: return ReadCd(handle, s, r);
    case 3:
    case 4:
    case 8: return Read10(handle, s, r);
    case 5:
    case 6:
    case 7: return ReadVendor(handle, s, r);
    default: return CD_FAIL;
    }
}

// A read that must have filled the buffer: eight marker words in a row mean
// the drive answered without delivering data.
int CheckedRead(int handle, DriveSlot* s, ReadRequest* r)
{
    memset(r->data, 0xAA, r->sectorCount * kSectorBytes);
    int result = ReadFixed(handle, s, r);
    if (result != CD_OK) return result;
    uint32_t words = r->bytesRead / 4, run = 0;
    const uint8_t* p = r->data + r->dataOffset;
    for (uint32_t i = 0; i < words; ++i) {
        uint32_t w;
        memcpy(&w, p + 4 * i, 4);
        run = w == 0xAAAAAAAAu ? run + 1 : 0;
        if (run == 8) return CD_FAIL;
    }
    return CD_OK;
}

// A drive that no method reads stays on detection, so that it is tried again
// on later reads: it may still be spinning up, or only its first sectors may
// be damaged. After this many failed rounds in a row, or once they have taken
// this long (a drive whose commands time out spends seconds on each), it is
// taken as unreadable for now and tried once per second of audio (75
// sectors), or more rarely when a round takes longer than that: once per as
// much audio as the last round took time. So a track it never reads still
// ends in a bounded time, about its own length at worst.
const int32_t kPatientRounds = 100;
const uint32_t kPatientMs = 30000;
const uint32_t kRetrySpan = 75;

bool Patient(const DriveSlot* s) { return s->failedRounds < kPatientRounds && s->failedMs < kPatientMs; }

// Sectors of audio before the next try: 75 per second of the last round.
uint32_t RetrySpan(const DriveSlot* s)
{
    uint64_t span = (uint64_t)s->lastRoundMs * 75 / 1000;
    return span < kRetrySpan ? kRetrySpan : span > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)span;
}

int Detect(int handle, DriveSlot* s, ReadRequest* r)
{
    if (!Patient(s) && r->startSector >= s->failedLba && r->startSector - s->failedLba < RetrySpan(s)) {
        CdLayer_SetLastError(CDERR_SRB_STATUS);
        return CD_FAIL;
    }
    DWORD began = g_cdClock();
    static const uint8_t kOrder[] = {2, 1, 8, 4, 5, 6, 7};
    int result = CD_FAIL;
    for (uint8_t method : kOrder) {
        CdLayer_Log("readCDAudioLBA_ANY", __LINE__, LogDebug, "Testing read fn %d", method);
        s->readMethod = method;
        s->readProc = method;
        s->releaseProc = 0;
        s->prepared = 0;
        for (int attempt = 0; attempt < 3; ++attempt) {
            result = CheckedRead(handle, s, r);
            if (result == CD_OK) {
                s->failedRounds = 0;
                s->failedMs = 0;
                s->lastRoundMs = 0;
                return CD_OK;
            }
        }
        // A candidate that switched the drive to 2352-byte blocks puts it back
        // before the next one is tried.
        if (s->prepared && (method == 4 || method == 8 || method == 7)) RestoreBlockSize(handle, s);
        s->releaseProc = 0;
        s->prepared = 0;
    }
    s->readMethod = 0;
    s->readProc = 0;
    if (s->failedRounds < kPatientRounds) ++s->failedRounds;
    s->failedLba = r->startSector;
    s->lastRoundMs = g_cdClock() - began;
    s->failedMs = s->failedMs > 0xFFFFFFFFu - s->lastRoundMs ? 0xFFFFFFFFu : s->failedMs + s->lastRoundMs;
    return result;
}

}  // namespace

DWORD(WINAPI* g_cdClock)(void) = GetTickCount;

int RunReadProcedure(int handle, DriveSlot* s, ReadRequest* r)
{
    if (!r || r->capacity < r->sectorCount * kSectorBytes) {
        CdLayer_SetLastError(CDERR_SMALL_BUFFER);
        return CD_FAIL;
    }
    // The command carries the count in one byte: nothing above 255 is sent,
    // and an empty read sends nothing at all.
    if (r->sectorCount > 255) {
        CdLayer_SetLastError(CDERR_SMALL_BUFFER);
        return CD_FAIL;
    }
    if (r->sectorCount == 0) {
        r->bytesRead = 0;
        r->dataOffset = 0;
        r->status = 1;
        return CD_OK;
    }
    if (s->readProc == 0 || s->readProc > 8) return Detect(handle, s, r);
    return ReadFixed(handle, s, r);
}

int RestoreBlockSize(int, DriveSlot* s)
{
    s->prepared = 0;
    s->releaseProc = 0;
    return ModeSelect(s, 0, 0x0C, SRB_EVENT_NOTIFY | SRB_RESIDUAL, kListRestore, 12);
}

int pauseResumeCD(int handle, int pause)
{
    DriveSlot* s = CdLayer_LockSlot(handle);
    if (!s) return CD_FAIL;
    uint8_t cdb[10] = {0x4B};
    cdb[8] = pause ? 0 : 1;
    int r = Send(s, cdb, 10, kByCommand, nullptr, 0);
    CdLayer_UnlockSlot(handle);
    return r;
}

// ASPI emulation over SCSI pass-through: drives found by letter, commands sent
// with the pass-through device control on a handle to the drive's device.
#include "scsi_pt.h"

#include <stdio.h>
#include <string.h>

#include "aspi_defs.h"

const CdDeviceApi kSystemCdDevice = {::GetDriveTypeA, ::CreateFileA, ::DeviceIoControl, ::CloseHandle,
                                     ::GetLastError};
const CdDeviceApi* g_cdDevice = &kSystemCdDevice;

namespace {

struct PtDrive {
    uint8_t adapter, target, lun, letter;
    int32_t present;
    HANDLE device;
    uint8_t inquiry[36];
};

struct PtTable {
    uint32_t adapterCount;
    PtDrive drives[26];
    bool setUp;
    bool eagerOpen;
} t;

bool WriteAccessByDefault()
{
    OSVERSIONINFOA v = {};
    v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&v)) return false;
#pragma GCC diagnostic pop
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion > 4;
}

HANDLE OpenDevice(int letter)
{
    char path[16];
    snprintf(path, sizeof path, "\\\\.\\%c:", 'A' + letter);
    DWORD access = WriteAccessByDefault() ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    HANDLE h = g_cdDevice->CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        access ^= GENERIC_WRITE;
        h = g_cdDevice->CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    return h;
}

// Sends one command; true when the device call worked and the drive
// answered with a good SCSI status.
bool PassThrough(HANDLE h, const uint8_t* cdb, int cdbLength, int direction, void* data, uint32_t length,
                 uint32_t timeout, uint8_t senseLength, uint8_t* scsiStatus, DWORD* error)
{
    PassThroughRequest req = {};
    req.spt.length = sizeof(PassThroughDirect);
    req.spt.cdbLength = (uint8_t)cdbLength;
    req.spt.senseInfoLength = senseLength;
    req.spt.dataIn = (uint8_t)direction;
    req.spt.dataTransferLength = length;
    req.spt.timeOutValue = timeout;
    req.spt.dataBuffer = data;
    req.spt.senseInfoOffset = offsetof(PassThroughRequest, sense);
    memcpy(req.spt.cdb, cdb, cdbLength);
    DWORD returned = 0;
    BOOL ok = g_cdDevice->DeviceIoControl(h, kIoctlScsiPassThroughDirect, &req, sizeof req, &req, sizeof req,
                                          &returned, nullptr);
    *error = ok ? 0 : g_cdDevice->GetLastError();
    *scsiStatus = ok ? req.spt.scsiStatus : 0;
    return ok && req.spt.scsiStatus == 0;
}

bool Probe(int letter)
{
    PtDrive& d = t.drives[letter];
    HANDLE h = OpenDevice(letter);
    if (h == INVALID_HANDLE_VALUE) return false;
    uint8_t answer[100] = {};
    uint8_t cdb[6] = {0x12, 0, 0, 0, 100, 0};
    uint8_t status;
    DWORD error;
    if (!PassThrough(h, cdb, 6, 1, answer, sizeof answer, 2, 24, &status, &error)) {
        g_cdDevice->CloseHandle(h);
        return false;
    }
    memcpy(d.inquiry, answer, sizeof d.inquiry);
    ScsiAddress address = {};
    address.length = sizeof address;
    DWORD returned = 0;
    if (!g_cdDevice->DeviceIoControl(h, kIoctlScsiGetAddress, nullptr, 0, &address, sizeof address, &returned,
                                     nullptr)) {
        g_cdDevice->CloseHandle(h);
        return false;
    }
    g_cdDevice->CloseHandle(h);
    d.adapter = address.portNumber;
    d.target = address.targetId;
    d.lun = address.lun;
    d.letter = (uint8_t)letter;
    d.present = 1;
    d.device = INVALID_HANDLE_VALUE;
    return true;
}

PtDrive* Find(int adapter, int target, int lun)
{
    for (int i = 2; i < 26; ++i) {
        PtDrive& d = t.drives[i];
        if (d.present && d.adapter == adapter && d.target == target && d.lun == lun) return &d;
    }
    return nullptr;
}

void AdapterInquiry(SrbAdapterInquiry* srb)
{
    srb->adapterCount = (uint8_t)t.adapterCount;
    if (srb->h.adapter >= t.adapterCount) {
        srb->h.status = SS_INVALID_HA;
        return;
    }
    srb->adapterScsiId = 7;
    memcpy(srb->managerId, "ZoASPI v0.000001", 16);
    char name[17];
    snprintf(name, sizeof name, "SCSI Adapter %d  ", srb->h.adapter % 10);
    memcpy(srb->adapterId, name, 16);
    memset(srb->unique, 0, sizeof srb->unique);
    srb->unique[3] = 8;
    uint32_t largest = 0x00010000;
    memcpy(srb->unique + 4, &largest, 4);
    srb->h.status = SS_COMP;
}

void DeviceType(SrbDeviceType* srb)
{
    if (Find(srb->h.adapter, srb->target, srb->lun)) {
        srb->deviceType = DTYPE_CDROM;
        srb->h.status = SS_COMP;
    } else {
        srb->deviceType = DTYPE_UNKNOWN;
        srb->h.status = SS_NO_DEVICE;
    }
}

void Execute(SrbExec* srb, bool retry)
{
    PtDrive* d = Find(srb->h.adapter, srb->target, srb->lun);
    if (!d) {
        srb->h.status = SS_ERR;
        return;
    }
    if (srb->cdb[0] == 0x12) {
        // Answered from what the probe kept; the rest of the caller's buffer is cleared.
        if (srb->buffer && srb->bufferLength) {
            uint32_t n = srb->bufferLength < sizeof d->inquiry ? srb->bufferLength : sizeof d->inquiry;
            memcpy(srb->buffer, d->inquiry, n);
            memset(srb->buffer + n, 0, srb->bufferLength - n);
        }
        srb->h.status = SS_COMP;
        return;
    }
    if (d->device == INVALID_HANDLE_VALUE) d->device = OpenDevice(d->letter);
    int direction = 2;
    if (srb->h.flags & SRB_DIR_IN) direction = 1;
    else if (srb->h.flags & SRB_DIR_OUT) direction = 0;
    else if ((srb->cdb[0] == 0x15 || srb->cdb[0] == 0x55) && srb->bufferLength) direction = 0;  // MODE SELECT
    uint8_t status = 0;
    DWORD error = 0;
    if (d->device != INVALID_HANDLE_VALUE &&
        PassThrough(d->device, srb->cdb, srb->cdbLength, direction, srb->buffer, srb->bufferLength, 5, 0, &status,
                    &error)) {
        srb->h.status = SS_COMP;
        return;
    }
    if (d->device == INVALID_HANDLE_VALUE) error = ERROR_INVALID_HANDLE;
    srb->h.status = SS_ERR;
    srb->targetStatus = status ? status : 4;
    if (retry) return;
    int letter = d->letter;
    if (error == ERROR_MEDIA_CHANGED) {
        g_cdDevice->CloseHandle(d->device);
        d->device = INVALID_HANDLE_VALUE;
    } else if (error != ERROR_INVALID_HANDLE) {
        return;
    }
    HANDLE keep = d->device;
    if (!Probe(letter)) {
        if (keep != INVALID_HANDLE_VALUE) g_cdDevice->CloseHandle(keep);
        t.drives[letter].present = 0;
        t.drives[letter].device = INVALID_HANDLE_VALUE;
        return;
    }
    t.drives[letter].device = keep;
    Execute(srb, true);
}

}  // namespace

int Scsipt_Init()
{
    if (t.setUp) return 0;
    memset(&t, 0, sizeof t);
    for (auto& d : t.drives) d.device = INVALID_HANDLE_VALUE;
    int found = 0, highest = -1;
    for (int letter = 2; letter < 26; ++letter) {
        char root[4] = {(char)('A' + letter), ':', '\\', 0};
        if (g_cdDevice->GetDriveTypeA(root) != DRIVE_CDROM) continue;
        if (!Probe(letter)) continue;
        ++found;
        if (t.drives[letter].adapter > highest) highest = t.drives[letter].adapter;
    }
    t.adapterCount = highest + 1 > 1 ? highest + 1 : 1;
    t.setUp = true;
    t.eagerOpen = found > 0;
    return found;
}

void Scsipt_Stop()
{
    if (!t.setUp) return;
    for (int i = 2; i < 26; ++i) {
        PtDrive& d = t.drives[i];
        if (d.present && d.device != INVALID_HANDLE_VALUE) g_cdDevice->CloseHandle(d.device);
    }
    memset(&t, 0, sizeof t);
}

bool Scsipt_HasDrives() { return t.setUp && t.eagerOpen; }

void Scsipt_OpenDevice(int adapter, int target, int lun)
{
    PtDrive* d = Find(adapter, target, lun);
    if (d && d->device == INVALID_HANDLE_VALUE) d->device = OpenDevice(d->letter);
}

DWORD __cdecl Scsipt_GetSupportInfo(void)
{
    return t.adapterCount && t.setUp ? 0x0100 | (t.adapterCount & 0xFF) : 0xE800;
}

DWORD __cdecl Scsipt_SendCommand(void* srb)
{
    if (!srb) return SS_ERR;
    auto* h = static_cast<SrbHeader*>(srb);
    switch (h->command) {
    case SC_HA_INQUIRY: AdapterInquiry(static_cast<SrbAdapterInquiry*>(srb)); break;
    case SC_GET_DEV_TYPE: DeviceType(static_cast<SrbDeviceType*>(srb)); break;
    case SC_EXEC_SCSI_CMD: Execute(static_cast<SrbExec*>(srb), false); break;
    default: h->status = SS_ERR; break;
    }
    return h->status;
}

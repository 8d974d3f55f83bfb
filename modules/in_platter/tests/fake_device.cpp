#include "fake_device.h"

#include <windows.h>

#include <string.h>

#include "scsi_pt.h"

namespace fakedev {
namespace {

DiscModel g_model;
DWORD g_lastError = 0;
int g_opens = 0, g_openHandles = 0;
const uintptr_t kHandleBase = 0x7E000000;

int DriveIndex(char letter)
{
    int i = (letter & ~0x20) - g_model.letter;
    return i >= 0 && i < g_model.drives ? i : -1;
}

bool IsOurs(HANDLE h) { return (uintptr_t)h >= kHandleBase && (uintptr_t)h < kHandleBase + 26; }

UINT WINAPI DriveType(LPCSTR root)
{
    if (root && root[0] && root[1] == ':' && DriveIndex(root[0]) >= 0) return DRIVE_CDROM;
    return ::GetDriveTypeA(root);
}

HANDLE WINAPI Create(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                     DWORD flags, HANDLE templ)
{
    if (name && strncmp(name, "\\\\.\\", 4) == 0 && name[5] == ':' && name[6] == 0) {
        int i = DriveIndex(name[4]);
        if (i < 0) {
            g_lastError = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        ++g_opens;
        ++g_openHandles;
        return (HANDLE)(kHandleBase + i);
    }
    return ::CreateFileA(name, access, share, sa, disposition, flags, templ);
}

BOOL WINAPI Control(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                    LPOVERLAPPED overlapped)
{
    if (!IsOurs(h)) return ::DeviceIoControl(h, code, in, inSize, out, outSize, returned, overlapped);
    int drive = (int)((uintptr_t)h - kHandleBase);
    if (code == kIoctlScsiGetAddress && out && outSize >= sizeof(ScsiAddress)) {
        auto* a = static_cast<ScsiAddress*>(out);
        a->portNumber = (uint8_t)g_model.port;
        a->pathId = 0;
        a->targetId = (uint8_t)drive;
        a->lun = 0;
        if (returned) *returned = sizeof(ScsiAddress);
        return TRUE;
    }
    if (code != kIoctlScsiPassThroughDirect || !in || inSize < sizeof(PassThroughDirect)) {
        g_lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    auto* spt = static_cast<PassThroughDirect*>(in);
    if (spt->cdb[0] != 0x12 && g_model.TakeMediaChanged()) {
        g_model.Log(spt->cdb, spt->cdbLength, nullptr, 0);
        g_lastError = ERROR_MEDIA_CHANGED;
        return FALSE;
    }
    // A transfer whose direction the command needs and the request does not
    // give is refused, as a real driver would.
    bool outgoing = spt->cdb[0] == 0x15;
    if (spt->dataTransferLength && spt->dataIn != (outgoing ? 0 : 1)) {
        g_lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    auto* data = static_cast<uint8_t*>(spt->dataBuffer);
    int r = g_model.Execute(spt->cdb, spt->cdbLength, data, spt->dataTransferLength, outgoing ? data : nullptr);
    if (r < 0) {
        g_lastError = ERROR_SEM_TIMEOUT;
        return FALSE;
    }
    spt->scsiStatus = (uint8_t)r;
    if (returned) *returned = inSize;
    return TRUE;
}

BOOL WINAPI Close(HANDLE h)
{
    if (!IsOurs(h)) return ::CloseHandle(h);
    --g_openHandles;
    return TRUE;
}

DWORD WINAPI LastError(void) { return g_lastError; }

const CdDeviceApi kFake = {DriveType, Create, Control, Close, LastError};

}  // namespace

bool Install(const std::string& modelPath, const std::string& logPath)
{
    g_model = DiscModel();
    g_opens = g_openHandles = 0;
    if (!g_model.Load(modelPath, logPath)) return false;
    g_cdDevice = &kFake;
    return true;
}

void Uninstall() { g_cdDevice = &kSystemCdDevice; }
int Opens() { return g_opens; }
int OpenHandles() { return g_openHandles; }

}  // namespace fakedev

// ASPI emulation over the system's SCSI pass-through: the CD-ROM drives found
// by drive letter, answered through the two ASPI entry points.
#pragma once
#include <windows.h>
#include <stdint.h>

// The few system calls the emulation makes, in one table so that tests can
// put a drive of their own behind them.
struct CdDeviceApi {
    UINT(WINAPI* GetDriveTypeA)(LPCSTR root);
    HANDLE(WINAPI* CreateFileA)(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile);
    BOOL(WINAPI* DeviceIoControl)(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                  LPDWORD returned, LPOVERLAPPED overlapped);
    BOOL(WINAPI* CloseHandle)(HANDLE handle);
    DWORD(WINAPI* GetLastError)(void);
};
extern const CdDeviceApi kSystemCdDevice;
// The table in use: the system's unless a test installs its own.
extern const CdDeviceApi* g_cdDevice;

constexpr DWORD kIoctlScsiPassThroughDirect = 0x4D014;
constexpr DWORD kIoctlScsiGetAddress = 0x41018;

#pragma pack(push, 4)
struct PassThroughDirect {
    uint16_t length;
    uint8_t scsiStatus;
    uint8_t pathId;
    uint8_t targetId;
    uint8_t lun;
    uint8_t cdbLength;
    uint8_t senseInfoLength;
    uint8_t dataIn;  // 0 out, 1 in, 2 unspecified
    uint32_t dataTransferLength;
    uint32_t timeOutValue;
    void* dataBuffer;
    uint32_t senseInfoOffset;
    uint8_t cdb[16];
};
#pragma pack(pop)
static_assert(sizeof(PassThroughDirect) == 44, "");

struct PassThroughRequest {
    PassThroughDirect spt;
    uint32_t pad;
    uint8_t sense[32];
};
static_assert(sizeof(PassThroughRequest) == 80, "");
static_assert(offsetof(PassThroughRequest, sense) == 48, "");

struct ScsiAddress {
    uint32_t length;
    uint8_t portNumber, pathId, targetId, lun;
};
static_assert(sizeof(ScsiAddress) == 8, "");

// Finds the drives; the number of CD-ROM drives found (0: the set-up failed).
int Scsipt_Init();
void Scsipt_Stop();
bool Scsipt_HasDrives();
// Opens the device of the drive at that address unless it is open already.
void Scsipt_OpenDevice(int adapter, int target, int lun);
DWORD __cdecl Scsipt_GetSupportInfo(void);
DWORD __cdecl Scsipt_SendCommand(void* srb);

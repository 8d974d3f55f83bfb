// ASPI for Win32 request blocks as this module uses them: our own description
// of the fields it fills and reads (little-endian, byte-packed).
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

enum : uint8_t {
    SC_HA_INQUIRY = 0,
    SC_GET_DEV_TYPE = 1,
    SC_EXEC_SCSI_CMD = 2,
    SC_ABORT_SRB = 3,
};

enum : uint8_t {
    SS_PENDING = 0,
    SS_COMP = 1,
    SS_ABORTED = 2,
    SS_ERR = 4,
    SS_INVALID_HA = 0x81,
    SS_NO_DEVICE = 0x82,
    SS_NO_ASPI = 0xE3,
    SS_NO_ADAPTERS = 0xE8,
};

enum : uint8_t {
    SRB_RESIDUAL = 0x04,
    SRB_DIR_IN = 0x08,
    SRB_DIR_OUT = 0x10,
    SRB_EVENT_NOTIFY = 0x40,
};

enum : uint8_t { DTYPE_CDROM = 5, DTYPE_UNKNOWN = 31 };

#pragma pack(push, 1)
struct SrbHeader {
    uint8_t command;
    uint8_t status;
    uint8_t adapter;
    uint8_t flags;
    uint32_t reserved;
};

struct SrbAdapterInquiry {
    SrbHeader h;
    uint8_t adapterCount;  // 8
    uint8_t adapterScsiId;  // 9
    char managerId[16];     // 10
    char adapterId[16];     // 26
    uint8_t unique[16];     // 42: [3] targets (0 = 8), [4..7] largest transfer
    uint16_t reserved;
};

struct SrbDeviceType {
    SrbHeader h;
    uint8_t target;      // 8
    uint8_t lun;         // 9
    uint8_t deviceType;  // 10
    uint8_t reserved;
};

struct SrbExec {
    SrbHeader h;
    uint8_t target;         // 8
    uint8_t lun;            // 9
    uint16_t reserved1;
    uint32_t bufferLength;  // 12
    uint8_t* buffer;        // 16
    uint8_t senseLength;    // 20
    uint8_t cdbLength;      // 21
    uint8_t hostStatus;     // 22
    uint8_t targetStatus;   // 23
    HANDLE postEvent;       // 24
    uint8_t reserved2[20];
    uint8_t cdb[16];        // 48
    uint8_t sense[16];      // 64
};

struct SrbAbort {
    SrbHeader h;
    void* srbToAbort;  // 8
};
#pragma pack(pop)

static_assert(sizeof(SrbHeader) == 8, "");
static_assert(offsetof(SrbAdapterInquiry, managerId) == 10, "");
static_assert(offsetof(SrbAdapterInquiry, adapterId) == 26, "");
static_assert(offsetof(SrbAdapterInquiry, unique) == 42, "");
static_assert(offsetof(SrbDeviceType, deviceType) == 10, "");
static_assert(offsetof(SrbExec, bufferLength) == 12, "");
static_assert(offsetof(SrbExec, buffer) == 16, "");
static_assert(offsetof(SrbExec, senseLength) == 20, "");
static_assert(offsetof(SrbExec, targetStatus) == 23, "");
static_assert(offsetof(SrbExec, postEvent) == 24, "");
static_assert(offsetof(SrbExec, cdb) == 48, "");
static_assert(offsetof(SrbExec, sense) == 64, "");
static_assert(sizeof(SrbExec) == 80, "");
static_assert(offsetof(SrbAbort, srbToAbort) == 8, "");

// The two working entry points of an ASPI manager.
typedef DWORD(__cdecl* GetAspiSupportInfoFn)(void);
typedef DWORD(__cdecl* SendAspiCommandFn)(void* srb);

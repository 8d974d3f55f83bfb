// CD-reading layer: finds CD-ROM drives through an ASPI manager (the outside
// library or our pass-through emulation), hands out numbered drive handles
// kept in a table shared by every process, and reads the table of contents
// and CD-DA sectors with the read method detected per drive.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

enum { APIC_NONE = 0, APIC_ASPI = 1, APIC_SCSIPT = 2 };

// Layer results: the ASPI status values for done and error.
enum { CD_OK = 1, CD_FAIL = 4 };

enum {
    CDERR_NO_LIBRARY = -1,
    CDERR_NO_SUPPORT_INFO = -2,
    CDERR_NO_SEND_COMMAND = -3,
    CDERR_SRB_STATUS = -4,
    CDERR_SMALL_BUFFER = -6,
    CDERR_BAD_HANDLE = -7,
    CDERR_NO_SLOT = -8,
    CDERR_NOT_CDROM = -10,
    CDERR_MUTEX_TIMEOUT = -11,
    CDERR_DRIVE_IN_USE = -12,
    CDERR_NO_REQUEST = -13,
    CDERR_BAD_REQUEST = -14,
    CDERR_NO_ADAPTER = -16,
    CDERR_NO_CDROM = -17,
    CDERR_SCSIPT_FAILED = -18,
};

constexpr uint32_t kSectorBytes = 2352;
constexpr uint32_t kTocBytes = 804;
constexpr int kMaxDrives = 16;

#pragma pack(push, 1)
struct CdListEntry {
    uint8_t adapter, target, lun, pad;
    char description[65];
    char vendor[9];
    char product[17];
    char revision[5];
    char vendorSpecific[21];
};

struct CdList {
    uint8_t capacity;
    uint8_t count;
    CdListEntry entries[8];
};

struct DriveOpenRequest {
    uint8_t size;
    uint8_t version;
    uint8_t adapter, target, lun;
    uint8_t readMethod;
    uint32_t option;
    uint8_t option10;
    uint8_t option11;
};

// One drive handle's record in the shared table.
struct DriveSlot {
    uint8_t adapter, target, lun;
    uint8_t readMethod;    // 0 automatic, 1..8 fixed
    int32_t inUse;
    int32_t msf;           // read the table of contents with MSF addresses
    int32_t prepared;      // the fixed method's set-up was sent
    uint32_t ownerProcess;  // id of the process that holds the handle
    int32_t failedRounds;   // detection rounds in a row that found no working method
    uint32_t failedLba;     // start sector of the last of them
    uint32_t failedMs;      // milliseconds those rounds took in all
    uint32_t lastRoundMs;   // milliseconds the last of them took
    uint8_t reserved[52];
    uint32_t readProc;      // read procedure: method number, 0 automatic
    uint32_t releaseProc;   // release procedure: 0 none, 1 restore the block size
    int32_t option10;
    int32_t option11;
    int32_t reserved2;
};

struct SharedDriveTable {
    uint32_t size;
    uint32_t version;
    DriveSlot slots[kMaxDrives];
    uint32_t mutexHandles[kMaxDrives];
    int32_t nextSlot;
};
#pragma pack(pop)

struct ReadRequest {
    uint32_t startSector;
    uint32_t sectorCount;
    uint32_t capacity;   // bytes of data[]
    uint32_t bytesRead;
    int32_t status;
    uint32_t dataOffset;
    uint8_t data[1];
};

static_assert(sizeof(CdListEntry) == 121, "");
static_assert(sizeof(CdList) == 970, "");
static_assert(sizeof(DriveOpenRequest) == 12, "");
static_assert(offsetof(DriveOpenRequest, option10) == 10, "");
static_assert(sizeof(DriveSlot) == 108, "");
static_assert(offsetof(DriveSlot, failedLba) == 24, "");
static_assert(offsetof(DriveSlot, lastRoundMs) == 32, "");
static_assert(offsetof(DriveSlot, readProc) == 88, "");
static_assert(offsetof(DriveSlot, option10) == 96, "");
static_assert(sizeof(SharedDriveTable) == 1804, "");
static_assert(offsetof(SharedDriveTable, mutexHandles) == 1736, "");
static_assert(offsetof(SharedDriveTable, nextSlot) == 1800, "");
static_assert(offsetof(ReadRequest, data) == 24, "");

// Heap block for a request of `sectors` sectors; free with HeapFree.
ReadRequest* ReadRequest_Create(uint32_t sectors);

// Start and stop (the module's InitModule and QuitModule).
void SetAPI(const char* logFile, int* logLevel);
void libraryStop();
int loadAspi();
int loadScsipt();
void deinitLibrary();

int GetNumAdapters();
int getSCSIDevType(int adapter, int target, int lun, int* type, char* name, int nameCapacity);
int GetDriveInfo(int adapter, int target, int lun, CdListEntry* entry);
int GetCDList(CdList* list);
int getCDHandle(const DriveOpenRequest* request);
int closeCDHandle(int handle);
int readTOC(int handle, uint8_t* toc);
int readCDAudioLBA(int handle, ReadRequest* request);
int pauseResumeCD(int handle, int pause);

// Current interface, last error code and last failing SRB status.
int CdLayer_Interface();
int CdLayer_LastError();
int CdLayer_LastAspiStatus();
void CdLayer_SetLastError(int code);

// Millisecond clock of the read-method detection's time limits (GetTickCount;
// tests run it faster).
extern DWORD(WINAPI* g_cdClock)(void);

// Direct access to a handle's slot under its drive mutex (the mutex is
// recursive): NULL with the error code set when the handle is bad or the
// wait times out; every successful lock is paired with CdLayer_UnlockSlot.
DriveSlot* CdLayer_LockSlot(int handle);
void CdLayer_UnlockSlot(int handle);

// Log line of the layer (class "PylRIP32"), written when the level passes.
void CdLayer_Log(const char* operation, int line, int level, const char* format, ...);

// A checked table of contents: the header and every descriptor from the
// first track to the lead-out lie inside the answered data.
struct TocView {
    int first, last, count;
    const uint8_t* descriptors;  // count + 1 descriptors of 8 bytes, lead-out last
};
bool ParseToc(const uint8_t* toc, TocView* view);
inline uint32_t Be32(const uint8_t* p) { return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

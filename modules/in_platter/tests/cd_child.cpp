// Helper program of the CD tests.
//   cd_child try|die PATH: opens the track with the CD module in a second
//     process. try: exit 10 when it opened (then closes), 20 when refused.
//     die: ends at once without closing (exit 30 or 20).
//   cd_child drive LETTER UNIXDIR: makes the folder a CD drive of the Wine
//     prefix through Wine's mount manager (exit 0 when done).
#include <windows.h>

#include <string.h>

#include "vq_module.h"

extern "C" IVqProModule* __cdecl GetModuleInterface(void);

namespace {

// Wine's mount manager request that defines a drive letter (its own extension).
struct UnixDriveRequest {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};
static_assert(sizeof(UnixDriveRequest) == 32, "");
const DWORD kDefineUnixDrive = 0x6DC080;

int DefineDrive(char letter, const char* unixDir)
{
    char buffer[1024] = {};
    auto* r = reinterpret_cast<UnixDriveRequest*>(buffer);
    size_t n = strlen(unixDir) + 1;
    if (sizeof *r + n > sizeof buffer) return 2;
    r->size = (ULONG)(sizeof *r + n);
    r->type = DRIVE_CDROM;
    r->fsType = 3;  // ISO 9660
    r->letter = (WCHAR)(letter | 0x20);
    r->mountPointOffset = sizeof *r;
    memcpy(buffer + sizeof *r, unixDir, n);
    HANDLE mgr = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (mgr == INVALID_HANDLE_VALUE) return 3;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(mgr, kDefineUnixDrive, buffer, r->size, nullptr, 0, &returned, nullptr);
    CloseHandle(mgr);
    char root[4] = {letter, ':', '\\', 0};
    return ok && GetDriveTypeA(root) == DRIVE_CDROM ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "drive") == 0) return DefineDrive(argv[2][0], argv[3]);
    if (argc < 3) return 2;
    IVqProModule* m = GetModuleInterface();
    m->h.hInstance = GetModuleHandleA(nullptr);
    int level = 15;
    m->h.InitModule("", &level);
    void* h = m->input.Open(argv[2], nullptr);
    if (strcmp(argv[1], "die") == 0) TerminateProcess(GetCurrentProcess(), h ? 30 : 20);
    if (h) m->input.Close(h);
    m->h.QuitModule();
    return h ? 10 : 20;
}

// Update manager: one GET request per check, answer read line by line.
#define PYLPUM_BUILD
#include "PylNetLib.h"  // before windows.h (winsock2)
#include "pyl_pum.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "pum_log.h"
#include "vq_log.h"
#include "resource.h"

#ifndef PYLPUM_SERVER_HOST
#define PYLPUM_SERVER_HOST "pum.pylsoft.com"
#endif

static HINSTANCE g_instance = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_instance = inst;
        DisableThreadLibraryCalls(inst);
    }
    return TRUE;
}

namespace {

const int kUrlSize = 4096;
const int kLineMax = 1024;
const char kUserAgent[] = "User-Agent: PylSoft Update Manager (Mozilla)";
const char kAccept[] = "Accept:*/*";

void* Alloc(size_t n) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, n); }
void Free(void* p)
{
    if (p) HeapFree(GetProcessHeap(), 0, p);
}

// The program name goes into the query as it is, except bytes that cannot
// stand in a request line (controls, space, DEL and above), which are %XX.
void EncodeName(const char* name, char* out, size_t size)
{
    static const char hex[] = "0123456789ABCDEF";
    size_t n = 0;
    for (const unsigned char* p = (const unsigned char*)(name ? name : ""); *p && n + 1 < size; ++p) {
        if (*p < 0x21 || *p > 0x7E) {
            if (n + 4 > size) break;
            out[n++] = '%';
            out[n++] = hex[*p >> 4];
            out[n++] = hex[*p & 0xF];
        } else {
            out[n++] = (char)*p;
        }
    }
    out[n] = 0;
}

}  // namespace

CPUM::CPUM(char* logFile_, long* logLevel_)
    : logFile(logFile_), logLevel(logLevel_), downloadUrl(nullptr), hInstance(g_instance), socketLibReady(0)
{
    PumLog(logFile, logLevel, hInstance, "CPUM::CPUM", 52, IDS_INITIALIZING, LogDebug);
    if (PylNetLib::InitSocketLib() != 0)
        PumLog(logFile, logLevel, hInstance, "CPUM::CPUM", 65, IDS_WINSOCK_FAILED, LogError);
    else
        socketLibReady = 1;
    downloadUrl = (char*)Alloc(kUrlSize);
    if (!downloadUrl) PumLog(logFile, logLevel, hInstance, "CPUM::CPUM", 72, IDS_ERROR_MEMORY, LogError);
    PumLog(logFile, logLevel, hInstance, "CPUM::CPUM", 76, IDS_INIT_COMPLETE, LogDebug);
}

CPUM::~CPUM()
{
    PumLog(logFile, logLevel, hInstance, "CPUM::~CPUM", 94, IDS_DEINITIALIZING, LogDebug);
    Free(downloadUrl);
    downloadUrl = nullptr;
    if (socketLibReady) PylNetLib::CleanupSocketLib();
    PumLog(logFile, logLevel, hInstance, "CPUM::~CPUM", 105, IDS_DEINIT_COMPLETE, LogDebug);
}

long CPUM::CheckVersion(IVqProModuleHead head)
{
    long result = 0;
    char* address = (char*)Alloc(kUrlSize);
    if (!address) return 0;
    HTTPGet* http = new (std::nothrow) HTTPGet((DnsResolver*)-1, 16384, nullptr);
    if (!http) {
        Free(address);
        return 0;
    }

    char server[256];
    DWORD n = GetEnvironmentVariableA(PYLPUM_SERVER_ENV, server, sizeof server);
    if (n == 0 || n >= sizeof server) lstrcpynA(server, PYLPUM_SERVER_HOST, sizeof server);
    char timeout[32];
    n = GetEnvironmentVariableA(PYLPUM_TIMEOUT_ENV, timeout, sizeof timeout);
    if (n > 0 && n < sizeof timeout) http->SetTimeout(atoi(timeout));

    char name[kUrlSize];
    EncodeName(head.InternalName, name, sizeof name);
    uint32_t v = head.Version;
    snprintf(address, kUrlSize, "http://%s/pum/checkversion.php?pgmname=%s&mayor=%d&minor=%d&rev=%d&build=%d",
             server, name, (int)(v >> 28 & 0xF), (int)(v >> 24 & 0xF), (int)(v >> 16 & 0xFF), (int)(v & 0xFFFF));
    http->AddHeader((char*)kUserAgent);
    http->AddHeader((char*)kAccept);
    http->Connect(address);

    bool addressNext = false;  // the line after "MANUAL" / "AUTOMATIC" is the address
    int rc = http->Run();
    for (;;) {
        if (rc < 0) {
            PumLog(logFile, logLevel, hInstance, "CPUM::CheckVersion", 144, IDS_CONNECT_ERROR, LogError,
                   http->GetErrorText());
            break;
        }
        if (http->GetStatus() == HTTPGet::StatusBody) {
            int avail;
            while ((avail = http->BytesAvailable()) > 0) {
                if (addressNext) {
                    addressNext = false;
                    if (downloadUrl) {
                        http->GetLine(downloadUrl, kUrlSize);
                    } else {
                        http->GetLine(nullptr, 0);  // no buffer to keep it in
                    }
                    continue;
                }
                int size = (avail < kLineMax ? avail : kLineMax) + 1;
                char* line = (char*)Alloc(size);
                if (!line) break;
                http->GetLine(line, size);
                PumLog(logFile, logLevel, hInstance, "CPUM::CheckVersion", 159, IDS_SERVER_RESPONSE, LogInfo,
                       line);
                if (strcmp(line, "UPTODATE") == 0) {
                    result = 0;
                } else if (strcmp(line, "AUTOMATIC") == 0 || strcmp(line, "MANUAL") == 0) {
                    result = line[0] == 'A' ? 2 : 1;
                    if (downloadUrl) downloadUrl[0] = 0;  // never offer an earlier answer's address
                    addressNext = true;
                }
                Free(line);
            }
        }
        if (rc == 1) {
            PumLog(logFile, logLevel, hInstance, "CPUM::CheckVersion", 189, IDS_CHECK_DONE, LogDebug);
            break;
        }
        rc = http->Run();
    }

    delete http;
    Free(address);
    return result;
}

long CPUM::AutomaticUpdate(IVqProModuleHead)
{
    MessageBoxA(nullptr, "Ouch! Don't know how to make an automatic update!", "PylSoft Update Manager",
                MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL);
    return 0;
}

char* CPUM::GetDownloadURL()
{
    static char empty[1];
    return downloadUrl ? downloadUrl : empty;
}

// Update manager: asks the update server whether a newer version of a program exists.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include "vq_module.h"

#ifdef PYLPUM_BUILD
#define PYLPUM_CLASS
#else
#define PYLPUM_CLASS __declspec(dllimport)
#endif

class PYLPUM_CLASS CPUM {
public:
    // Both pointers are borrowed for the object's life.
    CPUM(char* logFile, long* logLevel);
    ~CPUM();
    // 0 up to date (or the check failed), 1 manual update, 2 automatic update.
    long CheckVersion(IVqProModuleHead head);
    long AutomaticUpdate(IVqProModuleHead head);
    // Address from the last "MANUAL" or "AUTOMATIC" answer; owned by the object.
    char* GetDownloadURL();

    CPUM(const CPUM&) = delete;
    CPUM& operator=(const CPUM&) = delete;

private:
    char* logFile;
    long* logLevel;
    char* downloadUrl;
    HINSTANCE hInstance;
    int socketLibReady;
};

// Environment variables read at each check: the update server as "host[:port]"
// (instead of the built-in one) and the network timeout in ms.
#define PYLPUM_SERVER_ENV "PYLPUM_SERVER"
#define PYLPUM_TIMEOUT_ENV "PYLPUM_TIMEOUT_MS"

// A download address may be handed to the shell only when it is a web address.
inline bool PumIsWebAddress(const char* url)
{
    if (!url) return false;
    const char* rest = nullptr;
    if (_strnicmp(url, "http://", 7) == 0) rest = url + 7;
    else if (_strnicmp(url, "https://", 8) == 0) rest = url + 8;
    return rest && *rest && *rest != '/';
}

typedef HINSTANCE(WINAPI* PumShellOpenFn)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

// Opens the download address with the shell's default handler; anything that is
// not a non-empty http/https address is refused. Returns true when opened.
inline bool PumOpenDownloadURL(HWND owner, const char* url, PumShellOpenFn shellOpen = ShellExecuteA)
{
    if (!PumIsWebAddress(url) || !shellOpen) return false;
    return (INT_PTR)shellOpen(owner, "open", url, nullptr, nullptr, SW_SHOWNORMAL) > 32;
}

// Log writer: one formatted line per message appended to the log file (opened
// and closed for every line), or a message box when no log file is set.
#include "vq_log.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

int __cdecl ShowMessageBox(const char* text, const char* caption, unsigned type)
{
    return MessageBoxA(nullptr, text, caption, type);
}

LogMessageBoxFn g_messageBox = ShowMessageBox;

const char* LevelLetter(int level)
{
    if (level <= 0 || level > 15) return "?";
    if (level & 8) return "E";
    if (level & 4) return "W";
    if (level & 2) return "i";
    return "d";
}

unsigned LevelIcon(int level)
{
    if (level == LogError) return MB_ICONERROR;
    if (level == LogWarning) return MB_ICONWARNING;
    return MB_ICONINFORMATION;
}

// Opens the log for appending. Another writer holds the file for the few
// microseconds of its own line: wait for it briefly instead of losing ours.
HANDLE OpenLog(const char* logFile)
{
    for (int attempt = 0;; ++attempt) {
        HANDLE h = CreateFileA(logFile, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) return h;
        if (GetLastError() != ERROR_SHARING_VIOLATION || attempt >= kLogOpenRetries) return h;
        Sleep(1);
    }
}

}  // namespace

LogMessageBoxFn LogSetMessageBox(LogMessageBoxFn fn)
{
    LogMessageBoxFn old = g_messageBox;
    g_messageBox = fn ? fn : ShowMessageBox;
    return old;
}

int LogMessage(const char* className, const char* functionName, int line, const char* text,
               int level, const char* logFile)
{
    if (!className) className = "";
    if (!functionName) functionName = "";
    if (!text) text = "";
    size_t size = strlen(className) + strlen(functionName) + strlen(text) + 256;
    char* buf = (char*)HeapAlloc(GetProcessHeap(), 0, size);
    if (!buf) return 0;

    SYSTEMTIME t;
    GetLocalTime(&t);
    int n = snprintf(buf, size, "[%s][%02d/%02d/%04d %02d:%02d:%02d][%s::%s(%d)] %s\r\n", LevelLetter(level),
                     t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond, className, functionName, line,
                     text);
    if (n < 0) {
        HeapFree(GetProcessHeap(), 0, buf);
        return 0;
    }
    size_t len = (size_t)n < size ? (size_t)n : size - 1;

    int result = 1;
    if (logFile && *logFile) {
        HANDLE h = OpenLog(logFile);
        if (h == INVALID_HANDLE_VALUE) {
            result = 0;
        } else {
            DWORD written = 0;
            SetFilePointer(h, 0, nullptr, FILE_END);
            if (!WriteFile(h, buf, (DWORD)len, &written, nullptr) || written != len) result = 0;
            CloseHandle(h);
        }
    } else {
        g_messageBox(text, functionName, MB_OK | MB_SETFOREGROUND | LevelIcon(level));
    }
    HeapFree(GetProcessHeap(), 0, buf);
    return result;
}

void LogSystemErrorCode(const char* className, const char* functionName, int line, const char* text,
                        const char* logFile, unsigned long errorCode)
{
    if (!text) text = "";
    char* sys = nullptr;
    DWORD got = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, errorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&sys, 0,
                               nullptr);
    char fallback[32];
    const char* sysText = sys;
    if (!got || !sys) {
        // No text for this code: name it instead of passing on nothing.
        snprintf(fallback, sizeof fallback, "Unknown error 0x%08lX", errorCode);
        sysText = fallback;
    }
    size_t size = strlen(text) + strlen(sysText) + 32;
    char* msg = (char*)HeapAlloc(GetProcessHeap(), 0, size);
    if (msg) {
        snprintf(msg, size, "%s\n%s\n", text, sysText);
        LogMessage(className, functionName, line, msg, LogError, logFile);
        HeapFree(GetProcessHeap(), 0, msg);
    }
    if (sys) LocalFree(sys);
}

void LogSystemError(const char* className, const char* functionName, int line, const char* text,
                    const char* logFile)
{
    // Take the code before anything else can change it.
    DWORD code = GetLastError();
    LogSystemErrorCode(className, functionName, line, text, logFile, code);
}

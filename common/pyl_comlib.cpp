// Common helper library: paths beside a module, byte/time conversions, time
// formatting, estimated time left and a few string operations.
#include "pyl_comlib.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static HINSTANCE g_instance;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
    return TRUE;
}

namespace {

// Bounded copy: at most size - 1 characters, always terminated (size > 0).
void CopyBounded(char* dst, size_t size, const char* src)
{
    if (!dst || size == 0) return;
    size_t n = src ? strlen(src) : 0;
    if (n >= size) n = size - 1;
    memmove(dst, src, n);
    dst[n] = '\0';
}

// The module's file path; 0 characters when it cannot be read.
size_t ModulePath(HINSTANCE module, char* buf, DWORD size)
{
    DWORD n = GetModuleFileNameA(module, buf, size);
    if (n == 0 || n >= size) {  // failure or a cut path
        buf[0] = '\0';
        return 0;
    }
    return n;
}

// Bytes for a duration, cut to whole bytes and rounded down to the block
// align; saturates instead of wrapping (negative or NaN give 0).
unsigned BytesFor(double value, unsigned blockAlign)
{
    if (!(value > 0.0)) return 0;
    unsigned n = value >= 4294967295.0 ? 0xFFFFFFFFu : (unsigned)value;
    if (blockAlign > 1) n -= n % blockAlign;
    return n;
}

bool IsBlank(unsigned char c) { return c <= 0x20; }

int HexDigit(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

unsigned long ReadHex(const char* text, size_t maxChars)
{
    unsigned long v = 0;
    for (size_t i = 0; i < maxChars; ++i) {
        unsigned char c = (unsigned char)text[i];
        if (c <= 0x20 || c > 0x7F) break;
        v = (v << 4) + HexDigit(c);
    }
    return v;
}

// Output of FormatTime: appends while room is left for the NUL.
struct BoundedText {
    char* buf;
    size_t size;
    size_t len;
    void Put(const char* s)
    {
        while (*s && len + 1 < size) buf[len++] = *s++;
        buf[len] = '\0';
    }
    void Put(char c)
    {
        char s[2] = {c, '\0'};
        Put(s);
    }
};

bool IsDirectory(const char* path)
{
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Index of the last path separator, or -1.
int LastSeparator(const char* path)
{
    int last = -1;
    for (int i = 0; path[i]; ++i)
        if (path[i] == '\\' || path[i] == '/') last = i;
    return last;
}

// Creates dir and every missing parent; true when the folder exists afterwards.
bool MakeFolder(char* dir)
{
    size_t n = strlen(dir);
    while (n > 1 && (dir[n - 1] == '\\' || dir[n - 1] == '/') && dir[n - 2] != ':') dir[--n] = '\0';
    if (n == 0) return false;
    if (CreateDirectoryA(dir, nullptr) || IsDirectory(dir)) return IsDirectory(dir);
    int sep = LastSeparator(dir);
    if (sep > 0) {
        char parent[MAX_PATH];
        memcpy(parent, dir, sep);
        parent[sep] = '\0';
        // Stop at a drive ("C:") or a root; those either exist or cannot be made.
        if (!(sep == 2 && parent[1] == ':') && !IsDirectory(parent)) {
            if (!MakeFolder(parent)) return false;
        }
        CreateDirectoryA(dir, nullptr);
    }
    return IsDirectory(dir);
}

}  // namespace

PYLCOMLIB_API void __cdecl AppendFileToAppPath(HINSTANCE module, char out[260], const char* file)
{
    if (!out) return;
    char path[MAX_PATH];
    ModulePath(module, path, MAX_PATH);
    int sep = LastSeparator(path);
    path[sep < 0 ? 0 : sep] = '\0';
    if (!file) {
        CopyBounded(out, MAX_PATH, path);
        return;
    }
    snprintf(out, MAX_PATH, "%s\\%s", path, file);
}

PYLCOMLIB_API void __cdecl ChangeFileExt(HINSTANCE module, const char* ext, char* out, int size)
{
    if (!out || size <= 0) return;
    if (!ext) ext = "";
    char path[MAX_PATH];
    ModulePath(module, path, MAX_PATH);
    // Only a dot in the file name counts: "C:\a.b\prog" has no extension.
    int sep = LastSeparator(path);
    char* dot = strrchr(path + sep + 1, '.');
    if (dot) *dot = '\0';
    snprintf(out, size, "%s.%s", path, ext);
}

PYLCOMLIB_API double __cdecl Bytes2MS(unsigned bytes, unsigned bytesPerSec)
{
    return bytes * 1000.0 / bytesPerSec;
}

PYLCOMLIB_API double __cdecl Bytes2Sec(unsigned bytes, unsigned bytesPerSec)
{
    return (double)bytes / bytesPerSec;
}

PYLCOMLIB_API unsigned __cdecl MS2Bytes(double ms, unsigned bytesPerSec, unsigned blockAlign)
{
    return BytesFor(bytesPerSec * ms / 1000.0, blockAlign);
}

PYLCOMLIB_API unsigned __cdecl Sec2Bytes(double seconds, unsigned bytesPerSec, unsigned blockAlign)
{
    return BytesFor(bytesPerSec * seconds, blockAlign);
}

PYLCOMLIB_API double __cdecl ETA(double done, double total, int startTime)
{
    if (done == 0.0) return 0.0;
    unsigned elapsed = (unsigned)time(nullptr) - (unsigned)startTime;
    return elapsed / done * (total - done);
}

PYLCOMLIB_API int __cdecl FormatTime(char* buf, int size, const char* format, double seconds)
{
    if (!buf) return 0;
    if (size <= 0) return 1;
    BoundedText out{buf, (size_t)size, 0};
    buf[0] = '\0';
    // NaN and negative durations (an estimate that overshot) show as 0.
    if (!(seconds > 0.0)) seconds = 0.0;
    if (!format && seconds < 1.0) {
        static const char* const units[] = {"s", "ms", "\xB5s", "ns", "ps"};
        // u = 1 - trunc(trunc(log10(seconds)) / 3), at most 4, worked out by
        // comparison so that exact powers of ten do not depend on log10's rounding.
        int u = 4;
        if (seconds > 1e-3)
            u = 1;
        else if (seconds > 1e-6)
            u = 2;
        else if (seconds > 1e-9)
            u = 3;
        char text[64];
        snprintf(text, sizeof text, "%0.3f %s", seconds * pow(10.0, 3 * u), units[u]);
        out.Put(text);
        return 1;
    }
    if (seconds > 9e15) seconds = 9e15;  // whole days must fit the integer maths below
    if (!format) format = "%d:%0h:%0m:%0s";
    for (const char* p = format; *p;) {
        if (*p != '%') {
            out.Put(*p++);
            continue;
        }
        ++p;
        int width = 0;
        while (*p && !strchr("dhmsf", *p)) {
            if (*p == '0') ++width;
            ++p;
        }
        if (!*p) break;  // the format ends inside a field
        long long v = 0;
        switch (*p++) {
        case 'd': v = (long long)(seconds / 86400); break;
        case 'h': v = (long long)(seconds / 3600) % 24; break;
        case 'm': v = (long long)(seconds / 60) % 60; break;
        case 's': v = (long long)seconds % 60; break;
        case 'f': v = (long long)(seconds * 1000) % 1000; break;
        }
        if (width > 64) width = 64;
        char num[96];
        snprintf(num, sizeof num, "%0*lld", width, v);
        out.Put(num);
    }
    return 1;
}

PYLCOMLIB_API int __cdecl CreatePath(const char* path, int isFile)
{
    if (!path || !*path) return 0;
    size_t n = strlen(path);
    if (n >= MAX_PATH) return 0;  // a cut path would name another folder
    char dir[MAX_PATH];
    memcpy(dir, path, n + 1);
    if (isFile) {
        if (dir[n - 1] == '\\' || dir[n - 1] == '/') {
            dir[n - 1] = '\0';
        } else {
            int sep = LastSeparator(dir);
            if (sep < 0) return 1;  // a bare file name lives in the current folder
            dir[sep] = '\0';
        }
        if (!dir[0]) return 0;
    }
    return MakeFolder(dir) ? 1 : 0;
}

PYLCOMLIB_API int __cdecl IsNumeric(const char* text)
{
    if (!text) return 0;
    for (; *text; ++text)
        if (*text < '0' || *text > '9') return 0;
    return 1;
}

PYLCOMLIB_API int __cdecl StrTrim(char* dst, const char* src)
{
    if (!dst || !src || !*src) return 0;
    const char* begin = src;
    while (*begin && IsBlank((unsigned char)*begin)) ++begin;
    size_t n = strlen(begin);
    while (n > 0 && IsBlank((unsigned char)begin[n - 1])) --n;
    memmove(dst, begin, n);
    dst[n] = '\0';
    return 1;
}

PYLCOMLIB_API int __cdecl StrPadR(const char* src, char* dst, unsigned width)
{
    if (!src || !dst) return 0;
    size_t n = strlen(src);
    if (n > width) n = width;
    memmove(dst, src, n);
    memset(dst + n, ' ', width - n);
    dst[width] = '\0';
    return 1;
}

PYLCOMLIB_API int __cdecl StrCapFrase(const char* src, char* dst, int, int eachWord)
{
    if (!src || !dst) return 0;
    bool start = true;
    size_t i = 0;
    for (;; ++i) {
        char c = src[i];
        if (!c) break;
        char o = c == '_' ? ' ' : c;
        if (o >= 'A' && o <= 'Z') {
            if (!start) o = (char)(o - 'A' + 'a');
        } else if (o >= 'a' && o <= 'z') {
            if (start) o = (char)(o - 'a' + 'A');
        }
        start = eachWord && strchr(" ().[]{}", c);
        dst[i] = o;
    }
    dst[i] = '\0';
    return 1;
}

PYLCOMLIB_API char* __cdecl StrDpl(const char* src)
{
    if (!src || !*src) return nullptr;
    size_t n = strlen(src) + 1;
    char* p = (char*)HeapAlloc(GetProcessHeap(), 0, n);
    if (p) memcpy(p, src, n);
    return p;
}

PYLCOMLIB_API unsigned long __cdecl xstol(const char* text)
{
    if (!text) return 0;
    return ReadHex(text, (size_t)-1);
}

PYLCOMLIB_API int __cdecl PylDecodeStr(char* out, const char* key, const char* hexText)
{
    if (!out || !hexText || !key || !*key) return -1;
    size_t n = strlen(hexText) / 2;
    if (n == 0) return -1;
    size_t keyLen = strlen(key);
    for (size_t k = 0; k < n; ++k) out[k] = (char)ReadHex(hexText + 2 * k, 2);
    size_t count = n > keyLen ? n : keyLen;
    for (size_t i = count; i-- > 0;) {
        unsigned char mask = (unsigned char)((unsigned char)key[i % keyLen] + i + 2);
        out[i % n] = (char)((unsigned char)out[i % n] ^ mask);
    }
    out[n] = '\0';
    return (int)n;
}

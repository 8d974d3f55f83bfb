// Exports of the common helper library (undecorated cdecl).
#pragma once
#include <windows.h>

#ifdef PYLCOMLIB_BUILD
#define PYLCOMLIB_API extern "C" __declspec(dllexport)
#else
#define PYLCOMLIB_API extern "C" __declspec(dllimport)
#endif

PYLCOMLIB_API void __cdecl AppendFileToAppPath(HINSTANCE module, char out[260], const char* file);
PYLCOMLIB_API void __cdecl ChangeFileExt(HINSTANCE module, const char* ext, char* out, int size);
PYLCOMLIB_API double __cdecl Bytes2MS(unsigned bytes, unsigned bytesPerSec);
PYLCOMLIB_API double __cdecl Bytes2Sec(unsigned bytes, unsigned bytesPerSec);
PYLCOMLIB_API unsigned __cdecl MS2Bytes(double ms, unsigned bytesPerSec, unsigned blockAlign);
PYLCOMLIB_API unsigned __cdecl Sec2Bytes(double seconds, unsigned bytesPerSec, unsigned blockAlign);
// startTime: the time in whole seconds (time(NULL)) when the work began.
PYLCOMLIB_API double __cdecl ETA(double done, double total, int startTime);
PYLCOMLIB_API int __cdecl FormatTime(char* buf, int size, const char* format, double seconds);
PYLCOMLIB_API int __cdecl CreatePath(const char* path, int isFile);
PYLCOMLIB_API int __cdecl IsNumeric(const char* text);
PYLCOMLIB_API int __cdecl StrTrim(char* dst, const char* src);
PYLCOMLIB_API int __cdecl StrPadR(const char* src, char* dst, unsigned width);
PYLCOMLIB_API int __cdecl StrCapFrase(const char* src, char* dst, int ignored, int eachWord);
// The copy comes from the process heap: release it with HeapFree(GetProcessHeap(), 0, p).
PYLCOMLIB_API char* __cdecl StrDpl(const char* src);
PYLCOMLIB_API unsigned long __cdecl xstol(const char* text);
PYLCOMLIB_API int __cdecl PylDecodeStr(char* out, const char* key, const char* hexText);

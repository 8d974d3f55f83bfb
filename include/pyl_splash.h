// Start-up splash window: a picture with optional transparent colour and a few
// text lines, shown on a thread of its own and faded out on request while the
// owner window fades in.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#ifdef PYLSPLASH_BUILD
#define PYLSPLASH_API extern "C"
#else
#define PYLSPLASH_API extern "C" __declspec(dllimport)
#endif

struct SplashText {
    RECT rect;           // in pixels of the picture
    const char* text;    // replaced by the caller while the splash is shown
    uint32_t format;     // DrawText flags (0 left, 2 right); word break is always added
};

struct SplashInfo {
    int32_t fadeMs;        // fade-out duration, above 0
    int32_t holdMs;        // fully visible time after the hide request
    HBITMAP hBitmap;       // owned (and deleted) by the library from PylSplash_Show on
    BITMAP bitmapInfo;     // filled by the library
    uint32_t colorKey;     // transparent colour (COLORREF), 0xFFFFFFFF = none
    int32_t textCount;
    SplashText* texts;
    HWND hWndSplash;       // written by the splash thread; 0 when creation failed
    HWND hWndOwner;        // fades in as the picture fades out
    HINSTANCE hInstance;   // instance the window class is registered under
    int32_t hideRequested; // set by PylSplash_Hide
};

#define PYLSPLASH_NO_COLORKEY 0xFFFFFFFFu

PYLSPLASH_API int __cdecl PylSplash_Show(SplashInfo* info);
PYLSPLASH_API int __cdecl PylSplash_Hide(SplashInfo* info);

static_assert(sizeof(SplashText) == 24, "");
static_assert(sizeof(BITMAP) == 24, "");
static_assert(offsetof(SplashInfo, holdMs) == 4, "");
static_assert(offsetof(SplashInfo, hBitmap) == 8, "");
static_assert(offsetof(SplashInfo, bitmapInfo) == 12, "");
static_assert(offsetof(SplashInfo, colorKey) == 36, "");
static_assert(offsetof(SplashInfo, textCount) == 40, "");
static_assert(offsetof(SplashInfo, texts) == 44, "");
static_assert(offsetof(SplashInfo, hWndSplash) == 48, "");
static_assert(offsetof(SplashInfo, hWndOwner) == 52, "");
static_assert(offsetof(SplashInfo, hInstance) == 56, "");
static_assert(offsetof(SplashInfo, hideRequested) == 60, "");
static_assert(sizeof(SplashInfo) == 64, "");

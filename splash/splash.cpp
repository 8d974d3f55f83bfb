// Splash window: own thread, own message loop, 32 ms repaint tick, fade-out
// after the hide request (layered windows) or a region-shaped picture that
// closes after the same time (no layered windows).
#define PYLSPLASH_BUILD
#include "pyl_splash.h"
#include "splash_seams.h"

#include <string.h>

#ifndef WS_EX_LAYERED
#define WS_EX_LAYERED 0x00080000
#endif
#ifndef LWA_COLORKEY
#define LWA_COLORKEY 0x1
#define LWA_ALPHA 0x2
#endif

namespace pylsplash {

static DWORD DefaultMajorVersion()
{
    OSVERSIONINFOA vi;
    memset(&vi, 0, sizeof vi);
    vi.dwOSVersionInfoSize = sizeof vi;
    if (!GetVersionExA(&vi)) return 0;
    return vi.dwMajorVersion;
}

static SetLayeredAttributesFn DefaultLookupLayered()
{
    HMODULE user = GetModuleHandleA("user32");
    if (!user) return nullptr;
    return (SetLayeredAttributesFn)(void*)GetProcAddress(user, "SetLayeredWindowAttributes");
}

DWORD (*g_majorVersion)(void) = DefaultMajorVersion;
SetLayeredAttributesFn (*g_lookupLayered)(void) = DefaultLookupLayered;

}  // namespace pylsplash

using namespace pylsplash;

static const char kClassName[] = "PylSplashWnd";
static const UINT kSetupMessage = WM_USER;  // 1024
static const UINT_PTR kTimerId = 1;
static const UINT kTickMs = 32;

// One splash at a time (the class registration guards it).
static bool g_layered = false;
static SetLayeredAttributesFn g_setLayered = nullptr;
static double g_step = 0.0;
static double g_alpha = 0.0;

struct ThreadStart {
    SplashInfo* info;
    HANDLE ready;  // set once the window exists and is set up, or creation failed
};

static HWND VolatileHwnd(HWND const& h) { return *(HWND const volatile*)&h; }

// Cuts the pixels of the colour key out of the window's rectangle.
static void BuildColorKeyRegion(HWND hwnd, SplashInfo* info)
{
    int width = info->bitmapInfo.bmWidth;
    int height = info->bitmapInfo.bmHeight;
    if (width <= 0 || height <= 0) return;
    size_t bytes = (size_t)width * (size_t)height * 4;
    DWORD* pixels = (DWORD*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
    if (!pixels) return;

    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = height;  // bottom-up
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    int lines = GetDIBits(dc, info->hBitmap, 0, (UINT)height, pixels, &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);

    HRGN region = CreateRectRgn(0, 0, width, height);
    if (lines > 0 && region) {
        // The DIB stores blue in the low byte; the key is a COLORREF (red low).
        DWORD key = info->colorKey;
        DWORD stored = ((key & 0xFF) << 16) | (key & 0xFF00) | ((key >> 16) & 0xFF);
        const DWORD* row = pixels;
        for (int y = height - 1; y >= 0; --y, row += width) {
            int x = 0;
            while (x < width) {
                if ((row[x] & 0xFFFFFF) != stored) {
                    ++x;
                    continue;
                }
                int x0 = x;
                while (x < width && (row[x] & 0xFFFFFF) == stored) ++x;
                HRGN hole = CreateRectRgn(x0, y, x, y + 1);
                if (hole) {
                    CombineRgn(region, region, hole, RGN_DIFF);
                    DeleteObject(hole);
                }
            }
        }
    }
    if (region && !SetWindowRgn(hwnd, region, TRUE)) DeleteObject(region);
    HeapFree(GetProcessHeap(), 0, pixels);
}

static void SetUp(HWND hwnd, SplashInfo* info)
{
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, (LONG_PTR)info);
    memset(&info->bitmapInfo, 0, sizeof info->bitmapInfo);
    if (info->hBitmap) GetObjectA(info->hBitmap, sizeof(BITMAP), &info->bitmapInfo);

    RECT work;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
        SetRect(&work, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    int width = info->bitmapInfo.bmWidth;
    int height = info->bitmapInfo.bmHeight;
    int x = work.left + (work.right - width - work.left) / 2;
    int y = work.top + (work.bottom - height - work.top) / 2;
    SetWindowPos(hwnd, nullptr, x, y, width, height,
                 SWP_NOZORDER | SWP_SHOWWINDOW | SWP_FRAMECHANGED | SWP_NOACTIVATE);

    if (g_layered) {
        if (info->colorKey != PYLSPLASH_NO_COLORKEY)
            g_setLayered(hwnd, info->colorKey, 255, LWA_COLORKEY | LWA_ALPHA);
        else
            g_setLayered(hwnd, 0, 255, LWA_ALPHA);
    } else if (info->colorKey != PYLSPLASH_NO_COLORKEY) {
        BuildColorKeyRegion(hwnd, info);
    }

    // A fade of 0 ms or less would never end (infinite step): use the shortest one.
    int fadeMs = info->fadeMs > 0 ? info->fadeMs : 1;
    g_step = 8160.0 / fadeMs;
    g_alpha = g_step * (fadeMs + info->holdMs) * 0.03125;
    SetTimer(hwnd, kTimerId, kTickMs, nullptr);
}

static void Paint(HWND hwnd, SplashInfo* info)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    if (!dc) return;
    if (info && info->hBitmap) {
        HDC mem = CreateCompatibleDC(dc);
        if (mem) {
            HGDIOBJ old = SelectObject(mem, info->hBitmap);
            BitBlt(dc, 0, 0, info->bitmapInfo.bmWidth, info->bitmapInfo.bmHeight, mem, 0, 0, SRCCOPY);
            SelectObject(mem, old);
            DeleteDC(mem);
        }
    }
    SplashText* texts = info ? info->texts : nullptr;
    int count = info ? info->textCount : 0;
    for (int i = 0; texts && i < count; ++i) {
        // The caller swaps text pointers while we run: read each one once.
        const char* text = *(const char* const volatile*)&texts[i].text;
        if (!text) continue;
        HFONT font = CreateFontA(13, 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
        HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        SetBkMode(dc, TRANSPARENT);
        RECT r = texts[i].rect;
        DrawTextA(dc, text, -1, &r, texts[i].format | DT_WORDBREAK);
        if (font) {
            SelectObject(dc, oldFont);
            DeleteObject(font);
        }
    }
    EndPaint(hwnd, &ps);
}

// Leaves the owner opaque, enabled and in front.
static void ReleaseOwner(SplashInfo* info)
{
    HWND owner = info ? info->hWndOwner : nullptr;
    if (!owner || !IsWindow(owner)) return;
    LONG ex = GetWindowLongA(owner, GWL_EXSTYLE);
    if (ex & WS_EX_LAYERED) {
        if (g_setLayered) g_setLayered(owner, 0, 255, LWA_ALPHA);
        SetWindowLongA(owner, GWL_EXSTYLE, ex & ~WS_EX_LAYERED);
    }
    EnableWindow(owner, TRUE);
    SetForegroundWindow(owner);
}

static void Tick(HWND hwnd, SplashInfo* info)
{
    if (g_alpha <= 255.0) {
        if (g_layered && g_alpha >= 0.0) {
            BYTE a = (BYTE)(int)g_alpha;
            if (info->colorKey != PYLSPLASH_NO_COLORKEY)
                g_setLayered(hwnd, info->colorKey, a, LWA_COLORKEY | LWA_ALPHA);
            else
                g_setLayered(hwnd, 0, a, LWA_ALPHA);
            HWND owner = info->hWndOwner;
            if (owner && IsWindow(owner) && (GetWindowLongA(owner, GWL_EXSTYLE) & WS_EX_LAYERED))
                g_setLayered(owner, 0, (BYTE)(255 - a), LWA_ALPHA);
        }
        if (g_alpha <= 0.0) {
            SendMessageA(hwnd, WM_CLOSE, 0, 0);
            return;
        }
    }
    if (*(volatile int32_t*)&info->hideRequested) g_alpha -= g_step;
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

static LRESULT CALLBACK SplashWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    SplashInfo* info = (SplashInfo*)GetWindowLongPtrA(hwnd, GWLP_USERDATA);
    switch (msg) {
    case WM_CREATE:
        SetWindowLongA(hwnd, GWL_STYLE, WS_POPUP);
        return 0;
    case kSetupMessage:
        if (lp) SetUp(hwnd, (SplashInfo*)lp);
        return 0;
    case WM_TIMER:
        if (wp == kTimerId && info) Tick(hwnd, info);
        return 0;
    case WM_PAINT:
        Paint(hwnd, info);
        return 0;
    case WM_CLOSE:
        ReleaseOwner(info);
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd, kTimerId);
        if (info && info->hBitmap) {
            DeleteObject(info->hBitmap);
            info->hBitmap = nullptr;
        }
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wp, lp);
    }
}

static DWORD WINAPI SplashThread(void* param)
{
    ThreadStart* start = (ThreadStart*)param;
    SplashInfo* info = start->info;
    HINSTANCE inst = info->hInstance;
    DWORD ex = WS_EX_TOOLWINDOW | WS_EX_TOPMOST | (g_layered ? WS_EX_LAYERED : 0);
    HWND hwnd = CreateWindowExA(ex, kClassName, kClassName, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                inst, nullptr);
    *(HWND volatile*)&info->hWndSplash = hwnd;
    if (!hwnd) {
        // Nobody will show the picture: it is ours to delete.
        if (info->hBitmap) {
            DeleteObject(info->hBitmap);
            info->hBitmap = nullptr;
        }
        SetEvent(start->ready);
        UnregisterClassA(kClassName, inst);
        return 0;
    }
    SendMessageA(hwnd, kSetupMessage, 0, (LPARAM)info);
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    SetEvent(start->ready);  // the caller may go on (and call Hide) from here

    MSG msg;
    while (IsWindow(hwnd)) {
        BOOL got = GetMessageA(&msg, hwnd, 0, 0);
        if (got <= 0) break;  // 0: quit, -1: error (e.g. the window is gone)
        DispatchMessageA(&msg);
    }
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    UnregisterClassA(kClassName, inst);
    return 0;
}

PYLSPLASH_API int __cdecl PylSplash_Show(SplashInfo* info)
{
    if (!info) return 0;
    bool layered = g_majorVersion() > 4;
    SetLayeredAttributesFn setLayered = g_lookupLayered();
    if (!setLayered) layered = false;  // cut the picture with a region instead

    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = SplashWndProc;
    wc.hInstance = info->hInstance;
    wc.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    wc.lpszClassName = kClassName;
    if (!RegisterClassA(&wc)) return 0;  // e.g. an earlier splash still shown: leave it alone
    g_layered = layered;
    g_setLayered = setLayered;

    ThreadStart start = {info, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    if (!start.ready) {
        UnregisterClassA(kClassName, info->hInstance);
        return 0;
    }
    HANDLE thread = CreateThread(nullptr, 0, SplashThread, &start, 0, nullptr);
    if (!thread) {
        UnregisterClassA(kClassName, info->hInstance);
    } else {
        // Return once the window exists, so that a Hide right after Show finds it.
        // Messages the new window sends to the caller's windows are answered meanwhile.
        HANDLE waits[2] = {start.ready, thread};
        while (MsgWaitForMultipleObjects(2, waits, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 2) {
            MSG msg;
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(thread);
    }
    CloseHandle(start.ready);
    return 0;
}

PYLSPLASH_API int __cdecl PylSplash_Hide(SplashInfo* info)
{
    if (!info) return 0;
    HWND splash = VolatileHwnd(info->hWndSplash);
    if (!splash || !IsWindow(splash)) return 0;
    HWND owner = info->hWndOwner;
    // Only with a working layered-attribute call, or the owner would stay invisible.
    if (owner && IsWindow(owner) && g_layered && g_setLayered &&
        !*(volatile int32_t*)&info->hideRequested) {
        SetWindowLongA(owner, GWL_EXSTYLE, GetWindowLongA(owner, GWL_EXSTYLE) | WS_EX_LAYERED);
        g_setLayered(owner, 0, 0, LWA_ALPHA);
    }
    *(volatile int32_t*)&info->hideRequested = 1;
    return 1;
}

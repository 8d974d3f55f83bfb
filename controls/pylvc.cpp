// Controls library: registration of the window classes and the drawing
// helpers the three controls share.
#include "pyl_vc.h"

#include "pylvc_internal.h"

namespace pylvc {

HINSTANCE g_module = nullptr;

HBITMAP LoadDefaultBitmap(int id)
{
    // Kept as a DIB section so that the per-pixel alpha survives on any display depth.
    return static_cast<HBITMAP>(
        LoadImageA(g_module, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR | LR_CREATEDIBSECTION));
}

HBITMAP CreateBackBuffer(HWND hwnd)
{
    RECT rc;
    GetClientRect(hwnd, &rc);
    int w = rc.right > 0 ? rc.right : 1;
    int h = rc.bottom > 0 ? rc.bottom : 1;
    HDC dc = GetDC(hwnd);
    HBITMAP bmp = CreateCompatibleBitmap(dc, w, h);
    ReleaseDC(hwnd, dc);
    return bmp;
}

void FillBitmap(HBITMAP bmp, COLORREF colour)
{
    if (!bmp) return;
    BITMAP bm;
    if (!GetObject(bmp, sizeof bm, &bm)) return;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    RECT rc = {0, 0, bm.bmWidth, bm.bmHeight};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &rc, brush);
    DeleteObject(brush);
    SelectObject(dc, old);
    DeleteDC(dc);
}

void BlendBitmap(HBITMAP dst, int dx, int dy, int dw, int dh, HBITMAP src, int sx, int sy, int w, int h,
                 BYTE constantAlpha)
{
    if (!dst || !src || w <= 0 || h <= 0 || dw <= 0 || dh <= 0) return;
    BITMAP bm;
    if (!GetObject(src, sizeof bm, &bm)) return;
    // Keep the source block inside the image: AlphaBlend fails on any overhang.
    if (sx < 0 || sy < 0 || sx + w > bm.bmWidth || sy + h > bm.bmHeight) return;
    HDC ddc = CreateCompatibleDC(nullptr);
    HDC sdc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldD = SelectObject(ddc, dst);
    HGDIOBJ oldS = SelectObject(sdc, src);
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, constantAlpha, AC_SRC_ALPHA};
    AlphaBlend(ddc, dx, dy, dw, dh, sdc, sx, sy, w, h, bf);
    SelectObject(sdc, oldS);
    SelectObject(ddc, oldD);
    DeleteDC(sdc);
    DeleteDC(ddc);
}

void PostNotify(HWND hwnd, int controlId, int code)
{
    PostMessageA(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(controlId, code), reinterpret_cast<LPARAM>(hwnd));
}

void Repaint(HWND hwnd, BOOL flag)
{
    if (!flag) return;
    InvalidateRect(hwnd, nullptr, FALSE);
    UpdateWindow(hwnd);
}

void ReleaseBitmaps(const HBITMAP* old, int oldCount, const HBITMAP* keep, int keepCount)
{
    for (int i = 0; i < oldCount; ++i) {
        HBITMAP b = old[i];
        if (!b) continue;
        bool kept = false;
        for (int k = 0; k < keepCount && !kept; ++k) kept = (keep[k] == b);
        for (int j = 0; j < i && !kept; ++j) kept = (old[j] == b);  // already deleted
        if (!kept) DeleteObject(b);
    }
}

void PaintFromBackBuffer(HWND hwnd, HBITMAP backBuffer)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT rc;
    GetClientRect(hwnd, &rc);
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, backBuffer);
    BitBlt(dc, 0, 0, rc.right, rc.bottom, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    EndPaint(hwnd, &ps);
}

void EraseWithColour(HWND hwnd, HDC dc, COLORREF colour)
{
    RECT rc;
    GetClientRect(hwnd, &rc);
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &rc, brush);
    DeleteObject(brush);
}

}  // namespace pylvc

PYLVC_API BOOL __cdecl InitPylVC(HINSTANCE instance)
{
    struct ClassDef {
        const char* name;
        WNDPROC proc;
    };
    const ClassDef classes[] = {
        {"pylvc_slider", pylvc::SliderProc},
        {"pylvc_button", pylvc::ButtonProc},
        {"pylvc_knob", pylvc::KnobProc},
    };
    for (const ClassDef& c : classes) {
        WNDCLASSA wc = {};
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = c.proc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = c.name;
        if (!RegisterClassA(&wc)) return 0;
    }
    return 1;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        pylvc::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

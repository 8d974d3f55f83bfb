// Shared frame of the owner-drawn controls: message codes, state helpers,
// drawing helpers and the window procedures.
#pragma once
#include <windows.h>

// Notifications (WM_COMMAND high word).
#define VCN_CHANGED 0x4C8
#define VCN_PRESSED 0x4C9
#define VCN_RELEASED 0x4CA

// Messages.
#define VCM_SETSTYLE 0x464
#define VCM_SETVALUE 0x465
#define VCM_GETVALUE 0x466
#define VCM_REDRAW 0x467
#define VCM_SETMAX 0x468
#define VCM_SETMIN 0x469
#define VCM_SETSTEP 0x46A
#define VCM_SETPAGE 0x46B
#define VCM_SETMARK 0x46C
#define VCM_SETTICKSTEP 0x46D
#define VCM_SETGLIDESPEED 0x46E
#define VCM_SETBKCOLOR 0x470
#define VCM_SETMARKCOLOR 0x471
#define VCM_SETBITMAPS 0x472
#define VCM_SETTHUMBSIZE 0x473
#define VCM_SETSTRIPS 0x474
#define VCM_SETFRAMESIZE 0x475

#define VCS_HORIZONTAL 1
#define VCS_SHOWMARK 2

namespace pylvc {

extern HINSTANCE g_module;

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SliderProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK KnobProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Default artwork of the library (32-bit, premultiplied alpha).
HBITMAP LoadDefaultBitmap(int id);
// A bitmap of the client size compatible with the window's device context.
HBITMAP CreateBackBuffer(HWND hwnd);
void FillBitmap(HBITMAP bmp, COLORREF colour);
// Source-over blend of a w x h block of src at (sx, sy) onto dst at (dx, dy),
// scaled to dw x dh, with a constant alpha and per-pixel source alpha.
void BlendBitmap(HBITMAP dst, int dx, int dy, int dw, int dh, HBITMAP src, int sx, int sy, int w, int h,
                 BYTE constantAlpha);
void PostNotify(HWND hwnd, int controlId, int code);
void Repaint(HWND hwnd, BOOL flag);
// Deletes the bitmaps in `old` that are not among `keep`, each at most once.
void ReleaseBitmaps(const HBITMAP* old, int oldCount, const HBITMAP* keep, int keepCount);
// WM_PAINT: copy the control's back buffer to the screen.
void PaintFromBackBuffer(HWND hwnd, HBITMAP backBuffer);
// WM_ERASEBKGND: fill the client area with the background colour.
void EraseWithColour(HWND hwnd, HDC dc, COLORREF colour);

}  // namespace pylvc

// Shared frame of the owner-drawn controls: state helpers,
// drawing helpers and the window procedures.
#pragma once
#include <windows.h>

#include "pyl_vc.h"

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

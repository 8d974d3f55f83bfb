// pylvc_button: owner-drawn push button with four strip frames
// (normal, pressed, hover, hover and pressed).
#include <windowsx.h>

#include "pylvc_internal.h"

namespace pylvc {

namespace {

struct ButtonState {
    int pressed;
    int hover;
    int style;
    int controlId;
    COLORREF backgroundColour;
    HBITMAP currentStrip;
    HBITMAP focusedStrip;
    HBITMAP unfocusedStrip;
    HBITMAP backBuffer;
    int pointerX, pointerY;
    int frameWidth, frameHeight;
};

void LoadDefaultStrips(ButtonState* s)
{
    s->focusedStrip = LoadDefaultBitmap(107);
    s->unfocusedStrip = LoadDefaultBitmap(108);
    s->frameWidth = 41;
    s->frameHeight = 18;
}

void BuildBackBuffer(HWND hwnd, ButtonState* s)
{
    if (!s->focusedStrip || !s->unfocusedStrip) {
        HBITMAP old[2] = {s->focusedStrip, s->unfocusedStrip};
        ReleaseBitmaps(old, 2, nullptr, 0);
        LoadDefaultStrips(s);
    }
    s->currentStrip = s->unfocusedStrip;
    if (s->backBuffer) DeleteObject(s->backBuffer);
    s->backBuffer = CreateBackBuffer(hwnd);
}

void RenderButton(HWND hwnd, ButtonState* s, BOOL repaint)
{
    FillBitmap(s->backBuffer, s->backgroundColour);
    RECT rc;
    GetClientRect(hwnd, &rc);
    int frame = s->pressed + 2 * s->hover;
    BlendBitmap(s->backBuffer, 0, 0, rc.right, rc.bottom, s->currentStrip, s->frameWidth * frame, 0,
                s->frameWidth, s->frameHeight, 255);
    Repaint(hwnd, repaint);
}

}  // namespace

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* s = reinterpret_cast<ButtonState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_CREATE) {
        s = static_cast<ButtonState*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ButtonState)));
        if (!s) return -1;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(s));
        s->controlId = GetWindowLongA(hwnd, GWL_ID);
        s->backgroundColour = GetSysColor(COLOR_BTNFACE);
        BuildBackBuffer(hwnd, s);
        RenderButton(hwnd, s, TRUE);
        return 0;
    }
    if (!s) return DefWindowProcA(hwnd, msg, wParam, lParam);

    switch (msg) {
    case WM_DESTROY: {
        HBITMAP all[3] = {s->backBuffer, s->focusedStrip, s->unfocusedStrip};
        ReleaseBitmaps(all, 3, nullptr, 0);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        HeapFree(GetProcessHeap(), 0, s);
        return 0;
    }
    case WM_SIZE:
        BuildBackBuffer(hwnd, s);
        RenderButton(hwnd, s, (BOOL)wParam);
        return 1;
    case WM_PAINT:
        PaintFromBackBuffer(hwnd, s->backBuffer);
        return 0;
    case WM_ERASEBKGND:
        EraseWithColour(hwnd, reinterpret_cast<HDC>(wParam), s->backgroundColour);
        return 1;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS;

    case VCM_SETSTYLE:
        s->style = (int)lParam;
        RenderButton(hwnd, s, (BOOL)wParam);
        return 1;
    case VCM_SETBKCOLOR:
        s->backgroundColour = (COLORREF)lParam;
        RenderButton(hwnd, s, (BOOL)wParam);
        return 1;
    case VCM_SETSTRIPS: {
        HBITMAP old[4] = {s->focusedStrip, s->unfocusedStrip, reinterpret_cast<HBITMAP>(wParam),
                          reinterpret_cast<HBITMAP>(lParam)};
        if (wParam && lParam) {
            s->focusedStrip = reinterpret_cast<HBITMAP>(wParam);
            s->unfocusedStrip = reinterpret_cast<HBITMAP>(lParam);
        } else {
            // One missing handle: both defaults, the other handle is dropped.
            LoadDefaultStrips(s);
        }
        HBITMAP keep[2] = {s->focusedStrip, s->unfocusedStrip};
        ReleaseBitmaps(old, 4, keep, 2);
        s->currentStrip = s->unfocusedStrip;
        if (!wParam || !lParam) {
            s->frameWidth = 41;
            s->frameHeight = 18;
        }
        RenderButton(hwnd, s, (BOOL)(wParam != 0));
        return 1;
    }
    case VCM_SETFRAMESIZE:
        s->frameWidth = (int)wParam;
        s->frameHeight = (int)lParam;
        RenderButton(hwnd, s, (BOOL)wParam);
        return 1;

    case WM_LBUTTONDOWN:
        s->pointerX = GET_X_LPARAM(lParam);
        s->pointerY = GET_Y_LPARAM(lParam);
        s->pressed = 1;
        RenderButton(hwnd, s, TRUE);
        PostNotify(hwnd, s->controlId, VCN_PRESSED);
        SetCapture(hwnd);
        SetFocus(hwnd);
        return 0;
    case WM_LBUTTONUP:
        s->pressed = 0;
        s->hover = 0;
        RenderButton(hwnd, s, TRUE);
        PostNotify(hwnd, s->controlId, VCN_RELEASED);
        ReleaseCapture();
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) {
            s->pressed = 1;
            PostNotify(hwnd, s->controlId, VCN_PRESSED);
            RenderButton(hwnd, s, TRUE);
        }
        return 0;
    case WM_KEYUP:
        if (wParam == VK_SPACE) {
            s->pressed = 0;
            PostNotify(hwnd, s->controlId, VCN_RELEASED);
            RenderButton(hwnd, s, TRUE);
        }
        return 0;
    case WM_MOUSEMOVE: {
        s->pointerX = GET_X_LPARAM(lParam);
        s->pointerY = GET_Y_LPARAM(lParam);
        if (wParam & (MK_LBUTTON | MK_RBUTTON)) return 0;
        RECT rc;
        GetClientRect(hwnd, &rc);
        POINT pt = {s->pointerX, s->pointerY};
        if (!PtInRect(&rc, pt)) {
            ReleaseCapture();
            s->hover = 0;
            RenderButton(hwnd, s, TRUE);
        } else if (GetCapture() != hwnd) {
            SetCapture(hwnd);
            s->hover = 1;
            RenderButton(hwnd, s, TRUE);
        }
        return 0;
    }
    case WM_RBUTTONDOWN:
        SetCapture(hwnd);
        SetFocus(hwnd);
        return 0;
    case WM_RBUTTONUP:
        s->hover = 0;
        RenderButton(hwnd, s, TRUE);
        ReleaseCapture();
        return 0;
    case WM_MBUTTONDOWN:
        SetFocus(hwnd);
        return 0;
    case WM_SETFOCUS:
        s->currentStrip = s->focusedStrip;
        RenderButton(hwnd, s, (BOOL)(wParam != 0));
        return 0;
    case WM_KILLFOCUS:
        s->currentStrip = s->unfocusedStrip;
        RenderButton(hwnd, s, (BOOL)(wParam != 0));
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace pylvc

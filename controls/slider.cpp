// pylvc_slider and pylvc_knob: owner-drawn value controls over a double
// range with a step, a mark, ticks, a shadowed thumb and gliding.
#include <windowsx.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "pylvc_internal.h"

namespace pylvc {

namespace {

const UINT_PTR kGlideTimer = 1;

struct SliderState {
    double value;
    double glideTarget;
    double peekReturn;
    double maximum;
    double minimum;
    double step;
    double page;
    double mark;
    double glideSpeed;
    int gliding;
    int highlighted;
    double tickSpacing;
    int style;
    int controlId;
    COLORREF backgroundColour;
    COLORREF markColour;
    HBITMAP currentThumb;
    HBITMAP focusedThumb;
    HBITMAP unfocusedThumb;
    HBITMAP backgroundImage;
    HBITMAP backBuffer;
    int pointerX, pointerY;
    int thumbWidth, thumbHeight;
    int knob;  // 1 for pylvc_knob
};

bool Horizontal(const SliderState* s) { return (s->style & VCS_HORIZONTAL) != 0; }

// Largest multiple of q not above x. A value within a millionth of a step of
// a grid point counts as lying on it and is kept exactly as it is, so that
// 0.3 with step 0.1 stays 0.3 instead of dropping a step to 0.2.
double Quantise(double x, double q)
{
    if (!(q > 0) || !isfinite(q) || !isfinite(x)) return x;
    double k = x / q;
    if (!isfinite(k)) return x;
    if (fabs(k - floor(k + 0.5)) <= 1e-6) return x;
    return floor(k) * q;
}

double EffectiveStep(const SliderState* s) { return s->step > 0 ? s->step : (s->maximum - s->minimum) / 1000.0; }

void Clamp(SliderState* s)
{
    if (s->value > s->maximum) s->value = s->maximum;
    if (s->value < s->minimum) s->value = s->minimum;
}

double Fraction(const SliderState* s, double v)
{
    double span = s->maximum - s->minimum;
    if (!(span != 0) || !isfinite(span)) return 0.0;
    double f = (v - s->minimum) / span;
    return isfinite(f) ? f : 0.0;
}

struct Geometry {
    int w, h;
    int t0, t1;  // track ends (x for horizontal, y for vertical)
    int mid;     // line of the track
    int length;
};

Geometry GetGeometry(HWND hwnd, const SliderState* s)
{
    RECT rc;
    GetClientRect(hwnd, &rc);
    Geometry g;
    g.w = rc.right;
    g.h = rc.bottom;
    if (Horizontal(s)) {
        g.t0 = s->thumbWidth / 2;
        g.t1 = g.w - s->thumbWidth / 2 - 3;
        g.mid = (g.h - 1) / 2;
    } else {
        g.t0 = s->thumbHeight / 2;
        g.t1 = g.h - s->thumbHeight / 2 - 3;
        g.mid = (g.w - 1) / 2;
    }
    g.length = g.t1 - g.t0;
    return g;
}

COLORREF Scale(COLORREF c, double div, double mul)
{
    auto ch = [&](int v) {
        int r = (int)(v * mul / div);
        return r > 255 ? 255 : r;
    };
    return RGB(ch(GetRValue(c)), ch(GetGValue(c)), ch(GetBValue(c)));
}

void LoadDefaultThumbs(SliderState* s)
{
    HBITMAP old[2] = {s->focusedThumb, s->unfocusedThumb};
    ReleaseBitmaps(old, 2, nullptr, 0);
    bool h = Horizontal(s);
    s->focusedThumb = LoadDefaultBitmap(h ? 102 : 101);
    s->unfocusedThumb = LoadDefaultBitmap(h ? 104 : 103);
    s->thumbWidth = 13;
    s->thumbHeight = 13;
}

void DrawMarkDot(HWND hwnd, SliderState* s, HDC dc, const Geometry& g, bool blackOnly)
{
    double span = s->maximum - s->minimum;
    if (!(span != 0) || !isfinite(span) || !isfinite(s->mark)) return;
    double pos = (s->mark - s->minimum) * g.length / span;
    if (!isfinite(pos) || fabs(pos) > 1e6) return;
    bool lit = !blackOnly && fabs(s->value - s->mark) < s->step * 0.5;
    HPEN pen = CreatePen(PS_SOLID, 1, Scale(s->backgroundColour, 1.3, 1.0));
    HBRUSH brush = lit ? CreateSolidBrush(s->markColour) : (HBRUSH)GetStockObject(BLACK_BRUSH);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    if (Horizontal(s)) {
        int x = (int)floor(pos + g.t0);
        Ellipse(dc, x - 2, 0, x + 3, 5);
    } else {
        int y = (int)floor(g.t1 - pos);
        Ellipse(dc, g.w - 6, y - 2, g.w - 1, y + 3);
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    if (lit) DeleteObject(brush);
    DeleteObject(pen);
}

void BuildSliderBackground(HWND hwnd, SliderState* s)
{
    if (!s->focusedThumb || !s->unfocusedThumb) LoadDefaultThumbs(s);
    s->currentThumb = s->unfocusedThumb;
    if (s->backgroundImage) DeleteObject(s->backgroundImage);
    if (s->backBuffer) DeleteObject(s->backBuffer);
    s->backgroundImage = CreateBackBuffer(hwnd);
    s->backBuffer = CreateBackBuffer(hwnd);
    FillBitmap(s->backgroundImage, s->backgroundColour);
    FillBitmap(s->backBuffer, s->backgroundColour);

    Geometry g = GetGeometry(hwnd, s);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldBmp = SelectObject(dc, s->backgroundImage);
    HPEN dark = CreatePen(PS_SOLID, 1, Scale(s->backgroundColour, 1.7, 1.0));
    HPEN shade = CreatePen(PS_SOLID, 1, Scale(s->backgroundColour, 1.3, 1.0));
    HPEN light = CreatePen(PS_SOLID, 1, Scale(s->backgroundColour, 1.0, 1.3));
    HGDIOBJ oldPen = SelectObject(dc, dark);
    const bool hz = Horizontal(s);
    const int m = g.mid;
    if (hz) {
        MoveToEx(dc, g.t0, m, nullptr);
        LineTo(dc, g.t1, m);
        SelectObject(dc, shade);
        MoveToEx(dc, g.t0, m + 1, nullptr);
        LineTo(dc, g.t0, m - 1);
        LineTo(dc, g.t1, m - 1);
        SelectObject(dc, light);
        LineTo(dc, g.t1, m + 1);
        LineTo(dc, g.t0, m + 1);
    } else {
        MoveToEx(dc, m, g.t0, nullptr);
        LineTo(dc, m, g.t1);
        SelectObject(dc, shade);
        MoveToEx(dc, m + 1, g.t0, nullptr);
        LineTo(dc, m - 1, g.t0);
        LineTo(dc, m - 1, g.t1);
        SelectObject(dc, light);
        LineTo(dc, m + 1, g.t1);
        LineTo(dc, m + 1, g.t0);
    }

    // Ticks. A spacing that is zero, negative or not a number, an empty range,
    // or ticks closer than 2 pixels draw none.
    SelectObject(dc, shade);
    double span = s->maximum - s->minimum;
    double count = span / s->tickSpacing;
    if (s->tickSpacing > 0 && isfinite(count) && count > 0 && g.length > 0) {
        double d = g.length / count;
        if (d >= 2.0) {
            long n = (long)floor(count);
            for (long i = n; i >= 0; --i) {
                int t = (int)floor(g.t1 - (n - i) * d);
                int inset = (i % 10 == 0) ? 0 : (i % 5 == 0) ? (m - 3) / 4 : (m - 3) / 2;
                if (hz) {
                    MoveToEx(dc, t, inset, nullptr);
                    LineTo(dc, t, m - 3);
                    MoveToEx(dc, t, m + 4, nullptr);
                    LineTo(dc, t, g.h - 1 - inset);
                } else {
                    // Vertical ticks climb from the bottom of the track.
                    MoveToEx(dc, inset, t, nullptr);
                    LineTo(dc, m - 3, t);
                    MoveToEx(dc, m + 4, t, nullptr);
                    LineTo(dc, g.w - 1 - inset, t);
                }
            }
        }
    }
    if (s->style & VCS_SHOWMARK) DrawMarkDot(hwnd, s, dc, g, true);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBmp);
    DeleteObject(dark);
    DeleteObject(shade);
    DeleteObject(light);
    DeleteDC(dc);
}

// The knob's thumb frame turned by `angle` about its own centre, as a new
// premultiplied 32-bit DIB section. Rotating the pixels here keeps the blend
// itself unrotated.
HBITMAP RotatedFrame(HBITMAP thumb, int frame, int w, int h, double angle)
{
    if (!thumb || w <= 0 || h <= 0) return nullptr;
    BITMAP bm;
    if (!GetObject(thumb, sizeof bm, &bm) || bm.bmWidth < (frame + 1) * w || bm.bmHeight < h) return nullptr;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = bm.bmWidth;
    bi.bmiHeader.biHeight = -bm.bmHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    auto* src = static_cast<DWORD*>(malloc((size_t)bm.bmWidth * bm.bmHeight * 4));
    if (!src) return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    int lines = GetDIBits(dc, thumb, 0, bm.bmHeight, src, &bi, DIB_RGB_COLORS);
    HBITMAP out = nullptr;
    if (lines == bm.bmHeight) {
        BITMAPINFO bo = bi;
        bo.bmiHeader.biWidth = w;
        bo.bmiHeader.biHeight = -h;
        void* bits = nullptr;
        out = CreateDIBSection(dc, &bo, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (out && bits) {
            auto* dst = static_cast<DWORD*>(bits);
            const double c = cos(angle), sn = sin(angle);
            const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    // Inverse mapping, nearest source pixel.
                    double dx = x - cx, dy = y - cy;
                    int sx = (int)floor(c * dx + sn * dy + cx + 0.5);
                    int sy = (int)floor(-sn * dx + c * dy + cy + 0.5);
                    DWORD px = 0;
                    if (sx >= 0 && sx < w && sy >= 0 && sy < h) px = src[sy * bm.bmWidth + frame * w + sx];
                    dst[y * w + x] = px;
                }
            }
            GdiFlush();
        }
    }
    DeleteDC(dc);
    free(src);
    return out;
}

void ComposeSlider(HWND hwnd, SliderState* s, BOOL repaint, bool highlight)
{
    Geometry g = GetGeometry(hwnd, s);
    if (s->style & VCS_SHOWMARK) {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, s->backgroundImage);
        DrawMarkDot(hwnd, s, dc, g, false);
        SelectObject(dc, old);
        DeleteDC(dc);
    }
    // Background onto the composite.
    {
        HDC src = CreateCompatibleDC(nullptr);
        HDC dst = CreateCompatibleDC(nullptr);
        HGDIOBJ oldS = SelectObject(src, s->backgroundImage);
        HGDIOBJ oldD = SelectObject(dst, s->backBuffer);
        BitBlt(dst, 0, 0, g.w, g.h, src, 0, 0, SRCCOPY);
        SelectObject(dst, oldD);
        SelectObject(src, oldS);
        DeleteDC(dst);
        DeleteDC(src);
    }
    double f = Fraction(s, s->value);
    if (f < -4) f = -4;  // keep a wild value's thumb in integer range
    if (f > 4) f = 4;
    int x, y;
    if (Horizontal(s)) {
        x = (int)floor(f * g.length);
        y = (g.h - 1) / 2 - s->thumbHeight / 2;
    } else {
        x = (g.w - 1) / 2 - s->thumbWidth / 2;
        y = (int)floor((1 - f) * g.length);
    }
    const int tw = s->thumbWidth, th = s->thumbHeight;
    BYTE alpha = 64;
    for (int k = 1; k <= 5; ++k, alpha /= 2)
        BlendBitmap(s->backBuffer, x + k, y + k, tw, th, s->currentThumb, 0, 0, tw, th, alpha);
    int frame = highlight ? 1 : 0;
    if (s->knob) {
        HBITMAP turned = RotatedFrame(s->currentThumb, frame, tw, th, 3.1415);
        if (turned) {
            BlendBitmap(s->backBuffer, x, y, tw, th, turned, 0, 0, tw, th, 255);
            DeleteObject(turned);
        }
    } else {
        BlendBitmap(s->backBuffer, x, y, tw, th, s->currentThumb, frame * tw, 0, tw, th, 255);
    }
    Repaint(hwnd, repaint);
}

void Compose(HWND hwnd, SliderState* s, BOOL repaint) { ComposeSlider(hwnd, s, repaint, s->highlighted != 0); }

void StopGlide(HWND hwnd, SliderState* s)
{
    if (s->gliding) KillTimer(hwnd, kGlideTimer);
    s->gliding = 0;
}

void StartGlide(HWND hwnd, SliderState* s, double target)
{
    s->glideTarget = target;
    s->gliding = 1;
    SetTimer(hwnd, kGlideTimer, 16, nullptr);
}

double PositionValue(HWND hwnd, SliderState* s, int px, int py)
{
    RECT rc;
    GetClientRect(hwnd, &rc);
    double f;
    if (Horizontal(s)) {
        int span = rc.right - 20;
        int p = px - 9;
        if (p > span) p = span;
        if (p < 0) p = 0;
        f = span > 0 ? (double)p / span : 0.0;
    } else {
        int span = rc.bottom - 20;
        int p = py - 9;
        if (p > span) p = span;
        if (p < 0) p = 0;
        f = span > 0 ? (double)(span - p) / span : 0.0;
    }
    return s->minimum + f * (s->maximum - s->minimum);
}

void Changed(HWND hwnd, SliderState* s)
{
    Compose(hwnd, s, TRUE);
    PostNotify(hwnd, s->controlId, VCN_CHANGED);
}

bool CtrlKey() { return (GetKeyState(VK_CONTROL) & 0x8000) != 0; }

LRESULT HandleKey(HWND hwnd, SliderState* s, WPARAM key)
{
    const bool hz = Horizontal(s);
    const WPARAM upKey = hz ? VK_RIGHT : VK_UP;
    const WPARAM downKey = hz ? VK_LEFT : VK_DOWN;
    const bool markKey = hz ? (key == VK_UP || key == VK_DOWN) : (key == VK_LEFT || key == VK_RIGHT);
    const double page = s->page > 0 ? s->page : 10 * s->step;
    if (key == VK_PRIOR) {
        StopGlide(hwnd, s);
        s->value += page;
        Clamp(s);
    } else if (key == VK_NEXT) {
        StopGlide(hwnd, s);
        s->value -= page;
        Clamp(s);
    } else if (key == VK_HOME) {
        StopGlide(hwnd, s);
        s->value = s->maximum;
    } else if (key == VK_END) {
        StopGlide(hwnd, s);
        s->value = s->minimum;
    } else if (key == upKey || key == downKey) {
        if (CtrlKey()) {
            StartGlide(hwnd, s, key == upKey ? s->maximum : s->minimum);
            Compose(hwnd, s, TRUE);
            return 0;
        }
        StopGlide(hwnd, s);
        s->value += key == upKey ? EffectiveStep(s) : -EffectiveStep(s);
        Clamp(s);
    } else if (markKey) {
        if (CtrlKey()) {
            StartGlide(hwnd, s, s->mark);
            Compose(hwnd, s, TRUE);
            return 0;
        }
        StopGlide(hwnd, s);
        s->value = s->mark;
    } else if (!s->knob && (key == VK_ADD || key == VK_SUBTRACT)) {
        StopGlide(hwnd, s);
        s->value += key == VK_ADD ? EffectiveStep(s) : -EffectiveStep(s);
        Clamp(s);
    } else {
        return 0;
    }
    Changed(hwnd, s);
    return 0;
}

const double* DoubleArg(LPARAM lParam) { return reinterpret_cast<const double*>(lParam); }

LRESULT ValueControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int knob)
{
    auto* s = reinterpret_cast<SliderState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_CREATE) {
        s = static_cast<SliderState*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SliderState)));
        if (!s) return -1;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(s));
        s->value = 0.5;
        s->maximum = 1.0;
        s->minimum = 0.0;
        s->step = 0.1f;
        s->page = -1.0;
        s->mark = 0.5;
        s->tickSpacing = 1.0f / 30.0f;
        s->controlId = GetWindowLongA(hwnd, GWL_ID);
        s->backgroundColour = GetSysColor(COLOR_BTNFACE);
        s->markColour = 0x0038CCFF;
        s->thumbWidth = 13;
        s->thumbHeight = 13;
        s->knob = knob;
        BuildSliderBackground(hwnd, s);
        Compose(hwnd, s, TRUE);
        return 0;
    }
    if (!s) return DefWindowProcA(hwnd, msg, wParam, lParam);

    switch (msg) {
    case WM_DESTROY: {
        StopGlide(hwnd, s);
        HBITMAP all[4] = {s->backgroundImage, s->backBuffer, s->focusedThumb, s->unfocusedThumb};
        ReleaseBitmaps(all, 4, nullptr, 0);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        HeapFree(GetProcessHeap(), 0, s);
        return 0;
    }
    case WM_SIZE:
        BuildSliderBackground(hwnd, s);
        Compose(hwnd, s, (BOOL)wParam);
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
        if ((s->style ^ (int)lParam) & VCS_HORIZONTAL) {
            HBITMAP old[2] = {s->focusedThumb, s->unfocusedThumb};
            ReleaseBitmaps(old, 2, nullptr, 0);
            s->focusedThumb = s->unfocusedThumb = s->currentThumb = nullptr;
        }
        s->style = (int)lParam;
        BuildSliderBackground(hwnd, s);
        Compose(hwnd, s, (BOOL)wParam);
        return 1;
    case VCM_SETVALUE:
        if (!lParam) return 1;
        StopGlide(hwnd, s);
        s->value = Quantise(*DoubleArg(lParam), s->step);
        Clamp(s);
        Changed(hwnd, s);
        return 1;
    case VCM_GETVALUE:
        if (lParam) *reinterpret_cast<double*>(lParam) = Quantise(s->value, s->step);
        return 1;
    case VCM_REDRAW:
        ComposeSlider(hwnd, s, (BOOL)wParam, lParam != 0);
        return 1;
    case VCM_SETMAX:
    case VCM_SETMIN:
        if (!lParam) return 1;
        (msg == VCM_SETMAX ? s->maximum : s->minimum) = *DoubleArg(lParam);
        s->mark = s->minimum + (s->maximum - s->minimum) * 0.5;
        Compose(hwnd, s, (BOOL)wParam);
        return 1;
    case VCM_SETSTEP:
        if (lParam) s->step = *DoubleArg(lParam);
        Compose(hwnd, s, (BOOL)wParam);
        return 1;
    case VCM_SETPAGE:
        if (lParam) s->page = *DoubleArg(lParam);
        Compose(hwnd, s, (BOOL)wParam);
        return 1;
    case VCM_SETMARK:
        if (lParam) s->mark = s->value = *DoubleArg(lParam);
        Compose(hwnd, s, (BOOL)wParam);
        return 1;
    case VCM_SETTICKSTEP:
        if (lParam) s->tickSpacing = *DoubleArg(lParam);
        BuildSliderBackground(hwnd, s);
        Compose(hwnd, s, (BOOL)wParam);
        return 1;
    case VCM_SETGLIDESPEED:
        if (lParam) s->glideSpeed = *DoubleArg(lParam);
        return 1;
    case VCM_SETBKCOLOR:
        s->backgroundColour = (COLORREF)lParam;
        BuildSliderBackground(hwnd, s);
        Compose(hwnd, s, (BOOL)wParam);
        return 1;
    case VCM_SETMARKCOLOR:
        s->markColour = (COLORREF)lParam;
        Compose(hwnd, s, (BOOL)wParam);
        return 1;
    case VCM_SETBITMAPS: {
        HBITMAP old[2] = {s->focusedThumb, s->unfocusedThumb};
        s->focusedThumb = reinterpret_cast<HBITMAP>(wParam);
        s->unfocusedThumb = reinterpret_cast<HBITMAP>(lParam);
        HBITMAP keep[2] = {s->focusedThumb, s->unfocusedThumb};
        ReleaseBitmaps(old, 2, keep, 2);
        s->currentThumb = s->unfocusedThumb;
        Compose(hwnd, s, (BOOL)(wParam != 0));
        return 1;
    }
    case VCM_SETTHUMBSIZE:
        s->thumbWidth = (int)wParam;
        s->thumbHeight = (int)lParam;
        BuildSliderBackground(hwnd, s);
        Compose(hwnd, s, (BOOL)wParam);
        return 1;

    case WM_SETFOCUS:
        s->currentThumb = s->focusedThumb;
        Compose(hwnd, s, (BOOL)(wParam != 0));
        return 0;
    case WM_KILLFOCUS:
        s->currentThumb = s->unfocusedThumb;
        Compose(hwnd, s, (BOOL)(wParam != 0));
        return 0;

    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN: {
        s->pointerX = GET_X_LPARAM(lParam);
        s->pointerY = GET_Y_LPARAM(lParam);
        double pos = PositionValue(hwnd, s, s->pointerX, s->pointerY);
        if (msg == WM_RBUTTONDOWN) s->peekReturn = s->gliding ? s->glideTarget : s->value;
        if (wParam & MK_CONTROL) {
            StopGlide(hwnd, s);
            s->value = Quantise(pos, s->step);
            Clamp(s);
        } else {
            StartGlide(hwnd, s, Quantise(pos, EffectiveStep(s)));
        }
        Changed(hwnd, s);
        SetCapture(hwnd);
        SetFocus(hwnd);
        return 0;
    }
    case WM_RBUTTONUP:
        StopGlide(hwnd, s);
        if (wParam & MK_CONTROL) s->value = s->peekReturn;
        else StartGlide(hwnd, s, s->peekReturn);
        s->highlighted = 0;
        Changed(hwnd, s);
        ReleaseCapture();
        return 0;
    case WM_MBUTTONDOWN:
        if (wParam & MK_CONTROL) {
            StopGlide(hwnd, s);
            s->value = s->mark;
            Clamp(s);
        } else {
            StartGlide(hwnd, s, s->mark);
        }
        Changed(hwnd, s);
        SetFocus(hwnd);
        return 0;
    case WM_LBUTTONUP:
        s->highlighted = 0;
        Compose(hwnd, s, TRUE);
        ReleaseCapture();
        return 0;
    case WM_MOUSEMOVE: {
        s->pointerX = GET_X_LPARAM(lParam);
        s->pointerY = GET_Y_LPARAM(lParam);
        if (wParam & (MK_LBUTTON | MK_RBUTTON)) {
            StopGlide(hwnd, s);
            double pos = PositionValue(hwnd, s, s->pointerX, s->pointerY);
            if (Horizontal(s)) {
                s->value = Quantise(pos, s->step);
                Clamp(s);
            } else {
                s->value = pos;
                Clamp(s);
                s->value = Quantise(s->value, s->step);
            }
            Changed(hwnd, s);
            return 0;
        }
        RECT rc;
        GetClientRect(hwnd, &rc);
        POINT pt = {s->pointerX, s->pointerY};
        if (!PtInRect(&rc, pt)) {
            ReleaseCapture();
            s->highlighted = 0;
            Compose(hwnd, s, TRUE);
        } else if (GetCapture() != hwnd) {
            SetCapture(hwnd);
            s->highlighted = 1;
            Compose(hwnd, s, TRUE);
        }
        return 0;
    }
    case WM_MOUSEWHEEL: {
        StopGlide(hwnd, s);
        int delta = GET_WHEEL_DELTA_WPARAM(wParam);
        s->value += Quantise(EffectiveStep(s) * delta / 120.0, s->step);
        Clamp(s);
        Changed(hwnd, s);
        return 0;
    }
    case WM_KEYDOWN:
        return HandleKey(hwnd, s, wParam);
    case WM_TIMER: {
        if (wParam != kGlideTimer) return 0;
        double speed = s->glideSpeed > 0 ? s->glideSpeed * 16 : (s->maximum - s->minimum) / 100.0;
        double gap = s->value - s->glideTarget;
        // A speed that cannot move (empty range, not a number) lands at once.
        if (!(speed > 0) || !isfinite(speed) || !isfinite(gap) || fabs(gap) < speed) {
            s->value = s->glideTarget;
            StopGlide(hwnd, s);
        } else {
            s->value += gap > 0 ? -speed : speed;
        }
        Changed(hwnd, s);
        return 0;
    }
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK SliderProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return ValueControlProc(hwnd, msg, wParam, lParam, 0);
}

LRESULT CALLBACK KnobProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return ValueControlProc(hwnd, msg, wParam, lParam, 1);
}

}  // namespace pylvc

// Slider, knob and button driven with window messages in this process.
#include <gtest/gtest.h>
#include <windows.h>

#include <math.h>
#include <initializer_list>
#include <vector>

#include "pyl_vc.h"

namespace {

// The numbers plug-ins rely on, as the controls document them.
static_assert(VCN_CHANGED == 0x4C8 && VCN_PRESSED == 0x4C9 && VCN_RELEASED == 0x4CA, "notification codes");
static_assert(VCM_SETSTYLE == 0x464 && VCM_SETVALUE == 0x465 && VCM_GETVALUE == 0x466 && VCM_REDRAW == 0x467 &&
                  VCM_SETMAX == 0x468 && VCM_SETMIN == 0x469 && VCM_SETSTEP == 0x46A && VCM_SETPAGE == 0x46B &&
                  VCM_SETMARK == 0x46C && VCM_SETTICKSTEP == 0x46D && VCM_SETGLIDESPEED == 0x46E &&
                  VCM_SETBKCOLOR == 0x470 && VCM_SETMARKCOLOR == 0x471 && VCM_SETBITMAPS == 0x472 &&
                  VCM_SETTHUMBSIZE == 0x473 && VCM_SETSTRIPS == 0x474 && VCM_SETFRAMESIZE == 0x475,
              "message codes");
static_assert(VCS_HORIZONTAL == 1 && VCS_SHOWMARK == 2, "style bits");

struct Note {
    int id, code;
    HWND from;
};
std::vector<Note> g_notes;

LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COMMAND) {
        g_notes.push_back({LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)});
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Pump(DWORD ms = 0)
{
    DWORD end = GetTickCount() + ms;
    do {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        if (ms) Sleep(1);
    } while (ms && (LONG)(GetTickCount() - end) < 0);
}

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA wc = {};
        if (!GetClassInfoA(GetModuleHandleA(nullptr), "pylvc_slider", &wc)) InitPylVC(GetModuleHandleA(nullptr));
        if (!GetClassInfoA(GetModuleHandleA(nullptr), "vq_test_parent", &wc)) {
            wc.lpfnWndProc = ParentProc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = "vq_test_parent";
            wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
            RegisterClassA(&wc);
        }
        parent_ = CreateWindowA("vq_test_parent", "controls", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 200,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(parent_, nullptr);
        Pump(20);
        g_notes.clear();
    }
    void TearDown() override
    {
        DestroyWindow(parent_);
        Pump();
    }
    HWND Make(const char* cls, int id, int w, int h, int x = 10, int y = 10)
    {
        HWND c = CreateWindowA(cls, "", WS_CHILD | WS_VISIBLE, x, y, w, h, parent_,
                               reinterpret_cast<HMENU>((INT_PTR)id), GetModuleHandleA(nullptr), nullptr);
        Pump();
        g_notes.clear();
        return c;
    }
    static double Get(HWND c)
    {
        double v = -999;
        SendMessageA(c, VCM_GETVALUE, 0, reinterpret_cast<LPARAM>(&v));
        return v;
    }
    static void SetD(HWND c, UINT msg, double v, WPARAM flag = 0)
    {
        SendMessageA(c, msg, flag, reinterpret_cast<LPARAM>(&v));
    }
    int Count(int code)
    {
        int n = 0;
        for (auto& x : g_notes) n += x.code == code;
        return n;
    }
    // Client pixels as the screen shows them.
    static COLORREF Pixel(HWND c, int x, int y)
    {
        UpdateWindow(c);
        HDC dc = GetDC(c);
        COLORREF p = GetPixel(dc, x, y);
        ReleaseDC(c, dc);
        return p;
    }
    HWND parent_ = nullptr;
};

HBITMAP SolidStrip(int frames, int w, int h, const COLORREF* colours)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = frames * w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP b = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    auto* px = static_cast<DWORD*>(bits);
    for (int y = 0; y < h; ++y)
        for (int f = 0; f < frames; ++f)
            for (int x = 0; x < w; ++x) {
                COLORREF c = colours[f];
                px[y * frames * w + f * w + x] = 0xFF000000u | (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
            }
    return b;
}

TEST_F(ControlsTest, RegistrationOnlyOnce)
{
    // Registered for this module in SetUp: a new registration for it fails, one for another module works once.
    EXPECT_EQ(InitPylVC(GetModuleHandleA(nullptr)), 0);
    HMODULE other = GetModuleHandleA("kernel32.dll");
    EXPECT_EQ(InitPylVC(other), 1);
    EXPECT_EQ(InitPylVC(other), 0);
    WNDCLASSA wc;
    for (const char* cls : {"pylvc_slider", "pylvc_button", "pylvc_knob"}) {
        EXPECT_TRUE(GetClassInfoA(other, cls, &wc)) << cls;
        UnregisterClassA(cls, other);
    }
}

TEST_F(ControlsTest, SliderValueQuantisingAndRoundTrip)
{
    HWND s = Make("pylvc_slider", 7, 200, 30);
    SetD(s, VCM_SETVALUE, 0.37);
    EXPECT_EQ(Get(s), 3 * (double)0.1f);
    EXPECT_EQ(Get(s), 0.30000000447034836);
    SetD(s, VCM_SETVALUE, 5.0);
    EXPECT_EQ(Get(s), 1.0);
    Pump();
    ASSERT_EQ(g_notes.size(), 2u);
    EXPECT_EQ(g_notes[0].id, 7);
    EXPECT_EQ(g_notes[0].code, VCN_CHANGED);
    EXPECT_EQ(g_notes[0].from, s);

    // Values on the step grid survive any number of set/get cycles unchanged.
    SetD(s, VCM_SETMAX, 100.0);
    for (double step : std::initializer_list<double>{0.1, 0.01, 0.05, 1.0, 0.25}) {
        SetD(s, VCM_SETSTEP, step);
        for (int k = 0; k <= 200; ++k) {
            double v = k * step;
            if (k % 3 == 0) v = (k / 10) + (k % 10) * step;  // decimal forms such as 1.3
            double cur = v;
            for (int round = 0; round < 5; ++round) {
                SetD(s, VCM_SETVALUE, cur);
                cur = Get(s);
            }
            if (v <= 100.0) {
                EXPECT_EQ(cur, v) << "step " << step << " value " << v;
            }
        }
    }
    SetD(s, VCM_SETSTEP, 0.1);
    SetD(s, VCM_SETVALUE, 0.3);
    EXPECT_EQ(Get(s), 0.3);
    SetD(s, VCM_SETVALUE, 0.39);
    EXPECT_DOUBLE_EQ(Get(s), 0.3);
}

TEST_F(ControlsTest, SliderRangeMarkAndKeys)
{
    HWND s = Make("pylvc_slider", 3, 200, 30);
    SendMessageA(s, VCM_SETSTYLE, 1, 1);  // horizontal
    SetD(s, VCM_SETMIN, 10.0);
    SetD(s, VCM_SETMAX, 20.0);
    SetD(s, VCM_SETSTEP, 0.5);
    SetD(s, VCM_SETVALUE, 12.0);
    Pump();
    g_notes.clear();
    SetD(s, VCM_SETMARK, 17.25);  // sets the value too, without a notification
    EXPECT_EQ(Get(s), 17.0);      // read back on the step grid
    Pump();
    EXPECT_TRUE(g_notes.empty());

    SetD(s, VCM_SETVALUE, 12.0);
    SendMessageA(s, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(Get(s), 12.5);
    SendMessageA(s, WM_KEYDOWN, VK_LEFT, 0);
    SendMessageA(s, WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_EQ(Get(s), 11.5);
    SendMessageA(s, WM_KEYDOWN, VK_PRIOR, 0);  // page: 10 steps
    EXPECT_EQ(Get(s), 16.5);
    SetD(s, VCM_SETPAGE, 2.0);
    SendMessageA(s, WM_KEYDOWN, VK_NEXT, 0);
    EXPECT_EQ(Get(s), 14.5);
    SendMessageA(s, WM_KEYDOWN, VK_HOME, 0);
    EXPECT_EQ(Get(s), 20.0);
    SendMessageA(s, WM_KEYDOWN, VK_PRIOR, 0);
    EXPECT_EQ(Get(s), 20.0);
    SendMessageA(s, WM_KEYDOWN, VK_END, 0);
    EXPECT_EQ(Get(s), 10.0);
    SetD(s, VCM_SETMARK, 13.0);
    SetD(s, VCM_SETVALUE, 18.0);
    SendMessageA(s, WM_KEYDOWN, VK_UP, 0);  // a mark key of a horizontal slider
    EXPECT_EQ(Get(s), 13.0);
    SendMessageA(s, WM_KEYDOWN, VK_ADD, 0);
    EXPECT_EQ(Get(s), 13.5);
    SendMessageA(s, WM_KEYDOWN, VK_SUBTRACT, 0);
    EXPECT_EQ(Get(s), 13.0);
    Pump();  // deliver the notifications the keys above posted
    g_notes.clear();
    SendMessageA(s, WM_KEYDOWN, 'A', 0);  // ignored
    Pump();
    EXPECT_TRUE(g_notes.empty());

    // SETMIN / SETMAX move the mark to the middle.
    SetD(s, VCM_SETMAX, 30.0);
    SetD(s, VCM_SETVALUE, 11.0);
    SendMessageA(s, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(Get(s), 20.0);

    // Vertical: VK_UP adds a step.
    HWND v = Make("pylvc_slider", 4, 30, 200);
    SetD(v, VCM_SETVALUE, 0.5);
    SendMessageA(v, WM_KEYDOWN, VK_UP, 0);
    EXPECT_NEAR(Get(v), 0.6, 1e-6);
    // The knob ignores the numeric-keypad keys.
    HWND k = Make("pylvc_knob", 5, 60, 60);
    SetD(k, VCM_SETVALUE, 0.5);
    SendMessageA(k, WM_KEYDOWN, VK_ADD, 0);
    EXPECT_EQ(Get(k), 0.5);
    SendMessageA(k, WM_KEYDOWN, VK_UP, 0);
    EXPECT_NEAR(Get(k), 0.6, 1e-6);
}

TEST_F(ControlsTest, SliderWheelMouseAndGlide)
{
    HWND s = Make("pylvc_slider", 9, 220, 30);  // track fraction = (x - 9) / 200
    SendMessageA(s, VCM_SETSTYLE, 0, 1);
    SetD(s, VCM_SETSTEP, 0.1);
    SetD(s, VCM_SETVALUE, 0.5);
    SendMessageA(s, WM_MOUSEWHEEL, MAKEWPARAM(0, 240), 0);
    EXPECT_NEAR(Get(s), 0.7, 1e-9);
    SendMessageA(s, WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)-120), 0);
    EXPECT_NEAR(Get(s), 0.6, 1e-9);

    // Ctrl + left click jumps to the pointer's value.
    SendMessageA(s, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, MAKELPARAM(9 + 60, 15));
    SendMessageA(s, WM_LBUTTONUP, MK_CONTROL, MAKELPARAM(9 + 60, 15));
    EXPECT_NEAR(Get(s), 0.3, 1e-9);
    // Dragging follows the pointer, clamped at the ends.
    SendMessageA(s, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(500, 15));
    EXPECT_EQ(Get(s), 1.0);

    // A plain click glides: one notification on the click and one per tick until the target.
    SetD(s, VCM_SETVALUE, 0.0);
    Pump();
    g_notes.clear();
    SendMessageA(s, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(9 + 100, 15));
    SendMessageA(s, WM_LBUTTONUP, 0, MAKELPARAM(9 + 100, 15));
    EXPECT_LT(Get(s), 0.1);
    DWORD start = GetTickCount();
    while (fabs(Get(s) - 0.5) > 1e-9 && GetTickCount() - start < 5000) Pump(10);
    Pump(60);
    EXPECT_NEAR(Get(s), 0.5, 1e-9);
    // (max - min) / 100 per tick: 50 ticks, every one of them notified.
    EXPECT_GE(Count(VCN_CHANGED), 40);
    for (auto& n : g_notes) EXPECT_EQ(n.code, VCN_CHANGED);

    // Right drag peeks; releasing with Ctrl jumps back.
    SendMessageA(s, WM_RBUTTONDOWN, MK_RBUTTON | MK_CONTROL, MAKELPARAM(9 + 180, 15));
    EXPECT_NEAR(Get(s), 0.9, 1e-9);
    SendMessageA(s, WM_MOUSEMOVE, MK_RBUTTON, MAKELPARAM(9 + 20, 15));
    EXPECT_NEAR(Get(s), 0.1, 1e-9);
    SendMessageA(s, WM_RBUTTONUP, MK_CONTROL, MAKELPARAM(9 + 20, 15));
    EXPECT_NEAR(Get(s), 0.5, 1e-9);
    // Without Ctrl the release glides back.
    SetD(s, VCM_SETGLIDESPEED, 1.0);  // 16 units per tick: lands on the first tick
    SendMessageA(s, WM_RBUTTONDOWN, MK_RBUTTON | MK_CONTROL, MAKELPARAM(9, 15));
    EXPECT_EQ(Get(s), 0.0);
    SendMessageA(s, WM_RBUTTONUP, 0, MAKELPARAM(9, 15));
    Pump(100);
    EXPECT_NEAR(Get(s), 0.5, 1e-9);
    // Middle click with Ctrl: the mark.
    SetD(s, VCM_SETMARK, 0.2);
    SetD(s, VCM_SETVALUE, 0.8);
    SendMessageA(s, WM_MBUTTONDOWN, MK_MBUTTON | MK_CONTROL, 0);
    EXPECT_NEAR(Get(s), 0.2, 1e-9);
}

TEST_F(ControlsTest, DegenerateRangesAndStepsNeverHang)
{
    HWND s = Make("pylvc_slider", 2, 200, 30);
    SendMessageA(s, VCM_SETSTYLE, 1, 1 | 2);  // horizontal, mark dot
    DWORD start = GetTickCount();
    for (double spacing : std::initializer_list<double>{0.0, -1.0, NAN, 1e-12, INFINITY}) SetD(s, VCM_SETTICKSTEP, spacing, 1);
    EXPECT_LT(GetTickCount() - start, 3000u);

    SetD(s, VCM_SETSTEP, 0.0);
    SetD(s, VCM_SETVALUE, 0.123);
    EXPECT_EQ(Get(s), 0.123);
    SendMessageA(s, WM_KEYDOWN, VK_RIGHT, 0);  // effective step: range / 1000
    EXPECT_NEAR(Get(s), 0.124, 1e-12);
    SetD(s, VCM_SETSTEP, NAN);
    SendMessageA(s, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    EXPECT_TRUE(isfinite(Get(s)));

    // An empty range: glides land at once, positions read the minimum.
    SetD(s, VCM_SETSTEP, 0.1);
    SetD(s, VCM_SETMIN, 0.5);
    SetD(s, VCM_SETMAX, 0.5);
    SetD(s, VCM_SETTICKSTEP, 0.1, 1);
    SendMessageA(s, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 15));
    SendMessageA(s, WM_LBUTTONUP, 0, MAKELPARAM(100, 15));
    Pump(100);
    EXPECT_EQ(Get(s), 0.5);
    SendMessageA(s, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(Get(s), 0.5);
    // A tiny window: the track has no length.
    HWND tiny = Make("pylvc_slider", 3, 4, 4);
    SendMessageA(tiny, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, MAKELPARAM(2, 2));
    EXPECT_TRUE(isfinite(Get(tiny)));
}

TEST_F(ControlsTest, SliderAndKnobPixels)
{
    const COLORREF bg = RGB(20, 200, 40);
    HWND s = Make("pylvc_slider", 1, 213, 31);
    SendMessageA(s, VCM_SETSTYLE, 1, 1);
    SendMessageA(s, VCM_SETBKCOLOR, 1, bg);
    SetD(s, VCM_SETVALUE, 0.0, 1);
    // Geometry: track from 6 to 213 - 6 - 3 = 204 on line 15; thumb top-left at (0, 9).
    const int my = 15, tx1 = 204;
    EXPECT_EQ(Pixel(s, 100, 0), bg);
    EXPECT_EQ(Pixel(s, 150, my), RGB(20 / 1.7, 200 / 1.7, 40 / 1.7));  // groove
    EXPECT_EQ(Pixel(s, 150, my - 1), RGB(20 / 1.3, 200 / 1.3, 40 / 1.3));
    EXPECT_EQ(Pixel(s, 150, my + 1), RGB(26, 255, 52));
    const COLORREF shade = RGB(20 / 1.3, 200 / 1.3, 40 / 1.3);
    EXPECT_EQ(Pixel(s, tx1, my - 4), shade);  // short tick at the top end (i = n = 29)
    EXPECT_EQ(Pixel(s, tx1, 2), bg);
    EXPECT_EQ(Pixel(s, 12, 0), shade);  // long tick at i = 0, x = floor(204 - 29 x 6.6)
    EXPECT_NE(Pixel(s, 8, my), RGB(20 / 1.7, 200 / 1.7, 40 / 1.7));  // thumb covers the groove's start
    SetD(s, VCM_SETVALUE, 1.0);
    EXPECT_EQ(Pixel(s, 8, my), RGB(20 / 1.7, 200 / 1.7, 40 / 1.7));
    EXPECT_EQ(Pixel(s, 6, my), shade);  // the shade line's short upright at the start overdraws the dark line
    EXPECT_NE(Pixel(s, tx1, my), RGB(20 / 1.7, 200 / 1.7, 40 / 1.7));  // thumb now at x = 198
    // Shadow: five fading copies down and to the right of the thumb.
    EXPECT_NE(Pixel(s, 198 + 13 + 1, my + 4), bg);

    // The knob draws the same thumb turned half a turn about its own centre.
    // Pixels are read from the screen, so the two controls must not overlap each other or the slider above.
    HWND sl = Make("pylvc_slider", 2, 13, 40, 10, 60);
    HWND kn = Make("pylvc_knob", 3, 13, 40, 40, 60);
    for (HWND c : {sl, kn}) {
        SendMessageA(c, VCM_SETBKCOLOR, 1, bg);
        SetD(c, VCM_SETVALUE, 1.0, 1);  // vertical: thumb at the top, (0, 0)
    }
    int compared = 0, differing = 0;
    for (int y = 2; y <= 10; ++y)
        for (int x = 2; x <= 10; ++x) {
            if ((x - 6) * (x - 6) + (y - 6) * (y - 6) > 16) continue;  // opaque core of the thumb
            ++compared;
            EXPECT_EQ(Pixel(kn, x, y), Pixel(sl, 12 - x, 12 - y)) << x << "," << y;
            differing += Pixel(kn, x, y) != Pixel(sl, x, y);
        }
    EXPECT_GT(compared, 40);
    EXPECT_GT(differing, 5);  // the artwork is lit from one side
}

TEST_F(ControlsTest, ButtonFramesAndNotifications)
{
    HWND b = Make("pylvc_button", 12, 10, 10);
    const COLORREF f[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};
    const COLORREF u[4] = {RGB(128, 0, 0), RGB(0, 128, 0), RGB(0, 0, 128), RGB(128, 128, 128)};
    HBITMAP focused = SolidStrip(4, 10, 10, f), unfocused = SolidStrip(4, 10, 10, u);
    SendMessageA(b, VCM_SETSTRIPS, reinterpret_cast<WPARAM>(focused), reinterpret_cast<LPARAM>(unfocused));
    SendMessageA(b, VCM_SETFRAMESIZE, 10, 10);
    EXPECT_EQ(Pixel(b, 5, 5), u[0]);
    SetFocus(b);
    InvalidateRect(b, nullptr, FALSE);  // the focus change repaints only when it names the previous window
    EXPECT_EQ(Pixel(b, 5, 5), f[0]);
    g_notes.clear();
    SendMessageA(b, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));  // pointer arrives: hover
    EXPECT_EQ(Pixel(b, 5, 5), f[2]);
    SendMessageA(b, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(Pixel(b, 5, 5), f[3]);
    SendMessageA(b, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(50, 5));  // dragging out changes nothing
    EXPECT_EQ(Pixel(b, 5, 5), f[3]);
    SendMessageA(b, WM_LBUTTONUP, 0, MAKELPARAM(50, 50));  // released outside
    EXPECT_EQ(Pixel(b, 5, 5), f[0]);
    SendMessageA(b, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(Pixel(b, 5, 5), f[1]);
    SendMessageA(b, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(Pixel(b, 5, 5), f[0]);  // until the pointer moves
    SendMessageA(b, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(Pixel(b, 5, 5), f[2]);
    SendMessageA(b, WM_MOUSEMOVE, 0, MAKELPARAM(40, 5));
    EXPECT_EQ(Pixel(b, 5, 5), f[0]);
    for (int i = 0; i < 3; ++i) SendMessageA(b, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(Pixel(b, 5, 5), f[1]);
    SendMessageA(b, WM_KEYUP, VK_SPACE, 0);
    SendMessageA(b, WM_KEYDOWN, VK_RETURN, 0);  // only the space key presses
    Pump();
    std::vector<int> codes;
    for (auto& n : g_notes) {
        if (n.from != b) continue;
        EXPECT_EQ(n.id, 12);
        codes.push_back(n.code);
    }
    EXPECT_EQ(codes, (std::vector<int>{VCN_PRESSED, VCN_RELEASED, VCN_PRESSED, VCN_RELEASED, VCN_PRESSED,
                                       VCN_PRESSED, VCN_PRESSED, VCN_RELEASED}));

    // A background change without the repaint flag reaches the screen only at the next paint.
    HWND plain = Make("pylvc_button", 13, 60, 30);  // default strips leave the corners to the background
    SendMessageA(plain, VCM_SETBKCOLOR, 1, RGB(255, 0, 255));
    EXPECT_EQ(Pixel(plain, 0, 0), RGB(255, 0, 255));
    SendMessageA(plain, VCM_SETBKCOLOR, 0, RGB(0, 255, 255));
    EXPECT_EQ(Pixel(plain, 0, 0), RGB(255, 0, 255));
    InvalidateRect(plain, nullptr, FALSE);
    EXPECT_EQ(Pixel(plain, 0, 0), RGB(0, 255, 255));
}

TEST_F(ControlsTest, ImagesReplacedWithThemselvesStayAlive)
{
    HWND b = Make("pylvc_button", 1, 41, 18);
    const COLORREF c[4] = {RGB(1, 2, 3), RGB(4, 5, 6), RGB(7, 8, 9), RGB(10, 11, 12)};
    HBITMAP one = SolidStrip(4, 41, 18, c);
    // The same bitmap for both looks, then handed in again.
    SendMessageA(b, VCM_SETSTRIPS, reinterpret_cast<WPARAM>(one), reinterpret_cast<LPARAM>(one));
    SendMessageA(b, VCM_SETSTRIPS, reinterpret_cast<WPARAM>(one), reinterpret_cast<LPARAM>(one));
    EXPECT_EQ(GetObjectType(one), (DWORD)OBJ_BITMAP);
    EXPECT_EQ(Pixel(b, 20, 9), c[0]);
    // One null handle: both defaults; the other handle is released.
    HBITMAP two = SolidStrip(4, 41, 18, c);
    SendMessageA(b, VCM_SETSTRIPS, reinterpret_cast<WPARAM>(two), 0);
    EXPECT_EQ(GetObjectType(one), 0u);
    EXPECT_EQ(GetObjectType(two), 0u);
    EXPECT_NE(Pixel(b, 20, 9), c[0]);

    HWND s = Make("pylvc_slider", 2, 100, 30);
    HBITMAP thumb = SolidStrip(2, 13, 13, c);
    SendMessageA(s, VCM_SETBITMAPS, reinterpret_cast<WPARAM>(thumb), reinterpret_cast<LPARAM>(thumb));
    SendMessageA(s, VCM_SETBITMAPS, reinterpret_cast<WPARAM>(thumb), reinterpret_cast<LPARAM>(thumb));
    SetFocus(s);
    SetFocus(parent_);
    EXPECT_EQ(GetObjectType(thumb), (DWORD)OBJ_BITMAP);
    // Changing the orientation drops custom thumbs for the defaults.
    SendMessageA(s, VCM_SETSTYLE, 1, 1);
    EXPECT_EQ(GetObjectType(thumb), 0u);
    DestroyWindow(s);
    DestroyWindow(b);
}

}  // namespace

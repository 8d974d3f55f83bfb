// Splash window: placement, colour key, fade timing, region fallback, texts.
#include <gtest/gtest.h>

#include "pyl_splash.h"
#include "splash_seams.h"
#include "test_support.h"

#include <string>
#include <vector>

#ifndef LWA_COLORKEY
#define LWA_COLORKEY 0x1
#define LWA_ALPHA 0x2
#endif

namespace {

const COLORREF kBody = RGB(230, 230, 160);
const COLORREF kMagenta = RGB(255, 0, 255);
const RECT kHole = {150, 20, 250, 70};
const int kWidth = 400, kHeight = 120;

// 32-bit device-independent section, bottom-up like a loaded resource.
HBITMAP MakeBitmap(COLORREF body, const std::vector<std::pair<RECT, COLORREF>>& blocks)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = kWidth;
    bi.bmiHeader.biHeight = kHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    DWORD* px = (DWORD*)bits;
    auto stored = [](COLORREF c) -> DWORD { return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c); };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            COLORREF c = body;
            for (auto& b : blocks)
                if (x >= b.first.left && x < b.first.right && y >= b.first.top && y < b.first.bottom) c = b.second;
            px[(kHeight - 1 - y) * kWidth + x] = stored(c);
        }
    return bmp;
}

LRESULT CALLBACK OwnerProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

// Dispatches this thread's messages until pred() holds or the time is up.
template <class Pred>
bool PumpUntil(Pred pred, DWORD timeoutMs)
{
    DWORD t0 = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        if (pred()) return true;
        if (GetTickCount() - t0 >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

void Pump(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

// Screen pixels of a rectangle, as COLORREFs, row by row.
std::vector<COLORREF> Grab(const RECT& r)
{
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    std::vector<DWORD> raw((size_t)w * h);
    GetDIBits(mem, bmp, 0, h, raw.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    std::vector<COLORREF> out(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) out[i] = RGB(raw[i] >> 16 & 0xFF, raw[i] >> 8 & 0xFF, raw[i] & 0xFF);
    return out;
}

void SaveBmp(const std::string& path, const std::vector<COLORREF>& px, int w, int h)
{
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    ih.biSize = sizeof ih;
    ih.biWidth = w;
    ih.biHeight = -h;
    ih.biPlanes = 1;
    ih.biBitCount = 32;
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + (DWORD)px.size() * 4;
    std::string data((const char*)&fh, sizeof fh);
    data.append((const char*)&ih, sizeof ih);
    for (COLORREF c : px) {
        DWORD v = GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
        data.append((const char*)&v, 4);
    }
    vqtest::WriteFile(path, data.data(), data.size());
}

int DarkPixels(const std::vector<COLORREF>& px)
{
    int n = 0;
    for (COLORREF c : px) n += GetRValue(c) + GetGValue(c) + GetBValue(c) < 200;
    return n;
}

bool Layered(HWND h) { return (GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_LAYERED) != 0; }

int AlphaOf(HWND h)
{
    BYTE a = 0;
    DWORD flags = 0;
    if (!Layered(h) || !GetLayeredWindowAttributes(h, nullptr, &a, &flags) || !(flags & LWA_ALPHA)) return 255;
    return a;
}

SetLayeredAttributesFn NoLayered() { return nullptr; }

class SplashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = OwnerProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
        wc.lpszClassName = "SplashTestOwner";
        RegisterClassA(&wc);
        owner = CreateWindowExA(0, "SplashTestOwner", "Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_TRUE(owner);
        status = "Initializing...";
        texts[0] = {{10, 100, 290, 113}, status, 0};
        texts[1] = {{250, 100, 390, 113}, "v1.0.7.180", 2};
        info = SplashInfo{};
        info.fadeMs = 320;
        info.holdMs = 320;
        info.hBitmap = MakeBitmap(kBody, {{kHole, kMagenta}});
        info.colorKey = kMagenta;
        info.textCount = 2;
        info.texts = texts;
        info.hWndOwner = owner;
        info.hInstance = GetModuleHandleA(nullptr);
    }
    void TearDown() override
    {
        if (info.hWndSplash && IsWindow(info.hWndSplash)) {
            PylSplash_Hide(&info);
            PumpUntil([&] { return !IsWindow(info.hWndSplash); }, 5000);
        }
        // Let the splash thread unregister the class before the next test.
        PumpUntil([] {
            WNDCLASSA wc;
            return !GetClassInfoA(GetModuleHandleA(nullptr), "PylSplashWnd", &wc);
        }, 3000);
        DestroyWindow(owner);
        pylsplash::g_lookupLayered = savedLookup;
        pylsplash::g_majorVersion = savedVersion;
    }
    // Waits for the window to close, checking the owner on the way.
    DWORD WaitClosed(DWORD timeoutMs, bool* ownerEverLayered = nullptr)
    {
        DWORD t0 = GetTickCount();
        PumpUntil([&] {
            if (ownerEverLayered && Layered(owner)) *ownerEverLayered = true;
            return !IsWindow(info.hWndSplash);
        }, timeoutMs);
        return GetTickCount() - t0;
    }

    HWND owner = nullptr;
    const char* status = nullptr;
    SplashText texts[2];
    SplashInfo info;
    SetLayeredAttributesFn (*savedLookup)(void) = pylsplash::g_lookupLayered;
    DWORD (*savedVersion)(void) = pylsplash::g_majorVersion;
};

TEST_F(SplashTest, CentredLayeredWithColourKeyHoles)
{
    EXPECT_EQ(0, PylSplash_Show(&info));
    // Show returns once the window exists.
    HWND w = info.hWndSplash;
    ASSERT_TRUE(w && IsWindow(w));
    char text[64];
    GetClassNameA(w, text, sizeof text);
    EXPECT_STREQ("PylSplashWnd", text);
    GetWindowTextA(w, text, sizeof text);
    EXPECT_STREQ("PylSplashWnd", text);
    EXPECT_EQ(kWidth, info.bitmapInfo.bmWidth);
    EXPECT_EQ(kHeight, info.bitmapInfo.bmHeight);
    EXPECT_EQ(32, info.bitmapInfo.bmBitsPixel);

    RECT work, r, client;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(w, &r);
    GetClientRect(w, &client);
    EXPECT_EQ(work.left + (work.right - work.left - kWidth) / 2, r.left);
    EXPECT_EQ(work.top + (work.bottom - work.top - kHeight) / 2, r.top);
    EXPECT_EQ(kWidth, client.right);  // no caption, no border
    EXPECT_EQ(kHeight, client.bottom);
    EXPECT_EQ(0, GetWindowLongA(w, GWL_STYLE) & (WS_CAPTION | WS_BORDER | WS_THICKFRAME));
    LONG ex = GetWindowLongA(w, GWL_EXSTYLE);
    EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(ex & WS_EX_TOPMOST);
    ASSERT_TRUE(ex & WS_EX_LAYERED);
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(w, &key, &alpha, &flags));
    EXPECT_EQ(kMagenta, key);
    EXPECT_EQ(255, alpha);
    EXPECT_EQ((DWORD)(LWA_COLORKEY | LWA_ALPHA), flags);

    Pump(200);
    std::vector<COLORREF> shot = Grab(r);
    SaveBmp(vqtest::BinDir() + "\\..\\splash_screenshot.bmp", shot, kWidth, kHeight);
    auto at = [&](int x, int y) { return shot[(size_t)y * kWidth + x]; };
    EXPECT_EQ(kBody, at(20, 20));
    EXPECT_EQ(kBody, at(380, 60));
    EXPECT_NE(kMagenta, at(200, 45));  // the key colour is a hole
    EXPECT_NE(kMagenta, at(kHole.left, kHole.top));
    EXPECT_EQ(kBody, at(kHole.left - 1, kHole.top));
    // Both texts are drawn in the button-text colour.
    std::vector<COLORREF> statusRow, versionRow;
    for (int y = 100; y < 113; ++y)
        for (int x = 0; x < kWidth; ++x) (x < 200 ? statusRow : versionRow).push_back(at(x, y));
    EXPECT_GT(DarkPixels(statusRow), 20);
    EXPECT_GT(DarkPixels(versionRow), 20);
}

TEST_F(SplashTest, FadeAfterHideHoldThenOwnerFadesIn)
{
    EnableWindow(owner, FALSE);
    HBITMAP bmp = info.hBitmap;
    PylSplash_Show(&info);
    HWND w = info.hWndSplash;
    ASSERT_TRUE(w);
    Pump(150);
    // Until the hide request nothing fades.
    EXPECT_EQ(255, AlphaOf(w));
    EXPECT_FALSE(Layered(owner));

    DWORD t0 = GetTickCount();
    EXPECT_EQ(1, PylSplash_Hide(&info));
    EXPECT_EQ(1, info.hideRequested);
    EXPECT_EQ(0, AlphaOf(owner));  // invisible until the fade begins

    int lastOwner = 0, lastSplash = 255;
    bool monotonic = true, sawMiddle = false, hidAgain = false;
    DWORD firstFade = 0;
    PumpUntil([&] {
        int s = AlphaOf(w), o = AlphaOf(owner);
        if (!IsWindow(w)) return true;  // closed meanwhile: the values may be the final ones
        if (s > lastSplash || o < lastOwner) monotonic = false;
        if (s < 255 && !firstFade) firstFade = GetTickCount() - t0;
        if (o > 30 && o < 225) sawMiddle = true;
        if (o > 0 && !hidAgain) {
            hidAgain = true;
            EXPECT_EQ(1, PylSplash_Hide(&info));  // must not restart the fade
            EXPECT_GE(AlphaOf(owner), o);
        }
        lastSplash = s;
        lastOwner = o;
        return false;
    }, 5000);
    DWORD closedAfter = GetTickCount() - t0;
    EXPECT_FALSE(IsWindow(w));
    EXPECT_TRUE(monotonic);
    EXPECT_TRUE(sawMiddle);
    // Hold 320 ms, fade 320 ms, 32 ms ticks: closes about 0.67 s after the request.
    EXPECT_GE(firstFade, 250u);
    EXPECT_LE(firstFade, 1200u);
    EXPECT_GE(closedAfter, 560u);
    EXPECT_LE(closedAfter, 2000u);

    // Owner opaque, enabled; picture deleted; a late Hide finds nothing.
    EXPECT_EQ(255, AlphaOf(owner));
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(0u, (unsigned)GetObjectType(bmp));
    EXPECT_EQ(0, PylSplash_Hide(&info));
}

TEST_F(SplashTest, HideRightAfterShowAndHoldZero)
{
    info.holdMs = 0;
    info.fadeMs = 200;
    PylSplash_Show(&info);
    ASSERT_TRUE(info.hWndSplash);
    EXPECT_EQ(1, PylSplash_Hide(&info));
    DWORD took = WaitClosed(3000);
    EXPECT_FALSE(IsWindow(info.hWndSplash));
    EXPECT_GE(took, 150u);
    EXPECT_LE(took, 1500u);
    EXPECT_EQ(255, AlphaOf(owner));
    EXPECT_TRUE(IsWindowEnabled(owner));

    // A zero fade still ends (right after the hold).
    PumpUntil([] {
        WNDCLASSA wc;
        return !GetClassInfoA(GetModuleHandleA(nullptr), "PylSplashWnd", &wc);
    }, 3000);
    info.hWndSplash = nullptr;
    info.hideRequested = 0;
    info.fadeMs = 0;
    info.holdMs = 100;
    info.hBitmap = MakeBitmap(kBody, {});
    PylSplash_Show(&info);
    ASSERT_TRUE(info.hWndSplash);
    EXPECT_EQ(1, PylSplash_Hide(&info));
    WaitClosed(3000);
    EXPECT_FALSE(IsWindow(info.hWndSplash));
    EXPECT_EQ(255, AlphaOf(owner));
}

TEST_F(SplashTest, StatusTextChangeShowsAtNextTick)
{
    PylSplash_Show(&info);
    HWND w = info.hWndSplash;
    ASSERT_TRUE(w);
    Pump(150);
    RECT r;
    GetWindowRect(w, &r);
    RECT line = {r.left + 10, r.top + 100, r.left + 200, r.top + 113};
    std::vector<COLORREF> before = Grab(line);
    texts[0].text = "";  // an empty status line
    Pump(100);
    EXPECT_EQ(0, DarkPixels(Grab(line)));
    texts[0].text = "Loading modules... WWWWWWWW";
    Pump(100);
    std::vector<COLORREF> after = Grab(line);
    EXPECT_GT(DarkPixels(after), DarkPixels(before));
    EXPECT_NE(before, after);
}

TEST_F(SplashTest, RegionFallbackWithoutLayeredFunction)
{
    pylsplash::g_lookupLayered = NoLayered;
    HBITMAP bmp = info.hBitmap;
    PylSplash_Show(&info);
    HWND w = info.hWndSplash;
    ASSERT_TRUE(w);
    EXPECT_FALSE(Layered(w));
    HRGN rgn = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, GetWindowRgn(w, rgn));
    EXPECT_FALSE(PtInRegion(rgn, 200, 45));
    EXPECT_FALSE(PtInRegion(rgn, kHole.left, kHole.top));
    EXPECT_FALSE(PtInRegion(rgn, kHole.right - 1, kHole.bottom - 1));
    EXPECT_TRUE(PtInRegion(rgn, kHole.left - 1, 45));
    EXPECT_TRUE(PtInRegion(rgn, kHole.right, 45));
    EXPECT_TRUE(PtInRegion(rgn, 200, kHole.bottom));
    EXPECT_TRUE(PtInRegion(rgn, 0, 0));
    EXPECT_TRUE(PtInRegion(rgn, kWidth - 1, kHeight - 1));
    DeleteObject(rgn);

    Pump(100);
    DWORD t0 = GetTickCount();
    EXPECT_EQ(1, PylSplash_Hide(&info));
    bool ownerLayered = false;
    WaitClosed(5000, &ownerLayered);
    DWORD took = GetTickCount() - t0;
    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(ownerLayered);  // never made invisible
    EXPECT_GE(took, 560u);       // same time as the fade would take
    EXPECT_LE(took, 2000u);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(0u, (unsigned)GetObjectType(bmp));
}

TEST_F(SplashTest, RegionKeyIsTheSameColourAsLayered)
{
    // Older systems take the region path as well.
    pylsplash::g_majorVersion = [] () -> DWORD { return 4; };
    const COLORREF red = RGB(255, 0, 0), blue = RGB(0, 0, 255);
    DeleteObject(info.hBitmap);
    info.hBitmap = MakeBitmap(kBody, {{{10, 10, 20, 20}, red}, {{50, 10, 60, 20}, blue}});
    info.colorKey = red;
    PylSplash_Show(&info);
    ASSERT_TRUE(info.hWndSplash);
    EXPECT_FALSE(Layered(info.hWndSplash));
    HRGN rgn = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, GetWindowRgn(info.hWndSplash, rgn));
    EXPECT_FALSE(PtInRegion(rgn, 15, 15));  // red is the key
    EXPECT_TRUE(PtInRegion(rgn, 55, 15));   // blue is not
    DeleteObject(rgn);
}

TEST_F(SplashTest, NoKeyWithoutLayeredGivesRectangle)
{
    pylsplash::g_lookupLayered = NoLayered;
    info.colorKey = PYLSPLASH_NO_COLORKEY;
    PylSplash_Show(&info);
    ASSERT_TRUE(info.hWndSplash);
    HRGN rgn = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(ERROR, GetWindowRgn(info.hWndSplash, rgn));
    DeleteObject(rgn);
}

TEST_F(SplashTest, LibraryExportsAndOneSplashAtATime)
{
    HMODULE lib = LoadLibraryA((vqtest::BinDir() + "\\PylSplash.dll").c_str());
    ASSERT_TRUE(lib);
    auto show = (int(__cdecl*)(SplashInfo*))GetProcAddress(lib, "PylSplash_Show");
    auto hide = (int(__cdecl*)(SplashInfo*))GetProcAddress(lib, "PylSplash_Hide");
    ASSERT_TRUE(show && hide);
    EXPECT_EQ(0, hide(nullptr));
    EXPECT_EQ(0, show(nullptr));
    SplashInfo none = {};
    EXPECT_EQ(0, hide(&none));

    // The library's splash works end to end.
    EXPECT_EQ(0, show(&info));
    ASSERT_TRUE(info.hWndSplash);
    // A second splash while the first holds the class: nothing is shown.
    SplashInfo second = info;
    second.hWndSplash = nullptr;
    second.hideRequested = 0;
    second.hBitmap = MakeBitmap(kBody, {});
    EXPECT_EQ(0, PylSplash_Show(&second));
    EXPECT_EQ(nullptr, second.hWndSplash);
    EXPECT_EQ(0, PylSplash_Hide(&second));
    DeleteObject(second.hBitmap);

    EXPECT_EQ(1, hide(&info));
    WaitClosed(5000);
    EXPECT_FALSE(IsWindow(info.hWndSplash));
    EXPECT_EQ(255, AlphaOf(owner));
    PumpUntil([] {
        WNDCLASSA wc;
        return !GetClassInfoA(GetModuleHandleA(nullptr), "PylSplashWnd", &wc);
    }, 3000);
    FreeLibrary(lib);
}

}  // namespace

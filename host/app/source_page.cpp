// Source page and the frame all pages share (background brush, colour
// messages, reset after a batch).
#include <windows.h>
#include <commctrl.h>
#include <initializer_list>
#include "host_state.h"
#include "pages.h"
#include "pyl_config.h"
#include "resource.h"

HBRUSH CreatePageBrush(HWND window)
{
    HINSTANCE inst = g_host.hInstance ? g_host.hInstance : GetModuleHandleA(nullptr);
    HBITMAP picture = (HBITMAP)LoadImageA(inst, MAKEINTRESOURCEA(IDB_PAGE), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    if (!picture)
        return nullptr;
    HWND parent = GetParent(window);
    if (!parent || !(GetWindowLongA(window, GWL_STYLE) & WS_CHILD)) {
        HBRUSH brush = CreatePatternBrush(picture);
        DeleteObject(picture);
        return brush;
    }
    HDC wdc = GetDC(window);
    HDC src = CreateCompatibleDC(wdc);
    HDC dst = CreateCompatibleDC(wdc);
    HGDIOBJ oldSrc = SelectObject(src, picture);
    RECT r;
    GetWindowRect(window, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HBITMAP slice = CreateCompatibleBitmap(wdc, w, h);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    HGDIOBJ oldDst = SelectObject(dst, slice);
    BitBlt(dst, 0, 0, w, h, src, r.left, r.top, SRCCOPY);
    SelectObject(dst, oldDst);
    SelectObject(src, oldSrc);
    HBRUSH brush = CreatePatternBrush(slice);
    DeleteDC(src);
    DeleteDC(dst);
    ReleaseDC(window, wdc);
    DeleteObject(slice);
    DeleteObject(picture);
    return brush;
}

bool PageColorMessage(HWND page, HBRUSH brush, UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result)
{
    switch (msg) {
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HDC dc = (HDC)wParam;
        SetBkMode(dc, TRANSPARENT);
        RECT r;
        GetWindowRect((HWND)lParam, &r);
        MapWindowPoints(HWND_DESKTOP, page, reinterpret_cast<POINT*>(&r), 2);
        SetBrushOrgEx(dc, -r.left, -r.top, nullptr);
        *result = (INT_PTR)brush;
        return true;
    }
    case WM_CTLCOLORDLG:
        SetBkMode((HDC)wParam, TRANSPARENT);
        *result = (INT_PTR)GetStockObject(NULL_BRUSH);
        return true;
    }
    return false;
}

void DeletePageBrush(HBRUSH* brush)
{
    if (*brush)
        DeleteObject(*brush);
    *brush = nullptr;
}

bool PageFrameMessage(HWND page, HBRUSH* brush, UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result)
{
    switch (msg) {
    case WM_INITDIALOG:
        *brush = CreatePageBrush(page);
        return false;
    case WM_DESTROY:
        DeletePageBrush(brush);
        return false;
    }
    return PageColorMessage(page, *brush, msg, wParam, lParam, result);
}

void ResetPages()
{
    HWND main = g_host.mainDialog;
    for (int i = 0; i < 3; i++)
        SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_PREVIOUS, BN_CLICKED), 0);
    SendMessageA(g_host.pages[PageFiles], WM_COMMAND, MAKEWPARAM(IDC_REMOVE_ALL, BN_CLICKED), 0);
    HWND proc = g_host.pages[PageProcessing];
    SetDlgItemTextA(proc, IDC_TRACK_TEXT, "");
    SendDlgItemMessageA(proc, IDC_TRACK_BAR, PBM_SETPOS, 0, 0);
    SetDlgItemTextA(proc, IDC_GENERAL_TEXT, "");
    SendDlgItemMessageA(proc, IDC_GENERAL_BAR, PBM_SETPOS, 0, 0);
    SendDlgItemMessageA(proc, IDC_LEVEL_BAR, PBM_SETPOS, 0, 0);
    SetDlgItemTextA(proc, IDC_LEVEL_TEXT, "");
}

static int SelectedItemData(HWND combo)
{
    LRESULT sel = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (sel == CB_ERR)
        return -1;
    return (int)SendMessageA(combo, CB_GETITEMDATA, sel, 0);
}

static bool CaptureSuppliesTags(int slot)
{
    IVqProModule* m = g_host.captureModules[slot];
    return m && m->capture.GetTag && m->capture.GetTag(nullptr, nullptr) != 0;
}

static void ChooseSource(HWND page, int data)
{
    if (data < 0 || data >= 32 || !g_host.captureModules[data]) {
        g_host.sourceIsFiles = 1;
        SendMessageA(page, PAGE_SHOWCAPTURE, 0, 0);
        SetHostInt32(SetEncoderSource, 0);
        SendMessageA(page, PAGE_LOCKTAGS, 0, 1);
        return;
    }
    g_host.sourceIsFiles = 0;
    SendMessageA(page, PAGE_SHOWCAPTURE, 0, 1);
    SetHostInt32(SetEncoderSource, g_host.captureModules[data]->h.Id);
    SendMessageA(page, PAGE_LOCKTAGS, 0, CaptureSuppliesTags(data) ? 1 : 0);
}

INT_PTR CALLBACK SourcePageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam)
{
    static HBRUSH brush;
    INT_PTR result;
    if (PageFrameMessage(page, &brush, msg, wParam, lParam, &result))
        return result;
    switch (msg) {
    case WM_INITDIALOG: {
        HWND list = GetDlgItem(page, IDC_SOURCE_LIST);
        LRESULT pos = SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)LoadStr(IDS_EXISTING_FILES));
        SendMessageA(list, CB_SETITEMDATA, pos, (LPARAM)-1);
        SendMessageA(list, CB_SETCURSEL, pos, 0);
        int capture = 0, lock = 1;
        bool found = false;
        for (int i = 0; i < 32; i++) {
            IVqProModule* m = g_host.captureModules[i];
            if (!m)
                continue;
            pos = SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)(m->h.DisplayName ? m->h.DisplayName : ""));
            SendMessageA(list, CB_SETITEMDATA, pos, i);
            if (!found && m->h.Id == HostInt32(SetEncoderSource)) {
                found = true;
                g_host.sourceIsFiles = 0;
                capture = 1;
                if (!CaptureSuppliesTags(i))
                    lock = 0;
            }
        }
        // Positions move as sorted entries are added: select by item data at the end.
        if (found) {
            int n = (int)SendMessageA(list, CB_GETCOUNT, 0, 0);
            for (int k = 0; k < n; k++) {
                int d = (int)SendMessageA(list, CB_GETITEMDATA, k, 0);
                if (d >= 0 && g_host.captureModules[d]->h.Id == HostInt32(SetEncoderSource)) {
                    SendMessageA(list, CB_SETCURSEL, k, 0);
                    break;
                }
            }
        } else {
            int n = (int)SendMessageA(list, CB_GETCOUNT, 0, 0);
            for (int k = 0; k < n; k++)
                if ((int)SendMessageA(list, CB_GETITEMDATA, k, 0) < 0)
                    SendMessageA(list, CB_SETCURSEL, k, 0);
        }
        SendMessageA(page, PAGE_SHOWCAPTURE, 0, capture);
        SendMessageA(page, PAGE_LOCKTAGS, 0, lock);
        return TRUE;
    }
    case PAGE_SHOWCAPTURE: {
        bool show = lParam != 0;
        EnableWindow(GetDlgItem(page, IDC_SOURCE_CONFIGURE), show);
        HWND enc = g_host.pages[PageEncoder];
        static const int recording[] = {IDC_TIME_LABEL, IDC_TIME_EDIT, IDC_TIME_SPIN, IDC_SILENCE_GROUP,
                                        IDC_SILENCE_CHECK, IDC_SPLIT_LABEL, IDC_SPLIT_EDIT, IDC_SPLIT_SPIN,
                                        IDC_STOP_LABEL, IDC_STOP_EDIT, IDC_STOP_SPIN};
        if (enc) {
            for (int id : recording)
                ShowWindow(GetDlgItem(enc, id), show ? SW_SHOW : SW_HIDE);
            ShowWindow(GetDlgItem(enc, IDC_DELETE_ORIGINALS), show ? SW_HIDE : SW_SHOW);
        }
        return TRUE;
    }
    case PAGE_LOCKTAGS: {
        BOOL enable = lParam == 0;
        for (int id : {IDC_TAG_TITLE, IDC_TAG_AUTHOR, IDC_TAG_ALBUM, IDC_TAG_GENRE, IDC_TAG_YEAR, IDC_TAG_DESCRIPTION})
            EnableWindow(GetDlgItem(page, id), enable);
        for (int id = IDC_LBL_TITLE; id <= IDC_LBL_DESCRIPTION; id++)
            EnableWindow(GetDlgItem(page, id), enable);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SOURCE_LIST:
            if (HIWORD(wParam) == CBN_SELCHANGE)
                ChooseSource(page, SelectedItemData((HWND)lParam));
            return TRUE;
        case IDC_SOURCE_CONFIGURE: {
            int d = SelectedItemData(GetDlgItem(page, IDC_SOURCE_LIST));
            if (d >= 0 && d < 32 && g_host.captureModules[d]) {
                IVqProModule* m = g_host.captureModules[d];
                if (!m->h.Configure || m->h.Configure(page, VQ_HOST_SECTION, nullptr) < 0)
                    PylConfigDialog(m, nullptr, page, VQ_HOST_SECTION);
            }
            return TRUE;
        }
        }
        break;
    }
    return FALSE;
}

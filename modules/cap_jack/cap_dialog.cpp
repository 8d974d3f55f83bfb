// Settings dialog 103 of the capture module: device, sample format and buffer
// length, each change stored at once through the module's own setting calls.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cap_jack.h"
#include "pyl_config.h"
#include "resource.h"

namespace capjack {
namespace {

struct DialogState {
    const char* section;
    void* instance;
    bool filling;  // controls are being filled by the dialog itself
    HFONT linkFont;
    WNDPROC linkProc;
};

void DefaultOpenLink(HWND owner, const char* target)
{
    ShellExecuteA(owner, "open", target, nullptr, nullptr, SW_SHOWNORMAL);
}

DialogState* StateOf(HWND dlg) { return reinterpret_cast<DialogState*>(GetWindowLongPtrA(dlg, DWLP_USER)); }

bool ReadSetting(DialogState* st, int index, SettingRecord* rec)
{
    return Module()->h.GetSetting(rec, index, st->section, st->instance) >= 0;
}

void StoreSetting(DialogState* st, int index, const SettingRecord* rec)
{
    Module()->h.SetSetting(rec, index, st->section, st->instance);
}

// Fills a drop-down list from a record's TAB-separated labels, with the list
// values as item data; selects the item whose value is the current one.
void FillList(HWND box, const SettingRecord& rec)
{
    SendMessageA(box, CB_RESETCONTENT, 0, 0);
    int32_t current = SettingLoad<int32_t>(rec.currentValue);
    int count = rec.constraint > 0 ? rec.constraint : 0;
    if (count > 256)
        count = 256;
    const char* p = rec.labels;
    for (int i = 0; i < count && *p; ++i) {
        const char* tab = strchr(p, '\t');
        size_t len = tab ? static_cast<size_t>(tab - p) : strlen(p);
        char label[256];
        snprintf(label, sizeof label, "%.*s", static_cast<int>(len), p);
        LRESULT item = SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
        int32_t value = SettingLoad<int32_t>(rec.limits, i);
        SendMessageA(box, CB_SETITEMDATA, item, value);
        if (value == current)
            SendMessageA(box, CB_SETCURSEL, item, 0);
        if (!tab)
            break;
        p = tab + 1;
    }
}

void SelectByData(HWND box, int32_t value)
{
    int n = static_cast<int>(SendMessageA(box, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        if (static_cast<int32_t>(SendMessageA(box, CB_GETITEMDATA, i, 0)) == value) {
            SendMessageA(box, CB_SETCURSEL, i, 0);
            return;
        }
    }
    SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

double StepOf(const SettingRecord& rec) { return rec.step > 0.0 ? rec.step : 1.0; }

void Refresh(HWND dlg)
{
    DialogState* st = StateOf(dlg);
    st->filling = true;
    SettingRecord rec;
    if (ReadSetting(st, SettingDevice, &rec))
        SelectByData(GetDlgItem(dlg, IDC_DEVICE), SettingLoad<int32_t>(rec.currentValue));
    if (ReadSetting(st, SettingFormat, &rec))
        FillList(GetDlgItem(dlg, IDC_FORMAT), rec);
    if (ReadSetting(st, SettingBufferSize, &rec)) {
        int32_t value = SettingLoad<int32_t>(rec.currentValue);
        SendDlgItemMessageA(dlg, IDC_BUFFER_SPIN, UDM_SETPOS32, 0, static_cast<LPARAM>(value / StepOf(rec)));
        char text[32];
        snprintf(text, sizeof text, "%d", static_cast<int>(value));
        SetDlgItemTextA(dlg, IDC_BUFFER_EDIT, text);
    }
    st->filling = false;
}

void OnDeviceChanged(HWND dlg)
{
    DialogState* st = StateOf(dlg);
    HWND box = GetDlgItem(dlg, IDC_DEVICE);
    LRESULT sel = SendMessageA(box, CB_GETCURSEL, 0, 0);
    if (sel == CB_ERR)
        return;
    int32_t device = static_cast<int32_t>(SendMessageA(box, CB_GETITEMDATA, sel, 0));
    SettingRecord rec;
    if (!ReadSetting(st, SettingDevice, &rec))
        return;
    SettingStore<int32_t>(rec.currentValue, device);
    StoreSetting(st, SettingDevice, &rec);
    if (ReadSetting(st, SettingFormat, &rec)) {
        EnumerateFormats(device, &rec);
        StoreSetting(st, SettingFormat, &rec);
    }
    Refresh(dlg);  // the format box shows the new device's formats
}

void OnFormatChanged(HWND dlg)
{
    DialogState* st = StateOf(dlg);
    HWND box = GetDlgItem(dlg, IDC_FORMAT);
    LRESULT sel = SendMessageA(box, CB_GETCURSEL, 0, 0);
    SettingRecord rec;
    if (sel == CB_ERR || !ReadSetting(st, SettingFormat, &rec))
        return;
    SettingStore<int32_t>(rec.currentValue, static_cast<int32_t>(SendMessageA(box, CB_GETITEMDATA, sel, 0)));
    StoreSetting(st, SettingFormat, &rec);
}

void OnBufferEdited(HWND dlg)
{
    DialogState* st = StateOf(dlg);
    char text[32];
    GetDlgItemTextA(dlg, IDC_BUFFER_EDIT, text, sizeof text);
    SettingRecord rec;
    if (!ReadSetting(st, SettingBufferSize, &rec))
        return;
    int32_t value = static_cast<int32_t>(strtol(text, nullptr, 10));
    SettingStore<int32_t>(rec.currentValue, value);
    StoreSetting(st, SettingBufferSize, &rec);
    st->filling = true;
    SendDlgItemMessageA(dlg, IDC_BUFFER_SPIN, UDM_SETPOS32, 0, static_cast<LPARAM>(value / StepOf(rec)));
    st->filling = false;
}

void OnSpinMoved(HWND dlg)
{
    DialogState* st = StateOf(dlg);
    SettingRecord rec;
    if (!ReadSetting(st, SettingBufferSize, &rec))
        return;
    LRESULT pos = SendDlgItemMessageA(dlg, IDC_BUFFER_SPIN, UDM_GETPOS32, 0, 0);
    int32_t value = static_cast<int32_t>(static_cast<int>(pos) * StepOf(rec));
    SettingStore<int32_t>(rec.currentValue, value);
    char text[32];
    snprintf(text, sizeof text, "%0d", static_cast<int>(value));
    st->filling = true;
    SetDlgItemTextA(dlg, IDC_BUFFER_EDIT, text);
    st->filling = false;
    StoreSetting(st, SettingBufferSize, &rec);
}

LRESULT CALLBACK LinkProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    DialogState* st = StateOf(GetParent(wnd));
    if (msg == WM_SETCURSOR) {
        SetCursor(LoadCursor(nullptr, IDC_HAND));
        return TRUE;
    }
    return CallWindowProcA(st->linkProc, wnd, msg, wp, lp);
}

void SetUpLink(HWND dlg, int id, UINT textId, DialogState* st)
{
    HWND link = GetDlgItem(dlg, id);
    char text[256];
    if (LoadStringA(Module()->h.hInstance, textId, text, sizeof text) <= 0)
        text[0] = 0;
    SetWindowTextA(link, text);
    // Size the label to its text.
    HDC dc = GetDC(link);
    HGDIOBJ old = SelectObject(dc, st->linkFont);
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, text, static_cast<int>(strlen(text)), &size);
    SelectObject(dc, old);
    ReleaseDC(link, dc);
    SetWindowPos(link, nullptr, 0, 0, size.cx + 2, size.cy + 2, SWP_NOMOVE | SWP_NOZORDER);
    st->linkProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(link, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LinkProc)));
}

void DrawLink(const DRAWITEMSTRUCT* di, DialogState* st)
{
    char text[256];
    GetWindowTextA(di->hwndItem, text, sizeof text);
    FillRect(di->hDC, &di->rcItem, GetSysColorBrush(COLOR_BTNFACE));
    HGDIOBJ old = SelectObject(di->hDC, st->linkFont);
    SetBkMode(di->hDC, TRANSPARENT);
    RECT r = di->rcItem;
    OffsetRect(&r, 1, 1);
    SetTextColor(di->hDC, GetSysColor(COLOR_BTNHIGHLIGHT));
    DrawTextA(di->hDC, text, -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    COLORREF c = GetSysColor(COLOR_HIGHLIGHT);
    if (di->itemState & ODS_SELECTED)
        c = RGB(GetRValue(c) / 2, GetGValue(c) / 2, GetBValue(c) / 2);
    SetTextColor(di->hDC, c);
    r = di->rcItem;
    DrawTextA(di->hDC, text, -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(di->hDC, old);
}

void OpenLink(HWND dlg, int id)
{
    char text[256];
    GetDlgItemTextA(dlg, id, text, sizeof text);
    char target[300];
    if (id == IDC_LINK_MAIL && strncmp(text, "mailto:", 7) != 0)
        snprintf(target, sizeof target, "mailto:%s", text);
    else
        snprintf(target, sizeof target, "%s", text);
    g_openLink(dlg, target);
}

void OnInit(HWND dlg, DialogState* st)
{
    SetWindowLongPtrA(dlg, DWLP_USER, reinterpret_cast<LONG_PTR>(st));
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    SetWindowTextA(dlg, Module()->h.DisplayName);
    SendMessageA(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Module()->h.hIcon));

    SettingRecord rec;
    st->filling = true;
    if (ReadSetting(st, SettingDevice, &rec))
        FillList(GetDlgItem(dlg, IDC_DEVICE), rec);
    if (ReadSetting(st, SettingBufferSize, &rec)) {
        double step = StepOf(rec);
        SendDlgItemMessageA(dlg, IDC_BUFFER_SPIN, UDM_SETRANGE32,
                            static_cast<WPARAM>(SettingLoad<int32_t>(rec.limits, 0) / step),
                            static_cast<LPARAM>(SettingLoad<int32_t>(rec.limits, 1) / step));
    }
    st->filling = false;

    LOGFONTA lf;
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dlg, WM_GETFONT, 0, 0));
    if (!font || !GetObjectA(font, sizeof lf, &lf))
        GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    lf.lfUnderline = TRUE;
    st->linkFont = CreateFontIndirectA(&lf);
    SetUpLink(dlg, IDC_LINK_WEB, IDS_LINK_WEB, st);
    SetUpLink(dlg, IDC_LINK_MAIL, IDS_LINK_MAIL, st);
    Refresh(dlg);
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_INITDIALOG:
        OnInit(dlg, reinterpret_cast<DialogState*>(lp));
        return TRUE;
    case WM_DRAWITEM: {
        auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        if (di->CtlID != IDC_LINK_WEB && di->CtlID != IDC_LINK_MAIL)
            return FALSE;
        DrawLink(di, StateOf(dlg));
        return TRUE;
    }
    case WM_VSCROLL:
        if (reinterpret_cast<HWND>(lp) == GetDlgItem(dlg, IDC_BUFFER_SPIN) && !StateOf(dlg)->filling)
            OnSpinMoved(dlg);
        return TRUE;
    case WM_COMMAND: {
        DialogState* st = StateOf(dlg);
        int id = LOWORD(wp), code = HIWORD(wp);
        if (!st)
            return FALSE;
        if (id == IDC_DEVICE && code == CBN_SELCHANGE) {
            OnDeviceChanged(dlg);
        } else if (id == IDC_FORMAT && code == CBN_SELCHANGE) {
            OnFormatChanged(dlg);
        } else if (id == IDC_BUFFER_EDIT && code == EN_CHANGE) {
            if (!st->filling)
                OnBufferEdited(dlg);
        } else if (id == IDC_PRESETS && code == BN_CLICKED) {
            PylConfigDialog(Module(), st->instance, dlg, st->section);
            Refresh(dlg);
        } else if ((id == IDC_LINK_WEB || id == IDC_LINK_MAIL) && code == BN_CLICKED) {
            OpenLink(dlg, id);
        } else if (id == IDOK || id == IDCANCEL) {
            EndDialog(dlg, 0);
        } else {
            return FALSE;
        }
        return TRUE;
    }
    case WM_CLOSE:
        EndDialog(dlg, 0);
        return TRUE;
    case WM_DESTROY: {
        DialogState* st = StateOf(dlg);
        if (st && st->linkFont) {
            DeleteObject(st->linkFont);
            st->linkFont = nullptr;
        }
        return FALSE;
    }
    }
    return FALSE;
}

}  // namespace

void (*g_openLink)(HWND owner, const char* target) = DefaultOpenLink;

INT_PTR RunConfigDialog(HWND parent, const char* section, void* instance)
{
    DialogState st = {section, instance, false, nullptr, nullptr};
    return DialogBoxParamA(Module()->h.hInstance, MAKEINTRESOURCEA(IDD_CAPTURE_CONFIG), parent, DialogProc,
                           reinterpret_cast<LPARAM>(&st));
}

}  // namespace capjack

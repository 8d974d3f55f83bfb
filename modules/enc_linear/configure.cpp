// The encoder's own settings dialog: output folder, file-name pattern with
// help, folder browser, presets and two link buttons.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <string.h>
#include "enc_linear.h"
#include "pyl_config.h"
#include "resource.h"

namespace {

enum { WM_REFRESH = WM_USER };

struct DialogState {
    const char* section;
    void* instance;
    HFONT linkFont;
};

const char* const kSuggestedPatterns[] = {"%p\\%f.wav", "%p\\%n - %a - %t.wav", "%p\\%a - %b - %n - %t.wav",
                                          "%a\\%b\\%n - %a - %t.wav"};

void ApplyPathRule(HWND dlg, const char* pattern)
{
    BOOL enable = strstr(pattern, "%p") == NULL;
    EnableWindow(GetDlgItem(dlg, IDC_OUTPUT_PATH), enable);
    EnableWindow(GetDlgItem(dlg, IDC_BROWSE), enable);
}

void Refresh(HWND dlg, DialogState* st)
{
    SettingRecord rec;
    EncGetSetting(&rec, 0, st->section, st->instance);
    rec.currentValue[sizeof(rec.currentValue) - 1] = 0;
    SetDlgItemTextA(dlg, IDC_OUTPUT_PATH, (const char*)rec.currentValue);
    EncGetSetting(&rec, 1, st->section, st->instance);
    rec.currentValue[sizeof(rec.currentValue) - 1] = 0;
    SetDlgItemTextA(dlg, IDC_PATTERN, (const char*)rec.currentValue);
    ApplyPathRule(dlg, (const char*)rec.currentValue);
}

void StoreText(DialogState* st, int index, const char* text)
{
    SettingRecord rec;
    EncGetSetting(&rec, index, st->section, st->instance);
    memset(rec.currentValue, 0, sizeof(rec.currentValue));
    lstrcpynA((char*)rec.currentValue, text, sizeof(rec.currentValue));
    EncSetSetting(&rec, index, st->section, st->instance);
}

void ShowMessage(HWND dlg, int stringId, UINT icon)
{
    char text[1024];
    text[0] = 0;
    LoadStringA(g_encoderModule.h.hInstance, stringId, text, sizeof(text));
    MessageBoxA(dlg, text, ENC_DISPLAY_NAME, icon | MB_OK);
}

void Browse(HWND dlg, DialogState* st)
{
    SettingRecord rec;
    EncGetSetting(&rec, 0, st->section, st->instance);
    OleInitialize(NULL);
    char display[MAX_PATH];
    BROWSEINFOA bi;
    memset(&bi, 0, sizeof(bi));
    bi.hwndOwner = dlg;
    bi.pszDisplayName = display;
    bi.lpszTitle = rec.description;
    bi.ulFlags = BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    LPITEMIDLIST item = SHBrowseForFolderA(&bi);
    if (item) {
        char folder[MAX_PATH];
        if (SHGetPathFromIDListA(item, folder)) {
            memset(rec.currentValue, 0, sizeof(rec.currentValue));
            lstrcpynA((char*)rec.currentValue, folder, sizeof(rec.currentValue));
            EncSetSetting(&rec, 0, st->section, st->instance);
            SetDlgItemTextA(dlg, IDC_OUTPUT_PATH, folder);
        }
        CoTaskMemFree(item);
    }
    OleUninitialize();
}

void OpenLink(int id)
{
    char address[64], target[80];
    if (LoadStringA(g_encoderModule.h.hInstance, id, address, sizeof(address)) <= 0)
        return;
    lstrcpyA(target, id == IDC_LINK_MAIL ? "mailto:" : "");
    lstrcatA(target, address);
    ShellExecuteA(NULL, "open", target, NULL, NULL, SW_SHOWNORMAL);
}

void DrawLink(HWND dlg, DialogState* st, const DRAWITEMSTRUCT* di)
{
    char text[64];
    text[0] = 0;
    LoadStringA(g_encoderModule.h.hInstance, di->CtlID, text, sizeof(text));
    if (!st->linkFont)
        st->linkFont = CreateFontA(13, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, NULL);
    HGDIOBJ old = SelectObject(di->hDC, st->linkFont);
    SetBkMode(di->hDC, TRANSPARENT);
    int len = lstrlenA(text);
    SetTextColor(di->hDC, GetSysColor(COLOR_BTNHIGHLIGHT));
    TextOutA(di->hDC, 1, 1, text, len);
    SetTextColor(di->hDC, GetSysColor((di->itemState & ODS_SELECTED) ? COLOR_3DDKSHADOW : COLOR_HIGHLIGHT));
    TextOutA(di->hDC, 0, 0, text, len);
    SIZE size;
    if (GetTextExtentPoint32A(di->hDC, text, len, &size))
        SetWindowPos(di->hwndItem, NULL, 0, 0, size.cx + 1, size.cy + 1, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SelectObject(di->hDC, old);
    (void)dlg;
}

// Link buttons show the hand cursor; the previous procedure sits in the user data.
LRESULT CALLBACK LinkLabelProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    WNDPROC previous = (WNDPROC)GetWindowLongPtrA(wnd, GWLP_USERDATA);
    if (msg == WM_SETCURSOR) {
        SetCursor(LoadCursor(NULL, IDC_HAND));
        return TRUE;
    }
    return CallWindowProcA(previous, wnd, msg, wp, lp);
}

void SubclassLink(HWND link)
{
    if (!link)
        return;
    LONG_PTR previous = SetWindowLongPtrA(link, GWLP_WNDPROC, (LONG_PTR)LinkLabelProc);
    SetWindowLongPtrA(link, GWLP_USERDATA, previous);
}

INT_PTR CALLBACK ConfigureProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp)
{
    DialogState* st = (DialogState*)GetWindowLongPtrA(dlg, DWLP_USER);
    switch (msg) {
    case WM_INITDIALOG: {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        st = (DialogState*)lp;
        SetWindowLongPtrA(dlg, DWLP_USER, (LONG_PTR)st);
        SetWindowTextA(dlg, ENC_DISPLAY_NAME);
        SendMessageA(dlg, WM_SETICON, ICON_BIG, (LPARAM)g_encoderModule.h.hIcon);
        SubclassLink(GetDlgItem(dlg, IDC_LINK_MAIL));
        SubclassLink(GetDlgItem(dlg, IDC_LINK_WEB));
        for (const char* p : kSuggestedPatterns)
            SendDlgItemMessageA(dlg, IDC_PATTERN, CB_ADDSTRING, 0, (LPARAM)p);
        SendMessageA(dlg, WM_REFRESH, 0, 0);
        return TRUE;
    }
    case WM_REFRESH:
        if (st)
            Refresh(dlg, st);
        return TRUE;
    case WM_DRAWITEM:
        if (st && (wp == IDC_LINK_MAIL || wp == IDC_LINK_WEB)) {
            DrawLink(dlg, st, (const DRAWITEMSTRUCT*)lp);
            return TRUE;
        }
        return FALSE;
    case WM_COMMAND: {
        int id = LOWORD(wp), code = HIWORD(wp);
        if (!st)
            return FALSE;
        char text[1024];
        switch (id) {
        case IDC_OUTPUT_PATH:
            if (code == EN_CHANGE) {
                GetDlgItemTextA(dlg, IDC_OUTPUT_PATH, text, sizeof(text));
                StoreText(st, 0, text);
            }
            return TRUE;
        case IDC_PATTERN:
            if (code == CBN_SELCHANGE) {
                int sel = (int)SendDlgItemMessageA(dlg, IDC_PATTERN, CB_GETCURSEL, 0, 0);
                int len = sel < 0 ? -1 : (int)SendDlgItemMessageA(dlg, IDC_PATTERN, CB_GETLBTEXTLEN, sel, 0);
                if (len < 0)
                    return TRUE;
                if (len + 1 > (int)sizeof(text)) {
                    ShowMessage(dlg, IDS_FORMAT_TOO_LONG, MB_ICONWARNING);
                    return TRUE;
                }
                SendDlgItemMessageA(dlg, IDC_PATTERN, CB_GETLBTEXT, sel, (LPARAM)text);
                StoreText(st, 1, text);
                ApplyPathRule(dlg, text);
            } else if (code == CBN_EDITCHANGE) {
                GetDlgItemTextA(dlg, IDC_PATTERN, text, sizeof(text));
                StoreText(st, 1, text);
                ApplyPathRule(dlg, text);
            }
            return TRUE;
        case IDC_PATTERN_HELP:
            ShowMessage(dlg, IDS_NAME_FORMAT_HELP, MB_ICONINFORMATION);
            return TRUE;
        case IDC_BROWSE:
            Browse(dlg, st);
            return TRUE;
        case IDC_PRESETS:
            PylConfigDialog(&g_encoderModule, st->instance, dlg, st->section);
            SendMessageA(dlg, WM_REFRESH, 0, 0);
            return TRUE;
        case IDC_LINK_MAIL:
        case IDC_LINK_WEB:
            if (code == BN_CLICKED)
                OpenLink(id);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(dlg, 0);
            return TRUE;
        }
        return FALSE;
    }
    case WM_CLOSE:
        EndDialog(dlg, 0);
        return TRUE;
    case WM_DESTROY:
        if (st && st->linkFont) {
            DeleteObject(st->linkFont);
            st->linkFont = NULL;
        }
        return FALSE;
    }
    return FALSE;
}

}  // namespace

int __cdecl EncConfigure(HWND parent, const char* section, void* instance)
{
    DialogState st = {section, instance, NULL};
    INT_PTR r = DialogBoxParamA(g_encoderModule.h.hInstance, MAKEINTRESOURCEA(IDD_CONFIGURE), parent, ConfigureProc,
                                (LPARAM)&st);
    return r == -1 ? -1 : 0;
}

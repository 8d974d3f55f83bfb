// Options dialog, the "&Options" menu, link labels, and the "When done"
// actions with the system exit.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <stdio.h>
#include <initializer_list>
#include "engine.h"
#include "host_state.h"
#include "pages.h"
#include "resource.h"

static const char kHomePage[] = "http://www.pylsoft.example/";
static const char kDonatePage[] = "http://www.pylsoft.example/donate/";
static const char kSupportMail[] = "mailto:support@pylsoft.example?subject=PylSoft%20Batch%20Converter";

namespace {

// The Log File edit is taken whole when the user leaves it or closes the
// dialog, never keystroke by keystroke (the live log would follow every
// half-typed path).
void TakeLogFile(HWND dlg)
{
    char path[1024];
    GetDlgItemTextA(dlg, IDC_LOG_PATH, path, sizeof(path));
    ReadHostSetting(SetLogFile);
    if (lstrcmpA(path, HostText(SetLogFile)) != 0) {
        SetHostText(SetLogFile, path);
        StoreHostSetting(SetLogFile);
    }
}

void OpenWithShell(HWND owner, const char* target)
{
    g_seams.shellOpen(owner, "open", target, nullptr, nullptr, SW_SHOWNORMAL);
}

void DrawLinkLabel(const DRAWITEMSTRUCT* di)
{
    char text[256];
    LoadStringA(g_host.hInstance, di->CtlID, text, sizeof(text));
    HFONT font = CreateFontA(13, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "Tahoma");
    HGDIOBJ old = SelectObject(di->hDC, font);
    SetBkMode(di->hDC, TRANSPARENT);
    SIZE extent = {};
    GetTextExtentPoint32A(di->hDC, text, lstrlenA(text), &extent);
    SetTextColor(di->hDC, GetSysColor(COLOR_BTNHIGHLIGHT));
    TextOutA(di->hDC, 1, 1, text, lstrlenA(text));
    SetTextColor(di->hDC, GetSysColor((di->itemState & ODS_SELECTED) ? COLOR_3DDKSHADOW : COLOR_HIGHLIGHT));
    TextOutA(di->hDC, 0, 0, text, lstrlenA(text));
    SelectObject(di->hDC, old);
    DeleteObject(font);
    SetWindowPos(di->hwndItem, nullptr, 0, 0, extent.cx + 1, extent.cy + 1, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

LRESULT CALLBACK LinkLabelProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    WNDPROC previous = (WNDPROC)GetWindowLongPtrA(wnd, GWLP_USERDATA);
    if (msg == WM_SETCURSOR) {
        SetCursor(LoadCursor(nullptr, IDC_HAND));
        return 1;
    }
    return previous ? CallWindowProcA(previous, wnd, msg, wParam, lParam) : DefWindowProcA(wnd, msg, wParam, lParam);
}

INT_PTR CALLBACK OptionsDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG: {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        SendMessageA(dlg, WM_SETICON, ICON_BIG, (LPARAM)LoadIconA(g_host.hInstance, MAKEINTRESOURCEA(IDI_OPTIONS)));
        for (int id : {IDC_LINK_WEB, IDC_LINK_MAIL}) {
            HWND label = GetDlgItem(dlg, id);
            LONG_PTR previous = SetWindowLongPtrA(label, GWLP_WNDPROC, (LONG_PTR)LinkLabelProc);
            SetWindowLongPtrA(label, GWLP_USERDATA, previous);
        }
        for (int i : {SetModuleDirectory, SetLogFile, SetLogLevel, SetCheckUpdates})
            ReadHostSetting(i);
        SetDlgItemTextA(dlg, IDC_MODULE_PATH, HostText(SetModuleDirectory));
        SetDlgItemTextA(dlg, IDC_LOG_PATH, HostText(SetLogFile));
        HWND levels = GetDlgItem(dlg, IDC_LOG_LEVEL);
        const int values[4] = {1, 3, 7, 15};
        for (int i = 0; i < 4; i++) {
            int pos = (int)SendMessageA(levels, CB_ADDSTRING, 0, (LPARAM)LoadStr(IDS_LEVEL_DEBUG + i));
            SendMessageA(levels, CB_SETITEMDATA, pos, values[i]);
            if (values[i] == HostInt32(SetLogLevel))
                SendMessageA(levels, CB_SETCURSEL, pos, 0);
        }
        CheckDlgButton(dlg, IDC_CHECK_UPDATES, HostInt16(SetCheckUpdates) ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    }
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (di->CtlID == IDC_LINK_WEB || di->CtlID == IDC_LINK_MAIL) {
            DrawLinkLabel(di);
            return TRUE;
        }
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_MODULE_PATH:
            if (HIWORD(wParam) == EN_CHANGE) {
                char path[1024];
                GetDlgItemTextA(dlg, IDC_MODULE_PATH, path, sizeof(path));
                ReadHostSetting(SetModuleDirectory);
                SetHostText(SetModuleDirectory, path);
                StoreHostSetting(SetModuleDirectory);
            }
            return TRUE;
        case IDC_LOG_PATH:
            if (HIWORD(wParam) == EN_KILLFOCUS)
                TakeLogFile(dlg);
            return TRUE;
        case IDC_LOG_LEVEL:
            if (HIWORD(wParam) == CBN_SELCHANGE) {
                int sel = (int)SendDlgItemMessageA(dlg, IDC_LOG_LEVEL, CB_GETCURSEL, 0, 0);
                if (sel != CB_ERR) {
                    ReadHostSetting(SetLogLevel);
                    SetHostInt32(SetLogLevel, (int)SendDlgItemMessageA(dlg, IDC_LOG_LEVEL, CB_GETITEMDATA, sel, 0));
                    StoreHostSetting(SetLogLevel);
                }
            }
            return TRUE;
        case IDC_CHECK_UPDATES:
            ReadHostSetting(SetCheckUpdates);
            SetHostInt16(SetCheckUpdates, IsDlgButtonChecked(dlg, IDC_CHECK_UPDATES) == BST_CHECKED ? 1 : 0);
            StoreHostSetting(SetCheckUpdates);
            return TRUE;
        case IDC_MODULE_BROWSE: {
            char folder[MAX_PATH] = {};
            if (g_seams.browseForFolder(dlg, nullptr, folder)) {
                ReadHostSetting(SetModuleDirectory);
                SetHostText(SetModuleDirectory, folder);
                StoreHostSetting(SetModuleDirectory);
                SetDlgItemTextA(dlg, IDC_MODULE_PATH, folder);
            }
            return TRUE;
        }
        case IDC_LOG_BROWSE: {
            char filter[128];
            lstrcpynA(filter, LoadStr(IDS_LOG_FILTER), sizeof(filter));
            for (char* p = filter; *p; p++)
                if (*p == '\t')
                    *p = 0;
            char file[1024];
            lstrcpynA(file, HostText(SetLogFile), sizeof(file));
            OPENFILENAMEA ofn = {};
            ofn.lStructSize = sizeof(ofn);
            ofn.hwndOwner = dlg;
            ofn.lpstrFilter = filter;
            ofn.lpstrFile = file;
            ofn.nMaxFile = sizeof(file);
            ofn.Flags = OFN_HIDEREADONLY | OFN_NOREADONLYRETURN | OFN_NONETWORKBUTTON | OFN_EXPLORER | OFN_ENABLESIZING;
            if (g_seams.getSaveFileName(&ofn)) {
                ReadHostSetting(SetLogFile);
                SetHostText(SetLogFile, file);
                StoreHostSetting(SetLogFile);
                SetDlgItemTextA(dlg, IDC_LOG_PATH, file);
            }
            return TRUE;
        }
        case IDC_LINK_WEB:
            OpenWithShell(dlg, kHomePage);
            return TRUE;
        case IDC_LINK_MAIL:
            OpenWithShell(dlg, kSupportMail);
            return TRUE;
        case IDCANCEL:
            TakeLogFile(dlg);
            EndDialog(dlg, 0);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        TakeLogFile(dlg);
        EndDialog(dlg, 0);
        return TRUE;
    }
    return FALSE;
}

int ShowOptionsDialog(HWND parent)
{
    DialogBoxParamA(g_host.hInstance, MAKEINTRESOURCEA(IDD_OPTIONS), parent, OptionsDialogProc, 0);
    return 0;
}

void ShowOptionsMenu(HWND main)
{
    HMENU menu = LoadMenuA(g_host.hInstance, MAKEINTRESOURCEA(IDM_OPTIONS));
    if (!menu)
        return;
    RECT r;
    GetWindowRect(GetDlgItem(main, IDC_OPTIONS), &r);
    TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_TOPALIGN, r.left, r.bottom, 0, main, nullptr);
    DestroyMenu(menu);
}

bool OptionsMenuCommand(HWND main, int id)
{
    switch (id) {
    case IDM_PREFERENCES:
        ShowOptionsDialog(main);
        return true;
    case IDM_ABOUT:
        g_seams.messageBox(main, g_hostModule.h.AboutText, g_hostModule.h.DisplayName, MB_ICONINFORMATION);
        return true;
    case IDM_DONATE:
        OpenWithShell(main, kDonatePage);
        return true;
    case IDM_HOMEPAGE:
        OpenWithShell(main, kHomePage);
        return true;
    case IDM_SUPPORT:
        OpenWithShell(main, kSupportMail);
        return true;
    }
    return false;
}

int ExitSystem(int flags)
{
    OSVERSIONINFOA vi = {sizeof(vi)};
    GetVersionExA(&vi);
    if (vi.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        HANDLE token;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
            TOKEN_PRIVILEGES tp = {};
            if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &tp.Privileges[0].Luid)) {
                tp.PrivilegeCount = 1;
                tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
                AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
            }
            CloseHandle(token);
        }
    }
    if (!g_seams.exitWindows((UINT)flags, 0) && GetLastError() == 1271)
        g_seams.exitWindows((UINT)(flags | EWX_FORCE), 0);
    return 1;
}

void RunFailureText(const EngineRunSummary& summary, char* buf, int size)
{
    if (!buf || size <= 0)
        return;
    buf[0] = 0;
    int used = 0;
    auto add = [&](const char* text) {
        if (used < size - 1) {
            lstrcpynA(buf + used, text, size - used);
            used += lstrlenA(buf + used);
        }
    };
    char line[EnginePathChars + 256];
    if (summary.recording != EngineRunSummary::RecordingNone) {
        add(LoadStr(summary.recording == EngineRunSummary::RecordingNotStarted ? IDS_RECORDING_NOT_STARTED
                                                                                : IDS_RECORDING_FAILED));
    }
    if (summary.failed > 0) {
        if (used)
            add("\n");
        snprintf(line, sizeof(line), LoadStr(IDS_FILES_FAILED), summary.failed, summary.files);
        add(line);
        add("\n");
        int named = summary.failed < EngineRunSummary::MaxNames ? summary.failed : (int)EngineRunSummary::MaxNames;
        for (int i = 0; i < named; i++) {
            add("\n");
            add(summary.failedNames[i]);
        }
        if (summary.failed > named) {
            snprintf(line, sizeof(line), LoadStr(IDS_FILES_FAILED_MORE), summary.failed - named);
            add("\n");
            add(line);
        }
    }
    const char* log = HostLogFile();
    if (log && log[0]) {
        snprintf(line, sizeof(line), LoadStr(IDS_SEE_LOG_FILE), log);
        add("\n\n");
        add(line);
    }
}

void PerformWhenDone(const EngineRunSummary* summary)
{
    HWND list = GetDlgItem(g_host.pages[PageProcessing], IDC_WHEN_DONE);
    int sel = (int)SendMessageA(list, CB_GETCURSEL, 0, 0);
    int action = sel == CB_ERR ? -1 : (int)SendMessageA(list, CB_GETITEMDATA, sel, 0);
    bool failed = summary && EngineRunFailed(*summary);
    // Told while the program is still there to tell it (log off, restart and
    // power off are unattended: the failures stay in the log).
    auto tellFailures = [&] {
        char text[(int)EngineRunSummary::MaxNames * (int)EnginePathChars + 2048];
        RunFailureText(*summary, text, sizeof(text));
        g_seams.messageBox(g_host.mainDialog, text, g_hostModule.h.DisplayName, MB_ICONWARNING);
    };
    switch (action) {
    case IDS_ENCODE_MORE:
        ResetPages();
        FlashWindow(g_host.mainDialog, TRUE);
        if (failed)
            tellFailures();
        else
            g_seams.messageBox(g_host.mainDialog, LoadStr(IDS_BATCH_COMPLETE), g_hostModule.h.DisplayName,
                               MB_ICONINFORMATION);
        break;
    case IDS_END_PROGRAM:
        if (failed)
            tellFailures();
        PostMessageA(g_host.mainDialog, WM_CLOSE, 0, 0);
        break;
    case IDS_LOGOFF:
        ExitSystem(EWX_LOGOFF);
        break;
    case IDS_RESTART:
        ExitSystem(EWX_REBOOT);
        break;
    case IDS_SHUTDOWN:
        ExitSystem(EWX_POWEROFF);
        break;
    }
}

// The main wizard dialog: start-up (splash, settings, update check, modules,
// pages), Previous / Next navigation, Encode and the close request; and
// HostMain, the body of the program's entry point.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>
#include <stdio.h>
#include "host_state.h"
#include "module_loader.h"
#include "pages.h"
#include "pyl_config.h"
#include "resource.h"
#include "pyl_pum.h"
#include "pyl_splash.h"

int __cdecl HostLoaderText(unsigned id, char* buf, int size); // engine_binding.cpp
void ShowOptionsMenu(HWND main);           // options.cpp
bool OptionsMenuCommand(HWND main, int id); // options.cpp

namespace {

SplashInfo s_splash;
SplashText s_splashTexts[2];
CPUM* s_pum;

void SetStatus(const char* text)
{
    s_splashTexts[0].text = const_cast<char*>(text);
    if (g_seams.startupStatus)
        g_seams.startupStatus(text);
}

void ShowSplash(HWND dlg)
{
    memset(&s_splash, 0, sizeof(s_splash));
    memset(s_splashTexts, 0, sizeof(s_splashTexts));
    s_splash.hBitmap = (HBITMAP)LoadImageA(g_host.hInstance, MAKEINTRESOURCEA(IDB_SPLASH), IMAGE_BITMAP, 0, 0,
                                           LR_CREATEDIBSECTION);
    s_splash.colorKey = 0xFF00FF;
    s_splash.fadeMs = 900;
    s_splash.holdMs = 1000;
    s_splash.textCount = 2;
    s_splash.texts = s_splashTexts;
    s_splashTexts[0].rect = {10, 100, 290, 113};
    s_splashTexts[0].format = 0;
    s_splashTexts[0].text = const_cast<char*>("Initializing...");
    s_splashTexts[1].rect = {250, 100, 390, 113};
    s_splashTexts[1].format = 2;
    s_splashTexts[1].text = g_host.versionText;
    s_splash.hWndOwner = dlg;
    s_splash.hInstance = g_host.hInstance;
    PylSplash_Show(&s_splash);
}

HWND SplashWindow(HWND fallback)
{
    if (s_splash.hWndSplash)
        return s_splash.hWndSplash;
    return fallback;
}

void CheckForUpdates(HWND dlg)
{
    SettingRecord rec;
    if (g_hostModule.h.GetSetting(&rec, SetCheckUpdates, nullptr, nullptr) < 0 ||
        SettingLoad<int16_t>(rec.currentValue) != 1)
        return;
    SetStatus("Checking for program updates...");
    if (!s_pum)
        s_pum = new CPUM(HostLogFile(), reinterpret_cast<long*>(HostLogLevel()));
    long answer = s_pum->CheckVersion(g_hostModule.h);
    if (answer == 0) {
        SetStatus("The program is up to date!");
        Sleep(100);
    } else if (answer == 1) {
        // The address comes from the network: only a web address reaches the shell.
        if (g_seams.messageBox(SplashWindow(dlg), LoadStr(IDS_UPDATE_AVAILABLE), g_hostModule.h.DisplayName,
                               MB_ICONINFORMATION | MB_YESNO) == IDYES)
            PumOpenDownloadURL(dlg, s_pum->GetDownloadURL(), g_seams.shellOpen);
    } else if (answer == 2) {
        SetStatus("Starting automatic update...");
        s_pum->AutomaticUpdate(g_hostModule.h);
    }
}

void LoadAllModules()
{
    struct { const char* status; int kind; IVqProModule** table; } kinds[] = {
        {"Loading Input modules...", KindInput, g_host.inputModules},
        {"Loading Encoder modules...", KindEncoder, g_host.encoderModules},
        {"Loading Capture modules...", KindCapture, g_host.captureModules},
        {"Loading DSP modules...", KindDsp, g_host.dspModules},
    };
    for (auto& k : kinds) {
        SetStatus(k.status);
        g_seams.loadModules(HostText(SetModuleDirectory), k.kind, k.table, HostLogFile(), HostLogLevel());
    }
}

void CreatePages(HWND dlg)
{
    struct { int page; int id; DLGPROC proc; } order[] = {
        {PageProcessing, IDD_PROCESSING_PAGE, ProcessingPageProc},
        {PageEncoder, IDD_ENCODER_PAGE, EncoderPageProc},
        {PageDsp, IDD_DSP_PAGE, DspPageProc},
        {PageFiles, IDD_FILES_PAGE, FilesPageProc},
        {PageSource, IDD_SOURCE_PAGE, SourcePageProc},
    };
    for (auto& p : order) {
        HWND page = CreateDialogParamA(g_host.hInstance, MAKEINTRESOURCEA(p.id), dlg, p.proc, 0);
        g_host.pages[p.page] = page;
    }
    g_host.currentPage = PageSource;
    ShowWindow(g_host.pages[PageSource], SW_SHOW);
}

void ShowPage(int page)
{
    g_host.currentPage = page;
    for (int i = 0; i < PageCount; i++)
        ShowWindow(g_host.pages[i], i == page ? SW_SHOW : SW_HIDE);
}

void OnNext(HWND dlg)
{
    HWND prev = GetDlgItem(dlg, IDC_PREVIOUS), next = GetDlgItem(dlg, IDC_NEXT);
    switch (g_host.currentPage) {
    case PageSource:
        ShowPage(g_host.sourceIsFiles.load() ? PageFiles : PageDsp);
        SetWindowTextA(next, LoadStr(IDS_NEXT));
        break;
    case PageFiles:
    case PageDsp:
        ShowPage(g_host.currentPage + 1);
        SetWindowTextA(next, LoadStr(IDS_NEXT));
        break;
    case PageEncoder:
        ShowPage(PageProcessing);
        SetWindowTextA(next, LoadStr(IDS_ENCODE));
        break;
    case PageProcessing: {
        EnableWindow(prev, FALSE);
        EnableWindow(next, FALSE);
        g_host.stopFlag = 0;
        HWND source = GetDlgItem(g_host.pages[PageSource], IDC_SOURCE_LIST);
        int sel = (int)SendMessageA(source, CB_GETCURSEL, 0, 0);
        int data = sel == CB_ERR ? -1 : (int)SendMessageA(source, CB_GETITEMDATA, sel, 0);
        HANDLE worker = StartEngineWorker(data < 0);
        if (worker)
            RegisterHostThread(worker, false);
        return;
    }
    }
    EnableWindow(prev, TRUE);
}

void OnPrevious(HWND dlg)
{
    HWND prev = GetDlgItem(dlg, IDC_PREVIOUS), next = GetDlgItem(dlg, IDC_NEXT);
    int page = g_host.currentPage;
    if (page == PageFiles || (page == PageDsp && !g_host.sourceIsFiles.load())) {
        ShowPage(PageSource);
        EnableWindow(prev, FALSE);
    } else if (page > PageSource) {
        ShowPage(page - 1);
        EnableWindow(prev, TRUE);
    }
    SetWindowTextA(next, LoadStr(IDS_NEXT));
    EnableWindow(next, TRUE);
}

void OnCloseRequest(HWND dlg)
{
    g_host.stopFlag = 1;
    if (g_host.pages[PageDsp])
        BuildDspChain(g_host.pages[PageDsp]);
    PylConfigWrite(g_host.settings, HostSettingCount, nullptr, g_host.hInstance);
    g_host.ready = 0;
    EndDialog(dlg, 0);
}

} // namespace

void ShowProgramTitle()
{
    char title[256];
    snprintf(title, sizeof(title), "%s %s", g_hostModule.h.DisplayName, g_host.versionText);
    SetWindowTextA(g_host.mainDialog, title);
}

INT_PTR CALLBACK MainDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG: {
        g_host.mainDialog = dlg;
        g_host.mainBrush = CreatePageBrush(dlg);
        ShowSplash(dlg);
        ShowProgramTitle();
        SendMessageA(dlg, WM_SETICON, ICON_BIG, (LPARAM)g_hostModule.h.hIcon);
        SetStatus("Loading configuration...");
        PylConfigRead(g_host.settings, HostSettingCount, nullptr, g_host.hInstance);
        CheckForUpdates(dlg);
        LoadAllModules();
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS};
        InitCommonControlsEx(&icc);
        CreatePages(dlg);
        EnableWindow(GetDlgItem(dlg, IDC_PREVIOUS), FALSE);
        SetStatus("Initialization complete :)");
        PylSplash_Hide(&s_splash);
        g_host.ready = 1;
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: {
        INT_PTR result;
        if (msg == WM_CTLCOLORDLG) {
            SetBkMode((HDC)wParam, TRANSPARENT);
            return (INT_PTR)g_host.mainBrush;
        }
        if (PageColorMessage(dlg, g_host.mainBrush, msg, wParam, lParam, &result))
            return result;
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_NEXT:
            OnNext(dlg);
            return TRUE;
        case IDC_PREVIOUS:
            OnPrevious(dlg);
            return TRUE;
        case IDCANCEL:
            PostMessageA(dlg, WM_CLOSE, 0, 0);
            return TRUE;
        case IDC_OPTIONS:
            ShowOptionsMenu(dlg);
            return TRUE;
        default:
            if (OptionsMenuCommand(dlg, LOWORD(wParam)))
                return TRUE;
        }
        break;
    case WM_CLOSE:
        OnCloseRequest(dlg);
        return TRUE;
    case WM_DESTROY:
        DeletePageBrush(&g_host.mainBrush);
        break;
    }
    return FALSE;
}

int HostMain(HINSTANCE instance)
{
    BuildHostSettings(instance);
    SetLoaderStringSource(HostLoaderText);
    g_host.sourceIsFiles = 1;
    g_host.stopFlag = 0;
    g_host.pauseFlag = 0;
    g_host.fileCount = 0;
    g_host.currentPage = 0;
    HRESULT ole = OleInitialize(nullptr);
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    g_host.mainDialog = nullptr;
    for (auto& p : g_host.pages)
        p = nullptr;
    int terminated = WaitForHostThreads(30000);
    // A thread that had to be ended may have stopped inside a module: leave
    // the modules it can use loaded (the process is ending anyway).
    bool inputsBusy = terminated != 0, othersBusy = (terminated & 2) != 0;
    if (!inputsBusy)
        g_seams.unloadModules(g_host.inputModules);
    if (!othersBusy) {
        g_seams.unloadModules(g_host.encoderModules);
        g_seams.unloadModules(g_host.captureModules);
        g_seams.unloadModules(g_host.dspModules);
    }
    delete s_pum;
    s_pum = nullptr;
    if (SUCCEEDED(ole))
        OleUninitialize();
    return 0;
}

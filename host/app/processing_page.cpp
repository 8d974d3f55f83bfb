// Processing page: progress bars and texts written by the engines, the worker
// priority, the "When done" action and Pause / Continue.
#include <windows.h>
#include <commctrl.h>
#include <initializer_list>
#include "host_state.h"
#include "pages.h"
#include "resource.h"

namespace {
HBRUSH s_brush;

void AddChoice(HWND combo, const char* text, int data)
{
    int pos = (int)SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)text);
    SendMessageA(combo, CB_SETITEMDATA, pos, data);
}
}

INT_PTR CALLBACK ProcessingPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result;
    if (PageFrameMessage(page, &s_brush, msg, wParam, lParam, &result))
        return result;
    switch (msg) {
    case WM_INITDIALOG: {
        HWND priority = GetDlgItem(page, IDC_PRIORITY);
        const int priorities[7] = {THREAD_PRIORITY_IDLE, THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL,
                                   THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                   THREAD_PRIORITY_TIME_CRITICAL};
        for (int i = 0; i < 7; i++)
            AddChoice(priority, LoadStr(IDS_PRIORITY_FIRST + i), priorities[i]);
        SendMessageA(priority, CB_SETCURSEL, 3, 0);
        HWND done = GetDlgItem(page, IDC_WHEN_DONE);
        for (int i = 0; i < 5; i++)
            AddChoice(done, LoadStr(IDS_WHEN_DONE_FIRST + i), IDS_WHEN_DONE_FIRST + i);
        SendMessageA(done, CB_SETCURSEL, 1, 0);
        EnableWindow(GetDlgItem(page, IDC_PAUSE), FALSE);
        for (int id : {IDC_GENERAL_BAR, IDC_TRACK_BAR, IDC_LEVEL_BAR})
            SendDlgItemMessageA(page, id, PBM_SETRANGE32, 0, 100);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PRIORITY:
            if (HIWORD(wParam) == CBN_SELCHANGE) {
                HWND combo = (HWND)lParam;
                int sel = (int)SendMessageA(combo, CB_GETCURSEL, 0, 0);
                HANDLE worker = g_host.workerThread.load();
                if (sel != CB_ERR && worker)
                    SetThreadPriority(worker, (int)SendMessageA(combo, CB_GETITEMDATA, sel, 0));
            }
            return TRUE;
        case IDC_PAUSE:
            if (g_host.pauseFlag.load()) {
                g_host.pauseFlag = 0;
                SetDlgItemTextA(page, IDC_PAUSE, LoadStr(IDS_PAUSE));
            } else {
                g_host.pauseFlag = 1;
                SetDlgItemTextA(page, IDC_PAUSE, LoadStr(IDS_CONTINUE));
            }
            return TRUE;
        }
        break;
    }
    return FALSE;
}

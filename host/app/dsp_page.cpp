// DSP chain page and the "DSP Chain" text (module ids joined by ":").
#include <windows.h>
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <initializer_list>
#include "host_state.h"
#include "pages.h"
#include "pyl_config.h"
#include "resource.h"

namespace {

const size_t kMaxToken = 15;
HBRUSH s_brush;

// Reads a token the way atol does (blanks, sign, leading digits; no digits is 0),
// but refuses a value outside the 32-bit range instead of wrapping it.
bool TokenValue(const char* token, size_t len, long* value)
{
    size_t i = 0;
    while (i < len && isspace((unsigned char)token[i]))
        i++;
    bool negative = false;
    if (i < len && (token[i] == '+' || token[i] == '-'))
        negative = token[i++] == '-';
    long long v = 0;
    for (; i < len && token[i] >= '0' && token[i] <= '9'; i++) {
        v = v * 10 + (token[i] - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (negative)
        v = -v;
    if (v < -2147483648LL || v > 2147483647LL)
        return false;
    *value = (long)v;
    return true;
}

int SelectedRowData(HWND list, int* row)
{
    int sel = (int)SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (row)
        *row = sel;
    if (sel == LB_ERR)
        return -1;
    return (int)SendMessageA(list, LB_GETITEMDATA, sel, 0);
}

void InsertChainRow(HWND chain, int position, int slot)
{
    IVqProModule* m = g_host.dspModules[slot];
    int row = (int)SendMessageA(chain, LB_INSERTSTRING, position, (LPARAM)(m && m->h.DisplayName ? m->h.DisplayName : ""));
    if (row >= 0)
        SendMessageA(chain, LB_SETITEMDATA, row, slot);
}

void EnableRowButtons(HWND page, BOOL enable)
{
    for (int id : {IDC_DSP_ABOUT, IDC_DSP_CONFIGURE, IDC_DSP_UP, IDC_DSP_DOWN, IDC_DSP_REMOVE})
        EnableWindow(GetDlgItem(page, id), enable);
}

void ConfigureRow(HWND page)
{
    int row;
    int d = SelectedRowData(GetDlgItem(page, IDC_DSP_CHAIN), &row);
    if (d < 0 || d >= 32 || !g_host.dspModules[d])
        return;
    IVqProModule* m = g_host.dspModules[d];
    char section[256];
    snprintf(section, sizeof(section), VQ_DSP_SECTION_FORMAT, VQ_HOST_SECTION, row + 1);
    if (!m->h.Configure || m->h.Configure(g_host.mainDialog, section, nullptr) < 0)
        PylConfigDialog(m, nullptr, g_host.mainDialog, section);
}

} // namespace

int ParseDspChain(const char* text)
{
    for (int i = 0; i < 32; i++)
        g_host.dspChain[i] = -1;
    int count = 0;
    const char* p = text ? text : "";
    while (*p && count < 32) {
        const char* end = strchr(p, ':');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        long value;
        // An overlong token is dropped whole: it is never read as a shorter id.
        if (len <= kMaxToken && TokenValue(p, len, &value)) {
            for (int slot = 0; slot < 32; slot++) {
                if (g_host.dspModules[slot] && g_host.dspModules[slot]->h.Id == value) {
                    g_host.dspChain[count++] = slot;
                    break;
                }
            }
        }
        p += len;
        if (*p == ':')
            p++;
    }
    return 1;
}

int BuildDspChain(HWND dspPage)
{
    char text[1024] = "";
    for (int i = 0; i < 32; i++)
        g_host.dspChain[i] = -1;
    HWND chain = GetDlgItem(dspPage, IDC_DSP_CHAIN);
    int rows = (int)SendMessageA(chain, LB_GETCOUNT, 0, 0);
    size_t used = 0;
    for (int i = 0; i < 32 && i < rows; i++) {
        int slot = (int)SendMessageA(chain, LB_GETITEMDATA, i, 0);
        g_host.dspChain[i] = slot;
        int id = (slot >= 0 && slot < 32 && g_host.dspModules[slot]) ? g_host.dspModules[slot]->h.Id : slot;
        char part[16];
        snprintf(part, sizeof(part), i == 0 ? "%d" : ":%d", id);
        size_t pl = strlen(part);
        if (used + pl < sizeof(text)) {
            memcpy(text + used, part, pl + 1);
            used += pl;
        }
    }
    SetHostText(SetDspChain, text);
    return 1;
}

INT_PTR CALLBACK DspPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result;
    if (PageFrameMessage(page, &s_brush, msg, wParam, lParam, &result))
        return result;
    switch (msg) {
    case WM_INITDIALOG: {
        HWND modules = GetDlgItem(page, IDC_DSP_MODULES);
        for (int i = 0; i < 32; i++) {
            IVqProModule* m = g_host.dspModules[i];
            if (!m)
                continue;
            int pos = (int)SendMessageA(modules, CB_ADDSTRING, 0, (LPARAM)(m->h.DisplayName ? m->h.DisplayName : ""));
            SendMessageA(modules, CB_SETITEMDATA, pos, i);
        }
        if (SendMessageA(modules, CB_GETCOUNT, 0, 0) >= 2)
            SendMessageA(modules, CB_SETCURSEL, 1, 0);
        ParseDspChain(HostText(SetDspChain));
        HWND chain = GetDlgItem(page, IDC_DSP_CHAIN);
        for (int i = 0; i < 32 && g_host.dspChain[i] >= 0; i++)
            InsertChainRow(chain, -1, g_host.dspChain[i]);
        EnableRowButtons(page, FALSE);
        return TRUE;
    }
    case WM_COMMAND: {
        HWND chain = GetDlgItem(page, IDC_DSP_CHAIN);
        switch (LOWORD(wParam)) {
        case IDC_DSP_ADD: {
            HWND modules = GetDlgItem(page, IDC_DSP_MODULES);
            int sel = (int)SendMessageA(modules, CB_GETCURSEL, 0, 0);
            if (sel != CB_ERR) {
                int slot = (int)SendMessageA(modules, CB_GETITEMDATA, sel, 0);
                if (slot >= 0 && slot < 32 && g_host.dspModules[slot])
                    InsertChainRow(chain, -1, slot);
            }
            return TRUE;
        }
        case IDC_DSP_REMOVE: {
            int row;
            SelectedRowData(chain, &row);
            if (row != LB_ERR) {
                SendMessageA(chain, LB_DELETESTRING, row, 0);
                EnableRowButtons(page, FALSE);
            }
            return TRUE;
        }
        case IDC_DSP_REMOVE_ALL:
            SendMessageA(chain, LB_RESETCONTENT, 0, 0);
            EnableRowButtons(page, FALSE);
            return TRUE;
        case IDC_DSP_UP:
        case IDC_DSP_DOWN: {
            int row;
            int d = SelectedRowData(chain, &row);
            if (row == LB_ERR)
                return TRUE;
            int count = (int)SendMessageA(chain, LB_GETCOUNT, 0, 0);
            SendMessageA(chain, LB_DELETESTRING, row, 0);
            int to = LOWORD(wParam) == IDC_DSP_UP ? (row > 0 ? row - 1 : 0) : (row + 1 < count - 1 ? row + 1 : count - 1);
            if (to >= count - 1)
                to = -1;  // append: the list now holds count - 1 rows
            InsertChainRow(chain, to, d);
            SendMessageA(chain, LB_SETCURSEL, to < 0 ? count - 1 : to, 0);
            return TRUE;
        }
        case IDC_DSP_CONFIGURE:
            ConfigureRow(page);
            return TRUE;
        case IDC_DSP_CHAIN:
            if (HIWORD(wParam) == LBN_DBLCLK) {
                ConfigureRow(page);
            } else if (HIWORD(wParam) == LBN_SELCHANGE) {
                EnableRowButtons(page, SelectedRowData(chain, nullptr) >= 0);
            }
            return TRUE;
        case IDC_DSP_ABOUT: {
            int d = SelectedRowData(chain, nullptr);
            if (d >= 0 && d < 32 && g_host.dspModules[d]) {
                IVqProModule* m = g_host.dspModules[d];
                g_seams.messageBox(g_host.mainDialog, m->h.AboutText ? m->h.AboutText : "",
                                   m->h.DisplayName ? m->h.DisplayName : "", MB_ICONINFORMATION);
            }
            return TRUE;
        }
        }
        break;
    }
    }
    return FALSE;
}

// Encoder page: the encoder module and the run settings (delete originals,
// recording time limit, silence splitting).
#include <windows.h>
#include <commctrl.h>
#include <ctype.h>
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <initializer_list>
#include "host_state.h"
#include "pages.h"
#include "pyl_config.h"
#include "resource.h"

namespace {

HBRUSH s_brush;
// Set while the page writes its own edit texts, so the change notifications
// they raise do not store the rounded text back over the exact value.
bool s_writing;

void SetEditText(HWND page, int id, const char* text)
{
    s_writing = true;
    SetDlgItemTextA(page, id, text);
    s_writing = false;
}

void ShowTimeLimit(HWND page, int seconds)
{
    char text[32];
    FormatTimeLimit(seconds, text, sizeof(text));
    SetEditText(page, IDC_TIME_EDIT, text);
}

void ShowSeconds(HWND page, int id, double value)
{
    char text[32];
    snprintf(text, sizeof(text), "%0.1f", value);
    SetEditText(page, id, text);
}

double Limit(int index, int which) { return SettingLoad<double>(g_host.settings[index].limits, which); }

void EnableSilenceControls(HWND page, BOOL enable)
{
    for (int id : {IDC_SPLIT_LABEL, IDC_SPLIT_EDIT, IDC_SPLIT_SPIN, IDC_STOP_LABEL, IDC_STOP_EDIT, IDC_STOP_SPIN})
        EnableWindow(GetDlgItem(page, id), enable);
}

int SelectedEncoder(HWND page)
{
    HWND list = GetDlgItem(page, IDC_ENC_LIST);
    LRESULT sel = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (sel == CB_ERR)
        return -1;
    int d = (int)SendMessageA(list, CB_GETITEMDATA, sel, 0);
    return (d >= 0 && d < 32 && g_host.encoderModules[d]) ? d : -1;
}

// The leading decimal number of a text, read as atof reads it: blanks, a sign,
// digits with an optional point and exponent; no number gives 0. Words such as
// "inf" or "nan" and hexadecimal forms are no decimal number, whichever C
// runtime's atof the program is linked with (some read them), so a NaN never
// reaches the settings. An overflowing exponent gives an infinity, which the
// range check turns into the limit.
double ReadDecimal(const char* text)
{
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    if (*p == '+' || *p == '-')
        p++;
    if (!isdigit((unsigned char)*p) && !(*p == '.' && isdigit((unsigned char)p[1])))
        return 0.0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        return 0.0;
    return atof(text);
}

void SilenceEdited(HWND page, int editId, int spinId, int index)
{
    char text[32];
    GetDlgItemTextA(page, editId, text, sizeof(text));
    double v = ReadDecimal(text);
    double lo = Limit(index, 0), hi = Limit(index, 1);
    if (v < lo) {
        v = lo;
        SetHostDouble(index, v);
        ShowSeconds(page, editId, v);
    } else if (v > hi) {
        v = hi;
        SetHostDouble(index, v);
        ShowSeconds(page, editId, v);
    }
    SetHostDouble(index, v);
    SendDlgItemMessageA(page, spinId, UDM_SETPOS32, 0, (LPARAM)(int)(v * 10));
}

} // namespace

bool ParseTimeLimit(const char* text, int* seconds)
{
    long long part[3];
    int n = 0;
    const char* p = text;
    // "%d:%d:%d": each number may have blanks and a sign before it; ":" must follow directly.
    while (n < 3) {
        char* end;
        errno = 0;
        long long v = strtoll(p, &end, 10);
        if (end == p)
            break;
        if (errno == ERANGE || v > 2147483647LL || v < -2147483647LL - 1)
            return false;
        part[n++] = v;
        if (*end != ':')
            break;
        p = end + 1;
    }
    if (n == 0)
        return false;
    long long total = n == 1 ? part[0] : n == 2 ? part[0] * 60 + part[1] : part[0] * 3600 + part[1] * 60 + part[2];
    if (total > 2147483647LL || total < -2147483647LL - 1)
        return false;
    *seconds = (int)total;
    return true;
}

void FormatTimeLimit(int seconds, char* buf, int size)
{
    // Whole hours are not wrapped at 24: 86400 must read back as 86400, not 0.
    if (seconds < 0)
        seconds = 0;
    snprintf(buf, size, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

INT_PTR CALLBACK EncoderPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result;
    if (PageFrameMessage(page, &s_brush, msg, wParam, lParam, &result))
        return result;
    switch (msg) {
    case WM_INITDIALOG: {
        HWND list = GetDlgItem(page, IDC_ENC_LIST);
        int chosen = -1;
        for (int i = 0; i < 32; i++) {
            IVqProModule* m = g_host.encoderModules[i];
            if (!m)
                continue;
            int pos = (int)SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)(m->h.DisplayName ? m->h.DisplayName : ""));
            SendMessageA(list, CB_SETITEMDATA, pos, i);
            if (chosen < 0 && m->h.Id == HostInt32(SetEncoderModule))
                chosen = i;
        }
        if (chosen >= 0) {
            int n = (int)SendMessageA(list, CB_GETCOUNT, 0, 0);
            for (int k = 0; k < n; k++)
                if ((int)SendMessageA(list, CB_GETITEMDATA, k, 0) == chosen)
                    SendMessageA(list, CB_SETCURSEL, k, 0);
        }
        int lo = SettingLoad<int32_t>(g_host.settings[SetTimeLimit].limits, 0);
        int hi = SettingLoad<int32_t>(g_host.settings[SetTimeLimit].limits, 1);
        SendDlgItemMessageA(page, IDC_TIME_SPIN, UDM_SETRANGE32, lo, hi);
        SendDlgItemMessageA(page, IDC_TIME_SPIN, UDM_SETPOS32, 0, HostInt32(SetTimeLimit));
        ShowTimeLimit(page, HostInt32(SetTimeLimit));
        SendDlgItemMessageA(page, IDC_SPLIT_SPIN, UDM_SETRANGE32, (int)(Limit(SetSilenceLength, 0) * 10),
                            (int)(Limit(SetSilenceLength, 1) * 10));
        SendDlgItemMessageA(page, IDC_SPLIT_SPIN, UDM_SETPOS32, 0, (int)(HostDouble(SetSilenceLength) * 10));
        ShowSeconds(page, IDC_SPLIT_EDIT, HostDouble(SetSilenceLength));
        SendDlgItemMessageA(page, IDC_STOP_SPIN, UDM_SETRANGE32, (int)(Limit(SetMaximumSilence, 0) * 10),
                            (int)(Limit(SetMaximumSilence, 1) * 10));
        SendDlgItemMessageA(page, IDC_STOP_SPIN, UDM_SETPOS32, 0, (int)(HostDouble(SetMaximumSilence) * 10));
        ShowSeconds(page, IDC_STOP_EDIT, HostDouble(SetMaximumSilence));
        EnableWindow(GetDlgItem(page, IDC_ENC_ABOUT), chosen >= 0);
        EnableWindow(GetDlgItem(page, IDC_ENC_CONFIGURE), chosen >= 0);
        CheckDlgButton(page, IDC_DELETE_ORIGINALS, HostInt16(SetDeleteOriginals) ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(page, IDC_SILENCE_CHECK, HostInt16(SetSilenceDetection) ? BST_CHECKED : BST_UNCHECKED);
        EnableSilenceControls(page, HostInt16(SetSilenceDetection) != 0);
        return TRUE;
    }
    case WM_VSCROLL: {
        HWND spin = (HWND)lParam;
        if (!spin)
            break;
        int pos = (int)SendMessageA(spin, UDM_GETPOS32, 0, 0);
        switch (GetDlgCtrlID(spin)) {
        case IDC_TIME_SPIN:
            SetHostInt32(SetTimeLimit, pos);
            ShowTimeLimit(page, pos);
            break;
        case IDC_SPLIT_SPIN:
            SetHostDouble(SetSilenceLength, pos / 10.0);
            ShowSeconds(page, IDC_SPLIT_EDIT, pos / 10.0);
            break;
        case IDC_STOP_SPIN:
            SetHostDouble(SetMaximumSilence, pos / 10.0);
            ShowSeconds(page, IDC_STOP_EDIT, pos / 10.0);
            break;
        }
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_ENC_LIST:
            if (HIWORD(wParam) == CBN_SELCHANGE) {
                int d = SelectedEncoder(page);
                EnableWindow(GetDlgItem(page, IDC_ENC_ABOUT), d >= 0);
                EnableWindow(GetDlgItem(page, IDC_ENC_CONFIGURE), d >= 0);
                if (d >= 0)
                    SetHostInt32(SetEncoderModule, g_host.encoderModules[d]->h.Id);
            }
            return TRUE;
        case IDC_ENC_ABOUT: {
            int d = SelectedEncoder(page);
            if (d >= 0) {
                IVqProModule* m = g_host.encoderModules[d];
                g_seams.messageBox(g_host.mainDialog, m->h.AboutText ? m->h.AboutText : "",
                                   m->h.DisplayName ? m->h.DisplayName : "", MB_ICONINFORMATION);
            }
            return TRUE;
        }
        case IDC_ENC_CONFIGURE: {
            int d = SelectedEncoder(page);
            if (d >= 0) {
                IVqProModule* m = g_host.encoderModules[d];
                if (!m->h.Configure || m->h.Configure(g_host.mainDialog, VQ_HOST_SECTION, nullptr) < 0)
                    PylConfigDialog(m, nullptr, g_host.mainDialog, VQ_HOST_SECTION);
            }
            return TRUE;
        }
        case IDC_DELETE_ORIGINALS:
            SetHostInt16(SetDeleteOriginals, IsDlgButtonChecked(page, IDC_DELETE_ORIGINALS) == BST_CHECKED);
            return TRUE;
        case IDC_SILENCE_CHECK: {
            bool on = IsDlgButtonChecked(page, IDC_SILENCE_CHECK) == BST_CHECKED;
            SetHostInt16(SetSilenceDetection, on ? 1 : 0);
            EnableSilenceControls(page, on);
            return TRUE;
        }
        case IDC_TIME_EDIT:
            if (HIWORD(wParam) == EN_CHANGE && !s_writing) {
                char text[32];
                GetDlgItemTextA(page, IDC_TIME_EDIT, text, sizeof(text));
                int seconds;
                if (ParseTimeLimit(text, &seconds)) {
                    SetHostInt32(SetTimeLimit, seconds);
                    SendDlgItemMessageA(page, IDC_TIME_SPIN, UDM_SETPOS32, 0, seconds);
                }
            }
            return TRUE;
        case IDC_SPLIT_EDIT:
            if (HIWORD(wParam) == EN_CHANGE && !s_writing)
                SilenceEdited(page, IDC_SPLIT_EDIT, IDC_SPLIT_SPIN, SetSilenceLength);
            return TRUE;
        case IDC_STOP_EDIT:
            if (HIWORD(wParam) == EN_CHANGE && !s_writing)
                SilenceEdited(page, IDC_STOP_EDIT, IDC_STOP_SPIN, SetMaximumSilence);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// Generic settings dialog: the module's settings list, one editing page per
// setting and named presets kept as "PRESET:" sections of the module's INI file.
#include <windows.h>
#include <commctrl.h>

#include <initializer_list>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dialog_internal.h"
#include "pyl_comlib.h"
#include "pyl_config.h"
#include "pyl_vc.h"
#include "store_internal.h"

namespace pylcfg {

HINSTANCE g_module = nullptr;

namespace {

const char kPresetPrefix[] = "PRESET:";
const size_t kPresetPrefixLen = 7;
const DWORD kSectionNamesSize = 128 * 1024;
const size_t kPresetNameMax = 511;

// Section name of preset `name` (cut to 511 characters).
void PresetSection(const char* name, char out[kPresetNameMax + 1])
{
    snprintf(out, kPresetNameMax + 1, "%s%s", kPresetPrefix, name);
}

// The preset box's text without blanks and control characters at either end.
void PresetName(HWND dlg, char out[kPresetNameMax + 1])
{
    char raw[1024] = {};
    GetDlgItemTextA(dlg, IDC_PRESETS, raw, sizeof raw);
    out[0] = 0;
    char trimmed[1024] = {};
    if (StrTrim(trimmed, raw)) {
        size_t n = strnlen(trimmed, kPresetNameMax);
        memcpy(out, trimmed, n);
        out[n] = 0;
    }
}

void EnablePresetButtons(HWND dlg, BOOL add, BOOL set, BOOL del)
{
    EnableWindow(GetDlgItem(dlg, IDC_PRESET_ADD), add);
    EnableWindow(GetDlgItem(dlg, IDC_PRESET_SET), set);
    EnableWindow(GetDlgItem(dlg, IDC_PRESET_DEL), del);
}

void ModuleIniPath(PylConfigDialogContext* ctx, char out[1024]) { IniPathOf(ctx->module->h.hInstance, out); }

void FillPresetBox(HWND dlg, PylConfigDialogContext* ctx)
{
    char path[1024];
    ModuleIniPath(ctx, path);
    char* names = static_cast<char*>(malloc(kSectionNamesSize));
    if (!names) return;
    DWORD n = GetPrivateProfileSectionNamesA(names, kSectionNamesSize, path);
    if (n >= kSectionNamesSize) n = kSectionNamesSize - 1;
    names[n] = 0;
    for (const char* p = names; p < names + n && *p; p += strlen(p) + 1) {
        if (strncmp(p, kPresetPrefix, kPresetPrefixLen) == 0)
            SendDlgItemMessageA(dlg, IDC_PRESETS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(p + kPresetPrefixLen));
    }
    free(names);
}

void RefreshRow(HWND dlg, PylConfigDialogContext* ctx, int index)
{
    if (index < 0 || index >= PYLCFG_MAX_SETTINGS) return;
    SettingRecord rec;
    memset(&rec, 0, sizeof rec);
    if (GetSettingOf(ctx, &rec, index) < 0) return;
    char text[1100] = {};
    char unit[sizeof rec.unit + 1] = {};
    memcpy(unit, rec.unit, sizeof rec.unit);
    bool labelled = false;
    const SettingType type = static_cast<SettingType>(rec.type);
    if (type == SettingType::Text) {
        memcpy(text, rec.currentValue, sizeof rec.currentValue);
        text[sizeof rec.currentValue - 1] = 0;
        labelled = true;
    } else if (type == SettingType::Int16 || type == SettingType::Int32 || type == SettingType::Float ||
               type == SettingType::Double) {
        int n = ListCount(rec);
        for (int i = 0; i < n && !labelled; ++i) {
            if (ValueEqualsLimit(rec, rec.currentValue, i)) {
                LabelAt(rec, i, text, sizeof text);
                labelled = true;
            }
        }
        if (!labelled) {
            // No list, or a value that matches none of its entries: the number itself.
            if (type == SettingType::Int16 || type == SettingType::Int32)
                snprintf(text, sizeof text, "%d %s", (int)SettingAsDouble(rec.type, rec.currentValue), unit);
            else
                snprintf(text, sizeof text, "%0.2f %s", SettingAsDouble(rec.type, rec.currentValue), unit);
        }
    }
    LVITEMA item = {};
    item.iSubItem = 2;
    item.pszText = text;
    SendDlgItemMessageA(dlg, IDC_SETTINGS_LIST, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&item));
    if (SendDlgItemMessageA(dlg, IDC_PRESETS, CB_GETCURSEL, 0, 0) != CB_ERR)
        EnableWindow(GetDlgItem(dlg, IDC_PRESET_SET), TRUE);
}

void ShowSelectedPage(HWND dlg, PylConfigDialogContext* ctx)
{
    int sel = (int)SendDlgItemMessageA(dlg, IDC_SETTINGS_LIST, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
    if (sel < 0) return;
    for (HWND page : ctx->pages)
        if (page) ShowWindow(page, SW_HIDE);
    if (sel < PYLCFG_MAX_SETTINGS && ctx->pages[sel]) ShowWindow(ctx->pages[sel], SW_SHOW);
}

void LoadPreset(HWND dlg, PylConfigDialogContext* ctx, const char* name)
{
    char section[kPresetNameMax + 1];
    PresetSection(name, section);
    SettingRecord rec;
    for (int i = 0; i < PYLCFG_MAX_SETTINGS; ++i) {
        memset(&rec, 0, sizeof rec);
        if (!QuerySettingOf(ctx, &rec, i)) break;
        PylConfigRead(&rec, 1, section, ctx->module->h.hInstance);
        SetSettingOf(ctx, &rec, i);
        SendMessageA(dlg, PYLCFG_REFRESH, 0, i);
        if (ctx->pages[i]) SendMessageA(ctx->pages[i], PYLCFG_REFRESH, 0, i);
    }
    EnablePresetButtons(dlg, FALSE, FALSE, TRUE);
}

void LoadSelectedPreset(HWND dlg, PylConfigDialogContext* ctx)
{
    HWND box = GetDlgItem(dlg, IDC_PRESETS);
    int sel = (int)SendMessageA(box, CB_GETCURSEL, 0, 0);
    if (sel == CB_ERR) return;
    int len = (int)SendMessageA(box, CB_GETLBTEXTLEN, sel, 0);
    if (len < 0 || (size_t)len > kPresetNameMax) return;
    char name[kPresetNameMax + 1] = {};
    SendMessageA(box, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(name));
    LoadPreset(dlg, ctx, name);
}

void PresetTextChanged(HWND dlg, PylConfigDialogContext* ctx)
{
    HWND box = GetDlgItem(dlg, IDC_PRESETS);
    char name[kPresetNameMax + 1];
    PresetName(dlg, name);
    LRESULT match = name[0] ? SendMessageA(box, CB_FINDSTRINGEXACT, (WPARAM)-1, reinterpret_cast<LPARAM>(name))
                            : CB_ERR;
    if (match != CB_ERR) EnablePresetButtons(dlg, FALSE, FALSE, TRUE);
    else EnablePresetButtons(dlg, TRUE, FALSE, FALSE);
    char raw[1024] = {};
    GetWindowTextA(box, raw, sizeof raw);
    if (!raw[0]) return;
    LRESULT exact = SendMessageA(box, CB_FINDSTRINGEXACT, (WPARAM)-1, reinterpret_cast<LPARAM>(raw));
    if (exact != CB_ERR) {
        SendMessageA(box, CB_SETCURSEL, exact, 0);
        LoadSelectedPreset(dlg, ctx);
    }
}

void StorePreset(HWND dlg, PylConfigDialogContext* ctx, bool add)
{
    char name[kPresetNameMax + 1];
    PresetName(dlg, name);
    if (name[0]) {
        char section[kPresetNameMax + 1];
        PresetSection(name, section);
        SettingRecord rec;
        for (int i = 0; i < PYLCFG_MAX_SETTINGS; ++i) {
            memset(&rec, 0, sizeof rec);
            if (GetSettingOf(ctx, &rec, i) < 0) break;
            PylConfigWrite(&rec, 1, section, ctx->module->h.hInstance);
        }
        HWND box = GetDlgItem(dlg, IDC_PRESETS);
        if (add && SendMessageA(box, CB_FINDSTRINGEXACT, (WPARAM)-1, reinterpret_cast<LPARAM>(name)) == CB_ERR)
            SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    EnablePresetButtons(dlg, FALSE, FALSE, TRUE);
}

void DeletePreset(HWND dlg, PylConfigDialogContext* ctx)
{
    char name[kPresetNameMax + 1];
    PresetName(dlg, name);
    if (name[0]) {
        // Removing the one section in place leaves every other section and key as it was.
        char section[kPresetNameMax + 1], path[1024];
        PresetSection(name, section);
        ModuleIniPath(ctx, path);
        WritePrivateProfileStringA(section, nullptr, nullptr, path);
    }
    HWND box = GetDlgItem(dlg, IDC_PRESETS);
    LRESULT sel = SendMessageA(box, CB_GETCURSEL, 0, 0);
    if (sel != CB_ERR) {
        SendMessageA(box, CB_DELETESTRING, sel, 0);
        EnablePresetButtons(dlg, TRUE, FALSE, FALSE);
        SetWindowTextA(box, name);
    }
}

void InitDialog(HWND dlg, PylConfigDialogContext* ctx)
{
    SetWindowLongPtrA(dlg, DWLP_USER, reinterpret_cast<LONG_PTR>(ctx));
    IVqProModule* m = ctx->module;
    SetWindowTextA(dlg, m->h.DisplayName ? m->h.DisplayName : "");
    HICON icon = m->h.hIcon ? m->h.hIcon : LoadIconA(g_module, MAKEINTRESOURCEA(IDI_PYLCFG_MODULE));
    SendMessageA(dlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SendMessageA(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

    HWND list = GetDlgItem(dlg, IDC_SETTINGS_LIST);
    const int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
    HIMAGELIST images = ImageList_Create(cx, cy, ILC_COLOR32 | ILC_MASK, 2, 0);
    for (int id : {IDI_PYLCFG_MODULE, IDI_PYLCFG_SETTING}) {
        HICON ic = static_cast<HICON>(LoadImageA(g_module, MAKEINTRESOURCEA(id), IMAGE_ICON, cx, cy, 0));
        ImageList_AddIcon(images, ic);
        if (ic) DestroyIcon(ic);
    }
    // The list view owns the image list and releases it with itself.
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
                 LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    const struct {
        const char* title;
        int width;
    } columns[] = {{"Name", 165}, {"Description", 0}, {"Value", 199}};
    for (int c = 0; c < 3; ++c) {
        LVCOLUMNA col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = const_cast<char*>(columns[c].title);
        col.cx = columns[c].width;
        col.iSubItem = c;
        SendMessageA(list, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&col));
    }

    RECT area;
    GetWindowRect(GetDlgItem(dlg, IDC_PAGE_AREA), &area);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&area), 2);

    SettingRecord rec;
    for (int i = 0; i < PYLCFG_MAX_SETTINGS; ++i) {
        memset(&rec, 0, sizeof rec);
        if (!QuerySettingOf(ctx, &rec, i)) break;
        char name[sizeof rec.name + 1] = {};
        memcpy(name, rec.name, sizeof rec.name);
        char description[sizeof rec.description + 1] = {};
        memcpy(description, rec.description, sizeof rec.description);
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = i;
        item.pszText = name;
        item.iImage = rec.editor == static_cast<int32_t>(EditorKind::ModuleSelector) ? 0 : 1;
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        LVITEMA sub = {};
        sub.iSubItem = 1;
        sub.pszText = description;
        SendMessageA(list, LVM_SETITEMTEXTA, i, reinterpret_cast<LPARAM>(&sub));
        if (int tmpl = PageTemplateFor(rec.editor)) {
            HWND page = CreateDialogParamA(g_module, MAKEINTRESOURCEA(tmpl), dlg, PageProc, i);
            if (page) {
                SetWindowPos(page, nullptr, area.left, area.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
                ctx->pages[i] = page;
            }
        }
        SendMessageA(dlg, PYLCFG_REFRESH, 0, i);
    }

    FillPresetBox(dlg, ctx);
    EnablePresetButtons(dlg, FALSE, FALSE, FALSE);
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_INITDIALOG) {
        InitDialog(dlg, reinterpret_cast<PylConfigDialogContext*>(lParam));
        return TRUE;
    }
    PylConfigDialogContext* ctx = ContextOf(dlg);
    if (!ctx) return FALSE;
    switch (msg) {
    case PYLCFG_REFRESH:
        if (wParam == 0) RefreshRow(dlg, ctx, (int)lParam);
        return TRUE;
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (hdr->idFrom != IDC_SETTINGS_LIST) return FALSE;
        if (hdr->code == LVN_ITEMCHANGED) {
            auto* nm = reinterpret_cast<NMLISTVIEW*>(lParam);
            if ((nm->uChanged & LVIF_STATE) && (nm->uNewState & LVIS_SELECTED)) ShowSelectedPage(dlg, ctx);
        } else if (hdr->code == NM_SETFOCUS) {
            ShowSelectedPage(dlg, ctx);
        }
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PRESETS:
            if (HIWORD(wParam) == CBN_SELCHANGE) LoadSelectedPreset(dlg, ctx);
            else if (HIWORD(wParam) == CBN_EDITCHANGE) PresetTextChanged(dlg, ctx);
            return TRUE;
        case IDC_PRESET_ADD:
            StorePreset(dlg, ctx, true);
            return TRUE;
        case IDC_PRESET_SET:
            StorePreset(dlg, ctx, false);
            return TRUE;
        case IDC_PRESET_DEL:
            DeletePreset(dlg, ctx);
            return TRUE;
        case IDCANCEL:
            EndDialog(dlg, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dlg, 0);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

PylConfigDialogContext* ContextOf(HWND dialog)
{
    return reinterpret_cast<PylConfigDialogContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

bool QuerySettingOf(PylConfigDialogContext* ctx, SettingRecord* rec, int index)
{
    if (!ctx || !ctx->module || !ctx->module->h.QuerySetting) return false;
    return ctx->module->h.QuerySetting(rec, index, ctx->instance) != 0;
}

int GetSettingOf(PylConfigDialogContext* ctx, SettingRecord* rec, int index)
{
    if (!ctx || !ctx->module || !ctx->module->h.GetSetting) return -1;
    return ctx->module->h.GetSetting(rec, index, ctx->section, ctx->instance);
}

void SetSettingOf(PylConfigDialogContext* ctx, const SettingRecord* rec, int index)
{
    if (!ctx || !ctx->module || !ctx->module->h.SetSetting) return;
    ctx->module->h.SetSetting(rec, index, ctx->section, ctx->instance);
}

}  // namespace pylcfg

PYLCONFIG_API int __cdecl PylConfigDialog(IVqProModule* module, void* instance, HWND parent, const char* section)
{
    if (!module) return -1;
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS |
                                                ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    InitPylVC(pylcfg::g_module);  // a second registration fails harmlessly

    auto* ctx = static_cast<PylConfigDialogContext*>(calloc(1, sizeof(PylConfigDialogContext)));
    if (!ctx) return -1;
    ctx->section = section;
    ctx->module = module;
    ctx->instance = instance;
    INT_PTR r = DialogBoxParamA(pylcfg::g_module, MAKEINTRESOURCEA(IDD_SETTINGS), parent, pylcfg::DialogProc,
                                reinterpret_cast<LPARAM>(ctx));
    free(ctx);
    return r == -1 ? -1 : 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        pylcfg::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

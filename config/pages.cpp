// Editing pages of the settings dialog: edit box, check box, drop-down list,
// slider, spin box and module selector. A page stores a value only when the
// person changes it; showing a value never writes it back.
#include <windows.h>
#include <commctrl.h>

#include <float.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "dialog_internal.h"
#include "pyl_config.h"
#include "pyl_vc.h"
#include "store_internal.h"

namespace pylcfg {

namespace {

struct PageState {
    int index;
    int templateId;
    int loading;          // > 0 while the page fills its own controls
    double sliderShown;   // slider value last shown or stored by the page
};

PageState* StateOf(HWND page) { return reinterpret_cast<PageState*>(GetWindowLongPtrA(page, DWLP_USER)); }

PylConfigDialogContext* PageContext(HWND page) { return ContextOf(GetParent(page)); }

bool IsValueType(int32_t type) { return type >= 0 && type <= 4; }

// Copies list/limit value `index` into a value field in the record's width.
void CopyLimit(SettingRecord& rec, unsigned char* value, int index)
{
    int w = SettingValueWidth(rec.type);
    if (rec.type == static_cast<int32_t>(SettingType::Text)) {
        value[0] = rec.limits[index];
        value[1] = 0;
    } else if (w > 0 && (index + 1) * w <= (int)sizeof rec.limits) {
        memcpy(value, rec.limits + index * w, w);
    }
}

// Puts a whole number into a value field in the record's type.
void StoreWhole(SettingRecord& rec, int32_t v)
{
    switch (static_cast<SettingType>(rec.type)) {
    case SettingType::Text:
        rec.currentValue[0] = (unsigned char)v;
        rec.currentValue[1] = 0;
        break;
    case SettingType::Int16: SettingStore<int16_t>(rec.currentValue, (int16_t)(uint16_t)(uint32_t)v); break;
    case SettingType::Int32: SettingStore<int32_t>(rec.currentValue, v); break;
    case SettingType::Float: SettingStore<float>(rec.currentValue, (float)v); break;
    case SettingType::Double: SettingStore<double>(rec.currentValue, (double)v); break;
    default: break;
    }
}

// A double as a 32-bit whole number, truncated toward zero and kept in range.
int32_t TruncateToInt(double v)
{
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return (int32_t)v;
}

double ValueAsDouble(const SettingRecord& rec, const unsigned char* field)
{
    if (rec.type == static_cast<int32_t>(SettingType::Text)) return (signed char)field[0];
    return SettingAsDouble(rec.type, field);
}

void StoreRecord(HWND page, SettingRecord& rec)
{
    PageState* st = StateOf(page);
    PylConfigDialogContext* ctx = PageContext(page);
    SetSettingOf(ctx, &rec, st->index);
    SendMessageA(GetParent(page), PYLCFG_REFRESH, 0, st->index);
}

// The template of the page's setting, ready to take a new current value.
bool Template(HWND page, SettingRecord& rec)
{
    memset(&rec, 0, sizeof rec);
    PageState* st = StateOf(page);
    return QuerySettingOf(PageContext(page), &rec, st->index) && IsValueType(rec.type);
}

void FillList(HWND page, const SettingRecord& rec)
{
    PageState* st = StateOf(page);
    HWND box = GetDlgItem(page, IDC_PAGE_COMBO);
    ++st->loading;
    SendMessageA(box, CB_RESETCONTENT, 0, 0);
    int n = ListCount(rec);
    for (int i = 0; i < n; ++i) {
        char label[1025];
        LabelAt(rec, i, label, sizeof label);
        SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
    }
    SendMessageA(box, CB_SETCURSEL, (WPARAM)-1, 0);
    for (int i = 0; i < n; ++i)
        if (ValueEqualsLimit(rec, rec.currentValue, i)) SendMessageA(box, CB_SETCURSEL, i, 0);
    --st->loading;
}

void UpdateConfigureButton(HWND page, SettingRecord& rec)
{
    PylConfigDialogContext* ctx = PageContext(page);
    IVqProModule* sub = nullptr;
    char section[256] = {};
    if (ctx->module->h.GetSubModule) ctx->module->h.GetSubModule(&rec, &sub, section, ctx->instance);
    SendDlgItemMessageA(page, IDC_PAGE_TOOLS, TB_ENABLEBUTTON, IDT_CONFIGURE, MAKELONG(sub != nullptr, 0));
}

void SliderLabel(HWND page, const SettingRecord& rec, double v)
{
    char unit[sizeof rec.unit + 1] = {};
    memcpy(unit, rec.unit, sizeof rec.unit);
    char text[128];
    if (rec.type == static_cast<int32_t>(SettingType::Float) || rec.type == static_cast<int32_t>(SettingType::Double))
        snprintf(text, sizeof text, "%0.2f %s", v, unit);
    else
        snprintf(text, sizeof text, "%d %s", TruncateToInt(v), unit);
    SetDlgItemTextA(page, IDC_PAGE_UNIT, text);
}

void SetSpinRange(HWND page, const SettingRecord& rec)
{
    int32_t top, bottom;
    switch (static_cast<SettingType>(rec.type)) {
    case SettingType::Text: top = 127, bottom = -127; break;
    case SettingType::Int16: top = 32767, bottom = -32767; break;
    default: top = 2147483647, bottom = -2147483647; break;
    }
    auto limit = [&](int i) { return TruncateToInt(ValueAsDouble(rec, rec.limits + i * SettingValueWidth(rec.type))); };
    int32_t lo, hi;
    switch (rec.constraint) {
    case static_cast<int32_t>(ConstraintMode::Range): lo = limit(0), hi = limit(1); break;
    case static_cast<int32_t>(ConstraintMode::MinOnly): lo = limit(0), hi = top; break;
    case static_cast<int32_t>(ConstraintMode::MaxOnly): lo = bottom, hi = limit(0); break;
    default: return;  // fixed and list settings keep the control's range
    }
    SendDlgItemMessageA(page, IDC_PAGE_SPIN, UDM_SETRANGE32, lo, hi);
}

// Shows setting `index` on the page without storing anything.
void ShowSetting(HWND page, int index)
{
    PageState* st = StateOf(page);
    st->index = index;
    PylConfigDialogContext* ctx = PageContext(page);
    SettingRecord rec;
    memset(&rec, 0, sizeof rec);
    if (GetSettingOf(ctx, &rec, index) < 0) return;
    char name[sizeof rec.name + 1] = {};
    memcpy(name, rec.name, sizeof rec.name);
    char unit[sizeof rec.unit + 1] = {};
    memcpy(unit, rec.unit, sizeof rec.unit);
    const bool valueType = IsValueType(rec.type);
    ++st->loading;
    switch (st->templateId) {
    case IDD_PAGE_EDIT: {
        SetDlgItemTextA(page, IDC_PAGE_NAME, name);
        SetDlgItemTextA(page, IDC_PAGE_UNIT, unit);
        if (!valueType) break;
        char text[1024] = {};
        switch (static_cast<SettingType>(rec.type)) {
        case SettingType::Text:
            memcpy(text, rec.currentValue, sizeof text - 1);
            break;
        case SettingType::Float:
        case SettingType::Double:
            // Two decimals; only an edit by the person stores the value.
            snprintf(text, sizeof text, "%0.2f", SettingAsDouble(rec.type, rec.currentValue));
            break;
        default:
            snprintf(text, sizeof text, "%d", (int)SettingAsDouble(rec.type, rec.currentValue));
            break;
        }
        SetDlgItemTextA(page, IDC_PAGE_EDIT, text);
        break;
    }
    case IDD_PAGE_CHECK:
        SetDlgItemTextA(page, IDC_PAGE_CHECK, name);
        if (valueType)
            CheckDlgButton(page, IDC_PAGE_CHECK,
                           ValueEqualsLimit(rec, rec.currentValue, 1) ? BST_CHECKED : BST_UNCHECKED);
        break;
    case IDD_PAGE_LIST:
    case IDD_PAGE_MODULE:
        SetDlgItemTextA(page, IDC_PAGE_NAME, name);
        if (st->templateId == IDD_PAGE_LIST) SetDlgItemTextA(page, IDC_PAGE_UNIT, unit);
        if (valueType) FillList(page, rec);
        if (st->templateId == IDD_PAGE_MODULE) UpdateConfigureButton(page, rec);
        break;
    case IDD_PAGE_SLIDER: {
        SetDlgItemTextA(page, IDC_PAGE_NAME, name);
        if (!valueType) break;
        HWND slider = GetDlgItem(page, IDC_PAGE_SLIDER);
        const int w = SettingValueWidth(rec.type);
        double lo = ValueAsDouble(rec, rec.limits), hi = ValueAsDouble(rec, rec.limits + w);
        double step = rec.step, mark = ValueAsDouble(rec, rec.defaultValue);
        double value = ValueAsDouble(rec, rec.currentValue);
        SendMessageA(slider, VCM_SETMIN, 0, reinterpret_cast<LPARAM>(&lo));
        SendMessageA(slider, VCM_SETMAX, 0, reinterpret_cast<LPARAM>(&hi));
        SendMessageA(slider, VCM_SETSTEP, 0, reinterpret_cast<LPARAM>(&step));
        SendMessageA(slider, VCM_SETMARK, 0, reinterpret_cast<LPARAM>(&mark));
        SendMessageA(slider, VCM_SETVALUE, 0, reinterpret_cast<LPARAM>(&value));
        // The slider reports this setting of its value too; remember what it
        // holds now so that the report is not taken for a change.
        SendMessageA(slider, VCM_GETVALUE, 0, reinterpret_cast<LPARAM>(&st->sliderShown));
        SliderLabel(page, rec, value);
        break;
    }
    case IDD_PAGE_SPIN: {
        SetDlgItemTextA(page, IDC_PAGE_NAME, name);
        SetDlgItemTextA(page, IDC_PAGE_UNIT, unit);
        if (!valueType) break;
        SetSpinRange(page, rec);
        char text[32];
        snprintf(text, sizeof text, "%d", TruncateToInt(ValueAsDouble(rec, rec.currentValue)));
        SetDlgItemTextA(page, IDC_PAGE_EDIT, text);
        break;
    }
    }
    --st->loading;
}

void BuildToolbar(HWND page, bool withConfigure)
{
    RECT rc;
    GetWindowRect(GetDlgItem(page, IDC_PAGE_TOOLBAR), &rc);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rc), 2);
    const int side = (rc.bottom - rc.top) - 1;
    const int count = withConfigure ? 2 : 1;
    HWND tb = CreateWindowExA(WS_EX_TOOLWINDOW, TOOLBARCLASSNAMEA, nullptr,
                              WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NODIVIDER |
                                  CCS_NOPARENTALIGN | CCS_NORESIZE,
                              rc.left, rc.top, side * count + 2, side + 2, page,
                              reinterpret_cast<HMENU>(IDC_PAGE_TOOLS), g_module, nullptr);
    if (!tb) return;
    SendMessageA(tb, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(tb, TB_SETBITMAPSIZE, 0, MAKELONG(16, 16));
    HBITMAP bmp = static_cast<HBITMAP>(LoadImageA(g_module, MAKEINTRESOURCEA(IDB_PYLCFG_TOOLBAR), IMAGE_BITMAP, 0,
                                                  0, LR_SHARED | LR_LOADMAP3DCOLORS | LR_LOADTRANSPARENT));
    TBADDBITMAP add = {nullptr, reinterpret_cast<UINT_PTR>(bmp)};
    SendMessageA(tb, TB_ADDBITMAP, 2, reinterpret_cast<LPARAM>(&add));
    TBBUTTON buttons[2] = {};
    buttons[0].iBitmap = 0;
    buttons[0].idCommand = IDT_DEFAULT;
    buttons[0].fsState = TBSTATE_ENABLED;
    buttons[0].fsStyle = BTNS_BUTTON;
    buttons[1].iBitmap = 1;
    buttons[1].idCommand = IDT_CONFIGURE;
    buttons[1].fsState = TBSTATE_ENABLED;
    buttons[1].fsStyle = BTNS_BUTTON;
    SendMessageA(tb, TB_ADDBUTTONSA, count, reinterpret_cast<LPARAM>(buttons));
    SendMessageA(tb, TB_SETBUTTONSIZE, 0, MAKELONG(side, side));
}

// A person's change of the value on the page (or the "Default" button).
void Changed(HWND page, int control, int code)
{
    PageState* st = StateOf(page);
    SettingRecord rec;
    const bool isDefault = control == IDT_DEFAULT;
    if (!isDefault && st->loading) return;  // the page filling its own controls
    if (!Template(page, rec)) return;
    if (isDefault) memcpy(rec.currentValue, rec.defaultValue, sizeof rec.currentValue);

    switch (st->templateId) {
    case IDD_PAGE_EDIT:
        if (isDefault) {
            StoreRecord(page, rec);
            ShowSetting(page, st->index);
            return;
        }
        if (control != IDC_PAGE_EDIT || code != EN_CHANGE) return;
        switch (static_cast<SettingType>(rec.type)) {
        case SettingType::Text: {
            char text[1024] = {};
            GetDlgItemTextA(page, IDC_PAGE_EDIT, text, sizeof text);
            memcpy(rec.currentValue, text, sizeof text);
            break;
        }
        case SettingType::Int16:
        case SettingType::Int32: {
            BOOL ok = FALSE;
            int v = (int)GetDlgItemInt(page, IDC_PAGE_EDIT, &ok, TRUE);
            StoreWhole(rec, ok ? v : 0);
            break;
        }
        case SettingType::Float:
        case SettingType::Double: {
            char text[128] = {};
            GetDlgItemTextA(page, IDC_PAGE_EDIT, text, sizeof text);
            double v = ParseDouble(text);
            if (rec.type == static_cast<int32_t>(SettingType::Float)) SettingStore<float>(rec.currentValue, SaturateFloat(v));
            else SettingStore<double>(rec.currentValue, v);
            break;
        }
        default: return;
        }
        StoreRecord(page, rec);
        return;

    case IDD_PAGE_CHECK:
        if (!isDefault) {
            if (control != IDC_PAGE_CHECK || code != BN_CLICKED) return;
            CopyLimit(rec, rec.currentValue, IsDlgButtonChecked(page, IDC_PAGE_CHECK) == BST_CHECKED ? 1 : 0);
        }
        StoreRecord(page, rec);
        if (isDefault) ShowSetting(page, st->index);
        return;

    case IDD_PAGE_LIST:
    case IDD_PAGE_MODULE:
        if (!isDefault) {
            if (control != IDC_PAGE_COMBO || code != CBN_SELCHANGE) return;
            int sel = (int)SendDlgItemMessageA(page, IDC_PAGE_COMBO, CB_GETCURSEL, 0, 0);
            if (sel >= 0 && sel < ListCount(rec)) CopyLimit(rec, rec.currentValue, sel);
            else memcpy(rec.currentValue, rec.defaultValue, sizeof rec.currentValue);
        }
        StoreRecord(page, rec);
        if (isDefault) ShowSetting(page, st->index);
        else if (st->templateId == IDD_PAGE_MODULE) UpdateConfigureButton(page, rec);
        return;

    case IDD_PAGE_SLIDER: {
        HWND slider = GetDlgItem(page, IDC_PAGE_SLIDER);
        if (isDefault) {
            StoreRecord(page, rec);
            ShowSetting(page, st->index);
            return;
        }
        if (control != IDC_PAGE_SLIDER) return;
        double v = 0;
        SendMessageA(slider, VCM_GETVALUE, 0, reinterpret_cast<LPARAM>(&v));
        if (v == st->sliderShown) return;  // the slider reporting what the page set
        st->sliderShown = v;
        switch (static_cast<SettingType>(rec.type)) {
        case SettingType::Float: SettingStore<float>(rec.currentValue, SaturateFloat(v)); break;
        case SettingType::Double: SettingStore<double>(rec.currentValue, v); break;
        default: StoreWhole(rec, TruncateToInt(v)); break;
        }
        SliderLabel(page, rec, v);
        StoreRecord(page, rec);
        return;
    }

    case IDD_PAGE_SPIN: {
        if (isDefault) {
            StoreRecord(page, rec);
            ShowSetting(page, st->index);
            return;
        }
        if (control != IDC_PAGE_EDIT || code != EN_CHANGE) return;
        char text[256] = {};
        GetDlgItemTextA(page, IDC_PAGE_EDIT, text, sizeof text);
        if (!text[0]) return;
        StoreWhole(rec, ParseInt(text));
        StoreRecord(page, rec);
        return;
    }
    }
}

void Configure(HWND page)
{
    SettingRecord rec;
    if (!Template(page, rec)) return;
    PylConfigDialogContext* ctx = PageContext(page);
    IVqProModule* sub = nullptr;
    char section[256] = {};
    void* instance = nullptr;
    if (ctx->module->h.GetSubModule) instance = ctx->module->h.GetSubModule(&rec, &sub, section, ctx->instance);
    section[255] = 0;
    if (sub) PylConfigDialog(sub, instance, page, section);
    else MessageBoxA(page, "Module not found!", section, MB_OK | MB_ICONWARNING);
}

}  // namespace

int PageTemplateFor(int32_t editor)
{
    switch (static_cast<EditorKind>(editor)) {
    case EditorKind::Edit: return IDD_PAGE_EDIT;
    case EditorKind::CheckBox: return IDD_PAGE_CHECK;
    case EditorKind::DropList: return IDD_PAGE_LIST;
    case EditorKind::Slider: return IDD_PAGE_SLIDER;
    case EditorKind::Spin: return IDD_PAGE_SPIN;
    case EditorKind::ModuleSelector: return IDD_PAGE_MODULE;
    }
    return 0;
}

int ListCount(const SettingRecord& rec)
{
    if (rec.constraint <= 0) return 0;
    int cap = ListCapacity(rec.type);
    return rec.constraint < cap ? rec.constraint : cap;
}

void LabelAt(const SettingRecord& rec, int index, char* out, size_t size)
{
    const char* p = rec.labels;
    const char* end = rec.labels + strnlen(rec.labels, sizeof rec.labels);
    for (int i = 0; i < index && p < end; ++i) {
        const char* tab = static_cast<const char*>(memchr(p, '\t', end - p));
        p = tab ? tab + 1 : end;
    }
    const char* tab = static_cast<const char*>(memchr(p, '\t', end - p));
    size_t n = (tab ? tab : end) - p;
    if (n > size - 1) n = size - 1;
    memcpy(out, p, n);
    out[n] = 0;
}

bool ValueEqualsLimit(const SettingRecord& rec, const unsigned char* value, int index)
{
    if (index < 0 || index >= ListCapacity(rec.type)) return false;
    switch (static_cast<SettingType>(rec.type)) {
    case SettingType::Text: return value[0] == rec.limits[index];
    case SettingType::Int16: return SettingLoad<int16_t>(value) == SettingLoad<int16_t>(rec.limits, index);
    case SettingType::Int32: return SettingLoad<int32_t>(value) == SettingLoad<int32_t>(rec.limits, index);
    case SettingType::Float: return SettingLoad<float>(value) == SettingLoad<float>(rec.limits, index);
    case SettingType::Double: return SettingLoad<double>(value) == SettingLoad<double>(rec.limits, index);
    default: return false;
    }
}

INT_PTR CALLBACK PageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_INITDIALOG) {
        auto* st = static_cast<PageState*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PageState)));
        if (!st) return FALSE;
        SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(st));
        st->index = (int)lParam;
        st->loading = 1;  // set-up messages below must not store
        if (GetDlgItem(page, IDC_PAGE_EDIT) && GetDlgItem(page, IDC_PAGE_SPIN)) st->templateId = IDD_PAGE_SPIN;
        else if (GetDlgItem(page, IDC_PAGE_EDIT)) st->templateId = IDD_PAGE_EDIT;
        else if (GetDlgItem(page, IDC_PAGE_SLIDER)) st->templateId = IDD_PAGE_SLIDER;
        else if (GetDlgItem(page, IDC_PAGE_COMBO) && !GetDlgItem(page, IDC_PAGE_UNIT)) st->templateId = IDD_PAGE_MODULE;
        else if (GetDlgItem(page, IDC_PAGE_COMBO)) st->templateId = IDD_PAGE_LIST;
        else st->templateId = IDD_PAGE_CHECK;
        BuildToolbar(page, st->templateId == IDD_PAGE_MODULE);
        if (st->templateId == IDD_PAGE_SLIDER)
            SendDlgItemMessageA(page, IDC_PAGE_SLIDER, VCM_SETSTYLE, 1, VCS_HORIZONTAL);
        if (st->templateId == IDD_PAGE_SPIN)
            SendDlgItemMessageA(page, IDC_PAGE_SPIN, UDM_SETBUDDY,
                                reinterpret_cast<WPARAM>(GetDlgItem(page, IDC_PAGE_EDIT)), 0);
        st->loading = 0;
        ShowSetting(page, st->index);
        return FALSE;
    }
    PageState* st = StateOf(page);
    if (!st) return FALSE;
    switch (msg) {
    case PYLCFG_REFRESH:
        if (wParam == 0) ShowSetting(page, (int)lParam);
        return TRUE;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id == IDT_DEFAULT && reinterpret_cast<HWND>(lParam) == GetDlgItem(page, IDC_PAGE_TOOLS)) {
            Changed(page, IDT_DEFAULT, 0);
            return TRUE;
        }
        if (id == IDT_CONFIGURE && reinterpret_cast<HWND>(lParam) == GetDlgItem(page, IDC_PAGE_TOOLS)) {
            Configure(page);
            return TRUE;
        }
        Changed(page, id, HIWORD(wParam));
        return TRUE;
    }
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (hdr->code == UDN_DELTAPOS && hdr->idFrom == IDC_PAGE_SPIN) {
            // One click moves by the setting's step, truncated toward zero.
            SettingRecord rec;
            if (!Template(page, rec)) return FALSE;
            auto* ud = reinterpret_cast<NMUPDOWN*>(lParam);
            int32_t step = TruncateToInt(fabs(rec.step));
            if (step == 0) {
                SetWindowLongPtrA(page, DWLP_MSGRESULT, TRUE);  // no movement
                return TRUE;
            }
            ud->iDelta = ud->iDelta < 0 ? -step : step;
            return FALSE;
        }
        if (hdr->code == TTN_GETDISPINFOA) {
            auto* tt = reinterpret_cast<NMTTDISPINFOA*>(lParam);
            tt->hinst = g_module;
            tt->lpszText = MAKEINTRESOURCEA(tt->hdr.idFrom);
            return TRUE;
        }
        if (hdr->code == TTN_GETDISPINFOW) {
            auto* tt = reinterpret_cast<NMTTDISPINFOW*>(lParam);
            tt->hinst = g_module;
            tt->lpszText = MAKEINTRESOURCEW(tt->hdr.idFrom);
            return TRUE;
        }
        return FALSE;
    }
    case WM_DESTROY:
        SetWindowLongPtrA(page, DWLP_USER, 0);
        HeapFree(GetProcessHeap(), 0, st);
        return FALSE;
    }
    return FALSE;
}

}  // namespace pylcfg

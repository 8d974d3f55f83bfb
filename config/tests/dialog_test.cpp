// Settings dialog driven from a thread timer inside its own modal loop, on a
// test module whose settings live in an INI file beside a DLL in a temp folder.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <float.h>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "pyl_config.h"
#include "test_support.h"
#include "vq_module.h"

namespace {

const int kCount = 11;
SettingRecord g_tmpl[kCount];
int g_settingCount = kCount;
std::vector<int> g_setCalls;
IVqProModule g_mod;

int __cdecl QuerySetting(SettingRecord* out, int i, void*)
{
    if (i < 0 || i >= g_settingCount) return 0;
    *out = g_tmpl[i];
    return 1;
}
int __cdecl GetSetting(SettingRecord* out, int i, const char* section, void*)
{
    if (i < 0 || i >= g_settingCount) return -1;
    *out = g_tmpl[i];
    PylConfigRead(out, 1, section, g_mod.h.hInstance);
    return out->type;
}
int __cdecl SetSetting(const SettingRecord* in, int i, const char* section, void*)
{
    g_setCalls.push_back(i);
    SettingRecord r = *in;
    PylConfigWrite(&r, 1, section, g_mod.h.hInstance);
    return in->type;
}
void* __cdecl GetSubModule(SettingRecord*, IVqProModule** out, char section[256], void*)
{
    *out = nullptr;
    section[0] = 0;
    return nullptr;
}

SettingRecord Rec(const char* name, SettingType type, EditorKind editor, int32_t constraint, const char* unit = "")
{
    SettingRecord r;
    memset(&r, 0, sizeof r);
    strcpy(r.name, name);
    snprintf(r.description, sizeof r.description, "Help for %s", name);
    strcpy(r.unit, unit);
    r.type = static_cast<int32_t>(type);
    r.editor = static_cast<int32_t>(editor);
    r.constraint = constraint;
    return r;
}
template <typename T> SettingRecord With(SettingRecord r, T def, std::initializer_list<T> limits, double step = 1)
{
    SettingStore<T>(r.defaultValue, def);
    int i = 0;
    for (T v : limits) SettingStore<T>(r.limits, v, i++);
    r.step = step;
    return r;
}

void BuildModule()
{
    const int R = -3;
    g_tmpl[0] = With<double>(Rec("Time", SettingType::Double, EditorKind::Edit, R, "s"), 3.0, {0.0, 100.0});
    g_tmpl[1] = Rec("Title", SettingType::Text, EditorKind::Edit, 0);
    strcpy(reinterpret_cast<char*>(g_tmpl[1].defaultValue), "Untitled");
    g_tmpl[2] = With<int32_t>(Rec("Count", SettingType::Int32, EditorKind::Edit, R), 7, {0, 1000});
    g_tmpl[3] = With<int32_t>(Rec("Enabled", SettingType::Int32, EditorKind::CheckBox, R), 1, {0, 1});
    g_tmpl[4] = With<int32_t>(Rec("Mode", SettingType::Int32, EditorKind::DropList, 3), 2, {1, 2, 4});
    strcpy(g_tmpl[4].labels, "Low\tHigh\tMax");
    g_tmpl[5] = With<double>(Rec("Ratio", SettingType::Double, EditorKind::Slider, R, "x"), 0.5, {0.0, 1.0}, 0.1);
    g_tmpl[6] = With<int32_t>(Rec("Level", SettingType::Int32, EditorKind::Slider, R, "dB"), 50, {0, 100}, 1);
    g_tmpl[7] = With<int32_t>(Rec("Seconds", SettingType::Int32, EditorKind::Spin, R, "s"), 60, {5, 86400}, 10);
    g_tmpl[8] = With<double>(Rec("Factor", SettingType::Double, EditorKind::Spin, -1), 2.75, {0.0}, 0.5);
    g_tmpl[9] = With<int32_t>(Rec("Source", SettingType::Int32, EditorKind::ModuleSelector, 2), 0, {0, 1});
    strcpy(g_tmpl[9].labels, "None\tOther");
    g_tmpl[10] = With<int32_t>(Rec("Hidden", SettingType::Int32, static_cast<EditorKind>(2), R), 4, {0, 10});

    memset(&g_mod, 0, sizeof g_mod);
    g_mod.h.Kind = KindDsp;
    g_mod.h.InternalName = "test_module";
    g_mod.h.DisplayName = "Test Module";
    g_mod.h.GetSetting = GetSetting;
    g_mod.h.SetSetting = SetSetting;
    g_mod.h.QuerySetting = QuerySetting;
    g_mod.h.GetSubModule = GetSubModule;
}

const char kIni[] =
    "[Default]\r\nTime=1.234567\r\nTitle=Hello World\r\nCount=12\r\nEnabled=0\r\nMode=4\r\nRatio=0.350000\r\n"
    "Level=33\r\nSeconds=3\r\nFactor=2.750000\r\nSource=1\r\nHidden=9\r\n"
    "[PylSoftBatchConverter]\r\nTime=0.333333\r\nRatio=0.3\r\nLevel=12\r\n"
    "[PRESET:Loud]\r\nCount=500\r\nLevel=90\r\n"
    "[preset:quiet]\r\nCount=1\r\n"
    "[MyLoud]\r\nCount=2\r\n"
    "[PylSoftBatchConverter::DSP002]\r\nCount=3\r\n";

// ---- driving the modal dialog ----
std::function<void(HWND)> g_script;
int g_tries;

BOOL CALLBACK FindDialogProc(HWND hwnd, LPARAM out)
{
    char cls[32] = {}, title[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, title, sizeof title);
    if (strcmp(cls, "#32770") == 0 && strcmp(title, "Test Module") == 0 && IsWindowVisible(hwnd)) {
        *reinterpret_cast<HWND*>(out) = hwnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK ScriptTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    HWND dlg = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialogProc, reinterpret_cast<LPARAM>(&dlg));
    if (!dlg) {
        if (++g_tries < 200) SetTimer(nullptr, 0, 25, ScriptTimer);
        return;
    }
    if (g_script) g_script(dlg);
    PostMessageA(dlg, WM_CLOSE, 0, 0);
}

int RunDialog(const char* section, std::function<void(HWND)> script)
{
    g_script = std::move(script);
    g_tries = 0;
    SetTimer(nullptr, 0, 25, ScriptTimer);
    int r = PylConfigDialog(&g_mod, nullptr, nullptr, section);
    g_script = nullptr;
    return r;
}

void Pump(DWORD ms)
{
    DWORD end = GetTickCount() + ms;
    do {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        Sleep(1);
    } while ((LONG)(GetTickCount() - end) < 0);
}

HWND List(HWND dlg) { return GetDlgItem(dlg, 1001); }

std::string RowValue(HWND dlg, int row)
{
    char text[512] = {};
    LVITEMA item = {};
    item.iSubItem = 2;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(List(dlg), LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

HWND VisiblePage(HWND dlg)
{
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = {};
        GetClassNameA(c, cls, sizeof cls);
        if (strcmp(cls, "#32770") == 0 && IsWindowVisible(c)) return c;
    }
    return nullptr;
}

HWND SelectRow(HWND dlg, int row)
{
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(List(dlg), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    return VisiblePage(dlg);
}

std::string ItemText(HWND w, int id)
{
    char text[512] = {};
    GetDlgItemTextA(w, id, text, sizeof text);
    return text;
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        BuildModule();
        g_settingCount = kCount;
        g_setCalls.clear();
        dir_ = vqtest::MakeTempDir("cfgdlg");
        std::string dll = dir_ + "\\test_module.dll";
        ASSERT_TRUE(CopyFileA((vqtest::BinDir() + "\\PylComLib.dll").c_str(), dll.c_str(), FALSE));
        lib_ = LoadLibraryA(dll.c_str());
        ASSERT_NE(lib_, nullptr);
        g_mod.h.hInstance = lib_;
        ini_ = dir_ + "\\test_module.ini";
        ASSERT_TRUE(vqtest::WriteFile(ini_, kIni, sizeof kIni - 1));
    }
    void TearDown() override
    {
        FreeLibrary(lib_);
        vqtest::RemoveTree(dir_);
    }
    std::string Key(const char* section, const char* key)
    {
        char v[256] = {};
        GetPrivateProfileStringA(section, key, "<missing>", v, sizeof v, ini_.c_str());
        return v;
    }
    std::string Section(const char* section)
    {
        std::vector<char> buf(65536);
        DWORD n = GetPrivateProfileSectionA(section, buf.data(), buf.size(), ini_.c_str());
        return std::string(buf.data(), n);
    }
    std::string dir_, ini_;
    HMODULE lib_ = nullptr;
};

TEST_F(DialogTest, OpeningAndClosingNeverChangesTheFile)
{
    std::vector<unsigned char> before, after;
    ASSERT_TRUE(vqtest::ReadFile(ini_, before));
    for (const char* section : {(const char*)nullptr, "PylSoftBatchConverter", "PylSoftBatchConverter::DSP002"}) {
        for (int round = 0; round < 3; ++round) {
            int r = RunDialog(section, [](HWND dlg) {
                // Show every page, let the controls report what they display.
                for (int i = 0; i < kCount; ++i) {
                    SelectRow(dlg, i);
                    Pump(15);
                }
                Pump(60);
            });
            EXPECT_EQ(r, 0);
        }
    }
    ASSERT_TRUE(vqtest::ReadFile(ini_, after));
    EXPECT_EQ(std::string(after.begin(), after.end()), std::string(before.begin(), before.end()));
    EXPECT_TRUE(g_setCalls.empty());
}

TEST_F(DialogTest, ListRowsAndPages)
{
    RunDialog(nullptr, [&](HWND dlg) {
        HWND list = List(dlg);
        EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), kCount);
        EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0), 165);
        EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0), 0);
        EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 2, 0), 199);
        char name[64] = {};
        LVITEMA item = {};
        item.pszText = name;
        item.cchTextMax = sizeof name;
        SendMessageA(list, LVM_GETITEMTEXTA, 3, reinterpret_cast<LPARAM>(&item));
        EXPECT_STREQ(name, "Enabled");
        item.iSubItem = 1;
        SendMessageA(list, LVM_GETITEMTEXTA, 3, reinterpret_cast<LPARAM>(&item));
        EXPECT_STREQ(name, "Help for Enabled");
        // Module selector rows show image 0, others image 1.
        LVITEMA img = {};
        img.mask = LVIF_IMAGE;
        img.iItem = 9;
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&img));
        EXPECT_EQ(img.iImage, 0);
        img.iItem = 2;
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&img));
        EXPECT_EQ(img.iImage, 1);

        EXPECT_EQ(RowValue(dlg, 0), "1.23 s");
        EXPECT_EQ(RowValue(dlg, 1), "Hello World");
        EXPECT_EQ(RowValue(dlg, 2), "12 ");
        EXPECT_EQ(RowValue(dlg, 4), "Max");
        EXPECT_EQ(RowValue(dlg, 5), "0.35 x");
        EXPECT_EQ(RowValue(dlg, 7), "5 s");  // stored 3, read back at the minimum
        EXPECT_EQ(RowValue(dlg, 9), "Other");
        EXPECT_EQ(RowValue(dlg, 10), "9 ");
        for (int id : {1022, 1023, 1024}) EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, id))) << id;
        EXPECT_EQ(VisiblePage(dlg), nullptr);

        // Presets: only sections beginning with "PRESET:" in that case.
        HWND box = GetDlgItem(dlg, 1021);
        EXPECT_EQ(SendMessageA(box, CB_GETCOUNT, 0, 0), 1);
        char preset[64] = {};
        SendMessageA(box, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(preset));
        EXPECT_STREQ(preset, "Loud");

        HWND edit = SelectRow(dlg, 0);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(ItemText(edit, 1003), "1.23");  // two decimals; showing stores nothing (below)
        EXPECT_EQ(ItemText(edit, 1002), "Time");
        EXPECT_EQ(ItemText(edit, 1004), "s");
        EXPECT_NE(GetDlgItem(edit, 10900), nullptr);  // toolbar
        EXPECT_EQ(SendDlgItemMessageA(edit, 10900, TB_BUTTONCOUNT, 0, 0), 1);
        EXPECT_EQ(SelectRow(dlg, 10), nullptr);      // no page for this editor
        HWND check = SelectRow(dlg, 3);
        ASSERT_NE(check, nullptr);
        EXPECT_EQ(ItemText(check, 1001), "Enabled");
        EXPECT_EQ(IsDlgButtonChecked(check, 1001), (UINT)BST_UNCHECKED);
        HWND drop = SelectRow(dlg, 4);
        ASSERT_NE(drop, nullptr);
        EXPECT_EQ(SendDlgItemMessageA(drop, 1005, CB_GETCOUNT, 0, 0), 3);
        EXPECT_EQ(SendDlgItemMessageA(drop, 1005, CB_GETCURSEL, 0, 0), 2);
        HWND slider = SelectRow(dlg, 5);
        ASSERT_NE(slider, nullptr);
        EXPECT_EQ(ItemText(slider, 1004), "0.35 x");
        HWND spin = SelectRow(dlg, 7);
        ASSERT_NE(spin, nullptr);
        EXPECT_EQ(ItemText(spin, 1003), "5");
        int lo = 0, hi = 0;
        SendDlgItemMessageA(spin, 1008, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
        EXPECT_EQ(lo, 5);
        EXPECT_EQ(hi, 86400);
        HWND factor = SelectRow(dlg, 8);
        SendDlgItemMessageA(factor, 1008, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
        EXPECT_EQ(lo, 0);
        EXPECT_EQ(hi, 2147483647);
        EXPECT_EQ(ItemText(factor, 1003), "2");
        HWND selector = SelectRow(dlg, 9);
        ASSERT_NE(selector, nullptr);
        EXPECT_EQ(SendDlgItemMessageA(selector, 10900, TB_BUTTONCOUNT, 0, 0), 2);
        EXPECT_FALSE(SendDlgItemMessageA(selector, 10900, TB_ISBUTTONENABLED, 1009, 0));
        EXPECT_TRUE(SendDlgItemMessageA(selector, 10900, TB_ISBUTTONENABLED, 1010, 0));
    });
    EXPECT_TRUE(g_setCalls.empty());
}

TEST_F(DialogTest, PagesStoreWhatThePersonChanges)
{
    RunDialog(nullptr, [&](HWND dlg) {
        HWND edit = SelectRow(dlg, 0);
        SetDlgItemTextA(edit, 1003, "2.5");
        EXPECT_EQ(Key("Default", "Time"), "2.500000");
        EXPECT_EQ(RowValue(dlg, 0), "2.50 s");
        SendMessageA(edit, WM_COMMAND, MAKEWPARAM(1010, BN_CLICKED), (LPARAM)GetDlgItem(edit, 10900));
        EXPECT_EQ(Key("Default", "Time"), "3.000000");
        EXPECT_EQ(ItemText(edit, 1003), "3.00");

        HWND title = SelectRow(dlg, 1);
        SetDlgItemTextA(title, 1003, "New title");
        EXPECT_EQ(Key("Default", "Title"), "New title");

        HWND count = SelectRow(dlg, 2);
        // Not a number: 0. (Digits followed by other characters are left to the system's integer read,
        // which differs between systems, so the text starts with a letter.)
        SetDlgItemTextA(count, 1003, "x70000");
        EXPECT_EQ(Key("Default", "Count"), "0");
        SetDlgItemTextA(count, 1003, "2000");  // stored as entered, validated on reading
        EXPECT_EQ(Key("Default", "Count"), "2000");
        EXPECT_EQ(RowValue(dlg, 2), "1000 ");

        HWND check = SelectRow(dlg, 3);
        SendDlgItemMessageA(check, 1001, BM_CLICK, 0, 0);
        EXPECT_EQ(Key("Default", "Enabled"), "1");
        SendDlgItemMessageA(check, 1001, BM_CLICK, 0, 0);
        EXPECT_EQ(Key("Default", "Enabled"), "0");

        HWND drop = SelectRow(dlg, 4);
        SendDlgItemMessageA(drop, 1005, CB_SETCURSEL, 0, 0);
        SendMessageA(drop, WM_COMMAND, MAKEWPARAM(1005, CBN_SELCHANGE), (LPARAM)GetDlgItem(drop, 1005));
        EXPECT_EQ(Key("Default", "Mode"), "1");
        EXPECT_EQ(RowValue(dlg, 4), "Low");

        HWND ratio = SelectRow(dlg, 5);
        HWND slider = GetDlgItem(ratio, 1006);
        SendMessageA(slider, WM_KEYDOWN, VK_RIGHT, 0);
        Pump(50);
        EXPECT_EQ(Key("Default", "Ratio"), "0.400000");
        EXPECT_EQ(ItemText(ratio, 1004), "0.40 x");
        HWND level = SelectRow(dlg, 6);
        SendMessageA(GetDlgItem(level, 1006), WM_KEYDOWN, VK_RIGHT, 0);
        Pump(50);
        EXPECT_EQ(Key("Default", "Level"), "34");
        EXPECT_EQ(ItemText(level, 1004), "34 dB");

        HWND spin = SelectRow(dlg, 7);
        SetDlgItemTextA(spin, 1003, "3");
        EXPECT_EQ(Key("Default", "Seconds"), "3");
        EXPECT_EQ(RowValue(dlg, 7), "5 s");
        SendMessageA(spin, WM_COMMAND, MAKEWPARAM(1010, BN_CLICKED), (LPARAM)GetDlgItem(spin, 10900));
        EXPECT_EQ(Key("Default", "Seconds"), "60");
        SendMessageA(GetDlgItem(spin, 1003), WM_KEYDOWN, VK_UP, 0);  // arrow: one step of 10
        EXPECT_EQ(Key("Default", "Seconds"), "70");
        HWND factor = SelectRow(dlg, 8);
        size_t calls = g_setCalls.size();
        SendMessageA(GetDlgItem(factor, 1003), WM_KEYDOWN, VK_UP, 0);  // step 0.5: no movement
        EXPECT_EQ(g_setCalls.size(), calls);
        EXPECT_EQ(Key("Default", "Factor"), "2.750000");

        // "Default" stores the default even outside the constraint.
        g_tmpl[2] = With<int32_t>(g_tmpl[2], 5000, {0, 1000});
        SendMessageA(count, WM_COMMAND, MAKEWPARAM(1010, BN_CLICKED), (LPARAM)GetDlgItem(count, 10900));
        EXPECT_EQ(Key("Default", "Count"), "5000");
    });
    EXPECT_EQ(Key("Default", "Source"), "1");  // untouched settings keep their lines
    EXPECT_EQ(Key("Default", "Hidden"), "9");
}

TEST_F(DialogTest, PresetsStoreRecallAndDelete)
{
    const std::string others = Section("PylSoftBatchConverter") + "|" + Section("MyLoud") + "|" +
                               Section("preset:quiet") + "|" + Section("PylSoftBatchConverter::DSP002");
    RunDialog(nullptr, [&](HWND dlg) {
        HWND box = GetDlgItem(dlg, 1021);
        auto type = [&](const char* text) {
            SetWindowTextA(box, text);
            SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(1021, CBN_EDITCHANGE), (LPARAM)box);
        };
        auto enabled = [&](int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; };
        type("  Mine ");
        EXPECT_TRUE(enabled(1022));
        EXPECT_FALSE(enabled(1024));
        EXPECT_FALSE(enabled(1023));
        SendDlgItemMessageA(dlg, 1022, BM_CLICK, 0, 0);
        EXPECT_EQ(Key("PRESET:Mine", "Count"), "12");
        EXPECT_EQ(Key("PRESET:Mine", "Time"), "1.234567");
        EXPECT_EQ(Key("PRESET:Mine", "Title"), "Hello World");
        EXPECT_EQ(SendMessageA(box, CB_GETCOUNT, 0, 0), 2);
        EXPECT_FALSE(enabled(1022));
        EXPECT_TRUE(enabled(1023));

        // Change a value, then recall the preset.
        HWND count = SelectRow(dlg, 2);
        SetDlgItemTextA(count, 1003, "99");
        EXPECT_EQ(Key("Default", "Count"), "99");
        type("Mine");  // exact text: selects and loads it
        EXPECT_EQ(Key("Default", "Count"), "12");
        EXPECT_EQ(ItemText(count, 1003), "12");
        EXPECT_EQ(RowValue(dlg, 2), "12 ");
        EXPECT_FALSE(enabled(1024));
        // A change while an item is selected enables "Set", which overwrites the preset.
        SetDlgItemTextA(count, 1003, "44");
        EXPECT_TRUE(enabled(1024));
        SendDlgItemMessageA(dlg, 1024, BM_CLICK, 0, 0);
        EXPECT_EQ(Key("PRESET:Mine", "Count"), "44");

        // A preset lacking keys gives the built-in defaults for them.
        LRESULT loud = SendMessageA(box, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM) "Loud");
        SendMessageA(box, CB_SETCURSEL, loud, 0);
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(1021, CBN_SELCHANGE), (LPARAM)box);
        EXPECT_EQ(Key("Default", "Count"), "500");
        EXPECT_EQ(Key("Default", "Level"), "90");
        EXPECT_EQ(Key("Default", "Title"), "Untitled");
        EXPECT_EQ(Key("Default", "Mode"), "2");
        EXPECT_EQ(RowValue(dlg, 4), "High");

        // Delete "Mine": only its section goes.
        LRESULT mine = SendMessageA(box, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM) "Mine");
        SendMessageA(box, CB_SETCURSEL, mine, 0);
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(1021, CBN_SELCHANGE), (LPARAM)box);
        SendDlgItemMessageA(dlg, 1023, BM_CLICK, 0, 0);
        EXPECT_EQ(Key("PRESET:Mine", "Count"), "<missing>");
        EXPECT_EQ(SendMessageA(box, CB_GETCOUNT, 0, 0), 1);
        char text[64] = {};
        GetWindowTextA(box, text, sizeof text);
        EXPECT_STREQ(text, "Mine");
        EXPECT_TRUE(enabled(1022));
        EXPECT_FALSE(enabled(1024));
        EXPECT_FALSE(enabled(1023));
    });
    EXPECT_EQ(Section("PylSoftBatchConverter") + "|" + Section("MyLoud") + "|" + Section("preset:quiet") + "|" +
                  Section("PylSoftBatchConverter::DSP002"),
              others);
    EXPECT_EQ(Key("PRESET:Loud", "Count"), "500");
    EXPECT_EQ(Key("Default", "Count"), "44");  // as the last preset loaded left it
}

TEST_F(DialogTest, ScreenshotWithTahoma)
{
    std::string shot = vqtest::BinDir() + "\\..\\screenshots";
    CreateDirectoryA(shot.c_str(), nullptr);
    shot += "\\config_dialog.bmp";
    DeleteFileA(shot.c_str());
    RECT dlgRect = {};
    RunDialog("PylSoftBatchConverter", [&](HWND dlg) {
        SelectRow(dlg, 5);
        Pump(100);
        GetWindowRect(dlg, &dlgRect);
        RECT rc;
        GetClientRect(dlg, &rc);
        HDC wdc = GetDC(dlg);
        HDC mem = CreateCompatibleDC(wdc);
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = rc.right;
        bi.bmiHeader.biHeight = rc.bottom;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 24;
        void* bits = nullptr;
        HBITMAP bmp = CreateDIBSection(wdc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, rc.right, rc.bottom, wdc, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        GdiFlush();
        int stride = (rc.right * 3 + 3) & ~3;
        BITMAPFILEHEADER fh = {};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
        fh.bfSize = fh.bfOffBits + stride * rc.bottom;
        std::string data(reinterpret_cast<char*>(&fh), sizeof fh);
        data.append(reinterpret_cast<char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
        data.append(static_cast<char*>(bits), stride * rc.bottom);
        vqtest::WriteFile(shot, data.data(), data.size());
        // Not a blank frame: count distinct colours in the list area.
        std::vector<unsigned> seen;
        auto* p = static_cast<unsigned char*>(bits);
        for (int y = 0; y < rc.bottom; y += 3)
            for (int x = 0; x < rc.right; x += 3) {
                unsigned c = p[y * stride + x * 3] | p[y * stride + x * 3 + 1] << 8 | p[y * stride + x * 3 + 2] << 16;
                if (std::find(seen.begin(), seen.end(), c) == seen.end()) seen.push_back(c);
            }
        EXPECT_GT(seen.size(), 6u);
        DeleteObject(bmp);
        DeleteDC(mem);
        ReleaseDC(dlg, wdc);
    });
    EXPECT_TRUE(vqtest::FileExists(shot));
    // 260 dialog units with Tahoma 8 are about 390 pixels (with a fallback font they are far wider).
    int width = dlgRect.right - dlgRect.left;
    EXPECT_GT(width, 360);
    EXPECT_LT(width, 420);
}

TEST_F(DialogTest, EmptyAndMissingModules)
{
    g_settingCount = 0;
    int rows = -1;
    EXPECT_EQ(RunDialog(nullptr, [&](HWND dlg) { rows = (int)SendMessageA(List(dlg), LVM_GETITEMCOUNT, 0, 0); }), 0);
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(PylConfigDialog(nullptr, nullptr, nullptr, nullptr), -1);
}

}  // namespace

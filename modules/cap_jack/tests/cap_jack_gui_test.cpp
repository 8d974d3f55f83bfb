// Settings dialog 103, driven with messages from a timer while Configure runs it
// modally. The language follows LC_ALL (English UK or Spanish).
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <stdlib.h>
#include <string>
#include <vector>

#include "capjack_fixture.h"
#include "resource.h"

namespace {

struct Scenario {
    IVqProModule* m;
    const char* section;
    bool ran = false;
    int ticks = 0;
    std::vector<std::string> links;
};
Scenario* g_scenario;

bool Spanish()
{
    const char* lc = getenv("LC_ALL");
    return lc && strncmp(lc, "es", 2) == 0;
}

BOOL CALLBACK FindDialogProc(HWND w, LPARAM lp)
{
    char cls[32];
    GetClassNameA(w, cls, sizeof cls);
    if (strcmp(cls, "#32770") == 0 && IsWindowVisible(w)) {
        *reinterpret_cast<HWND*>(lp) = w;
        return FALSE;
    }
    return TRUE;
}

HWND FindDialog()
{
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialogProc, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::vector<std::wstring> ChildTexts(HWND dlg)
{
    std::vector<std::wstring> texts;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t buf[256];
        GetWindowTextW(c, buf, 256);
        texts.push_back(buf);
    }
    return texts;
}

bool HasText(const std::vector<std::wstring>& texts, const wchar_t* t)
{
    for (const std::wstring& s : texts)
        if (s == t)
            return true;
    return false;
}

std::vector<std::string> ComboItems(HWND box, std::vector<int>* data = nullptr)
{
    std::vector<std::string> items;
    int n = static_cast<int>(SendMessageA(box, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        char buf[256];
        SendMessageA(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf));
        items.push_back(buf);
        if (data)
            data->push_back(static_cast<int>(SendMessageA(box, CB_GETITEMDATA, i, 0)));
    }
    return items;
}

int SelectedData(HWND box)
{
    LRESULT sel = SendMessageA(box, CB_GETCURSEL, 0, 0);
    return sel == CB_ERR ? -999 : static_cast<int>(SendMessageA(box, CB_GETITEMDATA, sel, 0));
}

int StoredValue(int index)
{
    SettingRecord rec;
    g_scenario->m->h.GetSetting(&rec, index, g_scenario->section, nullptr);
    return SettingLoad<int32_t>(rec.currentValue);
}

void RecordLink(HWND, const char* target) { g_scenario->links.push_back(target); }

void RunScenario(HWND dlg)
{
    char caption[128];
    GetWindowTextA(dlg, caption, sizeof caption);
    EXPECT_STREQ("PylSoft Line-in Capture Module", caption);
    RECT want = {0, 0, 214, 113}, client;
    MapDialogRect(dlg, &want);
    GetClientRect(dlg, &client);
    EXPECT_EQ(want.right, client.right);
    EXPECT_EQ(want.bottom, client.bottom);

    std::vector<std::wstring> texts = ChildTexts(dlg);
    if (Spanish()) {
        EXPECT_TRUE(HasText(texts, L"Opciones del Dispositivo"));
        EXPECT_TRUE(HasText(texts, L"Dispositivo"));
        EXPECT_TRUE(HasText(texts, L"Formato"));
        EXPECT_TRUE(HasText(texts, L"Opciones de Grabación"));
        EXPECT_TRUE(HasText(texts, L"Tamao del buffer"));
    } else {
        EXPECT_TRUE(HasText(texts, L"Device Options"));
        EXPECT_TRUE(HasText(texts, L"Device"));
        EXPECT_TRUE(HasText(texts, L"Format"));
        EXPECT_TRUE(HasText(texts, L"Recording Options"));
        EXPECT_TRUE(HasText(texts, L"Buffer size"));
    }
    EXPECT_TRUE(HasText(texts, L"ms"));
    EXPECT_TRUE(HasText(texts, L"&Presets"));
    EXPECT_TRUE(HasText(texts, L"&Close"));

    HWND devices = GetDlgItem(dlg, IDC_DEVICE), formats = GetDlgItem(dlg, IDC_FORMAT);
    std::vector<int> data;
    EXPECT_EQ((std::vector<std::string>{"Fake Sound Mapper", "Line A", "Line B"}), ComboItems(devices, &data));
    EXPECT_EQ((std::vector<int>{-1, 0, 1}), data);
    EXPECT_EQ(-1, SelectedData(devices));
    data.clear();
    EXPECT_EQ((std::vector<std::string>{"44.100 kHz, 16 Bit, Mono", "44.100 kHz, 16 Bit, Stereo",
                                        "48.000 kHz, 16 Bit, Mono", "48.000 kHz, 16 Bit, Stereo"}),
              ComboItems(formats, &data));
    EXPECT_EQ((std::vector<int>{10, 11, 18, 19}), data);
    EXPECT_EQ(11, SelectedData(formats));
    char text[32];
    GetDlgItemTextA(dlg, IDC_BUFFER_EDIT, text, sizeof text);
    EXPECT_STREQ("300", text);
    EXPECT_EQ(300, static_cast<int>(SendDlgItemMessageA(dlg, IDC_BUFFER_SPIN, UDM_GETPOS32, 0, 0)));

    // Another device: stored at once, and the format box lists what it accepts.
    SendMessageA(devices, CB_SETCURSEL, 2, 0);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_DEVICE, CBN_SELCHANGE), reinterpret_cast<LPARAM>(devices));
    EXPECT_EQ(1, StoredValue(capjack::SettingDevice));
    data.clear();
    EXPECT_EQ((std::vector<std::string>{"96.000 kHz, 24 Bit, Mono", "96.000 kHz, 24 Bit, Stereo"}),
              ComboItems(formats, &data));
    EXPECT_EQ((std::vector<int>{28, 29}), data);

    SendMessageA(formats, CB_SETCURSEL, 1, 0);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_FORMAT, CBN_SELCHANGE), reinterpret_cast<LPARAM>(formats));
    EXPECT_EQ(29, StoredValue(capjack::SettingFormat));

    // Typing a length stores it and moves the arrows; the arrows write the edit.
    SetDlgItemTextA(dlg, IDC_BUFFER_EDIT, "750");
    EXPECT_EQ(750, StoredValue(capjack::SettingBufferSize));
    EXPECT_EQ(750, static_cast<int>(SendDlgItemMessageA(dlg, IDC_BUFFER_SPIN, UDM_GETPOS32, 0, 0)));
    HWND spin = GetDlgItem(dlg, IDC_BUFFER_SPIN);
    SendMessageA(spin, UDM_SETPOS32, 0, 1200);
    SendMessageA(dlg, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 1200), reinterpret_cast<LPARAM>(spin));
    GetDlgItemTextA(dlg, IDC_BUFFER_EDIT, text, sizeof text);
    EXPECT_STREQ("1200", text);
    EXPECT_EQ(1200, StoredValue(capjack::SettingBufferSize));

    // The link labels open their targets through the (replaced) shell call.
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_LINK_WEB, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDC_LINK_WEB)));
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_LINK_MAIL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDC_LINK_MAIL)));
    ASSERT_EQ(2u, g_scenario->links.size());
    EXPECT_EQ(0u, g_scenario->links[0].find("http://"));
    EXPECT_EQ(0u, g_scenario->links[1].find("mailto:"));
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    Scenario* s = g_scenario;
    HWND dlg = FindDialog();
    if (++s->ticks > 200) {  // never hang: give up after ~10 s
        KillTimer(nullptr, id);
        if (dlg)
            EndDialog(dlg, 0);
        return;
    }
    if (!dlg || s->ran)
        return;
    s->ran = true;
    KillTimer(nullptr, id);
    RunScenario(dlg);
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
}

}  // namespace

TEST_F(CapJackTest, SettingsDialogInTheUserLanguage)
{
    fakewave::Config c;
    c.devices = {"Line A", "Line B"};
    c.accepts = [](int device, const WAVEFORMATEX* f) {
        if (device == 1)
            return f->nSamplesPerSec == 96000 && f->wBitsPerSample == 24;
        return Only16Bit441And48(device, f);
    };
    Init(c);
    Scenario s;
    s.m = m;
    s.section = VQ_HOST_SECTION;
    g_scenario = &s;
    auto oldOpen = capjack::g_openLink;
    capjack::g_openLink = RecordLink;
    SetTimer(nullptr, 0, 50, OnTimer);
    int result = m->h.Configure(nullptr, VQ_HOST_SECTION, nullptr);
    capjack::g_openLink = oldOpen;
    g_scenario = nullptr;
    EXPECT_TRUE(s.ran);
    EXPECT_EQ(0, result);  // the module's own dialog: no generic one follows
}

// The wizard with fake modules: start-up, navigation, the pages and their
// settings, the Options dialog, the folder scans and the close.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <time.h>
#include <algorithm>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <math.h>
#include <set>
#include <string>
#include "engine.h"
#include "fake_modules.h"
#include "gui_harness.h"
#include "loopback_server.h"
#include "pyl_pum.h"
#include "host_state.h"
#include "pages.h"
#include "resource.h"
#include "test_support.h"

using namespace gui;

namespace {

class Wizard : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = vqtest::MakeTempDir("appgui");
        log = dir + "\\host.log";
        DeleteFileA(HostIni().c_str());
        Ini("Check updates", "0");
        Ini("Log File", log.c_str());
        g_seams.loadModules = fakes::LoadFakes;
        g_seams.unloadModules = fakes::UnloadFakes;
        g_seams.messageBox = FakeMessageBox;
        g_seams.browseForFolder = FakeBrowse;
        g_seams.getOpenFileName = FakeOpenFile;
        g_seams.shellOpen = FakeShellOpen;
        g_seams.exitWindows = FakeExitWindows;
        ClearShownBoxes();
        fakes::quitCalls = 0;
        fakes::tagCalls = 0;
        fakes::captureSuppliesTags = 0;
        fakes::OpenGates();
    }
    void TearDown() override
    {
        fakes::OpenGates();
        EXPECT_TRUE(app.Close());
        ResetHostSeams();
        g_host.stopFlag = 0;
    }
    void Ini(const char* key, const char* value)
    {
        WritePrivateProfileStringA("Default", key, value, HostIni().c_str());
    }
    std::string IniValue(const char* key)
    {
        char buf[1024];
        GetPrivateProfileStringA("Default", key, "<missing>", buf, sizeof(buf), HostIni().c_str());
        return buf;
    }
    HWND Main() { return g_host.mainDialog; }
    bool Enabled(HWND parent, int id) { return IsWindowEnabled(GetDlgItem(parent, id)) != 0; }
    bool Shown(HWND parent, int id) { return (GetWindowLongA(GetDlgItem(parent, id), GWL_STYLE) & WS_VISIBLE) != 0; }

    App app;
    std::string dir, log;
};

TEST_F(Wizard, StartsOnSourcePageAndNavigatesThroughThePages)
{
    ASSERT_TRUE(app.Start());
    EXPECT_EQ(CurrentPage(), PageSource);
    EXPECT_EQ(Text(Main()), "PylSoft Batch Converter v1.0.7.180");
    EXPECT_FALSE(Enabled(Main(), IDC_PREVIOUS));
    // No update check ran: nothing was shown or opened.
    EXPECT_TRUE(ShownBoxes().empty());
    EXPECT_TRUE(shellOpened.empty());

    HWND source = Page(PageSource);
    HWND list = Item(source, IDC_SOURCE_LIST);
    ASSERT_EQ(SendMessageA(list, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SelectedData(source, IDC_SOURCE_LIST), -1);
    char entry[128];
    int existing = SendMessageA(list, CB_GETITEMDATA, 0, 0) == -1 ? 0 : 1;
    SendMessageA(list, CB_GETLBTEXT, existing, (LPARAM)entry);
    EXPECT_STREQ(entry, Tr("Existing files", "Archivos existentes"));
    EXPECT_FALSE(Enabled(source, IDC_SOURCE_CONFIGURE));
    EXPECT_FALSE(Enabled(source, IDC_TAG_TITLE));
    EXPECT_FALSE(Enabled(source, IDC_LBL_DESCRIPTION));

    Click(Main(), IDC_NEXT);
    EXPECT_EQ(CurrentPage(), PageFiles);
    EXPECT_TRUE(Enabled(Main(), IDC_PREVIOUS));
    EXPECT_EQ(Text(Item(Page(PageFiles), IDC_FILE_COUNT)), Tr("0 files", "0 archivos"));
    Click(Main(), IDC_NEXT);
    EXPECT_EQ(CurrentPage(), PageDsp);
    Click(Main(), IDC_NEXT);
    EXPECT_EQ(CurrentPage(), PageEncoder);
    EXPECT_TRUE(Shown(Page(PageEncoder), IDC_DELETE_ORIGINALS));
    EXPECT_FALSE(Shown(Page(PageEncoder), IDC_TIME_EDIT));
    EXPECT_EQ(Text(Item(Main(), IDC_NEXT)), Tr("&Next >", "&Siguiente >"));
    Click(Main(), IDC_NEXT);
    EXPECT_EQ(CurrentPage(), PageProcessing);
    EXPECT_EQ(Text(Item(Main(), IDC_NEXT)), Tr("&Encode", "&Convertir"));
    Click(Main(), IDC_PREVIOUS);
    EXPECT_EQ(CurrentPage(), PageEncoder);
    EXPECT_EQ(Text(Item(Main(), IDC_NEXT)), Tr("&Next >", "&Siguiente >"));
    Click(Main(), IDC_PREVIOUS);
    Click(Main(), IDC_PREVIOUS);
    EXPECT_EQ(CurrentPage(), PageFiles);
    Click(Main(), IDC_PREVIOUS);
    EXPECT_EQ(CurrentPage(), PageSource);
    EXPECT_FALSE(Enabled(Main(), IDC_PREVIOUS));

    // One picture of every page, kept for a look by eye.
    Sleep(2500);  // the splash has faded out
    std::string shots = vqtest::TestDataDir() + "\\app";
    CreateDirectoryA(shots.c_str(), nullptr);
    shots += "\\screens";
    CreateDirectoryA(shots.c_str(), nullptr);
    const char* lang = Spanish() ? "es" : "en";
    SetForegroundWindow(Main());
    for (int page = 0; page < PageCount; page++) {
        if (page > 0)
            Click(Main(), IDC_NEXT);
        ASSERT_EQ(CurrentPage(), page);
        RedrawWindow(Main(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(300);
        char name[64];
        snprintf(name, sizeof(name), "\\%s-page%d.bmp", lang, page);
        EXPECT_GT(SaveScreenshot(Main(), shots + name), 20) << "page " << page << " looks blank";
    }
}

TEST_F(Wizard, SourceIsChosenByItemDataAndDrivesTheOtherPages)
{
    // The capture module ("Aardvark Capture") sorts before "Existing files",
    // so its position differs from its table slot.
    Ini("Encoder Source", "5");
    ASSERT_TRUE(app.Start());
    HWND source = Page(PageSource), enc = Page(PageEncoder);
    EXPECT_EQ(SelectedData(source, IDC_SOURCE_LIST), 0);
    EXPECT_EQ(g_host.sourceIsFiles.load(), 0);
    EXPECT_TRUE(Enabled(source, IDC_SOURCE_CONFIGURE));
    EXPECT_TRUE(Enabled(source, IDC_TAG_TITLE));  // the module supplies no tags
    EXPECT_TRUE(Shown(enc, IDC_TIME_EDIT));
    EXPECT_TRUE(Shown(enc, IDC_SILENCE_CHECK));
    EXPECT_FALSE(Shown(enc, IDC_DELETE_ORIGINALS));

    // A capture source skips the Files page both ways.
    Click(Main(), IDC_NEXT);
    EXPECT_EQ(CurrentPage(), PageDsp);
    Click(Main(), IDC_PREVIOUS);
    EXPECT_EQ(CurrentPage(), PageSource);
    EXPECT_FALSE(Enabled(Main(), IDC_PREVIOUS));

    ASSERT_TRUE(SelectByData(source, IDC_SOURCE_LIST, -1));
    EXPECT_EQ(HostInt32(SetEncoderSource), 0);
    EXPECT_EQ(g_host.sourceIsFiles.load(), 1);
    EXPECT_FALSE(Enabled(source, IDC_SOURCE_CONFIGURE));
    EXPECT_FALSE(Enabled(source, IDC_TAG_AUTHOR));
    EXPECT_TRUE(Shown(enc, IDC_DELETE_ORIGINALS));
    EXPECT_FALSE(Shown(enc, IDC_STOP_EDIT));

    fakes::captureSuppliesTags = 1;
    ASSERT_TRUE(SelectByData(source, IDC_SOURCE_LIST, 0));
    EXPECT_EQ(HostInt32(SetEncoderSource), 5);
    EXPECT_FALSE(Enabled(source, IDC_TAG_YEAR));  // the module brings its own tags
    Click(Main(), IDC_NEXT);
    EXPECT_EQ(CurrentPage(), PageDsp);
}

TEST_F(Wizard, ProcessingPageDefaultsAndPauseToggle)
{
    ASSERT_TRUE(app.Start());
    HWND proc = Page(PageProcessing);
    EXPECT_EQ(SendDlgItemMessageA(proc, IDC_PRIORITY, CB_GETCOUNT, 0, 0), 7);
    EXPECT_EQ(SendDlgItemMessageA(proc, IDC_PRIORITY, CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(SelectedData(proc, IDC_PRIORITY), THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(SendDlgItemMessageA(proc, IDC_PRIORITY, CB_GETITEMDATA, 0, 0), THREAD_PRIORITY_IDLE);
    EXPECT_EQ(SendDlgItemMessageA(proc, IDC_PRIORITY, CB_GETITEMDATA, 6, 0), THREAD_PRIORITY_TIME_CRITICAL);
    EXPECT_EQ(SendDlgItemMessageA(proc, IDC_WHEN_DONE, CB_GETCOUNT, 0, 0), 5);
    EXPECT_EQ(SelectedData(proc, IDC_WHEN_DONE), 145);
    char text[128];
    SendDlgItemMessageA(proc, IDC_WHEN_DONE, CB_GETLBTEXT, 0, (LPARAM)text);
    EXPECT_STREQ(text, Tr("Encode more files", "Procesar mas archivos"));
    EXPECT_FALSE(Enabled(proc, IDC_PAUSE));

    EXPECT_EQ(g_host.pauseFlag.load(), 0);
    Click(proc, IDC_PAUSE);
    EXPECT_EQ(g_host.pauseFlag.load(), 1);
    EXPECT_EQ(Text(Item(proc, IDC_PAUSE)), Tr("Continue", "Continuar"));
    Click(proc, IDC_PAUSE);
    EXPECT_EQ(g_host.pauseFlag.load(), 0);
    EXPECT_EQ(Text(Item(proc, IDC_PAUSE)), Tr("Pause", "Pausa"));
}

HWND FindOptionsDialog()
{
    HWND found = nullptr;
    // The dialog window exists before its WM_INITDIALOG has filled the
    // controls; it is shown only after that, so wait until it is visible.
    WaitUntil([&] {
        found = FindWindowA("#32770", Tr("Options", "Opciones"));
        return found != nullptr && IsWindowVisible(found);
    }, 10000);
    return found;
}

TEST_F(Wizard, OptionsAreStoredAndSurviveARestart)
{
    ASSERT_TRUE(app.Start());
    PostMessageA(Main(), WM_COMMAND, IDM_PREFERENCES, 0);
    HWND dlg = FindOptionsDialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(Text(Item(dlg, IDC_LOG_PATH)), log);
    EXPECT_EQ(SelectedData(dlg, IDC_LOG_LEVEL), 15);
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_CHECK_UPDATES), BST_UNCHECKED);

    ASSERT_TRUE(SelectByData(dlg, IDC_LOG_LEVEL, 7));
    EXPECT_EQ(*HostLogLevel(), 7);  // at once, for the host and every module
    EXPECT_EQ(IniValue("Log Level"), "7");

    // Typing a new log path: the live log keeps its file until the edit is left.
    std::string newLog = dir + "\\other.log";
    SetEditText(dlg, IDC_LOG_PATH, (dir + "\\o").c_str());
    SetEditText(dlg, IDC_LOG_PATH, newLog.c_str());
    EXPECT_EQ(std::string(HostLogFile()), log);

    std::string mods = dir + "\\mods";
    SetEditText(dlg, IDC_MODULE_PATH, mods.c_str());
    EXPECT_EQ(IniValue("Module Directory"), mods);

    SendMessageA(Item(dlg, IDC_CHECK_UPDATES), BM_SETCHECK, BST_CHECKED, 0);
    Click(dlg, IDC_CHECK_UPDATES);
    EXPECT_EQ(IniValue("Check updates"), "1");
    SendMessageA(Item(dlg, IDC_CHECK_UPDATES), BM_SETCHECK, BST_UNCHECKED, 0);
    Click(dlg, IDC_CHECK_UPDATES);
    EXPECT_EQ(IniValue("Check updates"), "0");

    Click(dlg, IDC_LINK_WEB);
    ASSERT_EQ(shellOpened.size(), 1u);
    EXPECT_EQ(shellOpened[0].rfind("http://", 0), 0u);
    shellOpened.clear();

    Click(dlg, IDCANCEL);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dlg); }));
    EXPECT_EQ(std::string(HostLogFile()), newLog);
    EXPECT_EQ(IniValue("Log File"), newLog);

    ASSERT_TRUE(app.Close());
    ASSERT_TRUE(app.Start());
    EXPECT_EQ(*HostLogLevel(), 7);
    EXPECT_EQ(std::string(HostLogFile()), newLog);
    EXPECT_EQ(std::string(HostText(SetModuleDirectory)), mods);
    EXPECT_EQ(HostInt16(SetCheckUpdates), 0);
}

TEST_F(Wizard, AboutAndTheExitActionsGoThroughTheSeams)
{
    ASSERT_TRUE(app.Start());
    SendMessageA(Main(), WM_COMMAND, IDM_ABOUT, 0);
    auto boxes = ShownBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "PylSoft Batch Converter");
    EXPECT_EQ(boxes[0].text.rfind("PylSoft Batch Converter v1.0.7.180", 0), 0u);

    // Log off, restart, power off: one request each (access denied: no forced retry).
    exitRequests.clear();
    for (int action : {146, 147, 148}) {
        ASSERT_TRUE(SelectByData(Page(PageProcessing), IDC_WHEN_DONE, action));
        PerformWhenDone();
    }
    EXPECT_EQ((std::vector<UINT>{EWX_LOGOFF, EWX_REBOOT, EWX_POWEROFF}), exitRequests);
    EXPECT_TRUE(app.running());
    EXPECT_EQ(1u, ShownBoxes().size());  // only the About box

    // "End Program" closes the main window: the program ends and stores its settings.
    DeleteFileA(HostIni().c_str());
    ASSERT_TRUE(SelectByData(Page(PageProcessing), IDC_WHEN_DONE, 145));
    PerformWhenDone();
    EXPECT_TRUE(WaitUntil([] { return g_host.mainDialog == nullptr; }));
    EXPECT_EQ(IniValue("Check updates"), "0");
    EXPECT_EQ(3u, exitRequests.size());
}

TEST_F(Wizard, ARecordingThatCannotStartEndsInAWarningNotCompletion)
{
    ASSERT_TRUE(app.Start());
    const std::string programTitle = Text(Main());
    ASSERT_TRUE(SelectByData(Page(PageSource), IDC_SOURCE_LIST, 0));  // the capture module, whose Open fails
    for (int i = 0; i < 3; i++)
        Click(Main(), IDC_NEXT);
    ASSERT_EQ(CurrentPage(), PageProcessing);
    ASSERT_TRUE(SelectByData(Page(PageProcessing), IDC_WHEN_DONE, 144));
    fakes::bytesWritten = 0;
    Click(Main(), IDC_NEXT);  // Encode
    ASSERT_TRUE(WaitUntil([] { return !ShownBoxes().empty(); }));
    auto boxes = ShownBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("PylSoft Batch Converter", boxes[0].caption);
    EXPECT_EQ((UINT)MB_ICONWARNING, boxes[0].type & MB_ICONMASK);
    EXPECT_EQ(0u, boxes[0].text.rfind(Tr("The recording could not be started.",
                                         "No se pudo iniciar la grabaci\xF3n."), 0)) << boxes[0].text;
    EXPECT_NE(std::string::npos, boxes[0].text.find(log)) << boxes[0].text;
    EXPECT_EQ(0, fakes::bytesWritten.load());
    EXPECT_EQ(0, fakes::encodersOpen.load());
    EXPECT_EQ(CurrentPage(), PageSource);
    EXPECT_EQ(programTitle, Text(Main()));
}

TEST_F(Wizard, CloseSavesTheSettingsAndUnloadsEveryModule)
{
    Ini("DSP Chain", "7:99:7");
    ASSERT_TRUE(app.Start());
    HWND dsp = Page(PageDsp);
    HWND chain = Item(dsp, IDC_DSP_CHAIN);
    ASSERT_EQ(SendMessageA(chain, LB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(chain, LB_GETITEMDATA, 0, 0), 1);
    // The second entry of the sorted module list is selected: "Beta DSP" (slot 1).
    EXPECT_EQ(SelectedData(dsp, IDC_DSP_MODULES), 1);
    ASSERT_TRUE(SelectByData(dsp, IDC_DSP_MODULES, 0));
    Click(dsp, IDC_DSP_ADD);
    ASSERT_EQ(SendMessageA(chain, LB_GETCOUNT, 0, 0), 3);

    // Up on row 0 and Down on the last row keep the order and the selection.
    SendMessageA(chain, LB_SETCURSEL, 0, 0);
    Click(dsp, IDC_DSP_UP);
    EXPECT_EQ(SendMessageA(chain, LB_GETCURSEL, 0, 0), 0);
    SendMessageA(chain, LB_SETCURSEL, 2, 0);
    Click(dsp, IDC_DSP_DOWN);
    EXPECT_EQ(SendMessageA(chain, LB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(SendMessageA(chain, LB_GETITEMDATA, 2, 0), 0);
    // Up moves Alpha (slot 0) to row 1.
    Click(dsp, IDC_DSP_UP);
    EXPECT_EQ(SendMessageA(chain, LB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(SendMessageA(chain, LB_GETITEMDATA, 1, 0), 0);
    EXPECT_EQ(SendMessageA(chain, LB_GETITEMDATA, 2, 0), 1);

    EXPECT_TRUE(app.Close());
    EXPECT_EQ(IniValue("DSP Chain"), "7:3:7");
    EXPECT_EQ(IniValue("Check updates"), "0");
    EXPECT_EQ(IniValue("Encoding Time Limit"), "3600");
    EXPECT_EQ(fakes::quitCalls.load(), 5);
    for (int i = 0; i < 32; i++) {
        EXPECT_EQ(g_host.inputModules[i], nullptr);
        EXPECT_EQ(g_host.dspModules[i], nullptr);
    }

    // 33 rows: the chain holds the first 32.
    ASSERT_TRUE(app.Start());
    dsp = Page(PageDsp);
    chain = Item(dsp, IDC_DSP_CHAIN);
    Click(dsp, IDC_DSP_REMOVE_ALL);
    for (int i = 0; i < 33; i++) {
        ASSERT_TRUE(SelectByData(dsp, IDC_DSP_MODULES, i == 32 ? 0 : 1));
        Click(dsp, IDC_DSP_ADD);
    }
    BuildDspChain(dsp);
    EXPECT_EQ(g_host.dspChain[31], 1);
    std::string text = HostText(SetDspChain);
    EXPECT_EQ(std::count(text.begin(), text.end(), ':'), 31);
    EXPECT_EQ(text.find('3'), std::string::npos);
}

TEST_F(Wizard, EncoderPageConversionsAndLimits)
{
    Ini("Silence Lenght", "2.35");
    Ini("Encoder Source", "5");
    ASSERT_TRUE(app.Start());
    HWND enc = Page(PageEncoder);
    // The page's own text does not replace the stored value by its rounding.
    EXPECT_EQ(HostDouble(SetSilenceLength), 2.35);
    EXPECT_EQ(Text(Item(enc, IDC_SPLIT_EDIT)), "2.4");
    EXPECT_EQ(SendDlgItemMessageA(enc, IDC_SPLIT_SPIN, UDM_GETPOS32, 0, 0), 23);
    EXPECT_EQ(Text(Item(enc, IDC_TIME_EDIT)), "01:00:00");
    EXPECT_EQ(SelectedData(enc, IDC_ENC_LIST), 0);
    EXPECT_TRUE(Enabled(enc, IDC_ENC_CONFIGURE));
    EXPECT_FALSE(Enabled(enc, IDC_SPLIT_EDIT));  // silence detection off

    struct { const char* text; int expected; } times[] = {
        {"1:30", 90}, {"2:00:00", 7200}, {"45", 45}, {"abc", 45}, {"99999999999", 45}, {"24:00:00", 86400}};
    for (auto& t : times) {
        SetEditText(enc, IDC_TIME_EDIT, t.text);
        EXPECT_EQ(HostInt32(SetTimeLimit), t.expected) << t.text;
    }
    EXPECT_EQ(SendDlgItemMessageA(enc, IDC_TIME_SPIN, UDM_GETPOS32, 0, 0), 86400);

    // The arrows write the edit text, which reads back as the same value.
    SendDlgItemMessageA(enc, IDC_TIME_SPIN, UDM_SETPOS32, 0, 86400);
    SendMessageA(enc, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), (LPARAM)Item(enc, IDC_TIME_SPIN));
    EXPECT_EQ(Text(Item(enc, IDC_TIME_EDIT)), "24:00:00");
    SetEditText(enc, IDC_TIME_EDIT, Text(Item(enc, IDC_TIME_EDIT)).c_str());
    EXPECT_EQ(HostInt32(SetTimeLimit), 86400);

    SetEditText(enc, IDC_SPLIT_EDIT, "0.2");
    EXPECT_EQ(HostDouble(SetSilenceLength), 0.5);
    EXPECT_EQ(Text(Item(enc, IDC_SPLIT_EDIT)), "0.5");
    SetEditText(enc, IDC_SPLIT_EDIT, "15");
    EXPECT_EQ(HostDouble(SetSilenceLength), 10.0);
    EXPECT_EQ(Text(Item(enc, IDC_SPLIT_EDIT)), "10.0");
    SetEditText(enc, IDC_SPLIT_EDIT, "7.25");
    EXPECT_EQ(HostDouble(SetSilenceLength), 7.25);
    EXPECT_EQ(SendDlgItemMessageA(enc, IDC_SPLIT_SPIN, UDM_GETPOS32, 0, 0), 72);
    // The text is read as atof reads a decimal number: words are no number (0,
    // so the minimum), an overflowing exponent is above the maximum. Never a
    // NaN or an infinity in the setting.
    struct { const char* text; double expected; const char* shown; } odd[] = {
        {"1e999", 10.0, "10.0"}, {"inf", 0.5, "0.5"}, {"nan", 0.5, "0.5"}, {"-inf", 0.5, "0.5"}, {"abc", 0.5, "0.5"}};
    for (auto& o : odd) {
        SetEditText(enc, IDC_SPLIT_EDIT, "7.25");
        ASSERT_EQ(HostDouble(SetSilenceLength), 7.25);
        SetEditText(enc, IDC_SPLIT_EDIT, o.text);
        EXPECT_EQ(HostDouble(SetSilenceLength), o.expected) << o.text;
        EXPECT_EQ(Text(Item(enc, IDC_SPLIT_EDIT)), o.shown) << o.text;
        EXPECT_EQ(SendDlgItemMessageA(enc, IDC_SPLIT_SPIN, UDM_GETPOS32, 0, 0), (int)(o.expected * 10)) << o.text;
    }
    SetEditText(enc, IDC_STOP_EDIT, "61");
    EXPECT_EQ(HostDouble(SetMaximumSilence), 60.0);
    SendDlgItemMessageA(enc, IDC_STOP_SPIN, UDM_SETPOS32, 0, 55);
    SendMessageA(enc, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), (LPARAM)Item(enc, IDC_STOP_SPIN));
    EXPECT_EQ(HostDouble(SetMaximumSilence), 5.5);
    EXPECT_EQ(Text(Item(enc, IDC_STOP_EDIT)), "5.5");

    SendMessageA(Item(enc, IDC_SILENCE_CHECK), BM_SETCHECK, BST_CHECKED, 0);
    Click(enc, IDC_SILENCE_CHECK);
    EXPECT_EQ(HostInt16(SetSilenceDetection), 1);
    EXPECT_TRUE(Enabled(enc, IDC_SPLIT_EDIT));
    EXPECT_TRUE(Enabled(enc, IDC_STOP_SPIN));

    EXPECT_TRUE(app.Close());
    EXPECT_EQ(IniValue("Encoding Time Limit"), "86400");
}

// ---- the update check at start-up ------------------------------------------------

std::mutex s_statusLock;
std::vector<std::string> s_statuses;
void RecordStatus(const char* text)
{
    std::lock_guard<std::mutex> lock(s_statusLock);
    s_statuses.push_back(text ? text : "");
}

class StartupUpdate : public Wizard {
protected:
    void SetUp() override
    {
        Wizard::SetUp();
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        Ini("Check updates", "1");
        SetEnvironmentVariableA(PYLPUM_TIMEOUT_ENV, "5000");
        {
            std::lock_guard<std::mutex> lock(s_statusLock);
            s_statuses.clear();
        }
        g_seams.startupStatus = RecordStatus;
        shellOpened.clear();
    }
    void TearDown() override
    {
        Wizard::TearDown();
        nextBoxAnswer = IDOK;
        SetEnvironmentVariableA(PYLPUM_SERVER_ENV, nullptr);
        SetEnvironmentVariableA(PYLPUM_TIMEOUT_ENV, nullptr);
        WSACleanup();
    }
    // Starts the program against an update server that answers with these lines.
    bool StartWith(const std::string& lines)
    {
        LoopbackServer server;
        SetEnvironmentVariableA(PYLPUM_SERVER_ENV, server.HostPort().c_str());
        server.Answer({{"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + lines}});
        bool started = app.Start();
        request = server.Request();
        return started;
    }
    // The start-up statuses from the update check on, up to the first module kind.
    std::vector<std::string> CheckStatuses()
    {
        std::lock_guard<std::mutex> lock(s_statusLock);
        std::vector<std::string> out;
        bool on = false;
        for (auto& st : s_statuses) {
            on = on || st == "Checking for program updates...";
            if (on)
                out.push_back(st);
            if (st == "Loading Input modules...")
                break;
        }
        return out;
    }
    std::string request;
};

TEST_F(StartupUpdate, UpToDateShowsItsStatusAndAsksNothing)
{
    ASSERT_TRUE(StartWith("UPTODATE\r\n"));
    EXPECT_NE(std::string::npos, request.find("pgmname=PylSoftBatchConverter&mayor=1&minor=0&rev=7&build=180"));
    EXPECT_EQ((std::vector<std::string>{"Checking for program updates...", "The program is up to date!",
                                        "Loading Input modules..."}),
              CheckStatuses());
    EXPECT_TRUE(ShownBoxes().empty());
    EXPECT_TRUE(shellOpened.empty());
}

TEST_F(StartupUpdate, ManualUpdateAsksOverTheSplashAndOpensOnlyAWebAddress)
{
    struct Case {
        const char* address;
        int answer;
        bool opened;
    } cases[] = {{"http://dl.example/new.exe", IDYES, true},
                 {"http://dl.example/new.exe", IDNO, false},
                 {"", IDYES, false},
                 {"file:///C:/Windows/notepad.exe", IDYES, false},
                 {"C:\\Windows\\notepad.exe", IDYES, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        ClearShownBoxes();
        shellOpened.clear();
        nextBoxAnswer = c.answer;
        ASSERT_TRUE(StartWith(std::string("MANUAL\r\n") + c.address + "\r\n"));
        auto boxes = ShownBoxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(Tr("A new aplication version is avaliable on the Internet.\nWould you like to go to the download "
                      "page now?",
                      "Hay una nueva versi\xF3n del programa disponible en Internet.\n\xBF"
                      "Desea ir a la p\xE1gina de descarga ahora?"),
                  boxes[0].text);
        EXPECT_EQ("PylSoft Batch Converter", boxes[0].caption);
        EXPECT_EQ((UINT)(MB_YESNO | MB_ICONINFORMATION), boxes[0].type);
        char ownerClass[64] = {};
        GetClassNameA(boxes[0].owner, ownerClass, sizeof(ownerClass));
        EXPECT_STREQ("PylSplashWnd", ownerClass);
        EXPECT_EQ(c.opened ? std::vector<std::string>{c.address} : std::vector<std::string>{}, shellOpened);
        EXPECT_EQ((std::vector<std::string>{"Checking for program updates...", "Loading Input modules..."}),
                  CheckStatuses());
        ASSERT_TRUE(app.Close());
        std::lock_guard<std::mutex> lock(s_statusLock);
        s_statuses.clear();
    }
}

TEST_F(StartupUpdate, AutomaticUpdateRunsTheManagersOwnAction)
{
    // The update manager's own box is system modal: found by its caption and closed.
    std::string boxText;
    std::thread closer([&] {
        HWND box = nullptr;
        if (!WaitUntil([&] { return (box = FindWindowA("#32770", "PylSoft Update Manager")) != nullptr; }, 30000))
            return;
        for (HWND c = FindWindowExA(box, nullptr, "Static", nullptr); c; c = FindWindowExA(box, c, "Static", nullptr))
            boxText += Text(c);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    bool started = StartWith("AUTOMATIC\r\nhttp://dl.example/auto.exe\r\n");
    closer.join();
    ASSERT_TRUE(started);
    EXPECT_NE(std::string::npos, boxText.find("Ouch! Don't know how to make an automatic update!")) << boxText;
    EXPECT_EQ((std::vector<std::string>{"Checking for program updates...", "Starting automatic update...",
                                        "Loading Input modules..."}),
              CheckStatuses());
    EXPECT_TRUE(ShownBoxes().empty());
    EXPECT_TRUE(shellOpened.empty());
}

// ---- a running batch on the Processing page ------------------------------------

// The engine's clock for the run: start times fixed, the display's millisecond
// count set by the test.
struct ScriptedClock : EngineClock {
    int start = 0;
    std::atomic<unsigned> ticks{0};
    int Now() override { return start; }
    void Sleep(int ms) override { ::Sleep((DWORD)ms); }
    unsigned Ticks() override { return ticks.load(); }
};

// hh:mm:ss of whole seconds, as "%00h:%00m:%00s" formats a duration.
std::string Hms(double seconds)
{
    long long s = (long long)seconds;
    char text[32];
    snprintf(text, sizeof(text), "%02lld:%02lld:%02lld", s / 3600 % 24, s / 60 % 60, s % 60);
    return text;
}

std::string Format(const char* format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

class RunningBatch : public Wizard {
protected:
    void SetUp() override
    {
        Wizard::SetUp();
        while (WaitForSingleObject(fakes::readGrants, 0) == WAIT_OBJECT_0) {
        }
        fakes::gateReads = 1;
        fakes::blocksRead = 0;
        fakes::bytesWritten = 0;
        clock.start = (int)time(nullptr) - 100;
        g_seams.engineClock = &clock;
    }
    void TearDown() override
    {
        fakes::gateReads = 0;
        ReleaseSemaphore(fakes::readGrants, 100, nullptr);
        Wizard::TearDown();
        g_host.pauseFlag = 0;
    }
    // Lets `blocks` more blocks through and waits until the engine asks for the next.
    bool Grant(int blocks)
    {
        int target = fakes::blocksRead.load() + blocks;
        elapsedLo = (int)time(nullptr) - clock.start;
        ReleaseSemaphore(fakes::readGrants, blocks, nullptr);
        bool ok = WaitUntil([&] { return fakes::blocksRead.load() == target && fakes::readsWaiting.load() == 1; });
        elapsedHi = (int)time(nullptr) - clock.start;
        return ok;
    }
    // The texts a block shows for each whole second the engine may have taken
    // as "now" while it ran: ETA = elapsed / done x (total - done).
    std::set<std::string> Expected(const std::function<std::string(double elapsed)>& text)
    {
        std::set<std::string> out;
        for (int e = elapsedLo; e <= elapsedHi; e++)
            out.insert(text((double)e));
        return out;
    }
    std::string Title() { return Text(Main()); }
    int Bar(int id) { return (int)SendDlgItemMessageA(Page(PageProcessing), id, PBM_GETPOS, 0, 0); }
    std::string PageText(int id) { return Text(Item(Page(PageProcessing), id)); }
    // What the display shows after `blocks` blocks of a 2.5 s track (the fake
    // input's position is blocks x 0.1 s) in a batch of two such tracks:
    // processed seconds before it, the files left, the block's peak and the
    // track's highest.
    void ExpectBlockShown(const std::string& path, double processed, int blocks, int remaining, double peak,
                          double highest)
    {
        const double duration = 2.5, total = 5.0, pos = blocks * 0.1;
        double overall = processed + pos;
        auto general = Expected([&](double e) {
            return Format(Tr("General: %0.1f%%, ETA: %s\nRemaining: %d files.",
                             "General: %0.1f%%, Restante: %s\nFaltan: %d archivos."),
                          overall * 100 / total, Hms(e / overall * (total - overall)).c_str(), remaining);
        });
        EXPECT_EQ(1u, general.count(PageText(IDC_GENERAL_TEXT))) << PageText(IDC_GENERAL_TEXT);
        auto track = Expected([&](double e) {
            return Format(Tr("Current track: %s (%0.1f%%), ETA: %s\nFile name: %s",
                             "Track actual: %s (%0.1f%%), Restante: %s\nArchivo: %s"),
                          Hms(pos).c_str(), pos * 100 / duration, Hms(e / pos * (duration - pos)).c_str(),
                          path.c_str());
        });
        EXPECT_EQ(1u, track.count(PageText(IDC_TRACK_TEXT))) << PageText(IDC_TRACK_TEXT);
        auto title = Expected([&](double e) {
            return Format(Tr("%s - %0.1f%% (ETA: %s) Remaining: %d files.",
                             "%s - %0.1f%% (Restante: %s) Faltan: %d archivos."),
                          "PylSoft Batch Converter", overall * 100 / total,
                          Hms(e / overall * (total - overall)).c_str(), remaining);
        });
        EXPECT_EQ(1u, title.count(Title())) << Title();
        EXPECT_EQ(Format(Tr("Level: %sdB\nPeak: %sdB", "Nivel: %sdB\nPico: %sdB"),
                         Format("%02.1f", 20 * log10(peak)).c_str(), Format("%02.1f", 20 * log10(highest)).c_str()),
                  PageText(IDC_LEVEL_TEXT));
        EXPECT_EQ((int)overall, Bar(IDC_GENERAL_BAR));
        EXPECT_EQ((int)(pos * 1000), Bar(IDC_TRACK_BAR));
        EXPECT_EQ((int)(peak * 100), Bar(IDC_LEVEL_BAR));
    }

    ScriptedClock clock;
    int elapsedLo = 0, elapsedHi = 0;
};

TEST_F(RunningBatch, DisplayFollowsTheBlocksAndThePauseHoldsTheTitle)
{
    std::string folder = dir + "\\in";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string a = folder + "\\a.fak", b = folder + "\\b.fak";
    ASSERT_TRUE(app.Start());
    Click(Main(), IDC_NEXT);
    static const char names[] = "\0b.fak\0a.fak";
    nextOpenFiles = folder + std::string(names, sizeof(names) - 1);
    Click(Page(PageFiles), IDC_ADD_FILES);
    ASSERT_EQ(ListRows(Item(Page(PageFiles), IDC_FILE_LIST)).size(), 2u);
    for (int i = 0; i < 3; i++)
        Click(Main(), IDC_NEXT);
    ASSERT_EQ(CurrentPage(), PageProcessing);
    HWND proc = Page(PageProcessing);
    ASSERT_TRUE(SelectByData(proc, IDC_WHEN_DONE, 144));
    Click(Main(), IDC_NEXT);  // Encode

    // The prescan's last row is shown while the first track opens.
    ASSERT_TRUE(WaitUntil([] { return fakes::readsWaiting.load() == 1; }));
    EXPECT_EQ(Format(Tr("Total encoding time: %s", "Tiempo total de codificaci\xF3n: %s"), "00:00:05"),
              PageText(IDC_GENERAL_TEXT));
    EXPECT_EQ(Format(Tr("Current track: %s\nTime: %s", "Track actual: %s\nDuraci\xF3n: %s"), b.c_str(), "00:00:02"),
              PageText(IDC_TRACK_TEXT));

    // Block amplitudes 8192, 4096, 16384, 4096... of full scale 32768.
    ASSERT_TRUE(Grant(1));  // the first block of a track is always shown
    ExpectBlockShown(a, 0, 1, 1, 0.25, 0.25);
    clock.ticks = 50;
    ASSERT_TRUE(Grant(1));  // 50 ms later: not shown
    EXPECT_EQ(100, Bar(IDC_TRACK_BAR));
    clock.ticks = 110;
    ASSERT_TRUE(Grant(1));  // 110 ms after the last one shown
    ExpectBlockShown(a, 0, 3, 1, 0.5, 0.5);

    // Pause: the block read before it is shown, then "Paused" stays for the
    // whole pause.
    Click(proc, IDC_PAUSE);
    ReleaseSemaphore(fakes::readGrants, 1, nullptr);
    std::string paused = Format(Tr("%s - Paused", "%s - En pausa"), "PylSoft Batch Converter");
    ASSERT_TRUE(WaitUntil([&] { return Title() == paused; }));
    EXPECT_EQ(4, fakes::blocksRead.load());
    EXPECT_EQ(400, Bar(IDC_TRACK_BAR));
    EXPECT_EQ(Format(Tr("Level: %sdB\nPeak: %sdB", "Nivel: %sdB\nPico: %sdB"), "-18.1", "-6.0"),
              PageText(IDC_LEVEL_TEXT));
    for (int i = 0; i < 6; i++) {
        Sleep(60);
        EXPECT_EQ(paused, Title());
    }
    EXPECT_EQ(4, fakes::blocksRead.load());

    // Continue: the next block is shown at once, whatever the clock says.
    Click(proc, IDC_PAUSE);
    ASSERT_TRUE(WaitUntil([] { return fakes::readsWaiting.load() == 1; }));
    ASSERT_TRUE(Grant(1));
    ExpectBlockShown(a, 0, 5, 1, 0.125, 0.5);

    // The rest of the track goes by unshown, but its last block is shown.
    ASSERT_TRUE(Grant(20));
    ExpectBlockShown(a, 0, 25, 1, 0.125, 0.5);

    ASSERT_TRUE(Grant(1));  // the second track starts on its own first block
    ExpectBlockShown(b, 2.5, 1, 0, 0.25, 0.25);
    fakes::gateReads = 0;
    ReleaseSemaphore(fakes::readGrants, 1, nullptr);
    ASSERT_TRUE(WaitUntil([] { return !ShownBoxes().empty(); }));
    EXPECT_EQ(2 * 25 * 17640, fakes::bytesWritten.load());
    EXPECT_EQ(0, fakes::encodersOpen.load());
}

class FilesPage : public Wizard {
protected:
    void MakeFiles(const std::string& folder, int count, const char* ext = ".fak")
    {
        CreateDirectoryA(folder.c_str(), nullptr);
        for (int i = 0; i < count; i++) {
            char name[32];
            snprintf(name, sizeof(name), "\\f%04d%s", i, ext);
            vqtest::WriteFile(folder + name, "x", 1);
        }
    }
    bool ScanControlsEnabled()
    {
        HWND files = Page(PageFiles);
        return Enabled(Main(), IDC_PREVIOUS) && Enabled(Main(), IDC_NEXT) && Enabled(files, IDC_ADD_FILES) &&
               Enabled(files, IDC_ADD_FOLDER) && Enabled(files, IDC_REMOVE) && Enabled(files, IDC_REMOVE_ALL);
    }
    bool AnyScanControlEnabled()
    {
        HWND files = Page(PageFiles);
        return Enabled(Main(), IDC_PREVIOUS) || Enabled(Main(), IDC_NEXT) || Enabled(files, IDC_ADD_FILES) ||
               Enabled(files, IDC_ADD_FOLDER) || Enabled(files, IDC_REMOVE) || Enabled(files, IDC_REMOVE_ALL);
    }
    std::string CountText() { return Text(Item(Page(PageFiles), IDC_FILE_COUNT)); }
    std::string Files(int n)
    {
        char buf[64];
        snprintf(buf, sizeof(buf), Tr("%d files", "%d archivos"), n);
        return buf;
    }
};

TEST_F(FilesPage, AddedFilesAreSortedAndRemoved)
{
    ASSERT_TRUE(app.Start());
    Click(Main(), IDC_NEXT);
    HWND files = Page(PageFiles);
    HWND list = Item(files, IDC_FILE_LIST);
    std::string folder = dir + "\\in";
    CreateDirectoryA(folder.c_str(), nullptr);
    static const char names[] = "\0b.fak\0a.fak\0unreadable.fak\0notes.txt";
    nextOpenFiles = folder + std::string(names, sizeof(names) - 1);
    Click(files, IDC_ADD_FILES);
    auto rows = ListRows(list);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], folder + "\\a.fak");
    EXPECT_EQ(rows[1], folder + "\\b.fak");
    EXPECT_EQ(ListRows(list, 1)[0], "128Kbps");
    EXPECT_EQ(ListRows(list, 2)[0], "0:00:02");
    EXPECT_EQ(CountText(), Files(2));

    nextOpenFiles = folder + "\\a.fak";  // one full path; the same file twice gives two rows
    Click(files, IDC_ADD_FILES);
    EXPECT_EQ(ListRows(list).size(), 3u);
    EXPECT_EQ(g_host.fileCount.load(), 3);

    Click(files, IDC_REMOVE);  // nothing selected
    EXPECT_EQ(ListRows(list).size(), 3u);
    EXPECT_EQ(CountText(), Files(3));
    LVITEMA sel = {};
    sel.stateMask = sel.state = LVIS_SELECTED;
    SendMessageA(list, LVM_SETITEMSTATE, 0, (LPARAM)&sel);
    SendMessageA(list, LVM_SETITEMSTATE, 2, (LPARAM)&sel);
    Click(files, IDC_REMOVE);
    ASSERT_EQ(ListRows(list).size(), 1u);
    EXPECT_EQ(CountText(), Files(1));

    // A path too long for a row is left out, never cut into another name.
    std::string longName(250 - folder.size(), 'n');
    nextOpenFiles = folder + "\\" + longName + ".fak";
    ASSERT_GT(nextOpenFiles.size(), 254u);
    Click(files, IDC_ADD_FILES);
    EXPECT_EQ(ListRows(list).size(), 1u);

    Click(files, IDC_REMOVE_ALL);
    EXPECT_TRUE(ListRows(list).empty());
    EXPECT_EQ(CountText(), Files(0));
    EXPECT_EQ(g_host.fileCount.load(), 0);
}

TEST_F(FilesPage, ConcurrentScansCountEveryFileAndHoldTheButtonsUntilTheLastEnds)
{
    std::string a = dir + "\\A", b = dir + "\\B";
    MakeFiles(a, 120);
    MakeFiles(a + "\\deeper", 80);
    MakeFiles(a + "\\deeper", 5, ".txt");
    MakeFiles(b, 150);
    ASSERT_TRUE(app.Start());
    Click(Main(), IDC_NEXT);
    HWND files = Page(PageFiles);
    HWND list = Item(files, IDC_FILE_LIST);

    ResetEvent(fakes::gates[0]);
    ResetEvent(fakes::gates[1]);
    nextFolder = a;
    Click(files, IDC_ADD_FOLDER);
    DropFiles(files, {b});
    EXPECT_EQ(ActiveFolderScans(), 2);
    EXPECT_FALSE(AnyScanControlEnabled());

    // A scan adds its rows through the UI thread: on a busy machine that takes a while.
    SetEvent(fakes::gates[0]);
    ASSERT_TRUE(WaitUntil([] { return ActiveFolderScans() == 1; }, 60000));
    Sleep(100);
    EXPECT_FALSE(AnyScanControlEnabled()) << "controls came back while a scan still runs";
    EXPECT_EQ(ListRows(list).size(), 200u);

    SetEvent(fakes::gates[1]);
    ASSERT_TRUE(WaitUntil([] { return ActiveFolderScans() == 0; }, 60000));
    EXPECT_TRUE(ScanControlsEnabled());
    EXPECT_EQ(ListRows(list).size(), 350u);
    EXPECT_EQ(g_host.fileCount.load(), 350);
    EXPECT_EQ(CountText(), Files(350));
    auto rows = ListRows(list);
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [&](const std::string& r) { return r.find(a + "\\deeper\\") == 0; }), 80);
}

TEST_F(FilesPage, StopFlagEndsARunningScan)
{
    std::string a = dir + "\\A";
    MakeFiles(a, 200);
    ASSERT_TRUE(app.Start());
    Click(Main(), IDC_NEXT);
    HWND files = Page(PageFiles);
    ResetEvent(fakes::gates[0]);
    nextFolder = a;
    Click(files, IDC_ADD_FOLDER);
    ASSERT_TRUE(WaitUntil([] { return fakes::tagCalls.load() > 0; }));
    g_host.stopFlag = 1;
    SetEvent(fakes::gates[0]);
    ASSERT_TRUE(WaitUntil([] { return ActiveFolderScans() == 0; }));
    EXPECT_LE(ListRows(Item(files, IDC_FILE_LIST)).size(), 1u);
    EXPECT_TRUE(ScanControlsEnabled());
    g_host.stopFlag = 0;
}

}  // namespace

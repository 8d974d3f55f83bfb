// Binds the window-free engine interface to the wizard's pages: the Files
// page's list as the rows, the Processing page as the progress display, the
// other pages as the run's actions and settings.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <string.h>
#include "capture_engine.h"
#include "engine.h"
#include "host_state.h"
#include "pages.h"
#include "resource.h"

namespace {

const UINT kEngineTextBase = 200;   // shared engine texts 0..
const UINT kCaptureTextBase = 300;  // capture texts 100..

int __cdecl HostEngineText(int id, char* buf, int size)
{
    if (!buf || size <= 0)
        return 0;
    if (id >= 0 && id < EngineTextCount)
        return LoadStringA(g_host.hInstance, kEngineTextBase + id, buf, size);
    if (id >= 100 && id < 100 + 16)
        return LoadStringA(g_host.hInstance, kCaptureTextBase + (id - 100), buf, size);
    return 0;
}

// The Processing page as the engines' display: every call goes to the page's
// controls (and the main window's title) by a message carried out by the UI
// thread. The engines pace their updates to about ten a second.
class PageSink : public EngineProgressSink {
public:
    void SetBarRange(Bar bar, int maximum) override
    {
        SendDlgItemMessageA(Page(), BarId(bar), PBM_SETRANGE32, 0, maximum);
    }
    void SetBarPos(Bar bar, int position) override
    {
        SendDlgItemMessageA(Page(), BarId(bar), PBM_SETPOS, position, 0);
    }
    void SetText(Text which, const char* text) override { SetDlgItemTextA(Page(), TextId(which), text ? text : ""); }
    void SetTitle(const char* text) override { SetWindowTextA(g_host.mainDialog, text ? text : ""); }
    void EnablePause(bool enable) override { EnableWindow(GetDlgItem(Page(), IDC_PAUSE), enable); }
    void EnableNavigation() override
    {
        EnableWindow(GetDlgItem(g_host.mainDialog, IDC_PREVIOUS), TRUE);
        EnableWindow(GetDlgItem(g_host.mainDialog, IDC_NEXT), TRUE);
    }
    void RestoreTitle() override { ShowProgramTitle(); }

private:
    static HWND Page() { return g_host.pages[PageProcessing]; }
    static int BarId(Bar b) { return b == BarGeneral ? IDC_GENERAL_BAR : b == BarTrack ? IDC_TRACK_BAR : IDC_LEVEL_BAR; }
    static int TextId(Text t) { return t == TextGeneral ? IDC_GENERAL_TEXT : t == TextTrack ? IDC_TRACK_TEXT : IDC_LEVEL_TEXT; }
};

class ListRows : public EngineFileRows {
public:
    int Count() override { return (int)SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0); }
    bool PathAt(int row, char* buf, int size) override
    {
        if (row < 0 || row >= Count() || size <= 0)
            return false;
        char text[EnginePathChars] = {};
        LVITEMA item = {};
        item.pszText = text;
        item.cchTextMax = sizeof(text);
        int len = (int)SendMessageA(List(), LVM_GETITEMTEXTA, row, (LPARAM)&item);
        if (len <= 0 || len >= size)
            return false;
        memcpy(buf, text, len + 1);
        return true;
    }
    bool TakeFirst(char* buf, int size) override
    {
        if (Count() <= 0)
            return false;
        bool ok = PathAt(0, buf, size);
        SendMessageA(List(), LVM_DELETEITEM, 0, 0);
        if (!ok && size > 0)
            buf[0] = 0;  // the row is gone either way; an empty path matches no module
        return true;
    }

private:
    static HWND List() { return GetDlgItem(g_host.pages[PageFiles], IDC_FILE_LIST); }
};

class PageActions : public EngineActions {
public:
    void RebuildDspChain(int chain[EngineMaxChain]) override
    {
        BuildDspChain(g_host.pages[PageDsp]);
        // The run keeps its own copy: closing the window rebuilds the shared chain.
        memcpy(chain, g_host.dspChain, sizeof(int) * EngineMaxChain);
    }
    int ThreadPriority() override
    {
        HWND list = GetDlgItem(g_host.pages[PageProcessing], IDC_PRIORITY);
        int sel = (int)SendMessageA(list, CB_GETCURSEL, 0, 0);
        return sel == CB_ERR ? THREAD_PRIORITY_NORMAL : (int)SendMessageA(list, CB_GETITEMDATA, sel, 0);
    }
    bool DeleteOriginals() override { return HostInt16(SetDeleteOriginals) != 0; }
    void WhenDone(const EngineRunSummary& summary) override { PerformWhenDone(&summary); }
    void RecordingTags(TrackInfo* info) override
    {
        HWND page = g_host.pages[PageSource];
        GetDlgItemTextA(page, IDC_TAG_TITLE, info->title, 128);
        GetDlgItemTextA(page, IDC_TAG_AUTHOR, info->author, 128);
        GetDlgItemTextA(page, IDC_TAG_ALBUM, info->album, 128);
        GetDlgItemTextA(page, IDC_TAG_GENRE, info->genre, 128);
        GetDlgItemTextA(page, IDC_TAG_YEAR, info->year, 16);
        GetDlgItemTextA(page, IDC_TAG_DESCRIPTION, info->description, 255);
    }
};

// The recording settings as the Encoder page left them, read for every block.
class HostCaptureSettings : public CaptureSettings {
public:
    int TimeLimit() override { return HostInt32(SetTimeLimit); }
    bool SilenceDetection() override { return HostInt16(SetSilenceDetection) != 0; }
    double SilenceLength() override { return HostDouble(SetSilenceLength); }
    double MaximumSilence() override { return HostDouble(SetMaximumSilence); }
};

struct Run {
    EngineContext ctx;
    PageSink sink;
    ListRows rows;
    PageActions actions;
    bool files;
    HostCaptureSettings captureSettings;
};

int SelectedData(int page, int control)
{
    HWND list = GetDlgItem(g_host.pages[page], control);
    int sel = (int)SendMessageA(list, CB_GETCURSEL, 0, 0);
    return sel == CB_ERR ? -1 : (int)SendMessageA(list, CB_GETITEMDATA, sel, 0);
}

DWORD WINAPI EngineThread(LPVOID param)
{
    Run* run = static_cast<Run*>(param);
    if (run->files) {
        ProccessFiles(&run->ctx);
    } else if (ProccessLiveInput(&run->ctx, &run->captureSettings) < 0) {
        run->sink.EnableNavigation();
    }
    delete run;
    return 0;
}

} // namespace

HANDLE StartEngineWorker(bool files)
{
    Run* run = new Run;
    run->files = files;
    EngineContextInit(&run->ctx);
    run->ctx.modules = {g_host.inputModules, g_host.encoderModules, g_host.captureModules, g_host.dspModules};
    run->ctx.encoderIndex = SelectedData(PageEncoder, IDC_ENC_LIST);
    run->ctx.captureIndex = files ? -1 : SelectedData(PageSource, IDC_SOURCE_LIST);
    run->ctx.files = &run->rows;
    run->ctx.sink = &run->sink;
    run->ctx.actions = &run->actions;
    run->ctx.stopFlag = &g_host.stopFlag;
    run->ctx.pauseFlag = &g_host.pauseFlag;
    run->ctx.displayName = g_hostModule.h.DisplayName;
    run->ctx.logFile = HostLogFile();
    run->ctx.logLevel = HostLogLevel();
    run->ctx.text = HostEngineText;
    run->ctx.clock = g_seams.engineClock;
    DWORD id;
    HANDLE thread = CreateThread(nullptr, 0, EngineThread, run, 0, &id);
    if (!thread) {
        delete run;
        EnableWindow(GetDlgItem(g_host.mainDialog, IDC_PREVIOUS), TRUE);
        EnableWindow(GetDlgItem(g_host.mainDialog, IDC_NEXT), TRUE);
    }
    return thread;
}

int __cdecl HostLoaderText(unsigned id, char* buf, int size)
{
    return LoadStringA(g_host.hInstance, id, buf, size);
}

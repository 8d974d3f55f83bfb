#include "gui_harness.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <set>
#include "host_state.h"
#include "pages.h"

namespace gui {

bool Spanish()
{
    const char* l = getenv("LC_ALL");
    return l && strncmp(l, "es", 2) == 0;
}

std::string HostIni()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string p = path;
    return p.substr(0, p.rfind('.')) + ".ini";
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

static DWORD WINAPI AppBody(LPVOID) { return (DWORD)HostMain(GetModuleHandleA(nullptr)); }

bool App::Start()
{
    // These tests run the program several times in one process. The splash of
    // an earlier run fades out on its own thread with the host's splash record
    // and window class: a new run that reset the record would leave it up for
    // good and show none of its own. Let it finish first.
    WNDCLASSA splashClass;
    if (!WaitUntil([&] { return !GetClassInfoA(GetModuleHandleA(nullptr), "PylSplashWnd", &splashClass); }, 30000))
        return false;
    g_host.ready = 0;
    thread = CreateThread(nullptr, 0, AppBody, nullptr, 0, nullptr);
    return thread && WaitUntil([] { return g_host.ready.load() == 1; }, 30000);
}

bool App::Close()
{
    if (!thread)
        return true;
    if (g_host.mainDialog)
        PostMessageA(g_host.mainDialog, WM_CLOSE, 0, 0);
    bool ended = WaitForSingleObject(thread, 60000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    thread = nullptr;
    return ended;
}

HWND Page(int page) { return g_host.pages[page]; }
HWND Item(HWND parent, int id) { return GetDlgItem(parent, id); }

std::string Text(HWND wnd)
{
    char buf[2048] = {};
    SendMessageA(wnd, WM_GETTEXT, sizeof(buf), (LPARAM)buf);
    return buf;
}

void Click(HWND parent, int id)
{
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(parent, id));
}

bool SelectByData(HWND parent, int comboId, int data)
{
    HWND combo = GetDlgItem(parent, comboId);
    int n = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; i++) {
        if ((int)SendMessageA(combo, CB_GETITEMDATA, i, 0) == data) {
            SendMessageA(combo, CB_SETCURSEL, i, 0);
            SendMessageA(parent, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), (LPARAM)combo);
            return true;
        }
    }
    return false;
}

int SelectedData(HWND parent, int comboId)
{
    HWND combo = GetDlgItem(parent, comboId);
    int sel = (int)SendMessageA(combo, CB_GETCURSEL, 0, 0);
    return sel == CB_ERR ? -100 : (int)SendMessageA(combo, CB_GETITEMDATA, sel, 0);
}

int CurrentPage()
{
    int found = -1;
    for (int i = 0; i < PageCount; i++) {
        if (GetWindowLongA(g_host.pages[i], GWL_STYLE) & WS_VISIBLE) {
            if (found >= 0)
                return -1;
            found = i;
        }
    }
    return found;
}

std::vector<std::string> ListRows(HWND list, int column)
{
    std::vector<std::string> rows;
    int n = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    for (int i = 0; i < n; i++) {
        char text[1024] = {};
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = sizeof(text);
        SendMessageA(list, LVM_GETITEMTEXTA, i, (LPARAM)&item);
        rows.push_back(text);
    }
    return rows;
}

void SetEditText(HWND parent, int id, const char* text)
{
    SendMessageA(GetDlgItem(parent, id), WM_SETTEXT, 0, (LPARAM)text);
}

void DropFiles(HWND target, const std::vector<std::string>& paths)
{
    size_t bytes = sizeof(DROPFILES) + 1;
    for (auto& p : paths)
        bytes += p.size() + 1;
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    DROPFILES* df = (DROPFILES*)GlobalLock(mem);
    df->pFiles = sizeof(DROPFILES);
    char* out = (char*)(df + 1);
    for (auto& p : paths) {
        memcpy(out, p.c_str(), p.size() + 1);
        out += p.size() + 1;
    }
    GlobalUnlock(mem);
    SendMessageA(target, WM_DROPFILES, (WPARAM)mem, 0);
}

int SaveScreenshot(HWND wnd, const std::string& path)
{
    RECT r;
    GetWindowRect(wnd, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    int stride = (w * 3 + 3) & ~3;
    std::set<unsigned> colours;
    const unsigned char* px = (const unsigned char*)bits;
    for (int y = 0; y < h; y += 2)
        for (int x = 0; x < w; x += 2) {
            const unsigned char* p = px + y * stride + x * 3;
            colours.insert(p[0] | p[1] << 8 | p[2] << 16);
        }
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
    fh.bfSize = fh.bfOffBits + stride * h;
    FILE* f = fopen(path.c_str(), "wb");
    if (f) {
        fwrite(&fh, sizeof(fh), 1, f);
        fwrite(&bi.bmiHeader, sizeof(bi.bmiHeader), 1, f);
        fwrite(bits, stride * h, 1, f);
        fclose(f);
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return (int)colours.size();
}

static std::mutex s_boxLock;
static std::vector<ShownBox> s_boxes;

std::vector<ShownBox> ShownBoxes()
{
    std::lock_guard<std::mutex> lock(s_boxLock);
    return s_boxes;
}

void ClearShownBoxes()
{
    std::lock_guard<std::mutex> lock(s_boxLock);
    s_boxes.clear();
}

int nextBoxAnswer = IDOK;

int WINAPI FakeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    std::lock_guard<std::mutex> lock(s_boxLock);
    s_boxes.push_back({text ? text : "", caption ? caption : "", owner, type});
    return nextBoxAnswer;
}

std::string nextFolder;
BOOL FakeBrowse(HWND, const char*, char* path)
{
    if (nextFolder.empty())
        return FALSE;
    lstrcpynA(path, nextFolder.c_str(), MAX_PATH);
    return TRUE;
}

std::string nextOpenFiles;
BOOL WINAPI FakeOpenFile(OPENFILENAMEA* ofn)
{
    if (nextOpenFiles.empty() || nextOpenFiles.size() + 2 > ofn->nMaxFile)
        return FALSE;
    memcpy(ofn->lpstrFile, nextOpenFiles.data(), nextOpenFiles.size());
    ofn->lpstrFile[nextOpenFiles.size()] = 0;
    ofn->lpstrFile[nextOpenFiles.size() + 1] = 0;
    size_t first = strlen(ofn->lpstrFile);
    if (first == nextOpenFiles.size()) {  // one full path
        const char* slash = strrchr(ofn->lpstrFile, '\\');
        ofn->nFileOffset = slash ? (WORD)(slash - ofn->lpstrFile + 1) : 0;
    } else {
        ofn->nFileOffset = (WORD)(first + 1);
    }
    return TRUE;
}

std::vector<std::string> shellOpened;
HINSTANCE WINAPI FakeShellOpen(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR, INT)
{
    shellOpened.push_back(file ? file : "");
    return (HINSTANCE)33;
}

std::vector<UINT> exitRequests;
BOOL WINAPI FakeExitWindows(UINT flags, DWORD)
{
    exitRequests.push_back(flags);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

}  // namespace gui

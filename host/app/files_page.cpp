// Files page: the sorted list of files to convert, the add buttons, drops and
// the recursive folder-scan threads.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <stdio.h>
#include <string.h>
#include <atomic>
#include <initializer_list>
#include "host_state.h"
#include "module_loader.h"
#include "pages.h"
#include "pyl_comlib.h"
#include "resource.h"

namespace {

// Messages the page sends or posts to itself.
enum : UINT {
    FILES_ADDROW = WM_APP + 10,   // lParam: const TrackInfo*, wParam: input index
    FILES_SCANDONE = WM_APP + 11, // posted by a scan thread when it ends
};

const int kRowPathMax = 254;
std::atomic<int> s_activeScans{0};
HBRUSH s_brush;

HWND FilesPage() { return g_host.pages[PageFiles]; }

void WriteCountText()
{
    HWND page = FilesPage();
    if (!page)
        return;
    char text[128];
    snprintf(text, sizeof(text), LoadStr(IDS_FILE_COUNT), g_host.fileCount.load());
    SetDlgItemTextA(page, IDC_FILE_COUNT, text);
}

void EnableScanControls(BOOL enable)
{
    EnableWindow(GetDlgItem(g_host.mainDialog, IDC_PREVIOUS), enable);
    EnableWindow(GetDlgItem(g_host.mainDialog, IDC_NEXT), enable);
    for (int id = IDC_ADD_FILES; id <= IDC_REMOVE_ALL; id++)
        EnableWindow(GetDlgItem(FilesPage(), id), enable);
}

// Appends name to folder with a "\" between them; false when the result would not fit.
bool JoinPath(char* out, size_t size, const char* folder, const char* name)
{
    size_t fl = strlen(folder);
    bool slash = fl > 0 && folder[fl - 1] == '\\';
    int n = snprintf(out, size, slash ? "%s%s" : "%s\\%s", folder, name);
    return n >= 0 && (size_t)n < size;
}

void AddChosenFile(const char* path)
{
    int owner = FindInputOwner(path);
    if (owner >= 0)
        AddFileToList(path, owner);
    WriteCountText();
}

void InsertRow(HWND page, const TrackInfo* info, int inputIndex)
{
    HWND list = GetDlgItem(page, IDC_FILE_LIST);
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = 0x7FFFFFFF;
    item.pszText = const_cast<char*>(info->path);
    item.iImage = inputIndex;
    int row = (int)SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
    if (row < 0)
        return;
    char bitrate[32], duration[64];
    snprintf(bitrate, sizeof(bitrate), "%dKbps", info->bitrate / 1000);
    FormatTime(duration, sizeof(duration), "%0h:%00m:%00s", info->duration);
    LVITEMA sub = {};
    sub.iSubItem = 1;
    sub.pszText = bitrate;
    SendMessageA(list, LVM_SETITEMTEXTA, row, (LPARAM)&sub);
    sub.iSubItem = 2;
    sub.pszText = duration;
    SendMessageA(list, LVM_SETITEMTEXTA, row, (LPARAM)&sub);
    g_host.fileCount.fetch_add(1);
}

void AddFiles(HWND page)
{
    char* filter = BuildFilterText(g_host.inputModules);
    const DWORD size = 65535;
    char* names = (char*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
    if (!names) {
        if (filter)
            HeapFree(GetProcessHeap(), 0, filter);
        return;
    }
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = page;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = names;
    ofn.nMaxFile = size;
    ofn.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    if (g_seams.getOpenFileName(&ofn)) {
        if (strlen(names) < ofn.nFileOffset) {
            const char* folder = names;
            for (const char* name = names + strlen(names) + 1; *name; name += strlen(name) + 1) {
                char path[MAX_PATH];
                if (JoinPath(path, sizeof(path), folder, name))
                    AddChosenFile(path);
            }
        } else {
            AddChosenFile(names);
        }
    }
    HeapFree(GetProcessHeap(), 0, names);
    if (filter)
        HeapFree(GetProcessHeap(), 0, filter);
}

void RemoveSelected(HWND page)
{
    HWND list = GetDlgItem(page, IDC_FILE_LIST);
    for (;;) {
        int row = (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
        if (row < 0)
            break;
        SendMessageA(list, LVM_DELETEITEM, row, 0);
        g_host.fileCount.fetch_sub(1);
    }
    WriteCountText();
}

void AddDropped(HDROP drop)
{
    UINT n = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = n; i-- > 0;) {
        UINT len = DragQueryFileA(drop, i, nullptr, 0);
        char* name = (char*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, len + 32);
        if (!name)
            continue;
        DragQueryFileA(drop, i, name, len + 32);
        DWORD attr = GetFileAttributesA(name);
        if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY))
            StartFolderScan(name);
        else if (strlen(name) < MAX_PATH)
            AddChosenFile(name);
        HeapFree(GetProcessHeap(), 0, name);
        WriteCountText();
    }
    DragFinish(drop);
}

void InitImagesAndColumns(HWND page)
{
    HWND list = GetDlgItem(page, IDC_FILE_LIST);
    HIMAGELIST images = ImageList_Create(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                         ILC_COLOR32 | ILC_MASK, 4, 4);
    if (!images)
        return;
    HICON fallback = (HICON)LoadImageA(g_host.hInstance, MAKEINTRESOURCEA(IDI_MODULE), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0);
    for (int i = 0; i < 32 && g_host.inputModules[i]; i++) {
        HICON icon = g_host.inputModules[i]->h.hIcon ? g_host.inputModules[i]->h.hIcon : fallback;
        ImageList_AddIcon(images, icon);
    }
    if (fallback)
        DestroyIcon(fallback);
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, (LPARAM)images);
    struct { UINT text; int width; } cols[] = {{IDS_COL_DURATION, 60}, {IDS_COL_BITRATE, 60}, {IDS_COL_FILE, 220}};
    for (auto& c : cols) {
        LVCOLUMNA col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.cx = c.width;
        col.pszText = const_cast<char*>(LoadStr(c.text));
        SendMessageA(list, LVM_INSERTCOLUMNA, 0, (LPARAM)&col);
    }
}

} // namespace

int FindInputOwner(const char* path)
{
    for (int i = 0; i < 32 && g_host.inputModules[i]; i++) {
        IVqProModule* m = g_host.inputModules[i];
        if (m->input.IsOurFile && m->input.IsOurFile(path))
            return i;
    }
    return -1;
}

void AddFileToList(const char* path, int inputIndex)
{
    if (!path || inputIndex < 0 || inputIndex >= 32 || !g_host.inputModules[inputIndex])
        return;
    // A path that does not fit a row is left out rather than cut into another file's name.
    if (strlen(path) > (size_t)kRowPathMax)
        return;
    TrackInfo info;
    memset(&info, 0, sizeof(info));
    lstrcpynA(info.path, path, kRowPathMax + 1);
    IVqProModule* m = g_host.inputModules[inputIndex];
    if (!m->input.GetTagEx || !m->input.GetTagEx(&info))
        return;
    HWND page = FilesPage();
    if (!page || !IsWindow(page) || !IsWindow(GetDlgItem(page, IDC_FILE_LIST)))
        return;
    // Restore the path (the module may have rewritten the record) and insert the
    // row with its sub-items in one step on the UI thread, so rows added by
    // concurrent scans cannot interleave.
    lstrcpynA(info.path, path, kRowPathMax + 1);
    SendMessageA(page, FILES_ADDROW, inputIndex, (LPARAM)&info);
    WriteCountText();
}

int ScanFolder(const char* folder)
{
    char pattern[MAX_PATH];
    if (!JoinPath(pattern, sizeof(pattern), folder, "*"))
        return 1;
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA(pattern, &fd);
    if (find == INVALID_HANDLE_VALUE)
        return 1;
    do {
        if (g_host.stopFlag.load())
            break;
        char path[MAX_PATH];
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, ".."))
                continue;
            // Junctions and links may loop back up the tree: never follow them.
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                continue;
            if (JoinPath(path, sizeof(path), folder, fd.cFileName))
                ScanFolder(path);
        } else if (JoinPath(path, sizeof(path), folder, fd.cFileName)) {
            int owner = FindInputOwner(path);
            if (owner >= 0)
                AddFileToList(path, owner);
        }
    } while (FindNextFileA(find, &fd));
    FindClose(find);
    return 1;
}

DWORD WINAPI ScanFolderThread(LPVOID param)
{
    char* folder = static_cast<char*>(param);
    ScanFolder(folder);
    HeapFree(GetProcessHeap(), 0, folder);
    PostMessageA(FilesPage(), FILES_SCANDONE, 0, 0);
    return 0;
}

bool StartFolderScan(const char* folder)
{
    size_t len = strlen(folder);
    char* copy = (char*)HeapAlloc(GetProcessHeap(), 0, len + 1);
    if (!copy)
        return false;
    memcpy(copy, folder, len + 1);
    // The count of running scans is changed only on the UI thread (here and in
    // FILES_SCANDONE), so the controls come back only when the last scan ends.
    if (s_activeScans.fetch_add(1) == 0)
        EnableScanControls(FALSE);
    DWORD id;
    HANDLE thread = CreateThread(nullptr, 0, ScanFolderThread, copy, 0, &id);
    if (!thread) {
        HeapFree(GetProcessHeap(), 0, copy);
        if (s_activeScans.load() == 1)
            EnableScanControls(TRUE);
        s_activeScans.fetch_sub(1);
        return false;
    }
    RegisterHostThread(thread, true);
    return true;
}

int ActiveFolderScans() { return s_activeScans.load(); }

INT_PTR CALLBACK FilesPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result;
    if (PageFrameMessage(page, &s_brush, msg, wParam, lParam, &result))
        return result;
    switch (msg) {
    case WM_INITDIALOG:
        g_host.pages[PageFiles] = page;
        InitImagesAndColumns(page);
        WriteCountText();
        return TRUE;
    case FILES_ADDROW:
        InsertRow(page, reinterpret_cast<const TrackInfo*>(lParam), (int)wParam);
        return TRUE;
    case FILES_SCANDONE:
        // The controls come back before the count drops, so a count of 0
        // seen from another thread means the page is usable again.
        if (s_activeScans.load() == 1)
            EnableScanControls(TRUE);
        s_activeScans.fetch_sub(1);
        return TRUE;
    case WM_DROPFILES:
        AddDropped((HDROP)wParam);
        return TRUE;
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (hdr->idFrom == IDC_FILE_LIST && hdr->code == LVN_KEYDOWN &&
            reinterpret_cast<NMLVKEYDOWN*>(lParam)->wVKey == VK_DELETE)
            RemoveSelected(page);
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_ADD_FILES:
            AddFiles(page);
            return TRUE;
        case IDC_ADD_FOLDER: {
            char folder[MAX_PATH] = {};
            if (g_seams.browseForFolder(page, LoadStr(IDS_BROWSE_FOLDER), folder))
                StartFolderScan(folder);
            return TRUE;
        }
        case IDC_REMOVE:
            RemoveSelected(page);
            return TRUE;
        case IDC_REMOVE_ALL:
            g_host.fileCount = 0;
            SendDlgItemMessageA(page, IDC_FILE_LIST, LVM_DELETEALLITEMS, 0, 0);
            WriteCountText();
            return TRUE;
        }
        break;
    case WM_DESTROY:
        g_host.pages[PageFiles] = nullptr;
        s_activeScans = 0;
        break;
    }
    return FALSE;
}

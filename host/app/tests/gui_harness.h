// Runs the whole program on a thread of the test and drives its windows with
// messages sent from the test thread (the program's thread carries them out).
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace gui {

bool Spanish();
// English or Spanish text, as the resource loader should have chosen.
inline const char* Tr(const char* en, const char* es) { return Spanish() ? es : en; }

std::string HostIni();
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 15000);

class App {
public:
    ~App() { Close(); }
    bool Start();
    bool Close();
    bool running() const { return thread != nullptr; }

private:
    HANDLE thread = nullptr;
};

HWND Page(int page);
HWND Item(HWND parent, int id);
std::string Text(HWND wnd);
void Click(HWND parent, int id);
// Selects the combo box entry with the item data and notifies the parent; false when none has it.
bool SelectByData(HWND parent, int comboId, int data);
int SelectedData(HWND parent, int comboId);
int CurrentPage();  // index of the visible page, -1 when none or several
std::vector<std::string> ListRows(HWND list, int column = 0);
void SetEditText(HWND parent, int id, const char* text);  // raises EN_CHANGE like typing
void DropFiles(HWND target, const std::vector<std::string>& paths);
// Saves the window's pixels as a 24-bit BMP; returns the number of distinct colours seen.
int SaveScreenshot(HWND wnd, const std::string& path);

// Message boxes shown through the seam, newest last.
struct ShownBox {
    std::string text, caption;
    HWND owner;
    UINT type;
};
// What the fake message box answers (IDOK unless a test sets another).
extern int nextBoxAnswer;
std::vector<ShownBox> ShownBoxes();
void ClearShownBoxes();
int WINAPI FakeMessageBox(HWND, LPCSTR text, LPCSTR caption, UINT);
// Next folder the fake folder browser returns (empty: cancelled).
extern std::string nextFolder;
BOOL FakeBrowse(HWND, const char*, char* path);
// Multi-string the fake open-file dialog returns (with its embedded NULs).
extern std::string nextOpenFiles;
BOOL WINAPI FakeOpenFile(OPENFILENAMEA* ofn);
extern std::vector<std::string> shellOpened;
HINSTANCE WINAPI FakeShellOpen(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR, INT);
extern std::vector<UINT> exitRequests;
BOOL WINAPI FakeExitWindows(UINT flags, DWORD);

}  // namespace gui

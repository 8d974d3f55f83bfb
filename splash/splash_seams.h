// Hooks the tests use to stand in for system facts (version, layered windows).
#pragma once
#include <windows.h>

typedef BOOL(WINAPI* SetLayeredAttributesFn)(HWND, COLORREF, BYTE, DWORD);

namespace pylsplash {
// Major version of the system; default reads GetVersionEx.
extern DWORD (*g_majorVersion)(void);
// Finds "SetLayeredWindowAttributes" in user32; NULL when the system lacks it.
extern SetLayeredAttributesFn (*g_lookupLayered)(void);
}  // namespace pylsplash

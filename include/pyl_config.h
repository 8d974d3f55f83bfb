// Exports of the configuration library: the INI settings store and the generic settings dialog.
#pragma once
#include <windows.h>
#include "setting_record.h"

struct IVqProModule;

#ifdef PYLCONFIG_BUILD
#define PYLCONFIG_API extern "C" __declspec(dllexport)
#else
#define PYLCONFIG_API extern "C" __declspec(dllimport)
#endif

PYLCONFIG_API int __cdecl PylConfigRead(SettingRecord* table, int count, const char* section, HINSTANCE module);
PYLCONFIG_API int __cdecl PylConfigWrite(SettingRecord* table, int count, const char* section, HINSTANCE module);
PYLCONFIG_API int __cdecl PylConfigDialog(IVqProModule* module, void* instance, HWND parent, const char* section);

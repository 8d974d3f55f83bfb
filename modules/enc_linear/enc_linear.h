// Shared state of the WAV encoder module (module record, settings template,
// log helper) used by the encoder operations and the configure dialog.
#pragma once
#include <windows.h>
#include "vq_module.h"

#define ENC_CLASS "PylSoftWAVEncoder"
#define ENC_DISPLAY_NAME "PylSoft WAV Encoder"

extern IVqProModule g_encoderModule;

void EncLog(int stringId, int level, const char* function, int line);

int __cdecl EncGetSetting(SettingRecord* out, int index, const char* section, void* instance);
int __cdecl EncSetSetting(const SettingRecord* in, int index, const char* section, void* instance);
int __cdecl EncConfigure(HWND parent, const char* section, void* instance);

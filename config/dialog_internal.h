// Shared state of the settings dialog and its editing pages.
#pragma once
#include <windows.h>

#include "config_ids.h"
#include "setting_record.h"
#include "vq_module.h"

struct PylConfigDialogContext {
    const char* section;                 // NULL for "Default"
    HWND pages[PYLCFG_MAX_SETTINGS];     // editing page per setting index, or NULL
    IVqProModule* module;
    void* instance;
};

namespace pylcfg {

extern HINSTANCE g_module;

PylConfigDialogContext* ContextOf(HWND dialog);
// Module operations, guarded against a record without them.
bool QuerySettingOf(PylConfigDialogContext* ctx, SettingRecord* rec, int index);
int GetSettingOf(PylConfigDialogContext* ctx, SettingRecord* rec, int index);
void SetSettingOf(PylConfigDialogContext* ctx, const SettingRecord* rec, int index);

INT_PTR CALLBACK PageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
// Dialog template of the page that edits an editor kind, or 0 when it has none.
int PageTemplateFor(int32_t editor);
// Label number `index` of a TAB-separated label field.
void LabelAt(const SettingRecord& rec, int index, char* out, size_t size);
// Number of list values a record's constraint names (bounded by the limits field).
int ListCount(const SettingRecord& rec);
// Compares a value field with limit `index` in the width of the record's type
// (Text: the first character).
bool ValueEqualsLimit(const SettingRecord& rec, const unsigned char* value, int index);

}  // namespace pylcfg

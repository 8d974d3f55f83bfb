// Module loader: loads the plug-ins of one kind from a folder into a table of
// 32 slots, releases them again, and builds the "Add files" filter text.
#pragma once
#include "vq_module.h"

enum { kMaxModules = 32, kFilterTextSize = 16384 };

// Host string-table ids of the two filter texts.
enum { IDS_FILTER_ALL_FILES = 130, IDS_FILTER_ALL_SUPPORTED = 131 };

// Source of the loader's texts: copies string `id` into buf (size bytes) and
// returns its length, 0 when it has none (the English text is used then). The
// host sets one that reads its own string table.
typedef int(__cdecl* LoaderStringFn)(unsigned id, char* buf, int size);
void SetLoaderStringSource(LoaderStringFn fn);

// File pattern of a ModuleKind code ("in_*.dll"...), NULL for other codes.
const char* GetModulePattern(int kind);
// Loads every library of `kind` from folder (NULL or empty: the program's own
// folder) into table, slots 0 upward; returns the number kept.
int LoadModules(const char* folder, int kind, IVqProModule* table[kMaxModules], const char* logFile,
                int* logLevel);
// QuitModule and release for every kept module; empties the table. Returns 1.
int UnloadModules(IVqProModule* table[kMaxModules]);
// The open-file dialog's filter from the input modules' FilterList fields: a
// 16384-byte block from the process heap (caller frees it with HeapFree), or NULL.
char* BuildFilterText(IVqProModule* inputTable[kMaxModules]);

// The update manager's log lines: the shared log writer with the class name "PylPUM".
#pragma once
#include <windows.h>

// Writes string-table text `stringId` (formatted with arg into 256 bytes when
// given) when the level test passes.
void PumLog(const char* logFile, const long* logLevel, HINSTANCE inst, const char* functionName,
            int line, UINT stringId, int level, const char* arg = nullptr);

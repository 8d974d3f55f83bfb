#include "pum_log.h"

#include <stdio.h>

#include "vq_log.h"

static const char kClassName[] = "PylPUM";

void PumLog(const char* logFile, const long* logLevel, HINSTANCE inst, const char* functionName,
            int line, UINT stringId, int level, const char* arg)
{
    static_assert(sizeof(long) == sizeof(int), "log level is one 32-bit word");
    if (!LogLevelPasses(level, reinterpret_cast<const int*>(logLevel))) return;
    char format[256];
    if (LoadStringA(inst, stringId, format, sizeof format) <= 0) return;
    char text[256];
    if (arg) {
        snprintf(text, sizeof text, format, arg);
    } else {
        lstrcpynA(text, format, sizeof text);
    }
    LogMessage(kClassName, functionName, line, text, level, logFile);
}

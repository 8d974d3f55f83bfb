// Log writer compiled into the host and most modules: one line per message,
// appended to the log file, or a message box when no log file is set.
#pragma once

enum LogLevel { LogDebug = 1, LogInfo = 3, LogWarning = 7, LogError = 15 };

// The caller tests the level before building a message.
inline bool LogLevelPasses(int messageLevel, const int* currentLevel)
{
    int current = currentLevel ? *currentLevel : LogError;
    return ((messageLevel << 1) & ~current) != 0;
}

int LogMessage(const char* className, const char* functionName, int line, const char* text,
               int level, const char* logFile);
// Logs text followed by the system's description of the calling thread's last error (level 15).
void LogSystemError(const char* className, const char* functionName, int line, const char* text,
                    const char* logFile);
// Same, with the error code taken by the caller right after the failing call.
void LogSystemErrorCode(const char* className, const char* functionName, int line, const char* text,
                        const char* logFile, unsigned long errorCode);

// Message-box path (no log file set): the writer calls this with the bare text,
// the operation name as caption and MB_* flags. Tests replace it; NULL restores
// the system's message box. Returns the previous function.
typedef int(__cdecl* LogMessageBoxFn)(const char* text, const char* caption, unsigned type);
LogMessageBoxFn LogSetMessageBox(LogMessageBoxFn fn);
// Attempts (1 ms apart) to open a log file that another writer holds.
constexpr int kLogOpenRetries = 50;

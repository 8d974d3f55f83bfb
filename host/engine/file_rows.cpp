// Plain-data file rows in ascending path order.
#include <stdlib.h>
#include <string.h>
#include "engine.h"

SortedFileRows::~SortedFileRows()
{
    free(rows);
    if (lock) {
        DeleteCriticalSection(lock);
        delete lock;
    }
}

bool SortedFileRows::Add(const char* path)
{
    if (!path || !path[0] || strlen(path) >= EngineTagPathChars)
        return false;
    if (!lock) {
        lock = new CRITICAL_SECTION;
        InitializeCriticalSection(lock);
    }
    EnterCriticalSection(lock);
    bool ok = true;
    if (count == capacity) {
        int grown = capacity ? capacity * 2 : 16;
        Row* bigger = (Row*)realloc(rows, (size_t)grown * sizeof(Row));
        if (bigger) {
            rows = bigger;
            capacity = grown;
        } else
            ok = false;
    }
    if (ok) {
        int at = count;
        while (at > 0 && lstrcmpiA(rows[at - 1].path, path) > 0)
            at--;
        memmove(rows + at + 1, rows + at, (size_t)(count - at) * sizeof(Row));
        lstrcpynA(rows[at].path, path, EngineTagPathChars);
        count++;
    }
    LeaveCriticalSection(lock);
    return ok;
}

int SortedFileRows::Count() { return count; }

bool SortedFileRows::PathAt(int row, char* buf, int size)
{
    if (!lock || row < 0 || size <= 0)
        return false;
    EnterCriticalSection(lock);
    bool ok = row < count && (int)strlen(rows[row].path) < size;
    if (ok)
        lstrcpynA(buf, rows[row].path, size);
    LeaveCriticalSection(lock);
    return ok;
}

bool SortedFileRows::TakeFirst(char* buf, int size)
{
    if (!lock)
        return false;
    EnterCriticalSection(lock);
    bool ok = false;
    while (count > 0 && !ok) {
        ok = (int)strlen(rows[0].path) < size;
        if (ok)
            lstrcpynA(buf, rows[0].path, size);
        memmove(rows, rows + 1, (size_t)(count - 1) * sizeof(Row));
        count--;
    }
    LeaveCriticalSection(lock);
    return ok;
}

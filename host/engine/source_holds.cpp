#include "source_holds.h"
#include <string.h>

void EngineSourceHolds::HoldAll(EngineFileRows* rows)
{
    ReleaseAll();
    int n = rows->Count();
    if (n <= 0)
        return;
    holds = (Hold*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)n * sizeof(Hold));
    if (!holds)
        return;
    char path[EnginePathChars];
    for (int row = 0; row < n; row++) {
        if (!rows->PathAt(row, path, sizeof(path)))
            continue;
        HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        size_t bytes = strlen(path) + 1;
        char* copy = (char*)HeapAlloc(GetProcessHeap(), 0, bytes);
        if (!copy) {
            CloseHandle(h);
            continue;
        }
        memcpy(copy, path, bytes);
        holds[count].handle = h;
        holds[count].path = copy;
        count++;
    }
}

void EngineSourceHolds::Release(const char* path)
{
    // Files are taken from the front of the list: the hold sought is usually
    // the first one left, with any repeats of its row right after it.
    bool found = false;
    for (int i = first; i < count; i++) {
        if (holds[i].path && strcmp(holds[i].path, path) == 0) {
            CloseHandle(holds[i].handle);
            HeapFree(GetProcessHeap(), 0, holds[i].path);
            holds[i].path = nullptr;
            found = true;
        } else if (found)
            break;
    }
    while (first < count && !holds[first].path)
        first++;
}

void EngineSourceHolds::ReleaseAll()
{
    for (int i = 0; i < count; i++) {
        if (holds[i].path) {
            CloseHandle(holds[i].handle);
            HeapFree(GetProcessHeap(), 0, holds[i].path);
        }
    }
    if (holds)
        HeapFree(GetProcessHeap(), 0, holds);
    holds = nullptr;
    count = first = 0;
}

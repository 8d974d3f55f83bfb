#include "source_holds.h"
#include <string.h>

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The root of the volume that holds path (C:\ or \\server\share\ or a mounted
// folder), written with backslashes; false when there is none.
bool VolumeRoot(const char* path, char* root, int size)
{
    if (GetVolumePathNameA(path, root, (DWORD)size))
        return true;
    // Not every system answers for every path (Wine has no answer for UNC
    // paths): the drive or the share named at the start of the path.
    int len = 0;
    if (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':') {
        len = 2;
    } else if (IsSeparator(path[0]) && IsSeparator(path[1])) {
        const char* server = path + 2;
        const char* share = server;
        while (*share && !IsSeparator(*share))
            share++;
        if (share == server || !*share)
            return false;
        const char* end = share + 1;
        while (*end && !IsSeparator(*end))
            end++;
        if (end == share + 1)
            return false;
        len = (int)(end - path);
    }
    if (len == 0 || len + 2 > size)
        return false;
    for (int i = 0; i < len; i++)
        root[i] = IsSeparator(path[i]) ? '\\' : path[i];
    root[len] = '\\';
    root[len + 1] = 0;
    return true;
}

// True for a file on a CD drive or a read-only volume. Rows come sorted by
// path, so the answer for the previous row's volume is kept.
class ReadOnlyMedia {
public:
    bool Has(const char* path)
    {
        char root[EnginePathChars];
        if (!VolumeRoot(path, root, sizeof(root)))
            return false;
        if (known && _stricmp(root, volume) == 0)
            return readOnly;
        lstrcpynA(volume, root, sizeof(volume));
        known = true;
        DWORD flags = 0;
        readOnly = GetDriveTypeA(root) == DRIVE_CDROM ||
                   (GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
                    (flags & FILE_READ_ONLY_VOLUME));
        return readOnly;
    }

private:
    char volume[EnginePathChars];
    bool known = false, readOnly = false;
};

bool OutOfOpenFiles(DWORD error)
{
    return error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NO_SYSTEM_RESOURCES ||
           error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY || error == ERROR_NOT_ENOUGH_QUOTA;
}

}  // namespace

int EngineSourceHolds::HoldAll(EngineFileRows* rows)
{
    ReleaseAll();
    int n = rows->Count();
    if (n <= 0)
        return 0;
    holds = (Hold*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)n * sizeof(Hold));
    if (!holds)
        return 0;
    count = n;
    ReadOnlyMedia media;
    char path[EnginePathChars];
    for (int row = 0; row < n; row++) {
        holds[row].state = Unheld;
        if (!rows->PathAt(row, path, sizeof(path)))
            continue;
        size_t bytes = strlen(path) + 1;
        char* copy = (char*)HeapAlloc(GetProcessHeap(), 0, bytes);
        if (!copy)
            continue;
        memcpy(copy, path, bytes);
        holds[row].path = copy;
        if (!media.Has(path))
            holds[row].state = Waiting;
    }
    limit = n;
    nextWaiting = 0;
    Fill();
    int waiting = 0;
    for (int i = 0; i < count; i++)
        waiting += holds[i].state == Waiting;
    return waiting;
}

bool EngineSourceHolds::Take(int i)
{
    HANDLE h = CreateFileA(holds[i].path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        holds[i].handle = h;
        holds[i].state = Held;
        held++;
        return true;
    }
    if (OutOfOpenFiles(GetLastError()))
        return false;
    // Gone, or open for writing elsewhere: the file stays unheld.
    holds[i].state = Unheld;
    return true;
}

void EngineSourceHolds::Fill()
{
    while (held < limit) {
        while (nextWaiting < count && !(holds[nextWaiting].path && holds[nextWaiting].state == Waiting))
            nextWaiting++;
        if (nextWaiting >= count)
            return;
        if (!Take(nextWaiting)) {
            MakeRoom();
            return;
        }
    }
}

void EngineSourceHolds::MakeRoom()
{
    int giveBack = Reserve;
    for (int i = count - 1; i >= first && giveBack > 0; i--) {
        if (holds[i].path && holds[i].state == Held) {
            CloseHandle(holds[i].handle);
            holds[i].state = Waiting;
            held--;
            giveBack--;
            if (i < nextWaiting)
                nextWaiting = i;
        }
    }
    limit = held;
}

void EngineSourceHolds::Close(int i)
{
    if (holds[i].state == Held) {
        CloseHandle(holds[i].handle);
        held--;
    }
    holds[i].state = Unheld;
    HeapFree(GetProcessHeap(), 0, holds[i].path);
    holds[i].path = nullptr;
}

void EngineSourceHolds::Release(const char* path)
{
    // Files are taken from the front of the list: the hold sought is usually
    // the first one left, with any repeats of its row right after it.
    bool found = false;
    for (int i = first; i < count; i++) {
        if (holds[i].path && strcmp(holds[i].path, path) == 0) {
            Close(i);
            found = true;
        } else if (found)
            break;
    }
    while (first < count && !holds[first].path)
        first++;
    Fill();
}

void EngineSourceHolds::ReleaseAll()
{
    for (int i = 0; i < count; i++)
        if (holds[i].path)
            Close(i);
    if (holds)
        HeapFree(GetProcessHeap(), 0, holds);
    holds = nullptr;
    count = first = nextWaiting = held = 0;
    limit = -1;
}

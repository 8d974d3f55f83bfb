// The output records of the WAV encoder and the file identities they use.
#include "output_records.h"
#include <string.h>

namespace {

// --- identities ---------------------------------------------------------

// The file index alone, without the volume serial number that the system's
// file information call asks the volume for each time.
struct IoStatus {
    union {
        LONG status;
        void* pointer;
    };
    ULONG_PTR information;
};
struct InternalInformation {
    LARGE_INTEGER index;
};
const ULONG kFileInternalInformation = 6;
typedef LONG(WINAPI* QueryFileFn)(HANDLE, IoStatus*, void*, ULONG, ULONG);

QueryFileFn QueryFile()
{
    static QueryFileFn fn = (QueryFileFn)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationFile");
    return fn;
}

// Volume serial numbers by folder (upper case), each kept for a few seconds:
// long enough for a batch of short files, short enough for a disc or a
// memory card changed between batches.
enum { VolumeSlots = 16, VolumeKeepMs = 5000 };
struct VolumeSlot {
    char folder[MAX_PATH];
    DWORD serial, asked;
    bool used;
};
VolumeSlot g_volumes[VolumeSlots];
int g_nextVolume;

// The folder of a full path, upper case; false when it does not fit.
bool FolderKey(const char* fullPath, char* out)
{
    const char* slash = NULL;
    for (const char* p = fullPath; *p; p++)
        if (*p == '\\' || *p == '/')
            slash = p;
    if (!slash || slash - fullPath >= MAX_PATH)
        return false;
    size_t n = (size_t)(slash - fullPath);
    memcpy(out, fullPath, n);
    out[n] = 0;
    CharUpperBuffA(out, (DWORD)n);
    return true;
}

VolumeSlot* FindVolume(const char* folder)
{
    DWORD now = GetTickCount();
    for (VolumeSlot& v : g_volumes)
        if (v.used && now - v.asked < VolumeKeepMs && strcmp(v.folder, folder) == 0)
            return &v;
    return NULL;
}

void KeepVolume(const char* folder, DWORD serial)
{
    VolumeSlot& v = g_volumes[g_nextVolume];
    g_nextVolume = (g_nextVolume + 1) % VolumeSlots;
    strcpy(v.folder, folder);
    v.serial = serial;
    v.asked = GetTickCount();
    v.used = true;
}

FileId FullIdOfHandle(HANDLE h)
{
    FileId id = {0, 0, 0, false};
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info) && (info.nFileIndexHigh | info.nFileIndexLow) != 0)
        id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, true};
    return id;
}

// --- records ------------------------------------------------------------

OutputClaim* g_outputs;
int g_outputCount, g_outputCapacity;

DWORD NameKey(const char* name)
{
    char upper[MAX_PATH * 2];
    lstrcpynA(upper, name, sizeof(upper));
    CharUpperBuffA(upper, lstrlenA(upper));
    DWORD key = 2166136261u;
    for (const unsigned char* p = (const unsigned char*)upper; *p; p++)
        key = (key ^ *p) * 16777619u;
    return key;
}

bool SameName(const OutputClaim& r, DWORD key, const char* name)
{
    return r.key == key && lstrcmpiA(r.output, name) == 0;
}

// Whether path, a file recorded with identity id, is still that file.
bool StillThere(const char* path, const FileId& id)
{
    FileId now;
    return IdOfFile(path, &now) && (!id.known || SameId(now, id));
}

void RemoveRecord(int i)
{
    HeapFree(GetProcessHeap(), 0, g_outputs[i].output);
    g_outputs[i] = g_outputs[--g_outputCount];
}

}  // namespace

bool SameId(const FileId& a, const FileId& b)
{
    return a.known && b.known && a.volume == b.volume && a.high == b.high && a.low == b.low;
}

FileId IdOfHandle(HANDLE h, const char* fullPath)
{
    char folder[MAX_PATH];
    QueryFileFn query = QueryFile();
    if (!query || !FolderKey(fullPath, folder))
        return FullIdOfHandle(h);
    if (VolumeSlot* v = FindVolume(folder)) {
        IoStatus io;
        InternalInformation info;
        if (query(h, &io, &info, sizeof(info), kFileInternalInformation) >= 0 && info.index.QuadPart != 0)
            return {v->serial, (DWORD)info.index.HighPart, info.index.LowPart, true};
    }
    FileId id = FullIdOfHandle(h);
    if (id.known)
        KeepVolume(folder, id.volume);
    return id;
}

// It is opened without access, so that nobody's sharing stands in the way.
bool IdOfFile(const char* fullPath, FileId* id)
{
    *id = {0, 0, 0, false};
    HANDLE h = CreateFileA(fullPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return GetFileAttributesA(fullPath) != INVALID_FILE_ATTRIBUTES;
    *id = IdOfHandle(h, fullPath);
    CloseHandle(h);
    return true;
}

void ForgetVolumes()
{
    memset(g_volumes, 0, sizeof(g_volumes));
    g_nextVolume = 0;
}

OutputVerdict ClaimOutput(const char* output, const char* source, OutputClaim* claim)
{
    memset(claim, 0, sizeof(*claim));
    FileId outputId, sourceId;
    bool exists = IdOfFile(output, &outputId);
    IdOfFile(source, &sourceId);
    if (lstrcmpiA(output, source) == 0 || SameId(outputId, sourceId))
        return OutputIsSource;
    DWORD key = NameKey(output);
    for (int i = 0; exists && i < g_outputCount;) {
        const OutputClaim& r = g_outputs[i];
        bool byName = SameName(r, key, output);
        if (!byName && !SameId(r.outputId, outputId)) {
            i++;
            continue;
        }
        // By name: still the file written, unless it was replaced since.
        // By identity under another name: the recorded name must still lead
        // to it (a linked folder), else the file was renamed or the index
        // was given to another file.
        bool current = byName ? !r.outputId.known || !outputId.known || SameId(r.outputId, outputId)
                              : StillThere(r.output, r.outputId);
        if (!current) {
            RemoveRecord(i);
            continue;
        }
        bool sameSource = lstrcmpiA(r.source, source) == 0 ||
                          (SameId(r.sourceId, sourceId) && StillThere(r.source, r.sourceId));
        if (!sameSource)
            return OutputTaken;
        i++;
    }
    if (g_outputCount == g_outputCapacity) {
        int grown = g_outputCapacity ? g_outputCapacity * 2 : 64;
        SIZE_T bytes = (SIZE_T)grown * sizeof(OutputClaim);
        void* table = g_outputs ? HeapReAlloc(GetProcessHeap(), 0, g_outputs, bytes)
                                : HeapAlloc(GetProcessHeap(), 0, bytes);
        if (!table)
            return OutputNoMemory;
        g_outputs = (OutputClaim*)table;
        g_outputCapacity = grown;
    }
    size_t outLen = strlen(output) + 1, srcLen = strlen(source) + 1;
    claim->output = (char*)HeapAlloc(GetProcessHeap(), 0, outLen + srcLen);
    if (!claim->output)
        return OutputNoMemory;
    memcpy(claim->output, output, outLen);
    memcpy(claim->output + outLen, source, srcLen);
    claim->source = claim->output + outLen;
    claim->key = key;
    claim->sourceId = sourceId;
    return OutputFree;
}

void KeepOutput(OutputClaim* claim, HANDLE written)
{
    claim->outputId = IdOfHandle(written, claim->output);
    for (int i = 0; i < g_outputCount;) {
        const OutputClaim& r = g_outputs[i];
        if (SameId(r.outputId, claim->outputId) || SameName(r, claim->key, claim->output))
            RemoveRecord(i);
        else
            i++;
    }
    // ClaimOutput made room for one more.
    g_outputs[g_outputCount++] = *claim;
    claim->output = NULL;
}

void DropClaim(OutputClaim* claim)
{
    if (claim->output)
        HeapFree(GetProcessHeap(), 0, claim->output);
    claim->output = NULL;
}

void ForgetOutputs()
{
    for (int i = 0; i < g_outputCount; i++)
        HeapFree(GetProcessHeap(), 0, g_outputs[i].output);
    if (g_outputs)
        HeapFree(GetProcessHeap(), 0, g_outputs);
    g_outputs = NULL;
    g_outputCount = g_outputCapacity = 0;
    ForgetVolumes();
}

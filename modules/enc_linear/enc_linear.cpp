// WAV encoder plug-in: one RIFF/WAVE file per track, named from the output
// folder and file-name pattern stored per host section.
#include "enc_linear.h"
#include <stdio.h>
#include <string.h>
#include "file_naming.h"
#include "pyl_comlib.h"
#include "pyl_config.h"
#include "resource.h"
#include "vq_log.h"
#include "wav_file.h"

namespace {

enum { SettingOutputPath = 0, SettingNameFormat = 1, SettingCount = 2, SlotCount = 256 };

struct WavEncoderInstance {
    char section[128];
    volatile LONG state;
    uint64_t dataBytes;
    unsigned char format[WavFormatBytes];
    WavFile file;
    SettingRecord settings[SettingCount];
};

const char* g_logFile;
int* g_logLevel;
SettingRecord g_template[SettingCount];
int g_fileCounter;
WavEncoderInstance* g_slots[SlotCount];

// A file's identity: the serial number of its volume and its index there,
// the same however its path is spelled (a linked folder, a mapped drive
// against its network name, a short name). Not known where the system gives none.
struct FileId {
    DWORD volume, high, low;
    bool known;
};

// The files this module has written since InitModule, each with the source it
// came from (full paths, in one allocation: output, then source, and both
// identities), so that no track of another source replaces one of them.
struct OutputRecord {
    char* output;
    const char* source;
    DWORD key;  // NameKey of output
    FileId outputId, sourceId;
};
OutputRecord* g_outputs;
int g_outputCount, g_outputCapacity;

HINSTANCE ModuleHandle() { return g_encoderModule.h.hInstance; }

void LoadText(int id, char* out, int size)
{
    out[0] = 0;
    LoadStringA(ModuleHandle(), id, out, size);
}

void BuildTemplate()
{
    memset(g_template, 0, sizeof(g_template));
    for (int i = 0; i < SettingCount; i++) {
        g_template[i].type = (int32_t)SettingType::Text;
        g_template[i].editor = (int32_t)EditorKind::Edit;
        g_template[i].constraint = 0;
    }
    LoadText(IDS_OUTPUT_PATH, g_template[0].name, sizeof(g_template[0].name));
    LoadText(IDS_OUTPUT_PATH_DESC, g_template[0].description, sizeof(g_template[0].description));
    char folder[260];
    AppendFileToAppPath(ModuleHandle(), folder, "");
    lstrcpynA((char*)g_template[0].defaultValue, folder, sizeof(g_template[0].defaultValue));
    LoadText(IDS_NAME_FORMAT, g_template[1].name, sizeof(g_template[1].name));
    LoadText(IDS_NAME_FORMAT_HELP, g_template[1].description, sizeof(g_template[1].description));
    lstrcpynA((char*)g_template[1].defaultValue, "%p\\%f.wav", sizeof(g_template[1].defaultValue));
    for (int i = 0; i < SettingCount; i++)
        memcpy(g_template[i].currentValue, g_template[i].defaultValue, sizeof(g_template[i].currentValue));
}

FileId IdOfHandle(HANDLE h)
{
    FileId id = {0, 0, 0, false};
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info) && (info.nFileIndexHigh | info.nFileIndexLow) != 0)
        id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, true};
    return id;
}

// False when the file does not exist. It is opened without access, so that
// nobody's sharing stands in the way.
bool IdOfFile(const char* path, FileId* id)
{
    *id = {0, 0, 0, false};
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    *id = IdOfHandle(h);
    CloseHandle(h);
    return true;
}

bool SameId(const FileId& a, const FileId& b)
{
    return a.known && b.known && a.volume == b.volume && a.high == b.high && a.low == b.low;
}

// By identity where both are known, else by full path.
bool SameFile(const FileId& a, const FileId& b, const char* pathA, const char* pathB)
{
    return a.known && b.known ? SameId(a, b) : lstrcmpiA(pathA, pathB) == 0;
}

void ForgetOutputs()
{
    for (int i = 0; i < g_outputCount; i++)
        HeapFree(GetProcessHeap(), 0, g_outputs[i].output);
    if (g_outputs)
        HeapFree(GetProcessHeap(), 0, g_outputs);
    g_outputs = NULL;
    g_outputCount = g_outputCapacity = 0;
}

void FullPath(const char* path, char* out, DWORD size)
{
    DWORD n = GetFullPathNameA(path, size, out, NULL);
    if (!n || n >= size)
        lstrcpynA(out, path, (int)size);
}

// A hash of the name that ignores case, so that a lookup compares few names.
DWORD NameKey(const char* name)
{
    char upper[OutputNameBytes];
    lstrcpynA(upper, name, sizeof(upper));
    CharUpperBuffA(upper, lstrlenA(upper));
    DWORD key = 2166136261u;
    for (const unsigned char* p = (const unsigned char*)upper; *p; p++)
        key = (key ^ *p) * 16777619u;
    return key;
}

// The record of the file output names (by identity where known), or -1.
int FindOutput(const char* output, DWORD key, const FileId& id)
{
    for (int i = 0; i < g_outputCount; i++) {
        const OutputRecord& r = g_outputs[i];
        if (id.known && r.outputId.known ? SameId(id, r.outputId)
                                         : r.key == key && lstrcmpiA(r.output, output) == 0)
            return i;
    }
    return -1;
}

// A record for output and source, with room for it in the table; NULL without memory.
OutputRecord* NewOutputRecord(OutputRecord* rec, const char* output, DWORD key, const char* source,
                              const FileId& sourceId)
{
    if (g_outputCount == g_outputCapacity) {
        int grown = g_outputCapacity ? g_outputCapacity * 2 : 64;
        SIZE_T bytes = (SIZE_T)grown * sizeof(OutputRecord);
        void* table = g_outputs ? HeapReAlloc(GetProcessHeap(), 0, g_outputs, bytes)
                                : HeapAlloc(GetProcessHeap(), 0, bytes);
        if (!table)
            return NULL;
        g_outputs = (OutputRecord*)table;
        g_outputCapacity = grown;
    }
    size_t outLen = strlen(output) + 1, srcLen = strlen(source) + 1;
    rec->output = (char*)HeapAlloc(GetProcessHeap(), 0, outLen + srcLen);
    if (!rec->output)
        return NULL;
    memcpy(rec->output, output, outLen);
    memcpy(rec->output + outLen, source, srcLen);
    rec->source = rec->output + outLen;
    rec->key = key;
    rec->sourceId = sourceId;
    rec->outputId = {0, 0, 0, false};
    return rec;
}

// Remembers that rec's output now holds the audio of rec's source: what was
// remembered of that file, or of that name, is forgotten.
void KeepOutputRecord(const OutputRecord& rec)
{
    for (int i = 0; i < g_outputCount;) {
        OutputRecord& r = g_outputs[i];
        if (SameId(r.outputId, rec.outputId) || (r.key == rec.key && lstrcmpiA(r.output, rec.output) == 0)) {
            HeapFree(GetProcessHeap(), 0, r.output);
            r = g_outputs[--g_outputCount];
        } else
            i++;
    }
    g_outputs[g_outputCount++] = rec;
}

int __cdecl InitModule(const char* logFile, int* logLevel)
{
    g_logFile = logFile;
    g_logLevel = logLevel;
    EncLog(IDS_INITIALIZING, LogDebug, "InitModule", 147);
    g_encoderModule.h.hIcon = LoadIconA(ModuleHandle(), MAKEINTRESOURCEA(IDI_ENCODER));
    BuildTemplate();
    g_fileCounter = 0;
    memset(g_slots, 0, sizeof(g_slots));
    ForgetOutputs();
    EncLog(IDS_INIT_COMPLETE, LogDebug, "InitModule", 187);
    return 1;
}

int __cdecl EncClose(void* handle);

int __cdecl QuitModule(void)
{
    EncLog(IDS_DEINITIALIZING, LogDebug, "QuitModule", 208);
    for (int i = SlotCount - 1; i >= 0; i--)
        if (g_slots[i])
            EncClose(g_slots[i]);
    ForgetOutputs();
    if (g_encoderModule.h.hIcon) {
        DestroyIcon(g_encoderModule.h.hIcon);
        g_encoderModule.h.hIcon = NULL;
    }
    EncLog(IDS_DEINIT_COMPLETE, LogDebug, "QuitModule", 227);
    return 1;
}

int __cdecl QuerySetting(SettingRecord* out, int index, void*)
{
    if (index < 0 || index >= SettingCount || !out)
        return 0;
    *out = g_template[index];
    return 1;
}

void* __cdecl EncOpen(const TrackInfo* info, const StreamFormat* fmt, const char* section)
{
    if (!info || !fmt)
        return NULL;
    WavEncoderInstance* inst = NULL;
    int slot = -1;
    for (int i = SlotCount - 1; i >= 0 && !inst; i--) {
        if (g_slots[i])
            continue;
        inst = (WavEncoderInstance*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WavEncoderInstance));
        if (!inst)
            EncLog(IDS_ALLOC_ERROR, LogError, "Open", 476);
        else
            slot = i;
    }
    if (!inst)
        return NULL;
    g_slots[slot] = inst;
    lstrcpynA(inst->section, section ? section : "", sizeof(inst->section));
    inst->state = EncoderRunning;
    int counter = ++g_fileCounter;

    memcpy(inst->settings, g_template, sizeof(inst->settings));
    PylConfigRead(inst->settings, SettingCount, NULL, ModuleHandle());
    for (int i = 0; i < SettingCount; i++)
        memcpy(inst->settings[i].defaultValue, inst->settings[i].currentValue, sizeof(inst->settings[i].defaultValue));
    PylConfigRead(inst->settings, SettingCount, section, ModuleHandle());

    WavBuildFormat(fmt, inst->format);

    char* pattern = (char*)inst->settings[SettingNameFormat].currentValue;
    char* folder = (char*)inst->settings[SettingOutputPath].currentValue;
    pattern[sizeof(inst->settings[0].currentValue) - 1] = 0;
    folder[sizeof(inst->settings[0].currentValue) - 1] = 0;
    char path[OutputNameBytes];
    bool ok = BuildOutputName(path, pattern, folder, counter, info, 1) != 0 && path[0];
    // Never over the track's own source. A file written earlier for another
    // source is kept (its source may be gone); the same source again replaces
    // its own output. Files are compared by identity, whatever the spelling.
    char output[OutputNameBytes], source[MAX_PATH * 2];
    OutputRecord rec;
    if (ok) {
        FullPath(path, output, sizeof(output));
        FullPath(info->path, source, sizeof(source));
        FileId outputId, sourceId;
        bool exists = IdOfFile(output, &outputId);
        IdOfFile(source, &sourceId);
        DWORD key = NameKey(output);
        int existing = exists ? FindOutput(output, key, outputId) : -1;
        if (lstrcmpiA(output, source) == 0 || SameId(outputId, sourceId)) {
            ok = false;
        } else if (existing >= 0 &&
                   !SameFile(g_outputs[existing].sourceId, sourceId, g_outputs[existing].source, source)) {
            EncLog(IDS_OUTPUT_TAKEN, LogError, "Open", 483);
            ok = false;
        } else if (!NewOutputRecord(&rec, output, key, source, sourceId)) {
            EncLog(IDS_ALLOC_ERROR, LogError, "Open", 486);
            ok = false;
        } else if (!WavCreate(&inst->file, path, inst->format)) {
            HeapFree(GetProcessHeap(), 0, rec.output);
            ok = false;
        } else {
            rec.outputId = IdOfHandle(inst->file.handle);
            KeepOutputRecord(rec);
        }
    }
    if (!ok) {
        g_slots[slot] = NULL;
        HeapFree(GetProcessHeap(), 0, inst);
        return NULL;
    }
    return inst;
}

int __cdecl EncWrite(const char* data, int bytes, void* handle)
{
    WavEncoderInstance* inst = (WavEncoderInstance*)handle;
    if (!inst)
        return -1;
    while (inst->state == EncoderPaused)
        Sleep(50);
    int written = WavWriteData(&inst->file, data, bytes);
    if (written < 0)
        return -1;
    inst->dataBytes = inst->file.dataBytes;
    return written;
}

int __cdecl EncGetState(void* handle)
{
    WavEncoderInstance* inst = (WavEncoderInstance*)handle;
    return inst ? (int)inst->state : -1;
}

int __cdecl EncPause(int pause, void* handle)
{
    WavEncoderInstance* inst = (WavEncoderInstance*)handle;
    if (!inst)
        return -1;
    int was = inst->state == EncoderPaused ? EncoderPaused : 0;
    InterlockedExchange(&inst->state, pause ? EncoderPaused : EncoderRunning);
    return was;
}

double __cdecl EncGetTime(void* handle)
{
    WavEncoderInstance* inst = (WavEncoderInstance*)handle;
    if (!inst)
        return -1.0;
    uint32_t avg = WavAvgBytesPerSec(inst->format);
    return avg ? (double)inst->dataBytes * 1000.0 / avg : 0.0;
}

int __cdecl EncClose(void* handle)
{
    WavEncoderInstance* inst = (WavEncoderInstance*)handle;
    if (!inst) {
        EncLog(IDS_INVALID_HANDLE, LogError, "Close", 504);
        return -1;
    }
    int finished = WavFinish(&inst->file);
    inst->dataBytes = inst->file.dataBytes;
    inst->state = EncoderClosed;
    PylConfigWrite(inst->settings, SettingCount, inst->section, ModuleHandle());
    for (int i = 0; i < SlotCount; i++)
        if (g_slots[i] == inst)
            g_slots[i] = NULL;
    HeapFree(GetProcessHeap(), 0, inst);
    // 0: the file could not be completed (its sizes may be wrong).
    return finished ? 1 : 0;
}

IVqProModule* BuildRecord()
{
    IVqProModule& m = g_encoderModule;
    m.h.Version = VQ_VERSION(1, 0, 0, 59);
    m.h.Kind = KindEncoder;
    m.h.Id = 1;
    m.h.InternalName = ENC_CLASS;
    m.h.DisplayName = ENC_DISPLAY_NAME;
    m.h.AboutText = ENC_DISPLAY_NAME " v1.0.0.59\nWrites RIFF/WAVE files with the extensible format chunk.\n"
                                     "Built " __DATE__ ".";
    m.h.InitModule = InitModule;
    m.h.QuitModule = QuitModule;
    m.h.GetSetting = EncGetSetting;
    m.h.SetSetting = EncSetSetting;
    m.h.QuerySetting = QuerySetting;
    m.h.GetSubModule = VqNoSubModule;
    m.h.Configure = EncConfigure;
    m.encoder.Open = EncOpen;
    m.encoder.Write = EncWrite;
    m.encoder.GetState = EncGetState;
    m.encoder.Pause = EncPause;
    m.encoder.GetTime = EncGetTime;
    m.encoder.Close = EncClose;
    return &m;
}

}  // namespace

IVqProModule g_encoderModule;

void EncLog(int stringId, int level, const char* function, int line)
{
    if (!LogLevelPasses(level, g_logLevel))
        return;
    char text[256];
    LoadText(stringId, text, sizeof(text));
    LogMessage(ENC_CLASS, function, line, text, level, g_logFile);
}

int __cdecl EncGetSetting(SettingRecord* out, int index, const char* section, void* instance)
{
    if (index < 0 || index >= SettingCount || !out)
        return -1;
    if (instance) {
        *out = ((WavEncoderInstance*)instance)->settings[index];
        return out->type;
    }
    *out = g_template[index];
    PylConfigRead(out, 1, section, ModuleHandle());
    return out->type;
}

int __cdecl EncSetSetting(const SettingRecord* in, int index, const char* section, void* instance)
{
    if (index < 0 || index >= SettingCount || !in)
        return -1;
    SettingRecord* target = instance ? &((WavEncoderInstance*)instance)->settings[index] : &g_template[index];
    *target = *in;
    PylConfigWrite(target, 1, section, ModuleHandle());
    return in->type;
}

extern "C" __declspec(dllexport) IVqProModule* __cdecl GetModuleInterface(void)
{
    static IVqProModule* record = BuildRecord();
    return record;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// WAV encoder plug-in: one RIFF/WAVE file per track, named from the output
// folder and file-name pattern stored per host section.
#include "enc_linear.h"
#include <stdio.h>
#include <string.h>
#include "file_naming.h"
#include "output_records.h"
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

void FullPath(const char* path, char* out, DWORD size)
{
    DWORD n = GetFullPathNameA(path, size, out, NULL);
    if (!n || n >= size)
        lstrcpynA(out, path, (int)size);
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
    if (ok) {
        char output[OutputNameBytes], source[MAX_PATH * 2];
        FullPath(path, output, sizeof(output));
        FullPath(info->path, source, sizeof(source));
        OutputClaim claim;
        switch (ClaimOutput(output, source, &claim)) {
        case OutputIsSource:
            EncLog(IDS_OUTPUT_IS_SOURCE, LogError, "Open", 481);
            ok = false;
            break;
        case OutputTaken:
            EncLog(IDS_OUTPUT_TAKEN, LogError, "Open", 483);
            ok = false;
            break;
        case OutputNoMemory:
            EncLog(IDS_ALLOC_ERROR, LogError, "Open", 486);
            ok = false;
            break;
        case OutputFree:
            if (WavCreate(&inst->file, path, inst->format))
                KeepOutput(&claim, inst->file.handle);
            else
                ok = false;
            DropClaim(&claim);
            break;
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

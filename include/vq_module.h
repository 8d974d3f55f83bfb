// The record every plug-in returns from GetModuleInterface (and the host fills
// for itself). Its offsets are a binary contract: the common head is fifteen
// 32-bit words, followed by the operations of the module's kind.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "setting_record.h"
#include "vq_types.h"

enum ModuleKind : int32_t {
    KindInput = 17,
    KindOutput = 18,
    KindDsp = 19,
    KindEncoder = 20,
    KindCapture = 21,
    KindMlm = 33,
    KindPqm = 34,
    KindSch = 35,
    KindChm = 36,
    KindPlr = 65,
    KindMtp = 66,
    KindGeneral = 255,
};

struct IVqProModule;

// Packed version word: major 31-28, minor 27-24, release 23-16, build 15-0.
#define VQ_VERSION(major, minor, release, build) \
    ((uint32_t)(((major) & 0xF) << 28 | ((minor) & 0xF) << 24 | ((release) & 0xFF) << 16 | ((build) & 0xFFFF)))

struct IVqProModuleHead {
    uint32_t Version;
    HINSTANCE hInstance;
    int32_t Kind;
    int32_t Id;
    const char* InternalName;
    const char* DisplayName;
    const char* AboutText;
    HICON hIcon;
    int(__cdecl* InitModule)(const char* logFile, int* logLevel);
    int(__cdecl* QuitModule)(void);
    int(__cdecl* GetSetting)(SettingRecord* out, int index, const char* section, void* instance);
    int(__cdecl* SetSetting)(const SettingRecord* in, int index, const char* section, void* instance);
    int(__cdecl* QuerySetting)(SettingRecord* out, int index, void* instance);
    void*(__cdecl* GetSubModule)(SettingRecord* rec, IVqProModule** outModule, char outSection[256],
                                 void* instance);
    int(__cdecl* Configure)(HWND parent, const char* section, void* instance);
};

// Input Read: a result below 1 ends the stream. -1 is its normal end; this
// value means it ended on an error (a failed read, a decoder or reader that
// gave up), so what came before it is incomplete.
#define VQ_READ_ERROR (-2)

struct VqInputOps {
    const char* FilterList;  // "desc\0pattern\0...\0\0"
    int(__cdecl* IsOurFile)(const char* path);
    void*(__cdecl* Open)(const char* path, const StreamFormat* wanted);
    int(__cdecl* Read)(char* buf, int bytes, void* handle);
    int(__cdecl* SetTime)(double seconds, void* handle);
    double(__cdecl* GetTime)(int what, void* handle);
    int(__cdecl* GetPcmFormat)(StreamFormat* out, void* handle);
    int(__cdecl* GetTag)(TrackInfo* out, void* handle);
    int(__cdecl* GetTagEx)(TrackInfo* io);
    int(__cdecl* SetTagEx)(const TrackInfo* in);
    int(__cdecl* Close)(void* handle);
};

struct VqDspOps {
    unsigned(__cdecl* GetInputPinName)(unsigned index, char* buf);
    int(__cdecl* GetOutputPinName)(int index, char* buf);
    void*(__cdecl* Open)(const StreamFormat* fmt, const char* section);
    // in[0] signal, in[1] control (side-chain, may be NULL); out[0] output buffer.
    int(__cdecl* Process)(short** in, short** out, int bytes, const StreamFormat* fmt, void* handle);
    int(__cdecl* Close)(void* handle);
};

struct VqEncoderOps {
    void*(__cdecl* Open)(const TrackInfo* info, const StreamFormat* fmt, const char* section);
    int(__cdecl* Write)(const char* data, int bytes, void* handle);
    int(__cdecl* GetState)(void* handle);
    int(__cdecl* Pause)(int pause, void* handle);
    double(__cdecl* GetTime)(void* handle);
    int(__cdecl* Close)(void* handle);
};

struct VqCaptureOps {
    void*(__cdecl* Open)(const StreamFormat* wanted, const char* section);
    int(__cdecl* Pause)(int pause, void* handle);
    int(__cdecl* Read)(char* buf, int bytes, void* handle);
    double(__cdecl* GetTime)(void* handle);
    int(__cdecl* GetPcmFormat)(StreamFormat* out, void* handle);
    int(__cdecl* GetTag)(TrackInfo* out, void* handle);
    int(__cdecl* Close)(void* handle);
};

struct IVqProModule {
    IVqProModuleHead h;
    union {
        VqInputOps input;
        VqDspOps dsp;
        VqEncoderOps encoder;
        VqCaptureOps capture;
    };
};

// GetSubModule of a component without sub-modules: no record, no section.
inline void* __cdecl VqNoSubModule(SettingRecord*, IVqProModule** outModule, char outSection[256], void*)
{
    if (outModule) *outModule = nullptr;
    if (outSection) outSection[0] = '\0';
    return nullptr;
}

// Encoder GetState answers.
enum { EncoderRunning = 1, EncoderPaused = 2, EncoderClosed = 4 };

// The only export of every plug-in.
typedef IVqProModule*(__cdecl* GetModuleInterfaceFn)(void);

// Configuration section the host passes to encoder and capture instances, and
// the base of the per-position DSP sections ("%s::DSP%03d").
#define VQ_HOST_SECTION "PylSoftBatchConverter"
#define VQ_DSP_SECTION_FORMAT "%s::DSP%03d"

static_assert(sizeof(void*) == 4, "32-bit build only");
static_assert(sizeof(IVqProModuleHead) == 60, "module head is fifteen words");
static_assert(offsetof(IVqProModuleHead, hInstance) == 4, "");
static_assert(offsetof(IVqProModuleHead, Kind) == 8, "");
static_assert(offsetof(IVqProModuleHead, Id) == 12, "");
static_assert(offsetof(IVqProModuleHead, InternalName) == 16, "");
static_assert(offsetof(IVqProModuleHead, DisplayName) == 20, "");
static_assert(offsetof(IVqProModuleHead, AboutText) == 24, "");
static_assert(offsetof(IVqProModuleHead, hIcon) == 28, "");
static_assert(offsetof(IVqProModuleHead, InitModule) == 32, "");
static_assert(offsetof(IVqProModuleHead, QuitModule) == 36, "");
static_assert(offsetof(IVqProModuleHead, GetSetting) == 40, "");
static_assert(offsetof(IVqProModuleHead, SetSetting) == 44, "");
static_assert(offsetof(IVqProModuleHead, QuerySetting) == 48, "");
static_assert(offsetof(IVqProModuleHead, GetSubModule) == 52, "");
static_assert(offsetof(IVqProModuleHead, Configure) == 56, "");

static_assert(offsetof(IVqProModule, input) == 60, "");
static_assert(offsetof(IVqProModule, input.FilterList) == 60, "");
static_assert(offsetof(IVqProModule, input.IsOurFile) == 64, "");
static_assert(offsetof(IVqProModule, input.Open) == 68, "");
static_assert(offsetof(IVqProModule, input.Read) == 72, "");
static_assert(offsetof(IVqProModule, input.SetTime) == 76, "");
static_assert(offsetof(IVqProModule, input.GetTime) == 80, "");
static_assert(offsetof(IVqProModule, input.GetPcmFormat) == 84, "");
static_assert(offsetof(IVqProModule, input.GetTag) == 88, "");
static_assert(offsetof(IVqProModule, input.GetTagEx) == 92, "");
static_assert(offsetof(IVqProModule, input.SetTagEx) == 96, "");
static_assert(offsetof(IVqProModule, input.Close) == 100, "");

static_assert(offsetof(IVqProModule, dsp.GetInputPinName) == 60, "");
static_assert(offsetof(IVqProModule, dsp.GetOutputPinName) == 64, "");
static_assert(offsetof(IVqProModule, dsp.Open) == 68, "");
static_assert(offsetof(IVqProModule, dsp.Process) == 72, "");
static_assert(offsetof(IVqProModule, dsp.Close) == 76, "");

static_assert(offsetof(IVqProModule, encoder.Open) == 60, "");
static_assert(offsetof(IVqProModule, encoder.Write) == 64, "");
static_assert(offsetof(IVqProModule, encoder.GetState) == 68, "");
static_assert(offsetof(IVqProModule, encoder.Pause) == 72, "");
static_assert(offsetof(IVqProModule, encoder.GetTime) == 76, "");
static_assert(offsetof(IVqProModule, encoder.Close) == 80, "");

static_assert(offsetof(IVqProModule, capture.Open) == 60, "");
static_assert(offsetof(IVqProModule, capture.Pause) == 64, "");
static_assert(offsetof(IVqProModule, capture.Read) == 68, "");
static_assert(offsetof(IVqProModule, capture.GetTime) == 72, "");
static_assert(offsetof(IVqProModule, capture.GetPcmFormat) == 76, "");
static_assert(offsetof(IVqProModule, capture.GetTag) == 80, "");
static_assert(offsetof(IVqProModule, capture.Close) == 84, "");
static_assert(sizeof(IVqProModule) == 104, "largest kind (input) ends at 104");

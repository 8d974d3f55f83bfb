// Shared frame of every DSP plug-in: the module record, the settings template
// with its two-layer read, the 256-slot instance table, the per-instance lock,
// open/process/close on 16-bit PCM and the pass-through of everything else.
// Each plug-in supplies one DspModuleDesc (named g_dspModule) with its
// identity, its settings and its effect.
#pragma once
#include <windows.h>
#include <initializer_list>
#include "dsp_kernel.h"
#include "setting_record.h"
#include "vq_module.h"
#include "vq_types.h"

enum { DspSlotCount = 256, DspMaxSettings = 41 };

// Head of every instance block; each plug-in derives its own instance from it.
// The block comes zero-filled from the process heap.
struct DspInstance {
    char section[256];
    StreamFormat format;
    CRITICAL_SECTION lock;
    SettingRecord* settings;  // the instance's own copy, stored behind the block
    bool formatOk;  // the stream opened is 16-bit PCM of 1..8 channels the effect can index
    bool active;    // the effect is ready (filters, delay line); else blocks pass through
};

// Result of an effect's open step.
enum class DspOpenResult { Ok, OutOfMemory };

struct DspModuleDesc {
    uint32_t version;
    int32_t id;
    const char* internalName;
    const char* displayName;
    const char* aboutText;
    int settingCount;
    int sectionCapacity;  // including the terminator
    bool highestSlotFirst;
    int inputPins;  // 1 or 2
    // Log texts from the string table (ids 1-5, 7) instead of the built-in ones.
    bool textsFromStringTable;
    const char* allocFailText;
    int allocFailLevel;        // 1: tested against the log level; 15: always written
    int logLines[6];           // InitModule begin/end, QuitModule begin/each/end, Open
    size_t instanceSize;       // sizeof the plug-in's instance struct
    // Fills the settingCount template records (currentValue left zero).
    void (*buildTemplate)(SettingRecord* table);
    // Derived values and buffers of a fresh instance whose format is usable.
    // Sets inst->active; OutOfMemory makes Open fail.
    DspOpenResult (*open)(DspInstance* inst);
    // Recomputes what depends on setting `index` (called under the lock with a usable format).
    // Returns false when a buffer could not be reallocated: the old value and state are kept.
    bool (*applySetting)(DspInstance* inst, int index);
    // Whether a 16-bit block of this format is processed (else copied through).
    // NULL: the instance is active and the format matches the one given to Open.
    bool (*accepts)(const DspInstance* inst, const StreamFormat* fmt);
    // Per-frame work on whole frames of interleaved 16-bit samples. key is the
    // control input (NULL when none was given).
    void (*process)(DspInstance* inst, const short* x, const short* key, short* y, int frames,
                    const StreamFormat* fmt);
    // Frees what open/applySetting allocated (may be NULL).
    void (*release)(DspInstance* inst);
};

extern const DspModuleDesc g_dspModule;

// The plug-in's only export: its record, filled on first use.
extern "C" IVqProModule* __cdecl GetModuleInterface();

inline unsigned DspSampleRate(const DspInstance* inst) { return (unsigned)inst->format.sampleRate; }

inline double DspSettingDouble(const DspInstance* inst, int index)
{
    return SettingAsDouble(inst->settings[index].type, inst->settings[index].currentValue);
}
inline int DspSettingInt(const DspInstance* inst, int index)
{
    return static_cast<int>(DspSettingDouble(inst, index));
}

// Template builders.
void DspMakeRange(SettingRecord& r, const char* name, const char* description, const char* unit,
                  double step, EditorKind editor, double minimum, double maximum, double defaultValue);
void DspMakeIntRange(SettingRecord& r, const char* name, const char* description, const char* unit,
                     double step, EditorKind editor, int32_t minimum, int32_t maximum,
                     int32_t defaultValue);
// An Int32 check box limited to 0 and 1, labelled "Disabled\tEnabled".
void DspMakeSwitch(SettingRecord& r, const char* name, const char* description, int32_t defaultValue);

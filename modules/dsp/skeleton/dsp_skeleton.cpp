// The module frame shared by every DSP plug-in (see dsp_skeleton.h).
#include "dsp_skeleton.h"

#include <stdio.h>

#include "pyl_config.h"
#include "vq_log.h"

namespace {

IVqProModule g_record;
SettingRecord g_template[DspMaxSettings];
SettingRecord g_builtIn[DspMaxSettings];  // pristine copy: the limits values are held to
DspInstance* g_instances[DspSlotCount];
const char* g_logFile;
int* g_logLevel;

const char* const kInputPins[2] = {"Signal Input", "Control Input"};

enum LogText { TextInitBegin, TextInitEnd, TextQuitBegin, TextQuitEach, TextQuitEnd };

const char* BuiltInText(int which)
{
    switch (which) {
    case TextInitBegin: return "Initializing module...";
    case TextInitEnd: return "Initialization complete.";
    case TextQuitBegin: return "Deinitializing module...";
    case TextQuitEach: return "Closing DSP instance...";
    default: return "Deinitialization complete.";
    }
}

void LogStep(const char* function, int which, int line)
{
    if (!LogLevelPasses(LogDebug, g_logLevel)) return;
    const char* text = BuiltInText(which);
    char buf[256];
    if (g_dspModule.textsFromStringTable) {
        static const UINT ids[] = {1, 2, 3, 7, 4};
        if (LoadStringA(g_record.h.hInstance, ids[which], buf, sizeof buf) > 0) text = buf;
    }
    LogMessage(g_dspModule.internalName, function, line, text, LogDebug, g_logFile);
}

void LogAllocFailure()
{
    const DspModuleDesc& d = g_dspModule;
    if (d.allocFailLevel == LogDebug && !LogLevelPasses(LogDebug, g_logLevel)) return;
    const char* text = d.allocFailText;
    char buf[256];
    if (d.textsFromStringTable && LoadStringA(g_record.h.hInstance, 5, buf, sizeof buf) > 0) text = buf;
    LogMessage(d.internalName, "Open", d.logLines[5], text, d.allocFailLevel, g_logFile);
}

bool ValidIndex(int index) { return index >= 0 && index < g_dspModule.settingCount; }

// Holds a value of type T to the constraint of ref; a NaN takes the default.
template <typename T> void HoldValue(unsigned char* value, const SettingRecord& ref)
{
    int mode = ref.constraint;
    T v = SettingLoad<T>(value);
    T def = SettingLoad<T>(ref.defaultValue);
    if (!(v == v)) v = def;
    if (mode == (int)ConstraintMode::Range) {
        T lo = SettingLoad<T>(ref.limits, 0), hi = SettingLoad<T>(ref.limits, 1);
        if (v < lo) v = lo;
        if (v > hi) v = hi;
    } else if (mode > 0) {
        bool found = false;
        for (int i = 0; i < mode; ++i) found |= SettingLoad<T>(ref.limits, i) == v;
        if (!found) v = def;
    }
    SettingStore<T>(value, v);
}

// Holds a value given from outside to the built-in constraint of its setting,
// so derived values never leave the range the effect is built for.
void HoldToBuiltIn(SettingRecord& rec, int index)
{
    const SettingRecord& ref = g_builtIn[index];
    if (ref.type == (int32_t)SettingType::Double)
        HoldValue<double>(rec.currentValue, ref);
    else if (ref.type == (int32_t)SettingType::Int32)
        HoldValue<int32_t>(rec.currentValue, ref);
    rec.type = ref.type;
}

bool FormatUsable(const StreamFormat* f)
{
    return f->bitsPerSample == 16 && f->channels >= 1 && f->channels <= DspMaxChannels &&
           f->blockAlign == 2 * f->channels && f->sampleRate > 0;
}

bool DefaultAccepts(const DspInstance* inst, const StreamFormat* fmt)
{
    return inst->active && fmt->channels == inst->format.channels &&
           fmt->blockAlign == inst->format.blockAlign;
}

void CopyThrough(const short* src, short* dst, int bytes)
{
    if (src != dst) memmove(dst, src, bytes);
}

int __cdecl InitModule(const char* logFile, int* logLevel)
{
    const DspModuleDesc& d = g_dspModule;
    g_logFile = logFile;
    g_logLevel = logLevel;
    LogStep("InitModule", TextInitBegin, d.logLines[0]);
    memset(g_template, 0, sizeof g_template);
    memset(g_instances, 0, sizeof g_instances);
    g_record.h.hIcon = (HICON)LoadImageA(g_record.h.hInstance, MAKEINTRESOURCEA(101), IMAGE_ICON, 0, 0,
                                         LR_DEFAULTCOLOR);
    d.buildTemplate(g_template);
    memcpy(g_builtIn, g_template, sizeof g_template);
    LogStep("InitModule", TextInitEnd, d.logLines[1]);
    return 1;
}

int __cdecl Close(void* handle);

int __cdecl QuitModule()
{
    const DspModuleDesc& d = g_dspModule;
    LogStep("QuitModule", TextQuitBegin, d.logLines[2]);
    for (int slot = DspSlotCount - 1; slot >= 0; --slot) {
        if (g_instances[slot]) {
            LogStep("QuitModule", TextQuitEach, d.logLines[3]);
            Close(g_instances[slot]);
        }
    }
    if (g_record.h.hIcon) DestroyIcon(g_record.h.hIcon);
    g_record.h.hIcon = nullptr;
    LogStep("QuitModule", TextQuitEnd, d.logLines[4]);
    return 1;
}

int __cdecl GetSetting(SettingRecord* out, int index, const char* section, void* instance)
{
    if (!ValidIndex(index) || !out) return -1;
    if (instance) {
        DspInstance* inst = static_cast<DspInstance*>(instance);
        EnterCriticalSection(&inst->lock);
        memcpy(out, &inst->settings[index], sizeof *out);
        LeaveCriticalSection(&inst->lock);
    } else {
        memcpy(out, &g_template[index], sizeof *out);
        PylConfigRead(out, 1, section, g_record.h.hInstance);
    }
    return out->type;
}

int __cdecl SetSetting(const SettingRecord* in, int index, const char* section, void* instance)
{
    if (!ValidIndex(index) || !in) return -1;
    if (instance) {
        DspInstance* inst = static_cast<DspInstance*>(instance);
        EnterCriticalSection(&inst->lock);
        SettingRecord old;
        memcpy(&old, &inst->settings[index], sizeof old);
        memcpy(&inst->settings[index], in, sizeof *in);
        HoldToBuiltIn(inst->settings[index], index);
        if (inst->formatOk && g_dspModule.applySetting && !g_dspModule.applySetting(inst, index))
            memcpy(&inst->settings[index], &old, sizeof old);
        LeaveCriticalSection(&inst->lock);
    } else {
        memcpy(&g_template[index], in, sizeof *in);
    }
    PylConfigWrite(const_cast<SettingRecord*>(in), 1, section, g_record.h.hInstance);
    return in->type;
}

int __cdecl QuerySetting(SettingRecord* out, int index, void*)
{
    if (!ValidIndex(index) || !out) return 0;
    memcpy(out, &g_template[index], sizeof *out);
    return 1;
}

int __cdecl Configure(HWND, const char*, void*) { return -1; }

// The pin names are copied bounded at 4 characters (no size is passed).
unsigned __cdecl GetInputPinName(unsigned index, char* buf)
{
    unsigned pins = (unsigned)g_dspModule.inputPins;
    if (index >= pins) return pins;
    if (buf) lstrcpynA(buf, kInputPins[index], 4);
    return index;
}

int __cdecl GetOutputPinName(int index, char* buf)
{
    if (index != 0) return 1;
    if (buf) lstrcpynA(buf, "Signal Output", 4);
    return 0;
}

void* __cdecl Open(const StreamFormat* format, const char* section)
{
    const DspModuleDesc& d = g_dspModule;
    if (!format) return nullptr;
    size_t head = (d.instanceSize + 15) & ~(size_t)15;
    size_t size = head + sizeof(SettingRecord) * d.settingCount;
    DspInstance* inst = nullptr;
    int slot = -1;
    for (int i = 0; i < DspSlotCount && !inst; ++i) {
        int s = d.highestSlotFirst ? DspSlotCount - 1 - i : i;
        if (g_instances[s]) continue;
        inst = static_cast<DspInstance*>(DspAlloc(size));
        if (!inst) {
            LogAllocFailure();
            continue;
        }
        slot = s;
    }
    if (!inst) return nullptr;
    inst->settings = reinterpret_cast<SettingRecord*>(reinterpret_cast<char*>(inst) + head);
    int cap = d.sectionCapacity;
    if (cap > (int)sizeof inst->section) cap = sizeof inst->section;
    lstrcpynA(inst->section, section ? section : "Default", cap);
    int n = d.settingCount;
    memcpy(inst->settings, g_template, sizeof(SettingRecord) * n);
    HINSTANCE module = g_record.h.hInstance;
    PylConfigRead(inst->settings, n, nullptr, module);
    for (int i = 0; i < n; ++i)
        memcpy(inst->settings[i].defaultValue, inst->settings[i].currentValue,
               sizeof inst->settings[i].defaultValue);
    PylConfigRead(inst->settings, n, inst->section, module);
    for (int i = 0; i < n; ++i) HoldToBuiltIn(inst->settings[i], i);
    InitializeCriticalSection(&inst->lock);
    inst->format = *format;
    inst->formatOk = FormatUsable(format);
    if (inst->formatOk && d.open(inst) == DspOpenResult::OutOfMemory) {
        LogAllocFailure();
        if (d.release) d.release(inst);
        DeleteCriticalSection(&inst->lock);
        DspFree(inst);
        return nullptr;
    }
    g_instances[slot] = inst;
    return inst;
}

int __cdecl Process(short** in, short** out, int bytes, const StreamFormat* format, void* handle)
{
    if (!handle) return -1;
    if (bytes <= 0) return bytes;
    if (!in || !in[0] || !out || !out[0]) return -1;
    DspInstance* inst = static_cast<DspInstance*>(handle);
    const DspModuleDesc& d = g_dspModule;
    EnterCriticalSection(&inst->lock);
    bool run = format && format->bitsPerSample == 16 && format->blockAlign > 0 &&
               (d.accepts ? d.accepts(inst, format) : DefaultAccepts(inst, format));
    if (!run) {
        CopyThrough(in[0], out[0], bytes);
    } else {
        int align = format->blockAlign;
        int frames = bytes / align;
        d.process(inst, in[0], in[1], out[0], frames, format);
        int done = frames * align;
        // A partial frame at the end is copied through unchanged.
        if (done < bytes)
            CopyThrough(reinterpret_cast<short*>(reinterpret_cast<char*>(in[0]) + done),
                        reinterpret_cast<short*>(reinterpret_cast<char*>(out[0]) + done), bytes - done);
    }
    LeaveCriticalSection(&inst->lock);
    return bytes;
}

int __cdecl Close(void* handle)
{
    if (!handle) return 0;
    int slot = DspSlotCount - 1;
    while (slot >= 0 && g_instances[slot] != handle) --slot;
    if (slot < 0) return 0;  // not one of ours, or closed already
    DspInstance* inst = static_cast<DspInstance*>(handle);
    EnterCriticalSection(&inst->lock);
    PylConfigWrite(inst->settings, g_dspModule.settingCount, inst->section, g_record.h.hInstance);
    LeaveCriticalSection(&inst->lock);
    DeleteCriticalSection(&inst->lock);
    if (g_dspModule.release) g_dspModule.release(inst);
    g_instances[slot] = nullptr;
    DspFree(inst);
    return 1;
}

void CopyText(char* dst, size_t cap, const char* src)
{
    if (!src) src = "";
    lstrcpynA(dst, src, (int)cap);
}

}  // namespace

extern "C" IVqProModule* __cdecl GetModuleInterface()
{
    const DspModuleDesc& d = g_dspModule;
    IVqProModuleHead& h = g_record.h;
    h.Version = d.version;
    h.Kind = KindDsp;
    h.Id = d.id;
    h.InternalName = d.internalName;
    h.DisplayName = d.displayName;
    h.AboutText = d.aboutText;
    h.InitModule = InitModule;
    h.QuitModule = QuitModule;
    h.GetSetting = GetSetting;
    h.SetSetting = SetSetting;
    h.QuerySetting = QuerySetting;
    h.GetSubModule = VqNoSubModule;
    h.Configure = Configure;
    g_record.dsp.GetInputPinName = GetInputPinName;
    g_record.dsp.GetOutputPinName = GetOutputPinName;
    g_record.dsp.Open = Open;
    g_record.dsp.Process = Process;
    g_record.dsp.Close = Close;
    return &g_record;
}

static void FillCommon(SettingRecord& r, const char* name, const char* description, const char* unit,
                       SettingType type, double step, EditorKind editor, ConstraintMode constraint)
{
    memset(&r, 0, sizeof r);
    CopyText(r.name, sizeof r.name, name);
    CopyText(r.description, sizeof r.description, description);
    CopyText(r.unit, sizeof r.unit, unit);
    r.type = (int32_t)type;
    r.step = step;
    r.editor = (int32_t)editor;
    r.constraint = (int32_t)constraint;
}

void DspMakeRange(SettingRecord& r, const char* name, const char* description, const char* unit,
                  double step, EditorKind editor, double minimum, double maximum, double defaultValue)
{
    FillCommon(r, name, description, unit, SettingType::Double, step, editor, ConstraintMode::Range);
    SettingStore<double>(r.limits, minimum, 0);
    SettingStore<double>(r.limits, maximum, 1);
    SettingStore<double>(r.defaultValue, defaultValue);
}

void DspMakeIntRange(SettingRecord& r, const char* name, const char* description, const char* unit,
                     double step, EditorKind editor, int32_t minimum, int32_t maximum, int32_t defaultValue)
{
    FillCommon(r, name, description, unit, SettingType::Int32, step, editor, ConstraintMode::Range);
    SettingStore<int32_t>(r.limits, minimum, 0);
    SettingStore<int32_t>(r.limits, maximum, 1);
    SettingStore<int32_t>(r.defaultValue, defaultValue);
}

void DspMakeSwitch(SettingRecord& r, const char* name, const char* description, int32_t defaultValue)
{
    FillCommon(r, name, description, "", SettingType::Int32, 1, EditorKind::CheckBox, (ConstraintMode)2);
    SettingStore<int32_t>(r.limits, 0, 0);
    SettingStore<int32_t>(r.limits, 1, 1);
    CopyText(r.labels, sizeof r.labels, "Disabled\tEnabled");
    SettingStore<int32_t>(r.defaultValue, defaultValue);
}

void* DspAlloc(size_t bytes) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }
void DspFree(void* p)
{
    if (p) HeapFree(GetProcessHeap(), 0, p);
}

// Karaoke: both channels get L - R (which cancels the centre) plus their own
// input through a notch filter. Only 16-bit stereo is processed.
#include "dsp_skeleton.h"
#include "voxcut_kernel.h"

namespace {

enum { Frequency, Q, SettingCount };

struct VoxcutInstance : DspInstance {
    Biquad* filter;
};

void BuildTemplate(SettingRecord* t)
{
    DspMakeRange(t[Frequency], "Notch Filter Frequency", "Notch Filter Center Frequency", "Hz", 0.1,
                 EditorKind::Slider, 400, 4200, 800);
    DspMakeRange(t[Q], "Notch Filter Q", "Notch Filter Q", "", 0.01, EditorKind::Slider, 0.01, 2, 0.1);
}

DspOpenResult Open(DspInstance* base)
{
    VoxcutInstance* inst = static_cast<VoxcutInstance*>(base);
    inst->filter = BiquadCreate(DspSettingDouble(inst, Frequency), DspSettingDouble(inst, Q), DspSampleRate(inst));
    if (!inst->filter) return DspOpenResult::OutOfMemory;
    inst->active = inst->format.channels == 2;
    return DspOpenResult::Ok;
}

bool Apply(DspInstance* base, int)
{
    VoxcutInstance* inst = static_cast<VoxcutInstance*>(base);
    if (inst->filter)
        BiquadSetup(inst->filter, DspSettingDouble(inst, Frequency), DspSettingDouble(inst, Q), DspSampleRate(inst));
    return true;
}

bool Accepts(const DspInstance* inst, const StreamFormat* fmt)
{
    return inst->active && fmt->channels == 2 && fmt->blockAlign == 4;
}

void Process(DspInstance* base, const short* x, const short*, short* y, int frames, const StreamFormat*)
{
    VoxcutProcess(static_cast<VoxcutInstance*>(base)->filter, x, y, frames);
}

void Release_(DspInstance* base)
{
    VoxcutInstance* inst = static_cast<VoxcutInstance*>(base);
    BiquadDestroy(inst->filter);
    inst->filter = nullptr;
}

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x10000045, 6, "PylSoftKaraokeDSP", "PylSoft Karaoke DSP",
    "PylSoft Karaoke DSP v1.0.0.69\nCentre-channel voice removal with a notch filter.",
    SettingCount, 128, true, 1,
    false, "Error alocating memory", 15, {147, 191, 214, 223, 236, 504},
    sizeof(VoxcutInstance), BuildTemplate, Open, Apply, Accepts, Process, Release_,
};

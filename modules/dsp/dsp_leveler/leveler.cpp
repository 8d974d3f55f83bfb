// Normalizer: fixed input gain, every channel's envelope pulled down to a
// target level, look-ahead attack, 20 ms hold and a 5-second release.
#include "dynamics.h"
#include "leveler_kernel.h"

namespace {

enum { Gain, Level, StereoTie, LookAhead, SettingCount };

// The kind of each setting; the target level is kept as the threshold.
const int kKind[SettingCount] = {FullDynamics::Gain, FullDynamics::Threshold, FullDynamics::StereoTie,
                                 FullDynamics::LookAhead};

using LevelerInstance = DynamicsInstance;  // makeupGain is 1

void BuildTemplate(SettingRecord* t)
{
    DspMakeDynamicsRange(t[Gain], kKind[Gain], 0.1, 0, 32, 18);
    DspMakeRange(t[Level], "Normalization level",
                 "This control sets the average output level of the processed signal.", "dB", 0.1,
                 EditorKind::Slider, -12, -0.1, -3);
    DspMakeStereoTie(t[StereoTie], kStereoTieReductionHelp);
    DspMakeDynamicsRange(t[LookAhead], kKind[LookAhead], 0.1, 0.5, 20, 5);
}

// The look-ahead time is the attack time too.
bool Apply(DspInstance* base, int index)
{
    if (!DspApplyDynamics(base, index, kKind[index])) return false;
    if (index == LookAhead)
        LevelerSetAttack(static_cast<LevelerInstance*>(base)->dyn, DspSettingDouble(base, LookAhead),
                         DspSampleRate(base));
    return true;
}

DspOpenResult Open(DspInstance* base)
{
    Dynamics& d = static_cast<LevelerInstance*>(base)->dyn;
    if (!DspApplyAllSettings(base, Apply, LookAhead)) return DspOpenResult::OutOfMemory;
    LevelerStart(d, DspSampleRate(base), base->format.channels);
    return DspOpenResult::Ok;
}

void Process(DspInstance* base, const short* x, const short*, short* y, int frames, const StreamFormat* fmt)
{
    LevelerInstance* inst = static_cast<LevelerInstance*>(base);
    LevelerProcess(inst->dyn, x, y, frames, fmt->channels, DspSettingInt(inst, StereoTie) != 0);
}

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x1100004A, 3, "PylSoftNormalizerDSP", "PylSoft Normalizer DSP",
    "PylSoft Normalizer DSP v1.1.0.74\nLook-ahead level normalizer.",
    SettingCount, 128, true, 1,
    false, "Error alocating memory", 15, {147, 227, 250, 259, 272, 592},
    sizeof(LevelerInstance), BuildTemplate, Open, Apply, nullptr, Process, DspReleaseDynamics,
};

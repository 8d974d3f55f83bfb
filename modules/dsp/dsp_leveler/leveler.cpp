// Normalizer: fixed input gain, every channel's envelope pulled down to a
// target level, look-ahead attack, 20 ms hold and a 5-second release.
#include "dynamics.h"

namespace {

enum { Gain, Level, StereoTie, LookAhead, SettingCount };

struct LevelerInstance : DspInstance {
    Dynamics dyn;  // threshold holds the target level; makeupGain is 1
};

void BuildTemplate(SettingRecord* t)
{
    const EditorKind s = EditorKind::Slider;
    DspMakeRange(t[Gain], "Gain", "The Gain control is used to adjust incoming signal level.", "dB", 0.1, s, 0, 32,
                 18);
    DspMakeRange(t[Level], "Normalization level",
                 "This control sets the average output level of the processed signal.", "dB", 0.1, s, -12, -0.1,
                 -3);
    DspMakeSwitch(t[StereoTie], "Stereo tie",
                  "This switch allows for Gain Reduction on a multichannel signal with no degradation of the "
                  "stereo image.",
                  0);
    DspMakeRange(t[LookAhead], "Look ahead",
                 "The Look ahead delay gives a better and more precise compression performance preprocessing the "
                 "input signal.",
                 "ms", 0.1, s, 0.5, 20, 5);
}

unsigned Rate(const DspInstance* inst) { return (unsigned)inst->format.sampleRate; }

bool Apply(DspInstance* base, int index)
{
    LevelerInstance* inst = static_cast<LevelerInstance*>(base);
    Dynamics& d = inst->dyn;
    double v = DspSettingDouble(inst, index);
    switch (index) {
    case Gain: d.gain = DspDbToGain(v); break;
    case Level: d.threshold = DspDbToGain(v); break;
    case LookAhead:
        if (!DspSetLookAhead(d, DspLookAheadFrames(Rate(inst), v), inst->format.channels)) return false;
        d.attackCoef = DspTimeCoef(v, Rate(inst));
        inst->active = d.lookAheadFrames >= 1;
        break;
    }
    return true;
}

DspOpenResult Open(DspInstance* base)
{
    LevelerInstance* inst = static_cast<LevelerInstance*>(base);
    Dynamics& d = inst->dyn;
    if (!Apply(inst, LookAhead)) return DspOpenResult::OutOfMemory;
    Apply(inst, Gain);
    Apply(inst, Level);
    d.makeupGain = 1.0;
    d.holdSamples = (int)(Rate(inst) / 50);
    d.releaseCoef = exp(-1.0 / (Rate(inst) * 5.0));
    for (int j = 0; j < inst->format.channels; ++j) d.envelope[j] = d.gain * d.threshold;
    d.holdCounter = d.holdSamples;
    return DspOpenResult::Ok;
}

void Process(DspInstance* base, const short* x, const short*, short* y, int frames, const StreamFormat* fmt)
{
    LevelerInstance* inst = static_cast<LevelerInstance*>(base);
    const double target = inst->dyn.threshold;
    DspRunDynamics(inst->dyn, x, nullptr, y, frames, fmt->channels, DspSettingInt(inst, StereoTie) != 0,
                   [target](double e) { return target < e ? target / e : 1.0; });
}

void Release_(DspInstance* base) { DspFreeLookAhead(static_cast<LevelerInstance*>(base)->dyn); }

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x1100004A, 3, "PylSoftNormalizerDSP", "PylSoft Normalizer DSP",
    "PylSoft Normalizer DSP v1.1.0.74\nLook-ahead level normalizer.",
    SettingCount, 128, true, 1,
    false, "Error alocating memory", 15, {147, 227, 250, 259, 272, 592},
    sizeof(LevelerInstance), BuildTemplate, Open, Apply, nullptr, Process, Release_,
};

extern "C" IVqProModule* __cdecl GetModuleInterface() { return DspModuleRecord(); }

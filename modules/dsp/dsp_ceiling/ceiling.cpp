// Hard limiter: look-ahead peak limiter holding the detected level at the
// threshold, with a control input that can key the detector.
#include "dynamics.h"

namespace {

enum { Gain, Threshold, Attack, Hold, Release, Makeup, StereoTie, LookAhead, SettingCount };

struct CeilingInstance : DspInstance {
    Dynamics dyn;
};

void BuildTemplate(SettingRecord* t)
{
    const EditorKind s = EditorKind::Slider;
    DspMakeRange(t[Gain], "Gain", "The Gain control is used to adjust incoming signal level.", "dB", 0.1, s, -60,
                 32, 6);
    DspMakeRange(t[Threshold], "Threshold",
                 "The Threshold control determines the audio level above which Gain Reduction occurs.", "dB", 0.1,
                 s, -72, -0.1, -3);
    DspMakeRange(t[Attack], "Attack time",
                 "The Attack time is the amount of time that the compressor takes to attenuate the output level "
                 "after threshold has been reached.",
                 "ms", 0.1, s, 0.2, 50, 0.5);
    DspMakeRange(t[Hold], "Hold time",
                 "This control determines the time the compressor holds the gain after a signal has reached the "
                 "Threshold",
                 "ms", 0.1, s, 0.2, 50, 1);
    DspMakeRange(t[Release], "Release time",
                 "The Release control determines the time required to restore gain to normal after the input "
                 "signal has fallen below threshold level.",
                 "ms", 1, s, 50, 2000, 300);
    DspMakeRange(t[Makeup], "Makeup Gain",
                 "The Makeup Gain control determines the gain of the output stage of the compressor", "dB", 0.1, s,
                 -60, 32, 0);
    DspMakeSwitch(t[StereoTie], "Stereo tie",
                  "This switch allows for Gain changes on a multichannel signal with no degradation of the stereo "
                  "image.",
                  0);
    DspMakeRange(t[LookAhead], "Look ahead",
                 "The Look ahead delay gives a better and more precise compression performance preprocessing the "
                 "input signal.",
                 "ms", 0.1, s, 0.5, 20, 1.5);
}

unsigned Rate(const DspInstance* inst) { return (unsigned)inst->format.sampleRate; }

bool Apply(DspInstance* base, int index)
{
    CeilingInstance* inst = static_cast<CeilingInstance*>(base);
    Dynamics& d = inst->dyn;
    double v = DspSettingDouble(inst, index);
    switch (index) {
    case Gain: d.gain = DspDbToGain(v); break;
    case Threshold: d.threshold = DspDbToGain(v); break;
    case Attack: d.attackCoef = DspTimeCoef(v, Rate(inst)); break;
    case Hold: d.holdSamples = DspHoldSamples(v, Rate(inst)); break;
    case Release: d.releaseCoef = DspTimeCoef(v, Rate(inst)); break;
    case Makeup: d.makeupGain = DspDbToGain(v); break;
    case LookAhead:
        if (!DspSetLookAhead(d, DspLookAheadFrames(Rate(inst), v), inst->format.channels)) return false;
        inst->active = d.lookAheadFrames >= 1;
        break;
    }
    return true;
}

DspOpenResult Open(DspInstance* base)
{
    CeilingInstance* inst = static_cast<CeilingInstance*>(base);
    Dynamics& d = inst->dyn;
    if (!Apply(inst, LookAhead)) return DspOpenResult::OutOfMemory;
    for (int i : {Gain, Makeup, Threshold, Attack, Hold, Release}) Apply(inst, i);
    for (int j = 0; j < inst->format.channels; ++j) d.envelope[j] = d.threshold * d.gain;
    d.holdCounter = d.holdSamples;
    return DspOpenResult::Ok;
}

void Process(DspInstance* base, const short* x, const short* key, short* y, int frames, const StreamFormat* fmt)
{
    CeilingInstance* inst = static_cast<CeilingInstance*>(base);
    const double T = inst->dyn.threshold;
    DspRunDynamics(inst->dyn, x, key, y, frames, fmt->channels, DspSettingInt(inst, StereoTie) != 0,
                   [T](double e) { return e > T ? T / e : 1.0; });
}

void Release_(DspInstance* base) { DspFreeLookAhead(static_cast<CeilingInstance*>(base)->dyn); }

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x21000043, 2, "PylSoftHardLimiterDSP", "PylSoft Hard Limiter DSP",
    "PylSoft Hard Limiter DSP v2.1.0.67\nLook-ahead peak limiter with side-chain input.",
    SettingCount, 128, false, 2,
    false, "Error alocating memory", 15, {147, 201, 224, 233, 246, 541},
    sizeof(CeilingInstance), BuildTemplate, Open, Apply, nullptr, Process, Release_,
};

extern "C" IVqProModule* __cdecl GetModuleInterface() { return DspModuleRecord(); }

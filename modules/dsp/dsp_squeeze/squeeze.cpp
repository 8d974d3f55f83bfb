// Compressor/limiter: feed-forward peak compressor with look-ahead and a
// control input that can key the detector (side chain).
#include "dynamics.h"

namespace {

using namespace FullDynamics;

using SqueezeInstance = DynamicsInstance;

void BuildTemplate(SettingRecord* t)
{
    const EditorKind s = EditorKind::Slider;
    DspMakeRange(t[Gain], "Gain", "The Gain control is used to adjust incoming signal level.", "dB", 0.1, s, -60,
                 32, 0);
    DspMakeRange(t[Threshold], "Threshold",
                 "The Threshold control determines the audio level above which Gain Reduction occurs.", "dB", 0.1,
                 s, -72, -0.1, -18);
    DspMakeRange(t[Ratio], "Ratio",
                 "This control determines the ratio of change in output level to changes in input level for "
                 "signals above threshold.",
                 "", 0.1, s, 1, 1000, 30);
    DspMakeRange(t[Attack], "Attack time",
                 "The Attack time is the amount of time that the compressor takes to attenuate the output level "
                 "after threshold has been reached.",
                 "ms", 0.1, s, 0.2, 50, 2);
    DspMakeRange(t[Hold], "Hold time",
                 "This control determines the time the compressor holds the gain after a signal has reached the "
                 "Threshold",
                 "ms", 0.1, s, 0.2, 1000, 3);
    DspMakeRange(t[Release], "Release time",
                 "The Release control determines the time required to restore gain to normal after the input "
                 "signal has fallen below threshold level.",
                 "ms", 1, s, 100, 5000, 600);
    DspMakeRange(t[Makeup], "Makeup Gain",
                 "The Makeup Gain control determines the gain of the output stage of the compressor", "dB", 0.1, s,
                 -60, 32, 15);
    DspMakeSwitch(t[StereoTie], "Stereo tie",
                  "This switch allows for Gain changes on a multichannel signal with no degradation of the stereo "
                  "image.",
                  0);
    DspMakeRange(t[LookAhead], "Look ahead",
                 "The Look ahead delay gives a better and more precise compression performance preprocessing the "
                 "input signal.",
                 "ms", 0.1, s, 0.5, 20, 3);
}

void Process(DspInstance* base, const short* x, const short* key, short* y, int frames, const StreamFormat* fmt)
{
    SqueezeInstance* inst = static_cast<SqueezeInstance*>(base);
    const double T = inst->dyn.threshold, invRatio = inst->dyn.invRatio;
    DspRunDynamics(inst->dyn, x, key, y, frames, fmt->channels, DspSettingInt(inst, StereoTie) != 0,
                   [T, invRatio](double e) { return e > T ? (T + (e - T) * invRatio) / e : 1.0; });
}

void Release_(DspInstance* base) { DspFreeLookAhead(static_cast<SqueezeInstance*>(base)->dyn); }

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x300100FB, 1, "PylSoftCompressorDSP", "PylSoft Compressor/Limiter DSP",
    "PylSoft Compressor/Limiter DSP v3.0.1.251\nPeak compressor/limiter with look-ahead and side-chain input.",
    SettingCount, 256, true, 2,
    true, "Error allocating memory.", 1, {147, 205, 228, 237, 250, 560},
    sizeof(SqueezeInstance), BuildTemplate, FullDynamicsOpen, FullDynamicsApply, nullptr, Process, Release_,
};

extern "C" IVqProModule* __cdecl GetModuleInterface() { return DspModuleRecord(); }

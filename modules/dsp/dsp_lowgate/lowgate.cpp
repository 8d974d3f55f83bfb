// Expander: below the threshold the level is lowered further by the ratio,
// down to silence; the signal keys itself.
#include "dynamics.h"
#include "lowgate_kernel.h"

namespace {

using namespace FullDynamics;

using LowgateInstance = DynamicsInstance;

void BuildTemplate(SettingRecord* t)
{
    DspMakeDynamicsRange(t[Gain], Gain, 0.1, -60, 32, 0);
    DspMakeDynamicsRange(t[Threshold], Threshold, 0.1, -96, -0.1, -3,
                         "The Threshold control determines the audio level above which Gain Increase occurs.");
    DspMakeDynamicsRange(t[Ratio], Ratio, 0.01, 1, 100, 2,
                         "This control determines the ratio of change in output level to changes in input level "
                         "for signals below threshold.");
    DspMakeDynamicsRange(t[Attack], Attack, 0.1, 0.2, 50, 2,
                         "The Attack time is the amount of time that the expander takes to restore the gain to "
                         "normal after threshold has been reached.");
    DspMakeDynamicsRange(t[Hold], Hold, 0.1, 0.2, 1000, 3,
                         "This control determines the time the expander holds the gain after a signal has reached "
                         "the Threshold");
    DspMakeDynamicsRange(t[Release], Release, 10, 100, 5000, 350,
                         "The Release control determines the time required to atenuate the output after the input "
                         "signal has fallen below threshold level.");
    DspMakeDynamicsRange(t[Makeup], Makeup, 0.1, -60, 32, 0,
                         "The Makeup Gain control determines the gain of the output stage of the expander");
    DspMakeStereoTie(t[StereoTie], kStereoTieChangesHelp);
    DspMakeDynamicsRange(t[LookAhead], LookAhead, 0.1, 0.5, 20, 2,
                         "The Look ahead delay gives a better and more precise expansion performance "
                         "preprocessing the input signal.");
}

void Process(DspInstance* base, const short* x, const short*, short* y, int frames, const StreamFormat* fmt)
{
    LowgateInstance* inst = static_cast<LowgateInstance*>(base);
    LowgateProcess(inst->dyn, x, y, frames, fmt->channels, DspSettingInt(inst, StereoTie) != 0);
}

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x20000045, 4, "PylSoftExpanderDSP", "PylSoft Expander DSP",
    "PylSoft Expander DSP v2.0.0.69\nDownward expander with look-ahead.",
    SettingCount, 128, true, 1,
    false, "Error alocating memory", 15, {147, 209, 232, 241, 254, 548},
    sizeof(LowgateInstance), BuildTemplate, FullDynamicsOpen, FullDynamicsApply, nullptr, Process,
    DspReleaseDynamics,
};

#include "dynamics.h"

#include <stdio.h>

using namespace FullDynamics;

namespace {

struct KindText {
    const char* name;
    const char* unit;
    const char* help;  // the compressor's wording
};

const KindText kKindText[SettingCount] = {
    {"Gain", "dB", "The Gain control is used to adjust incoming signal level."},
    {"Threshold", "dB", "The Threshold control determines the audio level above which Gain Reduction occurs."},
    {"Ratio", "",
     "This control determines the ratio of change in output level to changes in input level for signals above "
     "threshold."},
    {"Attack time", "ms",
     "The Attack time is the amount of time that the compressor takes to attenuate the output level after "
     "threshold has been reached."},
    {"Hold time", "ms",
     "This control determines the time the compressor holds the gain after a signal has reached the Threshold"},
    {"Release time", "ms",
     "The Release control determines the time required to restore gain to normal after the input signal has "
     "fallen below threshold level."},
    {"Makeup Gain", "dB", "The Makeup Gain control determines the gain of the output stage of the compressor"},
    {"Stereo tie", "", nullptr},
    {"Look ahead", "ms",
     "The Look ahead delay gives a better and more precise compression performance preprocessing the input "
     "signal."},
};

// The kind's name, numbered for a band k > 0.
const char* KindName(int kind, int band, char (&buf)[32])
{
    if (band <= 0) return kKindText[kind].name;
    snprintf(buf, sizeof buf, "%s %d", kKindText[kind].name, band);
    return buf;
}

}  // namespace

const char kStereoTieChangesHelp[] =
    "This switch allows for Gain changes on a multichannel signal with no degradation of the stereo image.";
const char kStereoTieReductionHelp[] =
    "This switch allows for Gain Reduction on a multichannel signal with no degradation of the stereo image.";

void DspMakeDynamicsRange(SettingRecord& r, int kind, double step, double minimum, double maximum,
                          double defaultValue, const char* help, int band)
{
    char name[32];
    DspMakeRange(r, KindName(kind, band, name), help ? help : kKindText[kind].help, kKindText[kind].unit, step,
                 EditorKind::Slider, minimum, maximum, defaultValue);
}

void DspMakeStereoTie(SettingRecord& r, const char* help, int band)
{
    char name[32];
    DspMakeSwitch(r, KindName(StereoTie, band, name), help, 0);
}

bool DspApplyDynamics(DspInstance* base, int index, int kind)
{
    DynamicsInstance* inst = static_cast<DynamicsInstance*>(base);
    Dynamics& d = inst->dyn;
    if (!DspSetDynamics(d, kind, DspSettingDouble(inst, index), DspSampleRate(inst), inst->format.channels))
        return false;
    if (kind == LookAhead) inst->active = d.lookAheadFrames >= 1;
    return true;
}

bool DspApplyAllSettings(DspInstance* inst, bool (*apply)(DspInstance*, int), int lookAhead)
{
    if (!apply(inst, lookAhead)) return false;
    for (int i = 0; i < g_dspModule.settingCount; ++i)
        if (i != lookAhead) apply(inst, i);
    return true;
}

void DspReleaseDynamics(DspInstance* base) { DspFreeLookAhead(static_cast<DynamicsInstance*>(base)->dyn); }

bool FullDynamicsApply(DspInstance* base, int index) { return DspApplyDynamics(base, index, index); }

DspOpenResult FullDynamicsOpen(DspInstance* base)
{
    Dynamics& d = static_cast<DynamicsInstance*>(base)->dyn;
    if (!DspApplyAllSettings(base, FullDynamicsApply, LookAhead)) return DspOpenResult::OutOfMemory;
    DspStartAtThreshold(d, base->format.channels);
    return DspOpenResult::Ok;
}

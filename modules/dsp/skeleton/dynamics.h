// Plug-in side of the dynamics effects: their setting records and the apply,
// open and release steps that feed the detector kernel (dynamics_kernel.h).
#pragma once
#include "dsp_skeleton.h"
#include "dynamics_kernel.h"

// Template record of a dynamics setting of the given kind (not StereoTie): a
// slider with the kind's name, unit and help text, which is worded for a
// compressor unless `help` is given. A band k > 0 numbers the name ("Gain 3").
void DspMakeDynamicsRange(SettingRecord& r, int kind, double step, double minimum, double maximum,
                          double defaultValue, const char* help = nullptr, int band = 0);
// The stereo tie switch, off by default, with one of its two help texts.
extern const char kStereoTieChangesHelp[];
extern const char kStereoTieReductionHelp[];
void DspMakeStereoTie(SettingRecord& r, const char* help, int band = 0);

struct DynamicsInstance : DspInstance {
    Dynamics dyn;
};

// Recomputes what depends on setting `index`, a dynamics setting of the given
// kind; false when the look-ahead ring cannot be reallocated.
bool DspApplyDynamics(DspInstance* base, int index, int kind);
// Open step: every setting through `apply`, the look-ahead first (false when
// its ring cannot be had, with nothing else applied).
bool DspApplyAllSettings(DspInstance* inst, bool (*apply)(DspInstance*, int), int lookAhead);
void DspReleaseDynamics(DspInstance* base);

// Apply and open steps of the full layout (the detector starts at the threshold).
bool FullDynamicsApply(DspInstance* base, int index);
DspOpenResult FullDynamicsOpen(DspInstance* base);

// Hard limiter: look-ahead peak limiter holding the detected level at the
// threshold, with a control input that can key the detector.
#include "ceiling_kernel.h"
#include "dynamics.h"

namespace {

enum { Gain, Threshold, Attack, Hold, Release, Makeup, StereoTie, LookAhead, SettingCount };

// The kind of each setting: the compressor/limiter's settings without the ratio.
const int kKind[SettingCount] = {
    FullDynamics::Gain,    FullDynamics::Threshold, FullDynamics::Attack,    FullDynamics::Hold,
    FullDynamics::Release, FullDynamics::Makeup,    FullDynamics::StereoTie, FullDynamics::LookAhead,
};

using CeilingInstance = DynamicsInstance;

void BuildTemplate(SettingRecord* t)
{
    DspMakeDynamicsRange(t[Gain], kKind[Gain], 0.1, -60, 32, 6);
    DspMakeDynamicsRange(t[Threshold], kKind[Threshold], 0.1, -72, -0.1, -3);
    DspMakeDynamicsRange(t[Attack], kKind[Attack], 0.1, 0.2, 50, 0.5);
    DspMakeDynamicsRange(t[Hold], kKind[Hold], 0.1, 0.2, 50, 1);
    DspMakeDynamicsRange(t[Release], kKind[Release], 1, 50, 2000, 300);
    DspMakeDynamicsRange(t[Makeup], kKind[Makeup], 0.1, -60, 32, 0);
    DspMakeStereoTie(t[StereoTie], kStereoTieChangesHelp);
    DspMakeDynamicsRange(t[LookAhead], kKind[LookAhead], 0.1, 0.5, 20, 1.5);
}

bool Apply(DspInstance* inst, int index) { return DspApplyDynamics(inst, index, kKind[index]); }

DspOpenResult Open(DspInstance* base)
{
    Dynamics& d = static_cast<CeilingInstance*>(base)->dyn;
    if (!DspApplyAllSettings(base, Apply, LookAhead)) return DspOpenResult::OutOfMemory;
    CeilingStart(d, base->format.channels);
    return DspOpenResult::Ok;
}

void Process(DspInstance* base, const short* x, const short* key, short* y, int frames, const StreamFormat* fmt)
{
    CeilingInstance* inst = static_cast<CeilingInstance*>(base);
    CeilingProcess(inst->dyn, x, key, y, frames, fmt->channels, DspSettingInt(inst, StereoTie) != 0);
}

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x21000043, 2, "PylSoftHardLimiterDSP", "PylSoft Hard Limiter DSP",
    "PylSoft Hard Limiter DSP v2.1.0.67\nLook-ahead peak limiter with side-chain input.",
    SettingCount, 128, false, 2,
    false, "Error alocating memory", 15, {147, 201, 224, 233, 246, 541},
    sizeof(CeilingInstance), BuildTemplate, Open, Apply, nullptr, Process, DspReleaseDynamics,
};

// Compressor/limiter: feed-forward peak compressor with look-ahead and a
// control input that can key the detector (side chain).
#include "dynamics.h"
#include "squeeze_kernel.h"

namespace {

using namespace FullDynamics;

using SqueezeInstance = DynamicsInstance;

void BuildTemplate(SettingRecord* t)
{
    DspMakeDynamicsRange(t[Gain], Gain, 0.1, -60, 32, 0);
    DspMakeDynamicsRange(t[Threshold], Threshold, 0.1, -72, -0.1, -18);
    DspMakeDynamicsRange(t[Ratio], Ratio, 0.1, 1, 1000, 30);
    DspMakeDynamicsRange(t[Attack], Attack, 0.1, 0.2, 50, 2);
    DspMakeDynamicsRange(t[Hold], Hold, 0.1, 0.2, 1000, 3);
    DspMakeDynamicsRange(t[Release], Release, 1, 100, 5000, 600);
    DspMakeDynamicsRange(t[Makeup], Makeup, 0.1, -60, 32, 15);
    DspMakeStereoTie(t[StereoTie], kStereoTieChangesHelp);
    DspMakeDynamicsRange(t[LookAhead], LookAhead, 0.1, 0.5, 20, 3);
}

void Process(DspInstance* base, const short* x, const short* key, short* y, int frames, const StreamFormat* fmt)
{
    SqueezeInstance* inst = static_cast<SqueezeInstance*>(base);
    SqueezeProcess(inst->dyn, x, key, y, frames, fmt->channels, DspSettingInt(inst, StereoTie) != 0);
}

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x300100FB, 1, "PylSoftCompressorDSP", "PylSoft Compressor/Limiter DSP",
    "PylSoft Compressor/Limiter DSP v3.0.1.251\nPeak compressor/limiter with look-ahead and side-chain input.",
    SettingCount, 256, true, 2,
    true, "Error allocating memory.", 1, {147, 205, 228, 237, 250, 560},
    sizeof(SqueezeInstance), BuildTemplate, FullDynamicsOpen, FullDynamicsApply, nullptr, Process,
    DspReleaseDynamics,
};

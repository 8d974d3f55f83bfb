// Stereo enhancer: scales the side signal by 1 + width and keeps the mid.
// Only 16-bit stereo blocks are processed; everything else passes through.
#include "dsp_skeleton.h"
#include "spread_kernel.h"

namespace {

enum { Width, SettingCount };

struct SpreadInstance : DspInstance {};

void BuildTemplate(SettingRecord* t)
{
    DspMakeRange(t[Width], "Wide enhancement", "Stereo image wide enhancement", "", 0.01, EditorKind::Slider, 0, 2,
                 1);
}

DspOpenResult Open(DspInstance* inst)
{
    inst->active = true;
    return DspOpenResult::Ok;
}

// The stream format of Open is not used: any 16-bit stereo block is processed.
bool Accepts(const DspInstance*, const StreamFormat* fmt) { return fmt->channels == 2 && fmt->blockAlign == 4; }

void Process(DspInstance* inst, const short* x, const short*, short* y, int frames, const StreamFormat*)
{
    // Read once per block under the instance lock, so it is never seen half-written.
    SpreadProcess(x, y, frames, DspSettingDouble(inst, Width));
}

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x1000003D, 8, "PylSoftStereoEnhancerDSP", "PylSoft Stereo Enhancer DSP",
    "PylSoft Stereo Enhancer DSP v1.0.0.61\nStereo image widener.",
    SettingCount, 128, true, 1,
    false, "Error alocating memory", 15, {147, 174, 197, 206, 219, 466},
    sizeof(SpreadInstance), BuildTemplate, Open, nullptr, Accepts, Process, nullptr,
};

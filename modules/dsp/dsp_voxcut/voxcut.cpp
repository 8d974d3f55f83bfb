// Karaoke: both channels get L - R (which cancels the centre) plus their own
// input through a notch filter. Only 16-bit stereo is processed.
#include "dsp_skeleton.h"

namespace {

enum { Frequency, Q, SettingCount };

// Direct form I notch: coefficients divided by a0, then the state of both channels.
struct Biquad {
    double b0, b1, b2, a1, a2;
    double x1[2], x2[2], y1[2], y2[2];
};

struct VoxcutInstance : DspInstance {
    Biquad* filter;
};

void BiquadSetup(Biquad* f, double frequency, double q, double rate)
{
    double w0 = 6.283185307179586 * frequency / rate;
    double alpha = sin(w0) / (2.0 * q);
    double a0 = 1.0 + alpha;
    f->b0 = 1.0 / a0;
    f->b1 = -2.0 * cos(w0) / a0;
    f->b2 = 1.0 / a0;
    f->a1 = -2.0 * cos(w0) / a0;
    f->a2 = (1.0 - alpha) / a0;
}

Biquad* BiquadCreate(double frequency, double q, double rate)
{
    Biquad* f = static_cast<Biquad*>(DspAlloc(sizeof(Biquad)));
    if (f) BiquadSetup(f, frequency, q, rate);
    return f;
}

void BiquadDestroy(Biquad* f) { DspFree(f); }

// Filters interleaved stereo frames; a state that decays below 1e-30 is flushed to 0.
void BiquadProcess(const double* in, double* out, int frames, Biquad* f)
{
    for (int t = 0; t < frames; ++t) {
        for (int c = 0; c < 2; ++c) {
            double x = in[2 * t + c];
            double y = f->b0 * x + f->b1 * f->x1[c] + f->b2 * f->x2[c] - f->a1 * f->y1[c] - f->a2 * f->y2[c];
            if (fabs(y) < 1e-30) y = 0.0;
            f->x2[c] = f->x1[c];
            f->x1[c] = x;
            f->y2[c] = f->y1[c];
            f->y1[c] = y;
            out[2 * t + c] = y;
        }
    }
}

void BuildTemplate(SettingRecord* t)
{
    DspMakeRange(t[Frequency], "Notch Filter Frequency", "Notch Filter Center Frequency", "Hz", 0.1,
                 EditorKind::Slider, 400, 4200, 800);
    DspMakeRange(t[Q], "Notch Filter Q", "Notch Filter Q", "", 0.01, EditorKind::Slider, 0.01, 2, 0.1);
}

DspOpenResult Open(DspInstance* base)
{
    VoxcutInstance* inst = static_cast<VoxcutInstance*>(base);
    inst->filter = BiquadCreate(DspSettingDouble(inst, Frequency), DspSettingDouble(inst, Q), DspSampleRate(inst));
    if (!inst->filter) return DspOpenResult::OutOfMemory;
    inst->active = inst->format.channels == 2;
    return DspOpenResult::Ok;
}

bool Apply(DspInstance* base, int)
{
    VoxcutInstance* inst = static_cast<VoxcutInstance*>(base);
    if (inst->filter)
        BiquadSetup(inst->filter, DspSettingDouble(inst, Frequency), DspSettingDouble(inst, Q), DspSampleRate(inst));
    return true;
}

bool Accepts(const DspInstance* inst, const StreamFormat* fmt)
{
    return inst->active && fmt->channels == 2 && fmt->blockAlign == 4;
}

void Process(DspInstance* base, const short* x, const short*, short* y, int frames, const StreamFormat*)
{
    VoxcutInstance* inst = static_cast<VoxcutInstance*>(base);
    enum { Chunk = 512 };
    double raw[2 * Chunk], notched[2 * Chunk];
    while (frames > 0) {
        int n = frames < Chunk ? frames : Chunk;
        for (int i = 0; i < 2 * n; ++i) raw[i] = x[i];
        BiquadProcess(raw, notched, n, inst->filter);
        for (int t = 0; t < n; ++t) {
            double side = raw[2 * t] - raw[2 * t + 1];
            y[2 * t] = DspOutputSample(side + notched[2 * t]);
            y[2 * t + 1] = DspOutputSample(side + notched[2 * t + 1]);
        }
        x += 2 * n;
        y += 2 * n;
        frames -= n;
    }
}

void Release_(DspInstance* base)
{
    VoxcutInstance* inst = static_cast<VoxcutInstance*>(base);
    BiquadDestroy(inst->filter);
    inst->filter = nullptr;
}

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x10000045, 6, "PylSoftKaraokeDSP", "PylSoft Karaoke DSP",
    "PylSoft Karaoke DSP v1.0.0.69\nCentre-channel voice removal with a notch filter.",
    SettingCount, 128, true, 1,
    false, "Error alocating memory", 15, {147, 191, 214, 223, 236, 504},
    sizeof(VoxcutInstance), BuildTemplate, Open, Apply, Accepts, Process, Release_,
};

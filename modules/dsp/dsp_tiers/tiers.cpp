// Five-band compressor: each channel is split into five bands by FIR filters,
// each band is compressed by its own detector (keyed by the full-band input),
// and the bands are summed through one makeup gain.
#include <stdio.h>

#include "dynamics.h"
#include "tiers_kernel.h"

namespace {

enum {
    Crossover = 0,  // 0..3
    Makeup = 4,
    BandGain = 5,
    BandThreshold = 10,
    BandRatio = 15,
    BandAttack = 20,
    BandHold = 25,
    BandRelease = 30,
    BandTie = 35,
    FilterOrder = 40,
    SettingCount = 41,
    Bands = TiersBands,
};

struct TiersInstance : DspInstance {
    TiersKernel k;
};

void BuildTemplate(SettingRecord* t)
{
    const EditorKind spin = EditorKind::Spin;
    static const double crossover[4] = {156, 625, 2500, 10000};
    static const double threshold[5] = {-18, -21, -21, -21, -18};
    static const double attack[5] = {10, 7, 5, 3, 2};
    char name[32], text[256];
    for (int k = 1; k <= 4; ++k) {
        snprintf(name, sizeof name, "Frequency %d", k);
        snprintf(text, sizeof text, "Cutoff frequency %d(high cutoff for band %d and low cutoff for band %d)", k, k,
                 k + 1);
        DspMakeRange(t[Crossover + k - 1], name, text, "Hz", 5, spin, 0, 24000, crossover[k - 1]);
    }
    DspMakeDynamicsRange(t[Makeup], FullDynamics::Makeup, 0.1, -60, 32, 18);
    for (int k = 1; k <= 5; ++k) {
        int b = k - 1;
        DspMakeDynamicsRange(t[BandGain + b], FullDynamics::Gain, 0.1, -60, 32, 6, nullptr, k);
        DspMakeDynamicsRange(t[BandThreshold + b], FullDynamics::Threshold, 0.1, -96, 0, threshold[b], nullptr, k);
        DspMakeDynamicsRange(t[BandRatio + b], FullDynamics::Ratio, 0.1, 1.1, 1000, 100, nullptr, k);
        DspMakeDynamicsRange(t[BandAttack + b], FullDynamics::Attack, 0.1, 0.2f, 50, attack[b], nullptr, k);
        DspMakeDynamicsRange(t[BandHold + b], FullDynamics::Hold, 0.1, 0.1, 300, 10.0 / k, nullptr, k);
        DspMakeDynamicsRange(t[BandRelease + b], FullDynamics::Release, 10, 100, 10000, 1000 - 100 * b, nullptr, k);
        DspMakeStereoTie(t[BandTie + b], kStereoTieReductionHelp, k);
    }
    DspMakeIntRange(t[FilterOrder], "Filter Order",
                    "This control affect the filter performance, the higher this value is the best performace in "
                    "band separation the filter acchives.",
                    "", 2, spin, 4, 64, 48);
}

void Crossovers(const TiersInstance* inst, double hz[4])
{
    for (int i = 0; i < 4; ++i) hz[i] = DspSettingDouble(inst, Crossover + i);
}

bool Apply(DspInstance* base, int index)
{
    TiersInstance* inst = static_cast<TiersInstance*>(base);
    const unsigned rate = DspSampleRate(inst);
    double hz[4];
    Crossovers(inst, hz);
    double v = DspSettingDouble(inst, index);
    if (index < Makeup) return TiersDesign(inst->k, hz, rate, index, index + 1);
    if (index == Makeup) {
        inst->k.makeupGain = DspDbToGain(v);
        return true;
    }
    if (index == FilterOrder) {
        int P = DspSettingInt(inst, FilterOrder);
        if (P % 2) {
            ++P;
            SettingStore<int32_t>(inst->settings[FilterOrder].currentValue, P);
        }
        return TiersSetOrder(inst->k, P, hz, rate);
    }
    // Groups of five from the band gains on: gain, threshold, ratio, attack,
    // hold and release, in the order of the dynamics kinds.
    if (index < BandTie) TiersSetBand(inst->k, (index - BandGain) % Bands, (index - BandGain) / Bands, v, rate);
    return true;
}

DspOpenResult Open(DspInstance* base)
{
    TiersInstance* inst = static_cast<TiersInstance*>(base);
    double hz[4];
    Crossovers(inst, hz);
    inst->k.makeupGain = DspDbToGain(DspSettingDouble(inst, Makeup));
    // An odd order from the store is used as it is.
    if (!TiersSetOrder(inst->k, DspSettingInt(inst, FilterOrder), hz, DspSampleRate(inst)))
        return DspOpenResult::OutOfMemory;
    for (int b = 0; b < Bands; ++b)
        for (int group = 0; group < 6; ++group) Apply(inst, BandGain + group * Bands + b);
    TiersStart(inst->k, inst->format.channels);
    inst->active = true;
    return DspOpenResult::Ok;
}

void Process(DspInstance* base, const short* x, const short*, short* y, int frames, const StreamFormat* fmt)
{
    TiersInstance* inst = static_cast<TiersInstance*>(base);
    bool tie[Bands];
    for (int b = 0; b < Bands; ++b) tie[b] = DspSettingInt(inst, BandTie + b) != 0;
    TiersProcess(inst->k, x, y, frames, fmt->channels, tie);
}

}  // namespace

extern const DspModuleDesc g_dspModule = {
    0x11000045, 5, "PylSoftMultiBandCompressorDSP", "PylSoft Multi-Band Compressor DSP",
    "PylSoft Multi-Band Compressor DSP v1.1.0.69\nFive-band compressor with linear-phase band split.",
    SettingCount, 128, true, 1,
    false, "Error alocating memory", 15, {147, 262, 285, 294, 307, 712},
    sizeof(TiersInstance), BuildTemplate, Open, Apply, nullptr, Process, nullptr,
};

// The dynamics detector shared by the compressor/limiter, hard limiter,
// expander, normalizer and (per band) the five-band compressor: a peak
// envelope follower with attack, one hold countdown per instance and release,
// an optional stereo tie, and a look-ahead delay of the signal.
#pragma once
#include "dsp_lanes.h"

// Kinds of dynamics setting. The list is also the settings layout of the
// compressor/limiter and the expander, so its names give the kind of a setting
// in the other dynamics plug-ins.
namespace FullDynamics {
enum { Gain, Threshold, Ratio, Attack, Hold, Release, Makeup, StereoTie, LookAhead, SettingCount };
}

struct Dynamics {
    double envelope[DspMaxChannels];  // 1.0 = full scale after the input gain
    double gain;        // input gain (linear)
    double makeupGain;  // output gain (linear)
    double threshold;   // linear level the gain law works around
    double invRatio;
    double attackCoef, releaseCoef;
    int holdSamples, holdCounter;
    int lookAheadFrames;  // L; the output is the signal delayed by L - 1 frames
    int ringPos;
    short* delayRing;     // 2 x L frames, frame p + L mirrors frame p
};

// Envelopes this small are flushed to 0 so silence never runs on denormals.
const double kEnvelopeFloor = 1e-30;

inline int DspLookAheadFrames(unsigned rate, double ms) { return (int)(rate * ms / 1000.0); }
inline double DspTimeCoef(double ms, unsigned rate) { return exp(-1.0 / ((ms / 1000.0) * rate)); }
inline int DspHoldSamples(double ms, unsigned rate) { return (int)ceil((ms / 1000.0) * rate); }

// One detector step for one channel sample of level u.
inline void DspEnvelopeStep(double& env, double u, double attackCoef, double releaseCoef, int& holdCounter,
                            int holdSamples)
{
    if (u > env) {
        env = attackCoef * env + (1.0 - attackCoef) * u;
        holdCounter = holdSamples;
    } else if (holdCounter > 0) {
        --holdCounter;
    } else {
        env = releaseCoef * env + (1.0 - releaseCoef) * u;
    }
    if (env < kEnvelopeFloor) env = 0.0;
}

// Every envelope set to the largest of 0 and all of them.
inline void DspTieEnvelopes(double* env, int channels)
{
    double m = 0.0;
    for (int j = 0; j < channels; ++j)
        if (env[j] > m) m = env[j];
    for (int j = 0; j < channels; ++j) env[j] = m;
}

// Replaces the delay line with one of L frames (silence, ringPos 0). L below 1
// leaves no delay line (the caller passes audio through). Returns false, with
// the old line kept, when memory is short.
bool DspSetLookAhead(Dynamics& d, int frames, int channels);
void DspFreeLookAhead(Dynamics& d);

// What a setting of a kind from Gain to Release derives from its value (dB, ms
// or ratio) at the sample rate, for any detector state with these members.
template <typename State> void DspSetLawValue(State& s, int kind, double v, unsigned rate)
{
    using namespace FullDynamics;
    switch (kind) {
    case Gain: s.gain = DspDbToGain(v); break;
    case Threshold: s.threshold = DspDbToGain(v); break;
    case Ratio: s.invRatio = 1.0 / v; break;
    case Attack: s.attackCoef = DspTimeCoef(v, rate); break;
    case Hold: s.holdSamples = DspHoldSamples(v, rate); break;
    case Release: s.releaseCoef = DspTimeCoef(v, rate); break;
    }
}

// Sets what a dynamics setting of the given kind derives from its value; a
// look-ahead also replaces the delay line (false when it cannot be had). The
// stereo tie derives nothing.
bool DspSetDynamics(Dynamics& d, int kind, double value, unsigned rate, int channels);

// Each channel's envelope started at `level`, with the hold countdown full.
void DspStartDetector(Dynamics& d, int channels, double level);
// The start of the compressor/limiter and the expander.
inline void DspStartAtThreshold(Dynamics& d, int channels) { DspStartDetector(d, channels, d.threshold); }

// The stereo form of DspRunDynamics: both channels' arithmetic in one pair of
// lanes (lane 0 = channel 0); the hold countdown still goes channel 1, then 0.
template <typename Law>
void DspRunDynamicsStereo(Dynamics& d, const short* x, const short* key, short* y, int frames, bool tie, Law law)
{
    const int L = d.lookAheadFrames;
    short* ring = d.delayRing;
    const DspLanes gainIn = d.gain / 32768.0, outScale = d.gain * d.makeupGain;
    const DspLanes attack = d.attackCoef, attackRest = 1.0 - d.attackCoef;
    const DspLanes release = d.releaseCoef, releaseRest = 1.0 - d.releaseCoef;
    const int holdSamples = d.holdSamples;
    int hold = d.holdCounter;
    DspLanes env = _mm_loadu_pd(d.envelope);
    int p = d.ringPos;
    for (int t = 0; t < frames; ++t, x += 2, key += 2, y += 2) {
        memcpy(ring + p * 2, x, 2 * sizeof(short));
        memcpy(ring + (p + L) * 2, x, 2 * sizeof(short));
        const DspLanes u = DspLanes(_mm_cvtepi32_pd(DspAbs2(DspLoad2(key)))) * gainIn;
        const DspLanes attacked = attack * env + attackRest * u;
        const DspLanes released = release * env + releaseRest * u;
        const int up = _mm_movemask_pd((u > env).m);
        int attackBits = 0, releaseBits = 0;
        if (!up && hold >= 2) {  // the usual cases: both hold...
            hold -= 2;
        } else if (!up && hold == 0) {  // ...or both release
            releaseBits = 3;
        } else {
            for (int j = 1; j >= 0; --j) {
                if (up >> j & 1) {
                    attackBits |= 1 << j;
                    hold = holdSamples;
                } else if (hold > 0) {
                    --hold;
                } else {
                    releaseBits |= 1 << j;
                }
            }
        }
        if (attackBits | releaseBits)
            env = DspSelectBits(attackBits, attacked, DspSelectBits(releaseBits, released, env));
        env = _mm_andnot_pd((env < kEnvelopeFloor).m, env.v);
        if (tie) {
            double e[2];
            _mm_storeu_pd(e, env.v);
            DspTieEnvelopes(e, 2);
            env = _mm_loadu_pd(e);
        }
        const DspLanes delayed = _mm_cvtepi32_pd(DspLoad2(ring + (p + 1) * 2));
        DspOutputSamples2(law(env) * delayed * outScale, y);
        if (++p == L) p = 0;
    }
    _mm_storeu_pd(d.envelope, env.v);
    d.holdCounter = hold;
    d.ringPos = p;
}

// Runs the detector and the look-ahead delay over whole frames; law(envelope)
// gives the gain for one channel, written once for double and DspLanes (a
// generic lambda with DspSelect for its cases). key is the detector input (the
// signal when NULL).
template <typename Law>
void DspRunDynamics(Dynamics& d, const short* x, const short* key, short* y, int frames, int n, bool tie,
                    Law law)
{
    if (!key) key = x;
    if (n == 2) return DspRunDynamicsStereo(d, x, key, y, frames, tie, law);
    const int L = d.lookAheadFrames;
    short* ring = d.delayRing;
    const double gainIn = d.gain / 32768.0;
    const double outScale = d.gain * d.makeupGain;
    int p = d.ringPos;
    for (int t = 0; t < frames; ++t, x += n, key += n, y += n) {
        short* now = ring + p * n;
        short* mirror = ring + (p + L) * n;
        for (int j = n - 1; j >= 0; --j) {
            now[j] = mirror[j] = x[j];
            int k = key[j];
            double u = (k < 0 ? -k : k) * gainIn;
            DspEnvelopeStep(d.envelope[j], u, d.attackCoef, d.releaseCoef, d.holdCounter, d.holdSamples);
        }
        if (tie) DspTieEnvelopes(d.envelope, n);
        const short* delayed = ring + (p + 1) * n;
        for (int j = n - 1; j >= 0; --j) y[j] = DspOutputSample(law(d.envelope[j]) * delayed[j] * outScale);
        if (++p == L) p = 0;
    }
    d.ringPos = p;
}

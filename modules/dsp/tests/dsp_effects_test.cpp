// Signal tests of each effect: identities that hold exactly, steady states on
// the gain laws, time constants measured from the output, and references
// produced by sox.
#include <gtest/gtest.h>

#include <math.h>

#include "dsp_host.h"
#include "dsp_skeleton.h"

namespace {

double Db(double linear) { return 20.0 * log10(linear); }

// y equals x delayed by `delay` frames (silence before), with -32768 read as -32767.
void ExpectDelayed(const std::vector<short>& x, const std::vector<short>& y, int channels, int delay, int tolerance)
{
    ASSERT_EQ(x.size(), y.size());
    size_t shift = (size_t)delay * channels;
    int worst = 0;
    for (size_t i = 0; i < y.size(); ++i) {
        int want = i < shift ? 0 : std::max<int>(x[i - shift], -32767);
        worst = std::max(worst, abs(y[i] - want));
    }
    EXPECT_LE(worst, tolerance) << "delay " << delay;
}

// Every sample of the last `frames` frames has the magnitude `level` (within 1).
void ExpectSettledAt(const std::vector<short>& y, double level, size_t frames = 2000)
{
    double worst = 0;
    for (size_t i = y.size() - frames; i < y.size(); ++i) worst = std::max(worst, fabs(abs(y[i]) - level));
    EXPECT_LE(worst, 1.0) << "expected magnitude " << level << ", last " << y.back();
}

// Detectors start from values derived from the settings read at Open, so
// settings that move the starting envelope are stored first and the
// instance opened again (which also reads them back from its section).
void* Reopen(DspHost& host, void* h, const StreamFormat& f)
{
    host.close(h);
    return host.open(f);
}

// Compressor law above the threshold on linear levels; the output magnitude of
// a steady square whose detected level is u.
double CompressedLevel(double u, double T, double ratio) { return u > T ? T + (u - T) / ratio : u; }

TEST(OutputSample, ClampsRoundsToAStepOf1Over65536ThenFloors)
{
    EXPECT_EQ(2, DspOutputSample(2.7));
    EXPECT_EQ(-3, DspOutputSample(-2.3));
    EXPECT_EQ(-1, DspOutputSample(-0.5));
    EXPECT_EQ(2, DspOutputSample(1.99999999));
    EXPECT_EQ(1, DspOutputSample(1.99998));
    EXPECT_EQ(0, DspOutputSample(0.0));
    EXPECT_EQ(32767, DspOutputSample(32767.9));
    EXPECT_EQ(32767, DspOutputSample(1e300));
    EXPECT_EQ(-32767, DspOutputSample(-32768.0));
    EXPECT_EQ(-32767, DspOutputSample(-HUGE_VAL));
    EXPECT_EQ(0, DspOutputSample(NAN));
}

TEST(Squeeze, RatioOneIsTheInputDelayedByLookAheadMinusOne)
{
    DspHost host("dsp_squeeze.dll");
    ASSERT_TRUE(host.ok());
    void* h = host.open(Pcm(2));
    host.setDouble(h, "Ratio", 1);
    host.setDouble(h, "Makeup Gain", 0);
    auto x = Noise(20000, 2, 32767);
    x[5000] = x[9001] = -32768;
    ExpectDelayed(x, host.run(h, x, Pcm(2)), 2, 131, 0);  // 3 ms at 44100 Hz: L = 132
    host.setDouble(h, "Look ahead", 10);                    // a new look-ahead restarts with silence
    auto y = host.run(h, x, Pcm(2));
    ExpectDelayed(x, y, 2, 440, 0);
    host.close(h);
}

TEST(Squeeze, SteadySquaresSettleOnTheGainLaw)
{
    struct Case {
        int amplitude;
        double thresholdDb, ratio, gainDb, makeupDb;
    } cases[] = {{16384, -18, 4, 0, 0}, {8000, -12, 30, 6, 3}, {1000, -18, 30, 0, 15}, {30000, -6, 1000, -3, 0}};
    for (const Case& c : cases) {
        DspHost host("dsp_squeeze.dll");
        void* h = host.open(Pcm(1));
        host.setDouble(h, "Threshold", c.thresholdDb);
        host.setDouble(h, "Ratio", c.ratio);
        host.setDouble(h, "Gain", c.gainDb);
        host.setDouble(h, "Makeup Gain", c.makeupDb);
        host.setDouble(h, "Release time", 100);
        auto y = host.run(h, Square(44100, 1, c.amplitude), Pcm(1));
        double u = c.amplitude * pow(10, c.gainDb / 20) / 32768, T = pow(10, c.thresholdDb / 20);
        SCOPED_TRACE(c.amplitude);
        ExpectSettledAt(y, std::min(32767.0, CompressedLevel(u, T, c.ratio) * 32768 * pow(10, c.makeupDb / 20)));
        host.close(h);
    }
}


TEST(Squeeze, AttackAndReleaseFollowTheirTimeConstants)
{
    DspHost host("dsp_squeeze.dll");
    void* h = host.open(Pcm(1));
    const double T = 0.1, ratio = 1e3;
    host.setDouble(h, "Threshold", -20);
    host.setDouble(h, "Ratio", ratio);
    host.setDouble(h, "Makeup Gain", 0);
    host.setDouble(h, "Attack time", 5);     // 220.5 frames
    host.setDouble(h, "Hold time", 1);       // 45 frames
    host.setDouble(h, "Release time", 100);  // 4410 frames
    const int s0 = 22050, s1 = 44100, delay = 131;
    std::vector<short> x(88200, 0);
    auto loud = Square(s1 - s0, 1, 16384), soft = Square(88200 - s1, 1, 6554);
    std::copy(loud.begin(), loud.end(), x.begin() + s0);
    std::copy(soft.begin(), soft.end(), x.begin() + s1);
    auto y = host.run(h, x, Pcm(1));
    // Envelope at detector time t from the output frame t (its delayed input is x[t - delay]).
    auto env = [&](int t) {
        double g = fabs((double)y[t]) / fabs((double)x[t - delay]);
        return T * (1 - 1 / ratio) / (g - 1 / ratio);
    };
    const double u = 0.5, u2 = 6554 / 32768.0, tauA = 220.5, tauR = 4410;
    // Attack: the remaining distance shrinks by e per time constant.
    int k1 = 300, k2 = 300 + (int)(2 * tauA);
    EXPECT_NEAR(exp(-2.0), (u - env(s0 + k2)) / (u - env(s0 + k1)), 0.01);
    // Release, after the hold: same, with the release time constant.
    int r1 = 200, r2 = 200 + (int)tauR;
    EXPECT_NEAR(exp(-1.0), (env(s1 + r2) - u2) / (env(s1 + r1) - u2), 0.01);
    host.close(h);
}

TEST(Squeeze, ControlInputKeysTheDetector)
{
    DspHost host("dsp_squeeze.dll");
    const StreamFormat f = Pcm(2);
    const double T = pow(10, -18 / 20.0);
    auto loud = Square(44100, 2, 20000), quiet = Square(44100, 2, 1000), silent = std::vector<short>(88200, 0),
         key = Square(44100, 2, 30000);
    for (int pass = 0; pass < 3; ++pass) {
        void* h = host.open(f);
        host.setDouble(h, "Makeup Gain", 0);
        std::vector<short> y;
        if (pass == 0) {  // loud signal, silent key: no reduction
            y = host.run(h, loud, f, {4410}, &silent);
            ExpectDelayed(loud, y, 2, 131, 0);
        } else if (pass == 1) {  // quiet signal, loud key: reduced as the key's level demands
            y = host.run(h, quiet, f, {4410}, &key);
            double u = 30000 / 32768.0;
            ExpectSettledAt(y, 1000 * CompressedLevel(u, T, 30) / u);
        } else {  // no key: the signal keys itself
            y = host.run(h, loud, f);
            double u = 20000 / 32768.0;
            ExpectSettledAt(y, 32768 * CompressedLevel(u, T, 30));
        }
        host.close(h);
    }
}

TEST(Squeeze, StereoTieAppliesTheLouderChannelsReduction)
{
    DspHost host("dsp_squeeze.dll");
    const StreamFormat f = Pcm(2);
    const double T = pow(10, -18 / 20.0), uL = 20000 / 32768.0;
    std::vector<short> x = Square(44100, 2, 20000);
    for (size_t i = 1; i < x.size(); i += 2) x[i] /= 10;  // right at 2000: below the threshold
    for (int tie = 0; tie < 2; ++tie) {
        void* h = host.open(f);
        host.setDouble(h, "Makeup Gain", 0);
        host.setInt(h, "Stereo tie", tie);
        auto y = host.run(h, x, f);
        double right = fabs((double)y[y.size() - 1]);
        EXPECT_NEAR(tie ? 2000 * CompressedLevel(uL, T, 30) / uL : 2000, right, 1) << "tie " << tie;
        host.close(h);
    }
}

TEST(Ceiling, DefaultsHoldSteadyPeaksAtTheThreshold)
{
    DspHost host("dsp_ceiling.dll");
    const double T = pow(10, -3 / 20.0), gain = pow(10, 6 / 20.0);
    void* h = host.open(Pcm(1));  // louder than the starting envelope (threshold x gain)
    auto y = host.run(h, Square(44100, 1, 30000), Pcm(1));
    ExpectSettledAt(y, T * 32768);
    host.close(h);
    h = host.open(Pcm(1));  // below the threshold only the input gain applies
    ExpectSettledAt(host.run(h, Square(44100, 1, 1000), Pcm(1)), 1000 * gain);
    host.close(h);
    h = host.open(Pcm(1));  // a silent key: no limiting, the gained signal clips
    std::vector<short> silent(44100, 0);
    ExpectSettledAt(host.run(h, Square(44100, 1, 20000), Pcm(1), {4410}, &silent), 32767);
    host.close(h);
    h = host.open(Pcm(1));  // 1.5 ms at 44100 Hz: L = 66
    host.setDouble(h, "Gain", 0);
    host.setDouble(h, "Threshold", -0.1);
    h = Reopen(host, h, Pcm(1));
    auto x = Noise(10000, 1, 20000);
    ExpectDelayed(x, host.run(h, x, Pcm(1)), 1, 65, 0);
    host.close(h);
}

TEST(Lowgate, RatioOneIsTheInputDelayed)
{
    DspHost host("dsp_lowgate.dll");
    void* h = host.open(Pcm(2));
    host.setDouble(h, "Ratio", 1);
    auto x = Noise(20000, 2, 32767);
    x[777] = -32768;
    ExpectDelayed(x, host.run(h, x, Pcm(2)), 2, 87, 0);  // 2 ms: L = 88
    host.close(h);
}

TEST(Lowgate, LevelsBelowTheThresholdFollowTheExpansionLaw)
{
    const double T = pow(10, -3 / 20.0);
    struct Case {
        int amplitude;
        double expected;
    } cases[] = {{16384, (T - 2 * (T - 0.5)) * 32768}, {(int)(T / 2 * 32768), 0}, {25000, 25000}, {3000, 0}};
    for (const Case& c : cases) {
        DspHost host("dsp_lowgate.dll");
        void* h = host.open(Pcm(1));
        host.setDouble(h, "Release time", 100);
        SCOPED_TRACE(c.amplitude);
        ExpectSettledAt(host.run(h, Square(88200, 1, c.amplitude), Pcm(1)), c.expected);
        host.close(h);
    }
}

TEST(Lowgate, DigitalSilenceGivesSilenceAndTheSignalReturns)
{
    DspHost host("dsp_lowgate.dll");
    void* h = host.open(Pcm(1));
    host.setDouble(h, "Release time", 100);
    std::vector<short> x(88200, 0);
    auto tone = Square(44100, 1, 25000);
    std::copy(tone.begin(), tone.end(), x.begin() + 44100);
    auto y = host.run(h, x, Pcm(1));
    for (int i = 0; i < 44100; ++i) ASSERT_EQ(0, y[i]) << i;
    ExpectSettledAt(y, 25000);
    host.close(h);
}

void SetAllBands(DspHost& host, void* h, const char* format, double value)
{
    for (int k = 1; k <= 5; ++k) {
        char name[32];
        snprintf(name, sizeof name, format, k);
        host.setDouble(h, name, value);
    }
}

void Neutral(DspHost& host, void* h)
{
    SetAllBands(host, h, "Gain %d", 0);
    SetAllBands(host, h, "Threshold %d", 0);
    host.setDouble(h, "Makeup Gain", 0);
}

TEST(Tiers, NeutralBandsRebuildTheInputDelayedByHalfTheOrder)
{
    DspHost host("dsp_tiers.dll");
    const StreamFormat f = Pcm(2);
    auto x = Noise(20000, 2, 32767, 3);
    void* h = host.open(f);
    Neutral(host, h);
    ExpectDelayed(x, host.run(h, x, f), 2, 24, 1);
    host.close(h);
    for (int order : {64, 4, 47, 0, 1000}) {
        h = host.open(f);
        Neutral(host, h);
        host.setInt(h, "Filter Order", order);
        int used = host.getInt(h, "Filter Order");
        EXPECT_EQ(order == 47 ? 48 : std::min(64, std::max(4, order)), used);
        SCOPED_TRACE(order);
        ExpectDelayed(x, host.run(h, x, f), 2, used / 2, 1);
        host.close(h);
    }
}

double Rms(const std::vector<short>& v, size_t from)
{
    double s = 0;
    for (size_t i = from; i < v.size(); ++i) s += (double)v[i] * v[i];
    return sqrt(s / (v.size() - from));
}

TEST(Tiers, BandGainsActOnTheirOwnFrequencies)
{
    DspHost host("dsp_tiers.dll");
    // Only the wide upper bands are sharp at 48 taps: band 4 (2500-10000 Hz) and band 5.
    // At 8000 Hz the fourth crossover lies above half the rate: band 4 ends just below it.
    const struct { int rate; double hz, ratio; } rows[] = {{44100, 200, 1}, {44100, 5000, 2}, {44100, 16000, 0.5},
                                                           {8000, 3200, 2}};
    for (const auto& r : rows) {
        const StreamFormat f = Pcm(1, r.rate);
        void* h = host.open(f);
        Neutral(host, h);
        host.setDouble(h, "Gain 4", Db(2));
        host.setDouble(h, "Gain 5", Db(0.5));
        // A band's envelope starts at threshold x gain, above a 0 dB threshold when
        // the gain is raised: measure after it has released.
        SetAllBands(host, h, "Release time %d", 100);
        std::vector<short> x(r.rate);
        for (size_t i = 0; i < x.size(); ++i) x[i] = (short)(8000 * sin(2 * M_PI * r.hz * i / r.rate));
        double ratio = Rms(host.run(h, x, f), r.rate / 2) / Rms(x, r.rate / 2);
        EXPECT_NEAR(r.ratio, ratio, 0.03) << r.hz << " Hz at " << r.rate;
        host.close(h);
    }
}

TEST(Tiers, SteadySquareSettlesOnTheGainLawKeyedByTheFullBand)
{
    DspHost host("dsp_tiers.dll");
    const StreamFormat f = Pcm(1);
    void* h = host.open(f);
    Neutral(host, h);
    SetAllBands(host, h, "Threshold %d", -12);
    SetAllBands(host, h, "Ratio %d", 4);
    SetAllBands(host, h, "Attack time %d", 1);
    SetAllBands(host, h, "Release time %d", 100);
    auto y = host.run(h, Square(44100, 1, 16384, 100), f);
    ExpectSettledAt(y, 32768 * CompressedLevel(0.5, pow(10, -12 / 20.0), 4));
    host.close(h);
}

TEST(Leveler, QuietSignalWithoutGainIsTheInputDelayed)
{
    DspHost host("dsp_leveler.dll");
    void* h = host.open(Pcm(2));
    host.setDouble(h, "Gain", 0);
    h = Reopen(host, h, Pcm(2));
    auto x = Noise(20000, 2, 15000);
    ExpectDelayed(x, host.run(h, x, Pcm(2)), 2, 219, 0);  // 5 ms: L = 220
    host.close(h);
}

TEST(Leveler, LoudSquareSettlesAtTheTargetAfterALookAheadAttack)
{
    DspHost host("dsp_leveler.dll");
    void* h = host.open(Pcm(1));
    ExpectSettledAt(host.run(h, Square(44100, 1, 32767), Pcm(1)), pow(10, -3 / 20.0) * 32768);
    host.close(h);

    h = host.open(Pcm(1));
    const double target = pow(10, -12 / 20.0), tau = 441;
    host.setDouble(h, "Gain", 0);
    host.setDouble(h, "Normalization level", -12);
    host.setDouble(h, "Look ahead", 10);  // attack time constant 441 frames, L = 441
    h = Reopen(host, h, Pcm(1));
    const int s0 = 8820, delay = 440;
    std::vector<short> x(44100, 0);
    auto sq = Square(44100 - s0, 1, 16384);
    std::copy(sq.begin(), sq.end(), x.begin() + s0);
    auto y = host.run(h, x, Pcm(1));
    auto env = [&](int t) { return target * fabs((double)x[t - delay]) / fabs((double)y[t]); };
    int k1 = 450, k2 = 450 + (int)tau;
    EXPECT_NEAR(exp(-1.0), (0.5 - env(s0 + k2)) / (0.5 - env(s0 + k1)), 0.01);
    host.close(h);
}

TEST(Leveler, StereoTieLowersTheQuietChannelToo)
{
    DspHost host("dsp_leveler.dll");
    std::vector<short> x = Square(44100, 2, 32767);
    for (size_t i = 1; i < x.size(); i += 2) x[i] = x[i] > 0 ? 1000 : -1000;
    for (int tie = 0; tie < 2; ++tie) {
        void* h = host.open(Pcm(2));
        host.setInt(h, "Stereo tie", tie);
        auto y = host.run(h, x, Pcm(2));
        // Tied, the quiet right channel gets the loud left's reduction (to the target);
        // untied it is never pulled below its input by the left.
        double right = fabs((double)y.back());
        if (tie)
            EXPECT_NEAR(1000 * pow(10, -3 / 20.0) * 32768 / 32767, right, 1.0);
        else
            EXPECT_GE(right, 999);
        host.close(h);
    }
}

TEST(Voxcut, CentredContentMatchesSoxBandreject)
{
    DspHost host("dsp_voxcut.dll");
    auto x = ReadRaw("centre.raw"), want = ReadRaw("centre_bandreject.raw");
    ASSERT_FALSE(x.empty());
    ASSERT_EQ(x.size(), want.size());
    void* h = host.open(Pcm(2));
    auto y = host.run(h, x, Pcm(2), {4410, 1, 733});
    int worst = 0;
    for (size_t i = 0; i < y.size(); ++i) worst = std::max(worst, abs(y[i] - want[i]));
    EXPECT_LE(worst, 1);
    EXPECT_GT(Rms(x, 0) - Rms(y, 0), 0.1 * Rms(x, 0)) << "the notch removes energy";
    host.close(h);
    // At 8000 Hz a notch set above half the rate works just below it.
    want = ReadRaw("centre8k_bandreject.raw");
    h = host.open(Pcm(2, 8000));
    host.setDouble(h, "Notch Filter Frequency", 4200);
    y = host.run(h, x, Pcm(2, 8000));
    worst = 0;
    for (size_t i = 0; i < y.size(); ++i) worst = std::max(worst, abs(y[i] - want[i]));
    EXPECT_LE(worst, 1) << "8000 Hz";
    host.close(h);
}

TEST(Voxcut, LeftOnlyContentReachesTheRightUnchanged)
{
    DspHost host("dsp_voxcut.dll");
    auto x = Noise(10000, 2, 12000);
    for (size_t i = 1; i < x.size(); i += 2) x[i] = 0;
    void* h = host.open(Pcm(2));
    auto y = host.run(h, x, Pcm(2));
    size_t leftDiffers = 0;
    for (size_t i = 0; i < y.size(); i += 2) {
        ASSERT_EQ(x[i], y[i + 1]) << i;
        leftDiffers += x[i] != y[i];
    }
    EXPECT_GT(leftDiffers, y.size() / 4);
    host.close(h);
}

TEST(Spread, WidthOneMatchesSoxRemix)
{
    DspHost host("dsp_spread.dll");
    auto x = ReadRaw("stereo.raw"), want = ReadRaw("stereo_remix.raw");
    ASSERT_FALSE(x.empty());
    ASSERT_EQ(x.size(), want.size());
    void* h = host.open(Pcm(2));
    auto y = host.run(h, x, Pcm(2));
    int worst = 0;
    for (size_t i = 0; i < y.size(); ++i) worst = std::max(worst, abs(y[i] - want[i]));
    EXPECT_LE(worst, 1);
    host.close(h);
}

TEST(Spread, KnownFramesAndWidths)
{
    DspHost host("dsp_spread.dll");
    struct Case {
        double width;
        short l, r, wantL, wantR;
    } cases[] = {{1, 1000, 0, 1500, -500}, {1, 30000, -30000, 32767, -32767}, {2, 500, 500, 500, 500},
                 {2, -3, 1, -7, 5},      {0, -32768, 17, -32767, 17},         {0.5, 100, -100, 150, -150},
                 // the output rule: floor, after rounding to 1/65536
                 {0.5, 1, 0, 1, -1}, {0.5, -3, 0, -4, 0}, {0.99999999, 1, -1, 2, -2}};
    for (const Case& c : cases) {
        void* h = host.open(Pcm(2));
        host.setDouble(h, "Wide enhancement", c.width);
        auto y = host.run(h, {c.l, c.r}, Pcm(2));
        EXPECT_EQ(c.wantL, y[0]) << c.width << " " << c.l << "," << c.r;
        EXPECT_EQ(c.wantR, y[1]) << c.width << " " << c.l << "," << c.r;
        host.close(h);
    }
}

}  // namespace

// Responses measured from the modules' output: the five-band split filters
// (impulse responses of each band against the window-method design figures),
// and the hold and release times of the normalizer and the compressor.
#include <gtest/gtest.h>

#include <math.h>

#include <complex>

#include "dsp_host.h"

namespace {

double Db(double linear) { return 20.0 * log10(linear); }

// Impulse response of one band of the five-band compressor: that band at
// +32 dB, the others at -60 dB, no gain reduction (0 dB thresholds, levels
// kept below them). An impulse of +A and one of -A, P + 36 frames apart: half
// their difference cancels the output rounding's bias.
std::vector<double> BandImpulseResponse(DspHost& host, void* h, int band, int order)
{
    char name[32];
    for (int k = 1; k <= 5; ++k) {
        snprintf(name, sizeof name, "Gain %d", k);
        host.setDouble(h, name, k == band ? 32 : -60);
    }
    const int A = 800, first = 10, second = first + order + 36;  // A x 10^(32/20) / 32768 < 1: no compression
    std::vector<short> x(second + order + 36, 0);
    x[first] = A;
    x[second] = -A;
    auto y = host.run(h, x, Pcm(1));
    std::vector<double> r(order);
    const double scale = A * pow(10, 32 / 20.0);
    for (int m = 0; m < order; ++m) r[m] = (y[first + m] - y[second + m]) / 2.0 / scale;
    return r;
}

double ResponseDb(const std::vector<double>& r, double hz, double rate)
{
    std::complex<double> sum = 0;
    for (size_t m = 0; m < r.size(); ++m) sum += r[m] * std::polar(1.0, -2 * M_PI * hz / rate * m);
    return Db(std::abs(sum) + 1e-12);
}

TEST(Tiers, BandFiltersHaveTheirEdgesAtHalfAmplitudeAndAHammingStopBand)
{
    DspHost host("dsp_tiers.dll");
    ASSERT_TRUE(host.ok());
    const double rate = 44100, edges[6] = {0, 156, 625, 2500, 10000, rate / 2};
    const int order = 64;
    void* h = host.open(Pcm(1));
    host.setInt(h, "Filter Order", order);
    host.setDouble(h, "Makeup Gain", 0);
    char name[32];
    for (int k = 1; k <= 5; ++k) {
        snprintf(name, sizeof name, "Threshold %d", k);
        host.setDouble(h, name, 0);
    }
    // Window method with a Hamming window: the response passes through half
    // amplitude (-6.02 dB) at a band edge and stays about 53 dB down beyond
    // one transition width, 3.3 / N of the sample rate, from the band.
    const double transition = 3.3 * rate / (order + 1);
    for (int band = 1; band <= 5; ++band) {
        SCOPED_TRACE(band);
        auto r = BandImpulseResponse(host, h, band, order);
        double lo = edges[band - 1], hi = edges[band], worst = -200, worstHz = 0;
        for (double hz = 25; hz < rate / 2; hz += 25) {
            if (hz > lo - transition && hz < hi + transition) continue;
            double db = ResponseDb(r, hz, rate);
            if (db > worst) worst = db, worstHz = hz;
        }
        EXPECT_LE(worst, -50.0) << "stop band at " << worstHz << " Hz";
        // Bands narrower than the transition width never reach full amplitude:
        // their edges are checked from band 3 (625-2500 Hz) on.
        if (band < 3) continue;
        EXPECT_NEAR(-6.02, ResponseDb(r, lo, rate), 0.5) << lo << " Hz";
        if (band < 5) {
            EXPECT_NEAR(-6.02, ResponseDb(r, hi, rate), 0.5) << hi << " Hz";
        }
        EXPECT_NEAR(0.0, ResponseDb(r, (lo + hi) / 2, rate), 0.5) << "band centre";
    }
    host.close(h);
}

// Envelope of a detector that holds env0 for H samples from sample 0, then
// releases toward u: env(k) - u = (env0 - u) c^(k - H + 1) from k = H on.
// The time constant -1 / ln c comes from a straight line through ln(env - u)
// over the release [fitFrom, fitTo); the hold is the H for which that model,
// with env0 fitted, matches env over [from, to) best.
struct HoldRelease {
    double hold, tau;
};
HoldRelease FitHoldRelease(const std::vector<double>& env, double u, int from, int to, int fitFrom, int fitTo)
{
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (int k = fitFrom; k < fitTo; ++k) {
        double v = log(env[k] - u);
        n += 1, sx += k, sy += v, sxx += (double)k * k, sxy += k * v;
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx), c = exp(slope);
    std::vector<double> power(to - from + 1);
    for (size_t j = 0; j < power.size(); ++j) power[j] = pow(c, (double)j);
    int best = from;
    double bestError = HUGE_VAL;
    for (int H = from; H < to; ++H) {
        auto w = [&](int k) { return k < H ? 1.0 : power[k - H + 1]; };
        double swd = 0, sww = 0;
        for (int k = from; k < to; ++k) swd += w(k) * (env[k] - u), sww += w(k) * w(k);
        double lift = swd / sww, error = 0;
        for (int k = from; k < to; ++k) {
            double d = env[k] - u - lift * w(k);
            error += d * d;
        }
        if (error < bestError) bestError = error, best = H;
    }
    return {(double)best, -1 / slope};
}

// A loud square, then from frame `drop` on a quieter one. The loud part is
// short enough (a few attack time constants) that every one of its samples is
// an attack, so the hold starts in full at the drop.
std::vector<short> LoudThenQuiet(int frames, int drop, int loud, int quiet)
{
    std::vector<short> x = Square(frames, 1, loud);
    auto q = Square(frames - drop, 1, quiet);
    std::copy(q.begin(), q.end(), x.begin() + drop);
    return x;
}

TEST(Leveler, FixedHoldOf20msThenAReleaseOf5s)
{
    DspHost host("dsp_leveler.dll");
    void* h = host.open(Pcm(1));
    // The highest target and a quiet part at half the loud level make the
    // release show best in 16-bit output.
    host.setDouble(h, "Gain", 0);
    host.setDouble(h, "Normalization level", -0.1);
    // The detector starts from the values read at Open: open again with these.
    host.close(h);
    h = host.open(Pcm(1));
    const double target = pow(10, -0.1 / 20.0), u2 = 0.5;
    const int drop = 2000, delay = 219;  // 5 ms look-ahead: L = 220, attack time constant 220.5 frames
    auto x = LoudThenQuiet(drop + 8000, drop, 32767, 16384);
    auto y = host.run(h, x, Pcm(1));
    // Detector level at frame drop + k from the gain applied to the delayed input.
    std::vector<double> env(8000 - delay);
    for (size_t k = 0; k < env.size(); ++k) {
        size_t t = drop + k;
        env[k] = target * fabs((double)x[t - delay]) / fabs((double)y[t]);
    }
    // From k = 250 on the output carries quiet samples only (one rounding for
    // all); the level stays above the target until about k = 5900.
    auto fit = FitHoldRelease(env, u2, 250, 3000, 2500, 5500);
    EXPECT_NEAR(44100 / 50, fit.hold, 30);              // 20 ms in mono
    EXPECT_NEAR(5 * 44100, fit.tau, 0.02 * 5 * 44100);  // 5 s
    host.close(h);
}

TEST(Squeeze, HoldTimeKeepsTheGainBeforeTheRelease)
{
    DspHost host("dsp_squeeze.dll");
    void* h = host.open(Pcm(1));
    const double T = 0.1, ratio = 1e3, u2 = 6554 / 32768.0;
    host.setDouble(h, "Threshold", -20);
    host.setDouble(h, "Ratio", ratio);
    host.setDouble(h, "Makeup Gain", 0);
    host.setDouble(h, "Attack time", 5);      // 220.5 frames
    host.setDouble(h, "Hold time", 50);       // ceil(0.05 x 44100) = 2205 frames
    host.setDouble(h, "Release time", 100);   // 4410 frames
    const int drop = 2000, delay = 131;       // 3 ms look-ahead: L = 132
    auto x = LoudThenQuiet(drop + 22050, drop, 16384, 6554);
    auto y = host.run(h, x, Pcm(1));
    // Above the threshold g = (T + (e - T) / ratio) / e, so e = T (1 - 1/ratio) / (g - 1/ratio).
    std::vector<double> env(22050 - delay);
    for (size_t k = 0; k < env.size(); ++k) {
        size_t t = drop + k;
        double g = fabs((double)y[t]) / fabs((double)x[t - delay]);
        env[k] = T * (1 - 1 / ratio) / (g - 1 / ratio);
    }
    auto fit = FitHoldRelease(env, u2, 50, 5000, 3000, 12000);
    EXPECT_NEAR(2205, fit.hold, 10);
    EXPECT_NEAR(4410, fit.tau, 0.02 * 4410);
    host.close(h);
}

}  // namespace

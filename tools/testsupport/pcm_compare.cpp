#include "pcm_compare.h"

#include <math.h>
#include <string.h>

namespace vqtest {

namespace {

// Sum of absolute differences of a window of channel-summed frames; gives up
// once it passes `limit` (integer work: the emulator is slow at floating point).
int64_t WindowDistance(const std::vector<int32_t>& a, const std::vector<int32_t>& b, size_t start, long offset,
                       size_t width, int64_t limit)
{
    int64_t sum = 0;
    for (size_t i = 0; i < width; ++i) {
        int32_t d = a[start + i] - b[(size_t)((long)(start + i) + offset)];
        sum += d < 0 ? -d : d;
        if (sum >= limit) break;
    }
    return sum;
}

std::vector<int32_t> Mono(const std::vector<int16_t>& s, int channels)
{
    std::vector<int32_t> m(s.size() / channels);
    for (size_t f = 0; f < m.size(); ++f) {
        int32_t v = 0;
        for (int c = 0; c < channels; ++c) v += s[f * channels + c];
        m[f] = v;
    }
    return m;
}

}  // namespace

PcmMatch MatchPcm(const std::vector<int16_t>& got, const std::vector<int16_t>& reference, int channels,
                  long maxOffset, bool fitGain)
{
    PcmMatch best;
    if (channels < 1) return best;
    std::vector<int32_t> a = Mono(got, channels), b = Mono(reference, channels);
    const size_t width = 4096;
    // A window from the middle of what we got, away from either end.
    if (a.size() < width * 2 || b.size() < width) return best;
    size_t start = (a.size() - width) / 2;
    int64_t bestDistance = INT64_MAX;
    for (long off = -maxOffset; off <= maxOffset; ++off) {
        long lo = (long)start + off;
        if (lo < 0 || (size_t)lo + width > b.size()) continue;
        int64_t d = WindowDistance(a, b, start, off, width, bestDistance);
        if (d < bestDistance) {
            bestDistance = d;
            best.offset = off;
        }
    }
    if (bestDistance == INT64_MAX) return best;
    size_t first = best.offset < 0 ? (size_t)(-best.offset) : 0;
    size_t last = a.size();
    if ((long)last + best.offset > (long)b.size()) last = (size_t)((long)b.size() - best.offset);
    double gain = 1.0;
    if (fitGain) {
        double cross = 0.0, power = 0.0;
        for (size_t f = first; f < last; ++f)
            for (int c = 0; c < channels; ++c) {
                double r = reference[(size_t)((long)f + best.offset) * channels + c];
                cross += got[f * channels + c] * r;
                power += r * r;
            }
        if (power > 0.0) gain = cross / power;
    }
    double signal = 0.0, noise = 0.0;
    for (size_t f = first; f < last; ++f)
        for (int c = 0; c < channels; ++c) {
            double r = gain * reference[(size_t)((long)f + best.offset) * channels + c];
            double d = got[f * channels + c] - r;
            signal += r * r;
            noise += d * d;
        }
    best.frames = last > first ? last - first : 0;
    if (best.frames == 0 || signal <= 0.0) return best;
    best.snrDb = noise > 0.0 ? 10.0 * log10(signal / noise) : 200.0;
    return best;
}

std::vector<int16_t> Samples16(const std::vector<unsigned char>& bytes)
{
    std::vector<int16_t> s(bytes.size() / 2);
    if (!s.empty()) memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

}  // namespace vqtest

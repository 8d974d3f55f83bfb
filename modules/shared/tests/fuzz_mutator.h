// Deterministic mutations of small audio files for the input modules' fuzz
// test: generic byte damage plus changes to the header fields that the MPEG,
// ID3v2 and RIFF/WAVE parsers read, and to the objects, packets and payloads
// of ASF files. Plain C++, no Windows calls.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vqfuzz {

using Bytes = std::vector<uint8_t>;

// splitmix64: the same seed gives the same files on every machine.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t Next()
    {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n); n > 0.
    uint32_t Below(uint32_t n) { return (uint32_t)(((Next() >> 32) * n) >> 32); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }

private:
    uint64_t s_;
};

// WmaPastData: only whole packets put past the counted data of an ASF file.
enum class Format { Mpeg, Wav, Wma, WmaPastData };

// The random stream of file number `index` of a run started with `seed`:
// any single file of a run can be made again on its own.
inline Rng FileRng(uint64_t seed, uint64_t index) { return Rng(seed * 0x2545F4914F6CDD1DULL + index * 0x9E3779B97F4A7C15ULL); }

// One to three mutations of a copy of seed (for WmaPastData, that one); the
// names of the mutations applied are appended to log (separated by blanks).
Bytes Mutate(const Bytes& seed, Format format, Rng& rng, std::string* log);

}  // namespace vqfuzz

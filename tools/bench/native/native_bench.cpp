// Native benchmark of the signal kernels beside sox and ffmpeg (built and run
// by run.sh beside it; not a test). Modes:
//   native_bench table <work folder>   noise.wav and noise.mp3 must be there;
//                                      prints the whole table
//   native_bench effect <name> <wav> [raw]   one effect (or "chain", "none")
//                                      over the file in 100 ms blocks; prints
//                                      kernel_seconds= (and keeps the output)
//   native_bench decode <mp3> [wav]    decoder, dither and 16-bit packing to a
//                                      WAV stream (on /dev/null by default)
// Every figure is the processor time of a whole process, ours and theirs
// alike started through the shell and taken in turn, best of seven;
// silence/noise compares our kernel time alone.
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include <string>
#include <vector>

#include "ceiling_kernel.h"
#include "leveler_kernel.h"
#include "lowgate_kernel.h"
#include "mpeg_pcm.h"
#include "pcm_converter.h"
#include "spread_kernel.h"
#include "squeeze_kernel.h"
#include "tiers_kernel.h"
#include "voxcut_kernel.h"
#include "wav_format.h"

void* DspAlloc(size_t bytes) { return calloc(1, bytes); }
void DspFree(void* p) { free(p); }
void* PcmScratchAlloc(size_t bytes) { return malloc(bytes); }
void PcmScratchFree(void* p) { free(p); }

namespace {

const unsigned kRate = 44100;
const int kChannels = 2, kBlockFrames = kRate / 10, kRuns = 7;

double Now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// ---- effects, set up as the plug-ins are with their default settings ----

struct Effect {
    virtual ~Effect() {}
    virtual void Process(const short* x, short* y, int frames) = 0;
};

// Values by dynamics kind; NAN where the effect has no such setting.
struct DynamicsValues {
    double v[FullDynamics::SettingCount];
};

// The plug-ins' open order: the look-ahead first, then every other value.
void SetDynamics(Dynamics& d, const DynamicsValues& s)
{
    using namespace FullDynamics;
    memset(&d, 0, sizeof d);
    DspSetDynamics(d, LookAhead, s.v[LookAhead], kRate, kChannels);
    for (int k = 0; k < SettingCount; ++k)
        if (k != LookAhead && !isnan(s.v[k])) DspSetDynamics(d, k, s.v[k], kRate, kChannels);
}

// Gain, threshold, ratio, attack, hold, release, makeup, stereo tie, look-ahead.
const DynamicsValues kSqueeze = {{0, -18, 30, 2, 3, 600, 15, 0, 3}};
const DynamicsValues kCeiling = {{6, -3, NAN, 0.5, 1, 300, 0, 0, 1.5}};
const DynamicsValues kLowgate = {{0, -3, 2, 2, 3, 350, 0, 0, 2}};
const DynamicsValues kLeveler = {{18, -3, NAN, NAN, NAN, NAN, NAN, 0, 5}};

// A single-band dynamics effect: its values, how its detector starts, its process.
struct DynamicsEffect : Effect {
    Dynamics d;
    void (*run)(Dynamics&, const short*, short*, int);
    DynamicsEffect(const DynamicsValues& v, void (*start)(Dynamics&),
                   void (*process)(Dynamics&, const short*, short*, int))
        : run(process)
    {
        SetDynamics(d, v);
        start(d);
    }
    ~DynamicsEffect() { DspFreeLookAhead(d); }
    void Process(const short* x, short* y, int n) override { run(d, x, y, n); }
};

Effect* MakeSqueeze()
{
    return new DynamicsEffect(
        kSqueeze, [](Dynamics& d) { DspStartAtThreshold(d, kChannels); },
        [](Dynamics& d, const short* x, short* y, int n) { SqueezeProcess(d, x, nullptr, y, n, kChannels, false); });
}

Effect* MakeCeiling()
{
    return new DynamicsEffect(
        kCeiling, [](Dynamics& d) { CeilingStart(d, kChannels); },
        [](Dynamics& d, const short* x, short* y, int n) { CeilingProcess(d, x, nullptr, y, n, kChannels, false); });
}

Effect* MakeLowgate()
{
    return new DynamicsEffect(
        kLowgate, [](Dynamics& d) { DspStartAtThreshold(d, kChannels); },
        [](Dynamics& d, const short* x, short* y, int n) { LowgateProcess(d, x, y, n, kChannels, false); });
}

Effect* MakeLeveler()
{
    return new DynamicsEffect(
        kLeveler,
        [](Dynamics& d) {
            LevelerSetAttack(d, kLeveler.v[FullDynamics::LookAhead], kRate);
            LevelerStart(d, kRate, kChannels);
        },
        [](Dynamics& d, const short* x, short* y, int n) { LevelerProcess(d, x, y, n, kChannels, false); });
}

struct Tiers : Effect {
    TiersKernel* k;
    bool tie[TiersBands] = {};
    Tiers()
    {
        using namespace FullDynamics;
        static const double crossover[4] = {156, 625, 2500, 10000};
        static const double threshold[5] = {-18, -21, -21, -21, -18}, attack[5] = {10, 7, 5, 3, 2};
        k = static_cast<TiersKernel*>(DspAlloc(sizeof(TiersKernel)));
        k->makeupGain = DspDbToGain(18);
        TiersSetOrder(*k, 48, crossover, kRate);
        for (int b = 0; b < TiersBands; ++b) {
            TiersSetBand(*k, b, Gain, 6, kRate);
            TiersSetBand(*k, b, Threshold, threshold[b], kRate);
            TiersSetBand(*k, b, Ratio, 100, kRate);
            TiersSetBand(*k, b, Attack, attack[b], kRate);
            TiersSetBand(*k, b, Hold, 10.0 / (b + 1), kRate);
            TiersSetBand(*k, b, Release, 1000 - 100 * b, kRate);
        }
        TiersStart(*k, kChannels);
    }
    ~Tiers() { DspFree(k); }
    void Process(const short* x, short* y, int n) override { TiersProcess(*k, x, y, n, kChannels, tie); }
};

struct Voxcut : Effect {
    Biquad* f = BiquadCreate(800, 0.1, kRate);
    ~Voxcut() { BiquadDestroy(f); }
    void Process(const short* x, short* y, int n) override { VoxcutProcess(f, x, y, n); }
};

struct Spread : Effect {
    void Process(const short* x, short* y, int n) override { SpreadProcess(x, y, n, 1.0); }
};

struct EffectInfo {
    const char* name;   // for the effect mode
    const char* label;  // in the table
    const char* sox;    // the nearest sox effect
    double target;      // our speed over sox's, at least
    Effect* (*make)();
};

template <typename T> Effect* Make() { return new T; }

const EffectInfo kEffects[] = {
    {"squeeze", "compressor", "compand 0.002,0.6 -90,-90,-18,-18,0,-17.4 15 -90 0.003", 1.0, MakeSqueeze},
    {"ceiling", "hard limiter", "compand 0.0005,0.3 -90,-84,-9,-3,0,-3 0 -90 0.0015", 1.0, MakeCeiling},
    {"lowgate", "expander", "compand 0.002,0.35 -90,-180,-3,-3,0,0 0 -90 0.002", 1.0, MakeLowgate},
    {"tiers", "five-band",
     "mcompand \"0.01,1 -90,-90,-18,-17.5 18\" 156 \"0.007,0.9 -90,-90,-21,-20.5 18\" 625 "
     "\"0.005,0.8 -90,-90,-21,-20.5 18\" 2500 \"0.003,0.7 -90,-90,-21,-20.5 18\" 10000 "
     "\"0.002,0.6 -90,-90,-18,-17.5 18\"",
     1.5, Make<Tiers>},
    // A delay of exactly 5 ms (220.5 frames) makes sox stop with "multi-channel effect flowed
    // asymmetrically" (and status 0) at once; 4.99 ms is 220 frames, our look-ahead.
    {"leveler", "normalizer", "compand 0.005,5 -90,-72,-21,-3,0,-3 0 -90 0.00499", 1.0, MakeLeveler},
    {"voxcut", "karaoke", "bandreject 800 0.1q", 1.0, Make<Voxcut>},
    {"spread", "enhancer", "remix 1v1.5,2v-0.5 1v-0.5,2v1.5", 1.0, Make<Spread>},
};
const int kEffectCount = sizeof kEffects / sizeof kEffects[0];

// ---- WAV files (16-bit stereo at 44.1 kHz, as run.sh makes them) ----

// Offset of the sample data, or -1.
long DataOffset(FILE* f, uint32_t* bytes)
{
    unsigned char h[12];
    if (fread(h, 1, 12, f) != 12 || memcmp(h, "RIFF", 4) || memcmp(h + 8, "WAVE", 4)) return -1;
    unsigned char c[8];
    while (fread(c, 1, 8, f) == 8) {
        uint32_t size = c[4] | c[5] << 8 | c[6] << 16 | (uint32_t)c[7] << 24;
        if (!memcmp(c, "data", 4)) {
            *bytes = size;
            return ftell(f);
        }
        fseek(f, size + (size & 1), SEEK_CUR);
    }
    return -1;
}

std::vector<short> ReadWav(const char* path)
{
    std::vector<short> v;
    FILE* f = fopen(path, "rb");
    uint32_t bytes = 0;
    if (f && DataOffset(f, &bytes) >= 0) {
        v.resize(bytes / 2);
        v.resize(fread(v.data(), 2, v.size(), f));
    }
    if (f) fclose(f);
    return v;
}

bool WriteWav(const std::string& path, const std::vector<short>& pcm)
{
    StreamFormat fmt = {1, kChannels, (int32_t)kRate, (int32_t)kRate * 4, 4, 16};
    unsigned char format[WavFormatBytes], head[WavHeaderBytes];
    WavBuildFormat(&fmt, format);
    WavBuildHeader(format, (uint32_t)(pcm.size() * 2), head);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(head, 1, sizeof head, f) == sizeof head && fwrite(pcm.data(), 2, pcm.size(), f) == pcm.size();
    return fclose(f) == 0 && ok;
}

// ---- modes run as their own process ----

// Reads the file in 100 ms blocks and runs them through the effect, all
// seven ("chain", each output feeding the next, as the host chains them) or
// none (the floor: reading the file).
int RunEffect(const char* name, const char* path, const char* outPath)
{
    std::vector<Effect*> chain;
    for (const EffectInfo& e : kEffects)
        if (!strcmp(name, "chain") || !strcmp(name, e.name)) chain.push_back(e.make());
    FILE* f = fopen(path, "rb");
    uint32_t bytes = 0;
    if ((chain.empty() && strcmp(name, "none")) || !f || DataOffset(f, &bytes) < 0) {
        fprintf(stderr, "cannot run %s on %s\n", name, path);
        return 1;
    }
    FILE* sink = outPath ? fopen(outPath, "wb") : nullptr;
    std::vector<short> in((size_t)kBlockFrames * kChannels), out(in.size());
    double kernel = 0;
    uint64_t check = 0;
    size_t got;
    while ((got = fread(in.data(), 4, kBlockFrames, f)) > 0) {
        double t0 = Now();
        for (Effect* e : chain) {
            e->Process(in.data(), out.data(), (int)got);
            memcpy(in.data(), out.data(), got * 4);
        }
        kernel += Now() - t0;
        check += (uint16_t)in[0];
        if (sink) fwrite(in.data(), 4, got, sink);
    }
    fclose(f);
    if (sink) fclose(sink);
    for (Effect* e : chain) delete e;
    printf("kernel_seconds=%.6f check=%llu\n", kernel, (unsigned long long)check);
    return 0;
}

// "Xing" or "Info" where the tag of an MPEG-1 layer III frame stands (after
// the header, the optional CRC and up to 32 bytes of side information).
bool IsInfoFrame(const unsigned char* frame, const unsigned char* end)
{
    for (const unsigned char* p = frame + 4; p + 4 <= end && p <= frame + 42; ++p)
        if (!memcmp(p, "Xing", 4) || !memcmp(p, "Info", 4)) return true;
    return false;
}

// The decoder thread's work without the thread: refill below a quarter of a
// 200000-byte buffer, decode (skipping an Info frame), synthesise, dither and
// pack to 16 bits, write.
int RunDecode(const char* path, const char* outPath)
{
    enum { InputSize = 200000, RefillBelow = 50000 };
    FILE* f = fopen(path, "rb");
    FILE* out = fopen(outPath, "wb");
    if (!f || !out) return 1;
    static char outBuffer[1 << 16];
    setvbuf(out, outBuffer, _IOFBF, sizeof outBuffer);
    std::vector<unsigned char> input(InputSize + MAD_BUFFER_GUARD);
    static unsigned char packed[1152 * 2 * 2];
    static mad_fixed_t mix[1152];
    DitherState dither[2] = {};
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_options(&stream, MAD_OPTION_IGNORECRC);
    StreamFormat fmt = {1, kChannels, (int32_t)kRate, (int32_t)kRate * 4, 4, 16};
    unsigned char format[WavFormatBytes], head[WavHeaderBytes];
    WavBuildFormat(&fmt, format);
    WavBuildHeader(format, 0, head);
    fwrite(head, 1, sizeof head, out);
    size_t buffered = 0;
    bool exhausted = false, firstFrame = true;
    uint64_t samples = 0;
    for (;;) {
        if (!exhausted && buffered < RefillBelow) {
            size_t got = fread(input.data() + buffered, 1, InputSize - buffered, f);
            buffered += got;
            if (got == 0) {
                memset(input.data() + buffered, 0, MAD_BUFFER_GUARD);
                buffered += MAD_BUFFER_GUARD;
                exhausted = true;
            }
        }
        mad_stream_buffer(&stream, input.data(), buffered);
        for (;;) {
            if (mad_frame_decode(&frame, &stream)) {
                if (MAD_RECOVERABLE(stream.error)) continue;
                break;
            }
            if (firstFrame) {  // a Xing/Info frame carries no audio
                firstFrame = false;
                if (IsInfoFrame(stream.this_frame, stream.next_frame)) continue;
            }
            mad_synth_frame(&synth, &frame);
            uint32_t n = PackFrame16(packed, &synth.pcm, kChannels, dither, mix);
            fwrite(packed, 1, n, out);
            samples += n / 2;
        }
        if (stream.error != MAD_ERROR_BUFLEN || exhausted) break;
        size_t rest = stream.next_frame ? input.data() + buffered - stream.next_frame : 0;
        memmove(input.data(), input.data() + buffered - rest, rest);
        buffered = rest;
    }
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
    WavBuildHeader(format, (uint32_t)(samples * 2), head);
    if (fseek(out, 0, SEEK_SET) == 0) fwrite(head, 1, sizeof head, out);
    fclose(f);
    fclose(out);
    printf("samples=%llu\n", (unsigned long long)samples);
    return 0;
}

// ---- the table ----

std::string g_self;

struct Timing {
    double cpu = -1;     // best processor seconds (user + system) of the whole process
    double kernel = -1;  // best kernel seconds it printed
};

double ChildrenCpu()
{
    rusage u;
    getrusage(RUSAGE_CHILDREN, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Best of kRuns runs of each shell command (-1 when one failed), taken in turn
// so that a change in the machine's load falls on all of them alike.
std::vector<Timing> Time(const std::vector<std::string>& commands)
{
    std::vector<Timing> best(commands.size());
    std::vector<bool> failed(commands.size());
    for (int run = 0; run < kRuns; ++run) {
        for (size_t i = 0; i < commands.size(); ++i) {
            if (failed[i]) continue;
            double c0 = ChildrenCpu();
            FILE* p = popen((commands[i] + " 2>/dev/null").c_str(), "r");
            char line[256];
            double kernel = -1;
            while (p && fgets(line, sizeof line, p)) sscanf(line, "kernel_seconds=%lf", &kernel);
            int rc = p ? pclose(p) : -1;
            double cpu = ChildrenCpu() - c0;
            if (rc != 0) {
                failed[i] = true;
                best[i] = Timing();
                continue;
            }
            if (best[i].cpu < 0 || cpu < best[i].cpu) best[i].cpu = cpu;
            if (kernel >= 0 && (best[i].kernel < 0 || kernel < best[i].kernel)) best[i].kernel = kernel;
        }
    }
    return best;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Sox(const std::string& wav, const std::string& effects)
{
    return "sox --single-threaded -D " + Quote(wav) + " -t null /dev/null " + effects;
}

// One line of the table. ratioTarget > 0: our speed over theirs, at least;
// quiet: our kernel time on the gapped file, at most 1.5x that on the noise;
// extraOk: any further target of the line.
void Row(const char* label, double samples, const Timing& ours, const Timing& theirs, const Timing* quiet,
         double ratioTarget, const char* targetText, bool extraOk = true)
{
    char oursText[16] = "n/a", theirText[16] = "n/a", ratioText[16] = "n/a", quietText[16] = "-";
    bool met = extraOk;
    if (ours.cpu > 0) snprintf(oursText, sizeof oursText, "%.1f", samples / ours.cpu / 1e6);
    if (theirs.cpu > 0) snprintf(theirText, sizeof theirText, "%.1f", samples / theirs.cpu / 1e6);
    if (ours.cpu > 0 && theirs.cpu > 0) {
        double ratio = theirs.cpu / ours.cpu;
        snprintf(ratioText, sizeof ratioText, "%.2fx", ratio);
        if (ratioTarget > 0) met = met && ratio >= ratioTarget;
    } else if (ratioTarget > 0) {
        met = false;
    }
    if (quiet) {
        double q = ours.kernel > 0 && quiet->kernel > 0 ? quiet->kernel / ours.kernel : -1;
        if (q > 0) snprintf(quietText, sizeof quietText, "%.2fx", q);
        met = met && q > 0 && q <= 1.5;
    }
    printf("%-22s %8s %8s %8s %14s   %-26s %s\n", label, oursText, theirText, ratioText, quietText, targetText,
           !*targetText ? "" : met ? "met" : "MISSED");
    fflush(stdout);
}

int RunTable(const std::string& dir)
{
    const std::string noise = dir + "/noise.wav", gapped = dir + "/gapped.wav", mp3 = dir + "/noise.mp3";
    std::vector<short> pcm = ReadWav(noise.c_str());
    if (pcm.empty()) {
        fprintf(stderr, "cannot read %s\n", noise.c_str());
        return 1;
    }
    // 20 s of noise, then silence up to the last 20 s.
    std::vector<short> quiet = pcm;
    const size_t edge = (size_t)20 * kRate * kChannels;
    if (quiet.size() > 2 * edge) std::fill(quiet.begin() + edge, quiet.end() - edge, 0);
    if (!WriteWav(gapped, quiet)) return 1;
    const double samples = (double)pcm.size(), seconds = samples / kChannels / kRate;

    printf("%.0f s of 44.1 kHz stereo pink noise, 100 ms blocks; million samples per second of processor time\n"
           "(user + system) of each whole process, best of %d runs; ratio = their time / our time; silence/noise\n"
           "compares our kernel time on 20 s noise + 80 s silence + 20 s noise with that on the noise. Theirs: sox,\n"
           "ffmpeg on the last line.\n\n",
           seconds, kRuns);
    const std::string self = Quote(g_self);
    std::vector<Timing> floors = Time({self + " effect none " + Quote(noise), Sox(noise, "")});
    printf("%-22s %8s %8s %8s %14s   %-26s %s\n", "", "ours", "theirs", "ratio", "silence/noise", "target", "");
    std::string allSox;
    for (const EffectInfo& e : kEffects) {
        std::vector<Timing> t = Time({self + " effect " + e.name + " " + Quote(noise),
                                      self + " effect " + e.name + " " + Quote(gapped), Sox(noise, e.sox)});
        allSox += std::string(" ") + e.sox;
        char target[32];
        snprintf(target, sizeof target, ">= %.1fx sox; <= 1.5x", e.target);
        Row(e.label, samples, t[0], t[2], &t[1], e.target, target);
    }
    std::vector<Timing> chain = Time({self + " effect chain " + Quote(noise), self + " effect chain " + Quote(gapped),
                                      Sox(noise, allSox)});
    const double realTime = chain[0].cpu > 0 ? seconds / chain[0].cpu : 0;
    char chainTarget[48];
    snprintf(chainTarget, sizeof chainTarget, ">= 100x real time: %.0fx", realTime);
    Row("all seven chained", samples, chain[0], chain[2], &chain[1], 0, chainTarget, realTime >= 100);
    std::vector<Timing> decode =
        Time({self + " decode " + Quote(mp3), "sox " + Quote(mp3) + " -t s16 /dev/null",
              "ffmpeg -nostdin -v error -threads 1 -i " + Quote(mp3) + " -f s16le -y /dev/null"});
    Row("mp3 decode vs sox", samples, decode[0], decode[1], nullptr, 1.0, ">= 1.0x sox");
    Row("mp3 decode vs ffmpeg", samples, decode[0], decode[2], nullptr, 0, "");
    printf("\nfloors (read %.0f s of WAV, no effect): ours %.3f s, sox %.3f s\n", seconds, floors[0].cpu,
           floors[1].cpu);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    g_self = argv[0];
    if (argc == 3 && !strcmp(argv[1], "table")) return RunTable(argv[2]);
    if ((argc == 4 || argc == 5) && !strcmp(argv[1], "effect"))
        return RunEffect(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    if ((argc == 3 || argc == 4) && !strcmp(argv[1], "decode"))
        return RunDecode(argv[2], argc == 4 ? argv[3] : "/dev/null");
    fprintf(stderr, "usage: %s table <folder> | effect <name|chain|none> <wav> [raw] | decode <mp3> [wav]\n", argv[0]);
    return 2;
}

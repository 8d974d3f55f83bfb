// DSP benchmark (not a test): every effect over 120 s of 44.1 kHz stereo pink
// noise in 100 ms blocks, timed in-process, beside the nearest sox effect run
// on the same audio; then the seven chained, and a run with 80 s of silence
// between the noise (denormal check).
//
//   dsp_bench [work folder]     (default: the system's temp folder)
//
// sox is started as a Unix program (under Wine) through /bin/sh, which times
// it and leaves the elapsed nanoseconds in a marker file.
#include <windows.h>

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "vq_module.h"

namespace {

const int kRate = 44100, kChannels = 2, kSeconds = 120, kBlockFrames = kRate / 10;

struct Effect {
    const char* dll;
    const char* label;
    const char* sox;  // sox effect arguments
};

const Effect kEffects[] = {
    {"dsp_squeeze.dll", "compressor", "compand 0.002,0.6 -90,-90,-18,-18,0,-17.4 15 -90 0.003"},
    {"dsp_ceiling.dll", "hard limiter", "compand 0.0005,0.3 -90,-84,-9,-3,0,-3 0 -90 0.0015"},
    {"dsp_lowgate.dll", "expander", "compand 0.002,0.35 -90,-180,-3,-3,0,0 0 -90 0.002"},
    {"dsp_tiers.dll", "five-band",
     "mcompand \"0.01,1 -90,-90,-18,-17.5 18\" 156 \"0.007,0.9 -90,-90,-21,-20.5 18\" 625 "
     "\"0.005,0.8 -90,-90,-21,-20.5 18\" 2500 \"0.003,0.7 -90,-90,-21,-20.5 18\" 10000 "
     "\"0.002,0.6 -90,-90,-18,-17.5 18\""},
    // 5 ms exactly (220.5 frames) makes sox stop at once with status 0; 4.99 ms is our 220 frames.
    {"dsp_leveler.dll", "normalizer", "compand 0.005,5 -90,-72,-21,-3,0,-3 0 -90 0.00499"},
    {"dsp_voxcut.dll", "karaoke", "bandreject 800 0.1q"},
    {"dsp_spread.dll", "enhancer", "remix 1v1.5,2v-0.5 1v-0.5,2v1.5"},
};
const int kEffectCount = sizeof kEffects / sizeof kEffects[0];

std::string g_dir;  // private folder with the plug-ins and the configuration library
int g_logLevel = 15;

double Now()
{
    static LARGE_INTEGER freq;
    if (!freq.QuadPart) QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / freq.QuadPart;
}

// Pink noise (Paul Kellet's filter over white noise), independent per channel.
std::vector<short> PinkNoise(int frames, unsigned seed)
{
    std::vector<short> v((size_t)frames * kChannels);
    for (int c = 0; c < kChannels; ++c) {
        double b[7] = {0};
        unsigned s = seed + 7919u * c;
        for (int t = 0; t < frames; ++t) {
            s = s * 1664525u + 1013904223u;
            double w = ((s >> 8) / 8388608.0) - 1.0;
            b[0] = 0.99886 * b[0] + w * 0.0555179;
            b[1] = 0.99332 * b[1] + w * 0.0750759;
            b[2] = 0.96900 * b[2] + w * 0.1538520;
            b[3] = 0.86650 * b[3] + w * 0.3104856;
            b[4] = 0.55000 * b[4] + w * 0.5329522;
            b[5] = -0.7616 * b[5] - w * 0.0168980;
            double p = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + w * 0.5362;
            b[6] = w * 0.115926;
            double y = p * 0.11 * 32767 * 0.5;
            v[(size_t)t * kChannels + c] = (short)(y > 32767 ? 32767 : y < -32767 ? -32767 : y);
        }
    }
    return v;
}

bool WriteWav(const std::string& path, const std::vector<short>& pcm)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    uint32_t data = (uint32_t)(pcm.size() * 2);
    struct {
        char riff[4];
        uint32_t size;
        char wave[4], fmt[4];
        uint32_t fmtSize;
        uint16_t tag, channels;
        uint32_t rate, bytesPerSec;
        uint16_t align, bits;
        char dataId[4];
        uint32_t dataSize;
    } h = {{'R', 'I', 'F', 'F'}, 36 + data, {'W', 'A', 'V', 'E'}, {'f', 'm', 't', ' '}, 16, 1, kChannels,
           kRate, kRate * 4, 4, 16, {'d', 'a', 't', 'a'}, data};
    bool ok = fwrite(&h, sizeof h, 1, f) == 1 && fwrite(pcm.data(), 2, pcm.size(), f) == pcm.size();
    return fclose(f) == 0 && ok;
}

IVqProModule* Load(const char* dll)
{
    HMODULE lib = LoadLibraryA((g_dir + "\\" + dll).c_str());
    if (!lib) return nullptr;
    auto get = (GetModuleInterfaceFn)GetProcAddress(lib, "GetModuleInterface");
    IVqProModule* m = get ? get() : nullptr;
    if (!m) return nullptr;
    m->h.hInstance = lib;
    std::string log = g_dir + "\\bench.log";
    static std::string keep;
    keep = log;
    if (m->h.InitModule(keep.c_str(), &g_logLevel) <= 0) return nullptr;
    return m;
}

StreamFormat Format()
{
    StreamFormat f = {1, kChannels, kRate, kRate * 4, 4, 16};
    return f;
}

// Seconds to run the signal through the chain of modules, 100 ms per block,
// each output copied back over the input as the host does.
double TimeChain(const std::vector<IVqProModule*>& chain, const std::vector<short>& pcm)
{
    StreamFormat f = Format();
    std::vector<void*> handles;
    char section[64];
    for (size_t i = 0; i < chain.size(); ++i) {
        snprintf(section, sizeof section, "PylSoftBatchConverter::DSP%03d", (int)i + 1);
        handles.push_back(chain[i]->dsp.Open(&f, section));
    }
    std::vector<short> in(kBlockFrames * kChannels), out(in.size());
    double start = Now();
    for (size_t pos = 0; pos < pcm.size(); pos += in.size()) {
        size_t n = std::min(in.size(), pcm.size() - pos);
        memcpy(in.data(), pcm.data() + pos, n * 2);
        for (size_t i = 0; i < chain.size(); ++i) {
            short* pins[2] = {in.data(), nullptr};
            short* outs[1] = {out.data()};
            chain[i]->dsp.Process(pins, outs, (int)(n * 2), &f, handles[i]);
            memcpy(in.data(), out.data(), n * 2);
        }
    }
    double t = Now() - start;
    for (size_t i = 0; i < chain.size(); ++i) chain[i]->dsp.Close(handles[i]);
    return t;
}

// Unix path of a Windows path under Wine (empty elsewhere).
std::string UnixPath(const std::string& win)
{
    typedef char*(__cdecl * Fn)(const WCHAR*);
    Fn fn = (Fn)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (!fn) return std::string();
    WCHAR w[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, win.c_str(), -1, w, MAX_PATH);
    char* u = fn(w);
    if (!u) return std::string();
    std::string s = u;
    HeapFree(GetProcessHeap(), 0, u);
    return s;
}

// Elapsed seconds of "sox --single-threaded -D in.wav -t null /dev/null <effect>", or -1.
double TimeSox(const std::string& wavWin, const char* effect, int id)
{
    std::string wav = UnixPath(wavWin);
    std::string markerWin = g_dir + "\\sox_" + std::to_string(id) + ".done";
    std::string marker = UnixPath(markerWin);
    if (wav.empty() || marker.empty()) return -1;
    DeleteFileA(markerWin.c_str());
    // Absolute paths: the Unix side may not see a usable PATH.
    std::string script = "s=$(/bin/date +%s%N); /usr/bin/sox --single-threaded -D '" + wav +
                         "' -t null /dev/null " + effect + " 2>/dev/null; r=$?; e=$(/bin/date +%s%N); echo $r $((e-s)) > '" +
                         marker + ".tmp'; /bin/mv '" + marker + ".tmp' '" + marker + "'";
    std::string quoted;
    for (char c : script) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    std::string cmd = "/bin/sh -c \"" + quoted + "\"";
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    if (!CreateProcessA("Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);
    // The Unix process is not a Windows process: wait for its marker.
    for (int waited = 0; waited < 600000; waited += 20) {
        FILE* f = fopen(markerWin.c_str(), "r");
        if (f) {
            int rc = -1;
            long long ns = 0;
            int got = fscanf(f, "%d %lld", &rc, &ns);
            fclose(f);
            return got == 2 && rc == 0 ? ns / 1e9 : -1;
        }
        Sleep(20);
    }
    return -1;
}

bool CopyBeside(const std::string& from, const char* name)
{
    return CopyFileA((from + "\\" + name).c_str(), (g_dir + "\\" + name).c_str(), FALSE) != 0;
}

}  // namespace

int main(int argc, char** argv)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string bin = exe;
    bin = bin.substr(0, bin.find_last_of('\\'));
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    std::string base = argc > 1 ? argv[1] : tmp;
    g_dir = base + "\\vq_dsp_bench_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(g_dir.c_str(), nullptr);
    for (const char* dep : {"PylConfig.dll", "PylComLib.dll", "PylVC32.dll"}) CopyBeside(bin, dep);
    for (const Effect& e : kEffects)
        if (!CopyBeside(bin + "\\modules", e.dll)) {
            fprintf(stderr, "cannot copy %s\n", e.dll);
            return 1;
        }

    const int frames = kRate * kSeconds;
    std::vector<short> noise = PinkNoise(frames, 1);
    std::vector<short> gapped = noise;  // 20 s noise, 80 s silence, 20 s noise
    std::fill(gapped.begin() + (size_t)20 * kRate * kChannels, gapped.begin() + (size_t)100 * kRate * kChannels, 0);
    std::string wav = g_dir + "\\in.wav";
    if (!WriteWav(wav, noise)) {
        fprintf(stderr, "cannot write %s\n", wav.c_str());
        return 1;
    }

    std::vector<IVqProModule*> all;
    for (const Effect& e : kEffects) {
        IVqProModule* m = Load(e.dll);
        if (!m) {
            fprintf(stderr, "cannot load %s\n", e.dll);
            return 1;
        }
        all.push_back(m);
    }

    const double samples = (double)frames * kChannels;
    printf("%d s of 44.1 kHz stereo pink noise in 100 ms blocks; samples per second (millions)\n\n", kSeconds);
    printf("%-13s %10s %10s %8s %14s\n", "effect", "ours", "sox", "ratio", "silence/noise");
    for (int i = 0; i < kEffectCount; ++i) {
        std::vector<IVqProModule*> one = {all[i]};
        TimeChain(one, std::vector<short>(noise.begin(), noise.begin() + kRate * kChannels));  // warm-up
        double ours = TimeChain(one, noise);
        double quiet = TimeChain(one, gapped);
        double sox = TimeSox(wav, kEffects[i].sox, i);
        char soxText[32] = "n/a", ratioText[32] = "n/a";
        if (sox > 0) {
            snprintf(soxText, sizeof soxText, "%10.1f", samples / sox / 1e6);
            snprintf(ratioText, sizeof ratioText, "%7.2fx", sox / ours);
        }
        printf("%-13s %10.1f %10s %8s %13.2fx\n", kEffects[i].label, samples / ours / 1e6, soxText, ratioText,
               quiet / ours);
        fflush(stdout);
    }
    double chain = TimeChain(all, noise);
    double chainQuiet = TimeChain(all, gapped);
    printf("\nall seven chained: %.3f s for %d s of audio = %.0fx real time; silence/noise %.2fx\n", chain,
           kSeconds, kSeconds / chain, chainQuiet / chain);
    for (IVqProModule* m : all) m->h.QuitModule();
    return 0;
}

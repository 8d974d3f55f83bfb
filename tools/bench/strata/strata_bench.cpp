// Decodes an MP3 one of two ways and times it inside the process:
//   strata_bench module <file.mp3>   in_strata (modules\ beside the program),
//                                    read by the host's block: 100 ms of PCM
//   strata_bench bare <file.mp3>     the decoder library alone, built like the
//                                    module's, synthesis rounded to 16 bits
// Prints "<mode>-seconds <wall> cpu <cpu> bytes <pcm bytes> reads <calls>".
//   strata_bench tags <file.mp3> [n] the module's GetTagEx on the file, n times
//                                    (3 by default); prints "tags-seconds
//                                    <fastest wall> cpu <its cpu> result <last>".
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include <mad.h>

#include "bench_module.h"

namespace {

double Seconds(const LARGE_INTEGER& a, const LARGE_INTEGER& b)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return (double)(b.QuadPart - a.QuadPart) / (double)f.QuadPart;
}

double CpuSeconds()
{
    FILETIME c, e, k, u;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
    auto v = [](const FILETIME& t) { return (double)(((uint64_t)t.dwHighDateTime << 32) | t.dwLowDateTime) / 1e7; };
    return v(k) + v(u);
}

int16_t ToPcm16(mad_fixed_t s)
{
    s += 1L << (MAD_F_FRACBITS - 16);
    if (s >= MAD_F_ONE)
        s = MAD_F_ONE - 1;
    else if (s < -MAD_F_ONE)
        s = -MAD_F_ONE;
    return (int16_t)(s >> (MAD_F_FRACBITS + 1 - 16));
}

// The decoder library on its own, fed like the module feeds it: a 200000-byte
// input buffer topped up when less than 50000 bytes are left.
bool Bare(const char* path, uint64_t* bytes, unsigned* blocks)
{
    const size_t kInput = 200000, kRefillBelow = 50000;
    HANDLE in = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    std::vector<unsigned char> input(kInput + MAD_BUFFER_GUARD);
    std::vector<int16_t> block;
    size_t blockUsed = 0;
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    size_t buffered = 0;
    bool atEnd = false;
    *bytes = 0;
    *blocks = 0;
    for (;;) {
        if (!atEnd && buffered < kRefillBelow) {
            DWORD got = 0;
            if (!ReadFile(in, input.data() + buffered, (DWORD)(kInput - buffered), &got, nullptr)) break;
            buffered += got;
            if (got == 0) {
                memset(input.data() + buffered, 0, MAD_BUFFER_GUARD);
                buffered += MAD_BUFFER_GUARD;
                atEnd = true;
            }
        }
        mad_stream_buffer(&stream, input.data(), buffered);
        for (;;) {
            if (mad_frame_decode(&frame, &stream)) {
                if (MAD_RECOVERABLE(stream.error)) continue;
                break;
            }
            mad_synth_frame(&synth, &frame);
            if (block.empty()) block.resize(synth.pcm.samplerate / 10 * synth.pcm.channels);
            for (unsigned i = 0; i < synth.pcm.length; ++i) {
                for (unsigned c = 0; c < synth.pcm.channels; ++c) {
                    block[blockUsed++] = ToPcm16(synth.pcm.samples[c][i]);
                    if (blockUsed == block.size()) {
                        *bytes += blockUsed * 2;
                        ++*blocks;
                        blockUsed = 0;
                    }
                }
            }
        }
        if (stream.error != MAD_ERROR_BUFLEN || atEnd) break;
        size_t rest = stream.next_frame ? (size_t)(stream.bufend - stream.next_frame) : 0;
        memmove(input.data(), input.data() + buffered - rest, rest);
        buffered = rest;
    }
    if (blockUsed) *bytes += blockUsed * 2, ++*blocks;
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
    CloseHandle(in);
    return true;
}

IVqProModule* LoadModule() { return LoadBenchModule("in_strata.dll", "strata_bench.log"); }

}  // namespace

// GetTagEx of one file, timed n times; the fastest call counts.
int Tags(const char* path, int n)
{
    IVqProModule* m = LoadModule();
    if (!m) return 1;
    double best = -1, bestCpu = 0;
    int result = 0;
    for (int i = 0; i < n; ++i) {
        TrackInfo info{};
        snprintf(info.path, sizeof info.path, "%s", path);
        double cpu0 = CpuSeconds();
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        result = m->input.GetTagEx(&info);
        QueryPerformanceCounter(&t1);
        double wall = Seconds(t0, t1);
        if (best < 0 || wall < best) best = wall, bestCpu = CpuSeconds() - cpu0;
    }
    m->h.QuitModule();
    printf("tags-seconds %.4f cpu %.3f result %d\n", best, bestCpu, result);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc >= 3 && strcmp(argv[1], "tags") == 0) return Tags(argv[2], argc > 3 ? atoi(argv[3]) : 3);
    if (argc < 3 || (strcmp(argv[1], "module") != 0 && strcmp(argv[1], "bare") != 0)) {
        fprintf(stderr, "usage: strata_bench module|bare <file.mp3> | tags <file.mp3> [n]\n");
        return 2;
    }
    bool module = strcmp(argv[1], "module") == 0;
    IVqProModule* m = module ? LoadModule() : nullptr;
    if (module && !m) return 1;

    uint64_t bytes = 0;
    unsigned reads = 0;
    int last = 0;
    double cpu0 = CpuSeconds();
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    if (module) {
        void* h = m->input.Open(argv[2], nullptr);
        if (!h) {
            fprintf(stderr, "cannot open %s\n", argv[2]);
            return 1;
        }
        StreamFormat fmt{};
        m->input.GetPcmFormat(&fmt, h);
        std::vector<char> buf(fmt.avgBytesPerSec / 10);  // the host's block
        while ((last = m->input.Read(buf.data(), (int)buf.size(), h)) > 0) {
            bytes += last;
            ++reads;
        }
        m->input.Close(h);
    } else if (!Bare(argv[2], &bytes, &reads)) {
        fprintf(stderr, "cannot open %s\n", argv[2]);
        return 1;
    }
    QueryPerformanceCounter(&t1);
    double cpu = CpuSeconds() - cpu0;
    if (module) m->h.QuitModule();
    printf("%s-seconds %.4f cpu %.3f bytes %llu reads %u end %d\n", argv[1], Seconds(t0, t1), cpu,
           (unsigned long long)bytes, reads, last);
    return 0;
}

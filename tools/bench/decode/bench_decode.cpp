// Decodes an MP3 file through in_strata in this process and prints the time
// taken (QueryPerformanceCounter), best of a few runs.
//   bench_decode <file.mp3> [runs]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "bench_module.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bench_decode <file.mp3> [runs]\n");
        return 2;
    }
    int runs = argc > 2 ? atoi(argv[2]) : 3;
    if (runs < 1) runs = 1;
    IVqProModule* m = LoadBenchModule("in_strata.dll", "bench_decode.log");
    if (!m) return 1;

    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    double best = 1e30;
    unsigned long long bytes = 0;
    StreamFormat fmt{};
    for (int r = 0; r < runs; ++r) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        void* h = m->input.Open(argv[1], nullptr);
        if (!h) {
            fprintf(stderr, "cannot open %s\n", argv[1]);
            return 1;
        }
        m->input.GetPcmFormat(&fmt, h);
        std::vector<char> buf(fmt.avgBytesPerSec / 10);
        bytes = 0;
        int n;
        while ((n = m->input.Read(buf.data(), (int)buf.size(), h)) > 0) bytes += n;
        m->input.Close(h);
        QueryPerformanceCounter(&t1);
        double s = (double)(t1.QuadPart - t0.QuadPart) / freq.QuadPart;
        if (s < best) best = s;
    }
    m->h.QuitModule();
    double audio = fmt.avgBytesPerSec ? (double)bytes / fmt.avgBytesPerSec : 0;
    printf("in_strata: %.3f s for %.1f s of audio (%llu bytes, %.0fx real time, best of %d)\n", best, audio, bytes,
           best > 0 ? audio / best : 0.0, runs);
    printf("in_strata_seconds=%.4f\n", best);
    return 0;
}

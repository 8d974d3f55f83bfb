// Decode+write floor for the engine benchmark: the decoder library alone
// decodes an MP3 (read from the file in 64 KiB pieces), turns its samples into
// 16-bit PCM by rounding and clipping, and writes them to a WAV file in 100 ms
// chunks. Timed inside the process, like vq_headless --time.
//
//   bench_floor <in.mp3> <out.wav>
#include <windows.h>
#include <psapi.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <mad.h>

namespace {

const DWORD kReadBytes = 65536;

int16_t ToPcm16(mad_fixed_t s)
{
    s += 1L << (MAD_F_FRACBITS - 16);  // round
    if (s >= MAD_F_ONE)
        s = MAD_F_ONE - 1;
    else if (s < -MAD_F_ONE)
        s = -MAD_F_ONE;
    return (int16_t)(s >> (MAD_F_FRACBITS + 1 - 16));
}

struct WavOut {
    HANDLE file = INVALID_HANDLE_VALUE;
    unsigned char* chunk = nullptr;
    DWORD chunkBytes = 0, used = 0;
    uint32_t dataBytes = 0;
    int channels = 0, rate = 0;

    bool Flush()
    {
        DWORD done = 0;
        bool ok = used == 0 || (WriteFile(file, chunk, used, &done, nullptr) && done == used);
        dataBytes += used;
        used = 0;
        return ok;
    }
    bool Put(int16_t v)
    {
        memcpy(chunk + used, &v, 2);
        used += 2;
        return used < chunkBytes || Flush();
    }
    void Header()
    {
        unsigned char h[44];
        uint32_t align = (uint32_t)channels * 2, rate32 = (uint32_t)rate, bytesPerSec = rate32 * align;
        memcpy(h, "RIFF", 4);
        uint32_t riff = 36 + dataBytes;
        memcpy(h + 4, &riff, 4);
        memcpy(h + 8, "WAVEfmt ", 8);
        uint32_t fmtSize = 16;
        uint16_t tag = 1, ch = (uint16_t)channels, al = (uint16_t)align, bits = 16;
        memcpy(h + 16, &fmtSize, 4);
        memcpy(h + 20, &tag, 2);
        memcpy(h + 22, &ch, 2);
        memcpy(h + 24, &rate32, 4);
        memcpy(h + 28, &bytesPerSec, 4);
        memcpy(h + 32, &al, 2);
        memcpy(h + 34, &bits, 2);
        memcpy(h + 36, "data", 4);
        memcpy(h + 40, &dataBytes, 4);
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        DWORD done;
        WriteFile(file, h, sizeof h, &done, nullptr);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: bench_floor <in.mp3> <out.wav>\n");
        return 2;
    }
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);

    HANDLE in = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    WavOut out;
    out.file = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE || out.file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open the files\n");
        return 1;
    }
    static unsigned char input[kReadBytes + MAD_BUFFER_GUARD];
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    bool atEnd = false, ok = true;
    for (;;) {
        if (stream.buffer == nullptr || stream.error == MAD_ERROR_BUFLEN) {
            if (atEnd)
                break;
            size_t keep = stream.next_frame ? (size_t)(stream.bufend - stream.next_frame) : 0;
            memmove(input, stream.next_frame ? stream.next_frame : input, keep);
            DWORD got = 0;
            ReadFile(in, input + keep, (DWORD)(kReadBytes - keep), &got, nullptr);
            size_t length = keep + got;
            if (got < kReadBytes - keep) {  // the last piece: the guard lets the final frame decode
                memset(input + length, 0, MAD_BUFFER_GUARD);
                length += MAD_BUFFER_GUARD;
                atEnd = true;
            }
            mad_stream_buffer(&stream, input, length);
            stream.error = MAD_ERROR_NONE;
        }
        if (mad_frame_decode(&frame, &stream)) {
            if (MAD_RECOVERABLE(stream.error) || stream.error == MAD_ERROR_BUFLEN)
                continue;
            break;
        }
        mad_synth_frame(&synth, &frame);
        if (!out.chunk) {
            out.channels = synth.pcm.channels;
            out.rate = (int)synth.pcm.samplerate;
            out.chunkBytes = (DWORD)(out.rate / 10 * out.channels * 2);  // 100 ms
            out.chunk = (unsigned char*)HeapAlloc(GetProcessHeap(), 0, out.chunkBytes);
            SetFilePointer(out.file, 44, nullptr, FILE_BEGIN);
        }
        for (unsigned i = 0; i < synth.pcm.length && ok; i++)
            for (int c = 0; c < out.channels && ok; c++)
                ok = out.Put(ToPcm16(synth.pcm.samples[c][i]));
    }
    if (out.chunk) {
        ok = out.Flush() && ok;
        out.Header();
    }
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
    CloseHandle(in);
    CloseHandle(out.file);
    QueryPerformanceCounter(&t1);

    PROCESS_MEMORY_COUNTERS pmc;
    memset(&pmc, 0, sizeof(pmc));
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    printf("floor-seconds %.3f peak-working-set-kb %lu data-bytes %lu\n",
           (double)(t1.QuadPart - t0.QuadPart) / (double)freq.QuadPart, (unsigned long)(pmc.PeakWorkingSetSize / 1024),
           (unsigned long)out.dataBytes);
    return ok ? 0 : 1;
}

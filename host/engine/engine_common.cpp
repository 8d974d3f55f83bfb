// Block path shared by the file batch and live-capture engines: texts, log
// lines, format checks, buffers, the DSP chain and the level meters.
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include "engine.h"
#include "vq_log.h"

namespace {

const char* const kTexts[EngineTextCount] = {
    "Encoding \"%s\"...",
    "Opening source file...",
    "Error allocating memory.",
    "Opening DSP Module...",
    "Opening Encoder Module...",
    "Processing audio data...",
    "Closing Encoder Module...",
    "Error opening Encoder Module!",
    "Closing DSP Module",
    "Closing source file...",
    "Error deleting file \"%s\"",
    "Source file \"%s\" deleted.",
    "Error opening source file!",
    "File complete.\n",
    "Invalid stream format.",
    "Error opening DSP Module!",
    "DSP Module error.",
    "Error writing to Encoder Module!",
    "Total encoding time: %s",
    "Current track: %s\nTime: %s",
    "General: %0.1f%%, ETA: %s\nRemaining: %d files.",
    "Current track: %s (%0.1f%%), ETA: %s\nFile name: %s",
    "Level: %sdB\nPeak: %sdB",
    "%s - %0.1f%% (ETA: %s) Remaining: %d files.",
    "%s - Paused",
    "Error reading source file!",
    "Not enough open files to protect every source: %d of %d source files are not held until their turn.",
};

class RealClock : public EngineClock {
public:
    int Now() override { return (int)time(nullptr); }
    void Sleep(int ms) override { ::Sleep((DWORD)ms); }
};

void* HeapAllocate(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void FormatDb(char* buf, size_t size, double value)
{
    if (value > 0.0)
        snprintf(buf, size, "%02.1f", 20.0 * log10(value));
    else
        snprintf(buf, size, "-inf");
}

}  // namespace

void* (*g_engineAlloc)(size_t bytes) = HeapAllocate;

const char* EngineDefaultText(int id) { return id >= 0 && id < EngineTextCount ? kTexts[id] : ""; }

EngineClock* SystemClock()
{
    static RealClock clock;
    return &clock;
}

void EngineContextInit(EngineContext* ctx)
{
    memset(ctx, 0, sizeof(*ctx));
    ctx->encoderIndex = -1;
    ctx->captureIndex = -1;
    for (int i = 0; i < EngineMaxChain; i++)
        ctx->dspChain[i] = -1;
}

void EngineRunSummaryInit(EngineRunSummary* summary) { memset(summary, 0, sizeof(*summary)); }

void EngineRunSummaryAdd(EngineRunSummary* summary, const char* path, bool converted)
{
    summary->files++;
    if (converted)
        return;
    if (summary->failed < EngineRunSummary::MaxNames)
        lstrcpynA(summary->failedNames[summary->failed], path ? path : "", EnginePathChars);
    summary->failed++;
}

const char* EngineText(EngineContext* ctx, int id, char* buf, int size)
{
    if (size <= 0)
        return "";
    buf[0] = 0;
    if (!ctx->text || ctx->text(id, buf, size) <= 0)
        lstrcpynA(buf, EngineDefaultText(id), size);
    return buf;
}

void EngineLog(EngineContext* ctx, int id, int level, const char* function, int line, ...)
{
    if (!LogLevelPasses(level, ctx->logLevel))
        return;
    char format[512], text[2048];
    EngineText(ctx, id, format, sizeof(format));
    va_list args;
    va_start(args, line);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    LogMessage("PylPUM", function, line, text, level, ctx->logFile);
}

bool EngineCheckFormat(EngineContext* ctx, const StreamFormat* fmt, const char* function, int line)
{
    if (fmt->channels > 0 && fmt->sampleRate > 0 && fmt->blockAlign > 0 && fmt->avgBytesPerSec > 0)
        return true;
    EngineLog(ctx, TxtBadFormat, LogError, function, line);
    return false;
}

bool EngineAllocBuffers(EngineContext* ctx, EngineStream* s, const char* function, int inputLine, int outputLine)
{
    int align = s->format.blockAlign;
    int block = (int)((unsigned)s->format.avgBytesPerSec / 10u);
    block -= block % align;  // whole frames only
    if (block < align)
        block = align;
    s->blockBytes = block;
    s->outputBytes = s->format.avgBytesPerSec < block ? block : s->format.avgBytesPerSec;
    s->inputBlock = (char*)g_engineAlloc((size_t)s->blockBytes);
    s->outputBuffer = s->inputBlock ? (char*)g_engineAlloc((size_t)s->outputBytes) : nullptr;
    if (!s->inputBlock || !s->outputBuffer) {
        EngineLog(ctx, TxtAllocError, LogError, function, s->inputBlock ? outputLine : inputLine);
        EngineFreeBuffers(s);
        return false;
    }
    return true;
}

void EngineFreeBuffers(EngineStream* s)
{
    if (s->inputBlock)
        HeapFree(GetProcessHeap(), 0, s->inputBlock);
    if (s->outputBuffer)
        HeapFree(GetProcessHeap(), 0, s->outputBuffer);
    s->inputBlock = s->outputBuffer = nullptr;
}

static IVqProModule* ChainModule(EngineContext* ctx, int position)
{
    int slot = ctx->dspChain[position];
    if (slot < 0 || slot >= EngineMaxModules || !ctx->modules.dsps)
        return nullptr;
    return ctx->modules.dsps[slot];
}

bool EngineOpenDsps(EngineContext* ctx, EngineStream* s, int openLogLevel, const char* function, int line)
{
    bool ok = true;
    for (int i = 0; i < EngineMaxChain; i++) {
        s->dsp[i] = nullptr;
        if (ctx->dspChain[i] < 0)
            break;
        IVqProModule* m = ChainModule(ctx, i);
        if (!m) {
            ok = false;
            break;
        }
        EngineLog(ctx, TxtOpeningDsp, openLogLevel, function, line);
        char section[300];
        snprintf(section, sizeof(section), VQ_DSP_SECTION_FORMAT, VQ_HOST_SECTION, i + 1);
        s->dsp[i] = m->dsp.Open(&s->format, section);
        if (!s->dsp[i]) {
            EngineLog(ctx, TxtDspOpenError, LogError, function, line);
            ok = false;
            break;
        }
    }
    return ok;
}

int EngineRunDsps(EngineContext* ctx, EngineStream* s, int n)
{
    if (ctx->dspChain[0] < 0) {
        memcpy(s->outputBuffer, s->inputBlock, (size_t)n);
        return n;
    }
    for (int i = 0; i < EngineMaxChain && ctx->dspChain[i] >= 0; i++) {
        IVqProModule* m = ChainModule(ctx, i);
        if (!m || !s->dsp[i])
            return -1;
        short* pins[2] = {(short*)s->inputBlock, nullptr};
        short* out = (short*)s->outputBuffer;
        int produced = m->dsp.Process(pins, &out, n, &s->format, s->dsp[i]);
        // The output goes back over the input block: it may not outgrow it.
        if (produced < 0 || produced > n)
            return -1;
        n = produced;
        memcpy(s->inputBlock, s->outputBuffer, (size_t)n);
    }
    return n;
}

void EngineCloseDsps(EngineContext* ctx, EngineStream* s, const char* function, int line)
{
    for (int i = 0; i < EngineMaxChain; i++) {
        if (!s->dsp[i])
            continue;
        EngineLog(ctx, TxtClosingDsp, LogDebug, function, line);
        IVqProModule* m = ChainModule(ctx, i);
        if (m)
            m->dsp.Close(s->dsp[i]);
        s->dsp[i] = nullptr;
    }
}

bool EngineDisplayPace::Due()
{
    unsigned now = clock->Ticks();
    if (!forced && now - lastShown < (unsigned)IntervalMs)
        return false;
    forced = false;
    lastShown = now;
    return true;
}

double EngineBlockPeak(EngineStream* s, int n)
{
    double peak = ComputePeak(s->outputBuffer, (unsigned)n, &s->format);
    if (peak > s->highestPeak)
        s->highestPeak = peak;
    return peak;
}

void EngineShowLevel(EngineContext* ctx, const char* levelFormat, double peak, double highestPeak)
{
    ctx->sink->SetBarPos(EngineProgressSink::BarLevel, (int)(peak * 100));
    char level[32], highest[32], text[512];
    FormatDb(level, sizeof(level), peak);
    FormatDb(highest, sizeof(highest), highestPeak);
    snprintf(text, sizeof(text), levelFormat, level, highest);
    ctx->sink->SetText(EngineProgressSink::TextLevel, text);
}

// How the meters read a format's samples: the container width in bits of an
// integer sample (8 unsigned; 16, 24 or 32 signed little-endian; 12 and 20-bit
// samples sit in the top of 16 and 24-bit containers), SampleFloat for 32-bit
// float, 0 for anything else. 32 bits are float unless the tag says integer.
enum { SampleFloat = -32 };
static int SampleKind(const StreamFormat* fmt)
{
    int bits = fmt->bitsPerSample;
    if (bits < 1 || bits > 32)
        return 0;
    if (fmt->formatTag == 3)
        return bits == 32 ? SampleFloat : 0;
    if (fmt->formatTag != 1 && bits == 32)
        return SampleFloat;
    return (bits + 7) / 8 * 8;
}

// Samples in a block that ReadSample can decode: whole frames, bounded by the
// bytes present; 0 for a bad format or a kind the meters do not read.
static unsigned SampleCount(const char* data, unsigned bytes, const StreamFormat* fmt, int kind)
{
    if (!data || !fmt || fmt->blockAlign <= 0 || fmt->channels <= 0 || kind == 0)
        return 0;
    unsigned samples = bytes / (unsigned)fmt->blockAlign * (unsigned)fmt->channels;
    unsigned width = (unsigned)(kind < 0 ? -kind : kind) / 8;
    return samples > bytes / width ? bytes / width : samples;
}

// Sample i of a block scaled to -1..1: unsigned 8-bit, signed 16, 24 or 32-bit
// little-endian, or 32-bit float (returned as stored, NaN included).
static double ReadSample(const unsigned char* p, int kind, unsigned i)
{
    switch (kind) {
    case 8:
        return ((int)p[i] - 128) / 128.0;
    case 16: {
        int16_t v;
        memcpy(&v, p + 2 * i, 2);
        return v / 32768.0;
    }
    case 24: {
        int32_t v = (int32_t)((uint32_t)p[3 * i] << 8 | (uint32_t)p[3 * i + 1] << 16 | (uint32_t)p[3 * i + 2] << 24);
        return (double)v / 2147483648.0;
    }
    case 32: {
        int32_t v;
        memcpy(&v, p + 4 * i, 4);
        return (double)v / 2147483648.0;
    }
    default: {
        float v;
        memcpy(&v, p + 4 * i, 4);
        return (double)v;
    }
    }
}

// Largest magnitude of the integer samples, scaled once at the end: the same
// value as the largest scaled magnitude, with no floating point per sample
// (the meter runs on every block). The lowest and highest values are kept
// apart, which the compiler turns into packed minimum and maximum.
static double IntegerPeak(const unsigned char* p, int kind, unsigned samples)
{
    int32_t lo = 0, hi = 0;
    switch (kind) {
    case 8:
        for (unsigned i = 0; i < samples; i++) {
            int32_t v = (int32_t)p[i] - 128;
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
        return (-lo > hi ? -lo : hi) / 128.0;
    case 16:
        for (unsigned i = 0; i < samples; i++) {
            int16_t v;
            memcpy(&v, p + 2 * i, 2);
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
        return (-lo > hi ? -lo : hi) / 32768.0;
    case 32:
        for (unsigned i = 0; i < samples; i++) {
            int32_t v;
            memcpy(&v, p + 4 * i, 4);
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
        // -lo may be 2^31: negate in double.
        return fmax(-(double)lo, (double)hi) / 2147483648.0;
    default: {  // 24-bit, as the top three bytes of a 32-bit value
        for (unsigned i = 0; i < samples; i++) {
            int32_t v = (int32_t)((uint32_t)p[3 * i] | (uint32_t)p[3 * i + 1] << 8 | (uint32_t)(int8_t)p[3 * i + 2] << 16);
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
        // Shifted up 8 bits the magnitude is at most 2^31.
        return (double)(-lo > hi ? -lo : hi) * 256.0 / 2147483648.0;
    }
    }
}

double ComputePeak(const char* data, unsigned bytes, const StreamFormat* fmt)
{
    int kind = fmt ? SampleKind(fmt) : 0;
    unsigned samples = SampleCount(data, bytes, fmt, kind);
    const unsigned char* p = (const unsigned char*)data;
    if (samples && kind != SampleFloat)
        return IntegerPeak(p, kind, samples);
    double peak = 0.0;
    for (unsigned i = 0; i < samples; i++) {
        double v = ReadSample(p, kind, i);
        if (!isnan(v))
            peak = fmax(peak, fabs(v));
    }
    return peak;
}

double ComputeRms(const char* data, unsigned bytes, const StreamFormat* fmt)
{
    if (!fmt || (fmt->bitsPerSample != 8 && fmt->bitsPerSample != 16))
        return 0.0;
    return ComputeRmsAnyWidth(data, bytes, fmt);
}

double ComputeRmsAnyWidth(const char* data, unsigned bytes, const StreamFormat* fmt)
{
    int kind = fmt ? SampleKind(fmt) : 0;
    unsigned samples = SampleCount(data, bytes, fmt, kind);
    const unsigned char* p = (const unsigned char*)data;
    double sum = 0.0;
    for (unsigned i = 0; i < samples; i++) {
        double s = ReadSample(p, kind, i);
        if (!isfinite(s))
            s = 0.0;
        sum += s * s;
    }
    return samples ? sqrt(sum / samples) : 0.0;
}

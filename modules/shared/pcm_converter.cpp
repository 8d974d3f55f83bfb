#include "pcm_converter.h"

#include <math.h>
#include <string.h>

namespace {

bool PlainFormat(const StreamFormat* f)
{
    return f && (f->bitsPerSample == 8 || f->bitsPerSample == 16) && (f->channels == 1 || f->channels == 2) &&
           f->sampleRate > 0 && f->blockAlign == f->channels * f->bitsPerSample / 8;
}

inline int32_t LoadSample(const unsigned char* p, int bits)
{
    if (bits == 8) return p[0];
    return (int16_t)(p[0] | (p[1] << 8));
}

inline void StoreSample(unsigned char* p, int bits, int32_t v)
{
    if (bits == 8) {
        p[0] = (unsigned char)v;
    } else {
        p[0] = (unsigned char)(v & 0xFF);
        p[1] = (unsigned char)((v >> 8) & 0xFF);
    }
}

// Sample value of the output width from a value of the input width.
inline int32_t Widen(int32_t u8) { return (int32_t)(int16_t)((u8 << 8) ^ 0x8000); }
inline int32_t Narrow(int32_t s16) { return ((((uint32_t)s16 >> 8) & 0xFF) ^ 0x80); }

}  // namespace

int32_t PcmConverter_BufferSize(uint32_t n, const StreamFormat* in, const StreamFormat* out, int32_t flags)
{
    if (!in || !out || in->blockAlign <= 0 || out->blockAlign <= 0 || in->sampleRate <= 0 ||
        out->sampleRate <= 0)
        return 0;
    uint32_t inRate = (uint32_t)in->sampleRate, outRate = (uint32_t)out->sampleRate;
    double frames;
    if (flags & 1) {
        frames = ceil((double)(n / (uint32_t)in->blockAlign + 1) * outRate / inRate);
        return (int32_t)(frames * out->blockAlign);
    }
    frames = floor((double)(n / (uint32_t)out->blockAlign) * inRate / outRate);
    return (int32_t)(frames * in->blockAlign);
}

bool PcmConverter_Supports(const StreamFormat* in, const StreamFormat* out)
{
    return PlainFormat(in) && PlainFormat(out);
}

int32_t PcmConverter_Resample(const void* src, void* dst, uint32_t n, const StreamFormat* fmt, double step,
                              ConverterState* st, uint32_t dstCapacity)
{
    if (!src || !dst || !fmt || !st || fmt->blockAlign <= 0) return 0;
    const uint32_t block = (uint32_t)fmt->blockAlign;
    if (step == 1.0) {
        uint32_t bytes = n < dstCapacity ? n : dstCapacity - dstCapacity % block;
        memcpy(dst, src, bytes);
        return (int32_t)bytes;
    }
    const int bits = fmt->bitsPerSample;
    const int channels = fmt->channels;
    if ((bits != 8 && bits != 16) || channels < 1 || channels > PCM_CONVERTER_MAX_CHANNELS || !(step > 0))
        return 0;
    const uint32_t frames = n / block;
    if (frames == 0) return 0;  // nothing to carry, state unchanged
    const unsigned char* in = static_cast<const unsigned char*>(src);
    unsigned char* out = static_cast<unsigned char*>(dst);
    const uint32_t maxOut = dstCapacity / block;
    const int bytesPerSample = bits / 8;

    // Global input index of this block's first frame; the carried frame sits at
    // first - 1. Output k lies at k x step in the same coordinates.
    const double first = (double)st->inputFrames;
    const double last = first + frames - 1;
    uint32_t emitted = 0;
    uint64_t k = st->outputFrames;
    while (emitted < maxOut) {
        double p = (double)k * step;
        if (p > last) break;
        double rel = p - first;  // > -1: never before the carried frame
        double l = floor(rel);
        double frac = rel - l;
        int32_t li = (int32_t)l;
        unsigned char* o = out + (size_t)emitted * block;
        for (int c = 0; c < channels; ++c) {
            int32_t a = (li < 0) ? (st->primed ? st->lastFrame[c] : LoadSample(in + c * bytesPerSample, bits))
                                 : LoadSample(in + (size_t)li * block + c * bytesPerSample, bits);
            int32_t b = a;
            if (frac > 0) b = LoadSample(in + (size_t)(li + 1) * block + c * bytesPerSample, bits);
            double v = a + frac * (double)(b - a);
            StoreSample(o + c * bytesPerSample, bits, (int32_t)v);  // truncated toward zero
        }
        ++emitted;
        ++k;
    }
    st->outputFrames = k;
    st->inputFrames += frames;
    for (int c = 0; c < channels; ++c)
        st->lastFrame[c] = LoadSample(in + (size_t)(frames - 1) * block + c * bytesPerSample, bits);
    st->fraction = (double)k * step - (last);
    st->primed = 1;
    return (int32_t)(emitted * block);
}

int32_t PcmConverter_Convert(const void* src, void* dst, uint32_t n, const StreamFormat* inFmt,
                             const StreamFormat* outFmt, ConverterState* st, uint32_t dstCapacity)
{
    if (!src || !dst || !st || !PcmConverter_Supports(inFmt, outFmt)) return 0;
    const unsigned char* work = static_cast<const unsigned char*>(src);
    unsigned char* temp = nullptr;
    const uint32_t inBlock = (uint32_t)inFmt->blockAlign;
    n -= n % inBlock;
    double ratio = (double)(uint32_t)inFmt->sampleRate / (double)(uint32_t)outFmt->sampleRate;
    if (ratio != 1.0) {
        uint32_t frames = n / inBlock;
        size_t tempBytes = (size_t)(ceil(frames / ratio) + 1) * inBlock * 2;
        temp = static_cast<unsigned char*>(PcmScratchAlloc(tempBytes));
        if (!temp) return 0;
        int32_t got = PcmConverter_Resample(src, temp, n, inFmt, ratio, st, (uint32_t)tempBytes);
        work = temp;
        n = got > 0 ? (uint32_t)got : 0;
    }

    const int inBits = inFmt->bitsPerSample, outBits = outFmt->bitsPerSample;
    const int inCh = inFmt->channels, outCh = outFmt->channels;
    const uint32_t outBlock = (uint32_t)outFmt->blockAlign;
    uint32_t frames = n / inBlock;
    if (frames > dstCapacity / outBlock) frames = dstCapacity / outBlock;
    unsigned char* out = static_cast<unsigned char*>(dst);
    const int inBps = inBits / 8, outBps = outBits / 8;
    for (uint32_t f = 0; f < frames; ++f) {
        const unsigned char* s = work + (size_t)f * inBlock;
        unsigned char* d = out + (size_t)f * outBlock;
        int32_t v[2];
        for (int c = 0; c < inCh; ++c) v[c] = LoadSample(s + c * inBps, inBits);
        if (inCh == 2 && outCh == 1) {
            v[0] = v[0] / 2 + v[1] / 2;  // each half truncated toward zero
        } else if (inCh == 1 && outCh == 2) {
            v[1] = v[0];
        }
        for (int c = 0; c < outCh; ++c) {
            int32_t x = v[c];
            if (inBits == 8 && outBits == 16) x = Widen(x);
            else if (inBits == 16 && outBits == 8) x = Narrow(x);
            StoreSample(d + c * outBps, outBits, x);
        }
    }
    if (temp) PcmScratchFree(temp);
    return (int32_t)(frames * outBlock);
}

#include "wav_format.h"

#include <string.h>

namespace {

const unsigned char kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const unsigned char kFloatSubFormat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                           0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

void WavPut16(unsigned char* p, uint32_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

void WavPut32(unsigned char* p, uint32_t v)
{
    WavPut16(p, v);
    WavPut16(p + 2, v >> 16);
}

void WavBuildFormat(const StreamFormat* fmt, unsigned char out[WavFormatBytes])
{
    uint32_t channels = (uint16_t)fmt->channels;
    uint32_t bits = (uint16_t)fmt->bitsPerSample;
    uint32_t rate = (uint32_t)fmt->sampleRate;
    // Each sample fills whole bytes: 12 bits take two, 20 bits three.
    uint32_t blockAlign = (uint16_t)(channels * ((bits + 7) / 8));
    memset(out, 0, WavFormatBytes);
    WavPut16(out + 0, 0xFFFE);
    WavPut16(out + 2, channels);
    WavPut32(out + 4, rate);
    WavPut32(out + 8, blockAlign * rate);
    WavPut16(out + 12, blockAlign);
    WavPut16(out + 14, bits);
    WavPut16(out + 16, 22);
    WavPut16(out + 18, bits);
    WavPut32(out + 20, 3);
    // Integer samples stay integer and float stays float; only a source that
    // does not say which it holds is taken as float when wider than 24 bits.
    bool isFloat = fmt->formatTag == 3 || (fmt->formatTag != 1 && bits > 24);
    memcpy(out + 24, isFloat ? kFloatSubFormat : kPcmSubFormat, 16);
}

uint32_t WavAvgBytesPerSec(const unsigned char format[WavFormatBytes])
{
    return (uint32_t)format[8] | (uint32_t)format[9] << 8 | (uint32_t)format[10] << 16 |
           (uint32_t)format[11] << 24;
}

uint32_t WavRiffSize(uint32_t dataBytes) { return (uint32_t)(WavHeaderBytes - 8) + dataBytes + (dataBytes & 1); }

void WavBuildHeader(const unsigned char format[WavFormatBytes], uint32_t dataBytes,
                    unsigned char head[WavHeaderBytes])
{
    memcpy(head, "RIFF", 4);
    WavPut32(head + 4, WavRiffSize(dataBytes));
    memcpy(head + 8, "WAVEfmt ", 8);
    WavPut32(head + 16, WavFormatBytes);
    memcpy(head + 20, format, WavFormatBytes);
    memcpy(head + 60, "data", 4);
    WavPut32(head + 64, dataBytes);
}

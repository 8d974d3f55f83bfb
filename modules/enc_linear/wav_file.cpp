#include "wav_file.h"
#include <string.h>

uint32_t g_wavDataLimit = 0xFFFFFFFFu - (WavHeaderBytes - 8) - 1;
WavWriteFileFn g_wavWriteFile = WriteFile;

namespace {

const unsigned char kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const unsigned char kFloatSubFormat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                           0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void Put16(unsigned char* p, uint32_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

void Put32(unsigned char* p, uint32_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

bool WriteAll(HANDLE h, const void* data, DWORD bytes)
{
    DWORD written = 0;
    return g_wavWriteFile(h, data, bytes, &written, NULL) && written == bytes;
}

bool WriteAt(HANDLE h, uint32_t offset, const void* data, DWORD bytes)
{
    if (SetFilePointer(h, (LONG)offset, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return false;
    return WriteAll(h, data, bytes);
}

bool TruncateAt(HANDLE h, uint64_t length)
{
    LONG high = (LONG)(length >> 32);
    if (SetFilePointer(h, (LONG)(uint32_t)length, &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return false;
    return SetEndOfFile(h) != 0;
}

}  // namespace

void WavBuildFormat(const StreamFormat* fmt, unsigned char out[WavFormatBytes])
{
    uint32_t channels = (uint16_t)fmt->channels;
    uint32_t bits = (uint16_t)fmt->bitsPerSample;
    uint32_t rate = (uint32_t)fmt->sampleRate;
    uint32_t blockAlign = (uint16_t)(channels * bits / 8);
    memset(out, 0, WavFormatBytes);
    Put16(out + 0, 0xFFFE);
    Put16(out + 2, channels);
    Put32(out + 4, rate);
    Put32(out + 8, blockAlign * rate);
    Put16(out + 12, blockAlign);
    Put16(out + 14, bits);
    Put16(out + 16, 22);
    Put16(out + 18, bits);
    Put32(out + 20, 3);
    memcpy(out + 24, bits > 24 ? kFloatSubFormat : kPcmSubFormat, 16);
}

uint32_t WavAvgBytesPerSec(const unsigned char format[WavFormatBytes])
{
    return (uint32_t)format[8] | (uint32_t)format[9] << 8 | (uint32_t)format[10] << 16 |
           (uint32_t)format[11] << 24;
}

int WavCreate(WavFile* wav, const char* path, const unsigned char format[WavFormatBytes])
{
    memset(wav, 0, sizeof(*wav));
    wav->handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (wav->handle == INVALID_HANDLE_VALUE) {
        wav->handle = NULL;
        return 0;
    }
    unsigned char head[WavHeaderBytes];
    memcpy(head, "RIFF", 4);
    Put32(head + 4, WavHeaderBytes - 8);
    memcpy(head + 8, "WAVEfmt ", 8);
    Put32(head + 16, WavFormatBytes);
    memcpy(head + 20, format, WavFormatBytes);
    memcpy(head + 60, "data", 4);
    Put32(head + 64, 0);
    if (!WriteAll(wav->handle, head, sizeof(head))) {
        CloseHandle(wav->handle);
        wav->handle = NULL;
        return 0;
    }
    return 1;
}

int WavWriteData(WavFile* wav, const void* data, int bytes)
{
    if (!wav->handle || bytes < 0 || (bytes > 0 && !data))
        return -1;
    if (bytes == 0)
        return 0;
    if (wav->dataBytes + (uint64_t)bytes > g_wavDataLimit) {
        wav->writeFailed = 1;
        return -1;
    }
    if (wav->writeFailed) {
        // A short write left stray bytes at the end: go back to the end of the good data.
        if (!TruncateAt(wav->handle, WavHeaderBytes + wav->dataBytes))
            return -1;
    }
    DWORD written = 0;
    if (!g_wavWriteFile(wav->handle, data, (DWORD)bytes, &written, NULL) || written != (DWORD)bytes) {
        wav->writeFailed = 1;
        return -1;
    }
    wav->dataBytes += (uint32_t)bytes;
    return bytes;
}

int WavFinish(WavFile* wav)
{
    if (!wav->handle)
        return 0;
    HANDLE h = wav->handle;
    bool ok = TruncateAt(h, WavHeaderBytes + wav->dataBytes);
    if (ok && (wav->dataBytes & 1)) {
        static const unsigned char pad = 0;
        if (!WriteAll(h, &pad, 1)) {
            // No room for the pad byte: give up the last sample byte instead.
            wav->dataBytes -= 1;
            ok = TruncateAt(h, WavHeaderBytes + wav->dataBytes);
        }
    }
    uint32_t data = (uint32_t)wav->dataBytes;
    uint32_t riff = (uint32_t)(WavHeaderBytes - 8) + data + (data & 1);
    unsigned char v[4];
    Put32(v, riff);
    ok = WriteAt(h, 4, v, 4) && ok;
    Put32(v, data);
    ok = WriteAt(h, 64, v, 4) && ok;
    if (!CloseHandle(h))
        ok = false;
    wav->handle = NULL;
    return ok ? 1 : 0;
}

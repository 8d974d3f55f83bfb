// WAV input module: reads the format and data chunks of RIFF/WAVE files and
// hands the data bytes on unchanged, or converted when the caller asks for
// another format.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "pcm_converter.h"
#include "track_file_time.h"
#include "vq_module.h"

extern IVqProModule g_module;

namespace {

// The host's log file and level, kept by InitModule; the module writes no log lines.
const char* g_logFile = nullptr;
int* g_logLevel = nullptr;

const uint16_t kFormatPcm = 1, kFormatFloat = 3, kFormatExtensible = 0xFFFE;
// Tail shared by the KSDATAFORMAT_SUBTYPE_PCM / _IEEE_FLOAT GUIDs after their first two bytes.
const unsigned char kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                          0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

struct WavInstance {
    HANDLE file;
    StreamFormat inputFormat;
    StreamFormat outputFormat;
    ConverterState converter;
    uint32_t dataStart;
    uint32_t dataSize;
    double duration;
    char path[1024];
    int32_t convert;
    uint32_t position;  // bytes of the data chunk already read
    // Converted frames that did not fit the caller's last buffer.
    unsigned char* carry;
    uint32_t carryBytes;
    uint32_t carrySize;
    // The stream broke off before the end of the data chunk (a failed read,
    // a file cut short while read, no memory): Read answers VQ_READ_ERROR.
    int32_t failed;
};

int __cdecl InitModule(const char* logFile, int* logLevel)
{
    g_logFile = logFile;
    g_logLevel = logLevel;
    g_module.h.hIcon = LoadIconA(g_module.h.hInstance, MAKEINTRESOURCEA(101));
    return 1;
}

int __cdecl QuitModule(void)
{
    if (g_module.h.hIcon) {
        DestroyIcon(g_module.h.hIcon);
        g_module.h.hIcon = nullptr;
    }
    return 1;
}

int __cdecl GetSetting(SettingRecord*, int, const char*, void*) { return -1; }
int __cdecl SetSetting(const SettingRecord*, int, const char*, void*) { return 0; }
int __cdecl QuerySetting(SettingRecord*, int, void*) { return 0; }

int __cdecl Configure(HWND, const char*, void*) { return -1; }

int __cdecl IsOurFile(const char* path)
{
    if (!path) return 0;
    const char* dot = strrchr(path, '.');
    return dot && _stricmp(dot + 1, "wav") == 0 ? 1 : 0;
}

bool ReadAt(HANDLE file, int64_t offset, void* buf, DWORD n)
{
    LARGE_INTEGER pos;
    pos.QuadPart = offset;
    DWORD got = 0;
    return SetFilePointerEx(file, pos, nullptr, FILE_BEGIN) && ReadFile(file, buf, n, &got, nullptr) && got == n;
}

inline uint16_t U16(const unsigned char* p) { return (uint16_t)(p[0] | p[1] << 8); }
inline uint32_t U32(const unsigned char* p) { return (uint32_t)p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

// Reads the fmt chunk's body; false (with the reason) for formats we do not read.
bool ParseFormat(HANDLE file, int64_t at, uint32_t size, StreamFormat* f, const char** why)
{
    unsigned char b[40] = {};
    if (size < 16) {
        *why = "format chunk shorter than 16 bytes";
        return false;
    }
    DWORD n = size < sizeof b ? size : (DWORD)sizeof b;
    if (!ReadAt(file, at, b, n)) {
        *why = "cannot read the format chunk";
        return false;
    }
    uint16_t tag = U16(b);
    f->formatTag = tag;
    f->channels = U16(b + 2);
    f->sampleRate = (int32_t)U32(b + 4);
    f->avgBytesPerSec = (int32_t)U32(b + 8);
    f->blockAlign = U16(b + 12);
    f->bitsPerSample = U16(b + 14);
    if (tag == kFormatExtensible) {
        if (n < 40 || U16(b + 16) < 22 || (U16(b + 24) != kFormatPcm && U16(b + 24) != kFormatFloat) ||
            memcmp(b + 26, kSubFormatTail, sizeof kSubFormatTail) != 0) {
            *why = "unsupported extensible sub-format";
            return false;
        }
        // The caller learns what the samples are (integer or float), not the wrapper.
        f->formatTag = U16(b + 24);
    } else if (tag != kFormatPcm && tag != kFormatFloat) {
        *why = "not PCM or float data";
        return false;
    }
    if (f->channels == 0 || f->sampleRate <= 0 || f->blockAlign == 0 || f->bitsPerSample == 0) {
        *why = "zero channels, sample rate, block align or bits";
        return false;
    }
    // A frame is one container of whole bytes per channel; a header that says
    // otherwise cannot tell where the samples are.
    if (f->blockAlign != f->channels * ((f->bitsPerSample + 7) / 8)) {
        *why = "block align does not match the channels and sample width";
        return false;
    }
    if (f->formatTag == kFormatFloat && f->bitsPerSample != 32 && f->bitsPerSample != 64) {
        *why = "float samples of an unknown width";
        return false;
    }
    int64_t avg = (int64_t)f->sampleRate * f->blockAlign;
    if (avg > 0x7FFFFFFF) {
        *why = "byte rate out of range";
        return false;
    }
    // The byte rate follows from the frame size; a damaged field is not trusted.
    f->avgBytesPerSec = (int32_t)avg;
    return true;
}

void FreeInstance(WavInstance* w)
{
    if (w->file && w->file != INVALID_HANDLE_VALUE) CloseHandle(w->file);
    if (w->carry) HeapFree(GetProcessHeap(), 0, w->carry);
    HeapFree(GetProcessHeap(), 0, w);
}

void* __cdecl Open(const char* path, const StreamFormat* wanted)
{
    if (!path) return nullptr;
    auto* w = static_cast<WavInstance*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WavInstance)));
    if (!w) return nullptr;
    w->file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (w->file == INVALID_HANDLE_VALUE) {
        w->file = nullptr;
        FreeInstance(w);
        return nullptr;
    }
    const char* why = nullptr;
    LARGE_INTEGER fsize;
    unsigned char riff[12];
    bool haveFormat = false, haveData = false;
    int64_t dataStart = 0, dataSize = 0;
    if (!GetFileSizeEx(w->file, &fsize) || !ReadAt(w->file, 0, riff, 12) || memcmp(riff, "RIFF", 4) != 0 ||
        memcmp(riff + 8, "WAVE", 4) != 0) {
        why = "not a RIFF/WAVE file";
    } else {
        // Walk the chunks with bounds: every step moves forward and stays inside the file.
        // The RIFF size is not trusted (streaming writers leave it 0 or wrong):
        // the file's own size bounds the walk.
        int64_t end = fsize.QuadPart;
        int64_t at = 12;
        while (at + 8 <= end && !haveData) {
            unsigned char ch[8];
            if (!ReadAt(w->file, at, ch, 8)) break;
            uint32_t size = U32(ch + 4);
            if (memcmp(ch, "fmt ", 4) == 0 && !haveFormat) {
                if (!ParseFormat(w->file, at + 8, size, &w->inputFormat, &why)) break;
                haveFormat = true;
            } else if (memcmp(ch, "data", 4) == 0 && haveFormat) {
                dataStart = at + 8;
                dataSize = size;
                haveData = true;
                break;
            }
            at += 8 + (int64_t)size + (size & 1);
        }
        if (!why) {
            if (!haveFormat) why = "no format chunk";
            else if (!haveData) why = "no data chunk";
        }
    }
    if (!why) {
        // A data size past the end of the file is cut to what is there, in whole frames.
        if (dataStart + dataSize > fsize.QuadPart) dataSize = fsize.QuadPart - dataStart;
        if (dataSize > 0xFFFFFFFFLL) dataSize = 0xFFFFFFFFLL;
        dataSize -= dataSize % w->inputFormat.blockAlign;
        if (dataSize <= 0) why = "empty data chunk";
        else if (dataStart > 0xFFFFFFFFLL) why = "data chunk beyond 4 GB";
    }
    if (!why) {
        w->dataStart = (uint32_t)dataStart;
        w->dataSize = (uint32_t)dataSize;
        w->outputFormat = wanted ? *wanted : w->inputFormat;
        const StreamFormat& in = w->inputFormat;
        const StreamFormat& out = w->outputFormat;
        w->convert = out.channels != in.channels || out.sampleRate != in.sampleRate ||
                     out.bitsPerSample != in.bitsPerSample;
        if (w->convert && (in.formatTag != kFormatPcm || !PcmConverter_Supports(&in, &out)))
            why = "cannot convert to the wanted format";
        if (!w->convert && out.blockAlign != in.blockAlign) why = "wanted format has another block size";
    }
    LARGE_INTEGER pos;
    pos.QuadPart = dataStart;
    if (!why && !SetFilePointerEx(w->file, pos, nullptr, FILE_BEGIN)) why = "cannot seek to the data";
    if (why) {
        FreeInstance(w);
        return nullptr;
    }
    w->duration = (double)w->dataSize / w->inputFormat.avgBytesPerSec;
    lstrcpynA(w->path, path, sizeof w->path);
    return w;
}

// Marks the stream as broken; what was already copied for this call is
// still handed over, the next call answers VQ_READ_ERROR.
int Fail(WavInstance* w, uint32_t done)
{
    w->failed = 1;
    return done ? (int)done : VQ_READ_ERROR;
}

// Reads up to n bytes of the data chunk (whole frames of the input format):
// 0 at the end of the chunk, VQ_READ_ERROR when the read fails or the file
// has become shorter than the chunk.
int ReadData(WavInstance* w, void* buf, uint32_t n)
{
    const uint32_t block = (uint32_t)w->inputFormat.blockAlign;
    uint32_t left = w->dataSize - w->position;
    if (n > left) n = left;
    n -= n % block;
    if (n == 0) return 0;
    DWORD got = 0;
    BOOL ok = ReadFile(w->file, buf, n, &got, nullptr);
    w->position += got;
    if (ok && got == n) return (int)got;
    // The bytes exist (the chunk was cut to the file's size at Open) and
    // could not be read: whole frames of what came are handed over.
    return Fail(w, got - got % block);
}

int __cdecl Read(char* buf, int bytes, void* handle)
{
    auto* w = static_cast<WavInstance*>(handle);
    if (!w) return -1;
    if (w->failed) return VQ_READ_ERROR;
    if (!buf || bytes <= 0) return 0;
    const uint32_t outBlock = (uint32_t)w->outputFormat.blockAlign;
    uint32_t n = (uint32_t)bytes - (uint32_t)bytes % outBlock;  // whole frames only
    if (n == 0) return 0;
    if (!w->convert) return ReadData(w, buf, n);

    uint32_t done = 0;
    if (w->carryBytes) {
        done = w->carryBytes < n ? w->carryBytes : n;
        memcpy(buf, w->carry, done);
        memmove(w->carry, w->carry + done, w->carryBytes - done);
        w->carryBytes -= done;
        if (done == n) return (int)done;
    }
    int32_t m = PcmConverter_BufferSize(n - done, &w->inputFormat, &w->outputFormat, 0);
    if (m < w->inputFormat.blockAlign) m = w->inputFormat.blockAlign;
    unsigned char* temp = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, m));
    if (!temp) return Fail(w, done);
    int got = ReadData(w, temp, (uint32_t)m);
    if (got <= 0) {
        HeapFree(GetProcessHeap(), 0, temp);
        if (got < 0) return done ? (int)done : VQ_READ_ERROR;
        return done ? (int)done : -1;
    }
    int32_t cap = PcmConverter_BufferSize((uint32_t)got, &w->inputFormat, &w->outputFormat, 1);
    unsigned char* conv = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, cap > 0 ? cap : 1));
    if (!conv) {
        HeapFree(GetProcessHeap(), 0, temp);
        return Fail(w, done);
    }
    int32_t made = PcmConverter_Convert(temp, conv, (uint32_t)got, &w->inputFormat, &w->outputFormat, &w->converter,
                                        (uint32_t)cap);
    HeapFree(GetProcessHeap(), 0, temp);
    uint32_t take = (uint32_t)made < n - done ? (uint32_t)made : n - done;
    memcpy(buf + done, conv, take);
    uint32_t rest = (uint32_t)made - take;
    if (rest) {
        if (rest > w->carrySize) {
            unsigned char* c = static_cast<unsigned char*>(
                w->carry ? HeapReAlloc(GetProcessHeap(), 0, w->carry, rest) : HeapAlloc(GetProcessHeap(), 0, rest));
            if (c) {
                w->carry = c;
                w->carrySize = rest;
            }
        }
        if (rest <= w->carrySize) {
            memcpy(w->carry, conv + take, rest);
            w->carryBytes = rest;
        } else {
            w->failed = 1;  // the frames that do not fit this call are lost
        }
    }
    HeapFree(GetProcessHeap(), 0, conv);
    return (int)(done + take);
}

int __cdecl SetTime(double seconds, void* handle)
{
    auto* w = static_cast<WavInstance*>(handle);
    if (!w) return -1;
    if (seconds != seconds) return 0;
    if (seconds < 0) seconds = 0;
    if (seconds > w->duration) seconds = w->duration;
    const uint32_t block = (uint32_t)w->inputFormat.blockAlign;
    double bytes = seconds * w->inputFormat.avgBytesPerSec;
    uint32_t offset = bytes >= w->dataSize ? w->dataSize : (uint32_t)bytes;
    offset -= offset % block;
    LARGE_INTEGER pos;
    pos.QuadPart = (int64_t)w->dataStart + offset;
    if (!SetFilePointerEx(w->file, pos, nullptr, FILE_BEGIN)) return 0;
    w->position = offset;
    w->carryBytes = 0;
    w->failed = 0;
    return 1;
}

double __cdecl GetTime(int what, void* handle)
{
    auto* w = static_cast<WavInstance*>(handle);
    if (!w) return -1.0;
    double elapsed = (double)w->position / w->inputFormat.avgBytesPerSec;
    switch (what) {
    case 0: return elapsed;
    case 1: return w->duration - elapsed;
    case 2: return w->duration;
    default: return 0.0;
    }
}

int __cdecl GetPcmFormat(StreamFormat* out, void* handle)
{
    auto* w = static_cast<WavInstance*>(handle);
    if (!w) return -1;
    if (out) *out = w->outputFormat;
    return 1;
}

void CopyText(char* dst, size_t width, const char* src)
{
    size_t n = strlen(src);
    if (n > width - 1) n = width - 1;
    memcpy(dst, src, n);
    dst[n] = '\0';
}

int __cdecl GetTag(TrackInfo* info, void* handle)
{
    auto* w = static_cast<WavInstance*>(handle);
    if (!w || !info) return 0;
    CopyText(info->path, 255, w->path);
    info->channels = w->outputFormat.channels;
    info->sampleRate = w->outputFormat.sampleRate;
    info->bits = w->outputFormat.bitsPerSample;
    info->bitrate = w->outputFormat.sampleRate * w->outputFormat.bitsPerSample;
    info->duration = (double)(int64_t)w->duration;
    info->size = w->dataSize;
    strcpy(info->format, "WAV");
    CopyText(info->title, sizeof info->title, w->path);
    CopyText(info->author, sizeof info->author, VQ_TAG_NOT_SET);
    CopyText(info->album, sizeof info->album, VQ_TAG_NOT_SET);
    CopyText(info->genre, sizeof info->genre, VQ_TAG_NOT_SET);
    CopyText(info->rating, sizeof info->rating, VQ_TAG_NOT_SET);
    info->albumRepeatAfter = info->artistRepeatAfter = info->genreRepeatAfter = info->repeatEvery = -1;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(w->path, GetFileExInfoStandard, &data)) return 0;
    TrackFileTimeFrom(data.ftLastWriteTime, &info->fileTime);
    return 1;
}

int __cdecl Close(void* handle)
{
    auto* w = static_cast<WavInstance*>(handle);
    if (!w) return -1;
    FreeInstance(w);
    return 1;
}

int __cdecl GetTagEx(TrackInfo* info)
{
    if (!info) return 0;
    char path[261];
    size_t n = strnlen(info->path, sizeof info->path);
    memcpy(path, info->path, n);
    path[n] = '\0';
    void* h = Open(path, nullptr);
    if (!h) return 0;
    int r = GetTag(info, h);
    Close(h);
    return r;
}

int __cdecl SetTagEx(const TrackInfo*) { return 0; }

}  // namespace

IVqProModule g_module = {
    {VQ_VERSION(1, 0, 0, 73), nullptr, KindInput, 1, "PylSoftWAVInputModule", "PylSoft WAV Input Module",
     "PylSoft WAV Input Module v1.0.0.73\n\nRIFF/WAVE files: PCM and float data.\nBuilt " __DATE__, nullptr,
     InitModule, QuitModule, GetSetting, SetSetting, QuerySetting, VqNoSubModule, Configure},
    // Input operations, in the record's order.
    {{"Windows Waveform files (*.wav)\0*.wav\0",
      IsOurFile, Open, Read, SetTime, GetTime, GetPcmFormat, GetTag, GetTagEx, SetTagEx, Close}}};

extern "C" IVqProModule* __cdecl GetModuleInterface(void) { return &g_module; }

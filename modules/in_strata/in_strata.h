// MPEG audio input module: shared declarations of its units.
#pragma once
#include <windows.h>
#include <stdint.h>

#include <mad.h>

#include "mpeg_pcm.h"
#include "pcm_converter.h"
#include "ring_buffer.h"
#include "vq_module.h"

struct XingHeader {
    uint32_t flags;  // bit 0 frames, 1 bytes, 2 table of contents, 3 scale
    uint32_t frames;
    uint32_t bytes;
    unsigned char toc[100];
    uint32_t scale;
};

// What the probe of a file finds before any stream is opened.
struct MpegProbe {
    mad_header header;      // first audio frame
    XingHeader xing;
    bool infoFrame;         // the first frame is a Xing/Info frame, not audio
    int64_t fileSize;
    int64_t audioStart;     // first byte after the ID3v2 tag
    int64_t audioBytes;     // file size - ID3v1 size - audioStart
    double duration;        // seconds
    int32_t bitrate;        // bit/s
};

struct MpegInstance {
    char path[1024];
    HANDLE file;
    StreamFormat decodedFormat;
    StreamFormat outputFormat;
    int32_t convert;
    ConverterState converter;
    HANDLE thread;
    volatile LONG stop;
    int64_t audioBytes;
    double duration;
    int32_t bitrate;
    uint64_t delivered;   // under lock
    double seekRequest;   // under lock; -1 when no seek is pending
    XingHeader xing;
    volatile LONG endOfFile;
    // Set with endOfFile when the decoder gave up before the end of the data
    // (a failed read, a stream it cannot decode past, no memory).
    volatile LONG failed;
    int64_t audioStart;
    RingBuffer* ring;
    int32_t priority;

    bool infoFrame;
    CRITICAL_SECTION lock;
    HANDLE dataEvent;      // the decoder stored audio or reached the end
    HANDLE spaceEvent;     // the consumer took audio, or a seek or stop is pending
    HANDLE seekDoneEvent;  // the decoder took a seek request
    int32_t seekResult;    // under lock: 1 when the last request was carried out
    // While Read waits: the bytes it waits for; while the decoder waits for
    // room: the free bytes it waits for. 0 when not waiting. The other side
    // signals only when that much is there, so a wake moves tens of kilobytes.
    volatile LONG readerNeed;
    volatile LONG writerNeed;
    LONGLONG spinTicks;  // how long Read looks again before it waits, in counter ticks
    DitherState dither[2];
};

extern IVqProModule g_module;
// The host's log file and level, kept by InitModule; the module writes no log lines.
extern const char* g_logFile;
extern int* g_logLevel;

// probe.cpp
// Reads exactly n bytes at offset.
bool ReadAt(HANDLE file, int64_t offset, void* buf, DWORD n);
// The same for a TagWindow over a file handle.
bool ReadAtHandle(void* file, int64_t offset, void* buf, uint32_t n);
int64_t GetId3v2Size(HANDLE file);
int64_t GetId3v1Size(HANDLE file, int64_t fileSize);
bool ReadXingHeader(mad_bitptr ptr, unsigned bitLength, XingHeader* xing);
// Opens nothing: probes an open file (from its start) and fills probe.
bool ProbeMpegFile(HANDLE file, MpegProbe* probe);

// decoder.cpp
DWORD WINAPI DecoderThread(void* arg);

// The texts the module reads from an ID3v2 tag, in the ANSI code page, each
// cut to its track information field; an empty text is a missing frame.
struct TagTexts {
    char artist[128];
    char album[128];
    char title[128];
    char year[16];
    char comment[255];
    char track[16];
    char genre[128];  // the content type as it stands
    char bpm[32];
    bool hasPlayCount;
    uint32_t playCount;
    size_t inflatedBytes;  // what the tag's compressed frames were expanded to
};

// id3v24.cpp
// Fills texts from the file's ID3v2.4 tag (texts starts zeroed); false when
// the file does not begin with one.
bool ReadId3v24Texts(const char* path, TagTexts* texts);
// The same from an open file.
bool ReadId3v24Texts(HANDLE file, TagTexts* texts);

// tags.cpp
extern const char* const g_genres[148];
int __cdecl Mpeg_GetTag(TrackInfo* info, void* handle);
int __cdecl Mpeg_GetTagEx(TrackInfo* info);
int __cdecl Mpeg_SetTagEx(const TrackInfo* info);
// Fills the tag fields from the file at info->path; false (with the fields
// of a file without tags) when the tag library fails.
bool ReadId3Tags(TrackInfo* info);
// Genre text of an ID3 content type: writes into genre (128 bytes) unless the
// number in parentheses is out of range.
void GenreFromContentType(const char* text, char* genre);
bool FileTimeUtc(const char* path, TrackFileTime* out);

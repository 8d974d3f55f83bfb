// Records that cross the plug-in boundary: stream format and track information.
// Their layouts are binary contracts between separately built libraries.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct StreamFormat {
    int32_t formatTag;       // 1 integer PCM, 3 float; other values leave it open (see bitsPerSample)
    int32_t channels;        // interleaved
    int32_t sampleRate;      // per channel
    int32_t avgBytesPerSec;
    int32_t blockAlign;      // bytes per frame
    int32_t bitsPerSample;   // 8 unsigned, 16/24 signed LE, 32 float unless formatTag is 1
};

struct TrackFileTime {
    uint16_t year, month, day, hour, minute, second;
    uint32_t milliseconds;
};

struct TrackInfo {
    int32_t reserved;
    char path[260];
    uint64_t size;
    char title[128];
    char author[128];
    char album[128];
    char genre[128];
    char year[16];
    char description[255];
    char copyright[128];
    char url[255];
    char rating[128];
    int32_t track;
    int32_t playCount;
    char format[8];
    double duration;
    int32_t bitrate;
    int32_t sampleRate;
    int32_t channels;
    int32_t bits;
    double bpm;
    double mixLevel;
    int32_t albumRepeatAfter;
    int32_t artistRepeatAfter;
    int32_t genreRepeatAfter;
    int32_t repeatEvery;
    int32_t rotation;
    int32_t mixingFlags;
    double curveBegLevel;
    double curveBegTime;
    double curveBegCurve;
    double curveEndLevel;
    double curveEndTime;
    double curveEndCurve;
    double cueBegCue;
    double cueBegLen;
    double cueEndCue;
    double cueEndLen;
    TrackFileTime fileTime;
};

// Text that marks a tag the source lacks.
#define VQ_TAG_NOT_SET "<Not Set>"

static_assert(sizeof(StreamFormat) == 24, "StreamFormat size");
static_assert(offsetof(StreamFormat, channels) == 4, "");
static_assert(offsetof(StreamFormat, sampleRate) == 8, "");
static_assert(offsetof(StreamFormat, avgBytesPerSec) == 12, "");
static_assert(offsetof(StreamFormat, blockAlign) == 16, "");
static_assert(offsetof(StreamFormat, bitsPerSample) == 20, "");

static_assert(sizeof(TrackFileTime) == 16, "TrackFileTime size");
static_assert(sizeof(TrackInfo) == 1744, "TrackInfo size");
static_assert(offsetof(TrackInfo, path) == 4, "");
static_assert(offsetof(TrackInfo, size) == 264, "");
static_assert(offsetof(TrackInfo, title) == 272, "");
static_assert(offsetof(TrackInfo, author) == 400, "");
static_assert(offsetof(TrackInfo, album) == 528, "");
static_assert(offsetof(TrackInfo, genre) == 656, "");
static_assert(offsetof(TrackInfo, year) == 784, "");
static_assert(offsetof(TrackInfo, description) == 800, "");
static_assert(offsetof(TrackInfo, copyright) == 1055, "");
static_assert(offsetof(TrackInfo, url) == 1183, "");
static_assert(offsetof(TrackInfo, rating) == 1438, "");
static_assert(offsetof(TrackInfo, track) == 1568, "");
static_assert(offsetof(TrackInfo, playCount) == 1572, "");
static_assert(offsetof(TrackInfo, format) == 1576, "");
static_assert(offsetof(TrackInfo, duration) == 1584, "");
static_assert(offsetof(TrackInfo, bitrate) == 1592, "");
static_assert(offsetof(TrackInfo, sampleRate) == 1596, "");
static_assert(offsetof(TrackInfo, channels) == 1600, "");
static_assert(offsetof(TrackInfo, bits) == 1604, "");
static_assert(offsetof(TrackInfo, bpm) == 1608, "");
static_assert(offsetof(TrackInfo, mixLevel) == 1616, "");
static_assert(offsetof(TrackInfo, albumRepeatAfter) == 1624, "");
static_assert(offsetof(TrackInfo, artistRepeatAfter) == 1628, "");
static_assert(offsetof(TrackInfo, genreRepeatAfter) == 1632, "");
static_assert(offsetof(TrackInfo, repeatEvery) == 1636, "");
static_assert(offsetof(TrackInfo, rotation) == 1640, "");
static_assert(offsetof(TrackInfo, mixingFlags) == 1644, "");
static_assert(offsetof(TrackInfo, curveBegLevel) == 1648, "");
static_assert(offsetof(TrackInfo, curveBegTime) == 1656, "");
static_assert(offsetof(TrackInfo, curveBegCurve) == 1664, "");
static_assert(offsetof(TrackInfo, curveEndLevel) == 1672, "");
static_assert(offsetof(TrackInfo, curveEndTime) == 1680, "");
static_assert(offsetof(TrackInfo, curveEndCurve) == 1688, "");
static_assert(offsetof(TrackInfo, cueBegCue) == 1696, "");
static_assert(offsetof(TrackInfo, cueBegLen) == 1704, "");
static_assert(offsetof(TrackInfo, cueEndCue) == 1712, "");
static_assert(offsetof(TrackInfo, cueEndLen) == 1720, "");
static_assert(offsetof(TrackInfo, fileTime) == 1728, "");

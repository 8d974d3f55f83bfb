// Byte layout of the RIFF/WAVE output with the 40-byte extensible format
// chunk: the format record, the header and its chunk sizes, little-endian.
// The sample data itself is written unchanged. Plain C++, no platform header.
#pragma once
#include <stdint.h>

#include "vq_types.h"

// Bytes before the sample data: RIFF head (12), "fmt " chunk (8 + 40), "data" head (8).
enum { WavHeaderBytes = 68, WavFormatBytes = 40 };

void WavPut16(unsigned char* p, uint32_t v);
void WavPut32(unsigned char* p, uint32_t v);

// Fills the 40-byte extensible format record from a stream format: the
// sub-format follows its format tag (1 integer, 3 float), or its width when
// the tag is neither.
void WavBuildFormat(const StreamFormat* fmt, unsigned char out[WavFormatBytes]);
// Average bytes per second of a format record (block align x rate).
uint32_t WavAvgBytesPerSec(const unsigned char format[WavFormatBytes]);
// RIFF chunk size of a file holding dataBytes of data (file length - 8, the
// pad byte after an odd count included).
uint32_t WavRiffSize(uint32_t dataBytes);
// The header of a file holding dataBytes of data.
void WavBuildHeader(const unsigned char format[WavFormatBytes], uint32_t dataBytes,
                    unsigned char head[WavHeaderBytes]);

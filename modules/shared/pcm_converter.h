// Converts interleaved 8/16-bit PCM between rates (linear interpolation with
// state carried from block to block), widths and mono/stereo.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "vq_types.h"

#define PCM_CONVERTER_MAX_CHANNELS 2

// One per stream; zero-filled at creation, never reset on a seek.
struct ConverterState {
    int32_t primed;                                  // a frame is carried from the last block
    int32_t lastFrame[PCM_CONVERTER_MAX_CHANNELS];   // 8-bit as 0..255, 16-bit signed
    double fraction;  // next output position, in input frames after the carried frame
    // The position is kept as whole counts since the start of the stream so the
    // output never depends on how the input was split into blocks.
    uint64_t inputFrames;   // input frames consumed before the current block
    uint64_t outputFrames;  // output frames emitted so far
};

// Output bytes for n input bytes (flags bit 0 set), or input bytes needed for
// n output bytes (bit 0 clear).
int32_t PcmConverter_BufferSize(uint32_t n, const StreamFormat* in, const StreamFormat* out, int32_t flags);
// True when both formats are 8/16-bit mono/stereo, with a rate and a
// matching block size, i.e. when PcmConverter_Convert can handle them.
bool PcmConverter_Supports(const StreamFormat* in, const StreamFormat* out);
// Converts n source bytes; returns the bytes written to dst (never more than
// dstCapacity), 0 on failure. dst must not overlap src.
int32_t PcmConverter_Convert(const void* src, void* dst, uint32_t n, const StreamFormat* in,
                             const StreamFormat* out, ConverterState* state,
                             uint32_t dstCapacity = 0xFFFFFFFFu);
// Resamples n bytes of fmt by step (input frames per output frame); returns
// the bytes written (at most dstCapacity).
int32_t PcmConverter_Resample(const void* src, void* dst, uint32_t n, const StreamFormat* fmt, double step,
                              ConverterState* state, uint32_t dstCapacity = 0xFFFFFFFFu);

// Scratch memory of a resampling conversion; the plug-ins take it from the
// process heap (pcm_scratch.cpp), a native build supplies its own.
void* PcmScratchAlloc(size_t bytes);
void PcmScratchFree(void* p);

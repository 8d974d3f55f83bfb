// Decoder thread: reads the file in large chunks, decodes MPEG frames with
// libmad, dithers them to 16-bit PCM and hands whole blocks to the ring.
#include <string.h>

#include "in_strata.h"

namespace {

const size_t kInputSize = 200000;
const size_t kRefillBelow = 50000;
const DWORD kWaitSlice = 20;  // ms; the events normally end the waits sooner

enum class Outcome { Stopped, EndOfData, Fatal, Seek };

struct Decoder {
    MpegInstance* inst;
    unsigned char* input;
    size_t buffered;
    bool exhausted;
    bool seekDone;
    bool skipInfoFrame;  // the next frame is the Xing/Info frame at audioStart
    int64_t filePos;
    int64_t audioEnd;
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    unsigned char packed[1152 * 2 * 2];
    mad_fixed_t mix[1152];
    unsigned char* convBuf;
    size_t convSize;
};

bool SeekPending(MpegInstance* inst)
{
    EnterCriticalSection(&inst->lock);
    bool pending = inst->seekRequest >= 0;
    LeaveCriticalSection(&inst->lock);
    return pending;
}

// Carries out a pending seek; true when the decoder must restart from the
// new file position.
bool TakeSeek(Decoder& d)
{
    MpegInstance* inst = d.inst;
    EnterCriticalSection(&inst->lock);
    double request = inst->seekRequest;
    LeaveCriticalSection(&inst->lock);
    if (request < 0) return false;

    bool moved = false;
    int64_t target = inst->audioStart;
    if (inst->duration > 0) {
        target = inst->audioStart + (int64_t)((double)inst->audioBytes * request / inst->duration);
        if (target > inst->audioStart + inst->audioBytes) target = inst->audioStart + inst->audioBytes;
        LARGE_INTEGER pos;
        pos.QuadPart = target;
        moved = SetFilePointerEx(inst->file, pos, nullptr, FILE_BEGIN) != 0;
    }
    EnterCriticalSection(&inst->lock);
    RingBuffer_Reset(inst->ring);  // nothing decoded before the seek is delivered
    if (moved) {
        uint32_t block = (uint32_t)inst->outputFormat.blockAlign;
        uint64_t bytes = (uint64_t)(request * inst->outputFormat.avgBytesPerSec);
        inst->delivered = block ? bytes - bytes % block : bytes;
        inst->endOfFile = 0;
    }
    inst->seekRequest = -1;
    inst->seekResult = moved ? 1 : 0;
    LeaveCriticalSection(&inst->lock);
    SetEvent(inst->seekDoneEvent);
    if (!moved) return false;
    mad_frame_mute(&d.frame);
    mad_synth_mute(&d.synth);
    d.buffered = 0;
    d.exhausted = false;
    d.seekDone = true;
    d.filePos = target;
    d.skipInfoFrame = inst->infoFrame && target == inst->audioStart;
    return true;
}

// Appends file data when less than a quarter of the buffer is left.
bool Refill(Decoder& d)
{
    if (d.exhausted || d.buffered >= kRefillBelow) return true;
    DWORD want = (DWORD)(kInputSize - d.buffered);
    if ((int64_t)want > d.audioEnd - d.filePos) want = (DWORD)(d.audioEnd - d.filePos > 0 ? d.audioEnd - d.filePos : 0);
    DWORD got = 0;
    if (want > 0 && !ReadFile(d.inst->file, d.input + d.buffered, want, &got, nullptr)) return false;
    // Nothing where the audio went on when the stream was opened: the file
    // has been cut short (or its data cannot be read), not a clean end.
    if (want > 0 && got == 0) return false;
    d.filePos += got;
    d.buffered += got;
    if (got == 0) {
        // The guard lets the decoder finish the last frame.
        memset(d.input + d.buffered, 0, MAD_BUFFER_GUARD);
        d.buffered += MAD_BUFFER_GUARD;
        d.exhausted = true;
    }
    return true;
}

// Decodes one frame; false when the buffered data is used up or the
// decoder cannot go on. Damaged frames and junk are skipped.
bool DecodeFrame(Decoder& d, bool* fatal)
{
    for (;;) {
        if (mad_frame_decode(&d.frame, &d.stream) == 0) {
            if (d.skipInfoFrame) {
                d.skipInfoFrame = false;  // the Xing/Info frame carries no audio
                continue;
            }
            return true;
        }
        if (MAD_RECOVERABLE(d.stream.error)) continue;
        *fatal = d.stream.error != MAD_ERROR_BUFLEN;
        return false;
    }
}

// Writes one block to the ring. When it does not fit, waits until half the
// ring (at least the block) is free, so the reader drains it in large pieces.
void Deliver(Decoder& d, const unsigned char* block, uint32_t bytes)
{
    MpegInstance* inst = d.inst;
    if (bytes == 0) return;
    if (RingBuffer_Free(inst->ring) < bytes) {
        uint32_t need = inst->ring->capacity / 2;
        if (need < bytes) need = bytes;
        while (!inst->stop && RingBuffer_Free(inst->ring) < need && !SeekPending(inst)) {
            InterlockedExchange(&inst->writerNeed, (LONG)need);
            // A reader waiting for more than can be stored takes what there is.
            if (inst->readerNeed) SetEvent(inst->dataEvent);
            if (RingBuffer_Free(inst->ring) < need && !inst->stop) WaitForSingleObject(inst->spaceEvent, kWaitSlice);
            InterlockedExchange(&inst->writerNeed, 0);
        }
        if (inst->stop || SeekPending(inst)) return;
    }
    if (!RingBuffer_Write(block, bytes, inst->ring)) return;
    MemoryBarrier();
    LONG want = inst->readerNeed;
    if (want > 0 && RingBuffer_Used(inst->ring) >= (uint32_t)want) SetEvent(inst->dataEvent);
}

bool OutputFrame(Decoder& d)
{
    MpegInstance* inst = d.inst;
    if (d.frame.header.samplerate != (unsigned)inst->decodedFormat.sampleRate) return true;  // not this stream
    mad_synth_frame(&d.synth, &d.frame);
    uint32_t n = PackFrame16(d.packed, &d.synth.pcm, inst->decodedFormat.channels, inst->dither, d.mix);
    if (!inst->convert) {
        Deliver(d, d.packed, n);
        return true;
    }
    int32_t need = PcmConverter_BufferSize(n, &inst->decodedFormat, &inst->outputFormat, 1);
    if (need <= 0) return false;
    if ((size_t)need > d.convSize) {
        if (d.convBuf) HeapFree(GetProcessHeap(), 0, d.convBuf);
        d.convBuf = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, need));
        d.convSize = d.convBuf ? need : 0;
        if (!d.convBuf) return false;
    }
    int32_t out = PcmConverter_Convert(d.packed, d.convBuf, n, &inst->decodedFormat, &inst->outputFormat,
                                       &inst->converter, (uint32_t)need);
    if (out > 0) Deliver(d, d.convBuf, (uint32_t)out);
    return true;
}

// Decodes from the current file position until the data ends, a seek is
// taken, the stream is stopped or an error ends it.
Outcome Run(Decoder& d)
{
    MpegInstance* inst = d.inst;
    for (;;) {
        if (!Refill(d)) return Outcome::Fatal;
        size_t handed = d.buffered;
        mad_stream_buffer(&d.stream, d.input, d.buffered);
        bool fatal = false;
        int frames = 0;
        if (d.seekDone) {
            // The first frames after a jump lack their bit reservoir: drop them.
            int dropped = 0;
            while (dropped < 2 && DecodeFrame(d, &fatal)) {
                if (++dropped == 2) mad_synth_frame(&d.synth, &d.frame);
            }
            frames += dropped;
            if (dropped == 2) d.seekDone = false;
        }
        while (!fatal) {
            if (inst->stop) return Outcome::Stopped;
            if (SeekPending(inst)) {
                if (TakeSeek(d)) return Outcome::Seek;
                continue;
            }
            if (!DecodeFrame(d, &fatal)) break;
            ++frames;
            if (!OutputFrame(d)) return Outcome::Fatal;
        }
        if (inst->stop) return Outcome::Stopped;
        if (fatal) return Outcome::Fatal;
        size_t rest = 0;
        if (d.stream.next_frame) {
            const unsigned char* end = d.input + d.buffered;
            if (d.stream.next_frame >= d.input && d.stream.next_frame <= end) rest = end - d.stream.next_frame;
        }
        if (d.exhausted) return Outcome::EndOfData;
        // A buffer that holds no decodable frame and cannot grow: give up,
        // unless the file has nothing more to give (a last frame cut short).
        if (frames == 0 && rest == handed && rest >= kRefillBelow)
            return d.filePos >= d.audioEnd ? Outcome::EndOfData : Outcome::Fatal;
        memmove(d.input, d.input + d.buffered - rest, rest);
        d.buffered = rest;
    }
}

}  // namespace

DWORD WINAPI DecoderThread(void* arg)
{
    auto* inst = static_cast<MpegInstance*>(arg);
    Decoder* d = static_cast<Decoder*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Decoder)));
    if (d) d->input = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kInputSize + MAD_BUFFER_GUARD));
    if (!d || !d->input) {
        if (d) HeapFree(GetProcessHeap(), 0, d);
        inst->failed = 1;
        inst->endOfFile = 1;
        SetEvent(inst->dataEvent);
        return 1;
    }
    d->inst = inst;
    d->audioEnd = inst->audioStart + inst->audioBytes;
    mad_stream_init(&d->stream);
    mad_frame_init(&d->frame);
    mad_synth_init(&d->synth);
    mad_stream_options(&d->stream, MAD_OPTION_IGNORECRC);  // damaged CRCs still decode

    LARGE_INTEGER pos;
    pos.QuadPart = inst->audioStart;
    bool ok = SetFilePointerEx(inst->file, pos, nullptr, FILE_BEGIN) != 0;
    d->filePos = inst->audioStart;
    d->skipInfoFrame = inst->infoFrame;
    bool failed = !ok;
    while (ok) {
        Outcome o = Run(*d);
        if (o == Outcome::Seek) continue;
        if (o == Outcome::Fatal) failed = true;
        if (o != Outcome::EndOfData) break;
        // End of the data: say so, then stay ready for a seek until closed.
        inst->endOfFile = 1;
        SetEvent(inst->dataEvent);
        while (!inst->stop && !SeekPending(inst)) WaitForSingleObject(inst->spaceEvent, 100);
        if (inst->stop || !TakeSeek(*d)) break;
    }
    mad_synth_finish(&d->synth);
    mad_frame_finish(&d->frame);
    mad_stream_finish(&d->stream);
    if (d->convBuf) HeapFree(GetProcessHeap(), 0, d->convBuf);
    HeapFree(GetProcessHeap(), 0, d->input);
    HeapFree(GetProcessHeap(), 0, d);
    // Every way out passes here, so Read learns that no more data will come
    // (and whether the stream ended before its end).
    if (failed) inst->failed = 1;
    inst->endOfFile = 1;
    SetEvent(inst->dataEvent);
    return 0;
}

// Stream probing: ID3 tag sizes, the first audio frame and the Xing header.
#include <string.h>

#include "in_strata.h"

bool ReadAt(HANDLE file, int64_t offset, void* buf, DWORD n)
{
    LARGE_INTEGER pos;
    pos.QuadPart = offset;
    DWORD got = 0;
    return SetFilePointerEx(file, pos, nullptr, FILE_BEGIN) && ReadFile(file, buf, n, &got, nullptr) && got == n;
}

bool ReadAtHandle(void* file, int64_t offset, void* buf, uint32_t n) { return ReadAt((HANDLE)file, offset, buf, n); }

namespace {

// The Xing/Info tag sits right after the side information; lame puts it
// there even in CRC-protected frames, where the main data begins 2 bytes later.
bool FindXingHeader(const mad_stream& s, const mad_header& h, XingHeader* xing)
{
    if (h.layer != MAD_LAYER_III || !s.this_frame || !s.next_frame) return false;
    bool lsf = (h.flags & MAD_FLAG_LSF_EXT) != 0;
    bool mono = h.mode == MAD_MODE_SINGLE_CHANNEL;
    size_t sideInfo = lsf ? (mono ? 9 : 17) : (mono ? 17 : 32);
    for (size_t extra = 0; extra <= 2; extra += 2) {
        const unsigned char* p = s.this_frame + 4 + sideInfo + extra;
        if (p + 8 > s.next_frame) continue;
        mad_bitptr bits;
        mad_bit_init(&bits, p);
        if (ReadXingHeader(bits, (unsigned)(s.next_frame - p) * 8, xing)) return true;
    }
    return false;
}

bool SameStream(const mad_header& a, const mad_header& b)
{
    return a.layer == b.layer && a.samplerate == b.samplerate;
}

// Reads from the file's current position until a frame that is followed by
// consistent frames is found. infoFrame tells whether the first decoded frame
// was a Xing/Info frame.
bool ScanFirstFrame(HANDLE file, mad_header* out, XingHeader* xing, bool* infoFrame)
{
    const size_t kBuffer = 8192;
    unsigned char* buf = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, kBuffer + MAD_BUFFER_GUARD));
    if (!buf) return false;
    xing->flags = 0;
    *infoFrame = false;
    mad_stream stream;
    mad_frame frame;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_stream_options(&stream, MAD_OPTION_IGNORECRC);

    size_t buffered = 0;
    bool exhausted = false;
    int decoded = 0;
    bool haveCandidate = false;
    int confirmations = 0;
    mad_header candidate;
    bool found = false, failed = false;
    while (!found && !failed) {
        if (!exhausted && buffered < kBuffer) {
            DWORD got = 0;
            if (!ReadFile(file, buf + buffered, (DWORD)(kBuffer - buffered), &got, nullptr) || got == 0) {
                exhausted = true;
                memset(buf + buffered, 0, MAD_BUFFER_GUARD);  // lets the last frame finish
                buffered += MAD_BUFFER_GUARD;
            } else {
                buffered += got;
            }
        }
        mad_stream_buffer(&stream, buf, buffered);
        for (;;) {
            if (mad_frame_decode(&frame, &stream) != 0) {
                if (MAD_RECOVERABLE(stream.error)) {
                    // Junk between frames: the candidate was not confirmed.
                    if (haveCandidate && confirmations < 2) haveCandidate = false;
                    continue;
                }
                if (stream.error != MAD_ERROR_BUFLEN) failed = true;
                break;
            }
            ++decoded;
            if (decoded == 1 && FindXingHeader(stream, frame.header, xing)) {
                *infoFrame = true;
                continue;
            }
            if (!haveCandidate) {
                candidate = frame.header;
                haveCandidate = true;
                confirmations = 0;
            } else if (SameStream(candidate, frame.header)) {
                if (++confirmations >= 2) {
                    found = true;
                    break;
                }
            } else {
                candidate = frame.header;
                confirmations = 0;
            }
        }
        if (found || failed) break;
        if (exhausted) {
            // A short stream: a frame that nothing contradicted.
            found = haveCandidate;
            failed = !found;
            break;
        }
        // Keep the undecoded rest and read more.
        size_t rest = stream.next_frame ? (size_t)(buf + buffered - stream.next_frame) : 0;
        if (rest > buffered) rest = 0;
        if (rest >= kBuffer) rest = 0;  // no progress possible: drop it
        memmove(buf, buf + buffered - rest, rest);
        buffered = rest;
    }
    if (found) *out = candidate;
    if (!found) xing->flags = 0;
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
    HeapFree(GetProcessHeap(), 0, buf);
    return found;
}

}  // namespace

int64_t GetId3v2Size(HANDLE file)
{
    unsigned char h[10];
    if (!ReadAt(file, 0, h, 10)) return 0;
    if (memcmp(h, "ID3", 3) != 0 || h[3] < 2) return 0;
    int64_t size = ((int64_t)(h[6] & 0x7F) << 21) | ((h[7] & 0x7F) << 14) | ((h[8] & 0x7F) << 7) | (h[9] & 0x7F);
    if (h[3] >= 4 && (h[5] & 0x10)) size += 10;  // a version 2.4 tag may end with a 10-byte footer
    return size;
}

int64_t GetId3v1Size(HANDLE file, int64_t fileSize)
{
    if (fileSize < 128) return 0;
    char t[3];
    if (!ReadAt(file, fileSize - 128, t, 3)) return 0;
    return memcmp(t, "TAG", 3) == 0 ? 128 : 0;
}

bool ReadXingHeader(mad_bitptr ptr, unsigned bitLength, XingHeader* xing)
{
    xing->flags = 0;
    if (bitLength < 64) return false;
    unsigned long magic = mad_bit_read(&ptr, 32);
    // lame writes "Info" instead of "Xing" for constant bit rate streams.
    if (magic != 0x58696E67UL && magic != 0x496E666FUL) return false;
    uint32_t flags = (uint32_t)mad_bit_read(&ptr, 32);
    bitLength -= 64;
    if (flags & 1) {
        if (bitLength < 32) return false;
        xing->frames = (uint32_t)mad_bit_read(&ptr, 32);
        bitLength -= 32;
    }
    if (flags & 2) {
        if (bitLength < 32) return false;
        xing->bytes = (uint32_t)mad_bit_read(&ptr, 32);
        bitLength -= 32;
    }
    if (flags & 4) {
        if (bitLength < 800) return false;
        for (int i = 0; i < 100; ++i) xing->toc[i] = (unsigned char)mad_bit_read(&ptr, 8);
        bitLength -= 800;
    }
    if (flags & 8) {
        if (bitLength < 32) return false;
        xing->scale = (uint32_t)mad_bit_read(&ptr, 32);
        bitLength -= 32;
    }
    // An "Info" tag marks a constant bit rate stream: its frame is skipped
    // like a Xing frame, but duration and bit rate come from the frame header.
    xing->flags = magic == 0x58696E67UL ? flags : 0;
    return true;
}

bool ProbeMpegFile(HANDLE file, MpegProbe* p)
{
    memset(p, 0, sizeof *p);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return false;
    p->fileSize = size.QuadPart;
    if (p->fileSize == 0) return false;
    int64_t tag = GetId3v2Size(file);
    p->audioStart = tag ? 10 + tag : 0;
    if (p->audioStart >= p->fileSize) return false;  // no audio after the ID3v2 tag
    LARGE_INTEGER pos;
    pos.QuadPart = p->audioStart;
    if (!SetFilePointerEx(file, pos, nullptr, FILE_BEGIN)) return false;
    if (!ScanFirstFrame(file, &p->header, &p->xing, &p->infoFrame)) return false;
    p->audioBytes = p->fileSize - GetId3v1Size(file, p->fileSize) - p->audioStart;
    if (p->audioBytes < 0) p->audioBytes = 0;

    // 64-bit arithmetic throughout: no overflow for long or large files.
    int64_t ms = 0;
    int64_t samplesPerFrame = 32 * (int64_t)MAD_NSBSAMPLES(&p->header);
    if ((p->xing.flags & 1) && p->xing.frames > 0 && p->header.samplerate > 0) {
        ms = (int64_t)p->xing.frames * samplesPerFrame * 1000 / p->header.samplerate;
        p->bitrate = (int32_t)p->header.bitrate;
        if ((p->xing.flags & 2) && p->audioBytes > 0 && ms > 0)
            p->bitrate = (int32_t)((int64_t)p->xing.bytes * 8 * 1000 / ms);
    } else {
        p->bitrate = (int32_t)p->header.bitrate;
        if (p->header.bitrate >= 1000) ms = p->audioBytes * 8 / (p->header.bitrate / 1000);
    }
    p->duration = ms / 1000.0;
    return true;
}

#include "fuzz_mutator.h"

#include <algorithm>
#include <cstring>

namespace vqfuzz {
namespace {

const uint32_t kInteresting[] = {0,      1,      2,       3,          4,          0x7F,       0x80,
                                 0xFF,   0x100,  0x7FFF,  0x8000,     0xFFFF,     0x10000,    0x7FFFFFFF,
                                 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 0x40000032, 0x0FFFFFFF, 1u << 20};

uint32_t Interesting(Rng& r)
{
    const uint32_t n = sizeof kInteresting / sizeof kInteresting[0];
    uint32_t pick = r.Below(n + 2);
    if (pick < n) return kInteresting[pick];
    return pick == n ? (uint32_t)r.Next() : r.Below(4096);
}

void PutBE(Bytes& b, size_t at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes && at + i < b.size(); ++i) b[at + i] = (uint8_t)(v >> (8 * (bytes - 1 - i)));
}

void PutLE(Bytes& b, size_t at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes && at + i < b.size(); ++i) b[at + i] = (uint8_t)(v >> (8 * i));
}

uint32_t GetBE(const Bytes& b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | (at + i < b.size() ? b[at + i] : 0);
    return v;
}

uint32_t GetLE(const Bytes& b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | (at + i < b.size() ? b[at + i] : 0);
    return v;
}

uint32_t Syncsafe(uint32_t v) { return (v & 0x7F) | (v & 0x3F80) << 1 | (v & 0x1FC000) << 2 | (v & 0xFE00000) << 3; }
uint32_t Unsyncsafe(uint32_t v) { return (v & 0x7F) | (v >> 1 & 0x3F80) | (v >> 2 & 0x1FC000) | (v >> 3 & 0xFE00000); }

// A position inside b, or 0 for an empty file.
size_t Pos(Rng& r, const Bytes& b) { return b.empty() ? 0 : r.Below((uint32_t)b.size()); }

// ---- generic damage -------------------------------------------------------

void Generic(Bytes& b, Rng& r, std::string* log)
{
    switch (r.Below(8)) {
    case 0: {
        *log += "bitflip ";
        int n = 1 + r.Below(8);
        for (int i = 0; i < n && !b.empty(); ++i) b[Pos(r, b)] ^= (uint8_t)(1u << r.Below(8));
        break;
    }
    case 1: {
        *log += "truncate ";
        size_t keep = r.OneIn(4) ? r.Below(64) : Pos(r, b);
        if (keep < b.size()) b.resize(keep);
        break;
    }
    case 2: {
        *log += "run ";
        size_t at = Pos(r, b), len = 1 + r.Below(r.OneIn(4) ? 4096 : 64);
        uint8_t v = r.OneIn(3) ? 0xFF : r.OneIn(2) ? 0 : (uint8_t)r.Next();
        for (size_t i = at; i < at + len && i < b.size(); ++i) b[i] = v;
        break;
    }
    case 3: {
        *log += "insert ";
        size_t at = Pos(r, b), len = 1 + r.Below(r.OneIn(4) ? 4096 : 64);
        uint8_t v = r.OneIn(2) ? 0xFF : (uint8_t)r.Next();
        b.insert(b.begin() + at, len, v);
        break;
    }
    case 4: {
        *log += "delete ";
        size_t at = Pos(r, b), len = 1 + r.Below(512);
        b.erase(b.begin() + at, b.begin() + std::min(b.size(), at + len));
        break;
    }
    case 5: {
        *log += "duplicate ";
        if (b.empty()) break;
        size_t from = Pos(r, b), len = std::min<size_t>(1 + r.Below(2048), b.size() - from);
        Bytes piece(b.begin() + from, b.begin() + from + len);
        b.insert(b.begin() + Pos(r, b), piece.begin(), piece.end());
        break;
    }
    case 6: {
        *log += "int32 ";
        size_t at = Pos(r, b);
        if (r.OneIn(2)) PutBE(b, at, Interesting(r), 4);
        else PutLE(b, at, Interesting(r), 4);
        break;
    }
    default: {
        *log += "bytes ";
        int n = 1 + r.Below(16);
        for (int i = 0; i < n && !b.empty(); ++i) b[Pos(r, b)] = (uint8_t)Interesting(r);
        break;
    }
    }
}

// ---- MPEG audio frames -----------------------------------------------------

struct MpegHeader {
    int version;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int layer;    // 1..3
    bool crc;
    int length;   // 0 for free format
};

const int kBitrates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};

bool ParseMpegHeader(const Bytes& b, size_t at, MpegHeader* h)
{
    if (at + 4 > b.size() || b[at] != 0xFF || (b[at + 1] & 0xE0) != 0xE0) return false;
    int version = b[at + 1] >> 3 & 3, layerBits = b[at + 1] >> 1 & 3;
    int br = b[at + 2] >> 4, sr = b[at + 2] >> 2 & 3, pad = b[at + 2] >> 1 & 1;
    if (version == 1 || layerBits == 0 || br == 15 || sr == 3) return false;
    static const int rates[3] = {44100, 48000, 32000};
    int rate = rates[sr] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    h->version = version;
    h->layer = 4 - layerBits;
    h->crc = (b[at + 1] & 1) == 0;
    int kbps = kBitrates[version == 3 ? 0 : 1][h->layer - 1][br];
    if (kbps == 0) h->length = 0;
    else if (h->layer == 1) h->length = (12 * kbps * 1000 / rate + pad) * 4;
    else if (h->layer == 3 && version != 3) h->length = 72 * kbps * 1000 / rate + pad;
    else h->length = 144 * kbps * 1000 / rate + pad;
    return true;
}

size_t Id3v2End(const Bytes& b)
{
    if (b.size() < 10 || memcmp(b.data(), "ID3", 3) != 0) return 0;
    size_t end = 10 + Unsyncsafe(GetBE(b, 6, 4) & 0x7F7F7F7F);
    if (b[3] == 4 && (b[5] & 0x10)) end += 10;
    return std::min(end, b.size());
}

// Frame starts found by walking lengths from the first sync word.
std::vector<size_t> MpegFrames(const Bytes& b)
{
    std::vector<size_t> out;
    size_t at = Id3v2End(b);
    MpegHeader h;
    while (at + 4 <= b.size() && out.size() < 400) {
        if (!ParseMpegHeader(b, at, &h)) {
            ++at;
            continue;
        }
        out.push_back(at);
        if (h.length > 0) {
            at += h.length;
        } else {  // free format: the next sync word with the same first bytes
            size_t next = at + 1;
            while (next + 4 <= b.size() && !(b[next] == 0xFF && b[next + 1] == b[at + 1])) ++next;
            at = next;
        }
    }
    return out;
}

// Picks the frames a mutation touches: one, or every one.
std::vector<size_t> Pick(const std::vector<size_t>& frames, Rng& r)
{
    if (frames.empty()) return frames;
    if (r.OneIn(3)) return frames;
    return {frames[r.Below((uint32_t)frames.size())]};
}

void MpegFrameHeader(Bytes& b, Rng& r, std::string* log)
{
    auto frames = MpegFrames(b);
    int field = r.Below(8);
    static const char* names[] = {"version", "layer", "crc", "bitrate", "samplerate", "padding", "mode", "emphasis"};
    *log += std::string("mpeg-") + names[field] + " ";
    uint32_t v = r.Next() >> 40;
    for (size_t at : Pick(frames, r)) {
        uint8_t* p = &b[at];
        switch (field) {
        case 0: p[1] = (uint8_t)((p[1] & ~0x18) | (v & 3) << 3); break;
        case 1: p[1] = (uint8_t)((p[1] & ~0x06) | (v & 3) << 1); break;
        case 2: p[1] ^= 1; break;
        case 3: p[2] = (uint8_t)((p[2] & 0x0F) | (v & 15) << 4); break;
        case 4: p[2] = (uint8_t)((p[2] & ~0x0C) | (v & 3) << 2); break;
        case 5: p[2] ^= 2; break;
        case 6: p[3] = (uint8_t)((p[3] & 0x0F) | (v & 15) << 4); break;
        default: p[3] = (uint8_t)((p[3] & ~0x03) | (v & 3)); break;
        }
    }
}

// Layer III main-data pointers (the first 9 bits of the side information in
// MPEG-1, 8 in MPEG-2): the largest possible (0), random (1) or 0 (2).
void SetMainData(Bytes& b, const std::vector<size_t>& frames, int how, Rng& r)
{
    for (size_t at : frames) {
        MpegHeader h;
        if (!ParseMpegHeader(b, at, &h) || h.layer != 3) continue;
        size_t side = at + 4 + (h.crc ? 2 : 0);
        if (side + 2 > b.size()) continue;
        int bits = h.version == 3 ? 9 : 8;
        uint32_t max = (1u << bits) - 1;
        uint32_t v = how == 0 ? max : how == 1 ? r.Below(max + 1) : 0;
        uint32_t word = GetBE(b, side, 2);
        word = (word & ((1u << (16 - bits)) - 1)) | v << (16 - bits);
        PutBE(b, side, word, 2);
    }
}

void MpegMainData(Bytes& b, Rng& r, std::string* log)
{
    *log += "mpeg-maindata ";
    auto frames = MpegFrames(b);
    SetMainData(b, Pick(frames, r), r.Below(3), r);
}

// Free format: the stream's frame data cut again into frames of one new
// size with bit rate index 0, up to the largest size a decoder accepts
// (640 kbps), often with large main-data pointers as well: the frames whose
// main data overruns a decoder's fixed buffer.
void MpegFreeFormat(Bytes& b, Rng& r, std::string* log)
{
    auto frames = MpegFrames(b);
    if (frames.empty()) return;
    MpegHeader h{};
    if (!ParseMpegHeader(b, frames[0], &h)) return;
    static const int rates[3] = {44100, 48000, 32000};
    int rate = rates[b[frames[0] + 2] >> 2 & 3] >> (h.version == 3 ? 0 : h.version == 2 ? 1 : 2);
    int slots = h.layer == 1 ? 48 : h.layer == 3 && h.version != 3 ? 72 : 144;
    size_t largest = (size_t)slots * 640000 / rate;
    size_t overhead = 4 + (h.crc ? 2 : 0);
    size_t size = r.OneIn(2) ? largest - r.Below((uint32_t)largest / 4) : 64 + r.Below((uint32_t)largest - 63);
    if (h.layer == 1) size &= ~(size_t)3;
    *log += "mpeg-free" + std::to_string(size) + " ";

    Bytes payload;
    for (size_t i = 0; i < frames.size(); ++i) {
        size_t from = frames[i] + overhead, to = i + 1 < frames.size() ? frames[i + 1] : b.size();
        if (from < to) payload.insert(payload.end(), b.begin() + from, b.begin() + to);
    }
    uint8_t header[6] = {b[frames[0]], b[frames[0] + 1], (uint8_t)(b[frames[0] + 2] & 0x0C), b[frames[0] + 3], 0, 0};
    Bytes out(b.begin(), b.begin() + frames[0]);
    std::vector<size_t> heads;
    for (size_t at = 0; at < payload.size(); at += size - overhead) {
        heads.push_back(out.size());
        out.insert(out.end(), header, header + overhead);
        size_t n = std::min(size - overhead, payload.size() - at);
        out.insert(out.end(), payload.begin() + at, payload.begin() + at + n);
    }
    b.swap(out);
    if (r.OneIn(2)) SetMainData(b, heads, r.Below(2), r);
}

void MpegXing(Bytes& b, Rng& r, std::string* log)
{
    size_t start = Id3v2End(b), end = std::min(b.size(), start + 256);
    size_t at = std::string::npos;
    for (size_t i = start; i + 8 <= end; ++i) {
        if (memcmp(&b[i], "Xing", 4) == 0 || memcmp(&b[i], "Info", 4) == 0) {
            at = i;
            break;
        }
    }
    if (at == std::string::npos) return;
    *log += "xing ";
    switch (r.Below(5)) {
    case 0: PutBE(b, at + 4, r.OneIn(2) ? 15 : Interesting(r), 4); break;  // flags
    case 1: PutBE(b, at + 8, Interesting(r), 4); break;                      // frame count
    case 2: PutBE(b, at + 12, Interesting(r), 4); break;                     // byte count
    case 3:
        for (int i = 0; i < 100; ++i)
            if (at + 16 + i < b.size()) b[at + 16 + i] = (uint8_t)r.Next();
        break;
    default: memcpy(&b[at], r.OneIn(2) ? "Xing" : "Info", 4); break;
    }
}

// ---- ID3v2 tags -----------------------------------------------------------

struct Id3Frame {
    size_t at;      // header
    size_t header;  // header size
    int version;
};

std::vector<Id3Frame> Id3Frames(const Bytes& b)
{
    std::vector<Id3Frame> out;
    size_t end = Id3v2End(b);
    if (end < 10) return out;
    int version = b[3];
    size_t at = 10;
    if (b[5] & 0x40) {  // extended header
        uint32_t n = GetBE(b, 10, 4);
        at += version == 4 ? Unsyncsafe(n) : n + 4;
    }
    size_t header = version == 2 ? 6 : 10;
    while (at + header <= end && b[at] != 0 && out.size() < 64) {
        out.push_back({at, header, version});
        uint32_t size = version == 2 ? GetBE(b, at + 3, 3) : GetBE(b, at + 4, 4);
        if (version == 4) size = Unsyncsafe(size);
        if (size > end - at - header) break;
        at += header + size;
    }
    return out;
}

void Id3Tag(Bytes& b, Rng& r, std::string* log)
{
    if (Id3v2End(b) < 10) return;
    auto frames = Id3Frames(b);
    int what = r.Below(frames.empty() ? 4 : 9);
    switch (what) {
    case 0:
        *log += "id3-version ";
        b[3] = (uint8_t)(r.OneIn(2) ? 2 + r.Below(3) : r.Next());
        break;
    case 1:
        *log += "id3-flags ";
        b[5] = (uint8_t)(r.OneIn(2) ? (r.Below(16) << 4) : r.Next());
        break;
    case 2: {
        *log += "id3-size ";
        uint32_t v = Interesting(r);
        PutBE(b, 6, r.OneIn(3) ? v : Syncsafe(v & 0x0FFFFFFF), 4);
        break;
    }
    case 3: {
        // Unsynchronisation on or off without changing the data, or applied
        // to the tag body (0x00 after every 0xFF) with the flag set.
        *log += "id3-unsync ";
        size_t end = Id3v2End(b);
        if (r.OneIn(2)) {
            b[5] ^= 0x80;
            break;
        }
        Bytes body;
        for (size_t i = 10; i < end; ++i) {
            body.push_back(b[i]);
            if (b[i] == 0xFF) body.push_back(0);
        }
        Bytes out(b.begin(), b.begin() + 10);
        out[5] |= 0x80;
        PutBE(out, 6, Syncsafe((uint32_t)body.size()), 4);
        out.insert(out.end(), body.begin(), body.end());
        out.insert(out.end(), b.begin() + end, b.end());
        b.swap(out);
        break;
    }
    default: {
        const Id3Frame& f = frames[r.Below((uint32_t)frames.size())];
        size_t sizeAt = f.at + (f.version == 2 ? 3 : 4);
        int sizeBytes = f.version == 2 ? 3 : 4;
        size_t flagsAt = f.at + 8, data = f.at + f.header;
        switch (what) {
        case 4: {
            *log += "id3-framesize ";
            uint32_t old = GetBE(b, sizeAt, sizeBytes);
            uint32_t v = r.OneIn(2) ? old + r.Below(9) - 4 : Interesting(r);
            PutBE(b, sizeAt, f.version == 4 && r.OneIn(2) ? Syncsafe(v & 0x0FFFFFFF) : v, sizeBytes);
            break;
        }
        case 5:
        case 6: {
            // Compression (with an expanded-size field that may lie),
            // encryption, grouping, unsynchronisation, data length.
            *log += "id3-frameflags ";
            if (f.version == 2) break;
            static const uint16_t v3[] = {0x0080, 0x0040, 0x0020, 0x0080 | 0x0040, 0x00E0};
            static const uint16_t v4[] = {0x0008, 0x0004, 0x0040, 0x0002, 0x0001, 0x0009, 0x000B};
            uint16_t flags = f.version == 3 ? v3[r.Below(5)] : v4[r.Below(7)];
            if (r.OneIn(4)) flags = (uint16_t)r.Next();
            PutBE(b, flagsAt, flags, 2);
            if (what == 6) PutBE(b, data, Interesting(r), 4);
            break;
        }
        case 7:
            *log += "id3-encoding ";
            if (data < b.size()) b[data] = (uint8_t)(r.OneIn(2) ? r.Below(4) : r.Next());
            break;
        default: {
            *log += "id3-frameid ";
            static const char* ids[] = {"TIT2", "TPE1", "TALB", "TCON", "COMM", "PCNT", "TBPM",
                                        "TRCK", "APIC", "CDM\0", "TXXX", "USLT", "GEOB", "XXXX"};
            const char* id = ids[r.Below(14)];
            memcpy(&b[f.at], id, f.version == 2 ? 3 : 4);
            break;
        }
        }
        break;
    }
    }
}

// ---- RIFF/WAVE ------------------------------------------------------------

struct Chunk {
    size_t at;  // id
    uint32_t size;
};

std::vector<Chunk> WavChunks(const Bytes& b)
{
    std::vector<Chunk> out;
    size_t at = 12;
    while (at + 8 <= b.size() && out.size() < 64) {
        uint32_t size = GetLE(b, at + 4, 4);
        out.push_back({at, size});
        uint64_t next = (uint64_t)at + 8 + size + (size & 1);
        if (next > b.size()) break;
        at = (size_t)next;
    }
    return out;
}

void Wav(Bytes& b, Rng& r, std::string* log)
{
    auto chunks = WavChunks(b);
    if (b.size() < 12 || chunks.empty()) return;
    const Chunk* fmt = nullptr;
    for (const Chunk& c : chunks)
        if (memcmp(&b[c.at], "fmt ", 4) == 0) fmt = &c;
    int what = r.Below(fmt ? 6 : 4);
    const Chunk& c = chunks[r.Below((uint32_t)chunks.size())];
    switch (what) {
    case 0:
        *log += "riff-size ";
        PutLE(b, 4, Interesting(r), 4);
        break;
    case 1: {
        *log += "chunk-size ";
        uint32_t v = r.OneIn(2) ? c.size + r.Below(9) - 4 : Interesting(r);
        PutLE(b, c.at + 4, v, 4);
        break;
    }
    case 2: {
        *log += "chunk-id ";
        static const char* ids[] = {"fmt ", "data", "LIST", "fact", "JUNK", "RIFF", "WAVE", "\0\0\0\0"};
        memcpy(&b[c.at], ids[r.Below(8)], 4);
        break;
    }
    case 3: {
        // Move a chunk in front of the first one (data before fmt).
        *log += "chunk-order ";
        size_t end = (size_t)std::min<uint64_t>(b.size(), (uint64_t)c.at + 8 + c.size + (c.size & 1));
        Bytes piece(b.begin() + c.at, b.begin() + end);
        b.erase(b.begin() + c.at, b.begin() + end);
        b.insert(b.begin() + 12, piece.begin(), piece.end());
        break;
    }
    default: {
        // A field of the format chunk: tag, channels, rate, byte rate, block
        // align, bits, extension size, valid bits, channel mask, sub-format.
        *log += "fmt-field ";
        static const int offsets[] = {0, 2, 4, 8, 12, 14, 16, 18, 20, 24, 26};
        static const int widths[] = {2, 2, 4, 4, 2, 2, 2, 2, 4, 2, 4};
        int i = r.Below(11);
        static const uint32_t tags[] = {1, 3, 0xFFFE, 2, 0, 0x55, 6, 7};
        uint32_t v = i == 0 || i == 9 ? (r.OneIn(3) ? Interesting(r) : tags[r.Below(8)]) : Interesting(r);
        PutLE(b, fmt->at + 8 + offsets[i], v, widths[i]);
        break;
    }
    }
}

// ---- ASF (Windows Media Audio) ----------------------------------------------

const size_t kNone = (size_t)-1;

// Object identifiers in the byte order of the file.
enum AsfId {
    kIdHeader, kIdData, kIdFileProps, kIdStreamProps, kIdContent, kIdExtContent, kIdHeaderExt, kIdCodecList,
    kIdSimpleIndex, kIdIndex, kIdBitrate, kIdPadding, kIdMetadata, kIdMetadataLibrary, kIdExtStreamProps,
    kIdLanguages, kIdMediaObjectIndex, kIdTimecodeIndex, kIdMutualExclusion, kIdCount
};
const uint8_t kAsfIds[kIdCount][16] = {
    {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C},
    {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C},
    {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65},
    {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65},
    {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C},
    {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50},
    {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11, 0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65},
    {0x40, 0x52, 0xD1, 0x86, 0x1D, 0x31, 0xD0, 0x11, 0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6},
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB},
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},
    {0xCE, 0x75, 0xF8, 0x7B, 0x8D, 0x46, 0xD1, 0x11, 0x8D, 0x82, 0x00, 0x60, 0x97, 0xC9, 0xA2, 0xB2},
    {0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45, 0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8},
    {0xEA, 0xCB, 0xF8, 0xC5, 0xAF, 0x5B, 0x77, 0x48, 0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA},
    {0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49, 0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54},
    {0xCB, 0xA5, 0xE6, 0x14, 0x72, 0xC6, 0x32, 0x43, 0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A},
    {0xA9, 0x46, 0x43, 0x7C, 0xE0, 0xEF, 0xFC, 0x4B, 0xB2, 0x29, 0x39, 0x3E, 0xDE, 0x41, 0x5C, 0x85},
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C},
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C},
    {0xA0, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},
};

bool IsAsf(const Bytes& b, size_t at, AsfId id) { return at + 16 <= b.size() && memcmp(&b[at], kAsfIds[id], 16) == 0; }

uint64_t GetLE64(const Bytes& b, size_t at) { return GetLE(b, at, 4) | (uint64_t)GetLE(b, at + 4, 4) << 32; }
void PutLE64(Bytes& b, size_t at, uint64_t v)
{
    PutLE(b, at, (uint32_t)v, 4);
    PutLE(b, at + 4, (uint32_t)(v >> 32), 4);
}

// A value near the old one or one of the interesting ones.
uint32_t Tweak(Rng& r, uint32_t old) { return r.OneIn(2) ? old + r.Below(9) - 4 : Interesting(r); }

struct AsfObject {
    size_t at;
    uint64_t size;
};

struct AsfFile {
    std::vector<AsfObject> top;       // top-level objects as far as their sizes lead
    std::vector<AsfObject> children;  // of the header object
    size_t data = kNone;              // the data object
    size_t packets = 0, packetSize = 0, packetCount = 0;  // packets wholly in the file
};

std::vector<AsfObject> AsfObjects(const Bytes& b, size_t from, size_t to)
{
    std::vector<AsfObject> out;
    for (size_t at = from; at + 24 <= to && out.size() < 256;) {
        uint64_t size = GetLE64(b, at + 16);
        out.push_back({at, size});
        if (size < 24 || size > to - at) break;
        at += (size_t)size;
    }
    return out;
}

AsfFile AsfLayout(const Bytes& b)
{
    AsfFile f;
    f.top = AsfObjects(b, 0, b.size());
    if (!f.top.empty() && IsAsf(b, 0, kIdHeader))
        f.children = AsfObjects(b, 30, (size_t)std::min<uint64_t>(f.top[0].size, b.size()));
    for (const AsfObject& o : f.children)
        if (IsAsf(b, o.at, kIdFileProps) && o.at + 24 + 76 <= b.size()) f.packetSize = GetLE(b, o.at + 24 + 68, 4);
    for (const AsfObject& o : f.top) {
        if (!IsAsf(b, o.at, kIdData) || f.packetSize < 32 || f.packetSize > 65536) continue;
        f.data = o.at;
        f.packets = o.at + 50;
        size_t stated = o.size > 50 ? (size_t)std::min<uint64_t>((o.size - 50) / f.packetSize, 1u << 20) : 0;
        f.packetCount = f.packets < b.size() ? std::min(stated, (b.size() - f.packets) / f.packetSize) : 0;
        break;
    }
    return f;
}

size_t AsfChild(const Bytes& b, const AsfFile& f, AsfId id)
{
    for (const AsfObject& o : f.children)
        if (IsAsf(b, o.at, id)) return o.at;
    return kNone;
}

size_t AsfTop(const Bytes& b, const AsfFile& f, AsfId id)
{
    for (const AsfObject& o : f.top)
        if (IsAsf(b, o.at, id)) return o.at;
    return kNone;
}

// A field of a packet: where it is and its width in bytes (0: absent).
struct AsfField {
    size_t at = kNone;
    int width = 0;
};

struct AsfPayloadFields {
    AsfField stream, objectNumber, offset, replicatedLength, length;
    size_t replicated = kNone;
    uint32_t replicatedBytes = 0;
};

struct AsfPacketFields {
    size_t first;
    AsfField length, padding, payloadFlags;
    size_t flags = kNone, sendTime = kNone;
    std::vector<AsfPayloadFields> payloads;
};

// The fields of the packet at `at` as far as they parse.
AsfPacketFields AsfPacket(const Bytes& b, size_t at, size_t size)
{
    AsfPacketFields p;
    p.first = at;
    size_t end = std::min(b.size(), at + size), pos = at;
    auto field = [&](uint32_t type, AsfField* out) {
        static const int kWidths[4] = {0, 1, 2, 4};
        out->width = kWidths[type & 3];
        out->at = pos;
        pos += out->width;
        return pos <= end;
    };
    if (pos < end && (b[pos] & 0x80)) pos += 1 + (b[pos] & 0x0F);
    if (pos + 2 > end) return p;
    p.flags = pos;
    uint32_t types = b[pos], properties = b[pos + 1];
    pos += 2;
    AsfField sequence;
    if (!field(types >> 5, &p.length) || !field(types >> 1, &sequence) || !field(types >> 3, &p.padding)) return p;
    p.sendTime = pos;
    pos += 6;
    size_t count = 1;
    if (types & 1) {
        if (pos >= end) return p;
        p.payloadFlags = {pos, 1};
        count = b[pos] & 0x3F;
        ++pos;
    }
    for (size_t i = 0; i < count && pos < end; ++i) {
        AsfPayloadFields f;
        AsfField stream{pos++, 1};
        f.stream = stream;
        if (!field(properties >> 4, &f.objectNumber) || !field(properties >> 2, &f.offset) ||
            !field(properties, &f.replicatedLength))
            break;
        f.replicatedBytes = GetLE(b, f.replicatedLength.at, f.replicatedLength.width);
        f.replicated = pos;
        pos += f.replicatedBytes;
        uint32_t length = (uint32_t)(end > pos ? end - pos : 0);
        if (types & 1) {
            if (!field(b[p.payloadFlags.at] >> 6, &f.length)) break;
            length = GetLE(b, f.length.at, f.length.width);
        }
        p.payloads.push_back(f);
        pos += length;
    }
    return p;
}

// The packets a mutation touches: the first, one, or every one.
std::vector<size_t> PickPackets(const AsfFile& f, Rng& r)
{
    std::vector<size_t> out;
    if (f.packetCount == 0) return out;
    switch (r.Below(3)) {
    case 0: out.push_back(f.packets); break;
    case 1: out.push_back(f.packets + r.Below((uint32_t)f.packetCount) * f.packetSize); break;
    default:
        for (size_t i = 0; i < f.packetCount; ++i) out.push_back(f.packets + i * f.packetSize);
        break;
    }
    return out;
}

void PutField(Bytes& b, const AsfField& f, uint32_t v)
{
    if (f.at != kNone && f.width > 0) PutLE(b, f.at, v, f.width);
}

void AsfGuid(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    *log += "asf-guid ";
    std::vector<AsfObject> all = f.top;
    all.insert(all.end(), f.children.begin(), f.children.end());
    if (all.empty()) return;
    size_t at = all[r.Below((uint32_t)all.size())].at;
    if (r.OneIn(8)) {
        b[at + r.Below(16)] ^= (uint8_t)(1 + r.Below(255));
    } else {
        memcpy(&b[at], kAsfIds[r.Below(kIdCount)], 16);
    }
}

void AsfSize(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    *log += "asf-size ";
    std::vector<AsfObject> all = f.top;
    all.insert(all.end(), f.children.begin(), f.children.end());
    if (all.empty()) return;
    const AsfObject& o = all[r.Below((uint32_t)all.size())];
    uint64_t v = r.OneIn(2) ? o.size + r.Below(65) - 32 : Interesting(r);
    if (r.OneIn(8)) v |= (uint64_t)Interesting(r) << 32;
    PutLE64(b, o.at + 16, v);
}

// Appends an index object with counts that may or may not fit it.
void AsfAppendIndex(Bytes& b, const AsfFile& f, Rng& r)
{
    bool simple = r.OneIn(2);
    Bytes o(kAsfIds[simple ? kIdSimpleIndex : kIdIndex], kAsfIds[simple ? kIdSimpleIndex : kIdIndex] + 16);
    o.resize(24);
    uint32_t entries = r.OneIn(2) ? r.Below(8) : Interesting(r);
    size_t stored = std::min<uint32_t>(entries, 64);
    if (simple) {
        o.resize(56 + 6 * stored);
        PutLE64(o, 40, 10000000);
        PutLE(o, 48, r.Below(4), 4);
        PutLE(o, 52, entries, 4);
        for (size_t i = 0; i < stored; ++i) PutLE(o, 56 + 6 * i, r.Below((uint32_t)f.packetCount + 2), 4);
    } else {
        uint32_t specifiers = r.OneIn(4) ? Interesting(r) & 0xFFFF : 1 + r.Below(2);
        size_t shown = std::min<uint32_t>(specifiers, 4);
        o.resize(34 + 4 * shown + 4 + 8 * shown + 4 * shown * stored);
        PutLE(o, 24, 1000, 4);
        PutLE(o, 28, specifiers, 2);
        PutLE(o, 30, r.OneIn(3) ? Interesting(r) : 1, 4);
        for (size_t i = 0; i < shown; ++i) PutLE(o, 34 + 4 * i, 1 + r.Below(2) + (r.Below(3) << 16), 4);
        PutLE(o, 34 + 4 * shown, entries, 4);
    }
    PutLE64(o, 16, r.OneIn(4) ? Interesting(r) : o.size());
    b.insert(b.end(), o.begin(), o.end());
}

void AsfIndex(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    *log += "asf-index ";
    size_t simple = AsfTop(b, f, kIdSimpleIndex), index = AsfTop(b, f, kIdIndex);
    if ((simple == kNone && index == kNone) || r.OneIn(4)) {
        AsfAppendIndex(b, f, r);
        return;
    }
    if (simple != kNone && (index == kNone || r.OneIn(2))) {
        static const size_t offsets[] = {40, 48, 52, 56, 60};
        size_t at = simple + offsets[r.Below(5)];
        PutLE(b, at, Tweak(r, GetLE(b, at, 4)), 4);
    } else {
        static const size_t offsets[] = {24, 28, 30, 34, 38, 46};
        size_t at = index + offsets[r.Below(6)];
        PutLE(b, at, Tweak(r, GetLE(b, at, 4)), at == index + 28 ? 2 : 4);
    }
}

void AsfContent(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    size_t at = AsfChild(b, f, kIdContent);
    if (at == kNone) return;
    *log += "asf-content ";
    size_t field = at + 24 + 2 * r.Below(5);
    uint32_t old = GetLE(b, field, 2);
    PutLE(b, field, r.OneIn(3) ? old | 1 : Tweak(r, old), 2);
}

void AsfExtendedContent(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    size_t at = AsfChild(b, f, kIdExtContent);
    if (at == kNone) return;
    *log += "asf-extended ";
    size_t count = GetLE(b, at + 24, 2);
    if (count == 0 || r.OneIn(5)) {
        PutLE(b, at + 24, Tweak(r, (uint32_t)count), 2);
        return;
    }
    // Walk to one descriptor: name length, name, value type, value length, value.
    size_t pick = r.Below((uint32_t)count), pos = at + 26;
    for (size_t i = 0; i < pick && pos + 6 <= b.size(); ++i) {
        size_t name = GetLE(b, pos, 2);
        pos += 2 + name + 4 + GetLE(b, pos + 2 + name + 2, 2);
    }
    if (pos + 2 > b.size()) return;
    size_t name = GetLE(b, pos, 2);
    switch (r.Below(3)) {
    case 0: PutLE(b, pos, r.OneIn(2) ? name | 1 : Tweak(r, (uint32_t)name), 2); break;
    case 1: PutLE(b, pos + 2 + name, r.OneIn(2) ? r.Below(8) : Interesting(r), 2); break;
    default: PutLE(b, pos + 4 + name, Tweak(r, GetLE(b, pos + 4 + name, 2)), 2); break;
    }
}

// An object that can sit in the header extension, with counts and lengths
// that may or may not fit it.
Bytes AsfExtensionObject(Rng& r)
{
    static const AsfId kinds[] = {kIdMetadata, kIdMetadataLibrary, kIdExtStreamProps, kIdLanguages, kIdPadding,
                                  kIdMutualExclusion, kIdBitrate};
    AsfId id = kinds[r.Below(7)];
    Bytes o(kAsfIds[id], kAsfIds[id] + 16);
    o.resize(24);
    auto u16 = [&](uint32_t v) { o.push_back((uint8_t)v), o.push_back((uint8_t)(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    auto count = [&](uint32_t fits) { return r.OneIn(3) ? Interesting(r) : fits; };
    switch (id) {
    case kIdMetadata:
    case kIdMetadataLibrary: {
        uint32_t records = 1 + r.Below(3);
        u16(count(records));
        for (uint32_t i = 0; i < records; ++i) {
            uint32_t nameBytes = 2 * (1 + r.Below(6)), dataBytes = r.Below(12);
            u16(r.OneIn(2) ? 0 : Interesting(r));  // language index or reserved
            u16(r.Below(3));                       // stream number
            u16(count(nameBytes));
            u16(r.OneIn(2) ? r.Below(7) : Interesting(r));  // data type
            u32(count(dataBytes));
            for (uint32_t k = 0; k < nameBytes + dataBytes; ++k) o.push_back((uint8_t)(k < nameBytes ? 'a' + k : r.Next()));
        }
        break;
    }
    case kIdExtStreamProps: {
        for (int i = 0; i < 6; ++i) u32(r.OneIn(2) ? r.Below(100000) : Interesting(r));  // times, rates, sizes
        u32(r.Below(4));                                 // flags
        u16(1 + r.Below(2));                             // stream number
        u16(0);                                          // language index
        for (int i = 0; i < 2; ++i) u32(r.Below(1000));  // average time per frame
        uint32_t names = r.Below(2), systems = r.Below(3);
        u16(count(names));
        u16(count(systems));
        for (uint32_t i = 0; i < names; ++i) u16(0), u16(count(4)), u32(0x00620061);
        for (uint32_t i = 0; i < systems; ++i) {
            const uint8_t* system = kAsfIds[r.Below(kIdCount)];
            o.insert(o.end(), system, system + 16);
            u16(r.OneIn(2) ? 0xFFFF : r.Below(16));
            u32(count(0));
        }
        break;
    }
    case kIdLanguages: {
        uint32_t languages = 1 + r.Below(2);
        u16(count(languages));
        for (uint32_t i = 0; i < languages; ++i) {
            uint32_t bytes = r.OneIn(2) ? 12 : (uint32_t)r.Below(256);
            o.push_back((uint8_t)bytes);
            for (int k = 0; k < 12; ++k) o.push_back((uint8_t)(k & 1 ? 0 : 'e'));
        }
        break;
    }
    default:
        for (uint32_t i = 0, n = r.Below(40); i < n; ++i) o.push_back((uint8_t)(r.OneIn(2) ? 0 : r.Next()));
        break;
    }
    PutLE64(o, 16, r.OneIn(6) ? Interesting(r) : o.size());
    return o;
}

void AsfHeaderExtension(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    size_t at = AsfChild(b, f, kIdHeaderExt);
    if (at == kNone || at + 46 > b.size()) return;
    *log += "asf-hext ";
    if (r.OneIn(4)) {
        PutLE(b, at + 42, Tweak(r, GetLE(b, at + 42, 4)), 4);
        return;
    }
    // A new object at the start of the extension's data; the sizes of the
    // extension and of the header grow with it, now and then one of them not.
    Bytes o = AsfExtensionObject(r);
    b.insert(b.begin() + at + 46, o.begin(), o.end());
    if (!r.OneIn(8)) PutLE(b, at + 42, GetLE(b, at + 42, 4) + (uint32_t)o.size(), 4);
    if (!r.OneIn(8)) PutLE64(b, at + 16, GetLE64(b, at + 16) + o.size());
    if (!r.OneIn(8)) PutLE64(b, 16, GetLE64(b, 16) + o.size());
}

void AsfFileProperties(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    size_t at = AsfChild(b, f, kIdFileProps);
    if (at == kNone || at + 104 > b.size()) return;
    *log += "asf-fileprops ";
    size_t body = at + 24;
    switch (r.Below(9)) {
    case 0: PutLE64(b, body + 32, Tweak(r, GetLE(b, body + 32, 4))); break;  // packets
    case 1: PutLE64(b, body + 40, r.OneIn(2) ? Tweak(r, GetLE(b, body + 40, 4)) : (uint64_t)Interesting(r) << 16); break;
    case 2: PutLE64(b, body + 48, Tweak(r, GetLE(b, body + 48, 4))); break;  // send duration
    case 3: PutLE64(b, body + 56, r.OneIn(2) ? r.Below(20000) : Interesting(r)); break;  // preroll
    case 4: PutLE(b, body + 64, r.OneIn(2) ? GetLE(b, body + 64, 4) ^ (1 + r.Below(3)) : Interesting(r), 4); break;
    case 5:
    case 6: {
        // Minimum and maximum packet size, alike or not.
        uint32_t v = Tweak(r, GetLE(b, body + 68, 4));
        PutLE(b, body + 68, v, 4);
        PutLE(b, body + 72, r.OneIn(3) ? Tweak(r, v) : v, 4);
        break;
    }
    case 7: PutLE(b, body + 76, Interesting(r), 4); break;  // bit rate
    default: b[body + 64] |= 1; break;                       // broadcast
    }
}

void AsfStreamProperties(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    size_t at = AsfChild(b, f, kIdStreamProps);
    if (at == kNone || at + 102 > b.size()) return;
    *log += "asf-stream ";
    size_t body = at + 24;
    // Type-specific data length, error correction length, flags (stream
    // number), then the wave format: tag, channels, rate, byte rate, block
    // align, bits, extra size, and the codec's own data.
    static const size_t offsets[] = {40, 44, 48, 54, 56, 58, 62, 66, 68, 70, 72, 74};
    static const int widths[] = {4, 4, 2, 2, 2, 4, 4, 2, 2, 2, 2, 4};
    int i = r.Below(13);
    if (i == 12) {
        memcpy(&b[body], kAsfIds[r.Below(kIdCount)], 16);  // stream type
        return;
    }
    PutLE(b, body + offsets[i], Tweak(r, GetLE(b, body + offsets[i], widths[i])), widths[i]);
}

void AsfPacketField(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    int what = r.Below(6);
    static const char* names[] = {"ec", "flags", "properties", "length", "padding", "time"};
    *log += std::string("asf-packet-") + names[what] + " ";
    uint32_t v = (uint32_t)r.Next();
    for (size_t at : PickPackets(f, r)) {
        AsfPacketFields p = AsfPacket(b, at, f.packetSize);
        switch (what) {
        case 0: b[at] = (uint8_t)(r.OneIn(2) ? 0x80 | (v & 0x6F) : v); break;
        case 1: if (p.flags != kNone) b[p.flags] = (uint8_t)(r.OneIn(2) ? b[p.flags] ^ (1u << (v & 7)) : v); break;
        case 2: if (p.flags != kNone) b[p.flags + 1] = (uint8_t)(r.OneIn(2) ? b[p.flags + 1] ^ (1u << (v & 7)) : v); break;
        case 3: PutField(b, p.length, Tweak(r, GetLE(b, p.length.at, p.length.width))); break;
        case 4: PutField(b, p.padding, Tweak(r, GetLE(b, p.padding.at, p.padding.width))); break;
        default: {  // send time (32 bits) or duration (16 bits)
            int width = r.OneIn(2) ? 4 : 2;
            if (p.sendTime != kNone) PutLE(b, p.sendTime + (width == 4 ? 0 : 4), Interesting(r), width);
            break;
        }
        }
    }
}

void AsfPayloadField(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    int what = r.Below(8);
    static const char* names[] = {"count", "stream", "object", "offset", "replicated", "objectsize", "time", "length"};
    *log += std::string("asf-payload-") + names[what] + " ";
    for (size_t at : PickPackets(f, r)) {
        AsfPacketFields p = AsfPacket(b, at, f.packetSize);
        if (what == 0) {
            if (p.payloadFlags.at != kNone) b[p.payloadFlags.at] = (uint8_t)Tweak(r, b[p.payloadFlags.at]);
            continue;
        }
        if (p.payloads.empty()) continue;
        const AsfPayloadFields& q = p.payloads[r.OneIn(2) ? 0 : r.Below((uint32_t)p.payloads.size())];
        bool replicated = q.replicatedBytes >= 8 && q.replicated + 8 <= b.size();
        switch (what) {
        case 1: PutField(b, q.stream, r.OneIn(2) ? b[q.stream.at] ^ 0x80 : r.Below(128)); break;
        case 2: PutField(b, q.objectNumber, Tweak(r, GetLE(b, q.objectNumber.at, q.objectNumber.width))); break;
        case 3: PutField(b, q.offset, Tweak(r, GetLE(b, q.offset.at, q.offset.width))); break;
        case 4: PutField(b, q.replicatedLength, r.OneIn(2) ? r.Below(10) : Interesting(r)); break;
        case 5: if (replicated) PutLE(b, q.replicated, r.OneIn(3) ? GetLE(b, q.replicated, 4) ^ (1u << r.Below(32)) : Interesting(r), 4); break;
        case 6: if (replicated) PutLE(b, q.replicated + 4, r.OneIn(3) ? GetLE(b, q.replicated + 4, 4) ^ (1u << r.Below(32)) : Interesting(r), 4); break;
        default: PutField(b, q.length, Tweak(r, GetLE(b, q.length.at, q.length.width))); break;
        }
    }
}

// Cuts the file at an object's boundary (give or take a few bytes) or inside a packet.
void AsfTruncate(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    *log += "asf-truncate ";
    std::vector<size_t> cuts;
    for (const AsfObject& o : f.top) cuts.push_back(o.at), cuts.push_back(o.at + 24);
    for (const AsfObject& o : f.children) cuts.push_back(o.at);
    for (size_t i = 0; i < f.packetCount; ++i) cuts.push_back(f.packets + i * f.packetSize + r.Below((uint32_t)f.packetSize));
    if (cuts.empty()) return;
    size_t keep = cuts[r.Below((uint32_t)cuts.size())] + r.Below(9) - 4;
    if (keep < b.size()) b.resize(keep);
}

// A second header (the file's own, or one changed on the way) after the data
// object, and now and then a second data object.
void AsfSecondHeader(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    if (f.top.empty() || f.data == kNone) return;
    *log += "asf-second-header ";
    size_t header = (size_t)std::min<uint64_t>(f.top[0].size, b.size());
    size_t dataEnd = (size_t)std::min<uint64_t>(f.data + GetLE64(b, f.data + 16), b.size());
    Bytes copy(b.begin(), b.begin() + header);
    if (r.OneIn(3)) copy.insert(copy.end(), b.begin() + f.data, b.begin() + dataEnd);
    if (r.OneIn(3) && copy.size() > 30) copy[30 + r.Below((uint32_t)copy.size() - 30)] ^= 0xFF;
    b.insert(b.begin() + (r.OneIn(2) ? dataEnd : b.size()), copy.begin(), copy.end());
}

// A packet copied over another one or put in beside it.
void AsfPacketSplice(Bytes& b, const AsfFile& f, Rng& r, std::string* log)
{
    if (f.packetCount == 0) return;
    *log += "asf-packet-splice ";
    size_t from = f.packets + r.Below((uint32_t)f.packetCount) * f.packetSize;
    size_t to = f.packets + r.Below((uint32_t)f.packetCount) * f.packetSize;
    Bytes packet(b.begin() + from, b.begin() + from + f.packetSize);
    if (r.OneIn(2)) std::copy(packet.begin(), packet.end(), b.begin() + to);
    else b.insert(b.begin() + to, packet.begin(), packet.end());
}

// One to three whole packets past the counted data, where the reader may
// read them: a data object counting one packet more than it holds (with the
// file properties' count as well, or not), a broadcast file counting 0 or its
// packets, or an exact count. Each packet is one of the file's own with a
// media object of 2 GiB, or another bad value, in a payload, then any value
// of its first byte and of its length type byte.
void AsfPastData(Bytes& b, Rng& r, std::string* log)
{
    AsfFile f = AsfLayout(b);
    size_t props = AsfChild(b, f, kIdFileProps);
    if (f.data == kNone || f.packetCount == 0 || props == kNone || props + 104 > b.size()) return;
    static const char* const kinds[] = {"count-plus-1", "counts-plus-1", "broadcast-count-0", "broadcast-count-exact",
                                        "count-exact"};
    const int kind = (int)r.Below(5);
    *log += std::string("asf-past-data-") + kinds[kind] + " ";
    const size_t end = f.packets + f.packetCount * f.packetSize;
    if (kind <= 1) PutLE64(b, f.data + 40, f.packetCount + 1);
    if (kind == 1) PutLE64(b, props + 24 + 32, f.packetCount + 1);
    if (kind == 2 || kind == 3) {
        b[props + 24 + 64] |= 1;
        PutLE64(b, f.data + 40, kind == 2 ? 0 : f.packetCount);
    }
    for (uint32_t i = 0, n = 1 + (r.OneIn(4) ? r.Below(3) : 0); i < n; ++i) {
        size_t from = f.packets + r.Below((uint32_t)f.packetCount) * f.packetSize;
        Bytes packet(b.begin() + from, b.begin() + from + f.packetSize);
        AsfPacketFields p = AsfPacket(packet, 0, f.packetSize);
        if (!p.payloads.empty()) {
            const AsfPayloadFields& q = p.payloads[r.Below((uint32_t)p.payloads.size())];
            if (q.replicatedBytes >= 8 && q.replicated + 8 <= packet.size())
                PutLE(packet, q.replicated, r.OneIn(2) ? 0x80000000u : Interesting(r), 4);
            if (r.OneIn(4)) PutField(packet, q.length, Interesting(r));
        }
        if (!r.OneIn(4)) packet[0] = (uint8_t)r.Below(256);
        if (p.flags != kNone && !r.OneIn(4)) packet[p.flags] = (uint8_t)r.Below(256);
        b.insert(b.begin() + end + i * f.packetSize, packet.begin(), packet.end());
    }
}

void Asf(Bytes& b, Rng& r, std::string* log)
{
    AsfFile f = AsfLayout(b);
    switch (r.Below(15)) {
    case 0: AsfGuid(b, f, r, log); break;
    case 1: AsfSize(b, f, r, log); break;
    case 2:
        *log += "asf-header-count ";
        PutLE(b, 24, Tweak(r, GetLE(b, 24, 4)), 4);
        break;
    case 3: AsfIndex(b, f, r, log); break;
    case 4: AsfContent(b, f, r, log); break;
    case 5: AsfExtendedContent(b, f, r, log); break;
    case 6: AsfHeaderExtension(b, f, r, log); break;
    case 7: AsfFileProperties(b, f, r, log); break;
    case 8: AsfStreamProperties(b, f, r, log); break;
    case 9:
    case 10: AsfPacketField(b, f, r, log); break;
    case 11:
    case 12: AsfPayloadField(b, f, r, log); break;
    case 13: r.OneIn(2) ? AsfTruncate(b, f, r, log) : AsfPacketSplice(b, f, r, log); break;
    default: AsfSecondHeader(b, f, r, log); break;
    }
}

}  // namespace

Bytes Mutate(const Bytes& seed, Format format, Rng& rng, std::string* log)
{
    Bytes b = seed;
    if (format == Format::WmaPastData) {
        AsfPastData(b, rng, log);
        return b;
    }
    int count = 1 + rng.Below(3);
    for (int i = 0; i < count; ++i) {
        if (rng.OneIn(3)) {
            Generic(b, rng, log);
        } else if (format == Format::Wav) {
            Wav(b, rng, log);
        } else if (format == Format::Wma) {
            Asf(b, rng, log);
        } else {
            switch (rng.Below(5)) {
            case 0: MpegFrameHeader(b, rng, log); break;
            case 1: MpegFreeFormat(b, rng, log); break;
            case 2: MpegMainData(b, rng, log); break;
            case 3: MpegXing(b, rng, log); break;
            default: Id3Tag(b, rng, log); break;
            }
        }
    }
    if (b == seed) Generic(b, rng, log);  // the chosen field was not there
    return b;
}

}  // namespace vqfuzz

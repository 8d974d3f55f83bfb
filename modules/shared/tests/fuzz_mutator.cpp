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

}  // namespace

Bytes Mutate(const Bytes& seed, Format format, Rng& rng, std::string* log)
{
    Bytes b = seed;
    int count = 1 + rng.Below(3);
    for (int i = 0; i < count; ++i) {
        if (rng.OneIn(3)) {
            Generic(b, rng, log);
        } else if (format == Format::Wav) {
            Wav(b, rng, log);
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

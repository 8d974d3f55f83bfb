// The frames of an ID3v2.4 tag that the module reads. The tag library reads
// versions 2.2 and 2.3 only: a 2.4 tag differs in its frame sizes (synchsafe),
// its frame flags (per-frame unsynchronisation, data length indicator), an
// optional footer, its text encodings (UTF-16BE and UTF-8) and its
// recording time frame.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "in_strata.h"
#include "tag_text.h"
#include "tag_window.h"

namespace {

const uint32_t kMaxFrameData = 1u << 20;  // larger frames are no text the module reads
// What a field can use of its frame: a text field keeps at most 254 bytes,
// so its encoding byte, two byte-order marks and four bytes a character for
// 256 characters; a comment also has a language and a description before
// its text (a description longer than this loses the comment); a play counter
// of more than 16 bytes is no count.
const size_t kTextNeed = 1 + 4 + 4 * 256;
const size_t kCommentNeed = 4 + 64 * 1024;
const size_t kCounterNeed = 16;
// All compressed frames of one tag together expand to at most this much.
const size_t kTagInflateBudget = 1u << 20;

uint32_t Synchsafe(const unsigned char* b) { return (uint32_t)b[0] << 21 | b[1] << 14 | b[2] << 7 | b[3]; }
uint32_t Plain(const unsigned char* b) { return (uint32_t)b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]; }

bool FrameId(const unsigned char* id)
{
    for (int i = 0; i < 4; ++i)
        if (!((id[i] >= 'A' && id[i] <= 'Z') || (id[i] >= '0' && id[i] <= '9'))) return false;
    return true;
}

// Undoes unsynchronisation in place (0xFF 0x00 stands for 0xFF); returns the new length.
size_t Resync(unsigned char* p, size_t n)
{
    size_t out = 0;
    for (size_t i = 0; i < n; ++i) {
        p[out++] = p[i];
        if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0x00) ++i;
    }
    return out;
}


class Frames {
public:
    explicit Frames(TagTexts* out) : out_(out) {}

    // How much of a frame the module can use: 0 for a frame it does not read,
    // or whose field is filled already.
    size_t Need(const char* id) const
    {
        if (strcmp(id, "PCNT") == 0) return out_->hasPlayCount ? 0 : kCounterNeed;
        if (strcmp(id, "COMM") == 0) return out_->comment[0] ? 0 : kCommentNeed;
        if (strcmp(id, "TPE1") == 0 || strcmp(id, "TPE2") == 0 || strcmp(id, "TPE3") == 0 || strcmp(id, "TCOM") == 0)
            return ArtistRank(id) < artistRank_ ? kTextNeed : 0;
        if (strcmp(id, "TYER") == 0) return haveTyer_ ? 0 : kTextNeed;
        if (strcmp(id, "TDRC") == 0) return haveTyer_ || out_->year[0] ? 0 : kTextNeed;
        if (strcmp(id, "TCON") == 0) return out_->genre[0] ? 0 : kTextNeed;
        size_t width;
        char* dst = Field(id, &width);
        return dst && !dst[0] ? kTextNeed : 0;
    }

    // One frame's data (as much as Need tells), its flags already undone.
    void Take(const char* id, const unsigned char* p, size_t n)
    {
        if (!Need(id)) return;
        if (strcmp(id, "PCNT") == 0) {
            if (n >= 4) {
                uint32_t count = 0;
                for (size_t i = 0; i < n; ++i) count = count << 8 | p[i];
                out_->playCount = count;
                out_->hasPlayCount = true;
            }
            return;
        }
        if (n < 1) return;
        int enc = p[0];
        if (strcmp(id, "COMM") == 0) {
            if (n < 4) return;
            size_t desc = TagStringBytes(p + 4, n - 4, enc);  // after the language
            TagTextToAnsi(p + 4 + desc, n - 4 - desc, enc, out_->comment, sizeof out_->comment);
            return;
        }
        char text[128];
        if (id[0] == 'T' && (id[1] == 'P' || strcmp(id, "TCOM") == 0)) {
            // The first of these present gives the artist, as the tag library picks it.
            if (!TagTextToAnsi(p + 1, n - 1, enc, text, sizeof text)) return;
            artistRank_ = ArtistRank(id);
            memcpy(out_->artist, text, sizeof text);
            return;
        }
        if (strcmp(id, "TYER") == 0 || strcmp(id, "TDRC") == 0) {
            // The first year frame with a text counts; a recording time
            // "yyyy-MM-ddTHH:mm:ss" gives its year.
            char year[sizeof out_->year];
            TagTextToAnsi(p + 1, n - 1, enc, year, sizeof year);
            if (id[1] == 'D') year[strcspn(year, "-T")] = '\0';
            if (!year[0]) return;
            memcpy(out_->year, year, sizeof year);
            haveTyer_ = haveTyer_ || id[1] == 'Y';
            return;
        }
        if (strcmp(id, "TCON") == 0) {
            // Version 2.4 refers to the numbered genres without parentheses.
            if (!TagTextToAnsi(p + 1, n - 1, enc, text, sizeof text)) return;
            bool number = text[0] && strspn(text, "0123456789") == strlen(text);
            if (number || strcmp(text, "RX") == 0 || strcmp(text, "CR") == 0)
                snprintf(out_->genre, sizeof out_->genre, "(%.5s)", text);
            else
                memcpy(out_->genre, text, sizeof text);
            return;
        }
        // The first frame of a kind counts, as the tag library finds it.
        size_t width;
        if (char* dst = Field(id, &width)) TagTextToAnsi(p + 1, n - 1, enc, dst, width);
    }

private:
    static int ArtistRank(const char* id) { return id[1] == 'C' ? 4 : id[3] - '0'; }

    char* Field(const char* id, size_t* width) const
    {
        if (strcmp(id, "TALB") == 0) return *width = sizeof out_->album, out_->album;
        if (strcmp(id, "TIT2") == 0) return *width = sizeof out_->title, out_->title;
        if (strcmp(id, "TRCK") == 0) return *width = sizeof out_->track, out_->track;
        if (strcmp(id, "TBPM") == 0) return *width = sizeof out_->bpm, out_->bpm;
        return nullptr;
    }

    TagTexts* out_;
    int artistRank_ = 5;
    bool haveTyer_ = false;
};

// Whether a frame that ends at next ends where it should: on the next
// frame's ID, on padding (zeros to the end, or for a frame header's length)
// or on the tag's end.
bool EndsOnAFrame(TagWindow& in, int64_t next, int64_t end)
{
    if (next == end) return true;
    if (next > end) return false;
    unsigned char b[10];
    size_t k = end - next < 10 ? (size_t)(end - next) : 10;
    if (!in.Read(next, b, k)) return false;
    if (k >= 4 && FrameId(b)) return true;
    for (size_t i = 0; i < k; ++i)
        if (b[i]) return false;
    return true;
}

// A frame's size. Sizes are synchsafe, but some writers put a plain number
// there: the synchsafe size counts when the frame then ends where it should,
// else the plain size when that one does.
uint32_t FrameSize(TagWindow& in, const unsigned char* fh, int64_t pos, int64_t end)
{
    uint32_t safe = Synchsafe(fh + 4), plain = Plain(fh + 4);
    bool safeValid = ((fh[4] | fh[5] | fh[6] | fh[7]) & 0x80) == 0;
    if (safeValid && (safe == plain || EndsOnAFrame(in, pos + 10 + safe, end))) return safe;
    if (EndsOnAFrame(in, pos + 10 + plain, end) || !safeValid) return plain;
    return safe;
}

// Expands zlib data into out (room bytes at most); the bytes written, or 0.
size_t InflateSome(const unsigned char* p, size_t n, unsigned char* out, size_t room)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return 0;
    z.next_in = const_cast<Bytef*>(p);
    z.avail_in = (uInt)n;
    z.next_out = out;
    z.avail_out = (uInt)room;
    int rc = inflate(&z, Z_SYNC_FLUSH);
    size_t made = room - z.avail_out;
    inflateEnd(&z);
    return rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR ? made : 0;
}

}  // namespace

bool ReadId3v24Texts(const char* path, TagTexts* out)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool found = ReadId3v24Texts(file, out);
    CloseHandle(file);
    return found;
}

bool ReadId3v24Texts(HANDLE file, TagTexts* out)
{
    unsigned char h[10];
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || !ReadAt(file, 0, h, 10) || memcmp(h, "ID3", 3) != 0 || h[3] != 4 ||
        (h[6] | h[7] | h[8] | h[9]) & 0x80)
        return false;
    Frames frames(out);
    bool tagUnsync = (h[5] & 0x80) != 0;
    int64_t end = 10 + (int64_t)Synchsafe(h + 6);
    if (end > size.QuadPart) end = size.QuadPart;
    TagWindow in(ReadAtHandle, file, end);
    int64_t pos = 10;
    unsigned char fh[10];
    if ((h[5] & 0x40) && in.Read(pos, fh, 4)) pos += Synchsafe(fh);  // the extended header counts itself
    unsigned char *data = nullptr, *plain = nullptr;
    size_t dataRoom = 0, budget = kTagInflateBudget;
    HANDLE heap = GetProcessHeap();
    while (pos + 10 <= end && in.Read(pos, fh, 10) && FrameId(fh)) {
        uint32_t n = FrameSize(in, fh, pos, end);
        int64_t next = pos + 10 + n;
        if (next > end) break;
        char id[5] = {(char)fh[0], (char)fh[1], (char)fh[2], (char)fh[3], '\0'};
        unsigned char flags = fh[9];
        size_t need = frames.Need(id);
        bool packed = (flags & 0x08) != 0, unsync = (flags & 0x02) || tagUnsync;
        if (need && n <= kMaxFrameData && !(flags & 0x04) && !(packed && !budget)) {  // not encrypted
            // Before the data: a group byte, then the data length (synchsafe).
            size_t head = ((flags & 0x40) ? 1 : 0) + ((flags & 0x01) ? 4 : 0);
            // Compressed data is read whole; other data as far as the field
            // can use it (twice that where unsynchronised).
            size_t want = packed ? n : head + need * (unsync ? 2 : 1);
            if (want > n) want = n;
            if (want + 1 > dataRoom) {
                void* grown = data ? HeapReAlloc(heap, 0, data, want + 1) : HeapAlloc(heap, 0, want + 1);
                if (!grown) break;
                data = static_cast<unsigned char*>(grown);
                dataRoom = want + 1;
            }
            if (!in.Read(pos + 10, data, want)) break;
            size_t skip = (flags & 0x40) ? 1 : 0;
            uint32_t length = 0;
            if ((flags & 0x01) && skip + 4 <= want) {
                length = Synchsafe(data + skip);
                skip += 4;
            }
            size_t len = want >= skip ? want - skip : 0;
            unsigned char* p = data + skip;
            if (unsync) len = Resync(p, len);
            if (packed) {
                // The data length tells what it expands to: no more than the
                // field can use, nor than is left of the tag's budget.
                size_t room = length < need ? length : need;
                if (room > budget) room = budget;
                if (!plain) plain = static_cast<unsigned char*>(HeapAlloc(heap, 0, kCommentNeed));
                if (!plain) break;
                size_t made = room ? InflateSome(p, len, plain, room) : 0;
                budget -= made;
                out->inflatedBytes += made;
                if (made) frames.Take(id, plain, made);
            } else {
                frames.Take(id, p, len < need ? len : need);
            }
        }
        pos = next;
    }
    if (data) HeapFree(heap, 0, data);
    if (plain) HeapFree(heap, 0, plain);
    return true;
}

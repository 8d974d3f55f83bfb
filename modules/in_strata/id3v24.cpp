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

namespace {

const uint32_t kMaxFrameData = 1u << 20;  // larger frames are no text the module reads

uint32_t Synchsafe(const unsigned char* b) { return (uint32_t)b[0] << 21 | b[1] << 14 | b[2] << 7 | b[3]; }

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

    // One frame's data, its flags already undone.
    void Take(const char* id, const unsigned char* p, size_t n)
    {
        if (strcmp(id, "PCNT") == 0) {
            if (n >= 4 && !out_->hasPlayCount) {
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
            if (n < 4 || out_->comment[0]) return;
            size_t desc = TagStringBytes(p + 4, n - 4, enc);  // after the language
            TagTextToAnsi(p + 4 + desc, n - 4 - desc, enc, out_->comment, sizeof out_->comment);
            return;
        }
        char* dst = nullptr;
        size_t width = 0;
        char text[128];
        if (strcmp(id, "TPE1") == 0 || strcmp(id, "TPE2") == 0 || strcmp(id, "TPE3") == 0 || strcmp(id, "TCOM") == 0) {
            // The first of these present gives the artist, as the tag library picks it.
            int rank = id[1] == 'C' ? 4 : id[3] - '0';
            if (rank >= artistRank_) return;
            if (!TagTextToAnsi(p + 1, n - 1, enc, text, sizeof text)) return;
            artistRank_ = rank;
            memcpy(out_->artist, text, sizeof text);
            return;
        }
        if (strcmp(id, "TALB") == 0) dst = out_->album, width = sizeof out_->album;
        else if (strcmp(id, "TIT2") == 0) dst = out_->title, width = sizeof out_->title;
        else if (strcmp(id, "TRCK") == 0) dst = out_->track, width = sizeof out_->track;
        else if (strcmp(id, "TBPM") == 0) dst = out_->bpm, width = sizeof out_->bpm;
        else if (strcmp(id, "TYER") == 0 && !haveTyer_) dst = out_->year, width = sizeof out_->year, haveTyer_ = true;
        if (dst) {
            // The first frame of a kind counts, as the tag library finds it.
            if (!dst[0] || dst == out_->year) TagTextToAnsi(p + 1, n - 1, enc, dst, width);
            return;
        }
        if (strcmp(id, "TDRC") == 0 && !haveTyer_ && !out_->year[0]) {
            // A recording time "yyyy-MM-ddTHH:mm:ss": its year.
            TagTextToAnsi(p + 1, n - 1, enc, out_->year, sizeof out_->year);
            out_->year[strcspn(out_->year, "-T")] = '\0';
        } else if (strcmp(id, "TCON") == 0) {
            // Version 2.4 refers to the numbered genres without parentheses.
            if (!TagTextToAnsi(p + 1, n - 1, enc, text, sizeof text)) return;
            bool number = text[0] && strspn(text, "0123456789") == strlen(text);
            if (out_->genre[0]) return;
            if (number || strcmp(text, "RX") == 0 || strcmp(text, "CR") == 0)
                snprintf(out_->genre, sizeof out_->genre, "(%.5s)", text);
            else
                memcpy(out_->genre, text, sizeof text);
        }
    }

    static bool Wanted(const char* id)
    {
        static const char kIds[] = "TPE1TPE2TPE3TCOMTALBTIT2TYERTDRCCOMMTRCKTCONPCNTTBPM";
        for (const char* k = kIds; *k; k += 4)
            if (memcmp(k, id, 4) == 0) return true;
        return false;
    }

private:
    TagTexts* out_;
    int artistRank_ = 5;
    bool haveTyer_ = false;
};

}  // namespace

bool ReadId3v24Texts(const char* path, TagTexts* out)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    unsigned char h[10];
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || !ReadAt(file, 0, h, 10) || memcmp(h, "ID3", 3) != 0 || h[3] != 4 ||
        (h[6] | h[7] | h[8] | h[9]) & 0x80) {
        CloseHandle(file);
        return false;
    }
    Frames frames(out);
    bool tagUnsync = (h[5] & 0x80) != 0;
    int64_t end = 10 + (int64_t)Synchsafe(h + 6);
    if (end > size.QuadPart) end = size.QuadPart;
    int64_t pos = 10;
    unsigned char fh[10];
    if ((h[5] & 0x40) && ReadAt(file, pos, fh, 4)) pos += Synchsafe(fh);  // the extended header counts itself
    unsigned char* data = nullptr;
    HANDLE heap = GetProcessHeap();
    while (pos + 10 <= end && ReadAt(file, pos, fh, 10) && FrameId(fh)) {
        // Sizes are synchsafe; a writer that put a plain number there is taken at its word.
        uint32_t n = (fh[4] | fh[5] | fh[6] | fh[7]) & 0x80
                         ? (uint32_t)fh[4] << 24 | fh[5] << 16 | fh[6] << 8 | fh[7]
                         : Synchsafe(fh + 4);
        int64_t next = pos + 10 + n;
        if (next > end) break;
        char id[5] = {(char)fh[0], (char)fh[1], (char)fh[2], (char)fh[3], '\0'};
        unsigned char flags = fh[9];
        if (Frames::Wanted(id) && n <= kMaxFrameData && !(flags & 0x04)) {  // not encrypted
            data = static_cast<unsigned char*>(data ? HeapReAlloc(heap, 0, data, n + 1) : HeapAlloc(heap, 0, n + 1));
            if (!data) break;
            if (!ReadAt(file, pos + 10, data, n)) break;
            // Before the data: a group byte, then the data length (synchsafe).
            size_t skip = (flags & 0x40) ? 1 : 0;
            uint32_t length = 0;
            if ((flags & 0x01) && skip + 4 <= n) {
                length = Synchsafe(data + skip);
                skip += 4;
            }
            size_t len = n >= skip ? n - skip : 0;
            unsigned char* p = data + skip;
            if ((flags & 0x02) || tagUnsync) len = Resync(p, len);
            if (flags & 0x08) {  // compressed: the data length tells what it expands to
                uLongf expanded = length;
                unsigned char* plain = length && length <= kMaxFrameData
                                           ? static_cast<unsigned char*>(HeapAlloc(heap, 0, length))
                                           : nullptr;
                if (plain && uncompress(plain, &expanded, p, (uLong)len) == Z_OK) frames.Take(id, plain, expanded);
                if (plain) HeapFree(heap, 0, plain);
            } else {
                frames.Take(id, p, len);
            }
        }
        pos = next;
    }
    if (data) HeapFree(heap, 0, data);
    CloseHandle(file);
    return true;
}

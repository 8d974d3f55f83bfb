// ID3v2 text in its four encodings, turned into the system's ANSI code page
// the way Windows converts Unicode text.
#include <string.h>

#include "tag_text.h"

namespace {

bool Utf8CodePage(UINT codePage) { return codePage == CP_UTF8; }

// Bytes of the character that starts at s[i] in the code page.
size_t CharBytes(const unsigned char* s, size_t i, size_t n, UINT codePage)
{
    size_t step = 1;
    if (Utf8CodePage(codePage)) {
        while (i + step < n && (s[i + step] & 0xC0) == 0x80) ++step;
    } else if (IsDBCSLeadByteEx(codePage, s[i]) && i + 1 < n) {
        step = 2;
    }
    return step;
}

// Copies at most width - 1 bytes of s, never part of a character, and ends
// the copy with a NUL.
void CopyWholeCharacters(char* dst, size_t width, const unsigned char* s, size_t n, UINT codePage)
{
    size_t used = 0;
    while (used < n) {
        size_t step = CharBytes(s, used, n, codePage);
        if (used + step > width - 1) break;
        used += step;
    }
    memcpy(dst, s, used);
    dst[used] = '\0';
}

// Length in 16-bit units of the first UTF-16 string of p (n bytes).
size_t Utf16Units(const unsigned char* p, size_t n)
{
    size_t units = 0;
    while (units * 2 + 1 < n && (p[units * 2] | p[units * 2 + 1]) != 0) ++units;
    return units;
}

}  // namespace

size_t TagStringBytes(const unsigned char* p, size_t n, int encoding)
{
    if (encoding == kTagUtf16 || encoding == kTagUtf16Be) {
        size_t bytes = Utf16Units(p, n) * 2;
        return bytes + 2 <= n ? bytes + 2 : n;
    }
    const void* end = memchr(p, 0, n);
    return end ? (size_t)((const unsigned char*)end - p) + 1 : n;
}

bool TagTextToAnsi(const unsigned char* p, size_t n, int encoding, char* dst, size_t width, UINT codePage)
{
    if (width == 0) return false;
    dst[0] = '\0';
    if (codePage == CP_ACP) codePage = GetACP();
    // Every character gives at least one byte, so no more than width
    // characters are converted: a few bytes for each, and a byte-order mark.
    const size_t chars = width;
    if ((encoding == kTagLatin1 || encoding == kTagUtf8) && n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
        p += 3, n -= 3;  // a UTF-8 byte-order mark
    if (encoding == kTagLatin1) {
        // Single-byte text is kept as it stands, as the tag library gives it.
        if (n > chars + 1) n = chars + 1;
        const void* end = memchr(p, 0, n);
        CopyWholeCharacters(dst, width, p, end ? (size_t)((const unsigned char*)end - p) : n, codePage);
        return true;
    }
    wchar_t* wide = nullptr;
    int units = 0;
    HANDLE heap = GetProcessHeap();
    if (encoding == kTagUtf8) {
        if (n > 4 * chars) n = 4 * chars;
        const void* end = memchr(p, 0, n);
        int bytes = (int)(end ? (const unsigned char*)end - p : (ptrdiff_t)n);
        if (bytes == 0) return true;
        units = MultiByteToWideChar(CP_UTF8, 0, (const char*)p, bytes, nullptr, 0);
        if (units <= 0) return false;
        wide = static_cast<wchar_t*>(HeapAlloc(heap, 0, units * sizeof(wchar_t)));
        if (!wide) return false;
        MultiByteToWideChar(CP_UTF8, 0, (const char*)p, bytes, wide, units);
    } else if (encoding == kTagUtf16 || encoding == kTagUtf16Be) {
        bool little = false;
        if (encoding == kTagUtf16 && n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
            little = p[0] == 0xFF;
            p += 2, n -= 2;
        }
        if (n > 4 * chars + 2) n = 4 * chars + 2;  // a surrogate pair a character
        units = (int)Utf16Units(p, n);
        if (units == 0) return true;
        wide = static_cast<wchar_t*>(HeapAlloc(heap, 0, units * sizeof(wchar_t)));
        if (!wide) return false;
        for (int i = 0; i < units; ++i)
            wide[i] = little ? (wchar_t)(p[2 * i] | p[2 * i + 1] << 8) : (wchar_t)(p[2 * i] << 8 | p[2 * i + 1]);
    } else {
        return false;
    }
    // One byte-order mark at the start is no text: the one of UTF-8 and
    // UTF-16BE text, or a second one after UTF-16's own.
    const wchar_t* text = wide;
    if (units > 0 && text[0] == 0xFEFF) ++text, --units;
    // Characters the code page lacks become its default character, not a
    // look-alike letter.
    DWORD flags = Utf8CodePage(codePage) ? 0 : WC_NO_BEST_FIT_CHARS;
    bool ok = units == 0;
    int bytes = units ? WideCharToMultiByte(codePage, flags, text, units, nullptr, 0, nullptr, nullptr) : 0;
    if (bytes > 0) {
        char* ansi = static_cast<char*>(HeapAlloc(heap, 0, bytes));
        if (ansi && WideCharToMultiByte(codePage, flags, text, units, ansi, bytes, nullptr, nullptr) == bytes) {
            CopyWholeCharacters(dst, width, (const unsigned char*)ansi, (size_t)bytes, codePage);
            ok = true;
        }
        if (ansi) HeapFree(heap, 0, ansi);
    }
    HeapFree(heap, 0, wide);
    return ok;
}

// ID3v2 text in its four encodings, turned into the system's ANSI code page.
#pragma once
#include <windows.h>
#include <stddef.h>

// The text encoding byte of an ID3v2 frame.
enum TagTextEncoding {
    kTagLatin1 = 0,   // ISO-8859-1
    kTagUtf16 = 1,    // UTF-16 after a byte-order mark (big-endian without one)
    kTagUtf16Be = 2,  // UTF-16BE, no byte-order mark
    kTagUtf8 = 3,
};

// Bytes of the first string of p (n bytes), its terminator included (all of
// p when it has none).
size_t TagStringBytes(const unsigned char* p, size_t n, int encoding);

// Writes the first string of p into dst (width bytes with its NUL) in the
// code page: Unicode text as WideCharToMultiByte makes it, characters the
// code page lacks as its default character; single-byte text as it stands.
// Cut at a whole character. False (dst empty) for an unknown encoding or
// when memory runs out.
bool TagTextToAnsi(const unsigned char* p, size_t n, int encoding, char* dst, size_t width, UINT codePage = CP_ACP);

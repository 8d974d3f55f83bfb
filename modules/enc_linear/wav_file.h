// RIFF/WAVE output with the 40-byte extensible format chunk, written through
// plain file handles so that sizes and failures stay under our control.
#pragma once
#include <windows.h>
#include <stdint.h>
#include "wav_format.h"

// Most data bytes one file may hold: the RIFF size (file length - 8, pad byte
// included) must stay within 32 bits.
extern uint32_t g_wavDataLimit;

// Seam on the file write (tests replace it to simulate a full disk).
typedef BOOL(WINAPI* WavWriteFileFn)(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written,
                                     LPOVERLAPPED overlapped);
extern WavWriteFileFn g_wavWriteFile;

struct WavFile {
    HANDLE handle;
    uint64_t dataBytes;   // data bytes written whole
    int writeFailed;      // a write failed or was short
};

// Creates (replaces) the file and writes the header with zero sizes. 0 on
// failure, and for a name that opens anything but a file on a disk.
int WavCreate(WavFile* wav, const char* path, const unsigned char format[WavFormatBytes]);
// Appends sample bytes. Returns bytes, or -1 on a failed or short write, or
// when the bytes would push the file past the 32-bit RIFF limit; a failed
// write adds nothing to the data size.
int WavWriteData(WavFile* wav, const void* data, int bytes);
// Drops any partial write, adds the pad byte, writes both chunk sizes and
// closes the file. 1 when the file was completed, 0 otherwise.
int WavFinish(WavFile* wav);

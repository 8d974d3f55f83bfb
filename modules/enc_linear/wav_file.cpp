#include "wav_file.h"
#include <string.h>

uint32_t g_wavDataLimit = 0xFFFFFFFFu - (WavHeaderBytes - 8) - 1;
WavWriteFileFn g_wavWriteFile = WriteFile;

namespace {

bool WriteAll(HANDLE h, const void* data, DWORD bytes)
{
    DWORD written = 0;
    return g_wavWriteFile(h, data, bytes, &written, NULL) && written == bytes;
}

bool WriteAt(HANDLE h, uint32_t offset, const void* data, DWORD bytes)
{
    if (SetFilePointer(h, (LONG)offset, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return false;
    return WriteAll(h, data, bytes);
}

bool TruncateAt(HANDLE h, uint64_t length)
{
    LONG high = (LONG)(length >> 32);
    if (SetFilePointer(h, (LONG)(uint32_t)length, &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return false;
    return SetEndOfFile(h) != 0;
}

}  // namespace

int WavCreate(WavFile* wav, const char* path, const unsigned char format[WavFormatBytes])
{
    memset(wav, 0, sizeof(*wav));
    wav->handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (wav->handle == INVALID_HANDLE_VALUE) {
        wav->handle = NULL;
        return 0;
    }
    // A name can still open a device or a pipe ("NUL", \\.\COM1): only a
    // file on a disk is written.
    if (GetFileType(wav->handle) != FILE_TYPE_DISK) {
        CloseHandle(wav->handle);
        wav->handle = NULL;
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    unsigned char head[WavHeaderBytes];
    WavBuildHeader(format, 0, head);
    if (!WriteAll(wav->handle, head, sizeof(head))) {
        CloseHandle(wav->handle);
        wav->handle = NULL;
        return 0;
    }
    return 1;
}

int WavWriteData(WavFile* wav, const void* data, int bytes)
{
    if (!wav->handle || bytes < 0 || (bytes > 0 && !data))
        return -1;
    if (bytes == 0)
        return 0;
    if (wav->dataBytes + (uint64_t)bytes > g_wavDataLimit) {
        wav->writeFailed = 1;
        return -1;
    }
    if (wav->writeFailed) {
        // A short write left stray bytes at the end: go back to the end of the good data.
        if (!TruncateAt(wav->handle, WavHeaderBytes + wav->dataBytes))
            return -1;
    }
    DWORD written = 0;
    if (!g_wavWriteFile(wav->handle, data, (DWORD)bytes, &written, NULL) || written != (DWORD)bytes) {
        wav->writeFailed = 1;
        return -1;
    }
    wav->dataBytes += (uint32_t)bytes;
    return bytes;
}

int WavFinish(WavFile* wav)
{
    if (!wav->handle)
        return 0;
    HANDLE h = wav->handle;
    bool ok = TruncateAt(h, WavHeaderBytes + wav->dataBytes);
    if (ok && (wav->dataBytes & 1)) {
        static const unsigned char pad = 0;
        if (!WriteAll(h, &pad, 1)) {
            // No room for the pad byte: give up the last sample byte instead.
            wav->dataBytes -= 1;
            ok = TruncateAt(h, WavHeaderBytes + wav->dataBytes);
        }
    }
    uint32_t data = (uint32_t)wav->dataBytes;
    unsigned char v[4];
    WavPut32(v, WavRiffSize(data));
    ok = WriteAt(h, 4, v, 4) && ok;
    WavPut32(v, data);
    ok = WriteAt(h, 64, v, 4) && ok;
    if (!CloseHandle(h))
        ok = false;
    wav->handle = NULL;
    return ok ? 1 : 0;
}

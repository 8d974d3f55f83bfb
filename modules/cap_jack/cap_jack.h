// Line-in capture module: internals shared by the module, its dialog and its tests.
#pragma once
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>
#include <stdint.h>
#include "setting_record.h"
#include "vq_module.h"
#include "wavein_api.h"

struct RingBuffer;

namespace capjack {

constexpr int kHeaderCount = 64;
constexpr DWORD kCaptureBufferBytes = 6144;
constexpr int kSettingCount = 3;
constexpr int kMaxInstances = 256;
constexpr int kFormatCodes = 32;

enum SettingIndex { SettingDevice = 0, SettingFormat = 1, SettingBufferSize = 2 };
// Header states kept in each header's user word.
enum HeaderState : DWORD_PTR { HeaderFree = 0, HeaderQueued = 1, HeaderFilled = 2 };

struct CaptureInstance {
    char section[256];
    uint32_t capacity;
    volatile LONG stop;
    uint64_t delivered;
    HANDLE thread;
    HWAVEIN device;
    WAVEFORMATEXTENSIBLE format;
    HANDLE event;
    WAVEHDR* headers;  // kHeaderCount headers
    RingBuffer* ring;
    SettingRecord settings[kSettingCount];
    // Header indexes in the order they were handed to the device, which is the
    // order the device fills them; the ring is written in this order.
    int queue[kHeaderCount];
    int queueHead;
    int queueCount;
};

// Channels, bits and rate of a format code 0..31.
int CodeChannels(int code);
int CodeBits(int code);
int CodeRate(int code);
// "44.100 kHz, 16 Bit, Stereo"
void CodeLabel(int code, char* out, size_t size);
// The capture format record (extensible wave format) for channels, rate, bits.
void BuildCaptureFormat(WAVEFORMATEXTENSIBLE* out, int channels, int rate, int bits);
// Probes each format code on a device and lists the accepted ones in the record.
int EnumerateFormats(int device, SettingRecord* format);
// Ring size for a format and a buffer length in milliseconds: never smaller
// than two capture buffers, so a filled buffer always fits once the ring drains.
uint32_t RingCapacity(uint32_t avgBytesPerSec, int milliseconds);

IVqProModule* Module();
// Number of instances open now.
int OpenInstanceCount();

// Settings dialog 103 (modal).
INT_PTR RunConfigDialog(HWND parent, const char* section, void* instance);
// Opens a link label's target; replaceable so tests never start a browser.
extern void (*g_openLink)(HWND owner, const char* target);

}  // namespace capjack

// A waveIn device of our own for machines without a sound card. Its thread
// fills queued buffers from PCM data (in real time or as fast as buffers come
// back), it can refuse formats and fail open or start, and it records every
// breach of the buffer protocol it sees.
#pragma once
#include <windows.h>
#include <mmsystem.h>

#include <functional>
#include <string>
#include <vector>

namespace fakewave {

struct Config {
    std::vector<std::string> devices = {"Fake Line In"};  // names of devices 0..n-1
    std::string mapperName = "Fake Sound Mapper";
    // Which formats a device accepts (device -1 is the mapper); NULL: all.
    std::function<bool(int device, const WAVEFORMATEX*)> accepts;
    bool failOpen = false;
    bool failStart = false;
    bool realTime = false;  // pace the data at the format's byte rate
    bool hold = false;      // deliver nothing until Release()
    std::vector<unsigned char> source;  // delivered in order, then the device idles
};

struct Stats {
    int opens = 0, closes = 0, starts = 0, stops = 0, resets = 0;
    int prepares = 0, unprepares = 0, adds = 0;
    size_t deliveredBytes = 0;  // bytes written into buffers
    size_t lostBytes = 0;       // real-time data that found no queued buffer
    int maxQueued = 0;
    int addsBeforeStart = 0;    // buffers queued before the first start
    std::vector<std::string> violations;
};

// Replaces the module's waveIn table with the fake device.
void Install(const Config& config);
// Back to the system's table; the fake's devices must all be closed.
void Uninstall();
void Release();  // ends a hold
Stats GetStats();
int OpenDevices();

// PCM bytes of a WAV file's data chunk (empty when it cannot be read).
std::vector<unsigned char> ReadWavData(const std::string& path, WAVEFORMATEX* format);

}  // namespace fakewave

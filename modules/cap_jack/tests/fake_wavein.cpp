#include "fake_wavein.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "wavein_api.h"

namespace fakewave {
namespace {

typedef void(CALLBACK* WaveInProc)(HWAVEIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

struct Device {
    WAVEFORMATEX format;
    WaveInProc callback = nullptr;
    DWORD_PTR instance = 0;
    bool started = false;
    bool closing = false;
    std::deque<WAVEHDR*> queue;
    std::thread thread;
    std::chrono::steady_clock::time_point paceStart;
    size_t pacedBytes = 0;
};

std::mutex g_mutex;
std::condition_variable g_wake;
Config g_config;
Stats g_stats;
size_t g_sourcePos = 0;
bool g_everStarted = false;
std::set<Device*> g_devices;
std::map<WAVEHDR*, Device*> g_prepared;  // each prepared header and its device

void Violation(const char* text)
{
    g_stats.violations.push_back(text);
}

bool Accepts(int device, const WAVEFORMATEX* fmt)
{
    if (!g_config.accepts)
        return true;
    return g_config.accepts(device, fmt);
}

// Checks that a buffer the device is about to use or give back is still live memory.
void CheckLive(WAVEHDR* h, const char* what)
{
    if (!h->lpData || !HeapValidate(GetProcessHeap(), 0, h->lpData))
        Violation(what);
}

void DeviceThread(Device* dev)
{
    std::unique_lock<std::mutex> lock(g_mutex);
    for (;;) {
        if (dev->closing)
            return;
        bool canFill = dev->started && !g_config.hold && g_sourcePos < g_config.source.size();
        if (!canFill) {
            g_wake.wait_for(lock, std::chrono::milliseconds(20));
            continue;
        }
        size_t left = g_config.source.size() - g_sourcePos;
        if (g_config.realTime) {
            // The sound arrives at its own pace whether or not a buffer waits for it.
            auto due = dev->paceStart + std::chrono::microseconds(static_cast<long long>(
                           (dev->pacedBytes + 6144) * 1000000.0 / dev->format.nAvgBytesPerSec));
            if (std::chrono::steady_clock::now() < due) {
                g_wake.wait_until(lock, due);
                continue;
            }
            if (dev->queue.empty()) {
                size_t lost = std::min<size_t>(6144, left);
                g_sourcePos += lost;
                g_stats.lostBytes += lost;
                dev->pacedBytes += lost;
                continue;
            }
        } else if (dev->queue.empty()) {
            g_wake.wait_for(lock, std::chrono::milliseconds(20));
            continue;
        }
        WAVEHDR* h = dev->queue.front();
        dev->queue.pop_front();
        CheckLive(h, "device wrote into freed memory");
        size_t n = std::min<size_t>(h->dwBufferLength, left);
        n -= n % dev->format.nBlockAlign;
        if (n == 0)
            n = left;
        memcpy(h->lpData, g_config.source.data() + g_sourcePos, n);
        g_sourcePos += n;
        dev->pacedBytes += n;
        g_stats.deliveredBytes += n;
        h->dwBytesRecorded = static_cast<DWORD>(n);
        h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        WaveInProc cb = dev->callback;
        DWORD_PTR inst = dev->instance;
        lock.unlock();
        cb(reinterpret_cast<HWAVEIN>(dev), WIM_DATA, inst, reinterpret_cast<DWORD_PTR>(h), 0);
        lock.lock();
    }
}

Device* Valid(HWAVEIN hw)
{
    Device* dev = reinterpret_cast<Device*>(hw);
    return g_devices.count(dev) ? dev : nullptr;
}

bool HasPreparedHeaders(Device* dev)
{
    for (const auto& entry : g_prepared)
        if (entry.second == dev)
            return true;
    return false;
}

UINT WINAPI FakeGetNumDevs(void)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<UINT>(g_config.devices.size());
}

MMRESULT WINAPI FakeGetDevCaps(UINT_PTR id, LPWAVEINCAPSA caps, UINT size)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!caps || size < sizeof(WAVEINCAPSA))
        return MMSYSERR_INVALPARAM;
    memset(caps, 0, size);
    std::string name;
    if (id == static_cast<UINT_PTR>(WAVE_MAPPER) && !g_config.devices.empty())
        name = g_config.mapperName;
    else if (id < g_config.devices.size())
        name = g_config.devices[id];
    else
        return MMSYSERR_BADDEVICEID;
    snprintf(caps->szPname, sizeof caps->szPname, "%s", name.c_str());
    caps->wChannels = 2;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeOpen(LPHWAVEIN out, UINT id, LPCWAVEFORMATEX fmt, DWORD_PTR callback, DWORD_PTR instance,
                         DWORD flags)
{
    std::unique_lock<std::mutex> lock(g_mutex);
    int device = id == WAVE_MAPPER ? -1 : static_cast<int>(id);
    if (g_config.devices.empty() || (device >= 0 && static_cast<size_t>(device) >= g_config.devices.size()))
        return g_config.devices.empty() ? MMSYSERR_NODRIVER : MMSYSERR_BADDEVICEID;
    if (!fmt)
        return MMSYSERR_INVALPARAM;
    if (!Accepts(device, fmt))
        return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY)
        return MMSYSERR_NOERROR;
    if (g_config.failOpen)
        return MMSYSERR_ALLOCATED;
    if ((flags & CALLBACK_TYPEMASK) != CALLBACK_FUNCTION || !callback || !out)
        return MMSYSERR_INVALPARAM;
    Device* dev = new Device;
    dev->format = *fmt;
    dev->callback = reinterpret_cast<WaveInProc>(callback);
    dev->instance = instance;
    g_devices.insert(dev);
    ++g_stats.opens;
    *out = reinterpret_cast<HWAVEIN>(dev);
    dev->thread = std::thread(DeviceThread, dev);
    lock.unlock();
    dev->callback(*out, WIM_OPEN, instance, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakePrepare(HWAVEIN hw, LPWAVEHDR h, UINT size)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Device* dev = Valid(hw);
    if (!dev) {
        Violation("prepare on a closed device");
        return MMSYSERR_INVALHANDLE;
    }
    if (!h || size < sizeof(WAVEHDR) || !h->lpData)
        return MMSYSERR_INVALPARAM;
    if (h->dwFlags & WHDR_PREPARED)
        Violation("header prepared twice");
    h->dwFlags |= WHDR_PREPARED;
    g_prepared[h] = dev;
    ++g_stats.prepares;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeAdd(HWAVEIN hw, LPWAVEHDR h, UINT size)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Device* dev = Valid(hw);
    if (!dev) {
        Violation("buffer added after close");
        return MMSYSERR_INVALHANDLE;
    }
    if (!h || size < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    auto prepared = g_prepared.find(h);
    if (!(h->dwFlags & WHDR_PREPARED) || prepared == g_prepared.end() || prepared->second != dev) {
        Violation("buffer added without prepare");
        return WAVERR_UNPREPARED;
    }
    if (h->dwFlags & WHDR_INQUEUE) {
        Violation("buffer added twice");
        return WAVERR_STILLPLAYING;
    }
    h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    h->dwBytesRecorded = 0;
    dev->queue.push_back(h);
    ++g_stats.adds;
    if (!g_everStarted)
        ++g_stats.addsBeforeStart;
    g_stats.maxQueued = std::max(g_stats.maxQueued, static_cast<int>(dev->queue.size()));
    g_wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeUnprepare(HWAVEIN hw, LPWAVEHDR h, UINT size)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Device* dev = Valid(hw);
    if (!dev) {
        Violation("unprepare on a closed device");
        return MMSYSERR_INVALHANDLE;
    }
    if (!h || size < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    if (h->dwFlags & WHDR_INQUEUE) {
        Violation("unprepare of a queued buffer");
        return WAVERR_STILLPLAYING;
    }
    auto prepared = g_prepared.find(h);
    if (prepared == g_prepared.end() || prepared->second != dev) {
        Violation("unprepare of a buffer never prepared on this device");
        return MMSYSERR_NOERROR;
    }
    CheckLive(h, "buffer data freed before unprepare");
    g_prepared.erase(prepared);
    h->dwFlags &= ~WHDR_PREPARED;
    ++g_stats.unprepares;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeStart(HWAVEIN hw)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Device* dev = Valid(hw);
    if (!dev) {
        Violation("start on a closed device");
        return MMSYSERR_INVALHANDLE;
    }
    if (g_config.failStart)
        return MMSYSERR_ERROR;
    ++g_stats.starts;
    g_everStarted = true;
    if (!dev->started) {
        dev->started = true;
        dev->paceStart = std::chrono::steady_clock::now();
        dev->pacedBytes = 0;
    }
    g_wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeStop(HWAVEIN hw)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Device* dev = Valid(hw);
    if (!dev) {
        Violation("stop on a closed device");
        return MMSYSERR_INVALHANDLE;
    }
    ++g_stats.stops;
    dev->started = false;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeReset(HWAVEIN hw)
{
    std::unique_lock<std::mutex> lock(g_mutex);
    Device* dev = Valid(hw);
    if (!dev) {
        Violation("reset on a closed device");
        return MMSYSERR_INVALHANDLE;
    }
    ++g_stats.resets;
    dev->started = false;
    std::deque<WAVEHDR*> back;
    back.swap(dev->queue);
    for (WAVEHDR* h : back) {
        h->dwBytesRecorded = 0;
        h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    }
    WaveInProc cb = dev->callback;
    DWORD_PTR inst = dev->instance;
    lock.unlock();
    for (WAVEHDR* h : back)
        cb(hw, WIM_DATA, inst, reinterpret_cast<DWORD_PTR>(h), 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI FakeClose(HWAVEIN hw)
{
    std::unique_lock<std::mutex> lock(g_mutex);
    Device* dev = Valid(hw);
    if (!dev) {
        Violation("close of a closed device");
        return MMSYSERR_INVALHANDLE;
    }
    if (!dev->queue.empty()) {
        Violation("close with buffers still queued");
        return WAVERR_STILLPLAYING;
    }
    // Only this device's buffers count: other open devices keep theirs.
    if (HasPreparedHeaders(dev))
        Violation("close with buffers still prepared");
    ++g_stats.closes;
    dev->closing = true;
    g_devices.erase(dev);
    g_wake.notify_all();
    lock.unlock();
    dev->thread.join();
    dev->callback(hw, WIM_CLOSE, dev->instance, 0, 0);
    delete dev;
    return MMSYSERR_NOERROR;
}

const WaveInApi kFakeApi = {
    FakeGetNumDevs, FakeGetDevCaps, FakeOpen, FakePrepare, FakeAdd, FakeUnprepare, FakeStart, FakeStop, FakeReset,
    FakeClose,
};

}  // namespace

void Install(const Config& config)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_config = config;
    g_stats = Stats();
    g_sourcePos = 0;
    g_everStarted = false;
    g_prepared.clear();
    g_waveIn = &kFakeApi;
}

void Uninstall()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_waveIn = &kWinmmWaveIn;
}

void Release()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_config.hold = false;
    g_wake.notify_all();
}

Stats GetStats()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_stats;
}

int OpenDevices()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<int>(g_devices.size());
}

std::vector<unsigned char> ReadWavData(const std::string& path, WAVEFORMATEX* format)
{
    std::vector<unsigned char> data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return data;
    unsigned char riff[12];
    if (fread(riff, 1, 12, f) == 12 && memcmp(riff, "RIFF", 4) == 0 && memcmp(riff + 8, "WAVE", 4) == 0) {
        unsigned char head[8];
        while (fread(head, 1, 8, f) == 8) {
            uint32_t size = head[4] | head[5] << 8 | head[6] << 16 | static_cast<uint32_t>(head[7]) << 24;
            if (memcmp(head, "fmt ", 4) == 0 && format) {
                std::vector<unsigned char> fmt(size);
                if (fread(fmt.data(), 1, size, f) != size)
                    break;
                memset(format, 0, sizeof *format);
                memcpy(format, fmt.data(), std::min<size_t>(size, 16));
                if (size & 1)
                    fseek(f, 1, SEEK_CUR);
            } else if (memcmp(head, "data", 4) == 0) {
                data.resize(size);
                data.resize(fread(data.data(), 1, size, f));
                break;
            } else {
                fseek(f, size + (size & 1), SEEK_CUR);
            }
        }
    }
    fclose(f);
    return data;
}

}  // namespace fakewave

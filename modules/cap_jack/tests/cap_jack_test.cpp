// Capture module against the fake device: settings, the capture path and its
// buffer protocol, failures and the instance table.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "capjack_fixture.h"
#include "ring_buffer.h"

namespace {

std::vector<unsigned char> Sine(const char* name)
{
    WAVEFORMATEX fmt;
    std::vector<unsigned char> data = fakewave::ReadWavData(vqtest::TestDataDir() + "\\cap_jack\\" + name, &fmt);
    EXPECT_EQ(44100u, fmt.nSamplesPerSec);
    EXPECT_EQ(2, fmt.nChannels);
    EXPECT_EQ(16, fmt.wBitsPerSample);
    return data;
}

const StreamFormat kCd = {1, 2, 44100, 176400, 4, 16};

// Reads like the host does (blocks of 100 ms, 50 ms naps while nothing is
// ready) until `want` bytes arrived or the time runs out.
std::vector<unsigned char> ReadAll(IVqProModule* m, void* h, size_t want, DWORD timeoutMs, int block = 17640,
                                   int napMs = 50)
{
    std::vector<unsigned char> got;
    std::vector<char> buf(block);
    DWORD start = GetTickCount();
    while (got.size() < want && GetTickCount() - start < timeoutMs) {
        int n = m->capture.Read(buf.data(), block, h);
        if (n < 0)
            break;
        if (n == 0) {
            Sleep(napMs);
            continue;
        }
        got.insert(got.end(), buf.begin(), buf.begin() + n);
    }
    return got;
}

// First differing byte, or -1.
long FirstDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return static_cast<long>(i);
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

int32_t Value(const SettingRecord& r) { return SettingLoad<int32_t>(r.currentValue); }
int32_t Limit(const SettingRecord& r, int i) { return SettingLoad<int32_t>(r.limits, i); }

}  // namespace

// ---- settings ---------------------------------------------------------------

TEST_F(CapJackTest, NoDeviceListsOnlyTheMapperPlaceholder)
{
    fakewave::Config c;
    c.devices.clear();
    Init(c);
    SettingRecord dev = Query(capjack::SettingDevice);
    EXPECT_STREQ("Input Device", dev.name);
    EXPECT_EQ(1, dev.constraint);
    EXPECT_EQ(-1, Limit(dev, 0));
    EXPECT_STREQ("No audio device installed!\t", dev.labels);
    EXPECT_EQ(-1, Value(dev));
    SettingRecord fmt = Query(capjack::SettingFormat);
    EXPECT_EQ(32, fmt.constraint);
    EXPECT_STREQ("", fmt.labels);

    // Recording fails cleanly, in the log and not in a box.
    EXPECT_EQ(nullptr, m->capture.Open(nullptr, VQ_HOST_SECTION));
    EXPECT_NE(std::string::npos, LogText().find("Error opening input device (Err: 0x"));
}

TEST_F(CapJackTest, DeviceListAndFormatProbe)
{
    fakewave::Config c;
    c.devices = {"Line A", "Line B"};
    c.accepts = [](int device, const WAVEFORMATEX* f) {
        if (device == 1)
            return f->nSamplesPerSec == 96000 && f->wBitsPerSample == 24;
        return Only16Bit441And48(device, f);
    };
    Init(c);
    SettingRecord dev = Query(capjack::SettingDevice);
    EXPECT_EQ(3, dev.constraint);
    EXPECT_EQ(-1, Limit(dev, 0));
    EXPECT_EQ(0, Limit(dev, 1));
    EXPECT_EQ(1, Limit(dev, 2));
    EXPECT_STREQ("Fake Sound Mapper\tLine A\tLine B\t", dev.labels);

    SettingRecord fmt = Query(capjack::SettingFormat);
    EXPECT_EQ(32, fmt.constraint);
    const int expected[] = {10, 11, 18, 19};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(expected[i], Limit(fmt, i)) << i;
    for (int i = 4; i < 32; ++i)
        EXPECT_EQ(0, Limit(fmt, i)) << i;
    EXPECT_STREQ("44.100 kHz, 16 Bit, Mono\t44.100 kHz, 16 Bit, Stereo\t48.000 kHz, 16 Bit, Mono\t"
                 "48.000 kHz, 16 Bit, Stereo",
                 fmt.labels);
    EXPECT_EQ(11, Value(fmt));

    // Choosing device 1 for the module re-probes the module's list.
    SettingStore<int32_t>(dev.currentValue, 1);
    m->h.SetSetting(&dev, capjack::SettingDevice, "Section", nullptr);
    fmt = Query(capjack::SettingFormat);
    EXPECT_EQ(28, Limit(fmt, 0));
    EXPECT_EQ(29, Limit(fmt, 1));
    EXPECT_EQ(0, Limit(fmt, 2));
    EXPECT_STREQ("96.000 kHz, 24 Bit, Mono\t96.000 kHz, 24 Bit, Stereo", fmt.labels);
    SettingRecord back;
    m->h.GetSetting(&back, capjack::SettingDevice, "Section", nullptr);
    EXPECT_EQ(1, Value(back));

    EXPECT_EQ(-1, m->h.GetSetting(&back, 3, nullptr, nullptr));
    EXPECT_EQ(0, m->h.QuerySetting(&back, 3, nullptr));
}

TEST_F(CapJackTest, CaptureFormatRecord)
{
    WAVEFORMATEXTENSIBLE f;
    capjack::BuildCaptureFormat(&f, 2, 44100, 16);
    EXPECT_EQ(WAVE_FORMAT_EXTENSIBLE, f.Format.wFormatTag);
    EXPECT_EQ(4, f.Format.nBlockAlign);
    EXPECT_EQ(176400u, f.Format.nAvgBytesPerSec);
    EXPECT_EQ(22, f.Format.cbSize);
    EXPECT_EQ(16, f.Samples.wValidBitsPerSample);
    EXPECT_EQ(3u, f.dwChannelMask);
    EXPECT_EQ(1u, f.SubFormat.Data1);
    capjack::BuildCaptureFormat(&f, 1, 96000, 32);
    EXPECT_EQ(3u, f.SubFormat.Data1);  // IEEE float
    EXPECT_EQ(3u, f.dwChannelMask);
    capjack::BuildCaptureFormat(&f, 1, 48000, 24);
    EXPECT_EQ(1u, f.SubFormat.Data1);
    EXPECT_EQ(3, f.Format.nBlockAlign);
}

TEST_F(CapJackTest, StoredFormatOutsideTheListFallsBackToDefault)
{
    WritePrivateProfileStringA("Default", "Sample format", "5", ini.c_str());
    WritePrivateProfileStringA("Default", "Buffer size", "99999", ini.c_str());
    fakewave::Config c;
    c.accepts = Only16Bit441And48;
    Init(c);
    EXPECT_EQ(11, Value(Query(capjack::SettingFormat)));
    EXPECT_EQ(3000, Value(Query(capjack::SettingBufferSize)));
    m->h.QuitModule();
    initialised = false;

    WritePrivateProfileStringA("Default", "Sample format", "19", ini.c_str());
    Init(c);
    EXPECT_EQ(19, Value(Query(capjack::SettingFormat)));
}

TEST_F(CapJackTest, BufferSizeGivesRingCapacity)
{
    fakewave::Config c;
    c.hold = true;
    Init(c);
    struct Case {
        const char* ms;
        uint32_t bytes;
    } cases[] = {{"20", 2 * capjack::kCaptureBufferBytes}, {"300", 52920}, {"3000", 529200}};
    for (const Case& k : cases) {
        WritePrivateProfileStringA("Cap", "Buffer size", k.ms, ini.c_str());
        void* h = m->capture.Open(&kCd, "Cap");
        ASSERT_NE(nullptr, h) << k.ms;
        auto* inst = static_cast<capjack::CaptureInstance*>(h);
        EXPECT_EQ(k.bytes, inst->capacity) << k.ms;
        EXPECT_EQ(k.bytes, inst->ring->capacity) << k.ms;
        // A new length applies to the next Open; the running ring keeps its size.
        SettingRecord rec;
        m->h.GetSetting(&rec, capjack::SettingBufferSize, nullptr, h);
        SettingStore<int32_t>(rec.currentValue, 1000);
        m->h.SetSetting(&rec, capjack::SettingBufferSize, nullptr, h);
        EXPECT_EQ(176400u, inst->capacity);
        EXPECT_EQ(k.bytes, inst->ring->capacity);
        EXPECT_EQ(1, m->capture.Close(h));
        // Close wrote the instance's values back to its section.
        EXPECT_EQ(1000u, GetPrivateProfileIntA("Cap", "Buffer size", 0, ini.c_str()));
    }
    // The ring of the smallest setting takes two whole capture buffers.
    EXPECT_LT(capjack::RingCapacity(22050, 20), 2 * capjack::kCaptureBufferBytes + 1);
    EXPECT_GE(capjack::RingCapacity(22050, 20), 2 * capjack::kCaptureBufferBytes);
}

// ---- capture path -------------------------------------------------------------

TEST_F(CapJackTest, BuffersQueuedBeforeStartAndReadRounding)
{
    fakewave::Config c;
    c.hold = true;
    c.source.assign(176400, 0);
    for (size_t i = 0; i < c.source.size(); ++i)
        c.source[i] = static_cast<unsigned char>(i * 7 + 3);
    Init(c);
    void* h = m->capture.Open(&kCd, VQ_HOST_SECTION);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(capjack::kHeaderCount, fakewave::GetStats().addsBeforeStart);

    char buf[2000];
    EXPECT_EQ(0, m->capture.Read(buf, 1001, h));  // nothing recorded yet
    StreamFormat f = {};
    f.formatTag = 77;
    EXPECT_EQ(1, m->capture.GetPcmFormat(&f, h));
    EXPECT_EQ(77, f.formatTag);
    EXPECT_EQ(2, f.channels);
    EXPECT_EQ(44100, f.sampleRate);
    EXPECT_EQ(176400, f.avgBytesPerSec);
    EXPECT_EQ(4, f.blockAlign);
    EXPECT_EQ(16, f.bitsPerSample);

    fakewave::Release();
    int n = 0;
    for (int i = 0; i < 200 && n == 0; ++i) {
        n = m->capture.Read(buf, 1001, h);
        if (n == 0)
            Sleep(10);
    }
    EXPECT_EQ(1000, n);
    EXPECT_EQ(0, memcmp(buf, c.source.data(), 1000));
    EXPECT_DOUBLE_EQ(1000.0 / 176400.0, m->capture.GetTime(h));
    EXPECT_EQ(1, m->capture.Close(h));
}

TEST_F(CapJackTest, FlatOutLongRunIsSampleExact)
{
    fakewave::Config c;
    c.source = Sine("sine30.wav");
    ASSERT_EQ(30u * 176400u, c.source.size());
    Init(c);
    void* h = m->capture.Open(nullptr, VQ_HOST_SECTION);  // module's format: code 11
    ASSERT_NE(nullptr, h);
    std::vector<unsigned char> got = ReadAll(m, h, c.source.size(), 60000, 17640, 1);
    EXPECT_EQ(c.source.size(), got.size());
    EXPECT_EQ(-1, FirstDifference(c.source, got));
    EXPECT_DOUBLE_EQ(30.0, m->capture.GetTime(h));
    EXPECT_EQ(1, m->capture.Close(h));
    EXPECT_EQ(0u, fakewave::GetStats().lostBytes);
}

TEST_F(CapJackTest, RealTimeRunIsSampleExact)
{
    fakewave::Config c;
    c.source = Sine("sine3.wav");
    c.realTime = true;
    Init(c);
    DWORD start = GetTickCount();
    void* h = m->capture.Open(&kCd, VQ_HOST_SECTION);
    ASSERT_NE(nullptr, h);
    std::vector<unsigned char> got = ReadAll(m, h, c.source.size(), 20000);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(c.source.size(), got.size());
    EXPECT_EQ(-1, FirstDifference(c.source, got));
    EXPECT_EQ(0u, fakewave::GetStats().lostBytes);
    EXPECT_GE(elapsed, 2800u);  // it really came at the sound's own pace
    EXPECT_EQ(1, m->capture.Close(h));
}

TEST_F(CapJackTest, FullRingDelaysButNeverCorrupts)
{
    fakewave::Config c;
    c.source = Sine("sine30.wav");
    c.source.resize(5 * 176400);
    Init(c);
    WritePrivateProfileStringA("Small", "Buffer size", "20", ini.c_str());
    void* h = m->capture.Open(&kCd, "Small");
    ASSERT_NE(nullptr, h);
    // Let the device fill every queued buffer while nobody reads.
    Sleep(300);
    auto* inst = static_cast<capjack::CaptureInstance*>(h);
    EXPECT_EQ(inst->capacity, RingBuffer_Used(inst->ring));
    // Odd-sized small reads with naps keep the ring full most of the time.
    std::vector<unsigned char> got = ReadAll(m, h, c.source.size(), 60000, 3001, 1);
    EXPECT_EQ(c.source.size(), got.size());
    EXPECT_EQ(-1, FirstDifference(c.source, got));
    EXPECT_LE(fakewave::GetStats().maxQueued, capjack::kHeaderCount);
    EXPECT_EQ(1, m->capture.Close(h));
}

TEST_F(CapJackTest, PauseStopsTheDeviceAndResumeContinuesExactly)
{
    fakewave::Config c;
    c.source = Sine("sine3.wav");
    c.realTime = true;
    Init(c);
    void* h = m->capture.Open(&kCd, VQ_HOST_SECTION);
    ASSERT_NE(nullptr, h);
    std::vector<unsigned char> got = ReadAll(m, h, 88200, 5000);
    ASSERT_GE(got.size(), 88200u);

    EXPECT_EQ(1, m->capture.Pause(1, h));
    Sleep(100);
    size_t atPause = fakewave::GetStats().deliveredBytes;
    std::vector<unsigned char> more = ReadAll(m, h, c.source.size(), 400);
    got.insert(got.end(), more.begin(), more.end());
    EXPECT_EQ(atPause, fakewave::GetStats().deliveredBytes);  // nothing recorded while paused
    EXPECT_EQ(atPause, got.size());

    EXPECT_EQ(1, m->capture.Pause(0, h));
    more = ReadAll(m, h, c.source.size() - got.size(), 20000);
    got.insert(got.end(), more.begin(), more.end());
    EXPECT_EQ(c.source.size(), got.size());
    EXPECT_EQ(-1, FirstDifference(c.source, got));
    fakewave::Stats s = fakewave::GetStats();
    EXPECT_EQ(1, s.stops);
    EXPECT_EQ(2, s.starts);
    EXPECT_EQ(0u, s.lostBytes);
    EXPECT_EQ(1, m->capture.Close(h));
}

TEST_F(CapJackTest, CloseIsPromptAndReturnsEveryBuffer)
{
    fakewave::Config c;
    c.source = Sine("sine3.wav");
    c.realTime = true;
    Init(c);
    void* h = m->capture.Open(&kCd, VQ_HOST_SECTION);
    ASSERT_NE(nullptr, h);
    ReadAll(m, h, 40000, 5000);
    DWORD start = GetTickCount();
    EXPECT_EQ(1, m->capture.Close(h));
    // The capture thread wakes on the event, far inside the 10 s wait.
    EXPECT_LT(GetTickCount() - start, 2000u);
    fakewave::Stats s = fakewave::GetStats();
    EXPECT_EQ(1, s.closes);
    EXPECT_EQ(1, s.resets);
    // A closed instance is no longer accepted.
    EXPECT_EQ(0, m->capture.Close(h));
    EXPECT_EQ(-1, m->capture.Read(reinterpret_cast<char*>(&s), 4, h));
}

// ---- failures ------------------------------------------------------------------

TEST_F(CapJackTest, OpenFailuresUndoEverything)
{
    fakewave::Config c;
    c.failOpen = true;
    Init(c);
    EXPECT_EQ(nullptr, m->capture.Open(&kCd, VQ_HOST_SECTION));
    std::string text = LogText();
    EXPECT_NE(std::string::npos, text.find("Error opening input device (Err: 0x4)")) << text;
    EXPECT_EQ(std::string::npos, text.find("%h"));

    // A format the device refuses.
    const StreamFormat wide = {1, 2, 96000, 768000, 8, 32};
    c.failOpen = false;
    c.accepts = Only16Bit441And48;
    fakewave::Install(c);
    EXPECT_EQ(nullptr, m->capture.Open(&wide, VQ_HOST_SECTION));
    EXPECT_NE(std::string::npos, LogText().find("(Err: 0x20)"));

    // A nonsense format never reaches the device.
    const StreamFormat empty = {1, 0, 0, 0, 0, 0};
    EXPECT_EQ(nullptr, m->capture.Open(&empty, VQ_HOST_SECTION));

    // Start fails after the buffers were queued: all are taken back and the device closed.
    c.accepts = nullptr;
    c.failStart = true;
    fakewave::Install(c);
    EXPECT_EQ(nullptr, m->capture.Open(&kCd, VQ_HOST_SECTION));
    EXPECT_NE(std::string::npos, LogText().find("Error starting audio capture"));
    fakewave::Stats s = fakewave::GetStats();
    EXPECT_EQ(1, s.opens);
    EXPECT_EQ(1, s.closes);
    EXPECT_EQ(capjack::kHeaderCount, s.prepares);
    EXPECT_EQ(0, capjack::OpenInstanceCount());
}

TEST_F(CapJackTest, NullAndUnknownHandles)
{
    Init(fakewave::Config());
    char buf[16];
    StreamFormat f;
    int bogus = 0;
    for (void* h : {static_cast<void*>(nullptr), static_cast<void*>(&bogus)}) {
        EXPECT_EQ(-1, m->capture.Pause(1, h));
        EXPECT_EQ(-1, m->capture.Read(buf, 16, h));
        EXPECT_EQ(-1.0, m->capture.GetTime(h));
        EXPECT_EQ(-1, m->capture.GetPcmFormat(&f, h));
        EXPECT_EQ(0, m->capture.Close(h));
    }
    EXPECT_EQ(0, m->capture.GetTag(nullptr, nullptr));
}

TEST_F(CapJackTest, ConcurrentOpensClaimDistinctSlots)
{
    fakewave::Config c;
    c.hold = true;
    Init(c);
    const int threads = 8, each = 4;
    std::vector<void*> handles(threads * each, nullptr);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < each; ++i)
                handles[t * each + i] = m->capture.Open(&kCd, VQ_HOST_SECTION);
        });
    for (std::thread& w : workers)
        w.join();
    std::set<void*> distinct(handles.begin(), handles.end());
    EXPECT_EQ(handles.size(), distinct.size());
    EXPECT_EQ(0u, distinct.count(nullptr));
    EXPECT_EQ(threads * each, capjack::OpenInstanceCount());
    // QuitModule closes whatever is still open.
    m->h.QuitModule();
    initialised = false;
    EXPECT_EQ(0, capjack::OpenInstanceCount());
    EXPECT_EQ(threads * each, fakewave::GetStats().closes);
}

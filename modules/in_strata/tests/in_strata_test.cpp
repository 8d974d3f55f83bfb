// The MPEG input module against real files: decoded PCM is compared with
// mpg123's decode of the same file (made by the data script).
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "in_strata.h"
#include "input_module_harness.h"
#include "tag_text.h"
#include "test_support.h"

namespace {

InputModuleHarness g_h;

class MpegTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(g_h.Load("in_strata.dll", "instrata")); }
    static void TearDownTestSuite() { g_h.Unload(); }
    IVqProModule* m() { return g_h.mod(); }
};

std::string Data(const std::string& name) { return vqtest::TestDataDir() + "\\in_strata\\" + name; }

std::vector<int16_t> Samples(const std::vector<unsigned char>& bytes)
{
    std::vector<int16_t> s(bytes.size() / 2);
    memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

std::vector<int16_t> Reference(const std::string& name)
{
    std::vector<unsigned char> b;
    EXPECT_TRUE(vqtest::ReadFile(Data(name), b)) << name;
    return Samples(b);
}

// SNR in dB of got against ref over [from, to) samples, got shifted by offset.
double Snr(const std::vector<int16_t>& ref, const std::vector<int16_t>& got, long offset, size_t from, size_t to)
{
    double sig = 0, err = 0;
    for (size_t i = from; i < to; ++i) {
        long j = (long)i + offset;
        if (j < 0 || (size_t)j >= got.size()) continue;
        double d = (double)got[j] - ref[i];
        sig += (double)ref[i] * ref[i];
        err += d * d;
    }
    if (err == 0) return 200.0;
    return 10 * log10(sig / err);
}

// Best alignment of got against ref within +-range samples (whole frames).
long Align(const std::vector<int16_t>& ref, const std::vector<int16_t>& got, int channels, long range)
{
    long best = 0;
    double bestSnr = -1e9;
    size_t to = ref.size() < 40000 ? ref.size() : 40000;
    for (long off = -range; off <= range; off += channels) {
        double s = Snr(ref, got, off, 0, to);
        if (s > bestSnr) bestSnr = s, best = off;
    }
    return best;
}

struct Decoded {
    StreamFormat fmt{};
    std::vector<int16_t> pcm;
    bool wholeFrames = false;
};

Decoded Decode(IVqProModule* m, const std::string& path, const StreamFormat* wanted = nullptr)
{
    Decoded d;
    void* h = m->input.Open(path.c_str(), wanted);
    EXPECT_NE(h, nullptr) << path;
    if (!h) return d;
    EXPECT_EQ(m->input.GetPcmFormat(&d.fmt, h), 1);
    // The host reads a tenth of a second per call.
    int block = d.fmt.avgBytesPerSec / 10;
    d.pcm = Samples(g_h.ReadAll(h, block, d.fmt.blockAlign, &d.wholeFrames));
    EXPECT_EQ(m->input.Close(h), 1);
    return d;
}

TEST_F(MpegTest, RecordAndFileTest)
{
    EXPECT_EQ(m()->h.Kind, KindInput);
    EXPECT_EQ(m()->h.Id, 4);
    EXPECT_STREQ(m()->h.InternalName, "PylSoftMpegInputModule");
    EXPECT_EQ(m()->h.Version, VQ_VERSION(1, 0, 1, 78));
    EXPECT_NE(m()->h.hIcon, nullptr);
    const char* f = m()->input.FilterList;
    EXPECT_STREQ(f, "MPEG Audio Layer III files (*.mp3)");
    int parts = 0;
    while (*f) f += strlen(f) + 1, ++parts;
    EXPECT_EQ(parts, 6);
    EXPECT_EQ(m()->input.IsOurFile("C:\\a\\SONG.MP3"), 1);
    EXPECT_EQ(m()->input.IsOurFile("C:\\a\\song.mp2"), 0);
    EXPECT_EQ(m()->input.IsOurFile("C:\\a\\song.mp3.bak"), 0);
    EXPECT_EQ(m()->input.IsOurFile("C:\\a\\song"), 0);
    SettingRecord r;
    EXPECT_EQ(m()->h.GetSetting(&r, 0, nullptr, nullptr), (int)SettingType::Int32);
    EXPECT_STREQ(r.name, "Priority");
    EXPECT_EQ(r.constraint, 7);
    EXPECT_EQ(m()->h.GetSetting(&r, 1, nullptr, nullptr), -1);
    EXPECT_EQ(m()->h.QuerySetting(&r, 1, nullptr), 0);
    EXPECT_EQ(m()->h.Configure(nullptr, nullptr, nullptr), -1);
    // NULL instances.
    EXPECT_EQ(m()->input.Read(nullptr, 10, nullptr), -1);
    EXPECT_EQ(m()->input.SetTime(1.0, nullptr), -1);
    EXPECT_EQ(m()->input.GetTime(0, nullptr), 0.0);
    EXPECT_EQ(m()->input.GetPcmFormat(nullptr, nullptr), -1);
    EXPECT_EQ(m()->input.GetTag(nullptr, nullptr), 0);
    EXPECT_EQ(m()->input.Open(nullptr, nullptr), nullptr);
}

struct RefCase {
    const char* file;
    const char* raw;
    int channels;
    int rate;
};

class MpegDecodeTest : public MpegTest, public ::testing::WithParamInterface<RefCase> {};

TEST_P(MpegDecodeTest, MatchesIndependentDecoder)
{
    const RefCase& c = GetParam();
    Decoded d = Decode(m(), Data(c.file));
    auto ref = Reference(c.raw);
    ASSERT_FALSE(ref.empty());
    EXPECT_EQ(d.fmt.channels, c.channels);
    EXPECT_EQ(d.fmt.sampleRate, c.rate);
    EXPECT_EQ(d.fmt.bitsPerSample, 16);
    EXPECT_EQ(d.fmt.blockAlign, 2 * c.channels);
    EXPECT_TRUE(d.wholeFrames);
    EXPECT_EQ(d.pcm.size(), ref.size());
    long off = Align(ref, d.pcm, c.channels, 1152 * c.channels);
    EXPECT_EQ(off, 0);
    EXPECT_GT(Snr(ref, d.pcm, off, 0, ref.size()), 80.0);
    // The last frame is not repeated.
    const size_t f = 1152 * c.channels;
    if (d.pcm.size() > 2 * f) {
        bool same = memcmp(&d.pcm[d.pcm.size() - f], &d.pcm[d.pcm.size() - 2 * f], f * 2) == 0;
        EXPECT_FALSE(same);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, MpegDecodeTest,
                         ::testing::Values(RefCase{"cbr.mp3", "cbr.raw", 2, 44100},
                                           RefCase{"vbr.mp3", "vbr.raw", 2, 44100},
                                           RefCase{"crc.mp3", "crc.raw", 2, 44100},
                                           RefCase{"crcbad.mp3", "crc.raw", 2, 44100},
                                           RefCase{"r11k.mp3", "r11k.raw", 2, 11025},
                                           RefCase{"mono.mp3", "mono.raw", 1, 44100},
                                           RefCase{"layer2.mp2", "layer2.raw", 2, 44100},
                                           RefCase{"trailing.mp3", "cbr.raw", 2, 44100}));

TEST_F(MpegTest, MonoFramesInsideStereoStream)
{
    Decoded d = Decode(m(), Data("mixed.mp3"));
    auto st = Reference("part_st.raw");
    auto mo = Reference("part_mo.raw");
    unsigned a = 60, b = 120, total = 231;
    EXPECT_EQ(d.fmt.channels, 2);
    ASSERT_EQ(d.pcm.size(), (size_t)total * 1152 * 2);
    // Stereo part before the switch.
    EXPECT_GT(Snr(st, d.pcm, 0, 0, (a - 1) * 1152 * 2), 80.0);
    // Mono part (away from the joins) on both channels.
    std::vector<int16_t> left, right, monoRef;
    for (size_t i = (a + 2) * 1152; i < (b - 1) * 1152; ++i) {
        left.push_back(d.pcm[2 * i]);
        right.push_back(d.pcm[2 * i + 1]);
        monoRef.push_back(mo[i]);
    }
    EXPECT_GT(Snr(monoRef, left, 0, 0, monoRef.size()), 80.0);
    EXPECT_GT(Snr(monoRef, right, 0, 0, monoRef.size()), 80.0);
    // Stereo again after it.
    EXPECT_GT(Snr(st, d.pcm, 0, (b + 2) * 1152 * 2, total * 1152 * 2), 80.0);
}

TEST_F(MpegTest, DamagedStreamsDecodeWhatIsThere)
{
    auto ref = Reference("cbr.raw");
    // Junk between frames is skipped without garbage or repeats.
    Decoded j = Decode(m(), Data("junk.mp3"));
    // At most the frame after each of the three junk runs is lost (its bit
    // reservoir went with the lost sync).
    EXPECT_LE(j.pcm.size(), ref.size());
    EXPECT_GE(j.pcm.size(), ref.size() - 3 * 1152 * 2);
    EXPECT_GT(Snr(ref, j.pcm, 0, 0, 20 * 1152 * 2), 80.0);
    // A truncated last frame is dropped, the rest is intact.
    Decoded t = Decode(m(), Data("truncated.mp3"));
    EXPECT_GE(t.pcm.size(), ref.size() - 2 * 1152 * 2);
    EXPECT_LE(t.pcm.size(), ref.size());
    EXPECT_GT(Snr(ref, t.pcm, 0, 0, t.pcm.size() - 1152 * 2), 80.0);
}

// Reads a stream to its end: the bytes delivered and the result that ended it.
int ReadToEnd(IVqProModule* m, void* h, size_t* bytes)
{
    std::vector<char> buf(17640);
    *bytes = 0;
    for (int i = 0; i < 100000; ++i) {
        int n = m->input.Read(buf.data(), (int)buf.size(), h);
        if (n < 1) return n;
        *bytes += n;
    }
    return 0;
}

TEST_F(MpegTest, StreamEndingOnAnErrorIsToldFromItsEnd)
{
    size_t bytes = 0;
    // Junk and a truncated last frame end cleanly, and so does a last frame
    // declared far longer than what is left of the file.
    for (const char* name : {"junk.mp3", "truncated.mp3", "stuck_end.mp3"}) {
        void* h = m()->input.Open(Data(name).c_str(), nullptr);
        ASSERT_NE(h, nullptr) << name;
        EXPECT_EQ(ReadToEnd(m(), h, &bytes), -1) << name;
        EXPECT_GT(bytes, 0u) << name;
        m()->input.Close(h);
    }
    // A frame the decoder can never buffer, with more data after it: the 39
    // audio frames before it are delivered, then the error, and it stays.
    void* h = m()->input.Open(Data("stuck.mp3").c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ReadToEnd(m(), h, &bytes), VQ_READ_ERROR);
    EXPECT_EQ(bytes, 39u * 1152 * 4);
    std::vector<char> buf(4096);
    EXPECT_EQ(m()->input.Read(buf.data(), 4096, h), VQ_READ_ERROR);
    m()->input.Close(h);

    // A file read that fails: the decoder's handle loses its read access
    // while the decoder waits on a full ring, before its next refill.
    h = m()->input.Open(Data("vbrlong.mp3").c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    auto* inst = static_cast<MpegInstance*>(h);
    auto ringFree = [inst] { return inst->ring->capacity - inst->ring->used; };
    for (int i = 0; i < 500 && ringFree() >= 1152 * 4; ++i) Sleep(10);
    ASSERT_LT(ringFree(), 1152u * 4);
    HANDLE noRead = CreateFileA(Data("vbrlong.mp3").c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(noRead, INVALID_HANDLE_VALUE);
    HANDLE old = InterlockedExchangePointer(&inst->file, noRead);
    CloseHandle(old);
    EXPECT_EQ(ReadToEnd(m(), h, &bytes), VQ_READ_ERROR);
    EXPECT_GT(bytes, 65536u);  // the ring and the buffered input were delivered
    EXPECT_LT(bytes, Reference("vbrlong.raw").size() * 2);
    m()->input.Close(h);
}

TEST_F(MpegTest, ConvertsToAWantedFormat)
{
    StreamFormat want{1, 1, 22050, 44100, 2, 16};
    Decoded d = Decode(m(), Data("cbr.mp3"), &want);
    EXPECT_EQ(d.fmt.sampleRate, 22050);
    EXPECT_EQ(d.fmt.channels, 1);
    auto ref = Reference("cbr.raw");
    size_t frames = ref.size() / 2;
    EXPECT_NEAR((double)d.pcm.size(), frames / 2.0, 4);
    StreamFormat bad{1, 2, 44100, 352800, 8, 32};
    EXPECT_EQ(m()->input.Open(Data("cbr.mp3").c_str(), &bad), nullptr);
}

TEST_F(MpegTest, DurationAndBitrate)
{
    TrackInfo info{};
    // VBR with a Xing header of more than 537 KB: 64-bit arithmetic.
    strcpy(info.path, Data("vbrlong.mp3").c_str());
    ASSERT_EQ(m()->input.GetTagEx(&info), 1);
    double refSeconds = Reference("vbrlong.raw").size() / 2 / 44100.0;
    EXPECT_NEAR(info.duration, refSeconds, 0.06);
    std::vector<unsigned char> file;
    vqtest::ReadFile(Data("vbrlong.mp3"), file);
    EXPECT_NEAR(info.bitrate, file.size() * 8 / refSeconds, file.size() * 8 / refSeconds * 0.02);
    // A Xing frame count of 0 falls back to the header's bit rate.
    TrackInfo x{};
    strcpy(x.path, Data("xing0.mp3").c_str());
    ASSERT_EQ(m()->input.GetTagEx(&x), 1);
    EXPECT_GT(x.duration, 0.5);
    EXPECT_EQ(x.channels, 2);
    // CBR: audio bytes x 8 / bit rate, with the tags excluded.
    TrackInfo c{};
    strcpy(c.path, Data("cbr.mp3").c_str());
    ASSERT_EQ(m()->input.GetTagEx(&c), 1);
    EXPECT_EQ(c.bitrate, 192000);  // the frame header's rate, not the Info tag's counts
    EXPECT_STREQ(c.format, "MPEG");
    EXPECT_EQ(c.bits, 32);
    std::vector<unsigned char> cbrFile;
    vqtest::ReadFile(Data("cbr.mp3"), cbrFile);
    EXPECT_EQ(c.size, (uint64_t)cbrFile.size());
    EXPECT_NEAR(c.duration, 6.0, 0.1);
    // Beyond 512 MiB the duration still comes out right.
    std::string dir = vqtest::MakeTempDir("instrata_big");
    std::string big = dir + "\\big.mp3";
    // A stream without an info frame, so the size alone gives the duration.
    ASSERT_TRUE(CopyFileA(Data("part_st.mp3").c_str(), big.c_str(), FALSE));
    HANDLE hf = CreateFileA(big.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hf, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 600LL << 20;
    SetFilePointerEx(hf, size, nullptr, FILE_BEGIN);
    SetEndOfFile(hf);
    CloseHandle(hf);
    TrackInfo g{};
    strcpy(g.path, big.c_str());
    ASSERT_EQ(m()->input.GetTagEx(&g), 1);
    EXPECT_EQ(g.size, (uint64_t)(600LL << 20));
    EXPECT_EQ(g.bitrate, 128000);
    EXPECT_NEAR(g.duration, (600.0 * 1048576 * 8 / 128000), 0.01);
    vqtest::RemoveTree(dir);
}

TEST_F(MpegTest, TimesAndSeeking)
{
    auto ref = Reference("cbr.raw");
    void* h = m()->input.Open(Data("cbr.mp3").c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    double dur = m()->input.GetTime(2, h);
    EXPECT_GT(dur, 5.9);
    EXPECT_EQ(m()->input.GetTime(1, h), dur);
    EXPECT_EQ(m()->input.GetTime(0, h), 0.0);
    std::vector<char> buf(17640);
    // Read answers with what the decoder has ready, in whole frames.
    int first = m()->input.Read(buf.data(), 17640, h);
    ASSERT_GT(first, 0);
    EXPECT_EQ(first % 4, 0);
    EXPECT_NEAR(m()->input.GetTime(0, h), first / 176400.0, 1e-9);

    // Seek to the middle: the audio continues near 3 s of the reference.
    ASSERT_EQ(m()->input.SetTime(3.0, h), 1);
    EXPECT_NEAR(m()->input.GetTime(0, h), 3.0, 1e-6);
    std::vector<int16_t> got;
    while (got.size() < 8820) {
        int n = m()->input.Read(buf.data(), 17640, h);
        ASSERT_GT(n, 0);
        got.insert(got.end(), (int16_t*)buf.data(), (int16_t*)(buf.data() + n));
    }
    got.resize(8820);
    // Find where this block lies in the reference (within a few frames of 3 s).
    double best = -1e9;
    for (long start = (long)(2.9 * 44100); start < (long)(3.2 * 44100); ++start) {
        std::vector<int16_t> seg(ref.begin() + start * 2, ref.begin() + start * 2 + 8820);
        best = std::max(best, Snr(seg, got, 0, 0, seg.size()));
    }
    EXPECT_GT(best, 60.0);

    // Requests outside the stream are clamped.
    EXPECT_EQ(m()->input.SetTime(-4.0, h), 1);
    EXPECT_EQ(m()->input.GetTime(0, h), 0.0);
    // Read to the end, then seek back: the stream is still seekable.
    while (m()->input.Read(buf.data(), 17640, h) > 0) {
    }
    EXPECT_EQ(m()->input.Read(buf.data(), 17640, h), -1);
    EXPECT_EQ(m()->input.SetTime(1000.0, h), 1);
    EXPECT_NEAR(m()->input.GetTime(0, h), dur, 0.001);
    EXPECT_EQ(m()->input.SetTime(1.0, h), 1);
    EXPECT_GT(m()->input.Read(buf.data(), 17640, h), 0);
    EXPECT_EQ(m()->input.Close(h), 1);
}

// The decoder and Read hand audio over in large pieces: Read fills its
// request (half the ring for a larger one) unless the stream ends, and a
// decoder on a full ring waits until half of it is free.
// Resumes the decoder 600 ms after the reader is ready to wait for it, or
// at once when the reader is not ready within 10 s: a decoder suspended
// while it held the instance lock keeps the reader from getting there, and
// the test fails instead of hanging.
struct Resumer {
    HANDLE thread, ready;
    volatile bool late;
};

DWORD WINAPI ResumeLater(void* p)
{
    auto* r = static_cast<Resumer*>(p);
    if (WaitForSingleObject(r->ready, 10000) == WAIT_OBJECT_0)
        Sleep(600);
    else
        r->late = true;
    return ResumeThread(r->thread);
}

// Processor time of the calling thread so far, in milliseconds.
ULONGLONG ThreadCpuMs()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}}, u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (k.QuadPart + u.QuadPart) / 10000;
}

TEST_F(MpegTest, HandsOverInLargePieces)
{
    auto ref = Reference("vbrlong.raw");
    std::vector<char> buf(60000);
    for (int request : {17640, 60000}) {
        void* h = m()->input.Open(Data("vbrlong.mp3").c_str(), nullptr);
        ASSERT_NE(h, nullptr);
        std::vector<int> sizes;
        std::vector<int16_t> got;
        int n;
        while ((n = m()->input.Read(buf.data(), request, h)) > 0) {
            sizes.push_back(n);
            got.insert(got.end(), (int16_t*)buf.data(), (int16_t*)(buf.data() + n));
        }
        m()->input.Close(h);
        ASSERT_GT(sizes.size(), 2u);
        // A read fills its request (half the ring for a larger one); on a
        // loaded machine one can come short, but most are full and the
        // hand-overs stay about as few as full reads make.
        const int full = request < 32768 ? request : 32768;
        size_t fullReads = 0, bytes = got.size() * 2;
        for (size_t i = 0; i + 1 < sizes.size(); ++i) {
            ASSERT_LE(sizes[i], request) << "read " << i;
            ASSERT_EQ(sizes[i] % 4, 0) << "read " << i;
            fullReads += sizes[i] >= full;
        }
        EXPECT_GE(fullReads * 10, (sizes.size() - 1) * 9) << request;
        EXPECT_LE(sizes.size(), bytes / full * 11 / 10 + 2) << request;
        EXPECT_EQ(got.size(), ref.size()) << request;
    }

    void* h = m()->input.Open(Data("vbrlong.mp3").c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    RingBuffer* ring = static_cast<MpegInstance*>(h)->ring;
    auto used = [ring] { return *(volatile uint32_t*)&ring->used; };
    for (int i = 0; i < 500 && used() + 4608 <= ring->capacity; ++i) Sleep(10);
    ASSERT_GT(used() + 4608, ring->capacity);  // full: no room for another frame
    // Taking a few frames' worth does not start the decoder again...
    ASSERT_EQ(m()->input.Read(buf.data(), 17640, h), 17640);
    uint32_t left = used();
    Sleep(100);
    EXPECT_EQ(used(), left);
    // ...freeing half the ring does.
    ASSERT_EQ(m()->input.Read(buf.data(), 17640, h), 17640);
    for (int i = 0; i < 500 && used() + 4608 <= ring->capacity; ++i) Sleep(10);
    EXPECT_GT(used() + 4608, ring->capacity);

    // A decoder that cannot run (kept from it while it waits for room, as a
    // lower-priority thread on one processor is) makes Read wait for it,
    // not spin: the reader takes next to none of the processor meanwhile.
    auto* inst = static_cast<MpegInstance*>(h);
    for (int i = 0; i < 500 && !inst->writerNeed; ++i) Sleep(10);
    ASSERT_NE(inst->writerNeed, 0);
    static Resumer r;  // outlives an early return while the resumer runs
    r = {inst->thread, CreateEventA(nullptr, TRUE, FALSE, nullptr), false};
    ASSERT_NE(SuspendThread(inst->thread), (DWORD)-1);
    HANDLE resumer = CreateThread(nullptr, 0, ResumeLater, &r, 0, nullptr);
    ASSERT_TRUE(resumer != nullptr);
    while (used() > 0 && !r.late) ASSERT_GT(m()->input.Read(buf.data(), 60000, h), 0);
    ASSERT_FALSE(r.late) << "the suspended decoder kept the reader from the ring";
    SetEvent(r.ready);
    ULONGLONG cpu0 = ThreadCpuMs();
    DWORD t0 = GetTickCount();
    EXPECT_EQ(m()->input.Read(buf.data(), 17640, h), 17640);
    DWORD waited = GetTickCount() - t0;
    ULONGLONG spent = ThreadCpuMs() - cpu0;
    EXPECT_GE(waited, 400u);
    EXPECT_LT(spent * 4, (ULONGLONG)waited) << spent << " ms of processor in " << waited << " ms";
    WaitForSingleObject(resumer, INFINITE);
    CloseHandle(resumer);
    CloseHandle(r.ready);
    m()->input.Close(h);
}

TEST_F(MpegTest, CloseWithUndrainedRingAndParallelStreams)
{
    void* idle = m()->input.Open(Data("vbrlong.mp3").c_str(), nullptr);
    ASSERT_NE(idle, nullptr);
    Sleep(200);  // the ring fills and the decoder waits
    DWORD t0 = GetTickCount();
    EXPECT_EQ(m()->input.Close(idle), 1);
    EXPECT_LT(GetTickCount() - t0, 2000u);

    // Two streams at once give what each gives alone.
    auto alone = Decode(m(), Data("vbr.mp3")).pcm;
    void* a = m()->input.Open(Data("vbr.mp3").c_str(), nullptr);
    void* b = m()->input.Open(Data("vbr.mp3").c_str(), nullptr);
    ASSERT_TRUE(a && b);
    std::vector<int16_t> pa, pb;
    std::vector<char> buf(4410 * 4);
    bool endA = false, endB = false;
    while (!endA || !endB) {
        int n;
        if (!endA) {
            n = m()->input.Read(buf.data(), 3000 * 4, a);
            if (n < 1) endA = true;
            else pa.insert(pa.end(), (int16_t*)buf.data(), (int16_t*)(buf.data() + n));
        }
        if (!endB) {
            n = m()->input.Read(buf.data(), 4410 * 4, b);
            if (n < 1) endB = true;
            else pb.insert(pb.end(), (int16_t*)buf.data(), (int16_t*)(buf.data() + n));
        }
    }
    m()->input.Close(a);
    m()->input.Close(b);
    EXPECT_EQ(pa, alone);
    EXPECT_EQ(pb, alone);
}

struct TagRead {
    IVqProModule* m;
    TrackInfo* info;
    int result;
};

DWORD WINAPI TagReadThread(void* p)
{
    auto* r = static_cast<TagRead*>(p);
    r->result = r->m->input.GetTagEx(r->info);
    return 0;
}

// GetTagEx on a thread of its own: a read that has not ended within the
// limit fails the test and ends the program, which cannot go on while the
// read runs.
int GetTagExWithin(IVqProModule* m, TrackInfo* info, DWORD ms)
{
    TagRead r{m, info, -1};
    HANDLE t = CreateThread(nullptr, 0, TagReadThread, &r, 0, nullptr);
    if (!t) return -1;
    if (WaitForSingleObject(t, ms) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "reading the tag of " << info->path << " did not end within " << ms << " ms";
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    CloseHandle(t);
    return r.result;
}

TEST_F(MpegTest, ReadsTags)
{
    TrackInfo info{};
    strcpy(info.path, Data("tagged.mp3").c_str());
    strcpy(info.year, "keep");
    ASSERT_EQ(m()->input.GetTagEx(&info), 1);
    EXPECT_STREQ(info.author, "Tag Artist");
    EXPECT_STREQ(info.album, "Tag Album");
    EXPECT_STREQ(info.title, "Tag Title");
    EXPECT_STREQ(info.year, "1999");
    EXPECT_STREQ(info.description, "A comment");
    EXPECT_EQ(info.track, 5);
    EXPECT_STREQ(info.genre, "Rock");
    EXPECT_STREQ(info.rating, "<Not Set>");
    EXPECT_EQ(info.albumRepeatAfter, -1);
    EXPECT_EQ(info.repeatEvery, -1);
    EXPECT_GE(info.fileTime.year, 2020);

    struct G {
        const char* file;
        const char* genre;
    } genres[] = {{"genre_rx.mp3", "Remix"}, {"genre_cr.mp3", "Cover"}, {"genre_17more.mp3", "Rock"},
                  {"genre_148.mp3", "before"}, {"genre_text.mp3", "Trip-Hop"}, {"cbr.mp3", "<Not Set>"}};
    for (auto& g : genres) {
        TrackInfo t{};
        strcpy(t.path, Data(g.file).c_str());
        strcpy(t.genre, "before");
        t.playCount = 7;
        ASSERT_EQ(m()->input.GetTagEx(&t), 1) << g.file;
        EXPECT_STREQ(t.genre, g.genre) << g.file;
        if (strcmp(g.file, "genre_rx.mp3") == 0) {
            EXPECT_STREQ(t.title, "<Not Set>");
        }
        if (strcmp(g.file, "genre_17more.mp3") == 0) {
            EXPECT_EQ(t.bpm, 128.0);
            EXPECT_EQ(t.playCount, 42);
        }
        if (strcmp(g.file, "cbr.mp3") == 0) {
            EXPECT_STREQ(t.author, "<Not Set>");
            EXPECT_EQ(t.track, 0);
            EXPECT_EQ(t.playCount, 7);
        }
    }

    // ID3v2 tags as taggers write them, in each version and text encoding.
    // Unicode text comes out in the ANSI code page (1252 here); letters it
    // lacks become its default character, and a long text is cut to its field.
    const std::string e127(127, '\xE9');
    struct V {
        const char* file;
        const char* author;
        const char* title;
        const char* album;
        const char* year;
        const char* genre;
        int track;
        const char* comment;  // checked where given
    } versions[] = {
        {"tag24_ffmpeg.mp3", "Zo\xEB N\xFA\xF1" "ez", "Caf\xE9 No\xEBl", "\xC1lbum", "2019", "Rock", 3},
        {"tag24_footer.mp3", "Zo\xEB \xFF Artist", "Caf\xE9 Title", "Packed album", "2021", "Rock", 0},
        {"tag24_long.mp3", "?\xF3" "d?", e127.c_str(), "<Not Set>", "keep", "<Not Set>", 0},
        {"tag23_ffmpeg.mp3", "Zo\xEB N\xFA\xF1" "ez", "Caf\xE9 \xD1u", "<Not Set>", "keep", "<Not Set>", 0},
        {"tag23_long.mp3", "<Not Set>", e127.c_str(), "<Not Set>", "keep", "<Not Set>", 0},
        {"tag23_utf8.mp3", "Zo\xEB Utf8", "Caf\xE9 Be", "<Not Set>", "keep", "<Not Set>", 0},
        {"tag22_utf16.mp3", "Zo\xEB Two", "Caf\xE9 Two", "<Not Set>", "keep", "<Not Set>", 0},
        {"tag23_ipls_odd.mp3", "<Not Set>", "After people", "<Not Set>", "keep", "<Not Set>", 0},
        {"tag22_ipl_odd.mp3", "<Not Set>", "After people", "<Not Set>", "keep", "<Not Set>", 0},
        {"tag23_utf8_short.mp3", "Zo\xEB", "<Not Set>", "<Not Set>", "keep", "<Not Set>", 7},
        {"tag23_utf8_comment.mp3", "<Not Set>", "After comment", "<Not Set>", "keep", "<Not Set>", 0, "Utf8 comment"},
        {"tag24_bom.mp3", "Artist", "Title", "Album", "keep", "<Not Set>", 0},
        {"tag23_bom.mp3", "Artist", "Title", "Album", "keep", "<Not Set>", 0},
        {"tag24_plain.mp3", "After big", "Plain", "<Not Set>", "keep", "<Not Set>", 0},
        {"tag24_unsync.mp3", "\xFF" "A\xFF B", "Whole", "Group", "2020", "<Not Set>", 0},
        {"tag23_big.mp3", "Big artist", "Big title", "V1 album", "1999", "<Not Set>", 0},
    };
    for (auto& v : versions) {
        TrackInfo t{};
        strcpy(t.path, Data(v.file).c_str());
        strcpy(t.year, "keep");
        ASSERT_EQ(GetTagExWithin(m(), &t, 20000), 1) << v.file;
        EXPECT_STREQ(t.author, v.author) << v.file;
        EXPECT_STREQ(t.title, v.title) << v.file;
        EXPECT_STREQ(t.album, v.album) << v.file;
        EXPECT_STREQ(t.year, v.year) << v.file;
        EXPECT_STREQ(t.genre, v.genre) << v.file;
        EXPECT_EQ(t.track, v.track) << v.file;
        if (v.comment) {
            EXPECT_STREQ(t.description, v.comment) << v.file;
        }
    }
    // A compressed frame whose field is filled is not expanded, and one that
    // is expands only as far as its field can use.
    TagTexts packed{};
    ASSERT_TRUE(ReadId3v24Texts(Data("tag24_packed.mp3").c_str(), &packed));
    EXPECT_STREQ(packed.title, "Title");
    EXPECT_EQ(std::string(packed.album), std::string(127, 'A'));
    EXPECT_GT(packed.inflatedBytes, 127u);
    EXPECT_LE(packed.inflatedBytes, 2048u);
    // The audio starts after the footer of a version 2.4 tag.
    std::vector<unsigned char> footer;
    ASSERT_TRUE(vqtest::ReadFile(Data("tag24_footer.mp3"), footer));
    TrackInfo f{};
    strcpy(f.path, Data("tag24_footer.mp3").c_str());
    ASSERT_EQ(m()->input.GetTagEx(&f), 1);
    EXPECT_EQ(f.size, footer.size() - 20 - ((footer[6] << 21) | (footer[7] << 14) | (footer[8] << 7) | footer[9]));

    // GetTag on an open stream.
    void* h = m()->input.Open(Data("tagged.mp3").c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    TrackInfo s{};
    ASSERT_EQ(m()->input.GetTag(&s, h), 1);
    EXPECT_STREQ(s.title, "Tag Title");
    EXPECT_EQ(s.sampleRate, 44100);
    EXPECT_EQ(s.channels, 2);
    EXPECT_STREQ(s.path, Data("tagged.mp3").c_str());
    m()->input.Close(h);
}

std::vector<unsigned char> AudioPart(const std::vector<unsigned char>& f)
{
    size_t start = 0;
    if (f.size() > 10 && memcmp(f.data(), "ID3", 3) == 0)
        start = 10 + ((f[6] << 21) | (f[7] << 14) | (f[8] << 7) | f[9]);
    size_t end = f.size();
    if (end >= 128 && memcmp(&f[end - 128], "TAG", 3) == 0) end -= 128;
    return std::vector<unsigned char>(f.begin() + start, f.begin() + end);
}

TEST_F(MpegTest, WritesTagsWithoutTouchingAudio)
{
    std::string dir = vqtest::MakeTempDir("instrata_tags");
    std::string path = dir + "\\song.mp3";
    ASSERT_TRUE(CopyFileA(Data("tagged.mp3").c_str(), path.c_str(), FALSE));
    std::vector<unsigned char> before;
    vqtest::ReadFile(path, before);

    TrackInfo w{};
    strcpy(w.path, path.c_str());
    strcpy(w.author, "<Not Set>");
    strcpy(w.album, "New Album");
    std::string longTitle(120, 'T');
    strcpy(w.title, longTitle.c_str());
    strcpy(w.year, "2024");
    std::string longComment(250, 'c');
    strcpy(w.description, longComment.c_str());
    w.track = 12;
    strcpy(w.genre, "Ambient");
    ASSERT_EQ(m()->input.SetTagEx(&w), 1);

    std::vector<unsigned char> after;
    vqtest::ReadFile(path, after);
    // The file's existing tag has padding enough for the new frames, so the
    // tag is rewritten in place: the tag bytes change, the size need not.
    EXPECT_GE(after.size(), before.size());
    EXPECT_NE(after, before);
    EXPECT_EQ(AudioPart(after), AudioPart(before));

    // A file without a tag grows by the new one (the library rewrites the
    // whole file through a temporary copy).
    std::string plain = dir + "\\plain.mp3";
    ASSERT_TRUE(CopyFileA(Data("cbr.mp3").c_str(), plain.c_str(), FALSE));
    std::vector<unsigned char> plainBefore, plainAfter;
    vqtest::ReadFile(plain, plainBefore);
    ASSERT_NE(memcmp(plainBefore.data(), "ID3", 3), 0);
    TrackInfo wp = w;
    strcpy(wp.path, plain.c_str());
    ASSERT_EQ(m()->input.SetTagEx(&wp), 1);
    vqtest::ReadFile(plain, plainAfter);
    EXPECT_GT(plainAfter.size(), plainBefore.size());
    EXPECT_EQ(memcmp(plainAfter.data(), "ID3", 3), 0);
    EXPECT_EQ(AudioPart(plainAfter), plainBefore);
    TrackInfo rp{};
    strcpy(rp.path, plain.c_str());
    ASSERT_EQ(m()->input.GetTagEx(&rp), 1);
    EXPECT_STREQ(rp.title, longTitle.c_str());
    EXPECT_STREQ(rp.author, "<Not Set>");
    DeleteFileA(plain.c_str());

    // No temporary file is left beside them.
    WIN32_FIND_DATAA fd;
    HANDLE f = FindFirstFileA((dir + "\\*").c_str(), &fd);
    int files = 0;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
    } while (FindNextFileA(f, &fd));
    FindClose(f);
    EXPECT_EQ(files, 1);

    TrackInfo r{};
    strcpy(r.path, path.c_str());
    ASSERT_EQ(m()->input.GetTagEx(&r), 1);
    EXPECT_STREQ(r.author, "<Not Set>");  // removed, not written as text
    EXPECT_STREQ(r.album, "New Album");
    EXPECT_STREQ(r.title, longTitle.c_str());
    EXPECT_STREQ(r.year, "2024");
    EXPECT_STREQ(r.description, longComment.c_str());
    EXPECT_EQ(r.track, 12);
    EXPECT_STREQ(r.genre, "Ambient");

    // The library cannot rewrite a version 2.4 tag: the file is left as it is.
    std::string v24 = dir + "\\v24.mp3";
    ASSERT_TRUE(CopyFileA(Data("tag24_ffmpeg.mp3").c_str(), v24.c_str(), FALSE));
    std::vector<unsigned char> v24Before, v24After;
    vqtest::ReadFile(v24, v24Before);
    TrackInfo wv = w;
    strcpy(wv.path, v24.c_str());
    EXPECT_EQ(m()->input.SetTagEx(&wv), 0);
    vqtest::ReadFile(v24, v24After);
    EXPECT_EQ(v24After, v24Before);
    DeleteFileA(v24.c_str());

    // Failures are reported.
    TrackInfo missing{};
    strcpy(missing.path, (dir + "\\none.mp3").c_str());
    EXPECT_EQ(m()->input.SetTagEx(&missing), 0);
    HANDLE busy = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(m()->input.SetTagEx(&w), 0);
    CloseHandle(busy);
    vqtest::RemoveTree(dir);
}

// In a multi-byte code page a text is cut before a character that does not fit whole.
TEST(TagText, CutsAtWholeCharacters)
{
    struct C {
        const char* utf8;
        UINT codePage;
        size_t width;
        const char* want;
    } cases[] = {
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE6\x97\xA5", 932, 8, "\x93\xFA\x96\x7B\x8C\xEA"},  // 4 kanji, 3 fit
        {"a\xC3\xA9\xC3\xA9", 65001, 5, "a\xC3\xA9"},
        {"Caf\xC3\xA9", 1252, 5, "Caf\xE9"},
    };
    for (auto& c : cases) {
        char out[16];
        ASSERT_TRUE(TagTextToAnsi((const unsigned char*)c.utf8, strlen(c.utf8), kTagUtf8, out, c.width, c.codePage));
        EXPECT_STREQ(out, c.want) << c.codePage;
    }
}

// One byte-order mark at the start of a text is dropped in every encoding,
// and a second one after UTF-16's own.
TEST(TagText, DropsOneByteOrderMark)
{
    struct C {
        const char* bytes;
        size_t n;
        int encoding;
        const char* want;
    } cases[] = {
        {"\xEF\xBB\xBFTitle", 8, kTagUtf8, "Title"},
        {"\xEF\xBB\xBFTitle", 8, kTagLatin1, "Title"},
        {"\xFE\xFF\0A", 4, kTagUtf16Be, "A"},
        {"\xFE\xFF\xFE\xFF\0A", 6, kTagUtf16Be, "?A"},
        {"\xFF\xFE\xFF\xFE" "A\0", 6, kTagUtf16, "A"},
        {"\xFE\xFF\xFE\xFF\0A", 6, kTagUtf16, "A"},
    };
    for (auto& c : cases) {
        char out[16];
        ASSERT_TRUE(TagTextToAnsi((const unsigned char*)c.bytes, c.n, c.encoding, out, sizeof out, 1252));
        EXPECT_STREQ(out, c.want) << c.encoding << " " << c.n;
    }
}

TEST_F(MpegTest, BadInputFailsCleanly)
{
    const char* bad[] = {"empty.mp3", "tagonly.mp3", "id3past.mp3", "wav.mp3", "jpeg.mp3", "random.mp3", "missing.mp3"};
    std::string dir = vqtest::MakeTempDir("instrata_bad");
    for (const char* name : bad) {
        std::string src = vqtest::TestDataDir() + "\\in_strata\\bad\\" + name;
        std::string path = dir + "\\" + name;
        CopyFileA(src.c_str(), path.c_str(), FALSE);
        std::string logBefore = g_h.LogText();
        DWORD t0 = GetTickCount();
        EXPECT_EQ(m()->input.Open(path.c_str(), nullptr), nullptr) << name;
        TrackInfo info{};
        strcpy(info.path, path.c_str());
        EXPECT_EQ(m()->input.GetTagEx(&info), 0) << name;
        EXPECT_LT(GetTickCount() - t0, 5000u) << name;
        // Failures show in the results only: a log line would be a message box
        // per file when no log file is set.
        EXPECT_EQ(g_h.LogText(), logBefore) << name << ": the module wrote a log line";
        // Nothing was left open: the file can be deleted.
        if (strcmp(name, "missing.mp3") != 0) {
            EXPECT_TRUE(DeleteFileA(path.c_str())) << name;
        }
    }
    vqtest::RemoveTree(dir);
}

}  // namespace

// The CD module and its reading layer against the model disc: drive list and
// handles shared between processes, every read path compared byte for byte
// with the image, the read-method detection and its undoing read from the
// drive's command log, and broken track files and tables of contents.
#include <string.h>

#include <algorithm>

#include "aspi_defs.h"
#include "cd_fixture.h"
#include "cd_layer.h"
#include "scsi_pt.h"

namespace {

const uint32_t kSector = 2352;

// Short name of a logged command.
std::string Kind(const std::string& line)
{
    auto byte = [&](int i) { return strtol(line.substr(3 * i, 2).c_str(), nullptr, 16); };
    switch (byte(0)) {
    case 0x00: return "TUR";
    case 0x12: return "INQ";
    case 0x43: return "TOC";
    case 0x4B: return "PAUSE";
    case 0x28: return "28";
    case 0xD8: return "D8";
    case 0xD4: return "D4";
    case 0xBE: return byte(9) == 0x10 ? "BE10" : "BEF0";
    case 0x15:
        if (line.find("| 00 00 00 08 53 00 00 00 00 00 08 00") != std::string::npos) return "RESTORE";
        if (line.find("09 30 23 06") != std::string::npos) return "P23";
        if (line.find("09 30 01 06 20 07") != std::string::npos) return "P01";
        if (line.find("| 00 00 00 08 00 00 00 00 00 00 09 30") != std::string::npos) return "MS2352";
        return "MS?";
    default: return "?" + line;
    }
}

std::vector<std::string> Kinds(const std::vector<std::string>& lines, bool withToc = false)
{
    std::vector<std::string> k;
    for (auto& l : lines) {
        std::string s = Kind(l);
        if (s != "INQ" && (withToc || s != "TOC")) k.push_back(s);
    }
    return k;
}

std::vector<std::string> Repeat(std::vector<std::string> v, int times)
{
    std::vector<std::string> out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), v.begin(), v.end());
    return out;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::string Track(int n)
{
    char name[32];
    snprintf(name, sizeof name, "drive\\track%02d.cda", n);
    return CdData(name);
}

int RunChild(const char* mode, const std::string& path)
{
    // Built by appending: GCC 12 warns wrongly (-Wrestrict) about a literal + string here.
    std::string cmd = "\"";
    cmd += vqtest::BinDir() + "\\cd_child.exe\" " + mode + " \"" + path + "\"";
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return (int)code;
}

DriveOpenRequest Request(int adapter, int target)
{
    DriveOpenRequest r = {};
    r.size = sizeof r;
    r.version = 1;
    r.adapter = (uint8_t)adapter;
    r.target = (uint8_t)target;
    return r;
}

TEST_F(CdTest, ModuleRecord)
{
    EXPECT_EQ(m->h.Version, VQ_VERSION(1, 0, 0, 68));
    EXPECT_EQ(m->h.Kind, KindInput);
    EXPECT_EQ(m->h.Id, 5);
    EXPECT_STREQ(m->h.InternalName, "PylSoftCDAInputModule");
    EXPECT_STREQ(m->h.DisplayName, "PylSoft Digital Audio CD Input Module");
    EXPECT_EQ(strncmp(m->h.AboutText, "PylSoft Digital Audio CD Input Module v1.0.0.68", 47), 0);
    EXPECT_EQ(memcmp(m->input.FilterList, "Audio CD files (*.cda)\0*.cda\0", 30), 0);
    SettingRecord r;
    EXPECT_EQ(m->h.GetSetting(&r, 0, nullptr, nullptr), -1);
    EXPECT_EQ(m->h.QuerySetting(&r, 0, nullptr), 0);
    EXPECT_EQ(m->h.Configure(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(m->input.SetTagEx(nullptr), 0);
    EXPECT_EQ(m->input.Read(nullptr, 4, nullptr), -1);
    EXPECT_EQ(m->input.SetTime(1, nullptr), -1);
    EXPECT_EQ(m->input.GetTime(0, nullptr), -1.0);
    EXPECT_EQ(m->input.GetPcmFormat(nullptr, nullptr), -1);
    EXPECT_EQ(m->input.GetTag(nullptr, nullptr), 0);
    EXPECT_EQ(m->input.Open(nullptr, nullptr), nullptr);
    Start("a.model");
    EXPECT_NE(m->h.hIcon, nullptr);
    std::string log = vqtest::ReadText(logFile);
    EXPECT_NE(log.find("[PylSoftCDAInputModule::InitModule("), std::string::npos);
    EXPECT_NE(log.find("Initialization complete."), std::string::npos);
}

TEST_F(CdTest, DrivesAreListedAndSharedBetweenProcesses)
{
    Start("a.model", "drives 17");
    EXPECT_EQ(CdLayer_Interface(), APIC_ASPI);
    CdList list = {};
    list.capacity = 8;
    ASSERT_EQ(GetCDList(&list), 1);
    ASSERT_EQ(list.count, 8);  // 17 drives, 8 listed
    EXPECT_STREQ(list.entries[0].description, "VQTEST  , Fake CD-ROM      v1.00(0:0:0)");
    EXPECT_STREQ(list.entries[7].description, "VQTEST  , Fake CD-ROM      v1.00(0:7:0)");
    EXPECT_STREQ(list.entries[0].vendorSpecific, "model disc in tests!");

    EXPECT_EQ(getCDHandle(nullptr), 0);
    EXPECT_EQ(CdLayer_LastError(), CDERR_NO_REQUEST);
    DriveOpenRequest bad = Request(0, 0);
    bad.version = 2;
    EXPECT_EQ(getCDHandle(&bad), 0);
    EXPECT_EQ(CdLayer_LastError(), CDERR_BAD_REQUEST);

    std::vector<int> handles;
    for (int i = 0; i < 16; ++i) {
        DriveOpenRequest r = Request(i / 8, i % 8);
        int h = getCDHandle(&r);
        ASSERT_GE(h, 1) << i;
        handles.push_back(h);
    }
    std::sort(handles.begin(), handles.end());
    EXPECT_EQ(handles.front(), 1);
    EXPECT_EQ(handles.back(), 16);
    DriveOpenRequest again = Request(0, 0);
    EXPECT_EQ(getCDHandle(&again), 0);
    EXPECT_EQ(CdLayer_LastError(), CDERR_DRIVE_IN_USE);
    DriveOpenRequest seventeenth = Request(2, 0);
    EXPECT_EQ(getCDHandle(&seventeenth), 0);
    EXPECT_EQ(CdLayer_LastError(), CDERR_NO_SLOT);

    // Another process is refused the drive this one holds, until it is closed.
    EXPECT_EQ(RunChild("try", Track(1)), 20);
    for (int h : handles) EXPECT_EQ(closeCDHandle(h), 1);
    EXPECT_EQ(closeCDHandle(handles[0]), 0);
    EXPECT_EQ(RunChild("try", Track(1)), 10);
    // A process that dies holding a drive does not keep it.
    EXPECT_EQ(RunChild("die", Track(1)), 30);
    DriveOpenRequest first = Request(0, 0);
    int h = getCDHandle(&first);
    EXPECT_GE(h, 1);
    closeCDHandle(h);
}

struct ReadCase {
    const char* name;
    const char* knobs;
    bool passThrough;
    std::vector<std::string> firstCommands;  // read commands from the first read on
    bool restoreAtClose;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class CdReadTest : public CdTest, public ::testing::WithParamInterface<ReadCase> {};

const std::vector<std::string> kReadCd2 = {"TUR", "BEF0"}, kReadCd1 = {"TUR", "BE10"};

TEST_P(CdReadTest, TrackIsReadByteForByte)
{
    const ReadCase& c = GetParam();
    Start("a.model", c.knobs, c.passThrough);
    EXPECT_EQ(CdLayer_Interface(), c.passThrough ? APIC_SCSIPT : APIC_ASPI);
    void* h = m->input.Open(Track(2).c_str(), nullptr);
    ASSERT_NE(h, nullptr) << vqtest::ReadText(logFile);
    size_t opened = Kinds(Commands()).size();
    StreamFormat f = {77};
    ASSERT_EQ(m->input.GetPcmFormat(&f, h), 1);
    EXPECT_EQ(f.formatTag, 77);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.sampleRate, 44100);
    EXPECT_EQ(f.avgBytesPerSec, 176400);
    EXPECT_EQ(f.blockAlign, 4);
    EXPECT_EQ(f.bitsPerSample, 16);
    // 113 sectors: several ring refills and a short last one.
    auto got = ReadAll(h);
    auto want = Slice(2);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
    EXPECT_EQ(m->input.Read((char*)got.data(), 100, h), 0);
    EXPECT_DOUBLE_EQ(m->input.GetTime(0, h), 1 + 38 / 75.0);
    auto kinds = Kinds(Commands());
    std::vector<std::string> reads(kinds.begin() + opened, kinds.end());
    ASSERT_GE(reads.size(), c.firstCommands.size());
    EXPECT_EQ(std::vector<std::string>(reads.begin(), reads.begin() + c.firstCommands.size()), c.firstCommands);
    EXPECT_EQ(std::count(reads.begin(), reads.end(), "RESTORE"),
              std::count(c.firstCommands.begin(), c.firstCommands.end(), "RESTORE"));
    size_t before = Kinds(Commands()).size();
    EXPECT_EQ(m->input.Close(h), 1);
    auto after = Kinds(Commands());
    if (c.restoreAtClose) {
        ASSERT_EQ(after.size(), before + 1);
        EXPECT_EQ(after.back(), "RESTORE");
    } else {
        EXPECT_EQ(after.size(), before);
    }
}

const std::vector<std::string> kToMethod8 = Join({Repeat(kReadCd2, 3), Repeat(kReadCd1, 3), {"P23", "P01"}});

INSTANTIATE_TEST_SUITE_P(
    Methods, CdReadTest,
    ::testing::Values(
        ReadCase{"aspi", "", false, kReadCd2, false},
        ReadCase{"aspi_hollow", "hollow BEF0", false, Join({Repeat(kReadCd2, 3), kReadCd1}), false},
        ReadCase{"aspi_vendor", "works D8", false,
                 Join({kToMethod8, {"28", "28", "28", "RESTORE", "MS2352", "28", "28", "28", "RESTORE", "PAUSE", "D8"}}),
                 false},
        ReadCase{"aspi_mode", "works 28\nneedmode 1", false, Join({kToMethod8, {"28"}}), true},
        ReadCase{"aspi_hang", "hang BE 1", false, Join({kReadCd2, kReadCd2}), false},
        ReadCase{"passthrough", "", true, kReadCd2, false},
        ReadCase{"passthrough_retry", "failsector 200 2", true, kReadCd2, false},
        ReadCase{"passthrough_hollow", "hollow BEF0", true, Join({Repeat(kReadCd2, 3), kReadCd1}), false},
        ReadCase{"passthrough_mode", "works 28\nneedmode 1", true, Join({kToMethod8, {"28"}}), true},
        ReadCase{"passthrough_d4", "works D4", true,
                 Join({kToMethod8, {"28", "28", "28", "RESTORE", "MS2352", "28", "28", "28", "RESTORE", "PAUSE", "D8",
                                    "D8", "D8", "PAUSE", "D4"}}),
                 false}),
    [](const ::testing::TestParamInfo<ReadCase>& i) { return std::string(i.param.name); });

TEST_F(CdTest, SeekRetriesAndUnreadableSectors)
{
    // Sector 200 fails twice: the retries read it.
    Start("a.model", "failsector 200 2");
    void* h = m->input.Open(Track(2).c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    auto want = Slice(2);
    EXPECT_TRUE(ReadAll(h) == want);
    // 0.5 s of 1 s 38/75: trunc(0.5 / (113 / 75) x 113) = sector 37 of the track.
    EXPECT_DOUBLE_EQ(m->input.GetTime(2, h), 1 + 38 / 75.0);
    ASSERT_EQ(m->input.SetTime(0.5, h), 1);
    std::vector<char> buf(4 * kSector);
    ASSERT_EQ(m->input.Read(buf.data(), (int)buf.size(), h), (int)buf.size());
    EXPECT_EQ(memcmp(buf.data(), want.data() + 37 * kSector, buf.size()), 0);
    // Past the end: nothing more, and no underflow of the sectors left.
    ASSERT_EQ(m->input.SetTime(99, h), 1);
    EXPECT_EQ(m->input.Read(buf.data(), (int)buf.size(), h), 0);
    m->input.Close(h);
    Stop();

    // Sector 200 never reads: its block comes as silence, the track keeps its length.
    Start("a.model", "failsector 200 1000");
    level = LogError;
    h = m->input.Open(Track(2).c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    auto got = ReadAll(h);
    ASSERT_EQ(got.size(), want.size());
    int silent = 0;
    for (size_t s = 0; s < want.size() / kSector; ++s) {
        bool same = memcmp(got.data() + s * kSector, want.data() + s * kSector, kSector) == 0;
        bool zero = std::all_of(got.begin() + s * kSector, got.begin() + (s + 1) * kSector,
                                [](unsigned char b) { return b == 0; });
        EXPECT_TRUE(same || zero) << s;
        if (!same) ++silent;
    }
    EXPECT_GT(silent, 0);
    EXPECT_TRUE(std::all_of(got.begin() + 50 * kSector, got.begin() + 51 * kSector, [](unsigned char b) { return b == 0; }));
    std::string log = vqtest::ReadText(logFile);
    EXPECT_NE(log.find("][PylSoftCDAInputModule::Read("), std::string::npos);
    EXPECT_NE(log.find("Error reading sector "), std::string::npos);
    // The track is incomplete: its end is an error, and stays one.
    EXPECT_EQ(m->input.Read(buf.data(), (int)buf.size(), h), VQ_READ_ERROR);
    EXPECT_EQ(m->input.Read(buf.data(), (int)buf.size(), h), VQ_READ_ERROR);
    m->input.Close(h);
    Stop();

    // The same with conversion, whose clean end is -1.
    Start("a.model", "failsector 200 1000");
    StreamFormat mono = {1, 1, 22050, 44100, 2, 16};
    h = m->input.Open(Track(2).c_str(), &mono);
    ASSERT_NE(h, nullptr);
    EXPECT_NEAR((double)ReadAll(h, 4410).size(), want.size() / 4.0, 16);
    EXPECT_EQ(m->input.Read(buf.data(), 4410, h), VQ_READ_ERROR);
    m->input.Close(h);
}

bool IsRead(const std::string& kind)
{
    return kind == "BE10" || kind == "BEF0" || kind == "28" || kind == "D8" || kind == "D4";
}

// Start sectors of the logged read commands, in order.
std::vector<uint32_t> ReadLbas(const std::vector<std::string>& lines)
{
    std::vector<uint32_t> lbas;
    for (auto& l : lines) {
        if (!IsRead(Kind(l))) continue;
        uint32_t lba = 0;
        for (int i = 3; i <= 5; ++i) lba = lba << 8 | (uint32_t)strtoul(l.substr(3 * i, 2).c_str(), nullptr, 16);
        lbas.push_back(lba);
    }
    return lbas;
}

std::string LongTrack() { return CdData("long_track02.cda"); }

// The track's sectors as the disc image holds them (repeated over a longer disc).
std::vector<unsigned char> FromImage(uint32_t start, uint32_t sectors)
{
    std::vector<unsigned char> image, out;
    vqtest::ReadFile(CdData("disc.raw"), image);
    for (uint32_t s = start; s < start + sectors && !image.empty(); ++s) {
        size_t at = (size_t)s * kSector % image.size();
        out.insert(out.end(), image.begin() + at, image.begin() + at + kSector);
    }
    return out;
}

TEST_F(CdTest, DriveThatIsNotReadyAtFirstRecoversAtItsFirstGoodRead)
{
    // A drive spinning up (NOT READY for more reads than one round of
    // detection takes) and a disc with its first sectors damaged: the track is
    // silent up to the block of the first read the drive answered and equal to
    // the image from there on.
    struct Case {
        const char* model;
        std::string track;
        const char* knobs;
        int failingReads;
        uint32_t sectors;
    } cases[] = {
        {"a.model", Track(2), "notready 30", 30, 113},
        {"a.model", Track(2), "notready 120", 120, 113},
        // Five attempts of the whole detection on the damaged first block.
        {"a.model", Track(2), "failsector 150 1000", 105, 113},
        // Long enough that the drive is tried only once per second of audio.
        {"long.model", LongTrack(), "notready 2600", 2600, 4500},
    };
    level = LogError;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.knobs);
        Start(c.model, c.knobs);
        void* h = m->input.Open(c.track.c_str(), nullptr);
        ASSERT_NE(h, nullptr);
        auto got = ReadAll(h);
        m->input.Close(h);
        Stop();
        auto lbas = ReadLbas(Commands());
        DeleteFileA(commandLog.c_str());
        if (lbas.size() <= (size_t)c.failingReads) {
            ADD_FAILURE() << "the drive was given up after " << lbas.size() << " reads";
            continue;
        }
        uint32_t first = lbas[c.failingReads] - 150;
        auto want = FromImage(150, c.sectors);
        ASSERT_EQ(got.size(), want.size());
        ASSERT_LT(first, c.sectors);
        EXPECT_TRUE(std::all_of(got.begin(), got.begin() + first * kSector, [](unsigned char b) { return b == 0; }));
        EXPECT_TRUE(std::equal(got.begin() + first * kSector, got.end(), want.begin() + first * kSector))
            << "from sector " << first;
    }
}

DWORD WINAPI FastClock(void) { return GetTickCount() * 400; }

TEST_F(CdTest, DriveThatNeverReadsEndsTheTrackInBoundedTime)
{
    Start("long.model", "works none");
    level = LogError;
    void* h = m->input.Open(LongTrack().c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    DWORD t0 = GetTickCount();
    auto got = ReadAll(h);
    DWORD ms = GetTickCount() - t0;
    EXPECT_EQ(got.size(), 4500 * kSector);
    EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](unsigned char b) { return b == 0; }));
    // Detection is repeated on later reads: a hundred rounds of seven
    // candidates with three tries each, then one round per second of audio.
    size_t reads = ReadLbas(Commands()).size();
    EXPECT_GT(reads, 21u * 100);
    EXPECT_LE(reads, 21u * (100 + 60 + 1));
    // A bound, not a speed: detection on every read took minutes of real time
    // (far more again on an emulated processor or a busy machine).
    EXPECT_LT(ms, 120000u);
    char end[16];
    EXPECT_EQ(m->input.Read(end, sizeof end, h), VQ_READ_ERROR);
    m->input.Close(h);
    Stop();

    // A drive whose every command times out: 10 ms here for the layer's 4 s,
    // so the detection's clock runs 400 times faster. One round of detection
    // takes minutes then, far beyond the patience, and is not repeated before
    // as much audio has passed as that round took.
    DeleteFileA(commandLog.c_str());
    Start("long.model", "timeout 10");
    g_cdClock = FastClock;
    h = m->input.Open(LongTrack().c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    got = ReadAll(h);
    g_cdClock = GetTickCount;
    EXPECT_EQ(got.size(), 4500 * kSector);
    EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](unsigned char b) { return b == 0; }));
    // Fifteen read commands in a round (method 8 and 4 fail in their set-up).
    reads = ReadLbas(Commands()).size();
    EXPECT_GE(reads, 15u);
    EXPECT_LE(reads, 15u * 2);
    m->input.Close(h);
}

TEST_F(CdTest, EveryReadCommandFetchesAWholeRing)
{
    // Small reads are served from the ring, and the ring is refilled only
    // once it is empty: 26 sectors a command, a shorter one at the end only,
    // also after a seek.
    Start("a.model");
    void* h = m->input.Open(Track(2).c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    size_t opened = Commands().size();
    auto got = ReadAll(h, 4410);
    EXPECT_TRUE(got == Slice(2));
    ASSERT_EQ(m->input.SetTime(0.5, h), 1);  // sector 37 of the track
    std::vector<char> buf(4410);
    for (int i = 0; i < 30; ++i) ASSERT_EQ(m->input.Read(buf.data(), 4410, h), 4410);
    m->input.Close(h);
    auto lines = Commands();
    std::vector<std::string> reads;  // LBA (bytes 3-5) and count (byte 8) of each read
    for (size_t i = opened; i < lines.size(); ++i)
        if (IsRead(Kind(lines[i]))) reads.push_back(lines[i].substr(9, 8) + " " + lines[i].substr(24, 2));
    std::vector<std::string> want = {"00 00 96 1A", "00 00 B0 1A", "00 00 CA 1A", "00 00 E4 1A", "00 00 FE 09",
                                     "00 00 BB 1A", "00 00 D5 1A", "00 00 EF 18"};
    EXPECT_EQ(reads, want);
}

TEST_F(CdTest, ReadRequestsAreBounded)
{
    Start("a.model");
    DriveOpenRequest r = Request(0, 0);
    int h = getCDHandle(&r);
    ASSERT_GE(h, 1);
    ReadRequest* big = ReadRequest_Create(300);
    ASSERT_NE(big, nullptr);
    size_t before = Commands().size();
    // More sectors than the count byte holds, or none at all: nothing is sent.
    big->sectorCount = 300;
    EXPECT_EQ(readCDAudioLBA(h, big), 4);
    big->sectorCount = 0;
    EXPECT_EQ(readCDAudioLBA(h, big), 1);
    EXPECT_EQ(big->bytesRead, 0u);
    EXPECT_EQ(Commands().size(), before);
    // A request smaller than its count.
    big->capacity = 2 * kSector;
    big->sectorCount = 3;
    EXPECT_EQ(readCDAudioLBA(h, big), 4);
    EXPECT_EQ(CdLayer_LastError(), CDERR_SMALL_BUFFER);
    HeapFree(GetProcessHeap(), 0, big);
    closeCDHandle(h);
    EXPECT_EQ(readCDAudioLBA(h, nullptr), 4);
    EXPECT_EQ(CdLayer_LastError(), CDERR_BAD_HANDLE);

    // A track file with a length of 0 s: times stay 0, seeking stays in the track.
    void* t = m->input.Open(CdData("zero_msf.cda").c_str(), nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(m->input.GetTime(2, t), 0.0);
    EXPECT_EQ(m->input.SetTime(1.0, t), 1);
    std::vector<char> buf(400);
    EXPECT_EQ(m->input.Read(buf.data(), 400, t), 400);
    EXPECT_EQ(memcmp(buf.data(), Slice(2).data(), 400), 0);
    EXPECT_EQ(m->input.GetTime(0, t), 0.0);
    m->input.Close(t);
}

LPVOID(WINAPI* g_heapAlloc)(HANDLE, DWORD, SIZE_T);
volatile LONG g_failAllocOf;

// HeapAlloc that fails once for a block of the armed size.
LPVOID WINAPI FailingHeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes)
{
    if (bytes == (SIZE_T)g_failAllocOf && InterlockedExchange(&g_failAllocOf, 0)) return nullptr;
    return g_heapAlloc(heap, flags, bytes);
}

TEST_F(CdTest, ConversionOnRequest)
{
    Start("a.model");
    StreamFormat want = {1, 1, 22050, 44100, 2, 16};
    void* h = m->input.Open(Track(3).c_str(), &want);
    ASSERT_NE(h, nullptr);
    StreamFormat f = {};
    m->input.GetPcmFormat(&f, h);
    EXPECT_EQ(f.sampleRate, 22050);
    EXPECT_EQ(f.channels, 1);
    // Less than one output frame: nothing, and no error.
    std::vector<char> buf(4410);
    EXPECT_EQ(m->input.Read(buf.data(), 1, h), 0);
    auto got = ReadAll(h, 4410);
    // The end of the track is the clean end.
    EXPECT_EQ(m->input.Read(buf.data(), 4410, h), -1);
    m->input.Close(h);
    auto src = Slice(3);
    // Half the rate: output frame k is input frame 2k, mixed l/2 + r/2.
    size_t frames = got.size() / 2;
    EXPECT_NEAR((double)frames, src.size() / 4 / 2.0, 8);
    for (size_t k = 0; k < frames && 2 * k < src.size() / 4; k += 97) {
        int16_t l, r, o;
        memcpy(&l, &src[8 * k], 2);
        memcpy(&r, &src[8 * k + 2], 2);
        memcpy(&o, &got[2 * k], 2);
        ASSERT_EQ(o, (int16_t)(l / 2 + r / 2)) << k;
    }
    EXPECT_EQ(m->input.Open(Track(3).c_str(), nullptr) != nullptr, true);
    Stop();

    // A block the conversion has no memory for ends the stream on an error,
    // not at its end.
    Start("a.model");
    h = m->input.Open(Track(3).c_str(), &want);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(m->input.Read(buf.data(), 4410, h), 4410);
    void* previous = ReplaceImport("HeapAlloc", reinterpret_cast<void*>(FailingHeapAlloc), "kernel32.dll");
    ASSERT_NE(previous, nullptr);
    g_heapAlloc = reinterpret_cast<LPVOID(WINAPI*)(HANDLE, DWORD, SIZE_T)>(previous);
    g_failAllocOf = 17640;  // the native bytes of 4410 bytes at 22050 Hz mono
    int n = m->input.Read(buf.data(), 4410, h);
    ReplaceImport("HeapAlloc", previous, "kernel32.dll");
    EXPECT_EQ(g_failAllocOf, 0);
    EXPECT_EQ(n, VQ_READ_ERROR);
    m->input.Close(h);
}

TEST_F(CdTest, PassThroughEmulation)
{
    Start("a.model", "mediachanged 1\nport 0", true);
    ASSERT_EQ(CdLayer_Interface(), APIC_SCSIPT);
    CdList list = {};
    ASSERT_EQ(GetCDList(&list), 1);
    ASSERT_EQ(list.count, 1);
    EXPECT_STREQ(list.entries[0].description, "VQTEST  , Fake CD-ROM      v1.00(0:0:0)");
    EXPECT_STREQ(list.entries[0].vendorSpecific, "");  // only 36 inquiry bytes are kept

    SrbAdapterInquiry inq = {};
    inq.h.command = SC_HA_INQUIRY;
    inq.h.adapter = 1;
    EXPECT_EQ(Scsipt_SendCommand(&inq), SS_INVALID_HA);
    EXPECT_EQ(inq.adapterCount, 1);
    inq.h.adapter = 0;
    EXPECT_EQ(Scsipt_SendCommand(&inq), SS_COMP);
    EXPECT_EQ(std::string(inq.managerId, 16), "ZoASPI v0.000001");
    EXPECT_EQ(std::string(inq.adapterId, 16), "SCSI Adapter 0  ");
    EXPECT_EQ(inq.unique[3], 8);
    EXPECT_EQ(Scsipt_SendCommand(nullptr), SS_ERR);

    // The first command after the disc change fails inside, the drive is
    // probed again and the command repeated once.
    int opens = fakedev::Opens();
    void* h = m->input.Open(Track(1).c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    auto kinds = Kinds(Commands(), true);
    ASSERT_GE(kinds.size(), 2u);
    EXPECT_EQ(kinds[0], "TOC");
    EXPECT_EQ(kinds[1], "TOC");
    EXPECT_GT(fakedev::Opens(), opens + 1);
    auto got = ReadAll(h);
    EXPECT_TRUE(got == Slice(1));
    m->input.Close(h);
    Stop();
    EXPECT_EQ(fakedev::OpenHandles(), 0);
}

TEST_F(CdTest, BadTrackFilesAndTablesOfContents)
{
    Start("a.model");
    const char* bad[] = {"short_chunk.cda", "no_fmt.cda", "wrong_form.cda", "truncated.cda",
                         "empty.cda",       "other_disc.cda", "bad_track.cda", "missing.cda"};
    for (const char* name : bad) {
        std::string path = CdData(std::string("bad\\") + name);
        EXPECT_EQ(m->input.Open(path.c_str(), nullptr), nullptr) << name;
        EXPECT_EQ(m->input.IsOurFile(path.c_str()), 0) << name;
        TrackInfo info = {};
        lstrcpynA(info.path, path.c_str(), 255);
        EXPECT_EQ(m->input.GetTagEx(&info), 0) << name;
    }
    // Failed opens hold no drive: a good track still opens.
    void* h = m->input.Open(Track(1).c_str(), nullptr);
    EXPECT_NE(h, nullptr);
    m->input.Close(h);
    Stop();

    // Tables of contents that cannot be right: refused, never read past.
    const char* tocs[] = {"tocheader 3 1 34", "tocheader 1 3 10", "tocheader 1 99 40", "tocheader 0 3 34"};
    for (const char* knobs : tocs) {
        Start("a.model", knobs);
        EXPECT_EQ(m->input.Open(Track(2).c_str(), nullptr), nullptr) << knobs;
        Stop();
    }
}

TEST_F(CdTest, TrackFilesOnTheCdDrive)
{
    Start("a.model");
    if (GetDriveTypeA("V:\\") != DRIVE_CDROM) GTEST_SKIP() << "drive V: of the prefix is not a CD drive";
    EXPECT_EQ(m->input.IsOurFile("V:\\TRACK02.CDA"), 1);
    EXPECT_EQ(m->input.IsOurFile("V:\\track02.cda"), 1);
    // The same file on a hard disk is refused.
    std::string copy = dir + "\\track02.cda";
    CopyFileA(Track(2).c_str(), copy.c_str(), FALSE);
    EXPECT_EQ(m->input.IsOurFile(copy.c_str()), 0);
    // GetTagEx on an open track uses that instance and leaves it open.
    void* h = m->input.Open("V:\\track03.cda", nullptr);
    ASSERT_NE(h, nullptr);
    TrackInfo info = {};
    strcpy(info.path, "v:\\TRACK03.cda");
    EXPECT_EQ(m->input.GetTagEx(&info), 1);
    EXPECT_EQ(info.track, 3);
    EXPECT_STREQ(info.format, "cda");
    EXPECT_EQ(info.size, 40u * kSector);
    EXPECT_EQ(info.bitrate, 1411200);
    EXPECT_STREQ(info.path, "V:\\track03.cda");
    std::vector<char> buf(400);
    EXPECT_EQ(m->input.Read(buf.data(), 400, h), 400);
    m->input.Close(h);
}

int(__cdecl* g_stricmp)(const char*, const char*);
volatile LONG g_nullCompares;

// _stricmp that counts the NULL texts it is given (a crash on Windows).
int __cdecl CountingStricmp(const char* a, const char* b)
{
    if (a && b) return g_stricmp(a, b);
    InterlockedIncrement(&g_nullCompares);
    return a == b ? 0 : a ? 1 : -1;
}

struct TagScan {
    IVqProModule* m;
    std::string path;
    volatile LONG stop;
    int answers, wrong;
};

DWORD WINAPI ScanTags(void* p)
{
    auto* s = static_cast<TagScan*>(p);
    while (!s->stop) {
        TrackInfo info = {};
        lstrcpynA(info.path, s->path.c_str(), 255);
        if (s->m->input.GetTagEx(&info) != 1) continue;
        ++s->answers;
        if (info.track != 2 || s->path != info.path) ++s->wrong;
    }
    return 0;
}

TEST_F(CdTest, GetTagExOnAnotherThreadLooksOnlyAtOpenedInstances)
{
    // GetTagEx looks through the slots by path while Open, on this thread,
    // puts its instances into them and sets them up.
    Start("a.model", "drives 2");
    level = LogError;
    void* previous = ReplaceImport("_stricmp", reinterpret_cast<void*>(CountingStricmp));
    ASSERT_NE(previous, nullptr);
    g_stricmp = reinterpret_cast<int(__cdecl*)(const char*, const char*)>(previous);
    g_nullCompares = 0;
    TagScan scan = {m, Track(2), 0, 0, 0};
    HANDLE thread = CreateThread(nullptr, 0, ScanTags, &scan, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    int opened = 0;
    for (int i = 0; i < 20; ++i) {
        void* h = m->input.Open(Track(2).c_str(), nullptr);
        if (!h) continue;
        ++opened;
        m->input.Close(h);
    }
    InterlockedExchange(&scan.stop, 1);
    WaitForSingleObject(thread, 60000);
    CloseHandle(thread);
    ReplaceImport("_stricmp", previous);
    EXPECT_GT(opened, 0);
    EXPECT_GT(scan.answers, 0);
    EXPECT_EQ(scan.wrong, 0);
    EXPECT_EQ(g_nullCompares, 0);
}

}  // namespace

// End to end: the real modules folder (input modules, WAV encoder) converts an
// MP3 and a WAV; e2e_check.py then reads the results back with other tools.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <functional>
#include <string>
#include <vector>
#include "batch_run.h"
#include "test_support.h"

namespace {

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t Le16(const unsigned char* p) { return (uint16_t)(p[0] | p[1] << 8); }

TEST(EndToEnd, Mp3AndWavBatchConvertsWithTheRealModules)
{
    std::string mods = vqtest::ModulesDir();
    bool mp3 = vqtest::FileExists(mods + "\\in_strata.dll"), wav = vqtest::FileExists(mods + "\\in_linear.dll");
    if (!mp3 && !wav)
        GTEST_SKIP() << "in_strata.dll and in_linear.dll are not built yet";
    ASSERT_TRUE(vqtest::FileExists(mods + "\\enc_linear.dll"));

    std::string data = vqtest::TestDataDir() + "\\engine_e2e";
    std::string tmp = vqtest::MakeTempDir("e2e"), modCopy = tmp + "\\modules", src = tmp + "\\src";
    CreateDirectoryA(modCopy.c_str(), nullptr);
    CreateDirectoryA(src.c_str(), nullptr);
    vqtest::CopyInto(mods + "\\enc_linear.dll", modCopy);
    if (mp3) vqtest::CopyInto(mods + "\\in_strata.dll", modCopy);
    if (wav) vqtest::CopyInto(mods + "\\in_linear.dll", modCopy);

    std::string log = tmp + "\\e2e.log";
    std::string out = data + "\\out";
    struct Source {
        const char* name;
        int channels, rate;
    };
    std::vector<Source> sources;
    if (mp3) sources.push_back({"song_mp3.mp3", 2, 44100});
    if (wav) sources.push_back({"voice_wav.wav", 1, 22050});
    std::vector<std::string> paths;
    for (auto& s : sources) paths.push_back(vqtest::CopyInto(data + "\\src\\" + s.name, src));
    vqtest::BatchRun run = vqtest::ConvertFiles(modCopy, paths, out, log);
    EXPECT_EQ((mp3 ? 1 : 0) + (wav ? 1 : 0), run.inputsLoaded);
    ASSERT_EQ(1, run.encodersLoaded);
    EXPECT_EQ(0, run.result);
    EXPECT_EQ(sources.size(), run.actions.converted.size());
    EXPECT_TRUE(run.actions.failed.empty()) << vqtest::ReadText(log);

    // The Unix side of the data folder, for the check script's manifest.
    std::string unixData = getenv("VQ_E2E_DATA") ? getenv("VQ_E2E_DATA") : "";
    std::string manifest;
    for (auto& s : sources) {
        std::string base(s.name, (size_t)(strrchr(s.name, '.') - s.name));
        std::vector<unsigned char> f;
        ASSERT_TRUE(vqtest::ReadFile(out + "\\" + base + ".wav", f)) << base;
        ASSERT_GE(f.size(), 68u);
        EXPECT_EQ(0, memcmp(&f[0], "RIFF", 4));
        EXPECT_EQ(f.size() - 8, Le32(&f[4]));
        EXPECT_EQ(0xFFFE, Le16(&f[20]));
        EXPECT_EQ(s.channels, Le16(&f[22]));
        EXPECT_EQ((uint32_t)s.rate, Le32(&f[24]));
        EXPECT_EQ(16, Le16(&f[34]));
        EXPECT_GT(Le32(&f[64]), (uint32_t)s.rate);  // more than half a second of audio
        char line[1024];
        snprintf(line, sizeof(line), "%s/src/%s\t%s/out/%s.wav\t%d\t%d\t16\n", unixData.c_str(), s.name,
                 unixData.c_str(), base.c_str(), s.channels, s.rate);
        manifest += line;
    }
    ASSERT_TRUE(vqtest::WriteFile(out + "\\manifest.txt", manifest.data(), manifest.size()));
    vqtest::RemoveTree(tmp);
}

// Runs `fault` once, on the engine's thread, when the track has passed `at`
// (a fraction of its length); its clock has every block shown.
struct FaultOnTrack : NullProgressSink, EngineClock {
    double at;
    std::function<void()> fault;
    int trackMs = 0;
    unsigned ticks = 0;
    bool fired = false;
    FaultOnTrack(double a, std::function<void()> f) : at(a), fault(f) {}
    void SetBarRange(Bar bar, int maximum) override { trackMs = bar == BarTrack ? maximum : trackMs; }
    void SetBarPos(Bar bar, int pos) override
    {
        if (bar == BarTrack && !fired && trackMs > 0 && pos >= at * trackMs) fired = true, fault();
    }
    int Now() override { return (int)time(nullptr); }
    void Sleep(int ms) override { ::Sleep(ms); }
    unsigned Ticks() override { return ticks += 1000; }
};

// The module's handle on `path` is closed and a handle without read access
// takes its value, so the module's next ReadFile fails.
void TakeReadAccess(const std::string& path)
{
    auto open = [&] { return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, 3, nullptr, OPEN_EXISTING, 0, nullptr); };
    BY_HANDLE_FILE_INFORMATION want, info;
    HANDLE mine = open(), theirs = nullptr;
    ASSERT_TRUE(GetFileInformationByHandle(mine, &want));
    CloseHandle(mine);
    for (uintptr_t v = 4; v < 0x10000 && !theirs; v += 4)
        if (GetFileType((HANDLE)v) == FILE_TYPE_DISK && GetFileInformationByHandle((HANDLE)v, &info) &&
            info.nFileIndexLow == want.nFileIndexLow && info.nFileIndexHigh == want.nFileIndexHigh)
            theirs = (HANDLE)v;
    ASSERT_NE(nullptr, theirs);
    CloseHandle(theirs);
    ASSERT_EQ(theirs, open());
}

// A source that cannot be read to its end (its read access taken, or the
// file cut to a fraction of its size while read), with "Delete original
// files" on: the file is told as failed and stays.
TEST(EndToEnd, SourceThatBreaksOffWhileReadIsKept)
{
    struct Row {
        const char* name;
        double at, cut;  // fault at this fraction of the track; cut 0: the read access goes
    } rows[] = {{"voice_wav.wav", 0.4, 0}, {"voice_wav.wav", 0.4, 0.6},
                // The MPEG decoder has read its first 200000 bytes by the first block.
                {"long_mp3.mp3", 0, 0.3}, {"long_mp3.mp3", 0, 0}};
    std::string mods = vqtest::ModulesDir(), tmp = vqtest::MakeTempDir("e2ebreak"), modCopy = tmp + "\\modules";
    CreateDirectoryA(modCopy.c_str(), nullptr);
    for (const char* dll : {"enc_linear.dll", "in_linear.dll", "in_strata.dll"})
        if (vqtest::FileExists(mods + "\\" + dll)) vqtest::CopyInto(mods + "\\" + dll, modCopy);
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.name) + (r.cut ? " cut" : " without read access"));
        std::string src = tmp + "\\src", path = src + "\\" + r.name, log = tmp + "\\e2e.log";
        CreateDirectoryA(src.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA((vqtest::TestDataDir() + "\\engine_e2e\\src\\" + r.name).c_str(), path.c_str(), FALSE));
        FaultOnTrack fault(r.at, [&] {
            if (!r.cut) return TakeReadAccess(path);
            HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr);
            SetFilePointer(h, (LONG)(GetFileSize(h, nullptr) * r.cut), nullptr, FILE_BEGIN);
            EXPECT_TRUE(SetEndOfFile(h));
            CloseHandle(h);
        });
        vqtest::BatchRun run = vqtest::ConvertFiles(modCopy, {path}, tmp, log, true, &fault, &fault);
        EXPECT_TRUE(fault.fired);
        EXPECT_TRUE(run.actions.converted.empty());
        EXPECT_EQ(1u, run.actions.failed.size());
        EXPECT_TRUE(vqtest::FileExists(path));
        EXPECT_NE(std::string::npos, vqtest::ReadText(log).find("Error reading source file!")) << vqtest::ReadText(log);
        DeleteFileA(log.c_str());
        vqtest::RemoveTree(src);
    }
    vqtest::RemoveTree(tmp);
}

}  // namespace

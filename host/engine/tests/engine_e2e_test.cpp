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
        const char* dir;  // under the test data folder
        const char* name;
        int channels, rate, bits, subFormat;  // of the output; subFormat 0: the file fails alone
    };
    std::vector<Source> sources;
    if (mp3) sources.push_back({"engine_e2e\\src", "song_mp3.mp3", 2, 44100, 16, 1});
    if (wav) {
        // Integer stays integer, a damaged byte rate (sorted first) is repaired,
        // a block align that fits no sample width fails alone.
        sources.push_back({"engine_e2e\\src", "voice_wav.wav", 1, 22050, 16, 1});
        sources.push_back({"in_linear", "s32.wav", 2, 44100, 32, 1});
        sources.push_back({"in_linear", "badrate.wav", 2, 44100, 16, 1});
        sources.push_back({"in_linear\\bad", "bad_align.wav", 2, 44100, 16, 0});
    }
    std::string testData = vqtest::TestDataDir() + "\\";
    std::vector<std::string> paths;
    for (auto& s : sources) paths.push_back(vqtest::CopyInto(testData + s.dir + "\\" + s.name, src));
    vqtest::BatchRun run = vqtest::ConvertFiles(modCopy, paths, out, log);
    EXPECT_EQ((mp3 ? 1 : 0) + (wav ? 1 : 0), run.inputsLoaded);
    ASSERT_EQ(1, run.encodersLoaded);
    EXPECT_EQ(0, run.result);
    EXPECT_EQ(sources.size() - (wav ? 1 : 0), run.actions.converted.size());
    EXPECT_EQ(wav ? 1u : 0u, run.actions.failed.size()) << vqtest::ReadText(log);

    // The Unix side of the data folder, for the check script's manifest.
    std::string unixData = getenv("VQ_E2E_DATA") ? getenv("VQ_E2E_DATA") : "";
    std::string manifest;
    for (auto& s : sources) {
        std::string base(s.name, (size_t)(strrchr(s.name, '.') - s.name));
        std::vector<unsigned char> f, want;
        if (!s.subFormat) continue;
        ASSERT_TRUE(vqtest::ReadFile(out + "\\" + base + ".wav", f)) << base;
        ASSERT_GE(f.size(), 68u);
        EXPECT_EQ(0, memcmp(&f[0], "RIFF", 4));
        EXPECT_EQ(f.size() - 8, Le32(&f[4]));
        EXPECT_EQ(0xFFFE, Le16(&f[20]));
        EXPECT_EQ(s.channels, Le16(&f[22]));
        EXPECT_EQ((uint32_t)s.rate, Le32(&f[24]));
        EXPECT_EQ(s.bits, Le16(&f[34])) << base;
        EXPECT_EQ(s.subFormat, Le16(&f[44])) << base;
        if (strcmp(s.dir, "in_linear") == 0) {  // its data chunk comes out unchanged
            ASSERT_TRUE(vqtest::ReadFile(testData + "in_linear\\" + base + ".data", want)) << base;
            EXPECT_TRUE(std::vector<unsigned char>(f.begin() + 68, f.end()) == want) << base;
            continue;
        }
        EXPECT_GT(Le32(&f[64]), (uint32_t)s.rate);  // more than half a second of audio
        char line[1024];
        snprintf(line, sizeof(line), "%s/src/%s\t%s/out/%s.wav\t%d\t%d\t16\n", unixData.c_str(), s.name,
                 unixData.c_str(), base.c_str(), s.channels, s.rate);
        manifest += line;
    }
    ASSERT_TRUE(vqtest::WriteFile(out + "\\manifest.txt", manifest.data(), manifest.size()));
    vqtest::RemoveTree(tmp);
}

TEST(EndToEnd, OutputsReplaceNoSourceOfTheBatchNorAnotherSourcesOutput)
{
    std::string mods = vqtest::ModulesDir();
    if (!vqtest::FileExists(mods + "\\in_strata.dll") || !vqtest::FileExists(mods + "\\in_linear.dll"))
        GTEST_SKIP() << "in_strata.dll and in_linear.dll are not built yet";
    std::string data = vqtest::TestDataDir() + "\\engine_e2e\\src\\", tmp = vqtest::MakeTempDir("e2e");
    std::string modCopy = tmp + "\\modules", src = tmp + "\\src", out = tmp + "\\out", log = tmp + "\\e2e.log";
    for (const std::string& d : {modCopy, src, out}) CreateDirectoryA(d.c_str(), nullptr);
    for (const char* m : {"enc_linear", "in_strata", "in_linear"}) vqtest::CopyInto(mods + "\\" + m + ".dll", modCopy);
    std::string mp3 = src + "\\song.mp3", wav = src + "\\song.wav";
    ASSERT_TRUE(CopyFileA((data + "song_mp3.mp3").c_str(), mp3.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((data + "voice_wav.wav").c_str(), wav.c_str(), FALSE));
    std::vector<unsigned char> original, now;
    ASSERT_TRUE(vqtest::ReadFile(wav, original));

    // Into the sources' own folder: song.mp3 would become song.wav, a source not yet converted.
    vqtest::BatchRun run = vqtest::ConvertFiles(modCopy, {mp3, wav}, src, log);
    EXPECT_EQ((std::vector<std::string>{mp3, wav}), run.actions.failed);
    ASSERT_TRUE(vqtest::ReadFile(wav, now));
    EXPECT_TRUE(now == original);

    // Into one folder, originals deleted: song.wav would replace the output of song.mp3.
    run = vqtest::ConvertFiles(modCopy, {mp3, wav}, out, log, true);
    EXPECT_EQ(std::vector<std::string>{mp3}, run.actions.converted);
    EXPECT_EQ(std::vector<std::string>{wav}, run.actions.failed);
    EXPECT_FALSE(vqtest::FileExists(mp3));
    ASSERT_TRUE(vqtest::ReadFile(wav, now));
    EXPECT_TRUE(now == original);
    ASSERT_TRUE(vqtest::ReadFile(out + "\\song.wav", now));
    ASSERT_GE(now.size(), 68u);
    EXPECT_EQ(2, Le16(&now[22]));  // the MP3's stereo, not the WAV's mono
    EXPECT_NE(std::string::npos, vqtest::ReadText(log).find("already used by the output of another file"));

    // Each output beside its source, song.wav listed through a linked folder:
    // the MP3's output would replace the WAV's under another spelling.
    std::string linked = vqtest::TestDataDir() + "\\engine_e2e\\linked";
    std::string real = linked + "\\real", link = linked + "\\link";
    ASSERT_TRUE(CopyFileA(wav.c_str(), (real + "\\song.wav").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((data + "song_mp3.mp3").c_str(), (real + "\\song.mp3").c_str(), FALSE));
    run = vqtest::ConvertFiles(modCopy, {real + "\\song.mp3", link + "\\song.wav"}, out, log, true, nullptr, nullptr,
                               "%p\\%f_out.wav");
    EXPECT_EQ(std::vector<std::string>{link + "\\song.wav"}, run.actions.converted);
    EXPECT_EQ(std::vector<std::string>{real + "\\song.mp3"}, run.actions.failed);
    EXPECT_TRUE(vqtest::FileExists(real + "\\song.mp3"));
    ASSERT_TRUE(vqtest::ReadFile(real + "\\song_out.wav", now));
    ASSERT_GE(now.size(), 68u);
    EXPECT_EQ(1, Le16(&now[22]));  // the WAV's mono
    vqtest::RemoveTree(tmp);
}

// True when the file could be renamed (and was given its name back).
int Renames(const std::string& path)
{
    return MoveFileA(path.c_str(), (path + "~").c_str()) && MoveFileA((path + "~").c_str(), path.c_str());
}

// Tries to rename sources of the batch as files begin (their track range is
// set): the second file and the last one as the first begins, the last one
// again as the one before it begins.
struct RenamesAsFilesBegin : NullProgressSink {
    const std::vector<std::string>& paths;
    int begun = 0, second = -1, lastAtFirst = -1, lastAtItsTurn = -1;
    explicit RenamesAsFilesBegin(const std::vector<std::string>& p) : paths(p) {}
    void SetBarRange(Bar bar, int) override
    {
        if (bar != BarTrack) return;
        if (begun == 0) second = Renames(paths[1]), lastAtFirst = Renames(paths.back());
        if (begun == (int)paths.size() - 2) lastAtItsTurn = Renames(paths.back());
        begun++;
    }
};

// Many sources under a small limit of open files, set for a Wine server of
// its own by the ctest entry engine_e2e_fd_limit: every file is converted,
// the log tells once how many sources wait unheld, the sources that fit are
// held from the start and those that wait are held once earlier files are
// done.
TEST(EndToEnd, ManySourcesUnderALimitOfOpenFiles)
{
    int n = getenv("VQ_FD_LIMIT_SOURCES") ? atoi(getenv("VQ_FD_LIMIT_SOURCES")) : 0;
    if (n <= 0)
        GTEST_SKIP() << "run by engine_e2e_fd_limit";
    std::string mods = vqtest::ModulesDir(), tmp = vqtest::MakeTempDir("e2efds"), modCopy = tmp + "\\modules";
    std::string src = tmp + "\\src", out = tmp + "\\out", log = tmp + "\\e2e.log";
    for (const std::string& d : {modCopy, src, out}) CreateDirectoryA(d.c_str(), nullptr);
    for (const char* m : {"enc_linear", "in_linear"}) vqtest::CopyInto(mods + "\\" + m + ".dll", modCopy);
    std::vector<std::string> paths;
    for (int i = 0; i < n; i++) {
        char name[32];
        snprintf(name, sizeof(name), "\\s%04d.wav", i);
        paths.push_back(src + name);
        ASSERT_TRUE(CopyFileA((vqtest::TestDataDir() + "\\in_linear\\r11k.wav").c_str(), paths.back().c_str(), FALSE));
    }
    RenamesAsFilesBegin renames(paths);
    vqtest::BatchRun run = vqtest::ConvertFiles(modCopy, paths, out, log, false, &renames);
    EXPECT_EQ((size_t)n, run.actions.converted.size());
    EXPECT_TRUE(run.actions.failed.empty()) << run.actions.failed[0];
    std::string text = vqtest::ReadText(log);
    size_t line = text.find("source files are not held until their turn");
    EXPECT_NE(std::string::npos, line) << text;
    EXPECT_EQ(std::string::npos, text.find("source files are not held", line + 1));
    EXPECT_EQ(n, renames.begun);
    EXPECT_EQ(0, renames.second);         // held from the start
    EXPECT_EQ(1, renames.lastAtFirst);    // waits unheld
    EXPECT_EQ(0, renames.lastAtItsTurn);  // held since earlier files were done
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

// Every handle of the process on `path` (the module's, and the engine's hold)
// is closed and a handle without read access takes its value, so the
// module's next ReadFile fails.
void TakeReadAccess(const std::string& path)
{
    auto open = [&] { return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, 3, nullptr, OPEN_EXISTING, 0, nullptr); };
    BY_HANDLE_FILE_INFORMATION want, info;
    HANDLE mine = open();
    ASSERT_TRUE(GetFileInformationByHandle(mine, &want));
    CloseHandle(mine);
    int taken = 0;
    for (uintptr_t v = 4; v < 0x10000; v += 4)
        if (GetFileType((HANDLE)v) == FILE_TYPE_DISK && GetFileInformationByHandle((HANDLE)v, &info) &&
            info.nFileIndexLow == want.nFileIndexLow && info.nFileIndexHigh == want.nFileIndexHigh) {
            CloseHandle((HANDLE)v);
            ASSERT_EQ((HANDLE)v, open());
            taken++;
        }
    ASSERT_GE(taken, 1);
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
        // The file is cut by a writer that had it open before the batch began
        // (the engine holds its sources against writers that come later).
        HANDLE writer = r.cut ? CreateFileA(path.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr)
                              : INVALID_HANDLE_VALUE;
        FaultOnTrack fault(r.at, [&] {
            if (!r.cut) return TakeReadAccess(path);
            SetFilePointer(writer, (LONG)(GetFileSize(writer, nullptr) * r.cut), nullptr, FILE_BEGIN);
            EXPECT_TRUE(SetEndOfFile(writer));
        });
        vqtest::BatchRun run = vqtest::ConvertFiles(modCopy, {path}, tmp, log, true, &fault, &fault);
        if (writer != INVALID_HANDLE_VALUE)
            CloseHandle(writer);
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

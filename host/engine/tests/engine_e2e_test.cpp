// End to end: the real modules folder (input modules, WAV encoder) converts an
// MP3 and a WAV; e2e_check.py then reads the results back with other tools.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>
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
    vqtest::RemoveTree(tmp);
}

}  // namespace

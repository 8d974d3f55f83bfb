// A track of the CD in drive V: converted end to end by the batch engine
// with the real CD module and WAV encoder: the WAV's data equals the image.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "engine.h"
#include "module_loader.h"
#include "test_support.h"

namespace {

class Actions : public EngineActions {
public:
    std::vector<std::string> converted, failed;
    void FileFinished(const char* path, bool ok) override { (ok ? converted : failed).push_back(path); }
};

bool SetText(IVqProModule* m, int index, const std::string& value)
{
    SettingRecord r;
    if (m->h.GetSetting(&r, index, VQ_HOST_SECTION, nullptr) != (int)SettingType::Text) return false;
    memset(r.currentValue, 0, sizeof(r.currentValue));
    strcpy((char*)r.currentValue, value.c_str());
    return m->h.SetSetting(&r, index, VQ_HOST_SECTION, nullptr) >= 0;
}

TEST(CdEndToEnd, TrackOfTheCdDriveBecomesAWav)
{
    if (GetDriveTypeA("V:\\") != DRIVE_CDROM) GTEST_SKIP() << "drive V: of the prefix is not a CD drive";
    std::string tmp = vqtest::MakeTempDir("cde2e"), mods = tmp + "\\modules", out = tmp + "\\out";
    CreateDirectoryA(mods.c_str(), nullptr);
    CreateDirectoryA(out.c_str(), nullptr);
    vqtest::CopyInto(vqtest::ModulesDir() + "\\in_platter.dll", mods);
    vqtest::CopyInto(vqtest::ModulesDir() + "\\enc_linear.dll", mods);
    std::string log = tmp + "\\e2e.log";
    int level = 15;
    static IVqProModule *inputs[32], *encoders[32], *captures[32], *dsps[32];
    ASSERT_EQ(1, LoadModules(mods.c_str(), KindInput, inputs, log.c_str(), &level));
    ASSERT_EQ(1, LoadModules(mods.c_str(), KindEncoder, encoders, log.c_str(), &level));
    ASSERT_TRUE(SetText(encoders[0], 0, out));
    ASSERT_TRUE(SetText(encoders[0], 1, "%f.wav"));

    SortedFileRows rows;
    ASSERT_TRUE(rows.Add("V:\\track02.cda"));
    NullProgressSink sink;
    Actions actions;
    std::atomic<int> stop{0}, pause{0};
    EngineContext ctx;
    EngineContextInit(&ctx);
    ctx.modules = {inputs, encoders, captures, dsps};
    ctx.encoderIndex = 0;
    ctx.files = &rows;
    ctx.sink = &sink;
    ctx.actions = &actions;
    ctx.stopFlag = &stop;
    ctx.pauseFlag = &pause;
    ctx.logFile = log.c_str();
    ctx.logLevel = &level;
    EXPECT_EQ(0, ProccessFiles(&ctx));
    UnloadModules(inputs);
    UnloadModules(encoders);
    ASSERT_EQ(actions.converted.size(), 1u) << vqtest::ReadText(log);

    std::vector<unsigned char> wav, slice;
    ASSERT_TRUE(vqtest::ReadFile(out + "\\track02.wav", wav));
    const char* data = getenv("VQ_FAKE_CD_MODEL");
    ASSERT_NE(data, nullptr);
    std::string model = data;
    std::string sliceUnix = model.substr(0, model.find_last_of('/')) + "/slices/track02.raw";
    std::string slicePath = "Z:" + sliceUnix;
    std::replace(slicePath.begin(), slicePath.end(), '/', '\\');
    ASSERT_TRUE(vqtest::ReadFile(slicePath, slice));
    // The data chunk, found by walking the chunks.
    size_t at = 12;
    while (at + 8 <= wav.size() && memcmp(&wav[at], "data", 4) != 0) {
        uint32_t size;
        memcpy(&size, &wav[at + 4], 4);
        at += 8 + size + (size & 1);
    }
    ASSERT_LE(at + 8, wav.size());
    uint32_t size;
    memcpy(&size, &wav[at + 4], 4);
    ASSERT_EQ(size, slice.size());
    EXPECT_EQ(memcmp(&wav[at + 8], slice.data(), slice.size()), 0);
    vqtest::RemoveTree(tmp);
}

}  // namespace

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

#include "batch_run.h"
#include "test_support.h"

namespace {

TEST(CdEndToEnd, TrackOfTheCdDriveBecomesAWav)
{
    if (GetDriveTypeA("V:\\") != DRIVE_CDROM) GTEST_SKIP() << "drive V: of the prefix is not a CD drive";
    std::string tmp = vqtest::MakeTempDir("cde2e"), mods = tmp + "\\modules", out = tmp + "\\out";
    CreateDirectoryA(mods.c_str(), nullptr);
    CreateDirectoryA(out.c_str(), nullptr);
    vqtest::CopyInto(vqtest::ModulesDir() + "\\in_platter.dll", mods);
    vqtest::CopyInto(vqtest::ModulesDir() + "\\enc_linear.dll", mods);
    std::string log = tmp + "\\e2e.log";
    vqtest::BatchRun run = vqtest::ConvertFiles(mods, {"V:\\track02.cda"}, out, log);
    ASSERT_EQ(1, run.inputsLoaded);
    ASSERT_EQ(1, run.encodersLoaded);
    EXPECT_EQ(0, run.result);
    ASSERT_EQ(run.actions.converted.size(), 1u) << vqtest::ReadText(log);

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

// The real cap_jack.dll over the system's waveIn functions. ctest runs it twice:
// with no sound card (VQ_CAPTURE_EXPECT=none) and with ALSA's null device as
// the default (VQ_CAPTURE_EXPECT=null, HOME holds an .asoundrc), which records
// silence.
#include <gtest/gtest.h>
#include <windows.h>
#include <mmsystem.h>

#include <stdlib.h>
#include <string>
#include <vector>

#include "test_support.h"
#include "vq_module.h"

namespace {

class CapJackWinmm : public ::testing::Test {
protected:
    std::string dir, log;
    HMODULE lib = nullptr;
    IVqProModule* m = nullptr;
    int level = 1;

    void SetUp() override
    {
        dir = vqtest::MakeTempDir("capwinmm");
        log = dir + "\\capture.log";
        std::string dll = vqtest::CopyInto(vqtest::ModulesDir() + "\\cap_jack.dll", dir);
        lib = LoadLibraryA(dll.c_str());
        ASSERT_NE(nullptr, lib) << GetLastError();
        auto get = reinterpret_cast<GetModuleInterfaceFn>(GetProcAddress(lib, "GetModuleInterface"));
        ASSERT_NE(nullptr, get);
        m = get();
        ASSERT_EQ(KindCapture, m->h.Kind);
        m->h.hInstance = lib;
        ASSERT_EQ(1, m->h.InitModule(log.c_str(), &level));
    }

    void TearDown() override
    {
        if (m)
            m->h.QuitModule();
        if (lib)
            FreeLibrary(lib);
        vqtest::RemoveTree(dir);
    }

    std::string Expect()
    {
        const char* e = getenv("VQ_CAPTURE_EXPECT");
        return e ? e : "none";
    }
};

TEST_F(CapJackWinmm, DeviceListAndRecordingThroughTheSystem)
{
    SettingRecord dev;
    ASSERT_EQ(1, m->h.QuerySetting(&dev, 0, nullptr));
    UINT devices = waveInGetNumDevs();

    if (Expect() == "none") {
        ASSERT_EQ(0u, devices) << "this machine has a capture device";
        EXPECT_EQ(1, dev.constraint);
        EXPECT_EQ(-1, SettingLoad<int32_t>(dev.limits));
        EXPECT_STREQ("No audio device installed!\t", dev.labels);
        // Opening fails with a log line (a log file is set, so no box appears).
        EXPECT_EQ(nullptr, m->capture.Open(nullptr, VQ_HOST_SECTION));
        std::string text = vqtest::ReadText(log);
        EXPECT_NE(std::string::npos, text.find("Error opening input device (Err: 0x")) << text;
        return;
    }

    if (devices == 0)
        GTEST_SKIP() << "ALSA's null device gives this Wine build no waveIn device";
    EXPECT_EQ(static_cast<int>(devices) + 1, dev.constraint);
    SettingRecord fmt;
    m->h.QuerySetting(&fmt, 1, nullptr);
    EXPECT_STRNE("", fmt.labels);

    const StreamFormat cd = {1, 2, 44100, 176400, 4, 16};
    void* h = m->capture.Open(&cd, VQ_HOST_SECTION);
    ASSERT_NE(nullptr, h) << vqtest::ReadText(log);
    std::vector<char> buf(17640);
    size_t total = 0;
    bool silent = true;
    DWORD start = GetTickCount();
    while (total < 17640 * 3 && GetTickCount() - start < 5000) {
        int n = m->capture.Read(buf.data(), static_cast<int>(buf.size()), h);
        ASSERT_GE(n, 0);
        EXPECT_EQ(0, n % 4);
        for (int i = 0; i < n; ++i)
            silent = silent && buf[i] == 0;
        total += n;
        if (n == 0)
            Sleep(50);
    }
    EXPECT_GE(total, 17640u * 3) << "the null device delivered too little";
    EXPECT_TRUE(silent);
    EXPECT_NEAR(total / 176400.0, m->capture.GetTime(h), 1e-9);

    EXPECT_EQ(1, m->capture.Pause(1, h));
    EXPECT_EQ(1, m->capture.Pause(0, h));
    DWORD closeStart = GetTickCount();
    EXPECT_EQ(1, m->capture.Close(h));
    EXPECT_LT(GetTickCount() - closeStart, 2000u);
}

}  // namespace

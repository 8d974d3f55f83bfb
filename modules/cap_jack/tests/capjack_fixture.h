// Shared set-up for tests that drive the capture module, compiled into the test
// program, against the fake waveIn device.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "cap_jack.h"
#include "fake_wavein.h"
#include "test_support.h"

class CapJackTest : public ::testing::Test {
protected:
    IVqProModule* m = capjack::Module();
    std::string dir;
    std::string log;
    std::string ini;
    int level = 1;

    // The settings file beside the test program (the module's handle is the program's).
    static std::string IniPath()
    {
        char path[MAX_PATH];
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string p = path;
        return p.substr(0, p.find_last_of('.')) + ".ini";
    }

    void SetUp() override
    {
        dir = vqtest::MakeTempDir("capjack");
        log = dir + "\\capture.log";
        ini = IniPath();
        DeleteFileA(ini.c_str());
        m->h.hInstance = GetModuleHandleA(nullptr);
    }

    // Installs the device and initialises the module against it.
    void Init(const fakewave::Config& config)
    {
        fakewave::Install(config);
        ASSERT_EQ(1, m->h.InitModule(log.c_str(), &level));
        initialised = true;
    }

    void TearDown() override
    {
        if (initialised)
            m->h.QuitModule();
        EXPECT_EQ(0, capjack::OpenInstanceCount());
        EXPECT_EQ(0, fakewave::OpenDevices());
        fakewave::Stats s = fakewave::GetStats();
        EXPECT_EQ(s.prepares, s.unprepares);
        for (const std::string& v : s.violations)
            ADD_FAILURE() << "buffer protocol: " << v;
        fakewave::Uninstall();
        DeleteFileA(ini.c_str());
        vqtest::RemoveTree(dir);
    }

    std::string LogText() { return vqtest::ReadText(log); }

    SettingRecord Query(int index)
    {
        SettingRecord rec;
        memset(&rec, 0, sizeof rec);
        m->h.QuerySetting(&rec, index, nullptr);
        return rec;
    }

    bool initialised = false;
};

// A device that accepts only 44.1 kHz and 48 kHz at 16 bits.
inline bool Only16Bit441And48(int, const WAVEFORMATEX* f)
{
    return f->wBitsPerSample == 16 && (f->nSamplesPerSec == 44100 || f->nSamplesPerSec == 48000);
}

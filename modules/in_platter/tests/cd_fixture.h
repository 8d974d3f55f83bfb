// The CD module compiled into the test program, started over a disc model
// served by the test ASPI manager or by the pass-through device table.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "disc_model.h"
#include "fake_device.h"
#include "test_support.h"
#include "vq_log.h"
#include "vq_module.h"

extern "C" IVqProModule* __cdecl GetModuleInterface(void);

inline std::string CdData(const std::string& name)
{
    const char* dir = getenv("VQ_CD_DATA");
    return WinPath(dir ? dir : "") + "\\" + name;
}

class CdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = vqtest::MakeTempDir("cdtest");
        logFile = dir + "\\module.log";
        commandLog = dir + "\\commands.log";
        m->h.hInstance = GetModuleHandleA(nullptr);
    }
    void TearDown() override
    {
        Stop();
        vqtest::RemoveTree(dir);
    }
    // A model file: one of the data folder's, with the image named by its
    // full path, and the knob lines added.
    std::string Model(const std::string& base, const std::string& knobs)
    {
        std::string text = vqtest::ReadText(CdData(base));
        size_t at = text.find("image disc.raw");
        if (at != std::string::npos) text.replace(at, 14, "image " + CdData("disc.raw"));
        text += "\n" + knobs + "\n";
        std::string path = dir + "\\model" + std::to_string(++models) + ".txt";
        vqtest::WriteFile(path, text.data(), text.size());
        return path;
    }
    // Starts the module; with passThrough the ASPI manager reports no
    // adapter, so the layer turns to the pass-through table.
    void Start(const std::string& base, const std::string& knobs = "", bool passThrough = false)
    {
        std::string path = Model(base, knobs + (passThrough ? "\nnoadapters 1" : ""));
        SetEnvironmentVariableA("VQ_FAKE_CD_MODEL", path.c_str());
        SetEnvironmentVariableA("VQ_FAKE_CD_LOG", commandLog.c_str());
        if (passThrough) {
            ASSERT_TRUE(fakedev::Install(path, commandLog));
        }
        ASSERT_EQ(m->h.InitModule(logFile.c_str(), &level), 1);
        started = true;
    }
    void Stop()
    {
        if (started) m->h.QuitModule();
        started = false;
        fakedev::Uninstall();
    }
    // The commands the drive saw, one per line ("28 00 00 ...").
    std::vector<std::string> Commands()
    {
        std::vector<std::string> lines;
        std::string text = vqtest::ReadText(commandLog);
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find("\r\n", at);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }
    std::vector<unsigned char> ReadAll(void* h, int block = 17640)
    {
        std::vector<unsigned char> out;
        std::vector<char> buf(block);
        for (;;) {
            int n = m->input.Read(buf.data(), block, h);
            if (n < 1) break;
            out.insert(out.end(), buf.begin(), buf.begin() + n);
        }
        return out;
    }
    std::vector<unsigned char> Slice(int track)
    {
        std::vector<unsigned char> s;
        char name[32];
        snprintf(name, sizeof name, "slices\\track%02d.raw", track);
        vqtest::ReadFile(CdData(name), s);
        return s;
    }

    IVqProModule* m = GetModuleInterface();
    std::string dir, logFile, commandLog;
    int level = LogDebug;
    bool started = false;
    int models = 0;
};

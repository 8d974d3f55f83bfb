// Host logic that needs no window: the host record's setting operations, the
// chain text, the time-limit text, the system exit and the exit wait.
#include <windows.h>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include "fake_modules.h"
#include "host_state.h"
#include "pages.h"
#include "test_support.h"

namespace {

std::string HostIni()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string p = path;
    return p.substr(0, p.rfind('.')) + ".ini";
}

class HostLogic : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileA(HostIni().c_str());
        BuildHostSettings(GetModuleHandleA(nullptr));
        SetHostText(SetLogFile, (vqtest::MakeTempDir("applog") + "\\host.log").c_str());
        for (int i = 0; i < 32; i++)
            g_host.dspModules[i] = nullptr;
        g_host.dspModules[0] = &fakes::dspA;  // Id 3
        g_host.dspModules[1] = &fakes::dspB;  // Id 7
    }
    void TearDown() override
    {
        ResetHostSeams();
        DeleteFileA(HostIni().c_str());
    }
    std::vector<int> Chain()
    {
        std::vector<int> out;
        for (int i = 0; i < 32 && g_host.dspChain[i] >= 0; i++)
            out.push_back(g_host.dspChain[i]);
        return out;
    }
};

TEST_F(HostLogic, SettingIndexesOutsideTheTableAreRefused)
{
    SettingRecord rec = {};
    EXPECT_EQ(g_hostModule.h.GetSetting(&rec, -1, nullptr, nullptr), -1);
    EXPECT_EQ(g_hostModule.h.GetSetting(&rec, 12, nullptr, nullptr), -1);
    EXPECT_EQ(g_hostModule.h.SetSetting(&rec, -5, nullptr, nullptr), -1);
    EXPECT_EQ(g_hostModule.h.SetSetting(&rec, 12, nullptr, nullptr), -1);
    EXPECT_EQ(g_hostModule.h.QuerySetting(&rec, -1, nullptr), 0);
    EXPECT_EQ(g_hostModule.h.QuerySetting(&rec, 12, nullptr), 0);
    ASSERT_EQ(g_hostModule.h.QuerySetting(&rec, 11, nullptr), 1);
    EXPECT_STREQ(rec.name, "Check updates");
    EXPECT_EQ(rec.constraint, 2);
    ASSERT_EQ(g_hostModule.h.QuerySetting(&rec, 5, nullptr), 1);
    EXPECT_STREQ(rec.name, "Silence Lenght");
    EXPECT_EQ(rec.type, (int)SettingType::Double);
}

TEST_F(HostLogic, SettingsReadBackThroughTheIniWithTheirConstraints)
{
    WritePrivateProfileStringA("Default", "Log Level", "2", HostIni().c_str());
    WritePrivateProfileStringA("Default", "Encoding Time Limit", "100000", HostIni().c_str());
    WritePrivateProfileStringA("Default", "Check updates", "0", HostIni().c_str());
    SettingRecord rec;
    ASSERT_EQ(g_hostModule.h.GetSetting(&rec, SetLogLevel, nullptr, nullptr), (int)SettingType::Int32);
    EXPECT_EQ(SettingLoad<int32_t>(rec.currentValue), 15);  // 2 is not in the list
    ASSERT_EQ(g_hostModule.h.GetSetting(&rec, SetTimeLimit, nullptr, nullptr), (int)SettingType::Int32);
    EXPECT_EQ(SettingLoad<int32_t>(rec.currentValue), 86400);
    ASSERT_EQ(g_hostModule.h.GetSetting(&rec, SetCheckUpdates, nullptr, nullptr), (int)SettingType::Int16);
    EXPECT_EQ(SettingLoad<int16_t>(rec.currentValue), 0);

    // SetSetting stores into the table and the file.
    SettingStore<double>(rec.currentValue, 0);
    g_hostModule.h.QuerySetting(&rec, SetMaximumSilence, nullptr);
    SettingStore<double>(rec.currentValue, 42.5);
    g_hostModule.h.SetSetting(&rec, SetMaximumSilence, nullptr, nullptr);
    EXPECT_EQ(HostDouble(SetMaximumSilence), 42.5);
    char text[64];
    GetPrivateProfileStringA("Default", "Maximum Silence", "", text, sizeof(text), HostIni().c_str());
    EXPECT_EQ(atof(text), 42.5);

    // Defaults of the two path settings.
    EXPECT_NE(strstr(reinterpret_cast<const char*>(g_host.settings[SetModuleDirectory].defaultValue),
                     "\\PylSoft\\Modules"), nullptr);
    std::string log = reinterpret_cast<const char*>(g_host.settings[SetLogFile].defaultValue);
    EXPECT_EQ(log.substr(log.size() - 4), ".log");
    EXPECT_STREQ(g_host.versionText, "v1.0.7.180");
    EXPECT_EQ(g_hostModule.h.Version, 0x100700B4u);
}

TEST_F(HostLogic, ChainTextParsing)
{
    ParseDspChain("");
    EXPECT_TRUE(Chain().empty());
    ParseDspChain("7:99:7");
    EXPECT_EQ(Chain(), (std::vector<int>{1, 1}));
    ParseDspChain("3:7:3:");
    EXPECT_EQ(Chain(), (std::vector<int>{0, 1, 0}));
    ParseDspChain(" +7: 3x");
    EXPECT_EQ(Chain(), (std::vector<int>{1, 0}));
    // Overlong and out-of-range tokens never turn into a valid id.
    ParseDspChain("0000000000000000007:3");  // 19 characters
    EXPECT_EQ(Chain(), (std::vector<int>{0}));
    ParseDspChain("4294967303:3");  // 2^32 + 7 would wrap to 7
    EXPECT_EQ(Chain(), (std::vector<int>{0}));
    ParseDspChain("-4294967293");  // wraps to 3 in 32 bits
    EXPECT_TRUE(Chain().empty());
    ParseDspChain("::3");  // empty tokens are 0, no module has Id 0
    EXPECT_EQ(Chain(), (std::vector<int>{0}));
    std::string many;
    for (int i = 0; i < 40; i++)
        many += i ? ":7" : "7";
    ParseDspChain(many.c_str());
    EXPECT_EQ(Chain().size(), 32u);
}

TEST_F(HostLogic, TimeLimitTextRoundTrips)
{
    int s = -1;
    EXPECT_TRUE(ParseTimeLimit("1:30", &s));
    EXPECT_EQ(s, 90);
    EXPECT_TRUE(ParseTimeLimit("2:00:00", &s));
    EXPECT_EQ(s, 7200);
    EXPECT_TRUE(ParseTimeLimit("45", &s));
    EXPECT_EQ(s, 45);
    EXPECT_TRUE(ParseTimeLimit("1:2:3:4", &s));
    EXPECT_EQ(s, 3723);
    s = 77;
    EXPECT_FALSE(ParseTimeLimit("abc", &s));
    EXPECT_FALSE(ParseTimeLimit("", &s));
    EXPECT_FALSE(ParseTimeLimit("99999999999", &s));
    EXPECT_FALSE(ParseTimeLimit("999999:00:00", &s));  // 3.6e9 s does not fit
    EXPECT_EQ(s, 77);
    for (int v : {5, 59, 3600, 3725, 86399, 86400, 90000}) {
        char text[32];
        FormatTimeLimit(v, text, sizeof(text));
        int back = -1;
        ASSERT_TRUE(ParseTimeLimit(text, &back)) << text;
        EXPECT_EQ(back, v) << text;
    }
    char text[32];
    FormatTimeLimit(86400, text, sizeof(text));
    EXPECT_STREQ(text, "24:00:00");
}

UINT g_exitFlags[4];
int g_exitCalls;
DWORD g_exitError;
BOOL WINAPI FakeExitWindows(UINT flags, DWORD)
{
    g_exitFlags[g_exitCalls++ & 3] = flags;
    SetLastError(g_exitError);
    return FALSE;
}

TEST_F(HostLogic, ExitSystemRetriesWithForceOnlyWhenLocked)
{
    g_seams.exitWindows = FakeExitWindows;
    g_exitCalls = 0;
    g_exitError = 1271;
    EXPECT_EQ(ExitSystem(EWX_REBOOT), 1);
    ASSERT_EQ(g_exitCalls, 2);
    EXPECT_EQ(g_exitFlags[0], (UINT)EWX_REBOOT);
    EXPECT_EQ(g_exitFlags[1], (UINT)(EWX_REBOOT | EWX_FORCE));
    g_exitCalls = 0;
    g_exitError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(ExitSystem(EWX_POWEROFF), 1);
    ASSERT_EQ(g_exitCalls, 1);
    EXPECT_EQ(g_exitFlags[0], (UINT)EWX_POWEROFF);
}

DWORD WINAPI SleepFor(LPVOID ms)
{
    Sleep((DWORD)(UINT_PTR)ms);
    return 0;
}

// Starts a thread sleeping ms and hands the host its own handle to it.
HANDLE Spawn(DWORD ms, bool scan)
{
    HANDLE h = CreateThread(nullptr, 0, SleepFor, (LPVOID)(UINT_PTR)ms, 0, nullptr);
    HANDLE copy;
    DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    RegisterHostThread(copy, scan);
    return h;
}

TEST_F(HostLogic, ExitWaitCoversEveryThreadAndReportsTerminatedOnes)
{
    // Three threads: the last one started is short, the earlier ones longer.
    HANDLE scan1 = Spawn(400, true);
    HANDLE scan2 = Spawn(600, true);
    HANDLE worker = Spawn(10, false);
    EXPECT_NE(g_host.workerThread.load(), nullptr);
    EXPECT_EQ(RunningHostThreads(), 3);
    EXPECT_EQ(WaitForHostThreads(5000), 0);
    EXPECT_EQ(WaitForSingleObject(scan1, 0), WAIT_OBJECT_0) << "an earlier scan was not waited for";
    EXPECT_EQ(WaitForSingleObject(scan2, 0), WAIT_OBJECT_0);
    for (HANDLE h : {scan1, scan2, worker})
        CloseHandle(h);

    HANDLE stuckScan = Spawn(60000, true);
    HANDLE quick = Spawn(1, false);
    EXPECT_EQ(WaitForHostThreads(200), 1);  // only the scan had to be ended
    EXPECT_EQ(WaitForSingleObject(stuckScan, 2000), WAIT_OBJECT_0);
    CloseHandle(stuckScan);
    CloseHandle(quick);
    EXPECT_EQ(g_host.workerThread.load(), nullptr);
    EXPECT_EQ(RunningHostThreads(), 0);
}

}  // namespace

#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "vq_log.h"

namespace {

class LogWriter : public testing::Test {
protected:
    void SetUp() override
    {
        dir = vqtest::MakeTempDir("log");
        file = dir + "\\test.log";
    }
    void TearDown() override { vqtest::RemoveTree(dir); }

    std::vector<std::string> Lines()
    {
        std::string text = vqtest::ReadText(file);
        std::vector<std::string> lines;
        size_t pos = 0, end;
        while ((end = text.find("\r\n", pos)) != std::string::npos) {
            lines.push_back(text.substr(pos, end - pos));
            pos = end + 2;
        }
        EXPECT_EQ(pos, text.size()) << "text after the last line end";
        return lines;
    }

    std::string dir, file;
};

TEST_F(LogWriter, WritesOneFormattedLinePerMessage)
{
    SYSTEMTIME before;
    GetLocalTime(&before);
    ASSERT_EQ(1, LogMessage("VqMods", "LoadModules", 138, "in_x.dll", LogError, file.c_str()));
    ASSERT_EQ(1, LogMessage("Cls", "Op", 7, "second", LogDebug, file.c_str()));
    SYSTEMTIME after;
    GetLocalTime(&after);

    auto lines = Lines();
    ASSERT_EQ(2u, lines.size());
    std::smatch m;
    std::regex re(R"(^\[E\]\[(\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d):(\d\d)\]\[VqMods::LoadModules\(138\)\] in_x\.dll$)");
    ASSERT_TRUE(std::regex_match(lines[0], m, re)) << lines[0];
    int day = std::stoi(m[1]), month = std::stoi(m[2]), year = std::stoi(m[3]);
    EXPECT_TRUE((day == before.wDay && month == before.wMonth && year == before.wYear) ||
                (day == after.wDay && month == after.wMonth && year == after.wYear));
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(^\[d\]\[[0-9/ :]{19}\]\[Cls::Op\(7\)\] second$)")))
        << lines[1];
}

TEST_F(LogWriter, LevelLetters)
{
    const struct { int level; const char* letter; } cases[] = {
        {1, "d"}, {3, "i"}, {7, "W"}, {15, "E"}, {31, "?"}, {0, "?"}, {-1, "?"}, {2, "i"}, {12, "E"}};
    for (const auto& c : cases) LogMessage("C", "F", 1, "t", c.level, file.c_str());
    auto lines = Lines();
    ASSERT_EQ(std::size(cases), lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(std::string("[") + cases[i].letter + "]", lines[i].substr(0, 3)) << "level " << cases[i].level;
}

TEST_F(LogWriter, LevelTest)
{
    int level = LogError;
    EXPECT_FALSE(LogLevelPasses(LogDebug, &level));
    EXPECT_FALSE(LogLevelPasses(LogWarning, &level));
    EXPECT_TRUE(LogLevelPasses(LogError, &level));
    level = LogInfo;
    EXPECT_FALSE(LogLevelPasses(LogDebug, &level));
    EXPECT_TRUE(LogLevelPasses(LogInfo, &level));
    EXPECT_TRUE(LogLevelPasses(LogWarning, &level));
    EXPECT_TRUE(LogLevelPasses(LogError, &level));
}

TEST_F(LogWriter, LongTextIsWrittenWhole)
{
    std::string text(100000, 'q');
    ASSERT_EQ(1, LogMessage("C", "F", 1, text.c_str(), LogInfo, file.c_str()));
    auto lines = Lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(text, lines[0].substr(lines[0].size() - text.size()));
}

TEST_F(LogWriter, UnopenableFileLosesTheLine)
{
    EXPECT_EQ(0, LogMessage("C", "F", 1, "t", LogError, (dir + "\\missing\\x.log").c_str()));

    // Held exclusively by someone else: a bounded wait, then the line is lost.
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, LogMessage("C", "F", 1, "t", LogError, file.c_str()));
    EXPECT_LT(GetTickCount() - start, 2000u);
    CloseHandle(h);
    EXPECT_EQ(1, LogMessage("C", "F", 1, "t", LogError, file.c_str()));
}

TEST_F(LogWriter, ConcurrentWritersLoseNoLine)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 500; ++i) {
                std::string text = "thread " + std::to_string(t) + " line " + std::to_string(i);
                LogMessage("Cls", "Worker", t, text.c_str(), LogInfo, file.c_str());
            }
        });
    for (auto& th : threads) th.join();
    auto lines = Lines();
    EXPECT_EQ(2000u, lines.size());
    int perThread[4] = {};
    std::regex re(R"(^\[i\]\[[0-9/ :]{19}\]\[Cls::Worker\((\d)\)\] thread (\d) line \d+$)");
    for (const auto& l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, re)) << l;
        ASSERT_EQ(m[1], m[2]);
        perThread[std::stoi(m[1])]++;
    }
    for (int n : perThread) EXPECT_EQ(500, n);
}

struct BoxCall {
    std::string text, caption;
    unsigned type = 0;
    int calls = 0;
} g_box;

int __cdecl FakeBox(const char* text, const char* caption, unsigned type)
{
    g_box.text = text;
    g_box.caption = caption;
    g_box.type = type;
    g_box.calls++;
    return IDOK;
}

TEST_F(LogWriter, WithoutLogFileShowsTheBareTextInABox)
{
    LogMessageBoxFn old = LogSetMessageBox(FakeBox);
    const struct { int level; unsigned icon; } cases[] = {
        {LogError, MB_ICONERROR}, {LogWarning, MB_ICONWARNING}, {LogInfo, MB_ICONINFORMATION},
        {LogDebug, MB_ICONINFORMATION}};
    for (const auto& c : cases) {
        g_box = BoxCall();
        EXPECT_EQ(1, LogMessage("Cls", "ProccessFiles", 12, "bare text", c.level, c.level & 2 ? "" : nullptr));
        EXPECT_EQ(1, g_box.calls);
        EXPECT_EQ("bare text", g_box.text);
        EXPECT_EQ("ProccessFiles", g_box.caption);
        EXPECT_EQ(c.icon, g_box.type & MB_ICONMASK) << "level " << c.level;
        EXPECT_TRUE(g_box.type & MB_SETFOREGROUND);
    }
    // With a log file no box appears.
    g_box = BoxCall();
    LogMessage("Cls", "F", 1, "t", LogError, file.c_str());
    EXPECT_EQ(0, g_box.calls);
    LogSetMessageBox(old);
}

std::string SystemText(DWORD code)
{
    char* sys = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, (LPSTR)&sys, 0, nullptr);
    std::string s = sys ? sys : "";
    if (sys) LocalFree(sys);
    return s;
}

TEST_F(LogWriter, SystemErrorTextFollowsTheMessage)
{
    std::string sys = SystemText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(sys.empty());
    SetLastError(ERROR_FILE_NOT_FOUND);
    LogSystemError("VqMods", "LoadModules", 138, "in_a.dll", file.c_str());
    LogSystemErrorCode("VqMods", "LoadModules", 138, "in_b.dll", file.c_str(), ERROR_BAD_EXE_FORMAT);
    LogSystemErrorCode("VqMods", "LoadModules", 138, "in_c.dll", file.c_str(), 0xE0001234);

    std::string text = vqtest::ReadText(file);
    EXPECT_NE(std::string::npos, text.find("[E]")) << text;
    EXPECT_NE(std::string::npos, text.find("[VqMods::LoadModules(138)] in_a.dll\n" + sys + "\n\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("in_b.dll\n" + SystemText(ERROR_BAD_EXE_FORMAT) + "\n\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("in_c.dll\nUnknown error 0xE0001234\n\r\n")) << text;
}

}  // namespace

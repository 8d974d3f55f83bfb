// The update manager against a real HTTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include "loopback_server.h"
#include "pyl_pum.h"
#include "test_support.h"
#include "vq_log.h"

#include <string>
#include <vector>

namespace {

const char kOk[] = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

class PumTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
        dir = vqtest::MakeTempDir("pum");
        logPath = dir + "\\pum.log";
        SetEnvironmentVariableA(PYLPUM_TIMEOUT_ENV, "3000");
    }
    void TearDown() override
    {
        SetEnvironmentVariableA(PYLPUM_SERVER_ENV, nullptr);
        SetEnvironmentVariableA(PYLPUM_TIMEOUT_ENV, nullptr);
        vqtest::RemoveTree(dir);
        WSACleanup();
    }
    static IVqProModuleHead Head(uint32_t version, const char* name)
    {
        IVqProModuleHead h = {};
        h.Version = version;
        h.Kind = KindGeneral;
        h.InternalName = name;
        return h;
    }
    // One check against a server answering with these pieces; returns the result.
    long Check(const std::vector<Piece>& pieces, std::string* url = nullptr, std::string* request = nullptr)
    {
        LoopbackServer server;
        SetEnvironmentVariableA(PYLPUM_SERVER_ENV, server.HostPort().c_str());
        server.Answer(pieces);
        CPUM pum(&logPath[0], &level);
        long r = pum.CheckVersion(Head(VQ_VERSION(1, 0, 7, 180), "PylSoftBatchConverter"));
        if (url) *url = pum.GetDownloadURL();
        if (request) *request = server.Request();
        return r;
    }
    std::string Log() { return vqtest::ReadText(logPath); }

    std::string dir, logPath;
    long level = LogError;
};

TEST_F(PumTest, SendsTheExactRequest)
{
    LoopbackServer server;
    SetEnvironmentVariableA(PYLPUM_SERVER_ENV, server.HostPort().c_str());
    server.Answer({{std::string(kOk) + "UPTODATE\n"}});
    CPUM pum(&logPath[0], &level);
    EXPECT_EQ(0, pum.CheckVersion(Head(VQ_VERSION(1, 0, 7, 180), "PylSoftBatchConverter")));
    EXPECT_EQ("GET /pum/checkversion.php?pgmname=PylSoftBatchConverter&mayor=1&minor=0&rev=7&build=180 "
              "HTTP/1.0\r\n"
              "Host: " + server.HostPort() + "\r\n"
              "User-Agent: PylSoft Update Manager (Mozilla)\r\n"
              "Accept:*/*\r\n\r\n",
              server.Request());
}

TEST_F(PumTest, ProgramNameAndVersionParts)
{
    struct Case {
        uint32_t version;
        const char* name;
        const char* query;
    } cases[] = {
        // Ampersand and other printable bytes are sent unchanged.
        {VQ_VERSION(15, 15, 255, 65535), "A&B=C?", "pgmname=A&B=C?&mayor=15&minor=15&rev=255&build=65535"},
        // Controls, space, DEL and high bytes would break the request line.
        {VQ_VERSION(2, 3, 4, 5), "My Prog\t\x7F\xE9!~", "pgmname=My%20Prog%09%7F%E9!~&mayor=2&minor=3&rev=4&build=5"},
        {0, "", "pgmname=&mayor=0&minor=0&rev=0&build=0"},
    };
    for (const Case& c : cases) {
        LoopbackServer server;
        SetEnvironmentVariableA(PYLPUM_SERVER_ENV, server.HostPort().c_str());
        server.Answer({{std::string(kOk) + "UPTODATE\n"}});
        CPUM pum(&logPath[0], &level);
        EXPECT_EQ(0, pum.CheckVersion(Head(c.version, c.name)));
        std::string req = server.Request();
        std::string line = req.substr(0, req.find("\r\n"));
        EXPECT_EQ(std::string("GET /pum/checkversion.php?") + c.query + " HTTP/1.0", line) << c.name;
    }
}

TEST_F(PumTest, AnswersDecideTheResult)
{
    struct Case {
        const char* body;
        long result;
        const char* url;
    } cases[] = {
        {"UPTODATE\n", 0, ""},
        {"MANUAL\nhttp://dl.example/new.exe\n", 1, "http://dl.example/new.exe"},
        {"AUTOMATIC\r\nhttp://dl.example/auto\r\n", 2, "http://dl.example/auto"},
        {"UPTODATE\nMANUAL\nhttp://a/\n", 1, "http://a/"},
        {"<html>\nMANUAL\nhttp://b/\nUPTODATE\n", 0, "http://b/"},
        {"MANUAL \nhttp://c/\n", 0, ""},   // a keyword followed by a space is not one
        {" UPTODATE\nhello\n", 0, ""},
        {"AUTOMATIC\nhttp://d/\nUPTODATE", 0, "http://d/"},  // last line without a line end
        {"MANUAL\nhttp://e/", 1, "http://e/"},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        std::string url;
        EXPECT_EQ(c.result, Check({{std::string(kOk) + c.body}}, &url)) << c.body;
        EXPECT_EQ(c.url, url) << c.body;
    }
    // With a length the body ends there even if the server keeps sending.
    std::string url;
    EXPECT_EQ(1, Check({{"HTTP/1.0 200 OK\r\nContent-Length: 12\r\n\r\nMANUAL\nhttp:UPTODATE\n"}}, &url));
    EXPECT_EQ("http:", url);
}

TEST_F(PumTest, KeywordsSplitAcrossReads)
{
    std::string url;
    EXPECT_EQ(1, Check({{kOk}, {"UPTO", 40}, {"DATE\nMAN", 40}, {"UAL\r", 40}, {"\nhttp://x/", 40}, {"dl\n", 40}},
                       &url));
    EXPECT_EQ("http://x/dl", url);

    // One byte per read, headers included: no keyword lost, no endless loop.
    std::string answer = std::string(kOk) + "AUTOMATIC\r\nhttp://one.byte/at-a-time\r\n";
    DWORD t0 = GetTickCount();
    EXPECT_EQ(2, Check(Chop(answer, 1, 2), &url));
    EXPECT_EQ("http://one.byte/at-a-time", url);
    EXPECT_LT(GetTickCount() - t0, 5000u);
}

TEST_F(PumTest, FailuresGiveZeroAndAnErrorLine)
{
    // Not found: the body is not parsed.
    std::string url;
    EXPECT_EQ(0, Check({{"HTTP/1.1 404 Not Found\r\n\r\nMANUAL\nhttp://nope/\n"}}, &url));
    EXPECT_EQ("", url);
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("[PylPUM::CPUM::CheckVersion(144)] Error connecting to PUM server: "));
    EXPECT_NE(std::string::npos, log.find("404"));
    // A redirect is not an answer either.
    EXPECT_EQ(0, Check({{"HTTP/1.0 302 Found\r\nLocation: http://x/\r\n\r\nAUTOMATIC\nhttp://x/\n"}}));

    // Refused port.
    DeleteFileA(logPath.c_str());
    SetEnvironmentVariableA(PYLPUM_SERVER_ENV, ("127.0.0.1:" + std::to_string(UnusedPort())).c_str());
    {
        CPUM pum(&logPath[0], &level);
        DWORD t0 = GetTickCount();
        EXPECT_EQ(0, pum.CheckVersion(Head(VQ_VERSION(1, 0, 0, 1), "X")));
        EXPECT_LT(GetTickCount() - t0, 3500u);
        EXPECT_STREQ("", pum.GetDownloadURL());
    }
    EXPECT_NE(std::string::npos, Log().find("CheckVersion(144)] Error connecting to PUM server: "));

    // A server that accepts and never answers: the check ends after the timeout.
    DeleteFileA(logPath.c_str());
    SetEnvironmentVariableA(PYLPUM_TIMEOUT_ENV, "600");
    LoopbackServer silent;
    SetEnvironmentVariableA(PYLPUM_SERVER_ENV, silent.HostPort().c_str());
    silent.StaySilent();
    CPUM pum(&logPath[0], &level);
    DWORD t0 = GetTickCount();
    EXPECT_EQ(0, pum.CheckVersion(Head(VQ_VERSION(1, 0, 0, 1), "X")));
    DWORD took = GetTickCount() - t0;
    EXPECT_GE(took, 550u);
    EXPECT_LT(took, 2500u);
    log = Log();
    EXPECT_NE(std::string::npos, log.find("CheckVersion(144)] Error connecting to PUM server: "));
    EXPECT_NE(std::string::npos, log.find("timed out"));
}

TEST_F(PumTest, AddressKeptUntilTheNextKeyword)
{
    LoopbackServer first, second, third;
    CPUM pum(&logPath[0], &level);
    SetEnvironmentVariableA(PYLPUM_SERVER_ENV, first.HostPort().c_str());
    first.Answer({{std::string(kOk) + "MANUAL\nhttp://first/\n"}});
    EXPECT_EQ(1, pum.CheckVersion(Head(1, "P")));
    SetEnvironmentVariableA(PYLPUM_SERVER_ENV, second.HostPort().c_str());
    second.Answer({{std::string(kOk) + "UPTODATE\n"}});
    EXPECT_EQ(0, pum.CheckVersion(Head(1, "P")));
    EXPECT_STREQ("http://first/", pum.GetDownloadURL());
    // A keyword without its address line leaves no stale address behind.
    SetEnvironmentVariableA(PYLPUM_SERVER_ENV, third.HostPort().c_str());
    third.Answer({{std::string(kOk) + "AUTOMATIC\n"}});
    EXPECT_EQ(2, pum.CheckVersion(Head(1, "P")));
    EXPECT_STREQ("", pum.GetDownloadURL());
}

TEST_F(PumTest, LogLinesFollowTheLevel)
{
    level = LogDebug;
    Check({{std::string(kOk) + "MANUAL\nhttp://z/\n"}});
    std::string log = Log();
    for (const char* expected :
         {"[d]", "[PylPUM::CPUM::CPUM(52)] Initializing module...\r\n",
          "[PylPUM::CPUM::CPUM(76)] Initialization complete.\r\n",
          "[i]", "[PylPUM::CPUM::CheckVersion(159)] Server response: MANUAL\r\n",
          "[PylPUM::CPUM::CheckVersion(189)] Version check done!\r\n",
          "[PylPUM::CPUM::~CPUM(94)] Deinitializing module...\r\n",
          "[PylPUM::CPUM::~CPUM(105)] Deinitialization complete.\r\n"})
        EXPECT_NE(std::string::npos, log.find(expected)) << expected;
    // The address line is not a server response line.
    EXPECT_EQ(std::string::npos, log.find("Server response: http://z/"));

    DeleteFileA(logPath.c_str());
    level = LogInfo;
    Check({{std::string(kOk) + "UPTODATE\n" + std::string(600, 'x') + "\n"}});
    log = Log();
    EXPECT_NE(std::string::npos, log.find("Server response: UPTODATE\r\n"));
    EXPECT_EQ(std::string::npos, log.find("Initializing"));
    // Long responses are cut to 256 bytes of text.
    size_t at = log.find("Server response: xxx");
    ASSERT_NE(std::string::npos, at);
    EXPECT_EQ(255u - 17u, log.find("\r\n", at) - at - 17);

    DeleteFileA(logPath.c_str());
    level = LogError;
    Check({{std::string(kOk) + "UPTODATE\n"}});
    EXPECT_EQ("", Log());
}

std::vector<std::string> opened;
HINSTANCE WINAPI FakeShellOpen(HWND, LPCSTR verb, LPCSTR file, LPCSTR, LPCSTR, INT)
{
    opened.push_back(std::string(verb) + " " + file);
    return (HINSTANCE)42;
}

TEST(PumOpenDownloadUrl, OnlyWebAddressesReachTheShell)
{
    PumShellOpenFn fake = FakeShellOpen;
    EXPECT_TRUE(PumOpenDownloadURL(nullptr, "http://dl.example/x.exe", fake));
    EXPECT_TRUE(PumOpenDownloadURL(nullptr, "HTTPS://dl.example/", fake));
    for (const char* bad : {"", "http://", "https://", "http:///x", "file:///c:/windows/system32/calc.exe",
                            "c:\\windows\\notepad.exe", "javascript:alert(1)", " http://x/", "ftp://x/"})
        EXPECT_FALSE(PumOpenDownloadURL(nullptr, bad, fake)) << bad;
    EXPECT_FALSE(PumOpenDownloadURL(nullptr, nullptr, fake));
    ASSERT_EQ(2u, opened.size());
    EXPECT_EQ("open http://dl.example/x.exe", opened[0]);
    EXPECT_EQ("open HTTPS://dl.example/", opened[1]);
}

}  // namespace

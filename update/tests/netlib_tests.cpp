// Our HTTP client on its own: whole lines, long lines, bad addresses.
#include <gtest/gtest.h>

#include "PylNetLib.h"
#include "loopback_server.h"

#include <string>

namespace {

class NetLibTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, PylNetLib::InitSocketLib()); }
    void TearDown() override { PylNetLib::CleanupSocketLib(); }
    static std::string Url(LoopbackServer& s, const char* path = "/t")
    {
        return "http://" + s.HostPort() + path;
    }
    // Runs until finished or failed, collecting lines.
    static int RunAll(HTTPGet& get, std::vector<std::string>& lines, int lineSize = 64)
    {
        int rc;
        do {
            rc = get.Run();
            if (rc < 0) return rc;
            while (get.BytesAvailable() > 0) {
                std::vector<char> b(lineSize);
                get.GetLine(b.data(), lineSize);
                lines.push_back(b.data());
            }
        } while (rc != 1);
        return rc;
    }
};

TEST_F(NetLibTest, PartialLineIsHeldBack)
{
    LoopbackServer server;
    server.Answer({{"HTTP/1.0 200 OK\r\n\r\nABC"}, {"DEF\nG", 400}});
    HTTPGet get((DnsResolver*)-1, 16384, nullptr);
    std::string url = Url(server);
    ASSERT_EQ(0, get.Connect(&url[0]));
    DWORD t0 = GetTickCount();
    bool sawBody = false;
    while (GetTickCount() - t0 < 250) {
        ASSERT_GE(get.Run(), 0) << get.GetErrorText();
        if (get.GetStatus() == HTTPGet::StatusBody) sawBody = true;
        EXPECT_EQ(0, get.BytesAvailable());
    }
    EXPECT_TRUE(sawBody);
    char line[16];
    EXPECT_EQ(-1, get.GetLine(line, sizeof line));
    EXPECT_STREQ("", line);
    std::vector<std::string> lines;
    EXPECT_EQ(1, RunAll(get, lines));
    EXPECT_EQ((std::vector<std::string>{"ABCDEF", "G"}), lines);
}

TEST_F(NetLibTest, LongLinesAreCutAndConsumed)
{
    LoopbackServer server;
    std::string longLine(5000, 'q');
    server.Answer({{"HTTP/1.0 200 OK\r\n\r\n" + longLine + "\r\nnext\r\n\r\nlast"}});
    // Smaller buffer than the line: it must still come through, in pieces.
    HTTPGet get(nullptr, 1024, nullptr);
    std::string url = Url(server);
    ASSERT_EQ(0, get.Connect(&url[0]));
    std::vector<std::string> lines;
    ASSERT_EQ(1, RunAll(get, lines, 8));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ("last", lines.back());
    EXPECT_EQ("", lines[lines.size() - 2]);
    EXPECT_EQ("next", lines[lines.size() - 3]);
    for (size_t i = 0; i + 3 < lines.size(); ++i) EXPECT_EQ("qqqqqqq", lines[i]);
}

TEST_F(NetLibTest, TimeoutsEndTheTransfer)
{
    // A byte every 100 ms never trips the wait timeout, but the whole transfer is bounded.
    LoopbackServer trickle;
    trickle.Answer(Chop("HTTP/1.0 200 OK\r\n\r\n" + std::string(100, 'x'), 1, 100));
    HTTPGet slow((DnsResolver*)-1, 16384, nullptr);
    slow.SetTimeout(300);
    std::string url = Url(trickle);
    ASSERT_EQ(0, slow.Connect(&url[0]));
    std::vector<std::string> lines;
    DWORD t0 = GetTickCount();
    EXPECT_LT(RunAll(slow, lines), 0);
    EXPECT_GE(GetTickCount() - t0, 1100u);
    EXPECT_LT(GetTickCount() - t0, 2500u);
    EXPECT_STRNE("", slow.GetErrorText());
}

TEST_F(NetLibTest, BadRequestsFailWithAText)
{
    for (const char* bad : {"ftp://127.0.0.1/", "https://127.0.0.1/", "http://", "http://127.0.0.1:0/",
                            "http://127.0.0.1:99999/"}) {
        HTTPGet get((DnsResolver*)-1, 16384, nullptr);
        std::string url = bad;
        get.Connect(&url[0]);
        EXPECT_LT(get.Run(), 0) << bad;
        EXPECT_STRNE("", get.GetErrorText()) << bad;
        EXPECT_EQ(0, get.BytesAvailable());
    }
    HTTPGet get((DnsResolver*)-1, 16384, nullptr);
    char smuggled[] = "X-A: 1\r\nX-B: 2";
    EXPECT_NE(0, get.AddHeader(smuggled));
    EXPECT_LT(get.Run(), 0);  // nothing started

    // Headers that never end.
    LoopbackServer server;
    server.Answer({{"HTTP/1.0 200 OK\r\n" + std::string(20000, 'h')}});
    HTTPGet big((DnsResolver*)-1, 16384, nullptr);
    std::string url = Url(server);
    big.Connect(&url[0]);
    std::vector<std::string> lines;
    EXPECT_LT(RunAll(big, lines), 0);
    EXPECT_TRUE(lines.empty());

    // Closed before the headers ended.
    LoopbackServer cut;
    cut.Answer({{"HTTP/1.0 200 OK\r\nContent-"}});
    HTTPGet early((DnsResolver*)-1, 16384, nullptr);
    url = Url(cut);
    early.Connect(&url[0]);
    EXPECT_LT(RunAll(early, lines), 0);
    // Closed before the announced length arrived.
    LoopbackServer shortBody;
    shortBody.Answer({{"HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\nUPTODATE\n"}});
    HTTPGet shorter((DnsResolver*)-1, 16384, nullptr);
    url = Url(shortBody);
    shorter.Connect(&url[0]);
    EXPECT_LT(RunAll(shorter, lines), 0);
}

}  // namespace

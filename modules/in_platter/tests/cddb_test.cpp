// Disc ids, the CD database exchange against the test server (one port per
// kind of answer), the track information and the title file cdplayer.ini.
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <map>

#include "cd_fixture.h"
#include "cd_layer.h"
#include "cddb.h"

namespace {

std::map<std::string, int> Ports()
{
    std::map<std::string, int> ports;
    const char* dir = getenv("VQ_CD_SERVER");
    std::ifstream in(WinPath(dir ? dir : "") + "\\ports.txt");
    std::string name;
    int port;
    while (in >> name >> port) ports[name] = port;
    return ports;
}

std::string Request(const std::string& kind)
{
    const char* dir = getenv("VQ_CD_SERVER");
    return vqtest::ReadText(WinPath(dir ? dir : "") + "\\" + kind + ".request");
}

std::string Ini(const char* section, const char* key)
{
    char value[256];
    GetPrivateProfileStringA(section, key, "(none)", value, sizeof value, "cdplayer.ini");
    return value;
}

class CddbTest : public CdTest {
protected:
    void SetUp() override
    {
        CdTest::SetUp();
        ports = Ports();
        ASSERT_GT(ports["exact"], 0) << "the CD database server is not running";
        // Sections of the test discs (their cdplayer keys).
        WritePrivateProfileStringA("B26", nullptr, nullptr, "cdplayer.ini");
        WritePrivateProfileStringA("632", nullptr, nullptr, "cdplayer.ini");
        WritePrivateProfileStringA("93C800", nullptr, nullptr, "cdplayer.ini");  // the ten-track disc
    }
    void Server(const std::string& kind, int timeoutMs = 3000)
    {
        Cddb_SetServer("127.0.0.1", ports[kind], timeoutMs);
    }
    int OpenDrive()
    {
        DriveOpenRequest r = {};
        r.size = sizeof r;
        r.version = 1;
        return getCDHandle(&r);
    }
    TrackInfo Tag(const std::string& path)
    {
        TrackInfo info = {};
        void* h = m->input.Open(path.c_str(), nullptr);
        EXPECT_NE(h, nullptr) << path;
        if (h) {
            EXPECT_EQ(m->input.GetTag(&info, h), 1);
            m->input.Close(h);
        }
        return info;
    }
    std::map<std::string, int> ports;
};

TEST_F(CddbTest, DiscIdsAndTheQueryRequest)
{
    // Ten tracks at LBA 0, 15000, ... 135000, lead-out 150000. MSF offsets are
    // 150 frames on: 150, 15150, ... 135150; their seconds 2, 202, 402, 602,
    // 802, 1002, 1202, 1402, 1602, 1802 have digit sums adding up to 65; the
    // lead-out is at 2002 s, so 2002 - 2 = 2000 = 0x7D0:
    // id = 65 << 24 | 0x7D0 << 8 | 10 = 0x4107D00A.
    Start("ten.model");
    int h = OpenDrive();
    ASSERT_GE(h, 1);
    DiscIdRecord id;
    ASSERT_EQ(CDDBGetDiskID(h, &id), 1);
    EXPECT_EQ(id.discId, 0x4107D00Au);
    EXPECT_EQ(id.count, 10);
    EXPECT_EQ(id.values[0], 150);
    EXPECT_EQ(id.values[9], 135150);
    EXPECT_EQ(id.values[10], 2002);

    Server("exact");
    CddbMatch match;
    CddbQueryResult result = {1, &match};
    ASSERT_EQ(CDDBQuery(h, &result), 1);
    ASSERT_EQ(result.count, 1);
    EXPECT_EQ(match.exact, 1);
    EXPECT_STREQ(match.category, "rock");
    EXPECT_STREQ(match.discId, "4107d00a");
    EXPECT_STREQ(match.artist, "Ten Artist");
    EXPECT_STREQ(match.title, "Ten Album");
    std::string form =
        "cmd=cddb+query+4107d00a+10+150+15150+30150+45150+60150+75150+90150+105150+120150+135150+2002"
        "&hello=pylrip+pylsoft.example+pylrip32+1.0.1&proto=4";
    std::string request = "POST /~cddb/cddb.cgi HTTP/1.0\r\n"
                          "Content-Type: application/x-www-form-urlencoded\r\n"
                          "User-Agent: ZoRip090\r\n"
                          "Content-Length: " + std::to_string(form.size() + 2) + "\r\n\r\n" + form + "\r\n";
    EXPECT_EQ(Request("exact"), request);
    closeCDHandle(h);
    Stop();

    // Mixed mode: data track at LBA 0, audio at 20000 and 40000, lead-out
    // 60000. Offsets 150, 20150 (4:28.50), 40150 (8:55.25), lead-out 60150
    // (13:22.00). Seconds 2, 268, 535: digit sums 2 + 16 + 13 = 31; 802 - 2 =
    // 800 = 0x320: id = 31 << 24 | 0x320 << 8 | 3 = 0x1F032003. The title
    // file's key counts the audio tracks only: 0x041C32 + 0x083719 = 0x0C534B.
    Start("mixed.model");
    h = OpenDrive();
    ASSERT_GE(h, 1);
    ASSERT_EQ(CDDBGetDiskID(h, &id), 1);
    EXPECT_EQ(id.discId, 0x1F032003u);
    EXPECT_EQ(CdplayerKey(h), 0x0C534Bu);
    closeCDHandle(h);
}

TEST_F(CddbTest, RepliesOfEveryKind)
{
    Start("ten.model");
    int h = OpenDrive();
    ASSERT_GE(h, 1);
    CddbMatch matches[2];
    CddbQueryResult one = {1, matches};

    Server("multiple");
    ASSERT_EQ(CDDBQuery(h, &one), 1);
    ASSERT_EQ(one.count, 1);
    EXPECT_EQ(matches[0].exact, 0);
    EXPECT_STREQ(matches[0].artist, "Ten Artist");
    CddbQueryResult two = {2, matches};
    CDDBQuery(h, &two);
    ASSERT_EQ(two.count, 2);
    EXPECT_STREQ(matches[1].category, "jazz");
    EXPECT_STREQ(matches[1].artist, "No Slash Here");
    EXPECT_STREQ(matches[1].title, "No Slash Here");

    // Lines over 79 characters, the status line too, are cut, not dropped:
    // the match in the first is kept, and the tail of the second, a ".",
    // does not end the list.
    Server("long");
    CddbMatch three[3];
    CddbQueryResult cut = {3, three};
    ASSERT_EQ(CDDBQuery(h, &cut), 1);
    ASSERT_EQ(cut.count, 2);
    EXPECT_STREQ(three[0].category, "rock");
    EXPECT_STREQ(three[0].discId, "4107d00a");
    EXPECT_EQ(three[0].exact, 0);
    EXPECT_STREQ(three[0].artist, "The Monteverdi Choir & English Baroque Soloists");
    EXPECT_STREQ(three[0].title, "Bach: Mass in B");
    EXPECT_STREQ(three[1].category, "jazz");
    EXPECT_STREQ(three[1].title, "Short Two");

    for (const char* kind : {"none", "malformed", "garbage"}) {
        Server(kind);
        CddbQueryResult r = {2, matches};
        EXPECT_EQ(CDDBQuery(h, &r), 1) << kind;
        EXPECT_EQ(r.count, 0) << kind;
    }

    // An oversized reply is cut at the buffer; what it holds still counts.
    Server("oversized");
    CddbQueryResult r = {1, matches};
    CDDBQuery(h, &r);
    EXPECT_EQ(r.count, 1);
    std::vector<char> text(kDiscTextBytes, 'x');
    ASSERT_EQ(CDDBRead(&matches[0], text.data(), (int)text.size()), 1);
    EXPECT_LT(strlen(text.data()), text.size());
    EXPECT_EQ(strncmp(text.data(), "TTITLE0=Big first", 17), 0);
    EXPECT_EQ(strstr(text.data(), "Never reached"), nullptr);
    // That read put the disc into the title file: out again, or it would match below.
    char section[16];
    snprintf(section, sizeof section, "%X", (unsigned)CdplayerKey(h));
    EXPECT_EQ(Ini(section, "0"), "Big first");
    WritePrivateProfileStringA(section, nullptr, nullptr, "cdplayer.ini");

    // A server that never answers costs the time-out, not a hang.
    Server("stalled", 1500);
    DWORD t0 = GetTickCount();
    r = {1, matches};
    EXPECT_EQ(CDDBQuery(h, &r), 1);
    EXPECT_EQ(r.count, 0);
    EXPECT_LT(GetTickCount() - t0, 10000u);
    // Nothing listening: no match either.
    Cddb_SetServer("127.0.0.1", 9, 1500);
    r = {1, matches};
    CDDBQuery(h, &r);
    EXPECT_EQ(r.count, 0);
    closeCDHandle(h);
    // A closed drive has no disc id: no match, nothing left in the records' count.
    r = {2, matches};
    EXPECT_EQ(CDDBQuery(h, &r), 1);
    EXPECT_EQ(r.count, 0);
}

TEST_F(CddbTest, TitlesComeFromTheServerAndTheTitleFile)
{
    // Disc A: offsets 150, 300, 413 (0:05.38), lead-out 453: seconds 2, 4, 5,
    // 6: id = 11 << 24 | 4 << 8 | 3 = 0x0B000403; key 0x200 + 0x400 + 0x526 = 0xB26.
    Start("a.model");
    Server("exact");
    TrackInfo t = Tag(CdData("drive\\track02.cda"));
    EXPECT_STREQ(t.title, "Second part one, and two");
    EXPECT_STREQ(t.author, "The Testers");
    EXPECT_STREQ(t.album, "Disc A");
    EXPECT_STREQ(t.genre, "folk");
    EXPECT_STREQ(t.year, "1999 remastered");
    EXPECT_STREQ(t.rating, "<Not Set>");
    EXPECT_EQ(t.track, 2);
    EXPECT_DOUBLE_EQ(t.duration, 1 + 38 / 75.0);
    EXPECT_EQ(t.repeatEvery, -1);
    EXPECT_EQ(Ini("B26", "EntryType"), "1");
    EXPECT_EQ(Ini("B26", "artist"), "The Testers");
    EXPECT_EQ(Ini("B26", "title"), "Disc A");
    EXPECT_EQ(Ini("B26", "genre"), "folk");
    EXPECT_EQ(Ini("B26", "numtracks"), "3");
    EXPECT_EQ(Ini("B26", "0"), "Opening");
    EXPECT_EQ(Ini("B26", "1"), "Second part one, and two");
    EXPECT_EQ(Ini("B26", "2"), "Closing");
    Stop();

    // The server knows nothing now: the title file names the disc; a track
    // without a key gets its default title.
    WritePrivateProfileStringA("B26", "2", nullptr, "cdplayer.ini");
    Start("a.model", "", true);
    Server("none");
    t = Tag(CdData("drive\\track02.cda"));
    EXPECT_STREQ(t.title, "Second part one, and two");
    EXPECT_STREQ(t.author, "The Testers");
    EXPECT_STREQ(t.album, "Disc A");
    EXPECT_STREQ(t.genre, "rock");
    EXPECT_STREQ(t.year, "");
    t = Tag(CdData("drive\\track03.cda"));
    EXPECT_STREQ(t.title, "Track 3");

    // Another disc in the drive gets its own titles.
    ASSERT_TRUE(fakedev::Install(Model("b.model", ""), commandLog));
    Server("exact");
    t = Tag(CdData("b_track01.cda"));
    EXPECT_STREQ(t.title, "First B");
    EXPECT_STREQ(t.album, "Disc B");
    EXPECT_STREQ(t.genre, "jazz");
    EXPECT_EQ(Ini("632", "numtracks"), "2");
    // No server at all: the untitled track still answers.
    Cddb_SetServer("127.0.0.1", 9, 1500);
    WritePrivateProfileStringA("632", nullptr, nullptr, "cdplayer.ini");
    ASSERT_TRUE(fakedev::Install(Model("a.model", ""), commandLog));
    WritePrivateProfileStringA("B26", nullptr, nullptr, "cdplayer.ini");
    t = Tag(CdData("drive\\track01.cda"));
    EXPECT_STREQ(t.title, "<Not Set>");
    EXPECT_STREQ(t.album, "");
    Stop();

    // A match line of 121 characters is cut at 79 and still names the disc;
    // a title is the first 127 characters of its line (5,000 here), and the
    // lines of a title are joined up to that.
    Start("a.model");
    Server("long");
    t = Tag(CdData("drive\\track01.cda"));
    std::string numbers;
    for (int i = 0; i < 1000; ++i) {
        char piece[8];
        snprintf(piece, sizeof piece, "%04d-", i);
        numbers += piece;
    }
    EXPECT_EQ(std::string(t.title), numbers.substr(0, 127));
    EXPECT_STREQ(t.author, "The Monteverdi Choir & English Baroque Soloists");
    EXPECT_STREQ(t.album, "Bach: Mass");
    EXPECT_STREQ(t.genre, "folk");
    auto times = [](const std::string& piece, int n) {
        std::string out;
        while (n-- > 0) out += piece;
        return out;
    };
    t = Tag(CdData("drive\\track02.cda"));
    EXPECT_EQ(std::string(t.title), times("Kyrie ", 30).substr(0, 127));
    t = Tag(CdData("drive\\track03.cda"));
    EXPECT_EQ(std::string(t.title), ("Closing, " + times("Gloria ", 40)).substr(0, 127));
}

// _stricmp that, once armed, holds the first caller that finds two equal
// texts (GetTagEx finding an open track) for a while, and says so.
int(__cdecl* g_realStricmp)(const char*, const char*);
HANDLE g_found;
volatile LONG g_armed;

int __cdecl HoldingStricmp(const char* a, const char* b)
{
    int r = g_realStricmp(a, b);
    if (r == 0 && InterlockedExchange(&g_armed, 0)) {
        SetEvent(g_found);
        Sleep(300);
    }
    return r;
}

struct TagCall {
    IVqProModule* m;
    TrackInfo info;
    int result;
};

DWORD WINAPI CallGetTagEx(void* p)
{
    auto* call = static_cast<TagCall*>(p);
    call->result = call->m->input.GetTagEx(&call->info);
    return 0;
}

TEST_F(CddbTest, CloseDoesNotReleaseTheDriveUnderAGetTagExOnAnotherThread)
{
    // GetTagEx on another thread has found the open track when this thread
    // closes it: it still answers from a drive that is open.
    Start("a.model");
    Server("exact");
    std::string path = CdData("drive\\track02.cda");
    void* h = m->input.Open(path.c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    TrackInfo first = {};
    ASSERT_EQ(m->input.GetTag(&first, h), 1);
    ASSERT_STREQ(first.title, "Second part one, and two");
    void* previous = ReplaceImport("_stricmp", reinterpret_cast<void*>(HoldingStricmp));
    ASSERT_NE(previous, nullptr);
    g_realStricmp = reinterpret_cast<int(__cdecl*)(const char*, const char*)>(previous);
    g_found = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_armed = 1;
    TagCall call = {m, {}, -1};
    lstrcpynA(call.info.path, path.c_str(), 255);
    HANDLE thread = CreateThread(nullptr, 0, CallGetTagEx, &call, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(g_found, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(m->input.Close(h), 1);
    EXPECT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    CloseHandle(thread);
    CloseHandle(g_found);
    ReplaceImport("_stricmp", previous);
    EXPECT_EQ(call.result, 1);
    EXPECT_STREQ(call.info.title, "Second part one, and two");
    EXPECT_STREQ(call.info.album, "Disc A");
}

TEST(CddbParse, MatchLines)
{
    CddbMatch m;
    EXPECT_TRUE(Cddb_ParseMatchLine("newage 0a1b2c3d  Some One / Some Thing\r", &m));
    EXPECT_STREQ(m.category, "newage");
    EXPECT_STREQ(m.discId, "0a1b2c3d");
    EXPECT_STREQ(m.artist, "Some One");
    EXPECT_STREQ(m.title, "Some Thing");
    EXPECT_FALSE(Cddb_ParseMatchLine(" rock 0a1b2c3d A / B", &m));
    EXPECT_FALSE(Cddb_ParseMatchLine("rock", &m));
    EXPECT_FALSE(Cddb_ParseMatchLine("rock 0a1b2c3d9 A / B", &m));
    std::string longArtist(120, 'a');
    EXPECT_TRUE(Cddb_ParseMatchLine(("categorylong 1 " + longArtist + " / t").c_str(), &m));
    EXPECT_STREQ(m.category, "categorylon");
    EXPECT_EQ(strlen(m.artist), 80u);
}

}  // namespace

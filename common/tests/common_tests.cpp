#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <string>

#include "common_expected.h"
#include "pyl_comlib.h"
#include "test_support.h"

namespace {

HINSTANCE ComLib() { return GetModuleHandleA("PylComLib.dll"); }

std::string ModuleFile(HINSTANCE h)
{
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(h, buf, MAX_PATH);
    return std::string(buf, n);
}

// Text placed so that its NUL is the last byte before an inaccessible page:
// reading past the end faults.
struct GuardedText {
    char* base = nullptr;
    char* text = nullptr;
    explicit GuardedText(const char* s)
    {
        base = (char*)VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD old;
        VirtualProtect(base + 4096, 4096, PAGE_NOACCESS, &old);
        size_t n = strlen(s) + 1;
        text = base + 4096 - n;
        memcpy(text, s, n);
    }
    ~GuardedText() { VirtualFree(base, 0, MEM_RELEASE); }
};

TEST(PathHelpers, ChangeFileExtReplacesOnlyTheFileExtension)
{
    std::string self = ModuleFile(ComLib());
    char out[1024];
    ChangeFileExt(ComLib(), "ini", out, sizeof out);
    EXPECT_EQ(self.substr(0, self.size() - 3) + "ini", out);

    // Bounded by size, always terminated.
    memset(out, 'x', sizeof out);
    ChangeFileExt(ComLib(), "log", out, 12);
    EXPECT_EQ(11u, strlen(out));
    EXPECT_EQ(self.substr(0, 11), out);

    // A dot in a folder name is not an extension; a file without one gets it appended.
    std::string dir = vqtest::MakeTempDir("comlib_ext");
    std::string dotted = dir + "\\a.b";
    ASSERT_TRUE(CreateDirectoryA(dotted.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(self.c_str(), (dotted + "\\prog").c_str(), FALSE));
    HMODULE prog = LoadLibraryA((dotted + "\\prog.").c_str());
    ASSERT_NE(nullptr, prog);
    ChangeFileExt(prog, "ini", out, sizeof out);
    EXPECT_STRCASEEQ((dotted + "\\prog.ini").c_str(), out);
    FreeLibrary(prog);
    vqtest::RemoveTree(dir);
}

TEST(PathHelpers, AppendFileToAppPath)
{
    std::string self = ModuleFile(ComLib());
    std::string folder = self.substr(0, self.find_last_of('\\'));
    char out[260];
    AppendFileToAppPath(ComLib(), out, nullptr);
    EXPECT_EQ(folder, out);
    AppendFileToAppPath(ComLib(), out, "enc.ini");
    EXPECT_EQ(folder + "\\enc.ini", out);

    std::string longName(400, 'n');
    AppendFileToAppPath(ComLib(), out, longName.c_str());
    EXPECT_EQ(259u, strlen(out));
}

TEST(PathHelpers, CreatePathReportsWhetherTheFolderExists)
{
    std::string dir = vqtest::MakeTempDir("comlib_path");
    auto isDir = [](const std::string& p) {
        DWORD a = GetFileAttributesA(p.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    };
    EXPECT_EQ(1, CreatePath((dir + "\\a\\b\\c").c_str(), 0));
    EXPECT_TRUE(isDir(dir + "\\a\\b\\c"));
    EXPECT_EQ(1, CreatePath((dir + "\\a\\b\\c").c_str(), 0));  // already there

    EXPECT_EQ(1, CreatePath((dir + "\\d\\e\\out.wav").c_str(), 1));
    EXPECT_TRUE(isDir(dir + "\\d\\e"));
    EXPECT_FALSE(vqtest::FileExists(dir + "\\d\\e\\out.wav"));
    EXPECT_EQ(1, CreatePath((dir + "\\f\\").c_str(), 1));
    EXPECT_TRUE(isDir(dir + "\\f"));

    // A file in the way: the folder cannot exist afterwards.
    ASSERT_TRUE(vqtest::WriteFile(dir + "\\plain.txt", "x", 1));
    EXPECT_EQ(0, CreatePath((dir + "\\plain.txt\\sub\\out.wav").c_str(), 1));
    EXPECT_EQ(0, CreatePath((dir + "\\plain.txt\\sub").c_str(), 0));

    EXPECT_EQ(0, CreatePath("", 0));
    EXPECT_EQ(0, CreatePath(nullptr, 1));
    std::string tooLong = dir + "\\" + std::string(300, 'z');
    EXPECT_EQ(0, CreatePath(tooLong.c_str(), 0));
    vqtest::RemoveTree(dir);
}

TEST(Conversions, BytesMatchIndependentValues)
{
    for (const auto& c : kBytesCases) {
        SCOPED_TRACE(testing::Message() << c.value << " s at " << c.bytesPerSec << " align " << c.blockAlign);
        EXPECT_EQ(c.secBytes, Sec2Bytes(c.value, c.bytesPerSec, c.blockAlign));
        EXPECT_EQ(c.msBytes, MS2Bytes(c.value * 1000.0, c.bytesPerSec, c.blockAlign));
    }
    EXPECT_EQ(13230u, Sec2Bytes(0.3, 44100, 2));
    EXPECT_EQ(0u, Sec2Bytes(NAN, 44100, 4));
    EXPECT_EQ(0u, MS2Bytes(-INFINITY, 44100, 4));
    EXPECT_EQ(0xFFFFFFFCu, MS2Bytes(INFINITY, 44100, 4));
    EXPECT_DOUBLE_EQ(100.0, Bytes2MS(17640, 176400));
    EXPECT_DOUBLE_EQ(0.1, Bytes2Sec(17640, 176400));
    EXPECT_DOUBLE_EQ(4294967.295, Bytes2MS(0xFFFFFFFFu, 1000000));
}

TEST(Conversions, EtaFromElapsedWholeSeconds)
{
    EXPECT_EQ(0.0, ETA(0.0, 120.0, (int)time(nullptr) - 50));
    int start = (int)time(nullptr) - 10;
    unsigned before = (unsigned)time(nullptr) - (unsigned)start;
    double eta = ETA(30.0, 120.0, start);
    unsigned after = (unsigned)time(nullptr) - (unsigned)start;
    EXPECT_GE(eta, before * 3.0);
    EXPECT_LE(eta, after * 3.0);
}

TEST(FormatTime, MatchesIndependentValues)
{
    for (const auto& c : kTimeCases) {
        SCOPED_TRACE(testing::Message() << (c.format ? c.format : "(null)") << " " << c.seconds);
        char buf[128];
        memset(buf, '#', sizeof buf);
        EXPECT_EQ(1, FormatTime(buf, sizeof buf, c.format, c.seconds));
        EXPECT_STREQ(c.text, buf);
    }
}

TEST(FormatTime, BoundsAndOddInput)
{
    char buf[16];
    EXPECT_EQ(0, FormatTime(nullptr, 16, nullptr, 1.0));

    memset(buf, '#', sizeof buf);
    EXPECT_EQ(1, FormatTime(buf, 0, "%00h:%00m:%00s", 3725.0));
    EXPECT_EQ('#', buf[0]);

    memset(buf, '#', sizeof buf);
    EXPECT_EQ(1, FormatTime(buf, 6, "%00h:%00m:%00s", 3725.0));
    EXPECT_STREQ("01:02", buf);
    EXPECT_EQ('#', buf[6]);

    memset(buf, '#', sizeof buf);
    EXPECT_EQ(1, FormatTime(buf, 5, nullptr, 0.5));
    EXPECT_STREQ("500.", buf);

    EXPECT_EQ(1, FormatTime(buf, sizeof buf, "%00h:%00m:%00s", NAN));
    EXPECT_STREQ("00:00:00", buf);
    EXPECT_EQ(1, FormatTime(buf, sizeof buf, "%00h:%00m:%00s", -5.0));
    EXPECT_STREQ("00:00:00", buf);
    EXPECT_EQ(1, FormatTime(buf, sizeof buf, nullptr, -0.5));
    EXPECT_STREQ("0.000 ps", buf);
    char big[64];
    EXPECT_EQ(1, FormatTime(big, sizeof big, "%d", INFINITY));
    EXPECT_STRNE("", big);

    // A format ending inside a field stops there, without reading beyond it.
    GuardedText fmt("%00h:%00");
    EXPECT_EQ(1, FormatTime(buf, sizeof buf, fmt.text, 3725.0));
    EXPECT_STREQ("01:", buf);
}

TEST(Strings, TrimPadAndNumeric)
{
    char out[32];
    EXPECT_EQ(1, StrTrim(out, " \tabc \r\n"));
    EXPECT_STREQ("abc", out);
    char same[] = "\x01  x y \x7F";
    EXPECT_EQ(1, StrTrim(same, same));
    EXPECT_STREQ("x y \x7F", same);
    EXPECT_EQ(1, StrTrim(out, "\xA0" "abc\xA0"));
    EXPECT_STREQ("\xA0" "abc\xA0", out);

    strcpy(out, "keep");
    EXPECT_EQ(0, StrTrim(out, ""));
    EXPECT_STREQ("keep", out);
    EXPECT_EQ(0, StrTrim(nullptr, "x"));
    EXPECT_EQ(0, StrTrim(out, nullptr));

    GuardedText blanks(" \t\r\n ");
    EXPECT_EQ(1, StrTrim(out, blanks.text));
    EXPECT_STREQ("", out);

    EXPECT_EQ(1, StrPadR("abcdefgh", out, 5));
    EXPECT_STREQ("abcde", out);
    EXPECT_EQ(1, StrPadR("ab", out, 5));
    EXPECT_STREQ("ab   ", out);
    EXPECT_EQ(1, StrPadR("ab", out, 0));
    EXPECT_STREQ("", out);
    EXPECT_EQ(0, StrPadR(nullptr, out, 3));

    EXPECT_EQ(1, IsNumeric(""));
    EXPECT_EQ(1, IsNumeric("0123456789"));
    EXPECT_EQ(0, IsNumeric("12a"));
    EXPECT_EQ(0, IsNumeric("-1"));
    EXPECT_EQ(0, IsNumeric(nullptr));
}

TEST(Strings, CapitalisesSentencesAndWords)
{
    char out[64];
    EXPECT_EQ(1, StrCapFrase("HELLO WORLD", out, 0, 0));
    EXPECT_STREQ("Hello world", out);
    EXPECT_EQ(1, StrCapFrase("the (BEST) of", out, 0, 1));
    EXPECT_STREQ("The (Best) Of", out);
    EXPECT_EQ(1, StrCapFrase("my_song_NAME", out, 0, 1));
    EXPECT_STREQ("My song name", out);  // "_" turns into a blank but starts no word
    EXPECT_EQ(1, StrCapFrase("2ND.tRACK[live]{x}", out, 0, 1));
    EXPECT_STREQ("2nd.Track[Live]{X}", out);
    EXPECT_EQ(1, StrCapFrase("", out, 0, 1));
    EXPECT_STREQ("", out);
    EXPECT_EQ(0, StrCapFrase(nullptr, out, 0, 0));
    EXPECT_EQ(0, StrCapFrase("x", nullptr, 0, 0));
}

TEST(Strings, DuplicateFromProcessHeap)
{
    char* p = StrDpl("copy me");
    ASSERT_NE(nullptr, p);
    EXPECT_STREQ("copy me", p);
    EXPECT_EQ(8u, HeapSize(GetProcessHeap(), 0, p));
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, p));
    EXPECT_EQ(nullptr, StrDpl(""));
    EXPECT_EQ(nullptr, StrDpl(nullptr));
}

TEST(Hex, XstolAndDecode)
{
    EXPECT_EQ(31ul, xstol("1f "));
    EXPECT_EQ(0xFFFFFFFFul, xstol("FFFFFFFF"));
    EXPECT_EQ(0x10ul, xstol("1g"));
    EXPECT_EQ(0x12ul, xstol("12\xC0" "3"));
    EXPECT_EQ(0ul, xstol(nullptr));

    for (const auto& c : kDecodeCases) {
        SCOPED_TRACE(c.hex);
        char out[64];
        ASSERT_EQ(c.count, PylDecodeStr(out, c.key, c.hex));
        EXPECT_EQ(0, memcmp(c.bytes, out, c.count));
        EXPECT_EQ('\0', out[c.count]);
    }
    char out[8];
    EXPECT_EQ(-1, PylDecodeStr(out, "", "4142"));
    EXPECT_EQ(-1, PylDecodeStr(out, "k", "4"));
    EXPECT_EQ(-1, PylDecodeStr(out, "k", nullptr));
}

}  // namespace

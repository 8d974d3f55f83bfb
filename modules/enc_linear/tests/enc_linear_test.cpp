// WAV encoder: file layout, naming, settings order and write failures.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>
#include <string>
#include <vector>
#include "file_naming.h"
#include "output_records.h"
#include "test_support.h"
#include "vq_module.h"
#include "wav_file.h"

namespace {

const unsigned char kPcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
const unsigned char kFloatGuid[16] = {3, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t Le16(const unsigned char* p) { return (uint16_t)(p[0] | p[1] << 8); }

StreamFormat Format(int channels, int rate, int bits)
{
    // Deliberately wrong derived fields: the encoder computes its own.
    return StreamFormat{7, channels, rate, 1, 1, bits};
}

// Checks the RIFF structure of a finished file and returns its data chunk.
::testing::AssertionResult ParseWav(const std::vector<unsigned char>& f, std::vector<unsigned char>* data)
{
    if (f.size() < 68) return ::testing::AssertionFailure() << "short file " << f.size();
    if (memcmp(&f[0], "RIFF", 4) || memcmp(&f[8], "WAVEfmt ", 8) || memcmp(&f[60], "data", 4))
        return ::testing::AssertionFailure() << "bad chunk ids";
    if (Le32(&f[4]) != f.size() - 8) return ::testing::AssertionFailure() << "RIFF size " << Le32(&f[4]);
    if (Le32(&f[16]) != 40) return ::testing::AssertionFailure() << "fmt size";
    uint32_t n = Le32(&f[64]);
    if (68 + n + (n & 1) != f.size()) return ::testing::AssertionFailure() << "data size " << n << " of " << f.size();
    if ((n & 1) && f.back() != 0) return ::testing::AssertionFailure() << "pad byte not zero";
    if (data) data->assign(f.begin() + 68, f.begin() + 68 + n);
    return ::testing::AssertionSuccess();
}

TrackInfo Track(const char* path)
{
    TrackInfo t;
    memset(&t, 0, sizeof(t));
    strcpy(t.path, path);
    return t;
}

std::string Name(const char* pattern, const char* folder, int counter, const TrackInfo& t)
{
    char out[OutputNameBytes];
    EXPECT_EQ(1, BuildOutputName(out, pattern, folder, counter, &t, 1));
    return out;
}

TEST(WavFormat, ExtensibleRecordFieldByField)
{
    unsigned char f[40];
    StreamFormat s = Format(2, 44100, 16);
    WavBuildFormat(&s, f);
    const unsigned char head[24] = {0xFE, 0xFF, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0,
                                    4,    0,    16, 0, 22,   0,    16, 0, 3,   0,    0, 0};
    EXPECT_EQ(0, memcmp(f, head, 24));
    EXPECT_EQ(0, memcmp(f + 24, kPcmGuid, 16));

    s = Format(1, 8000, 8);  // mono keeps the two-channel mask
    WavBuildFormat(&s, f);
    EXPECT_EQ(1, Le16(f + 12));
    EXPECT_EQ(8000u, Le32(f + 8));
    EXPECT_EQ(3u, Le32(f + 20));
    EXPECT_EQ(0, memcmp(f + 24, kPcmGuid, 16));

    s = Format(2, 48000, 24);
    WavBuildFormat(&s, f);
    EXPECT_EQ(6, Le16(f + 12));
    EXPECT_EQ(288000u, Le32(f + 8));
    EXPECT_EQ(24, Le16(f + 18));
    EXPECT_EQ(0, memcmp(f + 24, kPcmGuid, 16));

    s = Format(2, 44100, 32);
    WavBuildFormat(&s, f);
    EXPECT_EQ(8, Le16(f + 12));
    EXPECT_EQ(0, memcmp(f + 24, kFloatGuid, 16));
    s.formatTag = 1;  // a source that says integer stays integer
    WavBuildFormat(&s, f);
    EXPECT_EQ(0, memcmp(f + 24, kPcmGuid, 16));
    for (int bits : {12, 20}) {  // whole-byte containers
        s = Format(2, 8000, bits);
        WavBuildFormat(&s, f);
        EXPECT_EQ(bits == 12 ? 4 : 6, Le16(f + 12)) << bits;
        EXPECT_EQ(bits == 12 ? 32000u : 48000u, Le32(f + 8)) << bits;
    }
}

TEST(FileNaming, CodesAndFolders)
{
    TrackInfo t = Track("C:\\Music\\Artist - Song.mp3");
    EXPECT_EQ("C:\\Music\\Artist - Song.wav", Name("%p\\%f.wav", "D:\\Out", 1, t));
    strcpy(t.title, "What? Now: A/B");
    t.track = 3;
    EXPECT_EQ("D:\\Out\\03 - What_ Now. A-B.wav", Name("%n - %t.wav", "D:\\Out", 1, t));
    EXPECT_EQ("D:\\Out\\03 - What_ Now. A-B.wav", Name("%N - %T.wav", "D:\\Out\\", 1, t));
    EXPECT_EQ("\\x", Name("x", "", 1, t));
    EXPECT_EQ("x", Name("x", nullptr, 1, t));
    EXPECT_EQ("001", Name("%c", nullptr, 1, t));
    EXPECT_EQ("1000", Name("%c", nullptr, 1000, t));
    EXPECT_EQ("mp3", Name("%e", nullptr, 1, t));
    EXPECT_EQ("abc", Name("a%%b%xc%", nullptr, 1, t));

    TrackInfo plain = Track("C:\\x.dir\\song");  // the dot belongs to the folder
    strcpy(plain.format, "WAV");
    EXPECT_EQ("WAV", Name("%e", nullptr, 1, plain));
    EXPECT_EQ("song", Name("%f", nullptr, 1, plain));
    TrackInfo bare = Track("song.flac");
    EXPECT_EQ("Dsong.flac", Name("D%p%f", nullptr, 1, bare));
    EXPECT_EQ("flac", Name("%e", nullptr, 1, bare));
}

TEST(FileNaming, TagCleaningKeepsNamesInsideTheFolder)
{
    TrackInfo t = Track("C:\\in\\a.mp3");
    strcpy(t.author, "<Not Set>");
    strcpy(t.album, "..\\..\\Windows");
    strcpy(t.genre, "a\tb\x01|\"*");
    strcpy(t.title, "Wait...");
    EXPECT_EQ("D:\\(Not Set)", Name("%a", "D:", 1, t));
    // One character for one: dots stay dots, separators become "-".
    EXPECT_EQ("D:\\..-..-Windows", Name("%b", "D:", 1, t));
    EXPECT_EQ("D:\\a_b_!'-", Name("%g", "D:", 1, t));
    EXPECT_EQ("D:\\Wait....wav", Name("%t.wav", "D:", 1, t));
    EXPECT_EQ("D:\\..-..-Windows - Wait....wav", Name("%b - %t.wav", "D:", 1, t));
    // A tag that fills a whole folder step with dots (and blanks) cannot name
    // the folder itself or the one above it.
    for (const char* dots : {"..", ".", ". .", "... "}) {
        strcpy(t.rating, dots);
        std::string guarded = dots;
        for (char& c : guarded)
            if (c == '.') c = '_';
        EXPECT_EQ("D:\\" + guarded + "\\x.wav", Name("%r\\x.wav", "D:", 1, t)) << dots;
        EXPECT_EQ("D:\\" + guarded, Name("%r", "D:", 1, t)) << dots;
        EXPECT_EQ("D:\\" + guarded + "/" + guarded + "\\00.wav", Name("%r/%r\\%n.wav", "D:", 1, t)) << dots;
    }
    // Dots beside other characters are an ordinary name.
    strcpy(t.rating, ".");
    EXPECT_EQ("D:\\...wav", Name("%r%r.wav", "D:", 1, t));
    // The source path and the pattern are not cleaned.
    EXPECT_EQ("C:\\in\\..\\a", Name("%p\\..\\%f", "D:", 1, t));
}

TEST(FileNaming, TagThatNamesADeviceGetsAnOrdinaryName)
{
    // A step a tag took part in never names a device, whatever follows the
    // device name; near misses, the fixed folder and the pattern stay as they are.
    struct Row {
        const char *author, *title, *pattern, *folder, *expected;
    } rows[] = {
        {"x", "COM1", "%a\\%t.wav", "D:\\Out", "D:\\Out\\x\\COM1_.wav"},
        {"lpt9", "x", "%a\\%t.wav", "D:\\Out", "D:\\Out\\lpt9_\\x.wav"},
        {"Con", "Con", "%a\\%t.wav", "D:\\Out", "D:\\Out\\Con_\\Con_.wav"},
        {"aux", "Prn", "%a/%t", "D:\\Out", "D:\\Out\\aux_/Prn_"},
        {"CONIN$", "conout$", "%a\\%t.wav", "D:\\Out", "D:\\Out\\CONIN$_\\conout$_.wav"},
        {"NUL.x", "x", "%a - %t.wav", "D:\\Out", "D:\\Out\\NUL_.x - x.wav"},
        {"LPT1:", "x", "%a - %t.wav", "D:\\Out", "D:\\Out\\LPT1_. - x.wav"},
        {"COM1.x", "x", "%a - %t.wav", "D:\\Out", "D:\\Out\\COM1_.x - x.wav"},
        {"x", "LPT1. - x", "%t.wav", "D:\\Out", "D:\\Out\\LPT1_. - x.wav"},
        {"AUX .", "PRN  ", "%a\\%t.wav", "D:\\Out", "D:\\Out\\AUX_ .\\PRN_  .wav"},
        {"ON", "ul", "C%a\\N%t.wav", "D:\\Out", "D:\\Out\\CON_\\Nul_.wav"},
        {"COM10", "COM9", "%a\\%t.wav", "D:\\Out", "D:\\Out\\COM10\\COM9_.wav"},
        {"COM0", "nul", "%a\\%t.wav", "D:\\Out", "D:\\Out\\COM0\\nul_.wav"},
        {"CONSOLE", "PRN", "%a\\%t.wav", "D:\\Out", "D:\\Out\\CONSOLE\\PRN_.wav"},
        {"LPT0", "com3", "%a\\%t.wav", "D:\\Out", "D:\\Out\\LPT0\\com3_.wav"},
        {"NULL", "CONOUT$ ", "%a\\%t", "D:\\Out", "D:\\Out\\NULL\\CONOUT$_ "},
        {"COM1", "PRN", "%a - %t\\%t.wav", "D:\\Out", "D:\\Out\\COM1 - PRN\\PRN_.wav"},
        {"x", "AUX", "%t.wav", "D:\\NUL", "D:\\NUL\\AUX_.wav"},
        {"x", "LPT3", "CON\\%t.wav", "D:\\Out", "D:\\Out\\CON\\LPT3_.wav"},
    };
    for (const Row& r : rows) {
        TrackInfo t = Track("C:\\in\\a.mp3");
        strcpy(t.author, r.author);
        strcpy(t.title, r.title);
        EXPECT_EQ(r.expected, Name(r.pattern, r.folder, 1, t)) << r.author << " | " << r.title << " | " << r.pattern;
    }
    // Bytes that code page 1252 leaves undefined are controls; its defined
    // bytes around them stay.
    TrackInfo t = Track("C:\\in\\a.mp3");
    strcpy(t.genre, "\x80\x81\x8D\x8E\x8F\x90\x91\x9D\x9E");
    EXPECT_EQ("D:\\\x80__\x8E__\x91_\x9E", Name("%g", "D:", 1, t));
}

TEST(FileNaming, NameThatDoesNotFitFails)
{
    TrackInfo t = Track("C:\\in\\a.mp3");
    memset(t.title, 'T', 127);
    std::string folder(1000, 'f');
    char out[OutputNameBytes];
    EXPECT_EQ(0, BuildOutputName(out, "%t.wav", folder.c_str(), 1, &t, 1));
    EXPECT_STREQ("", out);
    std::string fits(OutputNameBytes - 2 - 4, 'f');  // folder + "\" + "x.wa" + NUL = 1008
    EXPECT_EQ(1, BuildOutputName(out, "x.wa", fits.c_str(), 1, &t, 1));
    EXPECT_EQ(0, BuildOutputName(out, "x.wav", fits.c_str(), 1, &t, 1));
    // The "_" that keeps a tag from naming a device needs room too.
    strcpy(t.title, "CON");
    EXPECT_EQ(0, BuildOutputName(out, "%t.a", std::string(1001, 'f').c_str(), 1, &t, 1));
    EXPECT_STREQ("", out);
    EXPECT_EQ(1, BuildOutputName(out, "%t.a", std::string(1000, 'f').c_str(), 1, &t, 1));
    EXPECT_EQ(std::string(1000, 'f') + "\\CON_.a", out);
}

// Write seam: the disk takes only `g_budget` more bytes (rewriting bytes
// already in the file needs no room).
long g_budget;
BOOL WINAPI LimitedWrite(HANDLE h, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED ov)
{
    DWORD pos = SetFilePointer(h, 0, nullptr, FILE_CURRENT), size = GetFileSize(h, nullptr);
    DWORD inside = pos < size ? size - pos : 0;
    DWORD growth = bytes > inside ? bytes - inside : 0;
    DWORD allowed = growth <= (DWORD)g_budget ? growth : (DWORD)g_budget;
    g_budget -= allowed;
    DWORD take = bytes - growth + allowed;
    BOOL ok = WriteFile(h, data, take, written, ov);
    if (ok && take < bytes) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return ok;
}

class WavWriterFailures : public ::testing::Test {
protected:
    void SetUp() override { dir = vqtest::MakeTempDir("wavfail"); }
    void TearDown() override
    {
        g_wavWriteFile = WriteFile;
        g_wavDataLimit = 0xFFFFFFFFu - 61;
        vqtest::RemoveTree(dir);
    }
    std::string dir;
};

TEST_F(WavWriterFailures, ShortWriteIsAnErrorAndLeavesAValidFile)
{
    std::string path = dir + "\\short.wav";
    unsigned char fmt[40];
    StreamFormat s = Format(2, 44100, 16);
    WavBuildFormat(&s, fmt);
    WavFile w;
    ASSERT_EQ(1, WavCreate(&w, path.c_str(), fmt));
    g_wavWriteFile = LimitedWrite;
    g_budget = 1500;
    std::vector<unsigned char> block(1001);
    for (size_t i = 0; i < block.size(); i++) block[i] = (unsigned char)(i * 7 + 1);
    EXPECT_EQ(1001, WavWriteData(&w, block.data(), 1001));
    EXPECT_EQ(-1, WavWriteData(&w, block.data(), 1001));  // only 499 bytes fit
    EXPECT_EQ(1001u, w.dataBytes);
    g_budget = 1;  // room for the pad byte
    EXPECT_EQ(1, WavFinish(&w));
    std::vector<unsigned char> f, data;
    ASSERT_TRUE(vqtest::ReadFile(path, f));
    ASSERT_TRUE(ParseWav(f, &data));
    EXPECT_EQ(block, data);
}

TEST_F(WavWriterFailures, NoRoomForThePadByteDropsOneByte)
{
    std::string path = dir + "\\pad.wav";
    unsigned char fmt[40];
    StreamFormat s = Format(1, 8000, 8);
    WavBuildFormat(&s, fmt);
    WavFile w;
    ASSERT_EQ(1, WavCreate(&w, path.c_str(), fmt));
    g_wavWriteFile = LimitedWrite;
    g_budget = 3;
    EXPECT_EQ(3, WavWriteData(&w, "abc", 3));
    EXPECT_EQ(1, WavFinish(&w));
    std::vector<unsigned char> f, data;
    ASSERT_TRUE(vqtest::ReadFile(path, f));
    ASSERT_TRUE(ParseWav(f, &data));
    EXPECT_EQ(std::string("ab"), std::string(data.begin(), data.end()));
}

TEST_F(WavWriterFailures, WritingStopsBeforeTheRiffLimit)
{
    std::string path = dir + "\\limit.wav";
    unsigned char fmt[40];
    StreamFormat s = Format(2, 44100, 16);
    WavBuildFormat(&s, fmt);
    WavFile w;
    ASSERT_EQ(1, WavCreate(&w, path.c_str(), fmt));
    g_wavDataLimit = 10;
    EXPECT_EQ(8, WavWriteData(&w, "12345678", 8));
    EXPECT_EQ(-1, WavWriteData(&w, "1234", 4));
    EXPECT_EQ(8u, w.dataBytes);
    EXPECT_EQ(1, WavFinish(&w));
    std::vector<unsigned char> f;
    ASSERT_TRUE(vqtest::ReadFile(path, f));
    EXPECT_TRUE(ParseWav(f, nullptr));
    EXPECT_EQ(76u, f.size());
}

TEST_F(WavWriterFailures, NameThatOpensADeviceIsRefused)
{
    unsigned char fmt[40];
    StreamFormat s = Format(2, 44100, 16);
    WavBuildFormat(&s, fmt);
    for (std::string name : {std::string("NUL"), std::string("\\\\.\\NUL"), dir + "\\nul.wav"}) {
        WavFile w;
        EXPECT_EQ(0, WavCreate(&w, name.c_str(), fmt)) << name;
        EXPECT_TRUE(w.handle == nullptr) << name;
    }
}

// The real module, loaded from its own temp folder (its INI file lives beside it).
class EncoderModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = vqtest::MakeTempDir("enc");
        out = dir + "\\out";
        CreateDirectoryA(out.c_str(), nullptr);
        std::string dll = vqtest::CopyInto(vqtest::ModulesDir() + "\\enc_linear.dll", dir);
        lib = LoadLibraryExA(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        ASSERT_TRUE(lib != nullptr);
        auto get = (GetModuleInterfaceFn)GetProcAddress(lib, "GetModuleInterface");
        ASSERT_TRUE(get != nullptr);
        m = get();
        m->h.hInstance = lib;
        logFile = dir + "\\test.log";
        ASSERT_EQ(1, m->h.InitModule(logFile.c_str(), &level));
        ini = dir + "\\enc_linear.ini";
    }
    void TearDown() override
    {
        if (m) m->h.QuitModule();
        if (lib) FreeLibrary(lib);
        vqtest::RemoveTree(dir);
    }
    void SetText(int index, const char* section, const char* value)
    {
        SettingRecord r;
        ASSERT_EQ((int)SettingType::Text, m->h.GetSetting(&r, index, section, nullptr));
        memset(r.currentValue, 0, sizeof(r.currentValue));
        strcpy((char*)r.currentValue, value);
        m->h.SetSetting(&r, index, section, nullptr);
    }
    void UseOutput(const char* pattern)
    {
        SetText(0, VQ_HOST_SECTION, out.c_str());
        SetText(1, VQ_HOST_SECTION, pattern);
    }
    std::vector<unsigned char> Written(const char* name)
    {
        std::vector<unsigned char> f;
        EXPECT_TRUE(vqtest::ReadFile(out + "\\" + name, f)) << name;
        return f;
    }
    std::string dir, out, logFile, ini;
    int level = 15;
    HMODULE lib = nullptr;
    IVqProModule* m = nullptr;
};

TEST_F(EncoderModule, RecordAndNullHandles)
{
    EXPECT_EQ(0x1000003Bu, m->h.Version);
    EXPECT_EQ(KindEncoder, m->h.Kind);
    EXPECT_EQ(1, m->h.Id);
    EXPECT_STREQ("PylSoftWAVEncoder", m->h.InternalName);
    EXPECT_STREQ("PylSoft WAV Encoder", m->h.DisplayName);
    EXPECT_EQ(0, strncmp(m->h.AboutText, "PylSoft WAV Encoder v1.0.0.59", 29));
    EXPECT_TRUE(m->h.hIcon != nullptr);
    SettingRecord r;
    EXPECT_EQ(-1, m->h.GetSetting(&r, 2, nullptr, nullptr));
    EXPECT_EQ(1, m->h.QuerySetting(&r, 1, nullptr));
    EXPECT_STREQ("%p\\%f.wav", (const char*)r.defaultValue);
    EXPECT_EQ(0, m->h.QuerySetting(&r, 2, nullptr));
    EXPECT_EQ(-1, m->encoder.Write("x", 1, nullptr));
    EXPECT_EQ(-1, m->encoder.GetState(nullptr));
    EXPECT_EQ(-1, m->encoder.Pause(1, nullptr));
    EXPECT_EQ(-1.0, m->encoder.GetTime(nullptr));
    EXPECT_EQ(-1, m->encoder.Close(nullptr));
    EXPECT_NE(std::string::npos, vqtest::ReadText(logFile).find("Invalid handle value."));
}

TEST_F(EncoderModule, OddAndEvenDataSizesGiveExactHeaders)
{
    UseOutput("%t.wav");
    StreamFormat s = Format(2, 44100, 16);
    std::vector<unsigned char> block(1001);
    for (size_t i = 0; i < block.size(); i++) block[i] = (unsigned char)(i * 13 + 5);
    for (int n : {1000, 1001}) {
        TrackInfo t = Track("C:\\in\\x.mp3");
        sprintf(t.title, "size%d", n);
        void* h = m->encoder.Open(&t, &s, VQ_HOST_SECTION);
        ASSERT_TRUE(h != nullptr);
        EXPECT_EQ(n, m->encoder.Write((const char*)block.data(), n, h));
        EXPECT_EQ(1, m->encoder.Close(h));
        std::vector<unsigned char> f = Written((std::string(t.title) + ".wav").c_str()), data;
        ASSERT_TRUE(ParseWav(f, &data));
        EXPECT_EQ((uint32_t)n, Le32(&f[64]));
        EXPECT_EQ(n == 1000 ? 1060u : 1062u, Le32(&f[4]));
        EXPECT_EQ(std::vector<unsigned char>(block.begin(), block.begin() + n), data);
        unsigned char fmt[40];
        WavBuildFormat(&s, fmt);
        EXPECT_EQ(0, memcmp(&f[20], fmt, 40));
    }
}

TEST_F(EncoderModule, CounterTimeAndPause)
{
    UseOutput("%c.wav");
    StreamFormat s = Format(2, 44100, 16);
    TrackInfo t = Track("C:\\in\\x.mp3");
    void* a = m->encoder.Open(&t, &s, VQ_HOST_SECTION);
    ASSERT_TRUE(a != nullptr);
    std::vector<char> second(176400, 0);
    EXPECT_EQ(176400, m->encoder.Write(second.data(), 176400, a));
    EXPECT_DOUBLE_EQ(1000.0, m->encoder.GetTime(a));
    EXPECT_EQ(0, m->encoder.Pause(1, a));
    EXPECT_EQ(EncoderPaused, m->encoder.GetState(a));
    EXPECT_EQ(2, m->encoder.Pause(0, a));
    EXPECT_EQ(EncoderRunning, m->encoder.GetState(a));
    EXPECT_EQ(1, m->encoder.Close(a));
    void* b = m->encoder.Open(&t, &s, VQ_HOST_SECTION);
    ASSERT_TRUE(b != nullptr);
    EXPECT_EQ(1, m->encoder.Close(b));
    EXPECT_TRUE(vqtest::FileExists(out + "\\001.wav"));
    EXPECT_TRUE(vqtest::FileExists(out + "\\002.wav"));
}

TEST_F(EncoderModule, RefusesToOverwriteItsSourceOrToCreateFolders)
{
    std::string src = out + "\\song.wav";
    ASSERT_TRUE(vqtest::WriteFile(src, "original", 8));
    SetText(1, VQ_HOST_SECTION, "%p\\%f.wav");
    StreamFormat s = Format(2, 44100, 16);
    TrackInfo t = Track(src.c_str());
    EXPECT_TRUE(m->encoder.Open(&t, &s, VQ_HOST_SECTION) == nullptr);
    EXPECT_EQ("original", vqtest::ReadText(src));
    EXPECT_NE(std::string::npos, vqtest::ReadText(logFile).find(
        "[PylSoftWAVEncoder::Open(481)] The output file name is the track's own source file"));
    UseOutput("missing\\%f.wav");
    EXPECT_TRUE(m->encoder.Open(&t, &s, VQ_HOST_SECTION) == nullptr);
    // A name too long for the buffer fails instead of being cut.
    UseOutput((std::string(1000, 'n') + "%f.wav").c_str());
    EXPECT_TRUE(m->encoder.Open(&t, &s, VQ_HOST_SECTION) == nullptr);
    // A file the module did not write is replaced, and so is its own output
    // of the same source; the output of another source is kept.
    UseOutput("%t.wav");
    ASSERT_TRUE(vqtest::WriteFile(out + "\\same.wav", "user's", 6));
    TrackInfo a = Track("C:\\in\\a.mp3"), b = Track("C:\\in\\b.wav");
    strcpy(a.title, "same");
    strcpy(b.title, "same");
    for (int bytes : {4, 6}) {
        void* h = m->encoder.Open(&a, &s, VQ_HOST_SECTION);
        ASSERT_TRUE(h != nullptr) << bytes;
        EXPECT_EQ(bytes, m->encoder.Write("abcdef", bytes, h));
        EXPECT_EQ(1, m->encoder.Close(h));
        EXPECT_EQ(68u + bytes, Written("same.wav").size());
    }
    EXPECT_TRUE(m->encoder.Open(&b, &s, VQ_HOST_SECTION) == nullptr);
    EXPECT_EQ(74u, Written("same.wav").size());
    EXPECT_NE(std::string::npos, vqtest::ReadText(logFile).find(
        "[PylSoftWAVEncoder::Open(483)] The output file name is already used by the output of another file"));
}

// Two batches in one module session, with the sources changed between them.
// A file keeps its index only while it exists: the index of a source that is
// gone may be another file's now, and a source saved again has a new one.
TEST_F(EncoderModule, ABatchAfterTheSourcesChanged)
{
    UseOutput("%t.wav");
    StreamFormat s = Format(2, 44100, 16);
    struct Row {
        const char* first;   // converted in batch 1
        const char* second;  // converted in batch 2, after the change
        bool replaced;       // the second replaces the first's output
    } rows[] = {
        {"first.mp3", "second.mp3", false},  // first.mp3 gone, its index now second.mp3's
        {"song.mp3", "song.mp3", true},      // saved again through a temporary file
    };
    for (const Row& row : rows) {
        std::string first = dir + "\\" + row.first, second = dir + "\\" + row.second;
        ASSERT_TRUE(vqtest::WriteFile(first, "one", 3));
        TrackInfo a = Track(first.c_str()), b = Track(second.c_str());
        strcpy(a.title, "Intro");
        strcpy(b.title, "Intro");
        void* h = m->encoder.Open(&a, &s, VQ_HOST_SECTION);
        ASSERT_TRUE(h != nullptr) << row.first;
        EXPECT_EQ(4, m->encoder.Write("abcd", 4, h));
        EXPECT_EQ(1, m->encoder.Close(h));
        if (first != second) {
            // The index that first.mp3 had, given to second.mp3.
            ASSERT_TRUE(MoveFileA(first.c_str(), second.c_str()));
        } else {
            std::string tmp = dir + "\\saving.tmp";
            ASSERT_TRUE(vqtest::WriteFile(tmp, "two", 3));
            ASSERT_TRUE(MoveFileExA(tmp.c_str(), second.c_str(), MOVEFILE_REPLACE_EXISTING));
        }
        h = m->encoder.Open(&b, &s, VQ_HOST_SECTION);
        EXPECT_EQ(row.replaced, h != nullptr) << row.second;
        if (h) {
            EXPECT_EQ(6, m->encoder.Write("abcdef", 6, h));
            EXPECT_EQ(1, m->encoder.Close(h));
        }
        EXPECT_EQ(row.replaced ? 74u : 72u, Written("Intro.wav").size()) << row.second;
        DeleteFileA((out + "\\Intro.wav").c_str());
    }
}

// A recorded output that was renamed is no longer this module's: another
// source may write a file of that name.
TEST(OutputRecords, RenamedOutputIsNoLongerRecorded)
{
    std::string dir = vqtest::MakeTempDir("records");
    std::string a = dir + "\\a.mp3", b = dir + "\\b.mp3", first = dir + "\\first.wav", kept = dir + "\\kept.wav";
    ASSERT_TRUE(vqtest::WriteFile(a, "a", 1));
    ASSERT_TRUE(vqtest::WriteFile(b, "b", 1));
    OutputClaim claim;
    ASSERT_EQ(OutputFree, ClaimOutput(first.c_str(), a.c_str(), &claim));
    HANDLE h = CreateFileA(first.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    KeepOutput(&claim, h);
    CloseHandle(h);
    EXPECT_EQ(OutputTaken, ClaimOutput(first.c_str(), b.c_str(), &claim));
    EXPECT_EQ(OutputIsSource, ClaimOutput(a.c_str(), a.c_str(), &claim));
    ASSERT_TRUE(MoveFileA(first.c_str(), kept.c_str()));
    EXPECT_EQ(OutputFree, ClaimOutput(kept.c_str(), b.c_str(), &claim));
    DropClaim(&claim);
    ForgetOutputs();
    vqtest::RemoveTree(dir);
}

TEST_F(EncoderModule, NeverWritesToADevice)
{
    StreamFormat s = Format(2, 44100, 16);
    TrackInfo t = Track("C:\\in\\x.mp3");
    strcpy(t.title, "Nul");
    // A tag that names a device gives an ordinary file.
    UseOutput("%t.wav");
    void* h = m->encoder.Open(&t, &s, VQ_HOST_SECTION);
    ASSERT_TRUE(h != nullptr);
    EXPECT_EQ(4, m->encoder.Write("abcd", 4, h));
    EXPECT_EQ(1, m->encoder.Close(h));
    EXPECT_EQ(72u, Written("Nul_.wav").size());
    // A device the pattern itself names cannot be opened for the output.
    UseOutput("NUL.wav");
    EXPECT_TRUE(m->encoder.Open(&t, &s, VQ_HOST_SECTION) == nullptr);
}

TEST_F(EncoderModule, SettingsComeFromSectionThenDefaultThenBuiltIn)
{
    SettingRecord names[2];
    m->h.QuerySetting(&names[0], 0, nullptr);
    m->h.QuerySetting(&names[1], 1, nullptr);
    SetText(0, nullptr, out.c_str());           // "Default" section
    SetText(1, "Mine", "%t from section.wav");  // own section
    StreamFormat s = Format(1, 22050, 16);
    TrackInfo t = Track("C:\\in\\x.mp3");
    strcpy(t.title, "T");
    void* h = m->encoder.Open(&t, &s, "Mine");
    ASSERT_TRUE(h != nullptr);
    EXPECT_EQ(1, m->encoder.Close(h));
    EXPECT_TRUE(vqtest::FileExists(out + "\\T from section.wav"));
    char value[1024];
    GetPrivateProfileStringA("Mine", names[0].name, "", value, sizeof(value), ini.c_str());
    EXPECT_EQ(out, value);
    GetPrivateProfileStringA("Mine", names[1].name, "", value, sizeof(value), ini.c_str());
    EXPECT_STREQ("%t from section.wav", value);
}

TEST_F(EncoderModule, FullDiskReturnsMinusOneAndLeavesAValidFile)
{
    std::string data = vqtest::TestDataDir() + "\\enc_linear";
    if (!vqtest::FileExists(data + "\\full_mounted"))
        GTEST_SKIP() << "no tmpfs could be mounted (needs root); the seam tests above cover short writes";
    out = data + "\\full";
    UseOutput("%t.wav");
    StreamFormat s = Format(2, 44100, 16);
    TrackInfo t = Track("C:\\in\\x.mp3");
    strcpy(t.title, "filled");
    void* h = m->encoder.Open(&t, &s, VQ_HOST_SECTION);
    ASSERT_TRUE(h != nullptr);
    std::vector<char> block(4411, 0x55);
    int result = 0;
    long total = 0;
    for (int i = 0; i < 100 && result >= 0; i++) {
        result = m->encoder.Write(block.data(), (int)block.size(), h);
        if (result > 0) total += result;
    }
    EXPECT_EQ(-1, result);
    EXPECT_EQ(1, m->encoder.Close(h));
    std::vector<unsigned char> f, written;
    ASSERT_TRUE(vqtest::ReadFile(out + "\\filled.wav", f));
    ASSERT_TRUE(ParseWav(f, &written));
    EXPECT_LE((long)written.size(), total);
    EXPECT_GE((long)written.size(), total - 1);  // at most the pad byte's room given up
    DeleteFileA((out + "\\filled.wav").c_str());
}

struct DialogProbe {
    std::string folderText, expectedFolder;
    BOOL folderEnabledWithP = TRUE, folderEnabledWithUpperP = FALSE;
    bool found = false;
};

DWORD WINAPI DriveDialog(LPVOID arg)
{
    DialogProbe* p = (DialogProbe*)arg;
    HWND dlg = nullptr;
    for (int i = 0; i < 200 && !dlg; i++) {
        Sleep(25);
        dlg = FindWindowA("#32770", "PylSoft WAV Encoder");
    }
    if (!dlg) return 0;
    // The dialog exists (and carries its caption) before WM_INITDIALOG has
    // filled it; the modal loop shows it only afterwards.
    for (int i = 0; i < 400 && IsWindow(dlg) && !IsWindowVisible(dlg); i++) Sleep(25);
    if (!IsWindowVisible(dlg)) {
        PostMessageA(dlg, WM_COMMAND, IDOK, 0);  // fail below instead of leaving the dialog open
        return 0;
    }
    p->found = true;
    char text[1024];
    GetDlgItemTextA(dlg, 1000, text, sizeof(text));
    p->folderText = text;
    HWND pattern = GetDlgItem(dlg, 1002);
    SetWindowTextA(pattern, "%p\\%t.wav");
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(1002, CBN_EDITCHANGE), (LPARAM)pattern);
    p->folderEnabledWithP = IsWindowEnabled(GetDlgItem(dlg, 1000));
    SetWindowTextA(pattern, "%P\\%t.wav");
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(1002, CBN_EDITCHANGE), (LPARAM)pattern);
    p->folderEnabledWithUpperP = IsWindowEnabled(GetDlgItem(dlg, 1000));
    PostMessageA(dlg, WM_COMMAND, IDOK, 0);
    return 0;
}

TEST_F(EncoderModule, ConfigureDialogShowsAndStoresTheSectionsSettings)
{
    SetText(0, "Dlg", out.c_str());
    DialogProbe probe;
    HANDLE t = CreateThread(nullptr, 0, DriveDialog, &probe, 0, nullptr);
    EXPECT_EQ(0, m->h.Configure(nullptr, "Dlg", nullptr));
    WaitForSingleObject(t, 10000);
    CloseHandle(t);
    ASSERT_TRUE(probe.found);
    EXPECT_EQ(out, probe.folderText);
    EXPECT_FALSE(probe.folderEnabledWithP);
    EXPECT_TRUE(probe.folderEnabledWithUpperP);
    SettingRecord r;
    m->h.GetSetting(&r, 1, "Dlg", nullptr);
    EXPECT_STREQ("%P\\%t.wav", (const char*)r.currentValue);
}

// Setting names follow the language of the resources (keys of the INI file).
TEST_F(EncoderModule, SettingNamesFollowTheLanguage)
{
    const char* lang = getenv("LC_ALL");
    bool spanish = lang && strncmp(lang, "es", 2) == 0;
    SettingRecord r;
    m->h.QuerySetting(&r, 0, nullptr);
    EXPECT_STREQ(spanish ? "Ruta de salida" : "Output path", r.name);
    m->h.QuerySetting(&r, 1, nullptr);
    EXPECT_STREQ(spanish ? "Formato del nombre de archivo" : "File name format", r.name);
    EXPECT_EQ(0, strncmp(r.description, spanish ? "Define el formato" : "Set the track title format", 17));
}

}  // namespace

// INI settings store against real profile files in a temp folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <float.h>
#include <math.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "pyl_config.h"
#include "test_support.h"

namespace {

SettingRecord MakeRecord(const char* name, SettingType type, int32_t constraint = 0)
{
    SettingRecord r;
    memset(&r, 0, sizeof r);
    strcpy(r.name, name);
    r.type = static_cast<int32_t>(type);
    r.constraint = constraint;
    return r;
}

SettingRecord IntRecord(const char* name, int32_t def, int32_t constraint = -3, int32_t lo = INT32_MIN,
                        int32_t hi = INT32_MAX)
{
    SettingRecord r = MakeRecord(name, SettingType::Int32, constraint);
    SettingStore<int32_t>(r.defaultValue, def);
    SettingStore<int32_t>(r.limits, lo, 0);
    SettingStore<int32_t>(r.limits, hi, 1);
    return r;
}

SettingRecord DoubleRecord(const char* name, double def)
{
    SettingRecord r = MakeRecord(name, SettingType::Double, -3);
    SettingStore<double>(r.defaultValue, def);
    SettingStore<double>(r.limits, -DBL_MAX, 0);
    SettingStore<double>(r.limits, DBL_MAX, 1);
    return r;
}

SettingRecord FloatRecord(const char* name, float def)
{
    SettingRecord r = MakeRecord(name, SettingType::Float, -3);
    SettingStore<float>(r.defaultValue, def);
    SettingStore<float>(r.limits, -FLT_MAX, 0);
    SettingStore<float>(r.limits, FLT_MAX, 1);
    return r;
}

SettingRecord TextRecord(const char* name, const char* def)
{
    SettingRecord r = MakeRecord(name, SettingType::Text, 0);
    strcpy(reinterpret_cast<char*>(r.defaultValue), def);
    return r;
}

int32_t I32(const SettingRecord& r) { return SettingLoad<int32_t>(r.currentValue); }
const char* Text(const SettingRecord& r) { return reinterpret_cast<const char*>(r.currentValue); }

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = vqtest::MakeTempDir("store");
        // Any DLL in the folder stands for the owning component; its INI is mod.ini.
        std::string dll = dir_ + "\\mod.dll";
        ASSERT_TRUE(CopyFileA((vqtest::BinDir() + "\\PylComLib.dll").c_str(), dll.c_str(), FALSE));
        module_ = LoadLibraryA(dll.c_str());
        ASSERT_NE(module_, nullptr);
        ini_ = dir_ + "\\mod.ini";
    }
    void TearDown() override
    {
        if (module_) FreeLibrary(module_);
        vqtest::RemoveTree(dir_);
    }
    void WriteIni(const std::string& text) { ASSERT_TRUE(vqtest::WriteFile(ini_, text.data(), text.size())); }
    void Read(SettingRecord* t, int n, const char* section = nullptr) { PylConfigRead(t, n, section, module_); }
    void Write(SettingRecord* t, int n, const char* section = nullptr) { PylConfigWrite(t, n, section, module_); }
    std::string Ini() { return vqtest::ReadText(ini_); }

    std::string dir_, ini_;
    HMODULE module_ = nullptr;
};

TEST_F(StoreTest, WritesTextFormsAndReadsThemBack)
{
    SettingRecord t[5] = {MakeRecord("Short", SettingType::Int16, -3), IntRecord("Long", 0),
                          FloatRecord("Ratio", 0), DoubleRecord("Time", 0), TextRecord("Name", "")};
    SettingStore<int16_t>(t[0].limits, -100, 0);
    SettingStore<int16_t>(t[0].limits, 100, 1);
    SettingStore<int16_t>(t[0].currentValue, -1);
    SettingStore<int32_t>(t[1].currentValue, 123456);
    SettingStore<float>(t[2].currentValue, 0.5f);
    SettingStore<double>(t[3].currentValue, 3.0);
    strcpy(reinterpret_cast<char*>(t[4].currentValue), "%p\\%f.wav");
    EXPECT_EQ(PylConfigWrite(t, 5, "PylSoftBatchConverter", module_), 0);

    std::string ini = Ini();
    EXPECT_NE(ini.find("[PylSoftBatchConverter]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Short=-1"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Long=123456"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Ratio=0.500000"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Time=3.000000"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Name=%p\\%f.wav"), std::string::npos) << ini;

    SettingRecord back[5];
    memcpy(back, t, sizeof back);
    for (auto& r : back) memset(r.currentValue, 0x55, sizeof r.currentValue);
    EXPECT_EQ(PylConfigRead(back, 5, "pylsoftbatchconverter", module_), 0);  // section names ignore case
    EXPECT_EQ(SettingLoad<int16_t>(back[0].currentValue), -1);
    EXPECT_EQ(I32(back[1]), 123456);
    EXPECT_EQ(SettingLoad<float>(back[2].currentValue), 0.5f);
    EXPECT_EQ(SettingLoad<double>(back[3].currentValue), 3.0);
    EXPECT_STREQ(Text(back[4]), "%p\\%f.wav");
    // Nothing but the current values changed.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(memcmp(&back[i], &t[i], offsetof(SettingRecord, currentValue)), 0) << i;
}

TEST_F(StoreTest, MissingAndEmptyValues)
{
    SettingRecord t[3] = {IntRecord("Count", 42, -3, 0, 100), DoubleRecord("Gain", 1.25),
                          TextRecord("Label", "hello")};
    // No file at all: defaults.
    Read(t, 3, "Nowhere");
    EXPECT_EQ(I32(t[0]), 42);
    EXPECT_EQ(SettingLoad<double>(t[1].currentValue), 1.25);
    EXPECT_STREQ(Text(t[2]), "hello");
    EXPECT_FALSE(vqtest::FileExists(ini_));

    // Present keys with empty values: 0 (validated) and the empty text.
    WriteIni("[S]\r\nCount=\r\nGain=\r\nLabel=\r\n[Other]\r\nCount=7\r\n");
    Read(t, 3, "S");
    EXPECT_EQ(I32(t[0]), 0);
    EXPECT_EQ(SettingLoad<double>(t[1].currentValue), 0.0);
    EXPECT_STREQ(Text(t[2]), "");
    // Missing section in an existing file: defaults; another section's keys are not seen.
    Read(t, 3, "Missing");
    EXPECT_EQ(I32(t[0]), 42);
    EXPECT_STREQ(Text(t[2]), "hello");
    // A default outside its range is validated like any other value.
    SettingRecord low = IntRecord("Count", -5, -3, 0, 100);
    Read(&low, 1, "Missing");
    EXPECT_EQ(I32(low), 0);
}

TEST_F(StoreTest, ConstraintsOnReading)
{
    WriteIni("[Default]\r\nA=3\r\nB=100000\r\nC=abc\r\nD=70000\r\nE=50\r\nF=7\r\nG=8\r\nH=9999\r\n"
             "I=900\r\nJ=-4\r\nK=2.5\r\nT=zzz\r\nQ=\"42\"  \r\n");
    SettingRecord a = IntRecord("A", 60, -3, 5, 86400), b = IntRecord("B", 60, -3, 5, 86400),
                  c = IntRecord("C", 60, -3, 5, 86400);
    SettingRecord d = MakeRecord("D", SettingType::Int16, -3);
    SettingStore<int16_t>(d.limits, -32768, 0);
    SettingStore<int16_t>(d.limits, 32767, 1);
    SettingRecord e = IntRecord("E", 0, -3, 80, 20);  // minimum above maximum
    SettingRecord f = IntRecord("F", 15, 4), g = IntRecord("G", 15, 4);
    for (SettingRecord* r : {&f, &g})
        for (int i = 0; i < 4; ++i) SettingStore<int32_t>(r->limits, (int32_t[]){15, 7, 1, 3}[i], i);
    SettingRecord h = IntRecord("H", 11, 0);  // fixed
    SettingRecord i = IntRecord("I", 0, -2, 500), j = IntRecord("J", 0, -1, 0);
    SettingRecord k = DoubleRecord("K", 1.0);
    k.constraint = 3;
    for (int n = 0; n < 3; ++n) SettingStore<double>(k.limits, (double[]){0.5, 2.5, 4.0}[n], n);
    SettingRecord t = TextRecord("T", "def");
    t.constraint = -3;
    t.limits[0] = 'a';
    t.limits[1] = 'b';
    SettingRecord q = IntRecord("Q", 0);
    SettingRecord all[] = {a, b, c, d, e, f, g, h, i, j, k, t, q};
    Read(all, 13);
    EXPECT_EQ(I32(all[0]), 5);
    EXPECT_EQ(I32(all[1]), 86400);
    EXPECT_EQ(I32(all[2]), 5);
    EXPECT_EQ(SettingLoad<int16_t>(all[3].currentValue), 4464);
    EXPECT_EQ(I32(all[4]), 20);
    EXPECT_EQ(I32(all[5]), 7);
    EXPECT_EQ(I32(all[6]), 15);
    EXPECT_EQ(I32(all[7]), 11);
    EXPECT_EQ(I32(all[8]), 500);
    EXPECT_EQ(I32(all[9]), 0);
    EXPECT_EQ(SettingLoad<double>(all[10].currentValue), 2.5);
    EXPECT_STREQ(Text(all[11]), "zzz");
    EXPECT_EQ(I32(all[12]), 42);
}

TEST_F(StoreTest, SectionsCountsAndSkippedTypes)
{
    WriteIni("[Default]\r\nX=17\r\nY=18\r\nZ=19\r\n[DSP]\r\nX=1\r\n");
    SettingRecord t[3] = {IntRecord("X", 0), IntRecord("Y", 0), IntRecord("Z", 0)};
    t[1].type = 7;  // not a value type
    SettingStore<int32_t>(t[1].currentValue, -9);
    Read(t, 3, nullptr);
    EXPECT_EQ(I32(t[0]), 17);
    EXPECT_EQ(I32(t[1]), -9);
    EXPECT_EQ(I32(t[2]), 19);
    SettingRecord u[3];
    memcpy(u, t, sizeof u);
    Read(u, 3, "Default");
    EXPECT_EQ(memcmp(t, u, sizeof u), 0);

    SettingStore<int32_t>(t[0].currentValue, 1000);
    EXPECT_EQ(PylConfigRead(t, 0, nullptr, module_), 0);
    EXPECT_EQ(PylConfigRead(t, -3, nullptr, module_), 0);
    EXPECT_EQ(I32(t[0]), 1000);
    std::string before = Ini();
    EXPECT_EQ(PylConfigWrite(t, 0, nullptr, module_), 0);
    EXPECT_EQ(Ini(), before);

    // Per-instance order: the module-wide value becomes the default of the section read.
    Read(t, 3, "DSP");
    EXPECT_EQ(I32(t[0]), 1);
    EXPECT_EQ(I32(t[2]), 0);  // missing in [DSP]: built-in default
    Read(t, 3, nullptr);
    for (auto& r : t) memcpy(r.defaultValue, r.currentValue, sizeof r.defaultValue);
    Read(t, 3, "DSP");
    EXPECT_EQ(I32(t[0]), 1);
    EXPECT_EQ(I32(t[2]), 19);

    // A skipped type is not written; its neighbours are.
    SettingStore<int32_t>(t[0].currentValue, 5);
    SettingStore<int32_t>(t[2].currentValue, 6);
    Write(t, 3, "New");
    Read(t, 3, "New");
    std::string ini = Ini();
    EXPECT_NE(ini.find("X=5"), std::string::npos);
    EXPECT_NE(ini.find("Z=6"), std::string::npos);
    EXPECT_EQ(ini.find("Y=-9"), std::string::npos);
}

TEST_F(StoreTest, BadNumbersAndText)
{
    WriteIni("[Default]\r\nA=nan\r\nB=inf\r\nC=-infinity\r\nD=1e999\r\nE=-1e999\r\nF=0x10\r\nG= -12abc\r\n"
             "H=99999999999\r\nI=-99999999999\r\nJ=1e39\r\nK=.5e1\r\nL=+7.25E-2x\r\nM=-\r\nN=e5\r\n");
    SettingRecord t[] = {DoubleRecord("A", 9), DoubleRecord("B", 9), DoubleRecord("C", 9), DoubleRecord("D", 9),
                         DoubleRecord("E", 9), DoubleRecord("F", 9), IntRecord("G", 9), IntRecord("H", 9),
                         IntRecord("I", 9), FloatRecord("J", 9), DoubleRecord("K", 9), DoubleRecord("L", 9),
                         DoubleRecord("M", 9), DoubleRecord("N", 9)};
    Read(t, 14);
    auto D = [&](int i) { return SettingLoad<double>(t[i].currentValue); };
    EXPECT_EQ(D(0), 0.0);
    EXPECT_EQ(D(1), 0.0);
    EXPECT_EQ(D(2), 0.0);
    EXPECT_EQ(D(3), DBL_MAX);
    EXPECT_EQ(D(4), -DBL_MAX);
    EXPECT_EQ(D(5), 0.0);
    EXPECT_EQ(I32(t[6]), -12);
    EXPECT_EQ(I32(t[7]), INT32_MAX);
    EXPECT_EQ(I32(t[8]), INT32_MIN);
    EXPECT_EQ(SettingLoad<float>(t[9].currentValue), FLT_MAX);
    EXPECT_EQ(D(10), 5.0);
    EXPECT_EQ(D(11), 0.0725);
    EXPECT_EQ(D(12), 0.0);
    EXPECT_EQ(D(13), 0.0);
    for (int i = 0; i < 14; ++i) EXPECT_TRUE(isfinite(SettingAsDouble(t[i].type, t[i].currentValue))) << i;
}

TEST_F(StoreTest, NeverWritesLineBreaksOrNonFiniteValues)
{
    SettingRecord t[3] = {TextRecord("Name", ""), DoubleRecord("Gain", 0), FloatRecord("Ratio", 0)};
    strcpy(reinterpret_cast<char*>(t[0].currentValue), "abc\r\n[Evil]\r\nKey=1");
    SettingStore<double>(t[1].currentValue, 2.0);
    SettingStore<float>(t[2].currentValue, 1.5f);
    Write(t, 3);
    SettingStore<double>(t[1].currentValue, NAN);
    SettingStore<float>(t[2].currentValue, INFINITY);
    Write(t, 3);
    std::string ini = Ini();
    EXPECT_EQ(ini.find("Evil"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Name=abc\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Gain=2.000000"), std::string::npos) << ini;  // old value kept
    EXPECT_NE(ini.find("Ratio=1.500000"), std::string::npos) << ini;
    EXPECT_EQ(GetPrivateProfileSectionNamesA(nullptr, 0, ini_.c_str()), 0u);
    char names[256] = {};
    DWORD n = GetPrivateProfileSectionNamesA(names, sizeof names, ini_.c_str());
    EXPECT_STREQ(names, "Default");
    EXPECT_EQ(n, strlen("Default") + 1);

    // A text of the full 1023 characters survives the round trip.
    std::string longText(1023, 'x');
    memcpy(t[0].currentValue, longText.c_str(), 1024);
    Write(t, 1);
    memset(t[0].currentValue, 0, sizeof t[0].currentValue);
    Read(t, 1);
    EXPECT_EQ(std::string(Text(t[0])), longText);
}

TEST_F(StoreTest, ListCountIsBoundedByTheLimitsField)
{
    // 0x41414141 appears only beyond the limits field (in the labels).
    const int32_t outside = 0x41414141;
    WriteIni("[Default]\r\nL=" + std::to_string(outside) + "\r\nM=77\r\n");
    SettingRecord l = IntRecord("L", 3, 100000);
    memset(l.limits, 0, sizeof l.limits);
    memset(l.labels, 'A', sizeof l.labels - 1);
    SettingRecord m = IntRecord("M", 3, 100000);
    memset(m.limits, 0, sizeof m.limits);
    SettingStore<int32_t>(m.limits, 77, 255);  // last value that fits
    Read(&l, 1);
    Read(&m, 1);
    EXPECT_EQ(I32(l), 3);
    EXPECT_EQ(I32(m), 77);
}

// Damaged and unusual files: a table read in one call must give what reading
// each record on its own (one key-reader call each) gives on the same file.
const char* const kOddFiles[] = {
    "",  // no file
    "[Other]\r\nGain=3\r\n",
    "[s]\r\ngain=5\r\nNAME=abc\r\nmode=2\r\n",
    "[S]\r\n  Gain  =  7  \r\n Name =  x y  \r\n\tMode\t=\t4\t\r\n",
    "[S]\r\nName=\"quoted\"\r\nLong='single'\r\nMode=\"5\r\nRatio=\"\"\r\nTag=\"a'\r\n",
    "[S]\r\nGain=1\r\nGain=2\r\nName=first\r\nname=second\r\n[S]\r\nMode=9\r\n",
    "[S]\r\n;Gain=9\r\nMode\r\nMode=4\r\n=5\r\nName\r\n[S\r\nGain=6\r\n",
    "[S]\nGain=\t8\t\nName=a\tb\nLong=caf\xe9\nTag=why?\n",
    "\xef\xbb\xbf[S]\r\nName=caf\xc3\xa9\r\nGain=2\r\n",
    "[S]\r\n=5\r\nGain=6\r\n",
};

std::vector<SettingRecord> OddRecords()
{
    std::vector<SettingRecord> t = {IntRecord("Gain", 11),     TextRecord("Name", "dflt"), IntRecord("Mode", 3),
                                    DoubleRecord("Ratio", 2.5), TextRecord("Long", "l"),   TextRecord("Tag", "\"t\"")};
    for (auto& r : t) memset(r.currentValue, 0x55, sizeof r.currentValue);
    return t;
}

TEST_F(StoreTest, TableReadMatchesKeyByKeyReads)
{
    std::vector<std::string> files(kOddFiles, kOddFiles + sizeof kOddFiles / sizeof *kOddFiles);
    // Over-long values, quoted and not, around the 1023-character cut.
    for (size_t n : {1021u, 1022u, 1023u, 1024u, 1100u})
        files.push_back("[S]\r\nName=\"" + std::string(n, 'q') + "\"\r\nLong=" + std::string(n, 'u') +
                        "\r\nTag='" + std::string(n - 1, 't') + "'\r\n");
    for (size_t row = 0; row < files.size(); ++row) {
        DeleteFileA(ini_.c_str());
        if (row) WriteIni(files[row]);
        std::vector<SettingRecord> all = OddRecords(), one = OddRecords();
        Read(all.data(), (int)all.size(), "S");
        for (size_t i = 0; i < one.size(); ++i) {
            Read(&one[i], 1, "S");
            EXPECT_EQ(memcmp(&all[i], &one[i], sizeof one[i]), 0) << "row " << row << " record " << one[i].name;
        }
    }
}

// A table written in one call must leave the file byte for byte as writing
// each record on its own (one key-writer call each) leaves it.
TEST_F(StoreTest, TableWriteMatchesKeyByKeyWrites)
{
    std::vector<std::string> files(kOddFiles, kOddFiles + sizeof kOddFiles / sizeof *kOddFiles);
    files.push_back("[A]\r\nx=1\r\n[S]\r\nGain=4\r\nName=dflt\r\nMode=3\r\nRatio=2.500000\r\nLong=l\r\n[B]\r\ny=2\r\n");
    files.push_back("[S]  \r\nGain = 4\r\nMode=3  \r\n\r\n[B]\r\ny=2   \r\n");
    files.push_back("[S]\r\nGain=l\r\n");  // a key the table writes twice, its last value the stored one
    for (size_t row = 0; row < files.size(); ++row)
        for (int values = 0; values < 4; ++values) {
            std::vector<SettingRecord> t = OddRecords();
            for (auto& r : t) memcpy(r.currentValue, r.defaultValue, sizeof r.currentValue);
            if (values > 0) SettingStore<int32_t>(t[0].currentValue, 4);  // one value changed
            if (values > 1) {  // several, the same key twice, then one text with blanks
                if (values > 2) strcpy(reinterpret_cast<char*>(t[1].currentValue), "  two words ");
                SettingStore<double>(t[3].currentValue, -1.0);
                strcpy(t[4].name, "gain");
                SettingStore<int32_t>(t[2].currentValue, 7);
            }
            std::string expected, got;
            for (int pass = 0; pass < 2; ++pass) {
                DeleteFileA(ini_.c_str());
                if (row) WriteIni(files[row]);
                if (pass) Write(t.data(), (int)t.size(), "S");
                else for (auto& r : t) Write(&r, 1, "S");
                (pass ? got : expected) = vqtest::FileExists(ini_) ? Ini() : "(no file)";
            }
            EXPECT_EQ(got, expected) << "row " << row << " values " << values;
        }
}

// Counts PylConfig's profile calls by patching its import table.
int g_profileCalls = 0;
FARPROC g_real[3];
DWORD WINAPI CountGetKey(LPCSTR s, LPCSTR k, LPCSTR d, LPSTR b, DWORD n, LPCSTR f)
{
    return ++g_profileCalls, reinterpret_cast<decltype(&CountGetKey)>(g_real[0])(s, k, d, b, n, f);
}
DWORD WINAPI CountGetSection(LPCSTR s, LPSTR b, DWORD n, LPCSTR f)
{
    return ++g_profileCalls, reinterpret_cast<decltype(&CountGetSection)>(g_real[1])(s, b, n, f);
}
BOOL WINAPI CountSetKey(LPCSTR s, LPCSTR k, LPCSTR v, LPCSTR f)
{
    return ++g_profileCalls, reinterpret_cast<decltype(&CountSetKey)>(g_real[2])(s, k, v, f);
}

void HookProfileCalls(HMODULE m)
{
    const char* names[3] = {"GetPrivateProfileStringA", "GetPrivateProfileSectionA", "WritePrivateProfileStringA"};
    void* hooks[3] = {(void*)CountGetKey, (void*)CountGetSection, (void*)CountSetKey};
    BYTE* base = reinterpret_cast<BYTE*>(m);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
        base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    for (; imp->Name; ++imp) {
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++slot)
            for (int i = 0; i < 3; ++i)
                if (!IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) &&
                    !strcmp((const char*)reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name,
                            names[i]) && slot->u1.Function != (ULONG_PTR)hooks[i]) {
                    DWORD old;
                    VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old);
                    g_real[i] = reinterpret_cast<FARPROC>(slot->u1.Function);
                    slot->u1.Function = (ULONG_PTR)hooks[i];
                    VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
                }
    }
}

TEST_F(StoreTest, ATableCostsOneSectionCall)
{
    HookProfileCalls(GetModuleHandleA("PylConfig.dll"));
    std::vector<SettingRecord> t = OddRecords();
    strcpy(reinterpret_cast<char*>(t[5].defaultValue), "t");  // a quoted one would lose its quotes when read back
    WriteIni("[Other]\r\nGain=3\r\n");
    auto calls = [&](bool write) {
        g_profileCalls = 0;
        (write ? PylConfigWrite : PylConfigRead)(t.data(), (int)t.size(), "S", module_);
        return g_profileCalls;
    };
    EXPECT_EQ(calls(false), 1);
    EXPECT_EQ(calls(true), 1 + 6);  // every key new: the section read and one key write each
    EXPECT_EQ(calls(false), 1);
    EXPECT_EQ(calls(true), 1);  // nothing changed: nothing written
    EXPECT_NE(Ini().find("[S]\r\nGain=11\r\nName=dflt\r\nMode=3\r\nRatio=2.500000\r\nLong=l\r\nTag=t\r\n"),
              std::string::npos) << Ini();
}

}  // namespace

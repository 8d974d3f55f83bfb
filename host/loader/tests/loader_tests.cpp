#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "module_loader.h"
#include "test_support.h"

namespace {

std::string FixtureDir() { return vqtest::BinDir() + "\\loader_fixtures"; }

class Loader : public testing::Test {
protected:
    void SetUp() override
    {
        dir = vqtest::MakeTempDir("loader");
        log = dir + "\\loader.log";
    }
    void TearDown() override
    {
        for (auto* t : {input, dsp, encoder, capture}) UnloadModules(t);
        vqtest::RemoveTree(dir);
    }
    void Copy(const char* fixture, const std::string& as)
    {
        ASSERT_TRUE(CopyFileA((FixtureDir() + "\\" + fixture).c_str(), (dir + "\\" + as).c_str(), FALSE))
            << fixture;
    }
    int Count(const std::string& what)
    {
        std::string text = vqtest::ReadText(log);
        int n = 0;
        for (size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
        return n;
    }
    bool Loaded(const std::string& file) { return GetModuleHandleA((dir + "\\" + file).c_str()) != nullptr; }

    std::string dir, log;
    int level = 31;  // above every message level: only the loader's error lines get through
    IVqProModule* input[kMaxModules] = {};
    IVqProModule* dsp[kMaxModules] = {};
    IVqProModule* encoder[kMaxModules] = {};
    IVqProModule* capture[kMaxModules] = {};
};

TEST_F(Loader, KeepsOnlyModulesOfTheKindThatInitialise)
{
    for (const char* f : {"in_fx.dll", "dsp_fx.dll", "enc_fx.dll", "cap_fx.dll", "dsp_kind17.dll",
                          "dsp_noinit.dll", "dsp_noexport.dll"})
        Copy(f, f);
    Copy("in_fx.dll", "in_x.dll~");  // found through its short name only
    ASSERT_TRUE(vqtest::WriteFile(dir + "\\in_bad.dll", "not a library\r\n", 15));

    ASSERT_EQ(1, LoadModules(dir.c_str(), KindInput, input, log.c_str(), &level));
    EXPECT_STREQ("in_fx", input[0]->h.InternalName);
    EXPECT_EQ(GetModuleHandleA((dir + "\\in_fx.dll").c_str()), input[0]->h.hInstance);
    EXPECT_FALSE(Loaded("in_x.dll~"));
    EXPECT_FALSE(Loaded("dsp_kind17.dll"));  // its name is no input pattern
    // The text file is logged whatever the level, with the system's text.
    std::string text = vqtest::ReadText(log);
    EXPECT_NE(std::string::npos, text.find("[E]")) << text;
    EXPECT_NE(std::string::npos, text.find("][VqMods::LoadModules(138)] in_bad.dll\n")) << text;
    EXPECT_EQ(1, Count("[VqMods::LoadModules(138)]"));

    ASSERT_EQ(1, LoadModules(dir.c_str(), KindEncoder, encoder, log.c_str(), &level));
    ASSERT_EQ(1, LoadModules(dir.c_str(), KindCapture, capture, log.c_str(), &level));
    ASSERT_EQ(1, LoadModules(dir.c_str(), KindDsp, dsp, log.c_str(), &level));
    EXPECT_STREQ("enc_fx", encoder[0]->h.InternalName);
    EXPECT_STREQ("cap_fx", capture[0]->h.InternalName);
    EXPECT_STREQ("dsp_fx", dsp[0]->h.InternalName);
    EXPECT_EQ(KindDsp, dsp[0]->h.Kind);
    for (auto* t : {input, dsp, encoder, capture})
        for (int i = 1; i < kMaxModules; ++i) EXPECT_EQ(nullptr, t[i]);
    // Refused libraries are released again; the one that refused was initialised first.
    EXPECT_FALSE(Loaded("dsp_kind17.dll"));
    EXPECT_FALSE(Loaded("dsp_noinit.dll"));
    EXPECT_FALSE(Loaded("dsp_noexport.dll"));
    EXPECT_EQ(1, Count("init dsp_noinit.dll"));
    EXPECT_EQ(0, Count("init dsp_kind17.dll"));

    EXPECT_EQ(1, UnloadModules(dsp));
    EXPECT_EQ(nullptr, dsp[0]);
    EXPECT_FALSE(Loaded("dsp_fx.dll"));
    EXPECT_EQ(1, Count("quit dsp_fx.dll"));
    EXPECT_TRUE(Loaded("in_fx.dll"));
    EXPECT_EQ(0, Count("quit in_fx.dll"));
    UnloadModules(input);
    EXPECT_EQ(1, Count("quit in_fx.dll"));
    EXPECT_FALSE(Loaded("in_fx.dll"));
}

TEST_F(Loader, ThirtyTwoSlotsWithoutGaps)
{
    for (int i = 0; i < 40; ++i) {
        char name[32];
        snprintf(name, sizeof name, "dsp_c%02d.dll", i);
        Copy("dsp_fx.dll", name);
    }
    Copy("dsp_noinit.dll", "dsp_c00a.dll");
    Copy("dsp_noinit.dll", "dsp_c10a.dll");
    ASSERT_EQ(32, LoadModules(dir.c_str(), KindDsp, dsp, log.c_str(), &level));
    std::set<HINSTANCE> handles;
    for (int i = 0; i < kMaxModules; ++i) {
        ASSERT_NE(nullptr, dsp[i]) << "gap at " << i;
        handles.insert(dsp[i]->h.hInstance);
    }
    EXPECT_EQ(32u, handles.size());
    // The search stops once the table is full: no 33rd copy was even initialised.
    int initialised = 0;
    for (int i = 0; i < 40; ++i) {
        char name[32];
        snprintf(name, sizeof name, "init dsp_c%02d.dll\r\n", i);
        initialised += Count(name);
    }
    EXPECT_EQ(32, initialised);
    UnloadModules(dsp);
    EXPECT_EQ(32, Count("quit dsp_c"));
}

TEST_F(Loader, NothingToLoad)
{
    level = 15;
    EXPECT_EQ(0, LoadModules(dir.c_str(), KindInput, input, log.c_str(), &level));
    EXPECT_EQ(0, LoadModules((dir + "\\missing").c_str(), KindDsp, dsp, log.c_str(), &level));
    // Kinds without a pattern load nothing, even with matching-looking files.
    Copy("dsp_fx.dll", "dsp_fx.dll");
    dsp[3] = reinterpret_cast<IVqProModule*>(1);  // stale content is cleared
    EXPECT_EQ(0, LoadModules(dir.c_str(), 99, dsp, log.c_str(), &level));
    for (auto* m : dsp) EXPECT_EQ(nullptr, m);
    EXPECT_EQ(nullptr, GetModulePattern(99));
    EXPECT_STREQ("dsp_*.dll", GetModulePattern(KindDsp));
    EXPECT_STREQ("gen_*.dll", GetModulePattern(KindGeneral));
    EXPECT_FALSE(vqtest::FileExists(log));
    // A folder too long for the search path.
    std::string deep = dir + "\\" + std::string(250, 'd');
    EXPECT_EQ(0, LoadModules(deep.c_str(), KindDsp, dsp, log.c_str(), &level));
}

TEST_F(Loader, SkipsNamesThatDoNotFitThePathBuffer)
{
    Copy("dsp_fx.dll", "dsp_fx.dll");
    // A file name that fits the folder's search but not a 260-character path.
    std::string longName = "dsp_" + std::string(MAX_PATH - dir.size() - 8, 'l') + ".dll";
    ASSERT_GE(dir.size() + 1 + longName.size(), (size_t)MAX_PATH);
    std::wstring wide = L"\\\\?\\" + std::wstring(dir.begin(), dir.end()) + L"\\" +
                        std::wstring(longName.begin(), longName.end());
    std::string src = FixtureDir() + "\\dsp_fx.dll";
    std::wstring wsrc(src.begin(), src.end());
    if (!CopyFileW(wsrc.c_str(), wide.c_str(), FALSE)) GTEST_SKIP() << "cannot create a long file name here";
    ASSERT_EQ(1, LoadModules(dir.c_str(), KindDsp, dsp, log.c_str(), &level));
    EXPECT_TRUE(Loaded("dsp_fx.dll"));
    UnloadModules(dsp);
    DeleteFileW(wide.c_str());
}

// Input records for the filter text, no library needed.
struct FakeInput {
    IVqProModule rec = {};
    explicit FakeInput(const char* filters) { rec.input.FilterList = filters; }
};

std::vector<std::string> Entries(const char* block, size_t size)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < size && block[pos]) {
        size_t n = strnlen(block + pos, size - pos);
        out.emplace_back(block + pos, n);
        pos += n + 1;
    }
    EXPECT_LT(pos, size) << "no double NUL in the block";
    return out;
}

TEST(FilterText, SupportedEntryModuleEntriesAndAllFiles)
{
    FakeInput mpeg("MPEG Layer 3 (*.mp3)\0*.mp3\0MPEG Layer 2 (*.mp2)\0*.mp2\0MPEG Layer 1 (*.mp1)\0*.mp1\0");
    FakeInput wav("Wave files (*.wav)\0*.wav\0");
    IVqProModule* table[kMaxModules] = {};
    table[0] = &mpeg.rec;
    table[1] = &wav.rec;
    char* block = BuildFilterText(table);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ((SIZE_T)kFilterTextSize, HeapSize(GetProcessHeap(), 0, block));
    std::vector<std::string> expected = {
        "All supported files (*.mp3;*.mp2;*.mp1;*.wav)", "*.mp3;*.mp2;*.mp1;*.wav",
        "MPEG Layer 3 (*.mp3)", "*.mp3", "MPEG Layer 2 (*.mp2)", "*.mp2", "MPEG Layer 1 (*.mp1)", "*.mp1",
        "Wave files (*.wav)", "*.wav", "All files (*.*)", "*.*"};
    EXPECT_EQ(expected, Entries(block, kFilterTextSize));
    HeapFree(GetProcessHeap(), 0, block);
}

TEST(FilterText, NoInputModules)
{
    IVqProModule* table[kMaxModules] = {};
    for (IVqProModule** t : {table, (IVqProModule**)nullptr}) {
        char* block = BuildFilterText(t);
        ASSERT_NE(nullptr, block);
        EXPECT_EQ((std::vector<std::string>{"All files (*.*)", "*.*"}), Entries(block, kFilterTextSize));
        HeapFree(GetProcessHeap(), 0, block);
    }
}

TEST(FilterText, TooManyPatternsNeverOverrunTheBlock)
{
    // 32 modules with 60 patterns of 40 characters each: far more than 16384 bytes.
    std::vector<std::string> lists;
    for (int m = 0; m < kMaxModules; ++m) {
        std::string list;
        for (int p = 0; p < 60; ++p) {
            char pattern[64];
            snprintf(pattern, sizeof pattern, "*.m%02dp%02d%s", m, p, std::string(32, 'x').c_str());
            list += std::string("Kind ") + pattern + '\0' + pattern + '\0';
        }
        lists.push_back(list + '\0');
    }
    std::vector<FakeInput> fakes;
    fakes.reserve(kMaxModules);
    IVqProModule* table[kMaxModules] = {};
    for (int m = 0; m < kMaxModules; ++m) {
        fakes.emplace_back(lists[m].c_str());
        table[m] = &fakes.back().rec;
    }
    char* block = BuildFilterText(table);
    ASSERT_NE(nullptr, block);
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
    auto e = Entries(block, kFilterTextSize);
    ASSERT_GE(e.size(), 4u);
    ASSERT_EQ(0u, e.size() % 2);
    EXPECT_EQ("All files (*.*)", e[e.size() - 2]);
    EXPECT_EQ("*.*", e.back());
    // The first entry's description and pattern list name the same patterns.
    std::string desc = e[0];
    ASSERT_EQ(0u, desc.find("All supported files ("));
    EXPECT_EQ("All supported files (" + e[1] + ")", desc);
    EXPECT_GT(e[1].size(), 1000u);
    // Every module entry that made it in is whole.
    for (size_t i = 2; i + 2 < e.size(); i += 2) EXPECT_EQ("Kind " + e[i + 1], e[i]);
    HeapFree(GetProcessHeap(), 0, block);
}

int __cdecl SpanishStrings(unsigned id, char* buf, int size)
{
    const char* s = id == IDS_FILTER_ALL_FILES ? "Todos los archivos (*.*)\t*.*\t"
                  : id == IDS_FILTER_ALL_SUPPORTED ? "Todos los formatos " : nullptr;
    if (!s) return 0;
    lstrcpynA(buf, s, size);
    return (int)strlen(buf);
}

int __cdecl NoStrings(unsigned, char*, int) { return 0; }

TEST(FilterText, TextsComeFromTheHostsStrings)
{
    FakeInput wav("Wave files (*.wav)\0*.wav\0");
    IVqProModule* table[kMaxModules] = {&wav.rec};
    SetLoaderStringSource(SpanishStrings);
    char* block = BuildFilterText(table);
    EXPECT_EQ((std::vector<std::string>{"Todos los formatos (*.wav)", "*.wav", "Wave files (*.wav)", "*.wav",
                                        "Todos los archivos (*.*)", "*.*"}),
              Entries(block, kFilterTextSize));
    HeapFree(GetProcessHeap(), 0, block);

    SetLoaderStringSource(NoStrings);  // a string the host lacks falls back to English
    block = BuildFilterText(table);
    EXPECT_EQ("All supported files (*.wav)", Entries(block, kFilterTextSize).at(0));
    HeapFree(GetProcessHeap(), 0, block);
    SetLoaderStringSource(nullptr);
}

}  // namespace

// Crafted MPEG files that used to damage memory or end the process, made by
// make_hostile.sh: each goes through the module as the host puts it (tags,
// open, read to the end, close), with a check of every heap after it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "file_exercise.h"
#include "input_module_harness.h"
#include "test_support.h"

namespace {

std::string Data(const std::string& name) { return vqtest::TestDataDir() + "\\in_strata_hostile\\" + name; }

std::vector<std::string> Files(const char* pattern)
{
    std::vector<std::string> out;
    WIN32_FIND_DATAA fd;
    HANDLE f = FindFirstFileA(Data(pattern).c_str(), &fd);
    if (f == INVALID_HANDLE_VALUE) return out;
    do out.push_back(fd.cFileName);
    while (FindNextFileA(f, &fd));
    FindClose(f);
    return out;
}

const char* const kThrowingShapes[] = {"comp_fffffffe.mp3", "comp_ffffffff.mp3", "comp_sizeonly.mp3"};

class Hostile : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(h_.Load("in_strata.dll", "hostile")); }
    static void TearDownTestSuite() { h_.Unload(); }
    IVqProModule* m() { return h_.mod(); }
    // A copy in the module's private folder, so tag writes touch no test data.
    std::string Copy(const std::string& name)
    {
        std::string to = h_.dir() + "\\" + name;
        EXPECT_TRUE(CopyFileA(Data(name).c_str(), to.c_str(), FALSE)) << name;
        return to;
    }
    TrackInfo TagsOf(const std::string& path, int* result)
    {
        TrackInfo t{};
        strcpy(t.path, path.c_str());
        *result = m()->input.GetTagEx(&t);
        return t;
    }
    static InputModuleHarness h_;
};
InputModuleHarness Hostile::h_;

// Layer III free format at 445-640 kbps with a large or random main-data
// pointer: a frame's main data can be larger than the decoder's fixed
// buffer, which only the decoder library's own length checks catch.
TEST_F(Hostile, FreeFormatStreamsWithLargeBackPointers)
{
    auto files = Files("ff_*.mp3");
    ASSERT_EQ(files.size(), 40u);
    vqtest::ExerciseOptions o;
    o.readSizes = {17640};
    for (const std::string& name : files) {
        vqtest::ExerciseResult r = vqtest::ExerciseFile(m(), Data(name), o);
        EXPECT_EQ(r.fault, "") << name;
        ASSERT_TRUE(vqtest::AllHeapsValid()) << name;
    }
}

// Compressed ID3v2.3 frames whose expanded size lies (0x40000032, 0xFFFFFFFE,
// 0xFFFFFFFF), or with the compression flag and no compressed data: the odd
// album frame is dropped, the title after it is read, nothing near the
// claimed size is allocated, and the tags can still be written.
TEST_F(Hostile, CompressedFramesWithFalseSizes)
{
    for (const char* name : {"comp_40000032.mp3", "comp_fffffffe.mp3", "comp_ffffffff.mp3", "comp_sizeonly.mp3",
                             "comp_empty.mp3"}) {
        std::string path = Copy(name);
        int got;
        TrackInfo t = TagsOf(path, &got);
        EXPECT_EQ(got, 1) << name;
        EXPECT_STREQ(t.title, "Plain title") << name;
        EXPECT_STREQ(t.album, "<Not Set>") << name;
        EXPECT_EQ(t.sampleRate, 44100) << name;
        ASSERT_TRUE(vqtest::AllHeapsValid()) << name;

        TrackInfo w = t;
        strcpy(w.title, "Written");
        EXPECT_EQ(m()->input.SetTagEx(&w), 1) << name;
        TrackInfo back = TagsOf(path, &got);
        EXPECT_EQ(got, 1) << name;
        EXPECT_STREQ(back.title, "Written") << name;
        ASSERT_TRUE(vqtest::AllHeapsValid()) << name;
    }
    // A correct compressed frame still reads.
    int got;
    TrackInfo good = TagsOf(Data("comp_good.mp3"), &got);
    EXPECT_EQ(got, 1);
    EXPECT_STREQ(good.album, "Packed album");
    EXPECT_STREQ(good.title, "Plain title");
    EXPECT_TRUE(vqtest::AllHeapsValid());
}

// The module built against id3lib without our patches: the library throws on
// these shapes, and the module contains it: no tags, 0, the file untouched.
TEST(HostileUnpatchedTagLibrary, ExceptionsStayInsideTheModule)
{
    InputModuleHarness h;
    ASSERT_TRUE(h.Load("..\\testmodules\\in_strata_unpatched_id3.dll", "unpatched"));
    for (const char* name : kThrowingShapes) {
        std::string path = h.dir() + "\\" + name;
        ASSERT_TRUE(CopyFileA(Data(name).c_str(), path.c_str(), FALSE));
        std::vector<unsigned char> before, after;
        vqtest::ReadFile(path, before);

        TrackInfo t{};
        strcpy(t.path, path.c_str());
        strcpy(t.title, "stale");
        strcpy(t.author, "stale");
        t.track = 9;
        EXPECT_EQ(h.mod()->input.GetTagEx(&t), 0) << name;
        EXPECT_STREQ(t.title, "<Not Set>") << name;
        EXPECT_STREQ(t.author, "<Not Set>") << name;
        EXPECT_EQ(t.track, 0) << name;

        strcpy(t.title, "Written");
        EXPECT_EQ(h.mod()->input.SetTagEx(&t), 0) << name;
        vqtest::ReadFile(path, after);
        EXPECT_EQ(after, before) << name;
        EXPECT_FALSE(vqtest::FileExists(path + ".XXXXXX")) << name;
        // The stream itself still opens and plays.
        void* s = h.mod()->input.Open(path.c_str(), nullptr);
        ASSERT_NE(s, nullptr) << name;
        std::vector<char> buf(17640);
        EXPECT_GT(h.mod()->input.Read(buf.data(), (int)buf.size(), s), 0) << name;
        h.mod()->input.Close(s);
        EXPECT_TRUE(vqtest::AllHeapsValid()) << name;
    }
    h.Unload();
}

}  // namespace

// The key road with the real modules: a folder of MP3 and WAV files scanned
// into the Files page, a track of the test CD drive V: dropped on it, a chain
// of two DSP modules, the WAV encoder, and the wizard driven from the Source
// page to a finished batch.
#include <windows.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <math.h>
#include <string>
#include "gui_harness.h"
#include "host_state.h"
#include "module_loader.h"
#include "pcm_compare.h"
#include "pages.h"
#include "resource.h"
#include "test_support.h"

using namespace gui;

namespace {

struct WavInfo {
    int channels = 0, rate = 0, bits = 0;
    unsigned dataBytes = 0;
};

// The data chunk's bytes of a WAV file.
bool ReadWav(const std::string& path, WavInfo* info, std::vector<unsigned char>* data = nullptr)
{
    std::vector<unsigned char> b;
    if (!vqtest::ReadFile(path, b) || b.size() < 44 || memcmp(b.data(), "RIFF", 4) || memcmp(b.data() + 8, "WAVE", 4))
        return false;
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        unsigned size;
        memcpy(&size, &b[pos + 4], 4);
        if (!memcmp(&b[pos], "fmt ", 4) && pos + 24 <= b.size()) {
            info->channels = b[pos + 10] | b[pos + 11] << 8;
            memcpy(&info->rate, &b[pos + 12], 4);
            info->bits = b[pos + 22] | b[pos + 23] << 8;
        } else if (!memcmp(&b[pos], "data", 4)) {
            info->dataBytes = size;
            if (data) data->assign(b.begin() + pos + 8, b.begin() + std::min<size_t>(b.size(), pos + 8 + size));
            return info->channels > 0;
        }
        pos += 8 + size + (size & 1);
    }
    return false;
}

class Batch : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = vqtest::MakeTempDir("appbatch");
        mods = dir + "\\mods";
        out = dir + "\\out";
        CreateDirectoryA(mods.c_str(), nullptr);
        CreateDirectoryA(out.c_str(), nullptr);
        std::string src = vqtest::ModulesDir();
        for (const char* name : {"in_strata.dll", "in_linear.dll", "in_platter.dll", "in_velvet.dll", "enc_linear.dll",
                                 "dsp_ceiling.dll", "dsp_spread.dll"}) {
            if (!vqtest::FileExists(src + "\\" + name))
                missing += std::string(" ") + name;
            else
                vqtest::CopyInto(src + "\\" + name, mods);
        }
        std::string encIni = mods + "\\enc_linear.ini";
        // The encoder's setting keys are its names in the language of the resources.
        WritePrivateProfileStringA(VQ_HOST_SECTION, Tr("Output path", "Ruta de salida"), out.c_str(), encIni.c_str());
        WritePrivateProfileStringA(VQ_HOST_SECTION, Tr("File name format", "Formato del nombre de archivo"), "%f.wav",
                                   encIni.c_str());
        DeleteFileA(HostIni().c_str());
        WritePrivateProfileStringA("Default", "Check updates", "0", HostIni().c_str());
        WritePrivateProfileStringA("Default", "Log File", (dir + "\\host.log").c_str(), HostIni().c_str());
        WritePrivateProfileStringA("Default", "Log Level", "1", HostIni().c_str());
        WritePrivateProfileStringA("Default", "Module Directory", mods.c_str(), HostIni().c_str());
        g_seams.messageBox = FakeMessageBox;
        g_seams.browseForFolder = FakeBrowse;
        g_seams.exitWindows = FakeExitWindows;
        g_seams.shellOpen = FakeShellOpen;
        ClearShownBoxes();
    }
    void TearDown() override
    {
        EXPECT_TRUE(app.Close());
        ResetHostSeams();
    }
    HWND Main() { return g_host.mainDialog; }

    App app;
    std::string dir, mods, out, missing;
};

TEST_F(Batch, WizardConvertsAFolderThroughTwoDspsIntoWav)
{
    ASSERT_TRUE(missing.empty()) << "modules not built:" << missing;
    std::string tree = vqtest::TestDataDir() + "\\app\\tree";
    ASSERT_TRUE(vqtest::FileExists(tree + "\\one.mp3"));
    ASSERT_TRUE(app.Start());

    // Source: existing files.
    ASSERT_TRUE(SelectByData(Page(PageSource), IDC_SOURCE_LIST, -1));
    Click(Main(), IDC_NEXT);
    ASSERT_EQ(CurrentPage(), PageFiles);

    // Files: scan the tree with the real input modules.
    HWND files = Page(PageFiles);
    HWND list = Item(files, IDC_FILE_LIST);
    nextFolder = tree;
    Click(files, IDC_ADD_FOLDER);
    ASSERT_TRUE(WaitUntil([] { return ActiveFolderScans() == 0; }, 30000));
    auto rows = ListRows(list);
    ASSERT_EQ(rows.size(), 4u);
    std::vector<std::string> sorted = {tree + "\\four.wma", tree + "\\one.mp3", tree + "\\sub\\deep\\three.mp3",
                                       tree + "\\sub\\two.wav"};
    std::vector<std::string> got = rows;
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, sorted);
    auto bitrates = ListRows(list, 1), durations = ListRows(list, 2);
    for (size_t i = 0; i < rows.size(); i++) {
        if (rows[i] == tree + "\\four.wma") {
            // Bit rate and duration from the WMA header, read by the module itself.
            EXPECT_EQ(bitrates[i], "128Kbps");
            EXPECT_EQ(durations[i], "0:00:02");
        } else if (rows[i] == tree + "\\one.mp3") {
            EXPECT_EQ(bitrates[i], "128Kbps");
            EXPECT_EQ(durations[i], "0:00:02");
        } else if (rows[i] == tree + "\\sub\\deep\\three.mp3") {
            EXPECT_EQ(bitrates[i], "128Kbps");
            EXPECT_EQ(durations[i], "0:00:01");
        } else {
            // The WAV module reports rate x bits per sample, without the
            // channel count: 44100 x 16 for this stereo file.
            EXPECT_EQ(bitrates[i], "705Kbps");
            EXPECT_EQ(durations[i], "0:00:01");
        }
    }
    // One audio CD track (113 sectors: 1 s 38/75).
    const std::string cdTrack = "V:\\track02.cda";
    DropFiles(files, {cdTrack});
    ASSERT_TRUE(WaitUntil([list] { return ListRows(list).size() == 5; }, 30000));
    rows = ListRows(list);
    bitrates = ListRows(list, 1);
    durations = ListRows(list, 2);
    size_t cd = std::find(rows.begin(), rows.end(), cdTrack) - rows.begin();
    ASSERT_LT(cd, rows.size());
    EXPECT_EQ(bitrates[cd], "1411Kbps");
    EXPECT_EQ(durations[cd], "0:00:01");
    char count[64];
    snprintf(count, sizeof(count), Tr("%d files", "%d archivos"), 5);
    EXPECT_EQ(Text(Item(files, IDC_FILE_COUNT)), count);
    Click(Main(), IDC_NEXT);

    // DSP chain: both DSP modules.
    HWND dsp = Page(PageDsp);
    int modules = (int)SendDlgItemMessageA(dsp, IDC_DSP_MODULES, CB_GETCOUNT, 0, 0);
    ASSERT_EQ(modules, 2);
    for (int slot = 0; slot < 2; slot++) {
        ASSERT_TRUE(SelectByData(dsp, IDC_DSP_MODULES, slot));
        Click(dsp, IDC_DSP_ADD);
    }
    ASSERT_EQ(SendDlgItemMessageA(dsp, IDC_DSP_CHAIN, LB_GETCOUNT, 0, 0), 2);
    Click(Main(), IDC_NEXT);

    // Encoder: the WAV encoder (selected by its Id 1, the default).
    HWND enc = Page(PageEncoder);
    ASSERT_GE(SelectedData(enc, IDC_ENC_LIST), 0);
    Click(Main(), IDC_NEXT);
    ASSERT_EQ(CurrentPage(), PageProcessing);

    // Processing: encode more files when done, then Encode.
    HWND proc = Page(PageProcessing);
    ASSERT_TRUE(SelectByData(proc, IDC_WHEN_DONE, 144));
    Click(Main(), IDC_NEXT);
    // A picture of the running batch, kept for a look by eye: taken once the
    // track bar has moved, if the batch has not ended by then.
    ASSERT_TRUE(WaitUntil([proc] {
        return !ShownBoxes().empty() || SendDlgItemMessageA(proc, IDC_TRACK_BAR, PBM_GETPOS, 0, 0) > 0;
    }, 60000));
    if (ShownBoxes().empty()) {
        std::string shot = vqtest::TestDataDir() + "\\app\\screens";
        CreateDirectoryA(shot.c_str(), nullptr);
        shot += Spanish() ? "\\es-batch.bmp" : "\\en-batch.bmp";
        EXPECT_GT(SaveScreenshot(Main(), shot), 20) << "the running batch looks blank";
    }
    ASSERT_TRUE(WaitUntil([] { return !ShownBoxes().empty(); }, 60000)) << "the batch did not finish";
    EXPECT_EQ(ShownBoxes()[0].text, Tr("Batch processing complete.", "Proceso por lotes finalizado."));

    // "Encode more files": back on an emptied Files page with clear progress.
    EXPECT_EQ(CurrentPage(), PageFiles);
    EXPECT_TRUE(ListRows(list).empty());
    snprintf(count, sizeof(count), Tr("%d files", "%d archivos"), 0);
    EXPECT_EQ(Text(Item(files, IDC_FILE_COUNT)), count);
    EXPECT_EQ(Text(Item(proc, IDC_TRACK_TEXT)), "");
    EXPECT_EQ(SendDlgItemMessageA(proc, IDC_GENERAL_BAR, PBM_GETPOS, 0, 0), 0);
    EXPECT_TRUE(IsWindowEnabled(Item(Main(), IDC_NEXT)));
    EXPECT_TRUE(IsWindowEnabled(Item(Main(), IDC_PREVIOUS)));
    EXPECT_TRUE(IsWindowEnabled(Item(proc, IDC_PAUSE)));

    struct { const char* name; double seconds; } outputs[] = {
        {"one.wav", 2.0}, {"three.wav", 1.5}, {"two.wav", 1.0}, {"track02.wav", 113 / 75.0}, {"four.wav", 2.0}};
    for (auto& o : outputs) {
        WavInfo info;
        ASSERT_TRUE(ReadWav(out + "\\" + o.name, &info)) << o.name;
        EXPECT_EQ(info.channels, 2) << o.name;
        EXPECT_EQ(info.rate, 44100) << o.name;
        EXPECT_EQ(info.bits, 16) << o.name;
        double seconds = info.dataBytes / 176400.0;
        EXPECT_NEAR(seconds, o.seconds, 0.1) << o.name;
    }
    // The WMA file decoded through the platform's reader matches ffmpeg's own
    // decode. The chain keeps the mid signal (the stereo enhancer widens only
    // the sides) and, below the limiter's threshold, applies its input gain once
    // the limiter has settled (its first half second is left out): the
    // reference is brought to the output's level first.
    WavInfo info;
    std::vector<unsigned char> converted, reference;
    ASSERT_TRUE(ReadWav(out + "\\four.wav", &info, &converted));
    ASSERT_TRUE(vqtest::ReadFile(vqtest::TestDataDir() + "\\app\\four.raw", reference));
    auto mid = [](const std::vector<unsigned char>& bytes, double scale) {
        std::vector<int16_t> s = vqtest::Samples16(bytes), m(s.size() / 2);
        for (size_t f = 0; f < m.size(); ++f) m[f] = (int16_t)lrint((s[2 * f] + s[2 * f + 1]) * 0.5 * scale);
        return m;
    };
    auto rms = [](const std::vector<int16_t>& s) {
        double e = 0;
        for (int16_t v : s) e += (double)v * v;
        return s.empty() ? 0.0 : sqrt(e / s.size());
    };
    std::vector<int16_t> wmaMid = mid(converted, 1.0), ref = mid(reference, 1.0);
    ASSERT_GT(wmaMid.size(), 44100u);
    wmaMid.erase(wmaMid.begin(), wmaMid.begin() + 22050);
    ASSERT_GT(rms(ref), 0.0);
    vqtest::PcmMatch match = vqtest::MatchPcm(wmaMid, mid(reference, rms(wmaMid) / rms(ref)), 1, 22050 + 8192, true);
    EXPECT_GE(match.snrDb, 40.0) << "offset " << match.offset;
    EXPECT_GT(match.frames, 22050u);

    // The sources stay ("Delete original files" is off).
    EXPECT_TRUE(vqtest::FileExists(tree + "\\sub\\two.wav"));
    std::string logText = vqtest::ReadText(dir + "\\host.log");
    EXPECT_NE(logText.find("ProccessFiles"), std::string::npos);
}

// Blocks like a box the user has not closed yet, until the test lets it go.
HANDLE s_boxClosed;
int WINAPI BoxOpenUntilClosed(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    FakeMessageBox(owner, text, caption, type);
    WaitForSingleObject(s_boxClosed, 30000);
    return IDOK;
}

TEST_F(Batch, FailedFilesAndAMissingOutputFolderAreToldAsFailures)
{
    ASSERT_TRUE(missing.empty()) << "modules not built:" << missing;
    std::string tree = vqtest::TestDataDir() + "\\app\\tree", src = dir + "\\src";
    CreateDirectoryA(src.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((tree + "\\one.mp3").c_str(), (src + "\\good.mp3").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((tree + "\\one.mp3").c_str(), (src + "\\text.mp3").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((tree + "\\sub\\two.wav").c_str(), (src + "\\gone.wav").c_str(), FALSE));
    ASSERT_TRUE(app.Start());
    const std::string programTitle = Text(Main());
    HWND files = Page(PageFiles), proc = Page(PageProcessing);
    Click(Main(), IDC_NEXT);
    nextFolder = src;
    Click(files, IDC_ADD_FOLDER);
    ASSERT_TRUE(WaitUntil([] { return ActiveFolderScans() == 0; }, 30000));
    ASSERT_EQ(3u, ListRows(Item(files, IDC_FILE_LIST)).size());
    // Listed, then one file vanishes and one turns into text.
    ASSERT_TRUE(DeleteFileA((src + "\\gone.wav").c_str()));
    ASSERT_TRUE(vqtest::WriteFile(src + "\\text.mp3", "not audio\r\n", 11));
    for (int i = 0; i < 3; i++)
        Click(Main(), IDC_NEXT);
    ASSERT_TRUE(SelectByData(proc, IDC_WHEN_DONE, 144));
    Click(Main(), IDC_NEXT);
    ASSERT_TRUE(WaitUntil([] { return !ShownBoxes().empty(); }, 60000)) << "the batch did not finish";
    ShownBox box = ShownBoxes()[0];
    EXPECT_EQ("PylSoft Batch Converter", box.caption);
    EXPECT_EQ((UINT)MB_ICONWARNING, box.type & MB_ICONMASK);
    EXPECT_EQ(0u, box.text.rfind(Tr("2 of 3 files could not be converted:",
                                    "No se pudieron convertir 2 de 3 archivos:"), 0)) << box.text;
    EXPECT_NE(std::string::npos, box.text.find("\n" + src + "\\gone.wav\n")) << box.text;
    EXPECT_NE(std::string::npos, box.text.find("\n" + src + "\\text.mp3\n")) << box.text;
    EXPECT_EQ(std::string::npos, box.text.find("good.mp3")) << box.text;
    EXPECT_NE(std::string::npos, box.text.find(dir + "\\host.log")) << box.text;
    WavInfo info;
    ASSERT_TRUE(ReadWav(out + "\\good.wav", &info));
    EXPECT_NEAR(info.dataBytes / 176400.0, 2.0, 0.1);
    EXPECT_EQ(CurrentPage(), PageFiles);
    EXPECT_EQ(programTitle, Text(Main()));
    std::string logText = vqtest::ReadText(dir + "\\host.log");
    EXPECT_NE(std::string::npos, logText.find("[PylPUM::ProccessFiles(830)]")) << logText;

    // An output folder that does not exist and "End Program": the box comes
    // first, and the program ends only when the user has closed it.
    std::string encIni = mods + "\\enc_linear.ini";
    WritePrivateProfileStringA(VQ_HOST_SECTION, Tr("Output path", "Ruta de salida"), (dir + "\\no\\such").c_str(),
                               encIni.c_str());
    DropFiles(files, {src + "\\good.mp3"});
    ASSERT_TRUE(WaitUntil([files] { return ListRows(Item(files, IDC_FILE_LIST)).size() == 1; }));
    for (int i = 0; i < 3; i++)
        Click(Main(), IDC_NEXT);
    ASSERT_TRUE(SelectByData(proc, IDC_WHEN_DONE, 145));
    ClearShownBoxes();
    s_boxClosed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_seams.messageBox = BoxOpenUntilClosed;
    Click(Main(), IDC_NEXT);
    ASSERT_TRUE(WaitUntil([] { return !ShownBoxes().empty(); }, 60000));
    box = ShownBoxes()[0];
    EXPECT_EQ(0u, box.text.rfind(Tr("1 of 1 files could not be converted:",
                                    "No se pudieron convertir 1 de 1 archivos:"), 0)) << box.text;
    Sleep(300);
    EXPECT_TRUE(g_host.mainDialog && IsWindow(g_host.mainDialog)) << "the program ended under the box";
    SetEvent(s_boxClosed);
    EXPECT_TRUE(WaitUntil([] { return g_host.mainDialog == nullptr; }, 30000));
    CloseHandle(s_boxClosed);
    EXPECT_NE(std::string::npos, vqtest::ReadText(dir + "\\host.log").find("[PylPUM::ProccessFiles(789)]"));
    EXPECT_FALSE(vqtest::FileExists(dir + "\\no\\such\\good.wav"));
}

// A WMA stream that stalls with "Delete original files" on: the file is told
// as a failure and keeps its source; the MP3 beside it is converted and goes.
TEST_F(Batch, StalledWmaIsToldAsAFailureAndKeepsItsSource)
{
    ASSERT_TRUE(missing.empty()) << "modules not built:" << missing;
    std::string stalling = vqtest::BinDir() + "\\testmods\\in_velvet_stalling.dll";
    ASSERT_TRUE(vqtest::FileExists(stalling));
    ASSERT_TRUE(CopyFileA(stalling.c_str(), (mods + "\\in_velvet.dll").c_str(), FALSE));
    std::string data = vqtest::TestDataDir() + "\\app", src = dir + "\\src";
    SetEnvironmentVariableA("VQ_STANDIN_WAV", (data + "\\sweep2.wav").c_str());
    CreateDirectoryA(src.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((data + "\\tree\\four.wma").c_str(), (src + "\\stuck.wma").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((data + "\\tree\\one.mp3").c_str(), (src + "\\good.mp3").c_str(), FALSE));
    ASSERT_TRUE(app.Start());
    HWND files = Page(PageFiles), enc = Page(PageEncoder);
    Click(Main(), IDC_NEXT);
    DropFiles(files, {src + "\\stuck.wma", src + "\\good.mp3"});
    ASSERT_TRUE(WaitUntil([files] { return ListRows(Item(files, IDC_FILE_LIST)).size() == 2; }));
    for (int i = 0; i < 2; i++)
        Click(Main(), IDC_NEXT);
    SendMessageA(Item(enc, IDC_DELETE_ORIGINALS), BM_SETCHECK, BST_CHECKED, 0);
    Click(enc, IDC_DELETE_ORIGINALS);
    Click(Main(), IDC_NEXT);
    ASSERT_TRUE(SelectByData(Page(PageProcessing), IDC_WHEN_DONE, 144));
    Click(Main(), IDC_NEXT);
    // The module gives a silent reader 20 s before it ends the stream.
    ASSERT_TRUE(WaitUntil([] { return !ShownBoxes().empty(); }, 90000)) << "the batch did not finish";
    ShownBox box = ShownBoxes()[0];
    EXPECT_EQ((UINT)MB_ICONWARNING, box.type & MB_ICONMASK);
    EXPECT_EQ(0u, box.text.rfind(Tr("1 of 2 files could not be converted:",
                                    "No se pudieron convertir 1 de 2 archivos:"), 0)) << box.text;
    EXPECT_NE(std::string::npos, box.text.find("\n" + src + "\\stuck.wma\n")) << box.text;
    EXPECT_EQ(std::string::npos, box.text.find("good.mp3")) << box.text;
    EXPECT_TRUE(vqtest::FileExists(src + "\\stuck.wma"));
    EXPECT_FALSE(vqtest::FileExists(src + "\\good.mp3"));
    EXPECT_TRUE(vqtest::FileExists(out + "\\good.wav"));
    SetEnvironmentVariableA("VQ_STANDIN_WAV", nullptr);
}

}  // namespace

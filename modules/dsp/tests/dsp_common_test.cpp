// What every DSP plug-in shares: its record and exports, the two-layer
// settings read, the instance table, bad input, pass-through and block-size
// invariance. Parameterised over the seven plug-ins.
#include <gtest/gtest.h>

#include <stdio.h>

#include "dsp_host.h"

namespace {

const PluginInfo kPlugins[] = {
    {"dsp_squeeze.dll", 1, "PylSoftCompressorDSP", 9, 2, true, false, 256, true},
    {"dsp_ceiling.dll", 2, "PylSoftHardLimiterDSP", 8, 2, true, false, 128, true},
    {"dsp_lowgate.dll", 4, "PylSoftExpanderDSP", 9, 1, true, false, 128, true},
    {"dsp_tiers.dll", 5, "PylSoftMultiBandCompressorDSP", 41, 1, false, false, 128, true},
    {"dsp_leveler.dll", 3, "PylSoftNormalizerDSP", 4, 1, true, false, 128, true},
    {"dsp_voxcut.dll", 6, "PylSoftKaraokeDSP", 2, 1, false, true, 128, true},
    {"dsp_spread.dll", 8, "PylSoftStereoEnhancerDSP", 1, 1, false, true, 128, false},
};

class DspCommon : public ::testing::TestWithParam<PluginInfo> {
protected:
    void SetUp() override
    {
        host_ = std::make_unique<DspHost>(GetParam().dll);
        ASSERT_TRUE(host_->ok()) << GetParam().dll;
    }
    std::unique_ptr<DspHost> host_;
    IVqProModule* m() { return host_->mod(); }
};

// Text form of a value between the setting's limits (fraction 0..1 of the range).
std::string ValueBetween(const SettingRecord& r, double fraction, double* value)
{
    char buf[64];
    if (r.type == (int32_t)SettingType::Double) {
        double lo = SettingLoad<double>(r.limits, 0), hi = SettingLoad<double>(r.limits, 1);
        *value = lo + (hi - lo) * fraction;
        snprintf(buf, sizeof buf, "%f", *value);
        *value = atof(buf);
    } else if (r.constraint > 0) {  // a switch: its last list value
        *value = SettingLoad<int32_t>(r.limits, fraction > 0.5 ? 0 : r.constraint - 1);
        snprintf(buf, sizeof buf, "%d", (int)*value);
    } else {
        int lo = SettingLoad<int32_t>(r.limits, 0), hi = SettingLoad<int32_t>(r.limits, 1);
        *value = (int)(lo + (hi - lo) * fraction) & ~1;
        snprintf(buf, sizeof buf, "%d", (int)*value);
    }
    return buf;
}

TEST_P(DspCommon, ExportsOnlyTheInterfaceAndDescribesItself)
{
    auto* base = reinterpret_cast<const unsigned char*>(host_->library());
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    auto& dirEntry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(0u, dirEntry.VirtualAddress);
    auto* exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dirEntry.VirtualAddress);
    ASSERT_EQ(1u, exp->NumberOfFunctions);
    ASSERT_EQ(1u, exp->NumberOfNames);
    auto* names = reinterpret_cast<const DWORD*>(base + exp->AddressOfNames);
    EXPECT_STREQ("GetModuleInterface", reinterpret_cast<const char*>(base + names[0]));

    const PluginInfo& p = GetParam();
    EXPECT_EQ(KindDsp, m()->h.Kind);
    EXPECT_EQ(p.id, m()->h.Id);
    EXPECT_STREQ(p.internalName, m()->h.InternalName);
    uint32_t v = m()->h.Version;
    char about[160];
    snprintf(about, sizeof about, "%s v%u.%u.%u.%u", m()->h.DisplayName, v >> 28, (v >> 24) & 15, (v >> 16) & 255,
             v & 0xFFFF);
    EXPECT_EQ(0, strncmp(about, m()->h.AboutText, strlen(about))) << m()->h.AboutText;
    EXPECT_NE(nullptr, m()->h.hIcon);

    SettingRecord r;
    EXPECT_EQ(1, m()->h.QuerySetting(&r, p.settings - 1, nullptr));
    EXPECT_EQ(0, m()->h.QuerySetting(&r, p.settings, nullptr));
    EXPECT_EQ(-1, m()->h.GetSetting(&r, p.settings, nullptr, nullptr));
    EXPECT_EQ(-1, m()->h.GetSetting(&r, -1, nullptr, nullptr));
    m()->h.QuerySetting(&r, 0, nullptr);
    EXPECT_EQ(-1, m()->h.SetSetting(&r, p.settings, "Probe", nullptr));
    EXPECT_FALSE(vqtest::FileExists(host_->iniPath())) << "an index out of range writes nothing";

    char pin[16] = "untouched";
    EXPECT_EQ((unsigned)p.inputPins, m()->dsp.GetInputPinName(5, pin));
    EXPECT_STREQ("untouched", pin);
    EXPECT_EQ(0u, m()->dsp.GetInputPinName(0, pin));
    EXPECT_STREQ("Sig", pin);
    EXPECT_EQ(1, m()->dsp.GetOutputPinName(1, pin));
    EXPECT_EQ(0, m()->dsp.GetOutputPinName(0, pin));
    IVqProModule* sub = m();
    char section[256] = "x";
    EXPECT_EQ(nullptr, m()->h.GetSubModule(&r, &sub, section, nullptr));
    EXPECT_EQ(nullptr, sub);
    EXPECT_STREQ("", section);
    EXPECT_EQ(-1, m()->h.Configure(nullptr, nullptr, nullptr));
}

// Section value, else the module-wide "Default" value, else the built-in default;
// Close writes every value back to the instance's section.
TEST_P(DspCommon, InstanceSettingsLayerSectionOverDefaultOverBuiltIn)
{
    const int n = GetParam().settings;
    const std::string ini = host_->iniPath();
    const char* sec = DspHost::kSection;
    std::vector<double> expected(n), builtIn(n);
    for (int i = 0; i < n; ++i) {
        SettingRecord r;
        ASSERT_EQ(1, m()->h.QuerySetting(&r, i, nullptr));
        builtIn[i] = SettingAsDouble(r.type, r.defaultValue);
        double dv, sv;
        std::string d = ValueBetween(r, 0.25, &dv), s = ValueBetween(r, 0.75, &sv);
        switch (i % 3) {
        case 0:  // both layers: the section wins
            WritePrivateProfileStringA("Default", r.name, d.c_str(), ini.c_str());
            WritePrivateProfileStringA(sec, r.name, s.c_str(), ini.c_str());
            expected[i] = sv;
            break;
        case 1:  // module-wide only
            WritePrivateProfileStringA("Default", r.name, d.c_str(), ini.c_str());
            expected[i] = dv;
            break;
        default: expected[i] = builtIn[i];
        }
    }
    void* h = host_->open(Pcm(2));
    ASSERT_NE(nullptr, h);
    for (int i = 0; i < n; ++i) {
        SettingRecord r;
        ASSERT_GE(m()->h.GetSetting(&r, i, "Elsewhere", h), 0);
        EXPECT_DOUBLE_EQ(expected[i], SettingAsDouble(r.type, r.currentValue)) << r.name;
        // Without an instance only the given section is read over the built-in default.
        ASSERT_GE(m()->h.GetSetting(&r, i, sec, nullptr), 0);
        EXPECT_DOUBLE_EQ(i % 3 == 0 ? expected[i] : builtIn[i], SettingAsDouble(r.type, r.currentValue))
            << r.name;
    }
    // An edit made to the section while the instance is open is replaced at Close.
    SettingRecord first;
    m()->h.QuerySetting(&first, 0, nullptr);
    WritePrivateProfileStringA(sec, first.name, "12345", ini.c_str());
    host_->close(h);
    for (int i = 0; i < n; ++i) {
        SettingRecord r;
        m()->h.QuerySetting(&r, i, nullptr);
        char buf[64] = "";
        GetPrivateProfileStringA(sec, r.name, "", buf, sizeof buf, ini.c_str());
        ASSERT_NE('\0', buf[0]) << r.name << " not written at Close";
        EXPECT_NEAR(expected[i], atof(buf), 1e-6) << r.name;
    }
}

TEST_P(DspCommon, LongSectionNameIsCutToTheCapacity)
{
    std::string longName(300, 'S');
    for (size_t i = 0; i < longName.size(); ++i) longName[i] = (char)('a' + i % 26);
    void* h = host_->open(Pcm(2), longName.c_str());
    ASSERT_NE(nullptr, h);
    host_->close(h);
    SettingRecord r;
    m()->h.QuerySetting(&r, 0, nullptr);
    const std::string cut = longName.substr(0, GetParam().sectionCapacity - 1);
    char buf[64] = "";
    GetPrivateProfileStringA(cut.c_str(), r.name, "", buf, sizeof buf, host_->iniPath().c_str());
    EXPECT_NE('\0', buf[0]) << "settings not under the cut name";
    GetPrivateProfileStringA(longName.substr(0, GetParam().sectionCapacity).c_str(), r.name, "", buf, sizeof buf,
                             host_->iniPath().c_str());
    EXPECT_EQ('\0', buf[0]) << "one character too many kept";
}

TEST_P(DspCommon, SetSettingWithInstanceHoldsValuesToTheirRange)
{
    void* h = host_->open(Pcm(2));
    ASSERT_NE(nullptr, h);
    for (int i = 0; i < GetParam().settings; ++i) {
        SettingRecord r;
        m()->h.QuerySetting(&r, i, nullptr);
        bool isDouble = r.type == (int32_t)SettingType::Double;
        for (double v : {1e9, -1e9}) {
            SettingRecord in = r;
            if (isDouble)
                SettingStore<double>(in.currentValue, v);
            else
                SettingStore<int32_t>(in.currentValue, (int32_t)v);
            EXPECT_EQ(r.type, m()->h.SetSetting(&in, i, DspHost::kSection, h));
            SettingRecord out;
            m()->h.GetSetting(&out, i, nullptr, h);
            double got = SettingAsDouble(out.type, out.currentValue);
            if (r.constraint == (int)ConstraintMode::Range) {
                double lo = SettingAsDouble(r.type, r.limits, 0), hi = SettingAsDouble(r.type, r.limits, 1);
                EXPECT_DOUBLE_EQ(v > 0 ? hi : lo, got) << r.name;
            } else {
                EXPECT_DOUBLE_EQ(SettingAsDouble(r.type, r.defaultValue), got) << r.name;
            }
        }
    }
    // The instance still processes sanely at the extremes.
    auto x = Noise(4410, 2, 20000);
    auto y = host_->run(h, x, Pcm(2));
    EXPECT_EQ(x.size(), y.size());
    host_->close(h);
}

TEST_P(DspCommon, TableHolds256InstancesAndCloseIgnoresStrangers)
{
    // A folder in place of the INI file makes the 256 closes' writes fail fast.
    CreateDirectoryA(host_->iniPath().c_str(), nullptr);
    std::vector<void*> open;
    const StreamFormat f = Pcm(2);
    for (int i = 0; i < 256; ++i) {
        void* h = host_->open(f, "T");
        ASSERT_NE(nullptr, h) << "open #" << i + 1;
        open.push_back(h);
    }
    EXPECT_EQ(nullptr, host_->open(f, "T"));
    host_->close(open.back());
    host_->close(open.back());  // already closed: ignored
    int local = 0;
    host_->close(&local);  // not an instance: ignored
    host_->close(nullptr);
    void* again = host_->open(f, "T");
    EXPECT_NE(nullptr, again);
    open.back() = again;
    EXPECT_EQ(nullptr, host_->open(f, "T"));
    // QuitModule (in the host's destructor) closes the rest.
}

TEST_P(DspCommon, NullHandleAndEmptyBlocks)
{
    const StreamFormat f = Pcm(2);
    short in[8] = {1, 2, 3, 4, 5, 6, 7, 8}, out[8] = {0};
    short* pins[2] = {in, nullptr};
    short* outs[1] = {out};
    EXPECT_EQ(-1, m()->dsp.Process(pins, outs, 16, &f, nullptr));
    void* h = host_->open(f);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(0, m()->dsp.Process(pins, outs, 0, &f, h));
    EXPECT_EQ(-5, m()->dsp.Process(pins, outs, -5, &f, h));
    for (short s : out) EXPECT_EQ(0, s);
    EXPECT_EQ(-1, m()->dsp.Process(nullptr, outs, 16, &f, h));
    short* nullPins[2] = {nullptr, nullptr};
    EXPECT_EQ(-1, m()->dsp.Process(nullPins, outs, 16, &f, h));
    host_->close(h);
}

// 8- and 24-bit blocks, and formats the effect cannot index safely, come out
// byte for byte as they went in; nothing is written past `bytes`.
TEST_P(DspCommon, UnprocessableBlocksPassThroughExactly)
{
    std::vector<StreamFormat> formats = {Pcm(2, 44100, 8), Pcm(2, 44100, 24), Pcm(1, 44100, 8)};
    StreamFormat f = Pcm(2);
    f.channels = 0;
    formats.push_back(f);
    f = Pcm(9);
    formats.push_back(f);
    f = Pcm(2);
    f.blockAlign = 0;
    formats.push_back(f);
    f = Pcm(2);
    f.blockAlign = 6;
    formats.push_back(f);
    if (GetParam().usesRate) {
        formats.push_back(Pcm(2, 0));
        formats.push_back(Pcm(2, -44100));
    }
    if (GetParam().lookAhead) formats.push_back(Pcm(2, 100));  // look-ahead rounds to 0 frames
    if (GetParam().stereoOnly) {
        formats.push_back(Pcm(1));
        formats.push_back(Pcm(4));
    }
    for (const StreamFormat& fmt : formats) {
        SCOPED_TRACE(testing::Message() << "channels " << fmt.channels << " bits " << fmt.bitsPerSample << " align "
                                        << fmt.blockAlign << " rate " << fmt.sampleRate);
        void* h = host_->open(fmt);
        ASSERT_NE(nullptr, h);
        std::vector<unsigned char> in(3003), out(3003 + 16, 0xCD);
        for (size_t i = 0; i < in.size(); ++i) in[i] = (unsigned char)(i * 37 + 11);
        for (int block = 0; block < 3; ++block) {
            short* pins[2] = {reinterpret_cast<short*>(in.data()), nullptr};
            short* outs[1] = {reinterpret_cast<short*>(out.data())};
            ASSERT_EQ(3003, m()->dsp.Process(pins, outs, 3003, &fmt, h));
            EXPECT_EQ(0, memcmp(in.data(), out.data(), in.size()));
            for (size_t i = in.size(); i < out.size(); ++i) ASSERT_EQ(0xCD, out[i]);
        }
        host_->close(h);
    }
}

// Whole frames are processed and a partial frame at the end is copied through.
TEST_P(DspCommon, PartialFrameIsCopiedAndNothingWrittenPastBytes)
{
    const StreamFormat f = Pcm(2);
    void* h = host_->open(f);
    ASSERT_NE(nullptr, h);
    auto x = Noise(4411, 2, 12000);
    const int bytes = 4410 * 4 + 2;
    std::vector<short> out(x.size() + 8, (short)0x5A5A);
    short* pins[2] = {x.data(), nullptr};
    short* outs[1] = {out.data()};
    ASSERT_EQ(bytes, m()->dsp.Process(pins, outs, bytes, &f, h));
    EXPECT_EQ(x[4410 * 2], out[4410 * 2]);
    for (size_t i = 4410 * 2 + 1; i < out.size(); ++i) ASSERT_EQ((short)0x5A5A, out[i]) << i;
    host_->close(h);
}

TEST_P(DspCommon, OutputDoesNotDependOnBlockSizes)
{
    const StreamFormat f = Pcm(2);
    auto x = Noise(88200, 2, 30000, 7);
    // Quiet and loud stretches so the detectors attack, hold and release.
    for (size_t i = 0; i < x.size(); ++i)
        if ((i / 20000) % 3 == 1) x[i] /= 40;
    void* a = host_->open(f, "A");
    void* b = host_->open(f, "B");
    ASSERT_TRUE(a && b);
    auto whole = host_->run(a, x, f, {88200});
    std::vector<int> sizes;
    unsigned s = 99;
    for (int i = 0; i < 200; ++i) {
        s = s * 1103515245u + 12345u;
        sizes.push_back(1 + (s >> 16) % 3000);
    }
    auto pieces = host_->run(b, x, f, sizes);
    EXPECT_TRUE(whole == pieces);
    size_t nonZero = 0;
    for (short v : whole) nonZero += v != 0;
    EXPECT_GT(nonZero, whole.size() / 2);
    host_->close(a);
    host_->close(b);
}

TEST_P(DspCommon, DebugLogLinesCarryTheModuleName)
{
    host_.reset();
    DspHost h(GetParam().dll);
    ASSERT_TRUE(h.ok());
    // Level 15 (the host's default in these tests): nothing is written at all.
    EXPECT_FALSE(vqtest::FileExists(h.logPath()));
    h.setLogLevel(1);
    void* inst = h.open(Pcm(2));
    h.mod()->h.QuitModule();
    std::string log = vqtest::ReadText(h.logPath());
    EXPECT_NE(std::string::npos, log.find(std::string(GetParam().internalName) + "::QuitModule("));
    EXPECT_NE(std::string::npos, log.find("] Closing DSP instance..."));
    EXPECT_NE(std::string::npos, log.find("] Deinitialization complete."));
    (void)inst;
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, DspCommon, ::testing::ValuesIn(kPlugins),
                         [](const testing::TestParamInfo<PluginInfo>& i) { return std::string(i.param.dll).substr(4, std::string(i.param.dll).size() - 8); });

}  // namespace

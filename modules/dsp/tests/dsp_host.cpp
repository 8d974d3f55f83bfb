#include "dsp_host.h"

#include <stdio.h>

#include <gtest/gtest.h>

DspHost::DspHost(const char* dll)
{
    dir_ = vqtest::MakeTempDir("dsp");
    for (const char* dep : {"PylConfig.dll", "PylComLib.dll", "PylVC32.dll"}) {
        std::string src = vqtest::BinDir() + "\\" + dep;
        if (vqtest::FileExists(src)) vqtest::CopyInto(src, dir_);
    }
    std::string path = vqtest::CopyInto(vqtest::ModulesDir() + "\\" + dll, dir_);
    lib_ = LoadLibraryA(path.c_str());
    if (!lib_) return;
    auto get = reinterpret_cast<GetModuleInterfaceFn>(GetProcAddress(lib_, "GetModuleInterface"));
    if (!get) return;
    IVqProModule* m = get();
    if (!m || m->h.Kind != KindDsp) return;
    m->h.hInstance = lib_;
    logFile_ = logPath();
    if (m->h.InitModule(logFile_.c_str(), &logLevel_) <= 0) return;
    mod_ = m;
}

DspHost::~DspHost()
{
    if (mod_) mod_->h.QuitModule();
    if (lib_) FreeLibrary(lib_);
    vqtest::RemoveTree(dir_);
}

std::string DspHost::iniPath() const
{
    char buf[MAX_PATH];
    GetModuleFileNameA(lib_, buf, MAX_PATH);
    std::string p = buf;
    return p.substr(0, p.size() - 3) + "ini";
}

std::vector<short> DspHost::run(void* h, const std::vector<short>& x, const StreamFormat& f,
                                const std::vector<int>& blockFrames, const std::vector<short>* key)
{
    const int ch = f.channels;
    std::vector<short> y(x.size());
    size_t frames = x.size() / ch, t = 0, b = 0;
    std::vector<short> in, out, k;
    while (t < frames) {
        size_t n = blockFrames[b++ % blockFrames.size()];
        if (n > frames - t) n = frames - t;
        in.assign(x.begin() + t * ch, x.begin() + (t + n) * ch);
        out.assign(n * ch, 0);
        short* pins[2] = {in.data(), nullptr};
        if (key) {
            k.assign(key->begin() + t * ch, key->begin() + (t + n) * ch);
            pins[1] = k.data();
        }
        short* outs[1] = {out.data()};
        int bytes = (int)(n * ch * 2);
        EXPECT_EQ(bytes, mod_->dsp.Process(pins, outs, bytes, &f, h));
        std::copy(out.begin(), out.end(), y.begin() + t * ch);
        t += n;
    }
    return y;
}

int DspHost::index(const char* name) const
{
    SettingRecord r;
    for (int i = 0; mod_->h.QuerySetting(&r, i, nullptr); ++i)
        if (strcmp(r.name, name) == 0) return i;
    ADD_FAILURE() << "no setting " << name;
    return -1;
}

void DspHost::setDouble(void* h, const char* name, double v)
{
    SettingRecord r;
    int i = index(name);
    ASSERT_EQ(1, mod_->h.QuerySetting(&r, i, nullptr));
    ASSERT_EQ((int)SettingType::Double, r.type);
    SettingStore<double>(r.currentValue, v);
    mod_->h.SetSetting(&r, i, kSection, h);
}

void DspHost::setInt(void* h, const char* name, int v)
{
    SettingRecord r;
    int i = index(name);
    ASSERT_EQ(1, mod_->h.QuerySetting(&r, i, nullptr));
    ASSERT_EQ((int)SettingType::Int32, r.type);
    SettingStore<int32_t>(r.currentValue, v);
    mod_->h.SetSetting(&r, i, kSection, h);
}

double DspHost::getDouble(void* h, const char* name, const char* section)
{
    SettingRecord r;
    EXPECT_EQ((int)SettingType::Double, mod_->h.GetSetting(&r, index(name), section, h));
    return SettingLoad<double>(r.currentValue);
}

int DspHost::getInt(void* h, const char* name, const char* section)
{
    SettingRecord r;
    EXPECT_EQ((int)SettingType::Int32, mod_->h.GetSetting(&r, index(name), section, h));
    return SettingLoad<int32_t>(r.currentValue);
}

StreamFormat Pcm(int channels, int rate, int bits)
{
    StreamFormat f;
    f.formatTag = 1;
    f.channels = channels;
    f.sampleRate = rate;
    f.blockAlign = channels * bits / 8;
    f.avgBytesPerSec = rate * f.blockAlign;
    f.bitsPerSample = bits;
    return f;
}

std::vector<short> Noise(int frames, int channels, int peak, unsigned seed)
{
    std::vector<short> v((size_t)frames * channels);
    unsigned s = seed * 2654435761u + 12345;
    for (auto& x : v) {
        s = s * 1664525u + 1013904223u;
        x = (short)((int)((s >> 8) % (2u * peak + 1)) - peak);
    }
    return v;
}

std::vector<short> Square(int frames, int channels, int amplitude, int halfPeriod)
{
    std::vector<short> v((size_t)frames * channels);
    for (int t = 0; t < frames; ++t)
        for (int c = 0; c < channels; ++c) v[(size_t)t * channels + c] = (short)((t / halfPeriod) % 2 ? -amplitude : amplitude);
    return v;
}

std::vector<short> ReadRaw(const std::string& name)
{
    std::vector<unsigned char> b;
    EXPECT_TRUE(vqtest::ReadFile(vqtest::TestDataDir() + "\\dsp\\" + name, b)) << name;
    std::vector<short> v(b.size() / 2);
    memcpy(v.data(), b.data(), v.size() * 2);
    return v;
}

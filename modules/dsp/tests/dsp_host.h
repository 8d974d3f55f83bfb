// Loads one DSP plug-in from a private copy (with the configuration library
// beside it, so its INI file is private too) and drives it like the host.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "setting_record.h"
#include "test_support.h"
#include "vq_module.h"

struct PluginInfo {
    const char* dll;
    int id;
    const char* internalName;
    int settings;
    int inputPins;
    bool lookAhead;      // has a look-ahead delay (passes through when it rounds to 0 frames)
    bool stereoOnly;     // processes 2-channel blocks only
    int sectionCapacity; // characters of the section name kept, with the terminator
    bool usesRate;       // derives values from the sample rate (the enhancer does not)
};

class DspHost {
public:
    explicit DspHost(const char* dll);
    ~DspHost();
    bool ok() const { return mod_ != nullptr; }
    IVqProModule* mod() const { return mod_; }
    HMODULE library() const { return lib_; }
    const std::string& dir() const { return dir_; }
    std::string iniPath() const;
    std::string logPath() const { return dir_ + "\\dsp.log"; }
    void setLogLevel(int level) { logLevel_ = level; }

    void* open(const StreamFormat& f, const char* section = kSection) { return mod_->dsp.Open(&f, section); }
    int close(void* h) { return mod_->dsp.Close(h); }
    // Processes a whole signal in blocks of the given frame counts (cycled); key may be empty.
    std::vector<short> run(void* h, const std::vector<short>& x, const StreamFormat& f,
                           const std::vector<int>& blockFrames = {4410}, const std::vector<short>* key = nullptr);
    // Setting access by name through the instance (or the template when h is NULL).
    int index(const char* name) const;
    void setDouble(void* h, const char* name, double v);
    void setInt(void* h, const char* name, int v);
    double getDouble(void* h, const char* name, const char* section = kSection);
    int getInt(void* h, const char* name, const char* section = kSection);

    static constexpr const char* kSection = "PylSoftBatchConverter::DSP001";

private:
    std::string dir_;
    HMODULE lib_ = nullptr;
    IVqProModule* mod_ = nullptr;
    int logLevel_ = 15;
    std::string logFile_;
};

StreamFormat Pcm(int channels, int rate = 44100, int bits = 16);
// Deterministic white noise of the given peak, interleaved.
std::vector<short> Noise(int frames, int channels, int peak, unsigned seed = 1);
// A square wave of +/-amplitude with the given half period in frames, on every channel.
std::vector<short> Square(int frames, int channels, int amplitude, int halfPeriod = 50);
std::vector<short> ReadRaw(const std::string& name);  // from the test data folder

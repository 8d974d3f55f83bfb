// Loads a copy of an input plug-in in a private folder (its INI file stays
// there) and initialises it with a log file of its own.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "vq_log.h"
#include "vq_module.h"

class InputModuleHarness {
public:
    bool Load(const char* dllName, const char* tag)
    {
        dir_ = vqtest::MakeTempDir(tag);
        std::string dll = vqtest::CopyInto(vqtest::ModulesDir() + "\\" + dllName, dir_);
        lib_ = LoadLibraryA(dll.c_str());
        if (!lib_) return false;
        auto get = reinterpret_cast<GetModuleInterfaceFn>(GetProcAddress(lib_, "GetModuleInterface"));
        if (!get) return false;
        mod_ = get();
        if (!mod_ || mod_->h.Kind != KindInput) return false;
        mod_->h.hInstance = lib_;
        logFile_ = dir_ + "\\test.log";
        return mod_->h.InitModule(logFile_.c_str(), &logLevel_) > 0;
    }
    void Unload()
    {
        if (mod_) mod_->h.QuitModule();
        mod_ = nullptr;
        if (lib_) FreeLibrary(lib_);
        lib_ = nullptr;
        vqtest::RemoveTree(dir_);
    }
    IVqProModule* mod() const { return mod_; }
    const std::string& dir() const { return dir_; }
    std::string LogText() const { return vqtest::ReadText(logFile_); }

    // Reads a whole stream in blocks of `block` bytes; every result must be
    // a whole number of sample frames.
    std::vector<unsigned char> ReadAll(void* h, int block, int blockAlign, bool* wholeFrames = nullptr)
    {
        std::vector<unsigned char> out;
        std::vector<char> buf(block);
        if (wholeFrames) *wholeFrames = true;
        for (;;) {
            int n = mod_->input.Read(buf.data(), block, h);
            if (n < 1) break;
            if (wholeFrames && (n % blockAlign) != 0) *wholeFrames = false;
            out.insert(out.end(), buf.begin(), buf.begin() + n);
        }
        return out;
    }

private:
    HMODULE lib_ = nullptr;
    IVqProModule* mod_ = nullptr;
    std::string dir_;
    std::string logFile_;
    int logLevel_ = LogDebug;
};

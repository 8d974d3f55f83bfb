// The CD module compiled into the test program, started over a disc model
// served by the test ASPI manager or by the pass-through device table.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "disc_model.h"
#include "fake_device.h"
#include "test_support.h"
#include "vq_log.h"
#include "vq_module.h"

extern "C" IVqProModule* __cdecl GetModuleInterface(void);

inline std::string CdData(const std::string& name)
{
    const char* dir = getenv("VQ_CD_DATA");
    return WinPath(dir ? dir : "") + "\\" + name;
}

// The program's import of a function (of the C library unless another
// library is named) pointed elsewhere; the entry it had, or NULL when the
// program does not import it.
inline void* ReplaceImport(const char* name, void* replacement, const char* library = "msvcrt.dll")
{
    auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    auto& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + d->Name), library) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* entries = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++entries) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char*>(byName->Name), name) != 0) continue;
            DWORD protect;
            VirtualProtect(&entries->u1.Function, sizeof entries->u1.Function, PAGE_READWRITE, &protect);
            void* previous = reinterpret_cast<void*>(entries->u1.Function);
            entries->u1.Function = reinterpret_cast<uintptr_t>(replacement);
            VirtualProtect(&entries->u1.Function, sizeof entries->u1.Function, protect, &protect);
            return previous;
        }
    }
    return nullptr;
}

class CdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = vqtest::MakeTempDir("cdtest");
        logFile = dir + "\\module.log";
        commandLog = dir + "\\commands.log";
        m->h.hInstance = GetModuleHandleA(nullptr);
    }
    void TearDown() override
    {
        Stop();
        vqtest::RemoveTree(dir);
    }
    // A model file: one of the data folder's, with the image named by its
    // full path, and the knob lines added.
    std::string Model(const std::string& base, const std::string& knobs)
    {
        std::string text = vqtest::ReadText(CdData(base));
        size_t at = text.find("image disc.raw");
        if (at != std::string::npos) text.replace(at, 14, "image " + CdData("disc.raw"));
        text += "\n" + knobs + "\n";
        std::string path = dir + "\\model" + std::to_string(++models) + ".txt";
        vqtest::WriteFile(path, text.data(), text.size());
        return path;
    }
    // Starts the module; with passThrough the ASPI manager reports no
    // adapter, so the layer turns to the pass-through table.
    void Start(const std::string& base, const std::string& knobs = "", bool passThrough = false)
    {
        std::string path = Model(base, knobs + (passThrough ? "\nnoadapters 1" : ""));
        SetEnvironmentVariableA("VQ_FAKE_CD_MODEL", path.c_str());
        SetEnvironmentVariableA("VQ_FAKE_CD_LOG", commandLog.c_str());
        if (passThrough) {
            ASSERT_TRUE(fakedev::Install(path, commandLog));
        }
        ASSERT_EQ(m->h.InitModule(logFile.c_str(), &level), 1);
        started = true;
    }
    void Stop()
    {
        if (started) m->h.QuitModule();
        started = false;
        fakedev::Uninstall();
    }
    // The commands the drive saw, one per line ("28 00 00 ...").
    std::vector<std::string> Commands()
    {
        std::vector<std::string> lines;
        std::string text = vqtest::ReadText(commandLog);
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find("\r\n", at);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }
    std::vector<unsigned char> ReadAll(void* h, int block = 17640)
    {
        std::vector<unsigned char> out;
        std::vector<char> buf(block);
        for (;;) {
            int n = m->input.Read(buf.data(), block, h);
            if (n < 1) break;
            out.insert(out.end(), buf.begin(), buf.begin() + n);
        }
        return out;
    }
    std::vector<unsigned char> Slice(int track)
    {
        std::vector<unsigned char> s;
        char name[32];
        snprintf(name, sizeof name, "slices\\track%02d.raw", track);
        vqtest::ReadFile(CdData(name), s);
        return s;
    }

    IVqProModule* m = GetModuleInterface();
    std::string dir, logFile, commandLog;
    int level = LogDebug;
    bool started = false;
    int models = 0;
};

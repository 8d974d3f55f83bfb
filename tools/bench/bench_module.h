// Shared by the benchmark programs: loads a module DLL from the modules
// folder beside the running executable and initialises it, logging to a file
// of the given name in the temporary folder. NULL (with a line on stderr)
// when it cannot.
#pragma once
#include <windows.h>

#include <stdio.h>
#include <string>

#include "vq_module.h"

inline IVqProModule* LoadBenchModule(const char* dllName, const char* logName)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe);
    dir = dir.substr(0, dir.find_last_of('\\'));
    std::string dll = dir + "\\modules\\" + dllName;
    HMODULE lib = LoadLibraryA(dll.c_str());
    if (!lib) {
        fprintf(stderr, "cannot load %s (error %lu)\n", dll.c_str(), GetLastError());
        return nullptr;
    }
    auto get = reinterpret_cast<GetModuleInterfaceFn>(GetProcAddress(lib, "GetModuleInterface"));
    IVqProModule* m = get ? get() : nullptr;
    if (!m) {
        fprintf(stderr, "%s has no module interface\n", dll.c_str());
        return nullptr;
    }
    m->h.hInstance = lib;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    static std::string log;
    log = std::string(temp) + logName;
    static int level = 15;
    if (m->h.InitModule(log.c_str(), &level) <= 0) {
        fprintf(stderr, "%s did not initialise\n", dll.c_str());
        return nullptr;
    }
    return m;
}

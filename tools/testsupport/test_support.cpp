#include "test_support.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace vqtest {

std::string WinPathFromEnv(const char* var)
{
    const char* v = getenv(var);
    if (!v || !*v) return std::string();
    std::string s(v);
    if (s[0] == '/') s = "Z:" + s;
    for (auto& c : s)
        if (c == '/') c = '\\';
    return s;
}

std::string BinDir()
{
    std::string d = WinPathFromEnv("VQ_BIN_DIR");
    if (d.empty()) {
        char buf[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
        d.assign(buf, n);
        d = d.substr(0, d.find_last_of('\\'));
    }
    return d;
}

std::string ModulesDir() { return BinDir() + "\\modules"; }

std::string TestDataDir()
{
    std::string bin = BinDir();
    return bin.substr(0, bin.find_last_of('\\')) + "\\testdata";
}

std::string MakeTempDir(const char* tag)
{
    static LONG counter = 0;
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%svq_%s_%lu_%ld", tmp, tag, GetCurrentProcessId(),
             InterlockedIncrement(&counter));
    RemoveTree(name);
    CreateDirectoryA(name, nullptr);
    return name;
}

void RemoveTree(const std::string& dir)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string n = fd.cFileName;
            if (n == "." || n == "..") continue;
            std::string p = dir + "\\" + n;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(p);
            else {
                SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(p.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

bool ReadFile(const std::string& path, std::vector<unsigned char>& out)
{
    out.clear();
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    fclose(f);
    return true;
}

bool WriteFile(const std::string& path, const void* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadText(const std::string& path)
{
    std::vector<unsigned char> b;
    ReadFile(path, b);
    return std::string(b.begin(), b.end());
}

std::string CopyInto(const std::string& src, const std::string& dir)
{
    std::string name = src.substr(src.find_last_of('\\') + 1);
    std::string dst = dir + "\\" + name;
    CopyFileA(src.c_str(), dst.c_str(), FALSE);
    return dst;
}

}  // namespace vqtest

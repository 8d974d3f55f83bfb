// Module loader: finds the plug-ins of one kind by file-name pattern, keeps
// those whose record has the right kind and whose initialisation succeeds.
#include "module_loader.h"

#include <windows.h>

#include <string.h>

#include "vq_log.h"

namespace {

LoaderStringFn g_stringSource;

void LoadText(unsigned id, const char* english, char* buf, int size)
{
    if (g_stringSource && g_stringSource(id, buf, size) > 0) {
        buf[size - 1] = '\0';
        return;
    }
    lstrcpynA(buf, english, size);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

// Case-insensitive match of a long file name against a pattern with "*" and "?".
// The system's search also matches short (8.3) names, so "in_*.dll" finds
// "in_x.dll~" too: the long name must fit the pattern itself.
bool MatchesPattern(const char* name, const char* pattern)
{
    if (!*pattern) return !*name;
    if (*pattern == '*') {
        for (const char* n = name;; ++n) {
            if (MatchesPattern(n, pattern + 1)) return true;
            if (!*n) return false;
        }
    }
    if (!*name) return false;
    if (*pattern != '?' && Lower(*pattern) != Lower(*name)) return false;
    return MatchesPattern(name + 1, pattern + 1);
}

// Appends to a fixed block, never beyond its limit.
struct Block {
    char* buf;
    size_t limit;
    size_t len;
    bool Fits(size_t n) const { return len + n <= limit; }
    void Put(const char* s, size_t n)
    {
        memcpy(buf + len, s, n);
        len += n;
    }
    void Put(const char* s) { Put(s, strlen(s)); }
    void Nul() { buf[len++] = '\0'; }
};

// Walks the "description\0pattern\0...\0\0" pairs of a FilterList. A pair with
// an empty pattern ends it (the dialog's own list would end there too).
template <class F>
void ForEachFilter(IVqProModule* table[kMaxModules], F f)
{
    for (int i = 0; i < kMaxModules; ++i) {
        if (!table[i] || !table[i]->input.FilterList) continue;
        const char* p = table[i]->input.FilterList;
        while (*p) {
            const char* desc = p;
            const char* pattern = desc + strlen(desc) + 1;
            if (!*pattern) break;  // a description without a pattern ends the list
            p = pattern + strlen(pattern) + 1;
            f(desc, pattern);
        }
    }
}

}  // namespace

void SetLoaderStringSource(LoaderStringFn fn) { g_stringSource = fn; }

const char* GetModulePattern(int kind)
{
    switch (kind) {
    case KindInput: return "in_*.dll";
    case KindOutput: return "out_*.dll";
    case KindDsp: return "dsp_*.dll";
    case KindEncoder: return "enc_*.dll";
    case KindCapture: return "cap_*.dll";
    case KindMlm: return "mlm_*.dll";
    case KindPqm: return "pqm_*.dll";
    case KindSch: return "sch_*.dll";
    case KindChm: return "chm_*.dll";
    case KindPlr: return "plr_*.dll";
    case KindMtp: return "mtp_*.dll";
    case KindGeneral: return "gen_*.dll";
    default: return nullptr;
    }
}

int LoadModules(const char* folder, int kind, IVqProModule* table[kMaxModules], const char* logFile,
                int* logLevel)
{
    if (!table) return 0;
    for (int i = 0; i < kMaxModules; ++i) table[i] = nullptr;
    const char* pattern = GetModulePattern(kind);
    if (!pattern) return 0;

    char dir[MAX_PATH];
    if (folder && *folder) {
        if (strlen(folder) >= MAX_PATH) return 0;
        strcpy(dir, folder);
    } else {
        DWORD n = GetModuleFileNameA(nullptr, dir, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return 0;
        char* sep = strrchr(dir, '\\');
        if (sep) *sep = '\0';
    }
    size_t dirLen = strlen(dir);
    if (dirLen > 0 && (dir[dirLen - 1] == '\\' || dir[dirLen - 1] == '/')) dir[--dirLen] = '\0';

    // A search path that does not fit would search somewhere else.
    char search[MAX_PATH];
    if (dirLen + 1 + strlen(pattern) >= MAX_PATH) return 0;
    strcpy(search, dir);
    strcat(search, "\\");
    strcat(search, pattern);

    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA(search, &fd);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!MatchesPattern(fd.cFileName, pattern)) continue;
        if (dirLen + 1 + strlen(fd.cFileName) >= MAX_PATH) continue;  // does not fit the path buffer
        char path[MAX_PATH];
        strcpy(path, dir);
        strcat(path, "\\");
        strcat(path, fd.cFileName);

        UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        HMODULE lib = LoadLibraryA(path);
        DWORD err = GetLastError();
        SetErrorMode(oldMode);
        if (!lib) {
            LogSystemErrorCode("VqMods", "LoadModules", 138, fd.cFileName, logFile, err);
            continue;
        }
        GetModuleInterfaceFn get = (GetModuleInterfaceFn)(void*)GetProcAddress(lib, "GetModuleInterface");
        IVqProModule* rec = get ? get() : nullptr;
        if (!rec || rec->h.Kind != kind || !rec->h.InitModule) {
            FreeLibrary(lib);
            continue;
        }
        rec->h.hInstance = lib;
        if (rec->h.InitModule(logFile, logLevel) > 0) {
            table[count++] = rec;
        } else {
            FreeLibrary(lib);
        }
    } while (count < kMaxModules && FindNextFileA(find, &fd));
    FindClose(find);
    return count;
}

int UnloadModules(IVqProModule* table[kMaxModules])
{
    if (!table) return 1;
    for (int i = 0; i < kMaxModules; ++i) {
        IVqProModule* rec = table[i];
        if (!rec) continue;
        HMODULE lib = rec->h.hInstance;
        if (rec->h.QuitModule) rec->h.QuitModule();
        if (lib) FreeLibrary(lib);
        table[i] = nullptr;
    }
    return 1;
}

char* BuildFilterText(IVqProModule* inputTable[kMaxModules])
{
    char allFiles[64];
    LoadText(IDS_FILTER_ALL_FILES, "All files (*.*)\t*.*\t", allFiles, sizeof allFiles);
    size_t allLen = strlen(allFiles);
    for (size_t i = 0; i < allLen; ++i)
        if (allFiles[i] == '\t') allFiles[i] = '\0';
    if (allLen == 0 || allFiles[allLen - 1] != '\0') allFiles[allLen++] = '\0';  // a text without the final tab

    char* text = (char*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kFilterTextSize);
    if (!text) return nullptr;
    // Room is kept for the "All files" entry and the NUL that ends the list.
    Block out{text, kFilterTextSize - allLen - 1, 0};
    if (!inputTable) {
        out.Put(allFiles, allLen);
        return text;
    }

    char supported[256];
    LoadText(IDS_FILTER_ALL_SUPPORTED, "All supported files ", supported, sizeof supported);
    size_t supportedLen = strlen(supported);

    // The patterns that fit twice (description and pattern part), in table and list order.
    const char* patterns[1024];
    int patternCount = 0;
    size_t need = supportedLen + 4;  // "(", ")", two NULs
    ForEachFilter(inputTable, [&](const char*, const char* pattern) {
        size_t cost = 2 * strlen(pattern) + (patternCount ? 2 : 0);
        if (patternCount < 1024 && need + cost <= out.limit) {
            patterns[patternCount++] = pattern;
            need += cost;
        }
    });
    // Without any pattern the entry would be empty, and its empty pattern would end the list.
    if (patternCount > 0) {
        out.Put(supported, supportedLen);
        out.Put("(");
        for (int i = 0; i < patternCount; ++i) {
            if (i) out.Put(";");
            out.Put(patterns[i]);
        }
        out.Put(")");
        out.Nul();
        for (int i = 0; i < patternCount; ++i) {
            if (i) out.Put(";");
            out.Put(patterns[i]);
        }
        out.Nul();
    }
    ForEachFilter(inputTable, [&](const char* desc, const char* pattern) {
        size_t d = strlen(desc) + 1, p = strlen(pattern) + 1;
        if (!out.Fits(d + p)) return;
        out.Put(desc, d);
        out.Put(pattern, p);
    });
    out.limit = kFilterTextSize - 1;
    out.Put(allFiles, allLen);
    return text;
}

// Puts one (possibly hostile) file through an input module the way the host
// does: the file test, tags by path, open, read to the end with an optional
// seek, tags of the open stream, close; then checks every heap of the process.
// Shared by the fuzz test and the tests of crafted files.
#pragma once
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "vq_module.h"

namespace vqtest {

// Every heap of the process (the C runtime's malloc heap is not the process
// heap) is consistent.
inline bool AllHeapsValid()
{
    HANDLE heaps[256];
    DWORD n = GetProcessHeaps(256, heaps);
    if (n == 0 || n > 256) return false;
    for (DWORD i = 0; i < n; ++i)
        if (!HeapValidate(heaps[i], 0, nullptr)) return false;
    return true;
}

struct ExerciseOptions {
    std::vector<int> readSizes{17640};  // used in turn
    double seekTo = -1;                 // seconds, after the first read; < 0: no seek
    const StreamFormat* wanted = nullptr;
    bool writeTags = false;             // SetTagEx before anything else
    // A stream longer than this is taken for one that never ends: a fault.
    uint64_t maxBytes = 256u << 20;
    // Calls of Read before closing; 0: read to the end.
    size_t maxCalls = 0;
};

struct ExerciseResult {
    std::string fault;  // empty when nothing went wrong
    int tagEx = -1;     // GetTagEx result
    bool opened = false;
    uint64_t bytes = 0;  // delivered by Read
};

// `step` (when given) names the operation under way, for a crash report.
inline ExerciseResult ExerciseFile(IVqProModule* m, const std::string& path, const ExerciseOptions& o,
                                   const char* volatile* step = nullptr)
{
    const char* unused;
    const char* volatile* at = step ? step : const_cast<const char* volatile*>(&unused);
    ExerciseResult r;
    const unsigned char kGuard = 0xA5;
    const size_t kGuardBytes = 64;
    struct {
        TrackInfo info;
        unsigned char guard[64];
    } t;
    auto guardIntact = [&](const unsigned char* p) {
        for (size_t i = 0; i < kGuardBytes; ++i)
            if (p[i] != kGuard) return false;
        return true;
    };
    auto freshInfo = [&]() {
        memset(&t.info, 0, sizeof t.info);
        memset(t.guard, kGuard, sizeof t.guard);
        lstrcpynA(t.info.path, path.c_str(), sizeof t.info.path);
    };

    *at = "IsOurFile";
    m->input.IsOurFile(path.c_str());
    if (o.writeTags) {
        *at = "SetTagEx";
        freshInfo();
        strcpy(t.info.title, "Fuzz title");
        strcpy(t.info.author, VQ_TAG_NOT_SET);
        strcpy(t.info.genre, "(17)");
        t.info.track = 3;
        m->input.SetTagEx(&t.info);
    }
    *at = "GetTagEx";
    freshInfo();
    r.tagEx = m->input.GetTagEx(&t.info);
    if (!guardIntact(t.guard)) r.fault = "GetTagEx wrote past the TrackInfo record";

    *at = "Open";
    void* h = r.fault.empty() ? m->input.Open(path.c_str(), o.wanted) : nullptr;
    if (h) {
        r.opened = true;
        StreamFormat f{};
        m->input.GetPcmFormat(&f, h);
        int largest = 0;
        for (int n : o.readSizes) largest = n > largest ? n : largest;
        std::vector<unsigned char> buf(largest + kGuardBytes);
        bool seeked = o.seekTo < 0;
        int empty = 0;
        *at = "Read";
        for (size_t call = 0; r.fault.empty() && (o.maxCalls == 0 || call < o.maxCalls); ++call) {
            int n = o.readSizes[call % o.readSizes.size()];
            memset(buf.data() + n, kGuard, kGuardBytes);
            int got = m->input.Read(reinterpret_cast<char*>(buf.data()), n, h);
            if (got > n) {
                r.fault = "Read returned " + std::to_string(got) + " bytes for " + std::to_string(n);
            } else if (!guardIntact(buf.data() + n)) {
                r.fault = "Read wrote past the buffer of " + std::to_string(n) + " bytes";
            } else if (got < 1) {
                // The end; a small request may just be less than a sample frame.
                if (n >= 4096 || ++empty > 16) break;
            } else if ((r.bytes += got) > o.maxBytes) {
                r.fault = "Read did not end";
            } else {
                empty = 0;
            }
            if (!seeked) {
                *at = "SetTime";
                m->input.SetTime(o.seekTo, h);
                m->input.GetTime(0, h);
                m->input.GetTime(1, h);
                seeked = true;
                *at = "Read";
            }
        }
        *at = "GetTag";
        freshInfo();
        m->input.GetTag(&t.info, h);
        if (r.fault.empty() && !guardIntact(t.guard)) r.fault = "GetTag wrote past the TrackInfo record";
        *at = "Close";
        m->input.Close(h);
    }
    *at = "heap check";
    if (r.fault.empty() && !AllHeapsValid()) r.fault = "a heap is damaged";
    *at = "";
    return r;
}

}  // namespace vqtest

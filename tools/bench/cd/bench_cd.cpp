// Reading speed of the audio CD module against its floor (a benchmark, not a
// test): the module's Read in the host's 100 ms blocks over a one-minute
// track of the test drive, against the CD-reading layer reading the same
// sectors in the largest commands the module makes (26 sectors). Prints the
// best time of each and their ratio.
//   bench_cd.exe DATADIR [ROUNDS] [BLOCK]
// DATADIR is the CD tests' data folder (long.model, long_track02.cda); run
// with WINEDLLOVERRIDES=wnaspi32=n so that the test drive's manager is used.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cd_layer.h"
#include "vq_log.h"
#include "vq_module.h"

extern "C" IVqProModule* __cdecl GetModuleInterface(void);

namespace {

double Now()
{
    static LARGE_INTEGER f = {};
    if (!f.QuadPart) QueryPerformanceFrequency(&f);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / f.QuadPart;
}

std::string WinPath(std::string p)
{
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

const size_t kTrackBytes = 4500 * 2352;

// Seconds for the module to deliver the whole track into `out`.
double ModuleRun(IVqProModule* m, const std::string& track, int block, std::vector<char>* out)
{
    std::vector<char> buf(block);
    out->clear();
    out->reserve(kTrackBytes + block);
    void* h = m->input.Open(track.c_str(), nullptr);
    if (!h) return -1;
    double t0 = Now();
    for (;;) {
        int n = m->input.Read(buf.data(), block, h);
        if (n < 1) break;
        out->insert(out->end(), buf.begin(), buf.begin() + n);
    }
    double t = Now() - t0;
    m->input.Close(h);
    return t;
}

// Seconds for the layer to read the same sectors, 26 at a time, into `out`.
double FloorRun(uint32_t start, uint32_t length, std::vector<char>* out)
{
    out->clear();
    out->reserve(kTrackBytes);
    CdList list = {};
    list.capacity = 8;
    GetCDList(&list);
    if (list.count < 1) return -1;
    DriveOpenRequest r = {};
    r.size = sizeof r;
    r.version = 1;
    r.adapter = list.entries[0].adapter;
    r.target = list.entries[0].target;
    r.lun = list.entries[0].lun;
    int h = getCDHandle(&r);
    if (!h) return -1;
    ReadRequest* q = ReadRequest_Create(26);
    double t0 = Now();
    for (uint32_t at = start; at < start + length;) {
        uint32_t n = std::min<uint32_t>(26, start + length - at);
        q->startSector = at;
        q->sectorCount = n;
        q->bytesRead = 0;
        q->dataOffset = 0;
        if (readCDAudioLBA(h, q) != CD_OK) break;
        out->insert(out->end(), q->data + q->dataOffset, q->data + q->dataOffset + q->bytesRead);
        at += n;
    }
    double t = Now() - t0;
    HeapFree(GetProcessHeap(), 0, q);
    closeCDHandle(h);
    return t;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bench_cd DATADIR [ROUNDS] [BLOCK]\n");
        return 2;
    }
    std::string dir = WinPath(argv[1]);
    int rounds = argc > 2 ? atoi(argv[2]) : 5;
    int block = argc > 3 ? atoi(argv[3]) : 17640;
    std::string model = dir + "\\long.model", track = dir + "\\long_track02.cda";
    SetEnvironmentVariableA("VQ_FAKE_CD_MODEL", model.c_str());
    SetEnvironmentVariableA("VQ_FAKE_CD_LOG", nullptr);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string log = std::string(temp) + "bench_cd.log";

    IVqProModule* m = GetModuleInterface();
    m->h.hInstance = GetModuleHandleA(nullptr);
    int level = LogError;
    m->h.InitModule(log.c_str(), &level);
    if (CdLayer_Interface() != APIC_ASPI) {
        fprintf(stderr, "the test drive's ASPI manager is not in use (WINEDLLOVERRIDES=wnaspi32=n)\n");
        return 1;
    }
    double bestModule = 1e9, bestFloor = 1e9;
    std::vector<char> ours, floor;
    for (int i = 0; i < rounds; ++i) {
        double a = ModuleRun(m, track, block, &ours);
        double b = FloorRun(150, 4500, &floor);
        if (a < 0 || b < 0) {
            fprintf(stderr, "the track could not be read\n");
            return 1;
        }
        bestModule = std::min(bestModule, a);
        bestFloor = std::min(bestFloor, b);
    }
    m->h.QuitModule();
    bool same = ours == floor;
    printf("block=%d bytes module=%u floor=%u identical=%s\n", block, (unsigned)ours.size(), (unsigned)floor.size(),
           same ? "yes" : "no");
    printf("module_seconds=%.4f floor_seconds=%.4f ratio=%.3f\n", bestModule, bestFloor, bestModule / bestFloor);
    return same ? 0 : 1;
}

// The WMA input module's cost over the platform's reader: the same file
// decoded (a) by the platform's asynchronous reader alone, under a user clock
// granted half a second past each time it reaches, into a callback that only
// looks at each sample; and (b) through in_velvet.dll as the host reads it
// (Open, Read in tenth-of-a-second blocks, Close). The two alternate, best of
// a few runs each, and the ratio is printed; one more untimed run of each
// compares what they decoded.
//   bench_velvet <file.wma> [runs]
#include <windows.h>
#include <initguid.h>
#include <wmsdkidl.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "bench_module.h"

namespace {

typedef HRESULT(WINAPI* CreateReaderFn)(IUnknown*, DWORD, IWMReader**);

void Hash(uint32_t* h, const BYTE* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) *h = (*h ^ p[i]) * 16777619u;
}

class Floor final : public IWMReaderCallback, public IWMReaderCallbackAdvanced {
public:
    Floor()
    {
        opened = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Floor()
    {
        CloseHandle(opened);
        CloseHandle(done);
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IWMReaderCallback)) {
            *ppv = static_cast<IWMReaderCallback*>(this);
            return S_OK;
        }
        if (IsEqualIID(riid, IID_IWMReaderCallbackAdvanced)) {
            *ppv = static_cast<IWMReaderCallbackAdvanced*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnStatus(WMT_STATUS status, HRESULT hr, WMT_ATTR_DATATYPE, BYTE*, void*) override
    {
        switch (status) {
        case WMT_OPENED:
            openResult = hr;
            SetEvent(opened);
            break;
        case WMT_STARTED:
            advanced->DeliverTime(5000000);
            break;
        case WMT_EOF:
            SetEvent(done);
            break;
        case WMT_STOPPED:
        case WMT_CLOSED:
            SetEvent(opened);
            break;
        default:
            break;
        }
        return S_OK;
    }
    STDMETHODIMP OnSample(DWORD output, QWORD, QWORD, DWORD, INSSBuffer* sample, void*) override
    {
        BYTE* data;
        DWORD length;
        if (output == 0 && SUCCEEDED(sample->GetBufferAndLength(&data, &length))) {
            bytes += length;
            if (length) check += data[length - 1];
            if (hash) Hash(hash, data, length);
        }
        return S_OK;
    }
    STDMETHODIMP OnStreamSample(WORD, QWORD, QWORD, DWORD, INSSBuffer*, void*) override { return S_OK; }
    STDMETHODIMP OnTime(QWORD time, void*) override
    {
        if (WaitForSingleObject(done, 0) != WAIT_OBJECT_0) advanced->DeliverTime(time + 5000000);
        return S_OK;
    }
    STDMETHODIMP OnStreamSelection(WORD, WORD*, WMT_STREAM_SELECTION*, void*) override { return S_OK; }
    STDMETHODIMP OnOutputPropsChanged(DWORD, WM_MEDIA_TYPE*, void*) override { return S_OK; }
    STDMETHODIMP AllocateForStream(WORD, DWORD, INSSBuffer**, void*) override { return E_NOTIMPL; }
    STDMETHODIMP AllocateForOutput(DWORD, DWORD, INSSBuffer**, void*) override { return E_NOTIMPL; }

    HANDLE opened, done;
    HRESULT volatile openResult = E_FAIL;
    IWMReaderAdvanced* advanced = nullptr;
    unsigned long long bytes = 0;
    unsigned check = 0;
    uint32_t* hash = nullptr;  // the whole data's FNV-1a hash, when asked for
};


double Seconds(const LARGE_INTEGER& a, const LARGE_INTEGER& b)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return (double)(b.QuadPart - a.QuadPart) / (double)f.QuadPart;
}

// The platform's reader alone: seconds, or a negative value on failure.
double RunFloor(const char* path, unsigned long long* bytes, uint32_t* hash = nullptr)
{
    static CreateReaderFn create =
        reinterpret_cast<CreateReaderFn>(GetProcAddress(LoadLibraryA("wmvcore.dll"), "WMCreateReader"));
    if (!create) return -1;
    WCHAR wide[1024];
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, 1024);
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    Floor cb;
    cb.hash = hash;
    IWMReader* reader = nullptr;
    if (FAILED(create(nullptr, 0, &reader)) || !reader) return -1;
    double result = -1;
    if (SUCCEEDED(reader->Open(wide, &cb, nullptr)) && WaitForSingleObject(cb.opened, 30000) == WAIT_OBJECT_0 &&
        SUCCEEDED(cb.openResult) &&
        SUCCEEDED(reader->QueryInterface(IID_IWMReaderAdvanced, reinterpret_cast<void**>(&cb.advanced))) &&
        SUCCEEDED(cb.advanced->SetUserProvidedClock(TRUE)) && SUCCEEDED(reader->Start(0, 0, 1.0f, nullptr)) &&
        WaitForSingleObject(cb.done, 600000) == WAIT_OBJECT_0) {
        if (SUCCEEDED(reader->Stop())) WaitForSingleObject(cb.opened, 10000);
        if (SUCCEEDED(reader->Close())) WaitForSingleObject(cb.opened, 10000);
        QueryPerformanceCounter(&t1);
        result = Seconds(t0, t1);
        *bytes = cb.bytes;
    }
    if (cb.advanced) cb.advanced->Release();
    reader->Release();
    return result;
}

// Through the module, as the host reads: seconds, or a negative value.
double RunModule(IVqProModule* m, const char* path, unsigned long long* bytes, unsigned long long* reads,
                 double* openSeconds, uint32_t* hash = nullptr)
{
    LARGE_INTEGER t0, t1, opened;
    QueryPerformanceCounter(&t0);
    void* h = m->input.Open(path, nullptr);
    if (!h) return -1;
    QueryPerformanceCounter(&opened);
    *openSeconds = Seconds(t0, opened);
    StreamFormat fmt{};
    m->input.GetPcmFormat(&fmt, h);
    int block = (int)(fmt.avgBytesPerSec / 10);
    if (fmt.blockAlign) block -= block % fmt.blockAlign;
    std::vector<char> buf(block > 0 ? block : 4096);
    *bytes = 0;
    *reads = 0;
    int n;
    while ((n = m->input.Read(buf.data(), (int)buf.size(), h)) > 0) {
        *bytes += n;
        ++*reads;
        if (hash) Hash(hash, reinterpret_cast<BYTE*>(buf.data()), n);
    }
    m->input.Close(h);
    QueryPerformanceCounter(&t1);
    return n == -1 ? Seconds(t0, t1) : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bench_velvet <file.wma> [runs]\n");
        return 2;
    }
    int runs = argc > 2 ? atoi(argv[2]) : 3;
    if (runs < 1) runs = 1;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IVqProModule* m = LoadBenchModule("in_velvet.dll", "bench_velvet.log");
    if (!m) return 1;

    double bestFloor = 1e30, bestOurs = 1e30, open = 0, bestOpen = 0;
    unsigned long long floorBytes = 0, ourBytes = 0, reads = 0;
    for (int r = 0; r < runs; ++r) {
        // Each goes first in every other run.
        double f = 0, o = 0;
        if (r % 2 == 0) f = RunFloor(argv[1], &floorBytes);
        o = RunModule(m, argv[1], &ourBytes, &reads, &open);
        if (r % 2 == 1) f = RunFloor(argv[1], &floorBytes);
        if (f < 0 || o < 0) {
            fprintf(stderr, "run %d failed (reader %.3f, module %.3f)\n", r, f, o);
            return 1;
        }
        printf("run %d: reader alone %.3f s, module %.3f s (of which Open %.3f s)\n", r, f, o, open);
        if (f < bestFloor) bestFloor = f;
        if (o < bestOurs) {
            bestOurs = o;
            bestOpen = open;
        }
    }
    uint32_t floorHash = 2166136261u, ourHash = 2166136261u;
    RunFloor(argv[1], &floorBytes, &floorHash);
    RunModule(m, argv[1], &ourBytes, &reads, &open, &ourHash);
    m->h.QuitModule();
    printf("reader alone: %.3f s (%llu bytes)\n", bestFloor, floorBytes);
    printf("module:       %.3f s (%llu bytes in %llu reads; Open %.3f s)\n", bestOurs, ourBytes, reads, bestOpen);
    printf("ratio module/reader: %.2fx (best of %d)\n", bestOurs / bestFloor, runs);
    printf("data: %s (hash %08x, reader alone %08x)\n", ourBytes == floorBytes && ourHash == floorHash ? "same" : "DIFFERENT",
           ourHash, floorHash);
    return ourBytes == floorBytes && ourHash == floorHash ? 0 : 3;
}

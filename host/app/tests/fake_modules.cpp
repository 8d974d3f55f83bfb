#include "fake_modules.h"
#include <string.h>

namespace fakes {

std::atomic<int> quitCalls{0};
std::atomic<int> tagCalls{0};
HANDLE gates[2] = {CreateEventA(nullptr, TRUE, TRUE, nullptr), CreateEventA(nullptr, TRUE, TRUE, nullptr)};
int captureSuppliesTags = 0;
std::atomic<int> gateReads{0};
HANDLE readGrants = CreateSemaphoreA(nullptr, 0, 1000, nullptr);
std::atomic<int> readsWaiting{0};
std::atomic<int> blocksRead{0};
std::atomic<long long> bytesWritten{0};
std::atomic<int> encodersOpen{0};

int BlockAmplitude(int block) { return block == 0 ? 8192 : block == 2 ? 16384 : 4096; }

void OpenGates()
{
    SetEvent(gates[0]);
    SetEvent(gates[1]);
}

namespace {

int __cdecl Init(const char*, int*) { return 1; }
int __cdecl Quit() { quitCalls++; return 1; }
int __cdecl Configure(HWND, const char*, void*) { return 0; }

bool EndsWith(const char* s, const char* tail)
{
    size_t a = strlen(s), b = strlen(tail);
    return a >= b && _stricmp(s + a - b, tail) == 0;
}

int __cdecl IsOurFile(const char* path) { return path && EndsWith(path, ".fak"); }

int __cdecl GetTagEx(TrackInfo* io)
{
    tagCalls++;
    if (strstr(io->path, "\\A\\"))
        WaitForSingleObject(gates[0], 20000);
    if (strstr(io->path, "\\B\\"))
        WaitForSingleObject(gates[1], 20000);
    if (strstr(io->path, "unreadable"))
        return 0;
    io->duration = 2.5;
    io->bitrate = 128999;
    return 1;
}

const int kRate = 44100, kBlockBytes = 17640, kBlocks = 25;

struct Stream {
    int block;
};

void* __cdecl Open(const char* path, const StreamFormat*)
{
    return path && IsOurFile(path) ? new Stream{0} : nullptr;
}

int __cdecl Read(char* buf, int bytes, void* h)
{
    Stream* s = (Stream*)h;
    if (!s || s->block >= kBlocks)
        return 0;
    if (gateReads.load()) {
        readsWaiting++;
        WaitForSingleObject(readGrants, INFINITE);
        readsWaiting--;
    }
    int n = bytes < kBlockBytes ? bytes - bytes % 4 : kBlockBytes;
    int16_t* samples = (int16_t*)buf;
    int16_t a = (int16_t)BlockAmplitude(s->block);
    for (int i = 0; i < n / 2; i++)
        samples[i] = (i / 2 / 50) % 2 ? (int16_t)-a : a;
    s->block++;
    blocksRead++;
    return n;
}

double __cdecl GetTime(int, void* h) { return h ? ((Stream*)h)->block * 0.1 : -1.0; }

int __cdecl GetPcmFormat(StreamFormat* f, void* h)
{
    if (!h)
        return -1;
    *f = {1, 2, kRate, kRate * 4, 4, 16};
    return 1;
}

int __cdecl GetTag(TrackInfo* info, void* h)
{
    if (!h)
        return -1;
    info->duration = kBlocks * 0.1;
    return 1;
}

int __cdecl Close(void* h)
{
    delete (Stream*)h;
    return 1;
}

void* __cdecl EncOpen(const TrackInfo*, const StreamFormat*, const char*)
{
    encodersOpen++;
    return &encodersOpen;
}
int __cdecl EncWrite(const char*, int bytes, void*)
{
    bytesWritten += bytes;
    return bytes;
}
int __cdecl EncClose(void*)
{
    encodersOpen--;
    return 1;
}

int __cdecl CaptureGetTag(TrackInfo*, void*) { return captureSuppliesTags; }
// A capture device that cannot be opened.
void* __cdecl CaptureOpen(const StreamFormat*, const char*) { return nullptr; }

IVqProModuleHead Head(int kind, int id, const char* internal, const char* display)
{
    IVqProModuleHead h = {};
    h.Version = VQ_VERSION(1, 0, 0, 1);
    h.Kind = kind;
    h.Id = id;
    h.InternalName = internal;
    h.DisplayName = display;
    h.AboutText = "fake module";
    h.InitModule = Init;
    h.QuitModule = Quit;
    h.Configure = Configure;
    return h;
}

IVqProModule MakeInput()
{
    IVqProModule m = {};
    m.h = Head(KindInput, 1, "fake_in", "Fake Input");
    m.input.FilterList = "Fake files (*.fak)\0*.fak\0\0";
    m.input.IsOurFile = IsOurFile;
    m.input.GetTagEx = GetTagEx;
    m.input.Open = Open;
    m.input.Read = Read;
    m.input.GetTime = GetTime;
    m.input.GetPcmFormat = GetPcmFormat;
    m.input.GetTag = GetTag;
    m.input.Close = Close;
    return m;
}

IVqProModule MakeEncoder()
{
    IVqProModule m = {};
    m.h = Head(KindEncoder, 1, "fake_enc", "Fake Encoder");
    m.encoder.Open = EncOpen;
    m.encoder.Write = EncWrite;
    m.encoder.Close = EncClose;
    return m;
}

IVqProModule MakeCapture()
{
    IVqProModule m = {};
    m.h = Head(KindCapture, 5, "fake_cap", "Aardvark Capture");
    m.capture.GetTag = CaptureGetTag;
    m.capture.Open = CaptureOpen;
    return m;
}

} // namespace

IVqProModule input = MakeInput();
IVqProModule encoder = MakeEncoder();
IVqProModule capture = MakeCapture();
IVqProModule dspA = [] { IVqProModule m = {}; m.h = Head(KindDsp, 3, "fake_dsp_a", "Alpha DSP"); return m; }();
IVqProModule dspB = [] { IVqProModule m = {}; m.h = Head(KindDsp, 7, "fake_dsp_b", "Beta DSP"); return m; }();

int __cdecl LoadFakes(const char*, int kind, IVqProModule* table[32], const char*, int*)
{
    int n = 0;
    switch (kind) {
    case KindInput: table[n++] = &input; break;
    case KindEncoder: table[n++] = &encoder; break;
    case KindCapture: table[n++] = &capture; break;
    case KindDsp: table[n++] = &dspA; table[n++] = &dspB; break;
    }
    return n;
}

int __cdecl UnloadFakes(IVqProModule* table[32])
{
    for (int i = 0; i < 32; i++) {
        if (table[i] && table[i]->h.QuitModule)
            table[i]->h.QuitModule();
        table[i] = nullptr;
    }
    return 1;
}

}  // namespace fakes

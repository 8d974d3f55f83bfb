#include "fake_modules.h"
#include <string.h>

namespace fakes {

std::atomic<int> quitCalls{0};
std::atomic<int> tagCalls{0};
HANDLE gates[2] = {CreateEventA(nullptr, TRUE, TRUE, nullptr), CreateEventA(nullptr, TRUE, TRUE, nullptr)};
int captureSuppliesTags = 0;

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

int __cdecl CaptureGetTag(TrackInfo*, void*) { return captureSuppliesTags; }

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
    return m;
}

IVqProModule MakeCapture()
{
    IVqProModule m = {};
    m.h = Head(KindCapture, 5, "fake_cap", "Aardvark Capture");
    m.capture.GetTag = CaptureGetTag;
    return m;
}

} // namespace

IVqProModule input = MakeInput();
IVqProModule encoder = [] { IVqProModule m = {}; m.h = Head(KindEncoder, 1, "fake_enc", "Fake Encoder"); return m; }();
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

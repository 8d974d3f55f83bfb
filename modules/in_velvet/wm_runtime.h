// The Windows Media Format interfaces the module uses, and the seam through
// which it creates readers and metadata editors: the platform's by default,
// a stand-in in tests.
#pragma once
#include <windows.h>
#include <mmreg.h>
#include <wmsdkidl.h>

#include <functional>

// Result codes of the runtime that the module and its own header reader use.
constexpr HRESULT kAsfNotFound = (HRESULT)0xC00D07F0;       // attribute not found
constexpr HRESULT kAsfBufferTooSmall = (HRESULT)0xC00D07D2;  // value buffer too small
constexpr HRESULT kOpenPending = (HRESULT)0xC00D0033;        // open reported once more

struct WmRuntime {
    HRESULT (*CreateReader)(IWMReader** out);
    HRESULT (*CreateEditor)(IWMMetadataEditor** out);
    // Whether CreateEditor gives the platform's own editor. Where it does not,
    // the platform's reader finds no tags either, and the module reads the
    // tags of an open stream from the file's header itself.
    bool (*PlatformEditorAvailable)(void);
    // How long one blocking call of a reader (Open, Stop, Close) and the wait
    // for its status may take before it is given up; 0: the module's own bounds.
    DWORD callWaitMs;
    // Tests: run on a call's own thread once its caller has the answer, just
    // before the thread lets go of the module (NULL: nothing).
    void (*CallThreadEnding)(void);
};

// The runtime in use: the platform's unless a test installed its own.
const WmRuntime* ActiveWmRuntime();
// Tests install a stand-in; NULL restores the platform's runtime.
void SetWmRuntime(const WmRuntime* runtime);

// Our own metadata editor over the attributes of an ASF file's header (file
// properties, content description, extended content description). It reads
// only: SetAttribute answers E_NOTIMPL.
HRESULT CreateAsfHeaderEditor(IWMMetadataEditor** out);

// Runs `call` on a thread of its own (with COM) and waits at most `ms` for it.
// True with its result in *result when it returned in time. False when the
// wait gave up: the call goes on alone, whatever it uses must be left to it,
// and the module stays loaded from then on.
bool CallWithin(DWORD ms, std::function<HRESULT()> call, HRESULT* result);

// Keeps this module loaded for the rest of the process: a reader left behind
// may still call into its code.
void KeepModuleLoaded();

// Keeps COM initialised on the calling thread for the life of the object
// (multithreaded apartment; a thread already in another apartment keeps it).
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT hr_;
};

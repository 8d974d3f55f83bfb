// The platform's Windows Media Format runtime, looked up at run time (there is
// no import library for it), with our own header reader standing in for a
// metadata editor the platform does not have.
#include <initguid.h>

#include <new>
#include <utility>

#include "wm_runtime.h"

namespace {

typedef HRESULT(WINAPI* CreateReaderFn)(IUnknown* certificate, DWORD rights, IWMReader** out);
typedef HRESULT(WINAPI* CreateEditorFn)(IWMMetadataEditor** out);

// Loaded once and kept for the life of the process; a second thread racing
// the first load only adds a reference to the same library.
HMODULE Library()
{
    static HMODULE volatile lib = nullptr;
    if (!lib) lib = LoadLibraryA("wmvcore.dll");
    return lib;
}

FARPROC Entry(const char* name)
{
    HMODULE lib = Library();
    return lib ? GetProcAddress(lib, name) : nullptr;
}

HRESULT MissingEntry()
{
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_NOTIMPL;
}

HRESULT PlatformCreateReader(IWMReader** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    auto create = reinterpret_cast<CreateReaderFn>(Entry("WMCreateReader"));
    if (!create) return MissingEntry();
    return create(nullptr, 0, out);
}

HRESULT PlatformEditor(IWMMetadataEditor** out)
{
    *out = nullptr;
    auto create = reinterpret_cast<CreateEditorFn>(Entry("WMCreateEditor"));
    if (!create) return MissingEntry();
    HRESULT hr = create(out);
    if (FAILED(hr)) *out = nullptr;
    return hr;
}

HRESULT PlatformCreateEditor(IWMMetadataEditor** out)
{
    if (!out) return E_POINTER;
    if (SUCCEEDED(PlatformEditor(out)) && *out) return S_OK;
    return CreateAsfHeaderEditor(out);
}

bool PlatformHasEditor()
{
    // -1 not yet asked, 0 no, 1 yes; the answer does not change while the process runs.
    static LONG volatile known = -1;
    if (known < 0) {
        IWMMetadataEditor* editor = nullptr;
        bool has = SUCCEEDED(PlatformEditor(&editor)) && editor;
        if (editor) editor->Release();
        InterlockedExchange(&known, has ? 1 : 0);
    }
    return known == 1;
}

const WmRuntime kPlatformRuntime = {PlatformCreateReader, PlatformCreateEditor, PlatformHasEditor, 0, nullptr};
const WmRuntime* volatile g_runtime = &kPlatformRuntime;

// One call handed to a thread; the thread and the waiter each hold a reference.
struct PendingCall {
    LONG volatile refs = 2;
    std::function<HRESULT()> call;
    HRESULT result = E_FAIL;
    HANDLE done = nullptr;
    HMODULE self = nullptr;  // the thread's reference to this module
};

void Drop(PendingCall* c)
{
    if (InterlockedDecrement(&c->refs) != 0) return;
    CloseHandle(c->done);
    delete c;
}

DWORD WINAPI CallThread(void* arg)
{
    auto* c = static_cast<PendingCall*>(arg);
    HMODULE self = c->self;
    {
        ComScope com;
        c->result = c->call();
    }
    SetEvent(c->done);
    Drop(c);
    if (void (*ending)(void) = ActiveWmRuntime()->CallThreadEnding) ending();
    // The module may be unloaded once the waiter has its answer: the thread
    // lets go of it only as its last act, in code that is not the module's.
    if (self) FreeLibraryAndExitThread(self, 0);
    return 0;
}

}  // namespace

bool CallWithin(DWORD ms, std::function<HRESULT()> call, HRESULT* result)
{
    auto* c = new (std::nothrow) PendingCall;
    HANDLE thread = nullptr;
    if (c) {
        c->call = std::move(call);
        c->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        // The thread runs this module's code from its first instruction to its
        // last: it holds the module from before it starts.
        if (c->done &&
            GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&CallThread), &c->self))
            thread = CreateThread(nullptr, 0, CallThread, c, 0, nullptr);
    }
    if (!thread) {
        // No thread to spare: the call is made here, without a bound.
        if (c) {
            if (c->self) FreeLibrary(c->self);
            if (c->done) CloseHandle(c->done);
            call = std::move(c->call);
            delete c;
        }
        *result = call();
        return true;
    }
    CloseHandle(thread);
    bool returned = WaitForSingleObject(c->done, ms) == WAIT_OBJECT_0;
    if (returned) {
        *result = c->result;
    } else {
        // The call, and a reader left behind calling back, run code of this
        // module.
        KeepModuleLoaded();
    }
    Drop(c);
    return returned;
}

void KeepModuleLoaded()
{
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&CallThread), &self);
}

const WmRuntime* ActiveWmRuntime() { return g_runtime; }

void SetWmRuntime(const WmRuntime* runtime) { g_runtime = runtime ? runtime : &kPlatformRuntime; }

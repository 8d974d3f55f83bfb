// The platform's Windows Media Format runtime, looked up at run time (there is
// no import library for it), with our own header reader standing in for a
// metadata editor the platform does not have.
#include <initguid.h>

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

const WmRuntime kPlatformRuntime = {PlatformCreateReader, PlatformCreateEditor, PlatformHasEditor};
const WmRuntime* volatile g_runtime = &kPlatformRuntime;

}  // namespace

const WmRuntime* ActiveWmRuntime() { return g_runtime; }

void SetWmRuntime(const WmRuntime* runtime) { g_runtime = runtime ? runtime : &kPlatformRuntime; }

// The stream over a checked file that the platform's reader reads.
#include "checked_stream.h"

#include <stdint.h>
#include <string.h>

#include <new>

#include "asf_structure.h"

namespace {

// Reads at `offset` until `bytes` are there; *got tells how many came.
bool ReadFileAt(HANDLE file, uint64_t offset, uint8_t* to, size_t bytes, ULONG* got)
{
    *got = 0;
    while (bytes > 0) {
        OVERLAPPED at = {};
        at.Offset = (DWORD)offset;
        at.OffsetHigh = (DWORD)(offset >> 32);
        DWORD n = 0;
        if (!ReadFile(file, to, (DWORD)bytes, &n, &at) || n == 0) return false;
        to += n;
        offset += n;
        bytes -= n;
        *got += n;
    }
    return true;
}

bool ReadWhole(void* file, uint64_t offset, uint8_t* to, size_t bytes)
{
    ULONG got;
    return ReadFileAt(static_cast<HANDLE>(file), offset, to, bytes, &got);
}

// The checked bytes of a file as a stream: reads go to the file at their own
// offsets, never past the checked end; one that fails or comes short is
// remembered (the file changed since it was checked).
class CheckedStream final : public IStream {
public:
    CheckedStream(HANDLE file, uint64_t size) : file_(file), size_(size) { InitializeCriticalSection(&lock_); }
    CheckedStream(const CheckedStream&) = delete;
    CheckedStream& operator=(const CheckedStream&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ISequentialStream) &&
            !IsEqualIID(riid, IID_IStream)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return (ULONG)n;
    }

    STDMETHODIMP Read(void* to, ULONG bytes, ULONG* read) override
    {
        ULONG got = 0;
        HRESULT hr = S_OK;
        Lock();
        ULONG n = size_ > at_ ? (ULONG)(size_ - at_ < bytes ? size_ - at_ : bytes) : 0;
        if (n < bytes) hr = S_FALSE;
        // A read that fails ends the stream there, as a file that ends does:
        // the reader is left no error of its own to wait on.
        if (n > 0 && (!to || !ReadFileAt(file_, at_, static_cast<uint8_t*>(to), n, &got) || got < n)) {
            InterlockedExchange(&failed_, 1);
            hr = S_FALSE;
        }
        at_ += got;
        Unlock();
        if (read) *read = got;
        return hr;
    }
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        Lock();
        const int64_t base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? (int64_t)at_ : (int64_t)size_;
        const bool ok = origin <= STREAM_SEEK_END && !(move.QuadPart < 0 && -move.QuadPart > base);
        if (ok) at_ = (uint64_t)(base + move.QuadPart);
        if (position) position->QuadPart = at_;
        Unlock();
        return ok ? S_OK : STG_E_INVALIDFUNCTION;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return S_OK; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override
    {
        if (!stat) return STG_E_INVALIDPOINTER;
        memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = size_;
        stat->grfMode = STGM_READ | STGM_SHARE_DENY_NONE;
        return S_OK;
    }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

    bool failed() const { return failed_ != 0; }
    void CloseFile()
    {
        // A read under way is not waited for (a reader left behind may be
        // stuck in it): it lets go of the file as it ends.
        InterlockedExchange(&closing_, 1);
        CloseIfIdle();
    }

private:
    ~CheckedStream()
    {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        DeleteCriticalSection(&lock_);
    }

    void Lock()
    {
        EnterCriticalSection(&lock_);
        if (closing_) CloseLocked();
    }
    void Unlock()
    {
        LeaveCriticalSection(&lock_);
        // A close asked for while this call held the file is carried out now.
        if (closing_) CloseIfIdle();
    }
    void CloseIfIdle()
    {
        // Whoever holds the lock closes the file as it lets go of it.
        if (!TryEnterCriticalSection(&lock_)) return;
        CloseLocked();
        LeaveCriticalSection(&lock_);
    }
    void CloseLocked()
    {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        // Nothing is read any more: the end is here for whoever still reads.
        size_ = 0;
    }

    LONG volatile refs_ = 1;
    LONG volatile failed_ = 0;
    LONG volatile closing_ = 0;
    CRITICAL_SECTION lock_;
    HANDLE file_;
    uint64_t size_;
    uint64_t at_ = 0;
};

}  // namespace

HRESULT OpenCheckedAsf(const wchar_t* path, IStream** stream)
{
    *stream = nullptr;
    // No one may write the file while it is read: its bytes stay as checked.
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr;
    LARGE_INTEGER size;
    uint64_t readable = 0;
    if (!GetFileSizeEx(f, &size)) {
        hr = HRESULT_FROM_WIN32(GetLastError());
    } else {
        try {
            asf::Fault fault = asf::CheckStructure((uint64_t)size.QuadPart, ReadWhole, f, &readable);
            hr = fault == asf::Fault::None         ? S_OK
                 : fault == asf::Fault::Unreadable ? HRESULT_FROM_WIN32(ERROR_READ_FAULT)
                                                   : HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
            if (SUCCEEDED(hr)) *stream = new CheckedStream(f, readable);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
    }
    if (!*stream) CloseHandle(f);
    return hr;
}

bool CheckedAsfFailed(IStream* stream) { return stream && static_cast<CheckedStream*>(stream)->failed(); }

void CloseCheckedAsf(IStream* stream)
{
    if (stream) static_cast<CheckedStream*>(stream)->CloseFile();
}

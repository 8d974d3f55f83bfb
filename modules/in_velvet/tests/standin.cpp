#include "standin.h"

#include <string.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "test_support.h"

namespace standin {

namespace {

Script g_script;
Record* g_record = new Record;
std::mutex g_mu;  // the record's vectors and the script's attributes
// Set: calls that the script blocks return.
HANDLE g_released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
// Set on the threads of a reader that call back into the module.
thread_local bool t_readerThread = false;

const GUID kAudio = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kVideo = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Counts calls made on a thread where COM is not initialised.
void ProbeCom()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (hr == S_OK) {
        ++g_record->comMissing;
        CoUninitialize();
    } else if (hr == S_FALSE) {
        CoUninitialize();
    }
}

#define NOTIMPL \
    {           \
        return E_NOTIMPL; \
    }

// Reference counting for the stand-in's small objects, which answer no
// interface queries.
template <class Interface> class Counted : public Interface {
public:
    virtual ~Counted() = default;
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG n = --refs_;
        if (!n) delete this;
        return n;
    }

private:
    std::atomic<ULONG> refs_{1};
};

class Buffer final : public Counted<INSSBuffer> {
public:
    Buffer(const BYTE* data, size_t n, bool fails) : data_(data, data + n), fails_(fails) {}
    STDMETHODIMP GetLength(DWORD*) override NOTIMPL;
    STDMETHODIMP SetLength(DWORD) override NOTIMPL;
    STDMETHODIMP GetMaxLength(DWORD*) override NOTIMPL;
    STDMETHODIMP GetBuffer(BYTE**) override NOTIMPL;
    STDMETHODIMP GetBufferAndLength(BYTE** data, DWORD* length) override
    {
        if (fails_) return E_OUTOFMEMORY;
        *data = data_.data();
        *length = (DWORD)data_.size();
        return S_OK;
    }

private:
    std::vector<BYTE> data_;
    bool fails_;
};

class Props final : public Counted<IWMOutputMediaProps> {
public:
    Props(const GUID& major, const WAVEFORMATEX& format) : major_(major), format_(format) {}
    STDMETHODIMP GetType(GUID*) override NOTIMPL;
    STDMETHODIMP GetMediaType(WM_MEDIA_TYPE* type, DWORD* bytes) override
    {
        DWORD need = sizeof(WM_MEDIA_TYPE) + sizeof(WAVEFORMATEX);
        if (!type) {
            *bytes = need;
            return S_OK;
        }
        if (*bytes < need) return E_INVALIDARG;
        memset(type, 0, need);
        type->majortype = major_;
        type->cbFormat = sizeof(WAVEFORMATEX);
        type->pbFormat = reinterpret_cast<BYTE*>(type + 1);
        memcpy(type->pbFormat, &format_, sizeof format_);
        return S_OK;
    }
    STDMETHODIMP SetMediaType(WM_MEDIA_TYPE*) override NOTIMPL;
    STDMETHODIMP GetStreamGroupName(WCHAR*, WORD*) override NOTIMPL;
    STDMETHODIMP GetConnectionName(WCHAR*, WORD*) override NOTIMPL;

private:
    GUID major_;
    WAVEFORMATEX format_;
};

// Header info over the script's attributes; `extra` answers names the map
// lacks (the reader's duration). Sets go to a pending map until flushed.
class Header : public IWMHeaderInfo {
public:
    explicit Header(IUnknown* owner, bool writable) : owner_(owner), writable_(writable) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return owner_->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
    STDMETHODIMP GetAttributeCount(WORD, WORD*) override NOTIMPL;
    STDMETHODIMP GetAttributeByIndex(WORD, WORD*, WCHAR*, WORD*, WMT_ATTR_DATATYPE*, BYTE*, WORD*) override NOTIMPL;
    STDMETHODIMP GetAttributeByName(WORD* stream, LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value,
                                    WORD* length) override
    {
        Value v;
        {
            std::lock_guard<std::mutex> lock(g_mu);
            auto it = g_script.attributes.find(name);
            if (it != g_script.attributes.end())
                v = it->second;
            else if (extra.count(name))
                v = extra[name];
            else
                return kAsfNotFound;
        }
        if (*stream != 0) return kAsfNotFound;
        *type = v.type;
        if (!value) {
            *length = (WORD)v.bytes.size();
            return S_OK;
        }
        if (*length < v.bytes.size()) return kAsfBufferTooSmall;
        memcpy(value, v.bytes.data(), v.bytes.size());
        *length = (WORD)v.bytes.size();
        return S_OK;
    }
    STDMETHODIMP SetAttribute(WORD stream, LPCWSTR name, WMT_ATTR_DATATYPE type, const BYTE* value,
                              WORD length) override
    {
        ProbeCom();
        if (!writable_ || stream != 0) return E_NOTIMPL;
        Value v;
        v.type = type;
        v.bytes.assign(value, value + length);
        std::lock_guard<std::mutex> lock(g_mu);
        if (name == g_script.failSetOn) return g_script.setFailure;
        g_record->sets.emplace_back(name, v);
        pending[name] = v;
        return S_OK;
    }
    STDMETHODIMP GetMarkerCount(WORD*) override NOTIMPL;
    STDMETHODIMP GetMarker(WORD, WCHAR*, WORD*, QWORD*) override NOTIMPL;
    STDMETHODIMP AddMarker(LPCWSTR_WMSDK_TYPE_SAFE, QWORD) override NOTIMPL;
    STDMETHODIMP RemoveMarker(WORD) override NOTIMPL;
    STDMETHODIMP GetScriptCount(WORD*) override NOTIMPL;
    STDMETHODIMP GetScript(WORD, WCHAR*, WORD*, WCHAR*, WORD*, QWORD*) override NOTIMPL;
    STDMETHODIMP AddScript(LPCWSTR_WMSDK_TYPE_SAFE, LPCWSTR_WMSDK_TYPE_SAFE, QWORD) override NOTIMPL;
    STDMETHODIMP RemoveScript(WORD) override NOTIMPL;

    Attributes extra, pending;

private:
    IUnknown* owner_;
    bool writable_;
};

class Editor final : public IWMMetadataEditor {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWMMetadataEditor))
            *ppv = static_cast<IWMMetadataEditor*>(this);
        else if (IsEqualIID(riid, IID_IWMHeaderInfo))
            *ppv = &header_;
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG n = --refs_;
        if (!n) delete this;
        return n;
    }
    STDMETHODIMP Open(const WCHAR* path) override
    {
        ProbeCom();
        std::lock_guard<std::mutex> lock(g_mu);
        g_record->editorPath = path;
        return g_script.editorOpen;
    }
    STDMETHODIMP Close() override { return S_OK; }
    STDMETHODIMP Flush() override
    {
        ProbeCom();
        std::lock_guard<std::mutex> lock(g_mu);
        for (auto& kv : header_.pending) g_script.attributes[kv.first] = kv.second;
        header_.pending.clear();
        ++g_record->flushes;
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
    Header header_{this, true};
};

class Reader final : public IWMReader, public IWMReaderAdvanced2 {
public:
    Reader() : record_(g_record)
    {
        ++record_->readersAlive;
        memset(&format_, 0, sizeof format_);
        LoadWav(g_script.wavPath, &format_, &data_);
        if (g_script.zeroByteRate) format_.nAvgBytesPerSec = 0;
        unsigned long long units = format_.nAvgBytesPerSec ? data_.size() * 10000000ull / format_.nAvgBytesPerSec : 0;
        header_.extra[L"Duration"] = Qword(units);
    }
    ~Reader()
    {
        if (calls_ > 0) ++record_->freedInCall;
        --record_->readersAlive;
        if (stream_) stream_->Release();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWMReader))
            *ppv = static_cast<IWMReader*>(this);
        else if (IsEqualIID(riid, IID_IWMReaderAdvanced) || IsEqualIID(riid, IID_IWMReaderAdvanced2))
            *ppv = static_cast<IWMReaderAdvanced2*>(this);
        else if (IsEqualIID(riid, IID_IWMHeaderInfo))
            *ppv = &header_;
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG n = --refs_;
        if (!n) {
            if (closing_ && !closedSent_) ++record_->releasedBeforeClosed;
            Shut();
            delete this;
        }
        return n;
    }

    // IWMReader
    STDMETHODIMP Open(const WCHAR*, IWMReaderCallback* callback, void* context) override
    {
        ProbeCom();
        InCall in(calls_, record_->callsRunning);
        if (g_script.openBlocks) WaitForSingleObject(g_released, INFINITE);
        HRESULT hr = g_script.openCall;
        if (FAILED(hr) && hr != kOpenPending) return hr;
        callback_ = callback;
        callback_->AddRef();
        if (FAILED(callback_->QueryInterface(IID_IWMReaderCallbackAdvanced, reinterpret_cast<void**>(&advanced_))))
            advanced_ = nullptr;
        context_ = context;
        if (stream_ && g_script.streamHeld) holder_ = std::thread([this] { HoldStream(); });
        worker_ = std::thread([this] { Run(); });
        return hr;
    }
    STDMETHODIMP Close() override
    {
        ProbeCom();
        InCall in(calls_, record_->callsRunning);
        if (g_script.closeBlocks) WaitForSingleObject(g_released, INFINITE);
        if (!worker_.joinable()) return E_UNEXPECTED;
        if (g_script.closedLateMs) {
            // The callback thread sends the closed status when it gets to it.
            closing_ = true;
            Queue(Op{OpClose, 0});
            return S_OK;
        }
        Shut();
        return S_OK;
    }
    STDMETHODIMP GetOutputCount(DWORD* count) override
    {
        *count = g_script.outputs;
        return S_OK;
    }
    STDMETHODIMP GetOutputProps(DWORD output, IWMOutputMediaProps** props) override
    {
        if (output >= g_script.outputs) return E_INVALIDARG;
        *props = new Props(g_script.video ? kVideo : kAudio, format_);
        return S_OK;
    }
    STDMETHODIMP SetOutputProps(DWORD, IWMOutputMediaProps*) override NOTIMPL;
    STDMETHODIMP GetOutputFormatCount(DWORD, DWORD*) override NOTIMPL;
    STDMETHODIMP GetOutputFormat(DWORD, DWORD, IWMOutputMediaProps**) override NOTIMPL;
    STDMETHODIMP Start(QWORD start, QWORD, float, void*) override
    {
        ProbeCom();
        if (g_script.startsBeforeFailure >= 0 && starts_++ >= g_script.startsBeforeFailure)
            return g_script.startFailure;
        Queue(Op{OpStart, start});
        return S_OK;
    }
    STDMETHODIMP Stop() override
    {
        ProbeCom();
        Queue(Op{OpStop, 0});
        return S_OK;
    }
    STDMETHODIMP Pause() override NOTIMPL;
    STDMETHODIMP Resume() override NOTIMPL;

    // IWMReaderAdvanced
    STDMETHODIMP SetUserProvidedClock(WINBOOL on) override
    {
        g_record->userClock = on ? 1 : 0;
        return S_OK;
    }
    STDMETHODIMP GetUserProvidedClock(WINBOOL*) override NOTIMPL;
    STDMETHODIMP DeliverTime(QWORD time) override
    {
        if (g_script.onTimeInDeliver && !t_readerThread && advanced_) {
            // A reader whose clock call first waits for its callback thread,
            // which is telling us the time it reached.
            QWORD reached;
            {
                std::lock_guard<std::mutex> lock(mu_);
                reached = grant_;
            }
            HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            std::thread t([this, reached, done] {
                t_readerThread = true;
                advanced_->OnTime(reached, context_);
                SetEvent(done);
            });
            if (WaitForSingleObject(done, 2000) != WAIT_OBJECT_0) ++g_record->deliverStuck;
            std::lock_guard<std::mutex> lock(callbacksMu_);
            callbacks_.emplace_back(std::move(t), done);
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            grant_ = time;
        }
        ++g_record->grants;
        g_record->lastGrant = time;
        cv_.notify_all();
        return S_OK;
    }
    STDMETHODIMP SetManualStreamSelection(WINBOOL) override NOTIMPL;
    STDMETHODIMP GetManualStreamSelection(WINBOOL*) override NOTIMPL;
    STDMETHODIMP SetStreamsSelected(WORD, WORD*, WMT_STREAM_SELECTION*) override NOTIMPL;
    STDMETHODIMP GetStreamSelected(WORD, WMT_STREAM_SELECTION*) override NOTIMPL;
    STDMETHODIMP SetReceiveSelectionCallbacks(WINBOOL) override NOTIMPL;
    STDMETHODIMP GetReceiveSelectionCallbacks(WINBOOL*) override NOTIMPL;
    STDMETHODIMP SetReceiveStreamSamples(WORD, WINBOOL) override NOTIMPL;
    STDMETHODIMP GetReceiveStreamSamples(WORD, WINBOOL*) override NOTIMPL;
    STDMETHODIMP SetAllocateForOutput(DWORD, WINBOOL) override NOTIMPL;
    STDMETHODIMP GetAllocateForOutput(DWORD, WINBOOL*) override NOTIMPL;
    STDMETHODIMP SetAllocateForStream(WORD, WINBOOL) override NOTIMPL;
    STDMETHODIMP GetAllocateForStream(WORD, WINBOOL*) override NOTIMPL;
    STDMETHODIMP GetStatistics(WM_READER_STATISTICS*) override NOTIMPL;
    STDMETHODIMP SetClientInfo(WM_READER_CLIENTINFO*) override NOTIMPL;
    STDMETHODIMP GetMaxOutputSampleSize(DWORD, DWORD*) override NOTIMPL;
    STDMETHODIMP GetMaxStreamSampleSize(WORD, DWORD*) override NOTIMPL;
    STDMETHODIMP NotifyLateDelivery(QWORD) override NOTIMPL;

    // IWMReaderAdvanced2: a file given as a stream is kept until the reader is destroyed.
    STDMETHODIMP OpenStream(IStream* stream, IWMReaderCallback* callback, void* context) override
    {
        stream->AddRef();
        stream_ = stream;
        return Open(nullptr, callback, context);
    }
    STDMETHODIMP SetPlayMode(WMT_PLAY_MODE) override NOTIMPL;
    STDMETHODIMP GetPlayMode(WMT_PLAY_MODE*) override NOTIMPL;
    STDMETHODIMP GetBufferProgress(DWORD*, QWORD*) override NOTIMPL;
    STDMETHODIMP GetDownloadProgress(DWORD*, QWORD*, QWORD*) override NOTIMPL;
    STDMETHODIMP GetSaveAsProgress(DWORD*) override NOTIMPL;
    STDMETHODIMP SaveFileAs(const WCHAR*) override NOTIMPL;
    STDMETHODIMP GetProtocolName(WCHAR*, DWORD*) override NOTIMPL;
    STDMETHODIMP StartAtMarker(WORD, QWORD, float, void*) override NOTIMPL;
    STDMETHODIMP GetOutputSetting(DWORD, LPCWSTR, WMT_ATTR_DATATYPE*, BYTE*, WORD*) override NOTIMPL;
    STDMETHODIMP SetOutputSetting(DWORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE*, WORD) override NOTIMPL;
    STDMETHODIMP Preroll(QWORD, QWORD, float) override NOTIMPL;
    STDMETHODIMP SetLogClientID(WINBOOL) override NOTIMPL;
    STDMETHODIMP GetLogClientID(WINBOOL*) override NOTIMPL;
    STDMETHODIMP StopBuffering() override NOTIMPL;

private:
    enum OpType { OpStart, OpStop, OpClose };
    struct InCall {
        InCall(std::atomic<int>& mine, std::atomic<int>& all) : mine_(mine), all_(all)
        {
            ++mine_;
            ++all_;
        }
        ~InCall()
        {
            --mine_;
            --all_;
        }
        std::atomic<int>& mine_;
        std::atomic<int>& all_;
    };
    struct Op {
        OpType type;
        QWORD start;
    };

    void Queue(Op op)
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            ops_.push_back(op);
        }
        cv_.notify_all();
    }

    // Closes the callback thread (like the platform's Close, it waits for it).
    void Shut()
    {
        if (!worker_.joinable()) return;
        Queue(Op{OpClose, 0});
        worker_.join();
        {
            std::lock_guard<std::mutex> lock(callbacksMu_);
            for (auto& c : callbacks_) {
                c.first.join();
                CloseHandle(c.second);
            }
            callbacks_.clear();
        }
        if (advanced_) advanced_->Release();
        callback_->Release();
        advanced_ = nullptr;
        callback_ = nullptr;
    }

    void Status(WMT_STATUS status, HRESULT hr)
    {
        static const DWORD zero = 0;
        callback_->OnStatus(status, hr, WMT_TYPE_DWORD, (BYTE*)&zero, context_);
    }

    void Deliver(DWORD output, QWORD pts, QWORD duration, const BYTE* data, size_t n)
    {
        Buffer* b = new Buffer(data, n, output == 0 && samples_++ == g_script.failBufferAt);
        ++g_record->inSample;
        HRESULT hr = callback_->OnSample(output, pts, duration, 0, b, context_);
        --g_record->inSample;
        b->Release();
        if (output == 0) {
            std::lock_guard<std::mutex> lock(g_mu);
            g_record->sampleResults.push_back(hr);
        }
    }

    void Run()
    {
        t_readerThread = true;
        Status(g_script.sourceSwitch ? WMT_SOURCE_SWITCH : WMT_OPENED, g_script.openedStatus);
        std::unique_lock<std::mutex> lock(mu_);
        for (;;) {
            cv_.wait(lock, [this] { return !ops_.empty(); });
            Op op = ops_.front();
            ops_.pop_front();
            HRESULT hr = ops_.empty() ? S_OK : E_ABORT;
            lock.unlock();
            switch (op.type) {
            case OpStart:
                if (g_script.startedDelayMs) Sleep(g_script.startedDelayMs);
                Status(WMT_STARTED, hr);
                for (auto& s : g_script.extraStatuses) Status(s.first, s.second);
                lock.lock();
                if (SUCCEEDED(hr)) Play(lock, op.start);
                break;
            case OpStop:
                Status(WMT_STOPPED, hr);
                lock.lock();
                break;
            case OpClose:
                if (closing_) Sleep(g_script.closedLateMs);
                if (holder_.joinable()) holder_.join();
                Status(WMT_CLOSED, hr);
                if (closing_) ++record_->lateClosed;
                closedSent_ = true;
                return;
            }
        }
    }

    // Reads the head of the stream, then keeps it until released.
    void HoldStream()
    {
        BYTE head[16];
        ULONG got = 0;
        if (stream_->Read(head, sizeof head, &got) != S_OK || got != sizeof head) return;
        ++record_->holdingStream;
        WaitForSingleObject(g_released, INFINITE);
        --record_->holdingStream;
    }

    QWORD Pts(size_t frame) const { return g_script.lateStart + frame * 10000000ull / format_.nSamplesPerSec; }

    void Play(std::unique_lock<std::mutex>& lock, QWORD start)
    {
        size_t align = format_.nBlockAlign ? format_.nBlockAlign : 1;
        size_t frames = data_.size() / align;
        QWORD from = start > g_script.lateStart ? start - g_script.lateStart : 0;
        size_t frame = (size_t)(from * format_.nSamplesPerSec / 10000000ull);
        size_t perSample = g_script.sampleBytes / align ? g_script.sampleBytes / align : 1;
        bool oversized = g_script.oversizedSample > 0;
        while (ops_.empty()) {
            if (g_script.hold && (frame >= frames || Pts(frame) >= g_script.holdFrom)) {
                cv_.wait(lock, [this] { return !ops_.empty(); });
                return;
            }
            if (frame >= frames) {
                lock.unlock();
                Status(WMT_END_OF_STREAMING, S_OK);
                Status(WMT_EOF, S_OK);
                QWORD granted = grant_;
                if (advanced_) advanced_->OnTime(granted, context_);
                lock.lock();
                return;
            }
            QWORD pts = Pts(frame);
            if (pts > grant_) {
                // Ask for more time once, then wait for it (or for an operation).
                QWORD granted = grant_;
                lock.unlock();
                if (advanced_) advanced_->OnTime(granted, context_);
                lock.lock();
                cv_.wait(lock, [this, pts] { return !ops_.empty() || pts <= grant_; });
                continue;
            }
            // The reader's contract: nothing is delivered past the granted time.
            if (pts > grant_) ADD_FAILURE() << "sample at " << pts << " past the granted " << grant_;
            size_t n = frames - frame < perSample ? frames - frame : perSample;
            lock.unlock();
            if (oversized) {
                std::vector<BYTE> big(g_script.oversizedSample, 0x55);
                Deliver(0, pts, 0, big.data(), big.size());
                oversized = false;
            }
            Deliver(0, pts, Pts(frame + n) - pts, data_.data() + frame * align, n * align);
            if (g_script.outputs > 1) {
                std::vector<BYTE> other(n * align, 0x7F);
                Deliver(1, pts, 0, other.data(), other.size());
            }
            lock.lock();
            frame += n;
        }
    }

    Record* record_;
    std::atomic<ULONG> refs_{1};
    std::atomic<int> calls_{0};  // Open or Close calls running now
    Header header_{static_cast<IWMReader*>(this), false};
    std::mutex callbacksMu_;
    std::vector<std::pair<std::thread, HANDLE>> callbacks_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Op> ops_;
    std::thread worker_, holder_;
    IWMReaderCallback* callback_ = nullptr;
    IWMReaderCallbackAdvanced* advanced_ = nullptr;
    IStream* stream_ = nullptr;
    void* context_ = nullptr;
    QWORD grant_ = 0;
    int starts_ = 0;
    int samples_ = 0;
    std::atomic<bool> closing_{false}, closedSent_{false};
    WAVEFORMATEX format_;
    std::vector<BYTE> data_;
};

HRESULT CreateReader(IWMReader** out)
{
    ProbeCom();
    if (FAILED(g_script.createReader)) return g_script.createReader;
    *out = new Reader;
    return S_OK;
}

HRESULT CreateEditor(IWMMetadataEditor** out)
{
    ProbeCom();
    if (FAILED(g_script.createEditor)) return g_script.createEditor;
    *out = new Editor;
    return S_OK;
}

bool PlatformEditor() { return g_script.platformEditor; }

WmRuntime g_standIn = {CreateReader, CreateEditor, PlatformEditor, 0, nullptr};

}  // namespace

Value Text(const std::wstring& s)
{
    Value v;
    v.type = WMT_TYPE_STRING;
    const BYTE* p = reinterpret_cast<const BYTE*>(s.c_str());
    v.bytes.assign(p, p + (s.size() + 1) * sizeof(wchar_t));
    return v;
}

Value Dword(DWORD d)
{
    Value v;
    v.type = WMT_TYPE_DWORD;
    v.bytes.assign(reinterpret_cast<BYTE*>(&d), reinterpret_cast<BYTE*>(&d) + 4);
    return v;
}

Value Qword(unsigned long long q)
{
    Value v;
    v.type = WMT_TYPE_QWORD;
    v.bytes.assign(reinterpret_cast<BYTE*>(&q), reinterpret_cast<BYTE*>(&q) + 8);
    return v;
}

std::wstring AsText(const Value& v)
{
    std::wstring s(reinterpret_cast<const wchar_t*>(v.bytes.data()), v.bytes.size() / 2);
    while (!s.empty() && s.back() == 0) s.pop_back();
    return s;
}

void Install(const Script& script)
{
    {
        std::lock_guard<std::mutex> lock(g_mu);
        g_script = script;
    }
    // Records of earlier tests may still be read by late threads: never freed.
    g_record = new Record;
    g_standIn.callWaitMs = script.callWaitMs;
    g_standIn.CallThreadEnding = script.callThreadEnding;
    ResetEvent(g_released);
    SetWmRuntime(&g_standIn);
}

void Uninstall() { SetWmRuntime(nullptr); }

void ReleaseBlocked(bool released)
{
    if (released) SetEvent(g_released);
    else ResetEvent(g_released);
}

Script& CurrentScript() { return g_script; }
Record& CurrentRecord() { return *g_record; }

std::vector<HRESULT> SampleResults()
{
    std::lock_guard<std::mutex> lock(g_mu);
    return g_record->sampleResults;
}

bool LoadWav(const std::string& path, WAVEFORMATEX* format, std::vector<BYTE>* data)
{
    std::vector<unsigned char> b;
    if (!vqtest::ReadFile(path, b) || b.size() < 12 || memcmp(b.data(), "RIFF", 4) || memcmp(b.data() + 8, "WAVE", 4))
        return false;
    size_t at = 12;
    bool haveFormat = false;
    while (at + 8 <= b.size()) {
        DWORD size;
        memcpy(&size, &b[at + 4], 4);
        if (!memcmp(&b[at], "fmt ", 4) && size >= 16 && at + 8 + 16 <= b.size()) {
            memset(format, 0, sizeof *format);
            memcpy(format, &b[at + 8], 16);
            haveFormat = true;
        } else if (!memcmp(&b[at], "data", 4)) {
            size_t n = size < b.size() - at - 8 ? size : b.size() - at - 8;
            data->assign(b.begin() + at + 8, b.begin() + at + 8 + n);
            return haveFormat;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

}  // namespace standin

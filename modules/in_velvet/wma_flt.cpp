// Reader callback and clock: the asynchronous reader delivers only up to the
// time we grant, and we grant half a second past wherever it is, so it decodes
// as fast as the ring accepts; a reader that waits for a sample further on (a
// stream that starts late or has a gap) is granted far ahead at once. The
// sample callback blocks while the ring is full, which throttles the reader.
#include "wma_flt.h"

#include <mmsystem.h>
#include <msacm.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "checked_stream.h"
#include "resource.h"
#include "ring_buffer.h"
#include "vq_module.h"

using namespace velvet;

namespace {

const GUID kAudioMajorType = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const char kOpenOp[] = "CWmaFlt::Open";
const char kReadOp[] = "CWmaFlt::Read";

// t + by, held within the 64-bit range.
LONGLONG Later(LONGLONG t, LONGLONG by) { return t > LLONG_MAX - by ? LLONG_MAX : t + by; }

template <typename T> void ReleaseInto(T*& p)
{
    if (p) p->Release();
    p = nullptr;
}

}  // namespace

CWmaFlt::CWmaFlt(HRESULT* result)
{
    m_fifo = RingBuffer_Create(kRingBytes);
    m_hOpenEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_hStartedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hStopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_hDataEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_hRoomEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    InitializeCriticalSection(&m_clockLock);
    if (result)
        *result = m_fifo && m_hOpenEvent && m_hStartedEvent && m_hStopEvent && m_hDataEvent && m_hRoomEvent
                      ? S_OK
                      : E_OUTOFMEMORY;
}

CWmaFlt::~CWmaFlt()
{
    // The reader's threads call back into this object, its events and its
    // ring until the reader is closed: Dispose has closed it, or left it and
    // this object behind.
    ReleaseInto(m_pReaderAdvanced);
    ReleaseInto(m_pHeader);
    ReleaseInto(m_pReader);
    ReleaseInto(m_pEditor);
    // A reader whose open failed may keep its stream: the file is let go of all the same.
    CloseCheckedAsf(m_source);
    ReleaseInto(m_source);
    if (m_hOpenEvent) CloseHandle(m_hOpenEvent);
    if (m_hStartedEvent) CloseHandle(m_hStartedEvent);
    if (m_hStopEvent) CloseHandle(m_hStopEvent);
    if (m_hDataEvent) CloseHandle(m_hDataEvent);
    if (m_hRoomEvent) CloseHandle(m_hRoomEvent);
    if (m_fifo) RingBuffer_Destroy(m_fifo);
    DeleteCriticalSection(&m_clockLock);
}

// ---- COM part ----------------------------------------------------------------

STDMETHODIMP CWmaFlt::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
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

// The module owns the object: counting references never frees it.
STDMETHODIMP_(ULONG) CWmaFlt::AddRef() { return (ULONG)InterlockedIncrement(&m_refCount); }
STDMETHODIMP_(ULONG) CWmaFlt::Release() { return (ULONG)InterlockedDecrement(&m_refCount); }

STDMETHODIMP CWmaFlt::OnStreamSample(WORD, QWORD, QWORD, DWORD, INSSBuffer*, void*) { return S_OK; }
STDMETHODIMP CWmaFlt::OnStreamSelection(WORD, WORD*, WMT_STREAM_SELECTION*, void*) { return S_OK; }
STDMETHODIMP CWmaFlt::OnOutputPropsChanged(DWORD, WM_MEDIA_TYPE*, void*) { return S_OK; }
// The runtime allocates its own sample buffers.
STDMETHODIMP CWmaFlt::AllocateForStream(WORD, DWORD, INSSBuffer**, void*) { return E_NOTIMPL; }
STDMETHODIMP CWmaFlt::AllocateForOutput(DWORD, DWORD, INSSBuffer**, void*) { return E_NOTIMPL; }

// ---- opening -----------------------------------------------------------------

void CWmaFlt::Dispose(CWmaFlt* flt)
{
    if (!flt) return;
    // Whether the reader is left behind is known only once it has been
    // stopped and closed, before anything it may still use is freed.
    flt->Stop();
    if (!flt->m_abandoned) delete flt;
    // A reader left behind keeps its stream, but reads the file no more: the
    // file can be moved or deleted.
    else CloseCheckedAsf(flt->m_source);
}

DWORD CWmaFlt::ReaderWait(DWORD ms)
{
    DWORD runtime = ActiveWmRuntime()->callWaitMs;
    return runtime ? runtime : ms;
}

HRESULT CWmaFlt::WaitOpened(DWORD begin, DWORD limit)
{
    DWORD spent = GetTickCount() - begin;
    if (WaitForSingleObject(m_hOpenEvent, spent < limit ? limit - spent : 0) != WAIT_OBJECT_0)
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    return m_openResult;
}

HRESULT CWmaFlt::Open(const char* path, const WAVEFORMATEX* wanted)
{
    HRESULT hr = ActiveWmRuntime()->CreateReader(&m_pReader);
    if (SUCCEEDED(hr) && !m_pReader) hr = E_FAIL;
    if (FAILED(hr)) {
        m_pReader = nullptr;
        Message(IDS_CREATE_READER, kOpenOp, 228, hr);
        return hr;
    }
    WCHAR wide[1024];
    if (!path || !MultiByteToWideChar(CP_ACP, 0, path, -1, wide, 1024)) {
        Message(IDS_OPEN_INTERNAL, kOpenOp, 241, (unsigned long)GetLastError());
        return E_UNEXPECTED;
    }
    lstrcpynA(m_path, path, 1024);

    // Where the platform has no metadata editor, its reader is a partial one
    // that can abort the process or hang on a damaged file: a file whose
    // header our own reader cannot make sense of, or whose framing does not
    // hold together from end to end, is not handed to it. The reader of one
    // that is reads it through a stream of ours, which ends where the check
    // ended: it never parses a byte the check has not seen as it would.
    const WmRuntime* runtime = ActiveWmRuntime();
    if (runtime->PlatformEditorAvailable && !runtime->PlatformEditorAvailable()) {
        IWMMetadataEditor* own = nullptr;
        hr = CreateAsfHeaderEditor(&own);
        if (SUCCEEDED(hr)) hr = own->Open(wide);
        if (own) own->Release();
        if (SUCCEEDED(hr)) hr = OpenCheckedAsf(wide, &m_source);
        if (FAILED(hr)) {
            Message(IDS_READER_OPEN, kOpenOp, 267, hr);
            return hr;
        }
    }

    // Opening is bounded as a whole; a reader that never returns from Open is
    // left behind with this object.
    const DWORD begin = GetTickCount(), limit = ReaderWait(kOpenWaitMs);
    IWMReader* reader = m_pReader;
    IWMReaderCallback* callback = this;
    IStream* source = m_source;
    std::wstring target(wide);
    auto open = [reader, callback, source, target] {
        if (!source) return reader->Open(target.c_str(), callback, nullptr);
        IWMReaderAdvanced2* advanced = nullptr;
        HRESULT r = reader->QueryInterface(IID_IWMReaderAdvanced2, reinterpret_cast<void**>(&advanced));
        if (FAILED(r) || !advanced) return FAILED(r) ? r : E_NOINTERFACE;
        r = advanced->OpenStream(source, callback, nullptr);
        advanced->Release();
        return r;
    };
    if (!CallWithin(limit, open, &hr)) {
        InterlockedExchange(&m_abandoned, 1);
        hr = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    } else {
        if (SUCCEEDED(hr) || hr == kOpenPending) m_readerOpen = true;
        if (SUCCEEDED(hr)) hr = WaitOpened(begin, limit);
        if (hr == kOpenPending) hr = WaitOpened(begin, limit);
    }
    if (FAILED(hr)) {
        Message(IDS_READER_OPEN, kOpenOp, 267, hr);
        return hr;
    }

    hr = m_pReader->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&m_pHeader));
    if (FAILED(hr) || !m_pHeader) {
        m_pHeader = nullptr;
        if (SUCCEEDED(hr)) hr = E_NOINTERFACE;
        Message(IDS_QUERY_HEADER, kOpenOp, 282, hr);
        return hr;
    }
    hr = m_pReader->QueryInterface(IID_IWMReaderAdvanced, reinterpret_cast<void**>(&m_pReaderAdvanced));
    if (FAILED(hr) || !m_pReaderAdvanced) {
        m_pReaderAdvanced = nullptr;
        if (SUCCEEDED(hr)) hr = E_NOINTERFACE;
        Message(IDS_QUERY_ADVANCED, kOpenOp, 298, hr);
        return hr;
    }
    hr = m_pReaderAdvanced->SetUserProvidedClock(TRUE);
    if (FAILED(hr)) {
        Message(IDS_USER_CLOCK, kOpenOp, 312, hr);
        return hr;
    }

    DWORD outputs = 0;
    hr = m_pReader->GetOutputCount(&outputs);
    if (FAILED(hr)) {
        Message(IDS_OUTPUT_COUNT, kOpenOp, 328, hr);
        return hr;
    }
    if (outputs != 1) Message(IDS_NOT_AUDIO_ONLY, kOpenOp, 340, (int)outputs);

    IWMOutputMediaProps* props = nullptr;
    hr = m_pReader->GetOutputProps(0, &props);
    if (FAILED(hr) || !props) {
        if (SUCCEEDED(hr)) hr = E_UNEXPECTED;
        Message(IDS_OUTPUT_PROPS, kOpenOp, 356, hr);
        return hr;
    }
    DWORD typeBytes = 0;
    hr = props->GetMediaType(nullptr, &typeBytes);
    if (SUCCEEDED(hr) && typeBytes < sizeof(WM_MEDIA_TYPE)) hr = E_UNEXPECTED;
    if (FAILED(hr)) {
        props->Release();
        Message(IDS_MEDIA_TYPE, kOpenOp, 372, hr);
        return hr;
    }
    auto* type = static_cast<WM_MEDIA_TYPE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, typeBytes));
    hr = type ? props->GetMediaType(type, &typeBytes) : E_OUTOFMEMORY;
    props->Release();
    // The head of a wave format (16 bytes) at least must be there.
    if (SUCCEEDED(hr) && IsEqualGUID(type->majortype, kAudioMajorType) && (!type->pbFormat || type->cbFormat < 16))
        hr = E_UNEXPECTED;
    if (FAILED(hr)) {
        if (type) HeapFree(GetProcessHeap(), 0, type);
        Message(IDS_MEDIA_TYPE, kOpenOp, 389, hr);
        return hr;
    }
    if (!IsEqualGUID(type->majortype, kAudioMajorType)) {
        HeapFree(GetProcessHeap(), 0, type);
        Message(IDS_MAJOR_TYPE, kOpenOp, 405);
        return E_FAIL;
    }
    memset(&m_readerFormat, 0, sizeof m_readerFormat);
    memcpy(&m_readerFormat, type->pbFormat, type->cbFormat < sizeof m_readerFormat ? type->cbFormat : sizeof m_readerFormat);
    if (type->cbFormat < sizeof m_readerFormat) m_readerFormat.cbSize = 0;
    m_outputFormat = wanted ? *wanted : m_readerFormat;
    HeapFree(GetProcessHeap(), 0, type);

    WORD stream = 0, length = 0;
    WMT_ATTR_DATATYPE attrType = WMT_TYPE_QWORD;
    hr = m_pHeader->GetAttributeByName(&stream, L"Duration", &attrType, nullptr, &length);
    if (FAILED(hr)) {
        Message(IDS_DURATION, kOpenOp, 462, hr);
        return hr;
    }
    BYTE small[8] = {};
    BYTE* value = length > sizeof small ? static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, length)) : small;
    stream = 0;
    hr = value ? m_pHeader->GetAttributeByName(&stream, L"Duration", &attrType, value, &length) : E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) {
        uint64_t duration = 0;
        memcpy(&duration, value, length < 8 ? length : 8);
        m_duration = (LONGLONG)duration;
    }
    if (value && value != small) HeapFree(GetProcessHeap(), 0, value);
    if (FAILED(hr)) {
        Message(IDS_DURATION, kOpenOp, 450, hr);
        return hr;
    }

    m_deliverTime = 0;
    m_position = 0;
    hr = m_pReader->Start(0, 0, 1.0f, nullptr);
    if (FAILED(hr)) Message(IDS_START, kOpenOp, 478, hr);
    return hr;
}

// ---- callbacks -----------------------------------------------------------------

STDMETHODIMP CWmaFlt::OnStatus(WMT_STATUS status, HRESULT hr, WMT_ATTR_DATATYPE, BYTE*, void*)
{
    switch (status) {
    case WMT_OPENED:
    case WMT_SOURCE_SWITCH:
        m_openResult = hr;
        SetEvent(m_hOpenEvent);
        break;
    case WMT_EOF:
    case WMT_END_OF_SEGMENT:
        if (FAILED(hr)) InterlockedExchange(&m_failed, 1);
        InterlockedExchange(&m_endOfStream, 1);
        SetEvent(m_hDataEvent);
        break;
    case WMT_ERROR:
        InterlockedExchange(&m_failed, 1);
        SetEvent(m_hDataEvent);
        break;
    case WMT_NO_RIGHTS:
        Message(IDS_NO_RIGHTS, "CWmaFlt::OnStatus", 3759, hr);
        break;
    case WMT_MISSING_CODEC:
        Message(IDS_MISSING_CODEC, "CWmaFlt::OnStatus", 3771, hr);
        break;
    case WMT_STARTED: {
        RingBuffer_Reset(m_fifo);
        m_lastActivity = GetTickCount();
        InterlockedExchange(&m_endOfStream, 0);
        if (!m_closing) InterlockedExchange(&m_stopping, 0);
        if (FAILED(hr)) {
            // A start the reader could not carry out delivers nothing.
            InterlockedExchange(&m_startFailed, 1);
            SetEvent(m_hStartedEvent);
            break;
        }
        InterlockedExchange(&m_clockWaiting, 0);
        InterlockedExchange(&m_running, 1);
        SetEvent(m_hStartedEvent);
        m_deliverTime += kGrant;
        HRESULT r = Grant(m_deliverTime, GrantFromStart);
        if (FAILED(r)) {
            Message(IDS_STARTED_DELIVER, "CWmaFlt::OnStatus", 3718, r);
            return r;
        }
        break;
    }
    case WMT_STOPPED:
        // A reader that stops on its own before the end gives up.
        if (m_running && !m_closing && !m_endOfStream) InterlockedExchange(&m_failed, 1);
        InterlockedExchange(&m_running, 0);
        InterlockedExchange(&m_stopping, 1);
        SetEvent(m_hDataEvent);
        SetEvent(m_hRoomEvent);
        SetEvent(m_hStopEvent);
        break;
    case WMT_CLOSED:
        InterlockedExchange(&m_closed, 1);
        SetEvent(m_hStopEvent);
        break;
    default:
        break;
    }
    return S_OK;
}

HRESULT CWmaFlt::Grant(LONGLONG until, GrantKind kind)
{
    EnterCriticalSection(&m_clockLock);
    if (kind == GrantFromStart)
        m_granted = until;
    else if (kind == GrantAhead)
        m_granted = Later(m_granted, kGrantAhead);
    else if (until > m_granted)
        m_granted = until;
    const LONGLONG granted = m_granted;
    LeaveCriticalSection(&m_clockLock);
    // The reader's clock call may wait for its callback thread, which grants
    // in turn: it is made without the lock. A grant another thread made
    // meanwhile may have reached the reader before ours, so the newest is
    // given once more.
    if (!m_pReaderAdvanced) return E_POINTER;
    HRESULT r = m_pReaderAdvanced->DeliverTime((QWORD)granted);
    EnterCriticalSection(&m_clockLock);
    const LONGLONG newest = m_granted;
    LeaveCriticalSection(&m_clockLock);
    if (SUCCEEDED(r) && newest != granted) r = m_pReaderAdvanced->DeliverTime((QWORD)newest);
    return r;
}

STDMETHODIMP CWmaFlt::OnTime(QWORD time, void*)
{
    if (m_endOfStream || !m_running || m_stopping || m_closing || !m_pReaderAdvanced) return S_OK;
    HRESULT r = Grant(Later(time > (QWORD)LLONG_MAX ? LLONG_MAX : (LONGLONG)time, kGrant), GrantPast);
    if (FAILED(r)) Message(IDS_ONTIME_DELIVER, "CWmaFlt::OnTime", 3811, r);
    // Until the next sample the reader waits on our clock.
    m_clockWaitTick = GetTickCount();
    InterlockedExchange(&m_clockWaiting, 1);
    return r;
}

bool CWmaFlt::WaitForRoom(uint32_t bytes)
{
    auto accepting = [this] { return m_running && !m_stopping && !m_closing; };
    if (RingBuffer_Free(m_fifo) >= bytes) return accepting();
    // A full ring waits until a good part of it is free, not for each read.
    const uint32_t needs = bytes > kHandOverBytes ? bytes : kHandOverBytes;
    while (accepting()) {
        InterlockedExchange(&m_writerNeeds, (LONG)needs);
        if (RingBuffer_Free(m_fifo) >= needs || !accepting()) break;
        WaitForSingleObject(m_hRoomEvent, kMaxRoomWaitMs);
    }
    InterlockedExchange(&m_writerNeeds, 0);
    return accepting();
}

void CWmaFlt::WakeReader()
{
    LONG needs = m_readerNeeds;
    if (needs > 0 && RingBuffer_Used(m_fifo) >= (uint32_t)needs) SetEvent(m_hDataEvent);
}

void CWmaFlt::WakeWriter()
{
    LONG needs = m_writerNeeds;
    if (needs > 0 && RingBuffer_Free(m_fifo) >= (uint32_t)needs) SetEvent(m_hRoomEvent);
}

HRESULT CWmaFlt::Convert(const BYTE* data, DWORD length, BYTE** converted, DWORD* convertedLength)
{
    *converted = nullptr;
    *convertedLength = 0;
    WAVEFORMATEX from = m_readerFormat, to = m_outputFormat;
    HACMSTREAM stream = nullptr;
    if (acmStreamOpen(&stream, nullptr, &from, &to, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != 0) return S_FALSE;
    DWORD size = 0;
    if (acmStreamSize(stream, length, &size, ACM_STREAMSIZEF_SOURCE) != 0 || size == 0 || size > 0x3FFFFFFF) {
        acmStreamClose(stream, 0);
        return S_FALSE;
    }
    auto* out = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, 2 * size));
    if (!out) {
        acmStreamClose(stream, 0);
        Message(IDS_CONVERT_MEMORY, "CWmaFlt::OnSample", 3597);
        return E_UNEXPECTED;
    }
    ACMSTREAMHEADER header;
    memset(&header, 0, sizeof header);
    header.cbStruct = sizeof header;
    header.pbSrc = const_cast<BYTE*>(data);
    header.cbSrcLength = length;
    header.pbDst = out;
    header.cbDstLength = 2 * size;
    bool ok = false;
    if (acmStreamPrepareHeader(stream, &header, 0) == 0) {
        ok = acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN) == 0;
        acmStreamUnprepareHeader(stream, &header, 0);
    }
    acmStreamClose(stream, 0);
    if (!ok) {
        HeapFree(GetProcessHeap(), 0, out);
        return S_FALSE;
    }
    *converted = out;
    *convertedLength = header.cbDstLengthUsed < 2 * size ? header.cbDstLengthUsed : 2 * size;
    return S_OK;
}

STDMETHODIMP CWmaFlt::OnSample(DWORD output, QWORD, QWORD, DWORD, INSSBuffer* sample, void*)
{
    InterlockedExchange(&m_clockWaiting, 0);
    if (output != 0) return S_OK;
    // Samples decoded before a seek or a stop are not wanted any more.
    if (!m_running || m_stopping || m_closing || m_failed) return S_OK;
    BYTE* data = nullptr;
    DWORD length = 0;
    HRESULT hr = sample ? sample->GetBufferAndLength(&data, &length) : E_POINTER;
    if (SUCCEEDED(hr) && !data && length) hr = E_POINTER;
    if (FAILED(hr)) {
        Message(IDS_SAMPLE_BUFFER, "CWmaFlt::OnSample", 3572, hr);
        Lose();
        return E_UNEXPECTED;
    }
    const BYTE* store = data;
    DWORD storeLength = length;
    BYTE* converted = nullptr;
    if (memcmp(&m_readerFormat, &m_outputFormat, sizeof m_readerFormat) != 0) {
        hr = Convert(data, length, &converted, &storeLength);
        if (hr != S_OK) {
            if (length) Lose();
            return hr == S_FALSE ? S_OK : hr;
        }
        store = converted;
    }
    if (storeLength > m_fifo->capacity) {
        if (converted) HeapFree(GetProcessHeap(), 0, converted);
        Message(IDS_SAMPLE_TOO_BIG, "CWmaFlt::OnSample", 3641, (unsigned long)length);
        Lose();
        return E_UNEXPECTED;
    }
    if (WaitForRoom(storeLength) && RingBuffer_Write(store, storeLength, m_fifo)) WakeReader();
    m_lastActivity = GetTickCount();
    if (converted) HeapFree(GetProcessHeap(), 0, converted);
    return S_OK;
}

void CWmaFlt::Lose()
{
    // Only what this start delivers counts; a seek begins anew.
    if (m_running && !m_stopping && !m_closing) InterlockedExchange(&m_damaged, 1);
}

// ---- the host's side -------------------------------------------------------------

int CWmaFlt::EndEarly(UINT id, int line)
{
    if (!InterlockedExchange(&m_endLogged, 1)) Message(id, kReadOp, line, m_path);
    return VQ_READ_ERROR;
}

int CWmaFlt::Ended()
{
    if (m_closing) return -1;
    if (CheckedAsfFailed(m_source)) return EndEarly(IDS_READ_SOURCE, 540);
    // Stopped without reaching the end: only a stop of ours does that cleanly.
    if (m_failed || m_damaged || !m_endOfStream) return EndEarly(IDS_READ_FAILED, 535);
    return -1;
}

int CWmaFlt::Read(void* buffer, int count)
{
    if (!buffer || count <= 0) return 0;
    // This start ended on an error: every later read says so at once.
    if (m_endLogged) return VQ_READ_ERROR;
    DWORD begin = GetTickCount();
    while (WaitForSingleObject(m_hStartedEvent, kEmptyPollMs) != WAIT_OBJECT_0) {
        // A seek whose start failed never starts: the stream has ended.
        if (m_startFailed) return EndEarly(IDS_READ_NOT_STARTED, 515);
        if (m_closing) return -1;
        if (m_stopping || m_failed) return EndEarly(IDS_READ_NOT_STARTED, 515);
        if (GetTickCount() - begin >= kStartWaitMs) return EndEarly(IDS_READ_NOT_STARTED, 515);
    }
    uint32_t n = (uint32_t)count;
    uint32_t align = m_outputFormat.nBlockAlign;
    if (align > 1 && n >= align) n -= n % align;
    // The read waits for its whole request, or a good part of the ring, so
    // that each wake hands over much; the end of the stream, a sample
    // callback waiting for room, or a while without any more data hand over
    // what there is.
    const uint32_t wants = n < kHandOverBytes ? n : kHandOverBytes;
    // A reader that delivers nothing for long while we wait has stalled (the
    // time before this read, a pause of the host's, does not count).
    const DWORD waitSince = GetTickCount();
    DWORD grewAt = waitSince;
    for (uint32_t had = 0;;) {
        const uint32_t used = RingBuffer_Used(m_fifo);
        if (used >= wants) break;
        if (m_startFailed) return EndEarly(IDS_READ_NOT_STARTED, 515);
        if (m_closing) {
            if (used == 0) return -1;
            break;
        }
        // The last samples may have arrived just before the end was reported.
        // A file that can no longer be read leaves the reader waiting for it.
        const bool over = m_endOfStream || m_stopping || m_failed || CheckedAsfFailed(m_source);
        if (over) {
            if (RingBuffer_Used(m_fifo) == 0) return Ended();
            break;
        }
        if (used > 0 && m_writerNeeds) break;
        DWORD now = GetTickCount();
        if (used != had) {
            had = used;
            grewAt = now;
        } else if (used > 0 && now - grewAt >= kQuietMs) {
            break;
        }
        if (now - waitSince >= kStallMs && now - m_lastActivity >= kStallMs) return EndEarly(IDS_READ_STALLED, 530);
        // The reader holds a sample past the time granted to it. (A grant it
        // refuses leaves it stalled, which ends the stream as above.)
        if (m_clockWaiting && m_running && now - m_clockWaitTick >= kClockWaitMs) {
            m_clockWaitTick = now;
            Grant(0, GrantAhead);
        }
        InterlockedExchange(&m_readerNeeds, (LONG)wants);
        if (RingBuffer_Used(m_fifo) < wants && !over && !m_startFailed)
            WaitForSingleObject(m_hDataEvent, kEmptyPollMs);
        InterlockedExchange(&m_readerNeeds, 0);
    }
    n = RingBuffer_Read(buffer, n, m_fifo);
    WakeWriter();
    if (m_outputFormat.nAvgBytesPerSec)
        m_position += (LONGLONG)((uint64_t)n * kUnitsPerSecond / m_outputFormat.nAvgBytesPerSec);
    return (int)n;
}

int CWmaFlt::SetPosition(double seconds)
{
    ResetEvent(m_hStartedEvent);
    InterlockedExchange(&m_running, 0);
    // A sample callback waiting for room drops its sample.
    SetEvent(m_hRoomEvent);
    RingBuffer_Reset(m_fifo);
    // NaN and negative times start at the beginning; the top stays within 64 bits.
    if (!(seconds > 0.0)) seconds = 0.0;
    if (seconds > 9.0e11) seconds = 9.0e11;
    LONGLONG t = (LONGLONG)(seconds * (double)kUnitsPerSecond);
    // The clock is granted from here as soon as the reader reports the start.
    m_deliverTime = t;
    m_position = t;
    InterlockedExchange(&m_startFailed, 0);
    InterlockedExchange(&m_endLogged, 0);
    InterlockedExchange(&m_failed, 0);
    InterlockedExchange(&m_damaged, 0);
    HRESULT hr = m_pReader ? m_pReader->Start((QWORD)t, 0, 1.0f, nullptr) : E_UNEXPECTED;
    if (FAILED(hr)) {
        InterlockedExchange(&m_startFailed, 1);
        Message(IDS_SEEK_START, "CWmaFlt::SetPosition", 559, (unsigned long)(t & 0xFFFFFFFF), hr);
        return hr;
    }
    return 1;
}

double CWmaFlt::GetPosition() { return (double)m_position / (double)kUnitsPerSecond; }
double CWmaFlt::GetDuration() { return (double)m_duration / (double)kUnitsPerSecond; }

int CWmaFlt::GetPcmFormat(WAVEFORMATEX* out)
{
    if (!out) {
        Message(IDS_FORMAT_NULL, "CWmaFlt::GetPcmFormat", 615);
        return 0;
    }
    // What Read delivers: the reader's own format unless another was asked for.
    *out = m_outputFormat;
    return 1;
}

void CWmaFlt::Stop()
{
    if (!m_pReader || !m_readerOpen || m_abandoned) return;
    ResetEvent(m_hStopEvent);
    InterlockedExchange(&m_closed, 0);
    // Releases a sample callback waiting for room, so the reader can stop.
    InterlockedExchange(&m_closing, 1);
    InterlockedExchange(&m_stopping, 1);
    SetEvent(m_hRoomEvent);
    // Each call is bounded: a reader that never returns is left behind.
    const DWORD limit = ReaderWait(kStopWaitMs);
    IWMReader* reader = m_pReader;
    HRESULT hr = E_FAIL;
    bool returned = CallWithin(limit, [reader] { return reader->Stop(); }, &hr);
    if (returned && SUCCEEDED(hr)) WaitStopEvent(limit, false);
    if (returned) returned = CallWithin(limit, [reader] { return reader->Close(); }, &hr);
    // The closed status is the reader's last call into this object, and it
    // may come after Close has returned: until it has come the object, and
    // the module's code, are left to the reader.
    if (returned && SUCCEEDED(hr) && !WaitStopEvent(limit, true)) {
        returned = false;
        KeepModuleLoaded();
    }
    m_readerOpen = false;
    if (!returned) {
        InterlockedExchange(&m_abandoned, 1);
        Message(IDS_READER_ABANDONED, "CWmaFlt::Stop", 648, m_path);
    } else {
        CloseCheckedAsf(m_source);
    }
}

bool CWmaFlt::WaitStopEvent(DWORD ms, bool closed)
{
    // A stopped status that came late must not pass for the closed one.
    for (const DWORD begin = GetTickCount();;) {
        if (closed && m_closed) return true;
        const DWORD spent = GetTickCount() - begin;
        if (spent >= ms || WaitForSingleObject(m_hStopEvent, ms - spent) != WAIT_OBJECT_0)
            return closed && m_closed;
        if (!closed) return true;
    }
}

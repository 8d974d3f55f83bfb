// The object behind every open Windows Media Audio stream: the callback of
// one asynchronous reader running under our own clock, the ring between its
// sample callback and the host's reads, and the attribute operations.
#pragma once
#include <windows.h>
#include <mmreg.h>
#include <stdint.h>

#include "vq_types.h"
#include "wm_runtime.h"

struct RingBuffer;

namespace velvet {

constexpr int kRingBytes = 0x80000;
constexpr LONGLONG kUnitsPerSecond = 10000000;
// Clock granted past the reader's current time, in 100-ns units.
constexpr LONGLONG kGrant = 5000000;
// A reader that reached the granted time and has delivered nothing for this
// long waits for a sample further on (a stream that starts late or has a
// gap): it is granted kGrantAhead more at once, as often as it stays so.
constexpr DWORD kClockWaitMs = 500;
constexpr LONGLONG kGrantAhead = 24LL * 3600 * 10000000;
// Bounds of the waits on the reader.
constexpr DWORD kOpenWaitMs = 30000;
constexpr DWORD kStopWaitMs = 10000;
constexpr DWORD kStartWaitMs = 30000;
// A started reader that delivers nothing for this long has stalled.
constexpr DWORD kStallMs = 20000;
constexpr DWORD kEmptyPollMs = 50;
// Longest pause of a sample callback waiting for room in the ring before it
// looks at the stream's state again.
constexpr DWORD kMaxRoomWaitMs = 100;
// The ring is handed over in good parts: a read waits until its request or
// this much is there, a full ring's sample callback until this much is free.
constexpr uint32_t kHandOverBytes = kRingBytes / 4;
// A read that holds part of its request hands it over when nothing more has
// come for this long.
constexpr DWORD kQuietMs = 200;

// Logs one of the module's texts (string table id, printf arguments) at
// level 15 with the module's class name.
void Message(UINT id, const char* operation, int line, ...);

// The path of a track information record (which need not be terminated
// within its field) as a terminated text.
typedef char RecordPathText[sizeof(TrackInfo::path) + 1];
void RecordPath(const TrackInfo* record, RecordPathText& path);

// Decimal numbers of the attribute texts, independent of the C library's
// locale: the leading number of the text ("." or "," before the fraction),
// 0.0 when there is none; written as "%0.2f" with a decimal point.
double ParseDecimal(const char* text);
void FormatDecimal(double value, char* out, size_t size);

}  // namespace velvet

// The messages (string table ids) and log lines of the steps that open a
// metadata editor for reading or for writing.
struct EditorSteps {
    const char* operation;
    int createLine;
    UINT convertId;
    int convertLine;
    UINT openId;
    int openLine;
    UINT queryId;
    int queryLine;
};

class CWmaFlt final : public IWMReaderCallback, public IWMReaderCallbackAdvanced {
public:
    // *result is S_OK, or E_OUTOFMEMORY when the ring or an event cannot be made.
    explicit CWmaFlt(HRESULT* result);
    ~CWmaFlt();
    CWmaFlt(const CWmaFlt&) = delete;
    CWmaFlt& operator=(const CWmaFlt&) = delete;

    // IUnknown (both bases)
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IWMStatusCallback, IWMReaderCallback
    STDMETHODIMP OnStatus(WMT_STATUS status, HRESULT hr, WMT_ATTR_DATATYPE type, BYTE* value,
                          void* context) override;
    STDMETHODIMP OnSample(DWORD output, QWORD time, QWORD duration, DWORD flags, INSSBuffer* sample,
                          void* context) override;

    // Stream operations.
    virtual HRESULT Open(const char* path, const WAVEFORMATEX* wanted);
    virtual int Read(void* buffer, int count);
    virtual int SetPosition(double seconds);
    virtual double GetPosition();
    virtual double GetDuration();
    virtual int GetPcmFormat(WAVEFORMATEX* out);
    // Attribute operations.
    virtual int GetID3(TrackInfo* out);
    virtual HRESULT GetID3Ex(TrackInfo* io);
    virtual HRESULT SetXTagEx(const TrackInfo* in);
    virtual void Stop();

    // IWMReaderCallbackAdvanced
    STDMETHODIMP OnStreamSample(WORD stream, QWORD time, QWORD duration, DWORD flags, INSSBuffer* sample,
                                void* context) override;
    STDMETHODIMP OnTime(QWORD time, void* context) override;
    STDMETHODIMP OnStreamSelection(WORD count, WORD* streams, WMT_STREAM_SELECTION* selections,
                                   void* context) override;
    STDMETHODIMP OnOutputPropsChanged(DWORD output, WM_MEDIA_TYPE* type, void* context) override;
    STDMETHODIMP AllocateForStream(WORD stream, DWORD bytes, INSSBuffer** buffer, void* context) override;
    STDMETHODIMP AllocateForOutput(DWORD output, DWORD bytes, INSSBuffer** buffer, void* context) override;

    // Fills the track-information cache of an open stream. Where the platform
    // has no metadata editor its reader finds no tags either, and they are
    // read from the file's header by our own reader.
    void FillTrackInfo();

    LONGLONG m_position = 0;
    LONGLONG m_deliverTime = 0;
    LONGLONG m_duration = 0;
    LONG volatile m_refCount = 1;
    LONG volatile m_endOfStream = 0;
    LONG volatile m_running = 0;
    LONG volatile m_stopping = 0;
    RingBuffer* m_fifo = nullptr;
    IWMReader* m_pReader = nullptr;
    IWMHeaderInfo* m_pHeader = nullptr;
    IWMReaderAdvanced* m_pReaderAdvanced = nullptr;
    IWMMetadataEditor* m_pEditor = nullptr;
    HRESULT volatile m_openResult = S_OK;
    HANDLE m_hOpenEvent = nullptr;
    HANDLE m_hStartedEvent = nullptr;
    HANDLE m_hStopEvent = nullptr;
    // Auto-reset: set for a read waiting for data (enough of it is there, or
    // the stream ended), and for a sample callback waiting for room (enough
    // of it is free, or the stream is stopping or seeking).
    HANDLE m_hDataEvent = nullptr;
    HANDLE m_hRoomEvent = nullptr;
    // What a waiting read, and a waiting sample callback, need (0: none waits).
    LONG volatile m_readerNeeds = 0;
    LONG volatile m_writerNeeds = 0;
    WAVEFORMATEX m_readerFormat = {};
    WAVEFORMATEX m_outputFormat = {};
    char m_path[1028] = {};
    TrackInfo m_trackInfo = {};
    LONG volatile m_tagsChanged = 0;

    // The reader accepted Open, and has not been closed since.
    bool m_readerOpen = false;
    // Stop was asked for: nothing more goes into the ring.
    LONG volatile m_closing = 0;
    // The last start of the reader failed: nothing will be delivered.
    LONG volatile m_startFailed = 0;
    // Tick of the last start or delivered sample.
    DWORD volatile m_lastActivity = 0;
    // The reader never came back from a call: it, and this object (its
    // callback), are left to it.
    LONG volatile m_abandoned = 0;
    // The reader reached the granted time and has delivered nothing since,
    // from the tick m_clockWaitTick on.
    LONG volatile m_clockWaiting = 0;
    DWORD volatile m_clockWaitTick = 0;
    // The furthest time granted since the last start, worked out by the
    // reader's threads and the host's under the lock (which is never held
    // across a call into the reader).
    LONGLONG m_granted = 0;
    CRITICAL_SECTION m_clockLock;
    // This start ended on an error, and that was logged.
    LONG volatile m_endLogged = 0;
    // The checked bytes of the file, which the reader reads instead of the
    // file itself where the file is checked first (NULL elsewhere).
    IStream* m_source = nullptr;
    // The reader failed (it reported an error, or stopped on its own): the
    // stream ends on an error once the ring is empty.
    LONG volatile m_failed = 0;
    // A sample of this start was lost: the stream ends on an error where it
    // would have ended.
    LONG volatile m_damaged = 0;
    // The reader reported its close: it calls nothing of ours any more.
    LONG volatile m_closed = 0;

    // Stops and closes the reader, then destroys the stream object unless
    // the reader was abandoned. Objects that opened a reader are destroyed
    // only through here.
    static void Dispose(CWmaFlt* flt);

private:
    // The bound of a blocking call of the reader: the runtime's, else `ms`.
    static DWORD ReaderWait(DWORD ms);
    // Waits for the opened status until `limit` ms after `begin`.
    HRESULT WaitOpened(DWORD begin, DWORD limit);
    // Grants the reader time: from a start, up to `until`; past a time it
    // reached, up to `until` unless more was granted already; ahead,
    // kGrantAhead more than was granted.
    enum GrantKind { GrantFromStart, GrantPast, GrantAhead };
    HRESULT Grant(LONGLONG until, GrantKind kind);
    // Ends the stream of this start on an error (VQ_READ_ERROR), saying why
    // in the log once.
    int EndEarly(UINT id, int line);
    // How a start whose ring is empty and which delivers no more ends: -1 at
    // the true end of the stream, else on an error.
    int Ended();
    // Creates and opens a metadata editor on the file and takes its header info.
    HRESULT OpenEditor(const char* path, const EditorSteps& steps);
    // S_OK with a converted copy, S_FALSE when the sample cannot be converted
    // (it is dropped), E_UNEXPECTED when memory is short.
    HRESULT Convert(const BYTE* data, DWORD length, BYTE** converted, DWORD* convertedLength);
    // Waits until `bytes` can go into the ring, or the stream stops or seeks:
    // false then.
    bool WaitForRoom(uint32_t bytes);
    // A sample of output 0 could not be stored: the stream is cut here.
    void Lose();
    // Waits up to `ms` for the stop or close status (`closed`).
    bool WaitStopEvent(DWORD ms, bool closed);
    // Wakes whoever waits on the ring when what it needs is there.
    void WakeReader();
    void WakeWriter();
};

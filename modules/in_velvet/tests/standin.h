// A stand-in for the Windows Media runtime: a reader that plays a PCM WAV
// through the callback on a thread of its own, never past the time granted to
// it, with scripted statuses and failures; and a metadata editor over a typed
// attribute map that records what is set and flushed.
#pragma once
#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "wm_runtime.h"

namespace standin {

struct Value {
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    std::vector<BYTE> bytes;
    bool operator==(const Value& o) const { return type == o.type && bytes == o.bytes; }
};
Value Text(const std::wstring& s);  // with its terminating NUL
Value Dword(DWORD v);
Value Qword(unsigned long long v);
std::wstring AsText(const Value& v);

using Attributes = std::map<std::wstring, Value>;

struct Script {
    std::string wavPath;                 // what the reader plays
    HRESULT createReader = S_OK;
    HRESULT openCall = S_OK;             // the result of IWMReader::Open itself
    HRESULT openedStatus = S_OK;         // carried by the opened status
    bool sourceSwitch = false;           // opened is reported as status 22
    DWORD outputs = 1;                   // output 1 delivers samples of its own
    bool video = false;                  // output 0 is video
    int startsBeforeFailure = -1;        // starts that succeed before the next fails (-1: none fails)
    HRESULT startFailure = (HRESULT)0xC00D0BCF;
    DWORD startedDelayMs = 0;            // pause before the started status
    DWORD sampleBytes = 8192;
    bool zeroByteRate = false;           // the output format states 0 bytes per second
    DWORD oversizedSample = 0;           // a first sample of this many bytes
    bool hold = false;                   // deliver no samples at all
    QWORD holdFrom = 0;                  // with hold: the samples before this time are delivered first
    QWORD lateStart = 0;                 // sample times begin this long after the start
    std::vector<std::pair<WMT_STATUS, HRESULT>> extraStatuses;  // sent after started
    bool openBlocks = false;             // IWMReader::Open does not return until ReleaseBlocked
    bool closeBlocks = false;            // nor does IWMReader::Close
    DWORD closedLateMs = 0;              // Close returns at once, the closed status comes this much later
    // A stream given to the reader is read on a thread of its own, which then
    // holds it until ReleaseBlocked; the closed status waits for that thread.
    bool streamHeld = false;
    int failBufferAt = -1;               // the sample of output 0 of this number gives no buffer
    DWORD callWaitMs = 0;                // the runtime's bound of a blocking reader call (0: the module's)
    void (*callThreadEnding)(void) = nullptr;  // the runtime's CallThreadEnding
    // DeliverTime called on a thread not the reader's first waits (at most
    // 2 s) for a callback thread of the reader that reports, through OnTime,
    // the time it reached.
    bool onTimeInDeliver = false;
    // The file's attributes, read by the reader's and the editor's header;
    // flushing an editor writes its changes here.
    Attributes attributes;
    bool platformEditor = true;
    HRESULT createEditor = S_OK;
    HRESULT editorOpen = S_OK;
    std::wstring failSetOn;              // SetAttribute of this name fails
    HRESULT setFailure = E_ACCESSDENIED;
};

struct Record {
    std::atomic<int> grants{0};
    std::atomic<unsigned long long> lastGrant{0};
    std::atomic<int> userClock{0};
    std::atomic<int> inSample{0};        // a sample callback is running now
    std::atomic<int> comMissing{0};      // calls made on a thread without COM
    std::atomic<int> readersAlive{0};
    std::atomic<int> callsRunning{0};    // Open or Close calls of readers running now
    std::atomic<int> freedInCall{0};     // a reader destroyed while a call of it was still running
    std::atomic<int> deliverStuck{0};    // DeliverTime gave up waiting for its OnTime callback
    std::atomic<int> lateClosed{0};      // closed statuses sent after Close returned
    std::atomic<int> releasedBeforeClosed{0};  // a reader let go of before its closed status was sent
    std::atomic<int> holdingStream{0};   // a reader's thread read its stream and holds it now
    std::vector<HRESULT> sampleResults;  // of output 0, in order (guarded by the stand-in)
    std::vector<std::pair<std::wstring, Value>> sets;  // every SetAttribute, in order
    int flushes = 0;
    std::wstring editorPath;
};

// Installs the stand-in as the module's runtime with a fresh record.
void Install(const Script& script);
void Uninstall();
// Lets every call blocked by the script return (true), or blocks them again.
void ReleaseBlocked(bool released = true);
Script& CurrentScript();
Record& CurrentRecord();
std::vector<HRESULT> SampleResults();

// The data chunk and format of a PCM WAV file.
bool LoadWav(const std::string& path, WAVEFORMATEX* format, std::vector<BYTE>* data);

}  // namespace standin

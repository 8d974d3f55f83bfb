// Conversion engines of the host, written against a small window-free
// interface: the wizard binds it to its pages, tests to plain data and fakes,
// the headless driver to the console. The file batch engine (ProccessFiles)
// lives here; a live-capture engine shares the same context, sink, flags,
// clock, actions and block path helpers.
#pragma once
#include <windows.h>
#include <atomic>
#include "vq_module.h"

enum {
    EngineMaxModules = 32,
    EngineMaxChain = 32,
    EnginePathChars = 1024,   // a file row's path with its terminator
    EngineTagPathChars = 255  // a path that fits TrackInfo.path as the host fills it
};

// Texts the engines show and log. The host maps them to its string tables;
// without a text source the English texts are used.
enum EngineTextId {
    TxtEncoding = 0,         // "Encoding \"%s\"..."
    TxtOpeningSource,        // "Opening source file..."
    TxtAllocError,           // "Error allocating memory."
    TxtOpeningDsp,           // "Opening DSP Module..."
    TxtOpeningEncoder,       // "Opening Encoder Module..."
    TxtProcessing,           // "Processing audio data..."
    TxtClosingEncoder,       // "Closing Encoder Module..."
    TxtEncoderOpenError,     // "Error opening Encoder Module!"
    TxtClosingDsp,           // "Closing DSP Module"
    TxtClosingSource,        // "Closing source file..."
    TxtDeleteError,          // "Error deleting file \"%s\""
    TxtDeleted,              // "Source file \"%s\" deleted."
    TxtSourceOpenError,      // "Error opening source file!"
    TxtFileComplete,         // "File complete.\n"
    TxtBadFormat,            // "Invalid stream format."
    TxtDspOpenError,         // "Error opening DSP Module!"
    TxtDspError,             // "DSP Module error."
    TxtWriteError,           // "Error writing to Encoder Module!"
    TxtTotalTime,            // "Total encoding time: %s"
    TxtPrescanTrack,         // "Current track: %s\nTime: %s"
    TxtGeneralProgress,      // "General: %0.1f%%, ETA: %s\nRemaining: %d files."
    TxtTrackProgress,        // "Current track: %s (%0.1f%%), ETA: %s\nFile name: %s"
    TxtLevel,                // "Level: %sdB\nPeak: %sdB"
    TxtTitleProgress,        // "%s - %0.1f%% (ETA: %s) Remaining: %d files."
    TxtTitlePaused,          // "%s - Paused"
    TxtReadError,            // "Error reading source file!"
    TxtSourcesNotHeld,       // "Not enough open files to protect every source: %d of %d source files are
                             // not held until their turn."
    EngineTextCount
};
// Copies text `id` into buf (size bytes); returns its length, 0 when it has
// none (the English text is used then).
typedef int(__cdecl* EngineTextFn)(int id, char* buf, int size);
const char* EngineDefaultText(int id);

// What the engines show: the Processing page's three bars and texts, the
// window title, the Pause button and the wizard's navigation. Every call is
// shown at once; the engines pace their progress updates themselves.
class EngineProgressSink {
public:
    enum Bar { BarGeneral = 0, BarTrack = 1, BarLevel = 2 };
    enum Text { TextGeneral = 0, TextTrack = 1, TextLevel = 2 };
    virtual ~EngineProgressSink() {}
    virtual void SetBarRange(Bar bar, int maximum) = 0;  // 0..maximum, full 32-bit range
    virtual void SetBarPos(Bar bar, int position) = 0;
    virtual void SetText(Text which, const char* text) = 0;
    virtual void SetTitle(const char* text) = 0;
    virtual void EnablePause(bool enable) = 0;
    // A run that ended early (no encoder, no memory) gives the wizard back.
    virtual void EnableNavigation() = 0;
    // The run is over: the window title goes back to the program's own.
    virtual void RestoreTitle() = 0;
};

// A sink that shows nothing, for runs without a window.
class NullProgressSink : public EngineProgressSink {
public:
    void SetBarRange(Bar, int) override {}
    void SetBarPos(Bar, int) override {}
    void SetText(Text, const char*) override {}
    void SetTitle(const char*) override {}
    void EnablePause(bool) override {}
    void EnableNavigation() override {}
    void RestoreTitle() override {}
};

// The Files page's rows (sorted by path): read in order, taken from the front.
class EngineFileRows {
public:
    virtual ~EngineFileRows() {}
    virtual int Count() = 0;
    // Path of a row into buf; false when the row is gone or does not fit.
    virtual bool PathAt(int row, char* buf, int size) = 0;
    // Removes the first row and gives its path; false when the list is empty.
    virtual bool TakeFirst(char* buf, int size) = 0;
};

// Plain-data rows kept in ascending path order, as the Files page sorts them
// (case-insensitive). Paths that do not fit a track record are refused.
class SortedFileRows : public EngineFileRows {
public:
    ~SortedFileRows() override;
    bool Add(const char* path);
    int Count() override;
    bool PathAt(int row, char* buf, int size) override;
    bool TakeFirst(char* buf, int size) override;

private:
    struct Row {
        char path[EngineTagPathChars];
    };
    void Settle();
    Row* rows = nullptr;  // in the order they were added
    int count = 0, capacity = 0;
    // Row numbers: order[head..sorted) in path order, order[sorted..count)
    // added since and sorted in when the rows are next read.
    int* order = nullptr;
    int head = 0, sorted = 0;
    bool addedInOrder = true;  // order[sorted..count) already in path order
    CRITICAL_SECTION* lock = nullptr;
};

// What became of the paths of a list file.
enum class ListFileResult { Added, Unreadable, Utf16, PathRefused };

// Adds the paths of a text file, one a line (CR LF or LF; empty lines are
// skipped, so is a UTF-8 byte-order mark at the start), counting them in
// *added. A UTF-16 file adds nothing. A path that does not fit a row ends the
// reading; its line goes to refused.
ListFileResult AddListFile(SortedFileRows* rows, const char* listFile, int* added, char* refused, int refusedSize);

// Time source: whole seconds (the start times handed to ETA), sleeping, and
// a millisecond count that paces the display.
class EngineClock {
public:
    virtual ~EngineClock() {}
    virtual int Now() = 0;
    virtual void Sleep(int ms) = 0;
    virtual unsigned Ticks() { return GetTickCount(); }
};
EngineClock* SystemClock();

// The display takes about ten updates a second: a block's bars, texts and
// title are built and shown when 100 ms have passed since the last shown
// block, and always for the first block after Force() (a new track, the end
// of a pause). The engines show the last block of a track in any case.
class EngineDisplayPace {
public:
    enum { IntervalMs = 100 };
    explicit EngineDisplayPace(EngineClock* c) : clock(c) {}
    // True when this block is to be shown (it then counts as shown).
    bool Due();
    void Force() { forced = true; }

private:
    EngineClock* clock;
    unsigned lastShown = 0;
    bool forced = true;
};

// What a finished run could not do, handed to the "When done" action.
struct EngineRunSummary {
    enum { MaxNames = 10 };
    enum Recording { RecordingNone = 0, RecordingNotStarted = 1, RecordingBroken = 2 };
    int files;   // files taken from the list
    int failed;  // of those, files not converted (no input module, open, format, DSP, encoder or write failure)
    char failedNames[MaxNames][EnginePathChars];  // the first failed paths
    int recording;  // a recording that could not start or ended on an error
};
void EngineRunSummaryInit(EngineRunSummary* summary);
// Counts one file of the run; a failed one is named while there is room.
void EngineRunSummaryAdd(EngineRunSummary* summary, const char* path, bool converted);
inline bool EngineRunFailed(const EngineRunSummary& s) { return s.failed > 0 || s.recording != 0; }

// Host actions and live settings the engines consult.
class EngineActions {
public:
    virtual ~EngineActions() {}
    // Rebuilds the chain (DSP table indexes, -1 after the last) from the DSP page.
    virtual void RebuildDspChain(int chain[EngineMaxChain]) { (void)chain; }
    // Priority for the worker thread (the Processing page's choice).
    virtual int ThreadPriority() { return THREAD_PRIORITY_NORMAL; }
    // "Delete original files", read for every file.
    virtual bool DeleteOriginals() { return false; }
    // The "When done" action, after a run that was not stopped, with what failed in it.
    virtual void WhenDone(const EngineRunSummary& summary) { (void)summary; }
    // A file of the batch has been handled (converted: written and closed without failure).
    virtual void FileFinished(const char* path, bool converted) { (void)path; (void)converted; }
    // Tag fields for a recording without track information (Source page).
    virtual void RecordingTags(TrackInfo* info) { (void)info; }
};

// The loader's four module tables (32 slots each, NULL = empty).
struct EngineModules {
    IVqProModule* const* inputs;
    IVqProModule* const* encoders;
    IVqProModule* const* captures;
    IVqProModule* const* dsps;
};

struct EngineContext {
    EngineModules modules;
    int encoderIndex;                // encoder table slot, below 0: none
    int captureIndex;                // capture table slot, below 0: none
    int dspChain[EngineMaxChain];    // DSP table slots, -1 after the last
    EngineFileRows* files;
    EngineProgressSink* sink;
    EngineClock* clock;              // NULL: the system clock
    EngineActions* actions;
    std::atomic<int>* stopFlag;
    std::atomic<int>* pauseFlag;
    const char* displayName;         // host's DisplayName for the window title
    const char* logFile;
    int* logLevel;
    EngineTextFn text;               // NULL: English texts
};

// Fills a context with safe empty values (no modules, no encoder, empty chain).
void EngineContextInit(EngineContext* ctx);

// File batch engine: converts every row of ctx->files. -1 when no encoder is
// selected, else 0.
int ProccessFiles(EngineContext* ctx);
// Thread procedure form (the argument is the EngineContext).
DWORD WINAPI ProccessFilesThread(LPVOID context);

// Level meters: largest absolute sample and root mean square of a block, 0..1.
// 32-bit samples are float unless the format tag is 1 (integer PCM).
double ComputePeak(const char* data, unsigned bytes, const StreamFormat* fmt);
// ComputeRms reads 8 and 16-bit blocks only (0 for any other width).
double ComputeRms(const char* data, unsigned bytes, const StreamFormat* fmt);
// Root mean square of 8, 16, 24 or 32-bit integer or 32-bit float blocks; a
// float that is not finite counts as 0.
double ComputeRmsAnyWidth(const char* data, unsigned bytes, const StreamFormat* fmt);

// ---- Block path shared by the engines ----

// One stream's buffers and DSP instances.
struct EngineStream {
    StreamFormat format;
    char* inputBlock;          // blockBytes
    char* outputBuffer;        // outputBytes
    int blockBytes;            // 100 ms rounded down to whole frames (at least one frame)
    int outputBytes;           // one second, never less than a block
    void* dsp[EngineMaxChain]; // instances per chain position (NULL where none)
    double highestPeak;
};

// False (with the "Invalid stream format." log line) for a format with no
// channels, rate, block align or bytes per second.
bool EngineCheckFormat(EngineContext* ctx, const StreamFormat* fmt, const char* function, int line);
// Sizes and allocates the two buffers; false when either allocation fails
// (nothing stays allocated), after the "Error allocating memory." line with
// the source line of the buffer that failed.
bool EngineAllocBuffers(EngineContext* ctx, EngineStream* s, const char* function, int inputLine, int outputLine);
void EngineFreeBuffers(EngineStream* s);
// Opens one instance per chain position with its section "%s::DSP%03d".
// False when a position's Open returned NULL (the others stay open for closing).
bool EngineOpenDsps(EngineContext* ctx, EngineStream* s, int openLogLevel, const char* function, int line);
// Runs n input bytes through the chain into the output buffer. Returns the
// output byte count, or -1 when a DSP failed (result below 0 or above its input).
int EngineRunDsps(EngineContext* ctx, EngineStream* s, int n);
void EngineCloseDsps(EngineContext* ctx, EngineStream* s, const char* function, int line);
// Peak of the n output bytes (see ComputePeak); the stream's highest peak follows it.
double EngineBlockPeak(EngineStream* s, int n);
// Level bar and level text of a block: its peak and the highest so far, with
// the level text's format (TxtLevel, loaded once by the caller).
void EngineShowLevel(EngineContext* ctx, const char* levelFormat, double peak, double highestPeak);
// Level test, then the log line with text `id` (printf-style with the arguments).
void EngineLog(EngineContext* ctx, int id, int level, const char* function, int line, ...);
// Text `id` in the host's language.
const char* EngineText(EngineContext* ctx, int id, char* buf, int size);

// Allocation used for the stream buffers (tests replace it to make it fail).
extern void* (*g_engineAlloc)(size_t bytes);

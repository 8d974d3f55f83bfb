// Live-capture engine: capture module -> DSP chain -> encoder, block by block,
// with the time limit, pause, silence splitting and the level display.
#include "capture_engine.h"

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "pyl_comlib.h"
#include "vq_log.h"

namespace {

const char kFn[] = "ProccessLiveInput";
const char kTimeFormat[] = "%00h:%00m:%00s";

const char* const kCaptureTexts[CaptureTextEnd - TxtOpeningCapture] = {
    "Opening Audio Capture Module...",
    "Error opening capture module, unable to continue!",
    "Closing Capture Module...",
    "Recorded time: %s\n",
    "Total recorded time: %s (Remaining: %s)\n",
    "%s - Recorded time: %s",
};

bool Stopped(EngineContext* ctx) { return ctx->stopFlag && ctx->stopFlag->load() != 0; }
bool Paused(EngineContext* ctx) { return ctx->pauseFlag && ctx->pauseFlag->load() != 0; }

int ClampToInt(double v)
{
    if (!(v > 0.0))
        return 0;
    return v >= (double)INT_MAX ? INT_MAX : (int)v;
}

const char* Text(EngineContext* ctx, int id, char* buf, int size)
{
    if (id < TxtOpeningCapture)
        return EngineText(ctx, id, buf, size);
    buf[0] = 0;
    if (!ctx->text || ctx->text(id, buf, size) <= 0)
        lstrcpynA(buf, CaptureDefaultText(id), size);
    return buf;
}

void Log(EngineContext* ctx, int id, int level, int line)
{
    if (!LogLevelPasses(level, ctx->logLevel))
        return;
    char text[512];
    LogMessage("PylPUM", kFn, line, Text(ctx, id, text, sizeof(text)), level, ctx->logFile);
}

class Recorder {
public:
    Recorder(EngineContext* c, CaptureSettings* s)
        : ctx(c), settings(s), clock(c->clock ? c->clock : SystemClock()), pace(clock)
    {
        memset(&stream, 0, sizeof(stream));
        memset(&info, 0, sizeof(info));
        lastName[0] = 0;
    }

    int Run();

private:
    void Record();
    void FillTrackInfo();
    // Texts, bars, level and title of a block recorded up to t seconds.
    void ShowBlock(double t, double peak, double highestPeak);
    void Split();
    // Closes the current output file; one that does not close cleanly may be
    // incomplete, so the recording counts as broken.
    void CloseOutput();
    void SetTitle(int id, const char* arg);

    EngineContext* ctx;
    CaptureSettings* settings;
    EngineClock* clock;
    EngineDisplayPace pace;
    // Formats of the texts every shown block needs, loaded once per run.
    char trackFormat[256], generalFormat[256], titleFormat[256], levelFormat[256];
    IVqProModule* capture = nullptr;
    IVqProModule* encoder = nullptr;
    void* source = nullptr;
    void* out = nullptr;
    EngineStream stream;
    TrackInfo info;
    char lastName[EngineTagPathChars];
    int sameNameCount = 0;
    double highestRms = 0.0;
    double lastLoud = 0.0;
    // Set when the recording could not start or ended on an error.
    int failure = EngineRunSummary::RecordingNone;
    bool recorded = false;  // the encoder opened and the recording ran
};

void Recorder::SetTitle(int id, const char* arg)
{
    char format[256], title[512];
    snprintf(title, sizeof(title), Text(ctx, id, format, sizeof(format)), ctx->displayName ? ctx->displayName : "",
             arg);
    ctx->sink->SetTitle(title);
}

// The capture module's track information, or the host's own: the recording's
// name from the local time and the Source page's tag fields.
void Recorder::FillTrackInfo()
{
    if (capture->capture.GetTag && capture->capture.GetTag(&info, source) != 0)
        return;
    memset(&info, 0, sizeof(info));
    char name[EngineTagPathChars];
    CaptureRecordingName(name, sizeof(name), (time_t)clock->Now());
    // Two recordings named within one second must not share a file.
    if (strcmp(name, lastName) == 0) {
        char unique[EngineTagPathChars + 16];
        snprintf(unique, sizeof(unique), "%s (%d)", lastName, ++sameNameCount + 1);
        lstrcpynA(info.path, unique, EngineTagPathChars);
    } else {
        sameNameCount = 0;
        lstrcpynA(lastName, name, sizeof(lastName));
        lstrcpynA(info.path, name, EngineTagPathChars);
    }
    if (ctx->actions) {
        char path[sizeof(info.path)];
        memcpy(path, info.path, sizeof(path));
        ctx->actions->RecordingTags(&info);
        memcpy(info.path, path, sizeof(path));
    }
}

void Recorder::ShowBlock(double t, double peak, double highestPeak)
{
    char recorded[64], remaining[64], text[512];
    int limit = settings->TimeLimit();
    FormatTime(recorded, sizeof(recorded), kTimeFormat, t);
    double left = limit - t;
    FormatTime(remaining, sizeof(remaining), kTimeFormat, left > 0.0 ? left : 0.0);
    snprintf(text, sizeof(text), trackFormat, recorded);
    ctx->sink->SetText(EngineProgressSink::TextTrack, text);
    snprintf(text, sizeof(text), generalFormat, recorded, remaining);
    ctx->sink->SetText(EngineProgressSink::TextGeneral, text);
    ctx->sink->SetBarPos(EngineProgressSink::BarTrack, ClampToInt(t));
    ctx->sink->SetBarPos(EngineProgressSink::BarGeneral, ClampToInt(t));
    EngineShowLevel(ctx, levelFormat, peak, highestPeak);
    char title[512];
    snprintf(title, sizeof(title), titleFormat, ctx->displayName ? ctx->displayName : "", recorded);
    ctx->sink->SetTitle(title);
}

// Sound came back after a long silence: the rest goes into a new file.
void Recorder::Split()
{
    FillTrackInfo();
    Log(ctx, TxtOpeningEncoder, LogDebug, 348);
    void* next = encoder->encoder.Open(&info, &stream.format, VQ_HOST_SECTION);
    if (!next) {
        Log(ctx, TxtEncoderOpenError, LogError, 367);
        return;
    }
    Log(ctx, TxtClosingEncoder, LogDebug, 355);
    CloseOutput();
    out = next;
    highestRms = 0.0;
    stream.highestPeak = 0.0;
}

void Recorder::CloseOutput()
{
    if (encoder->encoder.Close(out) < 1 && failure == EngineRunSummary::RecordingNone)
        failure = EngineRunSummary::RecordingBroken;
}

void Recorder::Record()
{
    recorded = true;
    Log(ctx, TxtProcessing, LogDebug, 226);
    highestRms = 0.0;
    stream.highestPeak = 0.0;
    lastLoud = 0.0;
    bool ended = false;
    double t = 0.0, peak = 0.0, highest = 0.0;
    bool unshown = false;  // the last block has not been shown yet
    pace.Force();
    do {
        if (Paused(ctx)) {
            // The display stops on the block before the pause, then the title
            // says "Paused" until the pause ends.
            if (unshown)
                ShowBlock(t, peak, highest);
            unshown = false;
            SetTitle(TxtTitlePaused, "");
            capture->capture.Pause(1, source);
            while (Paused(ctx) && !Stopped(ctx))
                clock->Sleep(50);
            capture->capture.Pause(0, source);
            pace.Force();
        }
        int n = capture->capture.Read(stream.inputBlock, stream.blockBytes, source);
        while (n == 0 && !Stopped(ctx)) {
            clock->Sleep(50);
            n = capture->capture.Read(stream.inputBlock, stream.blockBytes, source);
        }
        if (n < 0) {
            // The device failed or the capture instance is gone: what was
            // recorded is kept, the recording counts as broken.
            if (!Stopped(ctx)) {
                Log(ctx, TxtReadError, LogError, 210);
                failure = EngineRunSummary::RecordingBroken;
            }
            break;
        }
        if (n > stream.blockBytes)
            n = stream.blockBytes;
        n = EngineRunDsps(ctx, &stream, n);
        if (n < 0) {
            EngineLog(ctx, TxtDspError, LogError, kFn, 300);
            failure = EngineRunSummary::RecordingBroken;
            break;
        }
        if (Stopped(ctx))
            break;

        t = capture->capture.GetTime(source);
        if (!(t >= 0.0))
            t = 0.0;
        peak = EngineBlockPeak(&stream, n);
        highest = stream.highestPeak;
        unshown = !pace.Due();
        if (!unshown)
            ShowBlock(t, peak, highest);

        if (settings->SilenceDetection() && n > 0) {
            double rms = CaptureRms(stream.outputBuffer, (unsigned)n, &stream.format);
            if (rms > highestRms)
                highestRms = rms;
            if (rms > highestRms / 30.0) {
                if (t - lastLoud > settings->SilenceLength())
                    Split();
                lastLoud = t;
            } else if (t - lastLoud > settings->MaximumSilence()) {
                ended = true;  // this block is still written
            }
        }

        if (n > 0 && encoder->encoder.Write(stream.outputBuffer, n, out) < 0) {
            // A full disk or a broken output: stop rather than record into nothing.
            EngineLog(ctx, TxtWriteError, LogError, kFn, 380);
            failure = EngineRunSummary::RecordingBroken;
            break;
        }
    } while (t < settings->TimeLimit() && !ended);
    if (unshown)
        ShowBlock(t, peak, highest);
    Log(ctx, TxtClosingEncoder, LogDebug, 390);
    CloseOutput();
    out = nullptr;
}

int Recorder::Run()
{
    if (ctx->captureIndex >= 0 && ctx->captureIndex < EngineMaxModules && ctx->modules.captures)
        capture = ctx->modules.captures[ctx->captureIndex];
    if (ctx->encoderIndex >= 0 && ctx->encoderIndex < EngineMaxModules && ctx->modules.encoders)
        encoder = ctx->modules.encoders[ctx->encoderIndex];
    if (!capture || !encoder) {
        ctx->sink->EnableNavigation();
        return -1;
    }
    Text(ctx, TxtRecordedTrack, trackFormat, sizeof(trackFormat));
    Text(ctx, TxtRecordedGeneral, generalFormat, sizeof(generalFormat));
    Text(ctx, TxtTitleRecorded, titleFormat, sizeof(titleFormat));
    Text(ctx, TxtLevel, levelFormat, sizeof(levelFormat));
    if (ctx->actions)
        ctx->actions->RebuildDspChain(ctx->dspChain);
    SetThreadPriority(GetCurrentThread(), ctx->actions ? ctx->actions->ThreadPriority() : THREAD_PRIORITY_NORMAL);
    ctx->sink->EnablePause(true);
    int limit = settings->TimeLimit();
    ctx->sink->SetBarRange(EngineProgressSink::BarGeneral, limit > 0 ? limit : 0);
    ctx->sink->SetBarPos(EngineProgressSink::BarGeneral, 0);
    ctx->sink->SetBarRange(EngineProgressSink::BarTrack, limit > 0 ? limit : 0);
    ctx->sink->SetBarPos(EngineProgressSink::BarTrack, 0);
    ctx->sink->SetBarRange(EngineProgressSink::BarLevel, 100);
    ctx->sink->SetText(EngineProgressSink::TextGeneral, "");

    if (!Stopped(ctx)) {
        Log(ctx, TxtOpeningCapture, LogDebug, 143);
        source = capture->capture.Open(nullptr, VQ_HOST_SECTION);
        if (!source) {
            Log(ctx, TxtCaptureOpenError, LogError, 423);
            failure = EngineRunSummary::RecordingNotStarted;
        } else {
            bool formatOk = capture->capture.GetPcmFormat(&stream.format, source) > 0 &&
                            EngineCheckFormat(ctx, &stream.format, kFn, 160);
            if (formatOk && !EngineAllocBuffers(ctx, &stream, kFn, 165, 173)) {
                // No memory: the capture instance is closed and the run ends without "When done".
                Log(ctx, TxtClosingCapture, LogDebug, 415);
                capture->capture.Close(source);
                ctx->sink->RestoreTitle();
                ctx->sink->EnableNavigation();
                return 0;
            }
            if (formatOk && EngineOpenDsps(ctx, &stream, LogError, kFn, 186)) {
                FillTrackInfo();
                Log(ctx, TxtOpeningEncoder, LogDebug, 216);
                out = encoder->encoder.Open(&info, &stream.format, VQ_HOST_SECTION);
                if (out)
                    Record();
                else
                    Log(ctx, TxtEncoderOpenError, LogError, 398);
            }
            if (failure == EngineRunSummary::RecordingNone && !recorded)
                failure = EngineRunSummary::RecordingNotStarted;  // no format, a DSP or the encoder
            EngineCloseDsps(ctx, &stream, kFn, 407);
            Log(ctx, TxtClosingCapture, LogDebug, 415);
            capture->capture.Close(source);
            source = nullptr;
            EngineFreeBuffers(&stream);
        }
    }
    Log(ctx, TxtFileComplete, LogDebug, 429);
    if (Stopped(ctx))
        return 0;
    ctx->sink->RestoreTitle();
    if (ctx->actions) {
        EngineRunSummary summary;
        EngineRunSummaryInit(&summary);
        summary.recording = failure;
        ctx->actions->WhenDone(summary);
    }
    return 0;
}

}  // namespace

const char* CaptureDefaultText(int id)
{
    if (id >= TxtOpeningCapture && id < CaptureTextEnd)
        return kCaptureTexts[id - TxtOpeningCapture];
    return EngineDefaultText(id);
}

int ProccessLiveInput(EngineContext* ctx, CaptureSettings* settings)
{
    if (!ctx || !ctx->sink || !settings)
        return -1;
    Recorder recorder(ctx, settings);
    return recorder.Run();
}

DWORD WINAPI ProccessLiveInputThread(LPVOID job)
{
    CaptureJob* j = (CaptureJob*)job;
    return (DWORD)ProccessLiveInput(j ? j->ctx : nullptr, j ? j->settings : nullptr);
}

double CaptureRms(const char* data, unsigned bytes, const StreamFormat* fmt)
{
    return ComputeRmsAnyWidth(data, bytes, fmt);
}

void CaptureRecordingName(char* buf, int size, time_t when)
{
    // Seconds since 1970 (UTC) to the system's local time.
    ULARGE_INTEGER ticks;
    ticks.QuadPart = ((uint64_t)(int64_t)when + 11644473600ull) * 10000000ull;
    FILETIME utc = {ticks.LowPart, ticks.HighPart};
    SYSTEMTIME st, local;
    memset(&local, 0, sizeof(local));
    if (!FileTimeToSystemTime(&utc, &st) || !SystemTimeToTzSpecificLocalTime(nullptr, &st, &local))
        memset(&local, 0, sizeof(local));
    snprintf(buf, (size_t)size, "%s(%04d-%02d-%02d %02d-%02d-%02d)", VQ_HOST_SECTION, local.wYear, local.wMonth,
             local.wDay, local.wHour, local.wMinute, local.wSecond);
}

// File batch engine: converts the listed files one after another through the
// owning input module, the DSP chain and the chosen encoder.
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include "engine.h"
#include "pyl_comlib.h"
#include "source_holds.h"
#include "vq_log.h"

namespace {

const char kFn[] = "ProccessFiles";
const char kTimeFormat[] = "%00h:%00m:%00s";

IVqProModule* FindInput(EngineContext* ctx, const char* path)
{
    if (!ctx->modules.inputs)
        return nullptr;
    for (int i = 0; i < EngineMaxModules; i++) {
        IVqProModule* m = ctx->modules.inputs[i];
        if (m && m->input.IsOurFile && m->input.IsOurFile(path))
            return m;
    }
    return nullptr;
}

int ClampToInt(double v)
{
    if (!(v > 0.0))
        return 0;
    return v >= (double)INT_MAX ? INT_MAX : (int)v;
}

double Percent(double done, double total) { return total > 0.0 ? done * 100.0 / total : 0.0; }

bool Stopped(EngineContext* ctx) { return ctx->stopFlag && ctx->stopFlag->load() != 0; }
bool Paused(EngineContext* ctx) { return ctx->pauseFlag && ctx->pauseFlag->load() != 0; }

// What the display shows of one block.
struct BlockView {
    double pos;      // elapsed seconds of the track
    double peak;     // the block's peak, 0..1
    double highest;  // the track's highest peak so far
};

class Runner {
public:
    explicit Runner(EngineContext* c) : ctx(c), clock(c->clock ? c->clock : SystemClock()), pace(clock) {}

    int Run();

private:
    double Prescan();
    void ShowPrescanRow(const char* path, double sum, double duration);
    // Converts one file; a file that fails is told as failed and the batch goes on.
    void ConvertFile(const char* path, int remaining);
    // Tells the host how a file of the batch ended and counts it for the run's summary.
    void Finished(const char* path, bool converted);
    void ShowBlock(const char* path, const BlockView& view, double duration, int fileStart, int remaining);

    EngineContext* ctx;
    EngineClock* clock;
    EngineDisplayPace pace;
    // Formats of the texts every shown block needs, loaded once per run.
    char generalFormat[256], trackFormat[256], titleFormat[256], levelFormat[256];
    IVqProModule* encoder = nullptr;
    double total = 0.0;
    double processed = 0.0;
    int batchStart = 0;
    EngineRunSummary summary;
    EngineSourceHolds holds;
};

void Runner::Finished(const char* path, bool converted)
{
    // Whatever ended the file, its source is the user's again (and may be
    // deleted below when it was converted).
    holds.Release(path);
    if (ctx->actions)
        ctx->actions->FileFinished(path, converted);
    // A file cut short by the user's stop is not a failure.
    if (!Stopped(ctx))
        EngineRunSummaryAdd(&summary, path, converted);
}

void Runner::ShowPrescanRow(const char* path, double sum, double duration)
{
    char format[256], timeText[64], text[EnginePathChars + 128];
    FormatTime(timeText, sizeof(timeText), kTimeFormat, sum);
    snprintf(text, sizeof(text), EngineText(ctx, TxtTotalTime, format, sizeof(format)), timeText);
    ctx->sink->SetText(EngineProgressSink::TextGeneral, text);
    FormatTime(timeText, sizeof(timeText), kTimeFormat, duration);
    snprintf(text, sizeof(text), EngineText(ctx, TxtPrescanTrack, format, sizeof(format)), path, timeText);
    ctx->sink->SetText(EngineProgressSink::TextTrack, text);
}

double Runner::Prescan()
{
    double sum = 0.0;
    char path[EnginePathChars], shownPath[EnginePathChars] = "";
    double shownDuration = 0.0;
    bool pending = false;
    TrackInfo info;
    int rows = ctx->files->Count();
    pace.Force();
    for (int row = 0; row < rows && !Stopped(ctx); row++) {
        if (!ctx->files->PathAt(row, path, sizeof(path)))
            continue;
        IVqProModule* m = FindInput(ctx, path);
        if (!m)
            continue;
        memset(&info, 0, sizeof(info));
        // A path that does not fit the record is not cut: its duration stays unknown.
        if (strlen(path) < EngineTagPathChars) {
            lstrcpynA(info.path, path, EngineTagPathChars);
            if (m->input.GetTagEx && m->input.GetTagEx(&info) && info.duration > 0.0)
                sum += info.duration;
        }
        double duration = info.duration > 0.0 ? info.duration : 0.0;
        pending = !pace.Due();
        if (pending) {
            lstrcpynA(shownPath, path, sizeof(shownPath));
            shownDuration = duration;
        } else {
            ShowPrescanRow(path, sum, duration);
        }
    }
    if (pending)
        ShowPrescanRow(shownPath, sum, shownDuration);
    return sum;
}

void Runner::ShowBlock(const char* path, const BlockView& view, double duration, int fileStart, int remaining)
{
    char etaText[64], posText[64], text[EnginePathChars + 256];
    double pos = view.pos, overall = processed + pos;
    ctx->sink->SetBarPos(EngineProgressSink::BarGeneral, ClampToInt(overall));
    double overallEta = ETA(overall, total, batchStart);
    FormatTime(etaText, sizeof(etaText), kTimeFormat, overallEta);
    double overallPercent = Percent(overall, total);
    snprintf(text, sizeof(text), generalFormat, overallPercent, etaText, remaining);
    ctx->sink->SetText(EngineProgressSink::TextGeneral, text);
    char title[512];
    snprintf(title, sizeof(title), titleFormat, ctx->displayName ? ctx->displayName : "", overallPercent, etaText,
             remaining);

    ctx->sink->SetBarPos(EngineProgressSink::BarTrack, ClampToInt(pos * 1000.0));
    double trackEta = ETA(pos, duration, fileStart);
    FormatTime(posText, sizeof(posText), kTimeFormat, pos);
    FormatTime(etaText, sizeof(etaText), kTimeFormat, trackEta);
    snprintf(text, sizeof(text), trackFormat, posText, Percent(pos, duration), etaText, path);
    ctx->sink->SetText(EngineProgressSink::TextTrack, text);
    EngineShowLevel(ctx, levelFormat, view.peak, view.highest);
    ctx->sink->SetTitle(title);
}

void Runner::ConvertFile(const char* path, int remaining)
{
    EngineLog(ctx, TxtEncoding, LogInfo, kFn, 594, path);
    IVqProModule* input = FindInput(ctx, path);
    if (!input) {
        Finished(path, false);
        return;
    }
    EngineLog(ctx, TxtOpeningSource, LogDebug, kFn, 608);
    void* stream = input->input.Open(path, nullptr);
    if (!stream) {
        EngineLog(ctx, TxtSourceOpenError, LogError, kFn, 830);
        Finished(path, false);
        return;
    }
    EngineStream s;
    memset(&s, 0, sizeof(s));
    bool success = true;
    input->input.GetPcmFormat(&s.format, stream);
    if (!EngineCheckFormat(ctx, &s.format, kFn, 612)) {
        EngineLog(ctx, TxtClosingSource, LogDebug, kFn, 806);
        input->input.Close(stream);
        Finished(path, false);
        return;
    }
    if (!EngineAllocBuffers(ctx, &s, kFn, 634, 642)) {
        // This file's buffers cannot be had: it fails alone, the batch goes on.
        EngineLog(ctx, TxtClosingSource, LogDebug, kFn, 806);
        input->input.Close(stream);
        Finished(path, false);
        return;
    }
    if (!EngineOpenDsps(ctx, &s, LogDebug, kFn, 655))
        success = false;

    TrackInfo info;
    memset(&info, 0, sizeof(info));
    if (input->input.GetTag)
        input->input.GetTag(&info, stream);
    double duration = info.duration > 0.0 ? info.duration : 0.0;
    ctx->sink->SetBarRange(EngineProgressSink::BarTrack, ClampToInt(duration * 1000.0));

    void* out = nullptr;
    uint64_t written = 0;
    int closed = 0;
    if (success) {
        EngineLog(ctx, TxtOpeningEncoder, LogDebug, kFn, 672);
        out = encoder->encoder.Open(&info, &s.format, VQ_HOST_SECTION);
        if (!out) {
            success = false;
            EngineLog(ctx, TxtEncoderOpenError, LogError, kFn, 789);
        }
    }
    if (out) {
        EngineLog(ctx, TxtProcessing, LogDebug, kFn, 682);
        int fileStart = clock->Now();
        s.highestPeak = 0.0;
        BlockView last = {0.0, 0.0, 0.0};
        bool unshown = false;  // the last block has not been shown yet
        pace.Force();
        for (;;) {
            if (Paused(ctx)) {
                // The display stops on the block before the pause, then the
                // title says "Paused" until the pause ends.
                if (unshown)
                    ShowBlock(path, last, duration, fileStart, remaining);
                unshown = false;
                char format[128], title[512];
                snprintf(title, sizeof(title), EngineText(ctx, TxtTitlePaused, format, sizeof(format)),
                         ctx->displayName ? ctx->displayName : "");
                ctx->sink->SetTitle(title);
                while (Paused(ctx) && !Stopped(ctx))
                    clock->Sleep(50);
                pace.Force();
            }
            int n = input->input.Read(s.inputBlock, s.blockBytes, stream);
            if (n < 1) {
                // -1 is the stream's end; anything lower means it broke off
                // and what was written is incomplete.
                if (n < -1) {
                    EngineLog(ctx, TxtReadError, LogError, kFn, 690);
                    success = false;
                }
                break;
            }
            if (n > s.blockBytes)
                n = s.blockBytes;
            n = EngineRunDsps(ctx, &s, n);
            if (n < 0) {
                EngineLog(ctx, TxtDspError, LogError, kFn, 700);
                success = false;
                break;
            }
            if (Stopped(ctx)) {
                success = false;
                break;
            }
            double pos = input->input.GetTime(0, stream);
            if (!(pos >= 0.0))
                pos = 0.0;
            double peak = EngineBlockPeak(&s, n);
            last = {pos, peak, s.highestPeak};
            unshown = !pace.Due();
            if (!unshown)
                ShowBlock(path, last, duration, fileStart, remaining);
            if (n == 0)
                continue;
            int w = encoder->encoder.Write(s.outputBuffer, n, out);
            if (w < 0) {
                EngineLog(ctx, TxtWriteError, LogError, kFn, 770);
                success = false;
                break;
            }
            written += (uint64_t)w;
        }
        if (unshown)
            ShowBlock(path, last, duration, fileStart, remaining);
        EngineLog(ctx, TxtClosingEncoder, LogDebug, kFn, 780);
        closed = encoder->encoder.Close(out);
    }
    EngineCloseDsps(ctx, &s, kFn, 798);
    EngineLog(ctx, TxtClosingSource, LogDebug, kFn, 806);
    input->input.Close(stream);
    EngineFreeBuffers(&s);

    // Only a track that was really converted may lose its source.
    bool converted = success && written > 0 && closed > 0 && !Stopped(ctx);
    Finished(path, converted);
    if (converted && ctx->actions && ctx->actions->DeleteOriginals()) {
        if (DeleteFileA(path))
            EngineLog(ctx, TxtDeleted, LogInfo, kFn, 820, path);
        else if (LogLevelPasses(LogError, ctx->logLevel)) {
            char format[256], text[EnginePathChars + 256];
            snprintf(text, sizeof(text), EngineText(ctx, TxtDeleteError, format, sizeof(format)), path);
            LogSystemError("PylPUM", kFn, 815, text, ctx->logFile);
        }
    }
    processed += duration;
}

int Runner::Run()
{
    IVqProModule* enc = nullptr;
    if (ctx->encoderIndex >= 0 && ctx->encoderIndex < EngineMaxModules && ctx->modules.encoders)
        enc = ctx->modules.encoders[ctx->encoderIndex];
    if (!enc) {
        ctx->sink->EnableNavigation();
        return -1;
    }
    encoder = enc;
    EngineRunSummaryInit(&summary);
    EngineText(ctx, TxtGeneralProgress, generalFormat, sizeof(generalFormat));
    EngineText(ctx, TxtTrackProgress, trackFormat, sizeof(trackFormat));
    EngineText(ctx, TxtTitleProgress, titleFormat, sizeof(titleFormat));
    EngineText(ctx, TxtLevel, levelFormat, sizeof(levelFormat));
    if (ctx->actions)
        ctx->actions->RebuildDspChain(ctx->dspChain);
    SetThreadPriority(GetCurrentThread(), ctx->actions ? ctx->actions->ThreadPriority() : THREAD_PRIORITY_NORMAL);

    total = Prescan();
    ctx->sink->EnablePause(true);
    ctx->sink->SetBarRange(EngineProgressSink::BarGeneral, ClampToInt(total));
    ctx->sink->SetBarRange(EngineProgressSink::BarLevel, 100);
    processed = 0.0;
    batchStart = clock->Now();
    if (Stopped(ctx))
        return 0;

    // No output of the batch may replace a source before its turn is over.
    int unheld = holds.HoldAll(ctx->files);
    if (unheld > 0)
        EngineLog(ctx, TxtSourcesNotHeld, LogWarning, kFn, 590, unheld, ctx->files->Count());
    char path[EnginePathChars];
    while (ctx->files->TakeFirst(path, sizeof(path))) {
        int remaining = ctx->files->Count();
        ConvertFile(path, remaining);
        EngineLog(ctx, TxtFileComplete, LogDebug, kFn, 837);
        if (Stopped(ctx))
            return 0;
    }
    if (Stopped(ctx))
        return 0;
    ctx->sink->RestoreTitle();
    if (ctx->actions)
        ctx->actions->WhenDone(summary);
    return 0;
}

}  // namespace

int ProccessFiles(EngineContext* ctx)
{
    if (!ctx || !ctx->files || !ctx->sink)
        return -1;
    Runner runner(ctx);
    return runner.Run();
}

DWORD WINAPI ProccessFilesThread(LPVOID context) { return (DWORD)ProccessFiles((EngineContext*)context); }

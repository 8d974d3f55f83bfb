// Live-capture engine: records from a capture module through the DSP chain
// into the chosen encoder, on the same window-free interface as the file
// batch engine (context, sink, flags, clock, actions, texts).
#pragma once
#include "engine.h"

// Texts of the live-capture engine, numbered after the shared ones; the
// host's text source maps them like the others.
enum CaptureTextId {
    TxtOpeningCapture = 100,   // "Opening Audio Capture Module..."
    TxtCaptureOpenError,       // "Error opening capture module, unable to continue!"
    TxtClosingCapture,         // "Closing Capture Module..."
    TxtRecordedTrack,          // "Recorded time: %s\n"
    TxtRecordedGeneral,        // "Total recorded time: %s (Remaining: %s)\n"
    TxtTitleRecorded,          // "%s - Recorded time: %s"
    CaptureTextEnd
};
const char* CaptureDefaultText(int id);

// The four host settings a recording reads; asked again for every block, so
// a change made while recording applies at once.
class CaptureSettings {
public:
    virtual ~CaptureSettings() {}
    virtual int TimeLimit() = 0;          // "Encoding Time Limit", whole seconds
    virtual bool SilenceDetection() = 0;  // "Silence Detection"
    virtual double SilenceLength() = 0;   // "Silence Lenght", seconds
    virtual double MaximumSilence() = 0;  // "Maximum Silence", seconds
};

// Records until the time limit, the stop flag, or (with silence detection) a
// silence longer than "Maximum Silence"; splits the output when sound returns
// after a silence longer than "Silence Lenght". All timing comes from the
// capture module's GetTime; ctx->clock gives the local time for recording
// names and the 50 ms naps. -1 when no capture module or no encoder is
// selected, else 0.
int ProccessLiveInput(EngineContext* ctx, CaptureSettings* settings);

struct CaptureJob {
    EngineContext* ctx;
    CaptureSettings* settings;
};
// Thread procedure form (the argument is a CaptureJob).
DWORD WINAPI ProccessLiveInputThread(LPVOID job);

// Root mean square of a block, 0..1, for every sample width the capture
// module records: 8 and 16 bits as ComputeRms, 24-bit signed little-endian
// and 32-bit float as well.
double CaptureRms(const char* data, unsigned bytes, const StreamFormat* fmt);

// Name of a recording without track information:
// "PylSoftBatchConverter(YYYY-MM-DD HH-MM-SS)" from the local time `when`.
void CaptureRecordingName(char* buf, int size, time_t when);

// The waveIn functions the capture module calls, gathered in one table so that
// the module can run against a device of our own where no sound card exists.
#pragma once
#include <windows.h>
#include <mmsystem.h>

struct WaveInApi {
    UINT(WINAPI* GetNumDevs)(void);
    MMRESULT(WINAPI* GetDevCapsA)(UINT_PTR device, LPWAVEINCAPSA caps, UINT size);
    MMRESULT(WINAPI* Open)(LPHWAVEIN out, UINT device, LPCWAVEFORMATEX format, DWORD_PTR callback,
                           DWORD_PTR instance, DWORD flags);
    MMRESULT(WINAPI* PrepareHeader)(HWAVEIN device, LPWAVEHDR header, UINT size);
    MMRESULT(WINAPI* AddBuffer)(HWAVEIN device, LPWAVEHDR header, UINT size);
    MMRESULT(WINAPI* UnprepareHeader)(HWAVEIN device, LPWAVEHDR header, UINT size);
    MMRESULT(WINAPI* Start)(HWAVEIN device);
    MMRESULT(WINAPI* Stop)(HWAVEIN device);
    MMRESULT(WINAPI* Reset)(HWAVEIN device);
    MMRESULT(WINAPI* Close)(HWAVEIN device);
};

// The system's waveIn functions (winmm).
extern const WaveInApi kWinmmWaveIn;
// The table in use; the system's unless a test installs its own.
extern const WaveInApi* g_waveIn;

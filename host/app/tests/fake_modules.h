// Plug-in records made inside the test program, installed into the host's
// tables through the loading seam.
#pragma once
#include <windows.h>
#include <atomic>
#include "vq_module.h"

namespace fakes {

extern IVqProModule input;    // accepts *.fak; GetTagEx gives 2.5 s at 128000 bit/s; streams below
extern IVqProModule encoder;  // Id 1
extern IVqProModule capture;  // "Aardvark Capture", Id 5: sorts before "Existing files"; Open fails
extern IVqProModule dspA;     // Id 3
extern IVqProModule dspB;     // Id 7

extern std::atomic<int> quitCalls;
extern std::atomic<int> tagCalls;
// While a gate event is reset, GetTagEx of a path containing "\\A\\" (gate 0)
// or "\\B\\" (gate 1) waits for it.
extern HANDLE gates[2];
void OpenGates();
// captures GetTag answer for (NULL, NULL).
extern int captureSuppliesTags;

// Streams of the fake input: 2.5 s of 44.1 kHz 16-bit stereo, 25 blocks of
// 100 ms, each a square wave of BlockAmplitude(block). While reads are gated,
// each Read waits for a grant (a block at a time).
int BlockAmplitude(int block);
extern std::atomic<int> gateReads;
extern HANDLE readGrants;            // semaphore: one count per granted block
extern std::atomic<int> readsWaiting;  // Read calls waiting for a grant
extern std::atomic<int> blocksRead;    // blocks delivered by all streams
extern std::atomic<long long> bytesWritten;  // bytes the fake encoder took
extern std::atomic<int> encodersOpen;

// Loading seam: fills each kind's table with the fakes above.
int __cdecl LoadFakes(const char* folder, int kind, IVqProModule* table[32], const char* logFile, int* logLevel);
// Unloading seam: QuitModule on every entry, then empties the table (no library to release).
int __cdecl UnloadFakes(IVqProModule* table[32]);

}  // namespace fakes

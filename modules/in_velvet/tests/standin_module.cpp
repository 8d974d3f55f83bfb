// The module over a stand-in reader that delivers the first second of audio
// and then nothing more, built as a module DLL of its own: the host's batch tests load it
// in place of the real module to follow a stalled Windows Media stream
// through the whole program. The reader takes its audio format from the WAV
// named by VQ_STANDIN_WAV. Where the event "VqStandinCallGate" exists, the
// thread of each reader call, once its caller has the answer, waits for it
// (at most 10 s) in this DLL's code.
#include <windows.h>

#include "standin.h"

namespace {

void HoldAtTheGate()
{
    HANDLE gate = OpenEventA(SYNCHRONIZE, FALSE, "VqStandinCallGate");
    if (!gate) return;
    WaitForSingleObject(gate, 10000);
    CloseHandle(gate);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        char wav[MAX_PATH] = "";
        GetEnvironmentVariableA("VQ_STANDIN_WAV", wav, sizeof(wav));
        standin::Script s;
        s.wavPath = wav;
        s.hold = true;
        s.holdFrom = 10000000;
        s.callThreadEnding = HoldAtTheGate;
        standin::Install(s);
    }
    return TRUE;
}

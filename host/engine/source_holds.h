// The batch's sources, held open from the start of a run until each one's
// turn is over: a hold reads and shares reading only, so nothing (the
// encoder's output included) can write over, replace or delete a source of
// the batch before it has been converted, while input modules that share
// reading open it as usual.
#pragma once
#include <windows.h>
#include "engine.h"

class EngineSourceHolds {
public:
    ~EngineSourceHolds() { ReleaseAll(); }
    // Holds every listed file that can be opened; one that cannot stays unheld.
    void HoldAll(EngineFileRows* rows);
    // Lets go of every hold on path (before the file is deleted).
    void Release(const char* path);
    void ReleaseAll();

private:
    struct Hold {
        HANDLE handle;
        char* path;
    };
    Hold* holds = nullptr;
    int count = 0, first = 0;  // first: the first hold not yet released
};

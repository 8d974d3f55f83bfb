// The batch's sources, held open from the start of a run until each one's
// turn is over: a hold reads and shares reading only, so nothing (the
// encoder's output included) can write over, replace or delete a source of
// the batch before it has been converted, while input modules that share
// reading open it as usual.
//
// A hold costs one open file. Where the system runs out of open files (under
// Wine each one is a descriptor of its server), as many sources are held as
// fit, less a reserve that leaves room for the conversion itself; the others
// wait, in list order, for the holds that finished files give back. Files on
// read-only or CD media are not held: nothing can write over them.
#pragma once
#include <windows.h>
#include "engine.h"

class EngineSourceHolds {
public:
    // Open files kept free for the conversion once the system has refused a hold.
    enum { Reserve = 64 };
    ~EngineSourceHolds() { ReleaseAll(); }
    // Holds every listed file that can be held; a file that cannot be opened
    // stays unheld. Returns how many files wait unheld for lack of open files.
    int HoldAll(EngineFileRows* rows);
    // Lets go of every hold on path (before the file is deleted or left to
    // the user), then holds waiting files while there is room.
    void Release(const char* path);
    void ReleaseAll();

private:
    enum State : unsigned char { Held, Waiting, Unheld };
    struct Hold {
        HANDLE handle;
        char* path;  // NULL once the file's turn is over
        State state;
    };
    // Opens the hold of entry i; false when the system is out of open files.
    bool Take(int i);
    // Holds waiting entries, in list order, while the limit allows.
    void Fill();
    // The system refused a hold: gives back the last Reserve holds (they wait
    // again) and holds no more than what is left.
    void MakeRoom();
    void Close(int i);

    Hold* holds = nullptr;
    int count = 0;
    int first = 0;        // the first entry whose turn is not over
    int nextWaiting = 0;  // no waiting entry comes before this one
    int held = 0;
    int limit = -1;       // most holds at once (the entry count until the system refuses one)
};

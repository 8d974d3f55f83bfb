// The files the WAV encoder has written in this module session, each with the
// source it came from, and the identities of files they are compared by.
#pragma once
#include <windows.h>

// A file's identity: the serial number of its volume and its index there,
// the same however its path is spelled (a linked folder, a mapped drive
// against its network name, a short name). Not known where the system gives
// none. The system promises an index only while the file exists: a deleted
// file's index may be given to the next new one.
struct FileId {
    DWORD volume, high, low;
    bool known;
};

// The identity of the file at a full path; false when nothing is there.
// Each folder's volume serial number is asked once and kept for a while: it
// does not change within a batch.
bool IdOfFile(const char* fullPath, FileId* id);
// The identity of an open file, found at fullPath.
FileId IdOfHandle(HANDLE h, const char* fullPath);
bool SameId(const FileId& a, const FileId& b);
// Forgets the volume serial numbers asked so far.
void ForgetVolumes();

enum OutputVerdict {
    OutputFree,       // nothing of this session's stands in the way
    OutputIsSource,   // the name is the track's own source
    OutputTaken,      // the file holds the output of another source
    OutputNoMemory
};

// A claim on an output name, made by ClaimOutput and ended by KeepOutput
// (the file was written) or DropClaim.
struct OutputClaim {
    char* output;        // full path; the source's follows it in one allocation
    const char* source;  // full path
    DWORD key;           // a hash of output that ignores case
    FileId outputId, sourceId;
};

// Whether the file at output (a full path) may be written with the audio of
// source (a full path). The same source again may replace its own earlier
// output: the same source is the same full path (ignoring case), or the same
// identity while the recorded path still leads to the file with it. A recorded
// output counts only while its file is still there and still the same file.
OutputVerdict ClaimOutput(const char* output, const char* source, OutputClaim* claim);
// Remembers that the claimed output, now open as written, holds the audio of
// its source; what was remembered of that file or name is forgotten.
void KeepOutput(OutputClaim* claim, HANDLE written);
void DropClaim(OutputClaim* claim);
void ForgetOutputs();

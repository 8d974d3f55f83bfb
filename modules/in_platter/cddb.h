// CD database client (the query and read commands over HTTP), the disc id,
// the recent-disc table and the system CD player's title file.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "vq_types.h"

struct CddbMatch {
    char category[12];
    char discId[12];
    int32_t exact;
    char artist[81];
    char title[81];
};
static_assert(sizeof(CddbMatch) == 192, "");

struct CddbQueryResult {
    int32_t count;  // in: records provided; out: matches stored
    CddbMatch* matches;
};

struct DiscIdRecord {
    uint32_t discId;
    int32_t count;
    int32_t values[101];  // frame offsets of the tracks, then the lead-out in seconds
};
static_assert(sizeof(DiscIdRecord) == 412, "");

struct RecentDisc {
    uint32_t cdplayerKey;
    uint32_t discId;
    int32_t count;
    int32_t values[100];
};
static_assert(sizeof(RecentDisc) == 412, "");

constexpr int kDiscTextBytes = 0x8000;
constexpr int kQueryReplyBytes = 2048;

// Client set-up: log file and level, server from the build (or from the
// environment variable VQ_CDDB_SERVER, "host:port", which tests set).
void Cddb_Init(const char* logFile, int* logLevel);
void Cddb_Quit();
// Server and time-out (milliseconds) in use from now on.
void Cddb_SetServer(const char* host, int port, int timeoutMs);

int CDDBGetDiskID(int handle, DiscIdRecord* record);
int CDDBQuery(int handle, CddbQueryResult* result);
int CDDBRead(CddbMatch* match, char* text, int capacity);
int CDDBPostCmd(const char* cgiPath, const char* form, const char* extraHeaders, char* reply, int capacity);
// Parses a query reply into result (count in: room; out: stored).
void Cddb_ParseQueryReply(const char* reply, CddbQueryResult* result);
bool Cddb_ParseMatchLine(const char* line, CddbMatch* match);

// Fills the track information of track `trackNumber` of the disc in the
// drive from the module's disc text (fetched when the disc is new); 1, or 0
// when the read of an exact match failed.
int Cddb_FillTrackInfo(int handle, int trackNumber, TrackInfo* info);

// The title file's key of the disc in the drive (0 when the table of
// contents cannot be read).
uint32_t CdplayerKey(int handle);
// Recent-disc table: records a disc; finds one by disc id or by key.
void Recent_Record(uint32_t key, uint32_t discId, int count, const int32_t* values);
const RecentDisc* Recent_FindById(uint32_t discId);
const RecentDisc* Recent_FindByKey(uint32_t key);
void Recent_Clear();

// Title file "cdplayer.ini" in the Windows folder.
bool TitleFile_HasDisc(uint32_t key);
void TitleFile_Write(const CddbMatch* match, const char* text);
int TitleFile_Read(CddbMatch* match, char* text, int capacity);
// The title of key "TTITLE<n>" as the entry gives it: the values of every
// line with that key joined in order, cut to capacity - 1 characters;
// false when no line has the key.
bool Entry_JoinedValue(const char* text, const char* key, char* out, size_t capacity);

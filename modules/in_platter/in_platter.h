// Audio CD input module: the ".cda" track file record.
#pragma once
#include <stdint.h>

#pragma pack(push, 1)
struct CdaTrackChunk {
    uint16_t version;
    int16_t trackNumber;
    uint32_t volumeSerial;
    uint32_t startSector;
    uint32_t lengthSectors;
    uint8_t startFrame, startSecond, startMinute, startReserved;
    uint8_t lengthFrames, lengthSeconds, lengthMinutes, lengthReserved;
};
#pragma pack(pop)
static_assert(sizeof(CdaTrackChunk) == 24, "");

// Reads the 24-byte track record of a ".cda" file (RIFF form "CDDA", chunk
// "fmt "); false when the file is no track file.
bool ReadTrackChunk(const char* path, CdaTrackChunk* chunk);

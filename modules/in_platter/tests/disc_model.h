// A CD-ROM drive with a disc, for the tests: the disc is a description file
// (tracks, lead-out, knobs) and a raw image of 2352-byte sectors. The drive
// answers the SCSI commands the module sends and logs each one.
//
// Description lines:
//   image FILE            raw sectors, LBA 0 first (relative to the description),
//                         repeated over a disc that is longer
//   track N LBA audio|data
//   leadout LBA
//   tocheader FIRST LAST LENGTH   what READ TOC answers in its header instead
//   works KEY...          read commands the drive answers: BE10 BEF0 28 D8 D4 (default all)
//   hollow KEY            that read reports success without filling the buffer
//   needmode 1            READ(10) needs 2352-byte blocks set by MODE SELECT first
//   hang OPCODE COUNT     a command with that opcode never completes, COUNT times
//   timeout MS            every command but INQUIRY and READ TOC times out: it
//                         never completes, and the ASPI manager ends its wait
//                         after MS ms (a short stand-in for the layer's own)
//   failsector LBA COUNT  reads that cover LBA fail, COUNT times
//   notready COUNT        the first COUNT read commands (and TEST UNIT READY
//                         meanwhile) answer NOT READY, as a disc spinning up
//   mediachanged COUNT    pass-through calls fail with "media changed", COUNT times
//   noadapters 1          the ASPI manager reports no adapter
//   drives N              number of drives (one disc, shared)
//   letter L              first drive letter of the pass-through drives
//   port P                port number the pass-through address query answers
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

struct DiscTrack {
    int number;
    uint32_t lba;
    bool data;
};

class DiscModel {
public:
    // Loads a description (a Windows path, or a Unix path under Z:);
    // commands are appended to logPath when it is not empty.
    bool Load(const std::string& path, const std::string& logPath);

    // Runs one command: 0 good, 2 check condition, -1 never completes.
    int Execute(const uint8_t* cdb, int cdbLength, uint8_t* data, uint32_t length, const uint8_t* outData);
    // One-shot faults of the pass-through path.
    bool TakeMediaChanged();

    void Log(const uint8_t* cdb, int cdbLength, const uint8_t* outData, uint32_t length);

    int drives = 1;
    bool noAdapters = false;
    char letter = 'V';
    int port = 0;
    uint8_t inquiry[100] = {};
    int timeoutMs = -1;

private:
    int Read(uint32_t lba, uint32_t count, const std::string& key, uint8_t* data, uint32_t length);
    int Toc(bool msf, uint8_t* data, uint32_t length);

    std::vector<uint8_t> image_;
    std::vector<DiscTrack> tracks_;
    uint32_t leadout_ = 0;
    int tocFirst_ = -1, tocLast_ = -1, tocLength_ = -1;
    std::vector<std::string> works_ = {"BE10", "BEF0", "28", "D8", "D4"};
    std::string hollow_;
    bool needMode_ = false;
    int hangOpcode_ = -1, hangCount_ = 0;
    uint32_t failLba_ = 0;
    int failCount_ = 0;
    int notReady_ = 0;
    int mediaChanged_ = 0;
    uint32_t blockSize_ = 2048;
    std::string logPath_;
};

// Windows form of a path given as a Unix path (Z: is the root).
std::string WinPath(const std::string& path);

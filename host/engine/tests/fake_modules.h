// In-tree fake modules for the engine tests: a scripted input, a recording
// encoder whose Write can fail at block k, and probe DSPs that record their
// sections and calls and can fail.
#pragma once
#include <map>
#include <string>
#include <vector>
#include "engine.h"

namespace fakes {

// What the scripted input delivers for one path (matched by file name).
struct Script {
    StreamFormat format{1, 2, 44100, 176400, 4, 16};
    std::vector<unsigned char> data;
    double duration = 1.0;
    int extraReported = 0;  // Read claims this many bytes more than it delivered
    int endResult = -1;     // what Read answers once the data is used up
    bool failOpen = false;
};

struct InputState {
    std::map<std::string, Script> scripts;  // key: file name
    std::vector<std::string> opened, tagged;
    std::vector<int> readRequests;
    int openStreams = 0;
    void (*onRead)(int call) = nullptr;
};

struct EncoderState {
    std::vector<std::string> openedFor;               // source path per Open
    std::vector<std::string> sections;
    std::vector<std::vector<unsigned char>> files;    // bytes per Open
    std::vector<StreamFormat> formats;
    int failWriteAtBlock = -1;                        // 0-based block of a file that fails
    int closeResult = 1;
    bool failOpen = false;
    int openInstances = 0, closes = 0;
    void (*onWrite)(int block) = nullptr;
};

struct DspState {
    std::vector<std::string> sections;   // per Open, in order
    std::vector<int> calls;              // DSP id per Process call
    std::map<int, int> failOpenAt;       // id -> 1: Open returns NULL
    std::map<int, int> processResult;    // id -> -1 or bytes+delta (see Process)
    int openInstances = 0;
    std::vector<int> processBytes;       // byte counts handed to Process
};

extern InputState g_input;
extern EncoderState g_encoder;
extern DspState g_dsp;

void Reset();
IVqProModule* Input();                 // accepts "*.fake"
IVqProModule* Encoder();
// DSP id 1..3 add their id to every byte; id 9 delays 16-bit samples by one.
IVqProModule* Dsp(int id);

}  // namespace fakes

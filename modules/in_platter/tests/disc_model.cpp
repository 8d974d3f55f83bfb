#include "disc_model.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <sstream>

std::string WinPath(const std::string& path)
{
    if (path.empty() || path[0] != '/') return path;
    std::string w = "Z:" + path;
    std::replace(w.begin(), w.end(), '/', '\\');
    return w;
}

bool DiscModel::Load(const std::string& path, const std::string& logPath)
{
    std::string file = WinPath(path);
    logPath_ = WinPath(logPath);
    std::ifstream in(file);
    if (!in) return false;
    std::string dir = file.substr(0, file.find_last_of('\\') + 1);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string key;
        if (!(s >> key) || key[0] == '#') continue;
        if (key == "image") {
            std::string name;
            s >> name;
            name = WinPath(name);
            bool absolute = name.find(':') != std::string::npos || name[0] == '\\';
            std::ifstream img(absolute ? name : dir + name, std::ios::binary);
            if (!img) return false;
            image_.assign(std::istreambuf_iterator<char>(img), std::istreambuf_iterator<char>());
        } else if (key == "track") {
            DiscTrack t;
            std::string kind;
            s >> t.number >> t.lba >> kind;
            t.data = kind == "data";
            tracks_.push_back(t);
        } else if (key == "leadout") {
            s >> leadout_;
        } else if (key == "tocheader") {
            s >> tocFirst_ >> tocLast_ >> tocLength_;
        } else if (key == "works") {
            works_.clear();
            for (std::string w; s >> w;) works_.push_back(w);
        } else if (key == "hollow") {
            s >> hollow_;
        } else if (key == "needmode") {
            s >> needMode_;
        } else if (key == "hang") {
            std::string op;
            s >> op >> hangCount_;
            hangOpcode_ = (int)strtol(op.c_str(), nullptr, 16);
        } else if (key == "timeout") {
            s >> timeoutMs;
        } else if (key == "failsector") {
            s >> failLba_ >> failCount_;
        } else if (key == "notready") {
            s >> notReady_;
        } else if (key == "mediachanged") {
            s >> mediaChanged_;
        } else if (key == "noadapters") {
            s >> noAdapters;
        } else if (key == "drives") {
            s >> drives;
        } else if (key == "letter") {
            s >> letter;
        } else if (key == "port") {
            s >> port;
        }
    }
    memset(inquiry, 0, sizeof inquiry);
    inquiry[0] = 5;  // CD-ROM device
    inquiry[4] = 95;
    memcpy(inquiry + 8, "VQTEST  ", 8);
    memcpy(inquiry + 16, "Fake CD-ROM     ", 16);
    memcpy(inquiry + 32, "1.00", 4);
    memcpy(inquiry + 36, "model disc in tests!", 20);
    return !tracks_.empty();
}

bool DiscModel::TakeMediaChanged()
{
    if (mediaChanged_ <= 0) return false;
    --mediaChanged_;
    return true;
}

void DiscModel::Log(const uint8_t* cdb, int cdbLength, const uint8_t* outData, uint32_t length)
{
    if (logPath_.empty()) return;
    std::string line;
    char hex[4];
    for (int i = 0; i < cdbLength; ++i) {
        snprintf(hex, sizeof hex, i ? " %02X" : "%02X", cdb[i]);
        line += hex;
    }
    if (outData && length) {
        line += " |";
        for (uint32_t i = 0; i < length && i < 32; ++i) {
            snprintf(hex, sizeof hex, " %02X", outData[i]);
            line += hex;
        }
    }
    line += "\r\n";
    HANDLE f = CreateFileA(logPath_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(f, line.data(), (DWORD)line.size(), &written, nullptr);
    CloseHandle(f);
}

int DiscModel::Toc(bool msf, uint8_t* data, uint32_t length)
{
    std::vector<uint8_t> t(4);
    auto address = [&](uint32_t lba, uint8_t* p) {
        if (msf) {
            uint32_t f = lba + 150;
            p[0] = 0;
            p[1] = (uint8_t)(f / 4500);
            p[2] = (uint8_t)(f / 75 % 60);
            p[3] = (uint8_t)(f % 75);
        } else {
            p[0] = (uint8_t)(lba >> 24);
            p[1] = (uint8_t)(lba >> 16);
            p[2] = (uint8_t)(lba >> 8);
            p[3] = (uint8_t)lba;
        }
    };
    for (const DiscTrack& tr : tracks_) {
        uint8_t d[8] = {0, (uint8_t)(tr.data ? 0x14 : 0x10), (uint8_t)tr.number, 0};
        address(tr.lba, d + 4);
        t.insert(t.end(), d, d + 8);
    }
    uint8_t lead[8] = {0, 0x10, 0xAA, 0};
    address(leadout_, lead + 4);
    t.insert(t.end(), lead, lead + 8);
    int dataLength = tocLength_ >= 0 ? tocLength_ : (int)t.size() - 2;
    t[0] = (uint8_t)(dataLength >> 8);
    t[1] = (uint8_t)dataLength;
    t[2] = (uint8_t)(tocFirst_ >= 0 ? tocFirst_ : tracks_.front().number);
    t[3] = (uint8_t)(tocLast_ >= 0 ? tocLast_ : tracks_.back().number);
    memcpy(data, t.data(), std::min<size_t>(t.size(), length));
    return 0;
}

int DiscModel::Read(uint32_t lba, uint32_t count, const std::string& key, uint8_t* data, uint32_t length)
{
    if (notReady_ > 0) {
        --notReady_;
        return 2;
    }
    if (std::find(works_.begin(), works_.end(), key) == works_.end()) return 2;
    if (key == "28" && needMode_ && blockSize_ != 2352) return 2;
    if (count * 2352 > length || lba + count > leadout_) return 2;
    if (failCount_ > 0 && failLba_ >= lba && failLba_ < lba + count) {
        --failCount_;
        return 2;
    }
    if (key == hollow_) return 0;
    for (uint32_t i = 0; i < count * 2352; ++i) {
        size_t at = (size_t)lba * 2352 + i;
        data[i] = image_.empty() ? 0 : image_[at % image_.size()];
    }
    return 0;
}

int DiscModel::Execute(const uint8_t* cdb, int cdbLength, uint8_t* data, uint32_t length, const uint8_t* outData)
{
    Log(cdb, cdbLength, outData, length);
    if (cdb[0] == hangOpcode_ && hangCount_ > 0) {
        --hangCount_;
        return -1;
    }
    if (timeoutMs >= 0 && cdb[0] != 0x12 && cdb[0] != 0x43) return -1;
    uint32_t lba = (uint32_t)cdb[2] << 24 | cdb[3] << 16 | cdb[4] << 8 | cdb[5];
    switch (cdb[0]) {
    case 0x00: return notReady_ > 0 ? 2 : 0;  // TEST UNIT READY
    case 0x12:
        memcpy(data, inquiry, std::min<uint32_t>(length, sizeof inquiry));
        return 0;
    case 0x43: return Toc((cdb[1] & 2) != 0, data, std::min<uint32_t>(length, (uint32_t)(cdb[7] << 8 | cdb[8])));
    case 0x4B: return 0;  // PAUSE/RESUME
    case 0x15:
        // A block descriptor sets the block length.
        if (outData && length >= 12 && outData[3] == 8)
            blockSize_ = (uint32_t)outData[9] << 16 | outData[10] << 8 | outData[11];
        return 0;
    case 0xBE: return Read(lba, cdb[8], cdb[9] == 0x10 ? "BE10" : "BEF0", data, length);
    case 0x28: return Read(lba, cdb[8], "28", data, length);
    case 0xD8: return Read(lba, cdb[9], "D8", data, length);
    case 0xD4: return Read(lba, cdb[8], "D4", data, length);
    default: return 2;
    }
}

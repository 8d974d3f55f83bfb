// The framing of a whole ASF file, walked once from front to back: a header
// object, then one data object with its packets, then only index objects or
// objects of other types, perhaps ended by bytes that make no object. Nothing
// is decoded; the walk makes sure that every size, count and payload header
// agrees with the bytes that are there, that no media object is far out of
// bounds and no presentation time lies past the play duration.
#include "asf_structure.h"

#include <string.h>

#include <vector>

namespace asf {
namespace {

// Object identifiers, in the byte order of the file.
const uint8_t kHeaderId[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                               0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t kDataId[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t kFilePropertiesId[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                       0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const uint8_t kSimpleIndexId[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                    0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
const uint8_t kIndexId[16] = {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                              0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};

constexpr uint64_t kObjectHead = 24;       // identifier and 64-bit size
constexpr uint64_t kHeaderHead = 30;       // object head, child count, two reserved bytes
constexpr uint64_t kDataHead = 50;         // object head, file id, packet count, reserved
constexpr uint64_t kFilePropsBody = 80;
constexpr uint64_t kSimpleIndexHead = 56;  // object head, file id, interval, max count, entry count
constexpr uint64_t kIndexHead = 34;        // object head, interval, specifier and block counts
constexpr size_t kWindow = 1u << 20;

uint32_t U16(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }
uint32_t U32(const uint8_t* p) { return U16(p) | U16(p + 2) << 16; }
uint64_t U64(const uint8_t* p) { return (uint64_t)U32(p) | (uint64_t)U32(p + 4) << 32; }
bool Is(const uint8_t* p, const uint8_t (&id)[16]) { return memcmp(p, id, 16) == 0; }

// The file seen through one buffer that moves forward: each request is served
// from the buffer or refills it from the requested offset on.
class Window {
public:
    Window(uint64_t size, ReadAt read, void* file) : size_(size), read_(read), file_(file), buf_(kWindow) {}

    // The `bytes` bytes at `at` (at most kWindow), or nullptr when they lie
    // past the end of the file or cannot be read (failed() tells which).
    const uint8_t* Get(uint64_t at, size_t bytes)
    {
        if (at > size_ || bytes > size_ - at || bytes > kWindow) return nullptr;
        if (at < start_ || at - start_ > length_ || bytes > length_ - (at - start_)) {
            size_t n = size_ - at < kWindow ? (size_t)(size_ - at) : kWindow;
            length_ = 0;
            if (!read_(file_, at, buf_.data(), n)) {
                failed_ = true;
                return nullptr;
            }
            start_ = at;
            length_ = n;
        }
        return buf_.data() + (at - start_);
    }
    bool failed() const { return failed_; }

private:
    uint64_t size_;
    ReadAt read_;
    void* file_;
    std::vector<uint8_t> buf_;
    uint64_t start_ = 0;
    size_t length_ = 0;
    bool failed_ = false;
};

struct FileProperties {
    uint64_t packets;
    uint64_t playMs;  // includes the preroll, as the presentation times do
    bool broadcast;   // packet count and play duration are not valid
    uint32_t packetSize;
};

// Reading the fields of one packet, never past `end`.
class Fields {
public:
    Fields(const uint8_t* p, size_t end) : p_(p), end_(end) {}
    bool Skip(size_t n)
    {
        if (n > end_ - at_) return false;
        at_ += n;
        return true;
    }
    // A field of 0, 1, 2 or 4 bytes as its two-bit length type says.
    bool Var(uint32_t type, uint32_t* v)
    {
        static const size_t kBytes[4] = {0, 1, 2, 4};
        size_t n = kBytes[type & 3];
        if (n > end_ - at_) return false;
        const uint8_t* q = p_ + at_;
        *v = n == 0 ? 0 : n == 1 ? q[0] : n == 2 ? U16(q) : U32(q);
        at_ += n;
        return true;
    }
    const uint8_t* Here() const { return p_ + at_; }
    size_t at() const { return at_; }
    size_t Left() const { return end_ - at_; }
    void SetEnd(size_t end) { end_ = end; }

private:
    const uint8_t* p_;
    size_t end_;
    size_t at_ = 0;
};

class PacketCheck {
public:
    PacketCheck(const FileProperties& props, uint64_t fileSize) : props_(props), fileSize_(fileSize) {}

    Fault Check(const uint8_t* p)
    {
        const uint32_t size = props_.packetSize;
        Fields f(p, size);
        if (p[0] & 0x80) {
            // Error correction data: its length type must be 0, its length in the low bits.
            if (p[0] & 0x60) return Fault::Packet;
            if (!f.Skip(1 + (p[0] & 0x0F))) return Fault::Packet;
        }
        const uint8_t* flags = f.Here();
        uint32_t length = 0, sequence = 0, padding = 0;
        if (!f.Skip(2)) return Fault::Packet;
        const uint32_t lengthTypes = flags[0], properties = flags[1];
        if (!f.Var(lengthTypes >> 5, &length) || !f.Var(lengthTypes >> 1, &sequence) ||
            !f.Var(lengthTypes >> 3, &padding) || !f.Skip(6))  // send time and duration
            return Fault::Packet;
        // A packet stated shorter than the packet size is padded up to it; a
        // stated length of 0 says nothing.
        size_t end = size;
        if (length != 0) {
            if (length > size || length < f.at()) return Fault::Packet;
            if (padding == 0) end = length;
        }
        if (padding > end - f.at()) return Fault::Packet;
        f.SetEnd(end - padding);

        if (!(lengthTypes & 1)) return Payload(f, properties, -1);
        if (!f.Skip(1)) return Fault::Packet;
        const uint32_t payloadFlags = f.Here()[-1];
        const int lengthType = (int)(payloadFlags >> 6);
        if (lengthType == 0) return Fault::Packet;
        for (uint32_t i = 0, count = payloadFlags & 0x3F; i < count; ++i) {
            Fault fault = Payload(f, properties, lengthType);
            if (fault != Fault::None) return fault;
        }
        return Fault::None;
    }

private:
    // One payload; lengthType -1: the single payload, which fills the rest of the packet.
    Fault Payload(Fields& f, uint32_t properties, int lengthType)
    {
        uint32_t objectNumber = 0, offset = 0, replicated = 0, length = 0;
        if (!f.Skip(1)) return Fault::Packet;  // stream number
        if (!f.Var(properties >> 4, &objectNumber) || !f.Var(properties >> 2, &offset) ||
            !f.Var(properties, &replicated) || replicated > f.Left())
            return Fault::Packet;
        const uint8_t* rep = f.Here();
        f.Skip(replicated);
        // Payload data must follow.
        if (f.Left() == 0) return Fault::Packet;
        if (lengthType < 0) length = (uint32_t)f.Left();
        else if (!f.Var((uint32_t)lengthType, &length) || length > f.Left()) return Fault::Packet;
        const uint8_t* data = f.Here();
        f.Skip(length);

        if (replicated == 1) {
            // Compressed: the offset field holds the presentation time, the
            // data a run of sub-payloads, each with a length byte before it.
            for (uint32_t at = 0; at < length; at += 1 + data[at])
                if (data[at] > length - at - 1) return Fault::Packet;
            return Time(offset);
        }
        if (replicated == 0) return Fault::None;
        if (replicated < 8) return Fault::Packet;
        uint32_t objectSize = U32(rep);
        if (objectSize > kMaxMediaObject || objectSize > fileSize_) return Fault::MediaObjectSize;
        return Time(U32(rep + 4));
    }

    // Every payload must lie within the play duration: the reader ends the
    // stream at the first one past it, however little, and the rest of the
    // file would be lost without a word (a play duration of 0, or one that
    // leaves out the preroll, loses all or the last preroll's worth of it).
    Fault Time(uint32_t ms) const
    {
        if (props_.broadcast) return Fault::None;
        return ms > props_.playMs ? Fault::PresentationTime : Fault::None;
    }

    const FileProperties& props_;
    uint64_t fileSize_;
};

Fault ReadFailure(const Window& w, Fault otherwise) { return w.failed() ? Fault::Unreadable : otherwise; }

// The entry counts of an index object against its size.
Fault CheckIndex(Window& w, uint64_t at, uint64_t size)
{
    if (size < kIndexHead) return Fault::IndexEntries;
    const uint8_t* b = w.Get(at + kObjectHead, kIndexHead - kObjectHead);
    if (!b) return ReadFailure(w, Fault::IndexEntries);
    uint64_t specifiers = U16(b + 4), blocks = U32(b + 6);
    uint64_t used = kIndexHead + 4 * specifiers;
    if (specifiers == 0 || used > size) return Fault::IndexEntries;
    for (uint64_t i = 0; i < blocks; ++i) {
        const uint8_t* e = size - used >= 4 ? w.Get(at + used, 4) : nullptr;
        if (!e) return ReadFailure(w, Fault::IndexEntries);
        uint64_t block = 4 + 8 * specifiers + 4 * specifiers * (uint64_t)U32(e);
        if (block > size - used) return Fault::IndexEntries;
        used += block;
    }
    return Fault::None;
}

Fault CheckSimpleIndex(Window& w, uint64_t at, uint64_t size)
{
    const uint8_t* b = size >= kSimpleIndexHead ? w.Get(at + kObjectHead, kSimpleIndexHead - kObjectHead) : nullptr;
    if (!b) return ReadFailure(w, Fault::IndexEntries);
    // Each entry: a 32-bit packet number and a 16-bit packet count.
    return U32(b + 28) > (size - kSimpleIndexHead) / 6 ? Fault::IndexEntries : Fault::None;
}

// What an object is and, for an index, whether its entries fit in it: the
// same wherever the object lies (the reader takes an index object inside the
// header as well as after the data).
Fault CheckObject(Window& w, const uint8_t (&id)[16], uint64_t at, uint64_t size)
{
    if (Is(id, kHeaderId) || Is(id, kDataId)) return Fault::ObjectOrder;
    if (Is(id, kSimpleIndexId)) return CheckSimpleIndex(w, at, size);
    if (Is(id, kIndexId)) return CheckIndex(w, at, size);
    return Fault::None;
}

// The head of the object at `at`: its identifier and size, which must lie within `end`.
Fault ObjectHead(Window& w, uint64_t at, uint64_t end, uint8_t (&id)[16], uint64_t* size, Fault outside)
{
    const uint8_t* o = end - at >= kObjectHead ? w.Get(at, kObjectHead) : nullptr;
    if (!o) return ReadFailure(w, outside);
    memcpy(id, o, sizeof id);
    *size = U64(o + 16);
    return *size < kObjectHead || *size > end - at ? outside : Fault::None;
}

// The header object and the file properties in it.
Fault CheckHeader(Window& w, uint64_t fileSize, uint64_t* headerSize, FileProperties* props)
{
    const uint8_t* h = w.Get(0, kHeaderHead);
    if (!h) return ReadFailure(w, Fault::NoHeader);
    uint64_t size = U64(h + 16);
    if (!Is(h, kHeaderId) || size < kHeaderHead || size > fileSize) return Fault::NoHeader;
    bool found = false;
    for (uint64_t at = kHeaderHead, objectSize = 0; size - at >= kObjectHead; at += objectSize) {
        uint8_t id[16];
        Fault fault = ObjectHead(w, at, size, id, &objectSize, Fault::HeaderObject);
        if (fault == Fault::None) fault = CheckObject(w, id, at, objectSize);
        if (fault != Fault::None) return fault;
        if (!found && Is(id, kFilePropertiesId)) {
            if (objectSize < kObjectHead + kFilePropsBody) return Fault::NoFileProperties;
            const uint8_t* b = w.Get(at + kObjectHead, kFilePropsBody);
            if (!b) return ReadFailure(w, Fault::NoFileProperties);
            uint32_t minimum = U32(b + 68), maximum = U32(b + 72);
            if (minimum != maximum || minimum < kMinPacketSize || minimum > kMaxPacketSize) return Fault::PacketSize;
            props->packets = U64(b + 32);
            props->playMs = U64(b + 40) / 10000;
            props->broadcast = (U32(b + 64) & 1) != 0;
            props->packetSize = minimum;
            found = true;
        }
    }
    *headerSize = size;
    return found ? Fault::None : Fault::NoFileProperties;
}

// The data object and its packets. *dataSize is the object's size within the
// file; *packetsEnd the end of its last whole packet; *staysWithin whether the
// reader stops there (it reads on past the data of a broadcast file, and a
// packet's worth past it for a count one above the packets).
Fault CheckData(Window& w, uint64_t at, uint64_t fileSize, const FileProperties& props, uint64_t* dataSize,
                uint64_t* packetsEnd, bool* staysWithin)
{
    const uint8_t* d = fileSize - at >= kDataHead ? w.Get(at, kDataHead) : nullptr;
    if (!d || !Is(d, kDataId)) return ReadFailure(w, Fault::NoData);
    uint64_t size = U64(d + 16);
    if (size < kDataHead) return Fault::DataSize;
    uint64_t bytes = size - kDataHead, packets = bytes / props.packetSize;
    uint64_t stated = U64(d + 40);
    // A count one off the data size is taken as the reader takes it (it reads
    // the data object's count, or up to the end of the file). A count of 0
    // makes the reader take the file for a live stream, of which it plays an
    // arbitrary part: only a broadcast file may say 0.
    auto nearly = [packets](uint64_t n) { return n + 1 >= packets && n <= packets + 1; };
    if (bytes % props.packetSize != 0 ||
        (!props.broadcast && (!nearly(props.packets) || stated == 0 || !nearly(stated))) ||
        (props.broadcast && stated != 0 && stated != packets))
        return Fault::PacketCount;
    // A file cut short (a download that stopped) plays up to its last whole
    // packet; the reader leaves the part of a packet alone.
    uint64_t walk = packets;
    const uint64_t room = fileSize - at;
    if (size > room) {
        walk = (room - kDataHead) / props.packetSize;
        if (walk == 0) return Fault::DataSize;
        size = room;
    }
    PacketCheck check(props, fileSize);
    for (uint64_t i = 0; i < walk; ++i) {
        const uint8_t* p = w.Get(at + kDataHead + i * props.packetSize, props.packetSize);
        if (!p) return ReadFailure(w, Fault::DataSize);
        Fault fault = check.Check(p);
        if (fault != Fault::None) return fault;
    }
    *dataSize = size;
    *packetsEnd = at + kDataHead + walk * props.packetSize;
    *staysWithin = !props.broadcast && stated <= packets;
    return Fault::None;
}

}  // namespace

Fault CheckStructure(uint64_t fileSize, ReadAt read, void* file, uint64_t* readable)
{
    Window w(fileSize, read, file);
    FileProperties props = {};
    uint64_t headerSize = 0, dataSize = 0, end = 0;
    bool staysWithin = false;
    Fault fault = CheckHeader(w, fileSize, &headerSize, &props);
    if (fault == Fault::None) fault = CheckData(w, headerSize, fileSize, props, &dataSize, &end, &staysWithin);
    // After the data: only objects other than a header or data object. Bytes
    // that do not make a whole object end the file, whatever they start with
    // (an appended tag, padding, the last object of a download that stopped):
    // the reader plays up to them.
    for (uint64_t at = headerSize + dataSize, size = 0; fault == Fault::None && at < fileSize; at += size) {
        uint8_t id[16];
        if (ObjectHead(w, at, fileSize, id, &size, Fault::ObjectSize) != Fault::None) {
            fault = ReadFailure(w, Fault::None);
            break;
        }
        fault = CheckObject(w, id, at, size);
        if (staysWithin && at == end) end = at + size;
    }
    if (readable) *readable = fault == Fault::None ? end : 0;
    return fault;
}

}  // namespace asf

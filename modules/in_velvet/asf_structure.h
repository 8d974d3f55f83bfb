// A check of a whole ASF file's framing, made before the platform's reader
// is given the file: the order and sizes of the top-level objects, the file
// properties, the index objects' entry counts, and every data packet with its
// payloads. The walk itself is plain C++ (it reads through a callback), so it
// also builds and runs natively.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace asf {

enum class Fault {
    None,
    Unreadable,        // a read failed
    NoHeader,          // the file does not start with a header object of a sound size
    HeaderObject,      // an object inside the header runs past it
    NoFileProperties,  // no file properties object, or one that is too short
    PacketSize,        // minimum and maximum packet size differ, or are out of bounds
    NoData,            // the header is not followed by a data object
    DataSize,          // the data object's size is below its head or past the file
    PacketCount,       // the packet count does not match the data object's size
    ObjectOrder,       // a second header or data object
    ObjectSize,        // no longer given: bytes after the data that make no object end the file
    IndexEntries,      // an index object's entries do not fit in it
    Packet,            // a packet's fields or payloads do not parse inside it
    MediaObjectSize,   // a media object above the bound
    PresentationTime,  // a payload's presentation time past the play duration
};

// Reads `bytes` bytes at `offset` into `to`; false when they cannot be read.
typedef bool (*ReadAt)(void* file, uint64_t offset, uint8_t* to, size_t bytes);

// Walks the file (`fileSize` bytes) once from start to end. Index entries and
// the bodies of other objects are not read. *readable (when given) is how much
// of the file, from its start, the platform's reader may be given: the header,
// the whole packets of the data and, where the reader stops at the end of the
// data's packets, the whole objects after it. Nothing past that was checked
// as what the reader would take it for.
Fault CheckStructure(uint64_t fileSize, ReadAt read, void* file, uint64_t* readable = nullptr);

// Bounds of the check.
constexpr uint32_t kMinPacketSize = 32;
constexpr uint32_t kMaxPacketSize = 65536;
constexpr uint32_t kMaxMediaObject = 16u << 20;

}  // namespace asf

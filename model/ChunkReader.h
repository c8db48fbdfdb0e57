#pragma once

#include "FileMapping.h"

#include "Integers.h"

#include <cstring>
#include <string>

typedef uint32_t ChunkId;

// Read access to a model file as a tree of chunks: u32 id, u32 payload size, payload, all
// little-endian and back to back. A root reader maps the whole file; a child reader, set up by
// its parent's NextChunk, is a window on one chunk's payload inside the parent's view and must
// not outlive the root.
//
// No read leaves the reader's range. A read that runs past it takes what is left, returns zeros
// for the rest (a string stops at the end) and marks the reader overrun, so a handler can see
// that the payload was shorter than its counts and drop it.
//
// A chunk whose declared size runs past its parent's range is clamped to the bytes that remain
// and marked truncated; it is then the last chunk of that range.
class CChunkReader {
public:
    CChunkReader();
    virtual ~CChunkReader();

    // Maps the file read-only. 1 when the whole file is mapped, else 0 with nothing held;
    // `report` (if given) says why, or what was noticed on the way.
    int Open(const std::string& path, MapReport* report = NULL);

    // Leaves the current chunk and enters the next; sets `child` (if given) to cover its
    // payload. Returns the chunk id as a signed int, or -1 when no 8-byte chunk head fits.
    int NextChunk(CChunkReader* child);

    ChunkId GetChunkId() const { return chunkId; }

    uint32_t ReadU32();
    uint8_t ReadU8();
    void ReadBytes(void* destination, uint32_t count);
    std::string ReadString();

    // The next `count` bytes in place, or null (and overrun) when fewer remain.
    const uint8_t* Take(uint32_t count);

    uint32_t Remaining() const { return size - cursor; }
    bool Overrun() const { return overrun; }
    bool Truncated() const { return truncated; }
    const uint8_t* Begin() const { return data; }
    uint32_t Size() const { return size; }
    const FileIdentity& Identity() const { return file.identity; } // of a root reader's file
    // A root reader's file shrank while it was read, so nothing read from it may be kept.
    bool Changed() const { return MappingChanged(file); }

private:
    CChunkReader(const CChunkReader&); // a root owns its view: never copied
    CChunkReader& operator=(const CChunkReader&);

    bool ownsView;
    FileMapping file; // a root reader's
    uint32_t size;
    const uint8_t* data;
    uint32_t cursor;
    bool inChunk;
    uint32_t chunkId;
    uint32_t chunkStart;
    uint32_t chunkSize;
    bool overrun;
    bool truncated;
};

// Unaligned little-endian loads. The file format and every platform we build for are
// little-endian, so a plain copy is the conversion. Inline: the decoders call them for every
// field of every vertex.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "model file reading assumes a little-endian host"
#endif
inline uint32_t LoadU32(const uint8_t* bytes)
{
    uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

inline uint16_t LoadU16(const uint8_t* bytes)
{
    uint16_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

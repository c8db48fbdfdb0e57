#include "ChunkReader.h"

#include <cstring>

CChunkReader::CChunkReader()
    : ownsView(false),
      size(0),
      data(NULL),
      cursor(0),
      inChunk(false),
      chunkId(0),
      chunkStart(0),
      chunkSize(0),
      overrun(false),
      truncated(false)
{
}

CChunkReader::~CChunkReader()
{
    if (ownsView)
        UnmapFile(file);
}

int CChunkReader::Open(const std::string& path, MapReport* report)
{
    if (ownsView || data)
        return 0; // a reader is opened once, and never over a child's window
    if (!MapFileReadOnly(path, file, report))
        return 0;
    data = file.view;
    size = file.size;
    ownsView = true;
    return 1;
}

int CChunkReader::NextChunk(CChunkReader* child)
{
    if (inChunk) {
        cursor = chunkStart + chunkSize; // chunkSize is clamped, so this stays within size
        inChunk = false;
    }
    if (cursor >= size || size - cursor < 8)
        return -1;

    chunkId = LoadU32(data + cursor);
    const uint32_t declared = LoadU32(data + cursor + 4);
    cursor += 8;
    chunkStart = cursor;
    const bool clamped = declared > size - cursor;
    chunkSize = clamped ? size - cursor : declared;
    inChunk = true;

    if (child) {
        child->ownsView = false;
        child->size = chunkSize;
        child->data = data + chunkStart;
        child->cursor = 0;
        child->inChunk = false;
        child->chunkId = chunkId;
        child->chunkStart = 0;
        child->chunkSize = chunkSize;
        child->overrun = false;
        child->truncated = clamped;
    }
    return static_cast<int>(chunkId);
}

const uint8_t* CChunkReader::Take(uint32_t count)
{
    if (count == 0)
        return data ? data + cursor : NULL;
    if (count > size - cursor) {
        cursor = size;
        overrun = true;
        return NULL;
    }
    const uint8_t* bytes = data + cursor;
    cursor += count;
    return bytes;
}

uint32_t CChunkReader::ReadU32()
{
    uint32_t value = 0;
    ReadBytes(&value, sizeof value);
    return value;
}

uint8_t CChunkReader::ReadU8()
{
    uint8_t value = 0;
    ReadBytes(&value, sizeof value);
    return value;
}

void CChunkReader::ReadBytes(void* destination, uint32_t count)
{
    const uint32_t available = size - cursor;
    const uint32_t copied = count <= available ? count : available;
    if (copied)
        std::memcpy(destination, data + cursor, copied);
    if (copied < count) {
        std::memset(static_cast<uint8_t*>(destination) + copied, 0, count - copied);
        overrun = true;
    }
    cursor += copied;
}

std::string CChunkReader::ReadString()
{
    const uint32_t available = size - cursor;
    if (available == 0) {
        overrun = true;
        return std::string();
    }
    const uint8_t* begin = data + cursor;
    const void* zero = std::memchr(begin, 0, available);
    if (!zero) {
        cursor = size;
        overrun = true;
        return std::string(reinterpret_cast<const char*>(begin), available);
    }
    const uint32_t length = static_cast<uint32_t>(static_cast<const uint8_t*>(zero) - begin);
    cursor += length + 1;
    return std::string(reinterpret_cast<const char*>(begin), length);
}

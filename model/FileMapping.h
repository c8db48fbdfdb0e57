#pragma once

#include <cstdint>
#include <string>

// Which file it is, whatever path named it: device and inode, or volume and file index.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity& other) const { return volume == other.volume && index == other.index; }
};

// The platform seam of the chunk reader: one read-only view of a whole file.
// `file` and `mapping` are the native handles the view needs kept open (Win32); the POSIX
// implementation keeps none, since a mapping outlives its descriptor.
struct FileMapping {
    void* file = nullptr;
    void* mapping = nullptr;
    const uint8_t* view = nullptr;
    uint32_t size = 0;
    FileIdentity identity;
};

// Maps the file at `path` (a Windows path; on POSIX every '\' is taken as '/').
// All or nothing: on failure everything obtained so far is released and `mapping` is untouched.
// Fails for a missing or unreadable file, anything that is not a regular file, an empty file
// (the platform cannot map zero bytes) and a file of 4 GiB or more (the format's offsets are 32-bit).
bool MapFileReadOnly(const std::string& path, FileMapping& mapping);

// Releases a mapping made by MapFileReadOnly and clears it.
void UnmapFile(FileMapping& mapping);

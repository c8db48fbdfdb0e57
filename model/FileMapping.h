#pragma once

#include <cstdint>
#include <string>

// The platform seam of the chunk reader: one read-only view of a whole file.
// `file` and `mapping` are the native handles the view needs kept open (Win32); the POSIX
// implementation keeps none, since a mapping outlives its descriptor.
struct FileMapping {
    void* file = nullptr;
    void* mapping = nullptr;
    const uint8_t* view = nullptr;
    uint32_t size = 0;
};

// Maps the file at `path` (a Windows path; on POSIX every '\' is taken as '/').
// All or nothing: on failure everything obtained so far is released and `mapping` is untouched.
// Fails for a missing or unreadable file, anything that is not a regular file, an empty file
// (the platform cannot map zero bytes) and a file of 4 GiB or more (the format's offsets are 32-bit).
bool MapFileReadOnly(const std::string& path, FileMapping& mapping);

// Releases a mapping made by MapFileReadOnly and clears it.
void UnmapFile(FileMapping& mapping);

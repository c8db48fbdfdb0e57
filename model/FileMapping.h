#pragma once

#include "Integers.h"

#include <cstddef>
#include <string>

// Which file it is, whatever path named it: device and inode, or volume and file index.
struct FileIdentity {
    FileIdentity() : volume(0), index(0) {}
    FileIdentity(uint64_t fileVolume, uint64_t fileIndex) : volume(fileVolume), index(fileIndex) {}
    uint64_t volume;
    uint64_t index;
    bool operator==(const FileIdentity& other) const { return volume == other.volume && index == other.index; }
    bool operator<(const FileIdentity& other) const
    {
        return volume != other.volume ? volume < other.volume : index < other.index;
    }
};

// The platform seam of the chunk reader: one read-only view of a whole file.
// `file` and `mapping` are the native handles the view needs kept open (Win32); the POSIX
// implementation keeps none, since a mapping outlives its descriptor, but keeps `watch`, its
// entry in the table of mappings watched for shrinking.
struct FileMapping {
    FileMapping() : file(NULL), mapping(NULL), view(NULL), size(0), watch(-1) {}
    void* file;
    void* mapping;
    const uint8_t* view;
    uint32_t size;
    FileIdentity identity;
    int watch;
};

// What MapFileReadOnly reports besides its result.
struct MapReport {
    std::string problem;   // why the file could not be mapped ("is a FIFO (named pipe), not a file")
    std::string ambiguity; // a name found ignoring case matched several names; which one was read
};

// Maps the file at `path` (a Windows path; on POSIX every '\' is taken as '/', and a path that
// does not exist as spelt is looked up ignoring case). Opening never blocks.
//
// All or nothing: on failure everything obtained so far is released and `mapping` is untouched.
// Fails for a missing or unreadable file, anything that is not a regular file, an empty file
// (the platform cannot map zero bytes) and a file of 4 GiB or more (the format's offsets are 32-bit).
bool MapFileReadOnly(const std::string& path, FileMapping& mapping, MapReport* report = NULL);

// True when the file shrank while mapped: the vanished part of the view reads as zeros
// instead of ending the process, and what was read from the view cannot be trusted.
bool MappingChanged(const FileMapping& mapping);

// [begin, begin + size) of a view is about to be read: on POSIX its pages are mapped in one go
// rather than a fault at a time.
void PrepareReadPages(const uint8_t* begin, size_t size);

// The whole pages inside [begin, begin + size) of a view were read and will not be needed again:
// on POSIX they leave the process's memory at once, so a large file is not held resident beside
// what was decoded from it. Read again, they come back from the file.
void ReleaseReadPages(const uint8_t* begin, size_t size);

// Releases a mapping made by MapFileReadOnly and clears it.
void UnmapFile(FileMapping& mapping);

#pragma once

// Bytes set aside on disk until they are copied into the output: a .glb's images wait here
// rather than in memory, so a model naming many textures holds one at a time. The file has no
// name (O_TMPFILE) where the file system allows it, else one removed as soon as it is made;
// either way it goes with its descriptor, on every path. It lies in the output's folder (or
// the nearest one above it that exists) rather than in /tmp, which may be memory.

#include <cstddef>
#include <cstdint>
#include <string>

class OutputFile;

// Where bytes lie in a SpillFile.
struct SpillSpan {
    uint64_t offset = 0, size = 0;
};

class SpillFile {
public:
    // Nothing is made until the first Append. `unnamed` false makes the named file at once (for
    // tests of the file systems without O_TMPFILE).
    explicit SpillFile(std::string outputPath, bool unnamed = true);
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Failures throw std::runtime_error naming the output.
    SpillSpan Append(const void* data, size_t size);
    // Copies the span's bytes into `file` a megabyte at a time.
    void CopyTo(const SpillSpan& span, OutputFile& file) const;
    uint64_t Size() const { return size; }

private:
    void Open();
    [[noreturn]] void Fail(const std::string& reason) const;

    const std::string outputPath;
    const bool unnamed;
    int descriptor = -1;
    uint64_t size = 0;
};

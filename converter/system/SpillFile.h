#pragma once

// Bytes set aside on disk until they are copied into the output. A .glb's images wait here
// rather than in memory, so a model that names many textures holds only one at a time. The
// first megabyte waits in memory: most models name a few small textures, and a file made and
// dropped for each of them costs the file system more than the copy.

// Where the file system allows it, the file has no name (O_TMPFILE); otherwise its name is
// removed as soon as it is made. Either way the file disappears with its descriptor, however
// the run ends. It lives in the output's folder (or the nearest existing folder above it)
// rather than in /tmp, which may be held in memory.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class OutputFile;

// Where bytes lie in a SpillFile.
struct SpillSpan {
    uint64_t offset = 0, size = 0;
};

class SpillFile {
public:
    // Nothing is created until the bytes pass what waits in memory. With `unnamed` false, a named
    // file is made at once (to test what happens on file systems without O_TMPFILE).
    explicit SpillFile(std::string outputPath, bool unnamed = true);
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Failures throw std::runtime_error naming the output.
    SpillSpan Append(const void* data, size_t size);
    // Copies the span's bytes into `file` a megabyte at a time.
    void CopyTo(const SpillSpan& span, OutputFile& file) const;
    uint64_t Size() const { return size; }

    static constexpr size_t heldBytes = 1 << 20; // at most this waits in memory

private:
    void Open();
    void WriteAt(const char* data, size_t count, uint64_t offset);
    [[noreturn]] void Fail(const std::string& reason) const;

    const std::string outputPath;
    const bool unnamed;
    int descriptor = -1;
    uint64_t size = 0;
    std::vector<char> held; // every byte so far, while there is no file
};

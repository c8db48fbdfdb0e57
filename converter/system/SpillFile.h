#pragma once

// Bytes set aside on disk until they are copied into the output. A .glb's images wait here
// rather than in memory, so a model that names many textures holds only one at a time.

// Where the file system allows it, the file has no name (O_TMPFILE); otherwise its name is
// removed as soon as it is made. Either way the file disappears with its descriptor, however
// the run ends. It lives in the output's folder (or the nearest existing folder above it)
// rather than in /tmp, which may be held in memory.

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
    // Nothing is created until the first Append. With `unnamed` false, a named file is made at
    // once (to test what happens on file systems without O_TMPFILE).
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

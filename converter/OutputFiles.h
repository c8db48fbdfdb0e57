#pragma once

// The files of one conversion are written under temporary names beside their final ones and
// renamed together at the end, so a failure never leaves a half-written file behind.

#include <string>
#include <vector>

class OutputFiles {
public:
    OutputFiles() = default;
    ~OutputFiles(); // removes whatever was not committed
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // The temporary path to write `finalPath`'s content to; makes missing folders.
    std::string Add(const std::string& finalPath);
    // Renames every file to its final name. Throws std::runtime_error, saying which, on failure.
    void Commit();
    const std::vector<std::string>& FinalPaths() const { return finals; }

private:
    std::vector<std::string> temporaries;
    std::vector<std::string> finals;
    std::vector<std::string> createdFolders;
    bool committed = false;
};

// Writes bytes to a path; throws std::runtime_error naming the path on failure.
void WriteBytes(const std::string& path, const void* data, size_t size);
void WriteText(const std::string& path, const std::string& text);

#pragma once

// A private folder under the system's temporary folder, removed with everything in it: where
// tests, benchmarks and fuzz targets write the files they make.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace modelwriter {

class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string& prefix = "brennic")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder: " + std::string(std::strerror(errno)));
        path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& Path() const { return path; }

private:
    std::string path;
};

} // namespace modelwriter

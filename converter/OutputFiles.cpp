#include "OutputFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

OutputFiles::~OutputFiles()
{
    if (committed)
        return;
    std::error_code ignored;
    for (const std::string& temporary : temporaries)
        fs::remove(temporary, ignored);
    for (auto folder = createdFolders.rbegin(); folder != createdFolders.rend(); ++folder)
        fs::remove(*folder, ignored); // only if still empty
}

std::string OutputFiles::Add(const std::string& finalPath)
{
    const fs::path target(finalPath);
    // Folders made for this output go again if it fails.
    std::vector<fs::path> missing;
    for (fs::path folder = target.parent_path(); !folder.empty() && !fs::exists(folder); folder = folder.parent_path())
        missing.push_back(folder);
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        std::error_code error;
        if (!fs::create_directory(*folder, error) && error)
            throw std::runtime_error("cannot make the folder " + folder->string() + ": " + error.message());
        createdFolders.push_back(folder->string());
    }
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".part-" + std::to_string(getpid()))).string();
    temporaries.push_back(temporary);
    finals.push_back(finalPath);
    return temporary;
}

void OutputFiles::Commit()
{
    for (size_t i = 0; i < temporaries.size(); ++i)
        if (std::rename(temporaries[i].c_str(), finals[i].c_str()) != 0)
            throw std::runtime_error("cannot write " + finals[i] + ": " + std::strerror(errno));
    committed = true;
}

void WriteBytes(const std::string& path, const void* data, size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    const bool written = std::fwrite(data, 1, size, file) == size;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed)
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

void WriteText(const std::string& path, const std::string& text)
{
    WriteBytes(path, text.data(), text.size());
}

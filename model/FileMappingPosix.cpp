#include "FileMapping.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

bool MapFileReadOnly(const std::string& path, FileMapping& mapping)
{
    std::string posixPath = path;
    std::replace(posixPath.begin(), posixPath.end(), '\\', '/');

    const int fd = open(posixPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;

    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0 ||
        static_cast<uint64_t>(status.st_size) > UINT32_MAX) {
        close(fd);
        return false;
    }

    const size_t size = static_cast<size_t>(status.st_size);
    // MAP_POPULATE: the loader touches every page it keeps, so fault them in one go.
    void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    close(fd);
    if (view == MAP_FAILED)
        return false;

    mapping.file = nullptr;
    mapping.mapping = nullptr;
    mapping.view = static_cast<const uint8_t*>(view);
    mapping.size = static_cast<uint32_t>(size);
    mapping.identity = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
    return true;
}

void UnmapFile(FileMapping& mapping)
{
    if (mapping.view)
        munmap(const_cast<uint8_t*>(mapping.view), mapping.size);
    mapping = FileMapping{};
}

#include "FileMapping.h"

#include <windows.h>

namespace {

bool Fail(MapReport* report, const char* problem)
{
    if (report)
        report->problem = problem;
    return false;
}

} // namespace

bool MapFileReadOnly(const std::string& path, FileMapping& mapping, MapReport* report)
{
    // Windows itself refuses to shrink a file while a view of it is mapped.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE || file == NULL)
        return Fail(report, GetLastError() == ERROR_ACCESS_DENIED ? "permission denied" : "no such file");
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return Fail(report, "is not a regular file");
    }

    BY_HANDLE_FILE_INFORMATION information;
    LARGE_INTEGER size;
    size.QuadPart = 0;
    const char* problem = NULL;
    if (!GetFileSizeEx(file, &size) || !GetFileInformationByHandle(file, &information))
        problem = "cannot be read";
    else if (size.QuadPart <= 0)
        problem = "the file is empty"; // cannot be mapped
    else if (size.HighPart != 0)
        problem = "too large for the format (4 GiB at most)"; // past the format's 32-bit offsets
    if (problem) {
        CloseHandle(file);
        return Fail(report, problem);
    }
    HANDLE fileMapping = CreateFileMappingA(file, NULL, PAGE_READONLY, 0, size.LowPart, NULL);
    if (!fileMapping) {
        CloseHandle(file);
        return Fail(report, "cannot be mapped");
    }
    const void* view = MapViewOfFile(fileMapping, FILE_MAP_READ, 0, 0, size.LowPart);
    if (!view) {
        CloseHandle(fileMapping);
        CloseHandle(file);
        return Fail(report, "cannot be mapped");
    }

    mapping.file = file;
    mapping.mapping = fileMapping;
    mapping.view = static_cast<const uint8_t*>(view);
    mapping.size = size.LowPart;
    mapping.identity = FileIdentity(information.dwVolumeSerialNumber,
                                    uint64_t(information.nFileIndexHigh) << 32 | information.nFileIndexLow);
    return true;
}

bool MappingChanged(const FileMapping&)
{
    return false;
}

// Windows reads a view ahead and trims its pages from the working set as it needs the memory.
void PrepareReadPages(const uint8_t*, size_t) {}
void ReleaseReadPages(const uint8_t*, size_t) {}

void UnmapFile(FileMapping& mapping)
{
    if (mapping.view)
        UnmapViewOfFile(mapping.view);
    if (mapping.mapping)
        CloseHandle(mapping.mapping);
    if (mapping.file)
        CloseHandle(mapping.file);
    mapping = FileMapping();
}

#include "FileMapping.h"

#include <windows.h>

bool MapFileReadOnly(const std::string& path, FileMapping& mapping)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr)
        return false;

    BY_HANDLE_FILE_INFORMATION information{};
    LARGE_INTEGER size{};
    // An empty file cannot be mapped; one of 4 GiB or more does not fit the format's offsets.
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.HighPart != 0 ||
        !GetFileInformationByHandle(file, &information)) {
        CloseHandle(file);
        return false;
    }
    HANDLE fileMapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, size.LowPart, nullptr);
    if (!fileMapping) {
        CloseHandle(file);
        return false;
    }
    const void* view = MapViewOfFile(fileMapping, FILE_MAP_READ, 0, 0, size.LowPart);
    if (!view) {
        CloseHandle(fileMapping);
        CloseHandle(file);
        return false;
    }

    mapping.file = file;
    mapping.mapping = fileMapping;
    mapping.view = static_cast<const uint8_t*>(view);
    mapping.size = size.LowPart;
    mapping.identity = {information.dwVolumeSerialNumber,
                        uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow};
    return true;
}

void UnmapFile(FileMapping& mapping)
{
    if (mapping.view)
        UnmapViewOfFile(mapping.view);
    if (mapping.mapping)
        CloseHandle(mapping.mapping);
    if (mapping.file)
        CloseHandle(mapping.file);
    mapping = FileMapping{};
}

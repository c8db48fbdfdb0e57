#include "SystemErrors.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace fs = std::filesystem;

std::string ErrorReason(int error)
{
    switch (error) {
    case ENOSPC: return "the disk is full";
    case EDQUOT: return "the disk quota is used up";
    case EFBIG: return "the file would pass the file size limit (ulimit -f)";
    case ENAMETOOLONG: return "the name is too long for the file system";
    case EACCES:
    case EPERM: return "permission denied";
    case ENOENT: return "no such file or folder";
    case ENOTDIR: return "a part of the path is not a folder";
    case EISDIR: return "it is a folder";
    case EROFS: return "the file system is read-only";
    case ELOOP: return "too many symbolic links";
    case EMFILE:
    case ENFILE: return "too many open files";
    case EIO: return "input/output error";
    default: return std::strerror(error);
    }
}

std::string Describe(const fs::filesystem_error& error)
{
    const std::error_code code = error.code();
    const std::string reason = code.category() == std::generic_category() || code.category() == std::system_category()
                                   ? ErrorReason(code.value())
                                   : code.message();
    return error.path1().empty() ? reason : error.path1().string() + ": " + reason;
}

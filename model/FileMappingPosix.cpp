#include "FileMapping.h"

#include "PathLookup.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Mappings whose file may shrink under them. A read past a mapped file's new end raises
// SIGBUS: the handler finds the mapping here, lays zero pages over its rest and marks it
// changed, so the read goes on and the loader drops that file's data. The table is fixed and
// lock-free: the handler may interrupt any change to it.
struct Watch {
    std::atomic<uintptr_t> begin{0}; // 0: free; 1: being filled in
    std::atomic<uintptr_t> end{0};   // page-rounded
    std::atomic<bool> changed{false};
};
constexpr int watchCount = 1024;
constexpr uintptr_t claimed = 1;
Watch watches[watchCount];
uintptr_t pageSize = 4096;
struct sigaction previousBusAction {};
std::once_flag handlerInstalled;

void OnBusError(int signal, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Watch& watch : watches) {
        const uintptr_t begin = watch.begin.load(std::memory_order_acquire);
        const uintptr_t end = watch.end.load(std::memory_order_acquire);
        if (begin <= claimed || address < begin || address >= end)
            continue;
        const uintptr_t from = address & ~(pageSize - 1);
        if (mmap(reinterpret_cast<void*>(from), end - from, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                 0) != MAP_FAILED) {
            watch.changed.store(true, std::memory_order_release);
            errno = savedErrno;
            return;
        }
        break;
    }
    // Not one of our mappings: pass the signal to the handler that was there before. Without
    // one, restore the signal's own action; a fault then recurs when the instruction runs
    // again, and a signal that was sent is sent again.
    errno = savedErrno;
    if ((previousBusAction.sa_flags & SA_SIGINFO) && previousBusAction.sa_sigaction)
        return previousBusAction.sa_sigaction(signal, info, context);
    if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN)
        return previousBusAction.sa_handler(signal);
    sigaction(SIGBUS, &previousBusAction, nullptr);
    if (info->si_code <= 0)
        raise(signal);
}

void InstallHandler()
{
    pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previousBusAction);
}

int StartWatching(const void* view, size_t size)
{
    const auto begin = reinterpret_cast<uintptr_t>(view);
    for (int slot = 0; slot < watchCount; ++slot) {
        uintptr_t expected = 0;
        if (!watches[slot].begin.compare_exchange_strong(expected, claimed))
            continue;
        watches[slot].changed.store(false);
        watches[slot].end.store((begin + size + pageSize - 1) & ~(pageSize - 1), std::memory_order_release);
        watches[slot].begin.store(begin, std::memory_order_release);
        return slot;
    }
    return -1;
}

std::string NotAFile(mode_t mode)
{
    if (S_ISDIR(mode))
        return "is a folder, not a file";
    if (S_ISFIFO(mode))
        return "is a FIFO (named pipe), not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "is a device, not a file";
    if (S_ISSOCK(mode))
        return "is a socket, not a file";
    return "is not a regular file";
}

// Why a regular file of this size cannot be mapped, or empty.
std::string SizeProblem(off_t size)
{
    if (size <= 0)
        return "the file is empty";
    if (static_cast<uint64_t>(size) > UINT32_MAX)
        return "too large for the format (4 GiB at most)";
    return std::string();
}

std::string Missing(const std::string& posixPath, int error)
{
    if ((error == ENOENT || error == ENOTDIR) && PathNeedsBackslashInName(posixPath))
        return "no such file: its name holds a '\\', which the host's path form cannot carry (it takes every '\\' "
               "as a folder separator); rename it";
    switch (error) {
    case ENOENT:
    case ENOTDIR: return "no such file";
    case EACCES: return "permission denied";
    case ENAMETOOLONG: return "the name is too long for the file system";
    default: return std::strerror(error);
    }
}

bool Fail(MapReport* report, std::string problem)
{
    if (report)
        report->problem = std::move(problem);
    return false;
}

} // namespace

bool MapFileReadOnly(const std::string& path, FileMapping& mapping, MapReport* report)
{
    std::string posixPath = path;
    std::replace(posixPath.begin(), posixPath.end(), '\\', '/');
    std::string ambiguity;
    posixPath = ResolvePathIgnoringCase(posixPath, &ambiguity);

    // Looked at before opening, so no device or FIFO is ever opened; looked at again after,
    // in case the name was swapped in between.
    struct stat named {};
    if (stat(posixPath.c_str(), &named) != 0)
        return Fail(report, Missing(posixPath, errno));
    if (!S_ISREG(named.st_mode))
        return Fail(report, NotAFile(named.st_mode));
    if (!SizeProblem(named.st_size).empty())
        return Fail(report, SizeProblem(named.st_size));

    const int fd = open(posixPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return Fail(report, Missing(posixPath, errno));
    struct stat status {};
    std::string problem;
    if (fstat(fd, &status) != 0)
        problem = std::strerror(errno);
    else if (!S_ISREG(status.st_mode))
        problem = NotAFile(status.st_mode);
    else
        problem = SizeProblem(status.st_size);
    if (!problem.empty()) {
        close(fd);
        return Fail(report, problem);
    }

    std::call_once(handlerInstalled, InstallHandler);
    const size_t size = static_cast<size_t>(status.st_size);
    // Not populated here: the loader maps each run of vertex records in one go when it comes
    // to it (PrepareReadPages) and drops it once decoded (ReleaseReadPages), so only the part
    // being read is resident beside what was made of it.
    void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    const int mapError = errno;
    close(fd);
    if (view == MAP_FAILED)
        return Fail(report, std::string("cannot be mapped: ") + std::strerror(mapError));
    const int watch = StartWatching(view, size);
    if (watch < 0) {
        munmap(view, size);
        return Fail(report, "too many files are mapped at once");
    }

    mapping.file = nullptr;
    mapping.mapping = nullptr;
    mapping.view = static_cast<const uint8_t*>(view);
    mapping.size = static_cast<uint32_t>(size);
    mapping.identity = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
    mapping.watch = watch;
    if (report)
        report->ambiguity = ambiguity;
    return true;
}

bool MappingChanged(const FileMapping& mapping)
{
    return mapping.watch >= 0 && watches[mapping.watch].changed.load(std::memory_order_acquire);
}

void PrepareReadPages(const uint8_t* begin, size_t size)
{
#ifdef MADV_POPULATE_READ
    const uintptr_t from = reinterpret_cast<uintptr_t>(begin) & ~(pageSize - 1);
    const uintptr_t to = reinterpret_cast<uintptr_t>(begin) + size;
    if (from < to)
        madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_READ); // else each page faults in
#else
    (void)begin;
    (void)size;
#endif
}

void ReleaseReadPages(const uint8_t* begin, size_t size)
{
    const uintptr_t from = (reinterpret_cast<uintptr_t>(begin) + pageSize - 1) & ~(pageSize - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(begin) + size) & ~(pageSize - 1);
    if (from < to)
        madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

void UnmapFile(FileMapping& mapping)
{
    if (mapping.watch >= 0)
        watches[mapping.watch].begin.store(0, std::memory_order_release);
    if (mapping.view)
        munmap(const_cast<uint8_t*>(mapping.view), mapping.size);
    mapping = FileMapping{};
}

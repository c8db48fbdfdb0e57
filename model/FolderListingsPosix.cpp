#include "FolderListingsPosix.h"

#include "PathLookup.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <list>
#include <map>
#include <mutex>
#include <unistd.h>

namespace {

std::atomic<uint64_t> listingsRead{0};

// File systems stamp changes with a clock that may tick this coarsely (FAT: 2 s).
constexpr time_t timestampGrain = 2;

// Bounds of the cache: past either, the least recently used folders are dropped, though the
// one just read is always kept.
constexpr size_t maxCachedFolders = 4096;
constexpr size_t maxCachedBytes = size_t{32} << 20;

char Folded(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

timespec Now(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return now;
}

} // namespace

// FNV-1a of the folded name.
uint32_t FoldedHash(const char* name)
{
    uint32_t hash = 2166136261u;
    for (; *name; ++name)
        hash = (hash ^ static_cast<unsigned char>(Folded(*name))) * 16777619u;
    return hash;
}

int CompareFolded(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        const auto x = static_cast<unsigned char>(Folded(*a));
        const auto y = static_cast<unsigned char>(Folded(*b));
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
    }
}

int Compare(const timespec& a, const timespec& b)
{
    if (a.tv_sec != b.tv_sec)
        return a.tv_sec < b.tv_sec ? -1 : 1;
    return a.tv_nsec == b.tv_nsec ? 0 : a.tv_nsec < b.tv_nsec ? -1 : 1;
}

namespace {

// The names in the folder, or null when it cannot be read to its end.
std::shared_ptr<Listing> ReadNames(int folder, const struct stat& status)
{
    const int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const std::unique_ptr<DIR, int (*)(DIR*)> directory(fdopendir(fd), closedir);
    if (!directory) {
        close(fd);
        return nullptr;
    }
    ++listingsRead;
    auto listing = std::make_shared<Listing>(status);
    bool complete = true;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(directory.get());
        if (!entry) {
            complete = errno == 0;
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        const size_t size = std::strlen(name) + 1;
        // Offsets are 32 bits: 4 GiB of names is hundreds of times what a folder holds.
        if (size > UINT32_MAX - listing->names.size()) {
            complete = false;
            break;
        }
        listing->index.push_back({FoldedHash(name), static_cast<uint32_t>(listing->names.size())});
        listing->names.insert(listing->names.end(), name, name + size);
    }
    if (!complete)
        return nullptr;
    const Listing& names = *listing;
    std::sort(listing->index.begin(), listing->index.end(), [&](const Listing::Entry& a, const Listing::Entry& b) {
        if (a.hash != b.hash)
            return a.hash < b.hash;
        const int folded = CompareFolded(names.Name(a), names.Name(b));
        return folded != 0 ? folded < 0 : std::strcmp(names.Name(a), names.Name(b)) < 0;
    });
    listing->names.shrink_to_fit();
    listing->index.shrink_to_fit();
    return listing;
}

// Listings by folder, least recently used last.
class Cache {
public:
    std::shared_ptr<const Listing> Find(const Stamps& folder)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const auto found = byFolder.find(Key(folder));
        if (found == byFolder.end())
            return nullptr;
        recency.splice(recency.begin(), recency, found->second);
        return found->second->second;
    }

    void Keep(const std::shared_ptr<const Listing>& listing)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const FolderKey key = Key(listing->stamps);
        const auto old = byFolder.find(key);
        if (old != byFolder.end()) {
            bytes -= old->second->second->Bytes();
            recency.erase(old->second);
            byFolder.erase(old);
        }
        recency.emplace_front(key, listing);
        try {
            byFolder.emplace(key, recency.begin());
        } catch (...) {
            recency.pop_front();
            throw;
        }
        bytes += listing->Bytes();
        while (recency.size() > 1 && (recency.size() > maxCachedFolders || bytes > maxCachedBytes)) {
            bytes -= recency.back().second->Bytes();
            byFolder.erase(recency.back().first);
            recency.pop_back();
        }
    }

private:
    typedef std::pair<dev_t, ino_t> FolderKey;
    typedef std::list<std::pair<FolderKey, std::shared_ptr<const Listing>>> Recency;

    static FolderKey Key(const Stamps& stamps) { return {stamps.device, stamps.inode}; }

    std::mutex mutex;
    Recency recency;
    std::map<FolderKey, Recency::iterator> byFolder;
    size_t bytes = 0;
};

Cache& TheCache()
{
    static Cache cache;
    return cache;
}

// Reads the folder and keeps its listing with the stamps seen before the reading. A change made
// during the reading moves the stamps, so the next lookup reads the folder again; this lookup
// uses what it read, since a lookup never lists a folder twice.
//
// A change just after the reading may carry the same stamps if the file system's clock has not
// ticked since. So a listing whose change time lies within one grain of the wall clock is racy:
// on a miss, once a grain has passed by the monotonic clock, it is read once more, and kept
// until the stamps move.
//
// A change time ahead of the wall clock means the clocks disagree (skew, network file systems).
// No window can catch a same-tick change then, so such a folder is read again only when its
// stamps move.
std::shared_ptr<const Listing> ReadListing(int folder, uint64_t lookup)
{
    const timespec wall = Now(CLOCK_REALTIME);
    const timespec monotonic = Now(CLOCK_MONOTONIC);
    struct stat status {};
    if (fstat(folder, &status) != 0 || !S_ISDIR(status.st_mode))
        return nullptr;
    std::shared_ptr<Listing> listing = ReadNames(folder, status);
    if (!listing)
        return nullptr;
    listing->readAt = monotonic;
    listing->readBy = lookup;
    const timespec grainAgo = {wall.tv_sec - timestampGrain, wall.tv_nsec};
    listing->racy = Compare(status.st_ctim, wall) <= 0 && Compare(status.st_ctim, grainAgo) >= 0;
    TheCache().Keep(listing);
    return listing;
}

} // namespace

// The folder's listing: the cached one while the folder's stamps are those it was read with
// (or this lookup read it), else a new reading.
std::shared_ptr<const Listing> FolderListing(int folder, uint64_t lookup)
{
    struct stat status {};
    if (fstat(folder, &status) != 0 || !S_ISDIR(status.st_mode))
        return nullptr;
    std::shared_ptr<const Listing> cached = TheCache().Find(Stamps(status));
    if (cached && (cached->readBy == lookup || cached->stamps == Stamps(status)))
        return cached;
    return ReadListing(folder, lookup);
}

std::shared_ptr<const Listing> CachedListing(const struct stat& status)
{
    if (!S_ISDIR(status.st_mode))
        return nullptr;
    std::shared_ptr<const Listing> cached = TheCache().Find(Stamps(status));
    return cached && cached->stamps == Stamps(status) ? cached : nullptr;
}

// A racy listing that missed, read again once its grain has passed; else the listing itself.
std::shared_ptr<const Listing> AfterMiss(int folder, const std::shared_ptr<const Listing>& listing, uint64_t lookup)
{
    if (!listing->racy || listing->readBy == lookup)
        return listing;
    const timespec now = Now(CLOCK_MONOTONIC);
    const timespec settled = {listing->readAt.tv_sec + timestampGrain, listing->readAt.tv_nsec};
    if (Compare(now, settled) < 0)
        return listing;
    std::shared_ptr<const Listing> fresh = ReadListing(folder, lookup);
    return fresh ? fresh : listing;
}

uint64_t FolderListingsRead()
{
    return listingsRead.load();
}

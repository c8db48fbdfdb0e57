#include "PathLookup.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

std::atomic<uint64_t> listingsRead{0};
std::atomic<uint64_t> componentsLookedUp{0};
std::atomic<uint64_t> lookupsStarted{0};

// A descriptor that only names a folder to walk from: no read permission needed, as a path
// walk needs none.
#ifdef O_PATH
constexpr int folderOnly = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int folderOnly = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// File systems stamp changes with a clock that may tick this coarsely (FAT: 2 s).
constexpr time_t timestampGrain = 2;

// Bounds of the cache: past either, the least recently used folders are dropped, though the
// one just read is always kept.
constexpr size_t maxCachedFolders = 4096;
constexpr size_t maxCachedBytes = size_t{32} << 20;

// An ambiguity names at most this many of the matching names.
constexpr size_t maxNamesTold = 8;

char Folded(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

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

timespec Now(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return now;
}

// What identifies a folder and moves when its names change. The change time is in it as
// well as the modified time: archivers put a folder's modified time back after filling it,
// but nothing can set the change time.
struct Stamps {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    timespec changed{};

    explicit Stamps(const struct stat& status)
        : device(status.st_dev), inode(status.st_ino), modified(status.st_mtim), changed(status.st_ctim)
    {
    }
    bool operator==(const Stamps& other) const
    {
        return device == other.device && inode == other.inode && Compare(modified, other.modified) == 0 &&
               Compare(changed, other.changed) == 0;
    }
};

// One folder's names: the names as on disk one after another, each ended by '\0', and an
// index of them sorted by the hash of their folded form, then that form, then byte for byte.
// So names that are equal ignoring case sit together, in byte order, and a lookup is a
// binary search over 8-byte entries that compares names only where hashes tie.
struct Listing {
    struct Entry {
        uint32_t hash;
        uint32_t offset;
    };

    std::vector<char> names;
    std::vector<Entry> index;
    Stamps stamps;
    timespec readAt{};   // monotonic
    uint64_t readBy = 0; // the lookup that read it
    // True when read within the clock grain of its last change: a change made just after the
    // reading may carry the same stamps.
    bool racy = false;

    explicit Listing(const struct stat& status) : stamps(status) {}

    const char* Name(const Entry& entry) const { return names.data() + entry.offset; }

    size_t Bytes() const { return sizeof(Listing) + names.capacity() + index.capacity() * sizeof(Entry); }

    // The entries whose names equal `name` ignoring case, in byte order of the names.
    std::pair<const Entry*, const Entry*> Matches(const char* name) const
    {
        const uint32_t hash = FoldedHash(name);
        const Entry* first =
            std::lower_bound(index.data(), index.data() + index.size(), hash, [&](const Entry& entry, uint32_t key) {
                return entry.hash < key || (entry.hash == key && CompareFolded(Name(entry), name) < 0);
            });
        const Entry* last =
            std::upper_bound(first, index.data() + index.size(), hash, [&](uint32_t key, const Entry& entry) {
                return key < entry.hash || (key == entry.hash && CompareFolded(name, Name(entry)) < 0);
            });
        return {first, last};
    }
};

// A descriptor, closed on every path.
class Descriptor {
public:
    explicit Descriptor(int opened = -1) : fd(opened) {}
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
    Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        std::swap(fd, other.fd);
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return fd; }
    bool Valid() const { return fd >= 0; }

private:
    int fd;
};

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
// on a miss, once the grain has passed by the monotonic clock, it is read once more, and that
// reading is kept until the stamps move.
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

// Opens the folder named `name` in `at`, following a link as a path walk does.
Descriptor OpenFolder(int at, const char* name)
{
    ++componentsLookedUp;
    return Descriptor(openat(at, name, folderOnly));
}

bool ExistsIn(int at, const char* name)
{
    ++componentsLookedUp;
    struct stat status {};
    return fstatat(at, name, &status, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Exists(const std::string& path, size_t components)
{
    componentsLookedUp += components;
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

std::vector<std::string> Components(const std::string& path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

std::string Ambiguity(const std::string& part, const std::string& resolved, const Listing& listing,
                      std::pair<const Listing::Entry*, const Listing::Entry*> found)
{
    std::string told = "'" + part + "' in " + (resolved.empty() ? std::string(".") : resolved) + " matches";
    const auto count = static_cast<size_t>(found.second - found.first);
    for (const Listing::Entry* entry = found.first; entry != found.first + std::min(count, maxNamesTold); ++entry)
        told += std::string(" '") + listing.Name(*entry) + "'";
    if (count > maxNamesTold)
        told += " and " + std::to_string(count - maxNamesTold) + " more";
    return told + "; took '" + listing.Name(*found.first) + "'";
}

// Where a walk stopped: the path resolved so far (ending in '/', or empty for the working
// folder), the index of the component with no match (the component count when none), the
// folder reached and, when a component missed, that folder's listing.
struct Walked {
    std::string resolved;
    size_t missing = 0;
    Descriptor folder;
    std::shared_ptr<const Listing> listing;
};

// Opens the folders from component `walk.missing` to the last component's parent as spelt, in
// one call relative to `at` (after `prefix`); when they are all there, moves the walk on to the
// last component.
bool SkipFoldersAsSpelt(const std::vector<std::string>& parts, Walked& walk, int at, const char* prefix)
{
    std::string folders;
    for (size_t i = walk.missing; i + 1 < parts.size(); ++i)
        folders += parts[i] + '/';
    componentsLookedUp += parts.size() - 1 - walk.missing;
    Descriptor there(openat(at, (prefix + folders).c_str(), folderOnly));
    if (!there.Valid())
        return false;
    walk.resolved += folders;
    walk.folder = std::move(there);
    walk.missing = parts.size() - 1;
    return true;
}

// Walks the components from `walk.missing` on, from `walk.folder`, each relative to the
// folder before it, so a path of any depth costs the system one step a component. Returns
// whether every component was found.
bool Walk(const std::vector<std::string>& parts, Walked& walk, uint64_t lookup, std::string* ambiguity)
{
    // After a name found ignoring case the folders that follow are tried as spelt in one call;
    // such tries hand the system at most twice the path's components in all, so the walk stays
    // linear however many components differ.
    size_t budget = 2 * parts.size();
    bool afterMatch = false;
    for (size_t& i = walk.missing; i < parts.size(); ++i) {
        if (!walk.folder.Valid())
            return false;
        const size_t folders = parts.size() - 1 - i;
        if (afterMatch && folders > 1 && folders <= budget) {
            budget -= folders;
            SkipFoldersAsSpelt(parts, walk, walk.folder.Get(), "");
        }
        afterMatch = false;
        const std::string& part = parts[i];
        const bool last = i + 1 == parts.size();
        std::string name = part;
        Descriptor next;
        if (!last)
            next = OpenFolder(walk.folder.Get(), part.c_str());
        if (!next.Valid() && part != "." && part != ".." && !ExistsIn(walk.folder.Get(), part.c_str())) {
            // Spelt differently, or missing.
            std::shared_ptr<const Listing> listing = FolderListing(walk.folder.Get(), lookup);
            if (!listing)
                return false;
            auto found = listing->Matches(part.c_str());
            if (found.first == found.second) {
                listing = AfterMiss(walk.folder.Get(), listing, lookup);
                found = listing->Matches(part.c_str());
            }
            if (found.first == found.second) {
                walk.listing = listing;
                return false;
            }
            name = listing->Name(*found.first);
            if (found.second - found.first > 1 && ambiguity)
                *ambiguity = Ambiguity(part, walk.resolved, *listing, found);
            if (!last)
                next = OpenFolder(walk.folder.Get(), name.c_str());
            afterMatch = true;
        }
        // A name spelt exactly as asked that is not a folder ends the walk at the next component.
        walk.resolved += name;
        if (!last)
            walk.resolved += '/';
        walk.folder = std::move(next);
    }
    return true;
}

// Walks the path. Most paths differ from a name on disk in their last component only, so the
// folder holding it is tried as spelt first: one system call instead of one a component.
bool WalkPath(const std::string& posixPath, const std::vector<std::string>& parts, Walked& walk, uint64_t lookup,
              std::string* ambiguity)
{
    const bool absolute = posixPath[0] == '/';
    walk.resolved = absolute ? "/" : "";
    walk.missing = 0;
    if (parts.size() > 1 && SkipFoldersAsSpelt(parts, walk, AT_FDCWD, absolute ? "/" : ""))
        return Walk(parts, walk, lookup, ambiguity);
    walk.folder = OpenFolder(AT_FDCWD, absolute ? "/" : ".");
    return Walk(parts, walk, lookup, ambiguity);
}

} // namespace

std::string ResolvePathIgnoringCase(const std::string& posixPath, std::string* ambiguity)
{
    // A path the system could not open anyway is not worth a walk.
    if (posixPath.empty() || posixPath.size() >= PATH_MAX)
        return posixPath;
    const std::vector<std::string> parts = Components(posixPath);
    if (Exists(posixPath, parts.size()))
        return posixPath;
    Walked walk;
    std::string note;
    if (!WalkPath(posixPath, parts, walk, ++lookupsStarted, &note))
        return posixPath;
    if (ambiguity && !note.empty())
        *ambiguity = note;
    return walk.resolved;
}

bool PathNeedsBackslashInName(const std::string& posixPath)
{
    if (posixPath.empty() || posixPath.size() >= PATH_MAX)
        return false;
    const std::vector<std::string> parts = Components(posixPath);
    if (Exists(posixPath, parts.size()))
        return false;
    Walked walk;
    if (WalkPath(posixPath, parts, walk, ++lookupsStarted, nullptr) || !walk.listing)
        return false;
    // A name is at most NAME_MAX bytes, which bounds the joins tried; each is a search of the
    // listing the walk stopped at.
    std::string joined = parts[walk.missing];
    for (size_t i = walk.missing + 1; i < parts.size() && joined.size() < NAME_MAX; ++i) {
        joined += '\\' + parts[i];
        const auto found = walk.listing->Matches(joined.c_str());
        if (found.first != found.second)
            return true;
    }
    return false;
}

uint64_t FolderListingsRead()
{
    return listingsRead.load();
}

uint64_t PathComponentsLookedUp()
{
    return componentsLookedUp.load();
}

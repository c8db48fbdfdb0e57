#pragma once

// The folder listings behind the lookups ignoring case: one index of each folder's names,
// cached for the process and read again only when the folder's stamps move. Internal to the
// lookups (PathLookup.cpp), and POSIX only, like them.

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <memory>
#include <sys/stat.h>
#include <utility>
#include <vector>

uint32_t FoldedHash(const char* name);
int CompareFolded(const char* a, const char* b);
int Compare(const timespec& a, const timespec& b);

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

// One folder's names as on disk, each ended by '\0', and an index sorted by the hash of
// their folded form, then that form, then byte for byte. Names equal ignoring case sit
// together in byte order, and a lookup is a binary search over 8-byte entries that compares
// names only where hashes tie.
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

// The folder's listing: the cached one while the folder's stamps are those it was read with
// (or lookup `lookup` read it), else a new reading. Null when it cannot be read.
std::shared_ptr<const Listing> FolderListing(int folder, uint64_t lookup);
// The cached listing of the folder stat'ed as `status`, while its stamps are those it was read
// with; else null. Reads nothing.
std::shared_ptr<const Listing> CachedListing(const struct stat& status);
// A racy listing that missed, read again once its grain has passed; else the listing itself.
std::shared_ptr<const Listing> AfterMiss(int folder, const std::shared_ptr<const Listing>& listing, uint64_t lookup);

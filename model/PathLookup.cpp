#include "PathLookup.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace {

std::string Folded(std::string name)
{
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name;
}

// One folder's names, sorted by their folded form and then byte for byte, so the names that
// equal a folded name ignoring case stand together in byte order.
struct Listing {
    std::vector<std::pair<std::string, std::string>> names; // folded, as on disk
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    timespec changed{};
    bool racy = false; // listed so soon after a change that a later change may share its time
    size_t bytes = 0;

    bool Describes(const struct stat& folder) const
    {
        return device == folder.st_dev && inode == folder.st_ino && modified.tv_sec == folder.st_mtim.tv_sec &&
               modified.tv_nsec == folder.st_mtim.tv_nsec && changed.tv_sec == folder.st_ctim.tv_sec &&
               changed.tv_nsec == folder.st_ctim.tv_nsec;
    }

    // The names equal to `name` ignoring case, in byte order.
    std::vector<std::string> Matches(const std::string& name) const
    {
        const std::string key = Folded(name);
        auto at = std::lower_bound(names.begin(), names.end(), key,
                                   [](const auto& entry, const std::string& k) { return entry.first < k; });
        std::vector<std::string> found;
        for (; at != names.end() && at->first == key; ++at)
            found.push_back(at->second);
        return found;
    }
};

// Bounds of the cache: past either, it is emptied and starts again.
constexpr size_t maxCachedFolders = 4096;
constexpr size_t maxCachedBytes = size_t{32} << 20;
// File systems stamp changes with a clock that may tick this coarsely.
constexpr time_t timestampGrain = 2;

struct Cache {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const Listing>> listings;
    size_t bytes = 0;
};

Cache& TheCache()
{
    static Cache cache;
    return cache;
}

std::atomic<uint64_t> listingsRead{0};

std::shared_ptr<const Listing> ReadListing(const std::string& folder, const struct stat& status)
{
    DIR* directory = opendir(folder.c_str());
    if (!directory)
        return nullptr;
    ++listingsRead;
    auto listing = std::make_shared<Listing>();
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        listing->bytes += 2 * name.size() + 64;
        listing->names.emplace_back(Folded(name), name);
    }
    closedir(directory);
    std::sort(listing->names.begin(), listing->names.end());
    listing->device = status.st_dev;
    listing->inode = status.st_ino;
    listing->modified = status.st_mtim;
    listing->changed = status.st_ctim;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    listing->racy =
        now.tv_sec - status.st_mtim.tv_sec <= timestampGrain || now.tv_sec - status.st_ctim.tv_sec <= timestampGrain;
    return listing;
}

// The folder's listing, from the cache while the folder is unchanged. `fresh` asks for a new
// reading of a listing that may have missed a change made in the same clock tick.
std::shared_ptr<const Listing> FolderListing(const std::string& folder, bool fresh)
{
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return nullptr;
    Cache& cache = TheCache();
    {
        const std::lock_guard<std::mutex> lock(cache.mutex);
        const auto found = cache.listings.find(folder);
        if (found != cache.listings.end() && found->second->Describes(status) && !(fresh && found->second->racy))
            return found->second;
    }
    std::shared_ptr<const Listing> listing = ReadListing(folder, status);
    if (!listing || listing->bytes > maxCachedBytes / 4)
        return listing; // too large to keep: used once
    const std::lock_guard<std::mutex> lock(cache.mutex);
    const auto old = cache.listings.find(folder);
    if (old != cache.listings.end()) {
        cache.bytes -= old->second->bytes;
        cache.listings.erase(old);
    }
    if (cache.listings.size() >= maxCachedFolders || cache.bytes + listing->bytes > maxCachedBytes) {
        cache.listings.clear();
        cache.bytes = 0;
    }
    cache.listings.emplace(folder, listing);
    cache.bytes += listing->bytes;
    return listing;
}

// The names in `folder` equal to `name` ignoring case, looked at again when the cached
// listing holds none but may be stale.
std::vector<std::string> MatchesIn(const std::string& folder, const std::string& name)
{
    std::shared_ptr<const Listing> listing = FolderListing(folder, false);
    if (!listing)
        return {};
    std::vector<std::string> found = listing->Matches(name);
    if (found.empty() && listing->racy) {
        listing = FolderListing(folder, true);
        if (listing)
            found = listing->Matches(name);
    }
    return found;
}

bool Exists(const std::string& path)
{
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

// Walks the path component by component into `resolved`. On a component that has no match,
// stops with `resolved` the folder reached (ending in '/', or empty for the working folder)
// and `missing` that component's index, and returns false.
bool Walk(const std::string& posixPath, const std::vector<std::string>& parts, std::string& resolved, size_t& missing,
          std::string* ambiguity)
{
    resolved = posixPath[0] == '/' ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        std::string name = part;
        if (part != "." && part != ".." && !Exists(resolved + part)) {
            const std::string folder = resolved.empty() ? "." : resolved;
            const std::vector<std::string> found = MatchesIn(folder, part);
            if (found.empty()) {
                missing = i;
                return false;
            }
            name = found.front();
            if (found.size() > 1 && ambiguity) {
                *ambiguity = "'" + part + "' in " + folder + " matches";
                for (const std::string& each : found)
                    *ambiguity += " '" + each + "'";
                *ambiguity += "; took '" + name + "'";
            }
        }
        resolved += name;
        if (i + 1 < parts.size())
            resolved += '/';
    }
    return true;
}

} // namespace

std::string ResolvePathIgnoringCase(const std::string& posixPath, std::string* ambiguity)
{
    // A path the system could not open anyway is not worth a walk.
    if (posixPath.empty() || posixPath.size() >= PATH_MAX || Exists(posixPath))
        return posixPath;
    std::string resolved;
    size_t missing = 0;
    std::string note;
    if (!Walk(posixPath, Components(posixPath), resolved, missing, &note))
        return posixPath;
    if (ambiguity && !note.empty())
        *ambiguity = note;
    return resolved;
}

bool PathNeedsBackslashInName(const std::string& posixPath)
{
    if (posixPath.empty() || posixPath.size() >= PATH_MAX || Exists(posixPath))
        return false;
    const std::vector<std::string> parts = Components(posixPath);
    std::string folder;
    size_t missing = 0;
    if (Walk(posixPath, parts, folder, missing, nullptr))
        return false;
    if (folder.empty())
        folder = ".";
    // A name is at most NAME_MAX bytes, which bounds the joins tried.
    std::string joined = parts[missing];
    for (size_t i = missing + 1; i < parts.size() && joined.size() < NAME_MAX; ++i) {
        joined += '\\' + parts[i];
        if (!MatchesIn(folder, joined).empty())
            return true;
    }
    return false;
}

uint64_t FolderListingsRead()
{
    return listingsRead.load();
}

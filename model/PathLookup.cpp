#include "PathLookup.h"

#include "FolderListingsPosix.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
std::atomic<uint64_t> componentsLookedUp{0};
std::atomic<uint64_t> lookupsStarted{0};

// A descriptor that only names a folder to walk from: no read permission needed, as a path
// walk needs none.
#ifdef O_PATH
constexpr int folderOnly = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int folderOnly = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// An ambiguity names at most this many of the matching names.
constexpr size_t maxNamesTold = 8;

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

enum class Answer { Found, Missing, Unknown };

// A path whose last name is missing as spelt is mostly looked up in a folder listed before (the
// sizes of a texture tried one after another). While that folder's stamps are those it was
// listed with, its listing answers: one call for the stamps instead of a walk. Unknown when it
// cannot answer (no current listing, or a miss that the walk would list again), and the walk
// must. On a miss the walk is left stopped at the last name.
Answer FromCurrentListing(const std::string& posixPath, const std::vector<std::string>& parts, Walked& walk,
                          std::string* ambiguity)
{
    if (parts.empty() || parts.back() == "." || parts.back() == "..")
        return Answer::Unknown;
    const std::string& part = parts.back();
    walk.resolved = posixPath[0] == '/' ? "/" : "";
    for (size_t i = 0; i + 1 < parts.size(); ++i)
        walk.resolved += parts[i] + '/';
    componentsLookedUp += parts.size() - 1;
    struct stat status {};
    if (stat(walk.resolved.empty() ? "." : walk.resolved.c_str(), &status) != 0)
        return Answer::Unknown;
    const std::shared_ptr<const Listing> listing = CachedListing(status);
    if (!listing)
        return Answer::Unknown;
    const auto found = listing->Matches(part.c_str());
    if (found.first == found.second) {
        if (listing->racy)
            return Answer::Unknown;
        walk.missing = parts.size() - 1;
        walk.listing = listing;
        return Answer::Missing;
    }
    if (found.second - found.first > 1 && ambiguity)
        *ambiguity = Ambiguity(part, walk.resolved, *listing, found);
    walk.resolved += listing->Name(*found.first);
    return Answer::Found;
}

} // namespace

std::string ResolvePathIgnoringCase(const std::string& posixPath, std::string* ambiguity, bool* found)
{
    if (found)
        *found = false;
    // A path the system could not open anyway is not worth a walk.
    if (posixPath.empty() || posixPath.size() >= PATH_MAX)
        return posixPath;
    const std::vector<std::string> parts = Components(posixPath);
    if (Exists(posixPath, parts.size())) {
        if (found)
            *found = true;
        return posixPath;
    }
    const bool missingName = errno == ENOENT;
    Walked walk;
    std::string note;
    const Answer answer = missingName ? FromCurrentListing(posixPath, parts, walk, &note) : Answer::Unknown;
    if (answer == Answer::Missing ||
        (answer == Answer::Unknown && !WalkPath(posixPath, parts, walk, ++lookupsStarted, &note)))
        return posixPath;
    if (ambiguity && !note.empty())
        *ambiguity = note;
    if (found)
        *found = true;
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
    // A listing that answers for the last name stops the walk there, where no name can be joined.
    if (errno == ENOENT && FromCurrentListing(posixPath, parts, walk, nullptr) != Answer::Unknown)
        return false;
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

uint64_t PathComponentsLookedUp()
{
    return componentsLookedUp.load();
}

#include "OutputFiles.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <stdexcept>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;
using signalcleanup::Entry;
using signalcleanup::Hold;

namespace {

// 64 random bits in hex, so nobody can plant a link at the name in advance.
std::string RandomSuffix()
{
    uint64_t bits = 0;
    auto* bytes = reinterpret_cast<char*>(&bits);
    for (size_t got = 0; got < sizeof bits;) {
        const ssize_t n = getrandom(bytes + got, sizeof bits - got, 0);
        if (n < 0 && errno != EINTR)
            throw std::runtime_error(std::string("no random numbers from the system: ") + ErrorReason(errno));
        got += n > 0 ? size_t(n) : 0;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
    return text;
}

// The longest file name the folder's file system takes. Asked once for each file system, known
// by the device of a folder on it, when there is one.
size_t NameMax(const std::string& folder, std::optional<dev_t> device)
{
    static std::mutex mutex;
    static std::map<dev_t, size_t> byDevice;
    if (device) {
        const std::lock_guard<std::mutex> lock(mutex);
        const auto known = byDevice.find(*device);
        if (known != byDevice.end())
            return known->second;
    }
    const long max = pathconf(folder.c_str(), _PC_NAME_MAX);
    const size_t nameMax = max > 0 ? size_t(max) : 255;
    if (device && max > 0) {
        const std::lock_guard<std::mutex> lock(mutex);
        byDevice.emplace(*device, nameMax);
    }
    return nameMax;
}

// ".NAME.part-RANDOM" beside the final file, with NAME shortened when the whole would not fit.
std::string TemporaryPath(const std::string& finalPath, size_t nameMax)
{
    const fs::path target(finalPath);
    const std::string suffix = ".part-" + RandomSuffix();
    std::string name = "." + target.filename().string();
    if (name.size() + suffix.size() > nameMax)
        name.resize(nameMax > suffix.size() + 1 ? nameMax - suffix.size() : 1);
    return (target.parent_path() / (name + suffix)).string();
}

std::string ProcessPathOf(int descriptor)
{
    return "/proc/self/fd/" + std::to_string(descriptor);
}

// Whether an unnamed temporary can be linked by its /proc/self/fd name; once it could, it can.
bool ProcessPathWorks(int descriptor)
{
    static std::atomic<bool> works{false};
    if (!works && access(ProcessPathOf(descriptor).c_str(), F_OK) == 0)
        works = true;
    return works;
}

} // namespace

// --- OutputFile

OutputFile::OutputFile(OutputFiles& files, std::string path) : owner(files), finalPath(std::move(path)) {}

OutputFile::~OutputFile()
{
    if (descriptor >= 0)
        close(descriptor); // an unnamed temporary disappears with it
    if (temporaryName) {
        const Hold hold;
        unlink(temporaryName->Path().c_str());
        temporaryName.reset();
    }
    if (finalName) {
        // The file took its final name, but the commit never came: remove it, though only
        // while the name is still this file.
        const Hold hold;
        struct stat status {};
        if (lstat(finalPath.c_str(), &status) == 0 && status.st_dev == identity.first &&
            status.st_ino == identity.second)
            unlink(finalPath.c_str());
        finalName.reset();
    }
}

void OutputFile::WriteLarge(const void* data, size_t size)
{
    Flush();
    if (size >= capacity)
        return WriteOut(static_cast<const char*>(data), size);
    std::memcpy(buffer.get(), data, size);
    used = size;
}

void OutputFile::Flush()
{
    if (used)
        WriteOut(buffer.get(), used);
    used = 0;
}

void OutputFile::WriteOut(const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(descriptor, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
        }
        data += written;
        size -= size_t(written);
    }
}

void OutputFile::Seek(uint64_t offset)
{
    Flush();
    if (lseek(descriptor, off_t(offset), SEEK_SET) < 0)
        Fail(errno);
}

void OutputFile::Close()
{
    if (closed)
        return;
    closed = true;
    Flush();
    buffer.reset();
    // The requested file takes its name at the commit, after all the others. The others take
    // theirs now, so no more than a file or two is open at a time.
    if (finalPath != owner.requested && !replacing && TakeFreeFinalName())
        return;
    if (unnamed) {
        // The open descriptor keeps the file; beyond the allowance, it takes a temporary name
        // and closes the descriptor.
        if (owner.unnamedWaiting < owner.unnamedAllowance)
            ++owner.unnamedWaiting;
        else
            Name();
        return;
    }
    CloseDescriptor();
}

void OutputFile::CloseDescriptor()
{
    const int closing = descriptor;
    descriptor = -1;
    if (close(closing) != 0)
        Fail(errno);
}

bool OutputFile::TakeFreeFinalName()
{
    struct stat status {};
    if (fstat(descriptor, &status) != 0)
        Fail(errno);
    const std::string source = unnamed ? ProcessPathOf(descriptor) : temporaryName->Path();
    const Hold hold; // the name and its entry appear together
    auto entry = std::make_unique<Entry>(finalPath, Entry::Kind::File);
    entry->Identify(status.st_dev, status.st_ino);
    const bool linked = owner.Retrying(finalPath, [&] {
        return linkat(AT_FDCWD, source.c_str(), AT_FDCWD, finalPath.c_str(), unnamed ? AT_SYMLINK_FOLLOW : 0) == 0;
    });
    if (!linked) {
        // The name is taken (an older file waits for the commit to replace it), or the file
        // system has no hard links: the file waits as it is.
        if (errno == EEXIST || (!unnamed && (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS)))
            return false;
        Fail(errno);
    }
    finalName = std::move(entry);
    identity = {uint64_t(status.st_dev), uint64_t(status.st_ino)};
    if (temporaryName) {
        unlink(temporaryName->Path().c_str());
        temporaryName.reset();
    }
    unnamed = false;
    CloseDescriptor();
    return true;
}

void OutputFile::Name()
{
    const std::string source = ProcessPathOf(descriptor);
    for (;;) {
        const Hold hold; // the name and its entry appear together
        auto entry = std::make_unique<Entry>(TemporaryPath(finalPath, nameMax), Entry::Kind::File);
        if (owner.Retrying(finalPath, [&] {
                return linkat(AT_FDCWD, source.c_str(), AT_FDCWD, entry->Path().c_str(), AT_SYMLINK_FOLLOW) == 0;
            })) {
            temporaryName = std::move(entry);
            break;
        }
        if (errno != EEXIST)
            Fail(errno);
    }
    unnamed = false;
    CloseDescriptor();
}

void OutputFile::Replace()
{
    const Hold hold; // the old file is gone from the temporary name before a signal can come
    const char* temporary = temporaryName->Path().c_str();
    const char* final = finalPath.c_str();
    // Exchanged, the old file is left at the temporary name and removed from there. A rename over
    // it would do the same at once, but ext4 then writes the new file out and waits for it
    // (auto_da_alloc, so that a power cut leaves the old file or the new, never an empty one),
    // which more than doubled a batch that replaces its outputs. Nothing here is synced either
    // way: an output lost to a power cut is made again by running again.
    if (renameat2(AT_FDCWD, temporary, AT_FDCWD, final, RENAME_EXCHANGE) == 0) {
        if (unlink(temporary) == 0) {
            temporaryName.reset();
            return;
        }
        // What was there is not a file (a folder, say): it goes back, and rename refuses it.
        if (renameat2(AT_FDCWD, temporary, AT_FDCWD, final, RENAME_EXCHANGE) != 0)
            Fail(errno);
    }
    // Where names cannot be exchanged, and whatever the exchange refused: rename replaces what
    // is there, a symbolic link included, and never writes through it.
    if (std::rename(temporary, final) != 0)
        Fail(errno);
    temporaryName.reset();
}

void OutputFile::Fail(int error) const
{
    owner.Fail(finalPath, ErrorReason(error));
}

// --- OutputFiles

OutputFiles::OutputFiles(std::string requestedPath, Temporaries kind)
    : requested(std::move(requestedPath)), temporaries(kind)
{
    // Unnamed files may wait on at most a quarter of the descriptors the process may open.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        unnamedAllowance = std::min<size_t>(unnamedAllowance, size_t(limit.rlim_cur / 4));
}

template <typename Attempt>
bool OutputFiles::Retrying(const std::string& path, Attempt attempt)
{
    const std::string folder = fs::path(path).parent_path().string();
    for (int tries = 0;; ++tries) {
        if (attempt())
            return true;
        if (errno != ENOENT || tries == maxRemakes)
            return false;
        MakeFolders(folder);
    }
}

OutputFiles::~OutputFiles()
{
    // Remove the files first, newest first, then the folders made for them (only if they are
    // left empty).
    while (!files.empty())
        files.pop_back();
    while (!createdFolders.empty()) {
        const Hold hold;
        if (!committed)
            rmdir(createdFolders.back()->Path().c_str());
        createdFolders.pop_back();
    }
}

void OutputFiles::Fail(const std::string& path, const std::string& reason) const
{
    if (requested.empty() || path == requested)
        throw std::runtime_error("cannot write " + path + ": " + reason);
    throw std::runtime_error("cannot write " + requested + ": " + path + ": " + reason);
}

void OutputFiles::ProtectFile(const std::string& path)
{
    // A file that cannot be stat'ed cannot be read either, and the read will report why.
    struct stat status {};
    if (stat(path.c_str(), &status) == 0)
        ProtectFile(status.st_dev, status.st_ino, path);
}

void OutputFiles::ProtectFile(uint64_t device, uint64_t inode, const std::string& path)
{
    protectedFiles.push_back({device, inode, path});
}

void OutputFiles::CheckOutput(const std::string& finalPath) const
{
    CheckedOutput(finalPath);
}

bool OutputFiles::CheckedOutput(const std::string& finalPath) const
{
    struct stat status {};
    // A name that cannot be stat'ed (nothing there, a name too long, a loop of links) is not a
    // file this conversion read, since it read its files through names that worked. If making
    // the file then fails, that failure reports why.
    if (stat(finalPath.c_str(), &status) != 0)
        return false;
    for (const Identity& file : protectedFiles)
        if (file.device == status.st_dev && file.inode == status.st_ino)
            throw std::runtime_error("will not write " + finalPath + ": it is " +
                                     (file.path == finalPath ? "" : file.path + ", ") + "a file this conversion reads");
    return true;
}

std::optional<dev_t> OutputFiles::MakeFolders(const std::string& folder)
{
    // Another job may remove a folder it made (and left empty) while this job makes its own
    // inside it; then the walk starts again.
    for (int tries = 0;; ++tries) {
        std::vector<fs::path> missing;
        std::optional<dev_t> device;
        for (fs::path path = folder; !path.empty(); path = path.parent_path()) {
            struct stat status {};
            if (stat(path.c_str(), &status) == 0) {
                if (!S_ISDIR(status.st_mode))
                    Fail(path.string(), "not a folder");
                if (missing.empty())
                    device = status.st_dev;
                break;
            }
            if (errno == ENOTDIR)
                continue; // a file higher up: the next step finds it
            if (errno != ENOENT)
                Fail(path.string(), ErrorReason(errno));
            missing.push_back(path);
            if (path == path.parent_path())
                break;
        }
        bool vanished = false;
        for (auto path = missing.rbegin(); path != missing.rend() && !vanished; ++path) {
            const Hold hold;
            auto entry = std::make_unique<Entry>(path->string(), Entry::Kind::Folder);
            if (mkdir(path->c_str(), 0777) == 0) {
                createdFolders.push_back(std::move(entry));
                continue;
            }
            const int error = errno;
            struct stat status {};
            vanished = error == ENOENT && tries < maxRemakes;
            if (!vanished && (error != EEXIST || stat(path->c_str(), &status) != 0 || !S_ISDIR(status.st_mode)))
                Fail(path->string(), "cannot make the folder: " + ErrorReason(error));
        }
        if (!vanished)
            return device;
    }
}

OutputFile& OutputFiles::Create(const std::string& finalPath)
{
    const bool replacing = CheckedOutput(finalPath);
    const fs::path target(finalPath);
    const std::string name = target.filename().string();
    if (name.empty() || name == "." || name == "..")
        Fail(finalPath, "not a file name");
    const std::optional<dev_t> device = MakeFolders(target.parent_path().string());
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    const size_t nameMax = NameMax(folder, device);
    if (name.size() > nameMax)
        Fail(finalPath, "the name is too long for the file system (" + std::to_string(nameMax) + " bytes at most)");

    std::unique_ptr<OutputFile> file(new OutputFile(*this, finalPath));
    file->nameMax = nameMax;
    // Something is at the final name: the file waits for the commit to replace it.
    file->replacing = replacing;
    if (temporaries == Temporaries::Unnamed) {
        // Linking it by /proc/self/fd needs no privilege (AT_EMPTY_PATH would).
        int descriptor = -1;
        Retrying(finalPath,
                 [&] { return (descriptor = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)) >= 0; });
        if (descriptor >= 0 && ProcessPathWorks(descriptor)) {
            file->descriptor = descriptor;
            file->unnamed = true;
        } else if (descriptor >= 0) {
            close(descriptor);
        }
    }
    while (file->descriptor < 0) {
        const Hold hold;
        auto entry = std::make_unique<Entry>(TemporaryPath(finalPath, nameMax), Entry::Kind::File);
        Retrying(finalPath, [&] {
            file->descriptor = open(entry->Path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            return file->descriptor >= 0;
        });
        if (file->descriptor >= 0)
            file->temporaryName = std::move(entry);
        else if (errno != EEXIST)
            Fail(finalPath, ErrorReason(errno));
    }
    file->buffer.reset(new char[OutputFile::capacity]);
    files.push_back(std::move(file));
    return *files.back();
}

void OutputFiles::Write(const std::string& finalPath, const void* data, size_t size)
{
    OutputFile& file = Create(finalPath);
    file.Write(data, size);
    file.Close();
}

void OutputFiles::Commit()
{
    // Name the requested file last, so it never refers to a file that is not in place yet.
    std::vector<OutputFile*> order;
    for (const std::unique_ptr<OutputFile>& file : files)
        if (file->finalPath != requested)
            order.push_back(file.get());
    for (const std::unique_ptr<OutputFile>& file : files)
        if (file->finalPath == requested)
            order.push_back(file.get());
    for (OutputFile* file : order) {
        file->Close();
        if (file->finalName || (file->unnamed && !file->replacing && file->TakeFreeFinalName()))
            continue;
        if (file->unnamed)
            file->Name();
        file->Replace();
    }
    for (OutputFile* file : order)
        file->finalName.reset(); // kept: nothing to remove any more
    committed = true;
}

std::vector<std::string> OutputFiles::FinalPaths() const
{
    std::vector<std::string> paths;
    for (const std::unique_ptr<OutputFile>& file : files)
        paths.push_back(file->finalPath);
    return paths;
}

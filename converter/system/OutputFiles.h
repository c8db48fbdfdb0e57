#pragma once

// The files of one conversion are written to temporaries in their final folders, so a failure
// or a signal never leaves a half-written file behind. Where the file system allows it, a
// temporary has no name at all (O_TMPFILE: even kill -9 leaves nothing); otherwise it gets an
// unpredictable name, created exclusively and never through a symbolic link.

// A finished file takes its final name at once when nothing is there yet, and closes its
// descriptor, so a conversion keeps only a file or two open however many it writes.

// The file the user asked for (the one that names the others) takes its name last, at the
// commit. So does any file whose name an older file holds: the older file stays until then.

// Without a commit, every name taken is removed again (only while it is still this
// conversion's file), as is every folder made for them and left empty. Another job may have
// put its unnamed temporary in such a folder, so a job that finds a folder gone makes it again
// and carries on.

// An output that is a file the conversion reads is refused.

#include "SignalCleanup.h"
#include "SystemErrors.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <type_traits>
#include <utility>
#include <vector>

class OutputFiles;

// One file being written, buffered; every write checked. Failures throw std::runtime_error
// naming the file.
class OutputFile {
public:
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const void* data, size_t size)
    {
        if (size == 0)
            return; // an empty source may have no address at all
        if (size > capacity - used)
            return WriteLarge(data, size);
        std::memcpy(buffer.get() + used, data, size);
        used += size;
    }
    OutputFile& operator<<(std::string_view text)
    {
        Write(text.data(), text.size());
        return *this;
    }
    OutputFile& operator<<(char c) { return *this << std::string_view(&c, 1); }
    // Numbers as std::to_chars writes them: shortest round-trip form, locale-independent.
    template <typename Number, typename = std::enable_if_t<std::is_arithmetic_v<Number>>>
    OutputFile& operator<<(Number value)
    {
        if (capacity - used < 32)
            Flush();
        char* const end = buffer.get() + capacity;
        used = size_t(std::to_chars(buffer.get() + used, end, value).ptr - buffer.get());
        return *this;
    }
    // Writes what follows from `offset` on (flushing what came before). The file ends where
    // its furthest write ended.
    void Seek(uint64_t offset);
    // Marks the file complete (nothing more may be written); it has its final name once the
    // set is committed.
    void Close();

private:
    friend class OutputFiles;
    OutputFile(OutputFiles& owner, std::string finalPath);
    void WriteLarge(const void* data, size_t size);
    void Flush();
    void WriteOut(const char* data, size_t size);
    // Links the finished file at its final name when nothing is there yet (an older file stays
    // until the commit replaces it, so a failure never loses it) and closes it. Returns false
    // when the name is taken or the file system has no hard links.
    bool TakeFreeFinalName();
    void Name();    // links an unnamed temporary to a name of its own
    void Replace(); // puts the named temporary in the final name's place, whatever is there
    void CloseDescriptor();
    [[noreturn]] void Fail(int error) const;

    OutputFiles& owner;
    const std::string finalPath;
    int descriptor = -1;
    bool unnamed = false;
    bool closed = false;
    bool replacing = false;                              // something was at the final name when the file was made
    size_t nameMax = 255;                                // the longest name its folder takes
    std::unique_ptr<signalcleanup::Entry> temporaryName; // once it has one
    std::unique_ptr<signalcleanup::Entry> finalName;     // taken before the commit
    std::pair<uint64_t, uint64_t> identity;              // device and inode, once it has the final name
    static constexpr size_t capacity = 1 << 20;
    std::unique_ptr<char[]> buffer;
    size_t used = 0;
};

class OutputFiles {
public:
    enum class Temporaries { Unnamed, Named }; // Unnamed falls back to Named where unsupported
    // `requested` is the file the user asked for, named in every error.
    explicit OutputFiles(std::string requested = {}, Temporaries temporaries = Temporaries::Unnamed);
    ~OutputFiles(); // removes whatever was not committed
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // Protects a file the conversion reads (an input, a referenced mesh, a texture): no output
    // may be that file, however its path is spelt. Does nothing when there is no such file.
    void ProtectFile(const std::string& path);
    // The same for a file known by its identity (device and inode), as the loader read it.
    void ProtectFile(uint64_t device, uint64_t inode, const std::string& path);
    // Throws when `finalPath` is a protected file; called for every file before it is made.
    void CheckOutput(const std::string& finalPath) const;

    // Creates a new file to be written to `finalPath`, making any missing folders.
    OutputFile& Create(const std::string& finalPath);
    // Writes a whole file at once.
    void Write(const std::string& finalPath, const void* data, size_t size);
    // Gives every file its final name. On failure, throws std::runtime_error saying which file.
    void Commit();

    std::vector<std::string> FinalPaths() const;

    // At most this many finished files wait unnamed (each holds a descriptor), and no more
    // than a quarter of the process's descriptor limit; later ones are given a temporary name
    // when they are closed. Only files whose final name is taken wait.
    static constexpr size_t maxUnnamedWaiting = 64;

private:
    friend class OutputFile;
    // Makes the missing folders; each folder made is removed again, if it is empty, when the set
    // is not committed. Returns the folder's device when it was there already.
    std::optional<dev_t> MakeFolders(const std::string& folder);
    // CheckOutput, saying whether something is at the name.
    bool CheckedOutput(const std::string& finalPath) const;
    // Runs `attempt` (a system call returning false with errno set on failure). When it fails
    // because a folder is missing, makes the folders of `path` again and retries.
    template <typename Attempt>
    bool Retrying(const std::string& path, Attempt attempt);
    static constexpr int maxRemakes = 8;
    [[noreturn]] void Fail(const std::string& path, const std::string& reason) const;

    struct Identity {
        uint64_t device;
        uint64_t inode;
        std::string path;
    };
    const std::string requested;
    const Temporaries temporaries;
    std::vector<Identity> protectedFiles;
    std::vector<std::unique_ptr<OutputFile>> files;
    std::vector<std::unique_ptr<signalcleanup::Entry>> createdFolders;
    size_t unnamedWaiting = 0;
    size_t unnamedAllowance = maxUnnamedWaiting;
    bool committed = false;
};

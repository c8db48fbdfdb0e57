#pragma once

// Names a conversion has made on disk but not yet kept. When TERM, INT or HUP ends the
// process, the handler removes them, newest first (so files go before the folders made for
// them), and then lets the signal end the process as it would have.

// The handler allocates nothing: every name is registered, with its path already copied,
// while it is being made. The handler closes the process's files first, because a file system
// in user space (FUSE) keeps a file removed while open under a hidden name, and that name
// would keep its folder from being removed.

#include <csignal>
#include <string>
#include <sys/types.h>

namespace signalcleanup {

// Installs the handlers, from the main thread, once. Signals ignored on entry stay ignored
// (as under nohup). SIGXFSZ is ignored, so a write past the file size limit fails with EFBIG
// and is reported rather than ending the process.
void Install();

// Holds TERM, INT and HUP on this thread while a name is made or removed together with its
// entry, so that the handler never sees the one without the other.
class Hold {
public:
    Hold();
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    sigset_t previous;
};

// One name to remove if a signal ends the process, registered for the entry's lifetime.
class Entry {
public:
    enum class Kind { File, Folder };
    Entry(std::string path, Kind kind);
    ~Entry(); // forgets the name; removing it is the owner's business
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    const std::string& Path() const { return path; }
    // A file known by its identity is removed only while the name is still that file: another
    // process may have put its own file there since.
    void Identify(dev_t device, ino_t inode);

private:
    friend struct Registry;
    const std::string path;
    const Kind kind;
    bool identified = false;
    dev_t device = 0;
    ino_t inode = 0;
    Entry* older = nullptr;
    Entry* newer = nullptr;
};

} // namespace signalcleanup

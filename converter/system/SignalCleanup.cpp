#include "SignalCleanup.h"

#include <cerrno>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace signalcleanup {

namespace {

constexpr int cleanedSignals[] = {SIGTERM, SIGINT, SIGHUP};

sigset_t CleanedSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : cleanedSignals)
        sigaddset(&set, signal);
    return set;
}

pthread_t mainThread;

// Closes every descriptor above the standard three. The process is ending, and what it was
// writing is being removed anyway.
void CloseFiles()
{
    if (syscall(SYS_close_range, 3u, ~0u, 0u) == 0)
        return;
    for (int descriptor = 3; descriptor < 65536; ++descriptor)
        close(descriptor);
}

} // namespace

// The list of entries. It is changed only while the signals are held, so the handler (which
// runs only on the main thread) always finds it whole.
struct Registry {
    static inline Entry* newest = nullptr;

    static void Add(Entry& entry)
    {
        entry.older = newest;
        if (newest)
            newest->newer = &entry;
        newest = &entry;
    }

    static void Remove(Entry& entry)
    {
        if (entry.older)
            entry.older->newer = entry.newer;
        if (entry.newer)
            entry.newer->older = entry.older;
        else
            newest = entry.older;
    }

    static void RemoveNames()
    {
        CloseFiles();
        for (const Entry* entry = newest; entry; entry = entry->older) {
            struct stat status;
            if (entry->identified && (fstatat(AT_FDCWD, entry->path.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
                                      status.st_dev != entry->device || status.st_ino != entry->inode))
                continue;
            if (entry->kind == Entry::Kind::File)
                unlink(entry->path.c_str());
            else
                rmdir(entry->path.c_str()); // only if nothing else is in it
        }
    }
};

namespace {

void OnSignal(int signal)
{
    // A library's thread may take a signal meant for the process: hand it to the main thread,
    // which holds the signals while it changes the list.
    if (!pthread_equal(pthread_self(), mainThread)) {
        pthread_kill(mainThread, signal);
        return;
    }
    const int savedErrno = errno;
    Registry::RemoveNames();
    // End as the signal would have ended us, so the parent sees the usual status.
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    errno = savedErrno;
}

} // namespace

void Install()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    mainThread = pthread_self();
    std::signal(SIGXFSZ, SIG_IGN);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_mask = CleanedSet(); // one cleanup at a time
    for (const int signal : cleanedSignals) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
}

namespace {
// Holds nest (a name made under a Hold registers its entry under another): only the outermost
// asks the system.
thread_local int holdDepth = 0;
} // namespace

Hold::Hold()
{
    if (holdDepth++ > 0)
        return;
    const sigset_t set = CleanedSet();
    pthread_sigmask(SIG_BLOCK, &set, &previous);
}

Hold::~Hold()
{
    if (--holdDepth == 0)
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

Entry::Entry(std::string name, Kind entryKind) : path(std::move(name)), kind(entryKind)
{
    const Hold hold;
    Registry::Add(*this);
}

void Entry::Identify(dev_t fileDevice, ino_t fileInode)
{
    const Hold hold;
    device = fileDevice;
    inode = fileInode;
    identified = true;
}

Entry::~Entry()
{
    const Hold hold;
    Registry::Remove(*this);
}

} // namespace signalcleanup

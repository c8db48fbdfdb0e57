#include "Workers.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

// A job's messages are normally a few short lines; beyond this size the rest is left out and a
// line says how much.
constexpr size_t maxMessageBytes = size_t{1} << 20;
// A limit on the messages of finished jobs that wait for an earlier job. Beyond it, no job is
// handed out until the earlier one is done, so memory stays bounded however long the batch.
constexpr size_t maxWaitingBytes = size_t{8} << 20;

constexpr int forwardedSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr size_t forwardedCount = sizeof forwardedSignals / sizeof forwardedSignals[0];

// The handler wakes the parent's wait by writing the signal's number down this pipe.
int signalPipe[2] = {-1, -1};

void OnForwardedSignal(int number)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// While workers run, TERM, INT and HUP are caught here to be passed on; a signal that was
// ignored stays ignored, as it is in the workers.
class SignalForwarding {
public:
    SignalForwarding()
    {
        if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::system_error(errno, std::generic_category(), "cannot make a pipe");
        sigemptyset(&caught);
        for (size_t i = 0; i < forwardedCount; ++i) {
            sigaction(forwardedSignals[i], nullptr, &previous[i]);
            if (!(previous[i].sa_flags & SA_SIGINFO) && previous[i].sa_handler == SIG_IGN)
                continue;
            struct sigaction forward {};
            forward.sa_handler = OnForwardedSignal;
            sigemptyset(&forward.sa_mask);
            sigaction(forwardedSignals[i], &forward, nullptr);
            sigaddset(&caught, forwardedSignals[i]);
        }
    }
    ~SignalForwarding()
    {
        RestoreHandlers();
        close(signalPipe[0]);
        close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
    SignalForwarding(const SignalForwarding&) = delete;
    SignalForwarding& operator=(const SignalForwarding&) = delete;

    // A new worker gets back the handlers this process had before, and does not keep the pipe.
    void LeaveToWorker()
    {
        RestoreHandlers();
        close(signalPipe[0]);
        close(signalPipe[1]);
    }
    // The signals caught here, to be held back while a worker is forked and takes its handlers.
    const sigset_t& Caught() const { return caught; }

private:
    void RestoreHandlers()
    {
        for (size_t i = 0; i < forwardedCount; ++i)
            if (sigismember(&caught, forwardedSignals[i]))
                sigaction(forwardedSignals[i], &previous[i], nullptr);
    }

    struct sigaction previous[forwardedCount] {};
    sigset_t caught;
};

bool SendAll(int socket, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = send(socket, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

// Returns false at the end of the stream (the other process is gone) or on an error.
bool ReceiveAll(int socket, void* data, size_t size)
{
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t received = recv(socket, bytes, size, 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return false;
        bytes += received;
        size -= static_cast<size_t>(received);
    }
    return true;
}

// Returns what a job wrote to the worker's stderr (an in-memory file) and empties the file.
std::string TakeMessages(int file)
{
    struct stat status {};
    const size_t size = fstat(file, &status) == 0 && status.st_size > 0 ? static_cast<size_t>(status.st_size) : 0;
    std::string messages(std::min(size, maxMessageBytes), '\0');
    size_t kept = 0;
    while (kept < messages.size()) {
        const ssize_t read = pread(file, &messages[kept], messages.size() - kept, static_cast<off_t>(kept));
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            break;
        kept += static_cast<size_t>(read);
    }
    messages.resize(kept);
    if (size > kept)
        messages += "(" + std::to_string(size - kept) + " more bytes of messages left out)\n";
    [[maybe_unused]] const int emptied = ftruncate(file, 0);
    lseek(file, 0, SEEK_SET);
    return messages;
}

// A worker's life: it takes a job's number, runs the job and answers with its outcome and
// messages, until the parent closes its end.
[[noreturn]] void WorkAsWorker(int socket, const std::function<bool(size_t)>& run)
{
    const int messages = memfd_create("job-messages", MFD_CLOEXEC);
    if (messages < 0 || dup2(messages, STDERR_FILENO) < 0)
        _exit(1);
    uint64_t job = 0;
    while (ReceiveAll(socket, &job, sizeof job)) {
        bool succeeded = false;
        try {
            succeeded = run(static_cast<size_t>(job));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
        }
        std::fflush(stdout); // stdout is shared with the parent: write it now, not during a later job
        const std::string text = TakeMessages(messages);
        const uint64_t header[2] = {succeeded ? 1u : 0u, text.size()};
        if (!SendAll(socket, header, sizeof header) || !SendAll(socket, text.data(), text.size()))
            _exit(1);
    }
    _exit(0); // not exit(): the atexit handlers and stdio buffers belong to the parent
}

std::string HowItEnded(int status)
{
    if (WIFSIGNALED(status))
        return "was killed by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    if (WIFEXITED(status))
        return "ended with exit status " + std::to_string(WEXITSTATUS(status));
    return "ended";
}

size_t RunHere(size_t from, size_t to, const std::function<bool(size_t)>& run)
{
    size_t succeeded = 0;
    for (size_t job = from; job < to; ++job)
        succeeded += run(job) ? 1 : 0;
    return succeeded;
}

class Batch {
public:
    Batch(size_t jobCount, const std::function<bool(size_t)>& runJob,
          const std::function<void(size_t, const std::string&)>& lostJob)
        : count(jobCount), run(runJob), lost(lostJob)
    {
    }
    ~Batch() { EndWorkers(SIGTERM); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    size_t Run(unsigned workerCount)
    {
        forwarding.emplace();
        std::fflush(nullptr); // otherwise each worker would write out what is buffered again
        for (unsigned i = 0; i < workerCount; ++i) {
            Worker worker;
            if (Start(worker))
                workers.push_back(worker);
        }
        while (reported < count && !stoppedBy) {
            HandOutJobs();
            if (!AnyBusy()) {
                // No worker is left and none could be started, so the remaining jobs run here.
                EndWorkers(0);
                forwarding.reset();
                return succeeded + RunHere(next, count, run);
            }
            WaitForWorkers();
            ReportInOrder();
        }
        if (stoppedBy)
            Stop(stoppedBy);
        return succeeded;
    }

private:
    struct Worker {
        pid_t pid = -1;
        int socket = -1; // this process's end of the pair
        bool busy = false;
        size_t job = 0;
    };
    struct Finished {
        bool succeeded = false;
        std::string messages;
        std::string lostBecause; // set when the worker died during the job
    };

    // A stopped worker (^Z, a debugger) would hold the signal until continued, and the batch
    // would wait for it forever, so it is sent SIGCONT too.
    static void Signal(pid_t worker, int signal)
    {
        kill(worker, signal);
        kill(worker, SIGCONT);
    }

    bool Start(Worker& worker)
    {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
            return false;
        sigset_t previousMask;
        sigprocmask(SIG_BLOCK, &forwarding->Caught(), &previousMask);
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid == 0) {
            // A command killed by SIGKILL cannot pass the signal on, so its workers get TERM when
            // it dies instead of finishing and writing their models.
            if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent)
                _exit(1);
            close(ends[0]);
            for (const Worker& other : workers)
                if (other.socket >= 0)
                    close(other.socket);
            forwarding->LeaveToWorker();
            sigprocmask(SIG_SETMASK, &previousMask, nullptr);
            WorkAsWorker(ends[1], run);
        }
        sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        close(ends[1]);
        if (pid < 0) {
            close(ends[0]);
            return false;
        }
        worker = Worker{pid, ends[0], false, 0};
        return true;
    }

    // Closes this end, waits for the worker to exit and returns how it ended.
    std::string Reap(Worker& worker)
    {
        close(worker.socket);
        worker.socket = -1;
        int status = 0;
        while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {}
        worker.pid = -1;
        return HowItEnded(status);
    }

    // Busy workers are sent `busySignal` (none when 0); every worker is told there is no more
    // work and waited for.
    void EndWorkers(int busySignal)
    {
        for (Worker& worker : workers)
            if (busySignal && worker.busy)
                Signal(worker.pid, busySignal);
        for (Worker& worker : workers)
            Reap(worker);
        workers.clear();
    }

    bool AnyBusy() const
    {
        for (const Worker& worker : workers)
            if (worker.busy)
                return true;
        return false;
    }

    void HandOutJobs()
    {
        for (Worker& worker : workers) {
            if (worker.busy || next >= count || waitingBytes >= maxWaitingBytes)
                continue;
            const uint64_t job = next;
            if (SendAll(worker.socket, &job, sizeof job)) {
                worker.busy = true;
                worker.job = next++;
            } else {
                Reap(worker); // the worker died between jobs: another one takes the job
            }
        }
        DropEnded();
    }

    void DropEnded()
    {
        std::vector<Worker> running;
        for (const Worker& worker : workers)
            if (worker.pid >= 0)
                running.push_back(worker);
        workers.swap(running);
    }

    void WaitForWorkers()
    {
        std::vector<pollfd> polled{{signalPipe[0], POLLIN, 0}};
        std::vector<Worker*> polledWorkers;
        for (Worker& worker : workers)
            if (worker.busy) {
                polled.push_back({worker.socket, POLLIN, 0});
                polledWorkers.push_back(&worker);
            }
        if (poll(polled.data(), polled.size(), -1) < 0) {
            if (errno == EINTR)
                return;
            throw std::system_error(errno, std::generic_category(), "cannot wait for the worker processes");
        }
        unsigned char number = 0;
        if (polled[0].revents && read(signalPipe[0], &number, 1) == 1) {
            stoppedBy = number;
            return;
        }
        for (size_t i = 1; i < polled.size(); ++i)
            if (polled[i].revents)
                Receive(*polledWorkers[i - 1]);
        DropEnded();
    }

    void Receive(Worker& worker)
    {
        const size_t job = worker.job;
        Finished finished;
        uint64_t header[2] = {};
        bool whole = ReceiveAll(worker.socket, header, sizeof header) && header[1] <= maxMessageBytes + 100;
        if (whole) {
            finished.succeeded = header[0] != 0;
            finished.messages.resize(static_cast<size_t>(header[1]));
            whole = ReceiveAll(worker.socket, finished.messages.data(), finished.messages.size());
        }
        worker.busy = false;
        if (!whole) {
            kill(worker.pid, SIGKILL); // in case it lives on, answering nonsense
            finished = Finished{};
            finished.lostBecause = "the worker process running it " + Reap(worker);
            if (next < count)
                Start(worker); // a new worker in its place; if it cannot start, the worker is dropped
        }
        waitingBytes += finished.messages.size();
        results.emplace(job, std::move(finished));
    }

    void ReportInOrder()
    {
        for (auto found = results.find(reported); found != results.end(); found = results.find(reported)) {
            const Finished& finished = found->second;
            std::fwrite(finished.messages.data(), 1, finished.messages.size(), stderr);
            if (!finished.lostBecause.empty())
                lost(reported, finished.lostBecause);
            succeeded += finished.succeeded ? 1 : 0;
            waitingBytes -= finished.messages.size();
            results.erase(found);
            ++reported;
        }
    }

    // Passes the signal on, waits for the workers, then ends by the same signal with the
    // handlers this process had before, so theirs run too.
    void Stop(int signal)
    {
        for (Worker& worker : workers)
            Signal(worker.pid, signal);
        EndWorkers(0);
        forwarding.reset();
        raise(signal);
    }

    const size_t count;
    const std::function<bool(size_t)>& run;
    const std::function<void(size_t, const std::string&)>& lost;
    std::optional<SignalForwarding> forwarding;
    std::vector<Worker> workers;
    std::map<size_t, Finished> results; // finished, not yet reported
    size_t waitingBytes = 0;            // of their messages
    size_t next = 0;                    // the next job to hand out
    size_t reported = 0;                // jobs before it are reported
    size_t succeeded = 0;
    int stoppedBy = 0;
};

} // namespace

unsigned ProcessorCount()
{
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        return static_cast<unsigned>(CPU_COUNT(&allowed));
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

unsigned WorkerProcesses(size_t count, unsigned workers)
{
    return workers <= 1 || count <= 1 ? 1 : static_cast<unsigned>(std::min<size_t>(workers, count));
}

size_t RunJobs(size_t count, unsigned workers, const std::function<bool(size_t)>& run,
               const std::function<void(size_t, const std::string&)>& lost)
{
    const unsigned processes = WorkerProcesses(count, workers);
    if (processes == 1)
        return RunHere(0, count, run);
    Batch batch(count, run, lost);
    return batch.Run(processes);
}

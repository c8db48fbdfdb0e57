// Jobs on worker processes: results in job order whatever order they finish in, a worker's
// death failing its job alone, signals passed on, and nothing left behind.
#include "Workers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string ExpectedReport(size_t count, bool inWorkers)
{
    std::string report;
    for (size_t job = 0; job < count; ++job)
        report += "job " + std::to_string(job) + " ran in process " + (inWorkers ? "1" : "0") + "\n  job " +
                  std::to_string(job) + "'s second line\n";
    return report;
}

struct Batch {
    size_t count;
    unsigned workers;
    bool inWorkers;
};

void PrintTo(const Batch& batch, std::ostream* out)
{
    *out << batch.count << " jobs on " << batch.workers << " workers";
}

class WorkersReport : public testing::TestWithParam<Batch> {};

TEST_P(WorkersReport, EveryJobInJobOrder)
{
    const Batch batch = GetParam();
    const pid_t here = getpid();
    std::vector<size_t> lostJobs;
    testing::internal::CaptureStderr();
    const size_t succeeded = RunJobs(
        batch.count, batch.workers,
        [&](size_t job) {
            // Later jobs finish first, so the report's order comes from the batch.
            if (getpid() == here)
                std::fprintf(stderr, "job %zu ran in process 0\n  job %zu's second line\n", job, job);
            else {
                usleep(static_cast<useconds_t>((batch.count - job) * 2000));
                std::fprintf(stderr, "job %zu ran in process %d\n  job %zu's second line\n", job,
                             getppid() == here ? 1 : 2, job);
            }
            return job % 3 != 1;
        },
        [&](size_t job, const std::string&) { lostJobs.push_back(job); });
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(report, ExpectedReport(batch.count, batch.inWorkers));
    EXPECT_EQ(succeeded, batch.count - (batch.count + 1) / 3);
    EXPECT_TRUE(lostJobs.empty());
}

INSTANTIATE_TEST_SUITE_P(Batches, WorkersReport,
                         testing::Values(Batch{0, 2, false}, Batch{1, 4, false}, Batch{7, 1, false}, Batch{7, 2, true},
                                         Batch{20, 3, true}, Batch{3, 8, true}));

TEST(Workers, AWorkerThatDiesCostsOnlyItsJob)
{
    const pid_t here = getpid();
    std::vector<std::pair<size_t, std::string>> lostJobs;
    testing::internal::CaptureStderr();
    const size_t succeeded = RunJobs(
        8, 2,
        [&](size_t job) {
            std::fprintf(stderr, "job %zu\n", job);
            if (job == 2 || job == 5) {
                std::fprintf(stderr, "never seen\n");
                raise(job == 2 ? SIGKILL : SIGABRT);
            }
            return getpid() != here;
        },
        [&](size_t job, const std::string& why) {
            std::fprintf(stderr, "job %zu lost\n", job);
            lostJobs.emplace_back(job, why);
        });
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(report, "job 0\njob 1\njob 2 lost\njob 3\njob 4\njob 5 lost\njob 6\njob 7\n");
    EXPECT_EQ(succeeded, 6u);
    ASSERT_EQ(lostJobs.size(), 2u);
    EXPECT_EQ(lostJobs[0].second, "the worker process running it was killed by signal 9 (Killed)");
    EXPECT_EQ(lostJobs[1].second, "the worker process running it was killed by signal 6 (Aborted)");
}

size_t OpenDescriptors()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

TEST(Workers, LeaveNothingOfThemselvesBehind)
{
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);
    const size_t descriptors = OpenDescriptors();
    testing::internal::CaptureStderr();
    RunJobs(
        6, 3,
        [](size_t job) {
            if (job == 3)
                raise(SIGKILL);
            return true;
        },
        [](size_t, const std::string&) {});
    testing::internal::GetCapturedStderr();

    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a worker was not waited for";
    EXPECT_EQ(OpenDescriptors(), descriptors);
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(Workers, CutAJobsMessagesPastAMebibyteWithANote)
{
    testing::internal::CaptureStderr();
    RunJobs(
        2, 2,
        [](size_t job) {
            const std::string line(1023, 'x');
            for (size_t i = 0; i < (job + 1) * 1024; ++i)
                std::fprintf(stderr, "%s\n", line.c_str());
            return true;
        },
        [](size_t, const std::string&) {});
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(report.size(), (1u << 20) * 2 + std::string("(1048576 more bytes of messages left out)\n").size());
    EXPECT_NE(report.find("x\n(1048576 more bytes of messages left out)\n"), std::string::npos);
}

// The batch is run in a process of its own, which a job of its own asks to stop. Every
// worker must be gone by the time that process has ended by the signal. With `oneStopped`, the
// other worker has been stopped (as by ^Z) when the signal comes.
void StoppedBatch(int signal, const std::string& pidFile, bool oneStopped = false)
{
    RunJobs(
        4, 2,
        [&](size_t job) {
            std::ofstream(pidFile, std::ios::app) << getpid() << "\n";
            if (job == 0) {
                usleep(100000); // both workers have started their first job
                kill(getppid(), signal);
            } else if (oneStopped) {
                raise(SIGSTOP);
            }
            sleep(5);
            std::ofstream(pidFile, std::ios::app) << -getpid() << "\n"; // not stopped
            return true;
        },
        [](size_t, const std::string&) {});
    std::exit(0);
}

class WorkersStop : public testing::TestWithParam<int> {};

TEST_P(WorkersStop, PassTheSignalOnBeforeEndingByIt)
{
    const std::string pidFile = testing::TempDir() + "workers-stop-" + std::to_string(getpid());
    std::remove(pidFile.c_str());
    EXPECT_EXIT(StoppedBatch(GetParam(), pidFile), testing::KilledBySignal(GetParam()), "");

    std::ifstream pids(pidFile);
    std::vector<pid_t> workers;
    for (pid_t pid = 0; pids >> pid;)
        workers.push_back(pid);
    EXPECT_EQ(workers.size(), 2u) << "both workers started, and neither ran to its job's end";
    for (pid_t worker : workers)
        EXPECT_TRUE(worker > 0 && kill(worker, 0) != 0) << "worker " << worker << " outlived the batch";
    std::remove(pidFile.c_str());
}

INSTANTIATE_TEST_SUITE_P(Signals, WorkersStop, testing::Values(SIGTERM, SIGINT, SIGHUP));

std::vector<pid_t> PidsIn(const std::string& pidFile)
{
    std::ifstream pids(pidFile);
    std::vector<pid_t> written;
    for (pid_t pid = 0; pids >> pid;)
        written.push_back(pid);
    return written;
}

TEST(Workers, AStoppedWorkerDoesNotHoldTheSignalBack)
{
    const std::string pidFile = testing::TempDir() + "workers-stopped-" + std::to_string(getpid());
    std::remove(pidFile.c_str());
    EXPECT_EXIT(StoppedBatch(SIGTERM, pidFile, true), testing::KilledBySignal(SIGTERM), "");
    const std::vector<pid_t> workers = PidsIn(pidFile);
    EXPECT_EQ(workers.size(), 2u);
    for (pid_t worker : workers)
        EXPECT_TRUE(worker > 0 && kill(worker, 0) != 0) << "worker " << worker << " outlived the batch";
    std::remove(pidFile.c_str());
}

TEST(Workers, EndWhenTheCommandIsKilled)
{
    // SIGKILL cannot be passed on: the workers must see their parent go and end their jobs unfinished.
    const std::string pidFile = testing::TempDir() + "workers-orphaned-" + std::to_string(getpid());
    std::remove(pidFile.c_str());
    EXPECT_EXIT(StoppedBatch(SIGKILL, pidFile), testing::KilledBySignal(SIGKILL), "");
    sleep(6); // past the jobs' own end
    const std::vector<pid_t> written = PidsIn(pidFile);
    EXPECT_EQ(written.size(), 2u) << "both workers started, and neither ran to its job's end";
    std::remove(pidFile.c_str());
}

} // namespace

#pragma once

// What the benchmarks share: a temporary folder for the files they time, the time-per-vertex
// counter, and a reporter that keeps each benchmark's times so main can print ratios of two
// benchmarks measured in the same run.

#include "TemporaryFolder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

extern "C" char** environ;

namespace bench {

// Runs the command as a process of its own, stdin empty and stdout and stderr into `logPath`,
// and waits for it. Returns its exit status, or -2 when it could not be started and -1 when it
// did not run to its end; `usage` gets what it spent. A bare name is looked up in PATH.
inline int Spawn(const std::vector<std::string>& command, const std::string& logPath, rusage* usage = nullptr)
{
    std::vector<char*> argv;
    for (const std::string& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t child = 0;
    const int started = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return -2;
    int status = 0;
    rusage spent{};
    while (wait4(child, &status, 0, &spent) < 0)
        if (errno != EINTR)
            return -1;
    if (usage)
        *usage = spent;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using modelwriter::TemporaryFolder;

// Shows time per vertex next to time per iteration.
inline void CountVertices(benchmark::State& state, size_t vertices)
{
    state.counters["per_vertex"] = benchmark::Counter(
        static_cast<double>(vertices), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

inline double Fastest(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

// Page faults on fresh memory dominate large loads and vary from run to run on a VM, so the
// fastest repetition is kept alongside the median.
inline void TimedPerIteration(benchmark::internal::Benchmark* timed)
{
    timed->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", Fastest);
}

// Prints as usual and keeps each benchmark's real time per iteration for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            Timings& timings = byName[run.run_name.function_name];
            if (run.run_type == Run::RT_Iteration)
                timings.repetitions.push_back(seconds);
            else if (run.aggregate_name == "median")
                timings.median = seconds;
            else if (run.aggregate_name == "min")
                timings.fastest = seconds;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Seconds per iteration of the fastest repetition, or 0 when not repeated.
    double FastestSeconds(const std::string& name) const
    {
        const auto found = byName.find(name);
        return found == byName.end() ? 0 : found->second.fastest;
    }

    // Median seconds per iteration, or 0 when the benchmark did not run (or failed). A slow
    // moment of the machine moves a mean, but hardly a median.
    double MedianSeconds(const std::string& name) const
    {
        const auto found = byName.find(name);
        if (found == byName.end())
            return 0;
        const Timings& timings = found->second;
        if (timings.median > 0)
            return timings.median;
        std::vector<double> sorted = timings.repetitions;
        if (sorted.empty())
            return 0;
        std::sort(sorted.begin(), sorted.end());
        const size_t middle = sorted.size() / 2;
        return sorted.size() % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    }

private:
    // The "median" aggregate when repeated; the single runs otherwise (or when hidden from display).
    struct Timings {
        std::vector<double> repetitions;
        double median = 0;
        double fastest = 0;
    };
    std::map<std::string, Timings> byName;
};

// One benchmark's time over another's, and the bound it is held to. Each time may first be
// divided by the work it did (vertices, say), to compare costs per unit of work.
struct Ratio {
    std::string numerator; // benchmark names
    std::string denominator;
    std::string label;                            // e.g. "load/reference"
    enum Bound { AtMost, AtLeast, Within } bound; // Within: between 1/target and target
    double target;
    double numeratorWork = 1;
    double denominatorWork = 1;
};

inline void PrintRatio(const RatioReporter& reporter, const Ratio& ratio)
{
    const double numerator = reporter.MedianSeconds(ratio.numerator) / ratio.numeratorWork;
    const double denominator = reporter.MedianSeconds(ratio.denominator) / ratio.denominatorWork;
    if (numerator <= 0 || denominator <= 0) {
        std::printf("%s ratio: not measured (both %s and %s must run)\n", ratio.label.c_str(), ratio.numerator.c_str(),
                    ratio.denominator.c_str());
        return;
    }
    const double measured = numerator / denominator;
    const bool met = ratio.bound == Ratio::AtMost    ? measured <= ratio.target
                     : ratio.bound == Ratio::AtLeast ? measured >= ratio.target
                                                     : measured <= ratio.target && measured * ratio.target >= 1;
    const char* bound = ratio.bound == Ratio::AtMost    ? "<="
                        : ratio.bound == Ratio::AtLeast ? ">="
                                                        : "within 1/x to x, x =";
    std::printf("%s ratio of the medians: %.2f (target %s %g): %s\n", ratio.label.c_str(), measured, bound,
                ratio.target, met ? "met" : "NOT met");
    const double fastestNumerator = reporter.FastestSeconds(ratio.numerator) / ratio.numeratorWork;
    const double fastestDenominator = reporter.FastestSeconds(ratio.denominator) / ratio.denominatorWork;
    if (fastestNumerator > 0 && fastestDenominator > 0)
        std::printf("%s ratio of the fastest repetitions: %.2f\n", ratio.label.c_str(),
                    fastestNumerator / fastestDenominator);
}

// The whole of a benchmark program: `prepare` writes the files to time into a temporary
// folder, the registered benchmarks run, `report` prints what else they measured, and the
// ratios are printed last.
template <typename Prepare, typename Report>
int Run(int argc, char** argv, const std::vector<Ratio>& ratios, Prepare prepare, Report report)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    try {
        TemporaryFolder folder("brennic-bench");
        prepare(folder);
        RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();
        report();
        for (const Ratio& ratio : ratios)
            PrintRatio(reporter, ratio);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
    return 0;
}

template <typename Prepare>
int Run(int argc, char** argv, const Ratio& ratio, Prepare prepare)
{
    return Run(argc, argv, std::vector<Ratio>{ratio}, prepare, [] {});
}

template <typename Prepare>
int Run(int argc, char** argv, const std::vector<Ratio>& ratios, Prepare prepare)
{
    return Run(argc, argv, ratios, prepare, [] {});
}

} // namespace bench

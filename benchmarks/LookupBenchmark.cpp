// Paths looked up ignoring case (model/PathLookup.h), after each folder's first listing:
// references spelt in another case and names spelt exactly, in a folder of 120,000 files
// against one of 100; references into a folder stamped in the future; and a chain of 1,000
// folders, its case differing at the top (a walk of every level) or in the file name only.
//
// The ratios printed at the end check that a lookup in the large folder takes at most twice as
// long as one in the small folder.

#include "BenchmarkSupport.h"
#include "PathLookup.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int largeCount = 120000;
constexpr int smallCount = 100;
constexpr int futureCount = 20000;
constexpr int chainDepth = 1000;
constexpr int references = 1000; // looked up an iteration
constexpr int tailParts = 120;
constexpr double ratioTarget = 2;

// Set by main before any benchmark runs.
std::string largeFolder;
std::string smallFolder;
std::string futureFolder;
std::string chainTop; // the first folder of the chain, named "Chain"
std::string chainBottom;

std::string FileName(int number)
{
    char name[64];
    std::snprintf(name, sizeof name, "Texture_%06d_Diffuse.dds", number);
    return name;
}

std::string OtherCase(std::string name)
{
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name;
}

void Check(bool condition, const std::string& what)
{
    if (!condition)
        throw std::runtime_error(what);
}

void MakeFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    Check(fd >= 0, "cannot make " + path);
    close(fd);
}

// A folder of `count` names, links to a few files: far quicker to make than as many files
// (ext4 allows 65,000 links to a file).
void MakeFolder(const std::string& folder, int count)
{
    Check(mkdir(folder.c_str(), 0755) == 0, "cannot make " + folder);
    std::string file;
    for (int i = 0; i < count; ++i) {
        const std::string name = folder + "/" + FileName(i);
        if (i % 50000 == 0) {
            MakeFile(name);
            file = name;
        } else {
            Check(link(file.c_str(), name.c_str()) == 0, "cannot link " + name);
        }
    }
}

size_t HeapInUse()
{
    const struct mallinfo2 heap = mallinfo2();
    return heap.uordblks + heap.hblkhd;
}

void MakeChain(const std::string& parent)
{
    chainTop = parent + "/Chain";
    std::string level = chainTop;
    for (int i = 0; i < chainDepth; ++i) {
        Check(mkdir(level.c_str(), 0755) == 0, "cannot make the chain");
        chainBottom = level;
        level += "/d";
    }
    MakeFile(chainBottom + "/File.dds");
}

// Deepest first: a recursive removal would hold a descriptor a level.
void RemoveChain()
{
    unlink((chainBottom + "/File.dds").c_str());
    for (std::string level = chainBottom; level.size() >= chainTop.size(); level.resize(level.rfind('/')))
        rmdir(level.c_str());
}

void PerLookup(benchmark::State& state, size_t lookups, uint64_t listingsBefore)
{
    state.counters["per_lookup"] = benchmark::Counter(
        static_cast<double>(lookups), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["listings"] = static_cast<double>(FolderListingsRead() - listingsBefore);
}

// Looks up each name as asked and checks it resolves to the expected name, once before the
// timing (which also lists the folder), then times the lookups.
void TimeLookups(benchmark::State& state, const std::vector<std::string>& asked, const std::vector<std::string>& found)
{
    for (size_t i = 0; i < asked.size(); ++i)
        if (ResolvePathIgnoringCase(asked[i]) != found[i]) {
            state.SkipWithError(("looked up " + asked[i] + " wrongly").c_str());
            return;
        }
    const uint64_t listings = FolderListingsRead();
    for (auto _ : state)
        for (const std::string& path : asked)
            benchmark::DoNotOptimize(ResolvePathIgnoringCase(path));
    PerLookup(state, asked.size(), listings);
}

void InFolder(benchmark::State& state, const std::string& folder, int count, bool otherCase)
{
    std::vector<std::string> asked, found;
    for (int i = 0; i < references; ++i) {
        const std::string name = FileName(static_cast<int>(static_cast<int64_t>(i) * 7919 % count));
        asked.push_back(folder + "/" + (otherCase ? OtherCase(name) : name));
        found.push_back(folder + "/" + name);
    }
    TimeLookups(state, asked, found);
}

void OtherCaseLarge(benchmark::State& state)
{
    InFolder(state, largeFolder, largeCount, true);
}

void OtherCaseSmall(benchmark::State& state)
{
    InFolder(state, smallFolder, smallCount, true);
}

void ExactLarge(benchmark::State& state)
{
    InFolder(state, largeFolder, largeCount, false);
}

void ExactSmall(benchmark::State& state)
{
    InFolder(state, smallFolder, smallCount, false);
}

// Half the references in another case, half missing: a missing name lists nothing more.
void FutureStamped(benchmark::State& state)
{
    std::vector<std::string> asked, found;
    for (int i = 0; i < references; ++i) {
        const std::string name = FileName(i * 7 % futureCount);
        const std::string missing = futureFolder + "/" + OtherCase(name) + ".missing";
        asked.push_back(i % 2 ? missing : futureFolder + "/" + OtherCase(name));
        found.push_back(i % 2 ? missing : futureFolder + "/" + name);
    }
    TimeLookups(state, asked, found);
}

// A missing name with a long tail, asked whether it names a file with '\' in its name: the
// joins of its parts are searched in the cached listing.
void BackslashTailLarge(benchmark::State& state)
{
    std::string asked = largeFolder + "/missing";
    for (int i = 0; i < tailParts; ++i)
        asked += "/p";
    if (PathNeedsBackslashInName(asked)) {
        state.SkipWithError("no name there holds a '\\'");
        return;
    }
    const uint64_t listings = FolderListingsRead();
    for (auto _ : state)
        for (int i = 0; i < references; ++i)
            benchmark::DoNotOptimize(PathNeedsBackslashInName(asked));
    PerLookup(state, references, listings);
}

void Chain(benchmark::State& state, bool atTop)
{
    const std::string found = chainBottom + "/File.dds";
    const std::string asked =
        atTop ? chainTop.substr(0, chainTop.size() - 5) + "chain" + chainBottom.substr(chainTop.size()) + "/FILE.DDS"
              : chainBottom + "/FILE.DDS";
    TimeLookups(state, std::vector<std::string>(references / 10, asked),
                std::vector<std::string>(references / 10, found));
}

void ChainOtherCaseAtTop(benchmark::State& state)
{
    Chain(state, true);
}

void ChainOtherCaseInName(benchmark::State& state)
{
    Chain(state, false);
}

void Timed(benchmark::internal::Benchmark* timed)
{
    timed->Unit(benchmark::kMicrosecond)->UseRealTime()->ComputeStatistics("min", bench::Fastest);
}

BENCHMARK(OtherCaseLarge)->Apply(Timed);
BENCHMARK(OtherCaseSmall)->Apply(Timed);
BENCHMARK(ExactLarge)->Apply(Timed);
BENCHMARK(ExactSmall)->Apply(Timed);
BENCHMARK(FutureStamped)->Apply(Timed);
BENCHMARK(BackslashTailLarge)->Apply(Timed);
BENCHMARK(ChainOtherCaseAtTop)->Apply(Timed);
BENCHMARK(ChainOtherCaseInName)->Apply(Timed);

} // namespace

int main(int argc, char** argv)
{
    const std::vector<bench::Ratio> ratios = {
        {"OtherCaseLarge", "OtherCaseSmall", "other case, 120,000/100 files", bench::Ratio::AtMost, ratioTarget},
        {"ExactLarge", "ExactSmall", "exact, 120,000/100 files", bench::Ratio::AtMost, ratioTarget},
    };
    return bench::Run(
        argc, argv, ratios,
        [](const bench::TemporaryFolder& folder) {
            largeFolder = folder.Path() + "/Large";
            smallFolder = folder.Path() + "/Small";
            futureFolder = folder.Path() + "/Future";
            MakeFolder(largeFolder, largeCount);
            MakeFolder(smallFolder, smallCount);
            MakeFolder(futureFolder, futureCount);
            const timespec tomorrow[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 86400, 0}};
            Check(utimensat(AT_FDCWD, futureFolder.c_str(), tomorrow, 0) == 0, "cannot stamp " + futureFolder);
            MakeChain(folder.Path());

            // What the large folder's listing holds on the heap, large blocks (mapped) included.
            const size_t before = HeapInUse();
            ResolvePathIgnoringCase(largeFolder + "/" + OtherCase(FileName(0)));
            const double held = static_cast<double>(HeapInUse() - before);
            std::printf("listing of %d names of %zu bytes: %.1f bytes a name\n", largeCount, FileName(0).size(),
                        held / largeCount);
        },
        [] { RemoveChain(); });
}

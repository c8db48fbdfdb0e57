// brennic-import converting large models to .glb, timed beside `assimp export` writing the
// same geometry from a binary PLY file to .glb. Both run as whole processes, so both pay their
// start-up. Models: separate quads (the weld's work) of 256 K to 16 M vertices, a shared
// height-field grid of 1 M vertices (as game meshes are stored), and 1 M vertices of quads
// whose corners are equal to their neighbours' in every value (welded, then merged by value).
//
// Printed last: how many times faster we are than assimp, how flat our cost per vertex stays
// as models grow, and how our .glb's size compares with assimp's. Set BRENNIC_IMPORT to time
// another build of brennic-import.
//
// Ratios and times swing widely on a shared machine: compare the children's CPU seconds
// (user_s, sys_s) too. The page faults of fresh memory (sys_s) grow to half the cost at 4 M.

#include "BenchmarkSupport.h"
#include "LargeModel.h"
#include "ModelWriter.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::large::Layout;
using bench::large::Shape;

constexpr double quadsTarget = 10;  // times faster than assimp export, separate quads
constexpr double gridTarget = 10;   // and on the shared grid
constexpr double flatTarget = 1.15; // cost per vertex at 16 M over that at 256 K
constexpr double peakTarget = 100;  // bytes per vertex at peak
constexpr double sizeTarget = 1.1;  // our .glb's bytes over assimp's, at most
constexpr int textureCount = 4;     // so the conversion also decodes textures and writes their PNGs

// A model timed, whether assimp converts it too, whether its peak memory is held to the
// target (the grid has twice the triangles a vertex, and the smallest model's peak is mostly
// the program's own), and whether our .glb's size is: only where corners share values. Models
// of separate quads repeat their positions every 64 meshes, and assimp merges vertices across
// meshes, which one mesh a node does not.
struct Case {
    const char* name;
    Shape shape;
    bool withPeer;
    bool peakChecked;
    bool sizeChecked;
};

const Case cases[] = {
    {"quads256K", {Layout::SeparateQuads, 16}, false, false, false},
    {"quads1M", {Layout::SeparateQuads, 64}, true, true, false},
    {"quads4M", {Layout::SeparateQuads, 256}, true, true, false},
    {"quads16M", {Layout::SeparateQuads, 1024}, false, true, false},
    {"grid1M", {Layout::SharedGrid, 16}, true, false, false},
    {"cornerQuads1M", {Layout::QuadsSharingCorners, 64}, true, true, true},
};

// Set by main before any benchmark runs.
std::string brennicPath;
std::string folderPath;
std::string logPath;

// CPU seconds the last command spent, its own and the kernel's on its behalf (page faults
// above all), shown beside the real time, and its peak resident memory.
double childUserSeconds = 0;
double childSystemSeconds = 0;
double childPeakBytes = 0;

// Peak bytes per vertex of each of our benchmarks, the most any run took.
std::map<std::string, double> peakPerVertex;

// The sizes of our .glb and assimp's, by model, as first written.
std::map<std::string, std::pair<double, double>> glbBytes;

double Seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

constexpr int notStarted = -2, killed = -1;

// Runs the command as a process of its own, stdin empty and stdout and stderr into the log.
// Returns its exit status, or notStarted or killed. A bare name is looked up in PATH.
//
// The child's peak memory as the kernel reports it is at least this process's own peak (the
// child starts in this one's memory), so this process stays small: models are written by a
// child process, and only the JSON of an output is read back.
int Run(const std::vector<std::string>& command)
{
    rusage usage{};
    const int status = bench::Spawn(command, logPath, &usage);
    if (status < 0)
        return status; // notStarted or killed
    childUserSeconds = Seconds(usage.ru_utime);
    childSystemSeconds = Seconds(usage.ru_stime);
    childPeakBytes = static_cast<double>(usage.ru_maxrss) * 1024;
    return status;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The command line and the end of what it printed, for a failure's message.
std::string Failure(const std::vector<std::string>& command, int status)
{
    const std::string message = command[0] + (status == notStarted ? " could not be started"
                                              : status == killed   ? " did not run to its end"
                                                                   : " exited with " + std::to_string(status));
    std::string log = ReadFile(logPath);
    if (log.size() > 400)
        log = "..." + log.substr(log.size() - 400);
    return log.empty() ? message : message + ": " + log;
}

// Runs the command; empty when it exited with 0 and left its output, else why not.
std::string RunConversion(const std::vector<std::string>& command, const std::string& output)
{
    std::remove(output.c_str());
    const int status = Run(command);
    if (status != 0)
        return Failure(command, status);
    std::ifstream written(output, std::ios::binary);
    if (!written || written.peek() == std::ifstream::traits_type::eof())
        return command[0] + " exited with 0 but wrote no " + output;
    return {};
}

uint32_t LittleEndian32(const std::string& bytes, size_t offset)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(bytes[offset + static_cast<size_t>(i)]);
    return value;
}

struct GlbContents {
    size_t vertices = 0;
    size_t triangles = 0;
    size_t pngImages = 0;
};

// Throws unless the file is binary glTF 2.0; counts what its JSON describes. Reads the
// headers and the JSON only, so this process stays small (see Run).
GlbContents ReadGlb(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes(20, '\0');
    in.read(bytes.data(), 20);
    in.seekg(0, std::ios::end);
    const auto fileSize = static_cast<size_t>(in.tellg());
    if (fileSize < 20 || bytes.compare(0, 4, "glTF") != 0)
        throw std::runtime_error(path + " is not a binary glTF file");
    if (LittleEndian32(bytes, 4) != 2)
        throw std::runtime_error(path + " is binary glTF version " + std::to_string(LittleEndian32(bytes, 4)) +
                                 ", not 2");
    const uint32_t jsonLength = LittleEndian32(bytes, 12);
    if (LittleEndian32(bytes, 8) != fileSize || LittleEndian32(bytes, 16) != 0x4E4F534Au ||
        20 + size_t{jsonLength} > fileSize)
        throw std::runtime_error(path + " has a broken glTF header");
    std::string json(jsonLength, '\0');
    in.seekg(20);
    in.read(json.data(), jsonLength);
    const nlohmann::json gltf = nlohmann::json::parse(json);
    if (gltf.at("asset").at("version") != "2.0")
        throw std::runtime_error(path + " does not say it is glTF 2.0");

    GlbContents contents;
    const nlohmann::json& accessors = gltf.at("accessors");
    for (const nlohmann::json& mesh : gltf.value("meshes", nlohmann::json::array()))
        for (const nlohmann::json& primitive : mesh.at("primitives")) {
            contents.vertices +=
                accessors.at(primitive.at("attributes").at("POSITION").get<size_t>()).at("count").get<size_t>();
            if (primitive.contains("indices"))
                contents.triangles += accessors.at(primitive.at("indices").get<size_t>()).at("count").get<size_t>() / 3;
        }
    for (const nlohmann::json& image : gltf.value("images", nlohmann::json::array()))
        contents.pngImages += image.value("mimeType", "") == "image/png";
    return contents;
}

// A case's files and commands, written on first use (untimed) and kept for the run.
struct Prepared {
    std::vector<std::string> brennicCommand, assimpCommand;
    std::string brennicOutput, assimpOutput;
};

// Once per case, untimed: both commands must work, and write glTF 2.0 binary with every
// triangle, or the ratio would compare less work than it claims. Ours must also carry a PNG a
// texture.
void CheckOutputs(const Case& timed, const Prepared& prepared)
{
    std::vector<std::pair<std::vector<std::string>, std::string>> runs{
        {prepared.brennicCommand, prepared.brennicOutput}};
    if (timed.withPeer)
        runs.emplace_back(prepared.assimpCommand, prepared.assimpOutput);
    for (const auto& [command, output] : runs) {
        const std::string failure = RunConversion(command, output);
        if (!failure.empty())
            throw std::runtime_error(failure);
        const GlbContents contents = ReadGlb(output);
        std::printf("%s: %s: %zu vertices, %zu triangles, %zu PNG images in its .glb\n", timed.name, command[0].c_str(),
                    contents.vertices, contents.triangles, contents.pngImages);
        if (contents.triangles != timed.shape.Triangles())
            throw std::runtime_error(output + " does not hold every triangle");
        if (output == prepared.brennicOutput && contents.pngImages != size_t{textureCount})
            throw std::runtime_error(output + " lacks its textures' PNGs");
        const auto bytes = static_cast<double>(std::ifstream(output, std::ios::binary | std::ios::ate).tellg());
        (output == prepared.brennicOutput ? glbBytes[timed.name].first : glbBytes[timed.name].second) = bytes;
    }
}

const Prepared& Prepare(const Case& timed)
{
    static std::map<std::string, Prepared> done;
    const auto found = done.find(timed.name);
    if (found != done.end())
        return found->second;
    const modelwriter::ContentFolder content(folderPath);
    const std::string modelPath = content.ModelPath(timed.name);
    const std::string plyPath = folderPath + "/" + timed.name + ".ply";
    // Written by a child process: the files are built whole in memory, and a child's peak
    // memory counts its parent's (see Run). What this process has printed goes out first, or
    // the child would print it again.
    std::fflush(nullptr);
    const pid_t writer = fork();
    if (writer == 0) {
        int status = 0;
        try {
            bench::large::WriteModel(content, textureCount, timed.shape, timed.name);
            if (timed.withPeer)
                bench::large::WritePly(plyPath, timed.shape);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            status = 1;
        }
        std::fflush(nullptr);
        _exit(status);
    }
    int status = 0;
    if (writer < 0 || waitpid(writer, &status, 0) != writer || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(std::string("could not write the ") + timed.name + " model");
    std::printf("%s: %d meshes (half skinned), %zu vertices, %zu triangles; %d textures\n", timed.name,
                timed.shape.meshCount, timed.shape.Vertices(), timed.shape.Triangles(), textureCount);
    Prepared prepared;
    prepared.brennicOutput = folderPath + "/" + timed.name + ".glb";
    prepared.brennicCommand = {brennicPath, "-q", "-o", prepared.brennicOutput, modelPath};
    if (timed.withPeer) {
        prepared.assimpOutput = folderPath + "/" + timed.name + "-assimp.glb";
        prepared.assimpCommand = {ASSIMP_PATH, "export", plyPath, prepared.assimpOutput, "-fglb2"};
    }
    CheckOutputs(timed, prepared);
    return done.emplace(timed.name, prepared).first->second;
}

void Convert(benchmark::State& state, const Case& timed, bool peer)
{
    const Prepared& prepared = Prepare(timed);
    const std::vector<std::string>& command = peer ? prepared.assimpCommand : prepared.brennicCommand;
    const std::string& output = peer ? prepared.assimpOutput : prepared.brennicOutput;
    const double vertices = static_cast<double>(timed.shape.Vertices());
    double user = 0, system = 0, peak = 0;
    for (auto _ : state) {
        const std::string failure = RunConversion(command, output);
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            break;
        }
        user += childUserSeconds;
        system += childSystemSeconds;
        peak = std::max(peak, childPeakBytes);
    }
    bench::CountVertices(state, timed.shape.Vertices());
    state.counters["user_s"] = benchmark::Counter(user, benchmark::Counter::kAvgIterations);
    state.counters["sys_s"] = benchmark::Counter(system, benchmark::Counter::kAvgIterations);
    state.counters["peak_B_per_vertex"] = peak / vertices;
    if (!peer) {
        double& most = peakPerVertex[timed.name];
        most = std::max(most, peak / vertices);
    }
}

std::string Name(const char* program, const Case& timed)
{
    return std::string(program) + "/" + timed.name;
}

// The most memory each of our conversions took, per vertex, and our .glb's size beside
// assimp's (which holds no textures; ours holds their PNGs).
void Report()
{
    for (const Case& timed : cases) {
        const auto found = peakPerVertex.find(timed.name);
        if (found == peakPerVertex.end())
            continue;
        std::printf("brennic-import %s: peak memory %.0f bytes per vertex", timed.name, found->second);
        if (timed.peakChecked)
            std::printf(" (target <= %g): %s", peakTarget, found->second <= peakTarget ? "met" : "NOT met");
        std::printf("\n");
    }
    for (const Case& timed : cases) {
        const auto found = glbBytes.find(timed.name);
        if (!timed.withPeer || found == glbBytes.end() || found->second.second <= 0)
            continue;
        const auto [ours, theirs] = found->second;
        std::printf("%s .glb: brennic-import %.1f MB, assimp %.1f MB, ratio %.2f", timed.name, ours / 1e6, theirs / 1e6,
                    ours / theirs);
        if (timed.sizeChecked)
            std::printf(" (target <= %g): %s", sizeTarget, ours <= sizeTarget * theirs ? "met" : "NOT met");
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    const char* chosen = std::getenv("BRENNIC_IMPORT");
    brennicPath = chosen && *chosen ? chosen : BRENNIC_IMPORT_PATH;
    for (const Case& timed : cases) {
        benchmark::RegisterBenchmark(Name("BrennicImportToGlb", timed).c_str(), [&timed](benchmark::State& state) {
            Convert(state, timed, false);
        })->Apply(bench::TimedPerIteration);
        if (timed.withPeer)
            benchmark::RegisterBenchmark(Name("AssimpExportGlb", timed).c_str(), [&timed](benchmark::State& state) {
                Convert(state, timed, true);
            })->Apply(bench::TimedPerIteration);
    }
    auto vertices = [](const char* name) {
        for (const Case& timed : cases)
            if (std::string(timed.name) == name)
                return static_cast<double>(timed.shape.Vertices());
        return 1.0;
    };
    const std::vector<bench::Ratio> ratios{
        {"AssimpExportGlb/quads1M", "BrennicImportToGlb/quads1M", "assimp/brennic-import, 1 M separate quads",
         bench::Ratio::AtLeast, quadsTarget},
        {"AssimpExportGlb/quads4M", "BrennicImportToGlb/quads4M", "assimp/brennic-import, 4 M separate quads",
         bench::Ratio::AtLeast, quadsTarget},
        {"AssimpExportGlb/grid1M", "BrennicImportToGlb/grid1M", "assimp/brennic-import, 1 M shared grid",
         bench::Ratio::AtLeast, gridTarget},
        {"AssimpExportGlb/cornerQuads1M", "BrennicImportToGlb/cornerQuads1M",
         "assimp/brennic-import, 1 M quads sharing corners", bench::Ratio::AtLeast, quadsTarget},
        {"BrennicImportToGlb/quads16M", "BrennicImportToGlb/quads256K", "brennic-import time per vertex, 16 M/256 K",
         bench::Ratio::Within, flatTarget, vertices("quads16M"), vertices("quads256K")},
    };
    return bench::Run(
        argc, argv, ratios,
        [](const bench::TemporaryFolder& folder) {
            folderPath = folder.Path();
            logPath = folder.Path() + "/command.log";
            std::printf("brennic-import: %s\n", brennicPath.c_str());
        },
        Report);
}

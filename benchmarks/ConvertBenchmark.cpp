// brennic-import converting a large model to .glb, timed beside `assimp export` writing the
// same geometry from a binary PLY file to .glb. Both run as whole processes, so both pay their
// start-up. The assimp/brennic-import ratio printed at the end says how many times faster we are.

#include "BenchmarkSupport.h"
#include "LargeModel.h"
#include "ModelWriter.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using bench::large::totalTriangles;
using bench::large::totalVertices;

constexpr double ratioTarget = 5;
constexpr int textureCount = 4; // so the conversion also decodes textures and writes their PNGs

// Set by main before any benchmark runs: the two commands, and where each writes its output.
std::vector<std::string> brennicCommand;
std::vector<std::string> assimpCommand;
std::string brennicOutput;
std::string assimpOutput;
std::string logPath;

// CPU seconds the last command spent, its own and the kernel's on its behalf (page faults
// above all), shown beside the real time.
double childUserSeconds = 0;
double childSystemSeconds = 0;

double Seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

constexpr int notStarted = -2, killed = -1;

// Runs the command as a process of its own, stdin empty and stdout and stderr into the log.
// Returns its exit status, or notStarted or killed. A bare name is looked up in PATH.
int Run(const std::vector<std::string>& command)
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
        return notStarted;
    int status = 0;
    rusage usage {};
    while (wait4(child, &status, 0, &usage) < 0)
        if (errno != EINTR)
            return killed;
    childUserSeconds = Seconds(usage.ru_utime);
    childSystemSeconds = Seconds(usage.ru_stime);
    return WIFEXITED(status) ? WEXITSTATUS(status) : killed;
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

// Throws unless the file is binary glTF 2.0; counts what its JSON describes.
GlbContents ReadGlb(const std::string& path)
{
    const std::string bytes = ReadFile(path);
    if (bytes.size() < 20 || bytes.compare(0, 4, "glTF") != 0)
        throw std::runtime_error(path + " is not a binary glTF file");
    if (LittleEndian32(bytes, 4) != 2)
        throw std::runtime_error(path + " is binary glTF version " + std::to_string(LittleEndian32(bytes, 4)) + ", not 2");
    const uint32_t jsonLength = LittleEndian32(bytes, 12);
    if (LittleEndian32(bytes, 8) != bytes.size() || LittleEndian32(bytes, 16) != 0x4E4F534Au || 20 + size_t{jsonLength} > bytes.size())
        throw std::runtime_error(path + " has a broken glTF header");
    const nlohmann::json gltf = nlohmann::json::parse(bytes.begin() + 20, bytes.begin() + 20 + jsonLength);
    if (gltf.at("asset").at("version") != "2.0")
        throw std::runtime_error(path + " does not say it is glTF 2.0");

    GlbContents contents;
    const nlohmann::json& accessors = gltf.at("accessors");
    for (const nlohmann::json& mesh : gltf.value("meshes", nlohmann::json::array()))
        for (const nlohmann::json& primitive : mesh.at("primitives")) {
            contents.vertices += accessors.at(primitive.at("attributes").at("POSITION").get<size_t>()).at("count").get<size_t>();
            if (primitive.contains("indices"))
                contents.triangles += accessors.at(primitive.at("indices").get<size_t>()).at("count").get<size_t>() / 3;
        }
    for (const nlohmann::json& image : gltf.value("images", nlohmann::json::array()))
        contents.pngImages += image.value("mimeType", "") == "image/png";
    return contents;
}

// Once, untimed: both commands must work, and write glTF 2.0 binary with every triangle, or
// the ratio would compare less work than it claims. Ours must also carry a PNG a texture.
void CheckOutputs()
{
    for (const auto& [command, output] : {std::make_pair(brennicCommand, brennicOutput), std::make_pair(assimpCommand, assimpOutput)}) {
        const std::string failure = RunConversion(command, output);
        if (!failure.empty())
            throw std::runtime_error(failure);
        const GlbContents contents = ReadGlb(output);
        std::printf("%s: %zu vertices, %zu triangles, %zu PNG images in its .glb\n", command[0].c_str(), contents.vertices,
                    contents.triangles, contents.pngImages);
        if (contents.triangles != totalTriangles)
            throw std::runtime_error(output + " does not hold every triangle");
        if (output == brennicOutput && contents.pngImages != size_t{textureCount})
            throw std::runtime_error(output + " lacks its textures' PNGs");
    }
}

void Convert(benchmark::State& state, const std::vector<std::string>& command, const std::string& output)
{
    double user = 0, system = 0;
    for (auto _ : state) {
        const std::string failure = RunConversion(command, output);
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            break;
        }
        user += childUserSeconds;
        system += childSystemSeconds;
    }
    bench::CountVertices(state, totalVertices);
    state.counters["user_s"] = benchmark::Counter(user, benchmark::Counter::kAvgIterations);
    state.counters["sys_s"] = benchmark::Counter(system, benchmark::Counter::kAvgIterations);
}

void BrennicImportToGlb(benchmark::State& state)
{
    Convert(state, brennicCommand, brennicOutput);
}

void AssimpExportGlb(benchmark::State& state)
{
    Convert(state, assimpCommand, assimpOutput);
}

BENCHMARK(BrennicImportToGlb)->Apply(bench::TimedPerIteration);
BENCHMARK(AssimpExportGlb)->Apply(bench::TimedPerIteration);

} // namespace

int main(int argc, char** argv)
{
    const bench::Ratio ratio{"AssimpExportGlb", "BrennicImportToGlb", "assimp/brennic-import", bench::Ratio::AtLeast, ratioTarget};
    return bench::Run(argc, argv, ratio, [](const bench::TemporaryFolder& folder) {
        const modelwriter::ContentFolder content(folder.Path());
        const std::string modelPath = bench::large::WriteModel(content, textureCount);
        const std::string plyPath = folder.Path() + "/large.ply";
        bench::large::WritePly(plyPath);
        std::printf("model and PLY: %d meshes (half skinned), %zu vertices, %zu triangles; %d textures\n",
                    bench::large::meshCount, totalVertices, totalTriangles, textureCount);

        brennicOutput = folder.Path() + "/out.glb";
        assimpOutput = folder.Path() + "/assimp.glb";
        logPath = folder.Path() + "/command.log";
        brennicCommand = {BRENNIC_IMPORT_PATH, "-q", "-o", brennicOutput, modelPath};
        assimpCommand = {ASSIMP_PATH, "export", plyPath, assimpOutput, "-fglb2"};
        CheckOutputs();
    });
}

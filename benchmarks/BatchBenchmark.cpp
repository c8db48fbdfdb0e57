// brennic-import on many small models, timed beside `assimp export` writing the same geometry
// from binary PLY files to .glb: a folder of 3,000 models converted by one command (by default
// a worker process per processor) against a loop of assimp export, one process per file, both
// into a new folder and again into the folder the last run filled (each output replaced), the
// latter also with one worker and with two; and one model per process, with and without its
// texture, against one assimp export per file.
//
// The ratios printed at the end say how many times faster we are.
//
// Figures before the batch ran on worker processes: the folder 4.1 times faster (one core), one
// file a process 1.38 times slower.

#include "BenchmarkSupport.h"
#include "BrennicModel.h"
#include "ModelWriter.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using modelwriter::ByteWriter;

constexpr int modelCount = 3000;
constexpr int textureCount = 32;  // shared by the models, each named by about a hundred
constexpr int partCount = 40;     // shared .mesh files
constexpr int referringEvery = 3; // every third model also refers to a part
constexpr int modelSide = 16;     // a model's own mesh: a 16 x 16 grid, 256 vertices
constexpr int partSide = 8;       // a part's: 64 vertices
constexpr uint32_t textureSide = 64;
constexpr int runsPerFile = 200; // processes an iteration of the one-file benchmarks

const uint32_t packedNormal = modelwriter::PackUnitRange(0.5f, 1.0f, 0.5f);

// A height field of side x side shared vertices, two triangles a cell.
struct Grid {
    std::vector<modelwriter::StaticVertex> vertices;
    std::vector<uint16_t> indices;
};

Grid MakeGrid(int side, float left, float lift)
{
    Grid grid;
    for (int row = 0; row < side; ++row)
        for (int column = 0; column < side; ++column) {
            modelwriter::StaticVertex vertex;
            vertex.position[0] = left + 0.1f * static_cast<float>(column);
            vertex.position[1] = lift + 0.05f * std::sin(static_cast<float>(column + row));
            vertex.position[2] = 0.1f * static_cast<float>(row);
            vertex.normal = packedNormal;
            vertex.texCoord[0] = static_cast<float>(column) / static_cast<float>(side - 1);
            vertex.texCoord[1] = static_cast<float>(row) / static_cast<float>(side - 1);
            grid.vertices.push_back(vertex);
        }
    for (int row = 0; row + 1 < side; ++row)
        for (int column = 0; column + 1 < side; ++column) {
            const auto a = static_cast<uint16_t>(row * side + column);
            const auto b = static_cast<uint16_t>(a + 1), c = static_cast<uint16_t>(a + side),
                       d = static_cast<uint16_t>(c + 1);
            grid.indices.insert(grid.indices.end(), {a, c, b, b, c, d});
        }
    return grid;
}

modelwriter::Bytes MeshList(const Grid& grid, const std::string& texture, const std::string& name)
{
    modelwriter::MeshSpec mesh;
    mesh.texture = texture;
    mesh.name = name;
    mesh.staticVertices = grid.vertices;
    mesh.indices = grid.indices;
    return modelwriter::MeshListChunk(std::vector<modelwriter::MeshSpec>{mesh});
}

// The grids' vertices and triangles in one PLY file, normals decoded as the loader does.
void WritePly(const std::string& path, const std::vector<const Grid*>& grids)
{
    size_t vertices = 0, triangles = 0;
    for (const Grid* grid : grids) {
        vertices += grid->vertices.size();
        triangles += grid->indices.size() / 3;
    }
    const std::string header = "ply\nformat binary_little_endian 1.0\n"
                               "element vertex " +
                               std::to_string(vertices) +
                               "\n"
                               "property float x\nproperty float y\nproperty float z\n"
                               "property float nx\nproperty float ny\nproperty float nz\n"
                               "property float s\nproperty float t\n"
                               "element face " +
                               std::to_string(triangles) +
                               "\n"
                               "property list uchar int vertex_indices\nend_header\n";
    float normal[3];
    UnpackDirection(packedNormal, normal);
    const float length = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    ByteWriter out;
    out.Append(header.data(), header.size());
    for (const Grid* grid : grids)
        for (const modelwriter::StaticVertex& vertex : grid->vertices) {
            out.F32(vertex.position[0]).F32(vertex.position[1]).F32(vertex.position[2]);
            out.F32(normal[0] / length).F32(normal[1] / length).F32(normal[2] / length);
            out.F32(vertex.texCoord[0]).F32(vertex.texCoord[1]);
        }
    uint32_t offset = 0;
    for (const Grid* grid : grids) {
        for (size_t i = 0; i < grid->indices.size(); i += 3)
            out.U8(3)
                .U32(offset + grid->indices[i])
                .U32(offset + grid->indices[i + 1])
                .U32(offset + grid->indices[i + 2]);
        offset += static_cast<uint32_t>(grid->vertices.size());
    }
    modelwriter::WriteFile(path, out.bytes());
}

modelwriter::Bytes Texture(int index)
{
    return modelwriter::Dds(textureSide, textureSide, [=](uint32_t x, uint32_t y) {
        const auto shade = static_cast<uint8_t>(((x / 8 + y / 8) % 2 ? 150 : 90) + index);
        return std::array<uint8_t, 4>{shade, static_cast<uint8_t>(255 - shade), static_cast<uint8_t>(3 * index), 255};
    });
}

std::string Numbered(const char* stem, int number)
{
    char name[32];
    std::snprintf(name, sizeof name, "%s%04d", stem, number);
    return name;
}

// Set by main before any benchmark runs.
std::string brennicFolderInput, brennicFolderOutput; // the folder of models, and where it goes
std::vector<std::string> plyFiles;                   // the models' twins, in the same order
std::string assimpFolder;                            // where their .glb files go
std::string plainModel, texturedModel, singlePly, singleOutput, assimpSingleOutput;
std::string logPath;

// Runs the command as a process of its own, stdin empty and stdout and stderr into the log;
// empty when it exited with 0, else what went wrong with the end of its log.
std::string Run(const std::vector<std::string>& command)
{
    const int status = bench::Spawn(command, logPath);
    if (status == -2)
        return command[0] + " could not be started";
    if (status == 0)
        return {};
    std::ifstream log(logPath, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(log), {});
    if (text.size() > 400)
        text = "..." + text.substr(text.size() - 400);
    return command[0] + " failed: " + text;
}

std::vector<std::string> AssimpCommand(const std::string& ply, const std::string& output)
{
    return {ASSIMP_PATH, "export", ply, output, "-fglb2"};
}

std::string AssimpOutput(size_t index)
{
    return assimpFolder + "/" + fs::path(plyFiles[index]).stem().string() + ".glb";
}

void CountFiles(benchmark::State& state, int files)
{
    state.counters["per_file"] =
        benchmark::Counter(files, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Each run writes a folder of its own, as a first conversion does; all are removed with the
// temporary folder at the end. Deleting the last run's 3,000 files just before would time the
// file system instead.
//
// ext4 skips inodes deleted in the last 1 to 5 minutes when it allocates new ones, and scanning
// past thousands of them took half of a run (perf record -a: find_inode_bit, recently_deleted).
// The peer rewrites its files in place, which allocates none.
void BrennicImportFolder(benchmark::State& state)
{
    static int runs = 0;
    for (auto _ : state) {
        const std::string output = brennicFolderOutput + "-" + std::to_string(runs++);
        const std::string failure = Run({BRENNIC_IMPORT_PATH, "-q", "-o", output, brennicFolderInput});
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            break;
        }
    }
    CountFiles(state, modelCount);
}

// Converts the folder into the one CheckOutputs filled, so every output replaces one from the
// run before, written seconds earlier: whatever replacing costs the file system is timed here.
void ConvertFolderAgain(benchmark::State& state, std::vector<std::string> options)
{
    std::vector<std::string> command{BRENNIC_IMPORT_PATH, "-q"};
    command.insert(command.end(), options.begin(), options.end());
    command.insert(command.end(), {"-o", brennicFolderOutput, brennicFolderInput});
    for (auto _ : state) {
        const std::string failure = Run(command);
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            break;
        }
    }
    CountFiles(state, modelCount);
}

void BrennicImportFolderAgain(benchmark::State& state)
{
    ConvertFolderAgain(state, {});
}

void BrennicImportFolderAgainOneJob(benchmark::State& state)
{
    ConvertFolderAgain(state, {"-j", "1"});
}

void BrennicImportFolderAgainTwoJobs(benchmark::State& state)
{
    ConvertFolderAgain(state, {"-j", "2"});
}

void AssimpExportLoop(benchmark::State& state)
{
    for (auto _ : state)
        for (size_t i = 0; i < plyFiles.size(); ++i) {
            const std::string failure = Run(AssimpCommand(plyFiles[i], AssimpOutput(i)));
            if (!failure.empty()) {
                state.SkipWithError(failure.c_str());
                return;
            }
        }
    CountFiles(state, modelCount);
}

void RunPerFile(benchmark::State& state, const std::vector<std::string>& command)
{
    for (auto _ : state)
        for (int run = 0; run < runsPerFile; ++run) {
            const std::string failure = Run(command);
            if (!failure.empty()) {
                state.SkipWithError(failure.c_str());
                return;
            }
        }
    CountFiles(state, runsPerFile);
}

void BrennicImportPerFile(benchmark::State& state)
{
    RunPerFile(state, {BRENNIC_IMPORT_PATH, "-q", "-o", singleOutput, plainModel});
}

void BrennicImportPerFileTextured(benchmark::State& state)
{
    RunPerFile(state, {BRENNIC_IMPORT_PATH, "-q", "-o", singleOutput, texturedModel});
}

void AssimpExportPerFile(benchmark::State& state)
{
    RunPerFile(state, AssimpCommand(singlePly, assimpSingleOutput));
}

BENCHMARK(BrennicImportFolder)->Apply(bench::TimedPerIteration);
BENCHMARK(BrennicImportFolderAgain)->Apply(bench::TimedPerIteration);
BENCHMARK(BrennicImportFolderAgainOneJob)->Apply(bench::TimedPerIteration);
BENCHMARK(BrennicImportFolderAgainTwoJobs)->Apply(bench::TimedPerIteration);
BENCHMARK(AssimpExportLoop)->Apply(bench::TimedPerIteration);
BENCHMARK(BrennicImportPerFile)->Apply(bench::TimedPerIteration);
BENCHMARK(BrennicImportPerFileTextured)->Apply(bench::TimedPerIteration);
BENCHMARK(AssimpExportPerFile)->Apply(bench::TimedPerIteration);

// The folder of models, the parts they refer to, their textures and their PLY twins; then the
// two one-file models, one naming a texture that is not there.
void WriteFiles(const std::string& root)
{
    const modelwriter::ContentFolder content(root);
    std::vector<Grid> parts;
    for (int part = 0; part < partCount; ++part) {
        parts.push_back(MakeGrid(partSide, 2.0f, 0.01f * static_cast<float>(part)));
        content.WriteMesh(
            Numbered("parts\\part", part),
            MeshList(parts.back(), Numbered("batch\\texture", part % textureCount), Numbered("part", part)));
    }
    for (int texture = 0; texture < textureCount; ++texture)
        content.WriteTexture(Numbered("batch\\texture", texture), "512", Texture(texture));

    fs::create_directories(root + "/ply");
    for (int model = 0; model < modelCount; ++model) {
        const Grid grid = MakeGrid(modelSide, 0.0f, 0.001f * static_cast<float>(model));
        const std::string texture = Numbered("batch\\texture", model % textureCount);
        modelwriter::Bytes bytes = MeshList(grid, texture, Numbered("model", model));
        std::vector<const Grid*> grids{&grid};
        if (model % referringEvery == 0) {
            const int part = model / referringEvery % partCount;
            bytes = modelwriter::Concat({bytes, modelwriter::ReferenceChunk({Numbered("parts\\part", part)})});
            grids.push_back(&parts[static_cast<size_t>(part)]);
        }
        content.WriteModel(Numbered("batch\\model", model), bytes);
        plyFiles.push_back(root + "/ply/" + Numbered("model", model) + ".ply");
        WritePly(plyFiles.back(), grids);
    }
    brennicFolderInput = root + "/content/meshes/batch";
    brennicFolderOutput = root + "/converted";
    assimpFolder = root + "/assimp";
    fs::create_directories(assimpFolder);

    const Grid single = MakeGrid(modelSide, 0.0f, 0.0f);
    plainModel = content.WriteModel("single\\plain", MeshList(single, "single\\absent", "plain"));
    texturedModel = content.WriteModel("single\\textured", MeshList(single, "batch\\texture0000", "textured"));
    singlePly = root + "/single.ply";
    WritePly(singlePly, {&single});
    singleOutput = root + "/single.glb";
    assimpSingleOutput = root + "/assimp-single.glb";
    logPath = root + "/command.log";
}

bool Contains(const std::string& path, const std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    return bytes.find(text) != std::string::npos;
}

// Once, untimed: every command must work and write what it is timed for, or the ratios would
// compare less work than they claim.
void CheckOutputs()
{
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{BRENNIC_IMPORT_PATH, "-q", "-o", brennicFolderOutput, brennicFolderInput},
          std::vector<std::string>{BRENNIC_IMPORT_PATH, "-q", "-o", singleOutput, texturedModel},
          AssimpCommand(plyFiles[0], AssimpOutput(0))}) {
        const std::string failure = Run(command);
        if (!failure.empty())
            throw std::runtime_error(failure);
    }
    int converted = 0;
    for (const auto& entry : fs::directory_iterator(brennicFolderOutput))
        converted += entry.path().extension() == ".glb";
    std::printf("brennic-import: %d .glb files from the folder\n", converted);
    if (converted != modelCount)
        throw std::runtime_error("brennic-import did not convert the whole folder");
    for (const std::string& output : {brennicFolderOutput + "/" + Numbered("model", 0) + ".glb", singleOutput})
        if (!Contains(output, "image/png"))
            throw std::runtime_error(output + " carries no PNG of its texture");
    if (!fs::exists(AssimpOutput(0)) || !fs::exists(singleOutput))
        throw std::runtime_error("a command exited with 0 but wrote nothing");
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<bench::Ratio> ratios{
        {"AssimpExportLoop", "BrennicImportFolder", "a folder of 3000: assimp/brennic-import", bench::Ratio::AtLeast,
         15},
        {"AssimpExportLoop", "BrennicImportFolderAgain",
         "a folder of 3000 again, over its outputs: assimp/brennic-import", bench::Ratio::AtLeast, 15},
        {"BrennicImportFolderAgainOneJob", "BrennicImportFolderAgainTwoJobs",
         "a folder of 3000 again: brennic-import -j 1/-j 2", bench::Ratio::AtLeast, 1},
        {"AssimpExportPerFile", "BrennicImportPerFile", "one file a process: assimp/brennic-import",
         bench::Ratio::AtLeast, 1},
        {"AssimpExportPerFile", "BrennicImportPerFileTextured", "one textured file a process: assimp/brennic-import",
         bench::Ratio::AtLeast, 1},
    };
    return bench::Run(argc, argv, ratios, [](const bench::TemporaryFolder& folder) {
        WriteFiles(folder.Path());
        std::printf("%d models of %d vertices, one in %d referring to a part of %d, naming %d textures of %u x %u; "
                    "their PLY twins\n",
                    modelCount, modelSide * modelSide, referringEvery, partSide * partSide, textureCount, textureSide,
                    textureSide);
        CheckOutputs();
    });
}

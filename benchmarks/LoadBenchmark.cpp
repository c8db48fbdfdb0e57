// Loading a large model file, timed against a floor: the same file read with one read() and
// output arrays of the loaded size filled with memset. The load/reference ratio printed at the
// end says how much the loader costs beyond moving the bytes it has to move.

#include "BenchmarkSupport.h"
#include "BrennicModel.h"
#include "ModelWriter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int gridSide = 128; // 16384 vertices a mesh, well within u16 indices
constexpr int meshCount = 64; // even meshes static, odd ones skinned
constexpr size_t verticesPerMesh = size_t{gridSide} * gridSide;
constexpr size_t indicesPerMesh = size_t{gridSide - 1} * (gridSide - 1) * 6;
constexpr size_t totalVertices = verticesPerMesh * meshCount;
constexpr size_t totalIndices = indicesPerMesh * meshCount;
constexpr int boneCount = 4;
constexpr double ratioTarget = 1.5;

static_assert(totalVertices >= 1048576, "the model must be large enough to time the decoders");

// Set by main before any benchmark runs.
std::string modelPath;
size_t modelFileSize = 0;

bool IsSkinned(int meshIndex)
{
    return meshIndex % 2 == 1;
}

std::vector<uint16_t> GridIndices()
{
    std::vector<uint16_t> indices;
    indices.reserve(indicesPerMesh);
    for (int row = 0; row + 1 < gridSide; ++row)
        for (int column = 0; column + 1 < gridSide; ++column) {
            const auto a = static_cast<uint16_t>(row * gridSide + column);
            const auto b = static_cast<uint16_t>(a + 1);
            const auto c = static_cast<uint16_t>(a + gridSide + 1);
            const auto d = static_cast<uint16_t>(a + gridSide);
            indices.insert(indices.end(), {a, b, c, a, c, d});
        }
    return indices;
}

// A gently curved grid, kept within the skinned form's position range (about +-12).
modelwriter::MeshSpec GridMesh(int meshIndex)
{
    modelwriter::MeshSpec mesh;
    mesh.texture = "bench\\grid";
    mesh.name = "grid" + std::to_string(meshIndex);
    mesh.indices = GridIndices();
    const uint32_t normal = modelwriter::PackUnitRange(0.5f, 1.0f, 0.5f);
    const uint32_t aux1 = modelwriter::PackUnitRange(1.0f, 0.5f, 0.5f);
    const uint32_t aux2 = modelwriter::PackUnitRange(0.5f, 0.5f, 1.0f);
    for (int row = 0; row < gridSide; ++row)
        for (int column = 0; column < gridSide; ++column) {
            const float u = static_cast<float>(column) / (gridSide - 1);
            const float v = static_cast<float>(row) / (gridSide - 1);
            const float position[3] = {8 * u - 4, 0.1f * static_cast<float>(meshIndex) + std::sin(3 * u) * v,
                                       8 * v - 4};
            if (IsSkinned(meshIndex)) {
                modelwriter::SkinnedVertex vertex;
                for (int axis = 0; axis < 3; ++axis)
                    vertex.position[axis] = modelwriter::QuantisePosition(position[axis]);
                vertex.normal = normal;
                vertex.aux1 = aux1;
                vertex.aux2 = aux2;
                const auto weight = static_cast<uint8_t>(std::lround(255 * u));
                const uint8_t bones[4] = {0, 1, 2, 3};
                const uint8_t weights[4] = {weight, static_cast<uint8_t>(255 - weight), 0, 0};
                std::memcpy(vertex.boneIndices, bones, sizeof bones);
                std::memcpy(vertex.boneWeights, weights, sizeof weights);
                vertex.texCoord[0] = modelwriter::QuantiseTexCoord(u);
                vertex.texCoord[1] = modelwriter::QuantiseTexCoord(v);
                mesh.skinnedVertices.push_back(vertex);
            } else {
                modelwriter::StaticVertex vertex;
                std::memcpy(vertex.position, position, sizeof position);
                vertex.normal = normal;
                vertex.aux1 = aux1;
                vertex.aux2 = aux2;
                vertex.texCoord[0] = u;
                vertex.texCoord[1] = v;
                mesh.staticVertices.push_back(vertex);
            }
        }
    if (IsSkinned(meshIndex))
        for (int bone = 0; bone < boneCount; ++bone)
            mesh.bones.push_back({static_cast<uint8_t>(bone), {}});
    return mesh;
}

// Returns the file's size.
size_t WriteLargeModel(const std::string& path)
{
    std::vector<modelwriter::Bytes> meshChunks;
    for (int mesh = 0; mesh < meshCount; ++mesh)
        meshChunks.push_back(modelwriter::MeshChunk(GridMesh(mesh)));
    const modelwriter::Bytes model = modelwriter::MeshListChunk(meshChunks);
    modelwriter::WriteFile(path, model);
    return model.size();
}

bool HasExpectedMeshes(const CBrennicModel& model)
{
    if (model.GetMeshCount() != meshCount)
        return false;
    for (int i = 0; i < meshCount; ++i) {
        const ModelMesh& mesh = *model.GetMesh(i);
        const VertexForm::Value form = IsSkinned(i) ? VertexForm::Skinned : VertexForm::Static;
        if (mesh.vertexCount != verticesPerMesh || mesh.indexCount != indicesPerMesh || mesh.vertexForm != form)
            return false;
    }
    return true;
}

void Load(benchmark::State& state)
{
    for (auto _ : state) {
        CBrennicModel model;
        const int loaded = model.Load(modelPath, false);
        benchmark::DoNotOptimize(loaded);
        if (loaded != 1 || !HasExpectedMeshes(model)) {
            state.SkipWithError("the model did not load with the meshes it was written with");
            break;
        }
    }
    bench::CountVertices(state, totalVertices);
}

// The least any loader must do: get the file's bytes into memory once and write the output
// arrays once. Allocated fresh each time, as the loader's are.
void Reference(benchmark::State& state)
{
    for (auto _ : state) {
        const int fd = open(modelPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            state.SkipWithError("cannot open the model file");
            break;
        }
        std::unique_ptr<uint8_t[]> file(new uint8_t[modelFileSize]);
        const ssize_t got = read(fd, file.get(), modelFileSize);
        close(fd);
        if (got != static_cast<ssize_t>(modelFileSize)) {
            state.SkipWithError("one read() did not return the whole model file");
            break;
        }
        std::unique_ptr<uint8_t[]> vertices(new uint8_t[totalVertices * sizeof(WorkVertex)]);
        std::unique_ptr<uint8_t[]> indices(new uint8_t[totalIndices * sizeof(uint16_t)]);
        std::memset(vertices.get(), 0, totalVertices * sizeof(WorkVertex));
        std::memset(indices.get(), 0, totalIndices * sizeof(uint16_t));
        benchmark::DoNotOptimize(file.get());
        benchmark::DoNotOptimize(vertices.get());
        benchmark::DoNotOptimize(indices.get());
        benchmark::ClobberMemory();
    }
    bench::CountVertices(state, totalVertices);
}

BENCHMARK(Load)->Apply(bench::TimedPerIteration);
BENCHMARK(Reference)->Apply(bench::TimedPerIteration);

} // namespace

int main(int argc, char** argv)
{
    const bench::Ratio ratio{"Load", "Reference", "load/reference", bench::Ratio::AtMost, ratioTarget};
    return bench::Run(argc, argv, ratio, [](const bench::TemporaryFolder& folder) {
        modelPath = folder.Path() + "/large.model";
        modelFileSize = WriteLargeModel(modelPath);
        std::printf("model: %d meshes (half skinned), %zu vertices, %zu indices, %zu bytes\n", meshCount, totalVertices,
                    totalIndices, modelFileSize);
    });
}

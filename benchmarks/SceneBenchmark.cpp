// Our whole import of a large model (load, then the scene: meshes welded, normals built,
// materials) timed beside Assimp importing the same geometry from a binary PLY file with the
// post-processing that does the like: identical vertices joined, smooth normals, degenerate
// faces found. The assimp/brennic ratio printed at the end says how many times faster we are.

#include "BenchmarkSupport.h"
#include "LargeModel.h"
#include "ModelHolder.h"
#include "ModelWriter.h"
#include "StandInHost.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

namespace {

using bench::large::meshCount;
using bench::large::totalTriangles;
using bench::large::totalVertices;

constexpr double ratioTarget = 5;

constexpr unsigned assimpSteps =
    aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals | aiProcess_FindDegenerates;

// Set by main before any benchmark runs.
std::string modelHostPath;
std::string plyPath;

// Vertices left in the scene's meshes.
size_t SceneVertexCount(const standin::Scene& scene)
{
    size_t count = 0;
    for (standin::Node* node : scene.Nodes())
        count += static_cast<size_t>(node->GetTriObject()->GetMesh().numVerts);
    return count;
}

// Once, untimed: the import must weld the seams, or it would be timed doing less than it should.
void CheckWeld()
{
    ModelHolder holder;
    standin::Scene scene;
    if (holder.Load(modelHostPath, false) != 1 || holder.BuildScene(&scene) != 1 ||
        scene.Nodes().size() != size_t{meshCount})
        throw std::runtime_error("the model did not import with one node per mesh");
    const size_t welded = SceneVertexCount(scene);
    std::printf("brennic: %zu vertices after the weld\n", welded);
    if (welded >= totalVertices)
        throw std::runtime_error("the weld merged no vertices");
}

// Once, untimed: Assimp must read the PLY file whole, texture coordinates included.
void CheckPly()
{
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(plyPath, assimpSteps);
    if (!scene)
        throw std::runtime_error(std::string("Assimp cannot read the PLY file: ") + importer.GetErrorString());
    size_t vertices = 0, faces = 0;
    bool texCoords = true;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        vertices += scene->mMeshes[i]->mNumVertices;
        faces += scene->mMeshes[i]->mNumFaces;
        texCoords = texCoords && scene->mMeshes[i]->HasTextureCoords(0);
    }
    std::printf("assimp: %zu vertices after joining, %zu faces\n", vertices, faces);
    if (faces != totalTriangles || !texCoords)
        throw std::runtime_error("Assimp read the PLY file without all its faces or texture coordinates");
}

void BrennicImport(benchmark::State& state)
{
    for (auto _ : state) {
        ModelHolder holder;
        const int loaded = holder.Load(modelHostPath, false);
        standin::Scene scene;
        if (loaded == 1)
            holder.BuildScene(&scene);
        benchmark::DoNotOptimize(scene.Nodes().data());
        if (loaded != 1 || scene.Nodes().size() != size_t{meshCount}) {
            state.SkipWithError("the model did not import with one node per mesh");
            break;
        }
    }
    bench::CountVertices(state, totalVertices);
}

void Assimp(benchmark::State& state)
{
    for (auto _ : state) {
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(plyPath, assimpSteps);
        benchmark::DoNotOptimize(scene);
        if (!scene) {
            state.SkipWithError(importer.GetErrorString());
            break;
        }
    }
    bench::CountVertices(state, totalVertices);
}

BENCHMARK(BrennicImport)->Apply(bench::TimedPerIteration);
BENCHMARK(Assimp)->Apply(bench::TimedPerIteration);

} // namespace

int main(int argc, char** argv)
{
    const bench::Ratio ratio{"Assimp", "BrennicImport", "assimp/brennic", bench::Ratio::AtLeast, ratioTarget};
    return bench::Run(argc, argv, ratio, [](const bench::TemporaryFolder& folder) {
        const modelwriter::ContentFolder content(folder.Path());
        modelHostPath = modelwriter::HostPath(bench::large::WriteModel(content));
        plyPath = folder.Path() + "/large.ply";
        bench::large::WritePly(plyPath);
        std::printf("model and PLY: %d meshes (half skinned), %zu vertices, %zu triangles\n", meshCount, totalVertices,
                    totalTriangles);
        CheckWeld();
        CheckPly();
    });
}

// Our whole import of a large model (load, then the scene: meshes welded, normals built,
// materials) timed beside Assimp importing the same geometry from a binary PLY file with the
// post-processing that does the like: identical vertices joined, smooth normals, degenerate
// faces found. The assimp/brennic ratio printed at the end says how many times faster we are.

#include "BenchmarkSupport.h"
#include "BrennicModel.h"
#include "ModelHolder.h"
#include "ModelWriter.h"
#include "StandInHost.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Each quad has its own four corners, as in a file that keeps texture seams between faces:
// a grid point is a corner of up to four quads, at one position with four texture coordinates.
constexpr int quadsPerSide = 64;
constexpr int cornersPerQuad = 4;
constexpr int meshCount = 64; // even meshes static, odd ones skinned
constexpr size_t quadsPerMesh = size_t{quadsPerSide} * quadsPerSide;
constexpr size_t verticesPerMesh = quadsPerMesh * cornersPerQuad;
constexpr size_t trianglesPerMesh = quadsPerMesh * 2;
constexpr size_t totalVertices = verticesPerMesh * meshCount;
constexpr size_t totalTriangles = trianglesPerMesh * meshCount;
constexpr int boneCount = 4;
constexpr double ratioTarget = 5;

// The skinned form's position step, by which the loader scales its quantised positions. Its
// texture coordinates need none here: 0 and 1 are exact in both forms.
constexpr float skinnedPositionStep = 12.0f / 32768;

static_assert(totalVertices >= 1048576, "the model must be large enough to time the import");
static_assert(verticesPerMesh <= 65536, "a mesh's vertices must be reachable by u16 indices");

constexpr unsigned assimpSteps = aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals | aiProcess_FindDegenerates;

// Set by main before any benchmark runs.
std::string modelHostPath;
std::string plyPath;

bool IsSkinned(int meshIndex)
{
    return meshIndex % 2 == 1;
}

// One corner as the loader decodes it, in the file's axes.
struct Corner {
    float position[3];
    float texCoord[2];
};

// A gently curved surface, kept within the skinned form's position range (about +-12).
void SurfacePoint(int meshIndex, int column, int row, float position[3])
{
    const float u = static_cast<float>(column) / quadsPerSide;
    const float v = static_cast<float>(row) / quadsPerSide;
    position[0] = 8 * u - 4;
    position[1] = 0.1f * static_cast<float>(meshIndex) + std::sin(3 * u) * v;
    position[2] = 8 * v - 4;
}

// Corner k of quad (column, row): k = 0..3 counter-clockwise from the quad's low corner, with
// the quad's own texture square.
Corner QuadCorner(int meshIndex, int column, int row, int k)
{
    const int right = k == 1 || k == 2 ? 1 : 0;
    const int up = k >= 2 ? 1 : 0;
    Corner corner;
    SurfacePoint(meshIndex, column + right, row + up, corner.position);
    if (IsSkinned(meshIndex))
        for (float& axis : corner.position)
            axis = modelwriter::QuantisePosition(axis) * skinnedPositionStep;
    corner.texCoord[0] = static_cast<float>(right);
    corner.texCoord[1] = static_cast<float>(up);
    return corner;
}

std::vector<Corner> MeshCorners(int meshIndex)
{
    std::vector<Corner> corners;
    corners.reserve(verticesPerMesh);
    for (int row = 0; row < quadsPerSide; ++row)
        for (int column = 0; column < quadsPerSide; ++column)
            for (int k = 0; k < cornersPerQuad; ++k)
                corners.push_back(QuadCorner(meshIndex, column, row, k));
    return corners;
}

// Two triangles a quad, over its own corners.
std::vector<uint16_t> MeshIndices()
{
    std::vector<uint16_t> indices;
    indices.reserve(trianglesPerMesh * 3);
    for (size_t quad = 0; quad < quadsPerMesh; ++quad) {
        const auto a = static_cast<uint16_t>(quad * cornersPerQuad);
        const auto b = static_cast<uint16_t>(a + 1), c = static_cast<uint16_t>(a + 2), d = static_cast<uint16_t>(a + 3);
        indices.insert(indices.end(), {a, b, c, a, c, d});
    }
    return indices;
}

const uint32_t packedNormal = modelwriter::PackUnitRange(0.5f, 1.0f, 0.5f);

modelwriter::MeshSpec WrittenMesh(int meshIndex)
{
    modelwriter::MeshSpec mesh;
    mesh.texture = "bench\\grid";
    mesh.name = "grid" + std::to_string(meshIndex);
    mesh.indices = MeshIndices();
    const uint32_t aux1 = modelwriter::PackUnitRange(1.0f, 0.5f, 0.5f);
    const uint32_t aux2 = modelwriter::PackUnitRange(0.5f, 0.5f, 1.0f);
    for (const Corner& corner : MeshCorners(meshIndex)) {
        if (IsSkinned(meshIndex)) {
            modelwriter::SkinnedVertex vertex;
            for (int axis = 0; axis < 3; ++axis)
                vertex.position[axis] = modelwriter::QuantisePosition(corner.position[axis]);
            vertex.normal = packedNormal;
            vertex.aux1 = aux1;
            vertex.aux2 = aux2;
            const auto weight = static_cast<uint8_t>(std::lround(255 * corner.texCoord[0]));
            const uint8_t bones[4] = {0, 1, 2, 3};
            const uint8_t weights[4] = {weight, static_cast<uint8_t>(255 - weight), 0, 0};
            std::memcpy(vertex.boneIndices, bones, sizeof bones);
            std::memcpy(vertex.boneWeights, weights, sizeof weights);
            for (int axis = 0; axis < 2; ++axis)
                vertex.texCoord[axis] = modelwriter::QuantiseTexCoord(corner.texCoord[axis]);
            mesh.skinnedVertices.push_back(vertex);
        } else {
            modelwriter::StaticVertex vertex;
            std::memcpy(vertex.position, corner.position, sizeof corner.position);
            vertex.normal = packedNormal;
            vertex.aux1 = aux1;
            vertex.aux2 = aux2;
            std::memcpy(vertex.texCoord, corner.texCoord, sizeof corner.texCoord);
            mesh.staticVertices.push_back(vertex);
        }
    }
    if (IsSkinned(meshIndex))
        for (int bone = 0; bone < boneCount; ++bone)
            mesh.bones.push_back({static_cast<uint8_t>(bone), {}});
    return mesh;
}

// Returns the file's POSIX path.
std::string WriteLargeModel(const modelwriter::ContentFolder& content)
{
    std::vector<modelwriter::Bytes> meshChunks;
    for (int mesh = 0; mesh < meshCount; ++mesh)
        meshChunks.push_back(modelwriter::MeshChunk(WrittenMesh(mesh)));
    return content.WriteModel("large", modelwriter::MeshListChunk(meshChunks));
}

// Every mesh's corners and triangles in one PLY file, each mesh's indices offset by the
// corners before it. Normals are the file's, decoded and made unit length.
void WritePly(const std::string& path)
{
    const std::string header = "ply\nformat binary_little_endian 1.0\n"
                               "element vertex " + std::to_string(totalVertices) + "\n"
                               "property float x\nproperty float y\nproperty float z\n"
                               "property float nx\nproperty float ny\nproperty float nz\n"
                               "property float s\nproperty float t\n"
                               "element face " + std::to_string(totalTriangles) + "\n"
                               "property list uchar int vertex_indices\nend_header\n";
    float direction[3];
    UnpackDirection(packedNormal, direction);
    const float length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] + direction[2] * direction[2]);

    modelwriter::ByteWriter out;
    out.Append(header.data(), header.size());
    for (int mesh = 0; mesh < meshCount; ++mesh)
        for (const Corner& corner : MeshCorners(mesh)) {
            out.F32(corner.position[0]).F32(corner.position[1]).F32(corner.position[2]);
            out.F32(direction[0] / length).F32(direction[1] / length).F32(direction[2] / length);
            out.F32(corner.texCoord[0]).F32(corner.texCoord[1]);
        }
    const std::vector<uint16_t> indices = MeshIndices();
    for (int mesh = 0; mesh < meshCount; ++mesh) {
        const uint32_t offset = static_cast<uint32_t>(mesh * verticesPerMesh);
        for (size_t i = 0; i < indices.size(); i += 3)
            out.U8(3).U32(offset + indices[i]).U32(offset + indices[i + 1]).U32(offset + indices[i + 2]);
    }
    modelwriter::WriteFile(path, out.bytes());
}

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
    if (holder.Load(modelHostPath, false) != 1 || holder.BuildScene(&scene) != 1 || scene.Nodes().size() != size_t{meshCount})
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
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    try {
        bench::TemporaryFolder folder;
        const modelwriter::ContentFolder content(folder.Path());
        modelHostPath = modelwriter::HostPath(WriteLargeModel(content));
        plyPath = folder.Path() + "/large.ply";
        WritePly(plyPath);
        std::printf("model and PLY: %d meshes (half skinned), %zu vertices, %zu triangles\n", meshCount,
                    totalVertices, totalTriangles);
        CheckWeld();
        CheckPly();

        bench::RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();
        bench::PrintRatio(reporter, {"Assimp", "BrennicImport", "assimp/brennic", bench::Ratio::AtLeast, ratioTarget});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "scene_benchmark: %s\n", error.what());
        return 1;
    }
    return 0;
}

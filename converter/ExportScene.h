#pragma once

// The imported scene in the form the file writers take: one mesh, node and material per host
// node, one vertex per distinct position, normal and texture coordinate, in glTF's axes.
// The drive/ room builds it and the write/ room reads it.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ExportVertex {
    float position[3]; // Y up: the host's (x, y, z) is (x, z, -y), a rotation
    float normal[3];   // unit length, outward
    float texCoord[2]; // origin at the image's top left
};

// A vertex as both writers may put it in a file: finite numbers (JSON has no NaN, OBJ readers
// choke on it) and a unit normal (glTF requires one).
inline bool IsUnit(const float v[3])
{
    const double squared = double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2];
    return std::abs(squared - 1.0) < 1e-5; // false for NaN too
}

// Without branches (`&` on ints, not `&&`): a collector checks every vertex it makes.
inline bool IsFinite(const ExportVertex& v)
{
    const float *p = v.position, *t = v.texCoord;
    return (int(std::isfinite(p[0])) & int(std::isfinite(p[1])) & int(std::isfinite(p[2])) & int(std::isfinite(t[0])) &
            int(std::isfinite(t[1]))) != 0;
}

inline bool IsWritable(const ExportVertex& v)
{
    return (int(IsFinite(v)) & int(IsUnit(v.normal))) != 0;
}

// What whoever made a mesh's vertices learnt of them on the way, so that the writers need not
// read them all again: that every vertex is writable as it is, and then the positions' bounds.
struct VertexFacts {
    bool allWritable = false; // false: not known, the writers check
    float low[3] = {0, 0, 0}, high[3] = {0, 0, 0};

    // Of vertices just made, while they are still in cache: one pass without branches.
    static VertexFacts Of(const std::vector<ExportVertex>& vertices)
    {
        VertexFacts facts;
        bool writable = true;
        float low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
        if (!vertices.empty())
            for (int axis = 0; axis < 3; ++axis)
                low[axis] = high[axis] = vertices[0].position[axis];
        for (const ExportVertex& v : vertices) {
            writable &= IsWritable(v);
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = std::min(low[axis], v.position[axis]);
                high[axis] = std::max(high[axis], v.position[axis]);
            }
        }
        facts.allWritable = writable;
        std::copy(low, low + 3, facts.low);
        std::copy(high, high + 3, facts.high);
        return facts;
    }
};

// A texture file as the material names it, looked up once for all later stages: the writers
// read `file`, and no output may overwrite it.
struct ExportTexture {
    std::string path;             // as the material names it, in POSIX form: what warnings show
    std::string file;             // where it is on disk, found ignoring case as the plug-in does; else `path`
    std::string spelling;         // when several names matched ignoring case: which ones, and which was used
    bool backslashInName = false; // missing because a name on disk holds a '\' that `path` splits
};

struct ExportMaterial {
    std::string name;
    int texture = -1; // index into ExportScene::textures; each file is one texture however often it is named
};

struct ExportMesh {
    std::string name; // the host node's name
    std::vector<ExportVertex> vertices;
    std::vector<uint32_t> indices; // three per triangle, counter-clockwise seen from outside
    int material = -1;
    VertexFacts facts; // of `vertices`, where their maker gave them
};

struct ExportScene {
    std::vector<ExportMesh> meshes;
    std::vector<ExportMaterial> materials;
    std::vector<ExportTexture> textures;
};

// What takes a scene's meshes while the scene is still being made, so that their bytes go out
// while the next mesh is built.
class MeshStream {
public:
    virtual ~MeshStream() = default;
    // On the scene's thread, before the first mesh: how many meshes the loaded model holds and
    // how many bytes their names take in all. A writer lays its file out from this; the meshes
    // that come may still differ.
    virtual void Expect(size_t meshes, size_t nameBytes) = 0;
    // Each mesh once, in the scene's order, once it is complete: on whichever thread completed
    // it, but never on two threads at once. Its arrays stay where they are until the scene is
    // written, though the mesh itself may move into the finished scene.
    virtual void Take(const ExportMesh& mesh) = 0;
};

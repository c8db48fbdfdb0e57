#include "ExportScene.h"

#include "PluginDriver.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <sys/stat.h>

namespace {

// The host is Z up, glTF Y up: a rotation about x, so handedness and winding stay.
void ToYUp(const Point3& p, float out[3])
{
    out[0] = p.x;
    out[1] = p.z;
    out[2] = -p.y;
}

bool IsFile(const std::string& path)
{
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Where a corner's key (vertex, texture vertex, normal bits) starts its probe.
size_t Hash(DWORD vertex, DWORD texVertex, const float normal[3])
{
    uint32_t normalBits[3];
    std::memcpy(normalBits, normal, sizeof normalBits);
    uint64_t hash = (uint64_t(vertex) << 32 | texVertex) * 0x9E3779B97F4A7C15ull;
    hash = (hash ^ (hash >> 31) ^ normalBits[0]) * 0xBF58476D1CE4E5B9ull;
    hash = (hash ^ (hash >> 29) ^ (uint64_t(normalBits[1]) << 32 | normalBits[2])) * 0x94D049BB133111EBull;
    return size_t(hash ^ (hash >> 32));
}

// One output vertex per distinct (vertex, texture vertex, normal) a corner uses, numbered in
// the order corners first use them. An open-addressing table from that key to the output
// vertex finds a corner's vertex in a step or two however many output vertices share a host
// vertex (a weld can put thousands on one position). It starts at twice the vertices a mesh
// usually makes and doubles when half full.
ExportMesh CollectMesh(const Mesh& mesh, const std::string& name, CollectWork& work)
{
    constexpr uint32_t empty = UINT32_MAX;
    ExportMesh out;
    out.name = name;
    const bool textured = mesh.numTVFaces == mesh.numFaces && mesh.numTVerts > 0;
    const Point3* cornerNormals = standin::CornerNormals(mesh);
    const size_t cornerCount = 3 * size_t(mesh.numFaces);
    const size_t expected = std::min(cornerCount, size_t(std::max(mesh.numVerts, mesh.numTVerts)));
    std::vector<uint32_t> vertexOf, texVertexOf; // per output vertex, with its normal: its key
    vertexOf.reserve(expected);
    texVertexOf.reserve(expected);
    out.vertices.reserve(expected);
    out.indices.reserve(cornerCount);

    std::vector<uint32_t> slots;
    size_t mask = 0;
    auto resize = [&](size_t capacity) {
        slots.assign(capacity, empty);
        mask = capacity - 1;
        for (uint32_t made = 0; made < out.vertices.size(); ++made) {
            size_t slot = Hash(vertexOf[made], texVertexOf[made], out.vertices[made].normal) & mask;
            while (slots[slot] != empty)
                slot = (slot + 1) & mask;
            slots[slot] = made;
        }
    };
    size_t capacity = 16;
    while (capacity < 2 * expected)
        capacity *= 2;
    resize(capacity);

    for (int f = 0; f < mesh.numFaces; ++f) {
        const Face& face = mesh.faces[size_t(f)];
        for (int k = 0; k < 3; ++k) {
            const DWORD vertex = face.v[k];
            const DWORD texVertex = textured ? mesh.tvFace[size_t(f)].t[k] : 0;
            const Point3 normal = cornerNormals
                ? cornerNormals[3 * size_t(f) + size_t(k)]
                : CrossProd(mesh.verts[face.v[1]] - mesh.verts[face.v[0]], mesh.verts[face.v[2]] - mesh.verts[face.v[1]]).Normalize();
            float yUpNormal[3];
            ToYUp(normal, yUpNormal);
            size_t slot = Hash(vertex, texVertex, yUpNormal) & mask;
            uint32_t made = slots[slot];
            for (; made != empty; slot = (slot + 1) & mask, made = slots[slot]) {
                ++work.comparisons;
                if (vertexOf[made] == vertex && texVertexOf[made] == texVertex &&
                    std::memcmp(out.vertices[made].normal, yUpNormal, sizeof yUpNormal) == 0)
                    break;
            }
            if (made == empty) {
                made = uint32_t(out.vertices.size());
                slots[slot] = made;
                ExportVertex v{};
                ToYUp(mesh.verts[vertex], v.position);
                std::memcpy(v.normal, yUpNormal, sizeof v.normal);
                if (textured) {
                    v.texCoord[0] = mesh.tVerts[texVertex].x;
                    v.texCoord[1] = 1.0f - mesh.tVerts[texVertex].y; // the host's origin is bottom left
                }
                out.vertices.push_back(v);
                vertexOf.push_back(vertex);
                texVertexOf.push_back(texVertex);
                if (2 * out.vertices.size() > slots.size())
                    resize(2 * slots.size());
            }
            out.indices.push_back(made);
        }
    }
    work.corners += cornerCount;
    return out;
}

} // namespace

ExportScene CollectScene(const standin::Scene& scene, CollectWork* work)
{
    CollectWork unused;
    CollectWork& counted = work ? *work : unused;
    ExportScene out;
    std::map<std::string, int> textureByPath;
    for (standin::Node* node : scene.Nodes()) {
        const TriObject* object = node->GetTriObject();
        if (!object)
            continue;
        out.meshes.push_back(CollectMesh(object->mesh, node->GetName(), counted));
        Mtl* material = node->GetMtl();
        if (!material)
            continue;
        ExportMaterial exported;
        exported.name = material->GetName().data();
        if (auto* bitmap = dynamic_cast<BitmapTex*>(material->GetSubTexmap(ID_DI))) {
            const std::string path = ToDisplayPath(bitmap->GetMapName());
            const auto [found, added] = textureByPath.try_emplace(path, int(out.textures.size()));
            if (added)
                out.textures.push_back({path, IsFile(path)});
            exported.texture = found->second;
        }
        out.meshes.back().material = int(out.materials.size());
        out.materials.push_back(exported);
    }
    return out;
}

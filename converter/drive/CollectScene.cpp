#include "CollectScene.h"

#include "BrennicModel.h"
#include "PathLookup.h"
#include "PluginDriver.h"
#include "SharedWork.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>
#include <sys/stat.h>

namespace {

// The host is Z up, glTF Y up: a rotation about x, so handedness and winding stay.
void ToYUp(const Point3& p, float out[3])
{
    out[0] = p.x;
    out[1] = p.z;
    out[2] = -p.y;
}

} // namespace

ExportTexture LookUpTexture(const std::string& path)
{
    ExportTexture texture;
    texture.path = path;
    texture.file = ResolvePathIgnoringCase(path, &texture.spelling);
    struct stat status {};
    texture.backslashInName = stat(texture.file.c_str(), &status) != 0 && (errno == ENOENT || errno == ENOTDIR) &&
                              PathNeedsBackslashInName(path);
    return texture;
}

namespace {

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

// The output vertices of the host vertices that have many, found by key (vertex, texture
// vertex, normal bits): open addressing, at most half full.
class KeyTable {
public:
    static constexpr uint32_t none = UINT32_MAX;

    // The output vertex with the key, or none; `isKey` tells whether an output vertex has it.
    template <typename IsKey>
    uint32_t Find(size_t hash, IsKey isKey) const
    {
        if (slots.empty())
            return none;
        for (size_t slot = hash & (slots.size() - 1);; slot = (slot + 1) & (slots.size() - 1))
            if (slots[slot] == none || isKey(slots[slot]))
                return slots[slot];
    }

    // Adds an output vertex whose key is not in the table yet; `hashOf` gives any tabled
    // output vertex's hash, for growing.
    template <typename HashOf>
    void Add(uint32_t made, size_t hash, HashOf hashOf)
    {
        if (2 * (count + 1) > slots.size()) {
            std::vector<uint32_t> old(std::max<size_t>(16, 2 * slots.size()), none);
            old.swap(slots);
            for (uint32_t kept : old)
                if (kept != none)
                    Place(kept, hashOf(kept));
        }
        Place(made, hash);
        ++count;
    }

private:
    void Place(uint32_t made, size_t hash)
    {
        size_t slot = hash & (slots.size() - 1);
        while (slots[slot] != none)
            slot = (slot + 1) & (slots.size() - 1);
        slots[slot] = made;
    }

    std::vector<uint32_t> slots;
    size_t count = 0;
};

// One output vertex per distinct (vertex, texture vertex, normal) a corner uses, numbered in
// the order corners first use them. The output vertices are chained by an anchor: the corner's
// texture vertex when the mesh has them, else its vertex. A texture vertex rarely goes with more
// than one vertex and normal (never in the plug-in's meshes, whose texture vertices are the
// file's vertices before the weld), and a vertex's chain is rarely longer than the seams
// through it, so a corner finds its output vertex in a step or two. A weld can put thousands on
// one position, though: once an anchor has `longChain` output vertices, they and any it gets
// later go into a table by key, where its corners look instead, so no corner takes more than
// that many steps and a probe. With game normals, a corner's texture vertex (its file vertex)
// gives its normal.
void CollectMesh(const Mesh& mesh, const standin::CornerNormals& cornerNormals, const std::vector<Point3>* gameNormals,
                 ExportMesh& out, CollectWork& work)
{
    constexpr uint32_t none = KeyTable::none;
    constexpr uint8_t longChain = 8;
    const bool textured = mesh.numTVFaces == mesh.numFaces && mesh.numTVerts > 0;
    // The key settles the normal: through the vertex, or through the texture vertex.
    const bool normalByKey = gameNormals || cornerNormals.ByVertex();
    const size_t anchors = size_t(textured ? mesh.numTVerts : mesh.numVerts);
    const size_t expected = std::min(anchors, 3 * size_t(mesh.numFaces));
    std::vector<uint32_t> firstMade(anchors, none);
    std::vector<uint8_t> madeCount(anchors, 0);  // counts up to longChain
    std::vector<uint32_t> nextMade;              // per output vertex: the next made with the same anchor
    std::vector<uint32_t> vertexOf, texVertexOf; // per output vertex, with its normal: its key
    nextMade.reserve(expected);
    vertexOf.reserve(expected);
    texVertexOf.reserve(expected);
    out.vertices.reserve(expected);
    out.indices.reserve(size_t(mesh.numFaces) * 3);
    KeyTable table;
    size_t comparisons = 0;
    auto hashOf = [&](uint32_t made) { return Hash(vertexOf[made], texVertexOf[made], out.vertices[made].normal); };

    for (int f = 0; f < mesh.numFaces; ++f) {
        const Face& face = mesh.faces[size_t(f)];
        for (int k = 0; k < 3; ++k) {
            const DWORD vertex = face.v[k];
            const DWORD texVertex = textured ? mesh.tvFace[size_t(f)].t[k] : 0;
            const DWORD anchor = textured ? texVertex : vertex;
            float yUpNormal[3];
            bool normalTaken = false;
            const auto takeNormal = [&] {
                if (normalTaken)
                    return;
                const Point3 normal = gameNormals             ? (*gameNormals)[texVertex]
                                      : cornerNormals.Built() ? cornerNormals(size_t(f), k)
                                                              : CrossProd(mesh.verts[face.v[1]] - mesh.verts[face.v[0]],
                                                                          mesh.verts[face.v[2]] - mesh.verts[face.v[1]])
                                                                    .Normalize();
                ToYUp(normal, yUpNormal);
                normalTaken = true;
            };
            if (!normalByKey)
                takeNormal();
            auto isKey = [&](uint32_t made) {
                ++comparisons;
                return vertexOf[made] == vertex && texVertexOf[made] == texVertex &&
                       (normalByKey || std::memcmp(out.vertices[made].normal, yUpNormal, sizeof yUpNormal) == 0);
            };
            const bool tabled = madeCount[anchor] == longChain;
            uint32_t made = none;
            if (tabled) {
                takeNormal();
                made = table.Find(Hash(vertex, texVertex, yUpNormal), isKey);
            } else {
                for (made = firstMade[anchor]; made != none && !isKey(made);)
                    made = nextMade[made];
            }
            if (made == none) {
                takeNormal();
                made = uint32_t(out.vertices.size());
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
                nextMade.push_back(firstMade[anchor]);
                firstMade[anchor] = made;
                if (tabled) {
                    table.Add(made, hashOf(made), hashOf);
                } else if (++madeCount[anchor] == longChain) {
                    for (uint32_t chained = made; chained != none; chained = nextMade[chained])
                        table.Add(chained, hashOf(chained), hashOf);
                }
            }
            out.indices.push_back(made);
        }
    }
    work.corners += 3 * size_t(mesh.numFaces);
    work.comparisons += comparisons;
}

struct MeshSource {
    const Mesh* mesh;
    standin::CornerNormals normals; // taken on the scene's thread: the stand-in's lookup is not shared
    const std::vector<Point3>* gameNormals;
};

// Below this many corners in all, a second thread costs more than it saves.
constexpr size_t sharedCorners = 1 << 18;

// Meshes are collected independently: a large scene's are shared out between two threads.
void CollectMeshes(const std::vector<MeshSource>& sources, std::vector<ExportMesh>& meshes, CollectWork& work)
{
    size_t corners = 0;
    for (const MeshSource& source : sources)
        corners += 3 * size_t(source.mesh->numFaces);
    std::vector<CollectWork> works(sources.size());
    ForEachShared(sources.size(), corners >= sharedCorners, [&](size_t i) {
        CollectMesh(*sources[i].mesh, sources[i].normals, sources[i].gameNormals, meshes[i], works[i]);
    });
    for (const CollectWork& done : works) {
        work.corners += done.corners;
        work.comparisons += done.comparisons;
    }
}

} // namespace

GameNormals TakeGameNormals(const CBrennicModel& model)
{
    GameNormals normals(size_t(model.GetMeshCount()));
    for (size_t m = 0; m < normals.size(); ++m) {
        const ModelMesh& mesh = *model.GetMesh(int(m));
        normals[m].reserve(mesh.vertexCount);
        for (uint32_t v = 0; v < mesh.vertexCount; ++v) {
            const float* n = mesh.vertices[v].normal;
            // The host's axes exchange the file's y and z, as the plug-in's own normals do.
            normals[m].push_back(Point3(2 * n[0] - 1, 2 * n[2] - 1, 2 * n[1] - 1).Normalize());
        }
    }
    return normals;
}

ExportScene CollectScene(const standin::Scene& scene, CollectWork* work, const GameNormals* gameNormals)
{
    CollectWork unused;
    CollectWork& counted = work ? *work : unused;
    ExportScene out;
    std::vector<MeshSource> sources;
    std::map<std::string, int> textureByPath;
    for (standin::Node* node : scene.Nodes()) {
        const TriObject* object = node->GetTriObject();
        if (!object)
            continue;
        const std::vector<Point3>* meshNormals = nullptr;
        if (gameNormals) {
            // The plug-in makes a node for every mesh; one it left out would shift the rest.
            const Mesh& mesh = object->mesh;
            if (sources.size() >= gameNormals->size() || mesh.numTVFaces != mesh.numFaces ||
                size_t(mesh.numTVerts) != (*gameNormals)[sources.size()].size())
                throw std::runtime_error("the game's normals do not fit the meshes the import made");
            meshNormals = &(*gameNormals)[sources.size()];
        }
        sources.push_back({&object->mesh, standin::CornerNormals(object->mesh), meshNormals});
        out.meshes.emplace_back();
        out.meshes.back().name = node->GetName();
        Mtl* material = node->GetMtl();
        if (!material)
            continue;
        ExportMaterial exported;
        exported.name = material->GetName().data();
        if (auto* bitmap = dynamic_cast<BitmapTex*>(material->GetSubTexmap(ID_DI))) {
            const std::string path = ToDisplayPath(bitmap->GetMapName());
            const auto [found, added] = textureByPath.try_emplace(path, int(out.textures.size()));
            if (added)
                out.textures.push_back(LookUpTexture(path));
            exported.texture = found->second;
        }
        out.meshes.back().material = int(out.materials.size());
        out.materials.push_back(exported);
    }
    if (gameNormals && sources.size() != gameNormals->size())
        throw std::runtime_error("the game's normals do not fit the meshes the import made");
    CollectMeshes(sources, out.meshes, counted);
    return out;
}

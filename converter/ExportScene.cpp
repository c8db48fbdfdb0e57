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

// One output vertex per distinct (vertex, texture vertex, normal) a corner uses. The output
// vertices made from one host vertex are chained, and a chain is rarely longer than the
// seams through that vertex, so a corner finds its vertex in a step or two.
ExportMesh CollectMesh(const Mesh& mesh, const std::string& name)
{
    constexpr uint32_t none = UINT32_MAX;
    ExportMesh out;
    out.name = name;
    const bool textured = mesh.numTVFaces == mesh.numFaces && mesh.numTVerts > 0;
    const Point3* cornerNormals = standin::CornerNormals(mesh);
    std::vector<uint32_t> firstMade(size_t(mesh.numVerts), none);
    std::vector<uint32_t> nextMade;   // per output vertex: the next made from the same host vertex
    std::vector<uint32_t> texVertexOf; // per output vertex
    out.vertices.reserve(size_t(std::max(mesh.numVerts, mesh.numTVerts)));
    out.indices.reserve(size_t(mesh.numFaces) * 3);
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
            uint32_t made = firstMade[vertex];
            while (made != none && (texVertexOf[made] != texVertex ||
                                    std::memcmp(out.vertices[made].normal, yUpNormal, sizeof yUpNormal) != 0))
                made = nextMade[made];
            if (made == none) {
                made = uint32_t(out.vertices.size());
                ExportVertex v{};
                ToYUp(mesh.verts[vertex], v.position);
                std::memcpy(v.normal, yUpNormal, sizeof v.normal);
                if (textured) {
                    v.texCoord[0] = mesh.tVerts[texVertex].x;
                    v.texCoord[1] = 1.0f - mesh.tVerts[texVertex].y; // the host's origin is bottom left
                }
                out.vertices.push_back(v);
                texVertexOf.push_back(texVertex);
                nextMade.push_back(firstMade[vertex]);
                firstMade[vertex] = made;
            }
            out.indices.push_back(made);
        }
    }
    return out;
}

} // namespace

ExportScene CollectScene(const standin::Scene& scene)
{
    ExportScene out;
    std::map<std::string, int> textureByPath;
    for (standin::Node* node : scene.Nodes()) {
        const TriObject* object = node->GetTriObject();
        if (!object)
            continue;
        out.meshes.push_back(CollectMesh(object->mesh, node->GetName()));
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

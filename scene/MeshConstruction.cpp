// One loaded mesh into a host triangle mesh: the host's axes (file y and z exchanged), the
// reversed winding that goes with them, texture v flipped, one smoothing group per mesh,
// then a weld of coincident vertices and the host's clean-up.
#include "ModelHolder.h"

#include "BrennicModel.h"

#include <vector>

namespace {

const float weldThreshold = 0.001f;

Point3 HostPosition(const WorkVertex& vertex)
{
    return Point3(vertex.position[0], vertex.position[2], vertex.position[1]);
}

Point3 HostNormal(const WorkVertex& vertex)
{
    return Point3(vertex.normal[0], vertex.normal[2], vertex.normal[1]).Normalize();
}

UVVert HostTexCoord(const WorkVertex& vertex)
{
    return UVVert(vertex.texCoord[0], 1.0f - vertex.texCoord[1], 0.0f);
}

} // namespace

int ModelHolder::BuildMesh(const ModelMesh& source, Mesh& mesh, int meshIndex)
{
    const uint32_t vertexCount = source.vertexCount;
    const uint32_t faceCount = source.indexCount / 3;
    mesh.setNumTVerts(int(vertexCount), FALSE);
    mesh.setNumTVFaces(int(faceCount), FALSE, 0);
    mesh.setNumVerts(int(vertexCount), FALSE, TRUE);
    mesh.setNumFaces(int(faceCount), FALSE, TRUE);
    std::vector<bool> used(vertexCount, false);

    for (uint32_t t = 0; t < faceCount; ++t) {
        const uint16_t* triangle = &source.indices[3 * size_t(t)];
        // Host corner order is the file's reversed: (c, b, a).
        const DWORD corners[3] = {triangle[2], triangle[1], triangle[0]};
        Face& face = mesh.faces[t];
        face.setEdgeVisFlags(1, 1, 1);
        face.setSmGroup(DWORD(meshIndex) + 1);

        // A corner past the vertices has no data to copy: the face is left degenerate on
        // vertex 0, and the clean-up below drops it.
        if (corners[0] >= vertexCount || corners[1] >= vertexCount || corners[2] >= vertexCount) {
            mesh.tvFace[t].setTVerts(0, 0, 0);
            face.setVerts(0, 0, 0);
            continue;
        }
        used[corners[0]] = true;
        used[corners[1]] = true;
        used[corners[2]] = true;
        mesh.tvFace[t].setTVerts(corners[0], corners[1], corners[2]);
        face.setVerts(corners[0], corners[1], corners[2]);
    }
    // The vertices that the kept faces use, each written once however many corners share it.
    for (uint32_t v = 0; v < vertexCount; ++v) {
        if (!used[v])
            continue;
        mesh.verts[v] = HostPosition(source.vertices[v]);
        mesh.tVerts[v] = HostTexCoord(source.vertices[v]);
        mesh.setNormal(int(v), HostNormal(source.vertices[v]));
    }

    MeshDelta weld(mesh);
    BitArray candidates;
    candidates.SetSize(int(vertexCount), 0);
    candidates.SetAll();
    BitArray candidatesCopy(candidates);
    weld.WeldByThreshold(mesh, candidatesCopy, weldThreshold);
    weld.Apply(mesh);

    mesh.RemoveDegenerateFaces();
    mesh.RemoveIllegalFaces();
    mesh.buildNormals();
    mesh.buildBoundingBox();
    mesh.InvalidateEdgeList();
    return 1;
}

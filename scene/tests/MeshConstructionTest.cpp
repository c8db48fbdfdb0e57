#include "BrennicModel.h"
#include "ModelHolder.h"
#include "StandInHost.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A mesh record as the loader makes it, from file-axis positions and indices.
std::unique_ptr<ModelMesh> MakeMesh(const std::vector<std::array<float, 3>>& positions,
                                    const std::vector<uint16_t>& indices)
{
    auto made = std::make_unique<ModelMesh>();
    ModelMesh& mesh = *made;
    mesh.vertexCount = uint32_t(positions.size());
    mesh.vertices.reset(new WorkVertex[positions.size()]);
    for (size_t v = 0; v < positions.size(); ++v) {
        mesh.vertices[v] = WorkVertex();
        std::memcpy(mesh.vertices[v].position, positions[v].data(), sizeof mesh.vertices[v].position);
    }
    mesh.indexCount = uint32_t(indices.size());
    mesh.indices.reset(new uint16_t[indices.size()]);
    std::copy(indices.begin(), indices.end(), mesh.indices.get());
    return made;
}

void Build(const ModelMesh& source, Mesh& mesh, int meshIndex = 0)
{
    ModelHolder holder;
    EXPECT_EQ(holder.BuildMesh(source, mesh, meshIndex), 1);
}

std::vector<DWORD> FaceVerts(const Mesh& mesh, int face)
{
    return {mesh.faces[face].v[0], mesh.faces[face].v[1], mesh.faces[face].v[2]};
}

// Builds one triangle at (1, 2, 3), (4, 5, 6) and (7, 8, 9), its first corner at (0.25, 0.25)
// in the texture.
void BuildOneTriangle(Mesh& mesh)
{
    const std::unique_ptr<ModelMesh> source = MakeMesh({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {0, 1, 2});
    source->vertices[0].texCoord[0] = 0.25f;
    source->vertices[0].texCoord[1] = 0.25f;
    Build(*source, mesh);
    ASSERT_EQ(mesh.numFaces, 1);
}

TEST(MeshConstruction, ExchangesYWithZ)
{
    Mesh mesh;
    ASSERT_NO_FATAL_FAILURE(BuildOneTriangle(mesh));
    EXPECT_EQ(mesh.verts[0], Point3(1, 3, 2));
    EXPECT_EQ(mesh.verts[2], Point3(7, 9, 8));
}

TEST(MeshConstruction, ReversesTheWinding)
{
    Mesh mesh;
    ASSERT_NO_FATAL_FAILURE(BuildOneTriangle(mesh));
    EXPECT_EQ(FaceVerts(mesh, 0), (std::vector<DWORD>{2, 1, 0}));
    EXPECT_EQ(mesh.tvFace[0].t[0], 2u);
    EXPECT_EQ(mesh.tvFace[0].t[2], 0u);
}

TEST(MeshConstruction, FlipsV)
{
    Mesh mesh;
    ASSERT_NO_FATAL_FAILURE(BuildOneTriangle(mesh));
    EXPECT_EQ(mesh.tVerts[0], Point3(0.25f, 0.75f, 0));
}

TEST(MeshConstruction, ShowsEveryEdge)
{
    Mesh mesh;
    ASSERT_NO_FATAL_FAILURE(BuildOneTriangle(mesh));
    EXPECT_EQ(mesh.faces[0].flags & EDGE_ALL, EDGE_ALL);
}

TEST(MeshConstruction, WindingStaysOutwardAfterTheAxisChange)
{
    // Counter-clockwise seen from +y in the file (y up) faces up; in the host z is up.
    const std::unique_ptr<ModelMesh> source = MakeMesh({{0, 0, 0}, {0, 0, 1}, {1, 0, 0}}, {0, 1, 2});
    Mesh mesh;
    Build(*source, mesh);
    ASSERT_EQ(mesh.numFaces, 1);
    EXPECT_GT(standin::CornerNormals(mesh)(0, 0).z, 0.99f);
}

TEST(MeshConstruction, NormalIsTheUnitVectorInHostAxes)
{
    // Corners of a face the clean-up drops keep the normal set while building.
    const std::unique_ptr<ModelMesh> source = MakeMesh({{0, 0, 0}, {5, 0, 0}}, {0, 0, 1});
    source->vertices[1].normal[2] = 2.0f;
    Mesh mesh;
    Build(*source, mesh);
    EXPECT_EQ(mesh.numFaces, 0);
    EXPECT_EQ(mesh.getNormal(1), Point3(0, 1, 0));
}

TEST(MeshConstruction, SmoothingGroupIsTheMeshNumberPlusOne)
{
    const std::unique_ptr<ModelMesh> source =
        MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {0, 1, 2, 2, 1, 3});
    for (int meshIndex : {0, 2, 3, 40}) {
        Mesh mesh;
        Build(*source, mesh, meshIndex);
        for (int f = 0; f < mesh.numFaces; ++f)
            EXPECT_EQ(mesh.faces[f].smGroup, DWORD(meshIndex + 1)) << "the number, not a bit";
    }
}

TEST(MeshConstruction, LeftoverIndicesAreIgnored)
{
    const std::vector<std::array<float, 3>> positions{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    Mesh none;
    Build(*MakeMesh(positions, {0, 1}), none);
    EXPECT_EQ(none.numFaces, 0);
    EXPECT_EQ(none.numTVerts, 4);
    EXPECT_EQ(none.numVerts, 1) << "no vertex is written, so the four zero vertices weld into one";

    Mesh two;
    Build(*MakeMesh(positions, {0, 1, 2, 1, 2, 3, 0}), two);
    EXPECT_EQ(two.numFaces, 2);
}

TEST(MeshConstruction, WeldMergesCloseVerticesCollapsingTheFacesBetweenThem)
{
    // Vertex 3 lies 0.0005 from vertex 1, vertex 4 0.0015 from vertex 2: the weld's reach is 0.001.
    const std::unique_ptr<ModelMesh> source =
        MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {1.0005f, 0, 0}, {0, 0, 1.0015f}, {1, 0.0004f, 0}},
                 {0, 1, 2, 0, 3, 4, 1, 3, 5});
    Mesh mesh;
    Build(*source, mesh);
    EXPECT_EQ(mesh.numVerts, 4);
    ASSERT_EQ(mesh.numFaces, 2) << "the face on vertices 1, 3 and 5 collapsed";
    EXPECT_EQ(FaceVerts(mesh, 1), (std::vector<DWORD>{3, 1, 0}));
    EXPECT_EQ(mesh.numTVerts, 6) << "texture vertices are not welded";
    EXPECT_EQ(mesh.tvFace[1].t[0], 4u);
}

TEST(MeshConstruction, FacesWithIndicesPastTheVerticesAreDropped)
{
    const std::unique_ptr<ModelMesh> source =
        MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 0, 1}}, {0, 1, 2, 0, 1, 3, 65535, 65535, 65535, 2, 1, 0});
    Mesh mesh;
    Build(*source, mesh);
    ASSERT_EQ(mesh.numFaces, 2);
    EXPECT_EQ(FaceVerts(mesh, 0), (std::vector<DWORD>{2, 1, 0}));
    EXPECT_EQ(FaceVerts(mesh, 1), (std::vector<DWORD>{0, 1, 2}));
    EXPECT_EQ(mesh.numVerts, 3);
}

} // namespace

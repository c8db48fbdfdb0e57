// Collecting the host scene for the writers: one output vertex per distinct corner, found in
// time linear in the corners.
#include "CollectScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

// A scene of one node whose mesh has `faceCount` faces on vertices 0, 1 and 2, each face with
// texture vertices of its own: as a weld leaves a mesh whose vertices all lay on three points.
void AddFan(standin::Scene& scene, int faceCount)
{
    TriObject* object = CreateNewTriObject();
    Mesh& mesh = object->GetMesh();
    mesh.setNumVerts(3);
    mesh.setNumFaces(faceCount);
    mesh.setNumTVerts(3 * faceCount);
    mesh.setNumTVFaces(faceCount);
    mesh.verts[0] = {0, 0, 0};
    mesh.verts[1] = {1, 0, 0};
    mesh.verts[2] = {0, 1, 0};
    for (int f = 0; f < faceCount; ++f) {
        mesh.faces[f].setVerts(0, 1, 2);
        mesh.faces[f].setSmGroup(1);
        mesh.tvFace[f].setTVerts(DWORD(3 * f), DWORD(3 * f + 1), DWORD(3 * f + 2));
        for (int k = 0; k < 3; ++k)
            mesh.tVerts[3 * f + k] = {float(f), float(k), 0};
    }
    mesh.buildNormals();
    ImpNode* node = scene.CreateNode();
    node->Reference(object);
    node->SetName("fan");
    scene.AddNodeToScene(node);
}

// A scene node whose mesh is a cone of `faceCount` faces without smoothing groups or texture
// faces: each corner takes its face's normal, so the apex is `faceCount` output vertices.
void AddCone(standin::Scene& scene, int faceCount)
{
    TriObject* object = CreateNewTriObject();
    Mesh& mesh = object->GetMesh();
    mesh.setNumVerts(faceCount + 2);
    mesh.setNumFaces(faceCount);
    mesh.verts[0] = {0, 0, 1};
    for (int v = 1; v < faceCount + 2; ++v) {
        const double angle = 6.0 * v / faceCount;
        mesh.verts[v] = {float(std::cos(angle)), float(std::sin(angle)), 0};
    }
    for (int f = 0; f < faceCount; ++f) {
        mesh.faces[f].setVerts(0, DWORD(f + 1), DWORD(f + 2));
        mesh.faces[f].setSmGroup(0);
    }
    mesh.buildNormals();
    ImpNode* node = scene.CreateNode();
    node->Reference(object);
    node->SetName("cone");
    scene.AddNodeToScene(node);
}

// A scene node whose mesh is a bumpy grid of `side` x `side` quads on shared vertices, as a weld
// leaves it, each quad with four texture vertices of its own at the grid's coordinates: a grid
// point's texture vertices are equal in value under different numbers.
void AddQuadGrid(standin::Scene& scene, int side)
{
    TriObject* object = CreateNewTriObject();
    Mesh& mesh = object->GetMesh();
    const int points = side + 1, quads = side * side;
    mesh.setNumVerts(points * points);
    mesh.setNumFaces(2 * quads);
    mesh.setNumTVerts(4 * quads);
    mesh.setNumTVFaces(2 * quads);
    for (int v = 0; v < points * points; ++v)
        mesh.verts[v] = {float(v % points), float(v / points), std::sin(float(v))};
    for (int q = 0; q < quads; ++q) {
        const int column = q % side, row = q / side;
        const DWORD low = DWORD(row * points + column), corners[4] = {low, low + 1, low + points + 1, low + points};
        for (int k = 0; k < 4; ++k)
            mesh.tVerts[4 * q + k] = {float(corners[k] % points) / side, float(corners[k] / points) / side, 0};
        const DWORD t = DWORD(4 * q);
        mesh.faces[2 * q].setVerts(corners[0], corners[1], corners[2]);
        mesh.faces[2 * q + 1].setVerts(corners[0], corners[2], corners[3]);
        mesh.tvFace[2 * q].setTVerts(t, t + 1, t + 2);
        mesh.tvFace[2 * q + 1].setTVerts(t, t + 2, t + 3);
        mesh.faces[2 * q].setSmGroup(1);
        mesh.faces[2 * q + 1].setSmGroup(1);
    }
    mesh.buildNormals();
    ImpNode* node = scene.CreateNode();
    node->Reference(object);
    node->SetName("grid");
    scene.AddNodeToScene(node);
}

TEST(CollectScene, ThousandsOfVerticesOnOnePositionCostAStepOrTwoACorner)
{
    standin::Scene scene;
    AddFan(scene, 20000);
    AddCone(scene, 5000);
    CollectWork work;
    const ExportScene exported = CollectScene(scene, &work);
    ASSERT_EQ(exported.meshes.size(), 2u);
    EXPECT_EQ(exported.meshes[0].vertices.size(), 60000u) << "a texture vertex each";
    EXPECT_EQ(exported.meshes[1].vertices.size(), 15000u) << "a face normal each";
    EXPECT_EQ(work.corners, 75000u);
    EXPECT_LT(work.comparisons, 2 * work.corners) << "a corner compared with vertices made from others";
}

// Enough corners in all for a second collecting thread; meshes of different sizes, so the
// two threads finish them out of order. The meshes' face counts.
std::vector<int> AddMixedMeshes(standin::Scene& scene)
{
    std::vector<int> faceCounts;
    for (int i = 0; i < 12; ++i) {
        faceCounts.push_back(i % 2 ? 60000 : 5000 + i);
        i % 4 ? AddFan(scene, faceCounts.back()) : AddCone(scene, faceCounts.back());
    }
    return faceCounts;
}

TEST(CollectScene, ALargeSceneCollectedOnTwoThreadsKeepsItsOrder)
{
    standin::Scene scene;
    const std::vector<int> faceCounts = AddMixedMeshes(scene);
    CollectWork work;
    const ExportScene exported = CollectScene(scene, &work);
    ASSERT_EQ(exported.meshes.size(), faceCounts.size());
    size_t corners = 0;
    for (size_t i = 0; i < faceCounts.size(); ++i) {
        const ExportMesh& mesh = exported.meshes[i];
        EXPECT_EQ(mesh.name, i % 4 ? "fan" : "cone");
        EXPECT_EQ(mesh.indices.size(), 3 * size_t(faceCounts[i])) << "mesh " << i;
        if (i % 4) {
            EXPECT_EQ(mesh.vertices.size(), 3 * size_t(faceCounts[i])) << "mesh " << i << ": a texture vertex each";
        }
        corners += mesh.indices.size();
    }
    EXPECT_GE(corners, size_t(1) << 20);
    EXPECT_EQ(work.corners, corners) << "both threads' work counted";
}

// Records the meshes a collector hands on, as a writer would take them; can fail instead.
struct MeshRecorder : MeshStream {
    struct Taken {
        std::string name;
        const ExportVertex* vertices;
        size_t indices;
    };
    void Expect(size_t, size_t) override {}
    void Take(const ExportMesh& mesh) override
    {
        if (inside++)
            overlapped = true;
        if (fail)
            throw std::runtime_error("the disk is full");
        taken.push_back({mesh.name, mesh.vertices.data(), mesh.indices.size()});
        --inside;
    }
    std::vector<Taken> taken;
    std::atomic<int> inside{0};
    bool overlapped = false;
    bool fail = false;
};

TEST(SceneCollector, CollectingAsTheSceneIsBuiltGivesWhatCollectingAfterGives)
{
    standin::Scene built;
    MeshRecorder recorder;
    SceneCollector collector(nullptr, true, &recorder);
    built.SetNodeObserver([&collector](standin::Node& node) { collector.Add(node); });
    AddMixedMeshes(built);
    const ExportScene streamed = collector.Finish();
    ASSERT_EQ(recorder.taken.size(), streamed.meshes.size()) << "each mesh handed on once";
    EXPECT_FALSE(recorder.overlapped) << "never on two threads at once";
    for (size_t i = 0; i < streamed.meshes.size(); ++i) {
        EXPECT_EQ(recorder.taken[i].name, streamed.meshes[i].name) << "in order: mesh " << i;
        EXPECT_EQ(recorder.taken[i].indices, streamed.meshes[i].indices.size()) << "complete: mesh " << i;
        EXPECT_EQ(recorder.taken[i].vertices, streamed.meshes[i].vertices.data()) << "its arrays stay: mesh " << i;
    }

    standin::Scene after;
    AddMixedMeshes(after);
    const ExportScene collected = CollectScene(after);
    ASSERT_EQ(streamed.meshes.size(), collected.meshes.size());
    for (size_t i = 0; i < collected.meshes.size(); ++i) {
        const ExportMesh &a = streamed.meshes[i], &b = collected.meshes[i];
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.indices, b.indices) << "mesh " << i;
        ASSERT_EQ(a.vertices.size(), b.vertices.size()) << "mesh " << i;
        EXPECT_EQ(std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(ExportVertex)), 0)
            << "mesh " << i;
    }
    for (const standin::Node* node : built.Nodes())
        EXPECT_EQ(node->GetTriObject(), nullptr) << "each host mesh freed once read";
    for (const standin::Node* node : after.Nodes())
        EXPECT_NE(node->GetTriObject(), nullptr) << "collecting afterwards leaves the scene whole";
}

TEST(SceneCollector, GameNormalsThatDoNotFitFailTheCollectionNotTheBuild)
{
    standin::Scene scene;
    GameNormals normals(1, std::vector<Point3>(6, Point3(0, 0, 1))); // the first fan's only
    SceneCollector collector(&normals, true);
    scene.SetNodeObserver([&collector](standin::Node& node) { collector.Add(node); });
    AddFan(scene, 2);
    AddFan(scene, 2); // Add must not throw into the plug-in
    EXPECT_THROW(collector.Finish(), std::runtime_error);
}

TEST(SceneCollector, AStreamThatFailsFailsTheCollectionNotTheBuild)
{
    standin::Scene scene;
    MeshRecorder failing;
    failing.fail = true;
    SceneCollector collector(nullptr, true, &failing);
    scene.SetNodeObserver([&collector](standin::Node& node) { collector.Add(node); });
    AddMixedMeshes(scene); // Add must not throw into the plug-in
    try {
        collector.Finish();
        ADD_FAILURE() << "the stream's failure was lost";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "the disk is full");
    }
}

TEST(CollectScene, VerticesComeCheckedAndBoundedSoWritersNeedNotReadThemAgain)
{
    standin::Scene scene;
    AddQuadGrid(scene, 8);
    AddFan(scene, 2);
    scene.Nodes()[1]->GetTriObject()->GetMesh().verts[1].x = std::nanf("");
    const ExportScene collected = CollectScene(scene);

    const ExportMesh& grid = collected.meshes.at(0);
    ASSERT_TRUE(grid.facts.allWritable);
    for (int axis = 0; axis < 3; ++axis) {
        const auto [low, high] = std::minmax_element(
            grid.vertices.begin(), grid.vertices.end(),
            [axis](const ExportVertex& a, const ExportVertex& b) { return a.position[axis] < b.position[axis]; });
        EXPECT_EQ(grid.facts.low[axis], low->position[axis]) << "axis " << axis;
        EXPECT_EQ(grid.facts.high[axis], high->position[axis]) << "axis " << axis;
    }
    EXPECT_FALSE(collected.meshes.at(1).facts.allWritable)
        << "a position that is not a number needs the writers' repair";
}

TEST(CollectScene, CornersAlikeInEveryAttributeShareAnOutputVertex)
{
    standin::Scene scene;
    AddFan(scene, 2);
    Mesh& mesh = scene.Nodes()[0]->GetTriObject()->GetMesh();
    mesh.tvFace[1].setTVerts(0, 1, 5); // the second face's first two corners as the first's
    const ExportMesh collected = CollectScene(scene).meshes.at(0);
    EXPECT_EQ(collected.indices, (std::vector<uint32_t>{0, 1, 2, 0, 1, 3}));
    EXPECT_EQ(collected.vertices[3].texCoord[0], 1.0f) << "the texture vertex of face 1, corner 2";
}

TEST(CollectScene, CornersEqualInValueShareAnOutputVertexWhateverTheirNumbers)
{
    constexpr int side = 16, points = side + 1;
    standin::Scene scene;
    AddQuadGrid(scene, side);
    const Mesh& mesh = scene.Nodes()[0]->GetTriObject()->GetMesh();
    const ExportMesh shared = CollectScene(scene).meshes.at(0);
    EXPECT_EQ(shared.vertices.size(), size_t(points * points)) << "one vertex a grid point";
    EXPECT_EQ(std::vector<uint32_t>(shared.indices.begin(), shared.indices.begin() + 6),
              (std::vector<uint32_t>{0, 1, 2, 0, 2, 3}))
        << "numbered in the order corners first use them";
    for (size_t corner = 0; corner < shared.indices.size(); ++corner) {
        const Point3& host = mesh.verts[mesh.faces[corner / 3].v[corner % 3]];
        const ExportVertex& v = shared.vertices[shared.indices[corner]];
        ASSERT_TRUE(v.position[0] == host.x && v.position[1] == host.z && v.position[2] == -host.y)
            << "corner " << corner;
    }

    // Game normals facing one way left of the middle column and another right of it: the
    // middle column's points keep a vertex for each side.
    GameNormals normals(1);
    for (int t = 0; t < mesh.numTVerts; ++t)
        normals[0].push_back((t / 4) % side < side / 2 ? Point3(0, 0, 1) : Point3(1, 0, 0));
    EXPECT_EQ(CollectScene(scene, nullptr, &normals).meshes.at(0).vertices.size(), size_t(points * points + points));
}

} // namespace

// The stand-in host's mesh operations: weld, clean-up and normals.
#include "HostApi.h"
#include "StandInHost.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace {

// A mesh of the given vertices and faces, texture faces matching the faces.
void Fill(Mesh& mesh, const std::vector<Point3>& vertices, const std::vector<std::array<DWORD, 3>>& faces,
          DWORD smGroup = 1)
{
    mesh.setNumVerts(int(vertices.size()));
    mesh.setNumTVerts(int(vertices.size()));
    mesh.setNumFaces(int(faces.size()));
    mesh.setNumTVFaces(int(faces.size()));
    for (size_t v = 0; v < vertices.size(); ++v)
        mesh.verts[v] = vertices[v];
    for (size_t f = 0; f < faces.size(); ++f) {
        mesh.faces[f].setVerts(faces[f][0], faces[f][1], faces[f][2]);
        mesh.faces[f].setSmGroup(smGroup);
        mesh.tvFace[f].setTVerts(faces[f][0] % vertices.size(), faces[f][1] % vertices.size(),
                                 faces[f][2] % vertices.size());
    }
}

// Welds every vertex at `threshold` and applies it.
void WeldAll(Mesh& mesh, float threshold = 0.001f)
{
    MeshDelta delta(mesh);
    BitArray all;
    all.SetSize(mesh.numVerts);
    all.SetAll();
    delta.WeldByThreshold(mesh, all, threshold);
    delta.Apply(mesh);
}

std::vector<DWORD> FaceVerts(const Mesh& mesh)
{
    std::vector<DWORD> corners;
    for (int f = 0; f < mesh.numFaces; ++f)
        corners.insert(corners.end(), mesh.faces[f].v, mesh.faces[f].v + 3);
    return corners;
}

TEST(Weld, MergesOnlyWhatLiesCloserThanTheThreshold)
{
    const struct {
        Point3 a, b;
        bool merged;
        const char* what;
    } cases[] = {
        {{1, 1, 1}, {1.0005f, 1, 1}, true, "0.0005 apart"},
        {{1, 1, 1}, {1.01f, 1, 1}, false, "0.01 apart"},
        {{-0.00045f, 5, 5}, {0.00045f, 5, 5}, true, "0.0009 apart across zero"},
        {{0.0015f, 0, 0}, {0.0026f, 0, 0}, false, "0.0011 apart"},
        {{3, 3, 3}, {3.0006f, 3.0006f, 3}, true, "0.00085 apart diagonally"},
        {{3, 3, 3}, {3.0006f, 3.0006f, 3.0006f}, false, "0.00104 apart diagonally"},
    };
    for (const auto& c : cases) {
        Mesh mesh;
        Fill(mesh, {c.a, c.b, {9, 9, 9}}, {{0, 1, 2}});
        WeldAll(mesh);
        EXPECT_EQ(mesh.numVerts, c.merged ? 2 : 3) << c.what;
        EXPECT_EQ(mesh.verts[0], c.a) << c.what << ": the lowest-numbered vertex keeps its place and position";
    }
}

TEST(Weld, DistanceDecidesWhereverThePairLiesOnTheGrid)
{
    // Pairs at every offset through several cells, so some straddle each cell boundary.
    for (int step = 0; step < 100; ++step) {
        const float x = 0.00013f * float(step);
        for (const auto& [gap, merged] : {std::pair{0.0009f, true}, std::pair{0.0011f, false}}) {
            Mesh mesh;
            Fill(mesh, {{x, 1, 1}, {x + gap, 1, 1}, {x, 2, 2}}, {{0, 1, 2}});
            WeldAll(mesh);
            EXPECT_EQ(mesh.numVerts, merged ? 2 : 3) << "at " << x << ", " << gap << " apart";
        }
    }
}

TEST(Weld, ChainsDoNotMergeEndToEnd)
{
    Mesh mesh;
    Fill(mesh, {{0, 0, 0}, {0.0008f, 0, 0}, {0.0016f, 0, 0}, {0.0024f, 0, 0}}, {{0, 1, 2}, {1, 2, 3}});
    WeldAll(mesh);
    // 1 joins 0; 2 is 0.0016 from 0, so it is kept and 3 joins it.
    ASSERT_EQ(mesh.numVerts, 2);
    EXPECT_EQ(mesh.verts[1], Point3(0.0016f, 0, 0));
    EXPECT_EQ(FaceVerts(mesh), (std::vector<DWORD>{0, 0, 1, 0, 1, 1}));
}

TEST(Weld, AVertexNearTwoKeptOnesJoinsTheEarlierNotTheNearer)
{
    // Kept vertices 0 and 1 lie 0.0015 apart; vertex 2 lies 0.0008 from 0 and 0.0007 from 1.
    // Each way along each axis, with 0 and 1 in one grid cell and in two.
    for (const float origin : {0.0f, 1.0021f, -0.5f, 0.0035f, -0.0035f})
        for (const float direction : {1.0f, -1.0f})
            for (int axis = 0; axis < 3; ++axis) {
                auto at = [&](float offset) {
                    float c[3] = {origin, origin, origin};
                    c[axis] += direction * offset;
                    return Point3(c[0], c[1], c[2]);
                };
                Mesh mesh;
                Fill(mesh, {at(0), at(0.0015f), at(0.0008f), {9, 9, 9}}, {{2, 1, 3}});
                WeldAll(mesh);
                ASSERT_EQ(mesh.numVerts, 3);
                EXPECT_EQ(FaceVerts(mesh), (std::vector<DWORD>{0, 1, 2}))
                    << "origin " << origin << ", axis " << axis << ", direction " << direction;
            }
}

TEST(Weld, RenumbersFacesButNotTextureFaces)
{
    Mesh mesh;
    // Two triangles sharing an edge, written with separate corners as a file with UV seams has them.
    Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {3, 4, 5}});
    WeldAll(mesh);
    EXPECT_EQ(mesh.numVerts, 4);
    EXPECT_EQ(FaceVerts(mesh), (std::vector<DWORD>{0, 1, 2, 1, 3, 2}));
    EXPECT_EQ(mesh.numTVerts, 6);
    EXPECT_EQ(mesh.tvFace[1].t[0], 3u);
}

TEST(Weld, SkipsVerticesOutsideTheSet)
{
    Mesh mesh;
    Fill(mesh, {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}}, {{0, 1, 2}});
    MeshDelta delta(mesh);
    BitArray set;
    set.SetSize(mesh.numVerts);
    set.SetAll();
    set.Clear(1);
    delta.WeldByThreshold(mesh, set, 0.001f);
    delta.Apply(mesh);
    EXPECT_EQ(mesh.numVerts, 3) << "vertex 1 is not a candidate";
}

TEST(Weld, SkipsVerticesWithoutAPlace)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    Mesh mesh;
    Fill(mesh, {{nan, 0, 0}, {nan, 0, 0}, {inf, 0, 0}, {inf, 0, 0}, {3e38f, 0, 0}, {3e38f, 0, 0}}, {{0, 1, 2}});
    WeldAll(mesh);
    EXPECT_EQ(mesh.numVerts, 6) << "NaN, infinite and huge positions are not welded";
}

TEST(Weld, CornersPastTheVerticesStayIllegal)
{
    Mesh mesh;
    Fill(mesh, {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 2, 3}, {1, 2, 77}});
    WeldAll(mesh);
    ASSERT_EQ(mesh.numVerts, 3);
    EXPECT_GE(mesh.faces[1].v[2], 3u);
    mesh.RemoveIllegalFaces();
    EXPECT_EQ(mesh.numFaces, 1);
}

TEST(Weld, LargeGridOfSeamsMergesEveryDuplicate)
{
    // Each of n*n quads with its own four corners: the weld must leave (n+1)^2 vertices.
    const int n = 100;
    std::vector<Point3> vertices;
    std::vector<std::array<DWORD, 3>> faces;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const DWORD base = DWORD(vertices.size());
            for (int corner = 0; corner < 4; ++corner)
                vertices.push_back({0.01f * float(x + corner % 2), 0.01f * float(y + corner / 2), 0});
            faces.push_back({base, base + 1, base + 3});
            faces.push_back({base, base + 3, base + 2});
        }
    Mesh mesh;
    Fill(mesh, vertices, faces);
    WeldAll(mesh);
    EXPECT_EQ(mesh.numVerts, (n + 1) * (n + 1));
}

TEST(Weld, VerticesKeptBeforeTheCellTableGrewAreStillFound)
{
    // A thousand points kept (more than the table first holds), then each again, 0.0005 off.
    std::vector<Point3> vertices;
    for (int pass = 0; pass < 2; ++pass)
        for (int i = 0; i < 1000; ++i)
            vertices.push_back({0.01f * float(i % 40), 0.01f * float(i / 40), 0.0005f * float(pass)});
    Mesh mesh;
    Fill(mesh, vertices, {{0, 1000, 1999}});
    WeldAll(mesh);
    EXPECT_EQ(mesh.numVerts, 1000);
    EXPECT_EQ(FaceVerts(mesh), (std::vector<DWORD>{0, 0, 999}));
}

TEST(Weld, AgreesWithTheRuleAppliedPairByPair)
{
    // Points on a lattice finer than the threshold, many repeated exactly, some a hair off,
    // on both sides of zero: every vertex must join the earliest kept vertex within reach.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> lattice(-12, 12), hair(-1, 1);
    std::vector<Point3> vertices;
    for (int i = 0; i < 3000; ++i) {
        auto coordinate = [&] { return 0.0007f * float(lattice(random)) + 0.0001f * float(hair(random)); };
        vertices.push_back(i % 5 == 4 ? vertices[size_t(random()) % vertices.size()]
                                      : Point3(coordinate(), coordinate(), 1.5f + coordinate()));
    }
    std::vector<std::array<DWORD, 3>> faces;
    for (DWORD f = 0; f < 1000; ++f)
        faces.push_back({3 * f, 3 * f + 1, 3 * f + 2});

    std::vector<DWORD> expected;
    std::vector<size_t> kept;
    for (const Point3& p : vertices) {
        DWORD match = DWORD(kept.size());
        for (size_t k = 0; k < kept.size() && match == kept.size(); ++k) {
            const Point3& q = vertices[kept[k]];
            const double dx = double(q.x) - p.x, dy = double(q.y) - p.y, dz = double(q.z) - p.z;
            if (dx * dx + dy * dy + dz * dz < double(0.001f) * double(0.001f))
                match = DWORD(k);
        }
        if (match == kept.size())
            kept.push_back(size_t(&p - vertices.data()));
        expected.push_back(match);
    }

    Mesh mesh;
    Fill(mesh, vertices, faces);
    WeldAll(mesh);
    EXPECT_EQ(size_t(mesh.numVerts), kept.size());
    EXPECT_EQ(FaceVerts(mesh), expected);
}

TEST(CleanUp, DropsDegenerateFaces)
{
    Mesh mesh;
    Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 0, 1}, {2, 1, 2}, {0, 1, 3}, {1, 2, 0}});
    EXPECT_TRUE(mesh.RemoveDegenerateFaces());
    EXPECT_EQ(FaceVerts(mesh), (std::vector<DWORD>{0, 1, 2, 0, 1, 3, 1, 2, 0}));
    EXPECT_FALSE(mesh.RemoveDegenerateFaces()) << "none is left to drop";
}

TEST(CleanUp, DropsIllegalFacesWithTheirTextureFaces)
{
    Mesh mesh;
    Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 1, 3}, {1, 2, 0}});
    mesh.tvFace[2].setTVerts(1, 2, 9); // a texture corner past the texture vertices
    EXPECT_TRUE(mesh.RemoveIllegalFaces());
    EXPECT_EQ(FaceVerts(mesh), (std::vector<DWORD>{0, 1, 2}));
    EXPECT_EQ(mesh.tvFace[0].t[2], 2u);
    EXPECT_FALSE(mesh.RemoveDegenerateFaces());
}

// Two faces meeting at a right angle along the edge of vertices 0 and 1, in one smoothing
// group unless told otherwise.
void FillRightAngle(Mesh& mesh, DWORD smGroup = 1)
{
    Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 1, 2}, {1, 0, 3}}, smGroup); // normals +z and +y
}

TEST(Normals, SmoothWithinASmoothingGroup)
{
    const float s = std::sqrt(0.5f);
    Mesh smooth;
    FillRightAngle(smooth);
    smooth.buildNormals();
    EXPECT_NEAR(standin::CornerNormals(smooth)(0, 0).y, s, 1e-6);
    EXPECT_NEAR(standin::CornerNormals(smooth)(0, 0).z, s, 1e-6);
    EXPECT_NEAR(standin::CornerNormals(smooth)(0, 2).z, 1, 1e-6) << "vertex 2 lies on the first face only";
}

TEST(Normals, SharpAcrossSmoothingGroups)
{
    Mesh sharp;
    FillRightAngle(sharp);
    sharp.faces[1].setSmGroup(2);
    sharp.buildNormals();
    EXPECT_EQ(standin::CornerNormals(sharp)(0, 0), Point3(0, 0, 1));
    EXPECT_EQ(standin::CornerNormals(sharp)(1, 1), Point3(0, 1, 0));
}

TEST(Normals, FaceWithoutASmoothingGroupKeepsItsOwn)
{
    Mesh none;
    FillRightAngle(none, 0);
    none.buildNormals();
    EXPECT_EQ(standin::CornerNormals(none)(0, 1), Point3(0, 0, 1)) << "no smoothing group: the face's own normal";
}

TEST(Normals, ChangingTheFacesDiscardsThem)
{
    Mesh none;
    FillRightAngle(none, 0);
    none.buildNormals();
    none.setNumFaces(1, TRUE);
    EXPECT_FALSE(standin::CornerNormals(none).Built()) << "normals of faces since changed";
}

TEST(Normals, ASecondSmoothingGroupElsewhereChangesNoOtherBit)
{
    // A bumpy grid, one smoothing group; then again with one more face at vertex 0 in another
    // group, which takes the general way for the whole mesh. Away from vertex 0, every bit of
    // every normal must agree. Heights of 0 and -0 test the signs of zero sums.
    const int side = 12;
    std::vector<Point3> vertices;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            vertices.push_back(
                {float(x), float(y), (x * 7 + y * 3) % 5 == 0 ? ((x + y) % 2 ? -0.0f : 0.0f) : std::sin(float(x * y))});
    std::vector<std::array<DWORD, 3>> faces;
    for (int y = 0; y + 1 < side; ++y)
        for (int x = 0; x + 1 < side; ++x) {
            const DWORD a = DWORD(y * side + x), b = a + 1, c = a + side + 1, d = a + side;
            faces.push_back({a, b, c});
            faces.push_back({a, c, d});
        }
    Mesh oneGroup, twoGroups;
    Fill(oneGroup, vertices, faces);
    faces.push_back({0, DWORD(side * side - 1), DWORD(side - 1)});
    Fill(twoGroups, vertices, faces);
    twoGroups.faces[faces.size() - 1].setSmGroup(2);
    oneGroup.buildNormals();
    twoGroups.buildNormals();
    const standin::CornerNormals one(oneGroup), two(twoGroups);
    for (int f = 0; f < oneGroup.numFaces; ++f)
        for (int k = 0; k < 3; ++k) {
            const DWORD v = oneGroup.faces[f].v[k];
            if (v == 0 || v == DWORD(side * side - 1) || v == DWORD(side - 1))
                continue;
            EXPECT_EQ(std::memcmp(&one(size_t(f), k), &two(size_t(f), k), sizeof(Point3)), 0)
                << "face " << f << ", corner " << k;
            EXPECT_EQ(std::memcmp(&oneGroup.getNormal(int(v)), &twoGroups.getNormal(int(v)), sizeof(Point3)), 0)
                << "vertex " << v;
        }
}

TEST(BoundingBox, CoversEveryVertex)
{
    Mesh mesh;
    Fill(mesh, {{-1, 2, 3}, {4, -5, 6}, {0, 0, -7}}, {{0, 1, 2}});
    mesh.buildBoundingBox();
    EXPECT_EQ(mesh.getBoundingBox().pmin, Point3(-1, -5, -7));
    EXPECT_EQ(mesh.getBoundingBox().pmax, Point3(4, 2, 6));

    Matrix3 moved;
    moved.IdentityMatrix();
    moved.m[3][0] = 10; // a translation along x
    EXPECT_EQ(mesh.getBoundingBox(&moved).pmin, Point3(9, -5, -7));
}

TEST(MeshCopy, OwnsItsOwnArrays)
{
    Mesh mesh;
    Fill(mesh, {{-1, 2, 3}, {4, -5, 6}, {0, 0, -7}}, {{0, 1, 2}});
    Mesh copy(mesh);
    mesh.verts[0] = Point3(9, 9, 9);
    EXPECT_EQ(copy.verts[0], Point3(-1, 2, 3));
    EXPECT_EQ(copy.faces[0].v[2], 2u);
    copy = mesh;
    EXPECT_EQ(copy.verts[0], Point3(9, 9, 9));
    EXPECT_NE(copy.verts, mesh.verts);
}

TEST(BitArray, SetAllSetsExactlyItsSize)
{
    BitArray bits;
    bits.SetSize(33);
    bits.SetAll();
    EXPECT_EQ(bits.NumberSet(), 33);
    bits.SetSize(40, 1);
    EXPECT_EQ(bits.NumberSet(), 33) << "growing keeps the old bits and adds cleared ones";
    EXPECT_EQ(bits[39], 0);
    EXPECT_EQ(bits[-1], 0);
}

} // namespace

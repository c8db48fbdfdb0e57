// The stand-in host's triangle mesh: sizing, clean-up, normals and bounding box. It imitates
// the host application's mesh clean-up and normals: the converter builds its meshes here, so a
// change to their results changes what the converter shows relative to the host. A mesh's
// normals and edge-list flag are kept beside it (MeshState.h).
#include "HostApi.h"
#include "MeshState.h"
#include "StandInHost.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace standin {

namespace {

SideRecords<Mesh, MeshState>& Meshes()
{
    // Never destroyed: a mesh may outlive the end of main (a static scene, say).
    static auto* const meshes = new SideRecords<Mesh, MeshState>;
    return *meshes;
}

} // namespace

MeshState& StateOf(const Mesh& mesh)
{
    return Meshes().Of(mesh);
}

CornerNormals::CornerNormals(const Mesh& mesh) : faces(mesh.faces)
{
    const MeshState& state = StateOf(mesh);
    if (!state.normalsBuilt)
        return;
    perCorner = state.cornerNormals.get();
    if (!perCorner)
        perVertex = state.vertexNormals.get();
}

} // namespace standin

using standin::StateOf;

namespace {

// A zeroed array of `count` elements, keeping the first `kept` of `old` if asked.
template <typename T>
std::unique_ptr<T[]> Resized(std::unique_ptr<T[]>& old, int oldCount, int count, bool keep)
{
    std::unique_ptr<T[]> array(new T[size_t(count)]);
    std::memset(static_cast<void*>(array.get()), 0, sizeof(T) * size_t(count));
    if (keep && old)
        std::copy_n(old.get(), std::min(oldCount, count), array.get());
    return array;
}

// The same for the arrays the interface declares as plain pointers, which the mesh owns.
template <typename T>
void Resize(T*& array, int oldCount, int count, bool keep)
{
    std::unique_ptr<T[]> old(array);
    array = Resized(old, oldCount, count, keep).release();
}

template <typename T>
T* CopyOf(const T* array, int count)
{
    if (!array)
        return nullptr;
    std::unique_ptr<T[]> copy(new T[size_t(count)]);
    std::copy_n(array, count, copy.get());
    return copy.release();
}

void ForgetNormals(standin::MeshState& state)
{
    state.cornerNormals.reset();
    state.normalsBuilt = false;
}

// Drops the faces `remove` picks, with their texture faces, keeping the others in order.
template <typename Remove>
void RemoveFacesWhere(Mesh& mesh, Remove remove)
{
    const bool withTextureFaces = mesh.numTVFaces == mesh.numFaces;
    // Faces before the first removed one stay where they are, unwritten.
    int kept = 0;
    while (kept < mesh.numFaces && !remove(kept))
        ++kept;
    for (int f = kept; f < mesh.numFaces; ++f) {
        if (remove(f))
            continue;
        mesh.faces[size_t(kept)] = mesh.faces[size_t(f)];
        if (withTextureFaces)
            mesh.tvFace[size_t(kept)] = mesh.tvFace[size_t(f)];
        ++kept;
    }
    mesh.numFaces = kept;
    if (withTextureFaces)
        mesh.numTVFaces = kept;
    ForgetNormals(StateOf(mesh));
}

// Point3::Normalize, inlined here: the normal loops call it for every vertex.
Point3 Unit(const Point3& p)
{
    const float length = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    return length > 0 ? standin::Divided(p, length) : Point3(0, 0, 0);
}

// Builds the vertex normals when the faces around each vertex share one nonzero smoothing word;
// returns false without writing anything when they do not. Each vertex's faces then form one
// group, whose sum (from zero, in face order, as below) is the normal of the vertex and its corners.
bool NormalsOfOneWordVertices(const Mesh& mesh, const std::vector<Point3>& faceNormals, Point3* vertexNormals)
{
    const size_t faceCount = size_t(mesh.numFaces), vertexCount = size_t(mesh.numVerts);
    struct Around {
        Point3 sum;
        DWORD word;
        bool seen;
    };
    std::vector<Around> around(vertexCount, Around{Point3(0, 0, 0), 0, false});
    for (size_t f = 0; f < faceCount; ++f) {
        const DWORD* v = mesh.faces[f].v;
        if (v[0] >= vertexCount || v[1] >= vertexCount || v[2] >= vertexCount)
            continue;
        const DWORD word = mesh.faces[f].smGroup;
        if (!word)
            return false; // the face's corners take its own normal
        for (int k = 0; k < 3; ++k) {
            Around& vertex = around[v[k]];
            if (vertex.seen && vertex.word != word)
                return false;
            vertex.word = word;
            vertex.seen = true;
            vertex.sum += faceNormals[f];
        }
    }
    for (size_t v = 0; v < vertexCount; ++v)
        if (around[v].seen)
            vertexNormals[v] = Unit(around[v].sum);
    return true;
}

// The corner normals in general: the corners grouped by vertex, and a vertex's faces by
// smoothing word; the corners of a vertex that share a word share one normal.
void NormalsByGroup(const Mesh& mesh, const std::vector<Point3>& faceNormals, Point3* cornerNormals,
                    Point3* vertexNormals)
{
    const size_t faceCount = size_t(mesh.numFaces), vertexCount = size_t(mesh.numVerts);
    std::vector<int> firstCorner(vertexCount + 1, 0);
    for (size_t f = 0; f < faceCount; ++f) {
        const DWORD* v = mesh.faces[f].v;
        if (v[0] >= vertexCount || v[1] >= vertexCount || v[2] >= vertexCount)
            continue;
        for (int k = 0; k < 3; ++k)
            ++firstCorner[v[k] + 1];
    }
    for (size_t v = 0; v < vertexCount; ++v)
        firstCorner[v + 1] += firstCorner[v];

    std::vector<int> corners(static_cast<size_t>(firstCorner[vertexCount]));
    std::vector<int> filled(firstCorner.begin(), firstCorner.end() - 1);
    for (size_t f = 0; f < faceCount; ++f) {
        const DWORD* v = mesh.faces[f].v;
        if (v[0] >= vertexCount || v[1] >= vertexCount || v[2] >= vertexCount)
            continue;
        for (int k = 0; k < 3; ++k)
            corners[size_t(filled[v[k]]++)] = int(3 * f + size_t(k));
    }

    struct Group {
        DWORD word;
        Point3 sum;
        bool done; // `normal` holds the normal of this group's corners
        Point3 normal;
    };
    std::vector<Group> groups;
    for (size_t v = 0; v < vertexCount; ++v) {
        groups.clear();
        Point3 all(0, 0, 0);
        for (int i = firstCorner[v]; i < firstCorner[v + 1]; ++i) {
            const size_t f = size_t(corners[size_t(i)]) / 3;
            const DWORD word = mesh.faces[f].smGroup;
            all += faceNormals[f];
            auto group = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.word == word; });
            if (group == groups.end())
                groups.push_back({word, faceNormals[f], false, Point3(0, 0, 0)});
            else
                group->sum += faceNormals[f];
        }
        for (int i = firstCorner[v]; i < firstCorner[v + 1]; ++i) {
            const size_t corner = size_t(corners[size_t(i)]), f = corner / 3;
            const DWORD word = mesh.faces[f].smGroup;
            if (!word) {
                cornerNormals[corner] = Unit(faceNormals[f]);
                continue;
            }
            Group& own = *std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.word == word; });
            if (!own.done) {
                Point3 normal(0, 0, 0);
                for (const Group& group : groups)
                    if (group.word & word)
                        normal += group.sum;
                own.normal = Unit(normal);
                own.done = true;
            }
            cornerNormals[corner] = own.normal;
        }
        if (firstCorner[v + 1] > firstCorner[v])
            vertexNormals[v] = Unit(all);
    }
}

} // namespace

Mesh::Mesh()
    : numVerts(0),
      numFaces(0),
      numTVerts(0),
      numTVFaces(0),
      verts(nullptr),
      faces(nullptr),
      tVerts(nullptr),
      tvFace(nullptr)
{
}

// A copy holds the geometry; its normals are built again when asked for.
Mesh::Mesh(const Mesh& from)
    : numVerts(from.numVerts),
      numFaces(from.numFaces),
      numTVerts(from.numTVerts),
      numTVFaces(from.numTVFaces),
      verts(nullptr),
      faces(nullptr),
      tVerts(nullptr),
      tvFace(nullptr),
      bdgBox(from.bdgBox)
{
    std::unique_ptr<Point3[]> copiedVerts(CopyOf(from.verts, numVerts));
    std::unique_ptr<Face[]> copiedFaces(CopyOf(from.faces, numFaces));
    std::unique_ptr<UVVert[]> copiedTVerts(CopyOf(from.tVerts, numTVerts));
    tvFace = CopyOf(from.tvFace, numTVFaces);
    verts = copiedVerts.release();
    faces = copiedFaces.release();
    tVerts = copiedTVerts.release();
}

Mesh& Mesh::operator=(const Mesh& from)
{
    if (this != &from) {
        Mesh copy(from);
        std::swap(numVerts, copy.numVerts);
        std::swap(numFaces, copy.numFaces);
        std::swap(numTVerts, copy.numTVerts);
        std::swap(numTVFaces, copy.numTVFaces);
        std::swap(verts, copy.verts);
        std::swap(faces, copy.faces);
        std::swap(tVerts, copy.tVerts);
        std::swap(tvFace, copy.tvFace);
        bdgBox = from.bdgBox;
        standin::Meshes().Forget(*this);
    }
    return *this;
}

Mesh::~Mesh()
{
    delete[] verts;
    delete[] faces;
    delete[] tVerts;
    delete[] tvFace;
    standin::Meshes().Forget(*this);
}

Box3 Mesh::getBoundingBox(Matrix3* tm)
{
    if (!tm)
        return bdgBox;
    // The host's matrices take row vectors: the fourth row is the translation.
    const float(*m)[3] = tm->m;
    Box3 box;
    for (int v = 0; v < numVerts; ++v) {
        const Point3& p = verts[size_t(v)];
        box += Point3(p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + m[3][0],
                      p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + m[3][1],
                      p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + m[3][2]);
    }
    return box;
}

BOOL Mesh::setNumVerts(int count, BOOL keep, BOOL)
{
    if (count < 0)
        return FALSE;
    standin::MeshState& state = StateOf(*this);
    Resize(verts, numVerts, count, keep);
    state.vertexNormals = Resized(state.vertexNormals, numVerts, count, keep);
    ForgetNormals(state);
    numVerts = count;
    return TRUE;
}

BOOL Mesh::setNumFaces(int count, BOOL keep, BOOL)
{
    if (count < 0)
        return FALSE;
    Resize(faces, numFaces, count, keep);
    ForgetNormals(StateOf(*this));
    numFaces = count;
    return TRUE;
}

BOOL Mesh::setNumTVerts(int count, BOOL keep)
{
    if (count < 0)
        return FALSE;
    Resize(tVerts, numTVerts, count, keep);
    numTVerts = count;
    return TRUE;
}

BOOL Mesh::setNumTVFaces(int count, BOOL keep, int oldCount)
{
    if (count < 0)
        return FALSE;
    Resize(tvFace, keep ? std::min(oldCount, numTVFaces) : 0, count, keep);
    numTVFaces = count;
    return TRUE;
}

void Mesh::setNormal(int index, const Point3& normal)
{
    if (index >= 0 && index < numVerts)
        StateOf(*this).vertexNormals[size_t(index)] = normal;
}

Point3& Mesh::getNormal(int index) const
{
    return StateOf(*this).vertexNormals[size_t(index)];
}

BOOL Mesh::RemoveDegenerateFaces()
{
    const int before = numFaces;
    RemoveFacesWhere(*this, [this](int f) {
        const DWORD* v = faces[size_t(f)].v;
        return v[0] == v[1] || v[1] == v[2] || v[0] == v[2];
    });
    return numFaces != before;
}

BOOL Mesh::RemoveIllegalFaces()
{
    const int before = numFaces;
    const bool withTextureFaces = numTVFaces == numFaces;
    RemoveFacesWhere(*this, [&](int f) {
        for (int k = 0; k < 3; ++k) {
            if (faces[size_t(f)].v[k] >= DWORD(numVerts))
                return true;
            if (withTextureFaces && tvFace[size_t(f)].t[k] >= DWORD(numTVerts))
                return true;
        }
        return false;
    });
    return numFaces != before;
}

// Normals per face corner: the sum of the area-weighted normals of the faces around the corner's
// vertex whose smoothing word shares a bit with the corner's face. A face without smoothing
// groups keeps its own normal.
//
// When each vertex's faces share one smoothing word (as the plug-in's meshes do), a vertex's
// normal is the sum of its faces' normals, added in face order and normalised once. Otherwise
// one pass goes over the corners, grouped by vertex.
void Mesh::buildNormals()
{
    const size_t faceCount = size_t(numFaces), vertexCount = size_t(numVerts);
    standin::MeshState& state = StateOf(*this);
    auto legal = [&](const DWORD* v) { return v[0] < vertexCount && v[1] < vertexCount && v[2] < vertexCount; };
    std::vector<Point3> faceNormals(faceCount); // Point3 leaves them unset: each is written here
    for (size_t f = 0; f < faceCount; ++f) {
        const DWORD* v = faces[f].v;
        faceNormals[f] = legal(v) ? CrossProd(verts[v[1]] - verts[v[0]], verts[v[2]] - verts[v[1]]) : Point3(0, 0, 0);
    }
    ForgetNormals(state);
    if (!NormalsOfOneWordVertices(*this, faceNormals, state.vertexNormals.get())) {
        state.cornerNormals.reset(new Point3[3 * faceCount]);
        std::fill_n(state.cornerNormals.get(), 3 * faceCount, Point3(0, 0, 0));
        NormalsByGroup(*this, faceNormals, state.cornerNormals.get(), state.vertexNormals.get());
    }
    state.normalsBuilt = true;
}

void Mesh::buildBoundingBox()
{
    bdgBox.Init();
    for (int v = 0; v < numVerts; ++v)
        bdgBox += verts[size_t(v)];
}

void Mesh::InvalidateEdgeList()
{
    StateOf(*this).edgeListValid = false;
}

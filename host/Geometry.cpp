// The stand-in host's geometry: vectors, bit sets, the triangle mesh with its clean-up and
// normal building, and the vertex weld.
#include "HostApi.h"

#include <algorithm>
#include <cmath>
#include <cstring>

float Point3::Length() const
{
    return std::sqrt(x * x + y * y + z * z);
}

Point3 Point3::Normalize() const
{
    const float length = Length();
    return length > 0 ? Point3(x / length, y / length, z / length) : Point3(0, 0, 0);
}

Point3 CrossProd(const Point3& a, const Point3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float DotProd(const Point3& a, const Point3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Box3& Box3::operator+=(const Point3& p)
{
    pmin = {std::min(pmin.x, p.x), std::min(pmin.y, p.y), std::min(pmin.z, p.z)};
    pmax = {std::max(pmax.x, p.x), std::max(pmax.y, p.y), std::max(pmax.z, p.z)};
    return *this;
}

void Matrix3::IdentityMatrix()
{
    std::memset(m, 0, sizeof m);
    m[0][0] = m[1][1] = m[2][2] = 1.0f;
}

bool Matrix3::IsIdentity() const
{
    Matrix3 identity;
    identity.IdentityMatrix();
    return std::memcmp(m, identity.m, sizeof m) == 0;
}

// ---- BitArray

void BitArray::SetSize(int count, int save)
{
    count = std::max(count, 0);
    std::vector<DWORD> resized(static_cast<size_t>(count + 31) / 32, 0);
    if (save)
        std::copy_n(words.begin(), std::min(words.size(), resized.size()), resized.begin());
    words.swap(resized);
    size = count;
    if (size % 32 && !words.empty())
        words.back() &= (DWORD{1} << (size % 32)) - 1;
}

void BitArray::SetAll()
{
    std::fill(words.begin(), words.end(), ~DWORD{0});
    if (size % 32 && !words.empty())
        words.back() = (DWORD{1} << (size % 32)) - 1;
}

void BitArray::ClearAll()
{
    std::fill(words.begin(), words.end(), 0);
}

void BitArray::Set(int index)
{
    if (index >= 0 && index < size)
        words[size_t(index) / 32] |= DWORD{1} << (index % 32);
}

void BitArray::Clear(int index)
{
    if (index >= 0 && index < size)
        words[size_t(index) / 32] &= ~(DWORD{1} << (index % 32));
}

int BitArray::operator[](int index) const
{
    return index >= 0 && index < size ? int(words[size_t(index) / 32] >> (index % 32) & 1) : 0;
}

int BitArray::NumberSet() const
{
    int count = 0;
    for (DWORD word : words)
        for (; word; word &= word - 1)
            ++count;
    return count;
}

// ---- Mesh

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

} // namespace

Mesh::Mesh() = default;
Mesh::~Mesh() = default;

BOOL Mesh::setNumVerts(int count, BOOL keep, BOOL)
{
    if (count < 0)
        return FALSE;
    verts = Resized(verts, numVerts, count, keep);
    vertexNormals = Resized(vertexNormals, numVerts, count, keep);
    numVerts = count;
    return TRUE;
}

BOOL Mesh::setNumFaces(int count, BOOL keep, BOOL)
{
    if (count < 0)
        return FALSE;
    faces = Resized(faces, numFaces, count, keep);
    cornerNormals.reset();
    numFaces = count;
    return TRUE;
}

BOOL Mesh::setNumTVerts(int count, BOOL keep)
{
    if (count < 0)
        return FALSE;
    tVerts = Resized(tVerts, numTVerts, count, keep);
    numTVerts = count;
    return TRUE;
}

BOOL Mesh::setNumTVFaces(int count, BOOL keep, int oldCount)
{
    if (count < 0)
        return FALSE;
    tvFace = Resized(tvFace, keep ? std::min(oldCount, numTVFaces) : 0, count, keep);
    numTVFaces = count;
    return TRUE;
}

void Mesh::setNormal(int index, const Point3& normal)
{
    if (index >= 0 && index < numVerts)
        vertexNormals[size_t(index)] = normal;
}

Point3& Mesh::getNormal(int index) const
{
    return vertexNormals[size_t(index)];
}

void Mesh::RemoveFacesWhere(bool (*remove)(const Mesh&, int face))
{
    const bool withTextureFaces = numTVFaces == numFaces;
    int kept = 0;
    for (int f = 0; f < numFaces; ++f) {
        if (remove(*this, f))
            continue;
        faces[size_t(kept)] = faces[size_t(f)];
        if (withTextureFaces)
            tvFace[size_t(kept)] = tvFace[size_t(f)];
        ++kept;
    }
    numFaces = kept;
    if (withTextureFaces)
        numTVFaces = kept;
    cornerNormals.reset();
}

BOOL Mesh::RemoveDegenerateFaces()
{
    const int before = numFaces;
    RemoveFacesWhere([](const Mesh& mesh, int f) {
        const DWORD* v = mesh.faces[size_t(f)].v;
        return v[0] == v[1] || v[1] == v[2] || v[0] == v[2];
    });
    return numFaces != before;
}

BOOL Mesh::RemoveIllegalFaces()
{
    const int before = numFaces;
    RemoveFacesWhere([](const Mesh& mesh, int f) {
        for (int k = 0; k < 3; ++k) {
            if (mesh.faces[size_t(f)].v[k] >= DWORD(mesh.numVerts))
                return true;
            if (mesh.numTVFaces == mesh.numFaces && mesh.tvFace[size_t(f)].t[k] >= DWORD(mesh.numTVerts))
                return true;
        }
        return false;
    });
    return numFaces != before;
}

// Normals per face corner: the area-weighted face normals around the corner's vertex, of the
// faces whose smoothing word shares a bit with the corner's face. A face without smoothing
// groups keeps its own normal. One pass over the corners, grouped by vertex.
void Mesh::buildNormals()
{
    const size_t faceCount = size_t(numFaces), vertexCount = size_t(numVerts);
    std::vector<Point3> faceNormals(faceCount, Point3(0, 0, 0));
    std::vector<int> firstCorner(vertexCount + 1, 0);
    for (size_t f = 0; f < faceCount; ++f) {
        const DWORD* v = faces[f].v;
        if (v[0] >= vertexCount || v[1] >= vertexCount || v[2] >= vertexCount)
            continue;
        faceNormals[f] = CrossProd(verts[v[1]] - verts[v[0]], verts[v[2]] - verts[v[1]]);
        for (int k = 0; k < 3; ++k)
            ++firstCorner[v[k] + 1];
    }
    for (size_t v = 0; v < vertexCount; ++v)
        firstCorner[v + 1] += firstCorner[v];

    std::vector<int> corners(static_cast<size_t>(firstCorner[vertexCount]));
    std::vector<int> filled(firstCorner.begin(), firstCorner.end() - 1);
    for (size_t f = 0; f < faceCount; ++f) {
        const DWORD* v = faces[f].v;
        if (v[0] >= vertexCount || v[1] >= vertexCount || v[2] >= vertexCount)
            continue;
        for (int k = 0; k < 3; ++k)
            corners[size_t(filled[v[k]]++)] = int(3 * f + size_t(k));
    }

    cornerNormals.reset(new Point3[3 * faceCount]);
    std::fill_n(cornerNormals.get(), 3 * faceCount, Point3(0, 0, 0));
    struct Group {
        DWORD word;
        Point3 sum;
    };
    std::vector<Group> groups;
    for (size_t v = 0; v < vertexCount; ++v) {
        groups.clear();
        Point3 all(0, 0, 0);
        for (int i = firstCorner[v]; i < firstCorner[v + 1]; ++i) {
            const size_t f = size_t(corners[size_t(i)]) / 3;
            const DWORD word = faces[f].smGroup;
            all += faceNormals[f];
            auto group = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.word == word; });
            if (group == groups.end())
                groups.push_back({word, faceNormals[f]});
            else
                group->sum += faceNormals[f];
        }
        for (int i = firstCorner[v]; i < firstCorner[v + 1]; ++i) {
            const size_t corner = size_t(corners[size_t(i)]), f = corner / 3;
            const DWORD word = faces[f].smGroup;
            Point3 normal = word ? Point3(0, 0, 0) : faceNormals[f];
            for (const Group& group : groups)
                if (group.word & word)
                    normal += group.sum;
            cornerNormals[corner] = normal.Normalize();
        }
        if (firstCorner[v + 1] > firstCorner[v])
            vertexNormals[v] = all.Normalize();
    }
}

void Mesh::buildBoundingBox()
{
    bdgBox.Init();
    for (int v = 0; v < numVerts; ++v)
        bdgBox += verts[size_t(v)];
}

void Mesh::InvalidateEdgeList()
{
    edgeListValid = false;
}

// ---- Weld

namespace {

// Open-addressing table from a grid cell to the first kept vertex in it; kept vertices in
// the same cell are chained through `next`.
class CellTable {
public:
    explicit CellTable(size_t expected)
    {
        size_t capacity = 16;
        while (capacity < 2 * expected)
            capacity *= 2;
        entries.assign(capacity, Entry{0, 0, 0, -1});
    }

    int& Head(int64_t x, int64_t y, int64_t z)
    {
        const size_t mask = entries.size() - 1;
        for (size_t slot = Hash(x, y, z) & mask;; slot = (slot + 1) & mask) {
            Entry& entry = entries[slot];
            if (entry.head < 0) {
                entry.x = x, entry.y = y, entry.z = z;
                return entry.head;
            }
            if (entry.x == x && entry.y == y && entry.z == z)
                return entry.head;
        }
    }

    int Find(int64_t x, int64_t y, int64_t z) const
    {
        const size_t mask = entries.size() - 1;
        for (size_t slot = Hash(x, y, z) & mask;; slot = (slot + 1) & mask) {
            const Entry& entry = entries[slot];
            if (entry.head < 0)
                return -1;
            if (entry.x == x && entry.y == y && entry.z == z)
                return entry.head;
        }
    }

private:
    struct Entry {
        int64_t x, y, z;
        int head; // -1: empty slot
    };

    static size_t Hash(int64_t x, int64_t y, int64_t z)
    {
        uint64_t h = uint64_t(x) * 0x9E3779B97F4A7C15ull ^ uint64_t(y) * 0xC2B2AE3D27D4EB4Full ^ uint64_t(z) * 0x165667B19E3779F9ull;
        return size_t(h ^ (h >> 29));
    }

    std::vector<Entry> entries;
};

} // namespace

MeshDelta::MeshDelta(const Mesh& mesh) : vertexCount(mesh.numVerts) {}

// Greedy in vertex order: a candidate joins the earliest kept candidate lying closer than the
// threshold, else it is kept itself. A merged vertex so takes the position of the lowest-
// numbered vertex of its group, and a chain of close vertices is not merged end to end: each
// joins a kept vertex within the threshold of itself. Cells are four thresholds wide: a
// vertex's neighbours lie within two cells along each axis, and within one half of the time,
// while a cell holds at most a few dozen kept vertices (they lie a threshold apart):
// expected linear time.
BOOL MeshDelta::WeldByThreshold(Mesh& mesh, BitArray& vertexSet, float threshold)
{
    const size_t count = size_t(std::min(vertexCount, mesh.numVerts));
    vertexMap.assign(count, 0);
    keptVertices.clear();
    welded = true;
    const bool usable = threshold > 0 && std::isfinite(threshold);
    const double cellSize = 4.0 * double(threshold), reach = double(threshold), reachSquared = reach * reach;
    constexpr double gridLimit = 1e15; // cell coordinates stay far inside int64

    CellTable cells(usable ? size_t(vertexSet.NumberSet()) : 0);
    std::vector<int> next(count, -1);
    bool merged = false;
    for (size_t v = 0; v < count; ++v) {
        const Point3& p = mesh.verts[v];
        const double position[3] = {p.x, p.y, p.z};
        bool candidate = usable && vertexSet[int(v)];
        for (double c : position)
            candidate = candidate && std::isfinite(c) && std::fabs(c / cellSize) < gridLimit;
        if (!candidate) {
            vertexMap[v] = DWORD(keptVertices.size());
            keptVertices.push_back(int(v));
            continue;
        }

        int64_t low[3], high[3];
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = int64_t(std::floor((position[axis] - reach) / cellSize));
            high[axis] = int64_t(std::floor((position[axis] + reach) / cellSize));
        }
        int match = -1;
        for (int64_t x = low[0]; x <= high[0]; ++x)
            for (int64_t y = low[1]; y <= high[1]; ++y)
                for (int64_t z = low[2]; z <= high[2]; ++z)
                    for (int kept = cells.Find(x, y, z); kept >= 0; kept = next[size_t(kept)]) {
                        const Point3& q = mesh.verts[size_t(kept)];
                        const double dx = double(q.x) - position[0], dy = double(q.y) - position[1], dz = double(q.z) - position[2];
                        if (dx * dx + dy * dy + dz * dz < reachSquared && (match < 0 || kept < match))
                            match = kept;
                    }
        if (match >= 0) {
            vertexMap[v] = vertexMap[size_t(match)];
            merged = true;
            continue;
        }
        vertexMap[v] = DWORD(keptVertices.size());
        keptVertices.push_back(int(v));
        int& head = cells.Head(int64_t(std::floor(position[0] / cellSize)), int64_t(std::floor(position[1] / cellSize)),
                               int64_t(std::floor(position[2] / cellSize)));
        next[v] = head;
        head = int(v);
    }
    return merged ? TRUE : FALSE;
}

// Keeps one vertex per group and renumbers the faces. A face corner that pointed past the
// vertices still does, so the host's clean-up sees it as illegal.
void MeshDelta::Apply(Mesh& mesh)
{
    if (!welded || mesh.numVerts != int(vertexMap.size()))
        return;
    const size_t keptCount = keptVertices.size();
    std::unique_ptr<Point3[]> verts(new Point3[keptCount]);
    std::unique_ptr<Point3[]> normals(new Point3[keptCount]);
    for (size_t k = 0; k < keptCount; ++k) {
        verts[k] = mesh.verts[size_t(keptVertices[k])];
        normals[k] = mesh.vertexNormals[size_t(keptVertices[k])];
    }
    const DWORD oldCount = DWORD(mesh.numVerts);
    for (int f = 0; f < mesh.numFaces; ++f)
        for (DWORD& corner : mesh.faces[size_t(f)].v)
            corner = corner < oldCount ? vertexMap[corner] : corner - oldCount + DWORD(keptCount);
    mesh.verts = std::move(verts);
    mesh.vertexNormals = std::move(normals);
    mesh.numVerts = int(keptCount);
    mesh.cornerNormals.reset();
    mesh.edgeListValid = false;
    welded = false;
}

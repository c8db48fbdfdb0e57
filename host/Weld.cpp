// The stand-in host's vertex weld (MeshDelta::WeldByThreshold and Apply), with the grid of
// cells it finds neighbours through. It imitates the host application's weld: the converter
// welds its meshes here, so a change to its results changes what the converter shows
// relative to the host.
#include "HostApi.h"
#include "MeshState.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

// A weld's outcome, kept beside its MeshDelta until applied.
struct WeldState {
    std::vector<DWORD> vertexMap;  // old vertex -> new vertex
    std::vector<int> keptVertices; // new vertex -> the old vertex whose place it takes
    bool welded = false;
};

standin::SideRecords<MeshDelta, WeldState>& Deltas()
{
    static auto* const deltas = new standin::SideRecords<MeshDelta, WeldState>; // may outlive main's end
    return *deltas;
}

struct Cell {
    int64_t x, y, z;
};

// 32 bits of a cell's hash: the cell table's key.
uint32_t KeyOf(const Cell& c)
{
    uint64_t h = uint64_t(c.x) * 0x9E3779B97F4A7C15ull ^ uint64_t(c.y) * 0xC2B2AE3D27D4EB4Full ^
                 uint64_t(c.z) * 0x165667B19E3779F9ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return uint32_t(h >> 32);
}

// What the weld keeps of a kept vertex: its position and the next older kept vertex in its
// chain.
struct KeptVertex {
    float x, y, z;
    int next; // -1: the oldest in its chain
};

// Open addressing from a grid cell's key to the newest kept vertex with that key, whose record
// chains the others. Cells whose keys collide share a chain; that is harmless, since a probe
// checks the distance of every vertex it walks.
//
// The table starts at a quarter of the candidates' count (as if most merged), doubles when half
// full, and keeps its memory for the next weld. Most cells a weld probes are empty, so a filter
// of eight bits per candidate, indexed by a key's low bits, answers for them without a visit to
// the slots.
class CellTable {
public:
    // Empties the table for a weld of `count` vertices, `candidates` of them in cells.
    void Reset(size_t count, size_t candidates)
    {
        size_t capacity = 16;
        while (capacity < candidates / 2)
            capacity *= 2;
        slots.assign(capacity, Slot{0, -1});
        mask = capacity - 1;
        used = 0;
        size_t filterBits = 64;
        while (filterBits < 8 * candidates)
            filterBits *= 2;
        filter.assign(filterBits / 64, 0);
        filterMask = filterBits - 1;
        if (keptCapacity < count) {
            kept.reset(new KeptVertex[count]); // written as vertices are kept; only those are read
            keys.reset(new uint32_t[count]);
            keptCapacity = count;
        }
    }

    // The newest kept vertex in the chain of the key, or -1.
    int Find(uint32_t key) const
    {
        const size_t bit = key & filterMask;
        return filter[bit / 64] >> (bit % 64) & 1 ? slots[SlotOf(key)].head : -1;
    }

    const KeptVertex& operator[](int number) const { return kept[size_t(number)]; }

    // Adds the vertex kept with new number `number` (the next, or one past a vertex kept
    // without a cell) to the chain of its cell's key.
    void Add(int number, uint32_t key, const Point3& p)
    {
        size_t slot = SlotOf(key);
        if (slots[slot].head < 0) {
            if (2 * (used + 1) > slots.size()) {
                Grow();
                slot = SlotOf(key);
            }
            ++used;
        }
        kept[size_t(number)] = {p.x, p.y, p.z, slots[slot].head};
        keys[size_t(number)] = key;
        slots[slot] = {key, number};
        const size_t bit = key & filterMask;
        filter[bit / 64] |= uint64_t(1) << (bit % 64);
    }

private:
    struct Slot {
        uint32_t key;
        int head; // -1: empty
    };

    // The key's slot, or the empty slot where it would go.
    size_t SlotOf(uint32_t key) const
    {
        for (size_t slot = key & mask;; slot = (slot + 1) & mask)
            if (slots[slot].head < 0 || slots[slot].key == key)
                return slot;
    }

    // Twice the slots, each chain moved whole.
    void Grow()
    {
        std::vector<Slot> old(2 * slots.size(), Slot{0, -1});
        old.swap(slots);
        mask = slots.size() - 1;
        for (const Slot& s : old)
            if (s.head >= 0)
                slots[SlotOf(keys[size_t(s.head)])] = s;
    }

    std::vector<Slot> slots;
    size_t mask = 0;
    size_t used = 0;              // slots holding a chain
    std::vector<uint64_t> filter; // bit (key & filterMask): some chain may have the key
    size_t filterMask = 0;
    // By new number; only those of kept candidates are read.
    std::unique_ptr<KeptVertex[]> kept;
    std::unique_ptr<uint32_t[]> keys;
    size_t keptCapacity = 0;
};

CellTable& TheCellTable()
{
    static auto* const table = new CellTable; // may outlive main's end
    return *table;
}

// floor(t) for |t| < 2^62, without a library call.
int64_t Floor(double t)
{
    const int64_t i = int64_t(t);
    return double(i) > t ? i - 1 : i;
}

} // namespace

MeshDelta::MeshDelta(const Mesh& mesh)
    : vnum(DWORD(std::max(mesh.numVerts, 0))), fnum(DWORD(std::max(mesh.numFaces, 0)))
{
}

MeshDelta::~MeshDelta()
{
    Deltas().Forget(*this);
}

// Greedy in vertex order: a candidate joins the earliest kept candidate closer than the
// threshold, or else is kept itself. So a merged vertex takes the position of the lowest-
// numbered vertex of its group, and a chain of close vertices is not merged end to end: each
// joins a kept vertex within the threshold of itself.
//
// Cells are four thresholds wide, so a vertex's neighbours lie within two cells along each axis
// (within one, half of the time), and a cell holds at most a few dozen kept vertices, since
// those lie a threshold apart. The expected time is linear.
BOOL MeshDelta::WeldByThreshold(Mesh& mesh, BitArray& vertexSet, float threshold)
{
    WeldState& state = Deltas().Of(*this);
    const size_t count = std::min(size_t(vnum), size_t(std::max(mesh.numVerts, 0)));
    state.vertexMap.assign(count, 0);
    state.keptVertices.clear();
    state.welded = true;
    const bool usable = threshold > 0 && std::isfinite(threshold);
    const double cellsPerUnit = 1.0 / (4.0 * double(threshold)), reach = double(threshold),
                 reachSquared = reach * reach;
    constexpr double gridLimit = 1e15; // cell coordinates stay far inside int64

    CellTable& cells = TheCellTable();
    cells.Reset(count, usable ? size_t(vertexSet.NumberSet()) : 0);
    const Point3* verts = mesh.verts;
    bool merged = false;
    for (size_t v = 0; v < count; ++v) {
        const Point3& p = verts[v];
        const int kept = int(state.keptVertices.size());
        const double position[3] = {p.x, p.y, p.z};
        double scaled[3];
        bool candidate = usable && vertexSet[int(v)];
        for (int axis = 0; axis < 3; ++axis) {
            scaled[axis] = position[axis] * cellsPerUnit;
            candidate = candidate && std::fabs(scaled[axis]) < gridLimit; // false for NaN and infinity
        }
        if (!candidate) {
            state.vertexMap[v] = DWORD(kept);
            state.keptVertices.push_back(int(v));
            continue;
        }

        // A kept vertex at the very same position is the one to join: any earlier kept vertex
        // within reach of this one was within reach of it too, and it would have joined that.
        // Most merges are such exact seams, found in the vertex's own cell alone.
        const Cell own{Floor(scaled[0]), Floor(scaled[1]), Floor(scaled[2])};
        const uint32_t ownKey = KeyOf(own);
        int match = -1;
        bool exact = false;
        const auto consider = [&](int k) {
            const KeptVertex& q = cells[k];
            const double dx = double(q.x) - position[0], dy = double(q.y) - position[1], dz = double(q.z) - position[2];
            if (dx * dx + dy * dy + dz * dz < reachSquared && (match < 0 || k < match))
                match = k;
        };
        for (int k = cells.Find(ownKey); k >= 0 && !exact; k = cells[k].next) {
            const KeptVertex& q = cells[k];
            exact = q.x == p.x && q.y == p.y && q.z == p.z;
            if (exact)
                match = k;
            else
                consider(k);
        }

        // Otherwise, the earliest kept vertex in the cells of the box the threshold reaches around
        // the vertex: one or two along each axis. Computed as a kept vertex's own cell is, and
        // rounding keeps order, so the cell of a kept vertex within reach always lies between them.
        if (!exact) {
            const Cell low{Floor((position[0] - reach) * cellsPerUnit), Floor((position[1] - reach) * cellsPerUnit),
                           Floor((position[2] - reach) * cellsPerUnit)};
            const Cell high{Floor((position[0] + reach) * cellsPerUnit), Floor((position[1] + reach) * cellsPerUnit),
                            Floor((position[2] + reach) * cellsPerUnit)};
            Cell probe;
            for (probe.x = low.x; probe.x <= high.x; ++probe.x)
                for (probe.y = low.y; probe.y <= high.y; ++probe.y)
                    for (probe.z = low.z; probe.z <= high.z; ++probe.z)
                        if (probe.x != own.x || probe.y != own.y || probe.z != own.z)
                            for (int k = cells.Find(KeyOf(probe)); k >= 0; k = cells[k].next)
                                consider(k);
        }
        if (match >= 0) {
            state.vertexMap[v] = DWORD(match);
            merged = true;
            continue;
        }
        state.vertexMap[v] = DWORD(kept);
        state.keptVertices.push_back(int(v));
        cells.Add(kept, ownKey, p);
    }
    return merged ? TRUE : FALSE;
}

// Keeps one vertex per group and renumbers the faces. A face corner that pointed past the
// vertices still does, so the host's clean-up sees it as illegal.
void MeshDelta::Apply(Mesh& mesh)
{
    WeldState& state = Deltas().Of(*this);
    if (!state.welded || mesh.numVerts != int(state.vertexMap.size()))
        return;
    standin::MeshState& meshState = standin::StateOf(mesh);
    const std::vector<int>& keptVertices = state.keptVertices;
    const size_t keptCount = keptVertices.size();
    std::unique_ptr<Point3[]> verts(new Point3[keptCount]);
    std::unique_ptr<Point3[]> normals(new Point3[keptCount]);
    for (size_t k = 0; k < keptCount; ++k) {
        verts[k] = mesh.verts[size_t(keptVertices[k])];
        normals[k] = meshState.vertexNormals[size_t(keptVertices[k])];
    }
    const DWORD oldCount = DWORD(mesh.numVerts);
    for (int f = 0; f < mesh.numFaces; ++f)
        for (DWORD& corner : mesh.faces[size_t(f)].v)
            corner = corner < oldCount ? state.vertexMap[corner] : corner - oldCount + DWORD(keptCount);
    delete[] mesh.verts;
    mesh.verts = verts.release();
    meshState.vertexNormals = std::move(normals);
    mesh.numVerts = int(keptCount);
    meshState.cornerNormals.reset();
    meshState.normalsBuilt = false;
    meshState.edgeListValid = false;
    state.welded = false;
}

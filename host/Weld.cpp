// The stand-in host's vertex weld (MeshDelta::WeldByThreshold and Apply), with the grid of
// cells it finds neighbours through. It imitates the host application's weld: the converter
// welds its meshes here, so a change to its results changes what the converter shows
// relative to the host.
#include "HostApi.h"
#include "MeshState.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A weld's outcome, kept beside its MeshDelta until applied.
struct WeldState {
    std::unique_ptr<DWORD[]> vertexMap; // old vertex -> new vertex, `count` of them
    size_t count = 0;
    std::vector<int> keptVertices; // new vertex -> the old vertex whose place it takes
    bool welded = false;
};

standin::SideRecords<MeshDelta, WeldState>& Deltas()
{
    static auto* const deltas = new standin::SideRecords<MeshDelta, WeldState>; // may outlive main's end
    return *deltas;
}

uint64_t Mix(uint64_t h)
{
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 32);
}

// A cell coordinate's share of its cell's key, one multiplier per axis: a vertex's probes
// combine the shares of its two cells along each axis instead of hashing eight cells whole.
const uint64_t axisFactors[3] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull};

// 32 bits of a cell's key from its axes' shares.
uint32_t CellKey(uint64_t xShare, uint64_t yShare, uint64_t zShare)
{
    return uint32_t(Mix(xShare ^ yShare ^ zShare));
}

// What the weld keeps of a kept vertex: its position and the next older kept vertex in its
// cell's chain.
struct KeptVertex {
    float x, y, z;
    int next; // -1: the oldest in its chain
};

// The kept vertices of one weld, found by their position's bits or by their grid cell's key,
// which heads a chain of the cell's kept vertices. Slots are twice the candidates. Colliding
// cells share a chain harmlessly, since a probe checks every distance. A filter of sixteen
// bits a candidate answers for empty cells without a visit to the slots.
class KeptTable {
public:
    // Empties the table for a weld of `count` vertices, `candidates` of them in cells.
    void Reset(size_t count, size_t candidates)
    {
        size_t capacity = 16;
        while (capacity < 2 * candidates)
            capacity *= 2;
        cells.assign(capacity, Slot{0, -1});
        positions.assign(capacity, Slot{0, -1});
        mask = capacity - 1;
        size_t filterBits = 64;
        while (filterBits < 16 * candidates)
            filterBits *= 2;
        filter.assign(filterBits / 64, 0);
        filterMask = filterBits - 1;
        if (keptCapacity < count) {
            kept.reset(new KeptVertex[count]); // written as vertices are kept; only those are read
            keptCapacity = count;
        }
    }

    // Asks for the slot of a position hash ahead of its lookup.
    void PrefetchPosition(uint32_t hash) const { __builtin_prefetch(&positions[hash & mask]); }

    // Asks for the first slot of a cell key ahead of its use.
    void PrefetchCell(uint32_t key) const { __builtin_prefetch(&cells[key & mask]); }

    // The kept vertex at exactly these position bits, or -1.
    int FindPosition(uint32_t hash, const uint32_t bits[3]) const
    {
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const Slot& s = positions[slot];
            if (s.head < 0)
                return -1;
            if (s.key == hash && SameBits(kept[size_t(s.head)], bits))
                return s.head;
        }
    }

    // The newest kept vertex in the chain of the key, or -1.
    int FindCell(uint32_t key) const
    {
        const size_t bit = key & filterMask;
        return filter[bit / 64] >> (bit % 64) & 1 ? cells[CellSlotOf(key)].head : -1;
    }

    const KeptVertex& operator[](int number) const { return kept[size_t(number)]; }

    // Adds the vertex kept with new number `number` (the next, or one past a vertex kept
    // without a cell), with the hash of its position bits and its cell's key. The slots are
    // never more than half full: each candidate fills one at most.
    void Add(int number, uint32_t hash, uint32_t key, const Point3& p)
    {
        size_t slot = CellSlotOf(key);
        kept[size_t(number)] = {p.x, p.y, p.z, cells[slot].head};
        cells[slot] = {key, number};
        const size_t bit = key & filterMask;
        filter[bit / 64] |= uint64_t(1) << (bit % 64);
        for (slot = hash & mask; positions[slot].head >= 0;)
            slot = (slot + 1) & mask;
        positions[slot] = {hash, number};
    }

private:
    struct Slot {
        uint32_t key; // a cell's key, or a position's hash
        int head;     // -1: empty
    };

    static bool SameBits(const KeptVertex& q, const uint32_t bits[3])
    {
        uint32_t own[3];
        std::memcpy(own, &q.x, sizeof own);
        return own[0] == bits[0] && own[1] == bits[1] && own[2] == bits[2];
    }

    // The key's cell slot, or the empty slot where it would go.
    size_t CellSlotOf(uint32_t key) const
    {
        for (size_t slot = key & mask;; slot = (slot + 1) & mask)
            if (cells[slot].head < 0 || cells[slot].key == key)
                return slot;
    }

    std::vector<Slot> cells;     // by cell key: the newest kept vertex of its chain
    std::vector<Slot> positions; // by position hash: a kept vertex
    size_t mask = 0;
    std::vector<uint64_t> filter; // bit (key & filterMask): some chain may have the key
    size_t filterMask = 0;
    // By new number; only those of kept candidates are read.
    std::unique_ptr<KeptVertex[]> kept;
    size_t keptCapacity = 0;
};

KeptTable& TheKeptTable()
{
    static auto* const table = new KeptTable; // may outlive main's end
    return *table;
}

// 32 bits of a position's hash, from its bits.
uint32_t PositionHash(const uint32_t bits[3])
{
    return uint32_t(Mix((uint64_t(bits[0]) << 32 | bits[1]) * 0x9E3779B97F4A7C15ull ^ bits[2]));
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
    state.vertexMap.reset(new DWORD[count]); // each written below
    state.count = count;
    state.keptVertices.clear();
    state.keptVertices.reserve(count);
    state.welded = true;
    const bool usable = threshold > 0 && std::isfinite(threshold);
    const double cellsPerUnit = 1.0 / (4.0 * double(threshold)), reach = double(threshold),
                 reachSquared = reach * reach;
    constexpr double gridLimit = 1e15; // cell coordinates stay far inside int64

    KeptTable& table = TheKeptTable();
    table.Reset(count, usable ? size_t(vertexSet.NumberSet()) : 0);
    const Point3* verts = mesh.verts;
    DWORD* const vertexMap = state.vertexMap.get();
    bool merged = false;
    constexpr size_t ahead = 8; // the slot a lookup needs is asked for this many vertices before
    for (size_t v = 0; v < count; ++v) {
        const Point3& p = verts[v];
        const int kept = int(state.keptVertices.size());
        if (v + ahead < count) {
            uint32_t next[3];
            std::memcpy(next, &verts[v + ahead].x, sizeof next);
            table.PrefetchPosition(PositionHash(next));
        }
        if (!usable || !vertexSet[int(v)]) {
            vertexMap[v] = DWORD(kept);
            state.keptVertices.push_back(int(v));
            continue;
        }

        // A kept vertex at the very same position is the one to join: any earlier kept vertex
        // within reach of this one was within reach of it too, and it would have joined that.
        // Most merges are such exact seams. A kept vertex was a candidate, so this one is too.
        uint32_t bits[3];
        std::memcpy(bits, &p.x, sizeof bits);
        const uint32_t hash = PositionHash(bits);
        const int same = table.FindPosition(hash, bits);
        if (same >= 0) {
            vertexMap[v] = DWORD(same);
            merged = true;
            continue;
        }

        const double position[3] = {p.x, p.y, p.z};
        bool candidate = true;
        int64_t own[3], low[3], high[3];
        for (int axis = 0; axis < 3; ++axis) {
            const double scaled = position[axis] * cellsPerUnit;
            candidate = candidate && std::fabs(scaled) < gridLimit; // false for NaN and infinity
            if (!candidate)
                break;
            // The box the threshold reaches around the vertex: one or two cells along each
            // axis. Computed as a kept vertex's own cell is, and rounding keeps order, so the
            // cell of a kept vertex within reach always lies between them.
            own[axis] = Floor(scaled);
            low[axis] = Floor((position[axis] - reach) * cellsPerUnit);
            high[axis] = Floor((position[axis] + reach) * cellsPerUnit);
        }
        if (!candidate) {
            vertexMap[v] = DWORD(kept);
            state.keptVertices.push_back(int(v));
            continue;
        }

        // The vertex is kept into its own cell unless the box holds a match, which is rare.
        const uint32_t ownKey = CellKey(uint64_t(own[0]) * axisFactors[0], uint64_t(own[1]) * axisFactors[1],
                                        uint64_t(own[2]) * axisFactors[2]);
        table.PrefetchCell(ownKey);

        // The earliest kept vertex in the box.
        int match = -1;
        for (int64_t x = low[0]; x <= high[0]; ++x) {
            const uint64_t xShare = uint64_t(x) * axisFactors[0];
            for (int64_t y = low[1]; y <= high[1]; ++y) {
                const uint64_t xyShare = xShare ^ uint64_t(y) * axisFactors[1];
                for (int64_t z = low[2]; z <= high[2]; ++z)
                    for (int q = table.FindCell(CellKey(xyShare, uint64_t(z) * axisFactors[2], 0)); q >= 0;
                         q = table[q].next) {
                        const KeptVertex& other = table[q];
                        const double dx = double(other.x) - position[0], dy = double(other.y) - position[1],
                                     dz = double(other.z) - position[2];
                        if (dx * dx + dy * dy + dz * dz < reachSquared && (match < 0 || q < match))
                            match = q;
                    }
            }
        }
        if (match >= 0) {
            vertexMap[v] = DWORD(match);
            merged = true;
            continue;
        }
        vertexMap[v] = DWORD(kept);
        state.keptVertices.push_back(int(v));
        table.Add(kept, hash, ownKey, p);
    }
    return merged ? TRUE : FALSE;
}

// Keeps one vertex per group and renumbers the faces. A face corner that pointed past the
// vertices still does, so the host's clean-up sees it as illegal.
void MeshDelta::Apply(Mesh& mesh)
{
    WeldState& state = Deltas().Of(*this);
    if (!state.welded || mesh.numVerts != int(state.count))
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

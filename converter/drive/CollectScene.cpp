#include "CollectScene.h"

#include "BrennicModel.h"
#include "PathLookup.h"
#include "PluginDriver.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>

namespace {

// The host is Z up, glTF Y up: a rotation about x, so handedness and winding stay.
void ToYUp(const Point3& p, float out[3])
{
    out[0] = p.x;
    out[1] = p.z;
    out[2] = -p.y;
}

// A vertex's value as 32 bytes, the table's key: position, normal, texture coordinate.
static_assert(sizeof(ExportVertex) == 32, "an output vertex is eight floats without padding");

uint64_t PairBits(float low, float high)
{
    uint32_t bits[2];
    std::memcpy(&bits[0], &low, sizeof low);
    std::memcpy(&bits[1], &high, sizeof high);
    return uint64_t(bits[1]) << 32 | bits[0];
}

// Taken float by float rather than as the stored bytes: the vertex has just been written
// four bytes at a time, and wider reads of it would wait for those writes to land.
uint32_t Hash(const ExportVertex& v)
{
    uint64_t hash =
        PairBits(v.position[0], v.position[1]) * 0x9E3779B97F4A7C15ull ^ PairBits(v.position[2], v.normal[0]);
    hash = (hash ^ (hash >> 31)) * 0xBF58476D1CE4E5B9ull ^ PairBits(v.normal[1], v.normal[2]);
    hash = (hash ^ (hash >> 29)) * 0x94D049BB133111EBull ^ PairBits(v.texCoord[0], v.texCoord[1]);
    hash = (hash ^ (hash >> 32)) * 0x9E3779B97F4A7C15ull;
    return uint32_t(hash >> 32);
}

// The output vertices by value: open addressing, at most half full, each slot with its
// vertex's hash so that a probe reads a vertex only when the hashes agree.
class VertexTable {
public:
    static constexpr uint32_t none = UINT32_MAX;

    // Room for `expected` vertices before the first growth.
    explicit VertexTable(size_t expected)
    {
        size_t capacity = 16;
        while (capacity < 2 * expected)
            capacity *= 2;
        slots.assign(capacity, Slot{0, none});
    }

    // Asks for a hash's first slot ahead of its lookup.
    void Prefetch(uint32_t hash) const { __builtin_prefetch(&slots[hash & (slots.size() - 1)]); }

    // The output vertex of this value; when there is none yet, `made` is added as its vertex
    // (it comes next in `vertices`). `comparisons` counts the vertices read.
    uint32_t FindOrAdd(const ExportVertex& v, uint32_t hash, uint32_t made, const std::vector<ExportVertex>& vertices,
                       size_t& comparisons)
    {
        if (2 * (count + 1) > slots.size())
            Grow();
        for (size_t slot = hash & (slots.size() - 1);; slot = (slot + 1) & (slots.size() - 1)) {
            Slot& s = slots[slot];
            if (s.made == none) {
                s = {hash, made};
                ++count;
                return made;
            }
            if (s.hash == hash) {
                ++comparisons;
                if (std::memcmp(&vertices[s.made], &v, sizeof v) == 0)
                    return s.made;
            }
        }
    }

private:
    struct Slot {
        uint32_t hash;
        uint32_t made; // none: empty
    };

    // Twice the slots, each vertex placed again.
    void Grow()
    {
        std::vector<Slot> old(2 * slots.size(), Slot{0, none});
        old.swap(slots);
        for (const Slot& s : old)
            if (s.made != none) {
                size_t slot = s.hash & (slots.size() - 1);
                while (slots[slot].made != none)
                    slot = (slot + 1) & (slots.size() - 1);
                slots[slot] = s;
            }
    }

    std::vector<Slot> slots;
    size_t count = 0;
};

// One output vertex per distinct value a corner has (position, normal and texture coordinate,
// bit for bit), numbered in the order corners first use them. Corners that the file keeps under
// different vertices but with equal values become one vertex, as other converters make them.
// With game normals a corner takes its file vertex's normal: authored hard edges stay apart.
//
// Corners of one anchor (texture vertex, else vertex) nearly always share a value, so each
// first tries the output vertex its anchor's last corner went to. When the vertex matches and
// the normal follows from it, the value is equal unread; otherwise it is compared.
//
// Only a differing value is looked up in the table, so the table sees about one corner an
// anchor and starts with room for one vertex an anchor. Values bound for the table are read a
// few corners ahead, so that their slot is in cache by then.
void CollectMesh(const Mesh& mesh, const standin::CornerNormals& cornerNormals, const std::vector<Point3>* gameNormals,
                 ExportMesh& out, CollectWork& work)
{
    constexpr uint32_t none = VertexTable::none;
    constexpr uint32_t claimed = none - 1; // a corner read ahead will set the anchor's last vertex
    const bool textured = mesh.numTVFaces == mesh.numFaces && mesh.numTVerts > 0;
    const bool normalByKey = gameNormals || cornerNormals.ByVertex();
    const size_t corners = 3 * size_t(mesh.numFaces);
    const size_t anchors = size_t(textured ? mesh.numTVerts : mesh.numVerts);
    const size_t expected = std::min(anchors, corners);
    std::vector<uint32_t> lastMade(anchors, none), lastVertex(anchors);
    out.vertices.reserve(expected);
    out.indices.reserve(corners);
    VertexTable table(expected);
    size_t comparisons = 0;

    const auto anchorOf = [&](size_t corner) {
        return textured ? mesh.tvFace[corner / 3].t[corner % 3] : mesh.faces[corner / 3].v[corner % 3];
    };
    // True when the corner's value is that of its anchor's last corner, unread.
    const auto sameAsLast = [&](size_t corner, DWORD anchor) {
        return normalByKey && lastMade[anchor] < claimed && lastVertex[anchor] == mesh.faces[corner / 3].v[corner % 3];
    };

    struct Pending {
        ExportVertex value;
        uint32_t hash;
        bool read; // `value` and `hash` hold the corner's
    };
    size_t normalFace = SIZE_MAX; // the face whose normal `faceNormal` is
    Point3 faceNormal(0, 0, 0);
    const auto read = [&](size_t corner, Pending& p) {
        const size_t f = corner / 3;
        const int k = int(corner % 3);
        const Face& face = mesh.faces[f];
        const DWORD texVertex = textured ? mesh.tvFace[f].t[k] : 0;
        if (!gameNormals && !cornerNormals.Built() && normalFace != f) {
            faceNormal =
                CrossProd(mesh.verts[face.v[1]] - mesh.verts[face.v[0]], mesh.verts[face.v[2]] - mesh.verts[face.v[1]])
                    .Normalize();
            normalFace = f;
        }
        ExportVertex& v = p.value;
        v = ExportVertex{};
        ToYUp(mesh.verts[face.v[k]], v.position);
        ToYUp(gameNormals             ? (*gameNormals)[texVertex]
              : cornerNormals.Built() ? cornerNormals(f, k)
                                      : faceNormal,
              v.normal);
        if (textured) {
            v.texCoord[0] = mesh.tVerts[texVertex].x;
            v.texCoord[1] = 1.0f - mesh.tVerts[texVertex].y; // the host's origin is bottom left
        }
        p.hash = Hash(v);
        p.read = true;
        table.Prefetch(p.hash);
    };

    constexpr size_t ahead = 16;
    Pending pending[ahead];
    // Reads a corner ahead unless an earlier corner of its anchor, read ahead too, will
    // likely make its vertex: the anchor's first corner claims it.
    const auto lookAhead = [&](size_t corner) {
        Pending& p = pending[corner % ahead];
        p.read = false;
        if (corner >= corners)
            return;
        const DWORD anchor = anchorOf(corner);
        if (lastMade[anchor] == claimed || sameAsLast(corner, anchor))
            return;
        if (lastMade[anchor] == none)
            lastMade[anchor] = claimed;
        read(corner, p);
    };
    for (size_t corner = 0; corner < ahead; ++corner)
        lookAhead(corner);
    for (size_t corner = 0; corner < corners; ++corner) {
        Pending& p = pending[corner % ahead];
        const DWORD anchor = anchorOf(corner);
        uint32_t made = lastMade[anchor] == claimed ? none : lastMade[anchor];
        if (!sameAsLast(corner, anchor)) {
            if (!p.read)
                read(corner, p);
            if (made != none) {
                ++comparisons;
                if (std::memcmp(&out.vertices[made], &p.value, sizeof p.value) != 0)
                    made = none;
            }
            if (made == none) {
                const auto next = uint32_t(out.vertices.size());
                made = table.FindOrAdd(p.value, p.hash, next, out.vertices, comparisons);
                if (made == next)
                    out.vertices.push_back(p.value);
            }
            lastMade[anchor] = made;
            lastVertex[anchor] = mesh.faces[corner / 3].v[corner % 3];
        }
        out.indices.push_back(made);
        lookAhead(corner + ahead);
    }
    out.facts = VertexFacts::Of(out.vertices);
    work.corners += corners;
    work.comparisons += comparisons;
}

// Below this many corners seen, meshes are collected on the scene's thread as they come: a
// second thread costs more than it saves.
constexpr size_t sharedCorners = 1 << 14;

const char normalsMisfitProblem[] = "the game's normals do not fit the meshes the import made";

} // namespace

struct SceneCollector::Task {
    standin::Node* node;
    const Mesh* mesh;
    standin::CornerNormals normals; // taken on the scene's thread: the stand-in's lookup is not shared
    const std::vector<Point3>* gameNormals;
    ExportMesh* out;
    size_t index; // in the scene's order
};

SceneCollector::SceneCollector(const GameNormals* normals, bool release, MeshStream* taker)
    : gameNormals(normals), releaseCollected(release), stream(taker)
{
}

SceneCollector::~SceneCollector()
{
    {
        const std::lock_guard<std::mutex> hold(lock);
        finishing = true;
        waiting.clear();
    }
    wake.notify_all();
    if (worker.joinable())
        worker.join();
}

void SceneCollector::Add(standin::Node& node) noexcept
{
    try {
        ReleaseCollected();
        const TriObject* object = node.GetTriObject();
        if (!object)
            return;
        const Mesh& mesh = object->mesh;
        const std::vector<Point3>* meshNormals = nullptr;
        if (gameNormals) {
            // The plug-in makes a node for every mesh; one it left out would shift the rest.
            const size_t index = nodesWithMeshes;
            if (index >= gameNormals->size() || mesh.numTVFaces != mesh.numFaces ||
                size_t(mesh.numTVerts) != (*gameNormals)[index].size())
                normalsMisfit = true;
            else
                meshNormals = &(*gameNormals)[index];
        }
        ++nodesWithMeshes;
        ExportMesh& out = meshes.emplace_back();
        {
            const std::lock_guard<std::mutex> hold(lock);
            order.push_back({&out, false});
        }
        out.name = node.GetName();
        if (Mtl* material = node.GetMtl()) {
            ExportMaterial exported;
            exported.name = material->GetName().data();
            if (auto* bitmap = dynamic_cast<BitmapTex*>(material->GetSubTexmap(ID_DI))) {
                const std::string path = ToDisplayPath(bitmap->GetMapName());
                const auto [found, added] = textureByPath.try_emplace(path, int(scene.textures.size()));
                if (added)
                    scene.textures.push_back(LookUpTexture(path));
                exported.texture = found->second;
            }
            out.material = int(scene.materials.size());
            scene.materials.push_back(exported);
        }
        if (normalsMisfit)
            return; // Finish fails the collection
        Task task{&node, &mesh, standin::CornerNormals(mesh), meshNormals, &out, order.size() - 1};
        cornersSeen += 3 * size_t(mesh.numFaces);
        if (!worker.joinable() && cornersSeen < sharedCorners) {
            Collect(task);
            ReleaseCollected();
            return;
        }
        {
            const std::lock_guard<std::mutex> hold(lock);
            waiting.push_back(task);
        }
        if (worker.joinable()) {
            wake.notify_one();
            return;
        }
        try {
            worker = std::thread([this] { Drain(true); });
        } catch (const std::system_error&) {
            Drain(false); // no second thread: this one collects as it goes
        }
    } catch (...) {
        const std::lock_guard<std::mutex> hold(lock);
        if (!failure)
            failure = std::current_exception();
    }
}

void SceneCollector::Collect(Task& task)
{
    CollectWork done;
    try {
        CollectMesh(*task.mesh, task.normals, task.gameNormals, *task.out, done);
    } catch (...) {
        const std::lock_guard<std::mutex> hold(lock);
        if (!failure)
            failure = std::current_exception();
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(lock);
        work.corners += done.corners;
        work.comparisons += done.comparisons;
        collected.push_back(task.node);
        order[task.index].complete = true;
    }
    Deliver();
}

void SceneCollector::Deliver()
{
    if (!stream)
        return;
    const std::lock_guard<std::mutex> one(delivering);
    for (;;) {
        const ExportMesh* mesh = nullptr;
        {
            const std::lock_guard<std::mutex> hold(lock);
            if (failure || delivered == order.size() || !order[delivered].complete)
                return;
            mesh = order[delivered++].mesh;
        }
        try {
            stream->Take(*mesh);
        } catch (...) {
            const std::lock_guard<std::mutex> hold(lock);
            if (!failure)
                failure = std::current_exception();
            return;
        }
    }
}

void SceneCollector::Drain(bool waitForMore)
{
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
        if (waitForMore)
            wake.wait(hold, [this] { return !waiting.empty() || finishing; });
        if (waiting.empty() || failure)
            return;
        Task task = waiting.front();
        waiting.pop_front();
        hold.unlock();
        Collect(task);
        hold.lock();
    }
}

void SceneCollector::ReleaseCollected()
{
    std::vector<standin::Node*> released;
    {
        const std::lock_guard<std::mutex> hold(lock);
        released.swap(collected);
    }
    if (releaseCollected)
        for (standin::Node* node : released)
            node->ReleaseObject();
}

ExportScene SceneCollector::Finish(CollectWork* counted)
{
    {
        const std::lock_guard<std::mutex> hold(lock);
        finishing = true;
    }
    wake.notify_all();
    Drain(false); // this thread helps with the rest
    if (worker.joinable())
        worker.join();
    Deliver(); // what the other thread completed last
    ReleaseCollected();
    if (failure)
        std::rethrow_exception(failure);
    if (normalsMisfit || (gameNormals && nodesWithMeshes != gameNormals->size()))
        throw std::runtime_error(normalsMisfitProblem);
    if (counted) {
        counted->corners += work.corners;
        counted->comparisons += work.comparisons;
    }
    scene.meshes.assign(std::make_move_iterator(meshes.begin()), std::make_move_iterator(meshes.end()));
    meshes.clear();
    return std::move(scene);
}

ExportTexture LookUpTexture(const std::string& path)
{
    ExportTexture texture;
    texture.path = path;
    bool found = false;
    texture.file = ResolvePathIgnoringCase(path, &texture.spelling, &found);
    // A name found, as spelt or ignoring case, is split by no '\'.
    struct stat status {};
    texture.backslashInName = !found && stat(texture.file.c_str(), &status) != 0 &&
                              (errno == ENOENT || errno == ENOTDIR) && PathNeedsBackslashInName(path);
    return texture;
}

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
    SceneCollector collector(gameNormals, false);
    for (standin::Node* node : scene.Nodes())
        collector.Add(*node);
    return collector.Finish(work);
}

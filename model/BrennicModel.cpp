#include "BrennicModel.h"

#include "ChunkReader.h"

#include <algorithm>
#include <cstdio>

namespace {

enum TopLevelChunk : ChunkId { MeshListChunk = 9, ReferenceChunk = 16, SubstitutionChunk = 29 };
enum MeshSubChunk : ChunkId {
    HeaderChunk = 1,
    NamesChunk = 2,
    StaticVertexChunk = 3,
    IndexChunk = 4,
    SkinnedVertexChunk = 5
};

// Calls `item` for each piece of a ','-separated list: every piece before a ',' (empty ones
// too), then the tail only when it is longer than one character. No list is built, so a
// string of commas costs no more than its own bytes.
template <typename ItemFunction>
void ForEachListItem(const std::string& text, ItemFunction item)
{
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        item(text.substr(start, comma - start));
    if (text.size() - start > 1)
        item(text.substr(start));
}

// Keeps the chain of open files in step on every way out, exceptions included.
template <typename Stack>
struct ScopedPush {
    Stack& stack;
    ~ScopedPush() { stack.pop_back(); }
};

} // namespace

std::string ContentRootOf(const std::string& path)
{
    static const char marker[] = "\\content\\";
    const size_t found = path.rfind(marker);
    if (found == std::string::npos)
        return std::string();
    std::string root = path.substr(0, found + sizeof marker - 1);
    std::replace(root.begin(), root.end(), '/', '\\');
    return root;
}

namespace {
CBrennicModel::LoadObserver loadObserver = nullptr;
void* loadObserverContext = nullptr;
} // namespace

void CBrennicModel::SetLoadObserver(LoadObserver observer, void* context)
{
    loadObserver = observer;
    loadObserverContext = context;
}

int CBrennicModel::Load(const std::string& path, bool lods)
{
    includeLods = lods;
    CChunkReader root;
    MapReport report;
    if (root.Open(path, &report)) {
        if (!report.ambiguity.empty())
            Record(path, 0, "found ignoring case: " + report.ambiguity);
        contentRoot = ContentRootOf(path);
        ReadFile(root, path);
    } else {
        openProblem = report.problem;
    }
    if (loadObserver)
        loadObserver(*this, path, loadObserverContext);
    return meshes.empty() ? 0 : 1;
}

void CBrennicModel::ReadFile(CChunkReader& root, const std::string& path)
{
    openFiles.push_back({&path, &root, root.Identity()});
    ScopedPush<std::vector<OpenFile>> pop{openFiles};
    bytesRead += root.Size();
    const size_t meshesBefore = meshes.size();
    CChunkReader chunk;
    while (Reading() && root.NextChunk(&chunk) != -1)
        ReadTopLevelChunk(chunk);
    if (root.Changed()) {
        meshes.erase(meshes.begin() + static_cast<std::ptrdiff_t>(meshesBefore), meshes.end());
        Record(path, 0, "the file changed while it was read; nothing read through it is kept");
    }
}

// The load goes on until a budget ends it or the file being read changes under it.
bool CBrennicModel::Reading() const
{
    return !stopped && !(openFiles.empty() || openFiles.back().root->Changed());
}

void CBrennicModel::LoadMeshFile(const std::string& path, const CChunkReader& reference)
{
    using Outcome = ReferenceNote::Outcome;
    const auto inChain = [&](auto same) { return std::any_of(openFiles.begin(), openFiles.end(), same); };
    if (inChain([&](const OpenFile& open) { return *open.path == path; }))
        return Note(path, Outcome::SkippedCycle);
    if (openFiles.size() >= limits.depth)
        return Note(path, Outcome::SkippedTooDeep);
    if (referencedFiles >= limits.files)
        return Note(path, Outcome::SkippedOverBudget,
                    "more than " + std::to_string(limits.files) + " referenced files");
    ++referencedFiles;

    CChunkReader root;
    MapReport report;
    if (!root.Open(path, &report))
        return Note(path, Outcome::Missing, report.problem);
    if (!report.ambiguity.empty())
        Warn(reference, "found ignoring case: " + report.ambiguity);
    // Another spelling of a file in the chain ("..\meshes\a", or a link) is the same cycle.
    if (inChain([&](const OpenFile& open) { return open.identity == root.Identity(); }))
        return Note(path, Outcome::SkippedCycle);
    if (root.Size() > limits.bytes - referencedBytes)
        return Note(path, Outcome::SkippedOverBudget,
                    "referenced files together would pass " + std::to_string(limits.bytes >> 20) + " MiB");
    referencedBytes += root.Size();
    Note(path, Outcome::Loaded);
    ReadFile(root, path);
}

void CBrennicModel::ReadTopLevelChunk(CChunkReader& chunk)
{
    if (chunk.Truncated())
        Warn(chunk, "chunk runs past the end of the file; reading what is there");
    switch (chunk.GetChunkId()) {
    case MeshListChunk: ++knownChunkCount; return ReadMeshList(chunk);
    case ReferenceChunk: ++knownChunkCount; return ReadReferences(chunk);
    case SubstitutionChunk: ++knownChunkCount; return ReadSubstitutions(chunk);
    default: return;
    }
}

void CBrennicModel::ReadMeshList(CChunkReader& chunk)
{
    CChunkReader meshChunk;
    CChunkReader subChunk;
    while (Reading() && chunk.NextChunk(&meshChunk) != -1) {
        currentMesh = std::make_unique<ModelMesh>();
        while (Reading() && meshChunk.NextChunk(&subChunk) != -1)
            ReadMeshChunk(subChunk);
        std::unique_ptr<ModelMesh> mesh = std::move(currentMesh);
        // A mesh the load ended in the middle of is left out whole.
        if (Reading() && mesh->vertexCount != 0 && mesh->indexCount != 0 && Store(meshChunk, meshCost))
            meshes.push_back(std::move(mesh));
    }
}

void CBrennicModel::ReadMeshChunk(CChunkReader& chunk)
{
    switch (chunk.GetChunkId()) {
    case HeaderChunk: return ReadMeshHeader(chunk);
    case NamesChunk: return ReadMeshNames(chunk);
    case StaticVertexChunk: return ReadStaticVertexChunk(chunk);
    case IndexChunk: return ReadIndexChunk(chunk);
    case SkinnedVertexChunk: return ReadSkinnedVertexChunk(chunk);
    default: return;
    }
}

void CBrennicModel::ReadMeshHeader(CChunkReader& chunk)
{
    if (!currentMesh)
        return;
    if (chunk.Remaining() < sizeof currentMesh->header)
        return Warn(chunk, "mesh header is shorter than 64 bytes; ignored");
    chunk.ReadBytes(currentMesh->header, sizeof currentMesh->header);
}

void CBrennicModel::ReadMeshNames(CChunkReader& chunk)
{
    if (!currentMesh)
        return;
    std::string names[3];
    for (std::string& name : names)
        name = chunk.ReadString();
    if (chunk.Overrun())
        return Warn(chunk, "mesh names end before the third name; ignored");
    uint64_t length = 0;
    for (const std::string& name : names)
        length += Substituted(name).size();
    if (!Store(chunk, length * nameByteCost))
        return;
    for (int i = 0; i < 3; ++i)
        currentMesh->names[i] = Substituted(names[i]);
}

void CBrennicModel::ReadIndexChunk(CChunkReader& chunk)
{
    if (!currentMesh)
        return;
    const uint32_t count = chunk.ReadU32();
    if (chunk.Overrun() || count > chunk.Remaining() / sizeof(uint16_t))
        return Warn(chunk, "index chunk holds fewer indices than it counts; ignored");
    if (!Store(chunk, count * indexCost))
        return;

    std::unique_ptr<uint16_t[]> indices(new uint16_t[count]);
    if (count != 0)
        std::copy_n(chunk.Take(count * sizeof(uint16_t)), count * sizeof(uint16_t),
                    reinterpret_cast<uint8_t*>(indices.get()));
    currentMesh->indices = std::move(indices);
    currentMesh->indexCount = count;
}

void CBrennicModel::ReadReferences(CChunkReader& chunk)
{
    const uint32_t count = chunk.ReadU32();
    // Each list read consumes at least one byte, so the loop ends with the payload.
    for (uint32_t i = 0; i < count && Reading(); ++i) {
        const std::string list = chunk.ReadString();
        if (chunk.Overrun())
            return Warn(chunk, "reference chunk ends before its last name list");
        if (list.size() <= 1)
            continue;
        ForEachListItem(list, [&](const std::string& item) {
            if (!Reading())
                return;
            const std::string path = contentRoot + "meshes\\" + item + ".mesh";
            if (!includeLods && path.find("_lod") != std::string::npos)
                Note(path, ReferenceNote::Outcome::SkippedLod);
            else
                LoadMeshFile(path, chunk);
        });
    }
}

void CBrennicModel::ReadSubstitutions(CChunkReader& chunk)
{
    const std::string text = chunk.ReadString();
    if (chunk.Overrun())
        return Warn(chunk, "substitution list has no terminating zero; ignored");
    ForEachListItem(text, [&](const std::string& item) {
        if (item.find('=') != std::string::npos && Store(chunk, item.size() + substitutionCost))
            AddSubstitution(item);
    });
}

std::vector<std::string> CBrennicModel::SplitList(const std::string& text)
{
    std::vector<std::string> items;
    ForEachListItem(text, [&](const std::string& item) { items.push_back(item); });
    return items;
}

void CBrennicModel::AddSubstitution(const std::string& item)
{
    const size_t equals = item.find('=');
    if (equals == std::string::npos)
        return;
    substitutions[item.substr(0, equals)] = item.substr(equals + 1);
}

std::string CBrennicModel::Substitute(const std::string& name) const
{
    return Substituted(name);
}

const std::string& CBrennicModel::Substituted(const std::string& name) const
{
    const auto found = substitutions.find(name);
    return found == substitutions.end() ? name : found->second;
}

// Charges what is about to be stored; when it does not fit, the load ends here.
bool CBrennicModel::Store(const CChunkReader& chunk, uint64_t cost)
{
    if (stopped)
        return false;
    const uint64_t allowance = budget.base + budget.perByteRead * bytesRead;
    if (storedCost <= allowance && cost <= allowance - storedCost) {
        storedCost += cost;
        return true;
    }
    stopped = true;
    const std::string file = openFiles.empty() ? std::string() : *openFiles.back().path;
    const uint32_t offset =
        openFiles.empty() ? 0 : static_cast<uint32_t>(chunk.Begin() - openFiles.back().root->Begin()) - 8;
    Record(file, offset,
           "memory budget spent (" + std::to_string(budget.perByteRead) + " bytes for each byte read, and " +
               std::to_string(budget.base >> 20) + " MiB): the load ends here, keeping the " +
               std::to_string(meshes.size()) + " meshes read before",
           true);
    return false;
}

void CBrennicModel::Note(const std::string& path, ReferenceNote::Outcome outcome, std::string problem)
{
    ++referenceCount;
    const bool skipped = outcome != ReferenceNote::Outcome::Loaded && outcome != ReferenceNote::Outcome::SkippedLod;
    if (referenceNotes.size() >= maxReferenceNotes) {
        unlistedSkippedReferences += skipped;
        return;
    }
    storedCost += sizeof(ReferenceNote) + path.size() + problem.size();
    referenceNotes.push_back({path, outcome, static_cast<unsigned>(openFiles.size()), std::move(problem)});
}

void CBrennicModel::Warn(const CChunkReader& chunk, std::string message)
{
    if (openFiles.empty()) {
        ++warningCount;
        return;
    }
    const OpenFile& file = openFiles.back();
    Record(*file.path, static_cast<uint32_t>(chunk.Begin() - file.root->Begin()) - 8, std::move(message));
}

// The last place is kept for the warning that says why the load ended.
void CBrennicModel::Record(const std::string& file, uint32_t offset, std::string message, bool endsLoad)
{
    ++warningCount;
    if (warnings.size() >= maxWarnings - (endsLoad ? 0 : 1))
        return;
    storedCost += sizeof(LoadWarning) + file.size() + message.size();
    warnings.push_back({file, offset, std::move(message)});
}

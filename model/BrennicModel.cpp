#include "BrennicModel.h"

#include "ChunkReader.h"

#include <algorithm>
#include <cstring>

namespace {

// Chunk ids: top-level chunks, then the sub-chunks of a mesh.
const ChunkId meshListChunk = 9;
const ChunkId referenceChunk = 16;
const ChunkId substitutionChunk = 29;
const ChunkId headerChunk = 1;
const ChunkId namesChunk = 2;
const ChunkId staticVertexChunk = 3;
const ChunkId indexChunk = 4;
const ChunkId skinnedVertexChunk = 5;

// Keeps the chain of open files in step on every way out, exceptions included.
template <typename Stack>
class PopOnExit {
public:
    explicit PopOnExit(Stack& pushed) : stack(pushed) {}
    ~PopOnExit() { stack.pop_back(); }

private:
    PopOnExit(const PopOnExit&);
    PopOnExit& operator=(const PopOnExit&);
    Stack& stack;
};

std::string Decimal(uint64_t value)
{
    char digits[20];
    char* first = digits + sizeof digits;
    do
        *--first = char('0' + value % 10);
    while ((value /= 10) != 0);
    return std::string(first, digits + sizeof digits);
}

} // namespace

ModelMesh::ModelMesh() : vertexCount(0), indexCount(0), vertexForm(VertexForm::None)
{
    std::memset(header, 0, sizeof header);
}

CBrennicModel::CBrennicModel()
    : includeLods(false),
      stopped(false),
      bytesRead(0),
      firstReadingBytes(0),
      storedCost(0),
      chargedCost(0),
      referencedFiles(0),
      referencedBytes(0),
      referenceCount(0),
      unlistedSkippedReferences(0),
      warningCount(0),
      knownChunkCount(0)
{
}

CBrennicModel::~CBrennicModel()
{
    DropMeshesFrom(0);
}

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
CBrennicModel::LoadObserver loadObserver = NULL;
void* loadObserverContext = NULL;
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
    const bool again = !filesRead.insert(std::make_pair(root.Identity(), path)).second;
    const OpenFile open = {&path, &root, root.Identity(), again};
    openFiles.push_back(open);
    PopOnExit<OpenFiles> pop(openFiles);
    bytesRead += root.Size();
    if (!again)
        firstReadingBytes += root.Size();
    const size_t meshesBefore = meshes.size();
    CChunkReader chunk;
    while (Reading() && root.NextChunk(&chunk) != -1)
        ReadTopLevelChunk(chunk);
    if (root.Changed()) {
        DropMeshesFrom(meshesBefore);
        Record(path, 0, "the file changed while it was read; nothing read through it is kept");
        FallShort("a file changed while it was read");
    }
}

// The vector holds the mesh before the owner lets go, so a failed push_back leaks nothing.
void CBrennicModel::KeepMesh(Owned<ModelMesh>& mesh)
{
    meshes.push_back(NULL);
    meshes.back() = mesh.release();
}

void CBrennicModel::DropMeshesFrom(size_t first)
{
    for (size_t i = first; i < meshes.size(); ++i)
        delete meshes[i];
    meshes.resize(first);
}

// The load goes on until a budget ends it or the file being read changes under it.
bool CBrennicModel::Reading() const
{
    return !stopped && !(openFiles.empty() || openFiles.back().root->Changed());
}

namespace {

// Whether a file in the chain of open files is the one at `path`, as spelt, or the one with
// `identity`, however spelt.
struct SamePath {
    const std::string* path;
    template <typename OpenFile>
    bool operator()(const OpenFile& open) const
    {
        return *open.path == *path;
    }
};
struct SameFile {
    const FileIdentity* identity;
    template <typename OpenFile>
    bool operator()(const OpenFile& open) const
    {
        return open.identity == *identity;
    }
};

} // namespace

void CBrennicModel::LoadMeshFile(const std::string& path, const CChunkReader& reference)
{
    const SamePath samePath = {&path};
    if (std::find_if(openFiles.begin(), openFiles.end(), samePath) != openFiles.end())
        return Note(path, ReferenceNote::SkippedCycle);
    if (openFiles.size() >= limits.depth) {
        FallShort("references are nested more than " + Decimal(limits.depth) + " files deep");
        return Note(path, ReferenceNote::SkippedTooDeep);
    }
    if (referencedFiles >= limits.files) {
        FallShort("it refers to more than " + Decimal(limits.files) + " files");
        return Note(path, ReferenceNote::SkippedOverBudget, "more than " + Decimal(limits.files) + " referenced files");
    }
    ++referencedFiles;

    CChunkReader root;
    MapReport report;
    if (!root.Open(path, &report))
        return Note(path, ReferenceNote::Missing, report.problem);
    if (!report.ambiguity.empty())
        Warn(reference, "found ignoring case: " + report.ambiguity);
    // Another spelling of a file in the chain ("..\meshes\a", or a link) is the same cycle.
    const SameFile sameFile = {&root.Identity()};
    if (std::find_if(openFiles.begin(), openFiles.end(), sameFile) != openFiles.end())
        return Note(path, ReferenceNote::SkippedCycle);
    if (root.Size() > limits.bytes - referencedBytes) {
        FallShort("the files it refers to pass " + Decimal(limits.bytes >> 20) + " MiB together");
        return Note(path, ReferenceNote::SkippedOverBudget,
                    "referenced files together would pass " + Decimal(limits.bytes >> 20) + " MiB");
    }
    referencedBytes += root.Size();
    Note(path, ReferenceNote::Loaded);
    ReadFile(root, path);
}

void CBrennicModel::ReadTopLevelChunk(CChunkReader& chunk)
{
    if (chunk.Truncated())
        Warn(chunk, "chunk runs past the end of the file; reading what is there");
    switch (chunk.GetChunkId()) {
    case meshListChunk: ++knownChunkCount; return ReadMeshList(chunk);
    case referenceChunk: ++knownChunkCount; return ReadReferences(chunk);
    case substitutionChunk: ++knownChunkCount; return ReadSubstitutions(chunk);
    default: return;
    }
}

void CBrennicModel::ReadMeshList(CChunkReader& chunk)
{
    CChunkReader meshChunk;
    CChunkReader subChunk;
    while (Reading() && chunk.NextChunk(&meshChunk) != -1) {
        currentMesh.reset(new ModelMesh);
        while (Reading() && meshChunk.NextChunk(&subChunk) != -1)
            ReadMeshChunk(subChunk);
        Owned<ModelMesh> mesh;
        mesh.swap(currentMesh);
        // A mesh that the load ended in the middle of is left out entirely.
        if (Reading() && mesh->vertexCount != 0 && mesh->indexCount != 0 && Store(meshChunk, meshCost))
            KeepMesh(mesh);
    }
}

void CBrennicModel::ReadMeshChunk(CChunkReader& chunk)
{
    switch (chunk.GetChunkId()) {
    case headerChunk: return ReadMeshHeader(chunk);
    case namesChunk: return ReadMeshNames(chunk);
    case staticVertexChunk: return ReadStaticVertexChunk(chunk);
    case indexChunk: return ReadIndexChunk(chunk);
    case skinnedVertexChunk: return ReadSkinnedVertexChunk(chunk);
    default: return;
    }
}

void CBrennicModel::ReadMeshHeader(CChunkReader& chunk)
{
    if (!currentMesh.get())
        return;
    if (chunk.Remaining() < sizeof currentMesh->header)
        return Warn(chunk, "mesh header is shorter than 64 bytes; ignored");
    chunk.ReadBytes(currentMesh->header, sizeof currentMesh->header);
}

void CBrennicModel::ReadMeshNames(CChunkReader& chunk)
{
    if (!currentMesh.get())
        return;
    std::string names[3];
    for (int i = 0; i < 3; ++i)
        names[i] = chunk.ReadString();
    if (chunk.Overrun())
        return Warn(chunk, "mesh names end before the third name; ignored");
    // The names as the file spells them are paid for by its bytes; what a substitution adds can
    // repeat, so it is charged as growth.
    uint64_t length = 0, growth = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t substituted = Substituted(names[i]).size();
        length += names[i].size();
        growth += substituted > names[i].size() ? substituted - names[i].size() : 0;
    }
    if (!Store(chunk, length * nameByteCost, growth * nameByteCost))
        return;
    for (int i = 0; i < 3; ++i)
        currentMesh->names[i] = Substituted(names[i]);
}

void CBrennicModel::ReadIndexChunk(CChunkReader& chunk)
{
    if (!currentMesh.get())
        return;
    const uint32_t count = chunk.ReadU32();
    if (chunk.Overrun() || count > chunk.Remaining() / sizeof(uint16_t))
        return Warn(chunk, "index chunk holds fewer indices than it counts; ignored");
    if (!Store(chunk, count * indexCost))
        return;

    uint16_t* indices = new uint16_t[count];
    currentMesh->indices.reset(indices);
    currentMesh->indexCount = count;
    if (count != 0)
        std::memcpy(indices, chunk.Take(count * sizeof(uint16_t)), count * sizeof(uint16_t));
}

// A file read before in this load: what it stores is charged in full.
bool CBrennicModel::ReadingAgain() const
{
    return !openFiles.empty() && openFiles.back().again;
}

// Counts what is about to be stored, `growth` of it made by substitutions, and charges what can
// repeat; when the charge does not fit, the load ends here.
bool CBrennicModel::Store(const CChunkReader& chunk, uint64_t cost, uint64_t growth)
{
    if (stopped)
        return false;
    const uint64_t charge = (ReadingAgain() ? cost : 0) + growth;
    const uint64_t allowance = budget.base + budget.perByteRead * (bytesRead - firstReadingBytes);
    if (chargedCost <= allowance && charge <= allowance - chargedCost) {
        chargedCost += charge;
        storedCost += cost + growth;
        return true;
    }
    stopped = true;
    const std::string file = openFiles.empty() ? std::string() : *openFiles.back().path;
    const uint32_t offset =
        openFiles.empty() ? 0 : static_cast<uint32_t>(chunk.Begin() - openFiles.back().root->Begin()) - 8;
    Record(file, offset,
           "memory budget spent on repeated files and substitutions (" + Decimal(budget.perByteRead) +
               " bytes for each byte read again, and " + Decimal(budget.base >> 20) +
               " MiB): the load ends here, keeping the " + Decimal(meshes.size()) + " meshes read before",
           true);
    FallShort("the memory budget for repeated files and substitutions was spent");
    return false;
}

void CBrennicModel::FallShort(const std::string& why)
{
    if (shortfall.empty())
        shortfall = why;
}

void CBrennicModel::Note(const std::string& path, ReferenceNote::Outcome outcome, const std::string& problem)
{
    ++referenceCount;
    const bool skipped = outcome != ReferenceNote::Loaded && outcome != ReferenceNote::SkippedLod;
    if (referenceNotes.size() >= maxReferenceNotes) {
        unlistedSkippedReferences += skipped;
        return;
    }
    storedCost += sizeof(ReferenceNote) + path.size() + problem.size();
    const ReferenceNote note = {path, outcome, static_cast<unsigned>(openFiles.size()), problem};
    referenceNotes.push_back(note);
}

void CBrennicModel::Warn(const CChunkReader& chunk, const std::string& message)
{
    if (openFiles.empty()) {
        ++warningCount;
        return;
    }
    const OpenFile& file = openFiles.back();
    Record(*file.path, static_cast<uint32_t>(chunk.Begin() - file.root->Begin()) - 8, message);
}

// The last place is kept for the warning that says why the load ended.
void CBrennicModel::Record(const std::string& file, uint32_t offset, const std::string& message, bool endsLoad)
{
    ++warningCount;
    if (warnings.size() >= maxWarnings - (endsLoad ? 0 : 1))
        return;
    storedCost += sizeof(LoadWarning) + file.size() + message.size();
    const LoadWarning warning = {file, offset, message};
    warnings.push_back(warning);
}

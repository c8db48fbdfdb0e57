#pragma once

#include "FileMapping.h"
#include "Integers.h"
#include "Owned.h"
#include "WorkVertex.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

class CChunkReader;

// Which of the file's two vertex forms a mesh's vertices were decoded from.
struct VertexForm {
    enum Value { None, Static, Skinned };
};

// One mesh of a model file. Arrays are allocated once with their exact counts.
// Indices are kept as the file has them: one may point at or past vertexCount, so whoever
// reads vertices through an index must check it first.
struct ModelMesh {
    ModelMesh();

    uint8_t header[64];
    uint32_t vertexCount;
    uint32_t indexCount;
    Owned<WorkVertex, DeleteArray> vertices;
    Owned<uint16_t, DeleteArray> indices;
    std::string names[3];         // texture, mesh, and a third name nothing reads
    VertexForm::Value vertexForm; // form of the vertex sub-chunk that won
};

// What became of one mesh reference while loading.
struct ReferenceNote {
    enum Outcome { Loaded, Missing, SkippedLod, SkippedCycle, SkippedTooDeep, SkippedOverBudget };
    std::string path;
    Outcome outcome;
    unsigned depth;      // 1 for a file named by the main file
    std::string problem; // for Missing and SkippedOverBudget: the reason, as text
};

// Malformed data the loader skipped, and where it was.
struct LoadWarning {
    std::string file;
    uint32_t offset; // of the offending chunk's head in that file
    std::string message;
};

// A path's prefix up to and including its last "\content\" (slashes in the prefix turned
// into backslashes), or empty. The base of mesh references and texture files.
std::string ContentRootOf(const std::string& path);

// Decodes a packed direction word: x from bits 16-23, y from 8-15, z from 0-7, each byte b
// as b * (single-precision 1/255) rounded once; bits 24-31 are ignored.
void UnpackDirection(uint32_t word, float direction[3]);

// The in-memory model of one import: the meshes of a model file and of the ".mesh" files it
// refers to, with names rewritten through the file's substitution table.
class CBrennicModel {
public:
    // Reference following is bounded so that no set of files can loop, exhaust the stack or
    // multiply itself: a file already being read is not read again, however it is named.
    struct ReferenceLimits {
        ReferenceLimits() : depth(64), files(4096), bytes(uint64_t(512) << 20) {}
        unsigned depth; // files in the chain from the main file
        unsigned files; // referenced files opened by one load
        uint64_t bytes; // their bytes together
    };

    // Memory grows only with what a load reads. A file's first reading is stored whole, up to
    // `firstReadingRatio` times its bytes. Stores from a file read again (however named) and
    // what substitutions add to names are charged, within `base` plus `perByteRead` a byte read
    // again. A store past that ends the load, keeping the meshes loaded so far.
    struct StoreBudget {
        StoreBudget() : perByteRead(8), base(uint64_t(64) << 20) {}
        uint64_t perByteRead;
        uint64_t base;
    };
    // Costs in bytes of a stored item, counting what scene building and the converter's export
    // later make of it (a one-triangle mesh peaks at 7 to 8 KB in the converter), so that the
    // whole import stays within the budget.
    //
    // These constants are not defined outside the class: Visual C++ defines its own, and a second
    // definition would clash. Use their values only; never bind a reference to them or take their
    // address.
    static const uint64_t vertexCost = 128;       // 76 here; host mesh, normals, export copy
    static const uint64_t indexCost = 32;         // 2 here; host face, texture face, weld, export
    static const uint64_t nameByteCost = 8;       // node, material, bitmap and export names
    static const uint64_t meshCost = 8192;        // a kept mesh beside its arrays: node, objects, material
    static const uint64_t substitutionCost = 128; // a table entry beside its text
    // The most a first reading stores for each of its bytes: a kept mesh takes at least 70.
    static const uint64_t firstReadingRatio = 128;

    static const size_t maxWarnings = 100;
    static const size_t maxReferenceNotes = 1000;

    CBrennicModel();
    virtual ~CBrennicModel(); // deletes the meshes

    // Loads the file and what it refers to; 1 when at least one mesh with vertices and
    // indices was kept, else 0. Called once, on a new model. Allocation failure propagates.
    int Load(const std::string& path, bool includeLods);
    // Why the main file could not be opened, as text; empty when it opened.
    const std::string& OpenProblem() const { return openProblem; }

    // A tool that drives the import through the plug-in sees each finished load here, to
    // report what was left out; the plug-in itself never sets one. Process-wide; null clears.
    typedef void (*LoadObserver)(const CBrennicModel& model, const std::string& path, void* context);
    static void SetLoadObserver(LoadObserver observer, void* context);

    int GetMeshCount() const { return static_cast<int>(meshes.size()); }
    ModelMesh* GetMesh(int index) const { return meshes[static_cast<size_t>(index)]; }

    // The references the load met, in order, and what it had to leave out.
    const std::vector<ReferenceNote>& References() const { return referenceNotes; }
    size_t ReferenceCount() const { return referenceCount; }
    // References past the listed ones that were not loaded for a reason other than being LODs.
    size_t UnlistedSkippedReferences() const { return unlistedSkippedReferences; }
    const std::vector<LoadWarning>& Warnings() const { return warnings; }
    size_t WarningCount() const { return warningCount; }
    // How many top-level chunks of a known kind (mesh lists, references, substitutions) the load met.
    size_t KnownChunkCount() const { return knownChunkCount; }
    // The bytes of the files read, those of their first readings, the cost of what was stored
    // from them and the part of it charged against the budget (StoreBudget).
    uint64_t BytesRead() const { return bytesRead; }
    uint64_t FirstReadingBytes() const { return firstReadingBytes; }
    uint64_t StoredCost() const { return storedCost; }
    uint64_t ChargedCost() const { return chargedCost; }
    // Every file read, by identity, with the path it was first read by (a reference's path as
    // the model spells it, though the file may have been found ignoring case).
    const std::map<FileIdentity, std::string>& FilesRead() const { return filesRead; }
    // Why the model lacks part of what its files hold (the first reason met), or empty when it is
    // complete. A budget or reference limit cut the load, or a file changed while it was read.
    const std::string& Shortfall() const { return shortfall; }

    // Reads one opened file: its chunks in order, all of it unless the load ends. A file that
    // changed while it was read leaves none of its meshes, nor those of the files it named.
    void ReadFile(CChunkReader& root, const std::string& path);
    // Chunk handlers, each given the child reader that covers its chunk.
    void ReadTopLevelChunk(CChunkReader& chunk);
    void ReadMeshChunk(CChunkReader& chunk);
    void ReadMeshHeader(CChunkReader& chunk);
    void ReadMeshNames(CChunkReader& chunk);
    void ReadIndexChunk(CChunkReader& chunk);
    void ReadStaticVertexChunk(CChunkReader& chunk);
    void ReadSkinnedVertexChunk(CChunkReader& chunk);
    void ReadReferences(CChunkReader& chunk);
    void ReadSubstitutions(CChunkReader& chunk);
    // One item of a reference or substitution list.
    void FollowReference(const std::string& item, const CChunkReader& chunk);
    void KeepSubstitution(const std::string& item, const CChunkReader& chunk);

    // Decoders over records in place in the file (32 bytes each, any alignment).
    void DecodeStaticVertices(const uint8_t* records, uint32_t count);
    void DecodeSkinnedVertices(const uint8_t* records, uint32_t count);

    void LoadMeshFile(const std::string& path, const CChunkReader& reference);
    static std::vector<std::string> SplitList(const std::string& text);
    void AddSubstitution(const std::string& item);
    std::string Substitute(const std::string& name) const;

    ReferenceLimits limits;
    StoreBudget budget;

    bool includeLods;
    std::vector<ModelMesh*> meshes; // owned
    Owned<ModelMesh> currentMesh;
    std::string contentRoot;
    std::map<std::string, std::string> substitutions;

private:
    CBrennicModel(const CBrennicModel&); // owns its meshes: never copied
    CBrennicModel& operator=(const CBrennicModel&);

    void ReadMeshList(CChunkReader& chunk);
    void KeepMesh(Owned<ModelMesh>& mesh);
    void DropMeshesFrom(size_t first);
    const std::string& Substituted(const std::string& name) const;
    bool Store(const CChunkReader& chunk, uint64_t cost, uint64_t growth = 0);
    bool ReadingAgain() const;
    void FallShort(const std::string& why);
    bool Reading() const;
    void Note(const std::string& path, ReferenceNote::Outcome outcome, const std::string& problem = std::string());
    void Warn(const CChunkReader& chunk, const std::string& message);
    void Record(const std::string& file, uint32_t offset, const std::string& message, bool endsLoad = false);

    // The chain of files being read, main file first: cycle test, depth and warning context.
    struct OpenFile {
        const std::string* path;
        const CChunkReader* root;
        FileIdentity identity;
        bool again; // read before in this load
    };
    typedef std::vector<OpenFile> OpenFiles;
    OpenFiles openFiles;
    std::string openProblem;
    std::map<FileIdentity, std::string> filesRead;
    bool stopped; // a budget ended the load
    std::string shortfall;
    uint64_t bytesRead;
    uint64_t firstReadingBytes;
    uint64_t storedCost;
    uint64_t chargedCost;
    unsigned referencedFiles;
    uint64_t referencedBytes;
    std::vector<ReferenceNote> referenceNotes;
    size_t referenceCount;
    size_t unlistedSkippedReferences;
    std::vector<LoadWarning> warnings;
    size_t warningCount;
    size_t knownChunkCount;
};

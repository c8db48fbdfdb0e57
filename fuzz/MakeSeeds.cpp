// Writes the seed corpus for fuzz_model_load: small files, each a different path through the
// loader, all well under the fuzzer's input limit so runs stay fast.
//
//   brennic-fuzz-seeds DIR

#include "FuzzMeshes.h"
#include "ModelWriter.h"

#include <cstdio>
#include <exception>
#include <string>

using namespace modelwriter;
using namespace fuzzmeshes;

namespace {

Bytes StaticFile()
{
    return MeshListChunk(std::vector<MeshSpec>{StaticTriangle("static")});
}

Bytes SkinnedFile()
{
    return MeshListChunk(std::vector<MeshSpec>{SkinnedTriangle("skinned", 3)});
}

// Names run through the substitution table; references cover the input itself, real files
// with and without a LOD, a missing file, an empty item, a one-character tail (skipped) and a
// one-character list (skipped).
Bytes ReferencesFile()
{
    const std::string a = staticName;
    return Concat({SubstitutionChunk("static_tex=swapped_tex,static=renamed,x="),
                   MeshListChunk(std::vector<MeshSpec>{StaticTriangle("static")}),
                   ReferenceChunk({inputName, a + "," + lodName, skinnedName, "missing,," + a, "z"})});
}

// A reference between two mesh lists, so meshes come from both sides of a referenced file.
Bytes TwoListsFile()
{
    return Concat({MeshListChunk(std::vector<MeshSpec>{StaticTriangle("first")}),
                   ReferenceChunk({std::string(staticName) + ","}),
                   MeshListChunk(std::vector<MeshSpec>{SkinnedTriangle("second", 1), StaticTriangle("third")})});
}

// Every sub-chunk twice, the vertex chunk in both forms: the last of each wins.
Bytes DuplicatesFile()
{
    const MeshSpec first = StaticTriangle("first");
    const MeshSpec second = SkinnedTriangle("second", 2);
    std::array<uint8_t, 64> header{};
    header.fill(0x5A);
    const Bytes mesh =
        Chunk(0, Concat({HeaderChunk(header), HeaderChunk(first.header), NamesChunk("t1", "n1", "x1"),
                         NamesChunk("t2", "n2", "x2"), IndexChunk({0, 1, 2, 2, 1, 0}),
                         StaticVertexChunk(first.staticVertices),
                         SkinnedVertexChunk(second.bones, second.skinnedVertices), IndexChunk(first.indices)}));
    return MeshListChunk(std::vector<Bytes>{mesh});
}

// A valid file cut inside its index chunk.
Bytes TruncatedFile()
{
    Bytes bytes = MeshListChunk(std::vector<MeshSpec>{StaticTriangle("cut")});
    bytes.resize(bytes.size() - 4);
    return bytes;
}

// A mesh list whose size claims more than the file has, and counts larger than their payloads.
Bytes OverlongFile()
{
    const Bytes shortIndices = Chunk(4, ByteWriter().U32(1000).U16(0).U16(1).U16(2).Take());
    const Bytes shortVertices = Chunk(3, ByteWriter().U32(0).U32(1000).Take());
    const Bytes mesh = Chunk(0, Concat({shortVertices, shortIndices}));
    return ChunkDeclaring(9, 0x7FFFFFFF, Concat({mesh, MeshChunk(StaticTriangle("after"))}));
}

// Files that make the loader store far more than it reads, small enough for the fuzzer's
// input limit: a long substitution for the helper's mesh name with many references to it,
// many references to the input itself and to a file of tiny meshes, and a mesh of indices.
Bytes SubstitutedNamesFile()
{
    const std::string a = staticName;
    return Concat({SubstitutionChunk(a + "=" + std::string(2000, 'n') + "," + a + "_tex=" + std::string(1000, 't')),
                   RepeatedReferences(a, 400)});
}

Bytes TinyMeshesFile()
{
    return Concat({TinyMeshes(12, "tiny"), RepeatedReferences(skinnedName, 100)});
}

Bytes IndexHeavyFile()
{
    return IndexHeavyMesh(1800);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: brennic-fuzz-seeds DIR\n");
        return 2;
    }
    const std::string folder = argv[1];
    const struct {
        const char* name;
        Bytes bytes;
    } seeds[] = {
        {"static.mesh", StaticFile()},          {"skinned.mesh", SkinnedFile()},
        {"references.mesh", ReferencesFile()},  {"two-lists.mesh", TwoListsFile()},
        {"duplicates.mesh", DuplicatesFile()},  {"truncated.mesh", TruncatedFile()},
        {"overlong.mesh", OverlongFile()},      {"substituted-names.mesh", SubstitutedNamesFile()},
        {"tiny-meshes.mesh", TinyMeshesFile()}, {"index-heavy.mesh", IndexHeavyFile()},
    };
    try {
        for (const auto& seed : seeds)
            WriteFile(folder + "/" + seed.name, seed.bytes);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brennic-fuzz-seeds: %s\n", error.what());
        return 1;
    }
    std::printf("%zu seeds written to %s\n", sizeof seeds / sizeof seeds[0], folder.c_str());
    return 0;
}

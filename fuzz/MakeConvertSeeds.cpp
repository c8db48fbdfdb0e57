// Writes the seed corpus for fuzz_convert: a model and a .dds in each (FuzzConvert.h), among
// them the inputs that once made a conversion blow up its memory or time, inject lines into
// its outputs or read past its content folder, cut down to the fuzzer's input limit.
//
//   brennic-fuzz-convert-seeds DIR

#include "DdsWriter.h"
#include "FuzzConvert.h"
#include "FuzzMeshes.h"
#include "ModelWriter.h"

#include <cstdio>
#include <exception>
#include <string>

using namespace modelwriter;
using namespace fuzzmeshes;

namespace {

// A mesh whose texture is the fuzzed .dds.
MeshSpec Textured(const std::string& name, const std::string& texture = fuzzconvert::textureName)
{
    MeshSpec mesh = StaticTriangle(name);
    mesh.texture = texture;
    return mesh;
}

Bytes Model(const std::vector<MeshSpec>& meshes)
{
    return MeshListChunk(meshes);
}

RgbaImage Gradient(uint32_t size, bool transparent)
{
    RgbaImage image{size, size, Bytes(size_t{size} * size * 4)};
    for (uint32_t i = 0; i < size * size; ++i) {
        image.rgba[4 * i] = uint8_t(i * 7);
        image.rgba[4 * i + 1] = uint8_t(i / size * 13);
        image.rgba[4 * i + 2] = 200;
        image.rgba[4 * i + 3] = transparent ? uint8_t(i * 5) : 255;
    }
    return image;
}

Bytes Encoded(DdsEncoding encoding, bool dx10 = false, uint32_t size = 8)
{
    DdsSpec spec;
    spec.encoding = encoding;
    spec.dx10 = dx10 || encoding == DdsEncoding::BC7;
    return WriteDds(Gradient(size, encoding != DdsEncoding::R5G6B5), spec);
}

// A header that claims far more pixels than the file holds.
Bytes LyingDds()
{
    DdsSpec spec;
    spec.encoding = DdsEncoding::A8R8G8B8;
    return DdsFileHeader(16384, 16384, spec);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: brennic-fuzz-convert-seeds DIR\n");
        return 2;
    }
    using fuzzconvert::Join;
    const std::string a = staticName;
    const Bytes oneMesh = Model({Textured("one")});
    DdsSpec cube;
    cube.cubeMap = true;
    cube.mipLevels = 2;
    const struct {
        const char* name;
        Bytes bytes;
    } seeds[] = {
        {"dxt1", Join(0, oneMesh, Encoded(DdsEncoding::BC1))},
        {"dxt5-gltf", Join(fuzzconvert::separateGltf, oneMesh, Encoded(DdsEncoding::BC3))},
        {"bc7-keep-dds", Join(fuzzconvert::keepDds, oneMesh, Encoded(DdsEncoding::BC7))},
        {"bc4-copy", Join(fuzzconvert::copyTextures, oneMesh, Encoded(DdsEncoding::BC4, true))},
        {"bc5", Join(0, oneMesh, Encoded(DdsEncoding::BC5))},
        {"bc5-streamed", Join(fuzzconvert::streamed, oneMesh, Encoded(DdsEncoding::BC5))},
        // More meshes than the least room for a .glb's JSON holds: the file is written again.
        {"many-streamed", Join(
                              fuzzconvert::streamed,
                              [] {
                                  std::vector<MeshSpec> meshes;
                                  for (int m = 0; m < 16; ++m)
                                      meshes.push_back(Textured("mesh" + std::to_string(m)));
                                  return Model(meshes);
                              }(),
                              Encoded(DdsEncoding::BC1))},
        {"a8r8g8b8", Join(0, oneMesh, Encoded(DdsEncoding::A8R8G8B8))},
        {"r5g6b5-gltf-keep",
         Join(fuzzconvert::separateGltf | fuzzconvert::keepDds, oneMesh, Encoded(DdsEncoding::R5G6B5))},
        {"a8l8", Join(0, oneMesh, Encoded(DdsEncoding::A8L8))},
        {"cube", Join(0, oneMesh, WriteDds(Gradient(4, false), cube))},
        {"lying-dds", Join(0, oneMesh, LyingDds())},
        {"truncated-dds", Join(0, oneMesh,
                               [] {
                                   Bytes b = Encoded(DdsEncoding::BC1, false, 16);
                                   b.resize(b.size() - 9);
                                   return b;
                               }())},
        {"no-dds", Join(0, oneMesh, {})},
        // Names that would break lines in an MTL, a path outside the content folder.
        {"injected-names", Join(0, Model({Textured("evil\nnewmtl x", "no\nmap_Kd \x1b[31m"), Textured("tab\tname")}),
                                Encoded(DdsEncoding::BC1))},
        {"outside", Join(0,
                         Concat({ReferenceChunk({"..\\..\\content\\meshes\\" + a + ","}),
                                 Model({Textured("up", "..\\..\\..\\x")})}),
                         {})},
        {"long-name",
         Join(0, Model({Textured(std::string(250, 'n'), std::string(250, 't'))}), Encoded(DdsEncoding::BC1))},
        // Files that once amplified: long substituted names over many references, many tiny
        // meshes of one name, references to LOD and skinned files, LOD switch on.
        {"substituted-names",
         Join(0, Concat({SubstitutionChunk(a + "=" + std::string(32768, 'n')), RepeatedReferences(a, 4096)}), {})},
        {"one-name-meshes", Join(0, TinyMeshes(1000, "same", fuzzconvert::textureName), Encoded(DdsEncoding::BC1))},
        {"lods-and-skinned",
         Join(fuzzconvert::includeLods, Concat({oneMesh, ReferenceChunk({a + "," + skinnedName + ",missing,"})}),
              Encoded(DdsEncoding::BC1))},
        {"index-heavy", Join(0, IndexHeavyMesh(60000), {})},
    };
    try {
        for (const auto& seed : seeds)
            WriteFile(std::string(argv[1]) + "/" + seed.name, seed.bytes);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brennic-fuzz-convert-seeds: %s\n", error.what());
        return 1;
    }
    std::printf("%zu seeds written to %s\n", sizeof seeds / sizeof seeds[0], argv[1]);
    return 0;
}

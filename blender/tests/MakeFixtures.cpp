// Writes the Blender add-on tests' models with our writer:
//   pair.model: two textured meshes, "box" (32 x 16 texture) and "post" (8 x 8), and a reference
//               to post_lod1.mesh, a four-sided LOD of the post sharing its texture;
//   cube.model: a cube whose sides keep their own vertices, naming a texture that is missing.
//
//   brennic-blender-fixtures OUTPUT_FOLDER   ->  OUTPUT_FOLDER/content/meshes/props/pair.model ...

#include "ModelWriter.h"

#include <algorithm>
#include <cstdio>
#include <exception>

using namespace modelwriter;

namespace {

// A tetrahedron standing on the ground about (x, 0, 0), in file axes (y up), counter-clockwise
// seen from outside.
MeshSpec Tetrahedron(const std::string& name, const std::string& texture, float x)
{
    MeshSpec mesh;
    mesh.name = name;
    mesh.texture = texture;
    const float corners[4][3] = {{x - 0.25f, 0, 0.25f}, {x + 0.25f, 0, 0.25f}, {x, 0, -0.25f}, {x, 0.6f, 0}};
    for (const auto& corner : corners) {
        StaticVertex vertex;
        std::copy(corner, corner + 3, vertex.position);
        vertex.normal = PackUnitRange(0.5f, 1, 0.5f);
        vertex.texCoord[0] = corner[0] - x + 0.5f;
        vertex.texCoord[1] = corner[2] + 0.5f;
        mesh.staticVertices.push_back(vertex);
    }
    mesh.indices = {0, 2, 1, 0, 1, 3, 1, 2, 3, 2, 0, 3};
    return mesh;
}

Bytes Checker(uint32_t width, uint32_t height, uint8_t blue)
{
    return Dds(width, height, [=](uint32_t x, uint32_t y) {
        const uint8_t light = (x / 4 + y / 4) % 2 ? 220 : 60;
        return std::array<uint8_t, 4>{light, light, blue, 255};
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: brennic-blender-fixtures OUTPUT_FOLDER\n");
        return 2;
    }
    try {
        const ContentFolder content(argv[1]);
        content.WriteModel(
            "props\\pair",
            Concat({MeshListChunk(std::vector<MeshSpec>{SplitCube("props\\box", "props\\box"),
                                                        SplitCube("props\\post", "props\\post", 0.5f, {2, 0.25f, 0})}),
                    ReferenceChunk({"props\\post_lod1"})}));
        content.WriteMesh("props\\post_lod1",
                          MeshListChunk(std::vector<MeshSpec>{Tetrahedron("props\\post_lod1", "props\\post", 2)}));
        content.WriteTexture("props\\box", "1024", Checker(32, 16, 40));
        content.WriteTexture("props\\post", "512", Checker(8, 8, 200));
        content.WriteModel("props\\cube",
                           MeshListChunk(std::vector<MeshSpec>{SplitCube("props\\cube", "props\\gone")}));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brennic-blender-fixtures: %s\n", error.what());
        return 1;
    }
    return 0;
}

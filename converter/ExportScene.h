#pragma once

// The imported scene as the file writers take it: one mesh, node and material per host node,
// vertices split wherever a corner's texture vertex or normal differs, in glTF's axes. The
// driving room makes it; the writing room takes it.

#include <cstdint>
#include <string>
#include <vector>

struct ExportVertex {
    float position[3]; // Y up: the host's (x, y, z) is (x, z, -y), a rotation
    float normal[3];   // unit length, outward
    float texCoord[2]; // origin at the image's top left
};

// A texture file as the material names it, found once for every stage after: the writers
// read `file`, and the outputs are kept from overwriting it.
struct ExportTexture {
    std::string path;             // as the material names it, in POSIX form: what warnings show
    std::string file;             // where it lies, found ignoring case as the plug-in finds files; else `path`
    std::string spelling;         // when several names matched ignoring case: which, and which was taken
    bool backslashInName = false; // missing since a name on disk holds a '\' that `path` splits
};

struct ExportMaterial {
    std::string name;
    int texture = -1; // into ExportScene::textures; the same file is one texture
};

struct ExportMesh {
    std::string name; // the host node's name
    std::vector<ExportVertex> vertices;
    std::vector<uint32_t> indices; // three per triangle, counter-clockwise seen from outside
    int material = -1;
};

struct ExportScene {
    std::vector<ExportMesh> meshes;
    std::vector<ExportMaterial> materials;
    std::vector<ExportTexture> textures;
};

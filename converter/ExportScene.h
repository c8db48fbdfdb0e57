#pragma once

// The imported scene in the form the file writers take: one mesh, node and material per host
// node, one vertex per distinct position, normal and texture coordinate, in glTF's axes.
// The drive/ room builds it and the write/ room reads it.

#include <cstdint>
#include <string>
#include <vector>

struct ExportVertex {
    float position[3]; // Y up: the host's (x, y, z) is (x, z, -y), a rotation
    float normal[3];   // unit length, outward
    float texCoord[2]; // origin at the image's top left
};

// A texture file as the material names it, looked up once for all later stages: the writers
// read `file`, and no output may overwrite it.
struct ExportTexture {
    std::string path;             // as the material names it, in POSIX form: what warnings show
    std::string file;             // where it is on disk, found ignoring case as the plug-in does; else `path`
    std::string spelling;         // when several names matched ignoring case: which ones, and which was used
    bool backslashInName = false; // missing because a name on disk holds a '\' that `path` splits
};

struct ExportMaterial {
    std::string name;
    int texture = -1; // index into ExportScene::textures; each file is one texture however often it is named
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

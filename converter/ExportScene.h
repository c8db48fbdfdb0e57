#pragma once

// The imported scene as the file writers take it: one mesh, node and material per host node,
// one vertex per distinct position, normal and texture coordinate, in glTF's axes.

#include "StandInHost.h"

#include <cstdint>
#include <string>
#include <vector>

struct ExportVertex {
    float position[3]; // Y up: the host's (x, y, z) is (x, z, -y), a rotation
    float normal[3];   // unit length, outward
    float texCoord[2]; // origin at the image's top left
};

struct ExportTexture {
    std::string path; // the file as the material names it, in POSIX form
    bool exists = false;
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

// What collecting took: corners read, and output vertices a corner was compared with.
struct CollectWork {
    size_t corners = 0;
    size_t comparisons = 0;
};

class CBrennicModel;

// The normals the game authored: per loaded mesh, in the model's order (which is the order of
// the plug-in's nodes), the unit normal of each file vertex in the host's axes.
using GameNormals = std::vector<std::vector<Point3>>;

// Each vertex's packed normal word, mapped from the bytes' 0..1 to -1..1 and normalised.
GameNormals TakeGameNormals(const CBrennicModel& model);

// Collects the scene's nodes, in order. Host paths (with '\') become POSIX paths. With
// `gameNormals`, each corner takes its file vertex's normal (the plug-in's texture vertices are
// the file's vertices before the weld) instead of the host's, so corners whose normals the
// file keeps apart stay apart; throws when they do not fit the scene's meshes.
ExportScene CollectScene(const standin::Scene& scene, CollectWork* work = nullptr,
                         const GameNormals* gameNormals = nullptr);

#pragma once

// The stand-in host's scene, after the plug-in's import, collected as the writers take it.

#include "ExportScene.h"
#include "StandInHost.h"

#include <cstddef>
#include <string>
#include <vector>

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

// Collects the scene's nodes, in order. Host paths (with '\') become POSIX paths, and each
// texture is looked up ignoring case, once. With `gameNormals`, each corner takes its file
// vertex's normal (the plug-in's texture vertices are the file's vertices before the weld), so
// corners the file gives different normals stay apart. Throws when they do not fit the meshes.
ExportScene CollectScene(const standin::Scene& scene, CollectWork* work = nullptr,
                         const GameNormals* gameNormals = nullptr);

// The texture at `path` (POSIX form), found as the plug-in's platform finds files: whatever
// the case of its name.
ExportTexture LookUpTexture(const std::string& path);

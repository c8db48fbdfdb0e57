#pragma once

// Imports one model through the plug-in into a fresh stand-in scene and collects the result.
// This is all that the other rooms see of the plug-in, the loader and the host.

#include "ExportScene.h"
#include "PluginDriver.h"

#include <cstdint>
#include <string>
#include <vector>

struct ImportOptions {
    bool includeLods = false;
    bool gameNormals = false;     // each vertex's normal from the file, not the host's
    MeshStream* stream = nullptr; // takes each mesh as it is collected, while the plug-in builds the next
};

// A file the import read, identified by device and inode, however its name was spelt.
struct FileRead {
    uint64_t device = 0;
    uint64_t inode = 0;
    std::string path; // as shown to the user
};

struct Imported {
    ExportScene scene;
    std::vector<FileRead> filesRead; // the model, its .mesh files and the textures found
    std::string summary;             // the summary box's text
};

// Imports the model file at `input`. What the load left out, and textures outside the content
// folder, are appended to `warnings`. Throws std::runtime_error with a readable reason when
// the plug-in imports nothing.
Imported Import(PluginDriver& driver, const std::string& input, const ImportOptions& options,
                std::vector<std::string>& warnings);

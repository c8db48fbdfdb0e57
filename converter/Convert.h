#pragma once

// Converts one job: imports the model through the plug-in, then writes it. Each stage lives in its own room.

#include "Jobs.h"
#include "PluginDriver.h"
#include "TextureCache.h"

#include <cstddef>
#include <string>
#include <vector>

struct ConvertOptions {
    bool includeLods = false;
    bool gameNormals = false;
    bool copyTextures = false;
    bool keepDds = false;
    bool strict = false; // any warning fails the job, and nothing is written
    int verbosity = 1;   // 0 quiet, 1 normal, 2 verbose
};

struct Converted {
    size_t nodes = 0, vertices = 0, triangles = 0;
    std::vector<std::string> details; // per mesh, for --verbose
};

// Converts one job. Throws an exception with the reason on failure; warnings are appended to
// `warnings` either way.
Converted Convert(PluginDriver& driver, const Job& job, const ConvertOptions& options, TextureCache& textures,
                  std::vector<std::string>& warnings);

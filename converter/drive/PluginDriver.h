#pragma once

// Drives the plug-in through its exports, as the host application does: the entry point,
// the class descriptor's importer, DoImport with the settings dialog answered from the
// command's flags, and the summary box's text collected.

#include <string>

namespace standin {
class Scene;
}

struct ImportOutcome {
    int result = 0;      // DoImport's
    std::string summary; // the summary box's text; empty when none was shown
};

class PluginDriver {
public:
    PluginDriver();  // loads the module: entry point, LibInitialize
    ~PluginDriver(); // LibShutdown
    PluginDriver(const PluginDriver&) = delete;
    PluginDriver& operator=(const PluginDriver&) = delete;

    // One import of the file at `hostPath` (a Windows path) into `scene`.
    ImportOutcome Import(const std::string& hostPath, bool includeLods, standin::Scene& scene);
};

// The path as the host hands it to the plug-in: absolute, with backslashes.
std::string ToHostPath(const std::string& path);
// A host path shown to the user: forward slashes.
std::string ToDisplayPath(std::string hostPath);

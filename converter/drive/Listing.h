#pragma once

// brennic-import --list: what a model holds, what the plug-in makes of it, the files it read
// and the problems in its data; as text for people or as JSON for scripts.

#include <nlohmann/json_fwd.hpp>

#include <string>

// Prints the listing of one model file to stdout. Returns the exit status: 0, or 1 when the
// file is missing or holds no usable mesh.
int ListModel(const std::string& file, bool includeLods);
// The same listing as JSON, appended to `models`; returns the same status.
int ListModelJson(const std::string& file, bool includeLods, nlohmann::json& models);

#pragma once

// brennic-import --list: what a model holds, what the plug-in makes of it, the files it read
// and the problems in its data; as text for people or as JSON for scripts. The wording of
// references and damaged chunks is shared with the warnings of a conversion.

#include "BrennicModel.h"

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <vector>

// What became of a reference, in a few words ("missing, skipped"); null for a loaded file.
const char* OutcomeText(ReferenceNote::Outcome outcome);
// The load's problems, one line each: references not loaded (LODs left out on request are
// not problems) and chunks left out as damaged.
std::vector<std::string> LoadProblems(const CBrennicModel& model);

// Text safe to print: control bytes and line breaks from a file or path become '?'.
std::string Printable(std::string text);

// Prints the listing of one model file to stdout. Returns the exit status: 0, or 1 when the
// file is missing or holds no usable mesh.
int ListModel(const std::string& file, bool includeLods);
// The same as JSON: appended to `models`; the status likewise.
int ListModelJson(const std::string& file, bool includeLods, nlohmann::json& models);

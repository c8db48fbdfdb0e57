#pragma once

// The messages for what a load left out, shared by --list and the warnings of a conversion.

#include "BrennicModel.h"

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <vector>

// What became of a reference, in a few words ("missing, skipped"); null for a loaded file.
const char* OutcomeText(ReferenceNote::Outcome outcome);
// Why a reference was skipped: the loader's own message ("is a FIFO (named pipe), not a
// file"), else what its outcome says. Empty for a file loaded or a LOD left out on request.
std::string SkipCause(const ReferenceNote& note);
// What became of a reference as --list and the warnings say it: the loader's reason when it
// says more than the outcome ("is a FIFO (named pipe), not a file; skipped"), else the
// outcome's words; empty for a loaded file.
std::string ReferenceFate(const ReferenceNote& note);
// The load's problems, one line each: references not loaded, with the loader's reason (LODs
// left out on request are not problems), files read from outside the content folder, and what
// the loader noted in the data (damaged chunks, a budget that ended the load).
std::vector<std::string> LoadProblems(const CBrennicModel& model);

// True when the host path lies outside the content folder `contentRoot` (a host path ending in
// '\'), as "..\..\" in a name can make it; the format allows that, but we warn. Decided on disk,
// found ignoring case as the loader does and walked as the system resolves "..". A root not on
// disk is compared by name, ignoring case.
bool OutsideContentFolder(const std::string& hostPath, const std::string& contentRoot);

// A host path as shown to the user, its "." and ".." taken out; for a file on disk, a path
// that names that very file (its real path when ".." after a link leads elsewhere).
std::string NormalPath(const std::string& hostPath);

// The "files read" part of a listing: the main file, then each reference with what became of it.
std::string ReferencesText(const CBrennicModel& model, const std::string& mainFile);
// The same for JSON: path, depth, outcome (a stable name), and for a skipped reference its
// problem (SkipCause).
nlohmann::json ReferencesJson(const CBrennicModel& model);

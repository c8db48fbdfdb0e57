#pragma once

// Paths looked up as the game's own platform does, ignoring case, on a file system that does
// not. POSIX only: Windows file systems ignore case already.

#include <cstdint>
#include <string>

// The path itself when it exists as spelt; else the path with each missing component
// replaced by the name in its folder that equals it ignoring ASCII case; else the path itself,
// and `found` (if given) is false.
//
// When a component matches several names, the first in byte order is taken and `ambiguity`
// (if given) says which names and which one was taken. Folder listings are cached for the
// process (bounded in size, re-read when a folder's stamps move), so a batch of files lists
// each folder once, and a name missing from a listed folder costs one call for its stamps.
std::string ResolvePathIgnoringCase(const std::string& posixPath, std::string* ambiguity = nullptr,
                                    bool* found = nullptr);

// True when the path is missing because one of its folders holds a name with a '\' in it
// that the path's components, joined by '\', spell (ignoring case): a name the host's path
// form cannot carry, since it takes every '\' as a separator.
bool PathNeedsBackslashInName(const std::string& posixPath);

// Folder listings read so far: how much work the lookups did.
uint64_t FolderListingsRead();

// Path components handed to the system by the lookups, a call on a path of n components
// counting n: how much path walking they did.
uint64_t PathComponentsLookedUp();

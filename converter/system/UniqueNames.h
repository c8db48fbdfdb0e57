#pragma once

// Names made one of a kind by a numbered suffix: "stem.ext", then "stem_2.ext", "stem_3.ext"...
// Each stem remembers the next suffix to try, so n equal names cost O(n) probes in all, and a
// name taken as it is ("crate_2" given literally) is still never handed out twice.

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>

class UniqueNames {
public:
    std::string Make(const std::string& stem, const std::string& extension = "");
    // Takes `name` as it is; returns false when it was already taken.
    bool Take(const std::string& name)
    {
        ++probes;
        return taken.insert(name).second;
    }
    bool IsTaken(const std::string& name) const { return taken.count(name) != 0; }
    // Lookups made so far, for tests that bound the work.
    size_t Probes() const { return probes; }

private:
    std::unordered_set<std::string> taken;
    std::unordered_map<std::string, unsigned> nextSuffix; // by stem and extension
    size_t probes = 0;
};

// A name any OBJ or MTL reader takes as one word: white space, control bytes, '#' and '\'
// (some readers join a line ending in it to the next) become '_'. An empty name becomes `fallback`.
std::string SafeName(const std::string& name, const char* fallback);

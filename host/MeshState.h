#pragma once

// What the stand-in keeps for a host mesh beyond the fields the host's interface declares. The
// interface's classes carry only the host's own members, so this state lives beside them, found
// by the object's address, and goes when the object is destroyed.

#include "HostApi.h"

#include <memory>
#include <unordered_map>

namespace standin {

// State kept per object of type Owner, made empty on first use. The plug-in works on one mesh
// at a time, so the last lookup is remembered: a mesh's calls in a row cost a comparison each.
template <typename Owner, typename State>
class SideRecords {
public:
    State& Of(const Owner& owner)
    {
        if (&owner != last) {
            State& state = records[&owner];
            last = &owner;
            lastState = &state;
        }
        return *lastState;
    }

    void Forget(const Owner& owner) noexcept
    {
        if (&owner == last)
            last = nullptr;
        records.erase(&owner);
    }

private:
    std::unordered_map<const Owner*, State> records;
    const Owner* last = nullptr;
    State* lastState = nullptr;
};

struct MeshState {
    // As set by setNormal, one per vertex; buildNormals sets those of the vertices faces use.
    std::unique_ptr<Point3[]> vertexNormals;
    // From buildNormals, three per face; none when every corner's normal is its vertex's,
    // as when each vertex's faces share one smoothing word (the plug-in's meshes).
    std::unique_ptr<Point3[]> cornerNormals;
    bool normalsBuilt = false; // since the faces last changed
    bool edgeListValid = false;
};

MeshState& StateOf(const Mesh& mesh);

} // namespace standin

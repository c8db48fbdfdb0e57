#pragma once

// What the stand-in keeps for a host mesh beyond the fields the host's interface declares. The
// interface's classes carry only the host's own members, so this state lives beside them, found
// by the object's address, and goes when the object is destroyed.

#include "HostApi.h"

#include <memory>
#include <unordered_map>
#ifdef __SSE__
#include <xmmintrin.h>
#endif

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

// p over `length`, each component rounded as its own division would be: one packed division
// where the target has one, since normals divide a vertex at a time.
inline Point3 Divided(const Point3& p, float length)
{
#ifdef __SSE__
    alignas(16) float quotient[4];
    _mm_store_ps(quotient, _mm_div_ps(_mm_set_ps(1.0f, p.z, p.y, p.x), _mm_set1_ps(length)));
    return Point3(quotient[0], quotient[1], quotient[2]);
#else
    return Point3(p.x / length, p.y / length, p.z / length);
#endif
}

} // namespace standin

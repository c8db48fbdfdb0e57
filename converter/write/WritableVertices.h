#pragma once

// A mesh's vertices made writable (see IsWritable) where they are not.

#include "ExportScene.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace writable {

inline bool Normalize(float v[3])
{
    const double length = std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
    if (!std::isfinite(length) || length < 1e-12)
        return false;
    for (int i = 0; i < 3; ++i)
        v[i] = float(v[i] / length);
    return true;
}

// The mesh's own vertices when they need nothing, else `repaired`: a coordinate that is not a
// finite number becomes 0 (with a warning), a normal is rescaled to unit length, and a normal
// with no direction (opposite faces on the same vertices cancel out) takes the direction of
// the first triangle using the vertex, or +Y.
inline const std::vector<ExportVertex>& Vertices(const ExportMesh& mesh, std::vector<ExportVertex>& repaired,
                                                 std::vector<std::string>& warnings)
{
    if (mesh.facts.allWritable || std::all_of(mesh.vertices.begin(), mesh.vertices.end(), IsWritable))
        return mesh.vertices;
    repaired = mesh.vertices;
    size_t nonFinite = 0;
    std::vector<bool> lacksNormal(repaired.size(), false);
    for (size_t i = 0; i < repaired.size(); ++i) {
        ExportVertex& v = repaired[i];
        if (!IsFinite(v)) {
            ++nonFinite;
            for (float* c = v.position; c != v.position + 3; ++c)
                *c = std::isfinite(*c) ? *c : 0.0f;
            for (float* c = v.texCoord; c != v.texCoord + 2; ++c)
                *c = std::isfinite(*c) ? *c : 0.0f;
        }
        lacksNormal[i] = !Normalize(v.normal);
    }
    for (size_t t = 0; t + 2 < mesh.indices.size(); t += 3) {
        const uint32_t* corner = &mesh.indices[t];
        if (std::max({corner[0], corner[1], corner[2]}) >= repaired.size())
            continue;
        if (!lacksNormal[corner[0]] && !lacksNormal[corner[1]] && !lacksNormal[corner[2]])
            continue;
        const float* p0 = repaired[corner[0]].position;
        const float* p1 = repaired[corner[1]].position;
        const float* p2 = repaired[corner[2]].position;
        const float a[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
        const float b[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
        float face[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
        if (!Normalize(face))
            continue;
        for (int k = 0; k < 3; ++k)
            if (lacksNormal[corner[k]]) {
                std::copy(face, face + 3, repaired[corner[k]].normal);
                lacksNormal[corner[k]] = false;
            }
    }
    for (size_t i = 0; i < repaired.size(); ++i)
        if (lacksNormal[i]) {
            float* n = repaired[i].normal;
            n[0] = 0.0f, n[1] = 1.0f, n[2] = 0.0f;
        }
    if (nonFinite)
        warnings.push_back(mesh.name + ": " + std::to_string(nonFinite) +
                           (nonFinite == 1 ? " vertex has" : " vertices have") +
                           " coordinates that are not finite numbers, written as 0");
    return repaired;
}

} // namespace writable

#pragma once

// Small meshes shared by the fuzz target's content folder and the seed corpus, so seeds name
// files the target really has.

#include "ModelWriter.h"

#include <string>

namespace fuzzmeshes {

// Where the target writes each input, and the valid files next to it. A one-character
// reference list or tail is skipped, so "a" is reached only as an item followed by a ','.
inline const char inputName[] = "fuzz";
inline const char staticName[] = "a";
inline const char lodName[] = "a_lod1";
inline const char skinnedName[] = "skinned";

inline modelwriter::MeshSpec StaticTriangle(const std::string& name)
{
    modelwriter::MeshSpec mesh;
    mesh.texture = name + "_tex";
    mesh.name = name;
    mesh.third = name + "_collision";
    mesh.staticVertices.resize(3);
    mesh.staticVertices[1].position[0] = 1.0f;
    mesh.staticVertices[2].position[1] = 1.0f;
    for (modelwriter::StaticVertex& vertex : mesh.staticVertices)
        vertex.normal = modelwriter::PackUnitRange(0.5f, 0.5f, 1.0f);
    mesh.indices = {0, 1, 2};
    return mesh;
}

inline modelwriter::MeshSpec SkinnedTriangle(const std::string& name, int boneCount)
{
    modelwriter::MeshSpec mesh;
    mesh.texture = name + "_tex";
    mesh.name = name;
    mesh.third = name;
    for (int i = 0; i < boneCount; ++i) {
        modelwriter::Bone bone;
        bone.id = static_cast<uint8_t>(i + 1);
        bone.record.fill(static_cast<uint8_t>(0x10 * (i + 1)));
        mesh.bones.push_back(bone);
    }
    mesh.skinnedVertices.resize(3);
    mesh.skinnedVertices[1].position[0] = modelwriter::QuantisePosition(1.0f);
    mesh.skinnedVertices[2].position[1] = modelwriter::QuantisePosition(1.0f);
    for (modelwriter::SkinnedVertex& vertex : mesh.skinnedVertices) {
        vertex.boneIndices[0] = 1;
        vertex.boneWeights[0] = 255;
        vertex.texCoord[0] = modelwriter::QuantiseTexCoord(0.5f);
    }
    mesh.indices = {0, 1, 2};
    return mesh;
}

} // namespace fuzzmeshes

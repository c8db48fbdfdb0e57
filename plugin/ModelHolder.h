#pragma once

#include "HostApi.h"
#include "Integers.h"
#include "Owned.h"

#include <string>

class CBrennicModel;
struct ModelMesh;

// Owner of one import's model and of the content root its textures are found under. Lives
// for one import; the scene-building operations (scene/) read the model through it.
class ModelHolder {
public:
    ModelHolder();
    ~ModelHolder();

    // 1 when the file loaded with at least one mesh. Allocation failure propagates.
    int Load(const std::string& path, bool includeLods);
    // Only after a successful Load.
    int GetMeshCount() const;
    uint32_t GetFaceCount(int index) const;
    // Why the model lacks part of what its files hold; empty when it is complete.
    const std::string& Shortfall() const;

    // Scene building: one node per mesh, with its triangle object and its own material.
    int BuildScene(ImpInterface* scene);
    int BuildMesh(const ModelMesh& source, Mesh& mesh, int meshIndex);
    std::string ResolveTexturePath(const std::string& textureName) const;
    int ApplyMaterial(const ModelMesh& source, ImpNode* node);

    Owned<CBrennicModel> model;
    std::string contentRoot;

private:
    ModelHolder(const ModelHolder&); // owns the model: never copied
    ModelHolder& operator=(const ModelHolder&);
};

// Host objects not yet taken in by another are released through DeleteThis.
struct DeleteHostObject {
    void operator()(Animatable* object) const { object->DeleteThis(); }
};

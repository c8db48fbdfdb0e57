#pragma once

#include "ModelHolder.h"
#include "StandInHost.h"
#include "TestHooks.h"
#include "TestSupport.h"

// Scene tests load writer-built files through a holder and build them into a stand-in scene.
class SceneTest : public ContentTest {
protected:
    void TearDown() override { standin::Factories() = standin::FactoryHooks{}; }

    // Loads `bytes` as content/meshes/main.model into the holder.
    void LoadMain(const modelwriter::Bytes& bytes)
    {
        const std::string path = content.WriteModel("main", bytes);
        ASSERT_EQ(holder.Load(modelwriter::HostPath(path), false), 1);
    }

    void LoadMeshes(const std::vector<modelwriter::MeshSpec>& meshes) { LoadMain(modelwriter::MeshListChunk(meshes)); }

    std::vector<std::string> NodeNames() const
    {
        std::vector<std::string> names;
        for (standin::Node* node : scene.Nodes())
            names.push_back(node->GetName());
        return names;
    }

    ModelHolder holder;
    standin::Scene scene;
};

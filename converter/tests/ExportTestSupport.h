#pragma once

#include "ExportScene.h"
#include "SceneTestSupport.h"

// Tests that build a scene through the plug-in's holder and collect it as the writers take it.
class ExportTest : public SceneTest {
protected:
    ExportScene Build(const std::vector<modelwriter::MeshSpec>& meshes)
    {
        LoadMeshes(meshes);
        EXPECT_EQ(holder.BuildScene(&scene), 1);
        return CollectScene(scene);
    }
};

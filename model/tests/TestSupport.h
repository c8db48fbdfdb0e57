#pragma once

#include "BrennicModel.h"
#include "ModelWriter.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

// Tests that write model files into a content folder of their own and load them as the host
// would, through Windows paths.
class ContentTest : public ::testing::Test {
protected:
    modelwriter::TemporaryFolder folder;
    modelwriter::ContentFolder content{folder.Path()};

    // Host form of the content root, as the loader derives it.
    std::string HostContentRoot() const { return modelwriter::HostPath(folder.Path() + "/content/"); }

    std::unique_ptr<CBrennicModel> Load(const std::string& posixPath, bool includeLods = false, int* result = nullptr)
    {
        auto model = std::make_unique<CBrennicModel>();
        const int loaded = model->Load(modelwriter::HostPath(posixPath), includeLods);
        if (result)
            *result = loaded;
        return model;
    }

    std::string WriteBytes(const std::string& name, const modelwriter::Bytes& bytes)
    {
        const std::string path = folder.Path() + "/" + name;
        modelwriter::WriteFile(path, bytes);
        return path;
    }
};

// A small mesh: one triangle, static, named as given.
inline modelwriter::MeshSpec Triangle(const std::string& name, const std::string& texture = "tex")
{
    modelwriter::MeshSpec mesh;
    mesh.name = name;
    mesh.texture = texture;
    mesh.staticVertices.resize(3);
    for (int i = 0; i < 3; ++i)
        mesh.staticVertices[i].position[i] = 1.0f;
    mesh.indices = {0, 1, 2};
    return mesh;
}

inline modelwriter::Bytes MeshList(std::vector<modelwriter::MeshSpec> meshes)
{
    return modelwriter::MeshListChunk(meshes);
}

// The mesh names of a model, in order.
inline std::vector<std::string> MeshNames(const CBrennicModel& model)
{
    std::vector<std::string> names;
    for (int i = 0; i < model.GetMeshCount(); ++i)
        names.push_back(model.GetMesh(i)->names[1]);
    return names;
}

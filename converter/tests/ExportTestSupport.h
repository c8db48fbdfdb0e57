#pragma once

#include "CollectScene.h"
#include "SceneTestSupport.h"
#include "TemporaryFolder.h"
#include "TextureLayout.h"
#include "Writers.h"

#include <string>
#include <vector>

// Tests that build a scene through the plug-in's holder, collect it as the writers take it, and
// write it.
class ExportTest : public SceneTest {
protected:
    ExportScene Build(const std::vector<modelwriter::MeshSpec>& meshes)
    {
        LoadMeshes(meshes);
        EXPECT_EQ(holder.BuildScene(&scene), 1);
        return CollectScene(scene);
    }

    // Writes the scene as brennic-import's writers do, to `name` in the output folder; its path.
    std::string Write(const ExportScene& exported, OutputFormat format, const std::string& name, TextureCache& cache,
                      bool copyTextures = false, bool keepDds = false)
    {
        OutputFiles files;
        const WriteOptions options{output.Path() + "/" + name, copyTextures, keepDds, &cache};
        WriteScene(*FormatInfo(format).open(options, files), exported, warnings);
        files.Commit();
        return options.outputPath;
    }

    modelwriter::TemporaryFolder output;
    std::vector<std::string> warnings; // the writers'
};

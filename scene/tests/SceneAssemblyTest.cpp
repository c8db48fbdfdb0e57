#include "SceneTestSupport.h"

using modelwriter::HostPath;
using modelwriter::MeshListChunk;
using modelwriter::MeshSpec;

namespace {

class SceneAssemblyTest : public SceneTest {
protected:
    // Builds a model of one-triangle meshes with these mesh names; returns the node names.
    std::vector<std::string> NamesFor(const std::vector<std::string>& meshNames)
    {
        std::vector<MeshSpec> meshes;
        for (const std::string& name : meshNames)
            meshes.push_back(Triangle(name));
        LoadMeshes(meshes);
        EXPECT_EQ(holder.BuildScene(&scene), 1);
        return NodeNames();
    }
};

TEST_F(SceneAssemblyTest, NodesAreNamedAfterTheTextAfterTheLastBackslash)
{
    EXPECT_EQ(NamesFor({"props\\box01", "a\\b\\c", "box01", "", "props\\", "props/box01", "props\\box01"}),
              (std::vector<std::string>{"box01", "c", "object_02", "object_03", "", "object_05", "box01"}));
}

TEST_F(SceneAssemblyTest, DefaultNamesHaveAtLeastTwoDigits)
{
    const std::vector<std::string> names = NamesFor(std::vector<std::string>(101, "plain"));
    ASSERT_EQ(names.size(), 101u);
    EXPECT_EQ(names[0], "object_00");
    EXPECT_EQ(names[99], "object_99");
    EXPECT_EQ(names[100], "object_100");
}

TEST_F(SceneAssemblyTest, EveryNodeIsCompleteAtTheIdentity)
{
    MeshSpec second = Triangle("props\\second", "tex2");
    second.staticVertices[0].position[0] = 5.0f;
    LoadMeshes({Triangle("props\\first", "tex1"), second});
    EXPECT_EQ(holder.BuildScene(&scene), 1);
    ASSERT_EQ(scene.Nodes().size(), 2u);
    for (standin::Node* node : scene.Nodes()) {
        EXPECT_TRUE(node->Transform().IsIdentity());
        EXPECT_EQ(node->TransformTime(), 0);
        ASSERT_NE(node->GetTriObject(), nullptr);
        EXPECT_EQ(node->GetTriObject()->GetMesh().numFaces, 1);
        ASSERT_NE(node->GetMtl(), nullptr);
    }
    EXPECT_STREQ(scene.Nodes()[1]->GetMtl()->GetName(), "props\\second");
    EXPECT_EQ(scene.Nodes()[1]->GetTriObject()->GetMesh().faces[0].smGroup, 2u);
    EXPECT_EQ(scene.Redraws(), 0) << "redrawing is the caller's";
}

TEST_F(SceneAssemblyTest, AMeshTheHostCannotTakeIsSkippedWithoutRenumberingTheOthers)
{
    standin::Factories().refuse = [](const std::string& factory, int call) {
        return factory == "CreateNewTriObject" && call == 1;
    };
    EXPECT_EQ(NamesFor({"a", "b", "c"}), (std::vector<std::string>{"object_00", "object_02"}));
    EXPECT_EQ(scene.Nodes()[1]->GetTriObject()->GetMesh().faces[0].smGroup, 3u);
}

TEST_F(SceneAssemblyTest, ANodeTheHostCannotMakeSkipsItsMeshWithoutALeak)
{
    standin::Factories().refuseNode = [](int call) { return call == 0; };
    EXPECT_EQ(NamesFor({"a", "b"}), (std::vector<std::string>{"object_01"}));
}

TEST_F(SceneAssemblyTest, ModelWithoutMeshesBuildsNothing)
{
    holder.model.reset(new CBrennicModel);
    EXPECT_EQ(holder.BuildScene(&scene), 1);
    EXPECT_EQ(scene.NodesCreated(), 0);
}

TEST_F(SceneAssemblyTest, TexturesAreFoundUnderTheModelsContentFolder)
{
    LoadMeshes({Triangle("a")});
    EXPECT_EQ(holder.contentRoot, HostContentRoot());

    ModelHolder loose;
    const std::string path = WriteBytes("loose/a.model", MeshListChunk(std::vector<MeshSpec>{Triangle("x")}));
    EXPECT_EQ(loose.Load(HostPath(path), false), 1);
    EXPECT_EQ(loose.contentRoot, "") << "no content folder in the path";
}

} // namespace

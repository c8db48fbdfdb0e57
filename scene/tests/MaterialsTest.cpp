#include "SceneTestSupport.h"

using modelwriter::Dds;

namespace {

class MaterialsTest : public SceneTest {
protected:
    std::string HostTexture(const std::string& size) const
    {
        return HostContentRoot() + "textures\\walls\\brick." + size + ".dds";
    }
    void WriteTexture(const std::string& size)
    {
        content.WriteTexture("walls\\brick", size,
                             Dds(1, 1, [](uint32_t, uint32_t) { return std::array<uint8_t, 4>{}; }));
    }

    standin::Node& DressedNode(const ModelMesh& mesh)
    {
        auto& node = *static_cast<standin::Node*>(scene.CreateNode());
        EXPECT_EQ(holder.ApplyMaterial(mesh, &node), 1);
        return node;
    }

    // Names `mesh` for a texture that is present, with the model's content folder known.
    void MakeBrickMesh(ModelMesh& mesh)
    {
        holder.contentRoot = HostContentRoot();
        WriteTexture("1024");
        mesh.names[0] = "walls\\brick";
        mesh.names[1] = "materials\\metal\\iron";
    }
};

TEST_F(MaterialsTest, TextureLookupTakesTheLargestSizePresent)
{
    EXPECT_EQ(holder.ResolveTexturePath("walls\\brick"), "walls\\brick") << "no content root: the bare name";

    holder.contentRoot = HostContentRoot();
    EXPECT_EQ(holder.ResolveTexturePath("walls\\brick"), HostTexture("512")) << "none present: the smallest, untested";
    WriteTexture("1024");
    EXPECT_EQ(holder.ResolveTexturePath("walls\\brick"), HostTexture("1024"));
    WriteTexture("2048");
    EXPECT_EQ(holder.ResolveTexturePath("walls\\brick"), HostTexture("2048"));
}

TEST_F(MaterialsTest, TextureLookupIgnoresCaseAsTheGamesPlatformDoes)
{
    holder.contentRoot = HostContentRoot();
    content.WriteTexture("Walls\\Brick", "1024", {0});
    EXPECT_EQ(holder.ResolveTexturePath("walls\\brick"), HostTexture("1024"))
        << "found, and named as the mesh names it";
}

TEST_F(MaterialsTest, AFolderNamedLikeATextureCountsAsPresent)
{
    holder.contentRoot = HostContentRoot();
    std::filesystem::create_directories(content.TexturePath("walls\\brick", "2048"));
    EXPECT_EQ(holder.ResolveTexturePath("walls\\brick"), HostTexture("2048"));
}

TEST_F(MaterialsTest, AMaterialShowsItsOneBitmapAsColourWithOpacity)
{
    ModelMesh mesh;
    MakeBrickMesh(mesh);
    standin::Node& first = DressedNode(mesh);
    auto* material = dynamic_cast<standin::StandardMaterial*>(first.GetMtl());
    ASSERT_NE(material, nullptr);
    EXPECT_STREQ(material->GetName(), "materials\\metal\\iron") << "the whole mesh name";
    auto* bitmap = dynamic_cast<standin::Bitmap*>(material->GetSubTexmap(ID_DI));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(material->GetSubTexmap(ID_OP), bitmap);
    EXPECT_EQ(material->GetActiveTexmap(), bitmap);
    EXPECT_TRUE(material->TestMtlFlag(8));
    EXPECT_EQ(bitmap->GetMapName(), HostTexture("1024"));
    EXPECT_STREQ(bitmap->GetName(), HostTexture("1024").c_str());
    EXPECT_TRUE(bitmap->AlphaAsMono());
    for (int channel = 0; channel < standin::StandardMaterial::channelCount; ++channel) {
        if (channel != ID_DI && channel != ID_OP) {
            EXPECT_EQ(material->GetSubTexmap(channel), nullptr) << channel;
        }
    }
}

TEST_F(MaterialsTest, EachNodeGetsItsOwnMaterial)
{
    ModelMesh mesh;
    MakeBrickMesh(mesh);
    Mtl* material = DressedNode(mesh).GetMtl();
    ASSERT_NE(material, nullptr);
    Texmap* bitmap = material->GetSubTexmap(ID_DI);
    ASSERT_NE(bitmap, nullptr);
    standin::Node& second = DressedNode(mesh);
    EXPECT_NE(second.GetMtl(), material) << "no material is shared";
    EXPECT_NE(second.GetMtl()->GetSubTexmap(ID_DI), bitmap) << "nor a bitmap";
}

TEST_F(MaterialsTest, HostObjectsTheHostCannotMakeLeaveTheNodeBareWithoutALeak)
{
    ModelMesh mesh;
    for (const char* refused : {"NewDefaultBitmapTex", "NewDefaultStdMat"}) {
        standin::Factories().refuse = [&](const std::string& factory, int) { return factory == refused; };
        EXPECT_EQ(DressedNode(mesh).GetMtl(), nullptr) << refused;
    }
}

} // namespace

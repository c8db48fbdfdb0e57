// The module's entry point, exports and class descriptor.
#include "PluginHost.h"

namespace {

// Runs first in its process: ctest runs every test alone, and the file's order holds otherwise.
TEST(PluginEntry, StringsAreNullBeforeTheEntryPointRuns)
{
    EXPECT_EQ(LibDescription(), nullptr);
    EXPECT_EQ(LibClassDesc(0)->ClassName(), nullptr);
    EXPECT_EQ(ModuleInstance(), nullptr);
}

TEST(PluginEntry, ExportsAnswerAsTheHostExpects)
{
    EXPECT_EQ(LibNumberClasses(), 1);
    EXPECT_EQ(LibVersion(), 0x2EE02100u);
    EXPECT_EQ(LibInitialize(), 1);
    EXPECT_EQ(LibShutdown(), 1);
    EXPECT_EQ(LibClassDesc(0), LibClassDesc(0)) << "one descriptor for the module's life";
    EXPECT_EQ(LibClassDesc(1), nullptr);
    EXPECT_EQ(LibClassDesc(-1), nullptr);
}

class ClassDescTest : public PluginHostTest {};

TEST_F(ClassDescTest, DescribesTheImporterClass)
{
    EXPECT_EQ(ModuleInstance(), StandInModuleInstance());
    EXPECT_STREQ(LibDescription(), "Brennic model importer (.model, .mesh)");
    auto* descriptor = static_cast<ClassDesc2*>(LibClassDesc(0));
    EXPECT_EQ(descriptor->IsPublic(), 1);
    EXPECT_STREQ(descriptor->ClassName(), "MeshImport");
    EXPECT_STREQ(descriptor->Category(), "import");
    EXPECT_STREQ(descriptor->InternalName(), "MeshImport");
    EXPECT_EQ(descriptor->SuperClassID(), 0xA10u);
    EXPECT_EQ(descriptor->ClassID(), Class_ID(0xB9323550, 0x5EBF9454));
    EXPECT_EQ(descriptor->HInstance(), StandInModuleInstance());
}

TEST_F(ClassDescTest, LookupsShareOneBuffer)
{
    ClassDesc* descriptor = LibClassDesc(0);
    const char* className = descriptor->ClassName();
    descriptor->Category();
    EXPECT_STREQ(className, "import") << "the next lookup overwrites the text";
    EXPECT_EQ(className, LibDescription());
    EXPECT_STRNE(static_cast<ClassDesc2*>(descriptor)->InternalName(), "Brennic model importer (.model, .mesh)")
        << "the internal name is a constant, not a string resource";
}

TEST_F(ClassDescTest, CreatesImportersThatDescribeTheFileType)
{
    auto* importer = static_cast<SceneImport*>(LibClassDesc(0)->Create(TRUE));
    ASSERT_NE(importer, nullptr);
    EXPECT_EQ(importer->ExtCount(), 2);
    EXPECT_STREQ(importer->Ext(0), "model");
    EXPECT_STREQ(importer->Ext(1), "mesh");
    EXPECT_STREQ(importer->Ext(2), "");
    EXPECT_STREQ(importer->LongDesc(), "Brennic Model File");
    EXPECT_STREQ(importer->ShortDesc(), "Brennic Model");
    EXPECT_STREQ(importer->AuthorName(), "Tamsel");
    EXPECT_STRNE(importer->CopyrightMessage(), "");
    EXPECT_STREQ(importer->OtherMessage1(), "");
    EXPECT_STREQ(importer->OtherMessage2(), "");
    EXPECT_EQ(importer->Version(), 110u);
    EXPECT_EQ(importer->ZoomExtents(), -1);
    importer->ShowAbout(nullptr);
    delete importer;

    standin::TheHeapFault() = {1, 0};
    EXPECT_EQ(LibClassDesc(0)->Create(FALSE), nullptr) << "the host's heap is exhausted";
    standin::TheHeapFault() = {};
}

} // namespace

// The module's entry point and class descriptor as behaviour: what the module returns before
// the entry point runs, the one shared string buffer, and importers made from the host's heap.
// The exports' and descriptions' fixed values are read from the built module under Wine.
#include "PluginHost.h"

#include <cstdlib>

namespace {

TEST(PluginEntryDeathTest, ModuleStateIsEmptyBeforeTheEntryPointRuns)
{
    // "threadsafe" runs the check in a new process of this program, whose module state is
    // as the host finds it after loading: whatever earlier tests did here is not there.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const bool asLoaded =
                !ModuleInstance() && !LibDescription() && !LibClassDesc(0)->ClassName() && !includeLodsSetting;
            std::exit(asLoaded ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

class ClassDescTest : public PluginHostTest {
protected:
    void TearDown() override
    {
        standin::TheHeapFault() = {};
        PluginHostTest::TearDown();
    }
};

TEST_F(ClassDescTest, LookupsShareOneBuffer)
{
    ClassDesc* descriptor = LibClassDesc(0);
    const char* className = descriptor->ClassName();
    EXPECT_STREQ(className, "MeshImport");
    descriptor->Category();
    EXPECT_STREQ(className, "import") << "the next lookup overwrites the text";
    EXPECT_EQ(className, LibDescription());
    EXPECT_STREQ(static_cast<ClassDesc2*>(descriptor)->InternalName(), "MeshImport")
        << "the internal name is a constant, not a string resource";
    EXPECT_EQ(LibClassDesc(-1), nullptr);
}

TEST_F(ClassDescTest, CreateMakesImportersOnTheHostHeap)
{
    standin::TheHeapFault() = {2, 0};
    auto* importer = static_cast<SceneImport*>(LibClassDesc(0)->Create(TRUE));
    ASSERT_NE(importer, nullptr);
    EXPECT_EQ(standin::TheHeapFault().count, 1) << "one allocation, from the host's heap";
    delete importer;
}

TEST_F(ClassDescTest, CreateAnswersNullWhenTheHostHeapIsExhausted)
{
    // The host's plain operator new throws; an exception must not reach the host.
    standin::TheHeapFault() = {1, 0};
    void* importer = reinterpret_cast<void*>(1);
    EXPECT_NO_THROW(importer = LibClassDesc(0)->Create(FALSE));
    EXPECT_EQ(importer, nullptr);
}

} // namespace

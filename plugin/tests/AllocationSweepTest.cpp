// A whole import of the sample with its n-th allocation failing, for every n up to the clean
// run's count and ten more: the import fails with 0 (no summary) or completes, and no exception
// reaches the host. The host's heap throws when it fails, as the SDK declares it.
//
// The sanitizer build checks that nothing leaks on any of these paths.
#include "PluginHost.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

// Every allocation of this test program goes through the stand-in's fault counter.
void* operator new(std::size_t size)
{
    void* memory = standin::TheHeapFault().Fails() ? nullptr : std::malloc(size ? size : 1);
    if (!memory)
        throw std::bad_alloc();
    return memory;
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return standin::TheHeapFault().Fails() ? nullptr : std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept
{
    return operator new(size, nothrow);
}
void operator delete(void* memory) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace {

class AllocationSweepTest : public PluginHostTest {
protected:
    void TearDown() override
    {
        standin::TheHeapFault() = {};
        PluginHostTest::TearDown();
    }

    // One import with the fault armed only while the plug-in runs.
    int ImportFailingAt(SceneImport& importer, const std::string& hostPath, long failAt)
    {
        standin::TheDesktop().dialogScript = {tickIncludeLods, letsGo};
        scene = standin::Scene{};
        standin::TheHeapFault() = {failAt, 0};
        const int result = importer.DoImport(hostPath.c_str(), &scene, nullptr, FALSE);
        allocations = standin::TheHeapFault().count;
        standin::TheHeapFault() = {};
        return result;
    }

    long allocations = 0;
};

TEST_F(AllocationSweepTest, EveryAllocationOfAnImportMayFail)
{
    auto* importer = static_cast<SceneImport*>(LibClassDesc(0)->Create(FALSE));
    ASSERT_NE(importer, nullptr);
    const std::string sample = modelwriter::HostPath(BRENNIC_SAMPLE_MODEL);

    ASSERT_EQ(ImportFailingAt(*importer, sample, LONG_MAX), 1);
    const long cleanRun = allocations;
    ASSERT_GT(cleanRun, 100);
    const size_t nodes = scene.Nodes().size();
    std::printf("clean import of the sample: %ld allocations\n", cleanRun);

    int failed = 0, completed = 0;
    for (long n = 1; n <= cleanRun + 10; ++n) {
        const size_t boxesBefore = Boxes().size();
        const int result = ImportFailingAt(*importer, sample, n);
        ASSERT_TRUE(result == 0 || result == 1) << "allocation " << n;
        ASSERT_EQ(Boxes().size(), boxesBefore + (result == 1 ? 1 : 0))
            << "allocation " << n << ": a summary only on success";
        if (result == 1) {
            ASSERT_LE(scene.Nodes().size(), nodes);
        }
        (result == 0 ? failed : completed)++;
    }
    EXPECT_GT(failed, 0);
    EXPECT_GE(completed, 10) << "past the clean run's count nothing fails";
    delete importer;
}

} // namespace

// One import from the host's call to the summary box: the settings dialog, the flag's life
// across imports, the summary, and the failures.
#include "PluginHost.h"

using modelwriter::MeshSpec;

namespace {

class ImportTest : public PluginHostTest {
protected:
    // content/meshes/main.model naming "part" and "part_lod1".
    std::string WriteModelWithLod()
    {
        content.WriteMesh("part", modelwriter::MeshListChunk(std::vector<MeshSpec>{Triangle("part")}));
        content.WriteMesh("part_lod1", modelwriter::MeshListChunk(std::vector<MeshSpec>{Triangle("part_lod1")}));
        return content.WriteModel(
            "main", modelwriter::Concat({modelwriter::MeshListChunk(std::vector<MeshSpec>{Triangle("main")}),
                                         modelwriter::ReferenceChunk({"part,part_lod1"})}));
    }

    std::string WriteMeshes(const std::vector<uint32_t>& indexCounts)
    {
        std::vector<MeshSpec> meshes;
        for (uint32_t count : indexCounts) {
            meshes.push_back(Triangle("m"));
            meshes.back().indices.assign(count, 0);
        }
        return content.WriteModel("main", modelwriter::MeshListChunk(meshes));
    }
};

TEST_F(ImportTest, SummaryReportsTheImportInOneBox)
{
    // 36 / 3 + 6 / 3 + 10 / 3 = 12 + 2 + 3: the tenth index is left over.
    EXPECT_EQ(Import(WriteMeshes({36, 6, 10}), {letsGo}), 1);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text,
              "Imported OK!\nImported objects : 03\nTotal polygons count : 17\n===============================\n"
              "Brennic Mesh Import, with thanks to everyone who tried it and said what broke");
    EXPECT_EQ(Boxes()[0].caption, "Brennic Model Importer (by Tamsel)");
    EXPECT_EQ(Boxes()[0].type, 0x40u);
    EXPECT_EQ(Boxes()[0].owner, nullptr);
    EXPECT_EQ(scene.Redraws(), 1);
    EXPECT_EQ(scene.Nodes().size(), 3u);
}

TEST_F(ImportTest, SummaryPrintsLargeCountsInFull)
{
    EXPECT_EQ(Import(WriteMeshes(std::vector<uint32_t>(123, 3)), {letsGo}), 1);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].text.find("Imported objects : 123\nTotal polygons count : 123\n"), std::string::npos);
}

TEST_F(ImportTest, SummarySaysWhenTheModelWasCutShort)
{
    // One file named 4,097 times: a load opens at most 4,096 referenced files.
    content.WriteMesh("part", modelwriter::MeshListChunk(std::vector<MeshSpec>{Triangle("part")}));
    std::string names;
    for (int i = 0; i < 4097; ++i)
        names += "part,";
    const std::string model = content.WriteModel("main", modelwriter::ReferenceChunk({names}));
    EXPECT_EQ(Import(model, {letsGo}), 1);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Imported only in part!\nImported objects : 4096\nTotal polygons count : 4096\n"
                               "Not imported whole: it refers to more than 4096 files.\n"
                               "===============================\n"
                               "Brennic Mesh Import, with thanks to everyone who tried it and said what broke");
    EXPECT_EQ(Boxes()[0].type, 0x30u) << "a warning";
}

TEST_F(ImportTest, SummaryCountsAMeshTheHostCouldNotTake)
{
    standin::Factories().refuse = [](const std::string& factory, int call) {
        return factory == "CreateNewTriObject" && call == 0;
    };
    EXPECT_EQ(Import(WriteMeshes({36, 6}), {letsGo}), 1);
    EXPECT_EQ(scene.Nodes().size(), 1u);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].text.find("objects : 02\nTotal polygons count : 14\n"), std::string::npos);
}

TEST_F(ImportTest, ClosingTheDialogIsASuccessfulImportOfNothing)
{
    EXPECT_EQ(Import(folder.Path() + "/content/meshes/none.model", {closeBox}), 1);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(scene.NodesCreated(), 0);
    EXPECT_EQ(scene.Redraws(), 0);
    ASSERT_EQ(Dialogs().size(), 1u);
    EXPECT_EQ(Dialogs()[0].result, 0);
}

TEST_F(ImportTest, DialogIsTheSettingsDialogCentredOverTheHostWindow)
{
    ASSERT_EQ(
        Import(WriteMeshes({3}), {Action{Action::PressButton, IDOK}, Action{Action::PressButton, IDCANCEL}, letsGo}),
        1);
    ASSERT_EQ(Dialogs().size(), 1u);
    const standin::DialogRecord& dialog = Dialogs()[0];
    EXPECT_EQ(dialog.templateId, UINT(IDD_IMPORT_SETTINGS));
    EXPECT_EQ(dialog.owner, GetActiveWindow());
    EXPECT_TRUE(dialog.centred);
    EXPECT_EQ(dialog.centredOver, GetActiveWindow());
    EXPECT_NE(dialog.initParam, 0) << "the importer rides along";
    EXPECT_EQ(dialog.result, 1) << "the keyboard's OK and Cancel leave the dialog open";
}

TEST_F(ImportTest, IncludeLodsFollowsTheCheckbox)
{
    const std::string model = WriteModelWithLod();
    includeLodsSetting = false;
    ASSERT_EQ(Import(model, {letsGo}), 1);
    EXPECT_EQ(NodeNames(), (std::vector<std::string>{"object_00", "object_01"}));

    scene = {};
    ASSERT_EQ(Import(model, {tickIncludeLods, letsGo}), 1);
    EXPECT_TRUE(includeLodsSetting);
    EXPECT_EQ(scene.Nodes().size(), 3u);
}

TEST_F(ImportTest, IncludeLodsIsKeptForTheNextImport)
{
    const std::string model = WriteModelWithLod();
    includeLodsSetting = false;
    ASSERT_EQ(Import(model, {tickIncludeLods, letsGo}), 1);

    // The next dialog opens showing the kept choice, and importing from it keeps it.
    scene = {};
    ASSERT_EQ(Import(model, {letsGo}), 1);
    EXPECT_TRUE(Dialogs().back().checkboxes.at(IDC_INCLUDE_LODS));
    EXPECT_EQ(scene.Nodes().size(), 3u);

    // Unticking is kept too, even when the dialog is then closed.
    ASSERT_EQ(Import(model, {tickIncludeLods, closeBox}), 1);
    EXPECT_FALSE(includeLodsSetting);
}

TEST_F(ImportTest, ADialogThatCannotBeShownImportsNothing)
{
    standin::TheDesktop().dialogCannotShow = true;
    EXPECT_EQ(Import(WriteMeshes({3}), {letsGo}), 0);
    EXPECT_EQ(scene.NodesCreated(), 0);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ImportTest, FailedLoadReturnsZeroWithoutABox)
{
    EXPECT_EQ(Import(folder.Path() + "/content/meshes/none.model", {letsGo}), 0);
    EXPECT_EQ(Import(WriteBytes("content/meshes/text.model", {'h', 'e', 'l', 'l', 'o'}), {letsGo}), 0);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(scene.Redraws(), 0);
}

TEST_F(ImportTest, PromptsShowEvenWhenTheHostAsksForNone)
{
    EXPECT_EQ(Import(WriteMeshes({3}), {letsGo}, TRUE), 1);
    EXPECT_EQ(Dialogs().size(), 1u);
    EXPECT_EQ(Boxes().size(), 1u);
}

} // namespace

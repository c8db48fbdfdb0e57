// Output files: each lands whole under its final name or not at all, whatever the folder holds
// (links, files the conversion reads) and however the run ends (an error, the file size limit,
// TERM, INT or HUP).
#include "OutputFiles.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <set>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Temporaries = OutputFiles::Temporaries;

using modelwriter::ReadText;

namespace {

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Every name under `folder`, relative to it.
std::set<std::string> Contents(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

std::string TemporariesName(const ::testing::TestParamInfo<Temporaries>& info)
{
    return info.param == Temporaries::Unnamed ? "Unnamed" : "Named";
}

class OutputFilesTest : public ::testing::TestWithParam<Temporaries> {
protected:
    std::string Path(const std::string& name) const { return folder.Path() + "/" + name; }

    modelwriter::TemporaryFolder folder;
};

TEST_P(OutputFilesTest, CommitLeavesExactlyTheFilesAskedForWithTheUsualMode)
{
    const mode_t previousMask = umask(027);
    {
        OutputFiles files({}, GetParam());
        // More files than wait unnamed, so some take temporary names before the commit.
        for (size_t i = 0; i < OutputFiles::maxUnnamedWaiting + 2; ++i)
            files.Write(Path("made/deeper/" + std::to_string(i) + ".bin"), "blob", 4);
        OutputFile& text = files.Create(Path("text.obj"));
        text << "v " << 1.5f << ' ' << uint64_t(7) << '\n';
        text.Write(nullptr, 0); // an empty source, as an empty .dds copied: no address to copy from
        text.Close();
        files.Commit();
    }
    umask(previousMask);

    std::set<std::string> expected{"made", "made/deeper", "text.obj"};
    for (size_t i = 0; i < OutputFiles::maxUnnamedWaiting + 2; ++i)
        expected.insert("made/deeper/" + std::to_string(i) + ".bin");
    EXPECT_EQ(Contents(folder.Path()), expected);
    EXPECT_EQ(ReadText(Path("made/deeper/0.bin")), "blob");
    EXPECT_EQ(ReadText(Path("text.obj")), "v 1.5 7\n");
    struct stat status {};
    ASSERT_EQ(stat(Path("text.obj").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST_P(OutputFilesTest, AFailureBeforeTheCommitLeavesNothingNotEvenTheFoldersItMade)
{
    fs::create_directory(Path("existing"));
    try {
        OutputFiles files({}, GetParam());
        for (size_t i = 0; i < OutputFiles::maxUnnamedWaiting + 2; ++i)
            files.Write(Path("existing/made/" + std::to_string(i) + ".png"), "png", 3);
        files.Create(Path("existing/made/main.obj")) << "v 1 2 3\n";
        throw std::runtime_error("the writer failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(Contents(folder.Path()), std::set<std::string>{"existing"});
}

TEST_P(OutputFilesTest, AFileWrittenOutOfOrderHoldsEachByteWhereItWasWritten)
{
    // As a streamed .glb is written: the tail first, past room left for the head, buffered
    // writes on both sides of each seek.
    const std::string tail(3 << 20, 't');
    {
        OutputFiles files({}, GetParam());
        OutputFile& file = files.Create(Path("out"));
        file.Seek(8);
        file << "ab" << tail;
        file.Seek(0);
        file << "head";
        file.Close();
        files.Commit();
    }
    EXPECT_EQ(ReadText(Path("out")), std::string("head\0\0\0\0ab", 10) + tail);
}

TEST_P(OutputFilesTest, ALinkPlantedAtTheTemporaryNameOfOldIsNeverWrittenThrough)
{
    WriteText(Path("victim"), "precious");
    fs::create_symlink(Path("victim"), Path(".out.glb.part-" + std::to_string(getpid())));
    OutputFiles files({}, GetParam());
    files.Write(Path("out.glb"), "glb", 3);
    files.Commit();
    EXPECT_EQ(ReadText(Path("victim")), "precious");
    EXPECT_EQ(ReadText(Path("out.glb")), "glb");
}

TEST_P(OutputFilesTest, ALinkAtTheFinalNameIsReplacedNotFollowed)
{
    WriteText(Path("victim"), "precious");
    fs::create_symlink(Path("victim"), Path("out.glb"));
    OutputFiles files({}, GetParam());
    files.Write(Path("out.glb"), "glb", 3);
    files.Commit();
    EXPECT_EQ(ReadText(Path("victim")), "precious");
    EXPECT_FALSE(fs::is_symlink(Path("out.glb")));
    EXPECT_EQ(ReadText(Path("out.glb")), "glb");
}

TEST_P(OutputFilesTest, AReplacedFileKeepsItsOtherNamesAndAFolderInTheWayStays)
{
    WriteText(Path("out.glb"), "old");
    fs::create_hard_link(Path("out.glb"), Path("kept.glb"));
    fs::create_directories(Path("in the way.glb/inside"));
    {
        OutputFiles files(Path("out.glb"), GetParam());
        files.Write(Path("out.glb"), "new", 3);
        files.Commit();
    }
    EXPECT_EQ(ReadText(Path("out.glb")), "new");
    EXPECT_EQ(ReadText(Path("kept.glb")), "old") << "replaced, never written over";
    {
        OutputFiles files(Path("out.glb"), GetParam());
        files.Write(Path("out.glb"), "newer", 5);
        fs::remove(Path("out.glb")); // gone before the commit: the name is taken all the same
        files.Commit();
    }
    EXPECT_EQ(ReadText(Path("out.glb")), "newer");

    try {
        OutputFiles files(Path("in the way.glb"), GetParam());
        files.Write(Path("in the way.glb"), "new", 3);
        files.Commit();
        ADD_FAILURE() << "a folder was replaced";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(error.what(), "cannot write " + Path("in the way.glb") + ": it is a folder");
    }
    EXPECT_EQ(Contents(folder.Path()),
              (std::set<std::string>{"out.glb", "kept.glb", "in the way.glb", "in the way.glb/inside"}));
}

TEST_P(OutputFilesTest, ANameThatFitsKeepsFittingAsATemporary)
{
    const std::string longest(NAME_MAX, 'n');
    OutputFiles files({}, GetParam());
    files.Write(Path(longest), "x", 1);
    files.Commit();
    EXPECT_EQ(ReadText(Path(longest)), "x");
}

TEST_P(OutputFilesTest, AFolderAnotherJobRemovedIsMadeAgain)
{
    OutputFiles surviving({}, GetParam());
    {
        OutputFiles failing({}, GetParam());
        failing.Create(Path("out/sub/a.glb")) << "a"; // makes out/sub/
        surviving.Create(Path("out/sub/b.glb")) << "b";
    } // fails: removes what it made, if empty (an unnamed temporary leaves it so)
    surviving.Commit();
    EXPECT_EQ(Contents(folder.Path()), (std::set<std::string>{"out", "out/sub", "out/sub/b.glb"}));
}

// Side files and the file naming them, as a conversion writes them.
void WriteOutput(const std::string& folder, Temporaries temporaries, size_t sideFiles, const std::string& text)
{
    OutputFiles files(folder + "/out.obj", temporaries);
    for (size_t i = 0; i < sideFiles; ++i)
        files.Write(folder + "/out_textures/" + std::to_string(i) + ".png", text.data(), text.size());
    files.Create(folder + "/out.obj") << text;
    files.Commit();
}

TEST_P(OutputFilesTest, ALowDescriptorLimitStillTakesAHundredFilesTwice)
{
    EXPECT_EXIT(
        {
            rlimit limit{};
            getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = 24;
            setrlimit(RLIMIT_NOFILE, &limit);
            WriteOutput(folder.Path(), GetParam(), 100, "first");
            WriteOutput(folder.Path(), GetParam(), 100, "again"); // every name taken: each waits for the commit
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(Contents(folder.Path()).size(), 102u);
    EXPECT_EQ(ReadText(Path("out_textures/99.png")), "again");
    EXPECT_EQ(ReadText(Path("out.obj")), "again");
}

TEST(OutputFiles, KillNineLeavesNeitherTemporariesNorTheOutput)
{
    const modelwriter::TemporaryFolder folder;
    EXPECT_EXIT(
        {
            OutputFiles files(folder.Path() + "/out.obj");
            for (size_t i = 0; i < 100; ++i)
                files.Write(folder.Path() + "/out_textures/" + std::to_string(i) + ".png", "png", 3);
            files.Create(folder.Path() + "/out.obj") << "v 1 2 3\n";
            raise(SIGKILL);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    for (const std::string& name : Contents(folder.Path()))
        EXPECT_EQ(name.find(".part-"), std::string::npos) << name;
    EXPECT_FALSE(fs::exists(folder.Path() + "/out.obj"));
}

INSTANTIATE_TEST_SUITE_P(Both, OutputFilesTest, ::testing::Values(Temporaries::Unnamed, Temporaries::Named),
                         TemporariesName);

TEST(OutputFiles, FilesTheConversionReadsAreRefusedUnderEverySpelling)
{
    const modelwriter::TemporaryFolder folder;
    const std::string input = folder.Path() + "/in.model";
    WriteText(input, "model");
    fs::create_hard_link(input, folder.Path() + "/hard.model");
    fs::create_symlink(input, folder.Path() + "/soft.model");
    fs::create_directory(folder.Path() + "/sub");

    OutputFiles files;
    files.ProtectFile(input);
    files.ProtectFile(folder.Path() + "/no such file"); // nothing to protect
    for (const std::string& spelling :
         {input, folder.Path() + "/sub/../in.model", folder.Path() + "/hard.model", folder.Path() + "/soft.model"}) {
        EXPECT_THROW(files.Create(spelling), std::runtime_error) << spelling;
        try {
            files.CheckOutput(spelling);
            ADD_FAILURE() << spelling << " passed the check";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("a file this conversion reads"), std::string::npos)
                << error.what();
        }
    }
    files.Write(folder.Path() + "/out.glb", "glb", 3);
    files.Commit();
    EXPECT_EQ(ReadText(input), "model");
}

TEST(OutputFiles, ErrorsNameTheFileTheUserAskedFor)
{
    const modelwriter::TemporaryFolder folder;
    const std::string requested = folder.Path() + "/out.glb";
    WriteText(folder.Path() + "/blocker", "");
    const std::string tooLong(NAME_MAX + 1, 'n');
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {folder.Path() + "/blocker/out_textures/a.png",
         "cannot write " + requested + ": " + folder.Path() + "/blocker: not a folder"},
        {folder.Path() + "/" + tooLong, "cannot write " + requested + ": " + folder.Path() + "/" + tooLong +
                                            ": the name is too long for the file system (" + std::to_string(NAME_MAX) +
                                            " bytes at most)"},
        {folder.Path() + "/" + tooLong + "/a.png", "cannot write " + requested + ": " + folder.Path() + "/" + tooLong +
                                                       ": the name is too long for the file system"},
    };
    for (const auto& test : cases) {
        OutputFiles files(requested);
        try {
            files.Create(test.path);
            ADD_FAILURE() << test.path << " was made";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(error.what(), test.message);
        }
    }
    EXPECT_EQ(Contents(folder.Path()), std::set<std::string>{"blocker"});
}

TEST(OutputFiles, FilesystemErrorsNameThePathWithTheReason)
{
    const fs::filesystem_error error("status", "some/path", std::make_error_code(std::errc::filename_too_long));
    EXPECT_EQ(Describe(error), "some/path: the name is too long for the file system");
}

// --- Signals

const int cleanedSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::string SignalName(const ::testing::TestParamInfo<int>& info)
{
    return info.param == SIGTERM ? "TERM" : info.param == SIGINT ? "INT" : "HUP";
}

class SignalTest : public ::testing::TestWithParam<int> {
protected:
    modelwriter::TemporaryFolder folder;
};

TEST_P(SignalTest, RemovesWhatTheRunMadeBeforeTheSignalEndsIt)
{
    const std::string made = folder.Path() + "/made/deeper";
    EXPECT_EXIT(
        {
            signalcleanup::Install();
            OutputFiles files({}, Temporaries::Named);
            files.Write(made + "/done.png", "png", 3);
            files.Create(made + "/main.obj") << "v 1 2 3\n";
            raise(GetParam());
        },
        ::testing::KilledBySignal(GetParam()), "");
    EXPECT_EQ(Contents(folder.Path()), std::set<std::string>{});
}

// A FUSE file system (bindfs over a temporary folder): it keeps a file removed while open
// under a hidden name, and has no unnamed temporaries. Skipped where nothing can be mounted.
class FuseFolder {
public:
    FuseFolder() : mountPoint(outside.Path() + "/mounted")
    {
        fs::create_directory(beneath.Path() + "/x");
        fs::create_directory(mountPoint);
        const std::string command = "bindfs '" + beneath.Path() + "' '" + mountPoint + "' 2>/dev/null";
        mounted = std::system(command.c_str()) == 0;
    }
    ~FuseFolder()
    {
        if (mounted)
            std::system(("fusermount -u '" + mountPoint + "' 2>/dev/null || umount '" + mountPoint + "'").c_str());
    }
    FuseFolder(const FuseFolder&) = delete;
    FuseFolder& operator=(const FuseFolder&) = delete;

    modelwriter::TemporaryFolder beneath, outside;
    const std::string mountPoint;
    bool mounted = false;
};

TEST_P(SignalTest, OnFuseLeavesNoFolderEmpty)
{
    const FuseFolder fuse;
    if (!fuse.mounted)
        GTEST_SKIP() << "no FUSE file system could be mounted here (bindfs, /dev/fuse, privileges)";
    const std::string made = fuse.mountPoint + "/made/out_textures";
    EXPECT_EXIT(
        {
            signalcleanup::Install();
            OutputFiles files(fuse.mountPoint + "/made/out.obj");
            files.Write(made + "/done.png", "png", 3);
            files.Create(made + "/open.png") << "png";
            raise(GetParam());
        },
        ::testing::KilledBySignal(GetParam()), "");
    EXPECT_EQ(Contents(fuse.mountPoint), std::set<std::string>{"x"});
}

// A model large enough that writing its OBJ takes a while.
std::string WriteLargeModel(const modelwriter::ContentFolder& content)
{
    std::vector<modelwriter::MeshSpec> meshes(4);
    for (size_t m = 0; m < meshes.size(); ++m) {
        modelwriter::MeshSpec& mesh = meshes[m];
        mesh.name = "large" + std::to_string(m);
        mesh.texture = "none";
        mesh.staticVertices.resize(65535);
        for (size_t i = 0; i < mesh.staticVertices.size(); ++i) {
            float* position = mesh.staticVertices[i].position;
            position[0] = float(i % 256);
            position[1] = float(i / 256);
            position[2] = float(m);
        }
        for (uint16_t i = 0; i + 2 < 65535; i += 3)
            mesh.indices.insert(mesh.indices.end(), {i, uint16_t(i + 1), uint16_t(i + 2)});
    }
    return content.WriteModel("large", modelwriter::MeshListChunk(meshes));
}

// Whether the process has a file open in `folder` (an unnamed temporary shows as "folder/#N").
bool WritesInto(pid_t process, const std::string& folder)
{
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(process) + "/fd", error)) {
        const fs::path target = fs::read_symlink(entry.path(), error);
        if (!error && target.parent_path() == folder)
            return true;
    }
    return false;
}

TEST_P(SignalTest, TheCommandEndedWhileWritingLeavesNothing)
{
    const modelwriter::ContentFolder content(folder.Path());
    const std::string model = WriteLargeModel(content);
    const std::string outputFolder = folder.Path() + "/fresh/deeper";
    const std::string output = outputFolder + "/large.obj";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* const arguments[] = {BRENNIC_IMPORT, "-q", "-o", output.c_str(), model.c_str(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, BRENNIC_IMPORT, &actions, nullptr, const_cast<char* const*>(arguments), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Signalled as soon as it writes; a run that ends first fails the test below.
    int status = 0;
    bool ended = false;
    while (!WritesInto(child, outputFolder)) {
        ended = waitpid(child, &status, WNOHANG) == child;
        if (ended)
            break;
        const timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
    if (!ended) {
        kill(child, GetParam());
        ASSERT_EQ(waitpid(child, &status, 0), child);
    }
    ASSERT_TRUE(WIFSIGNALED(status)) << "the command ended by itself before it was signalled, status " << status;
    EXPECT_EQ(WTERMSIG(status), GetParam());
    EXPECT_FALSE(fs::exists(folder.Path() + "/fresh"));
}

INSTANTIATE_TEST_SUITE_P(Each, SignalTest, ::testing::ValuesIn(cleanedSignals), SignalName);

} // namespace

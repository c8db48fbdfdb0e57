// Inputs that are not files, or stop being the file they were: each is refused or dropped with
// a message, without blocking and without a crash. Cases that would hang or kill the process
// run in a child (a death test), so they fail instead of stopping the suite.

#include "BrennicModel.h"
#include "ChunkReader.h"

#include "TestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace modelwriter;
using ::testing::ExitedWithCode;

namespace {

// A child that has not finished by then is stuck: the guard ends it and the test fails.
constexpr unsigned hangGuardSeconds = 30;

class HostileFileTest : public ContentTest {
protected:
    std::string MeshFolder() const { return folder.Path() + "/content/meshes"; }
    void SetUp() override { std::filesystem::create_directories(MeshFolder()); }
};

bool HasWarning(const CBrennicModel& model, const std::string& text)
{
    for (const LoadWarning& warning : model.Warnings())
        if (warning.message.find(text) != std::string::npos)
            return true;
    return false;
}

TEST_F(HostileFileTest, FifoAsTheModelIsRefusedWithoutBlocking)
{
    const std::string fifo = MeshFolder() + "/pipe.model";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            alarm(hangGuardSeconds);
            bool refused;
            {
                CBrennicModel model;
                refused = model.Load(HostPath(fifo), false) == 0 &&
                          model.OpenProblem() == "is a FIFO (named pipe), not a file";
            }
            _exit(refused ? 0 : 1);
        },
        ExitedWithCode(0), "");
}

TEST_F(HostileFileTest, FifoAsAReferencedMeshIsSkippedWithoutBlocking)
{
    ASSERT_EQ(mkfifo((MeshFolder() + "/pipe.mesh").c_str(), 0600), 0);
    const std::string main =
        content.WriteModel("main", Concat({ReferenceChunk({"pipe"}), MeshList({Triangle("main")})}));
    EXPECT_EXIT(
        {
            alarm(hangGuardSeconds);
            bool skipped;
            {
                CBrennicModel model;
                skipped = model.Load(HostPath(main), false) == 1 && model.References().size() == 1 &&
                          model.References()[0].outcome == ReferenceNote::Outcome::Missing &&
                          model.References()[0].problem == "is a FIFO (named pipe), not a file";
            }
            _exit(skipped ? 0 : 1);
        },
        ExitedWithCode(0), "");
}

TEST_F(HostileFileTest, WhatCannotBeReadIsSaidInWords)
{
    const std::string socketPath = MeshFolder() + "/socket.model";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const struct {
        std::string path;
        const char* problem;
    } cases[] = {
        {"/dev/null", "is a device, not a file"},
        {MeshFolder(), "is a folder, not a file"},
        {socketPath, "is a socket, not a file"},
        {WriteBytes("empty.model", {}), "the file is empty"},
        {MeshFolder() + "/none.model", "no such file"},
        {MeshFolder() + "/" + std::string(300, 'n') + ".model", "the name is too long for the file system"},
    };
    for (const auto& refused : cases) {
        CBrennicModel model;
        EXPECT_EQ(model.Load(HostPath(refused.path), false), 0) << refused.path;
        EXPECT_EQ(model.OpenProblem(), refused.problem) << refused.path;
    }
    close(listener);
}

TEST_F(HostileFileTest, FileOver4GiBIsTooLargeForTheFormat)
{
    const std::string huge = WriteBytes("content/meshes/huge.mesh", MeshList({Triangle("m")}));
    ASSERT_EQ(truncate(huge.c_str(), off_t{1} << 32), 0); // sparse: no disk, no memory
    CBrennicModel model;
    EXPECT_EQ(model.Load(HostPath(huge), false), 0);
    EXPECT_EQ(model.OpenProblem(), "too large for the format (4 GiB at most)");

    const auto referring =
        Load(content.WriteModel("main", Concat({ReferenceChunk({"huge"}), MeshList({Triangle("main")})})));
    ASSERT_EQ(referring->References().size(), 1u);
    EXPECT_EQ(referring->References()[0].problem, "too large for the format (4 GiB at most)");
}

TEST_F(HostileFileTest, NameHoldingABackslashIsExplained)
{
    const std::string odd = WriteBytes("content/meshes/odd\\name.model", MeshList({Triangle("m")}));
    CBrennicModel model;
    EXPECT_EQ(model.Load(HostPath(odd), false), 0) << "the host's path form takes the '\\' as a separator";
    EXPECT_NE(model.OpenProblem().find("its name holds a '\\'"), std::string::npos) << model.OpenProblem();

    CBrennicModel missing;
    missing.Load(HostPath(MeshFolder() + "/odd/other.model"), false);
    EXPECT_EQ(missing.OpenProblem(), "no such file");
}

// Two meshes of a few pages each, so that a cut falls inside the file's chunks.
Bytes PagesOfMeshes()
{
    MeshSpec big = Triangle("big");
    big.staticVertices.resize(500);
    return MeshList({big, Triangle("after")});
}

TEST_F(HostileFileTest, ReaderOfAFileThatShrankReadsZerosMarkedAsChanged)
{
    const Bytes bytes = PagesOfMeshes();
    const std::string path = WriteBytes("shrinking.mesh", bytes);
    EXPECT_EXIT(
        {
            bool zeros = true;
            bool changed;
            {
                CChunkReader reader;
                if (!reader.Open(HostPath(path)))
                    _exit(2);
                const bool before = reader.Changed();
                if (truncate(path.c_str(), 0) != 0)
                    _exit(3);
                for (uint32_t i = 0; i < reader.Size(); ++i)
                    zeros = zeros && reader.Begin()[i] == 0;
                changed = reader.Changed() && !before;
            }
            _exit(zeros && changed ? 0 : 1);
        },
        ExitedWithCode(0), "");
}

TEST_F(HostileFileTest, FileThatShrinksWhileReadLeavesNothingOfIt)
{
    const std::string path = content.WriteMesh("main", PagesOfMeshes());
    EXPECT_EXIT(
        {
            bool dropped;
            {
                CBrennicModel model;
                CChunkReader root;
                if (!root.Open(HostPath(path)))
                    _exit(2);
                if (truncate(path.c_str(), 4096) != 0)
                    _exit(3);
                model.ReadFile(root, HostPath(path));
                dropped = model.GetMeshCount() == 0 && HasWarning(model, "the file changed while it was read");
            }
            _exit(dropped ? 0 : 1);
        },
        ExitedWithCode(0), "");
}

TEST_F(HostileFileTest, BusErrorElsewhereStillEndsTheProcess)
{
    // A mapping of ours makes the handler live; a fault in a mapping it does not know of is
    // left to the handler installed before it: the default SIGBUS, or a sanitizer's report and exit.
    const std::string ours = content.WriteMesh("ours", MeshList({Triangle("m")}));
    const std::string theirs = WriteBytes("theirs.bin", Bytes(8192, 1));
    EXPECT_EXIT(
        {
            CChunkReader reader;
            reader.Open(HostPath(ours));
            const int fd = open(theirs.c_str(), O_RDONLY);
            auto* view = static_cast<volatile const uint8_t*>(mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0));
            if (ftruncate(open(theirs.c_str(), O_WRONLY), 0) != 0)
                _exit(3);
            _exit(view[4096] == 0 ? 0 : 4); // reached only when the fault was swallowed
        },
        [](int status) { return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 1); }, "");
}

} // namespace

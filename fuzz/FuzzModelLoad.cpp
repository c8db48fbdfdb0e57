// libFuzzer target over CBrennicModel::Load and the scene built from what it loads. Each input
// is written to content/meshes/fuzz.mesh in a private content folder that also holds a few
// valid meshes, so reference chunks in the input can name the input itself (a cycle), real
// files, or missing ones. After the load the model is checked; a broken invariant traps so
// libFuzzer keeps the input.

#include "BrennicModel.h"
#include "FuzzMeshes.h"
#include "ModelHolder.h"
#include "ModelInvariants.h"
#include "ModelWriter.h"
#include "StandInHost.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace modelwriter;

namespace {

struct Content {
    std::string folder;    // made by mkdtemp, removed at exit
    std::string inputPath; // POSIX path each input is written to
    std::string hostPath;  // the same path as the host hands it to Load
    ReadableFiles helpers; // the valid files: all a load can read besides the input
};

Content* content = nullptr;

void RemoveContent()
{
    std::error_code ignored;
    std::filesystem::remove_all(content->folder, ignored);
}

Content* WriteContent()
{
    char pattern[] = "/tmp/brennic-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("fuzz_model_load: mkdtemp");
        std::abort();
    }
    auto* made = new Content;
    made->folder = pattern;
    const ContentFolder folder(made->folder);
    made->inputPath = folder.MeshPath(fuzzmeshes::inputName);
    made->hostPath = HostPath(made->inputPath);

    // The skinned file refers back to the input, so a cycle can run through another file.
    const Bytes a = MeshListChunk(std::vector<MeshSpec>{fuzzmeshes::StaticTriangle("a")});
    const Bytes lod = MeshListChunk(std::vector<MeshSpec>{fuzzmeshes::StaticTriangle("a_lod1")});
    const Bytes skinned = Concat({MeshListChunk(std::vector<MeshSpec>{fuzzmeshes::SkinnedTriangle("skinned", 3)}),
                                  ReferenceChunk({std::string(fuzzmeshes::staticName) + ",", fuzzmeshes::inputName})});
    folder.WriteMesh(fuzzmeshes::staticName, a);
    folder.WriteMesh(fuzzmeshes::lodName, lod);
    folder.WriteMesh(fuzzmeshes::skinnedName, skinned);
    made->helpers = {std::max({a.size(), lod.size(), skinned.size()}), a.size() + lod.size() + skinned.size()};
    return made;
}

// Overwrites in place and then sets the length: opening with O_TRUNC makes ext4 flush the
// file to disk on close (its replace-by-truncate safety), which costs most of each run.
void WriteInput(const uint8_t* data, size_t size)
{
    const int fd = open(content->inputPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror("fuzz_model_load: open");
        std::abort();
    }
    for (size_t written = 0; written < size;) {
        const ssize_t n = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
        if (n <= 0) {
            std::perror("fuzz_model_load: write");
            std::abort();
        }
        written += static_cast<size_t>(n);
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        std::perror("fuzz_model_load: ftruncate");
        std::abort();
    }
    close(fd);
}

void Check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

// Every node holds one mesh whose faces, after the clean-up, point at vertices it has.
void CheckScene(const standin::Scene& scene, int meshCount)
{
    Check(scene.Nodes().size() == size_t(meshCount));
    for (standin::Node* node : scene.Nodes()) {
        const Mesh& mesh = node->GetTriObject()->GetMesh();
        Check(mesh.numTVFaces == mesh.numFaces);
        for (int f = 0; f < mesh.numFaces; ++f)
            for (int k = 0; k < 3; ++k) {
                Check(mesh.faces[f].v[k] < DWORD(mesh.numVerts));
                Check(mesh.tvFace[f].t[k] < DWORD(mesh.numTVerts));
            }
        Check(node->GetMtl() != nullptr);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    content = WriteContent();
    std::atexit(RemoveContent);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WriteInput(data, size);
    // Size parity picks the LOD switch, so both ways are reached from every kind of input.
    const bool includeLods = size % 2 == 1;
    ModelHolder holder;
    const int result = holder.Load(content->hostPath, includeLods);
    const CBrennicModel& model = *holder.model;
    if (size == 0) {
        Check(result == 0 && model.GetMeshCount() == 0); // an empty file cannot be opened
        return 0;
    }
    const ReadableFiles files{std::max<uint64_t>(size, content->helpers.largest), size + content->helpers.total};
    const std::string broken = BrokenModelInvariant(model, result, files);
    if (!broken.empty()) {
        std::fprintf(stderr, "fuzz_model_load: %s\n", broken.c_str());
        __builtin_trap();
    }
    if (result) {
        standin::Scene scene;
        holder.BuildScene(&scene);
        CheckScene(scene, model.GetMeshCount());
    }
    return 0;
}

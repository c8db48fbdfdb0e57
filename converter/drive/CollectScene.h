#pragma once

// The stand-in host's scene, collected as the writers take it: as the plug-in builds it, or after.

#include "ExportScene.h"
#include "StandInHost.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What collecting took: corners read, and output vertices a corner was compared with.
struct CollectWork {
    size_t corners = 0;
    size_t comparisons = 0;
};

class CBrennicModel;

// The normals the game authored: per loaded mesh, in the model's order (which is the order of
// the plug-in's nodes), the unit normal of each file vertex in the host's axes.
using GameNormals = std::vector<std::vector<Point3>>;

// Each vertex's packed normal word, mapped from the bytes' 0..1 to -1..1 and normalised.
GameNormals TakeGameNormals(const CBrennicModel& model);

// Collects nodes as the scene takes them in: each mesh is read while the plug-in builds the
// next (on a second thread once the scene is large enough to be worth one), and with
// `releaseCollected` each node's host mesh is freed once read, so a large scene's host meshes
// are never all held at once. With a `stream`, each mesh goes to it as soon as it and all
// before it are collected. Output is that of CollectScene over the same nodes.
class SceneCollector {
public:
    SceneCollector(const GameNormals* gameNormals, bool releaseCollected, MeshStream* stream = nullptr);
    ~SceneCollector(); // stops the second thread, if Finish was not reached
    SceneCollector(const SceneCollector&) = delete;
    SceneCollector& operator=(const SceneCollector&) = delete;

    // On the scene's thread, as the scene takes `node` in. Never throws: a failure is kept, and
    // thrown by Finish.
    void Add(standin::Node& node) noexcept;
    // Collects what is left (both threads sharing it) and hands the scene over.
    ExportScene Finish(CollectWork* work = nullptr);

private:
    struct Task;
    void Collect(Task& task);
    // Collects waiting tasks until none is left (with `waitForMore`, none is left and Finish
    // was called) or one failed.
    void Drain(bool waitForMore);
    void ReleaseCollected();
    // Hands the stream each mesh now complete in order (waiting while another thread does).
    void Deliver();

    const GameNormals* gameNormals;
    const bool releaseCollected;
    MeshStream* const stream;
    ExportScene scene;
    std::deque<ExportMesh> meshes; // grows while tasks write into earlier ones
    std::map<std::string, int> textureByPath;
    size_t nodesWithMeshes = 0;
    size_t cornersSeen = 0;
    bool normalsMisfit = false;

    std::mutex lock; // guards what follows
    std::condition_variable wake;
    std::deque<Task> waiting;
    std::vector<standin::Node*> collected; // their objects are released on the scene's thread
    bool finishing = false;
    std::exception_ptr failure;
    struct Ordered {
        const ExportMesh* mesh;
        bool complete;
    };
    std::vector<Ordered> order; // every mesh in the scene's order
    size_t delivered = 0;       // to the stream
    std::mutex delivering;      // held while the stream takes a mesh: one thread at a time
    CollectWork work;
    std::thread worker;
};

// Collects the scene's nodes, in order. Host paths (with '\') become POSIX paths, and each
// texture is looked up ignoring case, once. With `gameNormals`, each corner takes its file
// vertex's normal (the plug-in's texture vertices are the file's vertices before the weld), so
// corners the file gives different normals stay apart. Throws when they do not fit the meshes.
ExportScene CollectScene(const standin::Scene& scene, CollectWork* work = nullptr,
                         const GameNormals* gameNormals = nullptr);

// The texture at `path` (POSIX form), found as the plug-in's platform finds files: whatever
// the case of its name.
ExportTexture LookUpTexture(const std::string& path);

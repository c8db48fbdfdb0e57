#pragma once

// The stand-in host imitates the host application: its scene here, its mesh clean-up and
// normals (Mesh.cpp) and its weld (Weld.cpp). The converter shows what the host would show
// only while these give the host's results, so a change to them changes the converter's output.
//
// The scene keeps what the plug-in hands it, so tests and tools can read it back. Objects made
// by the host's factories belong to whatever takes them in (a node its object and material, a
// material its maps); nodes belong to the scene. The test hooks are in TestHooks.h.

#include "HostApi.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace standin {

class Bitmap : public BitmapTex {
public:
    void SetMapName(const MCHAR* name) override;
    const MCHAR* GetMapName() override { return mapName.c_str(); }
    void SetAlphaAsMono(BOOL on) override { alphaAsMono = on != FALSE; }
    bool AlphaAsMono() const { return alphaAsMono; }

private:
    std::string mapName;
    bool alphaAsMono = false;
};

class StandardMaterial : public StdMat2 {
public:
    static constexpr int channelCount = 12;

    int NumSubTexmaps() override { return channelCount; }
    Texmap* GetSubTexmap(int channel) override;
    void SetSubTexmap(int channel, Texmap* map) override;
    void SetActiveTexmap(MtlBase* map) override { activeMap = map; }
    MtlBase* GetActiveTexmap() override { return activeMap; }

private:
    struct DeleteMap {
        void operator()(Texmap* map) const { map->DeleteThis(); }
    };
    Texmap* channels[channelCount] = {};
    std::vector<std::unique_ptr<Texmap, DeleteMap>> ownedMaps; // each map once
    MtlBase* activeMap = nullptr;
};

class Node : public ImpNode, public INode {
public:
    // ImpNode
    RefResult Reference(ObjectHandle target) override;
    void SetTransform(TimeValue time, Matrix3 transform) override;
    void SetName(const MCHAR* text, bool = true) override { name = text ? text : ""; }
    INode* GetINode() override { return this; }
    // INode
    const MCHAR* GetName() override { return name.c_str(); }
    void SetMtl(Mtl* material) override;
    Mtl* GetMtl() override { return material.get(); }

    TriObject* GetTriObject() const { return dynamic_cast<TriObject*>(object.get()); }
    // Drops the node's object once a tool has read what it needs from it, so that a large
    // scene's meshes are not all held at once.
    void ReleaseObject() { object.reset(); }
    const Matrix3& Transform() const { return transform; }
    TimeValue TransformTime() const { return transformTime; }

private:
    struct DeleteTarget {
        void operator()(ReferenceTarget* target) const { target->DeleteThis(); }
    };
    std::string name;
    std::unique_ptr<Object, DeleteTarget> object;
    std::unique_ptr<Mtl, DeleteTarget> material;
    Matrix3 transform;
    TimeValue transformTime = -1;
};

class Scene : public ImpInterface {
public:
    ImpNode* CreateNode() override;
    void RedrawViews() override { ++redraws; }
    void AddNodeToScene(ImpNode* node) override; // a node it did not make is ignored

    // The nodes added to the scene, in order.
    const std::vector<Node*>& Nodes() const { return sceneNodes; }
    // Called with each node as the scene takes it in, on the plug-in's thread. The plug-in
    // leaves a node alone once it is in the scene, so the observer may read it at once.
    void SetNodeObserver(std::function<void(Node&)> observer) { nodeObserver = std::move(observer); }
    int Redraws() const { return redraws; }
    int NodesCreated() const { return int(createdNodes.size()); }

private:
    std::vector<std::unique_ptr<Node>> createdNodes;
    std::vector<Node*> sceneNodes;
    std::function<void(Node&)> nodeObserver;
    int createNodeCalls = 0;
    int redraws = 0;
};

// The normals of a mesh's face corners from its last buildNormals: each its own, or its
// vertex's where the corners of a vertex share one. Valid while the mesh is not changed.
class CornerNormals {
public:
    explicit CornerNormals(const Mesh& mesh);

    // False when no normals were built since the mesh's faces last changed.
    bool Built() const { return perCorner || perVertex; }
    // True when every corner takes its vertex's normal: corners on one vertex share it.
    bool ByVertex() const { return !perCorner && perVertex; }

    const Point3& operator()(size_t face, int corner) const
    {
        return perCorner ? perCorner[3 * face + size_t(corner)] : perVertex[faces[face].v[corner]];
    }

private:
    const Point3* perCorner = nullptr;
    const Point3* perVertex = nullptr;
    const Face* faces = nullptr;
};

} // namespace standin

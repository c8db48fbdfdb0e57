#include "StandInHost.h"
#include "TestHooks.h"

#include <algorithm>

namespace standin {

void Bitmap::SetMapName(const MCHAR* name)
{
    mapName = name ? name : "";
}

Texmap* StandardMaterial::GetSubTexmap(int channel)
{
    return channel >= 0 && channel < channelCount ? channels[channel] : nullptr;
}

void StandardMaterial::SetSubTexmap(int channel, Texmap* map)
{
    if (channel < 0 || channel >= channelCount)
        return;
    channels[channel] = map;
    const bool owned =
        std::any_of(ownedMaps.begin(), ownedMaps.end(), [&](const auto& kept) { return kept.get() == map; });
    if (map && !owned) {
        ownedMaps.reserve(ownedMaps.size() + 1); // so adopting cannot fail after the map is taken
        ownedMaps.emplace_back(map);
    }
}

RefResult Node::Reference(ObjectHandle target)
{
    object.reset(target);
    return REF_SUCCEED;
}

void Node::SetTransform(TimeValue time, Matrix3 matrix)
{
    transform = matrix;
    transformTime = time;
}

void Node::SetMtl(Mtl* newMaterial)
{
    material.reset(newMaterial);
}

ImpNode* Scene::CreateNode()
{
    const std::function<bool(int)>& refuse = Factories().refuseNode;
    if (refuse && refuse(createNodeCalls++))
        return nullptr;
    createdNodes.push_back(std::make_unique<Node>());
    return createdNodes.back().get();
}

void Scene::AddNodeToScene(ImpNode* node)
{
    // Searched from the newest: the plug-in adds each node just after making it.
    const auto created =
        std::find_if(createdNodes.rbegin(), createdNodes.rend(), [&](const auto& own) { return own.get() == node; });
    if (created == createdNodes.rend())
        return;
    sceneNodes.push_back(created->get());
    if (nodeObserver)
        nodeObserver(*sceneNodes.back());
}

FactoryHooks& Factories()
{
    static FactoryHooks hooks;
    return hooks;
}

HeapFault& TheHeapFault()
{
    static HeapFault fault;
    return fault;
}

namespace {

template <typename T>
T* Make(const char* factory)
{
    FactoryHooks& hooks = Factories();
    const int call = hooks.calls[factory]++;
    if (hooks.refuse && hooks.refuse(factory, call))
        return nullptr;
    return new T; // the host's heap throws when it is exhausted
}

} // namespace

} // namespace standin

ClassDesc2::ClassDesc2() = default;
ClassDesc2::~ClassDesc2() = default;

TriObject* CreateNewTriObject()
{
    return standin::Make<TriObject>("CreateNewTriObject");
}

StdMat2* NewDefaultStdMat()
{
    return standin::Make<standin::StandardMaterial>("NewDefaultStdMat");
}

BitmapTex* NewDefaultBitmapTex()
{
    return standin::Make<standin::Bitmap>("NewDefaultBitmapTex");
}

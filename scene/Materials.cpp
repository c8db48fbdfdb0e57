// Each node's own standard material, whose diffuse and opacity maps are one bitmap of the
// mesh's texture, found under the content folder in the largest of three sizes present.
#include "ModelHolder.h"

#include "BrennicModel.h"

#include <shlwapi.h>

std::string ModelHolder::ResolveTexturePath(const std::string& textureName) const
{
    if (contentRoot.empty())
        return textureName;
    const std::string base = contentRoot + "textures\\" + textureName;
    for (const char* size : {".2048.dds", ".1024.dds"}) {
        std::string candidate = base + size;
        if (PathFileExistsA(candidate.c_str()))
            return candidate;
    }
    return base + ".512.dds"; // the smallest is used untested, present or not
}

int ModelHolder::ApplyMaterial(const ModelMesh& source, ImpNode* node)
{
    // A host object the host could not make leaves the node without a material; what was
    // made is released.
    HostObject<BitmapTex> bitmap(NewDefaultBitmapTex());
    if (!bitmap)
        return 1;
    const std::string path = ResolveTexturePath(source.names[0]);
    bitmap->SetMapName(path.c_str(), false);
    bitmap->SetAlphaAsMono(TRUE);
    bitmap->SetName(CStr(path.c_str()));

    HostObject<StdMat2> material(NewDefaultStdMat());
    if (!material)
        return 1;
    material->SetName(CStr(source.names[1].c_str()));
    material->SetSubTexmap(ID_DI, bitmap.get());
    BitmapTex* map = bitmap.release(); // the material holds it now
    material->SetSubTexmap(ID_OP, map);
    material->SetActiveTexmap(map);
    material->SetMtlFlag(MTL_TEX_DISPLAY_ENABLED, TRUE);

    INode* sceneNode = node->GetINode();
    if (sceneNode)
        sceneNode->SetMtl(material.release());
    return 1;
}

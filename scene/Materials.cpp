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
    static const char* const largerSizes[] = {".2048.dds", ".1024.dds"};
    for (size_t i = 0; i < sizeof largerSizes / sizeof largerSizes[0]; ++i) {
        const std::string candidate = base + largerSizes[i];
        if (PathFileExistsA(candidate.c_str()))
            return candidate;
    }
    return base + ".512.dds"; // none is present: the smallest, unchecked
}

int ModelHolder::ApplyMaterial(const ModelMesh& source, ImpNode* node)
{
    // A host object the host could not make leaves the node without a material; what was
    // made is released.
    Owned<BitmapTex, DeleteHostObject> bitmap(NewDefaultBitmapTex());
    if (!bitmap.get())
        return 1;
    const std::string path = ResolveTexturePath(source.names[0]);
    bitmap->SetMapName(path.c_str());
    bitmap->SetAlphaAsMono(TRUE);
    bitmap->SetName(CStr(path.c_str()));

    Owned<StdMat2, DeleteHostObject> material(NewDefaultStdMat());
    if (!material.get())
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

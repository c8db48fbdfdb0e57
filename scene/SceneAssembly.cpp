// The loaded model into the scene: per mesh, in order, a triangle object, a node that refers
// to it with the identity transform and the mesh's name, and the node's material.
#include "ModelHolder.h"

#include "BrennicModel.h"
#include "FormatText.h"

int ModelHolder::BuildScene(ImpInterface* scene)
{
    char name[256] = {};

    for (int i = 0; i < model->GetMeshCount(); ++i) {
        const ModelMesh& source = *model->GetMesh(i);
        // "object_NN" unless the mesh name holds a backslash: then what follows the last one.
        FormatText(name, "object_%02d", i);
        std::string nodeName = name;
        const size_t backslash = source.names[1].rfind('\\');
        if (backslash != std::string::npos)
            nodeName = source.names[1].substr(backslash + 1);

        Owned<TriObject, DeleteHostObject> object(CreateNewTriObject());
        if (!object.get())
            continue; // this mesh only; the others keep their numbers
        BuildMesh(source, object->GetMesh(), i);
        // The host mesh holds the geometry now: the loaded copy goes, so a large model is not
        // held twice. The counts stay for the summary.
        ModelMesh& built = *model->GetMesh(i);
        built.vertices.reset();
        built.indices.reset();

        ImpNode* node = scene->CreateNode();
        if (!node)
            continue; // this mesh only; its guard releases the object
        Matrix3 identity;
        identity.IdentityMatrix();
        node->Reference(object.release());
        node->SetTransform(0, identity);
        node->SetName(nodeName.c_str());
        ApplyMaterial(source, node);
        scene->AddNodeToScene(node);
    }
    return 1;
}

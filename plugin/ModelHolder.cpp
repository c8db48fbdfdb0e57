#include "ModelHolder.h"

#include "BrennicModel.h"

#include <new>

ModelHolder::ModelHolder() {}
ModelHolder::~ModelHolder() {}

int ModelHolder::Load(const std::string& path, bool includeLods)
{
    model.reset(new (std::nothrow) CBrennicModel);
    if (!model.get())
        return 0;
    if (!model->Load(path, includeLods))
        return 0;
    contentRoot = ContentRootOf(path);
    return 1;
}

int ModelHolder::GetMeshCount() const
{
    return model->GetMeshCount();
}

const std::string& ModelHolder::Shortfall() const
{
    return model->Shortfall();
}

uint32_t ModelHolder::GetFaceCount(int index) const
{
    return model->GetMesh(index)->indexCount / 3;
}

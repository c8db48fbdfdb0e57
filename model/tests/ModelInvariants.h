#pragma once

// What every loaded model keeps, whatever its files held: checked after each load by the
// mutation sweep and by the fuzz target, which give it files no hand-written test would.

#include "BrennicModel.h"

#include <cstdint>
#include <string>

// The files a load could read. A count is checked against the bytes of one file, so the
// largest bounds every count; all of them together bound what the load reads.
struct ReadableFiles {
    uint64_t largest = 0;
    uint64_t total = 0;
};

// The first invariant `model` breaks, as a message, or empty when it keeps them all. `result` is
// what its Load returned. Reads every byte the model holds, so that the sanitizer sees any
// array shorter than its count.
inline std::string BrokenModelInvariant(const CBrennicModel& model, int result, const ReadableFiles& files)
{
    using std::to_string;
    if (result != (model.GetMeshCount() > 0 ? 1 : 0))
        return "Load returned " + to_string(result) + " with " + to_string(model.GetMeshCount()) + " meshes";
    const size_t notes = model.References().size(), warnings = model.Warnings().size();
    if (notes > CBrennicModel::maxReferenceNotes || notes > model.ReferenceCount())
        return to_string(notes) + " reference notes of " + to_string(model.ReferenceCount());
    if (warnings > CBrennicModel::maxWarnings || warnings > model.WarningCount())
        return to_string(warnings) + " warnings of " + to_string(model.WarningCount());
    if (model.BytesRead() > files.total * (model.limits.files + 1))
        return to_string(model.BytesRead()) + " bytes read from files of " + to_string(files.total);

    uint64_t kept = 0;
    for (int m = 0; m < model.GetMeshCount(); ++m) {
        const ModelMesh* mesh = model.GetMesh(m);
        const std::string which = "mesh " + to_string(m) + ": ";
        if (!mesh || !mesh->vertices || !mesh->indices || mesh->vertexCount == 0 || mesh->indexCount == 0)
            return which + "no vertices or no indices";
        if (mesh->vertexForm == VertexForm::None)
            return which + "vertices of no form";
        if (uint64_t{mesh->vertexCount} * 32 > files.largest || uint64_t{mesh->indexCount} * 2 > files.largest)
            return which + "more vertices or indices than one file can hold";
        kept += CBrennicModel::meshCost + mesh->vertexCount * CBrennicModel::vertexCost +
                mesh->indexCount * CBrennicModel::indexCost;
        for (const std::string& name : mesh->names) {
            if (name.size() > files.largest)
                return which + "a name longer than any file";
            kept += name.size() * CBrennicModel::nameByteCost;
        }
    }
    // The model keeps what it counted: its first readings bounded by their bytes, the rest
    // within the budget its reading allowed.
    const uint64_t allowance =
        model.budget.base + model.budget.perByteRead * (model.BytesRead() - model.FirstReadingBytes());
    if (kept > model.StoredCost() || model.ChargedCost() > allowance ||
        kept > model.ChargedCost() + CBrennicModel::firstReadingRatio * model.FirstReadingBytes())
        return "keeps " + to_string(kept) + " bytes' cost, counted " + to_string(model.StoredCost()) + ", charged " +
               to_string(model.ChargedCost()) + " for " + to_string(model.BytesRead()) + " bytes read";

    uint32_t sum = 0;
    for (int m = 0; m < model.GetMeshCount(); ++m) {
        const ModelMesh& mesh = *model.GetMesh(m);
        const auto* vertexBytes = reinterpret_cast<const unsigned char*>(mesh.vertices.get());
        for (size_t i = 0; i < size_t{mesh.vertexCount} * sizeof(WorkVertex); ++i)
            sum += vertexBytes[i];
        for (uint32_t i = 0; i < mesh.indexCount; ++i)
            sum += mesh.indices[i];
        for (const std::string& name : mesh.names)
            for (const char c : name)
                sum += static_cast<unsigned char>(c);
    }
    volatile uint32_t sink = sum;
    (void)sink;
    return {};
}

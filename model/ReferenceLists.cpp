// The reference and substitution chunks: lists of names, followed or kept as they are read.
#include "BrennicModel.h"

#include "ChunkReader.h"

namespace {

// Calls `item` for each piece of a ','-separated list: every piece before a ',' (empty ones
// too), then the tail only when it is longer than one character. No list is built, so a
// string of commas costs no more than its own bytes.
template <typename ItemFunction>
void ForEachListItem(const std::string& text, ItemFunction& item)
{
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        item(text.substr(start, comma - start));
    if (text.size() - start > 1)
        item(text.substr(start));
}

// Each name of a reference list, followed or noted as a LOD left out.
struct FollowItem {
    CBrennicModel* model;
    const CChunkReader* chunk;
    void operator()(const std::string& item) const { model->FollowReference(item, *chunk); }
};

// Each substitution of the list that holds a '=' and fits the budget.
struct KeepItem {
    CBrennicModel* model;
    const CChunkReader* chunk;
    void operator()(const std::string& item) const { model->KeepSubstitution(item, *chunk); }
};

struct AppendItem {
    std::vector<std::string>* items;
    void operator()(const std::string& item) const { items->push_back(item); }
};

} // namespace

void CBrennicModel::ReadReferences(CChunkReader& chunk)
{
    const uint32_t count = chunk.ReadU32();
    FollowItem follow = {this, &chunk};
    // Each list read consumes at least one byte, so the loop ends with the payload.
    for (uint32_t i = 0; i < count && Reading(); ++i) {
        const std::string list = chunk.ReadString();
        if (chunk.Overrun())
            return Warn(chunk, "reference chunk ends before its last name list");
        if (list.size() > 1)
            ForEachListItem(list, follow);
    }
}

void CBrennicModel::FollowReference(const std::string& item, const CChunkReader& chunk)
{
    if (!Reading())
        return;
    const std::string path = contentRoot + "meshes\\" + item + ".mesh";
    if (!includeLods && path.find("_lod") != std::string::npos)
        Note(path, ReferenceNote::SkippedLod);
    else
        LoadMeshFile(path, chunk);
}

void CBrennicModel::ReadSubstitutions(CChunkReader& chunk)
{
    const std::string text = chunk.ReadString();
    if (chunk.Overrun())
        return Warn(chunk, "substitution list has no terminating zero; ignored");
    KeepItem keep = {this, &chunk};
    ForEachListItem(text, keep);
}

void CBrennicModel::KeepSubstitution(const std::string& item, const CChunkReader& chunk)
{
    if (item.find('=') != std::string::npos && Store(chunk, item.size() + substitutionCost))
        AddSubstitution(item);
}

std::vector<std::string> CBrennicModel::SplitList(const std::string& text)
{
    std::vector<std::string> items;
    AppendItem append = {&items};
    ForEachListItem(text, append);
    return items;
}

void CBrennicModel::AddSubstitution(const std::string& item)
{
    const size_t equals = item.find('=');
    if (equals == std::string::npos)
        return;
    substitutions[item.substr(0, equals)] = item.substr(equals + 1);
}

std::string CBrennicModel::Substitute(const std::string& name) const
{
    return Substituted(name);
}

const std::string& CBrennicModel::Substituted(const std::string& name) const
{
    const std::map<std::string, std::string>::const_iterator found = substitutions.find(name);
    return found == substitutions.end() ? name : found->second;
}

#pragma once

// The input of fuzz_convert, shared with its seed maker: a flags byte, the model file's size
// (4 bytes, little-endian), the model file, then the .dds file (the rest).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace fuzzconvert {

// content/meshes/<modelName>.model and content/textures/<textureName>.512.dds.
inline const char modelName[] = "fuzz";
inline const char textureName[] = "fuzz_tex";

// streamed: the glTF writer takes each mesh as it is collected, with a .glb's JSON given little room.
enum Flag : uint8_t { includeLods = 1, keepDds = 2, copyTextures = 4, separateGltf = 8, streamed = 16 };

struct Parts {
    uint8_t flags = 0;
    const uint8_t* model = nullptr;
    size_t modelSize = 0;
    const uint8_t* dds = nullptr;
    size_t ddsSize = 0;
};

// Any bytes split: a size past the end takes what there is.
inline Parts Split(const uint8_t* data, size_t size)
{
    Parts parts;
    if (size >= 1)
        parts.flags = data[0];
    uint32_t modelSize = 0;
    if (size >= 5)
        std::memcpy(&modelSize, data + 1, 4); // every target we build for is little-endian
    const size_t start = std::min<size_t>(size, 5);
    parts.model = data + start;
    parts.modelSize = std::min<size_t>(modelSize, size - start);
    parts.dds = parts.model + parts.modelSize;
    parts.ddsSize = size - start - parts.modelSize;
    return parts;
}

inline std::vector<uint8_t> Join(uint8_t flags, const std::vector<uint8_t>& model, const std::vector<uint8_t>& dds)
{
    std::vector<uint8_t> joined{flags, 0, 0, 0, 0};
    const auto modelSize = static_cast<uint32_t>(model.size());
    std::memcpy(joined.data() + 1, &modelSize, 4);
    joined.insert(joined.end(), model.begin(), model.end());
    joined.insert(joined.end(), dds.begin(), dds.end());
    return joined;
}

} // namespace fuzzconvert

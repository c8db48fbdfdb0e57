// Writes the bundled sample: a small content folder with a crate (static body, skinned lid),
// a barrel in a referenced ".mesh" file with its LOD, a substitution table and two textures.
//
//   brennic-sample OUTPUT_FOLDER   ->  OUTPUT_FOLDER/content/meshes/props/storage.model ...

#include "ModelWriter.h"

#include <cmath>
#include <cstdio>
#include <exception>

using namespace modelwriter;

namespace {

constexpr float pi = 3.14159265358979f;

struct Corner {
    float position[3];
    float normal[3];
    float texCoord[2];
};

// Corners and triangles in file axes (y up), triangles counter-clockwise seen from outside.
struct Shape {
    std::vector<Corner> corners;
    std::vector<uint16_t> indices;

    void Quad(const Corner& a, const Corner& b, const Corner& c, const Corner& d)
    {
        const auto base = static_cast<uint16_t>(corners.size());
        corners.insert(corners.end(), {a, b, c, d});
        indices.insert(indices.end(),
                       {base, uint16_t(base + 1), uint16_t(base + 2), base, uint16_t(base + 2), uint16_t(base + 3)});
    }
};

// An axis-aligned box from `low` to `high`, four corners a side so every side keeps its own
// normals and texture coordinates; the weld joins the positions.
Shape Box(const float low[3], const float high[3])
{
    Shape box;
    const float x0 = low[0], y0 = low[1], z0 = low[2], x1 = high[0], y1 = high[1], z1 = high[2];
    auto side = [&](float nx, float ny, float nz, const float(&p)[4][3]) {
        box.Quad(
            {{p[0][0], p[0][1], p[0][2]}, {nx, ny, nz}, {0, 1}}, {{p[1][0], p[1][1], p[1][2]}, {nx, ny, nz}, {1, 1}},
            {{p[2][0], p[2][1], p[2][2]}, {nx, ny, nz}, {1, 0}}, {{p[3][0], p[3][1], p[3][2]}, {nx, ny, nz}, {0, 0}});
    };
    side(0, 0, 1, {{x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}});
    side(0, 0, -1, {{x1, y0, z0}, {x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}});
    side(1, 0, 0, {{x1, y0, z1}, {x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}});
    side(-1, 0, 0, {{x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}});
    side(0, 1, 0, {{x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}, {x0, y1, z0}});
    side(0, -1, 0, {{x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}});
    return box;
}

// A barrel: a bulging side with a texture seam (first and last column share positions) and
// two fan caps.
Shape Barrel(int segments, int rings, float radius, float height)
{
    Shape barrel;
    for (int ring = 0; ring <= rings; ++ring) {
        const float t = float(ring) / float(rings);
        const float r = radius * (1.0f + 0.12f * std::sin(t * pi));
        for (int s = 0; s <= segments; ++s) {
            const float angle = 2 * pi * float(s) / float(segments);
            const float c = std::cos(angle), n = std::sin(angle);
            barrel.corners.push_back({{r * c, t * height, -r * n}, {c, 0, -n}, {float(s) / float(segments), 1 - t}});
        }
    }
    const int row = segments + 1;
    for (int ring = 0; ring < rings; ++ring)
        for (int s = 0; s < segments; ++s) {
            const auto a = uint16_t(ring * row + s), b = uint16_t(a + 1), c = uint16_t(a + row + 1),
                       d = uint16_t(a + row);
            barrel.indices.insert(barrel.indices.end(), {a, b, c, a, c, d});
        }
    for (int cap = 0; cap < 2; ++cap) {
        const float y = cap ? height : 0, ny = cap ? 1.0f : -1.0f;
        const auto centre = uint16_t(barrel.corners.size());
        barrel.corners.push_back({{0, y, 0}, {0, ny, 0}, {0.5f, 0.5f}});
        for (int s = 0; s < segments; ++s) {
            const float angle = 2 * pi * float(s) / float(segments);
            barrel.corners.push_back({{radius * std::cos(angle), y, -radius * std::sin(angle)},
                                      {0, ny, 0},
                                      {0.5f + 0.5f * std::cos(angle), 0.5f + 0.5f * std::sin(angle)}});
        }
        for (int s = 0; s < segments; ++s) {
            const auto a = uint16_t(centre + 1 + s), b = uint16_t(centre + 1 + (s + 1) % segments);
            if (cap)
                barrel.indices.insert(barrel.indices.end(), {centre, a, b});
            else
                barrel.indices.insert(barrel.indices.end(), {centre, b, a});
        }
    }
    for (Corner& corner : barrel.corners)
        corner.position[0] += 1.1f; // it stands beside the crate, which is at the origin
    return barrel;
}

// Normals are stored with components mapped from -1..1 into the bytes' 0..1.
uint32_t PackNormal(const float n[3])
{
    return PackUnitRange(n[0] * 0.5f + 0.5f, n[1] * 0.5f + 0.5f, n[2] * 0.5f + 0.5f);
}

MeshSpec StaticMesh(const Shape& shape, const std::string& texture, const std::string& name)
{
    MeshSpec mesh;
    mesh.texture = texture;
    mesh.name = name;
    mesh.third = name + "_collision";
    for (const Corner& corner : shape.corners) {
        StaticVertex v;
        std::copy(corner.position, corner.position + 3, v.position);
        v.normal = PackNormal(corner.normal);
        v.aux1 = PackUnitRange(1, 0.5f, 0.5f); // tangent along +x
        v.aux2 = PackUnitRange(0.5f, 0.5f, 1);
        std::copy(corner.texCoord, corner.texCoord + 2, v.texCoord);
        mesh.staticVertices.push_back(v);
    }
    mesh.indices = shape.indices;
    return mesh;
}

MeshSpec SkinnedMesh(const Shape& shape, const std::string& texture, const std::string& name)
{
    MeshSpec mesh;
    mesh.texture = texture;
    mesh.name = name;
    mesh.third = name;
    Bone hinge;
    hinge.id = 1;
    mesh.bones = {hinge};
    for (const Corner& corner : shape.corners) {
        SkinnedVertex v;
        for (int axis = 0; axis < 3; ++axis)
            v.position[axis] = QuantisePosition(corner.position[axis]);
        v.normal = PackNormal(corner.normal);
        v.boneWeights[0] = 255;
        v.texCoord[0] = QuantiseTexCoord(corner.texCoord[0]);
        v.texCoord[1] = QuantiseTexCoord(corner.texCoord[1]);
        mesh.skinnedVertices.push_back(v);
    }
    mesh.indices = shape.indices;
    return mesh;
}

Bytes WoodTexture(uint32_t size, int planks, uint8_t tint)
{
    return Dds(size, size, [=](uint32_t x, uint32_t y) {
        const uint32_t plank = y * uint32_t(planks) / size;
        const bool gap = (y * uint32_t(planks)) % size < size / 32;
        const auto grain = uint8_t(20 * std::sin(float(x) * 0.7f + float(plank) * 1.3f) + 20);
        const uint8_t r = gap ? 40 : uint8_t(140 + grain), g = gap ? 25 : uint8_t(90 + grain / 2), b = gap ? 10 : tint;
        return std::array<uint8_t, 4>{r, g, b, 255};
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: brennic-sample OUTPUT_FOLDER\n");
        return 2;
    }
    try {
        const ContentFolder content(argv[1]);
        const float bodyLow[3] = {-0.5f, 0.0f, -0.4f}, bodyHigh[3] = {0.5f, 0.7f, 0.4f};
        const float lidLow[3] = {-0.52f, 0.7f, -0.42f}, lidHigh[3] = {0.52f, 0.8f, 0.42f};

        content.WriteModel("props\\storage",
                           Concat({SubstitutionChunk("crate_wood=props\\crate,barrel_oak=props\\barrel"),
                                   MeshListChunk(std::vector<MeshSpec>{
                                       StaticMesh(Box(bodyLow, bodyHigh), "crate_wood", "props\\crate_body"),
                                       SkinnedMesh(Box(lidLow, lidHigh), "crate_wood", "props\\crate_lid")}),
                                   ReferenceChunk({"props\\barrel,props\\barrel_lod1"})}));
        content.WriteMesh("props\\barrel", MeshListChunk(std::vector<MeshSpec>{
                                               StaticMesh(Barrel(24, 6, 0.4f, 1.1f), "barrel_oak", "props\\barrel")}));
        content.WriteMesh("props\\barrel_lod1", MeshListChunk(std::vector<MeshSpec>{StaticMesh(
                                                    Barrel(8, 2, 0.4f, 1.1f), "barrel_oak", "props\\barrel_lod1")}));

        // Two of the three sizes: the lookup takes the largest present.
        content.WriteTexture("props\\crate", "1024", WoodTexture(64, 4, 60));
        content.WriteTexture("props\\barrel", "512", WoodTexture(64, 8, 30));
        std::printf("sample written to %s/content\n", argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brennic-sample: %s\n", error.what());
        return 1;
    }
    return 0;
}

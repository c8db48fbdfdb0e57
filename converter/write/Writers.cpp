#include "Writers.h"

#include <iterator>

namespace {

void WriteGlb(const ExportScene& scene, const WriteOptions& options, OutputFiles& files,
              std::vector<std::string>& warnings)
{
    WriteGltf(scene, options, true, files, warnings);
}

void WriteGltfWithBin(const ExportScene& scene, const WriteOptions& options, OutputFiles& files,
                      std::vector<std::string>& warnings)
{
    WriteGltf(scene, options, false, files, warnings);
}

} // namespace

const OutputFormatInfo outputFormats[3] = {
    {OutputFormat::Glb, "glb", ".glb", WriteGlb, true},
    {OutputFormat::Gltf, "gltf", ".gltf", WriteGltfWithBin, false},
    {OutputFormat::Obj, "obj", ".obj", WriteObj, false},
};

const OutputFormatInfo& FormatInfo(OutputFormat format)
{
    for (const OutputFormatInfo& info : outputFormats)
        if (info.format == format)
            return info;
    return outputFormats[0];
}

const OutputFormatInfo* FormatNamed(const std::string& name)
{
    for (const OutputFormatInfo& format : outputFormats)
        if (name == format.name)
            return &format;
    return nullptr;
}

const OutputFormatInfo* FormatOfExtension(const std::string& extension)
{
    for (const OutputFormatInfo& format : outputFormats)
        if (extension == format.extension)
            return &format;
    return nullptr;
}

std::string FormatNames()
{
    std::string names;
    for (size_t i = 0; i < std::size(outputFormats); ++i)
        names += (i == 0 ? "" : i + 1 < std::size(outputFormats) ? ", " : " or ") + std::string(outputFormats[i].name);
    return names;
}

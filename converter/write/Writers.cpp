#include "Writers.h"

#include <iterator>

namespace {

std::unique_ptr<SceneWriter> OpenGlb(const WriteOptions& options, OutputFiles& files)
{
    return OpenGltf(options, true, files);
}

std::unique_ptr<SceneWriter> OpenGltfWithBin(const WriteOptions& options, OutputFiles& files)
{
    return OpenGltf(options, false, files);
}

} // namespace

void WriteScene(SceneWriter& writer, const ExportScene& scene, std::vector<std::string>& warnings)
{
    for (const ExportMesh& mesh : scene.meshes)
        writer.Take(mesh);
    writer.Finish(scene, warnings);
}

const OutputFormatInfo outputFormats[3] = {
    {OutputFormat::Glb, "glb", ".glb", OpenGlb},
    {OutputFormat::Gltf, "gltf", ".gltf", OpenGltfWithBin},
    {OutputFormat::Obj, "obj", ".obj", OpenObj},
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

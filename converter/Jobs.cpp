#include "Jobs.h"

#include "Printable.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace fs = std::filesystem;

namespace {

std::string LowerExtension(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

} // namespace

std::vector<Source> FindModels(const std::vector<std::string>& inputs, std::vector<std::string>& problems)
{
    std::vector<Source> sources;
    for (const std::string& input : inputs) {
        std::error_code error;
        if (!fs::is_directory(input, error)) {
            sources.push_back({input, fs::path(input).filename()});
            continue;
        }
        std::vector<Source> found;
        for (auto entry = fs::recursive_directory_iterator(input, fs::directory_options::skip_permission_denied, error);
             !error && entry != fs::recursive_directory_iterator(); entry.increment(error))
            if (entry->is_regular_file(error) && LowerExtension(entry->path()) == ".model")
                // Placed as its path in the folder says, a linked file too: where a link leads
                // would put its output outside -o's folder.
                found.push_back({entry->path(), entry->path().lexically_relative(input)});
        std::sort(found.begin(), found.end(), [](const Source& a, const Source& b) { return a.file < b.file; });
        if (error)
            problems.push_back(input + ": cannot read the whole folder: " + error.message());
        else if (found.empty())
            problems.push_back(input + ": no .model files in this folder");
        sources.insert(sources.end(), found.begin(), found.end());
    }
    return sources;
}

std::vector<Job> PlanJobs(const std::vector<std::string>& inputs, const std::string& outputOption,
                          const std::string& formatOption, std::vector<std::string>& problems)
{
    const std::vector<Source> sources = FindModels(inputs, problems);
    std::error_code error;
    const bool folderInput = std::any_of(inputs.begin(), inputs.end(),
                                         [&](const std::string& input) { return fs::is_directory(input, error); });
    const bool outputFolder = !outputOption.empty() && fs::is_directory(outputOption, error);
    const OutputFormatInfo* outputFormat =
        outputOption.empty() || outputFolder ? nullptr : FormatOfExtension(LowerExtension(outputOption));
    const bool severalOutputs = folderInput || inputs.size() > 1;
    // With one input, -o names the file to write when it has an extension, and a folder otherwise.
    const bool outputIsFile =
        !severalOutputs && !outputOption.empty() && !outputFolder && fs::path(outputOption).has_extension();
    if (severalOutputs && outputFormat)
        throw UsageError("-o " + Printable(outputOption) + " names one file, but " +
                         (folderInput ? "a folder" : "several inputs") + " can give several outputs: give -o a folder");
    if (outputIsFile && !formatOption.empty() && outputFormat && outputFormat->name != formatOption)
        throw UsageError("-o " + Printable(outputOption) + " names a ." + outputFormat->name + " file, but --format " +
                         formatOption + " was asked for: make them agree");
    const OutputFormatInfo* format = formatOption.empty() ? &outputFormats[0] : FormatNamed(formatOption);
    if (formatOption.empty() && outputIsFile) {
        format = outputFormat;
        if (!format)
            throw UsageError("cannot tell the format from '" + Printable(outputOption) + "': give --format " +
                             FormatNames());
    }
    if (!format)
        throw UsageError("unknown format '" + Printable(formatOption) + "': " + FormatNames());

    std::vector<Job> jobs;
    std::set<std::string> outputs;
    for (const Source& source : sources) {
        fs::path output;
        if (outputIsFile)
            output = outputOption;
        else if (!outputOption.empty())
            output = fs::path(outputOption) / source.relative;
        else
            output = source.file;
        if (!outputIsFile)
            output.replace_extension(format->extension);
        const std::string key = fs::absolute(output).lexically_normal().string();
        if (!outputs.insert(key).second) {
            problems.push_back(source.file.string() + ": its output " + output.string() +
                               " is another input's too; skipped");
            continue;
        }
        jobs.push_back({source.file.string(), output.string(), format});
    }
    return jobs;
}

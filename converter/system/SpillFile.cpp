#include "SpillFile.h"

#include "OutputFiles.h"
#include "SignalCleanup.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The output's folder may not exist until the output is made, so the spill goes in the
// nearest folder that already exists: on the same disk, as far as we can tell.
fs::path ExistingFolderOf(const std::string& outputPath)
{
    fs::path folder = fs::absolute(fs::path(outputPath)).lexically_normal().parent_path();
    std::error_code error;
    while (!fs::is_directory(folder, error) && folder.has_relative_path())
        folder = folder.parent_path();
    return folder;
}

} // namespace

SpillFile::SpillFile(std::string path, bool unnamedFile) : outputPath(std::move(path)), unnamed(unnamedFile)
{
    if (!unnamed)
        Open();
}

SpillFile::~SpillFile()
{
    if (descriptor >= 0)
        close(descriptor);
}

void SpillFile::Fail(const std::string& reason) const
{
    throw std::runtime_error("cannot write " + outputPath + ": no room for its images while it is written: " + reason);
}

void SpillFile::Open()
{
    const std::string folder = ExistingFolderOf(outputPath).string();
    if (unnamed) {
        descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (descriptor >= 0)
            return;
    }
    // Otherwise use a file with a name of its own, created exclusively and removed before
    // anything is written to it. Signals are held meanwhile, so none ends the process while
    // the name is still there.
    std::string name = (fs::path(folder) / ".brennic-spill-XXXXXX").string();
    const signalcleanup::Hold hold;
    descriptor = mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0)
        Fail(ErrorReason(errno));
    if (unlink(name.c_str()) != 0) {
        const int error = errno;
        close(descriptor);
        descriptor = -1;
        Fail(ErrorReason(error));
    }
}

SpillSpan SpillFile::Append(const void* data, size_t count)
{
    const SpillSpan span{size, count};
    if (descriptor < 0 && count <= heldBytes - held.size()) {
        const auto* bytes = static_cast<const char*>(data);
        held.insert(held.end(), bytes, bytes + count);
        size += count;
        return span;
    }
    if (descriptor < 0) {
        Open();
        WriteAt(held.data(), held.size(), 0);
        std::vector<char>().swap(held);
    }
    WriteAt(static_cast<const char*>(data), count, span.offset);
    size += count;
    return span;
}

void SpillFile::WriteAt(const char* data, size_t count, uint64_t offset)
{
    for (size_t done = 0; done < count;) {
        const ssize_t written = pwrite(descriptor, data + done, count - done, off_t(offset + done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            Fail(written < 0 ? ErrorReason(errno) : "nothing could be written");
        done += size_t(written);
    }
}

void SpillFile::CopyTo(const SpillSpan& span, OutputFile& file) const
{
    if (span.size > size || span.offset > size - span.size)
        throw std::logic_error("a span past the end of its spill file");
    if (descriptor < 0)
        return file.Write(held.data() + span.offset, size_t(span.size));
    constexpr size_t step = 1 << 20;
    const std::unique_ptr<char[]> buffer(new char[size_t(std::min<uint64_t>(step, span.size))]);
    for (uint64_t done = 0; done < span.size;) {
        const size_t want = size_t(std::min<uint64_t>(step, span.size - done));
        const ssize_t got = pread(descriptor, buffer.get(), want, off_t(span.offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            Fail(got < 0 ? ErrorReason(errno) : "it ended early");
        file.Write(buffer.get(), size_t(got));
        done += uint64_t(got);
    }
}

#include "LibraryRun.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "Freshness.h"

namespace kx::batch {

namespace {

FileResult Result(const std::string& name, FileOutcome outcome, const std::string& output, std::string reason)
{
    FileResult result = SkippedFile(name);
    result.Outcome = outcome;
    result.Output = output;
    result.Reason = std::move(reason);
    return result;
}

}  // namespace

bool MakeFolders(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
    const size_t slash = path.rfind('/');
    if (errno != ENOENT || slash == std::string::npos || slash == 0) return false;
    return MakeFolders(path.substr(0, slash)) && (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST);
}

StartProblem PrepareLibrary(const std::string& source, const std::string& destination, bool make,
                            bool isDefaultResized, std::string* detail)
{
    if (make && isDefaultResized) return PrepareFolders(source, detail);
    if (const StartProblem problem = CheckSourceFolder(source, detail);
        problem != StartProblem::None || !make)
        return problem;
    struct stat info {};
    if (MakeFolders(destination) && ::stat(destination.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return StartProblem::None;
    if (detail)
        *detail = errno == EEXIST || errno == 0 ? "a file of that name is in the way" : std::strerror(errno);
    return StartProblem::CannotMakeResized;
}

bool RunLibrary(const std::string& source, const std::string& destination, const LibraryJob& job,
                Engine& engine, Observer& observer, std::vector<UnreadableFolder>& unreadable)
{
    TreeListing listing = ListTree(source, job.Recursive, destination);
    unreadable = std::move(listing.Unreadable);

    // This shard's files, in listing order, with their outputs.
    std::vector<std::string> names, outputs;
    for (std::string& name : listing.Names) {
        std::string output = OutputName(name, job.Run.Extension);
        if (ShardOf(output, job.Part.Count) != job.Part.Index) continue;
        names.push_back(std::move(name));
        outputs.push_back(std::move(output));
    }
    listing.Names.clear();
    listing.Names.shrink_to_fit();

    const std::vector<std::vector<size_t>> groups = GroupByOutput(outputs);
    // A group's files run in order on one thread, so the first one decides
    // for the group and the others read its decision.
    std::vector<size_t> groupOf(names.size());
    for (size_t g = 0; g < groups.size(); ++g)
        for (const size_t index : groups[g]) groupOf[index] = g;
    const auto decision = std::make_unique<Freshness[]>(groups.size());

    observer.Started(names.size());
    const PoolEnd end = RunPool(
        groups, job.Run.Workers, job.Run.Stop,
        [&](size_t index) {
            const std::string& name = names[index];
            const std::string in = source + "/" + name, out = destination + "/" + outputs[index];
            const std::vector<size_t>& group = groups[groupOf[index]];
            Freshness& freshness = decision[groupOf[index]];
            if (job.SkipExisting && index == group.front()) {  // whatever that file is
                std::vector<std::string> inputs;
                for (const size_t member : group)
                    if (TakesExtension(ExtensionOf(names[member]), job.Run.AllFormats))
                        inputs.push_back(source + "/" + names[member]);
                freshness = CheckOutput(out, inputs);
            }
            if (!TakesExtension(ExtensionOf(name), job.Run.AllFormats)) return SkippedFile(name);
            if (job.SkipExisting && freshness == Freshness::Current)
                return Result(name, FileOutcome::UpToDate, out, FreshnessText(freshness));
            if (!IsResizableImage(in, job.Run.AllFormats)) return SkippedFile(name);
            if (job.DryRun)
                return Result(name, FileOutcome::WouldResize, out,
                              job.SkipExisting ? FreshnessText(freshness) : "");
            const size_t slash = out.rfind('/');
            if (!MakeFolders(out.substr(0, slash))) {
                FileResult failed = Result(name, FileOutcome::Failed, out, std::strerror(errno));
                failed.ErrorCode = KESTRIX_OUTPUT_NOT_WRITTEN;
                return failed;
            }
            return ResizePicture(engine, job.Run.method, job.Run.sizes, job.Run.Quality, name, in, out);
        },
        [&](const FileResult& result) { observer.FileDone(result); });
    if (end.Error) std::rethrow_exception(end.Error);
    return end.Complete;
}

}  // namespace kx::batch

#include "batch/LibraryRun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include "batch/Freshness.h"
#include "common/TemporaryFiles.h"

namespace kx::batch {

namespace {

FileResult Result(const FileTask& task, FileOutcome outcome, std::string reason)
{
    FileResult result = SkippedFile(task.Name);
    result.Outcome = outcome;
    result.Output = task.Out;
    result.Reason = std::move(reason);
    return result;
}

// Opens the folder `name` below the open folder `parent`, making it when
// missing; a link there is not followed. Gives the descriptor, -1 (errno
// set) on failure.
int OpenFolderBelow(int parent, const std::string& name)
{
    if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) return -1;
    return ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The output folder of `relative` ("2024/june/x.jpg" gives 2024/june)
// below `top`, made and opened a level at a time. Nothing (errno set) on
// failure.
std::shared_ptr<FolderHandle> OutputFolderOf(const std::shared_ptr<FolderHandle>& top,
                                             const std::string& relative)
{
    std::shared_ptr<FolderHandle> folder = top;
    size_t start = 0;
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', start)) {
        const int fd = OpenFolderBelow(folder->Fd(), relative.substr(start, slash - start));
        if (fd < 0) return nullptr;
        folder = std::make_shared<FolderHandle>(fd);
        start = slash + 1;
    }
    return folder;
}

}  // namespace

FolderHandle::~FolderHandle()
{
    if (fd_ >= 0) ::close(fd_);
}

std::string FolderHandle::Path() const
{
    static const bool throughProc = ::access("/proc/self/fd", X_OK) == 0;
    return throughProc && fd_ >= 0 ? "/proc/self/fd/" + std::to_string(fd_) : std::string();
}

std::string FolderHandle::PathTo(const std::string& name, const std::string& fallback) const
{
    const std::string path = Path();
    return path.empty() ? fallback : path + "/" + name;
}

LibraryPlan PrepareLibrary(const std::string& source, const std::string& destination, const LibraryJob& job)
{
    LibraryPlan plan;
    if ((plan.Error = CheckSourceFolder(source))) return plan;
    struct stat info {};
    if (!job.TrustDestination && ::lstat(destination.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        plan.Error = {Problem::Kind::LinkedFolder, ELOOP, {}};
        return plan;
    }
    TreeListing listing =
        ListTree(source, job.Recursive, destination, job.links, job.Modern && job.Recursive);
    if ((plan.Error = listing.Error)) return plan;
    plan.Unreadable = std::move(listing.Unreadable);
    plan.Outside = std::move(listing.Outside);
    plan.LeftOut = std::move(listing.EarlierOutputs);
    // A folder without a picture gets no output folder (a tree is looked
    // through only as it is run).
    if (!job.Recursive &&
        std::none_of(listing.Names.begin(), listing.Names.end(), [&](const std::string& name) {
            const FileKind kind = Classify(source + "/" + name, job.Run.AllFormats);
            return kind == FileKind::Picture || kind == FileKind::Unopenable;
        })) {
        plan.Error.What = Problem::Kind::NoPictures;
        return plan;
    }
    if (!job.DryRun) {
        if ((plan.Error = MakeOutputFolder(destination))) return plan;
        const int fd = ::open(destination.c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC | (job.TrustDestination ? 0 : O_NOFOLLOW));
        if (fd < 0) {
            plan.Error = {errno == ELOOP || errno == ENOTDIR ? Problem::Kind::LinkedFolder
                                                             : Problem::Kind::CannotMakeFolder,
                          errno, std::strerror(errno)};
            return plan;
        }
        plan.Output = std::make_shared<FolderHandle>(fd);
        RemoveStaleTemporaries(fd);
    }

    plan.Files.Source = source;
    plan.Files.Destination = destination;
    for (std::string& name : listing.Names) {
        std::string output = PatternName(name, job.Pattern, job.Run.Extension, job.naming, job.Fields);
        if (ShardOf(output, job.Part.Count) != job.Part.Index) continue;
        plan.Files.Names.push_back(std::move(name));
        plan.Files.Outputs.push_back(std::move(output));
    }
    return plan;
}

namespace {

// Notes the outputs made from damaged pictures in the run's record.
class NotingWarnings : public Observer {
public:
    NotingWarnings(Observer& next, RunRecord* record)
        : next_(next)
        , record_(record)
    {}
    void Started(size_t files) override { next_.Started(files); }
    void FileDone(const FileResult& result) override
    {
        if (record_ && result.Outcome == FileOutcome::Resized && !result.Warning.empty())
            record_->NoteWarned(result.Output);
        next_.FileDone(result);
    }

private:
    Observer& next_;
    RunRecord* record_;
};

}  // namespace

bool RunLibrary(const LibraryPlan& plan, const LibraryJob& job, Engine& engine, Observer& tally)
{
    const FileList& files = plan.Files;
    std::optional<RunRecord> record;
    if (!job.Settings.empty()) record.emplace(files.Destination, job.Settings, job.DryRun);
    NotingWarnings observer(tally, record ? &*record : nullptr);
    // A group's files run in order on one thread, so the first one decides
    // for the group and the others read its decision.
    const auto decision = std::make_unique<Freshness[]>(files.Names.size());
    std::mutex cleanedMutex;
    std::set<std::string> cleaned{""};  // output folders rid of stale temporary files
    const std::string top = RealPath(files.Source) + "/";
    return RunFiles(files, job.Run, engine, observer, [&](FileTask& task) -> std::optional<FileResult> {
        Freshness& freshness = decision[task.Group.front()];
        if (job.SkipExisting && task.Index == task.Group.front()) {  // whatever that file is
            std::vector<std::string> inputs;
            for (const size_t member : task.Group)
                if (TakesExtension(ExtensionOf(files.Names[member]), job.Run.AllFormats))
                    inputs.push_back(files.Source + "/" + files.Names[member]);
            freshness = record ? record->Check(task.Out, inputs) : CheckOutput(task.Out, inputs);
        }
        if (!TakesExtension(ExtensionOf(task.Name), job.Run.AllFormats)) return SkippedFile(task.Name);
        if (job.Modern && task.Group.size() > 1 && Classify(task.In, job.Run.AllFormats) == FileKind::Picture)
            if (std::optional<FileResult> refused = RefusedCollision(files, task, job.Run.AllFormats))
                return refused;
        if (job.SkipExisting && freshness == Freshness::Current)
            return Result(task, FileOutcome::UpToDate, FreshnessText(freshness));
        std::string why;
        switch (Classify(task.In, job.Run.AllFormats, &why)) {
        case FileKind::Picture: break;
        case FileKind::Unopenable: {
            FileResult failed = Result(task, FileOutcome::Failed, why);
            failed.Output.clear();
            failed.ErrorCode = KESTRIX_INPUT_NOT_LOADED;
            return failed;
        }
        default: return SkippedFile(task.Name, true);
        }
        // The picture is read through what is opened here, and only when that lies
        // inside the folder: a file swapped for a link since the listing is not read.
        if (job.links == Links::Inside) {
            const auto picture =
                std::make_shared<FolderHandle>(::open(task.In.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
            struct stat info {};
            if (const std::string path = picture->Path(); !path.empty()) {
                if (!RealPath(path).starts_with(top)) {
                    FileResult outside = SkippedFile(task.Name);
                    outside.Reason = kOutsideLink;
                    return outside;
                }
                if (::fstat(picture->Fd(), &info) != 0 || !S_ISREG(info.st_mode))
                    return SkippedFile(task.Name, true);
                task.In = path;
                task.Keep.push_back(picture);
            }
        }
        if (job.DryRun)
            return Result(task, FileOutcome::WouldResize, job.SkipExisting ? FreshnessText(freshness) : "");
        const auto cannotWrite = [&](std::string reason) {
            FileResult failed = Result(task, FileOutcome::Failed, std::move(reason));
            failed.ErrorCode = KESTRIX_OUTPUT_NOT_WRITTEN;
            return failed;
        };
        if (!plan.Output) {  // a plan not made by PrepareLibrary: by path
            const Problem problem = MakeFolders(task.Out.substr(0, task.Out.rfind('/')));
            return problem ? std::optional(cannotWrite(problem.Reason)) : std::nullopt;
        }
        const std::string& output = files.Outputs[task.Index];
        const size_t slash = output.rfind('/');
        const std::shared_ptr<FolderHandle> folder = OutputFolderOf(plan.Output, output);
        if (!folder) return cannotWrite(std::strerror(errno));
        if (std::lock_guard lock(cleanedMutex); cleaned.insert(output.substr(0, slash + 1)).second)
            RemoveStaleTemporaries(folder->Fd());
        task.WriteTo = folder->PathTo(output.substr(slash + 1), task.Out);
        task.Keep.push_back(folder);
        return std::nullopt;
    });
}

}  // namespace kx::batch

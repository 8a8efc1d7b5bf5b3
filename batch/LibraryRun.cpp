#include "LibraryRun.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "Freshness.h"

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

}  // namespace

LibraryPlan PrepareLibrary(const std::string& source, const std::string& destination, const LibraryJob& job)
{
    LibraryPlan plan;
    if ((plan.Error = CheckSourceFolder(source))) return plan;
    TreeListing listing = ListTree(source, job.Recursive, destination, job.Modern && job.Recursive);
    if ((plan.Error = listing.Error)) return plan;
    plan.Unreadable = std::move(listing.Unreadable);
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
    if (!job.DryRun && (plan.Error = MakeOutputFolder(destination))) return plan;

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
        if (job.DryRun)
            return Result(task, FileOutcome::WouldResize, job.SkipExisting ? FreshnessText(freshness) : "");
        if (const Problem problem = MakeFolders(task.Out.substr(0, task.Out.rfind('/')))) {
            FileResult failed = Result(task, FileOutcome::Failed, problem.Reason);
            failed.ErrorCode = KESTRIX_OUTPUT_NOT_WRITTEN;
            return failed;
        }
        return std::nullopt;
    });
}

}  // namespace kx::batch

#include "frontend/modProcessFolder.h"

#include <sys/stat.h>

#include <cerrno>

#include "batch/TreeListing.h"
#include "common/CheckedMath.h"
#include "common/RunTimeError.h"
#include "common/modErrorReport.h"
#include "frontend/Dialogs.h"
#include "frontend/modShared.h"

namespace folvane {

namespace {

// The run-time error for a folder that cannot be listed or made.
void RaiseFor(const kx::batch::Problem& problem)
{
    if (!problem) return;
    switch (problem.Errno) {
    case ENOENT:
    case ENOTDIR: kx::Raise(kx::errPathNotFound);
    case EACCES: kx::Raise(kx::errPermissionDenied);
    default: kx::Raise(kx::errPathFileAccess);
    }
}

// Steps the meter once per listed file as it finishes.
class MeterObserver : public kx::batch::Observer {
public:
    MeterObserver(Meter& meter, const BatchOptions& options)
        : meter_(meter)
        , options_(options)
    {}
    void Started(size_t files) override
    {
        meter_.StartMeter(kx::CheckedCast<int32_t>(static_cast<int64_t>(files)), "Working...");
    }
    void FileDone(const FileReport& report) override
    {
        if (options_.FileDone) options_.FileDone(report);
        meter_.StepMeter();
    }

private:
    Meter& meter_;
    const BatchOptions& options_;
};

}  // namespace

void Meter::Show(bool repaintNow)
{
    if (view_) view_->ShowMeter(meter_, repaintNow);
}

MeterState Meter::CurrentMeter() const
{
    std::lock_guard lock(mutex_);
    return meter_;
}

void Meter::StartMeter(int32_t lngCount, const std::string& strCaption)
{
    std::lock_guard lock(mutex_);
    meter_.Height = kMeterEmptyHeight;
    meter_.Top = kMeterEmptyTop;
    // A folder without files has no steps to share the column out over.
    meter_.lngMeterStep = lngCount > 0 ? kx::RoundTo<int32_t>(double{kMeterTravel} / lngCount) : 0;
    meter_.Caption = strCaption;
    Show(true);
}

void Meter::StepMeter()
{
    std::lock_guard lock(mutex_);
    meter_.Top = kx::CheckedSub(meter_.Top, meter_.lngMeterStep);
    meter_.Height = kx::CheckedAdd(meter_.Height, meter_.lngMeterStep);
    Show(true);
}

void Meter::FinishMeter() { Set(kMeterFullTop, kMeterFullHeight, "Done!", false); }

void Meter::ResetMeter() { Set(kMeterEmptyTop, kMeterEmptyHeight, "Ready!", true); }

void Meter::Set(int32_t top, int32_t height, const char* caption, bool repaintNow)
{
    std::lock_guard lock(mutex_);
    meter_.Top = top;
    meter_.Height = height;
    meter_.Caption = caption;
    Show(repaintNow);
}

RunEnd ProcessFolder(const std::string& strSource, const ResizeJob& job, IResizeEngine& engine, Meter& meter,
                     const BatchOptions& options)
{
    try {
        const std::string strDestination = strSource + "/Resized";
        if (!FolderExists(strDestination)) {
            RaiseFor(kx::batch::MakeFolder(strDestination));
            // The run goes on: every write into the folder will then fail in
            // the engine, which says so itself.
            if (!FolderExists(strDestination))
                Dialogs().ShowMessage("Cannot Create the Resized Folder!", "Error...",
                                      MessageStyle::Critical);
        }

        kx::batch::TreeListing listing = kx::batch::ListTree(strSource, false);
        RaiseFor(listing.Error);
        kx::batch::FileList files{strSource, strDestination, std::move(listing.Names), {}};
        for (const std::string& name : files.Names)
            files.Outputs.push_back(kx::batch::OutputName(name, ".jpg", kx::batch::Naming::FirstDot));
        // Any other method number resizes nothing.
        const auto method = kx::batch::MethodFromNumber(job.ResizeMethod);
        kx::batch::Job run;
        run.method = method.value_or(kx::batch::Method::Resize);
        run.Quality = options.Quality;
        run.Workers = options.Workers;
        run.Stop = options.Stop;
        MeterObserver observer(meter, options);
        const bool complete = kx::batch::RunFiles(
            files, run, engine, observer, [&](kx::batch::FileTask& task) -> std::optional<FileReport> {
                if (!method || kx::batch::Classify(task.In, false) != kx::batch::FileKind::Picture)
                    return kx::batch::SkippedFile(task.Name);
                // Each size its method uses, converted now: width before height.
                const kx::batch::MethodSpec& row = kx::batch::SpecOf(*method);
                if (row.UsesWidth) task.sizes.Width = TextToLong(job.Width);
                if (row.UsesHeight) task.sizes.Height = TextToLong(job.Height);
                if (row.UsesPercentage) task.sizes.Percentage = TextToLong(job.Percentage);
                // A picture the engine cannot do is left out; it has told the
                // user why if it was unexpected, and the report says why to
                // whoever asks.
                return std::nullopt;
            });
        if (!complete) return RunEnd::Stopped;

        meter.FinishMeter();
        Dialogs().Beep();
        Dialogs().ShowMessage("Done!", kProgramTitle, MessageStyle::Plain);
        meter.ResetMeter();
        return RunEnd::Done;
    } catch (...) {
        ReportCurrentError("ProcessFolder");
    }
    return RunEnd::Error;
}

bool FolderExists(const std::string& strPath)
{
    try {
        // Like a listing of the one entry: folders and regular files are
        // found, hidden names are not.
        const std::string name = kx::ExtractFileExtension(strPath);
        if (name.empty() || name[0] == '.') return false;
        struct stat info {};
        if (::stat(strPath.c_str(), &info) != 0) return false;
        return S_ISDIR(info.st_mode) || S_ISREG(info.st_mode);
    } catch (...) {
        ReportCurrentError("FolderExists");
    }
    return false;
}

}  // namespace folvane

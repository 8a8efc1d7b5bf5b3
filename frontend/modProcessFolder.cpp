#include "modProcessFolder.h"

#include <sys/stat.h>

#include <exception>
#include <mutex>

#include "CheckedMath.h"
#include "Dialogs.h"
#include "modErrorReport.h"
#include "modShared.h"

namespace folvane {

namespace {

// The meter is moved by the workers of a run as their files finish; the
// lock also keeps the view's calls in the order the meter changed.
std::mutex meterMutex;
MeterState meter;
IProgressView* progressView = nullptr;

// Call with meterMutex held.
void ShowMeter(bool repaintNow)
{
    if (progressView) progressView->ShowMeter(meter, repaintNow);
}

using kx::batch::MakeFolder;

}  // namespace

void SetProgressView(IProgressView* view)
{
    std::lock_guard lock(meterMutex);
    progressView = view;
}

MeterState CurrentMeter()
{
    std::lock_guard lock(meterMutex);
    return meter;
}

void StartMeter(int32_t lngCount, const std::string& strCaption)
{
    std::lock_guard lock(meterMutex);
    meter.Height = kMeterEmptyHeight;
    meter.Top = kMeterEmptyTop;
    // A folder without files has no steps to share the column out over.
    meter.lngMeterStep = lngCount > 0 ? kx::RoundTo<int32_t>(double{kMeterTravel} / lngCount) : 0;
    meter.Caption = strCaption;
    ShowMeter(true);
}

void StepMeter()
{
    std::lock_guard lock(meterMutex);
    meter.Top = kx::CheckedSub(meter.Top, meter.lngMeterStep);
    meter.Height = kx::CheckedAdd(meter.Height, meter.lngMeterStep);
    ShowMeter(true);
}

void FinishMeter()
{
    std::lock_guard lock(meterMutex);
    meter.Top = kMeterFullTop;
    meter.Height = kMeterFullHeight;
    meter.Caption = "Done!";
    ShowMeter(false);
}

void ResetMeter()
{
    std::lock_guard lock(meterMutex);
    meter.Height = kMeterEmptyHeight;
    meter.Top = kMeterEmptyTop;
    meter.Caption = "Ready!";
    ShowMeter(true);
}

RunEnd ProcessFolder(const std::string& strSource, const ResizeJob& job, IResizeEngine& engine,
                     const BatchOptions& options)
{
    try {
        const std::string strDestination = strSource + "/Resized";
        if (!FolderExists(strDestination)) {
            MakeFolder(strDestination);
            // The run goes on: every write into the folder will then fail in
            // the engine, which says so itself.
            if (!FolderExists(strDestination))
                Dialogs().ShowMessage("Cannot Create the Resized Folder!", "Error...",
                                      MessageStyle::Critical);
        }

        const std::vector<std::string> names = ListOrdinaryFiles(strSource);
        StartMeter(kx::CheckedCast<int32_t>(static_cast<int64_t>(names.size())), "Working...");
        std::vector<std::string> outputs;
        for (const std::string& name : names) outputs.push_back(OutputName(name));
        // The meter steps once per listed file as it finishes.
        const kx::batch::PoolEnd end = kx::batch::RunPool(
            kx::batch::GroupByOutput(outputs), options.Workers, options.Stop,
            [&](size_t index) {
                return ResizeListedFile(strSource, strDestination, names[index], job, engine,
                                        options.Quality);
            },
            [&](const FileReport& report) {
                if (options.FileDone) options.FileDone(report);
                StepMeter();
            });
        if (end.Error) std::rethrow_exception(end.Error);
        if (!end.Complete) return RunEnd::Stopped;

        FinishMeter();
        Dialogs().Beep();
        Dialogs().ShowMessage("Done!", kProgramTitle, MessageStyle::Plain);
        ResetMeter();
        return RunEnd::Done;
    } catch (...) {
        ReportCurrentError("ProcessFolder");
    }
    return RunEnd::Error;
}

void ProcessFolder(const std::string& strSource, const ResizeJob& job, IResizeEngine& engine)
{
    ProcessFolder(strSource, job, engine, BatchOptions{});
}

FileReport ResizeListedFile(const std::string& strSource, const std::string& strDestination,
                            const std::string& strName, const ResizeJob& job, IResizeEngine& engine,
                            int32_t lngQuality)
{
    const std::string strPath = strSource + "/" + strName;
    const auto method = kx::batch::MethodFromNumber(job.ResizeMethod);
    if (!IsResizableImage(strPath) || !method) return kx::batch::SkippedFile(strName);
    // Each size its method uses, converted now: width before height.
    const kx::batch::MethodSpec& row = kx::batch::SpecOf(*method);
    kx::batch::Sizes sizes;
    if (row.UsesWidth) sizes.Width = TextToLong(job.Width);
    if (row.UsesHeight) sizes.Height = TextToLong(job.Height);
    if (row.UsesPercentage) sizes.Percentage = TextToLong(job.Percentage);
    // A picture the engine cannot do is left out; it has told the user why
    // if it was unexpected, and the report says why to whoever asks.
    return kx::batch::ResizePicture(engine, *method, sizes, lngQuality, strName, strPath,
                                    strDestination + "/" + OutputName(strName));
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

bool ValidExtension(const std::string& strExtension)
{
    try {
        return kx::batch::HasPictureExtension(strExtension);
    } catch (...) {
        ReportCurrentError("ValidExtension");
    }
    return false;
}

}  // namespace folvane

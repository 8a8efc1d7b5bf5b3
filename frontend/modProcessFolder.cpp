#include "modProcessFolder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "CheckedMath.h"
#include "Dialogs.h"
#include "RunTimeError.h"
#include "modErrorReport.h"
#include "modImageInfo.h"
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

// The run-time error for a failed folder operation.
[[noreturn]] void RaiseForErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: kx::Raise(kx::errPathNotFound);
    case EACCES: kx::Raise(kx::errPermissionDenied);
    default: kx::Raise(kx::errPathFileAccess);
    }
}

// Creates one folder level (its parent must exist), with the permissions the
// umask leaves of 0777. A folder or file already there is no error.
void MakeFolder(const std::string& strPath)
{
    if (::mkdir(strPath.c_str(), 0777) != 0 && errno != EEXIST) RaiseForErrno(errno);
}

bool IsOrdinaryFile(const std::string& strFolder, const dirent& entry)
{
    if (entry.d_name[0] == '.') return false;  // hidden, and "." and ".."
    if (entry.d_type == DT_REG) return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
    // A link counts when it leads to a regular file; some file systems do
    // not tell the type at all.
    struct stat info {};
    const std::string path = strFolder + "/" + entry.d_name;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string UpperCaseAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

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

bool KestrixEngine::ImageResize(const std::string& InImage, const std::string& OutImage,
                                int32_t Height, int32_t Width, int32_t lngQuality)
{
    return api_.ImageResize(object_, InImage.c_str(), OutImage.c_str(), Height, Width,
                            lngQuality) != KESTRIX_FALSE;
}

bool KestrixEngine::ImagePercentageResize(const std::string& InImage, const std::string& OutImage,
                                          int32_t Percentage, int32_t lngQuality)
{
    return api_.ImagePercentageResize(object_, InImage.c_str(), OutImage.c_str(), Percentage,
                                      lngQuality) != KESTRIX_FALSE;
}

bool KestrixEngine::ImageResizeMaxHeight(const std::string& InImage, const std::string& OutImage,
                                         int32_t Height, int32_t lngQuality)
{
    return api_.ImageResizeMaxHeight(object_, InImage.c_str(), OutImage.c_str(), Height,
                                     lngQuality) != KESTRIX_FALSE;
}

bool KestrixEngine::ImageResizeMaxWidth(const std::string& InImage, const std::string& OutImage,
                                        int32_t Width, int32_t lngQuality)
{
    return api_.ImageResizeMaxWidth(object_, InImage.c_str(), OutImage.c_str(), Width,
                                    lngQuality) != KESTRIX_FALSE;
}

bool KestrixEngine::ImageResizeWithinDimensions(const std::string& InImage,
                                                const std::string& OutImage, int32_t Height,
                                                int32_t Width, int32_t lngQuality)
{
    return api_.ImageResizeWithinDimensions(object_, InImage.c_str(), OutImage.c_str(), Height,
                                            Width, lngQuality) != KESTRIX_FALSE;
}

int32_t KestrixEngine::LastErrorCode() { return api_.ErrorCode(object_); }

namespace {

// One run over a listing. The listed files are grouped by output name; a
// worker takes a whole group and does its files in listing order, so that
// the later of two files writing x.jpg wins as it would one at a time.
class FolderRun {
public:
    FolderRun(const std::string& strSource, const std::string& strDestination,
              const std::vector<std::string>& names, const ResizeJob& job, IResizeEngine& engine,
              const BatchOptions& options)
        : source_(strSource), destination_(strDestination), names_(names), job_(job),
          engine_(engine), options_(options)
    {
        std::map<std::string, size_t> groupOf;
        for (size_t i = 0; i < names.size(); ++i) {
            const auto [at, added] = groupOf.try_emplace(OutputName(names[i]), groups_.size());
            if (added) groups_.emplace_back();
            groups_[at->second].push_back(i);
        }
    }

    // Runs the workers, the calling thread being one of them, and waits for
    // all. Gives the first run-time error any of them met, or null.
    std::exception_ptr Run(unsigned workers)
    {
        const size_t useful = std::min<size_t>(workers, groups_.size());
        const size_t helpers = useful > 1 ? useful - 1 : 0;
        std::vector<std::thread> threads;
        try {
            threads.reserve(helpers);
            for (size_t i = 0; i < helpers; ++i) threads.emplace_back([this] { Work(); });
        } catch (...) {
            // Fewer threads than asked for only make the run slower.
        }
        Work();
        for (std::thread& thread : threads) thread.join();
        return error_;
    }

    // True when every listed file was visited.
    bool Complete() const { return visited_ == names_.size(); }

private:
    bool Stopping() const
    {
        return failed_.load() || (options_.Stop != nullptr && options_.Stop->load());
    }

    void Work()
    {
        try {
            for (size_t group = next_++; group < groups_.size() && !Stopping(); group = next_++) {
                for (const size_t index : groups_[group]) {
                    if (Stopping()) return;
                    Finished(ResizeListedFile(source_, destination_, names_[index], job_, engine_,
                                              options_.Quality));
                }
            }
        } catch (...) {
            Fail(std::current_exception());
        }
    }

    void Finished(const FileReport& report)
    {
        std::lock_guard lock(finishedMutex_);
        if (options_.FileDone) options_.FileDone(report);
        ++visited_;
        StepMeter();
    }

    void Fail(std::exception_ptr error)
    {
        std::lock_guard lock(finishedMutex_);
        if (!error_) error_ = std::move(error);
        failed_ = true;
    }

    const std::string& source_;
    const std::string& destination_;
    const std::vector<std::string>& names_;
    const ResizeJob& job_;
    IResizeEngine& engine_;
    const BatchOptions& options_;
    std::vector<std::vector<size_t>> groups_;  // indexes into names_, in listing order
    std::atomic<size_t> next_{0};              // the next group to take
    std::atomic<bool> failed_{false};
    std::mutex finishedMutex_;  // guards what follows, and FileDone
    size_t visited_ = 0;
    std::exception_ptr error_;
};

}  // namespace

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
        FolderRun run(strSource, strDestination, names, job, engine, options);
        const unsigned workers =
            options.Workers > 0 ? options.Workers : std::max(1u, std::thread::hardware_concurrency());
        if (const std::exception_ptr error = run.Run(workers)) std::rethrow_exception(error);
        if (!run.Complete()) return RunEnd::Stopped;

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

std::vector<std::string> ListOrdinaryFiles(const std::string& strFolder)
{
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(strFolder.c_str()), &::closedir);
    if (!folder) RaiseForErrno(errno);
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder.get());
        if (!entry) {
            if (errno != 0) RaiseForErrno(errno);
            break;
        }
        if (IsOrdinaryFile(strFolder, *entry)) names.emplace_back(entry->d_name);
    }
    // Byte order, so that a run is repeatable and a later name wins an output.
    std::sort(names.begin(), names.end());
    return names;
}

std::string OutputName(const std::string& strName) { return ExtractFileNameFront(strName) + ".jpg"; }

FileReport ResizeListedFile(const std::string& strSource, const std::string& strDestination,
                            const std::string& strName, const ResizeJob& job, IResizeEngine& engine,
                            int32_t lngQuality)
{
    FileReport report{strName, FileOutcome::Skipped, 0};
    const std::string strPath = strSource + "/" + strName;
    if (!IsResizableImage(strPath)) return report;
    const std::string strOutput = strDestination + "/" + OutputName(strName);

    // A picture the engine cannot do is left out; it has told the user why
    // if it was unexpected, and the code says why to whoever asks.
    bool written = false;
    switch (job.ResizeMethod) {
    case 0: {
        const int32_t lngWidth = TextToLong(job.Width);
        const int32_t lngHeight = TextToLong(job.Height);
        written = engine.ImageResize(strPath, strOutput, lngHeight, lngWidth, lngQuality);
        break;
    }
    case 1:
        written = engine.ImagePercentageResize(strPath, strOutput, TextToLong(job.Percentage),
                                               lngQuality);
        break;
    case 2:
        written = engine.ImageResizeMaxHeight(strPath, strOutput, TextToLong(job.Height), lngQuality);
        break;
    case 3:
        written = engine.ImageResizeMaxWidth(strPath, strOutput, TextToLong(job.Width), lngQuality);
        break;
    case 4: {
        const int32_t lngWidth = TextToLong(job.Width);
        const int32_t lngHeight = TextToLong(job.Height);
        written = engine.ImageResizeWithinDimensions(strPath, strOutput, lngHeight, lngWidth,
                                                     lngQuality);
        break;
    }
    default: return report;
    }
    if (written) {
        report.Outcome = FileOutcome::Resized;
    } else {
        report.Outcome = FileOutcome::Failed;
        report.ErrorCode = engine.LastErrorCode();
    }
    return report;
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
        const std::string upper = UpperCaseAscii(strExtension);
        return upper == "JPG" || upper == "BMP" || upper == "GIF";
    } catch (...) {
        ReportCurrentError("ValidExtension");
    }
    return false;
}

bool IsResizableImage(const std::string& strPath)
{
    if (!ValidExtension(GetFileExtension(strPath))) return false;
    return kx::GetImageInfo(strPath).ImageType < kx::ImageTypeNone;
}

}  // namespace folvane

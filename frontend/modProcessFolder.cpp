#include "modProcessFolder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "CheckedMath.h"
#include "Dialogs.h"
#include "RunTimeError.h"
#include "modErrorReport.h"
#include "modImageInfo.h"
#include "modShared.h"

namespace folvane {

namespace {

MeterState meter;
IProgressView* progressView = nullptr;

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

void SetProgressView(IProgressView* view) { progressView = view; }

const MeterState& CurrentMeter() { return meter; }

void StartMeter(int32_t lngCount, const std::string& strCaption)
{
    meter.Height = kMeterEmptyHeight;
    meter.Top = kMeterEmptyTop;
    // A folder without files has no steps to share the column out over.
    meter.lngMeterStep = lngCount > 0 ? kx::RoundTo<int32_t>(double{kMeterTravel} / lngCount) : 0;
    meter.Caption = strCaption;
    ShowMeter(true);
}

void StepMeter()
{
    meter.Top = kx::CheckedSub(meter.Top, meter.lngMeterStep);
    meter.Height = kx::CheckedAdd(meter.Height, meter.lngMeterStep);
    ShowMeter(true);
}

void FinishMeter()
{
    meter.Top = kMeterFullTop;
    meter.Height = kMeterFullHeight;
    meter.Caption = "Done!";
    ShowMeter(false);
}

void ResetMeter()
{
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

void ProcessFolder(const std::string& strSource, const ResizeJob& job, IResizeEngine& engine)
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
        for (const std::string& name : names) {
            ResizeListedFile(strSource, strDestination, name, job, engine);
            StepMeter();
        }

        FinishMeter();
        Dialogs().Beep();
        Dialogs().ShowMessage("Done!", kProgramTitle, MessageStyle::Plain);
        ResetMeter();
    } catch (...) {
        ReportCurrentError("ProcessFolder");
    }
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

void ResizeListedFile(const std::string& strSource, const std::string& strDestination,
                      const std::string& strName, const ResizeJob& job, IResizeEngine& engine)
{
    const std::string strPath = strSource + "/" + strName;
    if (!IsResizableImage(strPath)) return;
    const std::string strOutput = strDestination + "/" + ExtractFileNameFront(strName) + ".jpg";

    // The engine's result is not consulted: a picture it cannot do is left
    // out, and it has told the user why if it was unexpected.
    switch (job.ResizeMethod) {
    case 0: {
        const int32_t lngWidth = TextToLong(job.Width);
        const int32_t lngHeight = TextToLong(job.Height);
        engine.ImageResize(strPath, strOutput, lngHeight, lngWidth, kBatchQuality);
        break;
    }
    case 1:
        engine.ImagePercentageResize(strPath, strOutput, TextToLong(job.Percentage), kBatchQuality);
        break;
    case 2:
        engine.ImageResizeMaxHeight(strPath, strOutput, TextToLong(job.Height), kBatchQuality);
        break;
    case 3:
        engine.ImageResizeMaxWidth(strPath, strOutput, TextToLong(job.Width), kBatchQuality);
        break;
    case 4: {
        const int32_t lngWidth = TextToLong(job.Width);
        const int32_t lngHeight = TextToLong(job.Height);
        engine.ImageResizeWithinDimensions(strPath, strOutput, lngHeight, lngWidth, kBatchQuality);
        break;
    }
    default: break;
    }
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

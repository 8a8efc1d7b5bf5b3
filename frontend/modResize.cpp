#include "frontend/modResize.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <set>

#include "common/PictureFormats.h"
#include "common/modImageInfo.h"

namespace folvane {

namespace {

using kx::batch::Method;

bool Exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The name up to its last dot, without its folder.
std::string StemOf(const std::string& path)
{
    return kx::batch::OutputName(path.substr(FolderOf(path).size()), "", kx::batch::Naming::LastDot);
}

Method MethodOf(Sizing sizing)
{
    switch (sizing) {
    case Sizing::Fit: return Method::Fit;
    case Sizing::Fill: return Method::Fill;
    case Sizing::Exact: return Method::Resize;
    }
    return Method::Fit;
}

// The format of an output by its extension; JPEG for any other.
int FormatOfOutput(const std::string& out)
{
    return kx::OutputFormatNamed(kx::batch::ExtensionOf(out)).value_or(kx::kFormatJpeg);
}

}  // namespace

std::string OutputExtension(const std::string& file, int format)
{
    if (format != kAsOriginal) return std::string(kx::OutputFormatExtension(format));
    const std::string extension = kx::batch::ExtensionOf(file.substr(FolderOf(file).size()));
    return kx::OutputFormatNamed(extension) ? "." + extension : ".jpg";
}

std::vector<std::string> PlanOutputs(const ResizeRequest& request)
{
    std::vector<std::string> outputs;
    std::set<std::string> taken;
    for (const std::string& file : request.Files) {
        std::string base = FolderOf(file);
        if (request.placement == Placement::SubFolder) base += request.SubFolder + "/";
        base += StemOf(file);
        if (request.placement != Placement::SubFolder) base += " (" + request.Label + ")";
        const std::string extension = OutputExtension(file, request.Format);
        std::string output = base + extension;
        for (int n = 2; Exists(output) || taken.count(output); ++n)
            output = base + " " + std::to_string(n) + extension;
        taken.insert(output);
        outputs.push_back(std::move(output));
    }
    return outputs;
}

bool RunResize(const ResizeRequest& request, const std::vector<std::string>& outputs,
               kx::batch::Engine& engine, kx::batch::Observer& observer, const std::atomic<bool>* stop)
{
    kx::batch::FileList files;
    files.Names = request.Files;
    files.Outputs = outputs;
    kx::batch::Job job;
    job.method = MethodOf(request.sizing);
    job.sizes.Width = request.Width;
    job.sizes.Height = request.Height;
    job.Quality = request.Quality;
    job.Stop = stop;
    job.AllFormats = true;
    return kx::batch::RunFiles(
        files, job, engine, observer, [&](kx::batch::FileTask& task) -> std::optional<kx::batch::FileResult> {
            std::string why;
            switch (kx::batch::Classify(task.In, true, &why)) {
            case kx::batch::FileKind::Picture: break;
            case kx::batch::FileKind::Unopenable: {
                kx::batch::FileResult failed = kx::batch::SkippedFile(task.Name);
                failed.Outcome = kx::batch::FileOutcome::Failed;
                failed.ErrorCode = KESTRIX_INPUT_NOT_LOADED;
                failed.Reason = why;
                return failed;
            }
            default: return kx::batch::SkippedFile(task.Name, true);
            }
            if (request.ShrinkOnly) {
                const kx::ImageInfo info = kx::GetImageInfo(task.In);
                if (info.Width > 0) task.sizes.Width = std::min(task.sizes.Width, info.Width);
                if (info.Height > 0) task.sizes.Height = std::min(task.sizes.Height, info.Height);
            }
            if (request.placement == Placement::SubFolder)
                if (const kx::batch::Problem problem = kx::batch::MakeOutputFolder(FolderOf(task.Out))) {
                    kx::batch::FileResult failed = kx::batch::SkippedFile(task.Name);
                    failed.Outcome = kx::batch::FileOutcome::Failed;
                    failed.ErrorCode = KESTRIX_OUTPUT_NOT_WRITTEN;
                    failed.Reason = problem.Reason;
                    return failed;
                }
            return std::nullopt;
        });
}

std::string PutInPlace(const std::string& picture, const std::string& copy)
{
    const std::string name = FolderOf(picture) + StemOf(picture) + "." + kx::batch::ExtensionOf(copy);
    // A link fails where a file of that name is; a rename would replace it.
    if (::link(copy.c_str(), name.c_str()) != 0) return copy;
    ::unlink(copy.c_str());
    return name;
}

FormatEngines::FormatEngines(const EngineLibrary& library)
{
    const KestrixApi& api = library.Api();
    for (int format = 0; format < static_cast<int>(objects_.size()); ++format) {
        objects_[format] = library.CreateObject();
        if (!objects_[format]) throw std::bad_alloc();
        kx::batch::SetEngineMode(api, objects_[format].get(), false);
        api.SetOutputFormat(objects_[format].get(), format);
        engines_.push_back(std::make_unique<kx::batch::KestrixEngine>(api, objects_[format].get()));
    }
}

namespace {
thread_local int lastFormat = kx::kFormatJpeg;
}  // namespace

bool FormatEngines::Resize(kx::batch::Method method, const std::string& in, const std::string& out,
                           const kx::batch::Sizes& sizes, int32_t quality)
{
    lastFormat = FormatOfOutput(out);
    return Last().Resize(method, in, out, sizes, quality);
}

kx::batch::KestrixEngine& FormatEngines::Last() { return *engines_[lastFormat]; }
int32_t FormatEngines::LastErrorCode() { return Last().LastErrorCode(); }
std::string FormatEngines::LastErrorText() { return Last().LastErrorText(); }
std::string FormatEngines::LastWarningText() { return Last().LastWarningText(); }

}  // namespace folvane

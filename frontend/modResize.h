// "Resize pictures": the pictures a file manager hands over, resized in the
// modern mode to one box (a named preset or a custom size), written beside
// them, into a sub-folder, or in their place. Nothing here knows of widgets;
// frmResize is the window over it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "batch/BatchRun.h"
#include "frontend/EngineLibrary.h"

namespace folvane {

struct SizePreset {
    const char* Name;
    int32_t Width, Height;
};
// The presets as shipped; the user may change their sizes.
inline constexpr std::array<SizePreset, 4> kSizePresets{
    {{"Small", 854, 480}, {"Medium", 1366, 768}, {"Large", 1920, 1080}, {"Phone", 320, 568}}};

// How a picture meets the box: within it keeping the proportions, covering it
// and cropped to its centre, or made exactly its size.
enum class Sizing { Fit, Fill, Exact };
// Where the copies go.
enum class Placement {
    Beside,     // "photo (Small).jpg" beside "photo.jpg"
    SubFolder,  // "SUB/photo.jpg" beside "photo.jpg"
    Replace,    // in place of the picture, which goes to the desktop's trash
};
// The output format: one of kx::kFormatJpeg... or, with kAsOriginal, the
// picture's own where the engine writes it (JPEG, PNG, WebP, AVIF), else JPEG.
inline constexpr int kAsOriginal = -1;

struct ResizeRequest {
    std::vector<std::string> Files;  // paths of the pictures
    std::string Label;               // "Small", or "1200x800" for a custom size
    int32_t Width = 0, Height = 0;
    Sizing sizing = Sizing::Fit;
    bool ShrinkOnly = false;  // the box is cut to the picture's own size on each side
    int Format = kAsOriginal;
    int32_t Quality = kx::batch::kDefaultQuality;
    Placement placement = Placement::Beside;
    std::string SubFolder = "Resized";
};

// The extension (with its dot) of the output of the picture `file`.
std::string OutputExtension(const std::string& file, int format);

// The output path of each file. A name that is already taken on disk, or by
// an earlier output of the request, gets " 2", " 3", ... before its extension,
// so no file of the user's is ever overwritten. With Replace these are the
// copies' names until they take their pictures' places (PutInPlace).
std::vector<std::string> PlanOutputs(const ResizeRequest& request);

// Resizes the request's files into `outputs`, telling `observer`; files that
// are no pictures are skipped. Stops starting files when `stop` rises. True
// when every file was visited.
bool RunResize(const ResizeRequest& request, const std::vector<std::string>& outputs,
               kx::batch::Engine& engine, kx::batch::Observer& observer, const std::atomic<bool>* stop);

// Once `picture` has gone to the trash, gives its copy `copy` the picture's
// own name with the copy's extension, unless another file holds that name
// (then the copy keeps its own). Gives where the copy is.
std::string PutInPlace(const std::string& picture, const std::string& copy);

// The real engine for a request: one object per output format, set to the
// modern mode; each picture is written by the object of its output's
// extension. The library must outlive it.
class FormatEngines : public kx::batch::Engine {
public:
    explicit FormatEngines(const EngineLibrary& library);
    bool Resize(kx::batch::Method method, const std::string& in, const std::string& out,
                const kx::batch::Sizes& sizes, int32_t quality) override;
    int32_t LastErrorCode() override;
    std::string LastErrorText() override;
    std::string LastWarningText() override;

private:
    kx::batch::KestrixEngine& Last();
    std::array<KestrixObject, 4> objects_;
    std::vector<std::unique_ptr<kx::batch::KestrixEngine>> engines_;
};

}  // namespace folvane

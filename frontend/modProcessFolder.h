// The batch run: every usable picture of a folder is resized by the engine
// into the folder's "Resized" sub-folder as a JPEG file, while a progress
// column on the main window grows by one step per listed file. Nothing here
// knows of widgets: the window shows the meter through IProgressView and the
// dialogs through the Dialogs() seam.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EngineLibrary.h"

namespace folvane {

// ---- The progress meter ---------------------------------------------------
// The frame fraMeter is a column whose bottom edge stays at 5520 twips from
// the window's top: empty it is 160 twips high, full 4890; the 4730 twips in
// between are shared out over the listed files.
inline constexpr int32_t kMeterEmptyTop = 5360;
inline constexpr int32_t kMeterEmptyHeight = 160;
inline constexpr int32_t kMeterFullTop = 630;
inline constexpr int32_t kMeterFullHeight = 4890;
inline constexpr int32_t kMeterTravel = 4730;

// What the window shows of a run: fraMeter's top and height in twips and
// lblWorking's caption, with the twips the column grows per listed file.
struct MeterState {
    int32_t Top = kMeterEmptyTop;
    int32_t Height = kMeterEmptyHeight;
    int32_t lngMeterStep = 0;
    std::string Caption = "Ready!";
    bool operator==(const MeterState&) const = default;
};

// Implemented by the main window. Called on the thread that runs the batch.
class IProgressView {
public:
    virtual ~IProgressView() = default;
    // Shows `meter`. With `repaintNow` the column must be repainted before
    // the call returns, since the run holds the user-interface thread.
    virtual void ShowMeter(const MeterState& meter, bool repaintNow) = 0;
};

// Installs the view every later meter change is shown on (not owned; must
// outlive its use); nullptr shows nothing.
void SetProgressView(IProgressView* view);

// The meter as it stands; "Ready!" and empty when the program starts.
const MeterState& CurrentMeter();

// Empties the column, sets the step to 4730 / `lngCount` twips (rounded,
// halves to even; 0 when there are no files, or 9460 and more) and the
// caption; repaints at once.
void StartMeter(int32_t lngCount, const std::string& strCaption);
// Grows the column upwards by one step; repaints at once.
void StepMeter();
// Fills the column and shows "Done!"; no forced repaint.
void FinishMeter();
// Empties the column and shows "Ready!"; repaints at once.
void ResetMeter();

// ---- The engine -----------------------------------------------------------
// The five resize methods of the engine object. Sizes are pixels, or percent
// for PercentageResize; each call returns whether the output was written.
class IResizeEngine {
public:
    virtual ~IResizeEngine() = default;
    virtual bool ImageResize(const std::string& InImage, const std::string& OutImage,
                             int32_t Height, int32_t Width, int32_t lngQuality) = 0;
    virtual bool ImagePercentageResize(const std::string& InImage, const std::string& OutImage,
                                       int32_t Percentage, int32_t lngQuality) = 0;
    virtual bool ImageResizeMaxHeight(const std::string& InImage, const std::string& OutImage,
                                      int32_t Height, int32_t lngQuality) = 0;
    virtual bool ImageResizeMaxWidth(const std::string& InImage, const std::string& OutImage,
                                     int32_t Width, int32_t lngQuality) = 0;
    virtual bool ImageResizeWithinDimensions(const std::string& InImage,
                                             const std::string& OutImage, int32_t Height,
                                             int32_t Width, int32_t lngQuality) = 0;
};

// The engine object of a loaded libkestrix.so.1, called through its C
// interface. Neither the functions nor the object are owned.
class KestrixEngine : public IResizeEngine {
public:
    KestrixEngine(const KestrixApi& api, cKestrix* object) : api_(api), object_(object) {}
    bool ImageResize(const std::string& InImage, const std::string& OutImage, int32_t Height,
                     int32_t Width, int32_t lngQuality) override;
    bool ImagePercentageResize(const std::string& InImage, const std::string& OutImage,
                               int32_t Percentage, int32_t lngQuality) override;
    bool ImageResizeMaxHeight(const std::string& InImage, const std::string& OutImage,
                              int32_t Height, int32_t lngQuality) override;
    bool ImageResizeMaxWidth(const std::string& InImage, const std::string& OutImage,
                             int32_t Width, int32_t lngQuality) override;
    bool ImageResizeWithinDimensions(const std::string& InImage, const std::string& OutImage,
                                     int32_t Height, int32_t Width, int32_t lngQuality) override;

private:
    const KestrixApi& api_;
    cKestrix* object_;
};

// ---- The run --------------------------------------------------------------
// JPEG quality of every picture the run writes.
inline constexpr int32_t kBatchQuality = 90;

// What the main window hands over: the chosen method (ResizeMethod) and the
// three size texts exactly as typed. Method 0 calls ImageResize(height,
// width), 1 ImagePercentageResize(percentage), 2 ImageResizeMaxHeight(height),
// 3 ImageResizeMaxWidth(width), 4 ImageResizeWithinDimensions(height, width);
// any other value resizes nothing. A text is converted only when its method
// uses it, at each picture.
struct ResizeJob {
    int16_t ResizeMethod = 0;
    std::string Height;
    std::string Width;
    std::string Percentage;
};

// Resizes every usable picture of `strSource` (a folder path without a
// trailing "/") into strSource + "/Resized", creating that folder when it is
// missing; moves the meter, then beeps and shows "Done!". A run-time error
// ends the run at once with a report under "ProcessFolder", leaving the meter
// where it was.
void ProcessFolder(const std::string& strSource, const ResizeJob& job, IResizeEngine& engine);

// The names a run visits: ordinary files of the folder (regular files or
// links to them, not hidden, never folders), sorted by name byte by byte.
// Raises path not found (76), permission denied (70) or path/file access (75)
// when the folder cannot be listed.
std::vector<std::string> ListOrdinaryFiles(const std::string& strFolder);

// One listed file's work: when `strName` in `strSource` is a resizable
// picture, has the engine write strDestination + "/" + its front name +
// ".jpg" by the job's method. Raises the conversion errors of the size texts.
// Touches nothing but that output, so files may be done in any order that
// keeps the listing order for outputs of the same name.
void ResizeListedFile(const std::string& strSource, const std::string& strDestination,
                      const std::string& strName, const ResizeJob& job, IResizeEngine& engine);

// True when `strPath` names an existing folder or file whose last path
// component is not hidden. Errors are reported under "FolderExists" (False).
bool FolderExists(const std::string& strPath);

// True for "JPG", "BMP" and "GIF" in any case. Errors are reported under
// "ValidExtension" (False).
bool ValidExtension(const std::string& strExtension);

// True when the path has a JPG, BMP or GIF extension and the header probe
// recognises its content (PNG, GIF, JPEG or BMP, whatever the extension).
bool IsResizableImage(const std::string& strPath);

}  // namespace folvane

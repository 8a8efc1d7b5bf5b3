// The batch run: every usable picture of a folder is resized by the engine
// into the folder's "Resized" sub-folder as a JPEG file, while a progress
// column on the main window grows by one step per listed file. Nothing here
// knows of widgets: the window shows the meter through IProgressView and the
// dialogs through the Dialogs() seam.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "batch/BatchRun.h"
#include "frontend/EngineLibrary.h"

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

// Implemented by the main window. A run calls it from its worker threads as
// files finish, one call at a time and in the order the meter changed;
// StartMeter, FinishMeter and ResetMeter call it on the thread that runs the
// batch. The same holds for Dialogs() during a run.
class IProgressView {
public:
    virtual ~IProgressView() = default;
    // Shows `meter`. With `repaintNow` the column should be repainted soon,
    // without waiting for the run to end.
    virtual void ShowMeter(const MeterState& meter, bool repaintNow) = 0;
};

// The progress meter, shown on a view (not owned; must outlive the meter;
// none shows nothing). Safe to move from several threads.
class Meter {
public:
    explicit Meter(IProgressView* view = nullptr)
        : view_(view)
    {}

    // The meter as it stands; "Ready!" and empty at first.
    MeterState CurrentMeter() const;
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

private:
    void Show(bool repaintNow);  // with mutex_ held
    void Set(int32_t top, int32_t height, const char* caption, bool repaintNow);

    // The lock also keeps the view's calls in the order the meter changed.
    mutable std::mutex mutex_;
    MeterState meter_;
    IProgressView* const view_;
};

// ---- The engine -----------------------------------------------------------
// The engine object the run calls, one resize method per picture; the
// program's is a kx::batch::KestrixEngine over the loaded library.
using IResizeEngine = kx::batch::Engine;
using KestrixEngine = kx::batch::KestrixEngine;

// ---- The run --------------------------------------------------------------
// JPEG quality of every picture the run writes.
inline constexpr int32_t kBatchQuality = 90;

// What the main window hands over: the chosen method (ResizeMethod, the row
// of kx::batch::kMethods) and the three size texts exactly as typed; any
// other method number resizes nothing. A text is converted only when its
// method uses it, at each picture (width before height).
struct ResizeJob {
    int16_t ResizeMethod = 0;
    std::string Height;
    std::string Width;
    std::string Percentage;
};

// What became of one listed file.
using FileOutcome = kx::batch::FileOutcome;
using FileReport = kx::batch::FileResult;

// How a run ended.
enum class RunEnd {
    Done,     // every listed file was visited; "Done!" was shown
    Stopped,  // the stop flag was raised; files not started were left alone
    Error,    // a run-time error ended it and was reported
};

// How a run goes about its work.
struct BatchOptions {
    // Pictures resized at the same time; 0 for one per processor.
    unsigned Workers = 0;
    // JPEG quality of every picture written.
    int32_t Quality = kBatchQuality;
    // When it becomes true, no further file is started; pictures being
    // resized are finished. May be null.
    const std::atomic<bool>* Stop = nullptr;
    // Told about every visited file as it finishes, from the worker threads,
    // one call at a time, just before the meter steps.
    std::function<void(const FileReport&)> FileDone;
};

// Resizes every usable picture of `strSource` (a folder path without a
// trailing "/") into strSource + "/Resized", creating that folder when it is
// missing; moves `meter`, then beeps and shows "Done!". A run-time error
// ends the run with a report under "ProcessFolder": no new file is started,
// those under way are finished, and the meter stays where it was.
//
// Files are resized by a pool of workers. Files whose outputs share a name
// (x.bmp and x.gif both write x.jpg) are done one after the other in listing
// order by one worker, so the outputs are exactly those of a run that does
// one file at a time in listing order. The meter steps once per listed file
// as it finishes; files that are not pictures step at once.
RunEnd ProcessFolder(const std::string& strSource, const ResizeJob& job, IResizeEngine& engine, Meter& meter,
                     const BatchOptions& options = {});

// True when `strPath` names an existing folder or file whose last path
// component is not hidden. Errors are reported under "FolderExists" (False).
bool FolderExists(const std::string& strPath);

}  // namespace folvane

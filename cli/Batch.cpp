// The batch sub-command over the desktop program's folder logic
// (folvane_core), with the engine linked directly and called through its C
// interface.
#include "Batch.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Arguments.h"
#include "Dialogs.h"
#include "EngineCall.h"
#include "EngineLibrary.h"
#include "modErrorReport.h"
#include "modProcessFolder.h"

namespace kx::cli {

namespace {

// The C interface of the engine this program is linked to.
folvane::KestrixApi LinkedApi()
{
    folvane::KestrixApi api;
    api.Create = cKestrix_Create;
    api.Release = cKestrix_Release;
    api.ImageResize = cKestrix_ImageResize;
    api.ImagePercentageResize = cKestrix_ImagePercentageResize;
    api.ImageResizeMaxWidth = cKestrix_ImageResizeMaxWidth;
    api.ImageResizeMaxHeight = cKestrix_ImageResizeMaxHeight;
    api.ImageResizeWithinDimensions = cKestrix_ImageResizeWithinDimensions;
    api.AddBorderToExistingImage = cKestrix_AddBorderToExistingImage;
    api.AddTextToImage = cKestrix_AddTextToImage;
    api.AddTextToImageUsingSpecifiedPosition = cKestrix_AddTextToImageUsingSpecifiedPosition;
    api.ErrorCode = cKestrix_ErrorCode;
    api.SetReportHandler = Kestrix_SetReportHandler;
    api.Version = Kestrix_Version;
    return api;
}

// The folder logic's messages on standard error; its "Done!" is the
// summary's business.
class ConsoleDialogs : public folvane::IDialogs {
public:
    folvane::MessageAnswer ShowMessage(const std::string& text, const std::string&,
                                       folvane::MessageStyle style) override
    {
        if (style != folvane::MessageStyle::Plain) std::cerr << "kestrix: " << text << '\n';
        return folvane::MessageAnswer::Ok;
    }
    void Beep() override {}
    std::string ChooseFolder(const std::string&) override { return {}; }
};

struct BatchJob {
    std::string folder;
    std::string resize, fit;  // WIDTHxHEIGHT
    int32_t percent = 0, maxWidth = 0, maxHeight = 0;
    int32_t quality = folvane::kBatchQuality;
    unsigned workers = 0;
};

// The folder logic's job: a method number and its sizes as text.
folvane::ResizeJob FolderJob(const BatchJob& job)
{
    folvane::ResizeJob folder;
    const auto setSize = [&](int16_t method, const std::string& size) {
        const auto [width, height] = *ParseSize(size);  // checked when parsed
        folder.ResizeMethod = method;
        folder.Width = std::to_string(width);
        folder.Height = std::to_string(height);
    };
    if (!job.resize.empty()) setSize(0, job.resize);
    if (job.percent > 0) folder.ResizeMethod = 1, folder.Percentage = std::to_string(job.percent);
    if (job.maxHeight > 0) folder.ResizeMethod = 2, folder.Height = std::to_string(job.maxHeight);
    if (job.maxWidth > 0) folder.ResizeMethod = 3, folder.Width = std::to_string(job.maxWidth);
    if (!job.fit.empty()) setSize(4, job.fit);
    return folder;
}

// Raised by Ctrl-C. SIGINT is blocked in every thread but one that waits for
// it, so no engine call is ever interrupted.
std::atomic<bool> stopRequested{false};

void WatchForInterrupt()
{
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    std::thread([interrupt] {
        for (;;) {
            int signal = 0;
            if (sigwait(&interrupt, &signal) != 0) continue;
            stopRequested = true;
            constexpr char notice[] = "\nkestrix: stopping: finishing the pictures under way\n";
            [[maybe_unused]] const auto written = ::write(STDERR_FILENO, notice, sizeof notice - 1);
        }
    }).detach();
}

// Counts what the run did and draws the progress bar.
class Tally {
public:
    Tally(size_t total, bool showBar) : total_(total), showBar_(showBar) {}

    void FileDone(const folvane::FileReport& report)
    {
        ++done_;
        switch (report.Outcome) {
        case folvane::FileOutcome::Resized: ++resized_; break;
        case folvane::FileOutcome::Skipped: ++skipped_; break;
        case folvane::FileOutcome::Failed: failures_.push_back(report); break;
        }
        if (showBar_) DrawBar();
    }

    // Prints the summary; gives the exit status.
    int Summary(const std::string& folder, folvane::RunEnd end)
    {
        if (showBar_ && done_ > 0) std::cerr << "\r\033[K" << std::flush;
        std::sort(failures_.begin(), failures_.end(),
                  [](const auto& a, const auto& b) { return a.Name < b.Name; });
        std::cout << "Resized: " << Count(resized_, "picture") << " into " << folder << "/Resized\n"
                  << "Skipped: " << Count(skipped_, "file") << " (not JPG, BMP or GIF pictures)\n"
                  << "Failed:  " << Count(failures_.size(), "picture") << '\n';
        for (const folvane::FileReport& failed : failures_) {
            const Files files{folder + "/" + failed.Name,
                              folder + "/Resized/" + folvane::OutputName(failed.Name)};
            std::cout << "  " << failed.Name << ": " << FailureText(failed.ErrorCode, files) << '\n';
        }
        if (end == folvane::RunEnd::Stopped)
            std::cout << "Stopped: " << Count(total_ - done_, "file") << " not started\n";
        std::cout.flush();
        if (end == folvane::RunEnd::Stopped) return 128 + SIGINT;
        return end == folvane::RunEnd::Done && failures_.empty() ? kExitSuccess : kExitFailure;
    }

private:
    static std::string Count(size_t n, const char* noun)
    {
        return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
    }

    void DrawBar()
    {
        constexpr size_t kWidth = 30;
        const size_t filled = total_ > 0 ? done_ * kWidth / total_ : kWidth;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.1f", seconds > 0 ? done_ / seconds : 0.0);
        std::cerr << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
                  << done_ << "/" << total_ << " files  " << rate << " files/s" << std::flush;
    }

    const size_t total_;
    const bool showBar_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    size_t done_ = 0, resized_ = 0, skipped_ = 0;
    std::vector<folvane::FileReport> failures_;
};

int RunBatch(const BatchJob& job)
{
    // A folder given as "photos/" still names "photos/Resized".
    std::string folder = job.folder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();

    ConsoleDialogs dialogs;
    folvane::SetDialogs(&dialogs);
    kx::SetReportHandler([](const std::string& text) { PrintReportText(text); });
    WatchForInterrupt();

    // Counted here only for the bar; the run lists the folder itself.
    size_t total = 0;
    try {
        total = folvane::ListOrdinaryFiles(folder).size();
    } catch (...) {
        // The run meets the same error and reports it.
    }
    Tally tally(total, ::isatty(STDERR_FILENO) == 1);
    folvane::BatchOptions options;
    options.Workers = job.workers;
    options.Quality = job.quality;
    options.Stop = &stopRequested;
    options.FileDone = [&tally](const folvane::FileReport& report) { tally.FileDone(report); };

    const folvane::KestrixApi api = LinkedApi();
    const std::unique_ptr<cKestrix, folvane::KestrixObjectRelease> object(cKestrix_Create(),
                                                                          {cKestrix_Release});
    if (!object) {
        std::cerr << "kestrix: out of memory\n";
        return kExitFailure;
    }
    folvane::KestrixEngine engine(api, object.get());
    const folvane::RunEnd end = folvane::ProcessFolder(folder, FolderJob(job), engine, options);
    folvane::SetDialogs(nullptr);
    return tally.Summary(folder, end);
}

}  // namespace

std::optional<std::pair<int32_t, int32_t>> ParseSize(std::string_view text)
{
    const size_t cross = text.find_first_of("xX");
    if (cross == std::string_view::npos) return std::nullopt;
    const auto width = ParseWholeNumber(text.substr(0, cross), 1, INT32_MAX);
    const auto height = ParseWholeNumber(text.substr(cross + 1), 1, INT32_MAX);
    if (!width || !height) return std::nullopt;
    return std::pair{static_cast<int32_t>(*width), static_cast<int32_t>(*height)};
}

void AddBatchCommand(CLI::App& app, Action& action)
{
    CLI::App* command = app.add_subcommand("batch", "Resize every picture of a folder into FOLDER/Resized");
    command->footer(
        "Every .jpg, .bmp and .gif file (any case) whose content is a picture is written as\n"
        "FOLDER/Resized/<name up to its first dot>.jpg; other files are skipped. Where two\n"
        "files give the same name, the later one in byte order of the names wins.\n"
        "Ctrl-C stops starting new pictures and lets those under way finish.\n"
        "Exit status: 0 all done, 1 a picture failed or the folder could not be read,\n"
        "130 stopped by Ctrl-C.\n\n"
        "Example:\n  kestrix batch ~/Photos --max-width 640 -j 4");
    const auto job = std::make_shared<BatchJob>();
    command->add_option("FOLDER", job->folder, "Folder whose pictures are resized")
        ->required()
        ->type_name("FOLDER");

    CLI::Option_group* method = command->add_option_group("Method", "How every picture is resized");
    method->add_option("--resize", job->resize, "Resize to exactly WIDTHxHEIGHT; the proportions are not kept")
        ->transform(Box())
        ->type_name("WxH");
    method->add_option("--percent", job->percent, "Scale to PERCENT percent of the size")
        ->transform(Percent())
        ->type_name("N");
    method->add_option("--max-width", job->maxWidth, "Scale to WIDTH pixels wide, keeping the proportions")
        ->transform(Side())
        ->type_name("WIDTH");
    method->add_option("--max-height", job->maxHeight, "Scale to HEIGHT pixels high, keeping the proportions")
        ->transform(Side())
        ->type_name("HEIGHT");
    method->add_option("--fit", job->fit, "Shrink to fit within WIDTHxHEIGHT, keeping the proportions")
        ->transform(Box())
        ->type_name("WxH");
    method->require_option(1);

    command->add_option("-q,--quality", job->quality, "JPEG quality, 1 (smallest file) to 100 (best); default 90")
        ->transform(WholeNumber(1, 100))
        ->type_name("N");
    command->add_option("-j,--jobs", job->workers, "Pictures resized at the same time; default one per processor")
        ->transform(WholeNumber(1, 1024))
        ->type_name("N");
    command->callback([&action, job] { action = [job] { return RunBatch(*job); }; });
}

}  // namespace kx::cli

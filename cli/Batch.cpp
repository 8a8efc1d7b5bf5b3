// The batch sub-command: a thin front over the batch run (kx::batch), with
// the engine linked directly and called through its C interface.
#include "cli/Batch.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/BatchRun.h"
#include "batch/JsonReport.h"
#include "batch/LibraryRun.h"
#include "batch/PrintableName.h"
#include "cli/Arguments.h"
#include "cli/EngineCall.h"
#include "cli/Modes.h"
#include "common/PictureFormats.h"
#include "common/RunTimeError.h"

namespace kx::cli {

namespace {

using kx::batch::FileOutcome;
using kx::batch::FileResult;
using kx::batch::kOutsideLink;
using kx::batch::Method;
using kx::batch::PrintableName;

// The help of each method's option, in the order of --help. A method of two
// sizes takes WIDTHxHEIGHT, one of one size a whole number.
struct MethodOption {
    Method method;
    const char* help;
};
constexpr MethodOption kMethodOptions[] = {
    {Method::Resize, "Resize to exactly WIDTHxHEIGHT; the proportions are not kept"},
    {Method::Percent, "Scale to PERCENT percent of the size"},
    {Method::MaxWidth, "Scale to WIDTH pixels wide, keeping the proportions"},
    {Method::MaxHeight, "Scale to HEIGHT pixels high, keeping the proportions"},
    {Method::Fit, "Shrink to fit within WIDTHxHEIGHT, keeping the proportions"},
    {Method::Fill, "Cover WIDTHxHEIGHT keeping the proportions, then crop the centre to it"},
};

const char* TypeName(const kx::batch::MethodSpec& row)
{
    return row.TwoSides() ? "WxH" : row.UsesPercentage ? "N" : row.UsesWidth ? "WIDTH" : "HEIGHT";
}

struct BatchJob {
    std::string folder;
    std::array<std::string, std::size(kMethodOptions)> values;  // as given, per method option
    int32_t quality = kx::batch::kDefaultQuality;
    unsigned workers = 0;
    // For whole libraries.
    bool recursive = false, skipExisting = false, dryRun = false, followLinks = false;
    std::string output;  // empty: FOLDER/Resized
    std::string shard;   // "I/N", checked when parsed
    std::string json;    // a file, "-" for standard output, empty for none
    bool verbose = false;
    // Modes and formats.
    ResampleModes modes;
    bool allFormats = false;
    int64_t memoryLimit = 0;  // shared by the workers; 0: the default
    int32_t format = -1;      // -1: JPEG, or as the --name pattern's extension says
    std::string name;         // --name PATTERN, its extension taken off
    bool strict = false;
    int crop = MiddleCentre;
    bool keepMetadata = false, noAutoOrient = false;
    std::string srgb;  // as Files::srgb
};

// One worker per processor this process may run on (a Slurm task or a
// pinned container sees only its own).
unsigned ProcessorsToUse()
{
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        return static_cast<unsigned>(CPU_COUNT(&allowed));
    return 0;  // the pool's own default
}

// The chosen method and its sizes; exactly one option is given (CLI11
// checks that) and its value was checked when parsed.
kx::batch::Job RunJob(const BatchJob& given)
{
    kx::batch::Job job;
    job.Quality = given.quality;
    job.Workers = given.workers;
    job.ShrinkOnly = given.modes.shrinkOnly;
    job.Strict = given.strict;
    for (size_t i = 0; i < std::size(kMethodOptions); ++i) {
        if (given.values[i].empty()) continue;
        job.method = kMethodOptions[i].method;
        const kx::batch::MethodSpec& row = kx::batch::SpecOf(job.method);
        std::string why;
        if (row.TwoSides()) {
            const auto [width, height] = *ParseBox(given.values[i], why);
            job.sizes.Width = width;
            job.sizes.Height = height;
            job.method = OneSided(job.method, width, height, job.ShrinkOnly);
        } else if (row.UsesPercentage) {
            const double percent = *ParsePercent(given.values[i], why);
            if (percent == std::floor(percent))
                job.sizes.Percentage = static_cast<int32_t>(percent);
            else
                job.sizes.DecimalPercentage = percent;
        } else {
            (row.UsesWidth ? job.sizes.Width : job.sizes.Height) = *ParseSide(given.values[i], why);
        }
    }
    return job;
}

// The method whose option was given.
Method AskedMethod(const BatchJob& given)
{
    for (size_t i = 0; i < std::size(kMethodOptions); ++i)
        if (!given.values[i].empty()) return kMethodOptions[i].method;
    return Method::Resize;
}

// The settings an output folder remembers for --skip-existing: everything
// that changes an output's pixels or bytes.
std::string SettingsLine(const BatchJob& given, const kx::batch::Job& run, int32_t format)
{
    const int32_t filter = given.modes.filter >= 0 ? given.modes.filter
                           : given.modes.classic   ? KESTRIX_FILTER_EXACT
                                                   : KESTRIX_FILTER_LANCZOS;
    return std::string("kestrix batch: ") + kx::batch::SpecOf(run.method).Name + " width " +
           std::to_string(run.sizes.Width) + " height " + std::to_string(run.sizes.Height) + " percent " +
           std::to_string(run.sizes.Percentage) + " " + PercentText(run.sizes.DecimalPercentage) +
           (run.ShrinkOnly ? " shrink-only" : "") + " filter " + std::to_string(filter) +
           (given.modes.classic ? " classic" : " modern") + " format " + std::to_string(format) +
           " quality " + std::to_string(run.Quality) + " crop " + std::to_string(given.crop) +
           (given.modes.background >= 0 ? " background " + std::to_string(given.modes.background) : "") +
           " metadata colour-profile" + (given.keepMetadata ? " exif-xmp" : "") +
           (given.noAutoOrient ? " as-stored" : " auto-orient") +
           (given.srgb.empty() ? "" : " srgb-" + given.srgb);
}

// The report's name for what became of a file.
kx::batch::ReportOutcome ReportOutcomeOf(FileOutcome outcome)
{
    switch (outcome) {
    case FileOutcome::Resized: return kx::batch::ReportOutcome::Resized;
    case FileOutcome::Skipped: return kx::batch::ReportOutcome::NotAPicture;
    case FileOutcome::Failed: return kx::batch::ReportOutcome::Failed;
    case FileOutcome::UpToDate: return kx::batch::ReportOutcome::UpToDate;
    case FileOutcome::WouldResize: return kx::batch::ReportOutcome::WouldResize;
    }
    return kx::batch::ReportOutcome::Failed;
}

constexpr char kNotAPicture[] = "not a JPG, BMP or GIF picture";

// How a skipped file is grouped in the summary: its extension in lower case.
std::string SkipGroup(const std::string& name)
{
    const std::string extension = kx::batch::ExtensionOf(name);
    return extension.empty() ? "without extension" : "." + kx::LowerCaseAscii(extension);
}

// Counts what the run did, draws the progress bar, writes the JSON report
// and, in a dry run, the line of each file.
class Tally : public kx::batch::Observer {
public:
    Tally(const std::string& folder, bool showBar, bool verbose, kx::batch::JsonReport* json, bool dryRun,
          bool allFormats)
        : folder_(folder)
        , showBar_(showBar)
        , verbose_(verbose)
        , json_(json)
        , dryRun_(dryRun)
        , allFormats_(allFormats)
    {}

    void Started(size_t files) override { total_ = files; }

    void FileDone(const FileResult& result) override
    {
        ++done_;
        switch (result.Outcome) {
        case FileOutcome::Resized:
            resized_.push_back(result);
            if (!result.Warning.empty()) ++warned_;
            break;
        case FileOutcome::Skipped:
            if (result.Reason == kOutsideLink)
                outside_.push_back(result.Name);
            else
                skipped_.push_back({result.Name, result.TakenExtension});
            break;
        case FileOutcome::Failed: failures_.push_back(result); break;
        case FileOutcome::UpToDate: ++upToDate_; break;
        case FileOutcome::WouldResize: ++wouldResize_; break;
        }
        const std::string input = folder_ + "/" + result.Name;
        const std::string reason = result.Outcome == FileOutcome::Skipped && result.Reason.empty()
                                       ? NotAPicture()
                                   : result.Outcome == FileOutcome::Failed ? FailureLine(result)
                                   : result.Warning.empty()                ? result.Reason
                                                                           : result.Warning;
        if (json_)
            json_->Record(
                {input, result.Output,
                 reason == kOutsideLink ? kx::batch::ReportOutcome::Skipped : ReportOutcomeOf(result.Outcome),
                 reason, result.Milliseconds});
        if (dryRun_) Plan(result.Outcome, input, result.Output, reason);
        if (showBar_) DrawBar();
    }

    // A link the run did not follow out of the folder.
    void Outside(const std::string& name)
    {
        outside_.push_back(name);
        if (json_)
            json_->Record({folder_ + "/" + name, "", kx::batch::ReportOutcome::Skipped, kOutsideLink, 0});
        if (dryRun_) Plan(FileOutcome::Skipped, folder_ + "/" + name, "", kOutsideLink);
    }

    // A folder below the top one that could not be read.
    void Unreadable(const kx::batch::UnreadableFolder& folder)
    {
        FileResult failed;
        failed.Name = folder.Folder + "/";
        failed.Outcome = FileOutcome::Failed;
        failed.ErrorCode = KESTRIX_INPUT_NOT_LOADED;
        failed.Reason = "cannot read the folder: " + folder.Reason;
        failures_.push_back(failed);
        if (json_)
            json_->Record(
                {folder_ + "/" + folder.Folder, "", kx::batch::ReportOutcome::Failed, failed.Reason, 0});
    }

    // Prints the summary on `out`; gives the exit status.
    int Summary(std::ostream& out, const std::string& destination, bool complete, bool skipExisting,
                const std::vector<std::string>& leftOut)
    {
        if (showBar_ && done_ > 0) std::cerr << "\r\033[K" << std::flush;
        std::sort(plan_.begin(), plan_.end());
        for (const std::string& line : plan_) out << line << '\n';
        const auto byName = [](const auto& a, const auto& b) { return a.Name < b.Name; };
        std::sort(failures_.begin(), failures_.end(), byName);
        std::sort(resized_.begin(), resized_.end(), byName);
        std::sort(skipped_.begin(), skipped_.end());
        if (dryRun_)
            out << "Would resize: " << Count(wouldResize_, "picture") << " into "
                << PrintableName(destination) << '\n';
        else
            out << "Resized: " << Count(resized_.size(), "picture") << " into " << PrintableName(destination)
                << '\n';
        if (warned_ > 0) {
            out << "Resized with a warning: " << Count(warned_, "picture") << '\n';
            for (const FileResult& result : resized_)
                if (!result.Warning.empty())
                    out << "  " << PrintableName(result.Name) << ": " << result.Warning << '\n';
        }
        if (skipExisting) out << "Up to date: " << Count(upToDate_, "picture") << " (kept)\n";
        if (!leftOut.empty()) {
            out << "Left out: " << Count(leftOut.size(), "folder") << " of an earlier run's outputs:";
            for (const std::string& folder : leftOut) out << ' ' << PrintableName(folder);
            out << '\n';
        }
        out << "Skipped: " << Count(skipped_.size() + outside_.size(), "file") << SkipSummary() << '\n';
        if (verbose_) {
            std::sort(outside_.begin(), outside_.end());
            for (const auto& [name, taken] : skipped_) out << "  " << PrintableName(name) << '\n';
            for (const auto& name : outside_)
                out << "  " << PrintableName(name) << " (" << kOutsideLink << ")\n";
        }
        PrintOverwritten(out);
        out << "Failed:  " << Count(failures_.size(), "picture") << '\n';
        for (const FileResult& failed : failures_) {
            const bool unread = (failed.ErrorCode == KESTRIX_INPUT_NOT_LOADED || failed.ErrorCode == 0) &&
                                !failed.Reason.empty();
            out << "  " << PrintableName(failed.Name) << ": "
                << (unread ? WithLimitHint(failed.Reason) : FailureLine(failed)) << '\n';
        }
        if (!complete) out << "Stopped: " << Count(total_ - done_, "file") << " not started\n";
        out.flush();
        if (json_)
            json_->Finish(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start_)
                              .count());
        if (!complete) return kx::batch::StoppedStatus();
        return failures_.empty() ? kExitSuccess : kExitFailure;
    }

private:
    // A dry run's line for a file.
    void Plan(FileOutcome outcome, const std::string& input, const std::string& output,
              const std::string& reason)
    {
        const char* verb = outcome == FileOutcome::WouldResize ? "resize  "
                           : outcome == FileOutcome::UpToDate  ? "keep    "
                                                               : "skip    ";
        std::string line = verb + PrintableName(input);
        if (!output.empty()) line += " -> " + PrintableName(output);
        if (!reason.empty()) line += " (" + reason + ")";
        plan_.push_back(line);
    }

    std::string FailureLine(const FileResult& failed) const
    {
        // A damaged picture under --strict, or an output another picture writes.
        if (failed.ErrorCode == 0) return failed.Reason;
        return FailureText(failed.ErrorCode, Files{folder_ + "/" + failed.Name, failed.Output},
                           failed.Reason);
    }

    const char* NotAPicture() const { return allFormats_ ? "not a picture of a format read" : kNotAPicture; }

    static std::string Count(size_t n, const char* noun)
    {
        return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
    }

    // ": 2 .png and 1 .txt (only .jpg, .bmp and .gif files are resized without --all-formats); 1 .jpg (not a picture)".
    std::string SkipSummary() const
    {
        std::map<std::string, size_t> notTaken, notPictures;
        for (const auto& [name, taken] : skipped_) ++(taken ? notPictures : notTaken)[SkipGroup(name)];
        const auto list = [](const std::map<std::string, size_t>& groups) {
            std::string text;
            size_t i = 0;
            for (const auto& [group, n] : groups) {
                if (i > 0) text += i + 1 == groups.size() ? " and " : ", ";
                text += std::to_string(n) + " " + group;
                ++i;
            }
            return text;
        };
        std::string text;
        if (!notTaken.empty())
            text += list(notTaken) +
                    (allFormats_ ? " (not a picture format that is read)"
                                 : " (only .jpg, .bmp and .gif files are resized without --all-formats)");
        if (!notPictures.empty()) text += (text.empty() ? "" : "; ") + list(notPictures) + " (not pictures)";
        std::map<std::string, size_t> outside;
        for (const std::string& name : outside_) ++outside[SkipGroup(name)];
        if (!outside.empty()) text += (text.empty() ? "" : "; ") + list(outside) + " (" + kOutsideLink + ")";
        return text.empty() ? "" : ": " + text;
    }

    // Outputs written by more than one file: the later file's picture stays.
    void PrintOverwritten(std::ostream& out) const
    {
        std::map<std::string, std::vector<std::string>> writers;  // output -> names, in name order
        for (const FileResult& result : resized_) writers[result.Output].push_back(result.Name);
        std::vector<std::string> lines;
        size_t overwritten = 0;
        for (const auto& [output, names] : writers) {
            if (names.size() < 2) continue;
            overwritten += names.size() - 1;
            std::string line = "  " + PrintableName(output.substr(output.rfind('/') + 1)) + ": ";
            for (size_t i = 0; i < names.size(); ++i) line += (i ? ", then " : "") + PrintableName(names[i]);
            lines.push_back(line);
        }
        if (overwritten == 0) return;
        out << "Overwritten: " << Count(overwritten, "output") << " by a later file of the same name\n";
        for (const std::string& line : lines) out << line << '\n';
    }

    void DrawBar()
    {
        constexpr size_t kWidth = 30;
        const size_t filled = total_ > 0 ? done_ * kWidth / total_ : kWidth;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.1f", seconds > 0 ? done_ / seconds : 0.0);
        std::cerr << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] " << done_
                  << "/" << total_ << " files  " << rate << " files/s" << std::flush;
    }

    const std::string folder_;
    const bool showBar_, verbose_;
    kx::batch::JsonReport* const json_;
    const bool dryRun_;
    const bool allFormats_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    size_t total_ = 0, done_ = 0, upToDate_ = 0, wouldResize_ = 0, warned_ = 0;
    std::vector<FileResult> resized_, failures_;
    std::vector<std::pair<std::string, bool>> skipped_;  // with "its extension is taken"
    std::vector<std::string> outside_;                   // links out of the folder
    std::vector<std::string> plan_;                      // a dry run's lines
};

// Raised by Ctrl-C, SIGTERM and SIGHUP.
std::atomic<bool> stopRequested{false};

// Why the output folder cannot be used with the picture folder, or nothing.
std::string OverlapProblem(const std::string& folder, const std::string& destination, bool recursive)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const std::string source = fs::weakly_canonical(folder, error).string() + "/";
    const std::string output = fs::weakly_canonical(destination, error).string() + "/";
    if (error) return {};
    if (source == output)
        return "the output folder is the picture folder: the outputs would replace the pictures";
    if (recursive && source.starts_with(output))
        return "the output folder holds the picture folder: the outputs would replace pictures";
    return {};
}

// The line (without "kestrix: ") that says why a run cannot start.
std::string StartProblemLine(const kx::batch::Problem& problem, const BatchJob& given,
                             const std::string& destination)
{
    using Kind = kx::batch::Problem::Kind;
    if (problem.What == Kind::NoPictures) return "no pictures found in " + PrintableName(given.folder);
    if (problem.What == Kind::LinkedFolder)
        return PrintableName(destination) + " is a link; give --output to write there";
    const bool aboutOutput = problem.What == Kind::CannotMakeFolder && !given.output.empty();
    std::string line = PrintableName(aboutOutput ? given.output : given.folder) + ": ";
    if (problem.What != Kind::CannotMakeFolder)
        line += kx::batch::ProblemText(problem.What);
    else
        line += aboutOutput ? "cannot make the output folder" : "cannot make the folder Resized";
    return line + (problem.Reason.empty() ? "" : " (" + problem.Reason + ")");
}

int RunBatch(const BatchJob& given)
{
    // A folder given as "photos/" still names "photos/Resized".
    std::string folder = given.folder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::string destination = given.output.empty() ? folder + "/Resized" : given.output;
    while (destination.size() > 1 && destination.back() == '/') destination.pop_back();

    if (const std::string overlap = OverlapProblem(folder, destination, given.recursive); !overlap.empty()) {
        std::cerr << "kestrix: " << PrintableName(given.output) << ": " << overlap << '\n';
        return kExitUsage;
    }
    kx::batch::StopOnInterrupt(stopRequested, "\nkestrix: stopping: finishing the pictures under way\n");
    const bool modern = !given.modes.classic;
    const int32_t format = given.format < 0 ? KESTRIX_FORMAT_JPEG : given.format;
    kx::batch::LibraryJob job;
    job.Run = RunJob(given);
    job.Run.AllFormats = modern || given.allFormats;
    job.Run.AutoOrient = !given.noAutoOrient;
    job.Run.Extension = std::string(kx::OutputFormatExtension(format));
    job.Modern = modern;
    job.naming = modern ? kx::batch::Naming::LastDot : kx::batch::Naming::FirstDot;
    job.Pattern = given.name;
    job.Fields = FieldsOf(job.Run, AskedMethod(given));
    job.Settings = SettingsLine(given, job.Run, format);
    job.Run.Stop = &stopRequested;
    if (job.Run.Workers == 0) job.Run.Workers = ProcessorsToUse();
    job.Recursive = given.recursive;
    job.SkipExisting = given.skipExisting;
    job.DryRun = given.dryRun;
    job.links = given.followLinks ? kx::batch::Links::Follow : kx::batch::Links::Inside;
    job.TrustDestination = !given.output.empty();
    if (!given.shard.empty()) job.Part = *kx::batch::ParseShard(given.shard);  // checked when parsed
    const kx::batch::LibraryPlan plan = kx::batch::PrepareLibrary(folder, destination, job);
    if (plan.Error) {
        std::cerr << "kestrix: " << StartProblemLine(plan.Error, given, destination) << '\n';
        return kExitFailure;
    }

    std::ofstream jsonFile;
    if (!given.json.empty() && given.json != "-") {
        jsonFile.open(given.json, std::ios::binary | std::ios::trunc);
        if (!jsonFile) {
            std::cerr << "kestrix: " << PrintableName(given.json) << ": cannot write the report\n";
            return kExitFailure;
        }
    }
    std::optional<kx::batch::JsonReport> json;
    if (!given.json.empty()) json.emplace(given.json == "-" ? std::cout : jsonFile);
    const kx::batch::EngineApi api = kx::batch::LinkedEngineApi();
    const std::unique_ptr<cKestrix, decltype(api.Release)> object(api.Create(), api.Release);
    if (!object) {
        std::cerr << "kestrix: out of memory\n";
        return kExitFailure;
    }
    ApplyModes(object.get(), given.modes);
    cKestrix_SetOutputFormat(object.get(), format);
    cKestrix_SetFillPlace(object.get(), given.crop);
    cKestrix_SetKeepMetadata(object.get(), given.keepMetadata ? KESTRIX_TRUE : KESTRIX_FALSE);
    cKestrix_SetAutoOrient(object.get(), given.noAutoOrient ? KESTRIX_FALSE : KESTRIX_TRUE);
    cKestrix_SetSrgbOutput(object.get(), SrgbOutput(given.srgb));
    cKestrix_SetMemoryLimit(given.memoryLimit);
    kx::batch::KestrixEngine engine(api, object.get());
    Tally tally(folder, ::isatty(STDERR_FILENO) == 1, given.verbose, json ? &*json : nullptr, given.dryRun,
                job.Run.AllFormats);
    try {
        for (const std::string& link : plan.Outside) tally.Outside(link);
        const bool complete = kx::batch::RunLibrary(plan, job, engine, tally);
        for (const auto& missed : plan.Unreadable) tally.Unreadable(missed);
        return tally.Summary(given.json == "-" ? std::cerr : std::cout, destination, complete,
                             given.skipExisting, plan.LeftOut);
    } catch (const kx::RunTimeError& error) {  // the unexpected: out of memory, say
        std::cerr << "kestrix: " << PrintableName(given.folder) << ": " << error.Description() << '\n';
    } catch (const std::exception& error) {
        std::cerr << "kestrix: " << PrintableName(given.folder) << ": " << error.what() << '\n';
    }
    return kExitFailure;
}

}  // namespace

void AddBatchCommand(CLI::App& app, Action& action)
{
    CLI::App* command = app.add_subcommand("batch", "Resize every picture of a folder into FOLDER/Resized");
    command->footer(
        "Every file of a format the engine reads (JPEG, PNG, GIF, BMP, HEIC/HEIF, AVIF,\n"
        "WebP, TIFF) is written as FOLDER/Resized/<name up to its last dot>.jpg; other\n"
        "files are skipped. A picture whose output another one writes fails rather than\n"
        "overwrite it (--name tells them apart). A picture the decoder warned about is\n"
        "resized with a warning (--strict: it fails). A folder without a picture gets no\n"
        "Resized folder; -r leaves out folders named Resized holding earlier outputs.\n"
        "--format names the outputs with its extension (.png, .webp, .avif).\n"
        "Pictures are resized in the modern mode (Lanczos filter, true proportions).\n"
        "--classic gives Folvane's bytes and rules: only .jpg, .bmp and .gif files (all\n"
        "formats with --all-formats), names up to the first dot, and where two files\n"
        "give the same name the later one in byte order wins (the summary names them).\n"
        "--skip-existing keeps outputs made with the same settings (the output folder\n"
        "remembers them in .kestrix-run) from pictures without a warning.\n"
        "A link that leads out of FOLDER is skipped unless --follow-links; a default\n"
        "FOLDER/Resized that is a link is refused (name it with --output to use it).\n"
        "Ctrl-C, SIGTERM and SIGHUP stop starting new pictures and let those under\n"
        "way finish.\n"
        "Exit status: 0 all done, 1 a picture failed, none was found or the folder\n"
        "could not be read, 2 a usage error (also an output folder that would replace\n"
        "pictures), 130 stopped by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP.\n\n"
        "Examples:\n  kestrix batch ~/Photos --max-width 640 -j 4\n"
        "  kestrix batch ~/Photos --recursive --output ~/Thumbs --fit 1024x768 --skip-existing\n"
        "  kestrix batch ~/Photos --fill 200x200 --crop top --name 'thumb_{stem}_{width}'\n"
        "  kestrix batch /srv/photos -r -o /srv/thumbs --max-width 640 --shard 0/4 --json shard-0.jsonl");
    const auto job = std::make_shared<BatchJob>();
    command->add_option("FOLDER", job->folder, "Folder whose pictures are resized")
        ->required()
        ->type_name("FOLDER");

    CLI::Option_group* method = command->add_option_group("Method", "How every picture is resized");
    for (size_t i = 0; i < std::size(kMethodOptions); ++i) {
        const kx::batch::MethodSpec& row = kx::batch::SpecOf(kMethodOptions[i].method);
        method->add_option(std::string("--") + row.Name, job->values[i], kMethodOptions[i].help)
            ->transform(row.TwoSides()       ? Box()
                        : row.UsesPercentage ? Percent()
                                             : Side())
            ->type_name(TypeName(row));
    }
    method->require_option(1);

    command
        ->add_option("-q,--quality", job->quality,
                     "JPEG quality, 1 (smallest file) to 100 (best); default 90")
        ->transform(WholeNumber(1, 100))
        ->type_name("N");
    AddModeOptions(command, job->modes, true);
    command->add_flag("--all-formats", job->allFormats,
                      "With --classic: also take .png .jpeg .jpe .webp .heic .heif .avif .tif .tiff files "
                      "(the modern mode takes them anyway)");
    command
        ->add_option("--name", job->name,
                     "Name outputs by PATTERN: {stem} (or %s) the name up to its last dot, {ext}, {method}, "
                     "{width}, {height}; an ending .jpg, .png, .webp or .avif picks the format")
        ->type_name("PATTERN");
    command
        ->add_option("--crop", job->crop,
                     "Where --fill crops: centre (default), top, bottom, left, right "
                     "or a corner (top-left, ...)")
        ->transform(TextPlace())
        ->type_name("PLACE");
    command->add_flag("--strict", job->strict,
                      "A picture the decoder warned about (a truncated JPEG, say) fails; no output is kept");
    command
        ->add_option("--format", job->format,
                     "Output format: jpeg (default), png, webp or avif; outputs get its extension")
        ->transform(OutputFormat())
        ->type_name("FORMAT");
    command
        ->add_option("-j,--jobs", job->workers,
                     "Pictures resized at the same time; default one per processor")
        ->transform(WholeNumber(1, 1024))
        ->type_name("N");
    AddMetadataOptions(command, job->keepMetadata, job->noAutoOrient, job->srgb);
    command->add_flag("-v,--verbose", job->verbose, "List the skipped files by name in the summary");
    AddMemoryLimitOption(command, job->memoryLimit);

    CLI::Option_group* library =
        command->add_option_group("Whole libraries", "Trees of folders, resuming, several machines");
    library->add_flag("-r,--recursive", job->recursive,
                      "Sub-folders too (not hidden ones, not links to folders); outputs mirror the tree");
    library
        ->add_option("-o,--output", job->output,
                     "Where the outputs go (default FOLDER/Resized); made as needed")
        ->type_name("DIR");
    library->add_flag("--follow-links", job->followLinks,
                      "Read links to files (and with -r to folders) wherever they lead");
    library->add_flag("--skip-existing", job->skipExisting,
                      "Keep outputs that are complete and at least as new as their pictures");
    library->add_option("--shard", job->shard, "Do only shard I of N (I from 0): N runs split a library")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                if (!kx::batch::ParseShard(value))
                    return "'" + value + "' is not a shard: use I/N with 0 <= I < N";
                return {};
            },
            ""))
        ->type_name("I/N");
    library->add_flag("-n,--dry-run", job->dryRun,
                      "Tell what would be resized, kept and skipped, and why; write nothing");
    library
        ->add_option("--json", job->json,
                     "Write one JSON line per file and the totals to FILE (- for standard output)")
        ->type_name("FILE");
    command->callback([&action, job] {
        if (!job->name.empty()) job->name = PatternOf(job->name, job->format);
        for (size_t i = 0; i < std::size(kMethodOptions); ++i) {
            const std::string& value = job->values[i];
            const Method method = kMethodOptions[i].method;
            if (method == Method::Fill && !value.empty() && (value.front() == 'x' || value.back() == 'x'))
                throw CLI::ValidationError("--fill: '" + value +
                                           "': fill needs both the width and the height");
            if (method == Method::Percent && value.find('.') != std::string::npos && job->modes.classic)
                throw CLI::ValidationError("--percent: '" + value + "': --classic takes whole percentages");
        }
        action = [job] { return RunBatch(*job); };
    });
}

}  // namespace kx::cli

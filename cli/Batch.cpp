// The batch sub-command: a thin front over the batch run (kx::batch), with
// the engine linked directly and called through its C interface.
#include "Batch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Arguments.h"
#include "BatchRun.h"
#include "EngineCall.h"
#include "RunTimeError.h"

namespace kx::cli {

namespace {

using kx::batch::FileOutcome;
using kx::batch::FileResult;
using kx::batch::Method;

// How each method is asked for on the command line, in the order of --help.
// A method of two sizes takes WIDTHxHEIGHT, one of one size a whole number.
struct MethodOption {
    Method method;
    const char* name;
    const char* typeName;
    const char* help;
};
constexpr MethodOption kMethodOptions[] = {
    {Method::Resize, "--resize", "WxH", "Resize to exactly WIDTHxHEIGHT; the proportions are not kept"},
    {Method::Percent, "--percent", "N", "Scale to PERCENT percent of the size"},
    {Method::MaxWidth, "--max-width", "WIDTH", "Scale to WIDTH pixels wide, keeping the proportions"},
    {Method::MaxHeight, "--max-height", "HEIGHT", "Scale to HEIGHT pixels high, keeping the proportions"},
    {Method::Fit, "--fit", "WxH", "Shrink to fit within WIDTHxHEIGHT, keeping the proportions"},
};

bool TakesTwoSizes(Method method)
{
    const kx::batch::MethodSpec& spec = kx::batch::SpecOf(method);
    return spec.UsesWidth && spec.UsesHeight;
}

struct BatchJob {
    std::string folder;
    std::array<std::string, std::size(kMethodOptions)> values;  // as given, per method option
    int32_t quality = kx::batch::kDefaultQuality;
    unsigned workers = 0;
    bool verbose = false;
};

// The chosen method and its sizes; exactly one option is given (CLI11
// checks that) and its value was checked when parsed.
kx::batch::Job RunJob(const BatchJob& given)
{
    kx::batch::Job job;
    job.Quality = given.quality;
    job.Workers = given.workers;
    for (size_t i = 0; i < std::size(kMethodOptions); ++i) {
        if (given.values[i].empty()) continue;
        job.method = kMethodOptions[i].method;
        const kx::batch::MethodSpec& spec = kx::batch::SpecOf(job.method);
        if (TakesTwoSizes(job.method)) {
            const auto [width, height] = *ParseSize(given.values[i]);
            job.sizes.Width = width;
            job.sizes.Height = height;
            continue;
        }
        const auto value = static_cast<int32_t>(*ParseWholeNumber(given.values[i], 1, INT32_MAX));
        if (spec.UsesWidth) job.sizes.Width = value;
        if (spec.UsesHeight) job.sizes.Height = value;
        if (spec.UsesPercentage) job.sizes.Percentage = value;
    }
    return job;
}

// Why a listed file was skipped: its extension is not taken, or it is not
// a picture although its extension is.
std::string SkipGroup(const std::string& name)
{
    std::string extension = kx::batch::ExtensionOf(name);
    if (extension.empty()) return "without extension";
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "." + extension;
}

// A file the run skipped as no picture although its extension is a
// picture's, because it could not be opened: its reason, else empty.
std::string OpenProblem(const std::string& path)
{
    if (!kx::batch::HasPictureExtension(kx::batch::ExtensionOf(path))) return {};
    const int file = ::open(path.c_str(), O_RDONLY);
    if (file >= 0) {
        ::close(file);
        return {};
    }
    return errno == EACCES || errno == EPERM ? "permission denied" : std::strerror(errno);
}

// Counts what the run did and draws the progress bar.
class Tally : public kx::batch::Observer {
public:
    Tally(const std::string& folder, bool showBar, bool verbose) : folder_(folder), showBar_(showBar), verbose_(verbose) {}

    void Started(size_t files) override { total_ = files; }

    void FileDone(const FileResult& given) override
    {
        FileResult result = given;
        if (result.Outcome == FileOutcome::Skipped) {
            if (std::string problem = OpenProblem(folder_ + "/" + result.Name); !problem.empty()) {
                result.Outcome = FileOutcome::Failed;
                result.ErrorCode = KESTRIX_INPUT_NOT_LOADED;
                result.Reason = problem;
            }
        }
        ++done_;
        switch (result.Outcome) {
        case FileOutcome::Resized: resized_.push_back(result); break;
        case FileOutcome::Skipped: skipped_.push_back(result.Name); break;
        case FileOutcome::Failed: failures_.push_back(result); break;
        }
        if (showBar_) DrawBar();
    }

    // Prints the summary; gives the exit status.
    int Summary(bool complete)
    {
        if (showBar_ && done_ > 0) std::cerr << "\r\033[K" << std::flush;
        const auto byName = [](const auto& a, const auto& b) { return a.Name < b.Name; };
        std::sort(failures_.begin(), failures_.end(), byName);
        std::sort(resized_.begin(), resized_.end(), byName);
        std::sort(skipped_.begin(), skipped_.end());
        std::cout << "Resized: " << Count(resized_.size(), "picture") << " into " << folder_ << "/Resized\n"
                  << "Skipped: " << Count(skipped_.size(), "file") << SkipSummary() << '\n';
        if (verbose_)
            for (const std::string& name : skipped_) std::cout << "  " << name << '\n';
        PrintOverwritten();
        std::cout << "Failed:  " << Count(failures_.size(), "picture") << '\n';
        for (const FileResult& failed : failures_) {
            const Files files{folder_ + "/" + failed.Name, failed.Output};
            const bool unread = failed.ErrorCode == KESTRIX_INPUT_NOT_LOADED && !failed.Reason.empty();
            std::cout << "  " << failed.Name << ": "
                      << (unread ? failed.Reason : FailureText(failed.ErrorCode, files, failed.Reason)) << '\n';
        }
        if (!complete) std::cout << "Stopped: " << Count(total_ - done_, "file") << " not started\n";
        std::cout.flush();
        if (!complete) return 128 + SIGINT;
        return failures_.empty() ? kExitSuccess : kExitFailure;
    }

private:
    static std::string Count(size_t n, const char* noun)
    {
        return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
    }

    // ": 2 .png and 1 .txt (only .jpg, .bmp and .gif files are resized); 1 .jpg (not a picture)".
    std::string SkipSummary() const
    {
        std::map<std::string, size_t> notTaken, notPictures;
        for (const std::string& name : skipped_) {
            const bool taken = kx::batch::HasPictureExtension(kx::batch::ExtensionOf(name));
            ++(taken ? notPictures : notTaken)[SkipGroup(name)];
        }
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
        if (!notTaken.empty()) text += list(notTaken) + " (only .jpg, .bmp and .gif files are resized)";
        if (!notPictures.empty())
            text += (text.empty() ? "" : "; ") + list(notPictures) + " (not pictures)";
        return text.empty() ? "" : ": " + text;
    }

    // Outputs written by more than one file: the later file's picture stays.
    void PrintOverwritten() const
    {
        std::map<std::string, std::vector<std::string>> writers;  // output -> names, in name order
        for (const FileResult& result : resized_) writers[result.Output].push_back(result.Name);
        std::vector<std::string> lines;
        size_t overwritten = 0;
        for (const auto& [output, names] : writers) {
            if (names.size() < 2) continue;
            overwritten += names.size() - 1;
            std::string line = "  " + output.substr(output.rfind('/') + 1) + ": ";
            for (size_t i = 0; i < names.size(); ++i) line += (i ? ", then " : "") + names[i];
            lines.push_back(line);
        }
        if (overwritten == 0) return;
        std::cout << "Overwritten: " << Count(overwritten, "output") << " by a later file of the same name\n";
        for (const std::string& line : lines) std::cout << line << '\n';
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

    const std::string folder_;
    const bool showBar_, verbose_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    size_t total_ = 0, done_ = 0;
    std::vector<FileResult> resized_, failures_;
    std::vector<std::string> skipped_;
};

// Raised by Ctrl-C.
std::atomic<bool> stopRequested{false};

int RunBatch(const BatchJob& given)
{
    // A folder given as "photos/" still names "photos/Resized".
    std::string folder = given.folder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();

    // A folder without a picture gets no Resized folder.
    std::vector<std::string> names;
    try {
        names = kx::batch::ListOrdinaryFiles(folder);
    } catch (...) {
        // The folder's problem is told below.
    }
    if (!names.empty() &&
        std::none_of(names.begin(), names.end(), [&](const std::string& name) {
            const std::string path = folder + "/" + name;
            return kx::batch::IsResizableImage(path) || !OpenProblem(path).empty();
        })) {
        std::cerr << "kestrix: no pictures found in " << given.folder << '\n';
        return kExitFailure;
    }

    std::string detail;
    const kx::batch::StartProblem problem = kx::batch::PrepareFolders(folder, &detail);
    if (problem != kx::batch::StartProblem::None) {
        std::cerr << "kestrix: " << given.folder << ": " << kx::batch::StartProblemText(problem)
                  << (detail.empty() ? "" : " (" + detail + ")") << '\n';
        return kExitFailure;
    }
    kx::batch::StopOnInterrupt(stopRequested, "\nkestrix: stopping: finishing the pictures under way\n");

    const kx::batch::EngineApi api = kx::batch::LinkedEngineApi();
    const std::unique_ptr<cKestrix, decltype(api.Release)> object(api.Create(), api.Release);
    if (!object) {
        std::cerr << "kestrix: out of memory\n";
        return kExitFailure;
    }
    kx::batch::KestrixEngine engine(api, object.get());
    kx::batch::Job job = RunJob(given);
    job.Stop = &stopRequested;
    Tally tally(folder, ::isatty(STDERR_FILENO) == 1, given.verbose);
    try {
        names = kx::batch::ListOrdinaryFiles(folder);
        const bool complete = kx::batch::RunFiles(folder, folder + "/Resized", names, job, engine, tally);
        return tally.Summary(complete);
    } catch (const kx::RunTimeError& error) {
        std::cerr << "kestrix: " << given.folder << ": " << error.Description() << '\n';
    } catch (const std::exception& error) {
        std::cerr << "kestrix: " << given.folder << ": " << error.what() << '\n';
    }
    return kExitFailure;
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
        "files give the same name, the later one in byte order of the names wins (the\n"
        "summary names them). A folder without a picture gets no Resized folder.\n"
        "Ctrl-C stops starting new pictures and lets those under way finish.\n"
        "Exit status: 0 all done, 1 a picture failed, none was found or the folder\n"
        "could not be read, 130 stopped by Ctrl-C.\n\n"
        "Example:\n  kestrix batch ~/Photos --max-width 640 -j 4");
    const auto job = std::make_shared<BatchJob>();
    command->add_option("FOLDER", job->folder, "Folder whose pictures are resized")
        ->required()
        ->type_name("FOLDER");

    CLI::Option_group* method = command->add_option_group("Method", "How every picture is resized");
    for (size_t i = 0; i < std::size(kMethodOptions); ++i) {
        const MethodOption& row = kMethodOptions[i];
        method->add_option(row.name, job->values[i], row.help)
            ->transform(TakesTwoSizes(row.method) ? Box() : row.method == Method::Percent ? Percent() : Side())
            ->type_name(row.typeName);
    }
    method->require_option(1);

    command->add_option("-q,--quality", job->quality, "JPEG quality, 1 (smallest file) to 100 (best); default 90")
        ->transform(WholeNumber(1, 100))
        ->type_name("N");
    command->add_option("-j,--jobs", job->workers, "Pictures resized at the same time; default one per processor")
        ->transform(WholeNumber(1, 1024))
        ->type_name("N");
    command->add_flag("-v,--verbose", job->verbose, "List the skipped files by name in the summary");
    command->callback([&action, job] { action = [job] { return RunBatch(*job); }; });
}

}  // namespace kx::cli

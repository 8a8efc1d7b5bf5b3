// Engine calls of the command-line tool.
#include "cli/EngineCall.h"

#include "batch/BatchRun.h"
#include "batch/PrintableName.h"
#include "cli/Arguments.h"
#include "common/PictureFormats.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace kx::cli {

namespace {

void PrintReport(const char* text, void*) { PrintReportText(text ? text : ""); }

std::string Quoted(const std::string& path) { return "'" + ShownName(path) + "'"; }

// The paths StandardStreams gave for standard input and output.
std::string& StdinPath()
{
    static std::string path;
    return path;
}
std::string& StdoutPath()
{
    static std::string path;
    return path;
}

std::string FdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Copies `from` to `to` until the end; false on a read or write error.
bool Copy(int from, int to)
{
    std::vector<char> buffer(size_t{1} << 20);
    size_t filled = 0, sent = 0;  // the bytes read, and those of them written
    for (;;) {
        const bool writing = sent < filled;
        const ssize_t n = writing ? ::write(to, buffer.data() + sent, filled - sent)
                                  : ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (writing)
            sent += static_cast<size_t>(n);
        else if (n == 0)
            return true;
        else
            filled = static_cast<size_t>(n), sent = 0;
    }
}

}  // namespace

void PrintReportText(std::string_view text)
{
    // The report's lines are joined by CR LF.
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t end = rest.find("\r\n");
        std::cerr << "kestrix: " << rest.substr(0, end) << '\n';
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 2);
    }
    std::cerr.flush();
}

void PrintWarnings(const std::string& input)
{
    std::string_view rest = Kestrix_LastWarningText();
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::cerr << "kestrix: " << ShownName(input) << ": warning: " << rest.substr(0, end) << '\n';
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
}

int32_t SrgbOutput(const std::string& srgb)
{
    return srgb.empty() ? KESTRIX_SRGB_KEEP : srgb == "profile" ? KESTRIX_SRGB_PROFILE : KESTRIX_SRGB_PLAIN;
}

void AddMetadataOptions(CLI::App* command, bool& keepMetadata, bool& noAutoOrient, std::string& srgb)
{
    command
        ->add_flag(
            "--srgb{plain}", srgb,
            "Convert a picture with another RGB profile (Display P3, Adobe RGB) to sRGB and write it "
            "without a profile; --srgb=profile embeds a compact sRGB one. By default the profile is kept")
        ->check(CLI::IsMember({"plain", "profile"}))
        ->type_name("[=profile]");
    command->add_flag("--keep-metadata", keepMetadata,
                      "Also copy the EXIF record (camera data, GPS position; without its preview) and XMP "
                      "into JPEG, PNG, WebP and AVIF outputs; by default only the colour profile is copied");
    command->add_flag("--no-auto-orient", noAutoOrient,
                      "Keep the pixels as stored instead of turning the picture upright from its EXIF "
                      "orientation; the tag (in AVIF, its irot/imir transform) is written into the output");
}

void AddMemoryLimitOption(CLI::App* command, int64_t& bytes)
{
    command
        ->add_option("--memory-limit", bytes,
                     "Most memory the pictures under way may take together, e.g. 512M or 1.5G; a picture "
                     "that alone needs more is refused; default 1G or a quarter of the memory, if less")
        ->transform(MemorySize())
        ->type_name("SIZE");
}

std::string WithLimitHint(const std::string& reason)
{
    return reason.ends_with(" memory limit") ? reason + " (--memory-limit)" : reason;
}

void PrintEngineReports() { Kestrix_SetReportHandler(PrintReport, nullptr); }

std::string FailureText(int32_t errorCode, const Files& files, const std::string& reason)
{
    const std::string because = reason.empty() ? "" : ": " + WithLimitHint(reason);
    switch (errorCode) {
    case KESTRIX_INPUT_NOT_LOADED:
        // "photo.jpg: no such file or folder", as other tools say it.
        if (!reason.empty()) return ShownName(files.input) + because;
        return "cannot read the input picture " + Quoted(files.input);
    case KESTRIX_OUTPUT_NOT_WRITTEN:
        // Without a format given, the output's name tells it (batch runs name every output so).
        return "cannot write the output " +
               std::string(kx::OutputFormatTitle(
                   files.format >= 0 ? files.format
                                     : FormatOfFileName(files.output).value_or(KESTRIX_FORMAT_JPEG))) +
               " file " + Quoted(files.output) + because;
    case KESTRIX_BAD_WIDTH:
    case KESTRIX_BAD_HEIGHT:
    case KESTRIX_BAD_PERCENTAGE:
        // The engine's own words ("the width must be 1 or more").
        if (!reason.empty()) return reason;
        break;
    case KESTRIX_UNEXPECTED_ERROR:
        return "an unexpected error occurred with " + Quoted(files.input) + " (reported above)";
    case KESTRIX_RESAMPLE_FAILED:
        return "the picture " + Quoted(files.input) + " could not be resampled to that size" + because;
    default: break;
    }
    return "the engine failed with error code " + std::to_string(errorCode);
}

EngineObject OpenEngine(const Files& files)
{
    EngineObject engine{std::unique_ptr<cKestrix, EngineRelease>(cKestrix_Create()), files.format,
                        kExitFailure};
    if (!engine.object) {
        std::cerr << "kestrix: out of memory\n";
        return engine;
    }
    engine.status = kExitUsage;
    if (engine.format < 0 && files.output == "-") {
        std::cerr << "kestrix: the output '-' (standard output) needs --format jpeg, png, webp or avif\n";
        engine.object.reset();
        return engine;
    }
    if (engine.format < 0) {
        const std::optional<int32_t> named = FormatOfFileName(files.output);
        if (!named) {
            std::cerr << "kestrix: " << Quoted(files.output)
                      << ": name the output .jpg, .jpeg, .png, .webp or .avif, or give --format\n";
            engine.object.reset();
            return engine;
        }
        engine.format = *named;
    }
    if (cKestrix_SetOutputFormat(engine.object.get(), engine.format) != KESTRIX_TRUE) {
        std::cerr << "kestrix: unknown output format " << engine.format << '\n';
        engine.object.reset();
        return engine;
    }
    cKestrix_SetKeepMetadata(engine.object.get(), files.keepMetadata ? KESTRIX_TRUE : KESTRIX_FALSE);
    cKestrix_SetAutoOrient(engine.object.get(), files.noAutoOrient ? KESTRIX_FALSE : KESTRIX_TRUE);
    cKestrix_SetSrgbOutput(engine.object.get(), SrgbOutput(files.srgb));
    cKestrix_SetMemoryLimit(files.memoryLimit);
    engine.status = kExitSuccess;
    return engine;
}

std::string ShownName(const std::string& path)
{
    if (!path.empty() && path == StdinPath()) return "standard input";
    if (!path.empty() && path == StdoutPath()) return "standard output";
    return kx::batch::PrintableName(path);
}

StandardStreams::~StandardStreams()
{
    Finish();
    if (memory_ >= 0) ::close(memory_);
}

bool StandardStreams::Use(std::string& input, std::string& output)
{
    struct stat info {};
    if (input == "-") {
        input = StdinPath() = FdPath(STDIN_FILENO);
        if (::fstat(STDIN_FILENO, &info) != 0 || !S_ISREG(info.st_mode)) {
            memory_ = ::memfd_create("kestrix-stdin", MFD_CLOEXEC);
            const kx::batch::ExitOnInterrupt waiting;  // nothing is written yet
            if (memory_ < 0 || !Copy(STDIN_FILENO, memory_)) {
                std::cerr << "kestrix: standard input: " << std::strerror(errno) << '\n';
                return false;
            }
            input = StdinPath() = FdPath(memory_);
        }
    }
    if (output == "-") {
        output = StdoutPath() = FdPath(STDOUT_FILENO);
        if (::fstat(STDOUT_FILENO, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)))
            return true;
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            std::cerr << "kestrix: standard output: " << std::strerror(errno) << '\n';
            return false;
        }
        pipe_ = ends[1];
        output = StdoutPath() = FdPath(pipe_);
        copy_ = std::thread([this, from = ends[0]] {
            copied_ = Copy(from, STDOUT_FILENO);
            ::close(from);
        });
    }
    return true;
}

bool StandardStreams::Finish()
{
    if (pipe_ >= 0) ::close(pipe_);
    pipe_ = -1;
    if (copy_.joinable()) {
        copy_.join();
        if (!copied_) std::cerr << "kestrix: standard output: " << std::strerror(errno) << '\n';
    }
    return copied_;
}

const std::atomic<bool>& StopOnSignals()
{
    static std::atomic<bool> stop{false};
    kx::batch::StopOnInterrupt(stop, "\nkestrix: stopping: finishing the picture under way\n");
    return stop;
}

int StoppedOr(int status) { return kx::batch::StopSignal() != 0 ? kx::batch::StoppedStatus() : status; }

int RunEngineMethod(const Files& files,
                    const std::function<KestrixBool(cKestrix*, const char* in, const char* out)>& method)
{
    StopOnSignals();
    const EngineObject engine = OpenEngine(files);
    if (!engine.object) return engine.status;
    StandardStreams streams;
    std::string input = files.input, output = files.output;
    if (!streams.Use(input, output)) return kExitFailure;
    const bool done = method(engine.object.get(), input.c_str(), output.c_str()) == KESTRIX_TRUE;
    PrintWarnings(input);
    if (!streams.Finish()) return kExitFailure;
    if (done) return StoppedOr(kExitSuccess);
    Files resolved = files;
    resolved.input = input;
    resolved.output = output;
    resolved.format = engine.format;
    std::cerr << "kestrix: "
              << FailureText(cKestrix_ErrorCode(engine.object.get()), resolved, Kestrix_LastErrorText())
              << '\n';
    return kExitFailure;
}

}  // namespace kx::cli

// Running one engine method for a sub-command and turning its outcome into
// the tool's messages and exit status.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include <CLI/CLI.hpp>

#include "kestrix.h"

namespace kx::cli {

// Exit statuses of the tool.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the engine method failed
constexpr int kExitUsage = 2;    // the command line was wrong

// The picture a method reads and the file it writes, in which format.
struct Files {
    std::string input;
    std::string output;
    int32_t format = -1;  // a KestrixFormat; -1: as the output's name says
    // --keep-metadata and --no-auto-orient (cKestrix_SetKeepMetadata,
    // cKestrix_SetAutoOrient).
    bool keepMetadata = false;
    bool noAutoOrient = false;
    std::string srgb = "";  // --srgb: "plain" or "profile"; "" keeps the profile
    // --memory-limit in bytes (cKestrix_SetMemoryLimit); 0: the default.
    int64_t memoryLimit = 0;
};

// Adds --keep-metadata and --no-auto-orient to `command`.
// and --srgb[=profile] (srgb: KESTRIX_SRGB_KEEP unless given).
void AddMetadataOptions(CLI::App* command, bool& keepMetadata, bool& noAutoOrient, std::string& srgb);
// The KestrixSrgb value of --srgb's text ("" when not given).
int32_t SrgbOutput(const std::string& srgb);

// Adds --memory-limit to `command`, read into `bytes`.
void AddMemoryLimitOption(CLI::App* command, int64_t& bytes);

// The engine's reason, with the option to name when the memory limit refused it.
std::string WithLimitHint(const std::string& reason);

// Sends the engine's error reports to standard error, one "kestrix: " line
// per line of the report.
void PrintEngineReports();
// Prints an error report the same way.
void PrintReportText(std::string_view text);

// Prints what the decoder of the last method on this thread noted about
// `input` (a truncated JPEG, say), one "kestrix: INPUT: warning: " line each.
void PrintWarnings(const std::string& input);

// One line (without "kestrix: " and newline) saying what a failed method's
// error code means, followed for a file that could not be read or written
// by the engine's reason (Kestrix_LastErrorText) when it gave one. A size
// below 1 is told in the engine's words alone.
std::string FailureText(int32_t errorCode, const Files& files, const std::string& reason = {});

struct EngineRelease {
    void operator()(cKestrix* object) const { cKestrix_Release(object); }
};

// A fresh engine object set as `files` asks: to write files.format, or the
// format the output's name says, with or without metadata, turned or not.
struct EngineObject {
    std::unique_ptr<cKestrix, EngineRelease> object;  // null after a problem, which was printed
    int32_t format = KESTRIX_FORMAT_JPEG;             // the format resolved
    int status = kExitSuccess;                        // the exit status of the problem
};
EngineObject OpenEngine(const Files& files);

// "-" as INPUT is standard input, as OUTPUT standard output, each given to
// the engine as a path it opens. Standard input that is an ordinary file is
// read in place; anything else (a pipe, a socket) is read whole into an
// anonymous memory file first, since pictures are read out of order.
// Standard output that is a pipe or a terminal is written as a stream;
// anything else (an ordinary file, a socket) gets a pipe whose bytes a
// thread copies to it. Messages name them "standard input" and "standard
// output".
class StandardStreams {
public:
    StandardStreams() = default;
    StandardStreams(const StandardStreams&) = delete;
    StandardStreams& operator=(const StandardStreams&) = delete;
    ~StandardStreams();
    // Turns "-" in `input` and `output` into the paths to open. False after
    // printing why standard input could not be read or no output could be made.
    bool Use(std::string& input, std::string& output);
    // Waits until everything written reached standard output. False after
    // printing why it did not.
    bool Finish();

private:
    int memory_ = -1;  // the memory file holding standard input
    int pipe_ = -1;    // the writing end of the pipe copied to standard output
    std::thread copy_;
    bool copied_ = true;
};

// `path` as messages show it: "standard input" or "standard output" for
// the paths StandardStreams gave, else kx::batch::PrintableName.
std::string ShownName(const std::string& path);

// Ctrl-C, SIGTERM and SIGHUP stop a command as they stop a batch: the
// picture under way is finished (its output whole, no temporary file left),
// no other is started, and the command ends with 130, 143 or 129 (see
// StoppedOr). A wait on standard input ends at once. Call it before any
// thread starts; gives the flag a signal raises.
const std::atomic<bool>& StopOnSignals();

// `status`, or the exit status of a command a signal stopped.
int StoppedOr(int status);

// Calls `method` on a fresh engine object set to write files.format, with
// the paths of the input and output to open: kExitSuccess when it returns
// KESTRIX_TRUE, otherwise kExitFailure after printing its failure line.
int RunEngineMethod(const Files& files,
                    const std::function<KestrixBool(cKestrix*, const char* in, const char* out)>& method);

}  // namespace kx::cli

// The batch run shared by the desktop program and the command-line tool:
// pick the pictures of a list of files, name their outputs, and resize them
// on a pool of workers that can be stopped. It knows nothing of windows or
// terminals: a front end watches a run through an Observer and decides what
// becomes of each file through a per-file hook.
//
// Expected failures (a missing folder, one that cannot be made) are told as
// a Problem; exceptions are for the unexpected.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/EngineApi.h"
#include "batch/Methods.h"

namespace kx::batch {

// JPEG quality of a batch run unless told otherwise.
inline constexpr int32_t kDefaultQuality = 90;

// ---- The engine -----------------------------------------------------------
// Resizes one picture by a method; a fake stands in for it in tests. Several
// workers call it at once.
class Engine {
public:
    virtual ~Engine() = default;
    // Writes `out` from `in`; true when the output was written.
    virtual bool Resize(Method method, const std::string& in, const std::string& out, const Sizes& sizes,
                        int32_t quality) = 0;
    // Why the last Resize on this thread failed: the engine's code (0 after
    // a success) and its reason (empty when it gave none).
    virtual int32_t LastErrorCode() { return 0; }
    virtual std::string LastErrorText() { return {}; }
    // What the decoder noted about the picture of the last Resize on this
    // thread ("Premature end of JPEG file"), lines ending in "\n"; empty
    // when nothing.
    virtual std::string LastWarningText() { return {}; }
};

// The real engine through its C interface. Neither the table nor the object
// are owned. A run only reads the object's settings and the result code is
// kept per thread, so one KestrixEngine serves all workers.
class KestrixEngine : public Engine {
public:
    KestrixEngine(const EngineApi& api, cKestrix* object)
        : api_(api)
        , object_(object)
    {}
    bool Resize(Method method, const std::string& in, const std::string& out, const Sizes& sizes,
                int32_t quality) override;
    int32_t LastErrorCode() override;
    std::string LastErrorText() override;
    std::string LastWarningText() override;

private:
    const EngineApi& api_;
    cKestrix* object_;
};

// ---- Problems -------------------------------------------------------------
// Why a step that may fail in the ordinary course of things did not succeed.
struct Problem {
    enum class Kind {
        None,
        NoSuchFolder,      // the picture folder does not exist
        NotAFolder,        // it is a file
        Unreadable,        // it cannot be listed
        CannotMakeFolder,  // the output folder cannot be made
        NoPictures,        // a folder without a picture to resize
        LinkedFolder,      // the default output folder is a link
    };
    Kind What = Kind::None;
    int Errno = 0;       // the system's error number, 0 when there is none
    std::string Reason;  // the system's words or what is in the way; may be empty
    explicit operator bool() const { return What != Kind::None; }
};

// A user-facing text for a problem, without the path or the reason.
const char* ProblemText(Problem::Kind kind);

// ---- Results --------------------------------------------------------------
enum class FileOutcome {
    Resized,  // the engine wrote the output
    Skipped,  // not a picture the run resizes
    Failed,   // the engine refused it, or it could not be opened; ErrorCode and Reason say why
    // Only in runs over whole libraries (LibraryRun.h):
    UpToDate,     // its output is current and was kept
    WouldResize,  // a dry run would have resized it
};

struct FileResult {
    std::string Name;  // as listed, relative to the source folder
    FileOutcome Outcome = FileOutcome::Skipped;
    bool TakenExtension = false;  // skipped although its extension is a picture's
    int32_t ErrorCode = 0;        // the engine's code for a failed picture
    std::string Reason;           // the engine's reason for it, may be empty
    std::string Warning;          // what the decoder noted about a resized picture, else empty
    std::string Output;           // the output path of a picture, else empty
    int64_t Milliseconds = 0;     // time spent on the file
};

// The result of a file the run does not resize.
inline FileResult SkippedFile(const std::string& name, bool takenExtension = false)
{
    FileResult result;
    result.Name = name;
    result.TakenExtension = takenExtension;
    return result;
}

// Told about a run as it goes. Started comes first, on the calling thread;
// FileDone from the worker threads, one call at a time, in the order files
// finish.
class Observer {
public:
    virtual ~Observer() = default;
    virtual void Started(size_t files) { (void)files; }
    virtual void FileDone(const FileResult& result) = 0;
};

// ---- Folders, names and extensions ----------------------------------------
// Creates one folder level (its parent must exist) with the permissions the
// umask leaves of 0777; a folder or file already there is no problem.
Problem MakeFolder(const std::string& path);

// Creates `path` and the folders above it that are missing.
Problem MakeFolders(const std::string& path);

// MakeFolders, and a file in the way of `path` is a problem.
Problem MakeOutputFolder(const std::string& path);

// Checks that `source` is a folder that can be listed.
Problem CheckSourceFolder(const std::string& source);

// How an output is named after its picture.
enum class Naming {
    FirstDot,  // the desktop program's: up to the first "." ("a.b.bmp" gives "a")
    LastDot,   // the single-picture commands': up to the last "." ("a.b.bmp" gives "a.b")
};

// The output of a listed name: its folder part, the name cut by `naming`,
// and `extension` ("sub/x.y.gif" gives "sub/x.jpg"). LastDot keeps a name
// whose only "." leads it.
std::string OutputName(const std::string& name, const std::string& extension, Naming naming);

// The fields of a name pattern besides the picture's own name.
struct NameFields {
    std::string Method, Width, Height;
};

// The output of a listed name by `pattern`: its folder part, then the
// pattern with {stem} (or "%s") for the name cut by `naming`, {ext} for its
// extension, {method}, {width} and {height} for `fields`, then `extension`.
// An empty pattern is "{stem}": OutputName.
std::string PatternName(const std::string& name, const std::string& pattern, const std::string& extension,
                        Naming naming, const NameFields& fields);

// The text after the last "." of a path, empty when there is none.
std::string ExtensionOf(const std::string& path);

// The extensions a run takes (any case): jpg, bmp and gif, and with
// `allFormats` also png, jpeg, jpe, webp, heic, heif, avif, tif and tiff.
bool TakesExtension(const std::string& extension, bool allFormats);

// What a run makes of a file.
enum class FileKind {
    Picture,      // taken, and the header probe recognises its content
    NotTaken,     // its extension is not taken
    NotAPicture,  // taken, but its content is no picture the probe knows
    Unopenable,   // taken, but it cannot be opened
};

// Looks at the file at `path`; `reason` gets why an Unopenable file cannot
// be opened ("permission denied"). With `allFormats` (the modern run), a
// picture too large to hold whole is still a picture: it is reduced as it
// is read.
FileKind Classify(const std::string& path, bool allFormats, std::string* reason = nullptr);

// ---- The run --------------------------------------------------------------
struct Job {
    Method method = Method::Resize;
    Sizes sizes;
    int32_t Quality = kDefaultQuality;
    bool ShrinkOnly = false;                  // never enlarge (KeepsOwnSize)
    unsigned Workers = 0;                     // 0: one per processor
    bool InOrder = false;                     // one file at a time, in list order
    const std::atomic<bool>* Stop = nullptr;  // may be null
    bool AllFormats = false;                  // take every format's extensions (TakesExtension)
    std::string Extension = ".jpg";           // of the outputs (OutputName)
    bool Strict = false;                      // a picture the decoder warned about fails
    bool AutoOrient = true;                   // as the engine object: sizes of a decimal percentage follow
};

// The files of a run: each name (relative to Source, or a path when Source
// is empty) writes the output of the same index (relative to Destination,
// or a path when it is empty).
struct FileList {
    std::string Source, Destination;
    std::vector<std::string> Names, Outputs;
};

// One file as the per-file hook sees it.
struct FileTask {
    size_t Index;                      // in the list
    const std::string& Name;           // as listed
    std::string In, Out;               // the picture's path and its output's
    const std::vector<size_t>& Group;  // the files writing the same output, in list order
    Sizes sizes;                       // the job's; the hook may change them
    // Where the engine writes Out when not by its name (a path through an
    // open folder), and what keeps such folders and files open until it has.
    std::string WriteTo;
    std::vector<std::shared_ptr<const void>> Keep;
};

// Decides one file before the engine is called: a result ends the file there
// (skipped, kept, failed); nothing lets the engine resize it. Called on the
// worker threads; a group's files in order on one thread.
using FileHook = std::function<std::optional<FileResult>(FileTask& task)>;

// Resizes the files of `files` by the job, telling `observer`. An output in
// a folder (Destination given) that is one of the inputs, the same file by
// any name, fails before anything is written. Files writing
// one output are done in list order by one worker. When the stop flag rises,
// or the hook or the engine throws, no further file is started and those
// under way finish; the first exception is then thrown here. True when every
// file was visited.
bool RunFiles(const FileList& files, const Job& job, Engine& engine, Observer& observer,
              const FileHook& hook = {});

// With outputs that are never overwritten: the failure of a picture whose
// output an earlier picture of its group writes, naming that picture;
// nothing for the group's first picture (files that are no pictures of the
// job's formats do not count).
std::optional<FileResult> RefusedCollision(const FileList& files, const FileTask& task, bool allFormats);

// ---- Stopping -------------------------------------------------------------
// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread (call it before
// starting any other thread, so all inherit the mask) and raises `stop` when
// one arrives, after writing `notice` to standard error. Engine calls are
// never interrupted: the pictures under way are finished, so no output is
// left half written and no temporary file stays.
void StopOnInterrupt(std::atomic<bool>& stop, const char* notice);

// The first signal that raised the stop flag, 0 before one did.
int StopSignal();

// The exit status of a run the stop flag ended: 128 + that signal (130 for
// Ctrl-C when none was recorded, 143 for SIGTERM, 129 for SIGHUP).
int StoppedStatus();

// While one lives, a signal ends the process at once with StoppedStatus(),
// as does one that came before: for waits on a stream (standard input),
// when no file is being written.
class ExitOnInterrupt {
public:
    ExitOnInterrupt();
    ~ExitOnInterrupt();
    ExitOnInterrupt(const ExitOnInterrupt&) = delete;
    ExitOnInterrupt& operator=(const ExitOnInterrupt&) = delete;
};

}  // namespace kx::batch

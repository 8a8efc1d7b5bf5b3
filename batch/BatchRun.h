// The batch run shared by the desktop program and the command-line tool:
// list a folder, pick the pictures, name their outputs, and resize them on a
// pool of workers that can be stopped. It knows nothing of windows or
// terminals: a front end watches a run through an Observer.
//
// A run is built from separate steps so that a front end can replace one
// (a recursive listing, say) and keep the others:
//   ListOrdinaryFiles -> OutputName -> GroupByOutput -> RunPool(ResizeFile)
// RunFolder puts them together with the folder rules of both front ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "EngineApi.h"
#include "Methods.h"

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
};

// The real engine through its C interface. Neither the table nor the object
// are owned. The object holds no state and the result code is kept per
// thread, so one KestrixEngine serves all workers.
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

private:
    const EngineApi& api_;
    cKestrix* object_;
};

// ---- Results --------------------------------------------------------------
enum class FileOutcome {
    Resized,  // the engine wrote the output
    Skipped,  // not a picture the run resizes
    Failed,   // the engine refused it; ErrorCode and Reason say why
    // Only in runs over whole libraries (LibraryRun.h):
    UpToDate,     // its output is current and was kept
    WouldResize,  // a dry run would have resized it
};

struct FileResult {
    std::string Name;  // as listed, relative to the source folder
    FileOutcome Outcome = FileOutcome::Skipped;
    int32_t ErrorCode = 0;     // the engine's code for a failed picture
    std::string Reason;        // the engine's reason for it, may be empty
    std::string Output;        // the output path of a picture, else empty
    int64_t Milliseconds = 0;  // time spent on the file
};

// The result of a file the run does not resize.
inline FileResult SkippedFile(const std::string& name)
{
    FileResult result;
    result.Name = name;
    return result;
}

// Told about a run as it goes. FileDone comes from the worker threads, one
// call at a time, in the order files finish.
class Observer {
public:
    virtual ~Observer() = default;
    virtual void Started(size_t files) { (void)files; }
    virtual void FileDone(const FileResult& result) = 0;
};

// ---- Steps ----------------------------------------------------------------
// The ordinary files of a folder: regular files or links to them, not hidden
// (no leading "."), never folders; sorted by name byte by byte. Raises path
// not found (76), permission denied (70) or path/file access (75).
std::vector<std::string> ListOrdinaryFiles(const std::string& folder);

// Creates one folder level (its parent must exist) with the permissions the
// umask leaves of 0777; a folder or file already there is no error. Raises
// as ListOrdinaryFiles does.
void MakeFolder(const std::string& path);

// The text before the first "." of the last path component ("a.b.bmp" gives
// "a"); the whole component when it has no ".".
std::string FrontName(const std::string& name);

// The output of a listed name: its folder part, FrontName + `extension`
// ("sub/x.y.gif" gives "sub/x.jpg"; with ".webp", "sub/x.webp").
std::string OutputName(const std::string& name, const std::string& extension = ".jpg");

// True for the extensions "jpg", "bmp" and "gif" in any case.
bool HasPictureExtension(const std::string& extension);

// The text after the last "." of a path, empty when there is none.
std::string ExtensionOf(const std::string& path);

// The extensions a run takes: HasPictureExtension's, and with `allFormats`
// also png, jpeg, jpe, webp, heic, heif, avif, tif and tiff (any case).
bool TakesExtension(const std::string& extension, bool allFormats);

// True when the run takes the path's extension and the header probe
// recognises its content (any format it reads, whatever the extension).
bool IsResizableImage(const std::string& path, bool allFormats = false);

// Indexes of `outputs` grouped by equal value, each group in input order and
// the groups in the order of their first member. A run does a group's files
// one after the other, so that the later of two files writing the same
// output wins, as it would one at a time.
std::vector<std::vector<size_t>> GroupByOutput(const std::vector<std::string>& outputs);

// Has the engine resize one picture and times it. Does not check the file.
FileResult ResizePicture(Engine& engine, Method method, const Sizes& sizes, int32_t quality,
                         const std::string& name, const std::string& in, const std::string& out);

// How a pool ended: every index done, or stopped early by the stop flag or
// by an exception (the first one thrown by `work`).
struct PoolEnd {
    bool Complete = false;
    std::exception_ptr Error;
};

// Runs work(index) for every index of every group on `workers` threads (the
// calling thread is one of them; 0 means one per processor). A group's
// indexes run in order on one thread. `finished` is called with each result,
// one call at a time. When `stop` becomes true, or work throws, no further
// index is started and those under way finish.
PoolEnd RunPool(const std::vector<std::vector<size_t>>& groups, unsigned workers,
                const std::atomic<bool>* stop, const std::function<FileResult(size_t)>& work,
                const std::function<void(const FileResult&)>& finished);

// ---- The whole run --------------------------------------------------------
struct Job {
    Method method = Method::Resize;
    Sizes sizes;
    int32_t Quality = kDefaultQuality;
    unsigned Workers = 0;                     // 0: one per processor
    const std::atomic<bool>* Stop = nullptr;  // may be null
    bool AllFormats = false;                  // take every format's extensions (TakesExtension)
    std::string Extension = ".jpg";           // of the outputs (OutputName)
};

// Resizes every resizable picture among `names` (relative to `source`) into
// `destination` under OutputName. Files that are not pictures are reported
// as Skipped. True when every name was visited (not stopped).
bool RunFiles(const std::string& source, const std::string& destination,
              const std::vector<std::string>& names, const Job& job, Engine& engine, Observer& observer);

// Why a folder run cannot start.
enum class StartProblem {
    None,
    NoSuchFolder,       // the source folder does not exist
    NotAFolder,         // the source is a file
    SourceUnreadable,   // the source cannot be listed
    CannotMakeResized,  // the output folder cannot be made
};

// Checks that `source` is a folder that can be listed.
StartProblem CheckSourceFolder(const std::string& source, std::string* detail = nullptr);

// Checks the source folder and makes source/Resized when missing (one
// level). `detail` gets the system's reason where there is more to say.
StartProblem PrepareFolders(const std::string& source, std::string* detail = nullptr);

// A user-facing text for a start problem, without the path.
const char* StartProblemText(StartProblem problem);

// ---- Stopping -------------------------------------------------------------
// Blocks SIGINT in the calling thread (call it before starting any other
// thread, so all inherit the mask) and raises `stop` when it arrives, after
// writing `notice` to standard error. Engine calls are never interrupted.
void StopOnInterrupt(std::atomic<bool>& stop, const char* notice);

}  // namespace kx::batch

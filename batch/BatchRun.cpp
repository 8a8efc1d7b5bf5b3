#include "BatchRun.h"

#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "PictureFormats.h"
#include "RunTimeError.h"
#include "modImageInfo.h"

namespace kx::batch {

namespace {

// The run-time error for a failed folder operation.
[[noreturn]] void RaiseForErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: kx::Raise(kx::errPathNotFound);
    case EACCES: kx::Raise(kx::errPermissionDenied);
    default: kx::Raise(kx::errPathFileAccess);
    }
}

bool IsOrdinaryFile(const std::string& folder, const dirent& entry)
{
    if (entry.d_name[0] == '.') return false;  // hidden, and "." and ".."
    if (entry.d_type == DT_REG) return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
    // A link counts when it leads to a regular file; some file systems do
    // not tell the type at all.
    struct stat info {};
    const std::string path = folder + "/" + entry.d_name;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

bool KestrixEngine::Resize(Method method, const std::string& in, const std::string& out, const Sizes& sizes,
                           int32_t quality)
{
    return SpecOf(method).Call(api_, object_, in.c_str(), out.c_str(), sizes, quality) != KESTRIX_FALSE;
}

int32_t KestrixEngine::LastErrorCode() { return api_.ErrorCode(object_); }

std::string KestrixEngine::LastErrorText() { return api_.LastErrorText(); }

std::vector<std::string> ListOrdinaryFiles(const std::string& folder)
{
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), &::closedir);
    if (!listing) RaiseForErrno(errno);
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing.get());
        if (!entry) {
            if (errno != 0) RaiseForErrno(errno);
            break;
        }
        if (IsOrdinaryFile(folder, *entry)) names.emplace_back(entry->d_name);
    }
    // Byte order, so that a run is repeatable and a later name wins an output.
    std::sort(names.begin(), names.end());
    return names;
}

void MakeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) RaiseForErrno(errno);
}

std::string FrontName(const std::string& name)
{
    const size_t slash = name.rfind('/');
    const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    return last.substr(0, last.find('.'));
}

std::string OutputName(const std::string& name, const std::string& extension)
{
    const size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    return folder + FrontName(name) + extension;
}

std::string ExtensionOf(const std::string& path)
{
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

bool HasPictureExtension(const std::string& extension)
{
    if (extension.size() != 3) return false;
    std::string upper = extension;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper == "JPG" || upper == "BMP" || upper == "GIF";
}

bool TakesExtension(const std::string& extension, bool allFormats)
{
    return allFormats ? kx::TakenWithAllFormats(extension) : HasPictureExtension(extension);
}

bool IsResizableImage(const std::string& path, bool allFormats)
{
    if (!TakesExtension(ExtensionOf(path), allFormats)) return false;
    return kx::GetImageInfo(path).ImageType < kx::ImageTypeNone;
}

std::vector<std::vector<size_t>> GroupByOutput(const std::vector<std::string>& outputs)
{
    std::vector<std::vector<size_t>> groups;
    std::map<std::string, size_t> groupOf;
    for (size_t i = 0; i < outputs.size(); ++i) {
        const auto [at, added] = groupOf.try_emplace(outputs[i], groups.size());
        if (added) groups.emplace_back();
        groups[at->second].push_back(i);
    }
    return groups;
}

FileResult ResizePicture(Engine& engine, Method method, const Sizes& sizes, int32_t quality,
                         const std::string& name, const std::string& in, const std::string& out)
{
    FileResult result;
    result.Name = name;
    result.Output = out;
    const auto start = std::chrono::steady_clock::now();
    if (engine.Resize(method, in, out, sizes, quality)) {
        result.Outcome = FileOutcome::Resized;
    } else {
        // Read at once, on this thread, before any other engine call.
        result.Outcome = FileOutcome::Failed;
        result.ErrorCode = engine.LastErrorCode();
        result.Reason = engine.LastErrorText();
    }
    result.Milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    return result;
}

namespace {

class Pool {
public:
    Pool(const std::vector<std::vector<size_t>>& groups, const std::atomic<bool>* stop,
         const std::function<FileResult(size_t)>& work,
         const std::function<void(const FileResult&)>& finished)
        : groups_(groups)
        , stop_(stop)
        , work_(work)
        , finished_(finished)
    {
        for (const auto& group : groups) total_ += group.size();
    }

    PoolEnd Run(unsigned workers)
    {
        if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
        const size_t useful = std::min<size_t>(workers, groups_.size());
        const size_t helpers = useful > 1 ? useful - 1 : 0;
        std::vector<std::thread> threads;
        try {
            threads.reserve(helpers);
            for (size_t i = 0; i < helpers; ++i) threads.emplace_back([this] { Work(); });
        } catch (...) {
            // Fewer threads than asked for only make the run slower.
        }
        Work();
        for (std::thread& thread : threads) thread.join();
        return {visited_ == total_ && !error_, error_};
    }

private:
    bool Stopping() const { return failed_.load() || (stop_ != nullptr && stop_->load()); }

    void Work()
    {
        try {
            for (size_t group = next_++; group < groups_.size() && !Stopping(); group = next_++) {
                for (const size_t index : groups_[group]) {
                    if (Stopping()) return;
                    const FileResult result = work_(index);
                    std::lock_guard lock(finishedMutex_);
                    if (finished_) finished_(result);
                    ++visited_;
                }
            }
        } catch (...) {
            std::lock_guard lock(finishedMutex_);
            if (!error_) error_ = std::current_exception();
            failed_ = true;
        }
    }

    const std::vector<std::vector<size_t>>& groups_;
    const std::atomic<bool>* stop_;
    const std::function<FileResult(size_t)>& work_;
    const std::function<void(const FileResult&)>& finished_;
    size_t total_ = 0;
    std::atomic<size_t> next_{0};  // the next group to take
    std::atomic<bool> failed_{false};
    std::mutex finishedMutex_;  // guards what follows, and finished_
    size_t visited_ = 0;
    std::exception_ptr error_;
};

}  // namespace

PoolEnd RunPool(const std::vector<std::vector<size_t>>& groups, unsigned workers,
                const std::atomic<bool>* stop, const std::function<FileResult(size_t)>& work,
                const std::function<void(const FileResult&)>& finished)
{
    return Pool(groups, stop, work, finished).Run(workers);
}

bool RunFiles(const std::string& source, const std::string& destination,
              const std::vector<std::string>& names, const Job& job, Engine& engine, Observer& observer)
{
    std::vector<std::string> outputs;
    outputs.reserve(names.size());
    for (const std::string& name : names) outputs.push_back(OutputName(name, job.Extension));
    observer.Started(names.size());
    const PoolEnd end = RunPool(
        GroupByOutput(outputs), job.Workers, job.Stop,
        [&](size_t index) {
            const std::string in = source + "/" + names[index];
            if (!IsResizableImage(in, job.AllFormats)) return SkippedFile(names[index]);
            return ResizePicture(engine, job.method, job.sizes, job.Quality, names[index], in,
                                 destination + "/" + outputs[index]);
        },
        [&](const FileResult& result) { observer.FileDone(result); });
    if (end.Error) std::rethrow_exception(end.Error);
    return end.Complete;
}

namespace {

StartProblem Fail(std::string* detail, StartProblem problem, const char* why)
{
    if (detail) *detail = why;
    return problem;
}

}  // namespace

StartProblem CheckSourceFolder(const std::string& source, std::string* detail)
{
    const auto fail = [detail](StartProblem problem, const char* why) { return Fail(detail, problem, why); };
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return StartProblem::NoSuchFolder;
        return fail(StartProblem::SourceUnreadable, std::strerror(errno));
    }
    if (!S_ISDIR(info.st_mode)) return StartProblem::NotAFolder;
    if (::access(source.c_str(), R_OK | X_OK) != 0)
        return fail(StartProblem::SourceUnreadable, std::strerror(errno));
    return StartProblem::None;
}

StartProblem PrepareFolders(const std::string& source, std::string* detail)
{
    const auto fail = [detail](StartProblem problem, const char* why) { return Fail(detail, problem, why); };
    if (const StartProblem problem = CheckSourceFolder(source, detail); problem != StartProblem::None)
        return problem;
    struct stat info {};
    const std::string destination = source + "/Resized";
    if (::mkdir(destination.c_str(), 0777) != 0) {
        if (errno != EEXIST) return fail(StartProblem::CannotMakeResized, std::strerror(errno));
        if (::stat(destination.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return fail(StartProblem::CannotMakeResized, "a file of that name is in the way");
    }
    return StartProblem::None;
}

const char* StartProblemText(StartProblem problem)
{
    switch (problem) {
    case StartProblem::None: return "";
    case StartProblem::NoSuchFolder: return "no such folder";
    case StartProblem::NotAFolder: return "not a folder";
    case StartProblem::SourceUnreadable: return "cannot read the folder";
    case StartProblem::CannotMakeResized: return "cannot make the folder Resized";
    }
    return "";
}

void StopOnInterrupt(std::atomic<bool>& stop, const char* notice)
{
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    std::thread([interrupt, &stop, notice] {
        for (;;) {
            int signal = 0;
            if (sigwait(&interrupt, &signal) != 0) continue;
            stop = true;
            [[maybe_unused]] const auto written = ::write(STDERR_FILENO, notice, std::strlen(notice));
        }
    }).detach();
}

}  // namespace kx::batch

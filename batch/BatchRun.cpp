#include "batch/BatchRun.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

#include "batch/PrintableName.h"
#include "common/PictureFormats.h"
#include "common/modImageInfo.h"

namespace kx::batch {

namespace {

Problem ProblemOf(Problem::Kind kind, int error, std::string reason = {})
{
    return {kind, error, reason.empty() && error != 0 ? std::strerror(error) : std::move(reason)};
}

}  // namespace

bool KestrixEngine::Resize(Method method, const std::string& in, const std::string& out, const Sizes& sizes,
                           int32_t quality)
{
    return SpecOf(method).Call(api_, object_, in.c_str(), out.c_str(), sizes, quality) != KESTRIX_FALSE;
}

int32_t KestrixEngine::LastErrorCode() { return api_.ErrorCode(object_); }

std::string KestrixEngine::LastErrorText() { return api_.LastErrorText(); }

std::string KestrixEngine::LastWarningText() { return api_.LastWarningText(); }

const char* ProblemText(Problem::Kind kind)
{
    switch (kind) {
    case Problem::Kind::None: return "";
    case Problem::Kind::NoSuchFolder: return "no such folder";
    case Problem::Kind::NotAFolder: return "not a folder";
    case Problem::Kind::Unreadable: return "cannot read the folder";
    case Problem::Kind::CannotMakeFolder: return "cannot make the folder";
    case Problem::Kind::NoPictures: return "no pictures found";
    case Problem::Kind::LinkedFolder: return "is a link";
    }
    return "";
}

Problem MakeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        return ProblemOf(Problem::Kind::CannotMakeFolder, errno);
    return {};
}

Problem MakeFolders(const std::string& path)
{
    const auto make = [](const std::string& folder, const auto& self) -> bool {
        if (::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST) return true;
        const size_t slash = folder.rfind('/');
        if (errno != ENOENT || slash == std::string::npos || slash == 0) return false;
        return self(folder.substr(0, slash), self) && (::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST);
    };
    if (!make(path, make)) return ProblemOf(Problem::Kind::CannotMakeFolder, errno);
    return {};
}

Problem MakeOutputFolder(const std::string& path)
{
    if (Problem problem = MakeFolders(path)) return problem;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return {};
    return ProblemOf(Problem::Kind::CannotMakeFolder, EEXIST, "a file of that name is in the way");
}

Problem CheckSourceFolder(const std::string& source)
{
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {Problem::Kind::NoSuchFolder, errno, {}};
        return ProblemOf(Problem::Kind::Unreadable, errno);
    }
    if (!S_ISDIR(info.st_mode)) return {Problem::Kind::NotAFolder, ENOTDIR, {}};
    if (::access(source.c_str(), R_OK | X_OK) != 0) return ProblemOf(Problem::Kind::Unreadable, errno);
    return {};
}

std::string OutputName(const std::string& name, const std::string& extension, Naming naming)
{
    const size_t slash = name.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::string output = name.substr(0, start);
    std::string last = name.substr(start);
    if (naming == Naming::FirstDot) {
        last.resize(std::min(last.size(), last.find('.')));
    } else if (const size_t dot = last.rfind('.'); dot != std::string::npos && dot > 0) {
        last.resize(dot);
    }
    return output + last + extension;
}

std::string PatternName(const std::string& name, const std::string& pattern, const std::string& extension,
                        Naming naming, const NameFields& fields)
{
    if (pattern.empty()) return OutputName(name, extension, naming);
    const size_t slash = name.rfind('/');
    const std::string folder = name.substr(0, slash == std::string::npos ? 0 : slash + 1);
    const std::string file = name.substr(folder.size());
    const std::string stem = OutputName(file, "", naming);
    const std::string ext = stem.size() < file.size() ? file.substr(file.rfind('.') + 1) : "";
    const std::pair<const char*, const std::string*> kFields[] = {{"{stem}", &stem},
                                                                  {"%s", &stem},
                                                                  {"{ext}", &ext},
                                                                  {"{method}", &fields.Method},
                                                                  {"{width}", &fields.Width},
                                                                  {"{height}", &fields.Height}};
    std::string output = folder;
    for (size_t at = 0; at < pattern.size();) {
        bool matched = false;
        for (const auto& [field, value] : kFields) {
            if (pattern.compare(at, std::strlen(field), field) != 0) continue;
            output += *value;
            at += std::strlen(field);
            matched = true;
            break;
        }
        if (!matched) output += pattern[at++];
    }
    return output + extension;
}

std::string ExtensionOf(const std::string& path)
{
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

bool TakesExtension(const std::string& extension, bool allFormats)
{
    return allFormats ? kx::TakenWithAllFormats(extension) : kx::TakenClassically(extension);
}

FileKind Classify(const std::string& path, bool allFormats, std::string* reason)
{
    if (!TakesExtension(ExtensionOf(path), allFormats)) return FileKind::NotTaken;
    const kx::ProbedSizes sizes = allFormats ? kx::ProbedSizes::Streamed : kx::ProbedSizes::Loadable;
    if (kx::GetImageInfo(path, sizes).ImageType < kx::ImageTypeNone) return FileKind::Picture;
    // No picture to the probe: perhaps because it cannot be opened at all.
    const int file = ::open(path.c_str(), O_RDONLY);
    if (file >= 0) {
        ::close(file);
        return FileKind::NotAPicture;
    }
    if (reason) *reason = errno == EACCES || errno == EPERM ? "permission denied" : std::strerror(errno);
    return FileKind::Unopenable;
}

std::optional<FileResult> RefusedCollision(const FileList& files, const FileTask& task, bool allFormats)
{
    const auto path = [&](size_t index) {
        return files.Source.empty() ? files.Names[index] : files.Source + "/" + files.Names[index];
    };
    for (const size_t member : task.Group) {
        if (member == task.Index) return std::nullopt;
        if (Classify(path(member), allFormats) != FileKind::Picture) continue;
        FileResult failed = SkippedFile(task.Name);
        failed.Outcome = FileOutcome::Failed;
        failed.Reason = files.Names[member] + " has the same output " + files.Outputs[task.Index] +
                        "; not overwritten (--name tells them apart)";
        return failed;
    }
    return std::nullopt;
}

namespace {

// Indexes of `outputs` grouped by equal value, each group in input order and
// the groups in the order of their first member. A run does a group's files
// one after the other, so that the later of two files writing the same
// output wins, as it would one at a time.
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

// Has the engine resize one picture, or keep its size under shrink-only,
// and times it.
FileResult ResizePicture(Engine& engine, const Job& job, const FileTask& task)
{
    FileResult result;
    result.Name = task.Name;
    result.Output = task.Out;
    const auto start = std::chrono::steady_clock::now();
    Method method = job.method;
    Sizes sizes = task.sizes;
    if (job.ShrinkOnly && KeepsOwnSize(method, task.In, sizes)) {
        method = Method::Percent;
        sizes = Sizes{};
        sizes.Percentage = 100;
    } else if (method == Method::Percent && sizes.DecimalPercentage > 0) {
        // That share of the picture's upright size, exactly: a resize to it.
        const kx::ImageInfo info = kx::GetImageInfo(task.In);
        const bool turned = job.AutoOrient && info.Orientation >= 5 && info.Orientation <= 8;
        const auto side = [&](int32_t stored) {
            return static_cast<int32_t>(
                std::max(1.0, std::nearbyint(stored * sizes.DecimalPercentage / 100)));
        };
        if (info.Width > 0 && info.Height > 0) {
            method = Method::Resize;
            sizes.Width = side(turned ? info.Height : info.Width);
            sizes.Height = side(turned ? info.Width : info.Height);
        } else {
            sizes.Percentage = 100;  // fails with the input's reason
        }
    }
    if (engine.Resize(method, task.In, task.WriteTo.empty() ? task.Out : task.WriteTo, sizes, job.Quality)) {
        result.Outcome = FileOutcome::Resized;
        result.Warning = engine.LastWarningText();
        while (!result.Warning.empty() && result.Warning.back() == '\n') result.Warning.pop_back();
        if (job.Strict && !result.Warning.empty()) {
            // The picture is damaged: its output is not kept.
            ::unlink(task.Out.c_str());
            result.Outcome = FileOutcome::Failed;
            result.Reason = result.Warning;
            result.Warning.clear();
        }
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

// Runs work(index) for every index of every group on `workers` threads (the
// calling thread is one of them). A group's indexes run in order on one
// thread. `finished` is called with each result, one call at a time. When
// `stop` becomes true, or work throws, no further index is started and those
// under way finish.
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

    // True when every index was done; rethrows the first exception of `work`.
    bool Run(unsigned workers)
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
        if (error_) std::rethrow_exception(error_);
        return visited_ == total_;
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
                    finished_(result);
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

std::string Joined(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

// For each file, the input its output already is (by device and inode), or
// nothing: writing it would destroy the picture.
std::vector<std::optional<size_t>> OutputsOnInputs(const FileList& files)
{
    using Id = std::pair<dev_t, ino_t>;
    std::map<Id, size_t> inputs;
    struct stat info {};
    for (size_t i = 0; i < files.Names.size(); ++i)
        if (::stat(Joined(files.Source, files.Names[i]).c_str(), &info) == 0)
            inputs.try_emplace(Id{info.st_dev, info.st_ino}, i);
    std::vector<std::optional<size_t>> clash(files.Outputs.size());
    for (size_t i = 0; i < files.Outputs.size() && !inputs.empty(); ++i)
        if (::stat(Joined(files.Destination, files.Outputs[i]).c_str(), &info) == 0)
            if (const auto found = inputs.find(Id{info.st_dev, info.st_ino}); found != inputs.end())
                clash[i] = found->second;
    return clash;
}

}  // namespace

bool RunFiles(const FileList& files, const Job& job, Engine& engine, Observer& observer, const FileHook& hook)
{
    std::vector<std::vector<size_t>> groups = GroupByOutput(files.Outputs);
    std::vector<std::vector<size_t>> membersOf;  // with InOrder: each file's own output group
    if (job.InOrder) {
        membersOf.resize(files.Names.size());
        for (const auto& group : groups)
            for (const size_t index : group) membersOf[index] = group;
        groups.clear();
        for (size_t i = 0; i < files.Names.size(); ++i) groups.push_back({i});
    }
    std::vector<const std::vector<size_t>*> groupOf(files.Names.size());
    for (const auto& group : groups)
        for (const size_t index : group) groupOf[index] = &group;

    std::vector<std::optional<size_t>> onInput(files.Names.size());
    if (!files.Destination.empty()) onInput = OutputsOnInputs(files);

    observer.Started(files.Names.size());
    const std::function<FileResult(size_t)> work = [&](size_t index) {
        if (const std::optional<size_t> input = onInput[index]) {
            FileResult refused = SkippedFile(files.Names[index]);
            refused.Outcome = FileOutcome::Failed;
            refused.ErrorCode = KESTRIX_OUTPUT_NOT_WRITTEN;
            refused.Output = Joined(files.Destination, files.Outputs[index]);
            refused.Reason = "it is the input " + PrintableName(Joined(files.Source, files.Names[*input])) +
                             "; nothing was written";
            return refused;
        }
        FileTask task{index,
                      files.Names[index],
                      Joined(files.Source, files.Names[index]),
                      Joined(files.Destination, files.Outputs[index]),
                      job.InOrder ? membersOf[index] : *groupOf[index],
                      job.sizes,
                      {},
                      {}};
        if (hook)
            if (std::optional<FileResult> decided = hook(task)) return *std::move(decided);
        return ResizePicture(engine, job, task);
    };
    const std::function<void(const FileResult&)> finished = [&](const FileResult& result) {
        observer.FileDone(result);
    };
    return Pool(groups, job.Stop, work, finished).Run(job.InOrder ? 1 : job.Workers);
}

namespace {
std::atomic<int> stopSignal{0};
std::atomic<int> exitAtOnce{0};  // ExitOnInterrupt objects alive
}  // namespace

int StopSignal() { return stopSignal.load(); }

int StoppedStatus() { return 128 + (StopSignal() != 0 ? StopSignal() : SIGINT); }

ExitOnInterrupt::ExitOnInterrupt()
{
    ++exitAtOnce;
    if (StopSignal() != 0) ::_exit(StoppedStatus());
}

ExitOnInterrupt::~ExitOnInterrupt() { --exitAtOnce; }

void StopOnInterrupt(std::atomic<bool>& stop, const char* notice)
{
    sigset_t interrupt;
    sigemptyset(&interrupt);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&interrupt, signal);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    std::thread([interrupt, &stop, notice] {
        for (;;) {
            int signal = 0;
            if (sigwait(&interrupt, &signal) != 0) continue;
            int none = 0;
            stopSignal.compare_exchange_strong(none, signal);
            if (exitAtOnce.load() > 0) ::_exit(StoppedStatus());
            stop = true;
            [[maybe_unused]] const auto written = ::write(STDERR_FILENO, notice, std::strlen(notice));
        }
    }).detach();
}

}  // namespace kx::batch

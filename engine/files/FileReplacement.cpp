#include "engine/files/FileReplacement.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "common/FileDescriptor.h"
#include "common/RunTimeError.h"
#include "common/TemporaryFiles.h"
#include "engine/files/FailureReason.h"

namespace kx {

namespace {

[[noreturn]] void RefuseTarget(const std::string& reason)
{
    SetFailureReason(reason);
    Raise(errPathFileAccess);
}

bool WriteAll(int fd, const unsigned char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Sets the reason of a failed step from errno; gives !ok.
bool Failed(bool ok)
{
    if (!ok) SetFailureReason(errno == ENOENT ? "the output folder does not exist" : ErrnoReason(errno));
    return !ok;
}

bool WritePieces(int fd, const EncodedPieces& encoded)
{
    for (const auto& piece : encoded.pieces)
        if (Failed(WriteAll(fd, piece.data(), piece.size()))) return false;
    return true;
}

}  // namespace

OutputTarget InspectTarget(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return {path, false, std::nullopt};
    OutputTarget target{path, false, std::nullopt};
    if (S_ISLNK(info.st_mode)) {
        if (::stat(path.c_str(), &info) != 0) RefuseTarget("the output is a link that leads nowhere");
        if (S_ISREG(info.st_mode)) {
            const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                                   &std::free);
            if (!real) RefuseTarget(ErrnoReason(errno));
            target.Path = real.get();
        }
    }
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) {
        target.Stream = true;
        return target;
    }
    if (S_ISDIR(info.st_mode)) RefuseTarget("a folder of that name is in the way");
    if (!S_ISREG(info.st_mode)) RefuseTarget("something that is not a file is in the way");
    if ((info.st_mode & S_IWUSR) == 0) RefuseTarget("the file is read-only");
    target.Existing = ReplacedFile{static_cast<mode_t>(info.st_mode & 07777), {info.st_atim, info.st_mtim}};
    return target;
}

bool ReplaceFileContents(const OutputTarget& target, const EncodedPieces& encoded,
                         const std::optional<ReplacedFile>& carryOver)
{
    if (target.Stream) {
        FileDescriptor stream(::open(target.Path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
        if (Failed(stream.fd >= 0) || !WritePieces(stream.fd, encoded)) return false;
        return !Failed(stream.Close());
    }
    // The temporary file is made, and renamed, in the open folder: a folder
    // swapped for a link meanwhile cannot send the file elsewhere.
    const size_t slash = target.Path.rfind('/');
    const std::string folderPath = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : target.Path.substr(0, slash);
    const std::string name = target.Path.substr(slash == std::string::npos ? 0 : slash + 1);
    const FileDescriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (Failed(folder.fd >= 0)) return false;
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = TemporaryPrefix() + std::to_string(counter.fetch_add(1)) + ".tmp";
        fd = ::openat(folder.fd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    FileDescriptor file(fd);
    if (Failed(fd >= 0)) return false;
    bool ok = WritePieces(fd, encoded);
    if (ok && carryOver) {
        ok = !Failed(::fchmod(fd, carryOver->mode) == 0);
        ::futimens(fd, carryOver->times);  // times not kept are not an error
    }
    ok = !Failed(file.Close()) && ok;
    ok = ok && !Failed(::renameat(folder.fd, temporary.c_str(), folder.fd, name.c_str()) == 0);
    if (!ok) ::unlinkat(folder.fd, temporary.c_str(), 0);
    return ok;
}

}  // namespace kx

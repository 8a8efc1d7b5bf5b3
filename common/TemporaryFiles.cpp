#include "common/TemporaryFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string_view>

namespace kx {

namespace {

constexpr std::string_view kStart = ".kestrix-";

std::string HostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    std::string host = name;
    for (char& c : host)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
    return host;
}

// The leading digits of `text`, taken off it; nothing when there are none.
bool TakeNumber(std::string_view& text, long long& value)
{
    size_t digits = 0;
    value = 0;
    while (digits < text.size() && digits < 18 && text[digits] >= '0' && text[digits] <= '9')
        value = value * 10 + (text[digits++] - '0');
    text.remove_prefix(digits);
    return digits > 0;
}

// The process that made `name`, when it is a temporary file of this host.
pid_t OwnerOf(std::string_view name, std::string_view host)
{
    if (!name.starts_with(kStart)) return 0;
    name.remove_prefix(kStart.size());
    if (!name.starts_with(host) || name.substr(host.size(), 1) != "-") return 0;
    name.remove_prefix(host.size() + 1);
    long long pid = 0, count = 0;
    if (!TakeNumber(name, pid) || !name.starts_with("-")) return 0;
    name.remove_prefix(1);
    if (!TakeNumber(name, count) || name != ".tmp" || pid <= 0 || pid > INT_MAX) return 0;
    return static_cast<pid_t>(pid);
}

}  // namespace

const std::string& TemporaryPrefix()
{
    static const std::string prefix =
        std::string(kStart) + HostName() + "-" + std::to_string(::getpid()) + "-";
    return prefix;
}

size_t RemoveStaleTemporaries(int folder)
{
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) return 0;
    DIR* entries = ::fdopendir(listed);
    if (entries == nullptr) {
        ::close(listed);
        return 0;
    }
    static const std::string host = HostName();
    size_t removed = 0;
    while (const dirent* entry = ::readdir(entries)) {
        const pid_t owner = OwnerOf(entry->d_name, host);
        // A process that cannot be signalled for want of rights is alive.
        if (owner == 0 || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
        if (::unlinkat(folder, entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(entries);
    return removed;
}

}  // namespace kx

#include "batch/TreeListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

namespace kx::batch {

namespace {

using FolderId = std::pair<dev_t, ino_t>;

// How one listing goes.
struct Walk {
    Links links;
    std::string top;  // real path of the top folder, with a final "/"
    TreeListing& listing;
};

// One folder's entries: ordinary files into the listing, sub-folders into
// `folders` (both as paths relative to the top). Gives errno, 0 on success.
int ListOne(const std::string& path, const std::string& relative, Walk& walk,
            std::vector<std::string>& folders)
{
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(path.c_str()), &::closedir);
    if (!folder) return errno;
    const int fd = ::dirfd(folder.get());
    const std::string prefix = relative.empty() ? std::string() : relative + "/";
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder.get());
        if (!entry) return errno;
        if (entry->d_name[0] == '.') continue;  // hidden, and "." and ".."
        unsigned char type = entry->d_type;
        struct stat info {};
        // Some file systems do not tell the type at all.
        if (type == DT_UNKNOWN) {
            if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISLNK(info.st_mode)   ? DT_LNK
                   : S_ISREG(info.st_mode) ? DT_REG
                   : S_ISDIR(info.st_mode) ? DT_DIR
                                           : 0;
        }
        // A link counts as what it points to for files, for folders only when followed.
        if (type == DT_LNK) {
            const bool exists = ::fstatat(fd, entry->d_name, &info, 0) == 0;
            type = exists && S_ISREG(info.st_mode)                                  ? DT_REG
                   : exists && S_ISDIR(info.st_mode) && walk.links == Links::Follow ? DT_DIR
                                                                                    : 0;
            if (exists && walk.links == Links::Inside &&
                !RealPath(path + "/" + entry->d_name).starts_with(walk.top)) {
                walk.listing.Outside.push_back(prefix + entry->d_name);
                continue;
            }
        }
        if (type == DT_REG)
            walk.listing.Names.push_back(prefix + entry->d_name);
        else if (type == DT_DIR)
            folders.push_back(prefix + entry->d_name);
    }
}

// Whether `folder` holds only what a run over `besideFiles` and
// `besideFolders` (its parent's entries, without their folder part) could
// have written.
bool HoldsOnlyOutputs(const std::string& folder, const std::set<std::string>& besideFiles,
                      const std::set<std::string>& besideFolders)
{
    TreeListing inside;
    Walk walk{Links::AsFiles, "", inside};
    std::vector<std::string> folders;
    if (ListOne(folder, "", walk, folders) != 0) return false;
    const std::vector<std::string>& names = inside.Names;
    std::set<std::string> stems;
    for (const std::string& name : besideFiles)
        for (const Naming naming : {Naming::FirstDot, Naming::LastDot})
            stems.insert(OutputName(name, "", naming));
    for (const std::string& name : names) {
        const size_t dot = name.rfind('.');
        const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
        if (extension != ".jpg" && extension != ".png" && extension != ".webp" && extension != ".avif")
            return false;
        if (stems.count(name.substr(0, dot)) == 0) return false;
    }
    return std::all_of(folders.begin(), folders.end(),
                       [&](const std::string& name) { return besideFolders.count(name) > 0; });
}

std::string LastPart(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

std::string RealPath(const std::string& path)
{
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

TreeListing ListTree(const std::string& top, bool recursive, const std::string& excluded, Links links,
                     bool leaveOutResized)
{
    std::set<FolderId> skip;  // the excluded folder and every folder already listed
    struct stat info {};
    if (!excluded.empty() && ::stat(excluded.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        skip.emplace(info.st_dev, info.st_ino);

    TreeListing listing;
    Walk walk{links, RealPath(top) + "/", listing};
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        const std::string relative = std::move(pending.back());
        pending.pop_back();
        const std::string path = relative.empty() ? top : top + "/" + relative;
        if (::stat(path.c_str(), &info) == 0 && !skip.emplace(info.st_dev, info.st_ino).second) continue;
        std::vector<std::string> folders;
        const size_t firstName = listing.Names.size();
        if (const int error = ListOne(path, relative, walk, folders); error != 0) {
            if (relative.empty()) listing.Error = {Problem::Kind::Unreadable, error, std::strerror(error)};
            listing.Unreadable.push_back({relative, std::strerror(error)});
        }
        if (leaveOutResized) {
            std::set<std::string> besideFiles, besideFolders;
            for (size_t i = firstName; i < listing.Names.size(); ++i)
                besideFiles.insert(LastPart(listing.Names[i]));
            for (const std::string& folder : folders) besideFolders.insert(LastPart(folder));
            std::erase_if(folders, [&](const std::string& folder) {
                const bool earlier = LastPart(folder) == "Resized" &&
                                     HoldsOnlyOutputs(top + "/" + folder, besideFiles, besideFolders);
                if (earlier) listing.EarlierOutputs.push_back(folder);
                return earlier;
            });
        }
        if (recursive) pending.insert(pending.end(), folders.begin(), folders.end());
    }
    std::sort(listing.Names.begin(), listing.Names.end());
    std::sort(listing.Outside.begin(), listing.Outside.end());
    std::sort(listing.EarlierOutputs.begin(), listing.EarlierOutputs.end());
    std::sort(listing.Unreadable.begin(), listing.Unreadable.end(),
              [](const auto& a, const auto& b) { return a.Folder < b.Folder; });
    return listing;
}

}  // namespace kx::batch

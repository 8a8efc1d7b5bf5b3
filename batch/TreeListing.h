// A photo library as a tree: the ordinary files of a folder and, on request,
// of every folder below it, named relative to the top folder ("2024/june/a.jpg").
// Hidden folders and one excluded folder (where the outputs go) are left
// out; links are taken as the Links policy says.
#pragma once

#include <string>
#include <vector>

#include "batch/BatchRun.h"

namespace kx::batch {

// A folder below the top one that could not be read, and why.
struct UnreadableFolder {
    std::string Folder;  // relative to the top folder
    std::string Reason;  // the system's text ("Permission denied")
};

// The reason a link is not read.
inline constexpr char kOutsideLink[] = "link outside the folder";

// The real path of `path` with every link resolved, empty when there is none.
std::string RealPath(const std::string& path);

// What a listing makes of symbolic links.
enum class Links {
    AsFiles,  // a link to a file is a file wherever it leads; links to folders are left out
    Inside,   // the same, but a link leading outside the top folder is set aside in Outside
    Follow,   // links are taken wherever they lead, links to folders too (never twice)
};

struct TreeListing {
    // Relative paths of the ordinary files (regular files or links to them,
    // no leading "." in their name), sorted byte by byte, so files of one
    // folder keep the order of a flat listing.
    std::vector<std::string> Names;
    std::vector<UnreadableFolder> Unreadable;
    std::vector<std::string> Outside;  // links leading outside (Links::Inside), sorted
    // Folders left out as outputs of an earlier run, relative to the top.
    std::vector<std::string> EarlierOutputs;
    Problem Error;  // the top folder itself could not be listed (Unreadable)
};

// Lists `top` (and its sub-folders when `recursive`). `excluded`, when not
// empty, names a folder that is left out wherever it appears in the tree
// (compared by identity, so any path to it will do; it need not exist).
// With `leaveOutResized`, a sub-folder named Resized whose files all carry
// an output's extension (.jpg, .png, .webp, .avif) and are named after
// files beside it (by their first or last dot), its sub-folders after
// folders beside it, is left out too: an earlier run's outputs.
TreeListing ListTree(const std::string& top, bool recursive, const std::string& excluded = {},
                     Links links = Links::AsFiles, bool leaveOutResized = false);

}  // namespace kx::batch

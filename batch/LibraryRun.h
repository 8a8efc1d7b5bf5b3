// A batch run over a whole photo library: a folder tree mirrored into an
// output folder, split into shards for several machines, and resumable:
// outputs that are complete and newer than their pictures are kept.
//
// It is the folder run of both front ends with two steps replaced: the
// listing (a tree instead of one folder) and the work per file (a check of
// the existing output, and the output's folder made on the way). Names stay
// relative to the top folder, so outputs mirror the tree:
// "2024/june/x.bmp" is written to DESTINATION/2024/june/x.jpg.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "batch/BatchRun.h"
#include "batch/Shard.h"
#include "batch/TreeListing.h"

namespace kx::batch {

struct LibraryJob {
    Job Run;                    // method, sizes, quality, workers, stop flag
    bool Recursive = false;     // sub-folders too
    bool SkipExisting = false;  // keep outputs that CheckOutput calls current
    bool DryRun = false;        // decide everything, write nothing
    Shard Part;                 // only the pictures of this shard
    Links links = Links::Inside;
    // The destination was named by the user, so it may be a link; the
    // default one may not, as anyone who can write the picture folder can
    // make it one.
    bool TrustDestination = false;
    // How outputs are named (PatternName): the desktop program's first dot
    // unless told otherwise.
    Naming naming = Naming::FirstDot;
    std::string Pattern;
    NameFields Fields;
    // The tool's modern mode: a picture whose output an earlier picture
    // writes fails instead of overwriting it (RefusedCollision); a tree's
    // folders named Resized that hold only earlier outputs are left out.
    bool Modern = false;
    // The run's settings in one line; when not empty, the output folder
    // remembers them (RunRecord) and SkipExisting keeps only outputs made
    // with them, from pictures the decoder did not warn about.
    std::string Settings;
};

// A folder or file held open: what is read or written through it is what
// was opened, whatever is renamed or linked in its place meanwhile.
class FolderHandle {
public:
    explicit FolderHandle(int fd)
        : fd_(fd)
    {}
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    int Fd() const { return fd_; }
    // A path that goes through the handle, empty where the system gives
    // none (no /proc) or nothing was opened.
    std::string Path() const;
    // A path to `name` in the folder through the handle, else `fallback`.
    std::string PathTo(const std::string& name, const std::string& fallback) const;

private:
    int fd_;
};

// A library run ready to go: the files of the job's shard, in listing order.
struct LibraryPlan {
    Problem Error;  // why the run cannot start
    FileList Files;
    std::vector<UnreadableFolder> Unreadable;  // folders below the top one
    std::vector<std::string> Outside;          // links set aside (Links::Inside)
    std::shared_ptr<FolderHandle> Output;      // the destination, unless a dry run
    std::vector<std::string> LeftOut;          // folders of earlier outputs (Modern)
};

// Checks the picture folder `source`, lists it (leaving `destination` out)
// and keeps the files of the job's shard. A folder run (not recursive) of a
// folder without a picture is NoPictures. Unless a dry run, then makes the
// output folder with the folders above it that are missing, holds it open
// and removes the temporary files that dead processes of this host left
// there. An untrusted destination that is a link is LinkedFolder.
LibraryPlan PrepareLibrary(const std::string& source, const std::string& destination, const LibraryJob& job);

// Runs a plan on the pool: a group of files writing one output is kept
// (UpToDate) when that output is current, else done in listing order.
// Output folders are made as needed, each relative to the open folder above
// it and never through a link; a dry run makes none and calls no
// engine (pictures are still probed, so it tells pictures from the rest).
// A file with a picture's extension that cannot be opened fails. With
// Links::Inside a picture is read through what was opened, and only when that
// still lies inside the folder. True when not stopped.
bool RunLibrary(const LibraryPlan& plan, const LibraryJob& job, Engine& engine, Observer& observer);

}  // namespace kx::batch

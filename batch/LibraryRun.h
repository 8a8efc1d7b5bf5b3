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

#include <string>
#include <vector>

#include "BatchRun.h"
#include "Shard.h"
#include "TreeListing.h"

namespace kx::batch {

struct LibraryJob {
    Job Run;                    // method, sizes, quality, workers, stop flag
    bool Recursive = false;     // sub-folders too
    bool SkipExisting = false;  // keep outputs that CheckOutput calls current
    bool DryRun = false;        // decide everything, write nothing
    Shard Part;                 // only the pictures of this shard
};

// Lists `source`, keeps the files of the job's shard (by OutputName) and
// runs them on the pool: a group of files writing one output is kept
// (UpToDate) when that output is current, else done in listing order.
// Output folders are made as needed; a dry run makes none and calls no
// engine (pictures are still probed, so it tells pictures from the rest).
// Folders below `source` that cannot be read go to `unreadable`.
// `destination` is left out of the listing. True when not stopped.
bool RunLibrary(const std::string& source, const std::string& destination, const LibraryJob& job,
                Engine& engine, Observer& observer, std::vector<UnreadableFolder>& unreadable);

// Checks the picture folder and, unless a dry run (`make` false), makes the
// output folder: as PrepareFolders does when it is the default
// FOLDER/Resized, else with the folders above it that are missing.
StartProblem PrepareLibrary(const std::string& source, const std::string& destination, bool make,
                            bool isDefaultResized, std::string* detail = nullptr);

// Creates `path` and the folders above it that are missing.
// False, with errno set, when one cannot be made.
bool MakeFolders(const std::string& path);

}  // namespace kx::batch

// How the writers put a finished file in place. An ordinary file is never
// written in place: the bytes go to a temporary file in the same folder,
// renamed over the old name only when complete, so a failure or a crash
// never leaves half a file under the output's name.
//
// A link to a file is written through: the file it leads to is replaced in
// its own folder, and the link stays. A character device or a FIFO (a pipe,
// a terminal) is written as a stream, never renamed over. Anything else in
// the way (a folder, a dangling link, a socket) is refused with a reason.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <span>
#include <string>

namespace kx {

// What is kept of a file that a new one replaces.
struct ReplacedFile {
    mode_t mode;
    struct timespec times[2];  // access, modification
};

// Where an output goes, as InspectTarget found it.
struct OutputTarget {
    std::string Path;                      // the file replaced: the output, or where its link leads
    bool Stream = false;                   // a character device or FIFO, written in place
    std::optional<ReplacedFile> Existing;  // the ordinary file there, if any
};

// The encoded file in up to three pieces written one after the other.
struct EncodedPieces {
    std::span<const unsigned char> pieces[3];
};

// Looks at what is at `path` before it is written. A read-only file, a
// folder, a dangling link or anything that is neither a file nor a stream
// cannot be written: the reason is set and error 75 raised.
OutputTarget InspectTarget(const std::string& path);

// Writes the pieces to the target, carrying over the permission bits and
// times of `carryOver` when given. On any failure the reason is set, the
// temporary file is removed and the target is untouched (a stream may have
// received part of the bytes).
bool ReplaceFileContents(const OutputTarget& target, const EncodedPieces& encoded,
                         const std::optional<ReplacedFile>& carryOver);

}  // namespace kx

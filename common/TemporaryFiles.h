// The temporary files a writer makes beside the file it replaces, named
// ".kestrix-HOST-PID-N.tmp" so that a run can tell its own, those of a
// process of this host that died (removed) and those of another machine
// writing the same shared folder (never touched).
#pragma once

#include <cstddef>
#include <string>

namespace kx {

// ".kestrix-HOST-PID-" for this process; a writer adds a count and ".tmp".
const std::string& TemporaryPrefix();

// Removes from the open folder `folder` the temporary files of processes of
// this host that are no longer running. Gives how many were removed.
size_t RemoveStaleTemporaries(int folder);

}  // namespace kx

// The folder picker: the desktop's folder chooser, folders only.
#pragma once

#include <cstdint>
#include <string>

namespace folvane {

// Shows the chooser titled "Please select a folder:" (modal) and returns the
// chosen folder's full path ("/" for the root), or the empty text when the
// user cancels. `owner` is the calling window's native handle.
std::string BrowseForFolder(uintptr_t owner);

}  // namespace folvane

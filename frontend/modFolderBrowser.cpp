#include "frontend/modFolderBrowser.h"

#include "frontend/Dialogs.h"

namespace folvane {

std::string BrowseForFolder(uintptr_t /*owner*/)
{
    // The dialogs seam knows the owning window already.
    std::string folder = Dialogs().ChooseFolder("Please select a folder:");
    // A path comes back without a trailing "/", except the root itself.
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace folvane

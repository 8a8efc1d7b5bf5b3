// What --version prints.
#pragma once

#include <string>

namespace kx::cli {

// "kestrix 1.4.0 (engine 1.4.0)" and a line with the versions of the
// picture libraries: libjpeg-turbo, libpng, giflib, libwebp, libheif and
// libtiff (those that tell it at run time as they run, the others as built).
std::string VersionText();

}  // namespace kx::cli

// The modern mode's reduction: a picture that is reduced with the
// antialiased filter streams from its decoder through the reducer
// (RowSources.h) where its format allows, else it is loaded whole and
// resampled. The classic mode never comes here.
#pragma once

#include <string>

#include "EngineSettings.h"
#include "PictureMetadata.h"
#include "cDIBSection.h"

namespace kx {

// Loads `path` resampled to width x height (as the operations see the
// picture) with the Lanczos filter into `surface`. False, with the failure
// reason set, when the picture cannot be read. A size that makes no surface
// gives an empty one, as ResampleLanczos does.
bool LoadLanczosResampled(cDIBSection& surface, PictureMetadata& metadata, const std::string& path,
                          Long width, Long height, const EngineSettings& settings);

}  // namespace kx

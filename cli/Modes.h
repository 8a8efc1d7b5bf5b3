// The tool's resampling modes. Without options a sub-command works in the
// modern mode: the antialiased Lanczos filter and true proportions.
// --classic gives the engine's default methods exactly (whole-percent sizes,
// the exact sampler, the fit method's passes): the desktop program's bytes.
// --filter picks the filter alone, in either mode.
#pragma once

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

#include "kestrix.h"

namespace kx::cli {

struct ResampleModes {
    bool classic = false;
    int32_t filter = -1;  // KESTRIX_FILTER_...; -1: the mode's own
    bool shrinkOnly = false;
};

// Adds --classic and --filter to `command`, and --shrink-only when
// `shrinkOnly` (the methods that can enlarge: max-width, max-height, percent).
void AddModeOptions(CLI::App* command, ResampleModes& modes, bool shrinkOnly);

// Sets an engine object's filter, proportions and JPEG coding for the modes.
void ApplyModes(cKestrix* engine, const ResampleModes& modes);

// True when the picture's header gives a width and a height. The classic
// methods that size from the header divide by them; for an input without
// one the tool uses true proportions, which fail with the input's reason.
bool HeaderGivesSize(const std::string& input);

}  // namespace kx::cli

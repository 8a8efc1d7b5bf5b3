// The tool's resampling modes. Without options a sub-command works in the
// modern mode: the antialiased Lanczos filter and true proportions.
// --classic gives the engine's default methods exactly (whole-percent sizes,
// the exact sampler, the fit method's passes): the desktop program's bytes.
// --filter picks the filter alone, in either mode.
#pragma once

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

#include "batch/BatchRun.h"
#include "kestrix.h"

namespace kx::cli {

struct ResampleModes {
    bool classic = false;
    int32_t filter = -1;  // KESTRIX_FILTER_...; -1: the mode's own
    bool shrinkOnly = false;
    int32_t background = -1;  // a colour code to flatten transparency onto; -1: keep it
};

// Adds --classic, --filter and --background to `command`, and --shrink-only when
// `shrinkOnly` (the methods that can enlarge: max-width, max-height, percent).
void AddModeOptions(CLI::App* command, ResampleModes& modes, bool shrinkOnly);

// Sets an engine object's filter, proportions, JPEG coding and transparency
// for the modes: the modern mode keeps alpha in PNG, WebP and AVIF outputs.
void ApplyModes(cKestrix* engine, const ResampleModes& modes);

// True when the picture's header gives a width and a height. The classic
// methods that size from the header divide by them; for an input without
// one the tool uses true proportions, which fail with the input's reason.
bool HeaderGivesSize(const std::string& input);

// A box method given one side ("640x", "x480"): the method that sizes by
// that side alone, keeping the proportions (fit then only shrinks, as it
// does). Fill needs both sides: the caller refuses it.
kx::batch::Method OneSided(kx::batch::Method method, int32_t width, int32_t height, bool& shrinkOnly);

// The fields of a --name pattern for a run: the name of the method asked for, and its
// width and height as asked for (the percentage for both with percent; empty
// for a side the proportions decide).
kx::batch::NameFields FieldsOf(const kx::batch::Job& job, kx::batch::Method asked);

// A --name pattern whose end names an output format (".jpg", ".png", ...):
// the pattern without it, and that format, which must agree with `format`
// when one was given (else a usage error). A pattern with a "/" is refused.
std::string PatternOf(std::string pattern, int32_t& format);

}  // namespace kx::cli

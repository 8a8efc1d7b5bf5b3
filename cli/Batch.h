// The batch sub-command: every picture of a folder resized into its
// "Resized" sub-folder by the desktop program's folder rules, on several
// threads, with a progress bar and a summary.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include <CLI/CLI.hpp>

#include "cli/Commands.h"

namespace kx::cli {

// batch.
void AddBatchCommand(CLI::App& app, Action& action);

}  // namespace kx::cli

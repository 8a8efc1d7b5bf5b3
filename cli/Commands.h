// The tool's sub-commands. Each Add... function adds its sub-commands to the
// application; the one the user picks stores its work in `action`, which
// main runs once the whole command line has been read.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace kx::cli {

// The chosen sub-command's work; returns the tool's exit status.
using Action = std::function<int()>;

// The resize sub-commands, one for each method of kx::batch::kMethods.
void AddResizeCommands(CLI::App& app, Action& action);
// border.
void AddBorderCommand(CLI::App& app, Action& action);
// text, text-at.
void AddTextCommands(CLI::App& app, Action& action);

}  // namespace kx::cli

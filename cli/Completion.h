// The tool's shell completions (bash, zsh and fish), written from the same
// option tables as --help and the manual page, so they never disagree.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace kx::cli {

// The shells WriteCompletion knows.
inline const std::vector<std::string> kCompletionShells = {"bash", "zsh", "fish"};

// Writes the completion script of `app` (the kestrix command with its
// sub-commands) for `shell`, one of kCompletionShells: sub-command names,
// each one's options, the words an option's value may be (formats, places,
// colours, filters), folders for DIR values and files elsewhere.
void WriteCompletion(std::ostream& out, const CLI::App& app, const std::string& shell);

}  // namespace kx::cli

// The tool's manual page in roff, written from the same option tables as
// --help, so the two never disagree.
#pragma once

#include <ostream>

#include <CLI/CLI.hpp>

namespace kx::cli {

// Writes the page of `app` (the kestrix command with its sub-commands):
// man fills its paragraphs to the reader's width; only the examples keep
// their lines.
void WriteManPage(std::ostream& out, const CLI::App& app, const std::string& version);

}  // namespace kx::cli

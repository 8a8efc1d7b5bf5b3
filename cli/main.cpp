// kestrix: the engine's methods on the command line.
//
//   kestrix <sub-command> INPUT OUTPUT [options]
//   kestrix batch FOLDER [options]
//
// Exit status: 0 done, 1 the engine method failed, 2 the command line was
// wrong (batch: also 130 when stopped by Ctrl-C).
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "Batch.h"
#include "Commands.h"
#include "EngineCall.h"
#include "kestrix.h"

namespace {

using kx::cli::Action;

// Every sub-command the tool offers; a new one adds its function here.
using CommandSet = void (*)(CLI::App& app, Action& action);
constexpr CommandSet kCommandSets[] = {kx::cli::AddResizeCommands, kx::cli::AddBorderCommand,
                                       kx::cli::AddTextCommands, kx::cli::AddBatchCommand};

// A usage error: what was wrong and where to read more.
std::string UsageMessage(const CLI::App* app, const CLI::Error& error)
{
    std::string help = "kestrix --help";
    const auto chosen = app->get_subcommands();
    if (!chosen.empty()) help = "kestrix " + chosen.front()->get_name() + " --help";
    return "kestrix: " + std::string(error.what()) + "\nTry '" + help + "' for more information.\n";
}

void Describe(CLI::App& app)
{
    app.description("Resizes, frames and labels pictures.\nEach sub-command reads a picture (JPEG, PNG, GIF, "
                    "BMP, HEIC/HEIF, AVIF, WebP or TIFF) and writes the result as a JPEG file (or PNG, WebP "
                    "or AVIF with --format).");
    app.footer("Run 'kestrix SUB-COMMAND --help' for its options and an example.\n"
               "Exit status: 0 done, 1 the picture could not be processed, 2 a usage error.");
    app.set_version_flag("--version", std::string(Kestrix_Version()), "Print the engine's version and exit");
    // At most one; a missing one is reported after parsing, so that a
    // misspelt sub-command is reported as such rather than as missing.
    app.require_subcommand(0, 1);
    app.failure_message(UsageMessage);
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app("", "kestrix");
    Describe(app);
    Action action;
    for (const CommandSet add : kCommandSets) add(app, action);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // CLI11's own codes are 100 and up; the tool's usage errors are 2.
        return app.exit(error) == 0 ? kx::cli::kExitSuccess : kx::cli::kExitUsage;
    }
    if (!action) {
        std::cerr << "kestrix: a sub-command is required\nTry 'kestrix --help' for more information.\n";
        return kx::cli::kExitUsage;
    }
    kx::cli::PrintEngineReports();
    return action();
}

// kestrix: the engine's methods on the command line.
//
//   kestrix <sub-command> INPUT OUTPUT [options]
//   kestrix batch FOLDER [options]
//
// Exit status: 0 done, 1 the engine method failed, 2 the command line was
// wrong, 128 + the signal when stopped by Ctrl-C, SIGTERM or SIGHUP.
#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/Completion.h"
#include "cli/EngineCall.h"
#include "cli/ManPage.h"
#include "cli/Versions.h"
#include "kestrix.h"

namespace {

using kx::cli::Action;

// Every sub-command the tool offers; a new one adds its function here.
using CommandSet = void (*)(CLI::App& app, Action& action);
constexpr CommandSet kCommandSets[] = {kx::cli::AddResizeCommands, kx::cli::AddBorderCommand,
                                       kx::cli::AddTextCommands, kx::cli::AddBatchCommand};

// Edits (insertions, deletions, substitutions) that turn `a` into `b`,
// letters compared regardless of case.
size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            const size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = row[j];
            row[j] = next;
        }
    }
    return row[b.size()];
}

// The name of `names` nearest to `word`, at most two edits away and
// fewer than its length; empty when none is.
std::string Nearest(const std::string& word, const std::vector<std::string>& names)
{
    std::string nearest;
    size_t best = 3;
    for (const std::string& name : names) {
        const size_t distance = EditDistance(word, name);
        if (distance < best && distance < name.size()) best = distance, nearest = name;
    }
    return nearest;
}

// For an option the command does not know ("--qualty"): "; did you mean
// '--quality'?"; for one of its own given before its name, where it goes;
// else nothing.
std::string OptionSuggestion(const CLI::App* command, const CLI::Error& error)
{
    if (dynamic_cast<const CLI::ExtrasError*>(&error) == nullptr) return {};
    std::vector<std::string> names;
    const auto collect = [&](const CLI::App* app) {
        for (const CLI::Option* option : app->get_options())
            for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    };
    collect(command);
    for (const CLI::App* group :
         command->get_subcommands([](const CLI::App* a) { return a->get_name().empty(); }))
        collect(group);
    std::istringstream words(std::string(error.what()).substr(std::string(error.what()).find(": ") + 2));
    for (std::string word; words >> word;) {
        if (!word.starts_with("--")) continue;
        const std::string bare = word.substr(0, word.find('='));
        const std::string nearest = Nearest(bare, names);
        // The command's own option, given before the command's name.
        if (nearest == bare)
            return "; " + bare + " goes after the sub-command: kestrix " + command->get_name() + " " + bare +
                   " ...";
        if (!nearest.empty()) return "; did you mean '" + nearest + "'?";
    }
    return {};
}

// A usage error: what was wrong and where to read more.
std::string UsageMessage(const CLI::App* app, const CLI::Error& error)
{
    std::string help = "kestrix --help";
    const auto chosen = app->get_subcommands();
    if (!chosen.empty()) help = "kestrix " + chosen.front()->get_name() + " --help";
    return "kestrix: " + std::string(error.what()) +
           OptionSuggestion(chosen.empty() ? app : chosen.front(), error) + "\nTry '" + help +
           "' for more information.\n";
}

// The first word of the command line when it names no sub-command: a
// usage error that suggests the nearest name.
std::optional<std::string> UnknownSubCommand(const CLI::App& app, int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '-') return std::nullopt;
    const std::string word = argv[1];
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands({})) {
        if (command->get_name() == word) return std::nullopt;
        names.push_back(command->get_name());
    }
    const std::string nearest = Nearest(word, names);
    std::string message = "kestrix: unknown sub-command '" + word + "'";
    message +=
        nearest.empty() ? "\nTry 'kestrix --help' for the list.\n" : "; did you mean '" + nearest + "'?\n";
    return message;
}

void Describe(CLI::App& app)
{
    app.description("Resizes, frames and labels pictures.\nEach sub-command reads a picture (JPEG, PNG, GIF, "
                    "BMP, HEIC/HEIF, AVIF, WebP or TIFF) and writes the result as a JPEG file (or PNG, WebP "
                    "or AVIF with --format).");
    app.footer("Run 'kestrix SUB-COMMAND --help' for its options and an example.\n"
               "Exit status: 0 done, 1 the picture could not be processed, 2 a usage error,\n"
               "130 stopped by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP (the picture under way\n"
               "is finished first).");
    app.set_version_flag("--version", kx::cli::VersionText,
                         "Print the version of kestrix and of the picture libraries it uses, and exit");
    // At most one; a missing one is reported after parsing, so that a
    // misspelt sub-command is reported as such rather than as missing.
    app.require_subcommand(0, 1);
    app.failure_message(UsageMessage);
}

// kestrix help [SUB-COMMAND]: the help of the tool or of one sub-command.
// "kestrix help --man" writes the manual page, "kestrix help --completion
// bash" (or zsh, fish) the shell's completion script.
void AddHelpCommand(CLI::App& app, Action& action)
{
    CLI::App* command = app.add_subcommand("help", "Print the help of kestrix or of one of its sub-commands");
    const auto topic = std::make_shared<std::string>();
    const auto man = std::make_shared<bool>(false);
    const auto shell = std::make_shared<std::string>();
    command->add_option("SUB-COMMAND", *topic, "The sub-command to tell about")->type_name("");
    command->add_flag("--man", *man, "")->group("");
    command->add_option("--completion", *shell, "")->group("");
    command->callback([&app, &action, topic, man, shell] {
        if (!shell->empty() && std::ranges::count(kx::cli::kCompletionShells, *shell) == 0)
            throw CLI::ValidationError("--completion",
                                       "'" + *shell + "' is not a shell: use bash, zsh or fish");
        const CLI::App* about = &app;
        if (!topic->empty()) {
            const auto named =
                app.get_subcommands([&](const CLI::App* a) { return a->get_name() == *topic; });
            if (named.empty()) throw CLI::ValidationError("unknown sub-command '" + *topic + "'");
            about = named.front();
        }
        action = [&app, about, man, shell] {
            if (*man)
                kx::cli::WriteManPage(std::cout, app, Kestrix_Version());
            else if (!shell->empty())
                kx::cli::WriteCompletion(std::cout, app, *shell);
            else
                std::cout << about->get_formatter()->make_help(
                                 about, about == &app ? "kestrix" : "kestrix " + about->get_name(),
                                 CLI::AppFormatMode::Normal)
                          << '\n';
            return kx::cli::kExitSuccess;
        };
    });
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app("", "kestrix");
    Describe(app);
    Action action;
    for (const CommandSet add : kCommandSets) add(app, action);
    AddHelpCommand(app, action);
    // "kestrix help frob" is told like "kestrix frob".
    const bool help = argc > 2 && std::string(argv[1]) == "help";
    if (const auto unknown = UnknownSubCommand(app, argc - (help ? 1 : 0), argv + (help ? 1 : 0))) {
        std::cerr << *unknown;
        return kx::cli::kExitUsage;
    }
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

#include "cli/ManPage.h"

#include <sstream>
#include <string>
#include <vector>

namespace kx::cli {

namespace {

// Text safe in roff: backslashes escaped, and a line never starting with a
// control character.
std::string Roff(const std::string& text)
{
    std::string safe;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\'')) safe += "\\&";
        if (c == '\\')
            safe += "\\e";
        else if (c == '-')
            safe += "\\-";
        else
            safe += c;
        lineStart = c == '\n';
    }
    return safe;
}

// A command line split at spaces into lines of at most 64 characters,
// continued with " \" (it stays within 80 columns at the page's indents).
std::string Folded(const std::string& line)
{
    constexpr size_t kWidth = 64;
    std::string folded, rest = line;
    while (rest.size() > kWidth) {
        const size_t space = rest.rfind(' ', kWidth - 2);
        if (space == std::string::npos || space < 8) break;
        folded += rest.substr(0, space) + " \\\n";
        rest = "    " + rest.substr(space + 1);
    }
    return folded + rest;
}

// A footer's paragraphs: lines indented by two spaces (examples) keep
// their lines; the others are filled.
void WriteNotes(std::ostream& out, const std::string& notes)
{
    std::istringstream lines(notes);
    bool kept = false;
    out << ".PP\n";
    for (std::string line; std::getline(lines, line);) {
        const bool example = line.starts_with("  ");
        if (example != kept) out << (example ? ".nf\n.RS 4\n" : ".RE\n.fi\n");
        kept = example;
        if (line.empty())
            out << ".PP\n";
        else if (example)
            out << Roff(Folded(line.substr(2))) << '\n';
        else
            out << Roff(line) << '\n';
    }
    if (kept) out << ".RE\n.fi\n";
}

void WriteOption(std::ostream& out, const CLI::Option* option)
{
    std::string names;
    if (option->get_positional()) {
        names = "\\fI" + option->get_name() + "\\fR";
    } else {
        for (const std::string& name : option->get_snames())
            names += (names.empty() ? "" : ", ") + ("\\fB-" + name + "\\fR");
        for (const std::string& name : option->get_lnames())
            names += (names.empty() ? "" : ", ") + ("\\fB\\-\\-" + Roff(name) + "\\fR");
        const std::string type = option->get_type_name();
        if (option->get_type_size_max() > 0 && !type.empty()) names += " \\fI" + Roff(type) + "\\fR";
    }
    out << ".TP\n" << names << '\n' << Roff(option->get_description()) << '\n';
}

// The options of `app` (not --help), and those of its option groups under
// their own headings.
void WriteOptions(std::ostream& out, const CLI::App& app)
{
    const auto shown = [](const CLI::Option* o) {
        return !o->get_group().empty() && o->get_lnames() != std::vector<std::string>{"help"};
    };
    for (const CLI::Option* option : app.get_options(shown)) WriteOption(out, option);
    for (const CLI::App* group :
         app.get_subcommands([](const CLI::App* a) { return a->get_name().empty(); })) {
        out << ".PP\n\\fI" << Roff(group->get_group()) << "\\fR: " << Roff(group->get_description()) << '\n';
        for (const CLI::Option* option : group->get_options(shown)) WriteOption(out, option);
    }
}

}  // namespace

void WriteManPage(std::ostream& out, const CLI::App& app, const std::string& version)
{
    out << ".TH KESTRIX 1 \"\" \"kestrix " << Roff(version) << "\" \"User Commands\"\n"
        << ".SH NAME\nkestrix \\- resize, frame and label pictures; whole photo libraries at once\n"
        << ".SH SYNOPSIS\n.B kestrix\n\\fISUB\\-COMMAND\\fR \\fIINPUT\\fR \\fIOUTPUT\\fR [\\fISIZE\\fR] "
           "[\\fIOPTIONS\\fR]\n.br\n.B kestrix batch\n\\fIFOLDER\\fR \\fIMETHOD\\fR [\\fIOPTIONS\\fR]\n"
        << ".br\n.B kestrix help\n[\\fISUB\\-COMMAND\\fR]\n"
        << ".SH DESCRIPTION\n"
        << Roff(app.get_description()) << '\n';
    WriteOptions(out, app);
    for (const CLI::App* command : app.get_subcommands(
             [](const CLI::App* a) { return !a->get_name().empty() && a->get_name() != "help"; })) {
        out << ".SH \"KESTRIX " << Roff(command->get_name()) << "\"\n"
            << Roff(command->get_description()) << '\n';
        WriteOptions(out, *command);
        if (!command->get_footer().empty()) WriteNotes(out, command->get_footer());
    }
    out << ".SH NOTES\n";
    WriteNotes(out, app.get_footer());
    out << ".SH SEE ALSO\nThe scale\\-out recipes (GNU parallel, Slurm, Kubernetes) in the deploy/ folder "
           "and "
           "docs/scale\\-out.md of the source tree.\n";
}

}  // namespace kx::cli

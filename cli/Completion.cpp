#include "cli/Completion.h"

#include <string>
#include <vector>

#include "cli/Arguments.h"

namespace kx::cli {

namespace {

// What an option's value completes to.
enum class ValueKind { None, Free, Words, Folder, File };

struct OptionEntry {
    std::vector<std::string> shortNames, longNames;  // without their dashes
    std::string help;                                // its first clause
    ValueKind kind = ValueKind::None;
    std::vector<std::string> words;
};

struct CommandEntry {
    std::string name, help;
    std::vector<OptionEntry> options;
    bool namesCommands = false;  // "help": its argument is a sub-command
};

// A description's first clause (up to a semicolon or the line's end, not
// within brackets): enough beside a name.
std::string Clause(const std::string& text)
{
    int depth = 0;
    size_t end = 0;
    for (; end < text.size(); ++end) {
        const char c = text[end];
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if (c == '\n' || (c == ';' && depth <= 0)) break;
    }
    return text.substr(0, end);
}

OptionEntry Entry(const CLI::Option* option)
{
    OptionEntry entry;
    entry.shortNames = option->get_snames();
    entry.longNames = option->get_lnames();
    entry.help = Clause(option->get_description());
    if (option->get_expected_max() == 0) return entry;
    const std::string type = option->get_type_name();
    entry.words = ValueWords(type);
    entry.kind = !entry.words.empty() ? ValueKind::Words
                 : type == "DIR"      ? ValueKind::Folder
                 : type == "FILE"     ? ValueKind::File
                                      : ValueKind::Free;
    return entry;
}

// The named options of `app` and of its option groups; hidden ones (no
// group) left out.
std::vector<OptionEntry> Options(const CLI::App& app)
{
    const auto named = [](const CLI::Option* o) { return !o->get_group().empty() && !o->get_positional(); };
    std::vector<OptionEntry> options;
    for (const CLI::Option* option : app.get_options(named)) options.push_back(Entry(option));
    // An option group repeats the command's --help.
    const auto grouped = [&](const CLI::Option* o) {
        return named(o) && o->get_lnames() != std::vector<std::string>{"help"};
    };
    for (const CLI::App* group : app.get_subcommands([](const CLI::App* a) { return a->get_name().empty(); }))
        for (const CLI::Option* option : group->get_options(grouped)) options.push_back(Entry(option));
    return options;
}

std::vector<CommandEntry> Commands(const CLI::App& app)
{
    std::vector<CommandEntry> commands;
    for (const CLI::App* command :
         app.get_subcommands([](const CLI::App* a) { return !a->get_name().empty(); }))
        commands.push_back({command->get_name(), Clause(command->get_description()), Options(*command),
                            command->get_name() == "help"});
    return commands;
}

std::string Joined(const std::vector<std::string>& words, const std::string& prefix = "")
{
    std::string joined;
    for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + prefix + word;
    return joined;
}

// `text` in single quotes for the shells: bash and zsh end the quote around
// a quote; fish takes a backslash before it and before a backslash.
std::string Quoted(const std::string& text, bool fish = false)
{
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += fish ? "\\'" : "'\\''";
        else if (fish && c == '\\')
            quoted += "\\\\";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::vector<std::string> DashedNames(const OptionEntry& option)
{
    std::vector<std::string> names;
    for (const std::string& name : option.shortNames) names.push_back("-" + name);
    for (const std::string& name : option.longNames) names.push_back("--" + name);
    return names;
}

void WriteBash(std::ostream& out, const std::vector<OptionEntry>& top,
               const std::vector<CommandEntry>& commands)
{
    std::vector<std::string> names;
    for (const CommandEntry& command : commands) names.push_back(command.name);
    for (const OptionEntry& option : top)
        for (const std::string& name : DashedNames(option)) names.push_back(name);
    out << "_kestrix()\n{\n"
        << "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} options=\n"
        << "    if [[ $COMP_CWORD -eq 1 ]]; then\n"
        << "        COMPREPLY=($(compgen -W " << Quoted(Joined(names)) << " -- \"$cur\"))\n"
        << "        return\n    fi\n"
        << "    case ${COMP_WORDS[1]} in\n";
    for (const CommandEntry& command : commands) {
        std::vector<std::string> optionNames;
        out << "    " << command.name << ")\n";
        std::string values;
        for (const OptionEntry& option : command.options) {
            const std::vector<std::string> dashed = DashedNames(option);
            optionNames.insert(optionNames.end(), dashed.begin(), dashed.end());
            if (option.kind == ValueKind::None || option.kind == ValueKind::File) continue;
            std::string pattern;
            for (const std::string& name : dashed) pattern += (pattern.empty() ? "" : "|") + name;
            values += "        " + pattern + ") ";
            if (option.kind == ValueKind::Words)
                values += "COMPREPLY=($(compgen -W " + Quoted(Joined(option.words)) + " -- \"$cur\")) ;;\n";
            else if (option.kind == ValueKind::Folder)
                values += "COMPREPLY=($(compgen -d -- \"$cur\")) ;;\n";
            else
                values += "COMPREPLY=() ;;\n";
        }
        if (!values.empty()) out << "        case $prev in\n" << values << "        *)\n";
        const std::string indent = values.empty() ? "        " : "            ";
        if (command.namesCommands) {
            std::vector<std::string> others;
            for (const CommandEntry& other : commands)
                if (!other.namesCommands) others.push_back(other.name);
            out << indent << "[[ $cur == -* ]] || { COMPREPLY=($(compgen -W " << Quoted(Joined(others))
                << " -- \"$cur\")); return; }\n";
        }
        out << indent << "options=" << Quoted(Joined(optionNames)) << " ;;\n";
        if (!values.empty()) out << "        esac\n        [[ -n $options ]] || return 0 ;;\n";
    }
    out << "    *) return ;;\n    esac\n"
        << "    if [[ $cur == -* ]]; then\n"
        << "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
        << "    else\n"
        << "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
        << "    fi\n}\n"
        << "complete -o filenames -F _kestrix kestrix\n";
}

// A zsh _arguments text: brackets and colons escaped.
std::string ZshText(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == '[' || c == ']' || c == ':' || c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string ZshSpec(const OptionEntry& option)
{
    const std::vector<std::string> dashed = DashedNames(option);
    std::string action;
    if (option.kind == ValueKind::Words)
        action = ":value:(" + Joined(option.words) + ")";
    else if (option.kind == ValueKind::Folder)
        action = ":folder:_files -/";
    else if (option.kind == ValueKind::File)
        action = ":file:_files";
    else if (option.kind == ValueKind::Free)
        action = ":value: ";
    const std::string rest = "[" + ZshText(option.help) + "]" + action;
    if (dashed.size() == 1) return Quoted(dashed.front() + rest);
    return Quoted("(" + Joined(dashed) + ")") + "{" +
           [&] {
               std::string list;
               for (const std::string& name : dashed) list += (list.empty() ? "" : ",") + name;
               return list;
           }() +
           "}" + Quoted(rest);
}

void WriteZsh(std::ostream& out, const std::vector<OptionEntry>& top,
              const std::vector<CommandEntry>& commands)
{
    out << "#compdef kestrix\n\n_kestrix()\n{\n    local state line\n    local -a commands\n"
        << "    commands=(\n";
    for (const CommandEntry& command : commands)
        out << "        " << Quoted(command.name + ":" + command.help) << "\n";
    out << "    )\n    _arguments -C";
    for (const OptionEntry& option : top) out << " \\\n        " << ZshSpec(option);
    out << " \\\n        '1:sub-command:->command' \\\n        '*::argument:->argument'\n"
        << "    case $state in\n"
        << "    command) _describe -t commands 'kestrix sub-command' commands ;;\n"
        << "    argument)\n        case $words[1] in\n";
    for (const CommandEntry& command : commands) {
        out << "        " << command.name << ")\n            _arguments -s";
        for (const OptionEntry& option : command.options) out << " \\\n                " << ZshSpec(option);
        out << " \\\n                "
            << (command.namesCommands ? "'1:sub-command:->command'" : "'*:file:_files'") << " ;;\n";
    }
    out << "        esac\n        [[ $state == command ]] && _describe -t commands 'kestrix sub-command' "
           "commands ;;\n"
        << "    esac\n}\n\n_kestrix \"$@\"\n";
}

void WriteFishOption(std::ostream& out, const std::string& condition, const OptionEntry& option)
{
    out << "complete -c kestrix -n " << Quoted(condition, true);
    for (const std::string& name : option.shortNames) out << " -s " << name;
    for (const std::string& name : option.longNames) out << " -l " << name;
    if (option.kind == ValueKind::Words)
        out << " -x -a " << Quoted(Joined(option.words), true);
    else if (option.kind == ValueKind::Folder)
        out << " -x -a '(__fish_complete_directories)'";
    else if (option.kind == ValueKind::File)
        out << " -r -F";
    else if (option.kind == ValueKind::Free)
        out << " -x";
    out << " -d " << Quoted(option.help, true) << '\n';
}

void WriteFish(std::ostream& out, const std::vector<OptionEntry>& top,
               const std::vector<CommandEntry>& commands)
{
    out << "complete -c kestrix -f\n";
    for (const OptionEntry& option : top) WriteFishOption(out, "__fish_use_subcommand", option);
    std::vector<std::string> names;
    for (const CommandEntry& command : commands) {
        if (!command.namesCommands) names.push_back(command.name);
        out << "complete -c kestrix -n __fish_use_subcommand -a " << command.name << " -d "
            << Quoted(command.help, true) << '\n';
    }
    for (const CommandEntry& command : commands) {
        const std::string condition = "__fish_seen_subcommand_from " + command.name;
        for (const OptionEntry& option : command.options) WriteFishOption(out, condition, option);
        if (command.namesCommands)
            out << "complete -c kestrix -n " << Quoted(condition, true) << " -a "
                << Quoted(Joined(names), true) << '\n';
        else
            out << "complete -c kestrix -n " << Quoted(condition, true) << " -F\n";
    }
}

}  // namespace

void WriteCompletion(std::ostream& out, const CLI::App& app, const std::string& shell)
{
    out << "# " << shell << " completion for kestrix, written by 'kestrix help --completion " << shell
        << "'\n";
    const std::vector<OptionEntry> top = Options(app);
    const std::vector<CommandEntry> commands = Commands(app);
    if (shell == "bash")
        WriteBash(out, top, commands);
    else if (shell == "zsh")
        WriteZsh(out, top, commands);
    else
        WriteFish(out, top, commands);
}

}  // namespace kx::cli

#include "host/command_line.h"

namespace host {

namespace {

struct CommandInfo {
    Command command;
    const char* name;
    const char* usage;
    const char* help;
};

const CommandInfo kCommands[] = {
    {Command::List, "list", "tarnel list [--json] ARCHIVE",
     "Lists the members of ARCHIVE: size, packed size and name, one member a line.\n"
     "  --json        one JSON array of {\"name\", \"size\", \"packed\"} objects\n"},
    {Command::Extract, "extract", "tarnel extract ARCHIVE [-C DIR] [MEMBER...]",
     "Extracts all members of ARCHIVE, or those named, into DIR (default: the\n"
     "current folder), creating folders for member paths. MEMBER may use the\n"
     "wildcards * ? [...], matched without regard to case; a folder name chooses\n"
     "everything in it. Members whose names would land outside DIR (absolute,\n"
     "a drive letter, a \"..\" component) are refused and reported.\n"
     "  -C DIR        extract into DIR\n"},
    {Command::Test, "test", "tarnel test ARCHIVE",
     "Reads every member of ARCHIVE and reports those that cannot be read.\n"},
    {Command::Add, "add", "tarnel add ARCHIVE [-C DIR] [--into SUBPATH] [--move] PATH...",
     "Adds files and folders (folders with everything in them) to ARCHIVE,\n"
     "creating it if needed. PATHs are relative to DIR and keep that relative\n"
     "name in the archive; a member of the same name is replaced.\n"
     "  -C DIR          take PATHs from DIR (default: the current folder)\n"
     "  --into SUBPATH  store the files below SUBPATH inside the archive\n"
     "  --move          delete each source file once the archive is written\n"},
    {Command::Delete, "delete", "tarnel delete ARCHIVE MEMBER...",
     "Deletes the named members from ARCHIVE (wildcards as for extract).\n"},
    {Command::Config, "config", "tarnel config",
     "Shows the plug-in's options dialog for the settings file.\n"},
};

const CommandInfo* FindCommand(const std::string& name) {
    for (const CommandInfo& info : kCommands) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

const CommandInfo* InfoOf(Command command) {
    for (const CommandInfo& info : kCommands) {
        if (info.command == command) {
            return &info;
        }
    }
    return nullptr;
}

// Splits "--name=value" into its parts; `value` is set only when there is
// an '='.
bool SplitLongOption(const std::string& arg, std::string& name, std::string& value) {
    size_t equals = arg.find('=');
    if (equals == std::string::npos) {
        name = arg;
        return false;
    }
    name = arg.substr(0, equals);
    value = arg.substr(equals + 1);
    return true;
}

bool Allowed(Command command, const std::string& option) {
    if (option == "--json") {
        return command == Command::List;
    }
    if (option == "-C") {
        return command == Command::Extract || command == Command::Add;
    }
    if (option == "--into" || option == "--move") {
        return command == Command::Add;
    }
    return false;
}

} // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
    std::vector<std::string> positional;
    // Options of a command are checked once the command is known, since
    // they may come before it.
    std::vector<std::string> commandOptions;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name;
        std::string value;
        bool hasValue = false;
        if (arg.compare(0, 2, "--") == 0) {
            hasValue = SplitLongOption(arg, name, value);
        } else if (arg.compare(0, 2, "-C") == 0 && arg.size() > 2) {
            name = "-C";
            value = arg.substr(2);
            hasValue = true;
        } else {
            name = arg;
        }
        if (name == "--directory") {
            name = "-C";
        }
        bool takesValue =
            name == "--plugin" || name == "--settings" || name == "-C" || name == "--into";
        if (takesValue && !hasValue) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        } else if (!takesValue && hasValue) {
            error = "option " + name + " takes no value";
            return false;
        }
        if (name == "--help" || name == "-h") {
            line.showHelp = true;
        } else if (name == "--version") {
            line.showVersion = true;
        } else if (name == "--plugin") {
            line.pluginPath = value;
        } else if (name == "--settings") {
            line.settingsPath = value;
        } else if (name == "--json") {
            line.json = true;
            commandOptions.push_back(name);
        } else if (name == "--move") {
            line.move = true;
            commandOptions.push_back(name);
        } else if (name == "-C") {
            line.folder = value;
            commandOptions.push_back(name);
        } else if (name == "--into") {
            line.into = value;
            line.intoGiven = true;
            commandOptions.push_back(name);
        } else {
            error = "unknown option " + name;
            return false;
        }
        if (takesValue && value.empty()) {
            error = "option " + name + " needs a non-empty value";
            return false;
        }
    }

    if (!positional.empty()) {
        const CommandInfo* info = FindCommand(positional[0]);
        if (!info) {
            error = "unknown command \"" + positional[0] + "\"";
            return false;
        }
        line.command = info->command;
        positional.erase(positional.begin());
    }
    if (line.showHelp || line.showVersion) {
        return true;
    }
    if (line.command == Command::None) {
        error = "no command given";
        return false;
    }
    for (const std::string& option : commandOptions) {
        if (!Allowed(line.command, option)) {
            error = "option " + option + " does not apply to " + InfoOf(line.command)->name;
            return false;
        }
    }
    if (line.command == Command::Config) {
        if (!positional.empty()) {
            error = "config takes no operands";
            return false;
        }
        return true;
    }
    if (positional.empty()) {
        error = std::string(InfoOf(line.command)->name) + " needs an archive";
        return false;
    }
    line.archive = positional[0];
    line.operands.assign(positional.begin() + 1, positional.end());
    bool singleArchive = line.command == Command::List || line.command == Command::Test;
    if (singleArchive && !line.operands.empty()) {
        error = std::string(InfoOf(line.command)->name) + " takes only the archive";
        return false;
    }
    if (line.command == Command::Add && line.operands.empty()) {
        error = "add needs at least one file or folder";
        return false;
    }
    if (line.command == Command::Delete && line.operands.empty()) {
        error = "delete needs at least one member name";
        return false;
    }
    return true;
}

std::string HelpText(Command command) {
    const CommandInfo* info = InfoOf(command);
    if (info) {
        return std::string("usage: ") + info->usage + "\n\n" + info->help;
    }
    std::string text = "usage: tarnel [--plugin PATH] [--settings PATH] COMMAND [OPTIONS] ...\n"
                       "\n"
                       "Lists, extracts, tests, adds to and deletes from MPQ archives through the\n"
                       "tarnel.wcx packer plug-in, driving it as a file manager does.\n"
                       "\n"
                       "Commands:\n";
    for (const CommandInfo& each : kCommands) {
        text += "  ";
        text += each.usage;
        text += "\n";
    }
    text += "\n"
            "Options:\n"
            "  --plugin PATH    the plug-in to load (default: tarnel.wcx beside tarnel)\n"
            "  --settings PATH  the settings file (default: "
#if defined(_WIN32)
            "%APPDATA%\\tarnel\\tarnel.ini"
#else
            "$XDG_CONFIG_HOME/tarnel/tarnel.ini"
#endif
            ")\n"
            "  --help           this text; tarnel COMMAND --help for one command\n"
            "  --version        the version\n"
            "\n"
            "Exit status: 0 success, 1 some members or files failed (or Ctrl+C),\n"
            "2 usage error or the archive cannot be opened.\n";
    return text;
}

} // namespace host

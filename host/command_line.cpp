#include "host/command_line.h"

#include "host/host_os.h"

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
     "Lists the members of ARCHIVE: size, packed size and name, one member a line,\n"
     "the archive's internal members \"(listfile)\", \"(attributes)\" and\n"
     "\"(signature)\" included.\n"
     "  --json                  one JSON array of {\"name\", \"size\", \"packed\"} objects\n"
     "  -q, --quiet             errors only\n"},
    {Command::Extract, "extract",
     "tarnel extract ARCHIVE [-C DIR] [-k] [-v|-q] [--internal] [-T FILE] [MEMBER...]",
     "Extracts all members of ARCHIVE, or those named, into DIR (default: the\n"
     "current folder), creating folders for member paths. MEMBER may use the\n"
     "wildcards * ? [...], matched without regard to case; a folder name chooses\n"
     "everything in it. Members whose names would land outside DIR (absolute,\n"
     "a drive letter, a \"..\" component) are refused and reported. The internal\n"
     "members \"(listfile)\", \"(attributes)\" and \"(signature)\" are left out\n"
     "unless named exactly or --internal is given. An existing file is replaced\n"
     "only once its new content is completely written.\n"
     "  -C, --directory DIR     extract into DIR, made when something is extracted\n"
     "  -k, --keep-old-files    keep existing files; their members are skipped\n"
     "  -v, --verbose           each member's name as it is extracted\n"
     "  -q, --quiet             errors only\n"
     "  --internal              the internal members as well\n"
     "  -T, --files-from FILE   names from FILE, one a line (-: standard input)\n"},
    {Command::Test, "test", "tarnel test [-v|-q] ARCHIVE",
     "Reads every member of ARCHIVE through and reports those that cannot be read.\n"
     "  -v, --verbose           each member's name as it is tested\n"
     "  -q, --quiet             errors only\n"},
    {Command::Add, "add",
     "tarnel add ARCHIVE [-C DIR] [--into SUBPATH] [--move] [-v|-q] [-T FILE] PATH...",
     "Adds files and folders (folders with everything in them) to ARCHIVE,\n"
     "creating it if needed. PATHs are relative to DIR and keep that relative\n"
     "name in the archive; a member of the same name is replaced. Member names\n"
     "do not tell letter case apart, so two files whose names differ only in case\n"
     "are refused and neither is added.\n"
     "  -C, --directory DIR     take PATHs from DIR (default: the current folder)\n"
     "  --into SUBPATH          store the files below SUBPATH inside the archive\n"
     "  --move                  delete each source file once the archive is written\n"
     "  -v, --verbose           each member's name as it is added\n"
     "  -q, --quiet             errors only\n"
     "  -T, --files-from FILE   PATHs from FILE, one a line (-: standard input)\n"},
    {Command::Delete, "delete", "tarnel delete ARCHIVE [-v|-q] [--internal] [-T FILE] MEMBER...",
     "Deletes the named members from ARCHIVE (wildcards as for extract; the\n"
     "internal members only when named exactly or with --internal).\n"
     "  -v, --verbose           each member's name as it is deleted\n"
     "  -q, --quiet             errors only\n"
     "  --internal              let wildcards and folders choose internal members\n"
     "  -T, --files-from FILE   names from FILE, one a line (-: standard input)\n"},
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
    bool reads = command == Command::Extract || command == Command::Test;
    bool changes = command == Command::Add || command == Command::Delete;
    if (option == "--json") {
        return command == Command::List;
    }
    if (option == "-C") {
        return command == Command::Extract || command == Command::Add;
    }
    if (option == "--into" || option == "--move") {
        return command == Command::Add;
    }
    if (option == "-k") {
        return command == Command::Extract;
    }
    if (option == "-v") {
        return reads || changes;
    }
    if (option == "-q") {
        return reads || changes || command == Command::List;
    }
    if (option == "-T") {
        return command == Command::Extract || changes;
    }
    if (option == "--internal") {
        return command == Command::Extract || command == Command::Delete;
    }
    return false;
}

// The options' names: long forms map to the short one where there is one.
std::string CanonicalName(const std::string& name) {
    static const char* const kSynonyms[][2] = {
        {"--directory", "-C"}, {"--keep-old-files", "-k"}, {"--verbose", "-v"},
        {"--quiet", "-q"},     {"--files-from", "-T"},     {"-h", "--help"},
    };
    for (const auto& synonym : kSynonyms) {
        if (name == synonym[0]) {
            return synonym[1];
        }
    }
    return name;
}

bool TakesValue(const std::string& name) {
    return name == "--plugin" || name == "--settings" || name == "-C" || name == "--into" ||
           name == "-T";
}

// Takes option `name` (canonical) with its value into `line`; options of a
// command are also noted in `commandOptions`. False with `error` set for
// an unknown option.
bool ApplyOption(const std::string& name, const std::string& value, CommandLine& line,
                 std::vector<std::string>& commandOptions, std::string& error) {
    if (name == "--help") {
        line.showHelp = true;
        return true;
    }
    if (name == "--version") {
        line.showVersion = true;
        return true;
    }
    if (name == "--plugin") {
        line.pluginPath = value;
        return true;
    }
    if (name == "--settings") {
        line.settingsPath = value;
        return true;
    }
    if (name == "--json") {
        line.json = true;
    } else if (name == "--move") {
        line.move = true;
    } else if (name == "-C") {
        line.folder = value;
    } else if (name == "--into") {
        line.into = value;
        line.intoGiven = true;
    } else if (name == "-k") {
        line.keepOld = true;
    } else if (name == "-v") {
        line.verbose = true;
    } else if (name == "-q") {
        line.quiet = true;
    } else if (name == "-T") {
        line.nameFiles.push_back(value);
    } else if (name == "--internal") {
        line.internal = true;
    } else {
        error = "unknown option " + name;
        return false;
    }
    commandOptions.push_back(name);
    return true;
}

// Applies the option argument args[i] ("--name", "--name=value", "-abc",
// "-Tvalue"); an option whose value is the next argument moves `i` past it.
bool TakeOptionArgument(const std::vector<std::string>& args, size_t& i, CommandLine& line,
                        std::vector<std::string>& commandOptions, std::string& error) {
    const std::string& arg = args[i];
    // The options in this argument: one long option, or short ones.
    std::vector<std::string> names;
    std::string value;
    bool hasValue = false;
    if (arg.compare(0, 2, "--") == 0) {
        std::string name;
        hasValue = SplitLongOption(arg, name, value);
        names.push_back(CanonicalName(name));
    } else {
        for (size_t c = 1; c < arg.size(); ++c) {
            std::string name = CanonicalName(std::string("-") + arg[c]);
            names.push_back(name);
            if (TakesValue(name) && c + 1 < arg.size()) {
                value = arg.substr(c + 1);
                hasValue = true;
                break;
            }
        }
    }
    for (size_t n = 0; n < names.size(); ++n) {
        const std::string& name = names[n];
        bool last = n + 1 == names.size();
        bool takesValue = TakesValue(name);
        if (takesValue && !last) {
            error = "option " + name + " needs a value";
            return false;
        }
        std::string optionValue = last ? value : std::string();
        if (takesValue && !hasValue) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            optionValue = args[++i];
        } else if (!takesValue && hasValue && last) {
            error = "option " + name + " takes no value";
            return false;
        }
        if (!ApplyOption(name, optionValue, line, commandOptions, error)) {
            return false;
        }
        if (takesValue && optionValue.empty()) {
            error = "option " + name + " needs a non-empty value";
            return false;
        }
    }
    return true;
}

// Takes the command, the archive and the other operands from `positional`,
// and checks that they and the options given go together.
bool TakeOperands(std::vector<std::string> positional,
                  const std::vector<std::string>& commandOptions, CommandLine& line,
                  std::string& error) {
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
    if (line.verbose && line.quiet) {
        error = "options -v and -q do not go together";
        return false;
    }
    // With -T the names may all come from the files.
    bool named = !line.operands.empty() || !line.nameFiles.empty();
    if (line.command == Command::Add && !named) {
        error = "add needs at least one file or folder";
        return false;
    }
    if (line.command == Command::Delete && !named) {
        error = "delete needs at least one member name";
        return false;
    }
    return true;
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
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (!TakeOptionArgument(args, i, line, commandOptions, error)) {
            return false;
        }
    }
    return TakeOperands(positional, commandOptions, line, error);
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
            "  --plugin PATH    the plug-in to load (default: tarnel.wcx beside tarnel,\n"
            "                   or in ../lib/tarnel/ from tarnel's folder)\n"
            "  --settings PATH  the settings file (default: ";
    text += kDefaultSettingsShown;
    text += ")\n"
            "  -h, --help       this text; tarnel COMMAND --help for one command\n"
            "  --version        the version\n"
            "  --               ends the options: what follows is a name even when it\n"
            "                   starts with -\n"
            "\n"
            "Exit status: 0 success, 1 some members or files failed, or the operation\n"
            "was stopped (Ctrl+C, or its output closed), 2 usage error or the archive\n"
            "cannot be opened or updated.\n";
    return text;
}

} // namespace host

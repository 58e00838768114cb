// The command line of tarnel: a command, its archive and operands, and the
// options, which may stand before or after the command.
#pragma once

#include <string>
#include <vector>

namespace host {

enum class Command { None, List, Extract, Test, Add, Delete, Config };

// Exit statuses of the command.
enum ExitStatus : int {
    kExitOk = 0,
    kExitSomeFailed = 1, // some members or files failed, or the user stopped
    kExitUsage = 2,      // a usage error, or the archive or plug-in cannot be opened
};

struct CommandLine {
    Command command = Command::None;
    bool showHelp = false;
    bool showVersion = false;
    std::string pluginPath;   // --plugin; empty: beside the executable
    std::string settingsPath; // --settings; empty: the default place
    bool json = false;        // list --json
    bool move = false;        // add --move
    std::string folder;       // -C DIR; empty: the current folder
    std::string into;         // add --into SUBPATH
    bool intoGiven = false;
    std::string archive;
    std::vector<std::string> operands; // members or paths after the archive
};

// Parses the arguments after the program name. Returns false with a message
// for the user in `error` on a usage error. Help and version requests parse
// successfully whatever else is missing.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

// The help text of one command, or the general help for Command::None.
std::string HelpText(Command command);

} // namespace host

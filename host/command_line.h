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
    bool keepOld = false;               // extract -k: existing files are kept
    bool verbose = false;               // -v: each member's name as it is handled
    bool quiet = false;                 // -q: errors only
    bool internal = false;              // --internal: choose the archive's own members too
    std::vector<std::string> nameFiles; // -T FILE, in order; "-" is standard input
    std::string archive;
    std::vector<std::string> operands; // members or paths after the archive
};

// Parses the arguments after the program name. Returns false with a message
// for the user in `error` on a usage error. Help and version requests parse
// successfully whatever else is missing. Short options without a value may
// be bundled ("-kv"); a short option's value may follow it directly ("-Cout").
// Names in -T files are not read here: with -T, add and delete may have no
// operands of their own.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

// The help text of one command, or the general help for Command::None.
std::string HelpText(Command command);

} // namespace host

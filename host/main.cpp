// tarnel: a command-line host for the tarnel.wcx packer plug-in. It loads the
// plug-in as a file manager does and drives it through its entry points.
#include <cstdio>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/commands.h"
#include "host/host_os.h"
#include "host/messages.h"
#include "host/plugin_host.h"
#include "host/progress.h"
#include "host/terminal_text.h"

#ifndef TARNEL_VERSION
#define TARNEL_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    using namespace host;
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(args, line, error)) {
        std::fprintf(stderr, "tarnel: %s\n%s", Printable(error).c_str(),
                     "Try 'tarnel --help' for more information.\n");
        return kExitUsage;
    }
    if (line.showVersion) {
        std::printf("tarnel %s\n", TARNEL_VERSION);
        return kExitOk;
    }
    if (line.showHelp) {
        std::printf("%s", HelpText(line.command).c_str());
        return kExitOk;
    }

    if (line.settingsPath.empty()) {
        line.settingsPath = DefaultSettingsPath();
    }
    if (!FitsPluginPath(line.settingsPath, "settings file")) {
        return kExitUsage;
    }
    SetQuiet(line.quiet);
    SetVerbose(line.verbose);
    // Made now, before any plug-in messages are held back.
    MessageStream();
    Plugin plugin;
    std::string pluginPath = line.pluginPath;
    if (pluginPath.empty()) {
        std::vector<std::string> places = DefaultPluginPaths();
        for (const std::string& place : places) {
            if (StatPath(place) == PathKind::File) {
                pluginPath = place;
                break;
            }
        }
        if (pluginPath.empty()) {
            Report("cannot find the plug-in: neither " + places[0] + " nor " + places[1] +
                   " exists; name it with --plugin PATH");
            return kExitUsage;
        }
    }
    if (!plugin.Load(pluginPath, error)) {
        Report(error);
        return kExitUsage;
    }
    // Ctrl+C (and a kill, or a closed terminal) now stops the running
    // operation at its next progress report, so that it ends cleanly instead
    // of leaving a half-written file. A listing writes nothing, and the
    // options dialog must stay easy to leave, so both keep the usual Ctrl+C.
    if (line.command != Command::List && line.command != Command::Config) {
        CatchInterrupts();
    }
    SetProgressBarEnabled(StandardErrorIsTerminal() && !line.quiet);
    plugin.Start(line.settingsPath, OnProgress);

    switch (line.command) {
    case Command::List:
        return RunList(plugin, line);
    case Command::Extract:
        return RunExtract(plugin, line);
    case Command::Test:
        return RunTest(plugin, line);
    case Command::Add:
        return RunAdd(plugin, line);
    case Command::Delete:
        return RunDelete(plugin, line);
    case Command::Config:
        return RunConfig(plugin, line);
    case Command::None:
        break;
    }
    return kExitUsage;
}

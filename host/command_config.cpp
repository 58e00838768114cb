// tarnel config: the plug-in's options dialog, with no parent window.
#include <cstdio>

#include "host/commands.h"
#include "host/disk_path.h"
#include "host/host_os.h"

namespace host {

int RunConfig(Plugin& plugin, const CommandLine& line) {
    // The dialog writes the settings file; its folder must exist for that.
    std::string folder = FolderOf(line.settingsPath);
    if (!folder.empty()) {
        std::string error;
        if (!MakeFolders(folder, error)) {
            Report("cannot create folder " + error);
            return kExitSomeFailed;
        }
    }
    // The plug-in returns the dialog's result: 1 after OK, 2 after Cancel,
    // anything else when the dialog could not be shown.
    int result = plugin.ConfigurePacker(nullptr, plugin.module);
    if (result == 1) {
        if (line.settingsPath.empty()) {
            std::printf("settings kept for this run only: no settings file is known\n");
        } else {
            std::printf("settings saved to %s\n", line.settingsPath.c_str());
        }
        return kExitOk;
    }
    if (result == 2) {
        std::printf("cancelled; the settings are unchanged\n");
        return kExitOk;
    }
    Report(std::string("the options dialog cannot be shown") + kOptionsDialogNeeds);
    return kExitSomeFailed;
}

} // namespace host

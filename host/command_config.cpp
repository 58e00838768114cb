// tarnel config: the plug-in's options dialog, with no parent window.
#include "host/commands.h"
#include "host/host_os.h"

namespace host {

int RunConfig(Plugin& plugin, const CommandLine& line) {
    // The dialog writes the settings file; its folder must exist for that.
    size_t last = line.settingsPath.find_last_of(kPathSeparator == '/' ? "/" : "\\/");
    if (last != std::string::npos && last > 0) {
        std::string error;
        if (!MakeFolders(line.settingsPath.substr(0, last), error)) {
            Report("cannot create folder " + error);
            return kExitSomeFailed;
        }
    }
    int result = plugin.ConfigurePacker(nullptr, plugin.module);
    if (result != kResultOk) {
        Report("the options dialog: " + ResultInWords(result));
        return kExitSomeFailed;
    }
    return kExitOk;
}

} // namespace host

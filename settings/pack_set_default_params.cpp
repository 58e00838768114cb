// PackSetDefaultParams: the host names its settings file.
#include <cstring>

#include "plugin/host_interface.h"
#include "settings/plugin_settings.h"

// Copies the proposed settings path and loads the file at once. An empty
// path forgets the file; the values in memory then stay as they are. A path
// that fills the host's 260-byte field without a terminating zero is taken
// as no path at all: cut, it would name another file.
extern "C" void TARNEL_STDCALL PackSetDefaultParams(HostDefaults* defaults) {
    if (!defaults) {
        return;
    }
    const char* path = defaults->settingsPath;
    size_t length = strnlen(path, sizeof defaults->settingsPath);
    if (length >= sizeof PluginSettings.SettingsPath) {
        length = 0;
    }
    std::memcpy(PluginSettings.SettingsPath, path, length);
    PluginSettings.SettingsPath[length] = '\0';
    LoadSettings();
}

// SaveSettings: every setting written back to the settings file.
#include <cstdio>

#include "platform/platform.h"
#include "settings/options_dialog.h"
#include "settings/plugin_settings.h"

namespace {

void WriteInteger(const char* key, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    PlatformWriteProfileString(SETTINGS_SECTION, key, text, PluginSettings.SettingsPath);
}

// A list too long for one joined value is written with the whole entries
// that fit: a cut entry would be a different suffix or path.
void WriteList(const char* key, const SuffixList* list) {
    char text[kJoinedListSize];
    JoinList(list, ',', text, sizeof text);
    PlatformWriteProfileString(SETTINGS_SECTION, key, text, PluginSettings.SettingsPath);
}

} // namespace

// The results of the writes are not examined: the values in memory stay as
// the dialog set them whether or not the file took them.
void SaveSettings(void) {
    WriteInteger("CompType", PluginSettings.CompType);
    WriteInteger("LocaleID", PluginSettings.LocaleID);
    WriteInteger("MaxFiles", PluginSettings.MaxFiles);
    WriteList("MPQDeflateExt", &PluginSettings.MPQDeflateExt);
    WriteList("AudioExt", &PluginSettings.AudioExt);
    WriteInteger("AudioQuality", PluginSettings.AudioQuality);
    WriteList("NoCompExt", &PluginSettings.NoCompExt);
    WriteList("FileLists", &PluginSettings.FileLists);
    WriteInteger("SimNameFileList", PluginSettings.SimNameFileList);
}

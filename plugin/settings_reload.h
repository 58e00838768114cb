// The step with which listing, packing and deleting begin their work on an
// archive: the settings file is read again, so that an edit takes effect at
// the next operation, and the library's current locale becomes the
// configured one.
#pragma once

#include <cstdint>

#include "archive_library/archive_library.h"
#include "settings/plugin_settings.h"

inline void ReloadSettingsAndSetLocale() {
    LoadSettings();
    ArchiveLibrary.SFileSetLocale(static_cast<uint32_t>(PluginSettings.LocaleID));
}

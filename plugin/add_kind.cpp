#include "plugin/add_kind.h"

#include "archive_library/archive_library.h"
#include "settings/plugin_settings.h"

AddKind ChooseAddKind(const char* name) {
    if (EndsWithAnyNoCase(name, &PluginSettings.NoCompExt)) {
        return AddKind::Stored;
    }
    if (EndsWithAnyNoCase(name, &PluginSettings.AudioExt)) {
        return AddKind::Wave;
    }
    return AddKind::Compressed;
}

uint32_t ChooseArchiveCompression(const char* archivePath) {
    if (PluginSettings.CompType != 0) {
        return static_cast<uint32_t>(PluginSettings.CompType);
    }
    return EndsWithAnyNoCase(archivePath, &PluginSettings.MPQDeflateExt) ? kCompressionDeflate
                                                                         : kCompressionStandard;
}

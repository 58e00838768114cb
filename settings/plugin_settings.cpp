#include "settings/plugin_settings.h"
#include "platform/bounded_text.h"

#include <cstring>

#include "platform/platform.h"

Settings PluginSettings = {"", 0, 0, 1024, {}, {}, 0, {}, {}, "", 0};

namespace {

// Every value is read through a buffer of this size, so at most 1999
// characters of a value are seen.
constexpr uint32_t kValueBufferSize = 2000;

int32_t ReadInteger(const char* key, const char* def) {
    char value[kValueBufferSize];
    PlatformGetProfileString(SETTINGS_SECTION, key, def, value, sizeof value,
                             PluginSettings.SettingsPath);
    return ParseDecimal(value);
}

void ReadList(const char* key, const char* def, SuffixList* list) {
    char value[kValueBufferSize];
    PlatformGetProfileString(SETTINGS_SECTION, key, def, value, sizeof value,
                             PluginSettings.SettingsPath);
    list->count = SplitList(list, value);
}

} // namespace

void LoadSettings(void) {
    if (PluginSettings.SettingsPath[0] == '\0') {
        return;
    }
    PluginSettings.CompType = ReadInteger("CompType", "0");
    PluginSettings.LocaleID = ReadInteger("LocaleID", "0");
    PluginSettings.MaxFiles = ReadInteger("MaxFiles", "1024");
    ReadList("MPQDeflateExt", "w3m,war3patch.mpq,war3.mpq", &PluginSettings.MPQDeflateExt);
    ReadList("AudioExt", "wav", &PluginSettings.AudioExt);
    PluginSettings.AudioQuality = ReadInteger("AudioQuality", "0");
    ReadList("NoCompExt", "bik,smk,mp3,mpq,w3m", &PluginSettings.NoCompExt);
    ReadList("FileLists", "", &PluginSettings.FileLists);
    JoinList(&PluginSettings.FileLists, ' ', PluginSettings.FileListsJoined,
             sizeof PluginSettings.FileListsJoined);
    PluginSettings.SimNameFileList = ReadInteger("SimNameFileList", "0");
}

int32_t SplitList(SuffixList* list, const char* text) {
    int32_t count = 0;
    const char* piece = text;
    while (count < kSuffixListCapacity) {
        const char* end = std::strchr(piece, ',');
        size_t length = end ? static_cast<size_t>(end - piece) : std::strlen(piece);
        // An empty piece is skipped; so is one too long for an entry, since a
        // cut suffix or path would be a wrong one.
        if (length > 0 && length < kSettingsTextSize) {
            std::memcpy(list->entries[count], piece, length);
            list->entries[count][length] = '\0';
            ++count;
        }
        if (!end) {
            break;
        }
        piece = end + 1;
    }
    return count;
}

uint32_t JoinList(const SuffixList* list, char separator, char* out, uint32_t size) {
    uint32_t length = 0;
    if (size == 0) {
        return 0;
    }
    out[0] = '\0';
    for (int32_t i = 0; i < list->count; ++i) {
        size_t entryLength = std::strlen(list->entries[i]);
        size_t needed = entryLength + (length > 0 ? 1 : 0);
        if (length + needed >= size) {
            break; // never a cut entry: stop at the last one that fits whole
        }
        if (length > 0) {
            out[length++] = separator;
        }
        std::memcpy(out + length, list->entries[i], entryLength + 1);
        length += static_cast<uint32_t>(entryLength);
    }
    return length;
}

int32_t ParseDecimal(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    // A number beyond the signed 32-bit range saturates at its limit: the
    // magnitude stops growing once it passes 2^31, however many digits
    // follow.
    const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9') {
        uint32_t digit = static_cast<uint32_t>(*p - '0');
        value = (value > (limit - digit) / 10u) ? limit : value * 10u + digit;
        ++p;
    }
    if (negative) {
        return value == 0x80000000u ? INT32_MIN : -static_cast<int32_t>(value);
    }
    return static_cast<int32_t>(value);
}

bool EndsWithNoCase(const char* name, const char* suffix) {
    size_t nameLength = std::strlen(name);
    size_t suffixLength = std::strlen(suffix);
    if (suffixLength > nameLength) {
        return false;
    }
    return EqualNoCase(name + (nameLength - suffixLength), suffix, suffixLength);
}

bool EndsWithAnyNoCase(const char* name, const SuffixList* list) {
    for (int32_t i = 0; i < list->count; ++i) {
        if (EndsWithNoCase(name, list->entries[i])) {
            return true;
        }
    }
    return false;
}

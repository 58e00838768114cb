// The plug-in's single, process-wide set of settings and the store that
// refreshes it from the host's settings file.
#pragma once

#include <cstdint>

// The section of the settings file that holds every key.
#define SETTINGS_SECTION "TarnelPlugin"

enum : int {
    kSuffixListCapacity = 25, // entries a list holds at most
    kSettingsTextSize = 260,  // a path or list entry: 259 characters and the zero
    kJoinedListSize = 1024,   // a joined list: 1023 characters and the zero
};

// An ordered list of settings texts, filled from a comma-separated value.
// Entries 0 to count - 1 are valid; none is empty or holds a comma.
struct SuffixList {
    int32_t count;
    char entries[kSuffixListCapacity][kSettingsTextSize];
};

struct Settings {
    char SettingsPath[kSettingsTextSize]; // empty: no settings file known
    int32_t CompType;         // 0 automatic; else the compression type for ordinary files
    int32_t LocaleID;         // the library's current locale for archive operations
    int32_t MaxFiles;         // member limit of an archive created by packing
    SuffixList MPQDeflateExt; // archive-name suffixes for which automatic picks Deflate
    SuffixList AudioExt;      // file-name suffixes added as wave data
    int32_t AudioQuality;     // quality passed with every wave file
    SuffixList NoCompExt;     // file-name suffixes added without compression
    SuffixList FileLists;     // paths of external name-list files
    char FileListsJoined[kJoinedListSize]; // FileLists joined by single blanks
    int32_t SimNameFileList; // 1: use the name list whose base name matches the archive's
};

// The one process-wide instance: zero at load except MaxFiles (1024).
extern Settings PluginSettings;

// Refreshes every field but SettingsPath from the settings file, each key
// with its default; does nothing while SettingsPath is empty.
void LoadSettings(void);

// Fills `list` from the pieces of `text` between commas, in order: empty
// pieces are skipped, nothing is trimmed, pieces after the 25th are ignored,
// and a piece longer than 259 characters is skipped. Returns the count.
int32_t SplitList(SuffixList* list, const char* text);

// Joins the entries of `list` with `separator` into `out` (of `size` bytes):
// only whole entries, in order, as many as fit; the empty text for an empty
// list. Returns the length written.
uint32_t JoinList(const SuffixList* list, char separator, char* out, uint32_t size);

// Decimal conversion of settings values and dialog texts: leading white space
// skipped, one optional sign, digits up to the first other character, 0 when
// there are none. A number beyond the signed 32-bit range gives the limit on
// its side: INT32_MAX or INT32_MIN.
int32_t ParseDecimal(const char* text);

// True when `name` ends with `suffix`, ASCII letters compared without regard
// to case and every other byte exactly. No dot is implied.
bool EndsWithNoCase(const char* name, const char* suffix);

// True when `name` ends with any entry of `list`.
bool EndsWithAnyNoCase(const char* name, const SuffixList* list);

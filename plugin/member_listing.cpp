// Opening an archive for reading and listing its members: where the names
// come from is the archive's own "(listfile)" when it has one, else the
// configured external name lists.
#include "plugin/member_listing.h"

#include <cstdlib>
#include <cstring>

#include "archive_library/archive_library.h"
#include "platform/bounded_text.h"
#include "platform/platform.h"
#include "settings/plugin_settings.h"

namespace {

// Copies the base name of `path` into `out` (of kSettingsTextSize bytes): the
// part after the last folder separator, without its last extension. A dot in
// a folder name never cuts.
void BaseNameWithoutExtension(const char* path, char* out) {
    const char* name = path;
    for (const char* p = path; *p; ++p) {
        if (IsFolderSeparator(*p)) {
            name = p + 1;
        }
    }
    CopyBounded(out, kSettingsTextSize, name);
    char* dot = std::strrchr(out, '.');
    if (dot) {
        *dot = '\0';
    }
}

void ShowError(const char* text) {
    PlatformMessageBox(text, "Error", kMessageBoxIconWarning);
}

// Lists from the archive's own "(listfile)". Returns false when it cannot be
// sized or read, after telling the user.
bool ListFromInternalList(OpenedArchive* opened, MpqHandle member) {
    uint32_t size = ArchiveLibrary.SFileGetFileSize(member, nullptr);
    if (size == kFileSizeUnknown) {
        ArchiveLibrary.SFileCloseFile(member);
        ShowError("Cannot retrieve size of file. The archive is probably corrupted");
        return false;
    }
    char* text = static_cast<char*>(std::calloc(static_cast<size_t>(size) + 1, 1));
    if (!text) {
        ArchiveLibrary.SFileCloseFile(member);
        return false;
    }
    uint32_t read = 0;
    if (!ArchiveLibrary.SFileReadFile(member, text, size, &read, nullptr)) {
        ArchiveLibrary.SFileCloseFile(member);
        std::free(text);
        ShowError("An error occurred while reading from the archive.");
        return false;
    }
    ArchiveLibrary.SFileCloseFile(member);
    // A listing the library could not make would show the archive empty.
    bool listed =
        ArchiveLibrary.SFileListFiles(opened->archive, text, opened->entries, kListIsText) != 0;
    std::free(text);
    return listed;
}

// The configured external name list whose base name equals the archive's,
// or null.
const char* MatchingExternalList(const char* archivePath) {
    if (PluginSettings.SimNameFileList != 1 || PluginSettings.FileLists.count == 0) {
        return nullptr;
    }
    char archiveBase[kSettingsTextSize];
    BaseNameWithoutExtension(archivePath, archiveBase);
    for (int32_t i = 0; i < PluginSettings.FileLists.count; ++i) {
        char listBase[kSettingsTextSize];
        BaseNameWithoutExtension(PluginSettings.FileLists.entries[i], listBase);
        if (SameNameNoCase(listBase, archiveBase)) {
            return PluginSettings.FileLists.entries[i];
        }
    }
    return nullptr;
}

// Chooses where the member names come from and has the library fill the
// entry array. Returns false when the open must fail.
bool ListArchive(OpenedArchive* opened, const char* archivePath) {
    MpqHandle member = nullptr;
    if (ArchiveLibrary.SFileOpenFileEx(opened->archive, kListFileName, 0, &member)) {
        return ListFromInternalList(opened, member);
    }
    const char* list = MatchingExternalList(archivePath);
    if (!list) {
        list = PluginSettings.FileListsJoined;
    }
    return ArchiveLibrary.SFileListFiles(opened->archive, list, opened->entries, kListFromFiles) !=
           0;
}

} // namespace

bool OpenAndListArchive(const char* path, OpenedArchive* opened) {
    opened->nextIndex = 0;
    opened->entries = nullptr;
    opened->entryCount = 0;
    opened->archive = nullptr;
    if (!ArchiveLibrary.SFileOpenArchive(path, 0, 0, &opened->archive)) {
        return false;
    }
    opened->entryCount = ArchiveLibrary.SFileGetFileInfo(opened->archive, kInfoHashTableSize);
    // Cleared, so that records the library leaves alone read as empty slots.
    // (A count whose records would not fit the address space gets none.)
    size_t bytes = 0;
    opened->entries = opened->entryCount && !__builtin_mul_overflow(size_t(opened->entryCount),
                                                                    sizeof(ListEntry), &bytes)
                          ? static_cast<ListEntry*>(PlatformAllocateLarge(bytes))
                          : nullptr;
    if ((opened->entryCount != 0 && !opened->entries) || !ListArchive(opened, path)) {
        CloseListedArchive(opened);
        return false;
    }
    return true;
}

void CloseListedArchive(OpenedArchive* opened) {
    ArchiveLibrary.SFileCloseArchive(opened->archive);
    opened->archive = nullptr;
    FreeListedEntries(opened);
}

void FreeListedEntries(OpenedArchive* opened) {
    PlatformFreeLarge(opened->entries, size_t(opened->entryCount) * sizeof(ListEntry));
    opened->entries = nullptr;
    opened->entryCount = 0;
}

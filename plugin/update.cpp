// Archive update: PackFiles adds files from disk to a new or existing
// archive (optionally moving them), DeleteFiles removes members. Each call
// opens the archive for update once, works through the host's list in order,
// leaves the archive's "(listfile)" in the neutral locale and closes the
// archive, which writes it. A file that cannot be added or deleted is shown
// to the user and the call goes on with the next one. Folders in the lists
// are the hosts' way of naming everything below them (see folder_entries.h).
#include "plugin/update.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive_library/archive_library.h"
#include "platform/platform.h"
#include "plugin/add_kind.h"
#include "plugin/folder_entries.h"
#include "plugin/host_interface.h"
#include "plugin/host_names.h"
#include "plugin/member_listing.h"
#include "plugin/progress.h"
#include "plugin/settings_reload.h"
#include "settings/plugin_settings.h"

namespace {

// A source path or archived name: 259 characters and the zero.
constexpr size_t kPathSize = 260;
// A message: its fixed text and as much of a name as fits.
constexpr size_t kMessageSize = 1024;

// Open flags and member limit of the two kinds of update.
constexpr uint32_t kPackOpenFlags = kUpdateOpenOrCreate | kUpdateKeepListFile;
constexpr uint32_t kDeleteOpenFlags = kUpdateOpenExisting | kUpdateKeepListFile;
constexpr uint32_t kDeleteMaxFiles = 16;

// Add flags and level of compressed and wave files; stored files are only
// replaced.
constexpr uint32_t kPackedAddFlags = kAddEncrypt | kAddCompress | kAddReplace;
constexpr uint32_t kCompressionLevel = 9;

bool IsOpen(MpqHandle update) {
    return update != nullptr && update != MPQ_INVALID_UPDATE_HANDLE;
}

// Shows `format` with `name` (the name as the host gave it), as much of the
// name as fits.
void ShowNameError(const char* format, const char* name) {
    char text[kMessageSize];
    std::snprintf(text, sizeof text, format, name);
    PlatformMessageBox(text, "Error", kMessageBoxIconWarning);
}

// The names of a host list: zero-terminated names one after another, ended
// by an empty name. A null list holds no names.
const char* FirstName(const char* list) {
    return (list && *list) ? list : nullptr;
}
const char* NextName(const char* name) {
    const char* next = name + std::strlen(name) + 1;
    return *next ? next : nullptr;
}
size_t CountNames(const char* list) {
    size_t count = 0;
    for (const char* name = FirstName(list); name; name = NextName(name)) {
        ++count;
    }
    return count;
}

// The file on disk: the source folder followed directly by the name, as the
// host gave both. False when it would not fit.
bool BuildSourcePath(const char* folder, const char* name, char* out) {
    size_t folderLength = std::strlen(folder);
    size_t nameLength = std::strlen(name);
    if (folderLength >= kPathSize || nameLength >= kPathSize - folderLength) {
        return false;
    }
    std::memcpy(out, folder, folderLength);
    std::memcpy(out + folderLength, name, nameLength + 1);
    return true;
}

// The member name: the sub-path, a backslash and the name, or the name
// alone without a sub-path; the host's separators become backslashes.
// False when it would not fit.
bool BuildArchivedName(const char* subPath, const char* name, char* out) {
    size_t length = 0;
    out[0] = '\0';
    if (subPath) {
        if (!AppendHostNameAsMember(out, kPathSize, &length, subPath) ||
            !AppendHostNameAsMember(out, kPathSize, &length, "\\")) {
            return false;
        }
    }
    return AppendHostNameAsMember(out, kPathSize, &length, name);
}

// Adds one file by the library call of its kind. Returns the library's
// result: non-zero when the file was added.
int AddFile(MpqHandle update, const char* source, const char* archived, AddKind kind,
            uint32_t compression) {
    switch (kind) {
    case AddKind::Stored:
        return ArchiveLibrary.MpqAddFileToArchiveEx(update, source, archived, kAddReplace,
                                                    kCompressionNone, 0);
    case AddKind::Wave:
        return ArchiveLibrary.MpqAddWaveToArchive(
            update, source, archived, kPackedAddFlags,
            static_cast<uint32_t>(PluginSettings.AudioQuality));
    case AddKind::Compressed:
        break;
    }
    return ArchiveLibrary.MpqAddFileToArchiveEx(update, source, archived, kPackedAddFlags,
                                                compression, kCompressionLevel);
}

// Leaves the archive's name list in the neutral locale and writes the
// archive. Returns the library's result: non-zero when it was written.
int FinishUpdate(MpqHandle update) {
    ArchiveLibrary.MpqSetFileLocale(update, kListFileName,
                                    static_cast<uint32_t>(PluginSettings.LocaleID), 0);
    return ArchiveLibrary.MpqCloseUpdatedArchive(update, 0);
}

// The depth of a name: its folder separators.
size_t FolderDepth(const char* name) {
    size_t depth = 0;
    for (const char* p = name; *p; ++p) {
        depth += IsFolderSeparator(*p) ? 1 : 0;
    }
    return depth;
}

// Removes the folder that the add-list name `name` (ending with a separator)
// names below `folder`, if it is empty. A name made only of separators names
// the source folder itself, which is not the list's to remove.
void RemoveFolderIfEmpty(const char* folder, const char* name) {
    char path[kPathSize];
    if (!BuildSourcePath(folder, name, path)) {
        return;
    }
    size_t length = std::strlen(path);
    size_t folderLength = std::strlen(folder);
    while (length > folderLength && IsFolderSeparator(path[length - 1])) {
        path[--length] = '\0';
    }
    if (length > folderLength) {
        PlatformRemoveEmptyFolder(path);
    }
}

// Deletes the sources of the names marked in `added`, in list order; then
// the folders the list named and the call reached, deepest first, each only
// when it is now empty.
void DeleteMovedSources(const char* folder, const char* list, const unsigned char* added) {
    size_t index = 0;
    size_t deepest = 0;
    for (const char* name = FirstName(list); name; name = NextName(name), ++index) {
        char source[kPathSize];
        if (!added[index]) {
            continue;
        }
        if (IsFolderAddEntry(name)) {
            deepest = std::max(deepest, FolderDepth(name));
        } else if (BuildSourcePath(folder, name, source)) {
            PlatformDeleteFile(source);
        }
    }
    for (size_t depth = deepest; depth > 0; --depth) {
        index = 0;
        for (const char* name = FirstName(list); name; name = NextName(name), ++index) {
            if (added[index] && IsFolderAddEntry(name) && FolderDepth(name) == depth) {
                RemoveFolderIfEmpty(folder, name);
            }
        }
    }
}

// True when the delete list names a folder.
bool ListNamesAFolder(const char* list) {
    for (const char* name = FirstName(list); name; name = NextName(name)) {
        char member[kPathSize];
        size_t length = 0;
        if (AppendHostNameAsMember(member, sizeof member, &length, name) &&
            FolderEntryPrefixLength(member) > 0) {
            return true;
        }
    }
    return false;
}

// The members of the archive as listing it finds them, for the folders of a
// delete list: the archive is opened for reading, listed and closed again
// before it is opened for update. `known` is false when the archive could
// not be listed.
struct ArchiveMembers {
    OpenedArchive listing;
    MemberIndex index;
    bool known;
};

void ListMembersForDeletion(const char* archivePath, ArchiveMembers* members) {
    std::memset(members, 0, sizeof *members);
    if (!ArchiveLibraryCanRead()) {
        return;
    }
    ReloadSettingsAndSetLocale();
    if (!OpenAndListArchive(archivePath, &members->listing)) {
        return;
    }
    ArchiveLibrary.SFileCloseArchive(members->listing.archive);
    members->listing.archive = nullptr;
    members->known =
        BuildMemberIndex(&members->index, members->listing.entries, members->listing.entryCount);
}

void FreeArchiveMembers(ArchiveMembers* members) {
    FreeMemberIndex(&members->index);
    FreeListedEntries(&members->listing);
    members->known = false;
}

// Marks every position in [first, end) as dealt with.
void MarkDone(MemberIndex* index, uint32_t first, uint32_t end) {
    for (uint32_t position = first; position < end; ++position) {
        index->done[position] = 1;
    }
}

// Deletes the member `member`, listed by the host as `name`. A member this
// call has already dealt with (by its name or a folder named earlier) is
// not tried again.
void DeleteMember(MpqHandle update, const char* member, const char* name, ArchiveMembers* members) {
    uint32_t first = 0;
    uint32_t end = 0;
    if (members->known) {
        FindByName(&members->index, member, &first, &end);
        if (first < end && members->index.done[first]) {
            return;
        }
    }
    if (!ArchiveLibrary.MpqDeleteFile(update, member)) {
        ShowNameError("Cannot delete %s", name);
    }
    MarkDone(&members->index, first, end);
}

// Deletes every member below the folder that `member` ("folder\*.*") names,
// at any depth, and a member of that very name if there is one. A member
// that cannot be deleted is shown by its name; a folder with nothing left
// in it is no error. When the archive could not be listed, the folder's
// members are unknown: the entry is tried as a name, and shown when no
// member bears it.
void DeleteFolder(MpqHandle update, const char* member, size_t prefixLength, const char* name,
                  ArchiveMembers* members) {
    uint32_t first = 0;
    uint32_t end = 0;
    bool literalListed = false;
    if (members->known) {
        MemberIndex* index = &members->index;
        FindByPrefix(index, member, prefixLength, &first, &end);
        for (uint32_t position = first; position < end;) {
            // The records of one name stand together: one deletion for all.
            uint32_t sameFirst = 0;
            uint32_t sameEnd = 0;
            const char* found = IndexedName(index, position);
            FindByName(index, found, &sameFirst, &sameEnd);
            literalListed = literalListed || SameNameNoCase(found, member);
            if (!index->done[position] && !ArchiveLibrary.MpqDeleteFile(update, found)) {
                char shown[kPathSize];
                CopyMemberNameForHost(shown, sizeof shown, found);
                ShowNameError("Cannot delete %s", shown);
            }
            MarkDone(index, sameFirst, sameEnd);
            position = sameEnd;
        }
    }
    if (!literalListed && !ArchiveLibrary.MpqDeleteFile(update, member) && !members->known) {
        ShowNameError("Cannot delete %s", name);
    }
}

} // namespace

void ShowSystemError(void) {
    uint32_t code = PlatformGetLastError();
    char text[kMessageSize];
    if (!PlatformErrorText(code, text, sizeof text)) {
        std::snprintf(text, sizeof text, "Error code %lu", static_cast<unsigned long>(code));
    }
    PlatformMessageBox(text, "Error", kMessageBoxIconWarning);
}

extern "C" int TARNEL_STDCALL PackFiles(char* packedFile, char* subPath, char* srcPath,
                                        char* addList, int flags) {
    // Without the library (reported once, when the plug-in was loaded) no
    // archive can be updated; fail instead of calling through null.
    if (!packedFile || !ArchiveLibraryCanUpdate()) {
        return kResultBadArchive;
    }
    const char* folder = srcPath ? srcPath : "";
    // A move deletes its sources only once the archive is written, so it
    // remembers which names were added: one mark per name of the list.
    unsigned char* added = nullptr;
    if (flags & kPackMoveFiles) {
        added = static_cast<unsigned char*>(std::calloc(CountNames(addList) + 1, 1));
        if (!added) {
            return kResultNoMemory;
        }
    }

    // The member limit for a new archive is the one from before the reload.
    MpqHandle update = ArchiveLibrary.MpqOpenArchiveForUpdate(
        packedFile, kPackOpenFlags, static_cast<uint32_t>(PluginSettings.MaxFiles));
    if (!IsOpen(update)) {
        ShowSystemError();
        std::free(added);
        return kResultBadArchive;
    }
    ReloadSettingsAndSetLocale();
    uint32_t compression = ChooseArchiveCompression(packedFile);

    size_t index = 0;
    for (const char* name = FirstName(addList); name; name = NextName(name), ++index) {
        char source[kPathSize];
        char archived[kPathSize];
        // A folder has nothing to add: its files follow it in the list. A
        // move removes it once it is empty.
        if (IsFolderAddEntry(name)) {
            if (added) {
                added[index] = 1;
            }
            continue;
        }
        if (!BuildSourcePath(folder, name, source) || !BuildArchivedName(subPath, name, archived)) {
            ShowNameError("Cannot Add %s to archive!", name);
            continue;
        }
        if (!ReportProgress(source, 0)) {
            break;
        }
        if (!AddFile(update, source, archived, ChooseAddKind(name), compression)) {
            ShowNameError("Cannot Add %s to archive!", name);
            continue;
        }
        if (added) {
            added[index] = 1;
        }
    }

    // An archive that could not be written is a failure of the whole call,
    // not of single files: tell the user why, and under move keep every
    // source, since the archive may not hold them.
    bool written = FinishUpdate(update) != 0;
    if (!written) {
        ShowSystemError();
    } else if (added) {
        DeleteMovedSources(folder, addList, added);
    }
    std::free(added);
    return written ? kResultOk : kResultBadArchive;
}

extern "C" int TARNEL_STDCALL DeleteFiles(char* packedFile, char* deleteList) {
    if (!packedFile || !ArchiveLibraryCanUpdate()) {
        return kResultBadArchive;
    }
    // Folders are found among the members that listing the archive finds,
    // before it is opened for update.
    ArchiveMembers members;
    std::memset(&members, 0, sizeof members);
    if (ListNamesAFolder(deleteList)) {
        ListMembersForDeletion(packedFile, &members);
    }
    MpqHandle update =
        ArchiveLibrary.MpqOpenArchiveForUpdate(packedFile, kDeleteOpenFlags, kDeleteMaxFiles);
    if (!IsOpen(update)) {
        ShowSystemError();
        FreeArchiveMembers(&members);
        return kResultBadArchive;
    }
    ReloadSettingsAndSetLocale();

    for (const char* name = FirstName(deleteList); name; name = NextName(name)) {
        char member[kPathSize];
        size_t length = 0;
        if (!AppendHostNameAsMember(member, sizeof member, &length, name)) {
            ShowNameError("Cannot delete %s", name);
            continue;
        }
        size_t prefixLength = FolderEntryPrefixLength(member);
        if (prefixLength > 0) {
            DeleteFolder(update, member, prefixLength, name, &members);
        } else {
            DeleteMember(update, member, name, &members);
        }
    }
    FreeArchiveMembers(&members);

    if (!FinishUpdate(update)) {
        ShowSystemError();
        return kResultBadArchive;
    }
    return kResultOk;
}

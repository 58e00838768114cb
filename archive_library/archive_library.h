// The archive library's binary contract, written from what the plug-in
// passes and relies on, and the one process-wide record of its bound entry
// points.
//
// Every entry point uses standard-call linkage on Windows. Handles are
// pointer-sized opaque values (32-bit on the Windows build); counts, sizes,
// flags and locales are 32-bit unsigned. "ok" results are non-zero on
// success and 0 on failure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/calling_convention.h"

extern "C" {

typedef void* MpqHandle;

// One record of the library's listing: 280 bytes, one per member slot.
struct ListEntry {
    uint32_t exists;         // non-zero when the slot holds a member
    uint32_t locale;         // the member's locale identifier
    uint32_t compressedSize; // stored size in bytes
    uint32_t fullSize;       // size in bytes once extracted
    uint32_t flags;          // the member's flags as the library reports them
    char name[260];          // the member's name, zero-terminated
};

// Information code of SFileGetFileInfo: the number of member slots.
enum : uint32_t { kInfoHashTableSize = 2 };

// List flags of SFileListFiles.
enum : uint32_t {
    kListFromFiles = 0, // the list is one name-list path, or several joined by spaces
    kListIsText = 1,    // the list is the text of a name list itself
};

// Open flags of MpqOpenArchiveForUpdate.
enum : uint32_t {
    kUpdateKeepListFile = 0x01, // keep the archive's "(listfile)" up to date
    kUpdateOpenExisting = 0x04, // open an existing archive only
    kUpdateOpenOrCreate = 0x20, // open the archive, creating a missing one
};

// Add flags of MpqAddFileToArchiveEx and MpqAddWaveToArchive.
enum : uint32_t {
    kAddReplace = 0x00001,  // replace a member of the same name
    kAddCompress = 0x00200, // compress the data
    kAddEncrypt = 0x10000,  // encrypt the data
};

// Compression types of MpqAddFileToArchiveEx.
enum : uint32_t {
    kCompressionNone = 0,
    kCompressionDeflate = 2,
    kCompressionStandard = 8,
};

// The update handle's failure values besides 0.
#define MPQ_INVALID_UPDATE_HANDLE ((MpqHandle)(intptr_t)-1)

// The archive's own list of its members' names.
constexpr char kListFileName[] = "(listfile)";

// The size SFileGetFileSize gives when it cannot tell the member's size.
enum : uint32_t { kFileSizeUnknown = 0xFFFFFFFFu };

// The 16 entry points. Names and paths are zero-terminated, at most 259
// characters; member names use the backslash. Each contract says what the
// plug-in passes and what it relies on. On failure an entry point leaves the
// system's reason as the last error (GetLastError on Windows, errno
// elsewhere); the plug-in itself reads it only where said, and the tarnel
// command reads it after any failed call to name the reason.

// SFileSetLocale(locale): makes `locale` (a Windows language identifier; 0 is
// neutral) the locale that later member opens, additions and deletions use,
// process-wide. Returns the locale; the result is not read.
typedef uint32_t(TARNEL_STDCALL* SFileSetLocaleFn)(uint32_t locale);

// SFileOpenArchive(path, 0, 0, &archive): opens the archive at `path` for
// reading; both numbers are passed as 0. ok; on success *archive is the
// archive's handle, to be closed by SFileCloseArchive.
typedef int(TARNEL_STDCALL* SFileOpenArchiveFn)(const char* path, uint32_t priority, uint32_t flags,
                                                MpqHandle* archive);

// SFileGetFileInfo(archive, kInfoHashTableSize): the number of member slots,
// which is the number of records SFileListFiles writes. Other information
// codes are not used; 0 on failure.
typedef uint32_t(TARNEL_STDCALL* SFileGetFileInfoFn)(MpqHandle handle, uint32_t infoCode);

// SFileListFiles(archive, list, entries, listFlag): writes one ListEntry per
// member slot into `entries`, which holds as many as SFileGetFileInfo said:
// `exists` non-zero for a slot that holds a member, its name (the plug-in
// reads at most 259 characters of it) and both sizes. With kListIsText,
// `list` is the text of a name list; with kListFromFiles, the path of a
// name-list file, several joined by single blanks, or empty. Names that no
// list gives are the library's own. ok.
typedef int(TARNEL_STDCALL* SFileListFilesFn)(MpqHandle archive, const char* list,
                                              ListEntry* entries, uint32_t listFlag);

// SFileOpenFileEx(archive, name, 0, &member): opens the member `name` under
// the current locale; a name from a listing record opens its member. ok; on
// success *member is to be closed by SFileCloseFile.
typedef int(TARNEL_STDCALL* SFileOpenFileExFn)(MpqHandle archive, const char* name, uint32_t scope,
                                               MpqHandle* member);

// SFileGetFileSize(member, null): the member's size in bytes once extracted;
// kFileSizeUnknown on failure.
typedef uint32_t(TARNEL_STDCALL* SFileGetFileSizeFn)(MpqHandle member, uint32_t* high);

// SFileReadFile(member, buffer, count, &read, null): reads up to `count` bytes
// from where the last read ended into `buffer`, their number into *read. ok;
// a successful read may deliver fewer bytes than asked, and none at the end.
typedef int(TARNEL_STDCALL* SFileReadFileFn)(MpqHandle member, void* buffer, uint32_t count,
                                             uint32_t* read, void* overlapped);

// SFileCloseFile(member): closes a member handle; the result is not read.
typedef int(TARNEL_STDCALL* SFileCloseFileFn)(MpqHandle member);

// SFileCloseArchive(archive): closes an archive handle of SFileOpenArchive;
// the result is not read.
typedef int(TARNEL_STDCALL* SFileCloseArchiveFn)(MpqHandle archive);

// MpqOpenArchiveForUpdate(path, flags, maxFiles): opens the archive at `path`
// for changes. Adding passes kUpdateOpenOrCreate | kUpdateKeepListFile and
// the configured MaxFiles (the member slots of a new archive); deleting
// kUpdateOpenExisting | kUpdateKeepListFile and 16. Returns the update
// handle, to be closed by MpqCloseUpdatedArchive; on failure 0 or
// MPQ_INVALID_UPDATE_HANDLE, and the last error says why, which the plug-in
// shows.
typedef MpqHandle(TARNEL_STDCALL* MpqOpenArchiveForUpdateFn)(const char* path, uint32_t flags,
                                                             uint32_t maxFiles);

// MpqAddFileToArchiveEx(update, source, name, flags, compression, level): adds
// the file `source` as the member `name` under the current locale. Compressed
// files are passed kAddEncrypt | kAddCompress | kAddReplace, the type
// kCompressionDeflate or kCompressionStandard and the level 9; stored files
// kAddReplace, kCompressionNone and 0. ok.
typedef int(TARNEL_STDCALL* MpqAddFileToArchiveExFn)(MpqHandle update, const char* source,
                                                     const char* name, uint32_t flags,
                                                     uint32_t compression, uint32_t level);

// MpqAddWaveToArchive(update, source, name, flags, quality): adds a wave file
// with kAddEncrypt | kAddCompress | kAddReplace and the configured
// AudioQuality (0 medium, 1 high, 2 low). ok.
typedef int(TARNEL_STDCALL* MpqAddWaveToArchiveFn)(MpqHandle update, const char* source,
                                                   const char* name, uint32_t flags,
                                                   uint32_t quality);

// MpqDeleteFile(update, name): deletes the member `name` of the current
// locale. ok; 0 also when there is no such member.
typedef int(TARNEL_STDCALL* MpqDeleteFileFn)(MpqHandle update, const char* name);

// MpqSetFileLocale(update, name, oldLocale, newLocale): moves the member
// `name` of `oldLocale` to `newLocale`. Used only to move "(listfile)" from
// the configured locale to 0; the result is not read.
typedef int(TARNEL_STDCALL* MpqSetFileLocaleFn)(MpqHandle update, const char* name,
                                                uint32_t oldLocale, uint32_t newLocale);

// MpqCloseUpdatedArchive(update, 0): writes the archive with every change and
// closes the handle. Non-zero when the archive was written; 0 when it was
// not, and the last error says why, which the plug-in shows (a move then
// deletes no source).
typedef int(TARNEL_STDCALL* MpqCloseUpdatedArchiveFn)(MpqHandle update, uint32_t reserved);

// SFMpqDestroy(): called once, when the plug-in is unloaded, before the
// library is freed; the result is not read.
typedef int(TARNEL_STDCALL* SFMpqDestroyFn)(void);

} // extern "C"

static_assert(sizeof(ListEntry) == 280, "the library writes 280-byte listing records");
static_assert(offsetof(ListEntry, compressedSize) == 8, "listing record layout");
static_assert(offsetof(ListEntry, fullSize) == 12, "listing record layout");
static_assert(offsetof(ListEntry, name) == 20, "listing record layout");

// The loaded library: its module handle and one entry point per function,
// all null until the library loader binds them.
struct ArchiveLibraryRecord {
    void* module;
    SFileOpenArchiveFn SFileOpenArchive;
    SFileCloseArchiveFn SFileCloseArchive;
    SFileOpenFileExFn SFileOpenFileEx;
    SFileCloseFileFn SFileCloseFile;
    SFileGetFileSizeFn SFileGetFileSize;
    SFileReadFileFn SFileReadFile;
    SFileSetLocaleFn SFileSetLocale;
    SFileGetFileInfoFn SFileGetFileInfo;
    SFileListFilesFn SFileListFiles;
    MpqOpenArchiveForUpdateFn MpqOpenArchiveForUpdate;
    MpqCloseUpdatedArchiveFn MpqCloseUpdatedArchive;
    MpqAddWaveToArchiveFn MpqAddWaveToArchive;
    MpqDeleteFileFn MpqDeleteFile;
    MpqAddFileToArchiveExFn MpqAddFileToArchiveEx;
    MpqSetFileLocaleFn MpqSetFileLocale;
    SFMpqDestroyFn SFMpqDestroy;
};

// The one process-wide record; only the library loader sets or clears it.
extern ArchiveLibraryRecord ArchiveLibrary;

// True when every entry point that listing and extraction call is bound.
bool ArchiveLibraryCanRead(void);

// True when every entry point that packing and deleting call is bound.
bool ArchiveLibraryCanUpdate(void);

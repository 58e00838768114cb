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

typedef uint32_t(TARNEL_STDCALL* SFileSetLocaleFn)(uint32_t locale);
typedef int(TARNEL_STDCALL* SFileOpenArchiveFn)(const char* path, uint32_t priority, uint32_t flags,
                                                MpqHandle* archive);
typedef uint32_t(TARNEL_STDCALL* SFileGetFileInfoFn)(MpqHandle handle, uint32_t infoCode);
typedef int(TARNEL_STDCALL* SFileListFilesFn)(MpqHandle archive, const char* list,
                                              ListEntry* entries, uint32_t listFlag);
typedef int(TARNEL_STDCALL* SFileOpenFileExFn)(MpqHandle archive, const char* name, uint32_t scope,
                                               MpqHandle* member);
typedef uint32_t(TARNEL_STDCALL* SFileGetFileSizeFn)(MpqHandle member, uint32_t* high);
typedef int(TARNEL_STDCALL* SFileReadFileFn)(MpqHandle member, void* buffer, uint32_t count,
                                             uint32_t* read, void* overlapped);
typedef int(TARNEL_STDCALL* SFileCloseFileFn)(MpqHandle member);
typedef int(TARNEL_STDCALL* SFileCloseArchiveFn)(MpqHandle archive);
typedef MpqHandle(TARNEL_STDCALL* MpqOpenArchiveForUpdateFn)(const char* path, uint32_t flags,
                                                             uint32_t maxFiles);
typedef int(TARNEL_STDCALL* MpqAddFileToArchiveExFn)(MpqHandle update, const char* source,
                                                     const char* name, uint32_t flags,
                                                     uint32_t compression, uint32_t level);
typedef int(TARNEL_STDCALL* MpqAddWaveToArchiveFn)(MpqHandle update, const char* source,
                                                   const char* name, uint32_t flags,
                                                   uint32_t quality);
typedef int(TARNEL_STDCALL* MpqDeleteFileFn)(MpqHandle update, const char* name);
typedef int(TARNEL_STDCALL* MpqSetFileLocaleFn)(MpqHandle update, const char* name,
                                                uint32_t oldLocale, uint32_t newLocale);
typedef int(TARNEL_STDCALL* MpqCloseUpdatedArchiveFn)(MpqHandle update, uint32_t reserved);
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

// The host's side of the packer plug-in interface: its records, result codes,
// the progress callback and the exported entry points.
//
// Hosts may pass records shorter than these structs' sizeof (some declare them
// packed or older): the plug-in reads and writes only the fields named here,
// and never clears or copies a whole host record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/calling_convention.h"

// Result codes returned by entry points or stored in the open request.
enum HostResult : int {
    kResultOk = 0,
    kResultEndArchive = 10,   // no more members
    kResultNoMemory = 11,     // out of memory
    kResultBadData = 12,      // reading or writing member data failed
    kResultBadArchive = 13,   // opening or updating the archive failed
    kResultEOpen = 15,        // cannot open an existing file
    kResultECreate = 16,      // cannot create a file
    kResultEClose = 17,       // cannot close a file
    kResultERead = 18,        // cannot read from a file
    kResultEWrite = 19,       // cannot write to a file
    kResultSmallBuffer = 20,  // buffer too small
    kResultAborted = 21,      // stopped by the user
    kResultNoFiles = 22,      // no files found
    kResultTooManyFiles = 23, // too many files to pack
    kResultNotSupported = 24, // operation not supported
};

// Operations of ProcessFile.
enum : int { kOpSkip = 0, kOpTest = 1, kOpExtract = 2 };

// Open modes of OpenArchive.
enum : int { kOpenList = 0, kOpenExtract = 1 };

// The flag of PackFiles that asks for the sources to be deleted (move).
enum : int { kPackMoveFiles = 1 };

// Capabilities returned by GetPackerCaps.
enum : int {
    kCapsNew = 1,        // can create new archives
    kCapsModify = 2,     // can modify existing archives
    kCapsMultiple = 4,   // an archive holds several files
    kCapsDelete = 8,     // can delete members
    kCapsOptions = 16,   // has an options dialog
    kCapsByContent = 64, // archives are recognised by their content
};

extern "C" {

// The request passed to OpenArchive. Only these three fields are touched.
struct OpenRequest {
    const char* archivePath; // only read
    int32_t openMode;        // 0 list, 1 extract; only read
    int32_t openResult;      // written only when the open fails
};

// The header filled by ReadHeader. Only fileName, packSize, unpackSize and
// fileTime are written; the other fields are named to fix the layout.
struct EntryHeader {
    char archiveName[260];
    char fileName[260];
    int32_t flags;
    uint32_t packSize;
    uint32_t unpackSize;
    int32_t hostOS;
    uint32_t fileCRC;
    uint32_t fileTime;
};

// The record passed to PackSetDefaultParams; only the settings path is read.
struct HostDefaults {
    int32_t size;
    uint32_t versionLow;
    uint32_t versionHigh;
    char settingsPath[260];
};

// The host's progress callback: the name concerned and a byte count; returns
// non-zero to go on, 0 to stop.
typedef int(TARNEL_STDCALL* ProgressCallback)(char* name, int size);
// The host's volume-change callback; accepted and ignored.
typedef int(TARNEL_STDCALL* ChangeVolumeCallback)(char* archiveName, int mode);

// The exported entry points. The handle is an OpenedArchive.
TARNEL_EXPORT void* TARNEL_STDCALL OpenArchive(OpenRequest* request);
TARNEL_EXPORT int TARNEL_STDCALL ReadHeader(void* handle, EntryHeader* header);
TARNEL_EXPORT int TARNEL_STDCALL ProcessFile(void* handle, int operation, char* destPath,
                                             char* destName);
TARNEL_EXPORT int TARNEL_STDCALL CloseArchive(void* handle);
TARNEL_EXPORT int TARNEL_STDCALL GetPackerCaps(void);
TARNEL_EXPORT void TARNEL_STDCALL SetProcessDataProc(void* handle, ProgressCallback callback);
TARNEL_EXPORT void TARNEL_STDCALL SetChangeVolProc(void* handle, ChangeVolumeCallback callback);
TARNEL_EXPORT int TARNEL_STDCALL PackFiles(char* packedFile, char* subPath, char* srcPath,
                                           char* addList, int flags);
TARNEL_EXPORT int TARNEL_STDCALL DeleteFiles(char* packedFile, char* deleteList);
TARNEL_EXPORT void TARNEL_STDCALL PackSetDefaultParams(HostDefaults* defaults);
TARNEL_EXPORT int TARNEL_STDCALL ConfigurePacker(void* parent, void* instance);

} // extern "C"

// The layout the hosts use: the 32-bit Windows offsets, with the open
// request's fields after a pointer of the platform's size.
static_assert(offsetof(OpenRequest, archivePath) == 0, "host record layout");
static_assert(offsetof(OpenRequest, openMode) == sizeof(void*), "host record layout");
static_assert(offsetof(OpenRequest, openResult) == sizeof(void*) + 4, "host record layout");
static_assert(offsetof(EntryHeader, fileName) == 260, "host record layout");
static_assert(offsetof(EntryHeader, packSize) == 524, "host record layout");
static_assert(offsetof(EntryHeader, unpackSize) == 528, "host record layout");
static_assert(offsetof(EntryHeader, fileTime) == 540, "host record layout");
static_assert(offsetof(HostDefaults, settingsPath) == 12, "host record layout");

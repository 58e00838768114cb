// The engine behind the stand-in: Debian's StormLib, reached through a table
// of its entry points that is filled at run time.
//
// StormLib calls its own public functions (SFileOpenFileEx, SFileCloseFile,
// ...) through the dynamic linker, and eight of those carry the same names as
// the functions this library exports with other types. Were StormLib a
// link-time dependency of SFMpq.dll, it would find our exports first and call
// them. So it is loaded with dlopen, in a scope of its own where its calls
// bind to itself, and called only through this table.
//
// Include this header after every header that names the archive library's
// entry points (archive_library/archive_library.h): at its end the StormLib
// names that clash with ours are poisoned, so no code can call StormLib's
// functions directly, or ours by mistake.
#pragma once

#include <StormLib.h>

namespace sfmpq {

struct StormApi {
    decltype(&::SFileSetLocale) SetLocale;
    decltype(&::SFileOpenArchive) OpenArchive;
    decltype(&::SFileCreateArchive2) CreateArchive2;
    decltype(&::SFileFlushArchive) FlushArchive;
    decltype(&::SFileCompactArchive) CompactArchive;
    decltype(&::SFileCloseArchive) CloseArchive;
    decltype(&::SFileGetFileInfo) GetFileInfo;
    decltype(&::SFileEnumLocales) EnumLocales;
    decltype(&::SFileOpenFileEx) OpenFileEx;
    decltype(&::SFileGetFileSize) GetFileSize;
    decltype(&::SFileReadFile) ReadFile;
    decltype(&::SFileCloseFile) CloseFile;
    decltype(&::SFileAddFileEx) AddFileEx;
    decltype(&::SFileRemoveFile) RemoveFile;
    decltype(&::SFileSetFileLocale) SetFileLocale;
    decltype(&::GetLastError) LastError;
    decltype(&::SetLastError) SetLastError;
};

// The engine, loaded on first use. Null when it cannot be loaded or lacks an
// entry point; errno then says why.
const StormApi* Storm();

// Unloads the engine; the next Storm() loads it again.
void UnloadStorm();

// The engine's last error as an errno value: its own codes for a file that is
// not an archive or is damaged become ENOEXEC, its "access denied" EACCES.
int StormErrno();

} // namespace sfmpq

// From here on the clashing names cannot be used.
#pragma GCC poison SFileSetLocale SFileOpenArchive SFileGetFileInfo SFileOpenFileEx
#pragma GCC poison SFileGetFileSize SFileReadFile SFileCloseFile SFileCloseArchive

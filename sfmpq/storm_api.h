// The engine's StormLib, reached through one table of its entry points.
//
// Only the engine process links StormLib; SFMpq.dll itself never loads it.
// The table keeps every call into StormLib in one place that a reader can
// search for, and lets the library's own code stay free of StormLib's
// global names.
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
    decltype(&::SFileSetAddFileCallback) SetAddFileCallback;
    decltype(&::SFileSetCompactCallback) SetCompactCallback;
    decltype(&::SFileSetMaxFileCount) SetMaxFileCount;
    decltype(&::SFileGetAttributes) GetAttributes;
    decltype(&::SFileSetAttributes) SetAttributes;
    decltype(&::SFileVerifyFile) VerifyFile;
    decltype(&::SFileUpdateFileAttributes) UpdateFileAttributes;
    decltype(&::GetLastError) LastError;
    decltype(&::SetLastError) SetLastError;
};

// The engine's entry points; never null.
const StormApi* Storm();

// The engine's last error as an errno value: its own codes for a file that is
// not an archive or is damaged become ENOEXEC, a checksum that does not
// match EBADMSG, its "access denied" EACCES.
int StormErrno();

} // namespace sfmpq

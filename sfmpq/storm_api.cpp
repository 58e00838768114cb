#include "sfmpq/storm_api.h"

#include <cerrno>

namespace sfmpq {

namespace {

const StormApi api = {
    ::SFileSetLocale,
    ::SFileOpenArchive,
    ::SFileCreateArchive2,
    ::SFileFlushArchive,
    ::SFileCompactArchive,
    ::SFileCloseArchive,
    ::SFileGetFileInfo,
    ::SFileEnumLocales,
    ::SFileOpenFileEx,
    ::SFileGetFileSize,
    ::SFileReadFile,
    ::SFileCloseFile,
    ::SFileAddFileEx,
    ::SFileRemoveFile,
    ::SFileSetFileLocale,
    ::SFileSetAddFileCallback,
    ::SFileSetCompactCallback,
    ::SFileSetMaxFileCount,
    ::SFileGetAttributes,
    ::SFileSetAttributes,
    ::SFileVerifyFile,
    ::SFileUpdateFileAttributes,
    ::GetLastError,
    ::SetLastError,
};

} // namespace

const StormApi* Storm() {
    return &api;
}

int StormErrno() {
    DWORD code = api.LastError();
    switch (code) {
    case ERROR_SUCCESS:
    case ERROR_HANDLE_EOF:
    case ERROR_CAN_NOT_COMPLETE:
        return EIO;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_NO_MORE_FILES:
        return ENOENT;
    case ERROR_BAD_FORMAT:
    case ERROR_FILE_CORRUPT:
    case ERROR_AVI_FILE:
        return ENOEXEC;
    case ERROR_INTERNAL_FILE:
        return EPERM;
    case ERROR_CHECKSUM_ERROR:
        return EBADMSG;
    default:
        // StormLib's other codes on Linux are errno values already; its own
        // codes above 1000 have no errno of their own.
        return code < 1000 ? static_cast<int>(code) : EIO;
    }
}

} // namespace sfmpq

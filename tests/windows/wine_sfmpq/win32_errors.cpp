#include "win32_errors.h"

#include <windows.h>

#include <cerrno>

namespace wine_sfmpq {

uint32_t Win32ErrorOf(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR: // Windows refuses a folder opened as a file the same way
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
    case E2BIG:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENOEXEC: // not an archive, a damaged one, a pipe or a device
        return ERROR_BAD_FORMAT;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case EBUSY: // another update of the archive runs
        return ERROR_SHARING_VIOLATION;
    case ENOTSUP:
        return ERROR_NOT_SUPPORTED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EFBIG:
        return ERROR_FILE_TOO_LARGE;
    case ELIBACC: // no sfmpq-engine beside the library
        return ERROR_MOD_NOT_FOUND;
    case EBADMSG: // member data that fails its checksum
        return ERROR_CRC;
    case EIO: // the engine died or hung
        return ERROR_IO_DEVICE;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace wine_sfmpq

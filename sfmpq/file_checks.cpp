#include "sfmpq/file_checks.h"

#include "platform/system_calls.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sfmpq/archive_header.h"

namespace sfmpq {

namespace {

// 0 for a regular file; EISDIR for a folder, ENOEXEC for a pipe or device.
int TypeError(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    return S_ISREG(info.st_mode) ? 0 : ENOEXEC;
}

} // namespace

int CheckArchiveFile(const char* path) {
    if (!path || !*path) {
        return ENOENT;
    }
    int error = CheckRegularFile(path);
    return error ? error : CheckArchiveHeader(path);
}

int CheckRegularFile(const char* path) {
    if (!path || !*path) {
        return ENOENT;
    }
    // O_NONBLOCK: a pipe or device at the path must not block the open.
    int fd = SystemCalls.open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0) {
        return errno;
    }
    struct stat info;
    int error = SystemCalls.fstat(fd, &info) != 0 ? errno : TypeError(info);
    SystemCalls.close(fd);
    return error;
}

int CheckRegularFileType(const char* path, uint64_t* size) {
    if (!path || !*path) {
        return ENOENT;
    }
    struct stat info;
    if (SystemCalls.stat(path, &info) != 0) {
        return errno;
    }
    if (int error = TypeError(info)) {
        return error;
    }
    if (size) {
        *size = static_cast<uint64_t>(info.st_size);
    }
    return 0;
}

} // namespace sfmpq

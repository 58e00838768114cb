// The system calls of the POSIX code on files and folders, behind one table
// of function pointers. Production fills it with the real calls; a test
// redirects entries, to count the calls an operation makes or to fail the
// k-th one with the errno the system would give (ENOSPC, EIO, EACCES), and so
// reaches every failure path without a full disk or a broken medium.
//
// Each entry behaves exactly like the call it is named after (the same
// arguments, result and errno); the few that are not plain calls say so.
// Calling through the table costs one indirect call.
//
// The table is the one piece of platform/ that all three POSIX programs
// link: the plug-in's backend (platform/*_posix.cpp), the stand-in
// SFMpq.dll's client (sfmpq/atomic_file.cpp, file_checks.cpp,
// archive_header.cpp, library_calls.cpp) and the tarnel command's file
// layer (host/host_os_posix.cpp). Each of them has its own copy.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

struct SystemCallTable {
    // Descriptors.
    int (*open)(const char* path, int flags, mode_t mode);
    // As close(2): the descriptor is gone whatever the result.
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*pread)(int fd, void* buffer, size_t count, off_t offset);
    ssize_t (*write)(int fd, const void* data, size_t count);
    ssize_t (*pwrite)(int fd, const void* data, size_t count, off_t offset);
    ssize_t (*copy_file_range)(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t count,
                               unsigned flags);
    // ioctl(out, FICLONE, in): `out` becomes a reflink clone of `in`.
    int (*ficlone)(int out, int in);
    int (*fsync)(int fd);
    int (*fstat)(int fd, struct stat* info);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    int (*flock)(int fd, int operation);

    // Names.
    int (*stat)(const char* path, struct stat* info);
    int (*lstat)(const char* path, struct stat* info);
    int (*access)(const char* path, int mode);
    int (*faccessat)(int folder, const char* path, int mode, int flags);
    int (*chmod)(const char* path, mode_t mode);
    int (*rename)(const char* from, const char* to);
    int (*renameat2)(int fromFolder, const char* from, int toFolder, const char* to,
                     unsigned flags);
    int (*link)(const char* from, const char* to);
    int (*unlink)(const char* path);
    int (*unlinkat)(int folder, const char* path, int flags);
    int (*mkdir)(const char* path, mode_t mode);
    int (*rmdir)(const char* path);
    ssize_t (*readlink)(const char* path, char* buffer, size_t size);
    // realpath(path, nullptr): the result is the caller's to free.
    char* (*realpath)(const char* path);
    char* (*getcwd)(char* buffer, size_t size);
    int (*chdir)(const char* path);

    // Folders.
    DIR* (*opendir)(const char* path);
    // Null at the end of the folder (errno unchanged) or on failure.
    struct dirent* (*readdir)(DIR* folder);
    int (*closedir)(DIR* folder);
};

// The real calls.
extern const SystemCallTable kRealSystemCalls;

// The calls in use: the real ones unless a test has redirected some.
extern SystemCallTable SystemCalls;

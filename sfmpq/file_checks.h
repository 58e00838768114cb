// Checks of the files the library is handed, made before the engine sees them.
#pragma once

#include <cstdint>

namespace sfmpq {

// Checks that `path` names a regular file this process may read. Returns 0 or
// the errno value that says why not (ENOENT, EACCES, EISDIR; ENOEXEC for a
// pipe or device, which the engine is never given). On success `*size`, when
// given, is the file's size.
int CheckRegularFile(const char* path, uint64_t* size = nullptr);

// Checks from its status alone that `path` names a regular file, for a file
// about to be opened anyway (whose open then says EACCES itself). Returns 0
// or ENOENT, EISDIR, ENOEXEC (a pipe or device) or stat's errno.
int CheckRegularFileType(const char* path);

// CheckRegularFile, and for an archive header that it is believable
// (archive_header.h). For every archive the engine is given.
int CheckArchiveFile(const char* path);

} // namespace sfmpq

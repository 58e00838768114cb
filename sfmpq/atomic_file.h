// Atomic replacement of an archive: the engine works on a temporary copy in
// the archive's own folder, and only a successful commit renames the copy
// over the original. Until then the original is never written, so a process
// that dies or a disk that fills in the middle leaves it as it was.
//
// The temporary file is named ".<archive name>.sfmpq-<pid>-XXXXXX" beside the
// archive. One that a dead process left behind is removed by the next update
// of the same archive.
#pragma once

#include <string>
#include <sys/types.h>

namespace sfmpq {

struct AtomicFile {
    std::string target;         // the archive's path
    std::string temp;           // the copy the engine works on
    bool targetExisted = false; // false: a new archive appears at the commit
    mode_t mode = 0;            // permissions the committed file gets
    uid_t owner = 0;
    gid_t group = 0;
    int lockFd = -1; // the original, open and locked while the update runs
};

// Starts an update of `path`. An existing archive is locked against other
// updaters and copied into the temporary file; when `existing` is false, no
// file may be at `path` and the temporary file starts empty, with the
// permissions any new file gets there. Returns 0, or an errno value with
// nothing left behind: EACCES for a file without write permission (whoever
// asks), EBUSY when another update of it is running (or kept replacing it
// while it was being locked).
int BeginAtomicUpdate(const char* path, bool existing, AtomicFile* file);

// Flushes the temporary file to disk and renames it over the target, then
// flushes the folder. A new archive never replaces a file that appeared at
// its name meanwhile (another update may have created it): that fails with
// EEXIST. Returns 0, or an errno value after removing the temporary file;
// the target is then as it was.
int CommitAtomicUpdate(AtomicFile* file);

// Removes the temporary file and releases the lock; the target stays as it was.
void AbandonAtomicUpdate(AtomicFile* file);

enum class CopyMethod {
    Best,       // a reflink clone where the file system offers one, else a copy
    Reflink,    // a reflink clone only
    KernelCopy, // copy_file_range, falling back to read and write
    UserCopy,   // read and write through a buffer
};

// Copies all of `in` (from its start) to `out` (at its start) by `method`.
// Returns 0 or an errno value; *reflinked tells whether a clone was made.
int CopyFileContent(int in, int out, CopyMethod method, bool* reflinked);

} // namespace sfmpq

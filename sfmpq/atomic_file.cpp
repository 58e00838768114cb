#include "sfmpq/atomic_file.h"

#include "platform/system_calls.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sfmpq {

namespace {

// Folder and file name of a path; "." for a bare name.
void SplitPath(const std::string& path, std::string* folder, std::string* name) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        *folder = ".";
        *name = path;
    } else {
        *folder = slash == 0 ? "/" : path.substr(0, slash);
        *name = path.substr(slash + 1);
    }
}

// The start of every temporary name for the archive `name`, cut so that the
// whole name stays within the file system's name limit.
std::string TempPrefix(const std::string& name) {
    return "." + name.substr(0, 160) + ".sfmpq-";
}

// Removes temporary files of earlier updates of the same archive whose
// process is gone. A file of a live process (or of this one) is left alone.
void RemoveStaleTempFiles(const std::string& folder, const std::string& prefix) {
    DIR* dir = SystemCalls.opendir(folder.c_str());
    if (!dir) {
        return;
    }
    while (struct dirent* entry = SystemCalls.readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) {
            continue;
        }
        char* end = nullptr;
        long pid = std::strtol(name + prefix.size(), &end, 10);
        if (end == name + prefix.size() || *end != '-' || pid <= 0 || pid == getpid()) {
            continue;
        }
        if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            SystemCalls.unlinkat(dirfd(dir), name, 0);
        }
    }
    SystemCalls.closedir(dir);
}

int SyncFolder(const std::string& folder) {
    int fd = SystemCalls.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    int result = SystemCalls.fsync(fd) == 0 ? 0 : errno;
    SystemCalls.close(fd);
    // Some file systems cannot sync a folder; the rename is still done.
    return result == EINVAL ? 0 : result;
}

int UserCopy(int in, int out) {
    std::vector<char> buffer(1 << 20);
    off_t offset = 0;
    for (;;) {
        ssize_t got = SystemCalls.pread(in, buffer.data(), buffer.size(), offset);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (got == 0) {
            return 0;
        }
        ssize_t done = 0;
        while (done < got) {
            ssize_t put = SystemCalls.pwrite(out, buffer.data() + done, got - done, offset + done);
            if (put < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            if (put == 0) {
                return ENOSPC;
            }
            done += put;
        }
        offset += got;
    }
}

int KernelCopy(int in, int out) {
    loff_t inOffset = 0;
    loff_t outOffset = 0;
    for (;;) {
        ssize_t n = SystemCalls.copy_file_range(in, &inOffset, out, &outOffset, 1 << 30, 0);
        if (n > 0) {
            continue;
        }
        if (n == 0) {
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        // Not offered between these files: copy through a buffer instead,
        // from the start, over whatever was copied so far.
        if ((errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) &&
            inOffset == 0) {
            return UserCopy(in, out);
        }
        return errno;
    }
}

// Creates a new file "<base><6 random letters>" with `mode` (the process's
// umask and the folder's default permissions apply, as for any new file).
// Returns its descriptor, or -1 with errno set.
int CreateTempFile(const std::string& base, mode_t mode, std::string* path) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            return -1;
        }
        std::string name = base;
        for (unsigned char r : random) {
            name += kLetters[r % (sizeof kLetters - 1)];
        }
        int fd = SystemCalls.open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            *path = name;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Puts the finished temporary file at the name of an archive that did not
// exist when the update began; fails with EEXIST when something is there now
// (another update created it meanwhile), which is then left as it is.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (SystemCalls.renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) ==
        0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without that rename: a new link fails the same way when
    // the name is taken.
    if (SystemCalls.link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    SystemCalls.unlink(from.c_str());
    return 0;
}

void ReleaseLock(AtomicFile* file) {
    if (file->lockFd >= 0) {
        SystemCalls.close(file->lockFd); // closing the descriptor drops the lock
        file->lockFd = -1;
    }
}

// Opens the existing archive and locks it. Returns 0, EBUSY when another
// update holds the lock or the file was replaced before it was locked (then
// nothing is held), or another errno value.
int LockExisting(AtomicFile* file, struct stat* original) {
    file->lockFd = SystemCalls.open(file->target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (file->lockFd < 0) {
        return errno;
    }
    int error = 0;
    if (SystemCalls.fstat(file->lockFd, original) != 0) {
        error = errno;
    } else if (!S_ISREG(original->st_mode)) {
        error = S_ISDIR(original->st_mode) ? EISDIR : EINVAL;
    } else if ((original->st_mode & 0222) == 0) {
        // A file nobody may write is read-only for this library too, even
        // for a caller whom the system would let write it.
        error = EACCES;
    } else if (SystemCalls.access(file->target.c_str(), W_OK) != 0) {
        error = errno;
    }
    if (error != 0) {
        ReleaseLock(file);
        return error;
    }
    if (SystemCalls.flock(file->lockFd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ReleaseLock(file);
        return error;
    }
    struct stat named;
    if (SystemCalls.stat(file->target.c_str(), &named) != 0 || named.st_dev != original->st_dev ||
        named.st_ino != original->st_ino) {
        ReleaseLock(file);
        return EBUSY;
    }
    return 0;
}

} // namespace

int CopyFileContent(int in, int out, CopyMethod method, bool* reflinked) {
    *reflinked = false;
    if (method == CopyMethod::Best || method == CopyMethod::Reflink) {
        if (SystemCalls.ficlone(out, in) == 0) {
            *reflinked = true;
            return 0;
        }
        if (method == CopyMethod::Reflink) {
            return errno;
        }
    }
    if (method == CopyMethod::UserCopy) {
        return UserCopy(in, out);
    }
    return KernelCopy(in, out);
}

namespace {

// Locks the existing target and notes the permissions and owner its
// replacement is to get. The file is opened, then locked; another updater
// may have renamed its copy over the name in between, leaving the
// descriptor on the replaced file. Such a lock is dropped and the new file
// taken. 0 or an errno value, with nothing held.
int LockTarget(AtomicFile* file) {
    struct stat original;
    int error = EBUSY;
    for (int attempt = 0; attempt < 3 && error == EBUSY; ++attempt) {
        error = LockExisting(file, &original);
    }
    if (error != 0) {
        return error;
    }
    file->targetExisted = true;
    file->mode = original.st_mode & 07777;
    file->owner = original.st_uid;
    file->group = original.st_gid;
    return 0;
}

// Creates the temporary file "<base>XXXXXX", a copy of the locked target
// when there is one, else empty. 0, or an errno value with the temporary
// file removed and the lock released.
int MakeTempFile(AtomicFile* file, const std::string& base) {
    int out;
    if (file->targetExisted) {
        out = CreateTempFile(base, 0600, &file->temp);
    } else {
        // A new archive gets what any new file gets here: the permissions
        // the temporary file is created with, read back from it.
        out = CreateTempFile(base, 0666, &file->temp);
        struct stat created;
        if (out >= 0 && SystemCalls.fstat(out, &created) == 0) {
            file->mode = created.st_mode & 07777;
        } else if (out >= 0) {
            int error = errno;
            SystemCalls.close(out);
            AbandonAtomicUpdate(file);
            return error;
        }
    }
    if (out < 0) {
        int error = errno;
        file->temp.clear();
        ReleaseLock(file);
        return error;
    }
    int error = 0;
    if (file->targetExisted) {
        bool reflinked = false;
        error = CopyFileContent(file->lockFd, out, CopyMethod::Best, &reflinked);
    }
    if (SystemCalls.close(out) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        AbandonAtomicUpdate(file);
    }
    return error;
}

} // namespace

int BeginAtomicUpdate(const char* path, bool existing, AtomicFile* file) {
    *file = AtomicFile();
    file->target = path;
    // Through a symbolic link the file it names is updated, in its own
    // folder; renaming over the link would replace the link instead.
    if (existing) {
        if (char* real = SystemCalls.realpath(path)) {
            file->target = real;
            std::free(real);
        }
    }
    std::string folder;
    std::string name;
    SplitPath(file->target, &folder, &name);
    if (name.empty()) {
        return EISDIR;
    }
    std::string prefix = TempPrefix(name);
    RemoveStaleTempFiles(folder, prefix);
    if (existing) {
        if (int error = LockTarget(file)) {
            return error;
        }
    }
    return MakeTempFile(file, folder + "/" + prefix + std::to_string(getpid()) + "-");
}

int CommitAtomicUpdate(AtomicFile* file) {
    int error = 0;
    int fd = SystemCalls.open(file->temp.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
    } else {
        // The engine may have replaced the file while compacting it: the
        // permissions are set here, on the file that is about to be renamed.
        if (file->targetExisted && SystemCalls.fchown(fd, file->owner, file->group) != 0) {
            // Only a privileged caller can hand the file to another owner;
            // the file then keeps the caller's ownership.
        }
        if (SystemCalls.fchmod(fd, file->mode) != 0 || SystemCalls.fsync(fd) != 0) {
            error = errno;
        }
        SystemCalls.close(fd);
    }
    if (error == 0) {
        if (file->targetExisted) {
            error = SystemCalls.rename(file->temp.c_str(), file->target.c_str()) == 0 ? 0 : errno;
        } else {
            error = RenameNoReplace(file->temp, file->target);
        }
    }
    if (error != 0) {
        AbandonAtomicUpdate(file);
        return error;
    }
    file->temp.clear();
    std::string folder;
    std::string name;
    SplitPath(file->target, &folder, &name);
    // The new archive is in place; a folder that cannot be flushed does not
    // undo that, so it is not reported as a failure.
    SyncFolder(folder);
    ReleaseLock(file);
    return 0;
}

void AbandonAtomicUpdate(AtomicFile* file) {
    if (!file->temp.empty()) {
        SystemCalls.unlink(file->temp.c_str());
        file->temp.clear();
    }
    ReleaseLock(file);
}

} // namespace sfmpq

#include "sfmpq/atomic_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
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
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        return;
    }
    while (struct dirent* entry = readdir(dir)) {
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
            unlinkat(dirfd(dir), name, 0);
        }
    }
    closedir(dir);
}

int SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int result = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    // Some file systems cannot sync a folder; the rename is still done.
    return result == EINVAL ? 0 : result;
}

int UserCopy(int in, int out) {
    std::vector<char> buffer(1 << 20);
    off_t offset = 0;
    for (;;) {
        ssize_t got = pread(in, buffer.data(), buffer.size(), offset);
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
            ssize_t put = pwrite(out, buffer.data() + done, got - done, offset + done);
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
        ssize_t n = copy_file_range(in, &inOffset, out, &outOffset, 1 << 30, 0);
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

void ReleaseLock(AtomicFile* file) {
    if (file->lockFd >= 0) {
        close(file->lockFd); // closing the descriptor drops the lock
        file->lockFd = -1;
    }
}

} // namespace

int CopyFileContent(int in, int out, CopyMethod method, bool* reflinked) {
    *reflinked = false;
    if (method == CopyMethod::Best || method == CopyMethod::Reflink) {
        if (ioctl(out, FICLONE, in) == 0) {
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

int BeginAtomicUpdate(const char* path, bool existing, AtomicFile* file) {
    *file = AtomicFile();
    file->target = path;
    // Through a symbolic link the file it names is updated, in its own
    // folder; renaming over the link would replace the link instead.
    if (existing) {
        if (char* real = realpath(path, nullptr)) {
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

    struct stat original;
    if (existing) {
        file->lockFd = open(file->target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (file->lockFd < 0) {
            return errno;
        }
        if (fstat(file->lockFd, &original) != 0 || !S_ISREG(original.st_mode)) {
            int error = S_ISDIR(original.st_mode) ? EISDIR : EINVAL;
            ReleaseLock(file);
            return error;
        }
        // A file nobody may write is read-only for this library too, even
        // for a caller whom the system would let write it.
        if ((original.st_mode & 0222) == 0 || access(file->target.c_str(), W_OK) != 0) {
            ReleaseLock(file);
            return EACCES;
        }
        if (flock(file->lockFd, LOCK_EX | LOCK_NB) != 0) {
            int error = errno == EWOULDBLOCK ? EBUSY : errno;
            ReleaseLock(file);
            return error;
        }
        file->targetExisted = true;
        file->mode = original.st_mode & 07777;
        file->owner = original.st_uid;
        file->group = original.st_gid;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        file->mode = 0666 & ~mask;
    }

    std::string pattern = folder + "/" + prefix + std::to_string(getpid()) + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int out = mkostemp(buffer.data(), O_CLOEXEC);
    if (out < 0) {
        int error = errno;
        ReleaseLock(file);
        return error;
    }
    file->temp = buffer.data();
    int error = 0;
    if (existing) {
        bool reflinked = false;
        error = CopyFileContent(file->lockFd, out, CopyMethod::Best, &reflinked);
    }
    if (close(out) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        AbandonAtomicUpdate(file);
        return error;
    }
    return 0;
}

int CommitAtomicUpdate(AtomicFile* file) {
    int error = 0;
    int fd = open(file->temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
    } else {
        // The engine may have replaced the file while compacting it: the
        // permissions are set here, on the file that is about to be renamed.
        if (file->targetExisted && fchown(fd, file->owner, file->group) != 0) {
            // Only a privileged caller can hand the file to another owner;
            // the file then keeps the caller's ownership.
        }
        if (fchmod(fd, file->mode) != 0 || fsync(fd) != 0) {
            error = errno;
        }
        close(fd);
    }
    if (error == 0 && rename(file->temp.c_str(), file->target.c_str()) != 0) {
        error = errno;
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
        unlink(file->temp.c_str());
        file->temp.clear();
    }
    ReleaseLock(file);
}

} // namespace sfmpq

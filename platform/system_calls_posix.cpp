// The real system calls behind SystemCalls.
#include "platform/system_calls.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The calls whose declarations do not fit an entry as they are: variadic,
// or with an argument the code always gives the same way.
int OpenFile(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int CloneFile(int out, int in) {
    return ::ioctl(out, FICLONE, in);
}

char* ResolvePath(const char* path) {
    return ::realpath(path, nullptr);
}

} // namespace

// Constant-initialised, in the order of the table's fields: code that runs
// while the module loads (the library loader) already calls through it.
constexpr SystemCallTable kRealSystemCalls = {
    OpenFile,          // open
    ::close,           // close
    ::read,            // read
    ::pread,           // pread
    ::write,           // write
    ::pwrite,          // pwrite
    ::copy_file_range, // copy_file_range
    CloneFile,         // ficlone
    ::fsync,           // fsync
    ::fstat,           // fstat
    ::fchmod,          // fchmod
    ::fchown,          // fchown
    ::flock,           // flock
    ::stat,            // stat
    ::lstat,           // lstat
    ::access,          // access
    ::faccessat,       // faccessat
    ::chmod,           // chmod
    ::rename,          // rename
    ::renameat2,       // renameat2
    ::link,            // link
    ::unlink,          // unlink
    ::unlinkat,        // unlinkat
    ::mkdir,           // mkdir
    ::rmdir,           // rmdir
    ::readlink,        // readlink
    ResolvePath,       // realpath
    ::getcwd,          // getcwd
    ::chdir,           // chdir
    ::opendir,         // opendir
    ::readdir,         // readdir
    ::closedir,        // closedir
};

SystemCallTable SystemCalls = kRealSystemCalls;

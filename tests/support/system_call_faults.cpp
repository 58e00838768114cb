#include "support/system_call_faults.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/system_calls.h"

namespace {

// The state of the redirection. Calls may come from more than one thread
// (the archive library's), so it is kept under a lock.
std::mutex lock;
bool installed = false;
int armedAt = 0;
int armedError = 0;
bool armedFired = false;
bool diskFull = false; // after a short write
std::map<std::string, int> failEvery;
std::vector<SystemCallRecord> calls;

// Counts and records a call; true, with errno set, when it is to fail.
// `index` receives the record's place for Leave.
bool Enter(const char* name, size_t* index, const char* path = nullptr, const char* path2 = nullptr,
           int fd = -1, int flags = 0) {
    std::lock_guard<std::mutex> guard(lock);
    SystemCallRecord record;
    record.name = name;
    record.path = path ? path : "";
    record.path2 = path2 ? path2 : "";
    record.fd = fd;
    record.flags = flags;
    calls.push_back(record);
    *index = calls.size() - 1;
    int error = 0;
    auto every = failEvery.find(name);
    bool writing = std::strcmp(name, "write") == 0 || std::strcmp(name, "pwrite") == 0;
    if (every != failEvery.end()) {
        error = every->second;
    } else if (static_cast<int>(calls.size()) == armedAt) {
        armedFired = true;
        error = armedError;
    } else if (diskFull && writing) {
        error = ENOSPC;
    }
    if (error == kShortWrite || error == kPartialWrite) {
        // The caller makes the write short; it is not failed here.
        diskFull = error == kShortWrite;
        return false;
    }
    if (error != 0) {
        calls.back().result = -1;
        errno = error;
        return true;
    }
    return false;
}

// Notes the result of the call recorded at `index`; keeps errno.
template <typename Result> Result Leave(size_t index, Result result) {
    int saved = errno;
    std::lock_guard<std::mutex> guard(lock);
    if (index < calls.size()) {
        calls[index].result = static_cast<long>(result);
    }
    errno = saved;
    return result;
}

template <typename Pointer> Pointer* LeavePointer(size_t index, Pointer* result) {
    Leave(index, result ? 1L : 0L);
    return result;
}

const SystemCallTable& Real() {
    return kRealSystemCalls;
}

int Open(const char* path, int flags, mode_t mode) {
    size_t at;
    return Enter("open", &at, path, nullptr, -1, flags) ? -1
                                                        : Leave(at, Real().open(path, flags, mode));
}

int Close(int fd) {
    size_t at;
    if (Enter("close", &at, nullptr, nullptr, fd)) {
        // The descriptor is released even when close reports a failure.
        int saved = errno;
        Real().close(fd);
        errno = saved;
        return -1;
    }
    return Leave(at, Real().close(fd));
}

ssize_t Read(int fd, void* buffer, size_t count) {
    size_t at;
    return Enter("read", &at, nullptr, nullptr, fd) ? -1
                                                    : Leave(at, Real().read(fd, buffer, count));
}

ssize_t Pread(int fd, void* buffer, size_t count, off_t offset) {
    size_t at;
    return Enter("pread", &at, nullptr, nullptr, fd)
               ? -1
               : Leave(at, Real().pread(fd, buffer, count, offset));
}

// The bytes the armed short write stores of `count`: half, and at least one.
size_t ShortCount(size_t count) {
    std::lock_guard<std::mutex> guard(lock);
    bool isShort = armedFired && (armedError == kShortWrite || armedError == kPartialWrite) &&
                   static_cast<int>(calls.size()) == armedAt;
    return isShort && count > 1 ? count / 2 : count;
}

ssize_t Write(int fd, const void* data, size_t count) {
    size_t at;
    if (Enter("write", &at, nullptr, nullptr, fd)) {
        return -1;
    }
    return Leave(at, Real().write(fd, data, ShortCount(count)));
}

ssize_t Pwrite(int fd, const void* data, size_t count, off_t offset) {
    size_t at;
    if (Enter("pwrite", &at, nullptr, nullptr, fd)) {
        return -1;
    }
    return Leave(at, Real().pwrite(fd, data, ShortCount(count), offset));
}

ssize_t CopyFileRange(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t count,
                      unsigned flags) {
    size_t at;
    return Enter("copy_file_range", &at, nullptr, nullptr, out)
               ? -1
               : Leave(at, Real().copy_file_range(in, inOffset, out, outOffset, count, flags));
}

int Ficlone(int out, int in) {
    size_t at;
    return Enter("ficlone", &at, nullptr, nullptr, out) ? -1 : Leave(at, Real().ficlone(out, in));
}

int Fsync(int fd) {
    size_t at;
    return Enter("fsync", &at, nullptr, nullptr, fd) ? -1 : Leave(at, Real().fsync(fd));
}

int Fstat(int fd, struct stat* info) {
    size_t at;
    return Enter("fstat", &at, nullptr, nullptr, fd) ? -1 : Leave(at, Real().fstat(fd, info));
}

int Fchmod(int fd, mode_t mode) {
    size_t at;
    return Enter("fchmod", &at, nullptr, nullptr, fd) ? -1 : Leave(at, Real().fchmod(fd, mode));
}

int Fchown(int fd, uid_t owner, gid_t group) {
    size_t at;
    return Enter("fchown", &at, nullptr, nullptr, fd) ? -1
                                                      : Leave(at, Real().fchown(fd, owner, group));
}

int Flock(int fd, int operation) {
    size_t at;
    return Enter("flock", &at, nullptr, nullptr, fd) ? -1 : Leave(at, Real().flock(fd, operation));
}

int Stat(const char* path, struct stat* info) {
    size_t at;
    return Enter("stat", &at, path) ? -1 : Leave(at, Real().stat(path, info));
}

int Lstat(const char* path, struct stat* info) {
    size_t at;
    return Enter("lstat", &at, path) ? -1 : Leave(at, Real().lstat(path, info));
}

int Access(const char* path, int mode) {
    size_t at;
    return Enter("access", &at, path) ? -1 : Leave(at, Real().access(path, mode));
}

int Faccessat(int folder, const char* path, int mode, int flags) {
    size_t at;
    return Enter("faccessat", &at, path) ? -1
                                         : Leave(at, Real().faccessat(folder, path, mode, flags));
}

int Chmod(const char* path, mode_t mode) {
    size_t at;
    return Enter("chmod", &at, path) ? -1 : Leave(at, Real().chmod(path, mode));
}

int Rename(const char* from, const char* to) {
    size_t at;
    return Enter("rename", &at, from, to) ? -1 : Leave(at, Real().rename(from, to));
}

int Renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
    size_t at;
    return Enter("renameat2", &at, from, to)
               ? -1
               : Leave(at, Real().renameat2(fromFolder, from, toFolder, to, flags));
}

int Link(const char* from, const char* to) {
    size_t at;
    return Enter("link", &at, from, to) ? -1 : Leave(at, Real().link(from, to));
}

int Unlink(const char* path) {
    size_t at;
    return Enter("unlink", &at, path) ? -1 : Leave(at, Real().unlink(path));
}

int Unlinkat(int folder, const char* path, int flags) {
    size_t at;
    return Enter("unlinkat", &at, path) ? -1 : Leave(at, Real().unlinkat(folder, path, flags));
}

int Mkdir(const char* path, mode_t mode) {
    size_t at;
    return Enter("mkdir", &at, path) ? -1 : Leave(at, Real().mkdir(path, mode));
}

int Rmdir(const char* path) {
    size_t at;
    return Enter("rmdir", &at, path) ? -1 : Leave(at, Real().rmdir(path));
}

ssize_t Readlink(const char* path, char* buffer, size_t size) {
    size_t at;
    return Enter("readlink", &at, path) ? -1 : Leave(at, Real().readlink(path, buffer, size));
}

char* Realpath(const char* path) {
    size_t at;
    return Enter("realpath", &at, path) ? nullptr : LeavePointer(at, Real().realpath(path));
}

char* Getcwd(char* buffer, size_t size) {
    size_t at;
    return Enter("getcwd", &at) ? nullptr : LeavePointer(at, Real().getcwd(buffer, size));
}

int Chdir(const char* path) {
    size_t at;
    return Enter("chdir", &at, path) ? -1 : Leave(at, Real().chdir(path));
}

DIR* Opendir(const char* path) {
    size_t at;
    return Enter("opendir", &at, path) ? nullptr : LeavePointer(at, Real().opendir(path));
}

struct dirent* Readdir(DIR* folder) {
    size_t at;
    return Enter("readdir", &at) ? nullptr : LeavePointer(at, Real().readdir(folder));
}

int Closedir(DIR* folder) {
    size_t at;
    if (Enter("closedir", &at)) {
        int saved = errno;
        Real().closedir(folder);
        errno = saved;
        return -1;
    }
    return Leave(at, Real().closedir(folder));
}

SystemCallTable FaultingCalls() {
    SystemCallTable t = kRealSystemCalls;
    t.open = Open;
    t.close = Close;
    t.read = Read;
    t.pread = Pread;
    t.write = Write;
    t.pwrite = Pwrite;
    t.copy_file_range = CopyFileRange;
    t.ficlone = Ficlone;
    t.fsync = Fsync;
    t.fstat = Fstat;
    t.fchmod = Fchmod;
    t.fchown = Fchown;
    t.flock = Flock;
    t.stat = Stat;
    t.lstat = Lstat;
    t.access = Access;
    t.faccessat = Faccessat;
    t.chmod = Chmod;
    t.rename = Rename;
    t.renameat2 = Renameat2;
    t.link = Link;
    t.unlink = Unlink;
    t.unlinkat = Unlinkat;
    t.mkdir = Mkdir;
    t.rmdir = Rmdir;
    t.readlink = Readlink;
    t.realpath = Realpath;
    t.getcwd = Getcwd;
    t.chdir = Chdir;
    t.opendir = Opendir;
    t.readdir = Readdir;
    t.closedir = Closedir;
    return t;
}

} // namespace

SystemCallFaults::SystemCallFaults() {
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_FALSE(installed) << "one SystemCallFaults at a time";
    installed = true;
    armedAt = 0;
    armedError = 0;
    armedFired = false;
    diskFull = false;
    failEvery.clear();
    calls.clear();
    SystemCalls = FaultingCalls();
}

SystemCallFaults::~SystemCallFaults() {
    SystemCalls = kRealSystemCalls;
    std::lock_guard<std::mutex> guard(lock);
    installed = false;
    failEvery.clear();
    calls.clear();
}

void SystemCallFaults::Arm(int number, int error) {
    std::lock_guard<std::mutex> guard(lock);
    armedAt = number;
    armedError = error;
    armedFired = false;
    diskFull = false;
    failEvery.clear();
    calls.clear();
}

void SystemCallFaults::FailEvery(const std::string& name, int error) {
    std::lock_guard<std::mutex> guard(lock);
    failEvery[name] = error;
}

int SystemCallFaults::count() const {
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<int>(calls.size());
}

bool SystemCallFaults::fired() const {
    std::lock_guard<std::mutex> guard(lock);
    return armedFired;
}

std::vector<SystemCallRecord> SystemCallFaults::records() const {
    std::lock_guard<std::mutex> guard(lock);
    return calls;
}

std::vector<int> RealisticErrors(const std::string& call) {
    // Calls that store data: a full disk or quota shows in any of them.
    if (call == "write" || call == "pwrite") {
        return {ENOSPC, EIO, kShortWrite, kPartialWrite};
    }
    static const char* const kStoring[] = {"copy_file_range", "fsync", "close"};
    // Calls that make a name: the folder may be full, or not writable.
    static const char* const kNaming[] = {"open", "rename", "renameat2", "link", "mkdir"};
    // Calls that change a name or a file's attributes.
    static const char* const kChanging[] = {
        "unlink",    "unlinkat", "rmdir", "chmod",    "fchmod",  "fchown", "access",
        "faccessat", "stat",     "lstat", "realpath", "opendir", "chdir",  "readlink"};
    for (const char* name : kStoring) {
        if (call == name) {
            return {ENOSPC, EIO};
        }
    }
    for (const char* name : kNaming) {
        if (call == name) {
            return {ENOSPC, EIO, EACCES};
        }
    }
    for (const char* name : kChanging) {
        if (call == name) {
            return {EIO, EACCES};
        }
    }
    // Reading and everything else: a broken medium.
    return {EIO};
}

bool StoresData(const SweepStep& step) {
    // A write cut short is no failure: the rest is written next.
    if (!step.fired || step.error == kPartialWrite) {
        return false;
    }
    const SystemCallRecord& failed = step.records[static_cast<size_t>(step.call - 1)];
    const std::string& name = failed.name;
    if (name == "write" || name == "pwrite" || name == "copy_file_range" || name == "rename" ||
        name == "renameat2" || name == "link") {
        return true;
    }
    if (name != "fsync" && name != "close") {
        return false;
    }
    // How the descriptor was opened: the last open before the call that gave it.
    int flags = -1;
    for (int i = step.call - 2; i >= 0; --i) {
        const SystemCallRecord& earlier = step.records[static_cast<size_t>(i)];
        if (earlier.name == "open" && earlier.result == failed.fd) {
            flags = earlier.flags;
            break;
        }
    }
    if (flags < 0) {
        return false;
    }
    if (name == "fsync") {
        return (flags & O_DIRECTORY) == 0;
    }
    return (flags & O_ACCMODE) != O_RDONLY;
}

std::string Describe(const SweepStep& step, int total) {
    std::string text = "call " + std::to_string(step.call) + " of " + std::to_string(total) + ", " +
                       step.name + ": " +
                       (step.error == kShortWrite     ? "short, then a full disk"
                        : step.error == kPartialWrite ? "short"
                                                      : strerrorname_np(step.error));
    if (!step.fired) {
        text += " (not reached)";
    }
    return text;
}

int SweepSystemCallFailures(const std::function<void()>& prepare,
                            const std::function<void()>& operation,
                            const std::function<void(const SweepStep&)>& check,
                            const AlwaysFailing& always) {
    SystemCallFaults faults;
    auto arm = [&](int number, int error) {
        faults.Arm(number, error);
        for (const auto& each : always) {
            faults.FailEvery(each.first, each.second);
        }
    };
    prepare();
    arm(0, 0);
    operation();
    std::vector<SystemCallRecord> counted = faults.records();
    int total = static_cast<int>(counted.size());
    int runs = 0;
    for (int k = 1; k <= total; ++k) {
        for (int error : RealisticErrors(counted[static_cast<size_t>(k - 1)].name)) {
            SweepStep step;
            step.call = k;
            step.name = counted[static_cast<size_t>(k - 1)].name;
            step.error = error;
            faults.Arm();
            prepare();
            arm(k, error);
            operation();
            step.fired = faults.fired();
            step.records = faults.records();
            if (step.fired && step.records[static_cast<size_t>(k - 1)].name != step.name) {
                step.name = step.records[static_cast<size_t>(k - 1)].name;
            }
            SCOPED_TRACE(Describe(step, total));
            check(step);
            ++runs;
            if (::testing::Test::HasFatalFailure()) {
                return runs;
            }
        }
    }
    return runs;
}

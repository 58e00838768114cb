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

long AsResult(long value) {
    return value;
}
template <typename Pointer> long AsResult(Pointer* value) {
    return value ? 1 : 0;
}

// Notes the result of the call recorded at `index`; keeps errno.
template <typename Result> Result Leave(size_t index, Result result) {
    int saved = errno;
    std::lock_guard<std::mutex> guard(lock);
    if (index < calls.size()) {
        calls[index].result = AsResult(result);
    }
    errno = saved;
    return result;
}

const SystemCallTable& Real() {
    return kRealSystemCalls;
}

// One call through the redirection: recorded, and either failed with
// `failed` or made by `make`. `release` runs instead of `make` for a failed
// call that still gives up its descriptor, as close does.
struct Call {
    const char* name;
    const char* path = nullptr;
    const char* path2 = nullptr;
    int fd = -1;
    int flags = 0;

    template <typename Result, typename Make>
    Result Run(Result failed, Make make, void (*release)(long) = nullptr, long handle = 0) const {
        size_t at;
        if (!Enter(name, &at, path, path2, fd, flags)) {
            return Leave(at, make());
        }
        if (release) {
            int saved = errno;
            release(handle);
            errno = saved;
        }
        return failed;
    }
};

// The bytes the armed short write stores of `count`: half, and at least one.
size_t ShortCount(size_t count) {
    std::lock_guard<std::mutex> guard(lock);
    bool isShort = armedFired && (armedError == kShortWrite || armedError == kPartialWrite) &&
                   static_cast<int>(calls.size()) == armedAt;
    return isShort && count > 1 ? count / 2 : count;
}

SystemCallTable FaultingCalls() {
    SystemCallTable t = kRealSystemCalls;
    t.open = [](const char* p, int f, mode_t m) {
        return Call{"open", p, nullptr, -1, f}.Run(-1, [&] { return Real().open(p, f, m); });
    };
    t.close = [](int fd) {
        // The descriptor is released even when close reports a failure.
        auto release = [](long handle) { Real().close(static_cast<int>(handle)); };
        return Call{"close", nullptr, nullptr, fd}.Run(
            -1, [&] { return Real().close(fd); }, release, fd);
    };
    t.read = [](int fd, void* b, size_t n) {
        return Call{"read", nullptr, nullptr, fd}.Run(ssize_t(-1),
                                                      [&] { return Real().read(fd, b, n); });
    };
    t.pread = [](int fd, void* b, size_t n, off_t o) {
        return Call{"pread", nullptr, nullptr, fd}.Run(ssize_t(-1),
                                                       [&] { return Real().pread(fd, b, n, o); });
    };
    t.write = [](int fd, const void* b, size_t n) {
        return Call{"write", nullptr, nullptr, fd}.Run(
            ssize_t(-1), [&] { return Real().write(fd, b, ShortCount(n)); });
    };
    t.pwrite = [](int fd, const void* b, size_t n, off_t o) {
        return Call{"pwrite", nullptr, nullptr, fd}.Run(
            ssize_t(-1), [&] { return Real().pwrite(fd, b, ShortCount(n), o); });
    };
    t.copy_file_range = [](int in, loff_t* io, int out, loff_t* oo, size_t n, unsigned f) {
        return Call{"copy_file_range", nullptr, nullptr, out}.Run(
            ssize_t(-1), [&] { return Real().copy_file_range(in, io, out, oo, n, f); });
    };
    t.ficlone = [](int out, int in) {
        return Call{"ficlone", nullptr, nullptr, out}.Run(-1,
                                                          [&] { return Real().ficlone(out, in); });
    };
    t.fsync = [](int fd) {
        return Call{"fsync", nullptr, nullptr, fd}.Run(-1, [&] { return Real().fsync(fd); });
    };
    t.fstat = [](int fd, struct stat* i) {
        return Call{"fstat", nullptr, nullptr, fd}.Run(-1, [&] { return Real().fstat(fd, i); });
    };
    t.fchmod = [](int fd, mode_t m) {
        return Call{"fchmod", nullptr, nullptr, fd}.Run(-1, [&] { return Real().fchmod(fd, m); });
    };
    t.fchown = [](int fd, uid_t u, gid_t g) {
        return Call{"fchown", nullptr, nullptr, fd}.Run(-1,
                                                        [&] { return Real().fchown(fd, u, g); });
    };
    t.flock = [](int fd, int o) {
        return Call{"flock", nullptr, nullptr, fd}.Run(-1, [&] { return Real().flock(fd, o); });
    };
    t.stat = [](const char* p, struct stat* i) {
        return Call{"stat", p}.Run(-1, [&] { return Real().stat(p, i); });
    };
    t.lstat = [](const char* p, struct stat* i) {
        return Call{"lstat", p}.Run(-1, [&] { return Real().lstat(p, i); });
    };
    t.access = [](const char* p, int m) {
        return Call{"access", p}.Run(-1, [&] { return Real().access(p, m); });
    };
    t.faccessat = [](int d, const char* p, int m, int f) {
        return Call{"faccessat", p}.Run(-1, [&] { return Real().faccessat(d, p, m, f); });
    };
    t.chmod = [](const char* p, mode_t m) {
        return Call{"chmod", p}.Run(-1, [&] { return Real().chmod(p, m); });
    };
    t.rename = [](const char* from, const char* to) {
        return Call{"rename", from, to}.Run(-1, [&] { return Real().rename(from, to); });
    };
    t.renameat2 = [](int fd, const char* from, int td, const char* to, unsigned f) {
        return Call{"renameat2", from, to}.Run(
            -1, [&] { return Real().renameat2(fd, from, td, to, f); });
    };
    t.link = [](const char* from, const char* to) {
        return Call{"link", from, to}.Run(-1, [&] { return Real().link(from, to); });
    };
    t.unlink = [](const char* p) {
        return Call{"unlink", p}.Run(-1, [&] { return Real().unlink(p); });
    };
    t.unlinkat = [](int d, const char* p, int f) {
        return Call{"unlinkat", p}.Run(-1, [&] { return Real().unlinkat(d, p, f); });
    };
    t.mkdir = [](const char* p, mode_t m) {
        return Call{"mkdir", p}.Run(-1, [&] { return Real().mkdir(p, m); });
    };
    t.rmdir = [](const char* p) {
        return Call{"rmdir", p}.Run(-1, [&] { return Real().rmdir(p); });
    };
    t.readlink = [](const char* p, char* b, size_t n) {
        return Call{"readlink", p}.Run(ssize_t(-1), [&] { return Real().readlink(p, b, n); });
    };
    t.realpath = [](const char* p) {
        return Call{"realpath", p}.Run(static_cast<char*>(nullptr),
                                       [&] { return Real().realpath(p); });
    };
    t.getcwd = [](char* b, size_t n) {
        return Call{"getcwd"}.Run(static_cast<char*>(nullptr), [&] { return Real().getcwd(b, n); });
    };
    t.chdir = [](const char* p) {
        return Call{"chdir", p}.Run(-1, [&] { return Real().chdir(p); });
    };
    t.opendir = [](const char* p) {
        return Call{"opendir", p}.Run(static_cast<DIR*>(nullptr),
                                      [&] { return Real().opendir(p); });
    };
    t.readdir = [](DIR* d) {
        return Call{"readdir"}.Run(static_cast<struct dirent*>(nullptr),
                                   [&] { return Real().readdir(d); });
    };
    t.closedir = [](DIR* d) {
        // Like close: the folder is released whatever the result.
        auto release = [](long handle) { Real().closedir(reinterpret_cast<DIR*>(handle)); };
        return Call{"closedir"}.Run(
            -1, [&] { return Real().closedir(d); }, release, reinterpret_cast<long>(d));
    };
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

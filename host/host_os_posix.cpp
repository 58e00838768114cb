// The command's operating-system services on Linux.
#include "host/host_os.h"
#include "platform/system_calls.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace host {

void* LoadModule(const std::string& path, std::string& error) {
    // dlopen searches the library path for names without a slash; the
    // plug-in is always named by its path.
    std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    void* module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = dlerror();
        error = reason ? reason : "unknown error";
    }
    return module;
}

void* FindSymbol(void* module, const char* name) {
    return dlsym(module, name);
}

void UnloadModule(void* module) {
    if (module) {
        dlclose(module);
    }
}

std::string ExecutablePath() {
    std::vector<char> buffer(4096);
    ssize_t n = SystemCalls.readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) {
        return "";
    }
    return std::string(buffer.data(), static_cast<size_t>(n));
}

PathKind StatPath(const std::string& path, uint64_t* size) {
    struct stat info;
    if (SystemCalls.stat(path.c_str(), &info) != 0) {
        return PathKind::Missing;
    }
    if (S_ISDIR(info.st_mode)) {
        return PathKind::Folder;
    }
    if (S_ISREG(info.st_mode)) {
        if (size) {
            *size = static_cast<uint64_t>(info.st_size);
        }
        return PathKind::File;
    }
    return PathKind::Other;
}

bool IsLink(const std::string& path) {
    struct stat info;
    return SystemCalls.lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::string PathIdentity(const std::string& path) {
    struct stat info;
    if (SystemCalls.stat(path.c_str(), &info) != 0) {
        return "";
    }
    return std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(info.st_ino));
}

bool ListFolder(const std::string& path, std::vector<std::string>& names) {
    DIR* folder = SystemCalls.opendir(path.c_str());
    if (!folder) {
        return false;
    }
    while (struct dirent* entry = SystemCalls.readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.push_back(entry->d_name);
        }
    }
    SystemCalls.closedir(folder);
    return true;
}

bool MakeFolders(const std::string& path, std::string& error) {
    // Each prefix that ends before a separator is made in turn.
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') {
            continue;
        }
        std::string prefix = path.substr(0, i);
        if (SystemCalls.mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            error = prefix + ": " + std::strerror(errno);
            return false;
        }
    }
    if (StatPath(path) != PathKind::Folder) {
        error = path + ": not a folder";
        return false;
    }
    return true;
}

std::string CurrentFolder() {
    std::vector<char> buffer(4096);
    if (!SystemCalls.getcwd(buffer.data(), buffer.size())) {
        return "";
    }
    return buffer.data();
}

std::string ResolvedPath(const std::string& path) {
    char* resolved = SystemCalls.realpath(path.c_str());
    if (!resolved) {
        return path;
    }
    std::string result = resolved;
    std::free(resolved);
    return result;
}

bool IsAbsolutePath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

std::string LastErrorText() {
    return std::strerror(errno);
}

std::string WriteDenied(const std::string& path) {
    struct stat info;
    if (SystemCalls.stat(path.c_str(), &info) != 0) {
        return std::strerror(errno);
    }
    bool folder = S_ISDIR(info.st_mode);
    // Root may write anything, but the archive library still refuses a file
    // that nobody may write: it is read-only on purpose.
    if (!folder && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return std::strerror(EACCES);
    }
    int mode = folder ? W_OK | X_OK : W_OK;
    if (SystemCalls.faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) != 0) {
        return std::strerror(errno);
    }
    return "";
}

void ClearSystemError() {
    errno = 0;
}

SystemError TakeSystemError() {
    int code = errno;
    SystemError error;
    switch (code) {
    case 0:
        return error;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        error.kind = SystemError::NoSpace;
        break;
    case EROFS:
        error.kind = SystemError::ReadOnly;
        break;
    case EACCES:
    case EPERM:
        error.kind = SystemError::Denied;
        break;
    case ENOEXEC:
        error.kind = SystemError::BadFormat;
        break;
    default:
        error.kind = SystemError::Other;
        break;
    }
    error.text = std::strerror(code);
    return error;
}

namespace {

// The command's own copy of standard error, and where the plug-in's
// messages are held meanwhile.
std::FILE* messages = nullptr;
std::FILE* held = nullptr;
// The descriptor the signal handler writes to.
volatile sig_atomic_t messageDescriptor = STDERR_FILENO;

} // namespace

std::FILE* MessageStream() {
    if (!messages) {
        int copy = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        messages = copy >= 0 ? fdopen(copy, "w") : nullptr;
        if (messages) {
            setvbuf(messages, nullptr, _IOLBF, 0);
            messageDescriptor = copy;
        } else {
            if (copy >= 0) {
                close(copy);
            }
            // Standard error was closed, or no copy could be made: nothing
            // can be held apart from the command's own messages.
            messages = stderr;
        }
    }
    return messages;
}

void HoldPluginMessages() {
    if (MessageStream() == stderr || held) {
        return;
    }
    std::fflush(stderr);
    held = std::tmpfile();
    if (held && dup2(fileno(held), STDERR_FILENO) < 0) {
        std::fclose(held);
        held = nullptr;
    }
}

std::string ReleasePluginMessages() {
    if (!held) {
        return "";
    }
    std::fflush(stderr);
    dup2(fileno(messages), STDERR_FILENO);
    std::string text;
    std::rewind(held);
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, held)) > 0) {
        text.append(buffer, got);
    }
    std::fclose(held);
    held = nullptr;
    return text;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string DefaultSettingsPath() {
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
    std::string config = Environment("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') {
        std::string home = Environment("HOME");
        if (home.empty()) {
            return "";
        }
        config = home + "/.config";
    }
    return config + "/tarnel/tarnel.ini";
}

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

int TerminalColumns() {
    struct winsize size;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

double MonotonicSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

namespace {

volatile sig_atomic_t interrupted = 0;
// A SIGPIPE came; whether it was the command's own output that closed is
// found out outside the handler.
volatile sig_atomic_t pipeSignalled = 0;
bool outputClosed = false;

// The handler's word to the stop watcher (EndChildrenWhenStuck).
int stopPipe[2] = {-1, -1};

// How long an operation has after a stop request to end on its own before
// the processes it waits for are ended.
constexpr int kStopGraceMs = 500;

// Ends every child process of this one. The only children are the archive
// library's engines; a call stuck in one of them then fails at once.
void EndChildren() {
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) {
        return;
    }
    while (struct dirent* task = readdir(tasks)) {
        if (task->d_name[0] == '.') {
            continue;
        }
        std::string path = std::string("/proc/self/task/") + task->d_name + "/children";
        std::FILE* children = std::fopen(path.c_str(), "r");
        if (!children) {
            continue;
        }
        long pid = 0;
        while (std::fscanf(children, "%ld", &pid) == 1) {
            if (pid > 0) {
                kill(static_cast<pid_t>(pid), SIGKILL);
            }
        }
        std::fclose(children);
    }
    closedir(tasks);
}

// Waits for the first stop request; when the operation has not ended within
// the grace time, it was stuck inside the library, and its engines go.
void EndChildrenWhenStuck() {
    char byte;
    while (read(stopPipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
    struct timespec grace = {0, kStopGraceMs * 1000000L};
    while (nanosleep(&grace, &grace) != 0 && errno == EINTR) {
    }
    EndChildren();
}

// The signals that ask the command to stop: Ctrl+C, Ctrl+\, a plain kill
// and the terminal going away. Each ends the operation the same clean way.
const int kStopSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
constexpr size_t kStopSignalCount = sizeof kStopSignals / sizeof kStopSignals[0];

// Which of them OnStopSignal handles (not those the command was started
// with ignored).
volatile sig_atomic_t caught[kStopSignalCount];

void OnStopSignal(int) {
    interrupted = 1;
    // The next stop signal ends the process at once, so that an operation
    // stuck inside the library can still be ended.
    for (size_t i = 0; i < kStopSignalCount; ++i) {
        if (caught[i]) {
            signal(kStopSignals[i], SIG_DFL);
        }
    }
    const char text[] = "\ntarnel: stopping...\n";
    ssize_t ignored = write(messageDescriptor, text, sizeof text - 1);
    if (stopPipe[1] >= 0) {
        ignored = write(stopPipe[1], "!", 1);
    }
    (void)ignored;
}

// The reader of a pipe went away. Each later write to it signals again, so
// this never arms the end at once, and writes nothing: the message could go
// to the same closed pipe.
void OnClosedOutput(int) {
    pipeSignalled = 1;
}

} // namespace

void CatchInterrupts() {
    if (stopPipe[0] < 0 && pipe2(stopPipe, O_CLOEXEC) == 0) {
        // The watcher never takes a stop signal: were two to arrive at once
        // and go to different threads, each handler would take its own for
        // the first, and the second would not end the process.
        sigset_t stops;
        sigset_t before;
        sigemptyset(&stops);
        for (int number : kStopSignals) {
            sigaddset(&stops, number);
        }
        pthread_sigmask(SIG_BLOCK, &stops, &before);
        std::thread(EndChildrenWhenStuck).detach();
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    // The others wait while the handler runs, and then find the default in
    // place: two signals at once end the process like two in a row.
    sigemptyset(&action.sa_mask);
    for (int number : kStopSignals) {
        sigaddset(&action.sa_mask, number);
    }
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kStopSignalCount; ++i) {
        // A signal the command was started with ignored (nohup, a background
        // job) stays ignored.
        struct sigaction previous;
        if (sigaction(kStopSignals[i], nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
            continue;
        }
        caught[i] = 1;
        sigaction(kStopSignals[i], &action, nullptr);
    }
    // Otherwise `tarnel add ... | head` would be killed in the middle of
    // the update once head has read enough.
    struct sigaction previous;
    if (sigaction(SIGPIPE, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
        struct sigaction closed;
        std::memset(&closed, 0, sizeof closed);
        closed.sa_handler = OnClosedOutput;
        sigemptyset(&closed.sa_mask);
        closed.sa_flags = SA_RESTART;
        sigaction(SIGPIPE, &closed, nullptr);
    }
}

bool InterruptRequested() {
    return interrupted != 0 || OutputClosed();
}

bool OutputClosed() {
    // Only a closed standard output or error stops the command: a pipe the
    // archive library keeps for its own work may signal too, and its
    // failure is the library's to report.
    if (!outputClosed && pipeSignalled) {
        pipeSignalled = 0;
        for (int descriptor : {STDOUT_FILENO, static_cast<int>(messageDescriptor)}) {
            struct pollfd output = {descriptor, POLLOUT, 0};
            if (poll(&output, 1, 0) == 1 && (output.revents & (POLLERR | POLLHUP))) {
                outputClosed = true;
            }
        }
    }
    return outputClosed;
}

} // namespace host

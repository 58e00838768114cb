#include "platform/child_process_posix.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Signals a host may ignore (or block) that a helper program must not
// inherit ignored: an ignored disposition survives exec.
const int kResetSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1,
                             SIGUSR2, SIGCHLD, SIGTSTP, SIGTTIN, SIGTTOU, SIGWINCH};

bool IsExecutableFile(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode) && access(path, X_OK) == 0;
}

// Reads `fd` to its end into `output` (bounded), dropping what does not fit.
void ReadAll(int fd, char* output, size_t outputSize) {
    size_t length = 0;
    char chunk[512];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        size_t room = outputSize - 1 - length;
        size_t take = static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room;
        std::memcpy(output + length, chunk, take);
        length += take;
    }
    output[length] = '\0';
}

int WaitFor(pid_t pid) {
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, 0);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno == EINTR) {
            continue;
        }
        return kProgramStatusUnknown; // reaped by the host
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

bool FindProgramOnPath(const char* name, char* path, size_t size) {
    const char* folders = std::getenv("PATH");
    if (!folders || !*folders || !*name || std::strchr(name, '/')) {
        return false;
    }
    size_t nameLength = std::strlen(name);
    for (const char* folder = folders;;) {
        const char* end = std::strchr(folder, ':');
        size_t folderLength = end ? static_cast<size_t>(end - folder) : std::strlen(folder);
        // Only absolute folders: an empty or relative entry of PATH would
        // look in whatever the host's current directory happens to be.
        if (folderLength > 0 && folder[0] == '/' && folderLength + 1 + nameLength < size) {
            std::memcpy(path, folder, folderLength);
            path[folderLength] = '/';
            std::memcpy(path + folderLength + 1, name, nameLength + 1);
            if (IsExecutableFile(path)) {
                return true;
            }
        }
        if (!end) {
            break;
        }
        folder = end + 1;
    }
    if (size > 0) {
        path[0] = '\0';
    }
    return false;
}

int RunProgram(const char* const* argv, char* output, size_t outputSize) {
    if (output && outputSize == 0) {
        output = nullptr;
    }
    if (output) {
        output[0] = '\0';
    }
    int pipeEnds[2] = {-1, -1};
    if (output && pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return -1;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (output) {
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors the host opened without close-on-exec stay the host's.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    sigset_t mask;
    sigemptyset(&mask);
    posix_spawnattr_setsigmask(&attributes, &mask);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : kResetSignals) {
        sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    int failed =
        posix_spawn(&pid, argv[0], &actions, &attributes, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (output) {
        close(pipeEnds[1]);
        if (!failed) {
            ReadAll(pipeEnds[0], output, outputSize);
        }
        close(pipeEnds[0]);
    }
    return failed ? -1 : WaitFor(pid);
}

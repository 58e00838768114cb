#include "sfmpq/engine_client.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace sfmpq {

namespace {

using Clock = std::chrono::steady_clock;

// How long an engine may go without any sign of progress before it counts as
// hung. One sign is due per unit of work: a piece of member data unpacked
// (at most 1 MiB, which takes StormLib milliseconds), a sector added, a
// member compacted, a name looked up while listing. 30 seconds is two to
// three orders of magnitude above the slowest of these on a slow disk, and
// short enough that a hung file manager operation ends on its own.
// SFMPQ_ENGINE_DEADLINE_MS shortens it for tests.
int DeadlineMs() {
    static const int deadline = [] {
        const char* text = std::getenv("SFMPQ_ENGINE_DEADLINE_MS");
        long value = text ? std::strtol(text, nullptr, 10) : 0;
        return value > 0 && value < 3600000 ? static_cast<int>(value) : 30000;
    }();
    return deadline;
}

// sfmpq-engine beside this library.
const std::string& EnginePath() {
    static const std::string path = [] {
        Dl_info self;
        std::string folder = ".";
        if (dladdr(reinterpret_cast<void*>(&StartEngine), &self) && self.dli_fname) {
            std::string file = self.dli_fname;
            size_t slash = file.rfind('/');
            if (slash != std::string::npos) {
                folder = file.substr(0, slash == 0 ? 1 : slash);
            }
        }
        return folder + "/sfmpq-engine";
    }();
    return path;
}

// A descriptor moved above the engine's fixed ones, so that no dup2 in the
// child overwrites another of them.
int High(int fd) {
    if (fd < 0 || fd > engine::kSpaceReadyFd) {
        return fd;
    }
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, engine::kSpaceReadyFd + 1);
    close(fd);
    return moved;
}

// The host's environment for the engine (its test switches are read there),
// with the engine's allocator told to keep its memory in its own heap:
// StormLib allocates and frees its tables and buffers in large pieces,
// which the allocator would otherwise map afresh each time and give back
// when freed, every 4 KiB of them then costing a fault when first written.
// (Large pages for the heap as well made large updates slower.) `tunables`
// keeps the text the result points to.
std::vector<char*> EngineEnvironment(std::string* tunables) {
    static const char kName[] = "GLIBC_TUNABLES=";
    *tunables = kName;
    std::vector<char*> environment;
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, kName, sizeof kName - 1) == 0) {
            *tunables += *variable + sizeof kName - 1; // the host's, before the engine's own
            *tunables += ':';
        } else {
            environment.push_back(*variable);
        }
    }
    *tunables += "glibc.malloc.mmap_threshold=67108864:glibc.malloc.trim_threshold=134217728";
    environment.push_back(tunables->data());
    environment.push_back(nullptr);
    return environment;
}

int Spawn(EngineKind kind, EngineConnection* engine, int engineSocket) {
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&files);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&files, engineSocket, engine::kSocketFd);
    posix_spawn_file_actions_adddup2(&files, engine->dataReady, engine::kDataReadyFd);
    posix_spawn_file_actions_adddup2(&files, engine->spaceReady, engine::kSpaceReadyFd);
    // Nothing else of the host's reaches the engine.
    posix_spawn_file_actions_addclosefrom_np(&files, engine::kSpaceReadyFd + 1);
    // Default signal dispositions and no blocked signals, whatever the host
    // set; a process group of its own, so that the terminal's Ctrl+C goes to
    // the host, which decides what a stop means.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETPGROUP);
    std::string channel = std::to_string(engine->area.channel.id);
    char* argv[] = {const_cast<char*>(EnginePath().c_str()),
                    const_cast<char*>(kind == EngineKind::Updater ? "updater" : "reader"),
                    const_cast<char*>(channel.c_str()), nullptr};
    std::string tunables;
    std::vector<char*> environment = EngineEnvironment(&tunables);
    int error = posix_spawn(&engine->pid, EnginePath().c_str(), &files, &attributes, argv,
                            environment.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (error) {
        engine->pid = -1;
    }
    return error;
}

// The engine is gone or must go: every later call fails with EIO.
// With SFMPQ_ENGINE_LOG naming a file, one line there for each engine that
// ended in the middle of its work: how it ended. For counting what fuzzing
// and damaged archives do to engines; nothing else reads it.
void LogEngineEnd(int status, bool alive) {
    const char* path = std::getenv("SFMPQ_ENGINE_LOG");
    if (!path || !*path) {
        return;
    }
    char line[64];
    if (alive) {
        std::snprintf(line, sizeof line, "ended: no progress\n");
    } else if (WIFSIGNALED(status)) {
        std::snprintf(line, sizeof line, "died: signal %d\n", WTERMSIG(status));
    } else {
        std::snprintf(line, sizeof line, "died: exit %d\n", WEXITSTATUS(status));
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t ignored = write(fd, line, std::strlen(line));
        (void)ignored;
        close(fd);
    }
}

int Fail(EngineConnection* engine) {
    if (!engine->failure) {
        engine->failure = EIO;
        if (engine->pid > 0) {
            // An engine that hung up is ending by itself: how it ended is
            // known once it has (a moment at most); a hung one is ended.
            int status = 0;
            bool ended = false;
            for (int tries = 0; !engine->hung && !ended && tries < 50; ++tries) {
                ended = waitpid(engine->pid, &status, WNOHANG) == engine->pid;
                if (!ended) {
                    usleep(2000);
                }
            }
            if (!ended) {
                kill(engine->pid, SIGKILL);
                while (waitpid(engine->pid, nullptr, 0) < 0 && errno == EINTR) {
                }
            }
            LogEngineEnd(status, !ended);
            engine->pid = -1;
        }
    }
    errno = EIO;
    return 0;
}

// How long one wait lasts before the engine's progress is looked at.
int SliceMs() {
    const int deadline = DeadlineMs();
    return deadline < 1000 ? deadline : 1000;
}

// An engine's signs of progress while a caller waits for it.
class ProgressWatch {
  public:
    explicit ProgressWatch(EngineConnection* engine)
        : engine_(engine), progress_(Progress()), lastChange_(Clock::now()) {}

    // Called after each slice of waiting. False, with the engine marked hung,
    // once it has shown no progress for the whole deadline.
    bool Patient() {
        uint64_t now = Progress();
        if (now != progress_) {
            progress_ = now;
            lastChange_ = Clock::now();
        } else if (Clock::now() - lastChange_ >= std::chrono::milliseconds(DeadlineMs())) {
            engine_->hung = true;
            return false;
        }
        return true;
    }

  private:
    uint64_t Progress() const {
        return engine_->area.control()->progress.load(std::memory_order_relaxed);
    }

    EngineConnection* engine_;
    uint64_t progress_;
    Clock::time_point lastChange_;
};

// Waits until `fd` is readable. False when the engine hung up or made no
// progress within the deadline (it is then ended).
bool WaitReadable(EngineConnection* engine, int fd) {
    ProgressWatch watch(engine);
    for (;;) {
        // The socket only tells whether the engine hung up.
        struct pollfd wait[2] = {{fd, POLLIN, 0}, {engine->socket, 0, 0}};
        int ready = poll(wait, 2, SliceMs());
        if (ready > 0) {
            if (wait[0].revents & POLLIN) {
                return true;
            }
            if ((wait[0].revents | wait[1].revents) & (POLLHUP | POLLERR | POLLNVAL)) {
                return false;
            }
        } else if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (!watch.Patient()) {
            return false;
        }
    }
}

// Receives the reply to a request: the socket's receive timeout is one slice,
// so a wait is one call, not a poll and a receive. False when the engine hung
// up, sent no whole reply, or made no progress within the deadline.
bool ReceiveReply(EngineConnection* engine, engine::Reply* reply) {
    ProgressWatch watch(engine);
    for (;;) {
        ssize_t got = recv(engine->socket, reply, sizeof *reply, 0);
        if (got == static_cast<ssize_t>(sizeof *reply)) {
            return true;
        }
        if (got >= 0) {
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !watch.Patient()) {
            return false;
        }
    }
}

} // namespace

engine::Request NewRequest(engine::Op op) {
    engine::Request request;
    std::memset(&request, 0, sizeof request);
    request.op = op;
    return request;
}

bool SetField(char* field, size_t size, const char* text) {
    size_t length = text ? std::strlen(text) : 0;
    if (length >= size) {
        return false;
    }
    std::memcpy(field, text ? text : "", length);
    field[length] = '\0';
    return true;
}

int StartEngine(EngineKind kind, EngineConnection* engine) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        return errno;
    }
    engine->socket = High(pair[0]);
    int engineSocket = High(pair[1]);
    int error = 0;
    // A wait for a reply lasts one slice at a time (ReceiveReply).
    const struct timeval slice = {SliceMs() / 1000, (SliceMs() % 1000) * 1000};
    if (engine->socket >= 0 &&
        setsockopt(engine->socket, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice) != 0) {
        error = errno;
    }
    if (!error) {
        error = CreateArea(&engine->area);
    }
    if (!error) {
        engine->dataReady = High(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        engine->spaceReady = High(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (engine->socket < 0 || engineSocket < 0 || engine->dataReady < 0 ||
            engine->spaceReady < 0) {
            error = EMFILE;
        }
    }
    if (!error) {
        error = Spawn(kind, engine, engineSocket);
        engine->followsCaller = kind == EngineKind::Updater;
    }
    if (engineSocket >= 0) {
        close(engineSocket);
    }
    if (error) {
        StopEngine(engine);
        // A missing or broken engine is the library's own fault.
        return error == ENOENT || error == EACCES || error == ENOEXEC ? ELIBACC : error;
    }
    return 0;
}

void StopEngine(EngineConnection* engine) {
    if (engine->pid > 0) {
        kill(engine->pid, SIGKILL);
        while (waitpid(engine->pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        engine->pid = -1;
    }
    for (int* fd : {&engine->socket, &engine->dataReady, &engine->spaceReady}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    ReleaseArea(&engine->area);
}

namespace {

// An updating engine works while its caller waits, one request at a time
// (every added file is a round trip). Across two processors each round trip
// wakes a sleeping one: 36 us here, most of it processor time in the kernel.
// On the caller's own processor it is a switch of 3 us. So the engine is put
// on the processor its caller runs on, again whenever the caller has moved.
// Readers are left free: their work-ahead runs beside the caller.
void FollowCaller(EngineConnection* engine) {
    int processor = sched_getcpu();
    if (processor < 0 || processor == engine->processor) {
        return;
    }
    // Tried once per processor; an affinity the system refuses is no fault.
    engine->processor = processor;
    cpu_set_t* set = CPU_ALLOC(processor + 1);
    if (!set) {
        return;
    }
    size_t size = CPU_ALLOC_SIZE(processor + 1);
    CPU_ZERO_S(size, set);
    CPU_SET_S(processor, size, set);
    sched_setaffinity(engine->pid, size, set);
    CPU_FREE(set);
}

// How many turns of its processor a caller gives its engine before it
// sleeps for the reply. An engine beside its caller mostly answers within
// the first; on the other processor each turn is a microsecond or two.
constexpr int kTurnsBeforeSleep = 64;

// The reply of an engine that follows its caller. Were the caller to sleep
// for it, the engine's reply would wake it on the idle processor, not on
// the busy one it shares with the engine: a cross-processor wake-up for
// every request, and the engine moved after it at the next. So the caller
// stays runnable and gives its processor to the engine, which then answers
// with nobody to wake; an engine that takes longer, or waits for its disk,
// is waited for asleep. False as for ReceiveReply.
bool TakeReplyBeside(EngineConnection* engine, engine::Reply* reply) {
    for (int turn = 0; turn < kTurnsBeforeSleep; ++turn) {
        sched_yield();
        ssize_t got = recv(engine->socket, reply, sizeof *reply, MSG_DONTWAIT);
        if (got == static_cast<ssize_t>(sizeof *reply)) {
            return true;
        }
        if (got >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return false; // hung up, or no whole reply
        }
    }
    return ReceiveReply(engine, reply);
}

} // namespace

int CallEngine(EngineConnection* engine, engine::Request* request, engine::Reply* reply) {
    return CallEngineMeanwhile(engine, request, reply, nullptr, nullptr);
}

int CallEngineMeanwhile(EngineConnection* engine, engine::Request* request, engine::Reply* reply,
                        void (*meanwhile)(void* context), void* context) {
    if (engine->failure) {
        errno = engine->failure;
        return 0;
    }
    if (engine->followsCaller) {
        FollowCaller(engine);
    }
    request->stagingId = engine->area.staging.id;
    request->stagingSize = engine->area.staging.size;
    engine->area.control()->requestPending.store(1, std::memory_order_seq_cst);
    if (send(engine->socket, request, sizeof *request, MSG_NOSIGNAL) !=
        static_cast<ssize_t>(sizeof *request)) {
        return Fail(engine);
    }
    if (meanwhile) {
        meanwhile(context);
    }
    if (!(engine->followsCaller ? TakeReplyBeside(engine, reply) : ReceiveReply(engine, reply))) {
        return Fail(engine);
    }
    if (!reply->ok) {
        errno = reply->error ? reply->error : EIO;
    }
    return reply->ok;
}

bool WaitForStream(EngineConnection* engine) {
    if (engine->failure) {
        errno = engine->failure;
        return false;
    }
    if (!WaitReadable(engine, engine->dataReady)) {
        Fail(engine);
        return false;
    }
    DrainEvent(engine->dataReady);
    return true;
}

} // namespace sfmpq

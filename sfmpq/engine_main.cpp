// sfmpq-engine: the process that does the MPQ work for one archive handle of
// SFMpq.dll. It is started by SFMpq.dll with its channel at fixed descriptors
// (engine_protocol.h), restricts itself (engine_sandbox.h), and then answers
// requests one at a time, working ahead on the members to be read between
// them. Whatever an archive makes StormLib do here - crash, hang, run out of
// memory - ends this process only.
//
//     sfmpq-engine reader|updater CHANNEL-SEGMENT
//     sfmpq-engine --probe-sandbox    tries what the restrictions forbid
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include "sfmpq/engine_protocol.h"
#include "sfmpq/engine_sandbox.h"
#include "sfmpq/engine_stream.h"
#include "sfmpq/library_state.h"
#include "sfmpq/operations.h"
#include "sfmpq/shared_area.h"

namespace sfmpq {

namespace {

using engine::Op;
using engine::Reply;
using engine::Request;

SharedArea area;

// Ends the engine when SFMpq.dll's end of the channel goes away, even while
// the main thread is stuck inside StormLib.
void WatchChannel() {
    for (;;) {
        struct pollfd channel = {engine::kSocketFd, 0, 0};
        if (poll(&channel, 1, -1) > 0 && (channel.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            _exit(0);
        }
    }
}

void WINAPI AddProgress(void*, DWORD, DWORD, bool) {
    NoteProgress();
}

void WINAPI CompactProgress(void*, DWORD, ULONGLONG, ULONGLONG) {
    NoteProgress();
}

class Server {
  public:
    Server() : stream_(&area) {}

    void Run() {
        const char* exitAt = std::getenv("SFMPQ_ENGINE_EXIT_AT");
        exitAt_ = exitAt ? std::strtoul(exitAt, nullptr, 10) : 0;
        engine::Control* control = area.control();
        for (;;) {
            if (!stream_.active() || control->requestPending.load(std::memory_order_acquire)) {
                Serve();
                continue;
            }
            if (stream_.Step()) {
                continue;
            }
            // The ring is full: sleep until the client makes room or asks.
            control->engineWaiting.store(1, std::memory_order_seq_cst);
            if (!stream_.Step() && !control->requestPending.load(std::memory_order_seq_cst)) {
                struct pollfd wake[2] = {{engine::kSocketFd, POLLIN, 0},
                                         {engine::kSpaceReadyFd, POLLIN, 0}};
                poll(wake, 2, -1);
            }
            control->engineWaiting.store(0, std::memory_order_relaxed);
            DrainEvent(engine::kSpaceReadyFd);
        }
    }

  private:
    void Serve() {
        ssize_t got = recv(engine::kSocketFd, &request_, sizeof request_, 0);
        if (got < 0 && errno == EINTR) {
            return;
        }
        if (got != static_cast<ssize_t>(sizeof request_)) {
            _exit(0); // the client is gone, or speaks another language
        }
        area.control()->requestPending.store(0, std::memory_order_relaxed);
        if (exitAt_ && ++served_ == exitAt_) {
            _exit(70);
        }
        request_.path[engine::kMaxPath - 1] = '\0';
        request_.name[engine::kMaxName - 1] = '\0';
        Reply reply = {};
        errno = 0;
        if (request_.stagingId != area.staging.id &&
            AttachSegment(&area.staging, request_.stagingId, request_.stagingSize)) {
            reply.error = ENOMEM;
        } else {
            SetLocale(request_.locale);
            reply.ok = Handle(&reply);
            reply.error = reply.ok ? 0 : (errno ? errno : EIO);
        }
        if (send(engine::kSocketFd, &reply, sizeof reply, MSG_NOSIGNAL) != sizeof reply) {
            _exit(0);
        }
    }

    int Handle(Reply* reply) {
        const Request& r = request_;
        MpqHandle member = reinterpret_cast<MpqHandle>(static_cast<uintptr_t>(r.member));
        switch (r.op) {
        case Op::Probe:
            return ProbeArchive(r.path);
        case Op::VerifyWritten:
            return VerifyWritten(r.path);
        case Op::OpenArchive:
            return archive_ ? (errno = EBUSY, 0) : OpenArchive(r.path, &archive_);
        case Op::OpenForUpdate:
            if (archive_) {
                errno = EBUSY;
                return 0;
            }
            // Creating an archive writes its header, and opening one may
            // write too: under the limit the request carries, as every
            // request that may change the archive.
            LimitFileSize(r.fileSizeLimit);
            archive_ = sfmpq::OpenForUpdate(r.path, r.exists != 0, r.flags, r.value);
            if (!archive_) {
                return 0;
            }
            Storm()->SetAddFileCallback(static_cast<Archive*>(archive_)->storm, AddProgress,
                                        nullptr);
            Storm()->SetCompactCallback(static_cast<Archive*>(archive_)->storm, CompactProgress,
                                        nullptr);
            return 1;
        case Op::GetInfo:
            reply->value = GetArchiveInfo(archive_, r.value);
            return reply->value != 0 || errno == 0;
        case Op::List:
            return List(reply);
        case Op::OpenMember: {
            MpqHandle opened = nullptr;
            int ok = OpenMember(archive_, r.name, &opened);
            reply->member = reinterpret_cast<uintptr_t>(opened);
            return ok;
        }
        case Op::MemberSize:
            reply->value = GetMemberSize(member, &reply->high);
            return reply->value != SFILE_INVALID_SIZE || reply->high != 0;
        case Op::ReadMember: {
            uint64_t count = r.value < area.staging.size ? r.value : area.staging.size;
            return ReadMember(member, area.staging.base, static_cast<uint32_t>(count),
                              &reply->value);
        }
        case Op::CloseMember:
            return CloseMember(member);
        case Op::StreamFrom: {
            Archive* archive = FindArchive(archive_);
            if (!archive || archive->update) {
                errno = EBADF;
                return 0;
            }
            stream_.RestartAt(archive, r.name);
            return 1;
        }
        case Op::AddFile:
            LimitFileSize(r.fileSizeLimit);
            return AddFile(archive_, r.path, r.name, r.flags, r.value);
        case Op::AddWave:
            LimitFileSize(r.fileSizeLimit);
            return AddWave(archive_, r.path, r.name, r.flags, r.value);
        case Op::DeleteMember:
            LimitFileSize(r.fileSizeLimit);
            return DeleteMember(archive_, r.name);
        case Op::SetMemberLocale:
            LimitFileSize(r.fileSizeLimit);
            return SetMemberLocale(archive_, r.name, r.value, r.value2);
        case Op::FinishUpdate: {
            // Only an update is finished, and ends with it; a reader's
            // archive stays open.
            if (!FindUpdateArchive(archive_)) {
                errno = EBADF;
                return 0;
            }
            LimitFileSize(r.fileSizeLimit);
            int result = sfmpq::FinishUpdate(archive_);
            archive_ = nullptr;
            reply->value = static_cast<uint32_t>(result);
            return result;
        }
        }
        errno = EINVAL;
        return 0;
    }

    // The list comes in the staging area and the records go out through it;
    // the reply's value is the bytes of records.
    int List(Reply* reply) {
        stream_.Stop();
        std::string list(reinterpret_cast<const char*>(area.staging.base),
                         request_.stagingBytes < area.staging.size ? request_.stagingBytes : 0);
        const char* text = request_.value ? list.c_str() : nullptr;
        State.guessExtensions = request_.value2 == 0;
        ListRecordWriter records(area.staging.base, area.staging.size, true);
        if (!ListMembers(archive_, text, request_.flags, &records)) {
            return 0;
        }
        reply->value = static_cast<uint32_t>(records.Used());
        return 1;
    }

    WorkAhead stream_;
    MpqHandle archive_ = nullptr;
    Request request_ = {};
    unsigned long exitAt_ = 0;
    unsigned long served_ = 0;
};

// Tries what the restrictions forbid and says what happened to each.
int ProbeSandbox() {
    if (int error = RestrictEngine(EngineKind::Reader)) {
        std::printf("restrictions not applied: %s\n", std::strerror(error));
        return 2;
    }
    bool allRefused = true;
    // Refused means: failed with the filter's EPERM, or (a write) EFBIG.
    auto report = [&](const char* what, bool failed, int error) {
        bool refused = failed && (error == EPERM || error == EFBIG);
        std::printf("%s: %s (%s)\n", what, refused ? "refused" : "ALLOWED", std::strerror(error));
        allRefused = allRefused && refused;
    };
    errno = 0;
    int s = socket(AF_INET, SOCK_STREAM, 0);
    report("network socket", s < 0, errno);
    errno = 0;
    int u = socket(AF_UNIX, SOCK_STREAM, 0);
    report("local socket", u < 0, errno);
    int pair[2];
    errno = 0;
    bool paired = socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0;
    report("local socket pair", !paired, errno);
    char* const argv[] = {const_cast<char*>("/bin/true"), nullptr};
    errno = 0;
    execv("/bin/true", argv);
    report("running a program", true, errno);
    char* const environment[] = {nullptr};
    errno = 0;
    syscall(SYS_execveat, AT_FDCWD, "/bin/true", argv, environment, 0);
    report("running a program by execveat", true, errno);
    errno = 0;
    pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    report("creating a process", child < 0, errno);
    errno = 0;
    int signalled = kill(getppid(), 0);
    report("signalling another process", signalled != 0, errno);
    char path[] = "/tmp/sfmpq-probe-XXXXXX";
    int fd = mkstemp(path);
    errno = 0;
    bool wrote = fd >= 0 && write(fd, "x", 1) == 1;
    report("writing a file", !wrote, errno);
    if (fd >= 0) {
        close(fd);
        unlink(path);
    }
    // Nobody may read the engine's memory or have a core of it.
    bool dumpable = prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0;
    std::printf("being dumped or traced: %s\n", dumpable ? "ALLOWED" : "refused");
    allRefused = allRefused && !dumpable;
    std::fflush(stdout);
    return allRefused ? 0 : 1;
}

} // namespace

void NoteProgress() {
    if (area.channel.base) {
        area.control()->progress.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace sfmpq

int main(int argc, char** argv) {
    using namespace sfmpq;
    if (argc == 2 && std::strcmp(argv[1], "--probe-sandbox") == 0) {
        // _exit: nothing may run at exit that the restrictions forbid.
        _exit(ProbeSandbox());
    }
    if (argc != 3) {
        std::fprintf(stderr, "sfmpq-engine is started by SFMpq.dll, not by hand\n");
        return 2;
    }
    EngineKind kind =
        std::strcmp(argv[1], "updater") == 0 ? EngineKind::Updater : EngineKind::Reader;
    int channel = static_cast<int>(std::strtol(argv[2], nullptr, 10));
    if (AttachSegment(&area.channel, channel, engine::kRingOffset + engine::kRingSize) != 0) {
        _exit(3);
    }
    // Freed memory stays with the engine for its next request: without this,
    // the library's buffers of each added file shrink and regrow the heap
    // several times per file, and that costs more than the adding itself.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    std::thread(WatchChannel).detach();
    if (RestrictEngine(kind) != 0) {
        _exit(4);
    }
    static Server server;
    server.Run();
    _exit(0);
}

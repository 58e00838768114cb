// Counts the requests the library sends its engines, by kind, and the
// replies that say a request failed: the test executable exports its own
// send and recv, which the library binds to, and which count around the
// system's.
#include "sfmpq_test_support.h"

#include <cstring>
#include <dlfcn.h>
#include <sys/socket.h>

#include "sfmpq/engine_protocol.h"

std::atomic<uint32_t> RequestsSent[kRequestKinds];
std::atomic<uint32_t> RepliesFailed;

extern "C" __attribute__((visibility("default"))) ssize_t send(int fd, const void* buffer,
                                                               size_t length, int flags) {
    using SendFn = ssize_t (*)(int, const void*, size_t, int);
    static SendFn system = reinterpret_cast<SendFn>(dlsym(RTLD_NEXT, "send"));
    if (length == sizeof(sfmpq::engine::Request)) {
        uint32_t kind = 0;
        std::memcpy(&kind, buffer, sizeof kind);
        if (kind < kRequestKinds) {
            ++RequestsSent[kind];
        }
    }
    return system(fd, buffer, length, flags);
}

extern "C" __attribute__((visibility("default"))) ssize_t recv(int fd, void* buffer, size_t length,
                                                               int flags) {
    using RecvFn = ssize_t (*)(int, void*, size_t, int);
    static RecvFn system = reinterpret_cast<RecvFn>(dlsym(RTLD_NEXT, "recv"));
    ssize_t got = system(fd, buffer, length, flags);
    if (length == sizeof(sfmpq::engine::Reply) && got == static_cast<ssize_t>(length)) {
        int32_t ok = 0;
        std::memcpy(&ok, buffer, sizeof ok);
        if (!ok) {
            ++RepliesFailed;
        }
    }
    return got;
}

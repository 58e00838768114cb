// Counts the requests the library sends its engines, by kind: the test
// executable exports its own send, which the library binds to, and which
// counts each request before the system's send.
#include "sfmpq_test_support.h"

#include <cstring>
#include <dlfcn.h>
#include <sys/socket.h>

#include "sfmpq/engine_protocol.h"

std::atomic<uint32_t> RequestsSent[kRequestKinds];

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

// Lets a test act between the moment the library opens an archive and the
// moment it locks it: the test executable exports its own flock, which the
// library binds to, and which runs the armed action once before the system's
// flock.
#include "sfmpq_test_support.h"

#include <dlfcn.h>

void (*BeforeNextLock)() = nullptr;

extern "C" __attribute__((visibility("default"))) int flock(int fd, int operation) {
    using FlockFn = int (*)(int, int);
    static FlockFn system = reinterpret_cast<FlockFn>(dlsym(RTLD_NEXT, "flock"));
    if (void (*action)() = BeforeNextLock) {
        BeforeNextLock = nullptr;
        action();
    }
    return system(fd, operation);
}

// SFMpq.dll loaded into the global scope (RTLD_GLOBAL) must refuse to work
// rather than let StormLib call the library's exports in place of its own
// functions. This program links nothing of StormLib, as a host would not.
#include <cerrno>
#include <cstdio>
#include <dlfcn.h>

#include "archive_library/archive_library.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
    if (!module) {
        std::printf("cannot load %s\n", argv[1]);
        return 2;
    }
    auto open = reinterpret_cast<SFileOpenArchiveFn>(dlsym(module, "SFileOpenArchive"));
    MpqHandle archive = nullptr;
    errno = 0;
    if (open(argv[2], 0, 0, &archive) || errno != ELIBBAD) {
        std::printf("opened, or failed with %d instead of ELIBBAD\n", errno);
        return 1;
    }
    std::printf("refused\n");
    return 0;
}

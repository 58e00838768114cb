// SFMpq.dll loaded into the global scope (RTLD_GLOBAL) works as well as
// loaded locally: StormLib lives in the engine process, where no export of
// ours can stand in for its functions. This program links nothing of
// StormLib, as a host would not; it opens a file that is no archive and must
// be told so.
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
    if (open(argv[2], 0, 0, &archive) || errno != ENOEXEC) {
        std::printf("opened, or failed with %d instead of ENOEXEC\n", errno);
        return 1;
    }
    std::printf("no archive, as expected\n");
    return 0;
}

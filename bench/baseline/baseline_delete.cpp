// The library alone, deleting: opens the archive for writing, removes each
// named member, compacts the archive to reclaim their space (as the stand-in
// does after a deletion) and closes it.
//
// usage: baseline_delete ARCHIVE MEMBER...
#include "baseline.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: baseline_delete ARCHIVE MEMBER...\n");
        return 2;
    }
    HANDLE archive = nullptr;
    if (!SFileOpenArchive(argv[1], 0, 0, &archive)) {
        baseline::Fail("baseline_delete", "cannot open", argv[1]);
    }
    for (int i = 2; i < argc; ++i) {
        std::string name = baseline::WithBackslashes(argv[i]);
        if (!SFileRemoveFile(archive, name.c_str(), SFILE_OPEN_FROM_MPQ)) {
            baseline::Fail("baseline_delete", "cannot delete", name);
        }
    }
    if (!SFileCompactArchive(archive, nullptr, false)) {
        baseline::Fail("baseline_delete", "cannot compact", argv[1]);
    }
    if (!SFileCloseArchive(archive)) {
        baseline::Fail("baseline_delete", "cannot write", argv[1]);
    }
    return 0;
}

// The library alone, listing: opens the archive read-only and prints every
// member its "(listfile)" names, with size and packed size, as `tarnel list`
// prints them.
//
// usage: baseline_list ARCHIVE
#include "baseline.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: baseline_list ARCHIVE\n");
        return 2;
    }
    HANDLE archive = nullptr;
    if (!SFileOpenArchive(argv[1], 0, MPQ_OPEN_READ_ONLY, &archive)) {
        baseline::Fail("baseline_list", "cannot open", argv[1]);
    }
    SFILE_FIND_DATA found;
    HANDLE search = SFileFindFirstFile(archive, "*", &found, nullptr);
    if (search) {
        do {
            std::printf("%12u %12u  %s\n", static_cast<unsigned>(found.dwFileSize),
                        static_cast<unsigned>(found.dwCompSize),
                        baseline::WithSlashes(found.cFileName).c_str());
        } while (SFileFindNextFile(search, &found));
        SFileFindClose(search);
    }
    SFileCloseArchive(archive);
    return 0;
}

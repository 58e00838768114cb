// The library alone, extraction: opens the archive read-only, lists it from
// its "(listfile)" and writes every member into DIR in reads of 1 MiB,
// creating the folders of member paths, as `tarnel extract` does.
//
// usage: baseline_extract ARCHIVE DIR
#include "baseline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Makes the folders above `path` below `root` (which exists), skipping the
// work when the previous member was in the same folder.
void MakeParents(const std::string& root, const std::string& path, std::string* lastFolder) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    if (folder == *lastFolder) {
        return;
    }
    for (size_t i = root.size() + 1; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '/') {
            mkdir(folder.substr(0, i).c_str(), 0777);
        }
    }
    *lastFolder = folder;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: baseline_extract ARCHIVE DIR\n");
        return 2;
    }
    const std::string root = argv[2];
    HANDLE archive = nullptr;
    if (!SFileOpenArchive(argv[1], 0, MPQ_OPEN_READ_ONLY, &archive)) {
        baseline::Fail("baseline_extract", "cannot open", argv[1]);
    }
    std::vector<std::string> names;
    SFILE_FIND_DATA found;
    HANDLE search = SFileFindFirstFile(archive, "*", &found, nullptr);
    if (search) {
        do {
            names.push_back(found.cFileName);
        } while (SFileFindNextFile(search, &found));
        SFileFindClose(search);
    }

    std::vector<char> buffer(1u << 20);
    std::string lastFolder;
    for (const std::string& name : names) {
        HANDLE member = nullptr;
        if (!SFileOpenFileEx(archive, name.c_str(), SFILE_OPEN_FROM_MPQ, &member)) {
            baseline::Fail("baseline_extract", "cannot open member", name);
        }
        std::string path = root + "/" + baseline::WithSlashes(name);
        MakeParents(root, path, &lastFolder);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0) {
            baseline::Fail("baseline_extract", "cannot create", path);
        }
        DWORD left = SFileGetFileSize(member, nullptr);
        while (left > 0) {
            DWORD chunk = left < buffer.size() ? left : static_cast<DWORD>(buffer.size());
            DWORD read = 0;
            if (!SFileReadFile(member, buffer.data(), chunk, &read, nullptr) || read == 0) {
                baseline::Fail("baseline_extract", "cannot read", name);
            }
            if (write(fd, buffer.data(), read) != static_cast<ssize_t>(read)) {
                baseline::Fail("baseline_extract", "cannot write", path);
            }
            left -= read;
        }
        if (close(fd) != 0) {
            baseline::Fail("baseline_extract", "cannot write", path);
        }
        SFileCloseFile(member);
    }
    SFileCloseArchive(archive);
    return 0;
}

// The library alone, adding: creates a new archive (format 1, a
// "(listfile)", no "(attributes)", 4 KiB sectors, room for MAX_FILES
// members, as the stand-in creates one) and adds every file below each PATH
// of DIR, walked in name order, with one zlib-compressing SFileAddFileEx per
// file. The member name is the path relative to DIR. With --encrypt the
// members are also encrypted, as the plug-in asks for compressed members.
//
// usage: baseline_add [--encrypt] ARCHIVE MAX_FILES DIR PATH...
#include "baseline.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace {

// Appends the files at `relative` (a file, or a folder walked in name order)
// to `files`.
void Walk(const std::string& root, const std::string& relative, std::vector<std::string>* files) {
    std::string full = root + "/" + relative;
    struct stat status;
    if (stat(full.c_str(), &status) != 0) {
        baseline::Fail("baseline_add", "cannot find", full);
    }
    if (!S_ISDIR(status.st_mode)) {
        files->push_back(relative);
        return;
    }
    DIR* folder = opendir(full.c_str());
    if (!folder) {
        baseline::Fail("baseline_add", "cannot read", full);
    }
    std::vector<std::string> names;
    while (struct dirent* entry = readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.push_back(entry->d_name);
        }
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        Walk(root, relative + "/" + name, files);
    }
}

} // namespace

int main(int argc, char** argv) {
    int first = 1;
    DWORD flags = MPQ_FILE_COMPRESS;
    if (argc > 1 && std::strcmp(argv[1], "--encrypt") == 0) {
        flags |= MPQ_FILE_ENCRYPTED;
        ++first;
    }
    if (argc - first < 4) {
        std::fprintf(stderr, "usage: baseline_add [--encrypt] ARCHIVE MAX_FILES DIR PATH...\n");
        return 2;
    }
    const char* path = argv[first];
    const std::string root = argv[first + 2];
    std::vector<std::string> files;
    for (int i = first + 3; i < argc; ++i) {
        Walk(root, argv[i], &files);
    }

    SFILE_CREATE_MPQ create;
    std::memset(&create, 0, sizeof create);
    create.cbSize = sizeof create;
    create.dwMpqVersion = MPQ_FORMAT_VERSION_1;
    create.dwFileFlags1 = MPQ_FILE_DEFAULT_INTERNAL;
    create.dwSectorSize = 0x1000;
    create.dwMaxFileCount = static_cast<DWORD>(std::strtoul(argv[first + 1], nullptr, 10));
    HANDLE archive = nullptr;
    if (!SFileCreateArchive2(path, &create, &archive)) {
        baseline::Fail("baseline_add", "cannot create", path);
    }
    for (const std::string& file : files) {
        std::string source = root + "/" + file;
        std::string name = baseline::WithBackslashes(file);
        if (!SFileAddFileEx(archive, source.c_str(), name.c_str(), flags, MPQ_COMPRESSION_ZLIB,
                            MPQ_COMPRESSION_NEXT_SAME)) {
            baseline::Fail("baseline_add", "cannot add", source);
        }
    }
    if (!SFileCloseArchive(archive)) {
        baseline::Fail("baseline_add", "cannot write", path);
    }
    return 0;
}

// The baseline for the tarnel extraction benchmark: extracts every member of
// an archive straight through the archive library (SFMpq.dll), the way the
// plug-in does it but with no plug-in and no host: open, list from the
// archive's name list, then each member in chunks of 1 MiB into a file.
//
// usage: extract_direct SFMpq.dll ARCHIVE DIR
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "archive_library/archive_library.h"

namespace {

template <typename Function> Function Bind(void* module, const char* name) {
    Function function = reinterpret_cast<Function>(dlsym(module, name));
    if (!function) {
        std::fprintf(stderr, "extract_direct: %s lacks %s\n", "the library", name);
        std::exit(2);
    }
    return function;
}

void MakeParents(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '/') {
            mkdir(path.substr(0, i).c_str(), 0777);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: extract_direct SFMpq.dll ARCHIVE DIR\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "extract_direct: %s\n", dlerror());
        return 2;
    }
    auto openArchive = Bind<SFileOpenArchiveFn>(library, "SFileOpenArchive");
    auto closeArchive = Bind<SFileCloseArchiveFn>(library, "SFileCloseArchive");
    auto getInfo = Bind<SFileGetFileInfoFn>(library, "SFileGetFileInfo");
    auto listFiles = Bind<SFileListFilesFn>(library, "SFileListFiles");
    auto openFile = Bind<SFileOpenFileExFn>(library, "SFileOpenFileEx");
    auto getSize = Bind<SFileGetFileSizeFn>(library, "SFileGetFileSize");
    auto readFile = Bind<SFileReadFileFn>(library, "SFileReadFile");
    auto closeFile = Bind<SFileCloseFileFn>(library, "SFileCloseFile");

    MpqHandle archive = nullptr;
    if (!openArchive(argv[2], 0, 0, &archive)) {
        std::fprintf(stderr, "extract_direct: cannot open %s\n", argv[2]);
        return 2;
    }
    std::string list;
    MpqHandle listFile = nullptr;
    if (openFile(archive, "(listfile)", 0, &listFile)) {
        uint32_t size = getSize(listFile, nullptr);
        list.assign(size, '\0');
        uint32_t read = 0;
        readFile(listFile, &list[0], size, &read, nullptr);
        closeFile(listFile);
    }
    std::vector<ListEntry> entries(getInfo(archive, kInfoHashTableSize));
    listFiles(archive, list.c_str(), entries.data(), kListIsText);

    std::vector<char> buffer(1u << 20);
    int failures = 0;
    for (const ListEntry& entry : entries) {
        if (!entry.exists) {
            continue;
        }
        std::string name(entry.name, strnlen(entry.name, sizeof entry.name));
        for (char& c : name) {
            c = c == '\\' ? '/' : c;
        }
        std::string destination = std::string(argv[3]) + "/" + name;
        MakeParents(destination);
        MpqHandle member = nullptr;
        if (!openFile(archive, entry.name, 0, &member)) {
            ++failures;
            continue;
        }
        int fd = open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        uint32_t left = getSize(member, nullptr);
        while (fd >= 0 && left > 0) {
            uint32_t chunk = left < buffer.size() ? left : static_cast<uint32_t>(buffer.size());
            uint32_t read = 0;
            if (!readFile(member, buffer.data(), chunk, &read, nullptr) || read == 0 ||
                write(fd, buffer.data(), read) != static_cast<ssize_t>(read)) {
                ++failures;
                break;
            }
            left -= read;
        }
        if (fd < 0 || close(fd) != 0) {
            ++failures;
        }
        closeFile(member);
    }
    closeArchive(archive);
    return failures ? 1 : 0;
}

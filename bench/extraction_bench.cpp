// Extraction through the plug-in's entry points against reading the same
// members directly through the stand-in library and writing them with plain
// file calls: large stored members, large compressed members, and 50,000
// tiny members. Then the peak memory of one extraction, whatever the
// member's size.
//
// Usage: extraction_bench [rounds]   (the other arguments are internal)
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "bench_support.h"

namespace {

LoadedPlugin plugin;
StandInLibrary library;

const uint32_t kChunk = 0x100000;

void WriteData(const std::string& path, size_t size, bool compressible) {
    FILE* out = std::fopen(path.c_str(), "wb");
    std::vector<char> block(kChunk);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (size_t done = 0; done < size;) {
        for (char& c : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            c = compressible ? "abcdefgh \n"[state % 10] : static_cast<char>(state);
        }
        size_t n = std::min<size_t>(block.size(), size - done);
        std::fwrite(block.data(), 1, n, out);
        done += n;
    }
    std::fclose(out);
}

// Builds an archive of `count` members named <prefix><n>, all from one
// source file, through the stand-in library.
bool BuildArchive(const std::string& archive, const std::string& source, uint32_t count,
                  const char* prefix, uint32_t flags, uint32_t type) {
    const ArchiveLibraryRecord& l = library.api;
    uint32_t slots = 16;
    while (slots < count + 16) {
        slots *= 2;
    }
    MpqHandle update = l.MpqOpenArchiveForUpdate(archive.c_str(), 0x21, slots);
    if (!update || update == MPQ_INVALID_UPDATE_HANDLE) {
        return false;
    }
    bool ok = true;
    for (uint32_t i = 0; i < count && ok; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%05u", prefix, i);
        ok = l.MpqAddFileToArchiveEx(update, source.c_str(), name, flags, type, type ? 9 : 0);
    }
    l.MpqSetFileLocale(update, "(listfile)", 0, 0);
    return l.MpqCloseUpdatedArchive(update, 0) && ok;
}

int TARNEL_STDCALL GoOn(char*, int) {
    return 1;
}

// Every member through OpenArchive, ReadHeader and ProcessFile.
void ExtractThroughPlugin(const std::string& archive, const std::string& out) {
    OpenRequest request = {archive.c_str(), kOpenExtract, 0};
    void* handle = plugin.OpenArchive(&request);
    EntryHeader header = {};
    while (handle && plugin.ReadHeader(handle, &header) == kResultOk) {
        std::string dest = out + "/" + header.fileName;
        if (plugin.ProcessFile(handle, kOpExtract, nullptr, &dest[0]) != kResultOk) {
            std::fprintf(stderr, "extraction of %s failed\n", header.fileName);
        }
    }
    plugin.CloseArchive(handle);
}

// The same members read straight through the library, each written with
// plain file calls from one 1 MiB buffer.
void ExtractDirectly(const std::string& archive, const std::string& out) {
    const ArchiveLibraryRecord& l = library.api;
    MpqHandle handle = nullptr;
    if (!l.SFileOpenArchive(archive.c_str(), 0, 0, &handle)) {
        return;
    }
    uint32_t count = l.SFileGetFileInfo(handle, 2);
    std::vector<ListEntry> entries(count);
    MpqHandle list = nullptr;
    if (l.SFileOpenFileEx(handle, "(listfile)", 0, &list)) {
        uint32_t size = l.SFileGetFileSize(list, nullptr);
        std::vector<char> text(size + 1);
        uint32_t read = 0;
        l.SFileReadFile(list, text.data(), size, &read, nullptr);
        l.SFileCloseFile(list);
        l.SFileListFiles(handle, text.data(), entries.data(), 1);
    }
    std::vector<char> buffer(kChunk);
    for (const ListEntry& entry : entries) {
        MpqHandle member = nullptr;
        if (!entry.exists || !l.SFileOpenFileEx(handle, entry.name, 0, &member)) {
            continue;
        }
        std::string dest = out + "/" + entry.name;
        int fd = open(dest.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        for (uint32_t left = l.SFileGetFileSize(member, nullptr); left && fd >= 0;) {
            uint32_t read = 0;
            if (!l.SFileReadFile(member, buffer.data(), std::min(left, kChunk), &read, nullptr) ||
                !read || write(fd, buffer.data(), read) != static_cast<ssize_t>(read)) {
                break;
            }
            left -= read;
        }
        close(fd);
        l.SFileCloseFile(member);
    }
    l.SFileCloseArchive(handle);
}

// Peak resident memory (KiB) of a fresh process that runs one mode of this
// program; the child reports its own peak (the parent's peak would be
// counted in a rusage of the child, through the fork).
long PeakMemoryOf(const std::string& self, const std::string& mode, const std::string& archive,
                  const std::string& out) {
    std::string command = "'" + self + "' " + mode + " '" + archive + "' '" + out + "'";
    long peak = -1;
    std::fflush(nullptr);
    if (FILE* child = popen(command.c_str(), "r")) {
        if (std::fscanf(child, "%ld", &peak) != 1) {
            peak = -1;
        }
        pclose(child);
    }
    return peak;
}

// This process's peak resident memory (KiB).
long OwnPeakMemory() {
    long peak = -1;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            if (std::sscanf(line, "VmHWM: %ld", &peak) == 1) {
                break;
            }
        }
        std::fclose(status);
    }
    return peak;
}

// The modes run in a child: open and list only, or extract one archive's
// members through the plug-in or directly.
int RunChildMode(const std::string& mode, const std::string& archive, const std::string& out) {
    if (!LoadBoth(plugin, library)) {
        return 1;
    }
    if (mode == "--list-only") {
        OpenRequest request = {archive.c_str(), kOpenList, 0};
        plugin.CloseArchive(plugin.OpenArchive(&request));
    } else if (mode == "--plugin") {
        ExtractThroughPlugin(archive, out);
    } else {
        ExtractDirectly(archive, out);
    }
    std::printf("%ld\n", OwnPeakMemory());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4) {
        return RunChildMode(argv[1], argv[2], argv[3]);
    }
    int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (!LoadBoth(plugin, library)) {
        return 1;
    }
    plugin.SetProcessDataProc(nullptr, GoOn);
    std::string dir = MakeTempFolder("tarnel-extraction-bench");
    std::string out = dir + "/out";
    auto clearOut = [&] {
        RemoveTree(out);
        mkdir(out.c_str(), 0700);
    };

    struct Set {
        const char* what;
        const char* archive;
        size_t memberSize;
        uint32_t count;
        bool compressible;
        uint32_t flags, type;
    };
    const Set sets[] = {
        {"4 stored members of 64 MiB", "stored.mpq", 64u << 20, 4, false, 0x1, 0},
        {"4 compressed members of 64 MiB", "compressed.mpq", 64u << 20, 4, true, 0x10201, 2},
        {"50,000 tiny members (100 bytes)", "tiny.mpq", 100, 50000, true, 0x10201, 8},
    };
    std::printf("extraction, median of %d rounds\n", rounds);
    for (const Set& set : sets) {
        std::string source = dir + "/source";
        std::string archive = dir + "/" + set.archive;
        WriteData(source, set.memberSize, set.compressible);
        if (!BuildArchive(archive, source, set.count, "m", set.flags, set.type)) {
            std::fprintf(stderr, "cannot build %s\n", archive.c_str());
            return 1;
        }
        Compare(
            set.what, rounds, clearOut, [&] { ExtractThroughPlugin(archive, out); },
            [&] { ExtractDirectly(archive, out); });
        unlink(archive.c_str());
    }

    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        return 1;
    }
    std::printf("\npeak resident memory of one process (KiB)\n");
    for (size_t megabytes : {16, 256}) {
        for (bool compressible : {false, true}) {
            std::string source = dir + "/source";
            std::string archive = dir + "/memory.mpq";
            WriteData(source, megabytes << 20, compressible);
            unlink(archive.c_str());
            BuildArchive(archive, source, 1, "big", compressible ? 0x10201 : 1,
                         compressible ? 2 : 0);
            unlink(source.c_str());
            clearOut();
            long listOnly = PeakMemoryOf(self, "--list-only", archive, out);
            long viaPlugin = PeakMemoryOf(self, "--plugin", archive, out);
            long long extracted = FolderBytes(out);
            clearOut();
            long direct = PeakMemoryOf(self, "--direct", archive, out);
            std::printf("%3zu MiB %-10s  open+list %6ld   plug-in extraction %6ld (%+ld, "
                        "%lld bytes written)   direct %6ld (%+ld)\n",
                        megabytes, compressible ? "compressed" : "stored", listOnly, viaPlugin,
                        viaPlugin - listOnly, extracted, direct, direct - listOnly);
        }
    }
    RemoveTree(dir);
    return 0;
}

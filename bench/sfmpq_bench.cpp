// Measures the stand-in SFMpq.dll against StormLib itself, the cost of
// the copy that makes updates atomic and the checksums that reads compute.
// Prints figures and ratios; run it with
// `cmake --build --preset native --target benchmarks` and then
//   build/native/out/sfmpq_bench [--size-mb N] [--folder DIR] [--runs N]
// DIR is where the archives are made (a reflink-capable file system such as
// XFS or Btrfs shows the clone's cost; elsewhere only copies are measured).
//
// Checksums: CRC32 and Adler-32 by zlib and by each faster way of
// computing them that the processor has.
//
// Reading: every member is read in 1 MiB chunks through the stand-in's
// SFileReadFile, and the same through StormLib's own SFileReadFile loop;
// extraction to files: the stand-in's loop writing files (as the plug-in
// does) against StormLib's SFileExtractFile.
#include <StormLib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "archive_library/archive_library.h"
#include "sfmpq/atomic_file.h"
#include "sfmpq/checksums.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename Work> double Median(int runs, Work work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        work();
        times.push_back(Seconds(start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

struct Pair {
    double first;       // fastest run of the first, in CPU seconds
    double second;      // fastest run of the second, in CPU seconds
    double medianRatio; // median of second/first over the pairs of runs
};

// CPU time of this thread: what the work itself costs, without the time the
// machine spent on other processes.
double CpuSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

template <typename First, typename Second> Pair Alternate(int runs, First first, Second second) {
    std::vector<double> a;
    std::vector<double> b;
    std::vector<double> ratios;
    for (int i = 0; i < runs; ++i) {
        double start = CpuSeconds();
        first();
        a.push_back(CpuSeconds() - start);
        start = CpuSeconds();
        second();
        b.push_back(CpuSeconds() - start);
        ratios.push_back(b.back() / a.back());
    }
    std::sort(ratios.begin(), ratios.end());
    return {*std::min_element(a.begin(), a.end()), *std::min_element(b.begin(), b.end()),
            ratios[ratios.size() / 2]};
}

struct Library {
    SFileOpenArchiveFn OpenArchive;
    SFileCloseArchiveFn CloseArchive;
    SFileOpenFileExFn OpenFileEx;
    SFileGetFileSizeFn GetFileSize;
    SFileReadFileFn ReadFile;
    SFileCloseFileFn CloseFile;
    MpqOpenArchiveForUpdateFn OpenForUpdate;
    MpqAddFileToArchiveExFn AddFile;
    MpqCloseUpdatedArchiveFn CloseUpdated;
};

Library LoadLibrary() {
    void* module = dlopen(SFMPQ_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::fprintf(stderr, "cannot load %s\n", SFMPQ_LIBRARY_PATH);
        std::exit(1);
    }
    Library l;
    l.OpenArchive = reinterpret_cast<SFileOpenArchiveFn>(dlsym(module, "SFileOpenArchive"));
    l.CloseArchive = reinterpret_cast<SFileCloseArchiveFn>(dlsym(module, "SFileCloseArchive"));
    l.OpenFileEx = reinterpret_cast<SFileOpenFileExFn>(dlsym(module, "SFileOpenFileEx"));
    l.GetFileSize = reinterpret_cast<SFileGetFileSizeFn>(dlsym(module, "SFileGetFileSize"));
    l.ReadFile = reinterpret_cast<SFileReadFileFn>(dlsym(module, "SFileReadFile"));
    l.CloseFile = reinterpret_cast<SFileCloseFileFn>(dlsym(module, "SFileCloseFile"));
    l.OpenForUpdate =
        reinterpret_cast<MpqOpenArchiveForUpdateFn>(dlsym(module, "MpqOpenArchiveForUpdate"));
    l.AddFile = reinterpret_cast<MpqAddFileToArchiveExFn>(dlsym(module, "MpqAddFileToArchiveEx"));
    l.CloseUpdated =
        reinterpret_cast<MpqCloseUpdatedArchiveFn>(dlsym(module, "MpqCloseUpdatedArchive"));
    return l;
}

std::string Content(size_t size, uint32_t seed, bool compressible) {
    std::string text(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        text[i] = compressible ? "abcdefgh \n"[(state >> 24) % 10] : static_cast<char>(state >> 24);
    }
    return text;
}

// An archive of about `megabytes` MiB: members of 64 KiB to 4 MiB, half text
// (zlib), a quarter noise (zlib), a quarter noise stored.
std::vector<std::string> MakeArchive(const std::string& path, size_t megabytes) {
    unlink(path.c_str());
    HANDLE archive = nullptr;
    if (!SFileCreateArchive(path.c_str(), MPQ_CREATE_LISTFILE, 4096, &archive)) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        std::exit(1);
    }
    std::vector<std::string> names;
    size_t total = 0;
    for (uint32_t i = 0; total < megabytes << 20; ++i) {
        size_t size = (64u << 10) << (i % 7);
        bool text = i % 2 == 0;
        bool stored = i % 4 == 3;
        std::string content = Content(size, i, text);
        std::string name = "data\\member" + std::to_string(i) + ".bin";
        HANDLE file = nullptr;
        SFileCreateFile(archive, name.c_str(), 0, static_cast<DWORD>(size), 0,
                        stored ? 0 : MPQ_FILE_COMPRESS, &file);
        SFileWriteFile(file, content.data(), static_cast<DWORD>(size),
                       stored ? 0 : MPQ_COMPRESSION_ZLIB);
        SFileFinishFile(file);
        names.push_back(name);
        total += size;
    }
    SFileCloseArchive(archive);
    return names;
}

// Reads every member through StormLib's own read loop; with `folder`, writes
// each to a file.
size_t ReadAllWithStorm(const std::string& path, const std::vector<std::string>& names,
                        std::vector<char>& buffer, const std::string& folder = "") {
    HANDLE archive = nullptr;
    SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &archive);
    size_t total = 0;
    int index = 0;
    for (const std::string& name : names) {
        HANDLE file = nullptr;
        if (!SFileOpenFileEx(archive, name.c_str(), 0, &file)) {
            continue;
        }
        int fd = -1;
        if (!folder.empty()) {
            std::string out = folder + "/" + std::to_string(index++);
            fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        DWORD size = SFileGetFileSize(file, nullptr);
        while (size > 0) {
            DWORD got = 0;
            SFileReadFile(file, buffer.data(), std::min<DWORD>(size, 1 << 20), &got, nullptr);
            if (got == 0 || (fd >= 0 && write(fd, buffer.data(), got) != ssize_t(got))) {
                break;
            }
            size -= got;
            total += got;
        }
        if (fd >= 0) {
            close(fd);
        }
        SFileCloseFile(file);
    }
    SFileCloseArchive(archive);
    return total;
}

// Reads every member through the stand-in; with `folder`, writes each to a
// file as the plug-in's extraction does.
size_t ReadAllWithStandIn(const Library& l, const std::string& path,
                          const std::vector<std::string>& names, std::vector<char>& buffer,
                          const std::string& folder) {
    MpqHandle archive = nullptr;
    l.OpenArchive(path.c_str(), 0, 0, &archive);
    size_t total = 0;
    int index = 0;
    for (const std::string& name : names) {
        MpqHandle member = nullptr;
        if (!l.OpenFileEx(archive, name.c_str(), 0, &member)) {
            continue;
        }
        int fd = -1;
        if (!folder.empty()) {
            std::string out = folder + "/" + std::to_string(index++);
            fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        // As the plug-in reads: the member's size, then chunks of at most 1 MiB.
        uint32_t size = l.GetFileSize(member, nullptr);
        while (size > 0 && size != 0xFFFFFFFFu) {
            uint32_t got = 0;
            if (!l.ReadFile(member, buffer.data(), std::min<uint32_t>(size, 1 << 20), &got,
                            nullptr) ||
                got == 0) {
                break;
            }
            size -= got;
            if (fd >= 0 && write(fd, buffer.data(), got) != static_cast<ssize_t>(got)) {
                break;
            }
            total += got;
        }
        if (fd >= 0) {
            close(fd);
        }
        l.CloseFile(member);
    }
    l.CloseArchive(archive);
    return total;
}

void ExtractAllWithStorm(const std::string& path, const std::vector<std::string>& names,
                         const std::string& folder) {
    HANDLE archive = nullptr;
    SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &archive);
    int index = 0;
    for (const std::string& name : names) {
        std::string out = folder + "/" + std::to_string(index++);
        SFileExtractFile(archive, name.c_str(), out.c_str(), 0);
    }
    SFileCloseArchive(archive);
}

double CopyCost(const std::string& from, const std::string& to, sfmpq::CopyMethod method,
                bool* supported) {
    int in = open(from.c_str(), O_RDONLY);
    double best = 1e9;
    *supported = true;
    for (int i = 0; i < 3; ++i) {
        int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        bool reflinked = false;
        auto start = Clock::now();
        int error = sfmpq::CopyFileContent(in, out, method, &reflinked);
        fsync(out);
        best = std::min(best, Seconds(start));
        close(out);
        unlink(to.c_str());
        if (error) {
            *supported = false;
            break;
        }
    }
    close(in);
    return best;
}

} // namespace

int main(int argc, char** argv) {
    size_t megabytes = 256;
    std::string base = "/tmp";
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--size-mb")) {
            megabytes = std::strtoul(argv[i + 1], nullptr, 10);
        } else if (!std::strcmp(argv[i], "--folder")) {
            base = argv[i + 1];
        } else if (!std::strcmp(argv[i], "--runs")) {
            runs = std::atoi(argv[i + 1]);
        }
    }
    std::string folder = base + "/sfmpq-bench-XXXXXX";
    if (!mkdtemp(&folder[0])) {
        std::perror("mkdtemp");
        return 1;
    }
    std::string archive = folder + "/bench.mpq";
    std::string out = folder + "/out";
    mkdir(out.c_str(), 0755);
    Library l = LoadLibrary();
    std::vector<std::string> names = MakeArchive(archive, megabytes);
    struct stat info;
    stat(archive.c_str(), &info);
    std::printf("archive: %zu members, %.1f MiB in the archive, folder %s\n", names.size(),
                info.st_size / 1048576.0, base.c_str());

    std::vector<char> buffer(1 << 20);
    size_t bytes = ReadAllWithStorm(archive, names, buffer); // warms the page cache
    // The two sides alternate, so that other load on the machine hits both
    // alike; the fastest run of each is the least disturbed one.
    Pair read = Alternate(
        runs, [&] { ReadAllWithStorm(archive, names, buffer); },
        [&] { ReadAllWithStandIn(l, archive, names, buffer, ""); });
    std::printf("read all members to memory (%.0f MiB), 1 MiB chunks, CPU time: StormLib "
                "%.3f s, SFMpq.dll %.3f s, ratio %.3f (median of ratios %.3f)\n",
                bytes / 1048576.0, read.first, read.second, read.second / read.first,
                read.medianRatio);
    Pair files = Alternate(
        runs, [&] { ExtractAllWithStorm(archive, names, out); },
        [&] { ReadAllWithStandIn(l, archive, names, buffer, out); });
    std::printf("extract all members to files, CPU time: StormLib SFileExtractFile %.3f s, "
                "SFMpq.dll 1 MiB chunks %.3f s, ratio %.3f (median of ratios %.3f)\n",
                files.first, files.second, files.second / files.first, files.medianRatio);

    Pair loops = Alternate(
        runs, [&] { ReadAllWithStorm(archive, names, buffer, out); },
        [&] { ReadAllWithStandIn(l, archive, names, buffer, out); });
    std::printf("extract all members to files, CPU time, both in 1 MiB chunks: StormLib's read "
                "loop %.3f s, SFMpq.dll %.3f s, ratio %.3f (median of ratios %.3f)\n",
                loops.first, loops.second, loops.second / loops.first, loops.medianRatio);

    // The copy behind every update.
    std::string copy = folder + "/copy";
    const struct {
        const char* name;
        sfmpq::CopyMethod method;
    } methods[] = {{"reflink clone", sfmpq::CopyMethod::Reflink},
                   {"copy_file_range", sfmpq::CopyMethod::KernelCopy},
                   {"read/write copy", sfmpq::CopyMethod::UserCopy}};
    for (const auto& m : methods) {
        bool supported = false;
        double t = CopyCost(archive, copy, m.method, &supported);
        if (supported) {
            std::printf("copy of the %.0f MiB archive by %s: %.3f s\n", info.st_size / 1048576.0,
                        m.name, t);
        } else {
            std::printf("copy by %s: not offered by this file system\n", m.name);
        }
    }
    // A whole update that adds one small member: the copy, the engine's
    // write of the member and tables, the flush and the rename.
    std::string small = folder + "/small";
    FILE* f = std::fopen(small.c_str(), "wb");
    std::fputs("small member", f);
    std::fclose(f);
    int round = 0;
    double update = Median(runs, [&] {
        MpqHandle h = l.OpenForUpdate(archive.c_str(), 0x21, 4096);
        std::string name = "small" + std::to_string(round++);
        l.AddFile(h, small.c_str(), name.c_str(), 0x10201, 2, 9);
        l.CloseUpdated(h, 0);
    });
    std::printf("update adding one small member to the archive: %.3f s\n", update);

    // The checksums that reads compute over all data: zlib's code against
    // each faster way this processor has, over 1 MiB pieces as the engine
    // reads them.
    std::vector<unsigned char> piece(1 << 20);
    for (size_t i = 0; i < piece.size(); ++i) {
        piece[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
    }
    const struct {
        const char* name;
        std::vector<sfmpq::ChecksumWay> ways; // zlib's first
    } kinds[] = {{"CRC32", sfmpq::Crc32Ways()}, {"Adler-32", sfmpq::Adler32Ways()}};
    uint32_t sink = 0;
    for (const auto& kind : kinds) {
        auto over = [&](const sfmpq::ChecksumWay& way) {
            for (int i = 0; i < 256; ++i) {
                sink += way.function(0, piece.data(), piece.size());
            }
        };
        for (size_t i = 1; i < kind.ways.size(); ++i) {
            Pair sums = Alternate(
                runs, [&] { over(kind.ways[0]); }, [&] { over(kind.ways[i]); });
            std::printf("%s of 256 MiB in 1 MiB pieces, CPU time: zlib %.4f s, %s %.4f s, ratio "
                        "%.3f (median of ratios %.3f)\n",
                        kind.name, sums.first, kind.ways[i].name, sums.second,
                        sums.second / sums.first, sums.medianRatio);
        }
    }
    std::printf("(checksums of all pieces: %08x)\n", sink);

    std::string command = "rm -rf '" + folder + "'";
    return std::system(command.c_str()) == 0 ? 0 : 1;
}

// What the benchmarks share: the plug-in and the stand-in archive library,
// both loaded from the build's output folder, files, and timing.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "archive_library/archive_library.h"
#include "loaded_plugin.h"

// The stand-in SFMpq.dll, bound by name as the plug-in binds it.
struct StandInLibrary {
    ArchiveLibraryRecord api = {};

    bool Load(const std::string& path) {
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
            return false;
        }
        api.module = module;
        Bind(api.SFileOpenArchive, "SFileOpenArchive");
        Bind(api.SFileCloseArchive, "SFileCloseArchive");
        Bind(api.SFileOpenFileEx, "SFileOpenFileEx");
        Bind(api.SFileCloseFile, "SFileCloseFile");
        Bind(api.SFileGetFileSize, "SFileGetFileSize");
        Bind(api.SFileReadFile, "SFileReadFile");
        Bind(api.SFileSetLocale, "SFileSetLocale");
        Bind(api.SFileGetFileInfo, "SFileGetFileInfo");
        Bind(api.SFileListFiles, "SFileListFiles");
        Bind(api.MpqOpenArchiveForUpdate, "MpqOpenArchiveForUpdate");
        Bind(api.MpqCloseUpdatedArchive, "MpqCloseUpdatedArchive");
        Bind(api.MpqAddFileToArchiveEx, "MpqAddFileToArchiveEx");
        Bind(api.MpqSetFileLocale, "MpqSetFileLocale");
        return ok_;
    }

  private:
    template <typename F> void Bind(F& slot, const char* name) {
        slot = reinterpret_cast<F>(dlsym(api.module, name));
        if (!slot) {
            std::fprintf(stderr, "the stand-in library lacks %s\n", name);
            ok_ = false;
        }
    }
    bool ok_ = true;
};

// The plug-in and the stand-in library from the build's output folder.
inline bool LoadBoth(LoadedPlugin& plugin, StandInLibrary& library) {
    std::string failure = plugin.Load(TARNEL_OUT_DIR "/tarnel.wcx");
    if (!failure.empty()) {
        std::fprintf(stderr, "cannot load the plug-in: %s\n", failure.c_str());
        return false;
    }
    return library.Load(TARNEL_OUT_DIR "/SFMpq.dll");
}

// Wall-clock time, and the process's processor time (user and system),
// which other work on a busy machine disturbs far less.
struct Clock {
    std::chrono::steady_clock::time_point wall;
    double cpu;
};
inline double ProcessorSeconds() {
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
inline Clock Now() {
    return {std::chrono::steady_clock::now(), ProcessorSeconds()};
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs `plugin` and `direct` alternately `rounds` times, each after
// `prepare` (not timed), and prints the medians of their processor and
// wall-clock times and the ratios.
template <typename Prepare, typename PluginRun, typename DirectRun>
void Compare(const char* what, int rounds, Prepare prepare, PluginRun plugin, DirectRun direct) {
    std::vector<double> pluginCpu, pluginWall, directCpu, directWall;
    auto timed = [](auto run, std::vector<double>& cpu, std::vector<double>& wall) {
        Clock start = Now();
        run();
        Clock end = Now();
        cpu.push_back(end.cpu - start.cpu);
        wall.push_back(std::chrono::duration<double>(end.wall - start.wall).count());
    };
    for (int round = 0; round < rounds; ++round) {
        prepare();
        timed(direct, directCpu, directWall);
        prepare();
        timed(plugin, pluginCpu, pluginWall);
    }
    double pc = Median(pluginCpu), dc = Median(directCpu);
    double pw = Median(pluginWall), dw = Median(directWall);
    std::printf("%s\n  processor: plug-in %7.3f s  library %7.3f s  ratio %.3f (%+.1f%%)\n"
                "  wall:      plug-in %7.3f s  library %7.3f s  ratio %.3f (%+.1f%%)\n",
                what, pc, dc, pc / dc, (pc / dc - 1) * 100, pw, dw, pw / dw, (pw / dw - 1) * 100);
    std::fflush(stdout);
}

// The total size of the files directly in `folder`.
inline long long FolderBytes(const std::string& folder) {
    std::string command = "du -sb --apparent-size '" + folder + "'";
    long long bytes = -1;
    if (FILE* du = popen(command.c_str(), "r")) {
        if (std::fscanf(du, "%lld", &bytes) != 1) {
            bytes = -1;
        }
        pclose(du);
    }
    return bytes;
}

inline void RemoveTree(const std::string& path) {
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot remove %s\n", path.c_str());
    }
}

// A fresh folder for the benchmark's files: under TARNEL_BENCH_DIR when set,
// else in memory (/dev/shm) where there is such a folder, so that the disk's
// write-back does not drown the differences measured, else under TMPDIR.
inline std::string MakeTempFolder(const char* tag) {
    const char* base = std::getenv("TARNEL_BENCH_DIR");
    if (!base || !*base) {
        base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    }
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + tag + "-XXXXXX";
    std::printf("working in %s\n", pattern.c_str());
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return mkdtemp(buffer.data()) ? std::string(buffer.data()) : std::string();
}

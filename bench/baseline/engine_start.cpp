// The cost of starting an engine, measured directly: opening and closing an
// archive through the stand-in SFMpq.dll (which starts an sfmpq-engine
// process for the handle and ends it at the close) against opening and
// closing it with StormLib in this process, alternately, ROUNDS times each.
// Prints median, minimum and maximum of each in milliseconds, and the
// processor time per round: for SFMpq.dll that of this process and of the
// engine it ended (also given alone as engine_cpu_ms).
//
// usage: engine_start SFMpq.dll ARCHIVE [ROUNDS]
#include <StormLib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/resource.h>
#include <vector>

#include "archive_library/archive_library.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double CpuMilliseconds(int who) {
    struct rusage usage;
    getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Prints "NAME_median_ms=... NAME_min_ms=... NAME_max_ms=... NAME_cpu_ms=...".
void Report(const char* name, std::vector<double> times, double cpuPerRound) {
    std::sort(times.begin(), times.end());
    std::printf("%s_median_ms=%.4f %s_min_ms=%.4f %s_max_ms=%.4f %s_cpu_ms=%.4f ", name,
                times[times.size() / 2], name, times.front(), name, times.back(), name,
                cpuPerRound);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: engine_start SFMpq.dll ARCHIVE [ROUNDS]\n");
        return 2;
    }
    int rounds = argc == 4 ? std::atoi(argv[3]) : 200;
    if (rounds < 1) {
        rounds = 1;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "engine_start: %s\n", dlerror());
        return 2;
    }
    auto openArchive = reinterpret_cast<SFileOpenArchiveFn>(dlsym(library, "SFileOpenArchive"));
    auto closeArchive = reinterpret_cast<SFileCloseArchiveFn>(dlsym(library, "SFileCloseArchive"));
    if (!openArchive || !closeArchive) {
        std::fprintf(stderr, "engine_start: %s lacks its entry points\n", argv[1]);
        return 2;
    }

    std::vector<double> throughEngine;
    std::vector<double> alone;
    double engineCpu = 0;
    double selfCpu = 0;
    double aloneCpu = 0;
    for (int round = 0; round <= rounds; ++round) { // round 0 only warms up
        double children = CpuMilliseconds(RUSAGE_CHILDREN);
        double self = CpuMilliseconds(RUSAGE_SELF);
        Clock::time_point start = Clock::now();
        MpqHandle handle = nullptr;
        if (!openArchive(argv[2], 0, 0, &handle)) {
            std::fprintf(stderr, "engine_start: SFMpq.dll cannot open %s\n", argv[2]);
            return 1;
        }
        closeArchive(handle);
        double elapsed = Milliseconds(start);
        if (round > 0) {
            throughEngine.push_back(elapsed);
            engineCpu += CpuMilliseconds(RUSAGE_CHILDREN) - children;
            selfCpu += CpuMilliseconds(RUSAGE_SELF) - self;
        }

        self = CpuMilliseconds(RUSAGE_SELF);
        start = Clock::now();
        HANDLE archive = nullptr;
        if (!SFileOpenArchive(argv[2], 0, MPQ_OPEN_READ_ONLY, &archive)) {
            std::fprintf(stderr, "engine_start: StormLib cannot open %s\n", argv[2]);
            return 1;
        }
        SFileCloseArchive(archive);
        elapsed = Milliseconds(start);
        if (round > 0) {
            alone.push_back(elapsed);
            aloneCpu += CpuMilliseconds(RUSAGE_SELF) - self;
        }
    }
    std::printf("rounds=%d ", rounds);
    Report("sfmpq", throughEngine, (selfCpu + engineCpu) / rounds);
    Report("storm", alone, aloneCpu / rounds);
    std::printf("engine_cpu_ms=%.4f\n", engineCpu / rounds);
    return 0;
}

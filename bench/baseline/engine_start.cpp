// The cost of starting an engine, measured directly: opening and closing an
// archive through the stand-in SFMpq.dll (which starts an sfmpq-engine
// process for the handle and ends it at the close) against opening and
// closing it with StormLib in this process, alternately, ROUNDS times each.
// Prints the medians and minimums in milliseconds, and the processor time
// per round of this process and of the engines it ended.
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
        }
    }
    std::printf("rounds=%d sfmpq_median_ms=%.3f sfmpq_min_ms=%.3f storm_median_ms=%.3f "
                "storm_min_ms=%.3f host_cpu_ms=%.3f engine_cpu_ms=%.3f\n",
                rounds, Median(throughEngine),
                *std::min_element(throughEngine.begin(), throughEngine.end()), Median(alone),
                *std::min_element(alone.begin(), alone.end()), selfCpu / rounds,
                engineCpu / rounds);
    return 0;
}

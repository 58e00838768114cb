// How many descriptors the test process holds, for tests that check an
// operation gives back every descriptor it took.
#pragma once

#include <cstddef>
#include <dirent.h>

inline size_t OpenDescriptorCount() {
    size_t count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (readdir(folder)) {
            ++count;
        }
        closedir(folder);
    }
    return count;
}

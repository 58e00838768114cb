// The descriptors a process holds, for tests that check an operation gives
// back every descriptor it took, or hands none on.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <dirent.h>
#include <map>
#include <string>
#include <unistd.h>

// How many descriptors the test process holds.
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

// The descriptors of process `pid` ("self" for this one) and what each
// refers to, without the one this listing reads through.
inline std::map<int, std::string> DescriptorTargets(const std::string& pid = "self") {
    std::map<int, std::string> open;
    const std::string folderPath = "/proc/" + pid + "/fd/";
    DIR* folder = opendir(folderPath.c_str());
    if (!folder) {
        return open;
    }
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.' ||
            (pid == "self" && std::atoi(entry->d_name) == dirfd(folder))) {
            continue;
        }
        char target[4096] = {};
        ssize_t length = readlink((folderPath + entry->d_name).c_str(), target, sizeof target - 1);
        open[std::atoi(entry->d_name)] = length > 0 ? target : "?";
    }
    closedir(folder);
    return open;
}

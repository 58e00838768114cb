// What the library-alone baselines of bench/compare share: failing with a
// message, and the two spellings of a member name (the archive's
// backslashes, the disk's slashes). These programs call StormLib directly,
// with nothing of tarnel in between, and do only what the measured command
// has to do.
#pragma once

#include <StormLib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace baseline {

[[noreturn]] inline void Fail(const char* program, const char* what, const std::string& name) {
    std::fprintf(stderr, "%s: %s %s (error %u)\n", program, what, name.c_str(),
                 static_cast<unsigned>(GetLastError()));
    std::exit(1);
}

inline std::string WithSlashes(std::string name) {
    for (char& c : name) {
        c = c == '\\' ? '/' : c;
    }
    return name;
}

inline std::string WithBackslashes(std::string name) {
    for (char& c : name) {
        c = c == '/' ? '\\' : c;
    }
    return name;
}

} // namespace baseline

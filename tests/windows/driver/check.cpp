#include "check.h"

#include <cstdio>

namespace {
int failures = 0;
int failuresOfTest = 0;
} // namespace

void RunTest(const char* name, void (*test)()) {
    failuresOfTest = 0;
    std::printf("[ RUN  ] %s\n", name);
    std::fflush(stdout);
    test();
    std::printf("[ %s ] %s\n", failuresOfTest ? "FAIL" : " OK ", name);
    std::fflush(stdout);
}

void ReportFailure(const char* file, int line, const std::string& message) {
    ++failures;
    ++failuresOfTest;
    std::printf("%s:%d: failed: %s\n", file, line, message.c_str());
    std::fflush(stdout);
}

int FailureCount() {
    return failures;
}

void Note(const std::string& text) {
    std::printf("         %s\n", text.c_str());
    std::fflush(stdout);
}

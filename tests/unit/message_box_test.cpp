// Message boxes on POSIX: one line on standard error, "<caption>: <text>",
// answered as OK, with control characters made visible.
#include <cstdio>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/test_support.h"

namespace {

// The line a message box writes to standard error.
std::string StandardErrorOf(const char* text, const char* caption, uint32_t type, int* answer) {
    TempDir dir;
    std::string path = dir.File("stderr");
    std::fflush(stderr);
    int saved = dup(2);
    FILE* capture = std::fopen(path.c_str(), "w");
    dup2(fileno(capture), 2);
    PlatformSetMessageBoxRecorder(nullptr);
    *answer = PlatformMessageBox(text, caption, type);
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fclose(capture);
    return ReadFileText(path);
}

TEST(MessageBox, IsOneLineOnStandardErrorAnsweredAsOk) {
    int answer = 0;
    EXPECT_EQ(StandardErrorOf("Cannot delete foo.txt", "Error", 0x30, &answer),
              "Error: Cannot delete foo.txt\n");
    EXPECT_EQ(answer, 1);
}

TEST(MessageBox, ShowsControlCharactersInsteadOfSendingThem) {
    int answer = 0;
    EXPECT_EQ(StandardErrorOf("Cannot delete a\x1B[31mb\nc\x7F", "Error", 0x30, &answer),
              "Error: Cannot delete a\\x1B[31mb\\x0Ac\\x7F\n");
}

} // namespace

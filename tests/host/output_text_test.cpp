// The texts tarnel writes for people and scripts: the progress line and the
// JSON form of member names.
#include <gtest/gtest.h>

#include "host/json_text.h"
#include "host/progress.h"

using host::FormatProgressLine;
using host::JsonString;

TEST(ProgressLine, ShowsShareBytesRateAndName) {
    std::string line =
        FormatProgressLine(512 * 1024, 1024 * 1024, 2.0 * 1024 * 1024, "maps\\a.txt", 200);
    EXPECT_EQ(line, " 50%  512.0 KiB of 1.0 MiB  2.0 MiB/s  maps\\a.txt");
}

TEST(ProgressLine, FitsTheTerminalKeepingTheNamesTail) {
    std::string name(100, 'x');
    name += "tail.bin";
    std::string line = FormatProgressLine(1, 2, 1, name, 60);
    EXPECT_EQ(line.size(), 60u);
    EXPECT_EQ(line.substr(line.size() - 8), "tail.bin");
    EXPECT_NE(line.find("..."), std::string::npos);
    EXPECT_LE(FormatProgressLine(1, 2, 1, name, 10).size(), 10u);
}

TEST(ProgressLine, NeverShowsMoreThanTheWhole) {
    EXPECT_EQ(FormatProgressLine(0, 0, 0, "", 80).substr(0, 4), "100%");
    EXPECT_EQ(FormatProgressLine(300, 200, 0, "", 80).substr(0, 4), "100%");
}

TEST(JsonText, EscapesWhatJsonRequires) {
    EXPECT_EQ(JsonString("maps\\a \"b\".txt"), "\"maps\\\\a \\\"b\\\".txt\"");
    EXPECT_EQ(JsonString("a\nb\x01"), "\"a\\u000ab\\u0001\"");
}

TEST(JsonText, KeepsUtf8AndTurnsOtherBytesIntoCharacters) {
    EXPECT_EQ(JsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
    // A lone Latin-1 byte, a truncated sequence and an overlong form.
    EXPECT_EQ(JsonString("caf\xe9"), "\"caf\\u00e9\"");
    EXPECT_EQ(JsonString("\xc3"), "\"\\u00c3\"");
    EXPECT_EQ(JsonString("\xe0\x80\xaf"), "\"\\u00e0\\u0080\\u00af\"");
}

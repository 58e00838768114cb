// The texts tarnel writes for people and scripts: the progress line, the
// JSON form of member names, names made safe for a terminal and failures
// said once per reason.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "host/failure_tally.h"
#include "host/host_os.h"
#include "host/json_text.h"
#include "host/progress.h"
#include "host/terminal_text.h"

using host::FormatProgressLine;
using host::JsonString;
using host::Printable;

TEST(ProgressLine, ShowsShareBytesRateAndName) {
    std::string line =
        FormatProgressLine(512 * 1024, 1024 * 1024, 2.0 * 1024 * 1024, "maps\\a.txt", 200);
    EXPECT_EQ(line, " 50%  512.0 KiB of 1.0 MiB  2.0 MiB/s  maps\\a.txt");
    EXPECT_EQ(FormatProgressLine(uint64_t{1} << 41, uint64_t{1} << 42, 0, "x", 200),
              " 50%  2.0 TiB of 4.0 TiB  0 B/s  x");
}

TEST(ProgressLine, FitsTheTerminalKeepingTheNamesTail) {
    std::string name(100, 'x');
    name += "tail.bin";
    std::string line = FormatProgressLine(1, 2, 1, name, 60);
    EXPECT_EQ(line.size(), 60u);
    EXPECT_EQ(line.substr(line.size() - 8), "tail.bin");
    EXPECT_NE(line.find("..."), std::string::npos);
    EXPECT_LE(FormatProgressLine(1, 2, 1, name, 10).size(), 10u);
    // A name that just fits is shown whole; one character more and it is cut.
    const size_t figures = FormatProgressLine(1, 2, 1, "", 60).size();
    std::string fits(60 - figures, 'y');
    EXPECT_EQ(FormatProgressLine(1, 2, 1, fits, 60).substr(figures), fits);
    EXPECT_NE(FormatProgressLine(1, 2, 1, fits + "z", 60).find("..."), std::string::npos);
}

TEST(ProgressLine, NeverShowsMoreThanTheWhole) {
    EXPECT_EQ(FormatProgressLine(0, 0, 0, "", 80).substr(0, 4), "100%");
    EXPECT_EQ(FormatProgressLine(300, 200, 0, "", 80).substr(0, 4), "100%");
}

// While files are added, each counts as done once the plug-in reports the
// next; a report after the last one brings the bar to the whole.
TEST(ProgressLine, EachFileOfAnAddCountsOnceThePluginGoesOn) {
    std::FILE* stream = host::MessageStream();
    std::fflush(stream);
    const int descriptor = fileno(stream);
    const int saved = dup(descriptor);
    std::FILE* drawn = std::tmpfile();
    ASSERT_NE(drawn, nullptr);
    ASSERT_GE(dup2(fileno(drawn), descriptor), 0);
    host::SetProgressBarEnabled(true);
    char name[] = "b";
    // A report right after the start draws nothing: a quick operation shows
    // no bar.
    host::BeginByteProgress(1000);
    EXPECT_EQ(host::OnProgress(name, 10), 1);
    host::BeginFileProgress({100, 200}, {"a", "b"});
    for (int report = 0; report < 3; ++report) {
        // Past the time between two drawings of the bar.
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        EXPECT_EQ(host::OnProgress(name, 0), 1);
    }
    // While extracting, a negative size is a percentage the plug-in gives,
    // not bytes done.
    host::BeginByteProgress(400);
    for (int size : {100, -50}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        EXPECT_EQ(host::OnProgress(name, size), 1);
    }
    host::EndProgress();
    host::SetProgressBarEnabled(false);
    std::fflush(stream);
    dup2(saved, descriptor);
    close(saved);
    std::string text;
    std::rewind(drawn);
    for (int c; (c = std::fgetc(drawn)) != EOF;) {
        text += static_cast<char>(c);
    }
    std::fclose(drawn);
    EXPECT_NE(text.find("\r  0%  0 B of 300 B"), std::string::npos) << text;
    EXPECT_NE(text.find("\r 33%  100 B of 300 B"), std::string::npos) << text;
    EXPECT_NE(text.find("\r100%  300 B of 300 B"), std::string::npos) << text;
    EXPECT_EQ(text.find("of 1000 B"), std::string::npos) << text;
    const std::string quarter = "\r 25%  100 B of 400 B";
    const size_t first = text.find(quarter);
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find(quarter, first + 1), std::string::npos) << "drawn twice: " << text;
}

TEST(JsonText, EscapesWhatJsonRequires) {
    EXPECT_EQ(JsonString("maps\\a \"b\".txt"), "\"maps\\\\a \\\"b\\\".txt\"");
    EXPECT_EQ(JsonString("a\nb\x01"), "\"a\\u000ab\\u0001\"");
}

// DEL too, which JSON allows raw, since the text may end on a terminal.
TEST(JsonText, EscapesEveryControlCharacterUpToItsEdges) {
    EXPECT_EQ(JsonString("\x1f \x7e\x7f"), "\"\\u001f ~\\u007f\"");
}

TEST(JsonText, KeepsUtf8AndTurnsOtherBytesIntoCharacters) {
    EXPECT_EQ(JsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
    // A lone Latin-1 byte, a truncated sequence and an overlong form.
    EXPECT_EQ(JsonString("caf\xe9"), "\"caf\\u00e9\"");
    EXPECT_EQ(JsonString("\xc3"), "\"\\u00c3\"");
    EXPECT_EQ(JsonString("\xe0\x80\xaf"), "\"\\u00e0\\u0080\\u00af\"");
    // At the edges of what UTF-8 may encode: the first three-byte character
    // and the overlong form of the last two-byte one, the last character
    // before the surrogates and the first one, the first four-byte character
    // and its overlong form, the last character of all and the first beyond
    // it.
    const struct {
        const char* text;
        const char* json;
    } edges[] = {
        {"\xc1\xbf", "\"\\u00c1\\u00bf\""}, // the overlong form of the last one-byte one
        {"\xe0\xa0\x80", "\"\xe0\xa0\x80\""},
        {"\xe0\x9f\xbf", "\"\\u00e0\\u009f\\u00bf\""},
        {"\xed\x9f\xbf", "\"\xed\x9f\xbf\""},
        {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},
        {"\xf0\x90\x80\x80", "\"\xf0\x90\x80\x80\""},
        {"\xf0\x8f\xbf\xbf", "\"\\u00f0\\u008f\\u00bf\\u00bf\""},
        {"\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},
        {"\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},
        // Bytes that begin no sequence at all, before continuation bytes.
        {"\xf5\x80\x80", "\"\\u00f5\\u0080\\u0080\""},
        {"\xf5\x80\x80\x80", "\"\\u00f5\\u0080\\u0080\\u0080\""},
        {"\xf8\x88\x80", "\"\\u00f8\\u0088\\u0080\""},
        {"\xff\xbf\xbf", "\"\\u00ff\\u00bf\\u00bf\""},
    };
    for (const auto& edge : edges) {
        EXPECT_EQ(JsonString(edge.text), edge.json);
    }
}

TEST(TerminalText, ControlCharactersAreShownAsHex) {
    // A colour change, a window title, a forged line, a backspace and DEL.
    EXPECT_EQ(Printable("\x1b[31mred.txt"), "\\x1B[31mred.txt");
    EXPECT_EQ(Printable("\x1b]0;owned\x07"), "\\x1B]0;owned\\x07");
    EXPECT_EQ(Printable("a\nb\rc\bd\x7f"), "a\\x0Ab\\x0Dc\\x08d\\x7F");
    EXPECT_EQ(Printable(std::string("nul\0x", 5)), "nul\\x00x");
}

TEST(TerminalText, OrdinaryTextAndUtf8AreKept) {
    EXPECT_EQ(Printable("maps\\a b~.txt"), "maps\\a b~.txt");
    EXPECT_EQ(Printable("caf\xc3\xa9 \xe2\x82\xac"), "caf\xc3\xa9 \xe2\x82\xac");
    // A lone byte of a code page other than UTF-8.
    EXPECT_EQ(Printable("caf\xe9"), "caf\xe9");
#if !defined(_WIN32)
    // U+009B, the one-character form of ESC [ that some terminals obey.
    EXPECT_EQ(Printable("a\xc2\x9b"
                        "31mb"),
              "a\\xC2\\x9B31mb");
    EXPECT_EQ(Printable("\xc2\xa0"), "\xc2\xa0"); // no-break space
#endif
}

// Where names are UTF-8, all of U+0080 to U+009F, and nothing beside them.
TEST(TerminalText, EveryC1ControlCharacterIsShownAsHex) {
    if (!host::kNamesAreUtf8) {
        GTEST_SKIP() << "names are not UTF-8 here";
    }
    EXPECT_EQ(Printable("\xc2\x80|\xc2\x9f"), "\\xC2\\x80|\\xC2\\x9F");
    EXPECT_EQ(Printable("\xc2\x7f"), "\xc2\\x7F");
}

TEST(FailureTally, EachReasonOnceInTheOrderItCame) {
    host::FailureTally tally("members", "not extracted");
    EXPECT_TRUE(tally.Lines().empty());
    for (int i = 0; i < 341; ++i) {
        tally.Add("m" + std::to_string(i), "rodir: Permission denied");
        if (i == 7) {
            tally.Add("big.bin", "out: No space left on device");
        }
    }
    tally.Add("odd.txt", "reading or writing member data failed");
    EXPECT_EQ(tally.count(), 343u);
    EXPECT_EQ(tally.Lines(), (std::vector<std::string>{
                                 "341 members not extracted: rodir: Permission denied",
                                 "big.bin: not extracted: out: No space left on device",
                                 "odd.txt: not extracted: reading or writing member data failed"}));
}

// Message boxes on POSIX: one line on standard error, "<caption>: <text>",
// answered as OK, with control characters made visible; without a terminal
// and in a graphical session, a box of the desktop's own through zenity or
// kdialog.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/child_process_posix.h"
#include "platform/platform.h"
#include "support/fake_desktop.h"
#include "support/test_support.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

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
    ScopedVariable display("DISPLAY", nullptr);
    ScopedVariable wayland("WAYLAND_DISPLAY", nullptr);
    int answer = 0;
    EXPECT_EQ(StandardErrorOf("Cannot delete foo.txt", "Error", 0x30, &answer),
              "Error: Cannot delete foo.txt\n");
    EXPECT_EQ(answer, 1);
    answer = 0;
    EXPECT_EQ(StandardErrorOf(nullptr, nullptr, 0x30, &answer), ": \n");
    EXPECT_EQ(answer, 1);
    // A recorder takes the box instead, and its answer is the box's.
    PlatformSetMessageBoxRecorder([](const char* text, const char* caption, uint32_t type) {
        return std::string(text) == "t" && std::string(caption) == "" && type == 0x30 ? 2 : 3;
    });
    EXPECT_EQ(PlatformMessageBox("t", nullptr, 0x30), 2);
    PlatformSetMessageBoxRecorder(nullptr);
}

TEST(MessageBox, ShowsControlCharactersInsteadOfSendingThem) {
    ScopedVariable display("DISPLAY", nullptr);
    ScopedVariable wayland("WAYLAND_DISPLAY", nullptr);
    int answer = 0;
    EXPECT_EQ(StandardErrorOf("Cannot delete a\x1B[31mb\nc\x7F", "Error", 0x30, &answer),
              "Error: Cannot delete a\\x1B[31mb\\x0Ac\\x7F\n");
    // The C1 controls of UTF-8 (CSI is U+009B) too; the letters around them
    // stay as they are.
    EXPECT_EQ(StandardErrorOf("\xC2\x9B"
                              "31m\xC2\x80\xC2\x9F\xC2\xA0\xC3\xA9\xC2",
                              "Error", 0x30, &answer),
              "Error: \\xC2\\x9B"
              "31m\\xC2\\x80\\xC2\\x9F\xC2\xA0\xC3\xA9\xC2\n");
}

// A message box shown in a child process without a terminal: its answer,
// and what it wrote to standard error.
int ShowDetached(
    const char* text, uint32_t type, std::string* errors, bool terminal = false,
    const std::function<void()>& before = [] {}, const char* caption = "Error") {
    return RunWithoutTerminal(
        [&] {
            PlatformSetMessageBoxRecorder(nullptr);
            before();
            return PlatformMessageBox(text, caption, type);
        },
        terminal, errors);
}

using Call = std::vector<std::string>;

TEST(DesktopMessageBox, WithoutATerminalTheDesktopShowsTheBoxWithItsIcon) {
    FakeDesktop desktop;
    std::string errors;
    const struct {
        uint32_t type;
        const char* kind;
    } kinds[] = {{kMessageBoxIconWarning, "--warning"},
                 {kMessageBoxIconError, "--error"},
                 {0x40, "--info"},
                 {0, "--info"},
                 {kMessageBoxIconWarning | 0x1, "--warning"},
                 {kMessageBoxIconError | 0x4, "--error"}};
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.kind);
        EXPECT_EQ(ShowDetached("Cannot delete docs\\a.txt", kind.type, &errors), 1);
        EXPECT_EQ(errors, "");
    }
    std::vector<Call> calls = desktop.Calls();
    ASSERT_EQ(calls.size(), sizeof kinds / sizeof kinds[0]);
    for (size_t i = 0; i < calls.size(); ++i) {
        // Backslashes and markup stay as they are: no markup, no escapes.
        EXPECT_EQ(calls[i], (Call{"zenity", kinds[i].kind, "--no-markup", "--title=Error",
                                  "--text=Cannot delete docs\\a.txt"}));
    }
}

TEST(DesktopMessageBox, TextIsValidUtf8WithControlCharactersAndOtherBytesShownAsOnTheTerminal) {
    FakeDesktop desktop;
    std::string errors;
    // A lead byte where a continuation byte belongs starts a character of its
    // own. The surrogates from first to last, between the characters around them;
    // an overlong two-byte sequence is no character either, nor one beyond
    // U+10FFFF.
    ShowDetached("a\x1B[31m <b>\xC3\xA9</b> \xFF\xC3\xC3\xA9(\xE2\x82 \xED\x9F\xBF\xED\xA0\x80"
                 "\xED\xBF\xBF\xEE\x80\x80 \xF0\x9F\x98\x80 \xF4\x90\x80\x80 \xC1\xBF\x7F\n",
                 kMessageBoxIconWarning, &errors);
    ASSERT_EQ(desktop.Calls().size(), 1u);
    EXPECT_EQ(desktop.Calls()[0].back(),
              "--text=a\\x1B[31m <b>\xC3\xA9</b> \\xFF\\xC3\xC3\xA9(\\xE2\\x82 \xED\x9F\xBF"
              "\\xED\\xA0\\x80\\xED\\xBF\\xBF\xEE\x80\x80 \xF0\x9F\x98\x80 \\xF4\\x90\\x80\\x80 "
              "\\xC1\\xBF\\x7F\\x0A");
    // Longer than any message of the plug-in: cut, never overrun.
    std::string huge(20000, '\x01');
    ShowDetached(huge.c_str(), kMessageBoxIconWarning, &errors);
    ASSERT_EQ(desktop.Calls().size(), 2u);
    const std::string shown = desktop.Calls()[1].back();
    EXPECT_GE(shown.size(), 4000u);
    EXPECT_LE(shown.size(), 4200u);
    EXPECT_EQ(shown.compare(shown.size() - 4, 4, "\\x01"), 0);
    // The first and last character of each length pass; a shorter form of
    // one (overlong) and a five-byte lead do not. The caption is converted
    // the same way.
    const std::string edges = "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80"
                              "\xF4\x8F\xBF\xBF";
    EXPECT_EQ(ShowDetached((edges + "\xE0\x9F\xBF\xF0\x8F\xBF\xBF\xFB\xBF\xBF\xBF").c_str(),
                           kMessageBoxIconWarning, &errors, false, [] {}, "a\x1B\xC3"),
              1);
    ASSERT_EQ(desktop.Calls().size(), 3u);
    EXPECT_EQ(desktop.Calls()[2][3], "--title=a\\x1B\\xC3");
    EXPECT_EQ(desktop.Calls()[2][4], "--text=" + edges +
                                         "\\xE0\\x9F\\xBF\\xF0\\x8F\\xBF\\xBF"
                                         "\\xFB\\xBF\\xBF\\xBF");
}

TEST(DesktopMessageBox, KdialogShowsTheBoxWhenThereIsNoZenity) {
    FakeDesktop desktop({"kdialog"});
    std::string errors;
    EXPECT_EQ(ShowDetached("<a href=x>&amp;</a>", kMessageBoxIconWarning, &errors), 1);
    EXPECT_EQ(ShowDetached("Cannot find SFMpq.dll!", kMessageBoxIconError, &errors), 1);
    EXPECT_EQ(ShowDetached(
                  "Done", 0x40, &errors, false, [] {}, "a\x1B"),
              1);
    EXPECT_EQ(errors, "");
    // Rich text with every markup character written as an entity: it shows
    // exactly as given.
    EXPECT_THAT(desktop.Calls(),
                ElementsAre(Call{"kdialog", "--title", "Error", "--sorry",
                                 "<qt>&lt;a href=x&gt;&amp;amp;&lt;/a&gt;</qt>"},
                            Call{"kdialog", "--title", "Error", "--error",
                                 "<qt>Cannot find SFMpq.dll!</qt>"},
                            Call{"kdialog", "--title", "a\\x1B", "--msgbox", "<qt>Done</qt>"}));
    // Entities that would not fit are left out whole; the end tag stays.
    EXPECT_EQ(ShowDetached(std::string(2000, '<').c_str(), 0x40, &errors), 1);
    ASSERT_EQ(desktop.Calls().size(), 4u);
    const std::string rich = desktop.Calls()[3].back();
    EXPECT_GT(rich.size(), 4000u);
    EXPECT_LT(rich.size(), 4300u);
    EXPECT_EQ(rich.substr(0, 8), "<qt>&lt;");
    EXPECT_EQ(rich.substr(rich.size() - 9), "&lt;</qt>");
}

TEST(DesktopMessageBox, StandardErrorTakesTheBoxWheneverTheDesktopCannot) {
    std::string errors;
    const std::string line = "Error: Cannot delete a.txt\n";
    {
        SCOPED_TRACE("a terminal on standard error");
        FakeDesktop desktop;
        EXPECT_EQ(ShowDetached("Cannot delete a.txt", 0x30, &errors, true), 1);
        EXPECT_EQ(errors, "Error: Cannot delete a.txt\r\n");
        EXPECT_THAT(desktop.Calls(), IsEmpty());
    }
    // No graphical session: an empty DISPLAY, or an empty WAYLAND_DISPLAY
    // and no DISPLAY.
    const struct {
        const char* display;
        const char* wayland;
    } sessions[] = {{"", nullptr}, {nullptr, ""}};
    for (const auto& session : sessions) {
        SCOPED_TRACE(session.display ? "an empty DISPLAY" : "an empty WAYLAND_DISPLAY");
        FakeDesktop desktop;
        ScopedVariable display("DISPLAY", session.display);
        ScopedVariable wayland("WAYLAND_DISPLAY", session.wayland);
        EXPECT_EQ(ShowDetached("Cannot delete a.txt", 0x30, &errors), 1);
        EXPECT_EQ(errors, line);
        EXPECT_THAT(desktop.Calls(), IsEmpty());
    }
    {
        SCOPED_TRACE("a controlling terminal, standard error elsewhere");
        FakeDesktop desktop;
        EXPECT_EQ(ShowDetached("Cannot delete a.txt", 0x30, &errors, false,
                               [] {
                                   // The session's first terminal becomes its
                                   // controlling one.
                                   int master = posix_openpt(O_RDWR | O_NOCTTY);
                                   grantpt(master);
                                   unlockpt(master);
                                   open(ptsname(master), O_RDWR);
                               }),
                  1);
        EXPECT_EQ(errors, line);
        EXPECT_THAT(desktop.Calls(), IsEmpty());
    }
    {
        SCOPED_TRACE("neither program");
        FakeDesktop desktop(std::vector<std::string>{});
        EXPECT_EQ(ShowDetached("Cannot delete a.txt", 0x30, &errors), 1);
        EXPECT_EQ(errors, line);
    }
    {
        SCOPED_TRACE("both programs fail (no display)");
        FakeDesktop desktop;
        desktop.Answer(255);
        EXPECT_EQ(ShowDetached("Cannot delete a.txt", 0x30, &errors), 1);
        EXPECT_EQ(errors, line);
        EXPECT_EQ(desktop.Calls().size(), 2u);
    }
    {
        SCOPED_TRACE("both programs are killed before they show anything");
        FakeDesktop desktop;
        desktop.Answer(FakeDesktop::kKilled);
        EXPECT_EQ(ShowDetached("Cannot delete a.txt", 0x30, &errors), 1);
        EXPECT_EQ(errors, line);
        EXPECT_EQ(desktop.Calls().size(), 2u);
    }
    // Zenity fails (255): kdialog shows it. Zenity's box closed without its
    // button (1) was shown all the same.
    for (const auto& zenity : {std::make_pair(255, size_t(2)), std::make_pair(1, size_t(1))}) {
        SCOPED_TRACE(zenity.first);
        FakeDesktop desktop;
        desktop.AnswerZenity(zenity.first);
        EXPECT_EQ(ShowDetached("Cannot delete a.txt", 0x30, &errors), 1);
        EXPECT_EQ(errors, "");
        EXPECT_EQ(desktop.Calls().size(), zenity.second);
    }
}

TEST(DesktopMessageBox, ShownFromAnyThreadAndWhateverTheHostDoesWithItsChildren) {
    FakeDesktop desktop;
    ScopedVariable wayland("WAYLAND_DISPLAY", "wayland-0");
    ScopedVariable display("DISPLAY", nullptr);
    std::string errors;
    // From a worker thread of the host.
    EXPECT_EQ(RunWithoutTerminal(
                  [] {
                      PlatformSetMessageBoxRecorder(nullptr);
                      int answer = 0;
                      std::thread worker(
                          [&] { answer = PlatformMessageBox("from a worker", "Error", 0x30); });
                      worker.join();
                      return answer;
                  },
                  false, &errors),
              1);
    // A host that reaps its children itself, or ignores them; a host that
    // ignores SIGPIPE and blocks SIGTERM, and reads a file of its own as
    // standard input.
    EXPECT_EQ(ShowDetached("reaped by the host", 0x30, &errors, false,
                           [] { std::signal(SIGCHLD, SIG_IGN); }),
              1);
    TempDir dir;
    ScopedVariable signals("FAKE_DESKTOP_SIGNALS", dir.File("blocked").c_str());
    ScopedVariable ignored("FAKE_DESKTOP_IGNORED", dir.File("ignored").c_str());
    ScopedVariable input("FAKE_DESKTOP_INPUT", dir.File("input").c_str());
    WriteFileText(dir.File("typed"), "yes\n");
    EXPECT_EQ(ShowDetached("signals", 0x30, &errors, false,
                           [&] {
                               dup2(open(dir.File("typed").c_str(), O_RDONLY | O_CLOEXEC),
                                    STDIN_FILENO);
                               std::signal(SIGPIPE, SIG_IGN);
                               sigset_t blocked;
                               sigemptyset(&blocked);
                               sigaddset(&blocked, SIGTERM);
                               sigprocmask(SIG_BLOCK, &blocked, nullptr);
                           }),
              1);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(desktop.Calls().size(), 3u);
    EXPECT_EQ(ReadFileText(dir.File("blocked")), "0000000000000000\n") << "blocks nothing";
    // Of the standard signals (1 to 31, the low bits; the C library keeps
    // some real-time ones for itself), none is ignored.
    EXPECT_EQ(std::stoull(ReadFileText(dir.File("ignored")), nullptr, 16) & 0x7FFFFFFFu, 0u)
        << "ignores none of the host's ignored signals";
    EXPECT_EQ(ReadFileText(dir.File("input")), "/dev/null\n") << "reads nothing of the host's";
}

// Only absolute folders of PATH are searched for a helper program: a
// relative entry would run whatever the host's current folder holds.
TEST(DesktopMessageBox, HelperProgramsAreLookedForOnlyInAbsoluteFoldersOfPath) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("bin").c_str(), 0700), 0);
    WriteFileText(dir.File("bin/zenity"), "#!/bin/sh\n");
    ASSERT_EQ(chmod(dir.File("bin/zenity").c_str(), 0700), 0);
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    char found[4096];
    for (const char* path : {"bin", "./bin", ":bin:", "bin/"}) {
        ScopedVariable variable("PATH", path);
        EXPECT_FALSE(FindProgramOnPath("zenity", found, sizeof found)) << path;
    }
    {
        // Nor a name with a folder in it, nor no name; nor without PATH.
        ScopedVariable variable("PATH", dir.path().c_str());
        EXPECT_FALSE(FindProgramOnPath("bin/zenity", found, sizeof found));
        EXPECT_FALSE(FindProgramOnPath("", found, sizeof found));
        ScopedVariable unset("PATH", nullptr);
        EXPECT_FALSE(FindProgramOnPath("zenity", found, sizeof found));
    }
    {
        ScopedVariable variable("PATH", ("bin:" + dir.File("bin")).c_str());
        EXPECT_TRUE(FindProgramOnPath("zenity", found, sizeof found));
        EXPECT_EQ(std::string(found), dir.File("bin/zenity"));
        // A buffer with room for the path but not its terminating zero is
        // left alone, past its end too.
        const size_t length = dir.File("bin/zenity").size();
        std::string buffer(length + 2, '#');
        EXPECT_FALSE(FindProgramOnPath("zenity", &buffer[0], length));
        EXPECT_EQ(buffer.substr(length), "##");
        EXPECT_TRUE(FindProgramOnPath("zenity", &buffer[0], length + 1));
        EXPECT_EQ(buffer.c_str(), dir.File("bin/zenity"));
    }
    // Nor is a folder that merely has the program's name taken for it, nor a
    // file of that name that may not be run.
    ASSERT_EQ(mkdir(dir.File("folders").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.File("folders/zenity").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.File("plain").c_str(), 0700), 0);
    WriteFileText(dir.File("plain/zenity"), "#!/bin/sh\n");
    ASSERT_EQ(chmod(dir.File("plain/zenity").c_str(), 0600), 0);
    {
        ScopedVariable variable(
            "PATH",
            (dir.File("folders") + ":" + dir.File("plain") + ":" + dir.File("bin")).c_str());
        EXPECT_TRUE(FindProgramOnPath("zenity", found, sizeof found));
        EXPECT_EQ(std::string(found), dir.File("bin/zenity"));
    }
    {
        // Found nowhere: no path, not the last one tried.
        ScopedVariable variable("PATH", (dir.File("folders") + ":" + dir.File("plain")).c_str());
        EXPECT_FALSE(FindProgramOnPath("zenity", found, sizeof found));
        EXPECT_STREQ(found, "");
    }
    ASSERT_EQ(chdir(saved), 0);
}

} // namespace

// A helper program gets the host's standard descriptors only: one the host
// opened without close-on-exec stays the host's.
TEST(DesktopMessageBox, HelperProgramsInheritNoOtherDescriptorOfTheHost) {
    int kept = open("/dev/null", O_RDONLY);
    ASSERT_GT(kept, 2);
    const std::string probe = "[ -e /proc/$$/fd/" + std::to_string(kept) + " ] && echo open";
    const char* argv[] = {"/bin/sh", "-c", probe.c_str(), nullptr};
    char output[64];
    RunProgram(argv, output, sizeof output);
    EXPECT_STREQ(output, "");
    close(kept);
}

// A signal the host handles without SA_RESTART interrupts the reading of a
// helper program's output and the wait for its end; both go on.
TEST(DesktopMessageBox, HelperProgramsAreReadAndWaitedForThroughSignals) {
    struct sigaction action = {};
    action.sa_handler = [](int) {};
    ASSERT_EQ(sigaction(SIGALRM, &action, nullptr), 0);
    struct itimerval every = {{0, 5000}, {0, 5000}};
    setitimer(ITIMER_REAL, &every, nullptr);
    const char* argv[] = {"/bin/sh", "-c", "sleep 0.1; echo done; exec >&-; sleep 0.1", nullptr};
    char output[64];
    int status = RunProgram(argv, output, sizeof output);
    struct itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    std::signal(SIGALRM, SIG_DFL);
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(output, "done\n");
}

// What a helper program writes reaches the host's standard output and error
// never: its output is read or dropped, its errors are dropped.
TEST(DesktopMessageBox, HelperProgramsWriteNothingOnTheHostsOutputs) {
    std::string errors;
    EXPECT_EQ(RunWithoutTerminal(
                  [] {
                      dup2(STDERR_FILENO, STDOUT_FILENO);
                      const char* argv[] = {"/bin/sh", "-c", "echo out; echo err >&2", nullptr};
                      char output[8] = "keep";
                      int first = RunProgram(argv, nullptr, 0);
                      int second = RunProgram(argv, output, 0);
                      bool kept = std::string(output) == "keep";
                      int third = RunProgram(argv, output, 3);
                      return first == 0 && second == 0 && kept && third == 0 &&
                                     std::string(output) == "ou"
                                 ? 0
                                 : 1;
                  },
                  false, &errors),
              0);
    EXPECT_EQ(errors, "");
}

// A helper program may write all it has: output longer than the buffer is
// read to its end, so that the program finishes instead of dying on a closed
// pipe, and output that is dropped goes to a file it can write. Running it
// leaves no descriptor open in the host.
TEST(DesktopMessageBox, HelperProgramsWriteAllTheirOutputAndLeaveNoDescriptor) {
    const char* argv[] = {"/bin/sh", "-c", "head -c 300000 /dev/zero | tr '\\000' x", nullptr};
    const size_t descriptors = OpenDescriptorCount();
    char output[16];
    EXPECT_EQ(RunProgram(argv, output, sizeof output), 0);
    EXPECT_EQ(std::string(output), std::string(15, 'x'));
    const char* dropped[] = {"/bin/sh", "-c", "echo dropped", nullptr};
    EXPECT_EQ(RunProgram(dropped, nullptr, 0), 0);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

// Ctrl+C (SIGINT), or a request to terminate, in the middle of a large
// extraction or a move into an archive, or a reader that closes the pipe the
// command writes to: the command stops at its next progress report and
// exits cleanly.
// An extraction leaves no partial file, and a file that was there before
// keeps its content; a move leaves every file either in the archive or on
// disk.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tarnel_runner.h"

namespace {

// True when `folder` holds a file that is not one of `names` (the
// plug-in's temporary file of a member in progress).
bool HoldsOtherFile(const std::string& folder, const std::vector<std::string>& names) {
    for (const std::string& file : FilesBelow(folder)) {
        if (std::find(names.begin(), names.end(), file) == names.end()) {
            return true;
        }
    }
    return false;
}

// An archive of stored members, so that extraction is disk-bound and long
// enough to be caught in the middle.
const size_t kMemberSize = 48u << 20;

std::vector<std::string> MakeLargeArchive(const std::string& archive) {
    std::vector<ArchiveMember> members;
    std::vector<std::string> names;
    for (char c = 'a'; c <= 'f'; ++c) {
        std::string name = std::string("part-") + c + ".bin";
        members.push_back({name, std::string(kMemberSize, c), false});
        names.push_back(name);
    }
    MakeArchive(archive, members);
    return names;
}

// Starts extracting `archive` into `out` and waits until a member is being
// written. Returns the process, or 0 when the extraction never started.
pid_t StartExtractionAndWait(const Scratch& scratch, const std::string& archive,
                             const std::string& out, bool hangupIgnored = false) {
    std::vector<std::string> args = {"extract", archive, "-C", out};
    pid_t pid =
        hangupIgnored ? StartTarnelWithHangupIgnored(scratch, args) : StartTarnel(scratch, args);
    if (pid <= 0) {
        return 0;
    }
    std::vector<std::string> known = {"part-f.bin"};
    for (int i = 0; i < 20000; ++i) {
        if (HoldsOtherFile(out, known)) {
            return pid;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    kill(pid, SIGKILL);
    FinishTarnel(scratch, pid);
    return 0;
}

// Extracts a large archive, sends `signal` in the middle and checks that
// the command stopped cleanly: no partial file, and the old copy of a
// member untouched.
void CheckExtractionStopsCleanlyOn(int signal) {
    SCOPED_TRACE("signal " + std::to_string(signal));
    Scratch scratch;
    std::string archive = scratch / "big.mpq";
    std::vector<std::string> names = MakeLargeArchive(archive);
    std::string out = scratch / "out";
    // An old copy of the last member, which a stop must not damage.
    WriteFile(out + "/part-f.bin", "old content");

    pid_t pid = StartExtractionAndWait(scratch, archive, out);
    ASSERT_GT(pid, 0) << "the extraction never started";
    kill(pid, signal);
    RunResult result = FinishTarnel(scratch, pid);

    EXPECT_FALSE(result.signaled);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("stopped"), std::string::npos) << result.err;
    // The stop is acknowledged at once, among the messages.
    EXPECT_NE(result.err.find("tarnel: stopping...\n"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    // Every file present is a complete member, or the untouched old one.
    std::vector<std::string> present = FilesBelow(out);
    EXPECT_LT(present.size(), names.size() + 1) << "the stop came too late to test anything";
    for (const std::string& file : present) {
        std::string content = ReadFile(out + "/" + file);
        if (file == "part-f.bin" && content == "old content") {
            continue;
        }
        ASSERT_EQ(std::find(names.begin(), names.end(), file) != names.end(), true)
            << "left behind: " << file;
        EXPECT_EQ(content.size(), kMemberSize) << file;
        EXPECT_EQ(content.find_first_not_of(file[5]), std::string::npos) << file;
    }
    EXPECT_EQ(ReadFile(out + "/part-f.bin"), "old content");
}

// Sends `first` and `second` to `pid` while it is held stopped, so that
// both are pending when it goes on: it cannot act on the first before the
// second arrives, as when it is stuck inside the library.
void SendTwoSignalsAtOnce(pid_t pid, int first, int second) {
    kill(pid, SIGSTOP);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
    ASSERT_TRUE(WIFSTOPPED(status));
    kill(pid, first);
    kill(pid, second);
    kill(pid, SIGCONT);
}

} // namespace

TEST(Interrupt, CtrlCInALargeExtractionLeavesNoPartialFile) {
    CheckExtractionStopsCleanlyOn(SIGINT);
}

TEST(Interrupt, TerminationAndHangupStopAnExtractionAsCleanlyAsCtrlC) {
    CheckExtractionStopsCleanlyOn(SIGTERM);
    CheckExtractionStopsCleanlyOn(SIGHUP);
}

namespace {

// `command` run on an archive of the scripted plug-in that reports `members`,
// sent Ctrl+C after `afterMs` milliseconds.
RunResult InterruptedScriptedCommand(const char* command, const std::string& members, int afterMs) {
    Scratch scratch;
    WriteFile(scratch / "a.mpq", std::string("MPQ\x1A\x20", 5) + std::string(27, '\0'));
    RunOptions slow;
    slow.environment = {"TARNEL_SCRIPTED_MEMBERS=" + members};
    pid_t pid = StartTarnelWith(
        scratch, {"--plugin", TARNEL_SCRIPTED_PLUGIN, command, scratch / "a.mpq"}, slow);
    EXPECT_GT(pid, 0);
    if (pid <= 0) {
        return RunResult();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
    kill(pid, SIGINT);
    return FinishTarnel(scratch, pid);
}

} // namespace

// A listing writes nothing, so it keeps the usual Ctrl+C: the command ends
// at once, also while the plug-in takes its time over the next member.
TEST(Interrupt, CtrlCEndsAListingAtOnce) {
    RunResult result = InterruptedScriptedCommand("list", "a.txt=1|~5000|b.txt=1", 1000);
    EXPECT_TRUE(result.signaled) << "exit status " << result.status << "\n" << result.err;
}

// A test stopped in the middle of a member counts only the members before.
TEST(Interrupt, AStoppedTestCountsTheMembersItFinished) {
    RunResult result = InterruptedScriptedCommand("test", "a.txt=1|b.txt=1@5000|c.txt=1", 1500);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("tarnel: stopped by the user after 1 members\n"), std::string::npos)
        << result.err;
}

TEST(Interrupt, ASecondSignalEndsTheCommandAtOnce) {
    Scratch scratch;
    std::string archive = scratch / "big.mpq";
    MakeLargeArchive(archive);
    pid_t pid = StartExtractionAndWait(scratch, archive, scratch / "out");
    ASSERT_GT(pid, 0) << "the extraction never started";
    SendTwoSignalsAtOnce(pid, SIGINT, SIGTERM);
    RunResult result = FinishTarnel(scratch, pid);
    EXPECT_TRUE(result.signaled) << "exit status " << result.status << "\n" << result.err;
}

TEST(Interrupt, ASignalIgnoredAtTheStartStaysIgnored) {
    // Under nohup SIGHUP neither stops nor ends the command: the SIGINT
    // that arrives with it is the first stop, handled cleanly.
    Scratch scratch;
    std::string archive = scratch / "big.mpq";
    MakeLargeArchive(archive);
    pid_t pid = StartExtractionAndWait(scratch, archive, scratch / "out", true);
    ASSERT_GT(pid, 0) << "the extraction never started";
    SendTwoSignalsAtOnce(pid, SIGHUP, SIGINT);
    RunResult result = FinishTarnel(scratch, pid);
    EXPECT_FALSE(result.signaled);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("stopped by the user"), std::string::npos) << result.err;
}

namespace {

// How a move that was sent Ctrl+C ended.
enum class MoveEnd {
    Stopped,      // cleanly, at a file: the case to test
    RanToItsEnd,  // before the signal arrived
    EnginesEnded, // its finishing took longer than the stop's grace time
};

// One move of 40 files of 3 MiB, stopped with Ctrl+C as soon as the archive
// is being written. Returns how it ended; *inArchive is how many of the
// files went into the archive.
MoveEnd MoveStoppedByCtrlC(const Scratch& scratch, size_t* inArchive) {
    std::string archive = scratch / "moved.mpq";
    std::vector<std::string> names;
    std::string block;
    for (int i = 0; block.size() < (3u << 20); ++i) {
        block += std::to_string(i * 2654435761u) + ",";
    }
    for (int i = 0; i < 40; ++i) {
        std::string name = "file" + std::to_string(100 + i) + ".dat";
        WriteFile(scratch / ("src/" + name), block + name);
        names.push_back(name);
    }
    pid_t pid = StartTarnel(scratch, {"add", archive, "--move", "-C", scratch / "src", "."});
    *inArchive = 0;
    EXPECT_GT(pid, 0);
    if (pid <= 0) {
        return MoveEnd::Stopped;
    }
    // Wait until the archive is being written (the library's working copy
    // of it, or the archive, exists).
    bool caught = false;
    for (int i = 0; i < 20000 && !caught; ++i) {
        for (const std::string& file : FilesBelow(scratch.path())) {
            caught = caught || file.find("moved.mpq") != std::string::npos;
        }
        if (!caught) {
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
    }
    EXPECT_TRUE(caught) << "the update never started";
    kill(pid, SIGINT);
    RunResult result = FinishTarnel(scratch, pid);
    // On a busy machine the move may end before the signal arrives, or
    // finishing the update after the stop may outlast the half second after
    // which the command ends the library's engines. Then the update is
    // discarded whole: every file is still where it was.
    if (!result.signaled && result.status == 0) {
        return MoveEnd::RanToItsEnd;
    }
    if (result.status == 2 && result.err.find("Input/output error") != std::string::npos) {
        for (const std::string& name : names) {
            EXPECT_EQ(ReadFile(scratch / ("src/" + name)), block + name);
        }
        return MoveEnd::EnginesEnded;
    }
    EXPECT_FALSE(result.signaled);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("stopped by the user"), std::string::npos) << result.err;

    // The archive is whole, and each file is in it or still on disk.
    RunResult test = RunTarnel(scratch, {"test", archive});
    EXPECT_EQ(test.status, 0) << test.err;
    RunResult extract = RunTarnel(scratch, {"extract", archive, "-C", scratch / "back"});
    EXPECT_EQ(extract.status, 0) << extract.err;
    for (const std::string& name : names) {
        bool onDisk = Exists(scratch / ("src/" + name));
        bool archived = Exists(scratch / ("back/" + name));
        EXPECT_NE(onDisk, archived) << name;
        if (archived) {
            EXPECT_EQ(ReadFile(scratch / ("back/" + name)), block + name);
            ++*inArchive;
        }
    }
    EXPECT_NE(result.err.find("stopped by the user; " + std::to_string(names.size() - *inArchive) +
                              " files were not added"),
              std::string::npos)
        << result.err;
    return MoveEnd::Stopped;
}

} // namespace

TEST(Interrupt, CtrlCInAMoveKeepsEveryFileInTheArchiveOrOnDisk) {
    // A stop that comes after the last file, or whose update the command
    // had to end, tests no clean stop: tried again.
    bool stoppedInTime = false;
    for (int attempt = 0; attempt < 5 && !stoppedInTime && !HasFailure(); ++attempt) {
        Scratch scratch;
        size_t inArchive = 0;
        stoppedInTime =
            MoveStoppedByCtrlC(scratch, &inArchive) == MoveEnd::Stopped && inArchive < 40;
    }
    EXPECT_TRUE(stoppedInTime) << "no attempt was stopped cleanly in the middle";
}

namespace {

// An archive whose one member keeps the engine busy without end, as one
// stuck in a decompressor would: the engines started while this lives stand
// still when asked for that member.
class StuckMember {
  public:
    explicit StuckMember(const Scratch& scratch) : archive(scratch / "stuck.mpq") {
        MakeArchive(archive, {{"stuck.txt", "never read"}});
        setenv("SFMPQ_ENGINE_STALL_ON", "stuck.txt", 1);
    }
    ~StuckMember() { unsetenv("SFMPQ_ENGINE_STALL_ON"); }
    StuckMember(const StuckMember&) = delete;
    StuckMember& operator=(const StuckMember&) = delete;

    const std::string archive;
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

TEST(Interrupt, AStopEndsAnOperationStuckInTheArchiveLibraryWithinASecond) {
    Scratch scratch;
    StuckMember stuck(scratch);
    pid_t pid = StartTarnel(scratch, {"test", stuck.archive});
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    RunResult result = FinishTarnel(scratch, pid);
    EXPECT_LT(Seconds(start), 1.5);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.err.find("stopped"), std::string::npos) << result.err;
}

TEST(Interrupt, AnOperationStuckInTheArchiveLibraryEndsAtItsDeadline) {
    Scratch scratch;
    StuckMember stuck(scratch);
    setenv("SFMPQ_ENGINE_DEADLINE_MS", "1000", 1);
    auto start = std::chrono::steady_clock::now();
    RunResult result = RunTarnel(scratch, {"test", stuck.archive});
    unsetenv("SFMPQ_ENGINE_DEADLINE_MS");
    EXPECT_LT(Seconds(start), 15.0);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.out.find("failed the test"), std::string::npos) << result.out;
}

TEST(Interrupt, AClosedOutputEndsAnUpdateCleanly) {
    // `tarnel add -v ... | head -1`: the reader goes away after one name.
    Scratch scratch;
    std::string archive = scratch / "piped.mpq";
    std::string block(3u << 20, 'p');
    for (int i = 0; i < 40; ++i) {
        WriteFile(scratch / ("src/file" + std::to_string(100 + i) + ".dat"),
                  block + std::to_string(i));
    }
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    RunOptions options;
    options.outputFd = ends[1];
    pid_t pid =
        StartTarnelWith(scratch, {"add", "-v", archive, "-C", scratch / "src", "."}, options);
    close(ends[1]);
    ASSERT_GT(pid, 0);
    char first = 0;
    EXPECT_EQ(read(ends[0], &first, 1), 1);
    close(ends[0]);
    RunResult result = FinishTarnel(scratch, pid);

    EXPECT_FALSE(result.signaled) << "killed in the middle of the update";
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("stopped: the output was closed"), std::string::npos) << result.err;
    // No working copy left beside the archive, which is whole.
    for (const std::string& file : FilesBelow(scratch.path())) {
        EXPECT_EQ(file.find(".sfmpq-"), std::string::npos) << file;
    }
    RunResult test = RunTarnel(scratch, {"test", archive});
    EXPECT_EQ(test.status, 0) << test.err;
    // The files it left out are counted: all but those the archive holds.
    std::string listed = RunTarnel(scratch, {"list", archive}).out;
    size_t added = 0;
    for (size_t at = listed.find(".dat\n"); at != std::string::npos;
         at = listed.find(".dat\n", at + 1)) {
        ++added;
    }
    EXPECT_NE(result.err.find("stopped: the output was closed; " + std::to_string(40 - added) +
                              " files were not added"),
              std::string::npos)
        << added << " added\n"
        << result.err;
    // A stop is no failure of each file: none is reported on its own.
    EXPECT_EQ(result.err.find("not added to"), std::string::npos) << result.err;

    // A SIGPIPE while the output is open is some other pipe's (the archive
    // library's, say): it neither stops nor ends the command.
    std::string other = scratch / "other.mpq";
    pid = StartTarnel(scratch, {"add", other, "-C", scratch / "src", "."});
    ASSERT_GT(pid, 0);
    bool started = false;
    for (int i = 0; i < 20000 && !started; ++i) {
        for (const std::string& file : FilesBelow(scratch.path())) {
            started = started || file.find("other.mpq") != std::string::npos;
        }
        if (!started) {
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
    }
    kill(pid, SIGPIPE);
    result = FinishTarnel(scratch, pid);
    EXPECT_FALSE(result.signaled);
    EXPECT_EQ(result.status, 0) << result.err;
    RunResult list = RunTarnel(scratch, {"list", other});
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 42) << list.out;

    // A closed standard error stops an extraction at the message that finds
    // it closed: the member after it is not extracted.
    WriteFile(scratch / "s.mpq", std::string("MPQ\x1A\x20", 5) + std::string(27, '\0'));
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    close(ends[0]);
    RunOptions closedError;
    closedError.errorFd = ends[1];
    closedError.environment = {"TARNEL_SCRIPTED_MEMBERS=../refused.txt=1|a.txt=1"};
    result = RunTarnelWith(scratch,
                           {"--plugin", TARNEL_SCRIPTED_PLUGIN, "extract", scratch / "s.mpq", "-C",
                            scratch / "closed"},
                           closedError);
    close(ends[1]);
    EXPECT_FALSE(result.signaled);
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(Exists(scratch / "closed/a.txt"));

    // Started with SIGPIPE ignored, the command leaves it so, as it does the
    // stop signals: a closed output then neither stops nor ends the update.
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    close(ends[0]);
    options.outputFd = ends[1];
    options.pipeSignalIgnored = true;
    result = RunTarnelWith(
        scratch, {"add", "-v", scratch / "ignored.mpq", "-C", scratch / "src", "."}, options);
    close(ends[1]);
    EXPECT_FALSE(result.signaled);
    EXPECT_EQ(result.status, 0) << result.err;
}

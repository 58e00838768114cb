// Ctrl+C (SIGINT) in the middle of a large extraction: the command stops at
// its next progress report, exits cleanly, and leaves no partial file; a file
// that was there before keeps its content.
#include <csignal>
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

} // namespace

TEST(Interrupt, CtrlCInALargeExtractionLeavesNoPartialFile) {
    Scratch scratch;
    std::string archive = scratch / "big.mpq";
    // Stored members, so that extraction is disk-bound and long enough to
    // be caught in the middle.
    const size_t kMemberSize = 48u << 20;
    std::vector<ArchiveMember> members;
    std::vector<std::string> names;
    for (char c = 'a'; c <= 'f'; ++c) {
        std::string name = std::string("part-") + c + ".bin";
        members.push_back({name, std::string(kMemberSize, c), false});
        names.push_back(name);
    }
    MakeArchive(archive, members);
    std::string out = scratch / "out";
    // An old copy of the last member, which a stop must not damage.
    WriteFile(out + "/part-f.bin", "old content");

    pid_t pid = StartTarnel(scratch, {"extract", archive, "-C", out});
    ASSERT_GT(pid, 0);
    // Wait until a member is being written (its temporary file exists).
    std::vector<std::string> known = {"part-f.bin"};
    bool caught = false;
    for (int i = 0; i < 20000 && !caught; ++i) {
        caught = HoldsOtherFile(out, known);
        if (!caught) {
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
    }
    ASSERT_TRUE(caught) << "the extraction never started";
    kill(pid, SIGINT);
    RunResult result = FinishTarnel(scratch, pid);

    EXPECT_FALSE(result.signaled);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("stopped"), std::string::npos) << result.err;
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

// Why an archive cannot be updated, or members not extracted or added, in
// words and once per reason: permission of the archive or of its folder, a
// target folder that refuses new files, a full disk and a full archive. (An
// archive that is no archive at all: list_command_test.cpp.)
#include <sys/stat.h>
#include <unistd.h>

#include "tarnel_runner.h"

namespace {

size_t Lines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// `count` stored members of `size` bytes each, named m00.bin, m01.bin, ...
std::vector<ArchiveMember> Members(int count, size_t size) {
    std::vector<ArchiveMember> members;
    for (int i = 0; i < count; ++i) {
        std::string name = std::string("m") + char('0' + i / 10) + char('0' + i % 10) + ".bin";
        members.push_back({name, std::string(size, static_cast<char>('a' + i % 26)), false});
    }
    return members;
}

// The hidden working copies an update leaves when it is cut off.
bool HoldsWorkingCopy(const std::string& folder) {
    for (const std::string& file : FilesBelow(folder)) {
        if (file.find(".sfmpq-") != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(Reasons, PermissionOfTheArchiveOrOfItsFolderIsToldApart) {
    Scratch scratch;
    std::string good = scratch / "good.mpq";
    MakeArchive(good, {{"a.txt", "a"}});
    for (const char* copy : {"readonly.mpq", "unreadable.mpq", "rofolder/a.mpq", "locked/a.mpq"}) {
        WriteFile(scratch / copy, ReadFile(good));
    }
    WriteFile(scratch / "src/b.txt", "b");
    // Through a link the linked file's folder is the one written in.
    WriteFile(scratch / "linked.mpq", ReadFile(good));
    ASSERT_EQ(symlink((scratch / "rofolder/a.mpq").c_str(), (scratch / "to-rofolder.mpq").c_str()),
              0);
    ASSERT_EQ(symlink((scratch / "linked.mpq").c_str(), (scratch / "rofolder/link.mpq").c_str()),
              0);
    // A link to nothing is no archive to create, nor is a folder that can be
    // written but not entered a place to create one.
    ASSERT_EQ(symlink((scratch / "nowhere.mpq").c_str(), (scratch / "dangling.mpq").c_str()), 0);
    WriteFile(scratch / "unentered/.keep", "");
    OpenToEveryone(scratch);
    ASSERT_EQ(chmod((scratch / "unentered").c_str(), 0666), 0);
    ASSERT_EQ(chmod((scratch / "readonly.mpq").c_str(), 0444), 0);
    ASSERT_EQ(chmod((scratch / "unreadable.mpq").c_str(), 0222), 0);
    ASSERT_EQ(chmod((scratch / "rofolder").c_str(), 0555), 0);
    ASSERT_EQ(chmod((scratch / "locked").c_str(), 0), 0);

    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    std::string src = scratch / "src";
    const std::vector<Case> cases = {
        {{"add", scratch / "readonly.mpq", "-C", src, "b.txt"},
         scratch / "readonly.mpq: cannot change it: Permission denied"},
        {{"delete", scratch / "readonly.mpq", "a.txt"},
         scratch / "readonly.mpq: cannot change it: Permission denied"},
        {{"add", scratch / "rofolder/a.mpq", "-C", src, "b.txt"},
         scratch / "rofolder/a.mpq: cannot write in its folder " + scratch / "rofolder" +
             ": Permission denied (an update writes the new archive beside the old one)"},
        {{"add", scratch / "to-rofolder.mpq", "-C", src, "b.txt"},
         scratch / "to-rofolder.mpq: cannot write in its folder " + scratch / "rofolder" +
             ": Permission denied (an update writes the new archive beside the old one)"},
        {{"add", scratch / "rofolder/new.mpq", "-C", src, "b.txt"},
         scratch / "rofolder/new.mpq: cannot create it in " + scratch / "rofolder" +
             ": Permission denied"},
        {{"add", scratch / "dangling.mpq", "-C", src, "b.txt"},
         scratch / "dangling.mpq: no such file"},
        {{"add", scratch / "unentered/new.mpq", "-C", src, "b.txt"},
         scratch / "unentered/new.mpq: cannot create it in " + scratch / "unentered" +
             ": Permission denied"},
        {{"list", scratch / "unreadable.mpq"},
         scratch / "unreadable.mpq: cannot read it: Permission denied"},
        {{"extract", scratch / "locked/a.mpq", "-C", scratch / "out"},
         scratch / "locked/a.mpq: cannot look into its folder " + scratch / "locked" +
             ": Permission denied"},
    };
    RunOptions unprivileged;
    unprivileged.unprivileged = true;
    for (const Case& each : cases) {
        SCOPED_TRACE(each.args[0] + " " + each.args[1]);
        RunResult result = RunTarnelWith(scratch, each.args, unprivileged);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, "tarnel: " + each.message + "\n");
    }
    // Reading needs no write permission.
    RunResult list = RunTarnelWith(scratch, {"list", scratch / "readonly.mpq"}, unprivileged);
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(ReadFile(scratch / "readonly.mpq"), ReadFile(good));
    RunResult linked = RunTarnelWith(
        scratch, {"add", scratch / "rofolder/link.mpq", "-C", src, "b.txt"}, unprivileged);
    EXPECT_EQ(linked.status, 0) << linked.err;
    EXPECT_TRUE(ReadFile(scratch / "linked.mpq") != ReadFile(good)) << "the linked file is updated";
    struct stat link;
    EXPECT_TRUE(lstat((scratch / "rofolder/link.mpq").c_str(), &link) == 0 &&
                S_ISLNK(link.st_mode));
    EXPECT_FALSE(Exists(scratch / "rofolder/new.mpq"));
    EXPECT_FALSE(Exists(scratch / "out"));
}

TEST(Reasons, ATargetFolderThatRefusesFilesIsSaidOnceWithACount) {
    Scratch scratch;
    std::string archive = scratch / "a.mpq";
    MakeArchive(archive, Members(40, 10));
    WriteFile(scratch / "out/.keep", "");
    OpenToEveryone(scratch);
    ASSERT_EQ(chmod((scratch / "out").c_str(), 0555), 0);
    RunOptions unprivileged;
    unprivileged.unprivileged = true;
    RunResult result =
        RunTarnelWith(scratch, {"extract", archive, "-C", scratch / "out"}, unprivileged);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "tarnel: 40 members not extracted: " + scratch / "out" + ": Permission denied\n");
    EXPECT_EQ(FilesBelow(scratch / "out"), std::vector<std::string>{".keep"});
}

TEST(Reasons, AFullDiskIsSaidOnceAndLeavesNoPartialFile) {
    // A file-size limit makes writes fail as a full disk does, with the
    // system's reason "File too large".
    Scratch scratch;
    std::string archive = scratch / "a.mpq";
    std::vector<ArchiveMember> members = Members(20, 100000);
    members.push_back({"small.txt", "fits", true});
    MakeArchive(archive, members);
    RunOptions full;
    full.fileSizeLimit = 50000;
    RunResult result = RunTarnelWith(scratch, {"extract", archive, "-C", scratch / "out"}, full);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "tarnel: 20 members not extracted: " + scratch / "out" + ": File too large\n");
    EXPECT_EQ(FilesBelow(scratch / "out"), std::vector<std::string>{"small.txt"});

    // An update that cannot be written says why once, not the plug-in's
    // message and then the command's, and the archive stays as it was.
    std::string before = ReadFile(archive);
    WriteFile(scratch / "src/big.bin", std::string(200000, 'b'));
    RunResult add =
        RunTarnelWith(scratch, {"add", archive, "-C", scratch / "src", "big.bin"}, full);
    EXPECT_EQ(add.status, 2);
    EXPECT_EQ(add.err,
              "tarnel: " + archive + ": the archive cannot be opened or updated: File too large\n");
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_FALSE(HoldsWorkingCopy(scratch.path()));
}

TEST(Reasons, ASmallMemberLimitIsNoWall) {
    // MaxFiles is only the size a new archive starts with: the archive's
    // table grows, and every file is added.
    Scratch scratch;
    WriteFile(scratch / "small.ini", "[TarnelPlugin]\nMaxFiles=16\n");
    for (int i = 0; i < 40; ++i) {
        WriteFile(scratch / ("src/f" + std::to_string(100 + i) + ".txt"), std::to_string(i));
    }
    std::string archive = scratch / "a.mpq";
    RunResult result = RunTarnel(
        scratch, {"--settings", scratch / "small.ini", "add", archive, "-C", scratch / "src", "."});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    RunResult list = RunTarnel(scratch, {"list", archive});
    EXPECT_EQ(Lines(list.out), 42u) << list.out; // and the name list and checksums
}

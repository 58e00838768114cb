// tarnel extract and tarnel test on real archives: choosing members,
// creating folders, refusing names that would land outside the folder.
#include "tarnel_runner.h"

namespace {

class ExtractCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        archive = scratch / "a.mpq";
        MakeArchive(archive, {{"readme.txt", "read me\n"},
                              {"maps\\first.w3m", std::string(70000, 'm')},
                              {"maps\\deep\\second.txt", "second", false},
                              {"sounds\\beep.txt", "beep"}});
    }
    std::vector<std::string> Extracted() { return FilesBelow(scratch / "out"); }

    Scratch scratch;
    std::string archive;
};

} // namespace

TEST_F(ExtractCommand, EverythingIntoAFolderWithMemberFolders) {
    RunResult result = RunTarnel(scratch, {"extract", archive, "-C", scratch / "out"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    // The archive's own name list is no file of the user's.
    EXPECT_EQ(Extracted(), (std::vector<std::string>{"maps/deep/second.txt", "maps/first.w3m",
                                                     "readme.txt", "sounds/beep.txt"}));
    EXPECT_EQ(ReadFile(scratch / "out/maps/first.w3m"), std::string(70000, 'm'));
    EXPECT_EQ(ReadFile(scratch / "out/maps/deep/second.txt"), "second");
}

TEST_F(ExtractCommand, IntoTheCurrentFolderByDefault) {
    WriteFile(scratch / "here/.keep", "");
    RunResult result = RunTarnel(scratch, {"extract", archive, "readme.txt"}, scratch / "here");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadFile(scratch / "here/readme.txt"), "read me\n");
}

TEST_F(ExtractCommand, ChosenByNamePatternAndFolder) {
    RunResult result = RunTarnel(
        scratch, {"extract", archive, "-C", scratch / "out", "README.TXT", "*/deep/*", "sounds"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Extracted(),
              (std::vector<std::string>{"maps/deep/second.txt", "readme.txt", "sounds/beep.txt"}));
    // Backslashes work as well as slashes, and '*' crosses folders.
    ASSERT_EQ(
        RunTarnel(scratch, {"extract", archive, "-C", scratch / "out2", "maps\\*.w3m"}).status, 0);
    EXPECT_EQ(FilesBelow(scratch / "out2"), (std::vector<std::string>{"maps/first.w3m"}));
    // A member named twice, in either spelling, is found for each.
    RunResult twice = RunTarnel(
        scratch, {"extract", archive, "-C", scratch / "out3", "readme.txt", "README.TXT"});
    EXPECT_EQ(twice.status, 0) << twice.err;
    EXPECT_EQ(FilesBelow(scratch / "out3"), std::vector<std::string>{"readme.txt"});
}

TEST_F(ExtractCommand, ANameThatMatchesNothingFailsButTheOthersAreExtracted) {
    RunResult result =
        RunTarnel(scratch, {"extract", archive, "-C", scratch / "out", "readme.txt", "nope*"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("nope*: no such member"), std::string::npos) << result.err;
    EXPECT_EQ(Extracted(), (std::vector<std::string>{"readme.txt"}));
}

TEST_F(ExtractCommand, AnExistingFileIsReplaced) {
    WriteFile(scratch / "out/readme.txt", "old content that is longer than the new one");
    ASSERT_EQ(RunTarnel(scratch, {"extract", archive, "-C", scratch / "out", "readme.txt"}).status,
              0);
    EXPECT_EQ(ReadFile(scratch / "out/readme.txt"), "read me\n");
}

TEST_F(ExtractCommand, MembersThatWouldLandOutsideAreRefusedAndSkipped) {
    std::string evil = scratch / "evil.mpq";
    MakeArchive(evil, {{"..\\evil.txt", "up one"},
                       {"\\abs.txt", "absolute"},
                       {"good\\..\\..\\escape.txt", "up through a folder"},
                       {"C:\\drive.txt", "a drive"},
                       {"good\\ok.txt", "fine"}});
    RunResult result = RunTarnel(scratch, {"extract", evil, "-C", scratch / "box/out"});
    EXPECT_EQ(result.status, 1);
    for (const char* name : {"../evil.txt", "/abs.txt", "good/../../escape.txt", "C:/drive.txt"}) {
        EXPECT_NE(result.err.find(std::string(name) + ": refused"), std::string::npos)
            << name << "\n"
            << result.err;
    }
    // Only the good member, inside the folder; nothing beside or above it.
    EXPECT_EQ(FilesBelow(scratch / "box"), (std::vector<std::string>{"out/good/ok.txt"}));
    EXPECT_FALSE(Exists(scratch / "evil.txt"));
    EXPECT_FALSE(Exists("/abs.txt"));
    EXPECT_FALSE(Exists(scratch / "escape.txt"));

    // So is a destination longer than the plug-in takes; one of its full
    // length is written.
    for (size_t length : {259u, 260u}) {
        std::string folder = scratch / std::string(length - scratch.path().size() - 12, 'd');
        std::string destination = folder + "/readme.txt";
        ASSERT_EQ(destination.size(), length);
        RunResult result = RunTarnel(scratch, {"extract", archive, "-C", folder, "readme.txt"});
        EXPECT_EQ(result.status, length > 259 ? 1 : 0) << result.err;
        EXPECT_EQ(result.err, length > 259 ? "tarnel: destination " + destination +
                                                 ": longer than 259 characters\n"
                                           : "");
        EXPECT_EQ(Exists(destination), length <= 259);
    }
}

TEST_F(ExtractCommand, AFolderThatCannotBeMadeFailsThatMemberOnly) {
    // "maps" exists as a file, so maps/... cannot be created.
    WriteFile(scratch / "out/maps", "a file in the way");
    RunResult result = RunTarnel(scratch, {"extract", archive, "-C", scratch / "out"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("cannot create folder"), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(scratch / "out/readme.txt"), "read me\n");
    EXPECT_EQ(ReadFile(scratch / "out/maps"), "a file in the way");
    // Members in one such folder share its reason; of a deeper folder, the
    // part that cannot be made is named.
    std::string shared = scratch / "shared.mpq";
    MakeArchive(shared,
                {{"maps\\a.txt", "a"}, {"maps\\b.txt", "b"}, {"maps\\deep\\er\\c.txt", "c"}});
    result = RunTarnel(scratch, {"extract", shared, "-C", scratch / "out"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("tarnel: 2 members not extracted: cannot create folder " +
                              scratch / "out/maps: not a folder\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("c.txt: not extracted: cannot create folder " +
                              scratch / "out/maps/deep: Not a directory\n"),
              std::string::npos)
        << result.err;
}

TEST_F(ExtractCommand, TestReadsEveryMember) {
    RunResult result = RunTarnel(scratch, {"test", archive});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "5 members tested, all OK\n");
    EXPECT_FALSE(Exists(scratch / "readme.txt"));
}

TEST_F(ExtractCommand, TestReportsAMemberWhoseDataIsDamaged) {
    // A compressed member large enough to find its data in the file: the
    // middle of the archive is inside it.
    std::string damaged = scratch / "damaged.mpq";
    std::string text;
    for (int i = 0; text.size() < 400000; ++i) {
        text += "line " + std::to_string(i * 7919 % 100003) + "\n";
    }
    MakeArchive(damaged, {{"big.txt", text}, {"small.txt", "small"}});
    std::string bytes = ReadFile(damaged);
    for (size_t i = bytes.size() / 2 - 2000; i < bytes.size() / 2 + 2000; ++i) {
        bytes[i] = static_cast<char>(i * 31);
    }
    WriteFile(damaged, bytes);
    RunResult result = RunTarnel(scratch, {"test", damaged});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("big.txt: "), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "1 of 3 members failed the test\n");
    // Extraction of it fails too, and leaves no file.
    RunResult extract = RunTarnel(scratch, {"extract", damaged, "-C", scratch / "out"});
    EXPECT_EQ(extract.status, 1);
    EXPECT_FALSE(Exists(scratch / "out/big.txt"));
    EXPECT_EQ(ReadFile(scratch / "out/small.txt"), "small");
}

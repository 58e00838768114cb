// tarnel add and tarnel delete on real archives, checked by listing and
// extracting the result.
#include <sys/stat.h>
#include <unistd.h>

#include "tarnel_runner.h"

namespace {

class AddDeleteCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        archive = scratch / "a.mpq";
        WriteFile(scratch / "src/readme.txt", "read me");
        WriteFile(scratch / "src/maps/first.txt", "first");
        WriteFile(scratch / "src/maps/deep/second.txt", "second");
        WriteFile(scratch / "src/other.txt", "other");
    }
    // The member names, without the archive's own name list.
    std::vector<std::string> Members() {
        RunResult result = RunTarnel(scratch, {"list", archive});
        EXPECT_EQ(result.status, 0) << result.err;
        std::vector<std::string> names;
        size_t start = 0;
        while (start < result.out.size()) {
            size_t end = result.out.find('\n', start);
            std::string line = result.out.substr(start, end - start);
            std::string name = line.size() > 27 ? line.substr(27) : line;
            if (name != "(listfile)" && name != "(attributes)") {
                names.push_back(name);
            }
            start = end + 1;
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Member(const std::string& name) {
        Scratch out;
        RunResult result = RunTarnel(scratch, {"extract", archive, "-C", out.path(), name});
        EXPECT_EQ(result.status, 0) << result.err;
        return ReadFile(out / name);
    }

    Scratch scratch;
    std::string archive;
};

} // namespace

TEST_F(AddDeleteCommand, FilesAndFoldersKeepTheirNamesRelativeToTheSourceFolder) {
    RunResult result =
        RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "readme.txt", "maps/"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Members(),
              (std::vector<std::string>{"maps/deep/second.txt", "maps/first.txt", "readme.txt"}));
    EXPECT_EQ(Member("maps/deep/second.txt"), "second");
    EXPECT_TRUE(Exists(scratch / "src/readme.txt")); // no --move
}

TEST_F(AddDeleteCommand, FromTheCurrentFolderAndBelowASubpath) {
    RunResult result = RunTarnel(
        scratch, {"add", archive, "--into", "/data/", "./readme.txt", "maps"}, scratch / "src");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Members(), (std::vector<std::string>{"data/maps/deep/second.txt",
                                                   "data/maps/first.txt", "data/readme.txt"}));
    // A relative -C is taken from the current folder.
    result = RunTarnel(scratch, {"add", archive, "-C", "src/maps", "first.txt"}, scratch.path());
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Member("first.txt"), "first");
}

TEST_F(AddDeleteCommand, AddingAgainReplacesTheMember) {
    ASSERT_EQ(RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "readme.txt"}).status, 0);
    WriteFile(scratch / "src/readme.txt", "new text, longer than before");
    ASSERT_EQ(RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "readme.txt"}).status, 0);
    EXPECT_EQ(Members(), (std::vector<std::string>{"readme.txt"}));
    EXPECT_EQ(Member("readme.txt"), "new text, longer than before");
}

TEST_F(AddDeleteCommand, MoveDeletesTheSourcesThatWereAdded) {
    RunResult result =
        RunTarnel(scratch, {"add", archive, "--move", "-C", scratch / "src", "maps", "missing"});
    EXPECT_EQ(result.status, 1); // "missing" does not exist
    EXPECT_NE(result.err.find("missing: no such file or folder"), std::string::npos) << result.err;
    EXPECT_FALSE(Exists(scratch / "src/maps/first.txt"));
    EXPECT_FALSE(Exists(scratch / "src/maps/deep/second.txt"));
    EXPECT_TRUE(Exists(scratch / "src/readme.txt"));
    EXPECT_EQ(Member("maps/first.txt"), "first");

    // A source that cannot be deleted is added, stays, and fails the command.
    WriteFile(scratch / "src/kept/k.txt", "kept");
    OpenToEveryone(scratch);
    ASSERT_EQ(chmod((scratch / "src/kept").c_str(), 0555), 0);
    RunOptions unprivileged;
    unprivileged.unprivileged = true;
    RunResult kept = RunTarnelWith(
        scratch, {"add", archive, "--move", "-C", scratch / "src", "kept"}, unprivileged);
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(kept.err, "tarnel: " + scratch / "src/kept/k.txt" +
                            ": added, but the source could not be deleted\n");
    EXPECT_TRUE(Exists(scratch / "src/kept/k.txt"));
    EXPECT_EQ(Member("kept/k.txt"), "kept");
}

TEST_F(AddDeleteCommand, PathsOutsideTheSourceFolderAreRefused) {
    WriteFile(scratch / "outside.txt", "outside");
    for (const std::string& path : {std::string("../outside.txt"), scratch / "outside.txt",
                                    std::string("maps/../../outside.txt"), std::string(".."),
                                    std::string("./../"), std::string("/"), std::string("//")}) {
        RunResult result = RunTarnel(scratch, {"add", archive, "-C", scratch / "src", path});
        EXPECT_EQ(result.status, 1) << path;
        EXPECT_NE(result.err.find("refused"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("an absolute path") != std::string::npos, path[0] == '/')
            << result.err;
    }
    EXPECT_EQ(
        RunTarnel(scratch, {"add", archive, "--into", "..", "-C", scratch / "src", "maps"}).status,
        2);
    EXPECT_FALSE(Exists(archive));
}

TEST_F(AddDeleteCommand, TheArchiveItselfIsNotAddedToItself) {
    std::string inside = scratch / "src/self.mpq";
    RunResult first = RunTarnel(scratch, {"add", inside, "-C", scratch / "src", "readme.txt"});
    ASSERT_EQ(first.status, 0) << first.err;
    RunResult result = RunTarnel(scratch, {"add", "self.mpq", "."}, scratch / "src");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("the archive itself; skipped"), std::string::npos) << result.err;
    RunResult quiet = RunTarnel(scratch, {"add", "self.mpq", "-q", "."}, scratch / "src");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    archive = inside;
    EXPECT_EQ(Members(), (std::vector<std::string>{"maps/deep/second.txt", "maps/first.txt",
                                                   "other.txt", "readme.txt"}));
}

TEST_F(AddDeleteCommand, DeleteByNameAndPattern) {
    ASSERT_EQ(RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "."}).status, 0);
    RunResult result = RunTarnel(scratch, {"delete", archive, "README.TXT", "maps\\deep"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Members(), (std::vector<std::string>{"maps/first.txt", "other.txt"}));
    ASSERT_EQ(RunTarnel(scratch, {"delete", archive, "*.txt"}).status, 0);
    EXPECT_EQ(Members(), std::vector<std::string>{});
}

TEST_F(AddDeleteCommand, DeletingAMemberThatIsNotThereFails) {
    ASSERT_EQ(RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "other.txt"}).status, 0);
    RunResult result = RunTarnel(scratch, {"delete", archive, "other.txt", "ghost.txt"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("ghost.txt: no such member"), std::string::npos) << result.err;
    EXPECT_EQ(Members(), std::vector<std::string>{});
    // Also when no name chooses any member, and nothing is deleted.
    result = RunTarnel(scratch, {"delete", archive, "ghost.txt"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("ghost.txt: no such member"), std::string::npos) << result.err;
    // The archive's own name list is written again by every update.
    result = RunTarnel(scratch, {"delete", archive, "(listfile)"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("(listfile): not deleted"), std::string::npos) << result.err;
    EXPECT_EQ(RunTarnel(scratch, {"delete", scratch / "none.mpq", "x"}).status, 2);
    EXPECT_FALSE(Exists(scratch / "none.mpq"));
}

// A deletion takes a name's member in the current locale only: a name kept
// in two locales is still there afterwards, and the command says so.
TEST_F(AddDeleteCommand, ANameInTwoLocalesLosesOnlyTheCurrentOnesMember) {
    ASSERT_EQ(RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "other.txt"}).status, 0);
    ASSERT_EQ(RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "readme.txt"}).status, 0);
    WriteFile(scratch / "german.ini", "[TarnelPlugin]\nLocaleID=1031\n");
    ASSERT_EQ(RunTarnel(scratch, {"--settings", scratch / "german.ini", "add", archive, "-C",
                                  scratch / "src", "other.txt"})
                  .status,
              0);
    ASSERT_EQ(Members(), (std::vector<std::string>{"other.txt", "other.txt", "readme.txt"}));
    RunResult result = RunTarnel(scratch, {"delete", archive, "other.txt", "readme.txt"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("other.txt: not deleted"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("readme.txt"), std::string::npos) << result.err;
    EXPECT_EQ(Members(), std::vector<std::string>{"other.txt"});
}

TEST_F(AddDeleteCommand, LinksAreFollowedOnlyWhereTheUserNamedThem) {
    // Inside the walk: links to folders (one outside, one back up the tree)
    // are not entered; a link to a file adds that file's content.
    WriteFile(scratch / "elsewhere/private.txt", "not below src");
    ASSERT_EQ(symlink((scratch / "elsewhere").c_str(), (scratch / "src/maps/away").c_str()), 0);
    ASSERT_EQ(symlink("..", (scratch / "src/maps/up").c_str()), 0);
    ASSERT_EQ(symlink("../readme.txt", (scratch / "src/maps/readme-link").c_str()), 0);
    // An operand that is a link to a folder is the user's choice: entered.
    WriteFile(scratch / "shared/shared.txt", "shared");
    ASSERT_EQ(symlink("../shared", (scratch / "src/shared-link").c_str()), 0);
    RunResult result =
        RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "maps", "shared-link"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("src/maps/away: a link to a folder; not followed"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("src/maps/up: a link to a folder; not followed"), std::string::npos)
        << result.err;
    EXPECT_EQ(Members(), (std::vector<std::string>{"maps/deep/second.txt", "maps/first.txt",
                                                   "maps/readme-link", "shared-link/shared.txt"}));
    EXPECT_EQ(Member("maps/readme-link"), "read me");
}

TEST_F(AddDeleteCommand, ALinkToNothingFailsAndAMovedLinkKeepsItsTarget) {
    ASSERT_EQ(symlink("nowhere", (scratch / "src/maps/dangling").c_str()), 0);
    ASSERT_EQ(symlink("../readme.txt", (scratch / "src/maps/readme-link").c_str()), 0);
    RunResult result =
        RunTarnel(scratch, {"add", archive, "--move", "-C", scratch / "src", "maps"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("src/maps/dangling: a link to nothing; skipped"), std::string::npos)
        << result.err;
    EXPECT_EQ(Member("maps/readme-link"), "read me");
    // Moving the link moves the link, not the file it points to.
    EXPECT_FALSE(Exists(scratch / "src/maps/readme-link"));
    EXPECT_EQ(ReadFile(scratch / "src/readme.txt"), "read me");
}

TEST_F(AddDeleteCommand, NamesThatDifferOnlyInCaseAreRefusedNotLost) {
    // Member names do not tell case apart: one file would replace the other.
    WriteFile(scratch / "src/Index.html", "upper");
    WriteFile(scratch / "src/index.html", "lower");
    RunResult result = RunTarnel(scratch, {"add", archive, "--move", "-C", scratch / "src",
                                           "Index.html", "index.html", "readme.txt"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tarnel: " + scratch / "src/Index.html" + " and " +
                              scratch / "src/index.html" +
                              " would both become the member Index.html, since member names do "
                              "not tell letter case apart; neither is added\n");
    EXPECT_EQ(Members(), std::vector<std::string>{"readme.txt"});
    EXPECT_EQ(ReadFile(scratch / "src/Index.html"), "upper"); // not moved
    EXPECT_EQ(ReadFile(scratch / "src/index.html"), "lower");

    // Three, and through folders: MAPS/first.txt meets maps/first.txt.
    WriteFile(scratch / "src/INDEX.HTML", "shouting");
    WriteFile(scratch / "src/MAPS/first.txt", "other first");
    result = RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "."});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("INDEX.HTML, " + scratch / "src/Index.html" + " and " +
                              scratch / "src/index.html" + " would all become"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("MAPS/first.txt and " + scratch / "src/maps/first.txt" +
                              " would both become the member MAPS/first.txt"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(Members(),
              (std::vector<std::string>{"maps/deep/second.txt", "other.txt", "readme.txt"}));

    // The same file named twice is no collision.
    result = RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "other.txt", "./other.txt",
                                 "maps/deep", "maps/deep/second.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
}

TEST_F(AddDeleteCommand, WhatAFolderHoldsThatCannotBeAMemberIsReportedAndTheRestAdded) {
    // A name the archive would split at its backslash into ".." is refused
    // like the user's own paths; a folder named again through a link to it
    // is entered once; a pipe is no file. Each fails the command alone.
    WriteFile(scratch / "src/maps/..\\up.txt", "up");
    ASSERT_EQ(symlink("maps", (scratch / "src/maps-again").c_str()), 0);
    RunResult result =
        RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "maps", "maps-again"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tarnel: " + scratch / "src/maps/..\\up.txt" +
                              ": refused, contains a \"..\" component\n");
    EXPECT_EQ(Members(), (std::vector<std::string>{"maps/deep/second.txt", "maps/first.txt"}));
    ASSERT_EQ(unlink((scratch / "src/maps/..\\up.txt").c_str()), 0);
    ASSERT_EQ(mkfifo((scratch / "src/maps/pipe").c_str(), 0666), 0);
    result = RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "maps"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "tarnel: " + scratch / "src/maps/pipe" + ": not a regular file; skipped\n");
    ASSERT_EQ(unlink((scratch / "src/maps/pipe").c_str()), 0);

    // A folder that may not be read fails; the rest is added.
    OpenToEveryone(scratch);
    ASSERT_EQ(chmod((scratch / "src/maps/deep").c_str(), 0333), 0);
    RunOptions unprivileged;
    unprivileged.unprivileged = true;
    result = RunTarnelWith(scratch, {"add", archive, "-C", scratch / "src", "maps", "other.txt"},
                           unprivileged);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tarnel: " + scratch / "src/maps/deep" +
                              ": cannot read the folder: Permission denied\n");
    EXPECT_EQ(Members(),
              (std::vector<std::string>{"maps/deep/second.txt", "maps/first.txt", "other.txt"}));
}

TEST_F(AddDeleteCommand, WhatKeepsAnAddFromStartingIsSaidAndMakesNoArchive) {
    ASSERT_EQ(mkdir((scratch / "empty").c_str(), 0755), 0);
    // One character more than the plug-in takes.
    std::string tooLong = scratch / "";
    tooLong += std::string(260 - tooLong.size(), 'a');
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"add", archive, "-C", scratch / "nowhere", "x"},
         2,
         "tarnel: " + scratch / "nowhere" + ": no such folder\n"},
        {{"add", archive, "-T", scratch / "none.txt"},
         2,
         "tarnel: cannot read names from " + scratch / "none.txt" +
             ": No such file or directory\n"},
        {{"add", tooLong, "readme.txt"},
         2,
         "tarnel: archive " + tooLong + ": longer than 259 characters\n"},
        {{"--settings", tooLong, "add", archive, "readme.txt"},
         2,
         "tarnel: settings file " + tooLong + ": longer than 259 characters\n"},
        {{"add", archive, "-C", scratch / "empty", "."}, 1, "tarnel: nothing to add\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        RunResult result = RunTarnel(scratch, c.args, scratch / "src");
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, c.err);
        EXPECT_FALSE(Exists(archive));
    }
}

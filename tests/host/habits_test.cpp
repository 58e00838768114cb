// The habits of other archivers: -k keeps existing files, -v names each
// member as it is handled, -q leaves only errors, -T takes names from a
// file or standard input, extracting everything leaves out the archive's
// internal members, and -C DIR is made only when something is extracted.
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include "tarnel_runner.h"

namespace {

class Habits : public ::testing::Test {
  protected:
    void SetUp() override {
        archive = scratch / "a.mpq";
        MakeArchive(archive, {{"readme.txt", "read me"},
                              {"maps\\first.txt", "first"},
                              {"maps\\second.txt", "second"}});
    }
    // The lines of `text`, sorted.
    static std::vector<std::string> SortedLines(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            lines.push_back(text.substr(start, end - start));
            start = end == std::string::npos ? text.size() : end + 1;
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    std::vector<std::string> Listed() {
        std::vector<std::string> names;
        for (const std::string& line : SortedLines(RunTarnel(scratch, {"list", archive}).out)) {
            names.push_back(line.substr(std::min(line.size(), size_t(27))));
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    Scratch scratch;
    std::string archive;
};

} // namespace

TEST_F(Habits, KeepOldFilesKeepsThemAndSaysTheMembersWereSkipped) {
    WriteFile(scratch / "out/readme.txt", "my own");
    RunResult first = RunTarnel(scratch, {"extract", archive, "-k", "-C", scratch / "out"});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err, "tarnel: readme.txt: skipped: a file of its name exists and is kept "
                         "(--keep-old-files)\n");
    EXPECT_EQ(ReadFile(scratch / "out/readme.txt"), "my own");
    EXPECT_EQ(ReadFile(scratch / "out/maps/first.txt"), "first");

    // Many are said once; -q says nothing of them.
    WriteFile(scratch / "out/maps/first.txt", "changed");
    RunResult again =
        RunTarnel(scratch, {"extract", archive, "--keep-old-files", "-C", scratch / "out"});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.err, "tarnel: 3 members skipped: a file of its name exists and is kept "
                         "(--keep-old-files)\n");
    EXPECT_EQ(ReadFile(scratch / "out/maps/first.txt"), "changed");
    RunResult quiet = RunTarnel(scratch, {"extract", archive, "-kq", "-C", scratch / "out"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");

    // A folder of the member's name is kept as well, not written over.
    ASSERT_EQ(unlink((scratch / "out/readme.txt").c_str()), 0);
    ASSERT_EQ(mkdir((scratch / "out/readme.txt").c_str(), 0755), 0);
    RunResult folder =
        RunTarnel(scratch, {"extract", archive, "-k", "-C", scratch / "out", "readme.txt"});
    EXPECT_EQ(folder.status, 0);
    EXPECT_EQ(folder.err, "tarnel: readme.txt: skipped: a file of its name exists and is kept "
                          "(--keep-old-files)\n");
}

TEST_F(Habits, VerboseNamesEachMemberAsItIsHandled) {
    const std::vector<std::string> names = {"maps/first.txt", "maps/second.txt", "readme.txt"};
    RunResult extract = RunTarnel(scratch, {"extract", "-v", archive, "-C", scratch / "out"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(SortedLines(extract.out), names);

    RunResult test = RunTarnel(scratch, {"test", "--verbose", archive});
    ASSERT_EQ(test.status, 0) << test.err;
    std::vector<std::string> tested = names;
    tested.push_back("(listfile)");
    tested.push_back("4 members tested, all OK");
    std::sort(tested.begin(), tested.end());
    EXPECT_EQ(SortedLines(test.out), tested);

    WriteFile(scratch / "src/new/one.txt", "1");
    WriteFile(scratch / "src/new/two.txt", "2");
    RunResult add =
        RunTarnel(scratch, {"add", archive, "-v", "--into", "data", "-C", scratch / "src", "new"});
    ASSERT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(add.out, "data/new/one.txt\ndata/new/two.txt\n");

    RunResult remove = RunTarnel(scratch, {"delete", archive, "-v", "maps"});
    ASSERT_EQ(remove.status, 0) << remove.err;
    EXPECT_EQ(SortedLines(remove.out),
              (std::vector<std::string>{"maps/first.txt", "maps/second.txt"}));
}

TEST_F(Habits, QuietLeavesOnlyErrors) {
    RunResult test = RunTarnel(scratch, {"test", "-q", archive});
    EXPECT_EQ(test.status, 0);
    EXPECT_EQ(test.out, "");
    // Notices go: a link to a folder that is not followed.
    WriteFile(scratch / "src/a.txt", "a");
    ASSERT_EQ(symlink("..", (scratch / "src/up").c_str()), 0);
    RunResult add = RunTarnel(scratch, {"add", archive, "--quiet", "-C", scratch / "src", "."});
    EXPECT_EQ(add.status, 0);
    EXPECT_EQ(add.err, "");
    EXPECT_NE(
        RunTarnel(scratch, {"add", archive, "-C", scratch / "src", "."}).err.find("not followed"),
        std::string::npos);
    // Errors stay.
    RunResult extract =
        RunTarnel(scratch, {"extract", archive, "-q", "-C", scratch / "out", "nope.txt"});
    EXPECT_EQ(extract.status, 1);
    EXPECT_NE(extract.err.find("nope.txt: no such member"), std::string::npos) << extract.err;
    EXPECT_EQ(RunTarnel(scratch, {"list", archive, "-v", "-q"}).status, 2);
    // On a terminal, an operation that takes a while shows a progress bar,
    // but not with -q: the scripted plug-in's member takes 300 ms. Its whole
    // is the size of the members chosen.
    RunOptions terminal;
    terminal.errorOnTerminal = true;
    terminal.environment = {"TARNEL_SCRIPTED_MEMBERS=maps\\slow.txt=1000@300|other.txt=500"};
    for (bool quiet : {false, true}) {
        std::vector<std::string> args = {"--plugin", TARNEL_SCRIPTED_PLUGIN, "extract", archive,
                                         "-C",       scratch / "bar",        "maps"};
        if (quiet) {
            args.push_back("-q");
        }
        RunResult slow = RunTarnelWith(scratch, args, terminal);
        EXPECT_EQ(slow.status, 0) << slow.err;
        EXPECT_EQ(slow.err.find("B of 1000 B") != std::string::npos, !quiet) << slow.err;
        EXPECT_EQ(slow.err.find(" maps/slow.txt") != std::string::npos, !quiet) << slow.err;
        // A terminal that does not tell its width counts as 80 columns; the
        // bar leaves the last one free and is cleared as wide.
        EXPECT_EQ(slow.err.find("\r" + std::string(79, ' ') + "\r") != std::string::npos, !quiet)
            << slow.err;
    }
}

TEST_F(Habits, NamesComeFromAFileOrStandardInput) {
    // Line ends of either kind, blank lines skipped, a leading '-' is a name.
    WriteFile(scratch / "names.txt", "readme.txt\r\n\r\nmaps/second.txt\n");
    RunResult extract = RunTarnel(
        scratch, {"extract", archive, "-T", scratch / "names.txt", "-C", scratch / "out"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(FilesBelow(scratch / "out"),
              (std::vector<std::string>{"maps/second.txt", "readme.txt"}));

    WriteFile(scratch / "src/-dash.txt", "dash");
    WriteFile(scratch / "src/two words.txt", "two");
    RunOptions input;
    input.input = "-dash.txt\ntwo words.txt\n";
    RunResult add =
        RunTarnelWith(scratch, {"add", archive, "-C", scratch / "src", "-T", "-"}, input);
    ASSERT_EQ(add.status, 0) << add.err;
    input.input = "-dash.txt\nmaps\n";
    RunResult remove = RunTarnelWith(scratch, {"delete", archive, "-T-"}, input);
    ASSERT_EQ(remove.status, 0) << remove.err;
    EXPECT_EQ(Listed(), (std::vector<std::string>{"(listfile)", "readme.txt", "two words.txt"}));

    // No names at all: nothing to do, said so; no archive made, no member
    // deleted, no folder made.
    const std::vector<std::string> empty[] = {
        {"add", scratch / "new.mpq", "-T", "/dev/null"},
        {"delete", archive, "-T", "/dev/null"},
        {"extract", archive, "-T", "/dev/null", "-C", scratch / "none"}};
    const char* said[] = {"no paths given; nothing to add",
                          "no member names given; nothing to delete",
                          "no member names given; nothing to extract"};
    for (size_t i = 0; i < 3; ++i) {
        RunResult none = RunTarnel(scratch, empty[i]);
        EXPECT_EQ(none.status, 0) << none.err;
        EXPECT_EQ(none.err, std::string("tarnel: ") + said[i] + "\n");
    }
    EXPECT_FALSE(Exists(scratch / "new.mpq"));
    EXPECT_FALSE(Exists(scratch / "none"));
    EXPECT_EQ(Listed(), (std::vector<std::string>{"(listfile)", "readme.txt", "two words.txt"}));
    // A list that cannot be read, or holds a NUL byte, is a usage error.
    RunResult missing = RunTarnel(scratch, {"extract", archive, "-T", scratch / "none.txt"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot read names from " + scratch / "none.txt"), std::string::npos)
        << missing.err;
    WriteFile(scratch / "nul.txt", std::string("readme.txt\0/etc/passwd\n", 23));
    EXPECT_EQ(RunTarnel(scratch, {"delete", archive, "-T", scratch / "nul.txt"}).status, 2);
    input.input = std::string("readme.txt\0x\n", 13);
    RunResult nulInput = RunTarnelWith(scratch, {"delete", archive, "-T", "-"}, input);
    EXPECT_EQ(nulInput.status, 2);
    EXPECT_EQ(nulInput.err, "tarnel: standard input: line 1 holds a NUL byte\n");
    EXPECT_EQ(Listed(), (std::vector<std::string>{"(listfile)", "readme.txt", "two words.txt"}));
}

TEST_F(Habits, InternalMembersOnlyWhenNamedOrAskedFor) {
    RunResult all = RunTarnel(scratch, {"extract", archive, "-C", scratch / "all"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_FALSE(Exists(scratch / "all/(listfile)"));
    ASSERT_EQ(RunTarnel(scratch, {"extract", archive, "-C", scratch / "star", "*"}).status, 0);
    EXPECT_FALSE(Exists(scratch / "star/(listfile)"));
    // Named exactly (any case), or with --internal.
    ASSERT_EQ(
        RunTarnel(scratch, {"extract", archive, "-C", scratch / "named", "(LISTFILE)"}).status, 0);
    EXPECT_EQ(FilesBelow(scratch / "named"), std::vector<std::string>{"(listfile)"});
    ASSERT_EQ(
        RunTarnel(scratch, {"extract", archive, "--internal", "-C", scratch / "every"}).status, 0);
    EXPECT_EQ(FilesBelow(scratch / "every").size(), 4u);
    // A pattern that would choose internal members only says how to.
    RunResult only = RunTarnel(scratch, {"extract", archive, "-C", scratch / "only", "(*)"});
    EXPECT_EQ(only.status, 1);
    EXPECT_NE(only.err.find("(*): chooses only internal members"), std::string::npos) << only.err;
    // list shows them; delete "*" keeps them.
    ASSERT_EQ(RunTarnel(scratch, {"delete", archive, "*"}).status, 0);
    EXPECT_EQ(Listed(), std::vector<std::string>{"(listfile)"});
}

TEST_F(Habits, TheTargetFolderIsMadeOnlyWhenSomethingIsExtracted) {
    EXPECT_EQ(RunTarnel(scratch, {"extract", archive, "-C", scratch / "none", "nope"}).status, 1);
    EXPECT_FALSE(Exists(scratch / "none"));
    std::string evil = scratch / "evil.mpq";
    MakeArchive(evil, {{"..\\up.txt", "up"}});
    EXPECT_EQ(RunTarnel(scratch, {"extract", evil, "-C", scratch / "refused"}).status, 1);
    EXPECT_FALSE(Exists(scratch / "refused"));
    ASSERT_EQ(
        RunTarnel(scratch, {"extract", archive, "-C", scratch / "deep/er", "readme.txt"}).status,
        0);
    EXPECT_EQ(FilesBelow(scratch / "deep"), std::vector<std::string>{"er/readme.txt"});
    // A file in the way is said once, before anything is read.
    WriteFile(scratch / "file", "");
    RunResult blocked = RunTarnel(scratch, {"extract", archive, "-C", scratch / "file"});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_EQ(blocked.err, "tarnel: " + scratch / "file" + ": not a folder\n");
}

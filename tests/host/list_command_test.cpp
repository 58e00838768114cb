// tarnel list, the command's usage errors and its exit statuses for
// archives that cannot be opened.
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tarnel_runner.h"

namespace {

class ListCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        archive = scratch / "a.mpq";
        MakeArchive(archive, {{"readme.txt", std::string(1000, 'r')},
                              {"maps\\first.txt", "first map", false},
                              {"caf\xc3\xa9.txt", "utf-8 name"}});
    }
    Scratch scratch;
    std::string archive;
};

} // namespace

TEST_F(ListCommand, OneLinePerMemberWithSizes) {
    RunResult result = RunTarnel(scratch, {"list", archive});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    // A stored member's packed size is its size; the repeated text packs.
    EXPECT_NE(result.out.find("           9            9  maps/first.txt\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("        1000 "), std::string::npos);
    EXPECT_NE(result.out.find("  readme.txt\n"), std::string::npos);
    // The archive's name list is a member like any other.
    EXPECT_NE(result.out.find("(listfile)"), std::string::npos);
    // No digits and ten fill the columns alike (sizes a damaged archive's
    // tables claim).
    RunResult damaged = RunTarnel(
        scratch, {"list", std::string(TARNEL_FIXTURES_DIR) + "/damaged/bzip2-endless-several.mpq"});
    EXPECT_NE(damaged.out.find("\n  3705197692    901181839  sound.wav\n"), std::string::npos)
        << damaged.out;
    EXPECT_NE(damaged.out.find("\n           0            0  empty.txt\n"), std::string::npos);
    // A listing whose output cannot be written fails, as lines or as JSON.
    RunOptions full;
    full.outputFd = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full.outputFd, 0);
    for (const char* format : {"--quiet", "--json"}) {
        EXPECT_EQ(RunTarnelWith(scratch, {"list", format, archive}, full).status, 1) << format;
    }
    close(full.outputFd);
}

TEST_F(ListCommand, JsonForScripts) {
    RunResult result = RunTarnel(scratch, {"list", "--json", archive});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.front(), '[');
    EXPECT_EQ(result.out.substr(result.out.size() - 2), "]\n");
    EXPECT_NE(result.out.find("{\"name\": \"maps/first.txt\", \"size\": 9, \"packed\": 9}"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\"caf\xc3\xa9.txt\""), std::string::npos);
    // The packed size of a member that packs, as the text listing gives it.
    std::string text = RunTarnel(scratch, {"list", archive}).out;
    size_t line = text.find("  readme.txt\n");
    ASSERT_GE(line, 12u) << text;
    std::string packed = text.substr(line - 12, 12);
    packed.erase(0, packed.find_first_not_of(' '));
    EXPECT_NE(packed, "1000");
    EXPECT_NE(
        result.out.find("{\"name\": \"readme.txt\", \"size\": 1000, \"packed\": " + packed + "}"),
        std::string::npos)
        << result.out;
}

TEST_F(ListCommand, AnEmptyArchiveIsAnEmptyJsonArray) {
    std::string empty = scratch / "empty.mpq";
    MakeArchive(empty, {});
    RunResult result = RunTarnel(scratch, {"list", "--json", empty});
    ASSERT_EQ(result.status, 0) << result.err;
    // Only the archive's own name list, or nothing.
    EXPECT_EQ(result.out.find("\"size\"", result.out.find("\"size\"") + 1), std::string::npos);
    // Without even that, the array holds nothing.
    std::string bare = scratch / "bare.mpq";
    MakeArchive(bare, {}, false);
    result = RunTarnel(scratch, {"list", "--json", bare});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "[]\n");
}

TEST_F(ListCommand, ArchivesThatCannotBeOpenedExitWithTwoAndSayWhy) {
    // Each kind of file that is no archive, with what every command says of
    // it: the reason is told apart before the plug-in sees the file.
    ASSERT_EQ(mkfifo((scratch / "pipe.mpq").c_str(), 0666), 0);
    WriteFile(scratch / "folder.mpq/inside.txt", "a folder named like an archive");
    WriteFile(scratch / "zero.mpq", "");
    WriteFile(scratch / "text.mpq", "this is not an archive\n");
    // A header where the library never looks: off a 512-byte boundary.
    WriteFile(scratch / "shifted.mpq", std::string(100, ' ') + ReadFile(archive));
    WriteFile(scratch / "cut.mpq", ReadFile(archive).substr(0, 100));
    struct Case {
        const char* file;
        const char* reason;
    };
    const Case cases[] = {
        {"missing.mpq", "no such file"},
        {"folder.mpq", "a folder, not an MPQ archive"},
        {"pipe.mpq", "not a regular file"},
        {"zero.mpq", "an empty file, not an MPQ archive"},
        {"text.mpq", "not an MPQ archive (no MPQ header in it)"},
        {"shifted.mpq", "not an MPQ archive (no MPQ header in it)"},
        {"cut.mpq", "an MPQ archive cut short or damaged: its tables end past the end"},
    };
    WriteFile(scratch / "src/a.txt", "a");
    for (const Case& bad : cases) {
        std::string path = scratch / bad.file;
        bool regular = std::string(bad.file).find_first_of("fpm") != 0; // not folder, pipe, missing
        std::string before = regular ? ReadFile(path) : "";
        for (const std::vector<std::string>& args :
             std::vector<std::vector<std::string>>{{"list", path},
                                                   {"list", "--json", path},
                                                   {"test", path},
                                                   {"extract", path, "-C", scratch / "out"},
                                                   {"delete", path, "a.txt"},
                                                   {"add", path, "-C", scratch / "src", "a.txt"}}) {
            if (args[0] == "add" && bad.file == std::string("missing.mpq")) {
                continue; // add creates it
            }
            RunResult result = RunTarnel(scratch, args);
            SCOPED_TRACE(args[0] + " " + bad.file);
            EXPECT_EQ(result.status, 2) << result.err;
            EXPECT_EQ(result.err.rfind("tarnel: " + path + ": " + bad.reason, 0), 0u) << result.err;
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
            EXPECT_EQ(result.out, "");
            EXPECT_FALSE(Exists(scratch / "out"));
        }
        if (regular) {
            EXPECT_EQ(ReadFile(path), before) << bad.file;
        }
    }
    // The plug-in takes paths of up to 259 characters: one longer is
    // refused before it is opened.
    std::string name259 = std::string(259 - scratch.path().size() - 5, 'n') + ".mpq";
    std::string at259 = scratch / name259;
    ASSERT_EQ(at259.size(), 259u);
    WriteFile(at259, ReadFile(archive));
    RunResult fits = RunTarnel(scratch, {"list", at259});
    EXPECT_EQ(fits.status, 0) << fits.err;
    EXPECT_NE(fits.out.find("readme.txt"), std::string::npos);
    std::string at260 = scratch / ("n" + name259);
    WriteFile(at260, ReadFile(archive));
    RunResult over = RunTarnel(scratch, {"list", at260});
    EXPECT_EQ(over.status, 2);
    EXPECT_EQ(over.err, "tarnel: archive " + at260 + ": longer than 259 characters\n");

    // A new archive needs its folder; a file of that name is none.
    for (const std::string& folder : {scratch / "nowhere", scratch / "src/a.txt"}) {
        RunResult noFolder =
            RunTarnel(scratch, {"add", folder + "/new.mpq", "-C", scratch / "src", "a.txt"});
        EXPECT_EQ(noFolder.status, 2);
        EXPECT_EQ(noFolder.err, "tarnel: " + folder + "/new.mpq: no such folder " + folder + "\n");
    }
}

TEST_F(ListCommand, UsageErrorsExitWithTwoAndHelpWithZero) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"frobnicate"}, {"list"}, {"list", archive, "--move"}, {"add", archive}}) {
        RunResult result = RunTarnel(scratch, args);
        EXPECT_EQ(result.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(result.err.find("--help"), std::string::npos);
    }
    RunResult help = RunTarnel(scratch, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("tarnel extract ARCHIVE"), std::string::npos);
    RunResult commandHelp = RunTarnel(scratch, {"extract", "--help"});
    EXPECT_EQ(commandHelp.status, 0);
    EXPECT_NE(commandHelp.out.find("-C DIR"), std::string::npos);
    RunResult version = RunTarnel(scratch, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tarnel ", 0), 0u);
}

TEST_F(ListCommand, APluginThatCannotBeLoadedExitsWithTwo) {
    WriteFile(scratch / "fake.wcx", "not a module");
    RunResult result = RunTarnel(scratch, {"--plugin", scratch / "fake.wcx", "list", archive});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("cannot load the plug-in"), std::string::npos) << result.err;
    // A module, but not a plug-in: every entry point it lacks is named.
    std::string binary = TARNEL_BINARY;
    std::string library = binary.substr(0, binary.rfind('/')) + "/SFMpq.dll";
    result = RunTarnel(scratch, {"--plugin", library, "list", archive});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "tarnel: the plug-in " + library +
                              " lacks the entry points OpenArchive, ReadHeader, ProcessFile, "
                              "CloseArchive, GetPackerCaps, SetProcessDataProc, SetChangeVolProc, "
                              "PackFiles, DeleteFiles, PackSetDefaultParams, ConfigurePacker\n");
}

// tarnel list, the command's usage errors and its exit statuses for
// archives that cannot be opened.
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
}

TEST_F(ListCommand, AnEmptyArchiveIsAnEmptyJsonArray) {
    std::string empty = scratch / "empty.mpq";
    MakeArchive(empty, {});
    RunResult result = RunTarnel(scratch, {"list", "--json", empty});
    ASSERT_EQ(result.status, 0) << result.err;
    // Only the archive's own name list, or nothing.
    EXPECT_EQ(result.out.find("\"size\"", result.out.find("\"size\"") + 1), std::string::npos);
}

TEST_F(ListCommand, ArchivesThatCannotBeOpenedExitWithTwo) {
    RunResult missing = RunTarnel(scratch, {"list", scratch / "missing.mpq"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("missing.mpq: no such file"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.out, "");

    WriteFile(scratch / "text.mpq", "this is not an archive");
    RunResult garbage = RunTarnel(scratch, {"list", scratch / "text.mpq"});
    EXPECT_EQ(garbage.status, 2);
    EXPECT_NE(garbage.err.find("text.mpq: the archive cannot be opened"), std::string::npos)
        << garbage.err;

    RunResult folder = RunTarnel(scratch, {"test", scratch.path()});
    EXPECT_EQ(folder.status, 2);
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
}

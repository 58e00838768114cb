// What tarnel makes of what a plug-in reports, with a scripted stand-in
// plug-in: member names holding control characters never reach the
// terminal as they are.
#include "tarnel_runner.h"

namespace {

// Runs tarnel with the scripted plug-in and its members `script`.
RunResult RunScripted(const Scratch& scratch, const std::string& script,
                      const std::vector<std::string>& args) {
    std::vector<std::string> full = {"--plugin", TARNEL_SCRIPTED_PLUGIN, "--settings",
                                     scratch / "tarnel.ini"};
    full.insert(full.end(), args.begin(), args.end());
    return RunTarnelWithEnvironment(scratch, {"TARNEL_SCRIPTED_MEMBERS=" + script}, full);
}

class PluginReports : public ::testing::Test {
  protected:
    void SetUp() override { WriteFile(archive, "never read"); }
    Scratch scratch;
    std::string archive = scratch / "a.mpq";
};

} // namespace

TEST_F(PluginReports, ControlCharactersInNamesReachNoTerminal) {
    // Clears the screen and sets the window title; forges a line.
    const std::string script = "\x1b[2J\x1b]0;owned\x07.txt=3|line\nforged.txt=4";
    RunResult list = RunScripted(scratch, script, {"list", archive});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "           3            3  \\x1B[2J\\x1B]0;owned\\x07.txt\n"
                        "           4            4  line\\x0Aforged.txt\n");

    // Messages escape them too: here, names refused for extraction.
    RunResult extract = RunScripted(scratch, "../\x1b[1m.txt=1|/\x07.txt=1",
                                    {"extract", archive, "-C", scratch / "out"});
    EXPECT_EQ(extract.status, 1);
    EXPECT_NE(extract.err.find("../\\x1B[1m.txt: refused"), std::string::npos) << extract.err;
    EXPECT_NE(extract.err.find("/\\x07.txt: refused"), std::string::npos) << extract.err;
    EXPECT_EQ(extract.err.find_first_of("\x1b\x07"), std::string::npos) << extract.err;

    // Scripts get them escaped the JSON way.
    RunResult json = RunScripted(scratch, script, {"list", "--json", archive});
    EXPECT_NE(json.out.find("\"line\\u000aforged.txt\""), std::string::npos) << json.out;
}

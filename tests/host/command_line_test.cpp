// Parsing tarnel's command line, and the names it takes from files (-T).
#include <gtest/gtest.h>

#include "host/command_line.h"
#include "host/name_list.h"

using host::Command;
using host::CommandLine;

namespace {

bool Parse(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
    line = CommandLine();
    error.clear();
    return host::ParseCommandLine(args, line, error);
}

} // namespace

TEST(CommandLine, CommandsTakeTheirArchiveAndOperands) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(Parse({"extract", "a.mpq", "-C", "out", "*.txt", "maps"}, line, error)) << error;
    EXPECT_EQ(line.command, Command::Extract);
    EXPECT_EQ(line.archive, "a.mpq");
    EXPECT_EQ(line.folder, "out");
    EXPECT_EQ(line.operands, (std::vector<std::string>{"*.txt", "maps"}));

    ASSERT_TRUE(Parse({"add", "a.mpq", "--into=maps", "--move", "-Csrc", "x", "y"}, line, error));
    EXPECT_EQ(line.command, Command::Add);
    EXPECT_TRUE(line.move);
    EXPECT_TRUE(line.intoGiven);
    EXPECT_EQ(line.into, "maps");
    EXPECT_EQ(line.folder, "src");
    EXPECT_EQ(line.operands, (std::vector<std::string>{"x", "y"}));

    ASSERT_TRUE(Parse({"--json", "list", "a.mpq"}, line, error));
    EXPECT_TRUE(line.json);
    ASSERT_TRUE(Parse({"config"}, line, error));
    EXPECT_EQ(line.command, Command::Config);
}

TEST(CommandLine, GlobalOptionsStandAnywhere) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(Parse({"--plugin", "p.wcx", "list", "a.mpq", "--settings=s.ini"}, line, error));
    EXPECT_EQ(line.pluginPath, "p.wcx");
    EXPECT_EQ(line.settingsPath, "s.ini");
}

TEST(CommandLine, DoubleDashEndsOptions) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(Parse({"delete", "a.mpq", "--", "--json", "-C"}, line, error)) << error;
    EXPECT_EQ(line.operands, (std::vector<std::string>{"--json", "-C"}));
    // A lone "-" is a name, not an option.
    ASSERT_TRUE(Parse({"extract", "a.mpq", "-", "x"}, line, error)) << error;
    EXPECT_EQ(line.operands, (std::vector<std::string>{"-", "x"}));
}

TEST(CommandLine, HelpAndVersionNeedNothingElse) {
    CommandLine line;
    std::string error;
    for (const char* help : {"--help", "-h"}) {
        ASSERT_TRUE(Parse({help}, line, error)) << help;
        EXPECT_TRUE(line.showHelp) << help;
    }
    ASSERT_TRUE(Parse({"add", "--help"}, line, error));
    EXPECT_TRUE(line.showHelp);
    EXPECT_EQ(line.command, Command::Add);
    EXPECT_NE(host::HelpText(Command::Add).find("--move"), std::string::npos);
    ASSERT_TRUE(Parse({"--version"}, line, error));
    EXPECT_TRUE(line.showVersion);
}

TEST(CommandLine, UsageErrors) {
    CommandLine line;
    std::string error;
    EXPECT_FALSE(Parse({}, line, error));
    EXPECT_FALSE(Parse({"frobnicate", "a.mpq"}, line, error));
    EXPECT_NE(error.find("frobnicate"), std::string::npos);
    EXPECT_FALSE(Parse({"list"}, line, error));                   // no archive
    EXPECT_FALSE(Parse({"list", "a.mpq", "b.mpq"}, line, error)); // one archive only
    EXPECT_FALSE(Parse({"test", "a.mpq", "x"}, line, error));
    EXPECT_FALSE(Parse({"add", "a.mpq"}, line, error));    // nothing to add
    EXPECT_FALSE(Parse({"delete", "a.mpq"}, line, error)); // nothing to delete
    EXPECT_FALSE(Parse({"config", "x"}, line, error));
    EXPECT_FALSE(Parse({"list", "--json=yes", "a.mpq"}, line, error));
    EXPECT_FALSE(Parse({"extract", "a.mpq", "-C"}, line, error)); // no value
    for (const char* empty : {"-C", "-T", "--directory=", "--plugin=", "--settings="}) {
        std::vector<std::string> args = {"extract", "a.mpq", empty};
        if (empty[1] != '-') {
            args.push_back("");
        }
        EXPECT_FALSE(Parse(args, line, error)) << empty;
    }
    EXPECT_FALSE(Parse({"extract", "a.mpq", "--bogus"}, line, error));
    // Options that belong to another command.
    EXPECT_FALSE(Parse({"list", "a.mpq", "--move"}, line, error));
    EXPECT_FALSE(Parse({"extract", "a.mpq", "--json"}, line, error));
    EXPECT_FALSE(Parse({"delete", "a.mpq", "x", "-C", "d"}, line, error));
}

TEST(CommandLine, HabitsOfOtherArchivers) {
    CommandLine line;
    std::string error;
    // Short options bundle; a value may follow its letter; long forms.
    ASSERT_TRUE(
        Parse({"extract", "a.mpq", "-kv", "-Cout", "-T-", "--files-from=n.txt"}, line, error))
        << error;
    EXPECT_TRUE(line.keepOld);
    EXPECT_TRUE(line.verbose);
    EXPECT_EQ(line.folder, "out");
    EXPECT_EQ(line.nameFiles, (std::vector<std::string>{"-", "n.txt"}));
    ASSERT_TRUE(
        Parse({"extract", "a.mpq", "--keep-old-files", "--quiet", "--internal", "-kT", "n.txt"},
              line, error))
        << error;
    EXPECT_TRUE(line.keepOld && line.quiet && line.internal);
    EXPECT_EQ(line.nameFiles, std::vector<std::string>{"n.txt"});
    // With -T, add and delete need no names of their own.
    ASSERT_TRUE(Parse({"add", "a.mpq", "-T", "-"}, line, error)) << error;
    ASSERT_TRUE(Parse({"delete", "a.mpq", "--verbose", "-T", "names"}, line, error)) << error;
    ASSERT_TRUE(Parse({"delete", "a.mpq", "--internal", "(listfile)"}, line, error)) << error;
    ASSERT_TRUE(Parse({"test", "-q", "a.mpq"}, line, error)) << error;

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"extract", "a.mpq", "-v", "-q"},          // both
             {"extract", "a.mpq", "-Tk"},               // fine: "k" is the file ...
             {"extract", "a.mpq", "-kT"},               // ... but this has no value
             {"extract", "a.mpq", "-kx"},               // an unknown letter in a bundle
             {"add", "a.mpq", "-k", "x"},               // extract only
             {"list", "a.mpq", "-v"},                   // not for list
             {"list", "a.mpq", "-T", "n"},              //
             {"add", "a.mpq", "--internal", "x"},       //
             {"config", "-q"},                          //
             {"extract", "a.mpq", "--keep-old-files=1"} // takes no value
         }) {
        bool fine = args.back() == "-Tk";
        EXPECT_EQ(Parse(args, line, error), fine) << args.back() << ": " << error;
    }
}

TEST(NameList, OneNameALineTakenAsItIs) {
    std::vector<std::string> names;
    std::string error;
    ASSERT_TRUE(host::SplitNameList("a.txt\r\n\n  b c.txt \n-dash\r\nlast", "f", names, error));
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "  b c.txt ", "-dash", "last"}));
    names.clear();
    EXPECT_TRUE(host::SplitNameList("", "f", names, error));
    EXPECT_TRUE(names.empty());
    // A NUL byte would end the name early where the plug-in reads it.
    EXPECT_FALSE(host::SplitNameList(std::string("ok\nbad\0/etc/passwd\n", 20), "f", names, error));
    EXPECT_EQ(error, "f: line 2 holds a NUL byte");
    EXPECT_FALSE(host::ReadNameList("/nonexistent/names.txt", names, error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    // A folder opens, but cannot be read; a file is read to its end.
    EXPECT_FALSE(host::ReadNameList("/", names, error));
    EXPECT_EQ(error, "cannot read names from /: Is a directory");
    names.clear();
    EXPECT_TRUE(host::ReadNameList(TARNEL_MANUAL_PAGE, names, error));
    EXPECT_GT(names.size(), 50u);
    EXPECT_EQ(names[0].rfind(".TH TARNEL 1", 0), 0u) << names[0];
}

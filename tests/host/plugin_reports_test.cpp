// What tarnel makes of what a plug-in reports, with a scripted stand-in
// plug-in: member names holding control characters never reach the
// terminal as they are, a listing that fails part-way is a failure said
// in words, not the end of the archive, and a failure the plug-in shows
// but the archive does not is no success.
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "tarnel_runner.h"

namespace {

// Runs tarnel with the scripted plug-in and its members `script`.
RunResult RunScripted(const Scratch& scratch, const std::string& script,
                      const std::vector<std::string>& args,
                      const std::vector<std::string>& environment = {}) {
    std::vector<std::string> full = {"--plugin", TARNEL_SCRIPTED_PLUGIN, "--settings",
                                     scratch / "tarnel.ini"};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<std::string> variables = environment;
    variables.push_back("TARNEL_SCRIPTED_MEMBERS=" + script);
    return RunTarnelWithEnvironment(scratch, variables, full);
}

class PluginReports : public ::testing::Test {
  protected:
    // An MPQ header, so that the command hands the file to the plug-in,
    // which never reads it.
    void SetUp() override {
        WriteFile(archive, std::string("MPQ\x1A\x20", 5) + std::string(27, '\0'));
    }
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
    // And so do the names -v shows.
    RunResult verbose =
        RunScripted(scratch, script, {"extract", archive, "-v", "-C", scratch / "shown"});
    EXPECT_EQ(verbose.out, "\\x1B[2J\\x1B]0;owned\\x07.txt\nline\\x0Aforged.txt\n");

    // A name that fills the header's field has no terminating zero: it is
    // read to the field's last byte, and no further.
    const std::string full(260, 'f');
    RunResult filled = RunScripted(scratch, full + "=1|" + full + "g=2", {"list", archive});
    EXPECT_EQ(filled.out, "           1            1  " + full + "\n" +
                              "           2            2  " + full + "\n");

    // Scripts get them escaped the JSON way.
    RunResult json = RunScripted(scratch, script, {"list", "--json", archive});
    EXPECT_NE(json.out.find("\"line\\u000aforged.txt\""), std::string::npos) << json.out;
}

TEST_F(PluginReports, AListingThatFailsPartWayIsAFailureNotTheEnd) {
    const std::string script = "a.txt=5|b.txt=3|!12|c.txt=1";
    const std::string failure = "a.mpq: the listing failed after 2 members: reading or writing "
                                "member data failed";
    auto Count = [](const std::string& text, const std::string& part) {
        size_t count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++count;
        }
        return count;
    };

    RunResult list = RunScripted(scratch, script, {"list", archive});
    EXPECT_EQ(list.status, 1);
    EXPECT_EQ(list.out, "           5            5  a.txt\n"
                        "           3            3  b.txt\n");
    EXPECT_EQ(Count(list.err, failure), 1u) << list.err;
    // For scripts, the members before it still make a whole JSON array.
    RunResult json = RunScripted(scratch, script, {"list", "--json", archive});
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.out, "[\n  {\"name\": \"a.txt\", \"size\": 5, \"packed\": 5},\n"
                        "  {\"name\": \"b.txt\", \"size\": 3, \"packed\": 3}\n]\n");

    // The members before the failure are extracted; it is reported once.
    RunResult extract = RunScripted(scratch, script, {"extract", archive, "-C", scratch / "out"});
    EXPECT_EQ(extract.status, 1);
    EXPECT_EQ(Count(extract.err, failure), 1u) << extract.err;
    EXPECT_EQ(FilesBelow(scratch / "out"), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(ReadFile(scratch / "out/a.txt"), "xxxxx");

    RunResult test = RunScripted(scratch, script, {"test", archive});
    EXPECT_EQ(test.status, 1);
    EXPECT_EQ(Count(test.err, failure), 1u) << test.err;
    EXPECT_EQ(test.out.find("all OK"), std::string::npos) << test.out;
    // Also when only the first listing fails and the members then read.
    RunResult once = RunScripted(scratch, "a.txt=5|?12|b.txt=3", {"test", archive});
    EXPECT_EQ(once.status, 1);
    EXPECT_NE(once.out.find("could not be listed to its end"), std::string::npos) << once.out;

    // Nothing is deleted on a partial listing (this plug-in would refuse).
    RunResult remove = RunScripted(scratch, script, {"delete", archive, "a.txt"});
    EXPECT_EQ(remove.status, 1);
    EXPECT_EQ(Count(remove.err, failure), 1u) << remove.err;
    EXPECT_EQ(remove.err.find("not supported"), std::string::npos) << remove.err;

    // A code the host does not know is still a failure, said as a number.
    RunResult unknown = RunScripted(scratch, "a.txt=1|!99", {"list", archive});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("after 1 member: unknown result code 99"), std::string::npos)
        << unknown.err;

    // Every code a plug-in may give, in the words said for it.
    const std::pair<int, const char*> words[] = {
        {11, "out of memory"},           {13, "the archive cannot be opened or updated"},
        {14, "unknown result code 14"},  {15, "cannot open an existing file"},
        {16, "cannot create a file"},    {17, "cannot close a file"},
        {18, "cannot read from a file"}, {19, "cannot write to a file"},
        {20, "buffer too small"},        {21, "stopped by the user"},
        {22, "no files found"},          {23, "too many files to pack"},
        {24, "operation not supported"}, {25, "unknown result code 25"}};
    for (const auto& code : words) {
        RunResult coded = RunScripted(scratch, "!" + std::to_string(code.first), {"list", archive});
        EXPECT_EQ(coded.status, 1) << code.second;
        EXPECT_EQ(coded.err, "tarnel: " + archive +
                                 ": the listing failed after 0 members: " + code.second + "\n");
    }
}

// An archive that lost a member between the listing the names were chosen
// on and the extraction's own: the chosen members are told by their names.
TEST_F(PluginReports, MembersAreChosenByNameWhenTheArchiveChangedMeanwhile) {
    RunResult extract = RunScripted(scratch, "?gone.txt=1|a.txt=1|b.txt=2",
                                    {"extract", archive, "-C", scratch / "out", "b.txt"});
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(FilesBelow(scratch / "out"), (std::vector<std::string>{"b.txt"}));
}

TEST_F(PluginReports, AFailureThePluginShowsButTheArchiveHidesIsNoSuccess) {
    // The archive already holds a.txt of the same size, so the listing
    // afterwards cannot tell that it was not replaced; the plug-in said so.
    WriteFile(scratch / "src/a.txt", "1");
    RunResult add =
        RunScripted(scratch, "a.txt=1", {"add", archive, "-C", scratch / "src", "a.txt"},
                    {"TARNEL_SCRIPTED_PACK_MESSAGE=Cannot Add a.txt to archive!"});
    EXPECT_EQ(add.status, 1);
    EXPECT_EQ(add.err, "Error: Cannot Add a.txt to archive!\n");
    // When the command finds the file missing, or a member of its name but
    // of another size (the old one, not replaced), it says so itself, once.
    for (const char* script : {"b.txt=1", "a.txt=2"}) {
        RunResult missing =
            RunScripted(scratch, script, {"add", archive, "-C", scratch / "src", "a.txt"},
                        {"TARNEL_SCRIPTED_PACK_MESSAGE=Cannot Add a.txt to archive!"});
        EXPECT_EQ(missing.status, 1) << script;
        EXPECT_EQ(missing.err, "tarnel: " + scratch / "src/a.txt" + ": not added to " + archive +
                                   ": the plug-in did not add it\n")
            << script;
    }
    // A hash table of two slots holding two members is full; holding one,
    // it is not.
    WriteFile(archive, std::string("MPQ\x1A\x20", 5) + std::string(19, '\0') +
                           std::string("\x02\0\0\0", 4) + std::string(4, '\0'));
    for (const char* script : {"b.txt=1|c.txt=1", "b.txt=1"}) {
        RunResult missing =
            RunScripted(scratch, script, {"add", archive, "-C", scratch / "src", "a.txt"},
                        {"TARNEL_SCRIPTED_PACK_MESSAGE="});
        EXPECT_EQ(missing.status, 1) << script;
        EXPECT_EQ(missing.err,
                  "tarnel: " + scratch / "src/a.txt" + ": not added to " + archive + ": " +
                      (std::string(script).find('|') != std::string::npos
                           ? "the archive is full: its table holds 2 members (the MaxFiles "
                             "setting in " +
                                 scratch / "tarnel.ini" + " sets the room of new archives)\n"
                           : "the plug-in did not add it\n"))
            << script;
    }
    // An update the plug-in refuses fails the command as unusable.
    RunResult refused = RunScripted(scratch, "a.txt=1", {"delete", archive, "a.txt"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "tarnel: " + archive + ": operation not supported\n");
    // A member the plug-in did not delete is said once, by the command.
    RunResult kept = RunScripted(scratch, "a.txt=1|b.txt=2", {"delete", archive, "-v", "a.txt"},
                                 {"TARNEL_SCRIPTED_PACK_MESSAGE=Cannot delete a.txt"});
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(kept.err,
              "tarnel: a.txt: not deleted: still in the archive after the plug-in's update\n");
    EXPECT_EQ(kept.out, ""); // -v names only what was deleted
    // One gone from the archive all the same: the plug-in's message is passed
    // on, and fails the command.
    RunResult gone = RunScripted(scratch, "?a.txt=1|b.txt=2", {"delete", archive, "a.txt"},
                                 {"TARNEL_SCRIPTED_PACK_MESSAGE=Cannot delete a.txt"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.err, "Error: Cannot delete a.txt\n");
    // An internal member deleted without a word may be written again by the
    // archive library: the command looks.
    // What the plug-in says outside the update, in the listings before and
    // after it, reaches standard error as it is.
    RunResult internal =
        RunScripted(scratch, "(listfile)=5|a.txt=1", {"delete", archive, "(listfile)"},
                    {"TARNEL_SCRIPTED_PACK_MESSAGE=", "TARNEL_SCRIPTED_OPEN_MESSAGE=Opened"});
    EXPECT_EQ(internal.status, 1);
    EXPECT_EQ(internal.err, "Opened\nOpened\n"
                            "tarnel: (listfile): not deleted: still in the archive after the "
                            "plug-in's update\n");
}

// A full or read-only disk stops every member alike: it is said once, of the
// folder extracted into.
TEST_F(PluginReports, AFullOrReadOnlyDiskIsSaidOfTheFolderExtractedInto) {
    for (int code : {ENOSPC, EDQUOT, EROFS}) {
        SCOPED_TRACE(code);
        RunResult extract = RunScripted(scratch, "a.txt=1|maps\\b.txt=2",
                                        {"extract", archive, "-C", scratch / "out"},
                                        {"TARNEL_SCRIPTED_EXTRACT_ERRNO=" + std::to_string(code)});
        EXPECT_EQ(extract.status, 1);
        EXPECT_EQ(extract.err, "tarnel: 2 members not extracted: " + scratch / "out" + ": " +
                                   std::strerror(code) + "\n");
    }
    // A failure the system gives no reason for is said in the plug-in's
    // words alone, with no reason left over from the command's own calls.
    RunResult plain =
        RunScripted(scratch, "a.txt=1|maps\\b.txt=2", {"extract", archive, "-C", scratch / "plain"},
                    {"TARNEL_SCRIPTED_EXTRACT_ERRNO="});
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.err, "tarnel: 2 members not extracted: cannot write to a file\n");
}

// A file of 4 GiB or more is refused before the plug-in sees it, since a
// member cannot be that large; one byte less is handed over.
TEST_F(PluginReports, FilesTooLargeForAMemberAreRefusedBeforeThePlugin) {
    const std::string file = scratch / "src/big.bin";
    for (uint64_t size : {uint64_t(0xFFFFFFFFu), uint64_t(0x100000000u)}) {
        WriteFile(file, "");
        ASSERT_EQ(truncate(file.c_str(), static_cast<off_t>(size)), 0);
        RunResult add = RunScripted(scratch, "", {"add", archive, "-C", scratch / "src", "big.bin"},
                                    {"TARNEL_SCRIPTED_PACK_MESSAGE=Cannot Add big.bin"});
        EXPECT_EQ(add.status, 1) << size;
        EXPECT_EQ(add.err.find("larger than 4 GiB") != std::string::npos, size > 0xFFFFFFFFu)
            << add.err;
    }
}

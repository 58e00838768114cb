// A disk that fills up while the plug-in writes: a file-size limit in a
// child process makes writes beyond it store nothing. Nothing may be lost:
// no old file destroyed, no source deleted that the archive does not hold.
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e_support.h"

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

namespace {

// Runs `work` in a child process whose files cannot grow beyond `limit`
// bytes; returns the child's exit code (its result), or -1.
template <typename Work> int WithFileSizeLimit(rlim_t limit, Work work) {
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        _exit(work());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

class FullDiskTest : public ::testing::Test {
  protected:
    void SetUp() override {
        plugin_ = Plugin();
        ASSERT_NE(plugin_, nullptr);
        plugin_->UseSettings(dir_.File("settings.ini"));
        plugin_->SetProcessDataProc(nullptr, nullptr);
        source_ = dir_.path() + "/src/";
    }

    TempFolder dir_;
    LoadedPlugin* plugin_ = nullptr;
    std::string source_;
};

TEST_F(FullDiskTest, ExtractionKeepsTheOldFileAndLeavesNoPartOne) {
    std::string archive = dir_.File("big.mpq");
    std::string data = RandomData(3 * 1048576);
    WriteFile(source_ + "big.bin", data);
    ASSERT_EQ(Pack(archive, source_, {"big.bin"}), kResultOk);

    std::string out = dir_.File("out");
    WriteFile(out + "/old/big.bin", "old content");
    int result = WithFileSizeLimit(1048576 + 1048576 / 2, [&] {
        return ProcessAll(archive, kOpExtract, out + "/old")["big.bin"];
    });
    EXPECT_EQ(result, kResultBadData);
    EXPECT_EQ(ReadFile(out + "/old/big.bin"), "old content");
    EXPECT_THAT(FilesIn(out + "/old"), ElementsAre("big.bin"));

    result = WithFileSizeLimit(1048576 + 1048576 / 2, [&] {
        return ProcessAll(archive, kOpExtract, out + "/new")["big.bin"];
    });
    EXPECT_EQ(result, kResultBadData);
    EXPECT_THAT(FilesIn(out + "/new"), ::testing::IsEmpty());

    // With room, the same extraction succeeds.
    EXPECT_EQ(ProcessAll(archive, kOpExtract, out + "/old")["big.bin"], kResultOk);
    EXPECT_EQ(ReadFile(out + "/old/big.bin"), data);
}

TEST_F(FullDiskTest, MoveIntoArchiveLosesNoSource) {
    std::vector<std::string> names;
    std::map<std::string, std::string> content;
    for (int i = 0; i < 8; ++i) {
        std::string name = "file" + std::to_string(i) + ".bin";
        content[name] = RandomData(256 * 1024, static_cast<unsigned>(i) + 10);
        WriteFile(source_ + name, content[name]);
        names.push_back(name);
    }
    // The archive already holds a member, which must survive too.
    std::string archive = dir_.File("full.mpq");
    WriteFile(source_ + "kept.txt", "already packed");
    ASSERT_EQ(Pack(archive, source_, {"kept.txt"}, nullptr, kPackMoveFiles), kResultOk);
    content["kept.txt"] = "already packed";
    int result = WithFileSizeLimit(
        700 * 1024, [&] { return Pack(archive, source_, names, nullptr, kPackMoveFiles); });
    // Files that no longer fit are reported one by one; should the archive
    // itself not be written, the whole call fails.
    EXPECT_TRUE(result == kResultOk || result == kResultBadArchive) << result;

    // Each source is either still on disk or extracts from the archive
    // exactly as it was.
    std::string out = dir_.File("out");
    std::map<std::string, int> extracted = ProcessAll(archive, kOpExtract, out);
    int kept = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        if (Exists(source_ + name)) {
            ++kept;
            EXPECT_EQ(ReadFile(source_ + name), content[name]);
        } else {
            ASSERT_EQ(extracted[name], kResultOk);
            EXPECT_EQ(ReadFile(out + "/" + name), content[name]);
        }
    }
    EXPECT_GT(kept, 0); // the limit did bite
    EXPECT_EQ(ReadFile(out + "/kept.txt"), "already packed");
}

} // namespace

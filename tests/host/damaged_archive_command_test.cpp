// tarnel on archives that once ended the host process, overflowed its heap,
// ran without end or grew an archive to gigabytes (tests/fixtures/damaged):
// every command ends with a clean result of its own, and an update leaves the
// archive as it was.
#include <cstdlib>

#include "tarnel_runner.h"

namespace {

std::string Fixture(const std::string& name) {
    return std::string(TARNEL_FIXTURES_DIR) + "/damaged/" + name;
}

TEST(DamagedArchiveCommands, EveryCommandEndsCleanly) {
    Scratch scratch;
    setenv("SFMPQ_ENGINE_DEADLINE_MS", "1000", 1);
    for (const char* file :
         {"lzma-v2-valid.mpq", "lzma-v4-valid.mpq", "lzma-v1.mpq", "lzma-unnamed-member.mpq",
          "member-read-overflow.mpq", "sector-offsets-overflow.mpq", "patch-flag-overflow.mpq",
          "bzip2-endless.mpq", "bzip2-endless-several.mpq", "update-growth.mpq"}) {
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"list", Fixture(file)},
              std::vector<std::string>{"test", Fixture(file)},
              std::vector<std::string>{"extract", Fixture(file), "-C", scratch / "out"}}) {
            RunResult result = RunTarnel(scratch, command);
            EXPECT_FALSE(result.signaled) << command[0] << " " << file;
            EXPECT_TRUE(result.status == 0 || result.status == 1)
                << command[0] << " " << file << ": " << result.status << "\n"
                << result.err;
        }
    }
    unsetenv("SFMPQ_ENGINE_DEADLINE_MS");
}

TEST(DamagedArchiveCommands, AnAddToAHostileArchiveLeavesItAsItWas) {
    Scratch scratch;
    std::string archive = scratch / "update-growth.mpq";
    std::string before = ReadFile(Fixture("update-growth.mpq"));
    WriteFile(archive, before);
    WriteFile(scratch / "new.txt", "a small file to add\n");
    WriteFile(scratch / "tarnel.ini", ReadFile(Fixture("update-growth.ini")));
    RunResult result = RunTarnel(scratch, {"add", archive, "-C", scratch.path(), "new.txt"});
    EXPECT_NE(result.status, 0) << result.err;
    EXPECT_TRUE(ReadFile(archive) == before);
}

} // namespace

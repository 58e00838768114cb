// Finding an MPQ header as the archive library does, so that the command
// can say "not an MPQ archive" or "cut short" before the plug-in fails.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include <gtest/gtest.h>

#include "host/archive_check.h"

using host::FindMpqHeader;
using host::MpqHeaderSearch;

namespace {

std::string Le32(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>(value >> (8 * i));
    }
    return bytes;
}

// A classic header: size 32, archive size, format 0, sector shift 3, the
// hash table at `hashAt` with `hashSlots` entries, the block table at
// `blockAt` with `blocks` entries.
std::string Header(uint32_t hashAt, uint32_t hashSlots, uint32_t blockAt, uint32_t blocks,
                   uint32_t headerSize = 32) {
    return std::string("MPQ\x1A", 4) + Le32(headerSize) + Le32(0) + std::string("\0\0\3\0", 4) +
           Le32(hashAt) + Le32(blockAt) + Le32(hashSlots) + Le32(blocks);
}

class MpqHeader : public ::testing::Test {
  protected:
    MpqHeaderSearch Search(const std::string& content) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        return FindMpqHeader(path);
    }
    void TearDown() override { std::remove(path.c_str()); }
    std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                       "/tarnel-header-" + std::to_string(getpid()) + ".mpq";
};

} // namespace

TEST_F(MpqHeader, SearchedAtEvery512ByteBoundary) {
    // Tables right after a header at 0: 16 hash slots, 4 blocks.
    std::string whole = Header(32, 16, 32 + 256, 4) + std::string(256 + 64, 'x');
    struct Case {
        std::string content;
        MpqHeaderSearch::Outcome outcome;
        uint64_t offset;
    };
    const Case cases[] = {
        {whole, MpqHeaderSearch::Found, 0},
        {std::string(512, 'j') + whole, MpqHeaderSearch::Found, 512},
        // Off a boundary the library never looks.
        {std::string(100, 'j') + whole, MpqHeaderSearch::NoHeader, 0},
        // A header shorter than 32 bytes is a decoy passed over.
        {Header(32, 16, 288, 4, 16) + std::string(480, 'j') + whole, MpqHeaderSearch::Found, 512},
        // Beyond the first block read.
        {std::string(65536 + 1024, 'j') + whole, MpqHeaderSearch::Found, 65536 + 1024},
        {"", MpqHeaderSearch::NoHeader, 0},
        {"plain text", MpqHeaderSearch::NoHeader, 0},
    };
    for (const Case& each : cases) {
        MpqHeaderSearch search = Search(each.content);
        SCOPED_TRACE(each.content.size());
        EXPECT_EQ(search.outcome, each.outcome);
        if (each.outcome == MpqHeaderSearch::Found) {
            EXPECT_EQ(search.offset, each.offset);
            EXPECT_EQ(search.hashTableSize, 16u);
            EXPECT_FALSE(search.headerCut);
            EXPECT_FALSE(search.tablesPastEnd);
        }
    }
}

TEST_F(MpqHeader, AnArchiveCutShortIsToldFromItsHeader) {
    std::string whole = Header(32, 16, 32 + 256, 4) + std::string(256 + 64, 'x');
    // The tables end past the end of the file.
    EXPECT_TRUE(Search(whole.substr(0, 100)).tablesPastEnd);
    EXPECT_TRUE(Search(whole.substr(0, whole.size() - 1)).tablesPastEnd);
    // Only the hash table, behind the smaller block table, runs past it.
    EXPECT_TRUE(Search(Header(32 + 64, 16, 32, 4) + std::string(64 + 255, 'x')).tablesPastEnd);
    // The file ends inside the header.
    MpqHeaderSearch cut = Search(std::string(512, 'j') + whole.substr(0, 20));
    EXPECT_EQ(cut.outcome, MpqHeaderSearch::Found);
    EXPECT_TRUE(cut.headerCut);
    EXPECT_EQ(host::DamagedArchiveReason(path),
              "an MPQ archive cut short: the file ends inside its header");
    // A header of empty tables that is the file's last 32 bytes is whole;
    // 31 of them, or only its signature, are not.
    for (size_t length : {size_t(32), size_t(31), size_t(4)}) {
        MpqHeaderSearch ending =
            Search(std::string(512, 'j') + Header(32, 0, 32, 0).substr(0, length));
        EXPECT_EQ(ending.outcome, MpqHeaderSearch::Found);
        EXPECT_EQ(ending.headerCut, length < 32) << length;
        EXPECT_FALSE(ending.tablesPastEnd);
    }
    Search(whole);
    EXPECT_EQ(host::DamagedArchiveReason(path), "");
    EXPECT_EQ(Search(whole).fileSize, whole.size());
}

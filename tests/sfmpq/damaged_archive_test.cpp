// Damaged and hostile archives: opening, listing and reading them fails
// cleanly or delivers what can be read; it never crashes or hangs.
#include "sfmpq_test_support.h"

#include "sfmpq/archive_header.h"
#include <StormLib.h>
#include <bzlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Opens, lists and reads all of `path` as the plug-in would, reading at most
// a few MiB per member. Returns the number of members read.
int ReadEverything(const std::string& path) {
    MpqHandle archive = nullptr;
    if (!Lib().SFileOpenArchive(path.c_str(), 0, 0, &archive)) {
        return -1;
    }
    std::string list;
    MpqHandle member = nullptr;
    if (Lib().SFileOpenFileEx(archive, "(listfile)", 0, &member)) {
        uint32_t size = Lib().SFileGetFileSize(member, nullptr);
        if (size != 0xFFFFFFFFu && size < (4u << 20)) {
            list.resize(size);
            uint32_t got = 0;
            Lib().SFileReadFile(member, &list[0], size, &got, nullptr);
            list.resize(got);
        }
        Lib().SFileCloseFile(member);
    }
    uint32_t count = Lib().SFileGetFileInfo(archive, kInfoHashTableSize);
    EXPECT_LE(count, 1u << 22);
    std::vector<ListEntry> records(count);
    Lib().SFileListFiles(archive, list.c_str(), records.data(), kListIsText);
    int read = 0;
    std::vector<char> chunk(1 << 20);
    for (const ListEntry& r : records) {
        EXPECT_TRUE(std::memchr(r.name, 0, sizeof r.name));
        if (!r.exists || !Lib().SFileOpenFileEx(archive, r.name, 0, &member)) {
            continue;
        }
        Lib().SFileGetFileSize(member, nullptr);
        for (int i = 0; i < 4; ++i) {
            uint32_t got = 0;
            if (!Lib().SFileReadFile(member, chunk.data(), 1 << 20, &got, nullptr) || got == 0) {
                break;
            }
        }
        Lib().SFileCloseFile(member);
        ++read;
    }
    Lib().SFileCloseArchive(archive);
    return read;
}

std::string Sample(const Folder& folder) {
    std::string archive = folder / "good.mpq";
    WriteWithStorm(archive, {{"text", Content(20000, 1, true)},
                             {"noise", Content(9000, 2, false), 0, 0x10200, 0x08},
                             {"keyed", Content(7000, 3, true), 0, 0x30200, 0x02},
                             {"stored", Content(5000, 4, false), 0, 0, 0},
                             {"single", Content(3000, 5, true), 0, 0x1000200, 0x02}});
    return ReadFile(archive);
}

TEST(DamagedArchive, TruncatedArchivesFailOrReadWhatIsThere) {
    Folder folder;
    std::string good = Sample(folder);
    EXPECT_EQ(ReadEverything(folder / "good.mpq"), 6);
    std::string path = folder / "cut.mpq";
    for (size_t length = 0; length < good.size(); length += 1 + length / 9) {
        WriteFile(path, good.substr(0, length));
        ReadEverything(path);
    }
}

TEST(DamagedArchive, CorruptedArchivesNeverCrash) {
    Folder folder;
    std::string good = Sample(folder);
    std::string path = folder / "bad.mpq";
    uint32_t state = 12345;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (int variant = 0; variant < 300; ++variant) {
        std::string bad = good;
        // Header and tables are at the start and the end of the archive;
        // most variants hit those, the others the member data.
        int flips = 1 + next() % 8;
        for (int i = 0; i < flips; ++i) {
            size_t at = next() % bad.size();
            if (variant % 3 == 0) {
                at %= 64;
            } else if (variant % 3 == 1) {
                at = bad.size() - 1 - (at % 1024);
            }
            bad[at] = static_cast<char>(next() >> 24);
        }
        WriteFile(path, bad);
        ReadEverything(path);
    }
}

TEST(DamagedArchive, UpdatingCorruptedArchivesNeverCrashesNorTouchesThemOnFailure) {
    Folder folder;
    std::string good = Sample(folder);
    std::string path = folder / "bad.mpq";
    WriteFile(folder / "src", Content(5000, 9, true));
    uint32_t state = 777;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (int variant = 0; variant < 60; ++variant) {
        std::string bad = good;
        for (int i = 0; i < 4; ++i) {
            size_t at = variant % 2 ? next() % 64 : bad.size() - 1 - next() % 1024;
            bad[at] = static_cast<char>(next() >> 24);
        }
        WriteFile(path, bad);
        MpqHandle h = Lib().MpqOpenArchiveForUpdate(path.c_str(), 0x05, 16);
        if (!h) {
            EXPECT_TRUE(ReadFile(path) == bad);
            continue;
        }
        Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(), "added", 0x10201, 2, 9);
        Lib().MpqDeleteFile(h, "text");
        if (!Lib().MpqCloseUpdatedArchive(h, 0)) {
            EXPECT_TRUE(ReadFile(path) == bad);
        }
        ReadEverything(path);
    }
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"bad.mpq", "good.mpq", "src"}));
}

TEST(DamagedArchive, AbsurdTableSizesAreNotBelieved) {
    Folder folder;
    std::string good = Sample(folder);
    std::string path = folder / "huge.mpq";
    for (uint32_t size : {0xFFFFFFFFu, 0x10000000u, 0x00800000u}) {
        for (size_t field : {size_t(24), size_t(28)}) { // hash and block table sizes
            std::string bad = good;
            std::memcpy(&bad[field], &size, 4);
            WriteFile(path, bad);
            EXPECT_EQ(ReadEverything(path), -1) << "refused at once";
        }
    }
    // A hash table of no entries, in a format-3 archive whose HET table
    // stands in for it, opens: its size, 0, is an answer, not a failure, and
    // the listing has no slots to fill.
    WriteWithStorm(path, {{"text", Content(2000, 1, true)}}, true, 64, 2);
    std::string empty = ReadFile(path);
    std::memcpy(&empty[24], "\0\0\0\0", 4);
    WriteFile(path, empty);
    MpqHandle archive = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(path.c_str(), 0, 0, &archive));
    errno = 0;
    EXPECT_EQ(Lib().SFileGetFileInfo(archive, kInfoHashTableSize), 0u);
    EXPECT_EQ(errno, 0);
    ListEntry untouched = {};
    EXPECT_TRUE(Lib().SFileListFiles(archive, "text", &untouched, kListIsText));
    EXPECT_FALSE(untouched.exists);
    EXPECT_TRUE(Lib().SFileCloseArchive(archive));
}

} // namespace

namespace {

void Put16(std::string* file, size_t at, uint16_t value) {
    std::memcpy(&(*file)[at], &value, 2);
}
void Put32(std::string* file, size_t at, uint32_t value) {
    std::memcpy(&(*file)[at], &value, 4);
}
void Put64(std::string* file, size_t at, uint64_t value) {
    std::memcpy(&(*file)[at], &value, 8);
}

// Whether an update of `path` is refused with `error`, leaving the file as it was.
bool UpdateRefused(const std::string& path, int error) {
    std::string before = ReadFile(path);
    errno = 0;
    MpqHandle h = Lib().MpqOpenArchiveForUpdate(path.c_str(), 0x04, 16);
    int got = errno;
    if (h) {
        Lib().MpqCloseUpdatedArchive(h, 0);
    }
    return !h && got == error && ReadFile(path) == before;
}

} // namespace

// The check before an engine is given the file, at its limit: a table of up
// to 2^20 entries may be cut short (some protected maps have such tables),
// a larger one must fit in the file.
TEST(DamagedArchive, OnlyTablesOfMoreThan2To20EntriesMustFitTheFile) {
    Folder folder;
    std::string good = Sample(folder);
    std::string path = folder / "tables.mpq";
    for (size_t field : {size_t(24), size_t(28)}) { // hash and block table sizes
        for (uint32_t entries :
             {sfmpq::kMaxUncheckedTableEntries, sfmpq::kMaxUncheckedTableEntries + 1}) {
            SCOPED_TRACE(std::to_string(field) + ": " + std::to_string(entries));
            std::string cut = good;
            Put32(&cut, field, entries);
            WriteFile(path, cut);
            sfmpq::ArchiveHeaderInfo info;
            EXPECT_EQ(sfmpq::CheckArchiveHeader(path.c_str(), &info),
                      entries > sfmpq::kMaxUncheckedTableEntries ? ENOEXEC : 0);
            EXPECT_TRUE(info.found);
        }
    }
    // The room is counted from the header on: what lies before it (here 17
    // MiB, more than the table needs) makes none.
    const size_t before = size_t(17) << 20;
    std::string late = std::string(before, '\0') + good;
    Put32(&late, before + 24, sfmpq::kMaxUncheckedTableEntries + 1);
    WriteFile(path, late);
    sfmpq::ArchiveHeaderInfo info;
    EXPECT_EQ(sfmpq::CheckArchiveHeader(path.c_str(), &info), ENOEXEC);
    EXPECT_EQ(info.offset, before);
}

// The header is searched for at every 512-byte step, in pieces that grow
// from 64 KiB to 1 MiB: found on either side of each piece's end.
TEST(DamagedArchive, TheHeaderIsFoundAtEveryStepAcrossThePiecesOfTheSearch) {
    Folder folder;
    std::string good = Sample(folder);
    std::string path = folder / "later.mpq";
    const size_t kib = 1024;
    for (size_t offset : {size_t(0), 64 * kib - 512, 64 * kib, 192 * kib - 512, 192 * kib,
                          960 * kib - 512, 960 * kib, 1984 * kib, 3008 * kib - 512, 3008 * kib}) {
        SCOPED_TRACE(offset);
        WriteFile(path, std::string(offset, '\0') + good);
        sfmpq::ArchiveHeaderInfo info;
        EXPECT_EQ(sfmpq::CheckArchiveHeader(path.c_str(), &info), 0);
        EXPECT_TRUE(info.found);
        EXPECT_EQ(info.offset, offset);
        // A header of empty tables that ends the file is whole; one byte
        // less, it is cut short.
        std::string empty = good.substr(0, 32);
        Put32(&empty, 24, 0);
        Put32(&empty, 28, 0);
        WriteFile(path, std::string(offset, '\0') + empty);
        EXPECT_EQ(sfmpq::CheckArchiveHeader(path.c_str(), &info), 0);
        EXPECT_TRUE(info.found);
        WriteFile(path, std::string(offset, '\0') + empty.substr(0, 31));
        EXPECT_EQ(sfmpq::CheckArchiveHeader(path.c_str(), &info), ENOEXEC);
    }
}

TEST(DamagedArchive, AbsurdSectorSizesAreRefused) {
    Folder folder;
    std::string good = Sample(folder);
    std::string path = folder / "sectors.mpq";
    // 512 << 23 wraps to 0, which the engine would divide by.
    for (uint16_t shift : {16, 22, 23, 31, 0xFFFF}) {
        std::string bad = good;
        Put16(&bad, 14, shift);
        WriteFile(path, bad);
        EXPECT_EQ(ReadEverything(path), -1) << shift;
        EXPECT_TRUE(UpdateRefused(path, ENOEXEC)) << shift;
    }
    // The largest size believed: 512 << 15, 16 MiB.
    Put16(&good, 14, 15);
    WriteFile(path, good);
    sfmpq::ArchiveHeaderInfo info;
    EXPECT_EQ(sfmpq::CheckArchiveHeader(path.c_str(), &info), 0);
    EXPECT_TRUE(info.found);
}

TEST(DamagedArchive, MpkArchivesAreRefused) {
    Folder folder;
    std::string good = Sample(folder);
    std::string path = folder / "a.mpk";
    for (uint32_t headerSize : {0u, 0x20u, 0x2Cu}) {
        std::string mpk = good;
        std::memcpy(&mpk[0], "MPK\x1A", 4);
        Put32(&mpk, 4, headerSize);
        WriteFile(path, mpk);
        errno = 0;
        EXPECT_EQ(ReadEverything(path), -1);
        EXPECT_EQ(errno, ENOEXEC);
        // Met before a real header, it is refused too.
        WriteFile(path, mpk.substr(0, 512) + good);
        EXPECT_EQ(ReadEverything(path), -1);
    }
}

TEST(DamagedArchive, ADecoyHeaderDoesNotHideTheTablesBehindIt) {
    Folder folder;
    std::string good = Sample(folder);
    EXPECT_EQ(ReadEverything(folder / "good.mpq"), 6);
    std::string path = folder / "decoy.mpq";
    std::string decoy(512, '\0');
    std::memcpy(&decoy[0], "MPQ\x1A", 4);
    for (uint32_t decoySize : {0u, 0x10u, 0x1Fu}) { // too short: the engine passes over it
        Put32(&decoy, 4, decoySize);
        WriteFile(path, decoy + good);
        EXPECT_EQ(ReadEverything(path), 6) << "the real header behind it is read";
        std::string huge = decoy + good;
        Put32(&huge, 512 + 24, 0x00400000); // 4M hash-table entries that are not there
        WriteFile(path, huge);
        EXPECT_EQ(ReadEverything(path), -1) << decoySize;
        huge = decoy + good;
        Put16(&huge, 512 + 14, 23);
        WriteFile(path, huge);
        EXPECT_EQ(ReadEverything(path), -1) << decoySize;
    }
}

TEST(DamagedArchive, NewerFormatsWithDamagedFieldsAreUpdatedWholeOrNotAtAll) {
    Folder folder;
    std::string path = folder / "v4.mpq";
    WriteWithStorm(path, {{"text", Content(20000, 1, true)}, {"noise", Content(9000, 2, false)}},
                   true, 64, 3);
    std::string good = ReadFile(path);
    ASSERT_GE(good.size(), 0xD0u);
    EXPECT_EQ(ReadEverything(path), 3);
    EXPECT_EQ(ExtractFrom(path, "text"), Content(20000, 1, true));
    WriteFile(folder / "new", "new");

    // Inconsistent 64-bit fields of the newer headers reach StormLib, in the
    // engine: an update either goes through or leaves the file as it was.
    const size_t fields64[] = {0x20, 0x2C, 0x34, 0x3C, 0x44, 0x4C, 0x54, 0x5C, 0x64};
    const uint64_t values[] = {0, 0x100, 0x10000000, 0x7FFFFFF0, good.size(), ~uint64_t(0)};
    for (uint16_t format : {1, 2, 3}) {
        for (size_t field : fields64) {
            for (uint64_t value : values) {
                std::string bad = good;
                Put16(&bad, 12, format);
                Put64(&bad, field, value);
                WriteFile(path, bad);
                ReadEverything(path);
                MpqHandle h = Lib().MpqOpenArchiveForUpdate(path.c_str(), 0x04, 16);
                bool updated = h &&
                               Lib().MpqAddFileToArchiveEx(h, (folder / "new").c_str(), "new",
                                                           0x10201, 2, 0) &&
                               Lib().MpqCloseUpdatedArchive(h, 0);
                if (h && !updated) {
                    Lib().MpqCloseUpdatedArchive(h, 0);
                }
                if (!updated) {
                    EXPECT_TRUE(ReadFile(path) == bad) << format << " " << field;
                }
                EXPECT_EQ(folder.Files(), (std::vector<std::string>{"new", "v4.mpq"}));
            }
        }
    }
}

namespace {

std::string Fixture(const char* name) {
    return std::string(TARNEL_FIXTURES_DIR) + "/damaged/" + name;
}

} // namespace

// The engine's bzip2 is bzip2 for every call that moves: a caller taking
// the output in small pieces gets all of it, through calls that take no
// more input. Only a call that can move no more (its stream cut short) is
// damaged data, where bzip2 would answer BZ_OK without end.
TEST(DamagedArchive, TheBzip2GuardPassesEveryCallThatMoves) {
    std::string data = Content(100000, 3, true);
    std::vector<char> packed(data.size() + data.size() / 100 + 600);
    unsigned int packedSize = static_cast<unsigned int>(packed.size());
    ASSERT_EQ(BZ2_bzBuffToBuffCompress(packed.data(), &packedSize, data.data(),
                                       static_cast<unsigned int>(data.size()), 9, 0, 0),
              BZ_OK);
    for (unsigned int given : {packedSize, packedSize / 2}) {
        SCOPED_TRACE(given == packedSize ? "whole stream" : "stream cut short");
        bz_stream stream{};
        ASSERT_EQ(BZ2_bzDecompressInit(&stream, 0, 0), BZ_OK);
        stream.next_in = packed.data();
        stream.avail_in = given;
        std::string out;
        int result = BZ_OK;
        for (int calls = 0; result == BZ_OK && calls < 1000; ++calls) {
            char piece[1000];
            stream.next_out = piece;
            stream.avail_out = sizeof piece;
            result = BZ2_bzDecompress(&stream);
            out.append(piece, sizeof piece - stream.avail_out);
        }
        BZ2_bzDecompressEnd(&stream);
        EXPECT_EQ(result, given == packedSize ? BZ_STREAM_END : BZ_DATA_ERROR);
        if (given == packedSize) {
            EXPECT_EQ(out, data);
        }
    }
}

// Archives that once aborted the host, overflowed its heap, kept it busy
// without end or grew an archive to gigabytes (tests/fixtures/damaged). Now
// the engine they reach ends, or gives up, and the host goes on.
TEST(DamagedArchive, KnownReproducersFailCleanly) {
    // None keeps its engine busy any more (a bzip2 sector that unpacks
    // without end is damaged data); one that did would be given up at this
    // deadline, and the engines' log would say so.
    setenv("SFMPQ_ENGINE_DEADLINE_MS", "2000", 1);
    Folder folder;
    const std::string log = folder / "engines.log";
    setenv("SFMPQ_ENGINE_LOG", log.c_str(), 1);
    struct Case {
        const char* file;
        int listed; // members the listing names
    };
    for (Case c :
         {Case{"lzma-v2-valid.mpq", 3}, Case{"lzma-v4-valid.mpq", 3}, Case{"lzma-v1.mpq", 5},
          Case{"lzma-unnamed-member.mpq", 1}, Case{"member-read-overflow.mpq", -1},
          Case{"sector-offsets-overflow.mpq", -1}, Case{"patch-flag-overflow.mpq", -1},
          Case{"bzip2-endless.mpq", 5}, Case{"bzip2-endless-several.mpq", 9}}) {
        std::string path = Fixture(c.file);
        if (c.listed >= 0) {
            EXPECT_EQ(List(path, "", kListIsText).size(), size_t(c.listed)) << c.file;
        }
        EXPECT_GE(ReadEverything(path), 0) << c.file;
    }
    // The member whose bzip2 sector stops moving fails at once, as damaged
    // data, and delivers nothing.
    for (const char* file : {"bzip2-endless.mpq", "bzip2-endless-several.mpq"}) {
        SCOPED_TRACE(file);
        MpqHandle archive = nullptr;
        MpqHandle member = nullptr;
        ASSERT_TRUE(Lib().SFileOpenArchive(Fixture(file).c_str(), 0, 0, &archive));
        ASSERT_TRUE(Lib().SFileOpenFileEx(archive, "Unknown\\B942C3A3E729FB87.xxx", 0, &member));
        char buffer[1024];
        uint32_t got = 7;
        errno = 0;
        EXPECT_FALSE(Lib().SFileReadFile(member, buffer, sizeof buffer, &got, nullptr));
        EXPECT_EQ(errno, ENOEXEC);
        EXPECT_EQ(got, 0u);
        Lib().SFileCloseFile(member);
        Lib().SFileCloseArchive(archive);
    }
    unsetenv("SFMPQ_ENGINE_LOG");
    EXPECT_EQ(ReadFile(log).find("no progress"), std::string::npos) << ReadFile(log);
}

TEST(DamagedArchive, AHostileBlockCannotMakeAnUpdateGrowTheArchive) {
    Folder folder;
    std::string archive = folder / "update-growth.mpq";
    std::string before = ReadFile(Fixture("update-growth.mpq"));
    WriteFile(archive, before);
    WriteFile(folder / "new.txt", "a small file to add\n");
    // Refused before anything is written: a block's data lies beyond the end.
    errno = 0;
    EXPECT_EQ(Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x21, 16), nullptr);
    EXPECT_EQ(errno, ENOEXEC);
    EXPECT_TRUE(ReadFile(archive) == before);
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"new.txt", "update-growth.mpq"}));
    // Likewise a block that starts within the file but runs one byte past
    // its end.
    std::string path = folder / "past-end.mpq";
    WriteWithStorm(path, {{"a", Content(5000, 1, true)}});
    std::string past = ReadFile(path);
    uint32_t tablePos = 0;
    uint32_t entries = 0;
    std::memcpy(&tablePos, &past[20], 4);
    std::memcpy(&entries, &past[28], 4);
    std::vector<uint32_t> blocks(4 * entries);
    std::memcpy(blocks.data(), &past[tablePos], 16 * entries);
    DecryptTable(blocks.data(), blocks.size(), MPQ_KEY_BLOCK_TABLE);
    blocks[1] = static_cast<uint32_t>(past.size() - blocks[0] + 1); // the first block's size
    EncryptTable(blocks.data(), blocks.size(), MPQ_KEY_BLOCK_TABLE);
    std::memcpy(&past[tablePos], blocks.data(), 16 * entries);
    WriteFile(path, past);
    EXPECT_TRUE(UpdateRefused(path, ENOEXEC));
}

TEST(DamagedArchive, LzmaAskedForInAFormatOneArchiveIsWrittenSoThatItCanBeRead) {
    Folder folder;
    std::string text = Content(50000, 4, true);
    WriteFile(folder / "readme.txt", text);
    ASSERT_TRUE(AddFiles(folder / "own.mpq", {{"readme.txt", text}}, 0x10201, 0x12));
    EXPECT_TRUE(ExtractFrom(folder / "own.mpq", "readme.txt") == text);
    EXPECT_TRUE(ReadWithStorm(folder / "own.mpq", "readme.txt") == text);
    // In an archive of format 1 LZMA becomes zlib; formats 2 to 4 keep it
    // (which StormLib then fails to unpack, see sfmpq/README.md), as the
    // first sector's packing shows.
    for (uint32_t formatCode = 0; formatCode < 4; ++formatCode) {
        SCOPED_TRACE(formatCode);
        const std::string path = folder / ("f" + std::to_string(formatCode) + ".mpq");
        WriteWithStorm(path, {{"a", "a"}}, true, 16, formatCode);
        ASSERT_TRUE(AddFiles(path, {{"readme.txt", text}}, 0x201, 0x12));
        std::vector<uint8_t> kinds = SectorCompressions(path, "readme.txt");
        ASSERT_FALSE(kinds.empty());
        EXPECT_EQ(kinds[0], formatCode == 0 ? 0x02 : 0x12);
    }
}

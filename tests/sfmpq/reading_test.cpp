// Reading members of real archives: every compression kind byte for byte,
// read semantics, failures that must be clean, and the checksums reads
// compute.
#include "sfmpq_test_support.h"

#include "sfmpq/checksums.h"
#include "sfmpq/engine_protocol.h"

#include <StormLib.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>
#include <zlib.h>

namespace {

TEST(Reading, EveryCompressionKindOfAnIndependentWriterRoundTrips) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    struct Kind {
        const char* name;
        uint32_t flags;
        uint32_t compression;
    } kinds[] = {{"stored", 0, 0},
                 {"zlib", 0x200, 0x02},
                 {"pkware", 0x200, 0x08},
                 {"bzip2", 0x200, 0x10},
                 {"imploded", 0x100, 0x08},
                 {"encrypted zlib", 0x30200, 0x02},
                 {"single unit", 0x1000200, 0x02}};
    std::vector<StormMember> members;
    for (const Kind& k : kinds) {
        for (size_t size : {size_t(0), size_t(1), size_t(4097), size_t((1 << 20) + 4097)}) {
            for (bool compressible : {true, false}) {
                std::string name = std::string(k.name) + "-" + std::to_string(size) +
                                   (compressible ? "-text" : "-noise");
                members.push_back(
                    {name, Content(size, static_cast<uint32_t>(members.size()), compressible), 0,
                     k.flags, k.compression});
            }
        }
    }
    WriteWithStorm(archive, members, true, 128);
    MpqHandle handle = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
    for (const StormMember& m : members) {
        EXPECT_TRUE(Extract(handle, m.name) == m.content) << m.name;
    }
    Lib().SFileCloseArchive(handle);
}

TEST(Reading, ArchivesWrittenByTheLibraryReadBackInEveryCompression) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    std::vector<std::pair<std::string, std::string>> files;
    std::map<std::string, uint32_t> expected; // listed flags
    std::string names;
    for (uint32_t compression : {0u, 2u, 8u, 0x10u}) {
        for (uint32_t flags : {0x1u, 0x201u, 0x10201u}) {
            std::string name = "f" + std::to_string(compression) + "-" + std::to_string(flags);
            files.push_back({name, Content(300000 + compression, flags, compression != 8)});
            ASSERT_TRUE(AddFiles(archive, {files.back()}, flags, compression)) << name;
            // Compressed (0x200) only with a compression, encrypted (0x10000) when asked.
            expected[name] = ((flags & 0x200) && compression ? 0x200 : 0) | (flags & 0x10000);
            if (flags == 0x201 && (compression == 2 || compression == 0x10)) {
                // Sectors packed by deflate or bzip2 say so.
                EXPECT_EQ(SectorCompressions(archive, name)[0], compression) << name;
            }
        }
    }
    for (const auto& file : files) {
        EXPECT_TRUE(ExtractFrom(archive, file.first) == file.second) << file.first;
        EXPECT_TRUE(ReadWithStorm(archive, file.first) == file.second) << file.first;
        names += file.first + "\n";
    }
    for (const ListEntry& e : List(archive, names.c_str(), kListIsText)) {
        if (expected.count(e.name)) {
            EXPECT_EQ(e.flags & 0x10200, expected[e.name]) << e.name;
            expected.erase(e.name);
        }
    }
    EXPECT_TRUE(expected.empty());
}

TEST(Reading, ShortReadsAtTheEndAndZeroBytesAfterIt) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteWithStorm(archive, {{"m", "0123456789"}});
    MpqHandle handle = nullptr;
    MpqHandle member = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
    ASSERT_TRUE(Lib().SFileOpenFileEx(handle, "m", 0, &member));
    uint32_t high = 7;
    EXPECT_EQ(Lib().SFileGetFileSize(member, &high), 10u);
    EXPECT_EQ(high, 0u);
    char buffer[16] = {};
    uint32_t got = 7;
    // Nothing needs no buffer.
    EXPECT_TRUE(Lib().SFileReadFile(member, nullptr, 0, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(Lib().SFileReadFile(member, buffer, 4, &got, nullptr));
    EXPECT_EQ(got, 4u);
    EXPECT_TRUE(Lib().SFileReadFile(member, buffer, 16, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "456789");
    EXPECT_TRUE(Lib().SFileReadFile(member, buffer, 16, &got, nullptr));
    EXPECT_EQ(got, 0u);
    Lib().SFileCloseFile(member);
    Lib().SFileCloseArchive(handle);
}

TEST(Reading, FailedOpensSayWhy) {
    Folder folder;
    MpqHandle handle = reinterpret_cast<MpqHandle>(1);
    errno = 0;
    EXPECT_FALSE(Lib().SFileOpenArchive((folder / "missing.mpq").c_str(), 0, 0, &handle));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(handle, nullptr);
    EXPECT_FALSE(Lib().SFileOpenArchive(folder.path().c_str(), 0, 0, &handle));
    EXPECT_EQ(errno, EISDIR);
    WriteFile(folder / "text.mpq", Content(100000, 1, true));
    EXPECT_FALSE(Lib().SFileOpenArchive((folder / "text.mpq").c_str(), 0, 0, &handle));
    EXPECT_EQ(errno, ENOEXEC);
    // A pipe is refused rather than read, which would wait forever.
    ASSERT_EQ(mkfifo((folder / "pipe.mpq").c_str(), 0600), 0);
    EXPECT_FALSE(Lib().SFileOpenArchive((folder / "pipe.mpq").c_str(), 0, 0, &handle));

    WriteWithStorm(folder / "a.mpq", {{"m", "x"}});
    ASSERT_TRUE(Lib().SFileOpenArchive((folder / "a.mpq").c_str(), 0, 0, &handle));
    MpqHandle member = reinterpret_cast<MpqHandle>(1);
    EXPECT_FALSE(Lib().SFileOpenFileEx(handle, "not there", 0, &member));
    EXPECT_EQ(member, nullptr);
    EXPECT_FALSE(Lib().SFileOpenFileEx(handle, "Unknown\\0123456789ABCDEF.xxx", 0, &member));
    errno = 0; // a slot far beyond the table
    EXPECT_FALSE(
        Lib().SFileOpenFileEx(handle, "Unknown\\0123456789ABCDEF~4000000000.x", 0, &member));
    EXPECT_EQ(errno, ENOENT);
    Lib().SFileCloseArchive(handle);
}

TEST(Reading, InvalidHandlesAndNullPointersFailWithoutHarm) {
    const SfmpqLibrary& l = Lib();
    int local = 0;
    MpqHandle bogus[] = {nullptr, &local, MPQ_INVALID_UPDATE_HANDLE};
    // Each call fails, saying why (`error`).
    auto fails = [](bool failed, int error, int line) {
        EXPECT_TRUE(failed) << "line " << line;
        EXPECT_EQ(errno, error) << "line " << line;
        errno = 0;
    };
    for (MpqHandle h : bogus) {
        MpqHandle out = nullptr;
        char buffer[8];
        uint32_t got = 5;
        ListEntry entry;
        fails(l.SFileGetFileInfo(h, 2) == 0u, EBADF, __LINE__);
        fails(!l.SFileListFiles(h, "", &entry, 1), EBADF, __LINE__);
        fails(!l.SFileOpenFileEx(h, "x", 0, &out), EBADF, __LINE__);
        fails(l.SFileGetFileSize(h, nullptr) == 0xFFFFFFFFu, EBADF, __LINE__);
        fails(!l.SFileReadFile(h, buffer, 8, &got, nullptr), EBADF, __LINE__);
        EXPECT_EQ(got, 0u);
        fails(!l.SFileCloseFile(h), EBADF, __LINE__);
        fails(!l.SFileCloseArchive(h), EBADF, __LINE__);
        fails(!l.MpqAddFileToArchiveEx(h, "/etc/hostname", "x", 0, 0, 0), EBADF, __LINE__);
        fails(!l.MpqAddWaveToArchive(h, "/etc/hostname", "x", 0, 0), EBADF, __LINE__);
        fails(!l.MpqDeleteFile(h, "x"), EBADF, __LINE__);
        fails(!l.MpqSetFileLocale(h, "x", 0, 1), EBADF, __LINE__);
        fails(!l.MpqCloseUpdatedArchive(h, 0), EBADF, __LINE__);
    }
    fails(!l.SFileOpenArchive(nullptr, 0, 0, nullptr), EINVAL, __LINE__);
    MpqHandle none = &local;
    fails(!l.SFileOpenArchive(nullptr, 0, 0, &none), ENOENT, __LINE__);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(l.MpqOpenArchiveForUpdate(nullptr, 0x21, 16), nullptr);

    Folder folder;
    WriteWithStorm(folder / "a.mpq", {{"m", "x"}});
    MpqHandle archive = nullptr;
    ASSERT_TRUE(l.SFileOpenArchive((folder / "a.mpq").c_str(), 0, 0, &archive));
    MpqHandle member = nullptr;
    fails(!l.SFileOpenFileEx(archive, nullptr, 0, &member), ENOENT, __LINE__);
    fails(!l.SFileOpenFileEx(archive, "", 0, &member), ENOENT, __LINE__);
    fails(!l.SFileOpenFileEx(archive, "m", 0, nullptr), EINVAL, __LINE__);
    fails(!l.SFileListFiles(archive, "m", nullptr, 1), EINVAL, __LINE__);
    fails(l.SFileGetFileInfo(archive, kInfoHashTableSize + 1) == 0u, EINVAL, __LINE__);
    fails(l.SFileGetFileInfo(archive, 0) == 0u, EINVAL, __LINE__);
    ASSERT_TRUE(l.SFileOpenFileEx(archive, "m", 0, &member));
    fails(!l.SFileReadFile(member, nullptr, 1, nullptr, nullptr), EINVAL, __LINE__);
    // Closing the archive closes its members: the member handle is dead.
    EXPECT_TRUE(l.SFileCloseArchive(archive));
    fails(!l.SFileCloseFile(member), EBADF, __LINE__);
    fails(!l.SFileCloseArchive(archive), EBADF, __LINE__);
}

} // namespace

namespace {

// Whether the member reads through the library to its end without failure;
// `error` gets the errno of a read that fails.
bool ReadsWhole(const std::string& path, const std::string& name, int* error = nullptr) {
    MpqHandle archive = nullptr;
    MpqHandle member = nullptr;
    if (!Lib().SFileOpenArchive(path.c_str(), 0, 0, &archive)) {
        return false;
    }
    bool whole = Lib().SFileOpenFileEx(archive, name.c_str(), 0, &member);
    std::vector<char> chunk(1 << 20);
    for (uint32_t got = 1; whole && got != 0;) {
        whole = Lib().SFileReadFile(member, chunk.data(), 1 << 20, &got, nullptr) != 0;
        if (!whole && error) {
            *error = errno;
        }
    }
    if (member) {
        Lib().SFileCloseFile(member);
    }
    Lib().SFileCloseArchive(archive);
    return whole;
}

// Where a member's data lies in the archive file, read by StormLib directly.
std::pair<uint64_t, uint32_t> DataOf(const std::string& path, const std::string& name) {
    HANDLE archive = nullptr;
    HANDLE member = nullptr;
    ULONGLONG offset = 0;
    DWORD packed = 0;
    if (SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &archive)) {
        if (SFileOpenFileEx(archive, name.c_str(), 0, &member)) {
            SFileGetFileInfo(member, SFileInfoByteOffset, &offset, sizeof offset, nullptr);
            SFileGetFileInfo(member, SFileInfoCompressedSize, &packed, sizeof packed, nullptr);
            SFileCloseFile(member);
        }
        SFileCloseArchive(archive);
    }
    return {offset, packed};
}

} // namespace

// Damage inside the member data of an archive this library wrote - one byte
// changed anywhere in a compressed, an incompressible or a stored member - is
// found by the sector checksums or the member's CRC32: the read that would
// deliver the damaged member fails. 1,000 places, chosen at random.
TEST(Reading, DamageInsideMemberDataIsFound) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    ASSERT_TRUE(AddFiles(
        archive, {{"text", Content(200000, 1, true)}, {"noise", Content(50000, 2, false)}}));
    ASSERT_TRUE(AddFiles(archive, {{"stored", Content(30000, 3, true)}}, 0x10001, 0));
    std::string good = ReadFile(archive);
    const char* names[] = {"text", "noise", "stored"};
    std::pair<uint64_t, uint32_t> places[3];
    for (int i = 0; i < 3; ++i) {
        places[i] = DataOf(archive, names[i]);
        ASSERT_GT(places[i].second, 0u) << names[i];
        ASSERT_TRUE(ReadsWhole(archive, names[i])) << names[i];
    }
    uint32_t state = 2024;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    int found = 0;
    const int kPlaces = 1000;
    for (int i = 0; i < kPlaces; ++i) {
        int which = static_cast<int>(next() % 3);
        uint64_t at = places[which].first + next() % places[which].second;
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ (1 + next() % 255));
        WriteFile(archive, bad);
        found += !ReadsWhole(archive, names[which]);
    }
    std::printf("damage found at %d of %d places\n", found, kPlaces);
    EXPECT_GE(found, kPlaces - 1);

    // The end of a member compressed in sectors holds the checksums of its
    // sectors: damage there leaves the data whole, and only the sector
    // checks find it, as a checksum failure. Every byte of the last 256 of
    // each.
    for (int which = 0; which < 2; ++which) {
        int missed = 0;
        for (uint32_t back = 1; back <= 256; ++back) {
            uint64_t at = places[which].first + places[which].second - back;
            std::string bad = good;
            bad[at] = static_cast<char>(bad[at] ^ (1 + next() % 255));
            WriteFile(archive, bad);
            int error = 0;
            bool whole = ReadsWhole(archive, names[which], &error);
            missed += whole;
            EXPECT_TRUE(whole || error == EBADMSG) << names[which] << " " << back << ": " << error;
        }
        EXPECT_EQ(missed, 0) << names[which];
    }
}

// Where "(attributes)" keeps no CRC32, a member read whole is checked
// against its MD5.
TEST(Reading, WithoutACrc32AMemberIsCheckedAgainstItsMd5) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteWithStorm(archive, {{"stored", Content(30000, 5, false), 0, 0}}, false, 16, 0,
                   MPQ_ATTRIBUTE_MD5);
    EXPECT_TRUE(ReadsWhole(archive, "stored"));
    const std::pair<uint64_t, uint32_t> place = DataOf(archive, "stored");
    std::string bad = ReadFile(archive);
    bad[place.first + 100] = static_cast<char>(bad[place.first + 100] ^ 1);
    WriteFile(archive, bad);
    int error = 0;
    EXPECT_FALSE(ReadsWhole(archive, "stored", &error));
    EXPECT_EQ(error, EBADMSG);
    // After the failing read, a read of more fails again with the error; a
    // read of nothing succeeds, as on any member.
    MpqHandle reader = nullptr;
    MpqHandle member = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &reader));
    ASSERT_TRUE(Lib().SFileOpenFileEx(reader, "stored", 0, &member));
    std::vector<char> buffer(40000);
    uint32_t got = 0;
    EXPECT_FALSE(Lib().SFileReadFile(member, buffer.data(), 40000, &got, nullptr));
    EXPECT_EQ(got, 30000u);
    errno = 0;
    EXPECT_FALSE(Lib().SFileReadFile(member, buffer.data(), 10, &got, nullptr));
    EXPECT_EQ(errno, EBADMSG);
    EXPECT_TRUE(Lib().SFileReadFile(member, buffer.data(), 0, &got, nullptr));
    EXPECT_EQ(got, 0u);
    Lib().SFileCloseArchive(reader);

    // The check reads the member again by its name, in the locale it was
    // opened in, also after a listing that looked up the name in its other
    // locales: of a name in two locales whose other member is damaged, the
    // one read (beside another, through the engine) checks whole.
    const std::string path = folder / "locales.mpq";
    for (uint32_t locale : {0u, 0x407u}) {
        SCOPED_TRACE(locale);
        const std::string content = Content(30000, 6 + locale, false);
        const uint32_t other = locale ? 0 : 0x407;
        WriteWithStorm(path,
                       {{"other", "other"},
                        {"t", content, locale, 0},
                        {"t", Content(30000, 7, false), other, 0}},
                       true, 16, 0, MPQ_ATTRIBUTE_MD5);
        SFileSetLocale(other);
        const std::pair<uint64_t, uint32_t> damaged = DataOf(path, "t");
        SFileSetLocale(0);
        bad = ReadFile(path);
        bad[damaged.first + 100] = static_cast<char>(bad[damaged.first + 100] ^ 1);
        WriteFile(path, bad);
        Lib().SFileSetLocale(locale);
        MpqHandle first = nullptr;
        ASSERT_TRUE(Lib().SFileOpenArchive(path.c_str(), 0, 0, &reader));
        ASSERT_TRUE(Lib().SFileOpenFileEx(reader, "other", 0, &first));
        ASSERT_TRUE(Lib().SFileOpenFileEx(reader, "t", 0, &member));
        EXPECT_TRUE(Lib().SFileReadFile(member, buffer.data(), 1000, &got, nullptr));
        std::vector<ListEntry> records(Lib().SFileGetFileInfo(reader, kInfoHashTableSize));
        EXPECT_TRUE(Lib().SFileListFiles(reader, "other\nt", records.data(), kListIsText));
        EXPECT_TRUE(Lib().SFileReadFile(member, buffer.data() + 1000, 40000, &got, nullptr));
        EXPECT_EQ(got, 29000u);
        EXPECT_TRUE(std::string(buffer.data(), 30000) == content);
        Lib().SFileSetLocale(0);
        Lib().SFileCloseArchive(reader);
    }
}

// A member closed part-read is not waited out: the member after it in the
// listing is asked for apart, not found behind the rest of its data.
TEST(Reading, AMemberClosedPartReadIsNotWaitedOut) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteWithStorm(
        archive, {{"big", Content(16 << 20, 1, false), 0, 0}, {"a", "a"}, {"b", "b"}, {"c", "c"}});
    MpqHandle handle = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
    std::vector<ListEntry> records(Lib().SFileGetFileInfo(handle, kInfoHashTableSize));
    ASSERT_TRUE(Lib().SFileListFiles(handle, "big\na\nb\nc", records.data(), kListIsText));
    std::string next;
    for (size_t i = 0, big = records.size(); i < records.size() && next.empty(); ++i) {
        if (records[i].exists && big < i) {
            next = records[i].name;
        } else if (records[i].exists && std::string(records[i].name) == "big") {
            big = i;
        }
    }
    ASSERT_FALSE(next.empty()) << "a member follows the large one";
    const std::string expected = ExtractFrom(archive, next);
    const uint32_t restartsBefore = RequestsSent[uint32_t(sfmpq::engine::Op::StreamFrom)];
    MpqHandle member = nullptr;
    ASSERT_TRUE(Lib().SFileOpenFileEx(handle, "big", 0, &member));
    std::vector<char> buffer(1000);
    uint32_t got = 0;
    EXPECT_TRUE(Lib().SFileReadFile(member, buffer.data(), 1000, &got, nullptr));
    EXPECT_TRUE(Lib().SFileCloseFile(member));
    EXPECT_EQ(Extract(handle, next), expected);
    EXPECT_EQ(RequestsSent[uint32_t(sfmpq::engine::Op::StreamFrom)] - restartsBefore, 2u);
    Lib().SFileCloseArchive(handle);
}

// The checksums that reads compute, each way this processor has, against
// zlib's own: every length to 1 KiB at every alignment within 64 bytes,
// lengths to 5 KiB at the alignments that matter, and long stretches (past
// a round of Adler-32's sums, over bytes of 0xFF that make them largest),
// from fresh and carried-on values, in one piece and in two, never reading
// past the end.
TEST(Reading, ChecksumsAreZlibsAtEveryLengthAndAlignment) {
    std::vector<unsigned char> data(300000);
    uint32_t state = 7;
    for (unsigned char& byte : data) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    std::fill(data.begin() + 150000, data.begin() + 250000, 0xFF);
    auto zlibCrc = [](uint32_t crc, const unsigned char* at, size_t size) {
        return static_cast<uint32_t>(crc32_z(crc, at, size));
    };
    auto zlibAdler = [](uint32_t adler, const unsigned char* at, size_t size) {
        return static_cast<uint32_t>(adler32_z(adler, at, size));
    };
    struct Kind {
        const char* name;
        std::vector<sfmpq::ChecksumWay> ways;
        uint32_t (*zlib)(uint32_t, const unsigned char*, size_t);
        std::vector<uint32_t> starts; // Adler-32's last: halves beyond 65520
    };
    const Kind kinds[] = {
        {"crc32", sfmpq::Crc32Ways(), zlibCrc, {0, 0xFFFFFFFF, 0x5EED1234}},
        {"adler32", sfmpq::Adler32Ways(), zlibAdler, {1, 0, 0xFFF0FFF0, 0x12345678, 0xFFFFFFFF}}};
    struct Case {
        size_t offset;
        size_t size;
    };
    std::vector<Case> cases;
    for (size_t size = 0; size <= 1024; ++size) {
        for (size_t offset = 0; offset < 64; ++offset) {
            cases.push_back({offset, size});
        }
    }
    for (size_t size = 1025; size <= 5000; size += 13) {
        for (size_t offset : {0, 1, 15, 16, 33, 63}) {
            cases.push_back({offset, size});
        }
    }
    for (size_t size : {32767, 32768, 32769, 65536 + 45, 100000, 299990}) {
        for (size_t offset : {0, 5, 10}) {
            cases.push_back({offset, size});
        }
    }
    cases.push_back({149990, 100010}); // the 0xFF bytes and a little before them
    for (const Kind& kind : kinds) {
        ASSERT_GE(kind.ways.size(), 1u);
        for (const sfmpq::ChecksumWay& way : kind.ways) {
            int wrong = 0;
            for (const Case& c : cases) {
                // Exactly as long as needed, so that AddressSanitizer sees a
                // read beyond the end.
                std::vector<unsigned char> exact(data.begin(), data.begin() + c.offset + c.size);
                const unsigned char* at = exact.data() + c.offset;
                for (uint32_t start : kind.starts) {
                    uint32_t expected = kind.zlib(start, at, c.size);
                    size_t split = c.size / 3;
                    uint32_t whole = way.function(start, at, c.size);
                    uint32_t inTwo =
                        way.function(way.function(start, at, split), at + split, c.size - split);
                    if ((whole != expected || inTwo != expected) && wrong++ < 5) {
                        ADD_FAILURE() << kind.name << " by " << way.name << ": " << c.size
                                      << " bytes at offset " << c.offset << " from " << start;
                    }
                }
            }
            EXPECT_EQ(wrong, 0) << kind.name << " by " << way.name;
        }
    }
    // The ways chosen for reading.
    EXPECT_EQ(sfmpq::Crc32(0, data.data(), data.size()), zlibCrc(0, data.data(), data.size()));
    EXPECT_EQ(sfmpq::Adler32(1, data.data(), data.size()), zlibAdler(1, data.data(), data.size()));
}

namespace {

uint32_t Field(const std::string& file, size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, &file[at], 4);
    return value;
}

// The members read ahead are opened in the locale of the read before them: a
// member the next read asks for in another locale is that locale's, not the
// one read ahead under its name.
TEST(Reading, AMemberReadAheadInOneLocaleIsNotTakenForAnother) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteWithStorm(archive, {{"a", "first"},
                             {"b", "second"},
                             {"t", "neutral"},
                             {"t", "deutsch", 0x407},
                             {"z", "last"}});
    std::string list = "a\nb\nt\nz";
    std::vector<ListEntry> listed = List(archive, list.c_str(), kListIsText);
    int tried = 0;
    for (size_t i = 1; i < listed.size(); ++i) {
        if (std::string(listed[i].name) != "t") {
            continue;
        }
        uint32_t other = listed[i].locale == 0 ? 0x407 : 0;
        MpqHandle handle = nullptr;
        ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
        std::vector<ListEntry> records(Lib().SFileGetFileInfo(handle, kInfoHashTableSize));
        ASSERT_TRUE(Lib().SFileListFiles(handle, list.c_str(), records.data(), kListIsText));
        Lib().SFileSetLocale(listed[i - 1].locale);
        Extract(handle, listed[i - 1].name);
        usleep(20000); // time to read ahead
        Lib().SFileSetLocale(other);
        EXPECT_EQ(Extract(handle, "t"), other ? "deutsch" : "neutral") << i;
        Lib().SFileSetLocale(0);
        Lib().SFileCloseArchive(handle);
        tried += std::string(listed[i - 1].name) != "t";
    }
    EXPECT_GT(tried, 0);
}

// Many members read one after the other in listing order. Slower than the
// engine reads them ahead: it fills its ring, waits for room and goes round
// it several times, and every member still reads back whole, also where a
// record would not fit before the ring's end. Then as fast as they come: the
// reader waits for the member that comes next. Either way the engine streams
// them in the listing's order, generated names included: the stream is
// started once, and no member is asked for apart.
TEST(Reading, MembersReadAheadRoundTheRingSeveralTimesReadBackWhole) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    std::vector<StormMember> members;
    std::map<std::string, std::string> contents;
    std::string list;
    const std::string unnamed = "m7";     // listed under a generated name
    for (uint32_t i = 0; i < 3000; ++i) { // about 13 MiB unpacked
        std::string name = "m" + std::to_string(i);
        members.push_back({name, Content(1000 + (i * 7919) % 7000, i, true), 0, 0x200, 2});
        contents[name] = members.back().content;
        list += name == unnamed ? "" : name + "\n";
    }
    WriteWithStorm(archive, members, true, 4096);
    MpqHandle handle = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
    std::vector<ListEntry> records(Lib().SFileGetFileInfo(handle, kInfoHashTableSize));
    using sfmpq::engine::Op;
    for (bool slow : {true, false}) {
        SCOPED_TRACE(slow ? "slower than the engine" : "as fast as they come");
        ASSERT_TRUE(Lib().SFileListFiles(handle, list.c_str(), records.data(), kListIsText));
        const uint32_t restartsBefore = RequestsSent[uint32_t(Op::StreamFrom)];
        const uint32_t readsBefore = RequestsSent[uint32_t(Op::ReadMember)];
        size_t read = 0;
        for (const ListEntry& record : records) {
            if (!record.exists) {
                continue;
            }
            std::string content = Extract(handle, record.name);
            if (record.name[0] == '(') {
                continue;
            }
            bool generated = contents.count(record.name) == 0;
            ASSERT_TRUE(content == contents[generated ? unnamed : record.name]) << record.name;
            ++read;
            if (slow) {
                usleep(20);
            }
        }
        EXPECT_EQ(read, contents.size());
        EXPECT_EQ(RequestsSent[uint32_t(Op::StreamFrom)] - restartsBefore, 1u);
        EXPECT_EQ(RequestsSent[uint32_t(Op::ReadMember)] - readsBefore, 0u);
    }
    Lib().SFileCloseArchive(handle);
}

// Archives of random make-up, listed and read through the library and
// compared with what StormLib wrote into them: from no members to a nearly
// full table, names of 1 to 259 characters, one name in two locales (formats 1 and 2), every
// kind of packing, sizes at the edges of sectors, all four formats, with and
// without a "(listfile)", some names left out of the list (listed under
// generated names). Each is read in listing order, in chunks of random
// sizes (the work-ahead stream), then some members again out of order (a
// restart of the stream, reads on request) with another member open beside.
TEST(Reading, RandomArchivesListAndReadAsTheirWriterWroteThem) {
    std::mt19937 random(20261208);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    const struct {
        uint32_t flags;
        uint32_t compression;
    } kinds[] = {{0, 0},     {0x200, 2},   {0x200, 8},     {0x200, 0x10},
                 {0x100, 8}, {0x30200, 2}, {0x1000200, 2}, {0x1030200, 2}};
    const char letters[] = "abcdefghijklmnopqrstuvwxyzABC0123456789 _-.!~\\";
    for (uint32_t round = 0; round < 12; ++round) {
        Folder folder;
        const std::string archive = folder / "r.mpq";
        const uint32_t table = 16u << pick(7);
        const uint32_t count = round == 0 ? 0 : pick(3) == 0 ? table - 4 : 1 + pick(table - 4);
        const uint32_t format = round % 4;
        const bool listFile = round % 3 != 1;
        SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(count) +
                     " members, table " + std::to_string(table) + ", format code " +
                     std::to_string(format) + (listFile ? "" : ", no name list"));
        std::vector<StormMember> members;
        std::set<std::string> folded; // names differing in letter case alone are one name
        std::string list;
        std::multiset<std::string> unnamed; // the contents of members left out of the list
        std::vector<size_t> named;          // the members the list names
        while (members.size() < count) {
            size_t length = pick(8) == 0 ? 259 - pick(3) : 1 + pick(40);
            std::string name;
            for (size_t i = 0; i < length; ++i) {
                name += letters[pick(sizeof letters - 1)];
            }
            std::string key = name;
            std::transform(key.begin(), key.end(), key.begin(), ::toupper);
            if (name.front() == '\\' || name.back() == '\\' || name.front() == ' ' ||
                name.back() == ' ' || name.find("\\\\") != std::string::npos ||
                !folded.insert(key).second) {
                continue;
            }
            const uint32_t sizes[] = {0, 1, 4095, 4096, 4097, 8193, pick(70000)};
            const auto& kind = kinds[pick(sizeof kinds / sizeof kinds[0])];
            // A member whose name the list leaves out is listed under a
            // generated name (one encrypted without its name cannot be read).
            const bool inList = (kind.flags & 0x10000) != 0 || pick(6) != 0;
            uint32_t seed = static_cast<uint32_t>(members.size()) + round * 1000;
            members.push_back({name, Content(sizes[pick(7)], seed, pick(2) == 0), 0, kind.flags,
                               kind.compression});
            (inList ? named.push_back(members.size() - 1)
                    : void(unnamed.insert(members.back().content)));
            // (StormLib writes a name once into the tables of formats 3 and 4.)
            if (members.size() < count && format < 2 && pick(8) == 0) {
                StormMember other = members.back();
                other.locale = 0x407;
                other.content = Content(pick(9000), seed + 500, true);
                members.push_back(other);
                (inList ? named.push_back(members.size() - 1)
                        : void(unnamed.insert(members.back().content)));
            }
            list += inList ? name + "\n" : "";
        }
        WriteWithStorm(archive, members, listFile, table, format);
        std::map<std::pair<std::string, uint32_t>, const StormMember*> expected;
        for (const StormMember& m : members) {
            expected[{m.name, m.locale}] = &m;
        }

        MpqHandle handle = nullptr;
        ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
        std::vector<ListEntry> records(Lib().SFileGetFileInfo(handle, kInfoHashTableSize));
        ASSERT_TRUE(Lib().SFileListFiles(handle, list.c_str(), records.data(), kListIsText));
        // Reads a member through the library in chunks of random sizes.
        auto readBack = [&](const std::string& name, uint32_t locale) {
            Lib().SFileSetLocale(locale);
            MpqHandle member = nullptr;
            std::string content;
            if (Lib().SFileOpenFileEx(handle, name.c_str(), 0, &member)) {
                std::vector<char> chunk(70000);
                uint32_t got = 1;
                while (got != 0) {
                    uint32_t ask = pick(8) == 0 ? 70000 : 1 + pick(5000);
                    got = 0;
                    Lib().SFileReadFile(member, chunk.data(), ask, &got, nullptr);
                    content.append(chunk.data(), got);
                }
                Lib().SFileCloseFile(member);
            }
            Lib().SFileSetLocale(0);
            return content;
        };
        size_t seen = 0;
        for (const ListEntry& record : records) {
            if (!record.exists || record.name[0] == '(') {
                continue;
            }
            ++seen;
            std::string content = readBack(record.name, record.locale);
            auto found = expected.find({record.name, record.locale});
            if (found == expected.end()) {
                auto generated = unnamed.find(content);
                ASSERT_NE(generated, unnamed.end()) << record.name << " is no member left unnamed";
                unnamed.erase(generated);
                continue;
            }
            const StormMember& m = *found->second;
            EXPECT_EQ(record.fullSize, m.content.size()) << m.name;
            EXPECT_EQ(record.flags & 0x30200, m.flags & 0x30200) << m.name;
            EXPECT_TRUE(content == m.content) << m.name << " in locale " << m.locale;
        }
        EXPECT_EQ(seen, members.size());
        EXPECT_TRUE(unnamed.empty());
        for (int again = 0; again < 6 && !named.empty(); ++again) {
            const StormMember& beside = members[named[pick(named.size())]];
            MpqHandle open = nullptr;
            Lib().SFileSetLocale(beside.locale);
            ASSERT_TRUE(Lib().SFileOpenFileEx(handle, beside.name.c_str(), 0, &open));
            const StormMember& m = members[named[pick(named.size())]];
            EXPECT_TRUE(readBack(m.name, m.locale) == m.content)
                << m.name << " again, in locale " << m.locale;
            Lib().SFileCloseFile(open);
        }
        Lib().SFileCloseArchive(handle);
    }
}

// The engine opens the next member only where its Begin record fits, also
// when the ring must wrap first: here a member's records end 256 bytes before
// the ring's end while the reader has taken only its Begin record, and the
// member after it has a name of 259 characters. The engine waits for room,
// and both read whole.
TEST(Reading, TheNextMemberBeginsOnlyWhereItsRecordFitsAtTheRingsEnd) {
    using namespace sfmpq::engine;
    Folder folder;
    std::string archive = folder / "a.mpq";
    // The first member's records: its Begin, a Data record of 1 MiB and one
    // of the rest, its End.
    const uint64_t left = RecordSpan(kMaxName - 1) - RecordSpan(1);
    const uint64_t rest = kRingSize - left - RecordSpan(1) - RecordSpan(1u << 20) - RecordSpan(0) -
                          sizeof(RecordHeader);
    const std::string big = Content((1u << 20) + rest, 1, false);
    std::vector<StormMember> members;
    std::string list;
    for (char k = '0'; k < '4'; ++k) {
        members.push_back({std::string(258, 'l') + k, std::string(100, k)});
        list += members.back().name + "\n";
    }
    bool tried = false;
    // A one-letter name that a long one follows in the listing's order.
    for (char first = 'a'; first <= 'z' && !tried; ++first) {
        members.push_back({std::string(1, first), big, 0, 0, 0});
        WriteWithStorm(archive, members, false);
        members.pop_back();
        const std::string names = list + first;
        std::vector<ListEntry> listed = List(archive, names.c_str(), kListIsText);
        auto at = std::find_if(listed.begin(), listed.end(), [&](const ListEntry& entry) {
            return entry.name == std::string(1, first);
        });
        if (at == listed.end() || at + 1 == listed.end()) {
            continue;
        }
        tried = true;
        const std::string next = (at + 1)->name;
        MpqHandle handle = nullptr;
        ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
        std::vector<ListEntry> records(Lib().SFileGetFileInfo(handle, kInfoHashTableSize));
        ASSERT_TRUE(Lib().SFileListFiles(handle, names.c_str(), records.data(), kListIsText));
        MpqHandle member = nullptr;
        ASSERT_TRUE(Lib().SFileOpenFileEx(handle, at->name, 0, &member));
        usleep(100000); // time to fill the ring up to the next member
        std::string content(big.size(), '\0');
        uint32_t got = 0;
        EXPECT_TRUE(Lib().SFileReadFile(member, &content[0], static_cast<uint32_t>(content.size()),
                                        &got, nullptr));
        EXPECT_TRUE(content == big);
        Lib().SFileCloseFile(member);
        EXPECT_EQ(Extract(handle, next), std::string(100, next.back()));
        Lib().SFileCloseArchive(handle);
    }
    EXPECT_TRUE(tried);
}

} // namespace

// The tables may come before the members' data, as some writers lay them
// out; the last member's data then ends exactly at the end of the file, and
// it reads whole like every other member.
TEST(Reading, AMemberWhoseDataEndsTheFileReadsWhole) {
    Folder folder;
    // Without a name list: StormLib encrypts its name list with a key that
    // depends on where the data lies.
    const std::vector<StormMember> members = {{"text", Content(20000, 1, true)},
                                              {"stored", Content(5000, 2, false), 0, 0, 0}};
    WriteWithStorm(folder / "written.mpq", members, false);
    // StormLib's layout: the header, the members' data, the hash table, the
    // block table. Moved to: the header, the tables, the data.
    std::string written = ReadFile(folder / "written.mpq");
    const uint32_t hashAt = Field(written, 16);
    const uint32_t blockAt = Field(written, 20);
    const uint32_t hashBytes = Field(written, 24) * 16;
    const uint32_t blockBytes = Field(written, 28) * 16;
    ASSERT_EQ(hashAt + hashBytes, blockAt);
    ASSERT_EQ(blockAt + blockBytes, written.size());
    std::vector<uint32_t> blocks(blockBytes / 4);
    std::memcpy(blocks.data(), &written[blockAt], blockBytes);
    DecryptTable(blocks.data(), blocks.size(), MPQ_KEY_BLOCK_TABLE);
    bool oneEndsTheData = false;
    for (size_t i = 0; i < blocks.size(); i += 4) {
        oneEndsTheData = oneEndsTheData || blocks[i] + blocks[i + 1] == hashAt;
        blocks[i] += hashBytes + blockBytes;
    }
    ASSERT_TRUE(oneEndsTheData);
    EncryptTable(blocks.data(), blocks.size(), MPQ_KEY_BLOCK_TABLE);
    std::string moved = written.substr(0, 32) + written.substr(hashAt, hashBytes) +
                        std::string(reinterpret_cast<const char*>(blocks.data()), blockBytes) +
                        written.substr(32, hashAt - 32);
    const uint32_t fields[][2] = {
        {8, static_cast<uint32_t>(moved.size())}, {16, 32}, {20, 32 + hashBytes}};
    for (const auto& field : fields) {
        std::memcpy(&moved[field[0]], &field[1], 4);
    }
    std::string path = folder / "tables-first.mpq";
    WriteFile(path, moved);
    for (const StormMember& member : members) {
        EXPECT_TRUE(ReadsWhole(path, member.name)) << member.name;
        EXPECT_TRUE(ExtractFrom(path, member.name) == member.content) << member.name;
    }
    // Nor does it count as data beyond the end for an update, which opens.
    MpqHandle update = Lib().MpqOpenArchiveForUpdate(path.c_str(), 0x04, 64);
    EXPECT_NE(update, nullptr);
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(update, 0));

    // One byte shorter, that member's data runs past the end: it does not
    // open, as damaged, and the other still reads whole.
    WriteFile(path, moved.substr(0, moved.size() - 1));
    int damaged = 0;
    for (const StormMember& member : members) {
        MpqHandle archive = nullptr;
        MpqHandle opened = nullptr;
        ASSERT_TRUE(Lib().SFileOpenArchive(path.c_str(), 0, 0, &archive));
        errno = 0;
        if (Lib().SFileOpenFileEx(archive, member.name.c_str(), 0, &opened)) {
            Lib().SFileCloseFile(opened);
            EXPECT_TRUE(Extract(archive, member.name) == member.content) << member.name;
        } else {
            EXPECT_EQ(errno, EBADMSG) << member.name;
            ++damaged;
        }
        Lib().SFileCloseArchive(archive);
    }
    EXPECT_EQ(damaged, 1);
}

// A handle reads ahead the members in the order of its listing. A member
// asked for past others, which are skipped, is still the one asked for, also
// where a skipped member's name begins the wanted one's.
TEST(Reading, AMemberAskedForPastSkippedOnesIsItself) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    std::vector<std::pair<std::string, std::string>> files;
    for (const char* name : {"d", "da", "dat", "data", "data1", "data12", "data123"}) {
        files.emplace_back(name, std::string("the content of ") + name);
    }
    ASSERT_TRUE(AddFiles(archive, files));
    std::string list = ExtractFrom(archive, "(listfile)");
    std::vector<ListEntry> listed = List(archive, list.c_str(), kListIsText);
    bool prefixSkipped = false;
    for (size_t wanted = 2; wanted < listed.size(); ++wanted) {
        std::string name = listed[wanted].name;
        for (size_t skipped = 1; skipped < wanted; ++skipped) {
            prefixSkipped = prefixSkipped || name.rfind(listed[skipped].name, 0) == 0;
        }
        std::string expected = ExtractFrom(archive, name);
        MpqHandle handle = nullptr;
        ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
        std::vector<ListEntry> records(Lib().SFileGetFileInfo(handle, kInfoHashTableSize));
        ASSERT_TRUE(Lib().SFileListFiles(handle, list.c_str(), records.data(), kListIsText));
        EXPECT_EQ(Extract(handle, listed[0].name), ExtractFrom(archive, listed[0].name));
        usleep(20000); // time to read ahead past the members to be skipped
        EXPECT_EQ(Extract(handle, name), expected) << name;
        Lib().SFileCloseArchive(handle);
    }
    EXPECT_TRUE(prefixSkipped) << "a skipped name begins a wanted one";
}

// A member opened while another of the same handle is still open is read
// through the engine's own member handles rather than the read-ahead: each
// reads back whole, in pieces of any size, with its size, a short read at
// its end and nothing after; a damaged one fails its last read; and each
// closes once.
TEST(Reading, MembersOpenedSideBySideReadWholeThroughTheEngine) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    std::vector<std::pair<std::string, std::string>> files = {{"first", "open all along"}};
    for (size_t size : {size_t(0), size_t(1), size_t(4097), size_t((1 << 20) + 4097)}) {
        for (bool compressible : {true, false}) {
            files.emplace_back(std::to_string(size) + (compressible ? "-text" : "-noise"),
                               Content(size, static_cast<uint32_t>(files.size()), compressible));
        }
    }
    files.emplace_back(std::string(259, 'n'), "the longest name a member may have");
    ASSERT_TRUE(AddFiles(archive, files));
    // Stored, so that only the member's CRC32 tells damage in its data.
    files.emplace_back("stored", Content(300000, 9, false));
    ASSERT_TRUE(AddFiles(archive, {files.back()}, 0x10001, 0));
    const SfmpqLibrary& l = Lib();
    auto readSideBySide = [&](const std::string& path) {
        std::map<std::string, std::string> read;
        MpqHandle handle = nullptr;
        MpqHandle first = nullptr;
        EXPECT_TRUE(l.SFileOpenArchive(path.c_str(), 0, 0, &handle));
        EXPECT_TRUE(l.SFileOpenFileEx(handle, "first", 0, &first));
        std::vector<MpqHandle> opened;
        for (size_t i = 1; i < files.size(); ++i) {
            MpqHandle member = nullptr;
            EXPECT_TRUE(l.SFileOpenFileEx(handle, files[i].first.c_str(), 0, &member));
            opened.push_back(member);
        }
        const uint32_t readsBefore = RequestsSent[uint32_t(sfmpq::engine::Op::ReadMember)];
        for (size_t i = 1; i < files.size(); ++i) {
            const std::string& name = files[i].first;
            MpqHandle member = opened[i - 1];
            uint32_t high = 7;
            EXPECT_EQ(l.SFileGetFileSize(member, &high), files[i].second.size()) << name;
            EXPECT_EQ(high, 0u) << name;
            std::string content;
            std::vector<char> buffer(1 << 21, '?');
            uint32_t got = 0;
            bool ok = true;
            for (uint32_t piece : {1000u, 1u << 21}) {
                size_t left = files[i].second.size() - content.size();
                ok = ok && l.SFileReadFile(member, buffer.data(), piece, &got, nullptr);
                // The stored member fails only its CRC32, with the read that
                // delivers its last byte.
                if (ok || name == "stored") {
                    EXPECT_EQ(got, std::min<size_t>(piece, left)) << name;
                    content.append(buffer.data(), got);
                }
            }
            if (!ok) {
                EXPECT_EQ(errno, EBADMSG) << name;
            }
            if (ok) {
                EXPECT_TRUE(l.SFileReadFile(member, buffer.data(), 16, &got, nullptr)) << name;
                EXPECT_EQ(got, 0u) << name;
                read[name] = content;
            }
            // Closed in the engine too: it knows the member it is asked to close.
            const uint32_t failedBefore = RepliesFailed;
            EXPECT_TRUE(l.SFileCloseFile(member)) << name;
            EXPECT_EQ(RepliesFailed, failedBefore) << name;
            EXPECT_FALSE(l.SFileCloseFile(member)) << name;
            EXPECT_EQ(l.SFileGetFileSize(member, nullptr), 0xFFFFFFFFu) << name;
        }
        // Each of the three reads of a member read whole is one request, the
        // short one at its end included.
        if (read.size() == files.size() - 1) {
            EXPECT_EQ(RequestsSent[uint32_t(sfmpq::engine::Op::ReadMember)] - readsBefore,
                      3 * read.size());
        }
        MpqHandle missing = reinterpret_cast<MpqHandle>(1);
        errno = 0;
        EXPECT_FALSE(l.SFileOpenFileEx(handle, "not there", 0, &missing));
        EXPECT_EQ(errno, ENOENT);
        EXPECT_EQ(missing, nullptr);
        EXPECT_EQ(Extract(handle, "first"), "open all along");
        l.SFileCloseFile(first);
        l.SFileCloseArchive(handle);
        return read;
    };
    std::map<std::string, std::string> read = readSideBySide(archive);
    for (size_t i = 1; i < files.size(); ++i) {
        EXPECT_TRUE(read[files[i].first] == files[i].second) << files[i].first;
    }

    // One byte changed within the stored member's data, and one within a
    // sector of a compressed member.
    std::string damaged = folder / "damaged.mpq";
    std::string bad = ReadFile(archive);
    std::pair<uint64_t, uint32_t> place = DataOf(archive, files.back().first);
    ASSERT_GT(place.second, 100000u);
    bad[place.first + 100000] = static_cast<char>(bad[place.first + 100000] ^ 0x55);
    const std::string compressed = std::to_string((1 << 20) + 4097) + "-noise";
    place = DataOf(archive, compressed);
    ASSERT_GT(place.second, 100000u);
    bad[place.first + 100000] = static_cast<char>(bad[place.first + 100000] ^ 0x55);
    WriteFile(damaged, bad);
    read = readSideBySide(damaged);
    EXPECT_EQ(read.count(files.back().first), 0u);
    EXPECT_EQ(read.count(compressed), 0u);
    EXPECT_EQ(read.size(), files.size() - 3);

    // One read of more than the engine hands over at a time (16 MiB) comes
    // in pieces, each where it belongs in the caller's buffer.
    const std::string large = Content((16u << 20) + 4097, 11, true);
    ASSERT_TRUE(AddFiles(archive, {{"large", large}}));
    MpqHandle handle = nullptr;
    MpqHandle first = nullptr;
    MpqHandle member = nullptr;
    ASSERT_TRUE(l.SFileOpenArchive(archive.c_str(), 0, 0, &handle));
    EXPECT_TRUE(l.SFileOpenFileEx(handle, "first", 0, &first));
    EXPECT_TRUE(l.SFileOpenFileEx(handle, "large", 0, &member));
    std::string buffer(large.size() + 1, '?');
    uint32_t got = 0;
    EXPECT_TRUE(
        l.SFileReadFile(member, &buffer[0], static_cast<uint32_t>(buffer.size()), &got, nullptr));
    EXPECT_EQ(got, large.size());
    EXPECT_TRUE(buffer.compare(0, large.size(), large) == 0);
    l.SFileCloseFile(member);
    l.SFileCloseFile(first);
    l.SFileCloseArchive(handle);
}

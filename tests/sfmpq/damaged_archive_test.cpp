// Damaged and hostile archives: opening, listing and reading them fails
// cleanly or delivers what can be read; it never crashes or hangs.
#include "sfmpq_test_support.h"

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
}

} // namespace

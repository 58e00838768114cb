// Listing real archives: names from the internal list, from external list
// files, generated names for members no list names, locales.
#include "sfmpq_test_support.h"

#include <cstring>
#include <map>
#include <sys/stat.h>

namespace {

std::map<std::string, ListEntry> ByName(const std::vector<ListEntry>& entries) {
    std::map<std::string, ListEntry> named;
    for (const ListEntry& e : entries) {
        EXPECT_TRUE(named.emplace(e.name, e).second) << "listed twice: " << e.name;
    }
    return named;
}

std::vector<StormMember> ThreeMembers() {
    return {{"war3map.j", Content(5000, 1, true)},
            {"Units\\footman.mdx", Content(70000, 2, false), 0, 0x10200, 0x08},
            {"empty.txt", ""}};
}

TEST(Listing, NamesSizesAndSlotsFromTheInternalList) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteWithStorm(archive, ThreeMembers());
    std::string list = ReadWithStorm(archive, "(listfile)");

    MpqHandle handle = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
    uint32_t slots = Lib().SFileGetFileInfo(handle, kInfoHashTableSize);
    EXPECT_GE(slots, 4u);
    std::vector<ListEntry> records(slots);
    std::memset(records.data(), 0xAB, records.size() * sizeof(ListEntry));
    ASSERT_TRUE(Lib().SFileListFiles(handle, list.c_str(), records.data(), kListIsText));
    size_t empty = 0;
    for (const ListEntry& r : records) {
        if (!r.exists) {
            ++empty;
            EXPECT_EQ(r.name[0], '\0'); // every record is written, empty ones too
        }
    }
    EXPECT_EQ(empty, slots - 4);
    Lib().SFileCloseArchive(handle);

    auto named = ByName(List(archive, list.c_str(), kListIsText));
    ASSERT_EQ(named.size(), 4u) << "three members and the internal (listfile)";
    EXPECT_EQ(named["war3map.j"].fullSize, 5000u);
    EXPECT_LT(named["war3map.j"].compressedSize, 5000u);
    EXPECT_EQ(named["Units\\footman.mdx"].fullSize, 70000u);
    EXPECT_EQ(named["Units\\footman.mdx"].flags & 0x10000u, 0x10000u) << "encrypted";
    EXPECT_EQ(named["empty.txt"].fullSize, 0u);
    EXPECT_TRUE(named.count("(listfile)"));
}

TEST(Listing, NameListTextIsSplitAtLineEndsAndSemicolons) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteWithStorm(archive, ThreeMembers(), false);
    auto named = ByName(
        List(archive, "war3map.j\r\nUnits/footman.mdx;empty.txt\r\n\r\nnot.there", kListIsText));
    EXPECT_TRUE(named.count("war3map.j"));
    EXPECT_TRUE(named.count("Units\\footman.mdx")) << "'/' is listed as '\\'";
    EXPECT_TRUE(named.count("empty.txt"));
    EXPECT_EQ(named.size(), 3u);
}

TEST(Listing, ExternalListFilesJoinedBySpacesAndUnreadableOnesSkipped) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteWithStorm(archive, ThreeMembers(), false);
    std::string spaced = folder / "my lists";
    mkdir(spaced.c_str(), 0755);
    WriteFile(spaced + "/one list.txt", "war3map.j\n");
    WriteFile(folder / "two.txt", "empty.txt\r\n");
    std::string paths = spaced + "/one list.txt " + folder / "missing.txt " + folder / "two.txt";

    auto named = ByName(List(archive, paths.c_str(), kListFromFiles));
    ASSERT_EQ(named.size(), 3u);
    EXPECT_TRUE(named.count("war3map.j"));
    EXPECT_TRUE(named.count("empty.txt"));
}

TEST(Listing, UnnamedMembersGetStableGeneratedNamesThatOpenThem) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    std::string wave = std::string("RIFF\x24\0\0\0WAVEfmt ", 16) + Content(100, 3, false);
    WriteWithStorm(archive, {{"sound\\a.wav", wave}, {"b.bin", Content(9000, 4, false)}}, false);

    auto first = List(archive, "", kListFromFiles);
    ASSERT_EQ(first.size(), 2u);
    std::string waveName;
    std::string otherName;
    for (const ListEntry& e : first) {
        std::string name = e.name;
        EXPECT_EQ(name.rfind("Unknown\\", 0), 0u) << name;
        (name.size() > 4 && name.substr(name.size() - 4) == ".wav" ? waveName : otherName) = name;
    }
    ASSERT_FALSE(waveName.empty()) << "the extension is guessed from the content";
    EXPECT_EQ(ExtractFrom(archive, waveName), wave);
    EXPECT_EQ(ExtractFrom(archive, otherName), Content(9000, 4, false));
    // Also with the host's separator and another letter case.
    std::string lower = otherName;
    for (char& c : lower) {
        c = c == '\\' ? '/' : static_cast<char>(std::tolower(c));
    }
    EXPECT_EQ(ExtractFrom(archive, lower), Content(9000, 4, false));

    // The same names after the archive was rewritten by an update.
    ASSERT_TRUE(AddFiles(archive, {{"new.txt", "new"}}));
    auto named = ByName(List(archive, "new.txt", kListIsText));
    EXPECT_TRUE(named.count(waveName));
    EXPECT_TRUE(named.count(otherName));
    EXPECT_TRUE(named.count("new.txt"));

    // And after a deletion, which compacts the archive and moves the data.
    MpqHandle h = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x05, 16);
    ASSERT_TRUE(Lib().MpqDeleteFile(h, "new.txt"));
    ASSERT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    named = ByName(List(archive, "", kListFromFiles));
    EXPECT_TRUE(named.count(waveName));
    EXPECT_EQ(ExtractFrom(archive, otherName), Content(9000, 4, false));
}

TEST(Listing, OneNameInTwoLocalesIsListedTwiceAndOpenedByTheCurrentLocale) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteWithStorm(archive, {{"text.txt", "neutral"}, {"text.txt", "deutsch", 0x407}});

    auto entries = List(archive, "text.txt", kListIsText);
    std::map<uint32_t, std::string> byLocale;
    for (const ListEntry& e : entries) {
        if (std::string(e.name) != "(listfile)") {
            byLocale[e.locale] = e.name;
        }
    }
    EXPECT_EQ(byLocale[0], "text.txt");
    EXPECT_EQ(byLocale[0x407], "text.txt");
    EXPECT_EQ(ExtractFrom(archive, "text.txt", 0), "neutral");
    EXPECT_EQ(ExtractFrom(archive, "text.txt", 0x407), "deutsch");
    EXPECT_EQ(ExtractFrom(archive, "text.txt", 0x409), "neutral") << "falls back to neutral";

    // Without a list, both get distinct generated names, each opening its own.
    auto unnamed = List(archive, "", kListFromFiles);
    std::map<std::string, uint32_t> generated;
    for (const ListEntry& e : unnamed) {
        if (std::string(e.name) != "(listfile)") {
            generated[e.name] = e.locale;
        }
    }
    ASSERT_EQ(generated.size(), 2u);
    for (const auto& g : generated) {
        EXPECT_EQ(ExtractFrom(archive, g.first), g.second ? "deutsch" : "neutral") << g.first;
    }
}

} // namespace

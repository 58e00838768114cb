// Listing real archives: names from the internal list, from external list
// files, generated names for members no list names, locales.
#include "sfmpq_test_support.h"

#include "sfmpq/list_records.h"
#include "sfmpq/member_names.h"
#include "sfmpq/name_hash.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using sfmpq::kMaxListRecord;
using sfmpq::ListRecordWriter;
using sfmpq::NameFingerprints;
using sfmpq::SpreadListRecords;

std::map<std::string, ListEntry> ByName(const std::vector<ListEntry>& entries) {
    std::map<std::string, ListEntry> named;
    for (const ListEntry& e : entries) {
        EXPECT_TRUE(named.emplace(e.name, e).second) << "listed twice: " << e.name;
    }
    return named;
}

// Bytes of System V shared memory this process has attached.
uint64_t AttachedSharedMemory() {
    uint64_t total = 0;
    std::FILE* maps = std::fopen("/proc/self/maps", "r");
    char line[512];
    while (maps && std::fgets(line, sizeof line, maps)) {
        unsigned long long start = 0, end = 0;
        if (std::strstr(line, "/SYSV") && std::sscanf(line, "%llx-%llx", &start, &end) == 2) {
            total += end - start;
        }
    }
    if (maps) {
        std::fclose(maps);
    }
    return total;
}

// Segments of System V shared memory this process made that are not marked
// for removal, so that they would outlive it, or that other users could
// attach.
int SegmentsLeftBehind() {
    int count = 0;
    std::FILE* table = std::fopen("/proc/sysvipc/shm", "r");
    char line[512];
    while (table && std::fgets(line, sizeof line, table)) {
        long key = 0, id = 0, creator = 0;
        unsigned mode = 0;
        unsigned long long size = 0;
        if (std::sscanf(line, "%ld %ld %o %llu %ld", &key, &id, &mode, &size, &creator) == 5 &&
            creator == getpid() && ((mode & 01000) == 0 || (mode & 0777) != 0600)) {
            ++count;
        }
    }
    if (table) {
        std::fclose(table);
    }
    return count;
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

    const uint64_t unopened = AttachedSharedMemory();
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

    // The room the records of the largest table took (tens of MiB) is not
    // kept once they are in the caller's array.
    WriteWithStorm(archive, ThreeMembers(), true, 1u << 19);
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
    records.resize(Lib().SFileGetFileInfo(handle, kInfoHashTableSize));
    ASSERT_GE(records.size(), 1u << 19);
    const uint64_t before = AttachedSharedMemory();
    ASSERT_TRUE(Lib().SFileListFiles(handle, list.c_str(), records.data(), kListIsText));
    EXPECT_EQ(AttachedSharedMemory(), before);
    EXPECT_EQ(SegmentsLeftBehind(), 0);
    Lib().SFileCloseArchive(handle);
    EXPECT_EQ(AttachedSharedMemory(), unopened) << "a closed handle keeps no shared memory";

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
    std::vector<StormMember> members = ThreeMembers();
    const std::string longest = "Long\\" + std::string(254, 'n'); // 259 characters, the most
    members.push_back({longest, "at the limit"});
    WriteWithStorm(archive, members, false);
    const std::string list = "war3map.j\r\nUnits/footman.mdx;empty.txt\r\n\r\nnot.there;" +
                             std::string(260, 'x') + "\n" + std::string(5000, 'y') + "\n" +
                             "Long/" + std::string(254, 'n') +
                             std::string(3 << 20, ';'); // far more than the records need
    auto named = ByName(List(archive, list.c_str(), kListIsText));
    EXPECT_TRUE(named.count("war3map.j"));
    EXPECT_TRUE(named.count("Units\\footman.mdx")) << "'/' is listed as '\\'";
    EXPECT_TRUE(named.count("empty.txt"));
    EXPECT_TRUE(named.count(longest));
    EXPECT_EQ(named.size(), 4u) << "longer names are skipped";
}

TEST(Listing, ExternalListFilesJoinedBySpacesAndUnreadableOnesSkipped) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteWithStorm(archive, ThreeMembers(), false);
    std::string spaced = folder / "my lists";
    mkdir(spaced.c_str(), 0755);
    WriteFile(spaced + "/one list.txt", "war3map.j\n");
    WriteFile(folder / "two.txt", "empty.txt\r\n");
    std::string paths = spaced + "/one list.txt " + folder / "missing.txt " + folder.path() + " " +
                        folder / "two.txt";

    auto named = ByName(List(archive, paths.c_str(), kListFromFiles));
    ASSERT_EQ(named.size(), 3u);
    EXPECT_TRUE(named.count("war3map.j"));
    EXPECT_TRUE(named.count("empty.txt"));
    // No list at all: every member is unnamed.
    named = ByName(List(archive, nullptr, kListFromFiles));
    ASSERT_EQ(named.size(), 3u);
    EXPECT_EQ(named.begin()->first.rfind("Unknown\\", 0), 0u);
}

TEST(Listing, UnnamedMembersGetStableGeneratedNamesThatOpenThem) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    std::string wave = std::string("RIFF\x24\0\0\0WAVEfmt ", 16) + Content(100, 3, false);
    // A wave's form without "RIFF" before it is no wave.
    std::string data = std::string("RIFX\x24\0\0\0AVI ", 12) + Content(9000, 4, false);
    // The second hash of data.txt, 04CF5C07, has a leading zero.
    WriteWithStorm(archive, {{"sound\\a.wav", wave}, {"data.txt", data}}, false);

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
    EXPECT_EQ(ExtractFrom(archive, otherName), data);
    // Also with the host's separator and another letter case.
    std::string lower = otherName;
    for (char& c : lower) {
        c = c == '\\' ? '/' : static_cast<char>(std::tolower(c));
    }
    EXPECT_EQ(ExtractFrom(archive, lower), data);
    // The name in full: the neutral locale adds nothing to it.
    ASSERT_EQ(otherName, "Unknown\\395B7DE804CF5C07.xxx");
    // Each hash is written in eight digits: one without its leading zero
    // names nothing.
    MpqHandle handle = nullptr;
    MpqHandle member = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
    const std::string shortened = std::string(otherName).erase(16, 1);
    EXPECT_FALSE(Lib().SFileOpenFileEx(handle, shortened.c_str(), 0, &member)) << shortened;
    Lib().SFileCloseArchive(handle);

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
    EXPECT_EQ(ExtractFrom(archive, otherName), data);

    // A locale with letters among its digits is written in capitals, and
    // opens the member in any letter case.
    WriteWithStorm(archive, {{"fr.txt", "fr", 0x40C}}, false);
    auto french = List(archive, "", kListFromFiles);
    ASSERT_EQ(french.size(), 1u);
    std::string frenchName = french[0].name;
    EXPECT_EQ(frenchName.substr(24), "_40C.xxx");
    EXPECT_EQ(ExtractFrom(archive, frenchName), "fr");
    EXPECT_EQ(ExtractFrom(archive, frenchName.replace(24, 4, "_40c")), "fr");
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

    // SFMpqDestroy starts over in the neutral locale.
    Lib().SFileSetLocale(0x407);
    ASSERT_TRUE(Lib().SFMpqDestroy());
    MpqHandle handle = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
    EXPECT_EQ(Extract(handle, "text.txt"), "neutral");
    Lib().SFileCloseArchive(handle);
}

// Rewrites a table of an archive written by WriteWithStorm, the one whose
// position and size the header holds at `positionField` and `sizeField`:
// `edit` gets its entries decrypted, four words each.
template <typename Edit>
void EditTable(const std::string& archive, size_t positionField, size_t sizeField, uint32_t key,
               Edit edit) {
    std::string file = ReadFile(archive);
    uint32_t position = 0;
    uint32_t entries = 0;
    std::memcpy(&position, &file[positionField], 4);
    std::memcpy(&entries, &file[sizeField], 4);
    ASSERT_LE(position + uint64_t(entries) * 16, file.size());
    std::vector<uint32_t> table(entries * 4);
    std::memcpy(table.data(), &file[position], entries * 16);
    DecryptTable(table.data(), table.size(), key);
    edit(table.data(), entries);
    EncryptTable(table.data(), table.size(), key);
    std::memcpy(&file[position], table.data(), entries * 16);
    WriteFile(archive, file);
}

// The hash table's entries: name A, name B, locale and platform, block index.
template <typename Edit> void EditHashTable(const std::string& archive, Edit edit) {
    EditTable(archive, 16, 24, 0xC3AF3770, edit);
}

// The block table's entries: position, packed size, size, flags.
template <typename Edit> void EditBlockTable(const std::string& archive, Edit edit) {
    EditTable(archive, 20, 28, 0xEC83B3A3, edit);
}

// Names are found in the hash table as the library finds them: every byte a
// name may hold, letter case, one name in several
// locales, and entries the library would not open (a platform set, a block
// beyond the table or one no longer in use) or could confuse (two entries of one name and locale).
// Each member has its own size, so a name given to the wrong slot shows.
TEST(Listing, EveryNameIsGivenToTheSlotTheLibraryOpensByIt) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    std::vector<StormMember> members;
    std::string list;
    for (int byte = 1; byte < 256; ++byte) {
        if (byte == '\r' || byte == '\n' || byte == ';' || byte == '/' || byte == '\\') {
            continue; // these split or separate names
        }
        // A lower-case letter names what its capital does: its own suffix.
        std::string name = std::string("Dir\\") + static_cast<char>(byte) +
                           (byte >= 'a' && byte <= 'z' ? "small" : "name");
        members.push_back({name, std::string(members.size() + 1, 'x')});
        list += name + "\n";
    }
    members.push_back({"gone.txt", "a block no longer in use"});
    members.push_back({"Twice.txt", "neutral"});
    members.push_back({"twice.TXT", "deutsch!", 0x407});
    members.push_back({"platform.txt", "on another platform"});
    members.push_back({"same.txt", "first of two"});
    members.push_back({"beyond.txt", "a block beyond the table"});
    list += "gone.txt\ntwice.txt\nplatform.txt\nsame.txt\nbeyond.txt\n";
    WriteWithStorm(archive, members, false, 1024);
    uint32_t tableSize = 0;
    ASSERT_NO_FATAL_FAILURE(EditHashTable(archive, [&](uint32_t* hashes, uint32_t slots) {
        tableSize = slots;
        // Every name's hashes are the library's: the search that starts
        // where the first says meets the entry of the other two.
        for (uint32_t m = 0; m + 6 < members.size(); ++m) {
            const sfmpq::NameHashes hash = sfmpq::HashName(members[m].name.c_str());
            uint32_t slot = hash.tableIndex & (slots - 1);
            while (hashes[slot * 4 + 3] != 0xFFFFFFFF &&
                   (hashes[slot * 4] != hash.nameA || hashes[slot * 4 + 1] != hash.nameB)) {
                slot = (slot + 1) & (slots - 1);
            }
            EXPECT_EQ(hashes[slot * 4 + 3], m) << members[m].name;
        }
        // Entries by their block, which WriteWithStorm numbers in order.
        std::map<uint32_t, uint32_t> slotOfBlock;
        for (uint32_t i = 0; i < slots; ++i) {
            slotOfBlock[hashes[i * 4 + 3]] = i;
        }
        const uint32_t count = static_cast<uint32_t>(members.size());
        hashes[slotOfBlock[count - 3] * 4 + 2] |= 1u << 16; // a platform
        hashes[slotOfBlock[count - 1] * 4 + 3] = count;     // just beyond the blocks
        // A second entry of "same.txt" in a free slot after its own, on the
        // block of the first member.
        uint32_t same = slotOfBlock[count - 2];
        uint32_t free = same;
        do {
            free = (free + 1) % slots;
        } while (hashes[free * 4 + 3] != 0xFFFFFFFF);
        for (uint32_t i = same + 1; i != free; i = (i + 1) % slots) {
            ASSERT_NE(hashes[i * 4 + 3], 0xFFFFFFFFu);
        }
        std::memcpy(&hashes[free * 4], &hashes[same * 4], 12);
        hashes[free * 4 + 3] = 0;
    }));
    ASSERT_NO_FATAL_FAILURE(EditBlockTable(archive, [&](uint32_t* blocks, uint32_t) {
        blocks[(members.size() - 6) * 4 + 3] &= ~0x80000000u; // MPQ_FILE_EXISTS
        blocks[(members.size() - 6) * 4] = 0x7FFFFFF0u;       // and its data far away
    }));

    std::map<std::string, std::vector<uint32_t>> sizes; // by name
    std::map<std::string, uint32_t> locales;
    for (const ListEntry& e : List(archive, list.c_str(), kListIsText)) {
        sizes[e.name].push_back(e.fullSize);
        locales[e.name] |= e.locale;
    }
    size_t generated = 0;
    for (const auto& named : sizes) {
        generated += named.first.rfind("Unknown\\", 0) == 0 ? named.second.size() : 0;
    }
    for (size_t i = 0; i + 6 < members.size(); ++i) {
        const std::string& name = members[i].name;
        EXPECT_EQ(sizes[name], std::vector<uint32_t>{uint32_t(i + 1)})
            << "byte " << int(name[4] & 0xFF);
    }
    EXPECT_EQ(sizes["twice.txt"].size(), 2u) << "in both locales";
    EXPECT_EQ(locales["twice.txt"], 0x407u);
    EXPECT_EQ(sizes.count("platform.txt"), 0u) << "the library does not open it by name";
    EXPECT_EQ(sizes["same.txt"], std::vector<uint32_t>{1u})
        << "the entry the library opens: the last";
    EXPECT_EQ(sizes.count("beyond.txt"), 0u);
    EXPECT_EQ(sizes.count("gone.txt"), 0u);
    EXPECT_EQ(generated, 2u) << "the platform's member and the first entry of same.txt";
    // Where a block no longer in use says its data lay does not matter to an
    // update either.
    MpqHandle update = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x04, 64);
    EXPECT_NE(update, nullptr);
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(update, 0));

    // Without names, the two entries of same.txt get generated names that
    // tell them apart by the slot of the second; each opens its own entry,
    // and its slot named with another's hash or a slot beyond the table
    // opens nothing.
    std::map<std::string, std::string> unnamed; // generated name without the slot, by name
    for (const ListEntry& e : List(archive, "", kListFromFiles)) {
        std::string name = e.name;
        size_t tilde = name.find('~');
        if (tilde != std::string::npos) {
            unnamed[name] = name.substr(0, tilde) + name.substr(name.find('.', tilde));
        }
    }
    ASSERT_EQ(unnamed.size(), 1u) << "one of the two entries of one name and locale";
    const std::string& slotted = unnamed.begin()->first;
    const std::string& plain = unnamed.begin()->second;
    std::set<std::string> contents = {ExtractFrom(archive, plain), ExtractFrom(archive, slotted)};
    EXPECT_EQ(contents, (std::set<std::string>{"first of two", "x"}));
    std::string slot = slotted.substr(slotted.find('~') + 1);
    slot = slot.substr(0, slot.find('.'));
    // "Unknown\\" and the two hashes, each in eight hex digits.
    std::string stem = plain.substr(0, plain.find('.'));
    std::vector<std::string> bad = {
        stem + "_407~" + slot + ".xxx", stem + "~" + std::to_string(std::stoul(slot) + 1) + ".xxx",
        stem + "~" + std::to_string(tableSize) + ".xxx", stem + "~99999.xxx", stem + "~.xxx"};
    for (size_t digit : {8, 16}) { // the first of either hash
        std::string other = stem + "~" + slot + ".xxx";
        other[digit] = other[digit] == '0' ? '1' : '0';
        bad.push_back(other);
    }
    // Each is refused by the engine, which goes on: none ends on one.
    const std::string log = folder / "engines.log";
    setenv("SFMPQ_ENGINE_LOG", log.c_str(), 1);
    for (const std::string& name : bad) {
        MpqHandle handle = nullptr;
        MpqHandle member = nullptr;
        ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
        EXPECT_FALSE(Lib().SFileOpenFileEx(handle, name.c_str(), 0, &member)) << name;
        if (member) {
            Lib().SFileCloseFile(member);
        }
        Lib().SFileCloseArchive(handle);
    }
    unsetenv("SFMPQ_ENGINE_LOG");
    EXPECT_FALSE(Exists(log)) << ReadFile(log);

    // "(signature)", which a signed archive holds, is listed under its own
    // name without any list: here the entry of the only member, moved to
    // that name's hashes and place.
    WriteWithStorm(archive, {{"signed", "signature"}}, false, 16);
    ASSERT_NO_FATAL_FAILURE(EditHashTable(archive, [](uint32_t* hashes, uint32_t slots) {
        for (uint32_t i = 0; i < slots; ++i) {
            hashes[i * 4 + 3] = 0xFFFFFFFF;
        }
        const sfmpq::NameHashes hash = sfmpq::HashName("(signature)");
        const uint32_t slot = hash.tableIndex & (slots - 1);
        const uint32_t entry[4] = {hash.nameA, hash.nameB, 0, 0};
        std::memcpy(&hashes[slot * 4], entry, sizeof entry);
    }));
    EXPECT_EQ(ByName(List(archive, "", kListFromFiles)).count("(signature)"), 1u);

    // Two entries that share their first hash but not their second are two
    // names: neither is told apart by a slot, and each opens its own.
    WriteWithStorm(archive, {{"p", "first"}, {"q", "second"}}, false, 16);
    ASSERT_NO_FATAL_FAILURE(EditHashTable(archive, [](uint32_t* hashes, uint32_t slots) {
        const uint32_t p = sfmpq::HashName("p").nameA;
        const uint32_t q = sfmpq::HashName("q").nameA;
        for (uint32_t i = 0; i < slots; ++i) {
            hashes[i * 4] = hashes[i * 4] == q ? p : hashes[i * 4];
        }
    }));
    std::set<std::string> read;
    for (const ListEntry& e : List(archive, "", kListFromFiles)) {
        EXPECT_EQ(std::string(e.name).find('~'), std::string::npos) << e.name;
        read.insert(ExtractFrom(archive, e.name));
    }
    EXPECT_EQ(read, (std::set<std::string>{"first", "second"}));
}

TEST(Listing, ExtensionsAreGuessedOnlyFromSmallFirstUnits) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    std::string riff = std::string("RIFF\x24\0\0\0WAVEfmt ", 16);
    // Block 0: one unit of 4 MiB; block 1: 1 MiB in small sectors; block 2:
    // small; blocks 3 and 4: one unit of exactly the most a guess unpacks,
    // and one byte more.
    WriteWithStorm(archive,
                   {{"whole", riff + std::string(4 << 20, '\0'), 0, 0x1000200, 0x02},
                    {"sectors", riff + std::string(1 << 20, '\0')},
                    {"small", riff + Content(100, 3, false)},
                    {"unit", riff + std::string((64 << 10) - 16, '\0'), 0, 0x1000200, 0x02},
                    {"unit+1", riff + std::string((64 << 10) - 15, '\0'), 0, 0x1000200, 0x02}},
                   false, 256);
    // Every free hash slot is pointed at the single-unit block: listing
    // must not unpack it once per slot.
    EditHashTable(archive, [](uint32_t* hashes, uint32_t slots) {
        ASSERT_EQ(slots, 256u);
        for (uint32_t i = 0; i < slots; ++i) {
            if (hashes[i * 4 + 3] == 0xFFFFFFFF) {
                hashes[i * 4] = 0x1000 + i;
                hashes[i * 4 + 1] = 0x2000 + i;
                hashes[i * 4 + 2] = 0;
                hashes[i * 4 + 3] = 0;
            }
        }
    });

    auto entries = List(archive, "", kListFromFiles);
    ASSERT_EQ(entries.size(), 256u);
    std::map<uint32_t, std::vector<std::string>> extensions; // by full size
    for (const ListEntry& e : entries) {
        std::string name = e.name;
        extensions[e.fullSize].push_back(name.substr(name.size() - 4));
    }
    ASSERT_EQ(extensions.size(), 5u);
    EXPECT_EQ(extensions[16 + (4 << 20)], std::vector<std::string>(252, ".xxx"))
        << "too large to unpack for a guess";
    EXPECT_EQ(extensions[16 + (1 << 20)], std::vector<std::string>{".wav"}) << "first sector";
    EXPECT_EQ(extensions[116], std::vector<std::string>{".wav"});
    EXPECT_EQ(extensions[64 << 10], std::vector<std::string>{".wav"});
    EXPECT_EQ(extensions[(64 << 10) + 1], std::vector<std::string>{".xxx"});

    // Sectors of 128 KiB (the header's shift made 8): a first sector of
    // stored data is read for a guess up to the same limit, and a member
    // smaller than a sector costs only its own size.
    WriteWithStorm(archive,
                   {{"sectors", riff + std::string(1 << 20, '\0'), 0, 0, 0},
                    {"small", riff + Content(100, 3, false), 0, 0, 0},
                    {"unit", riff + std::string((64 << 10) - 16, '\0'), 0, 0, 0},
                    {"unit+1", riff + std::string((64 << 10) - 15, '\0'), 0, 0, 0}},
                   false);
    std::string header = ReadFile(archive);
    header[0x0E] = 8;
    WriteFile(archive, header);
    extensions.clear();
    for (const ListEntry& e : List(archive, "", kListFromFiles)) {
        std::string name = e.name;
        extensions[e.fullSize].push_back(name.substr(name.size() - 4));
    }
    EXPECT_EQ(extensions[16 + (1 << 20)], std::vector<std::string>{".xxx"});
    EXPECT_EQ(extensions[116], std::vector<std::string>{".wav"});
    EXPECT_EQ(extensions[64 << 10], std::vector<std::string>{".wav"});
    EXPECT_EQ(extensions[(64 << 10) + 1], std::vector<std::string>{".xxx"});

    // A listing's guesses spend 64 MiB at most: a stored unit of 64 KiB
    // costs its data twice (read and unpacked), so of 520 such members the
    // first 512 guessed get their extension and the rest "xxx".
    std::vector<StormMember> units;
    for (int i = 0; i < 520; ++i) {
        units.push_back(
            {"u" + std::to_string(i), riff + std::string((64 << 10) - 16, '\0'), 0, 0x1000000, 0});
    }
    WriteWithStorm(archive, units, false, 1024);
    extensions.clear();
    for (const ListEntry& e : List(archive, "", kListFromFiles)) {
        std::string name = e.name;
        extensions[e.fullSize].push_back(name.substr(name.size() - 4));
    }
    const std::vector<std::string>& guessed = extensions[64 << 10];
    EXPECT_EQ(guessed.size(), 520u);
    EXPECT_EQ(std::count(guessed.begin(), guessed.end(), ".wav"), 512);
}

// A signature is recognised in data that holds all of it, however short,
// and not in data that ends inside it.
TEST(Listing, AnExtensionIsGuessedFromAWholeSignatureOnly) {
    const struct {
        std::string head;
        const char* extension;
    } cases[] = {
        {"MZ", "exe"},
        {"BIK", "bik"},
        {"BLP", "blp"}, // BLP1 and BLP2 images alike
        {"OggS", "ogg"},
        {"ID3", "mp3"},
        {"GIF8", "gif"},
        {"\x89PNG", "png"},
        {"DDS ", "dds"},
        {"MDLX", "mdx"},
        {"SMK2", "smk"},
        {"SMK4", "smk"},
        {std::string("PK\x03\x04", 4), "zip"},
        {std::string("\xFF\xD8\xFF", 3), "jpg"},
        {std::string("RIFF\0\0\0\0WAVE", 12), "wav"},
        {std::string("RIFF\0\0\0\0AVI ", 12), "avi"},
        {std::string("MPQ\x1A", 4), "mpq"},
        {std::string("MPQ\x1B", 4), "mpq"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension);
        const auto* head = reinterpret_cast<const unsigned char*>(c.head.data());
        EXPECT_STREQ(sfmpq::GuessExtension(head, c.head.size()), c.extension);
        EXPECT_STREQ(sfmpq::GuessExtension(head, c.head.size() - 1), "xxx");
    }
}

// A generated name reads back as the hashes, locale and slot it was made of,
// with either separator, any letter case and any extension; anything else
// that starts like one is no generated name.
TEST(Listing, GeneratedNamesReadBackAsTheyWereMadeAndNothingElseDoes) {
    sfmpq::GeneratedName made;
    made.hashA = 0x0A2B3C4D;
    made.hashB = 0xE6F70819;
    made.locale = 0x407;
    made.hasSlot = true;
    made.slot = 12;
    EXPECT_EQ(sfmpq::FormatGeneratedName(made, "wav"), "Unknown\\0A2B3C4DE6F70819_407~12.wav");
    const struct {
        const char* text;
        bool ok;
        uint32_t locale;
        bool hasSlot;
        uint32_t slot;
    } cases[] = {
        {"Unknown\\0A2B3C4DE6F70819_407~12.wav", true, 0x407, true, 12},
        {"unknown/0a2b3c4de6f70819_407~12.anything", true, 0x407, true, 12},
        {"Unknown\\0A2B3C4DE6F70819", true, 0, false, 0},
        {"Unknown\\0A2B3C4DE6F70819~4294967295.xxx", true, 0, true, 0xFFFFFFFF},
        {"Unknown\\0A2B3C4DE6F70819_.xxx", false, 0, false, 0},
        {"Unknown\\0A2B3C4DE6F70819~.xxx", false, 0, false, 0},
        {"Unknown\\0A2B3C4DE6F70819~4294967296.xxx", false, 0, false, 0},
        {"Unknown\\0A2B3C4DE6F7081.xxx", false, 0, false, 0},
        {"Unknown\\0A2B3C4DE6F70819x.xxx", false, 0, false, 0},
        {"Unknown\\0A2B3C4DE6F70819.x\\y", false, 0, false, 0},
        {"Unknown\\G0A2B3C4DE6F70819.xxx", false, 0, false, 0},
        {"Unknown_0A2B3C4DE6F70819.xxx", false, 0, false, 0},
        {"Unknow\\0A2B3C4DE6F70819.xxx", false, 0, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        sfmpq::GeneratedName read;
        ASSERT_EQ(sfmpq::ParseGeneratedName(c.text, &read), c.ok);
        if (c.ok) {
            EXPECT_EQ(read.hashA, made.hashA);
            EXPECT_EQ(read.hashB, made.hashB);
            EXPECT_EQ(read.locale, c.locale);
            EXPECT_EQ(read.hasSlot, c.hasSlot);
            EXPECT_EQ(read.slot, c.slot);
        }
    }
}

// The records an engine sends are spread over the caller's array only as far
// as they make sense: an engine may have been taken over by its archive.
TEST(Listing, ListRecordsFromTheEngineAreCheckedBeforeTheyAreSpread) {
    std::vector<unsigned char> buffer(3 * kMaxListRecord);
    // Prefaulting, as the engine writes: a wish, which this buffer (not
    // whole pages) cannot have; the records are the same.
    ListRecordWriter writer(buffer.data(), buffer.size(), true);
    const std::string longName(300, 'n');
    ASSERT_TRUE(writer.Put({1, 0x407, 10, 20, 0x80000000u, 0}, "a\\b.txt", 7));
    ASSERT_TRUE(writer.Put({4, 0, 30, 40, 0x200, 0}, longName.data(), longName.size()));
    ASSERT_FALSE(ListRecordWriter(buffer.data(), 30).Put({0, 0, 0, 0, 0, 0}, "abcdefg", 7))
        << "a record that does not fit is not written";
    std::vector<unsigned char> exact(sizeof(sfmpq::ListRecord) + 8);
    ASSERT_TRUE(ListRecordWriter(exact.data(), exact.size()).Put({0, 0, 0, 0, 0, 0}, "abcdefg", 7))
        << "one that fills the buffer exactly is";
    const size_t used = writer.Used();

    std::vector<ListEntry> entries(5);
    std::memset(entries.data(), 0xAB, entries.size() * sizeof(ListEntry));
    NameFingerprints names;
    ASSERT_TRUE(SpreadListRecords(buffer.data(), used, entries.data(), 5, &names));
    EXPECT_EQ(std::string(entries[1].name), "a\\b.txt");
    EXPECT_EQ(entries[1].locale, 0x407u);
    EXPECT_EQ(entries[1].fullSize, 20u);
    EXPECT_EQ(std::string(entries[4].name), longName.substr(0, 259)) << "cut to the longest name";
    for (uint32_t slot : {0u, 2u, 3u}) {
        EXPECT_EQ(entries[slot].exists, 0u);
        EXPECT_EQ(entries[slot].name[0], '\0');
    }
    ASSERT_EQ(names.Size(), 2u);
    EXPECT_TRUE(names.MayBe(0, "a\\b.txt"));
    EXPECT_FALSE(names.MayBe(0, "a\\b.tx"));
    EXPECT_FALSE(names.MayBe(1, "a\\b.txt"));
    EXPECT_FALSE(names.MayBe(2, "a\\b.txt"));

    // Every cut inside a record, and every kind of lie in one.
    for (size_t cut = 1; cut < used; ++cut) {
        bool whole = cut == 24 + 8;
        EXPECT_EQ(SpreadListRecords(buffer.data(), cut, entries.data(), 5, &names), whole)
            << "cut at " << cut;
    }
    auto lie = [&](size_t offset, uint32_t value, uint32_t count) {
        std::vector<unsigned char> copy(buffer.begin(), buffer.begin() + used);
        std::memcpy(&copy[offset], &value, 4);
        return SpreadListRecords(copy.data(), copy.size(), entries.data(), count, &names);
    };
    const size_t second = 24 + 8;
    EXPECT_FALSE(lie(second, 1, 5)) << "a slot listed twice";
    EXPECT_FALSE(lie(second, 0, 5)) << "slots out of order";
    EXPECT_FALSE(lie(0, 5, 5)) << "a slot beyond the array";
    EXPECT_FALSE(lie(0, 1, 1)) << "a slot beyond a smaller array";
    EXPECT_FALSE(lie(20, 260, 5)) << "a name longer than any";
    EXPECT_FALSE(lie(second + 20, 261, 5)) << "a name beyond the records";
}

} // namespace

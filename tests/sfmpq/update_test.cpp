// Updating real archives: create, replace, delete, locales, the member limit,
// the open flags and the reasons a failed open gives, every format, and the
// checksums every update writes.
#include "sfmpq_test_support.h"

#include <StormLib.h>

#include "sfmpq/file_checks.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

MpqHandle OpenUpdate(const std::string& path, uint32_t flags, uint32_t maxFiles = 64) {
    MpqHandle h = Lib().MpqOpenArchiveForUpdate(path.c_str(), flags, maxFiles);
    return h == MPQ_INVALID_UPDATE_HANDLE ? nullptr : h;
}

std::map<std::string, ListEntry> Listed(const std::string& path) {
    std::map<std::string, ListEntry> named;
    std::string list = ReadWithStorm(path, "(listfile)");
    for (const ListEntry& e : List(path, list.c_str(), kListIsText)) {
        named[e.name] = e;
    }
    return named;
}

off_t SizeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

TEST(Update, OpenFlagsCreateOnlyWhenAskedAndFailuresSayWhy) {
    Folder folder;
    std::string archive = folder / "new.mpq";
    errno = 0;
    EXPECT_EQ(OpenUpdate(archive, 0x05), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(Exists(archive)) << "0x04 never creates";
    // No name names no archive, whatever the flags.
    for (const char* none : {static_cast<const char*>(nullptr), ""}) {
        errno = 0;
        EXPECT_EQ(Lib().MpqOpenArchiveForUpdate(none, 0x21, 64), nullptr);
        EXPECT_EQ(errno, ENOENT);
    }
    // 0x20 creates also beside 0x04.
    MpqHandle both = OpenUpdate(folder / "both.mpq", 0x25);
    ASSERT_NE(both, nullptr);
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(both, 0));
    ASSERT_TRUE(Exists(folder / "both.mpq"));
    ASSERT_EQ(unlink((folder / "both.mpq").c_str()), 0);

    MpqHandle h = OpenUpdate(archive, 0x21);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(Exists(archive)) << "a new archive appears only when it is written";
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    EXPECT_TRUE(Exists(archive)) << "an empty new archive is still written";
    EXPECT_EQ(Listed(archive).size(), 2u) << "only its (listfile) and (attributes)";

    // Without 0x04 or 0x20 an open only creates: an existing archive is
    // refused and kept. A name the system cannot look up (a link to itself)
    // is no missing archive to be created either.
    std::string created = ReadFile(archive);
    EXPECT_EQ(OpenUpdate(archive, 0x01), nullptr);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadFile(archive), created);
    ASSERT_EQ(symlink("loop.mpq", (folder / "loop.mpq").c_str()), 0);
    EXPECT_EQ(OpenUpdate(folder / "loop.mpq", 0x21), nullptr);
    EXPECT_EQ(errno, ELOOP);

    WriteFile(folder / "text.mpq", Content(50000, 1, true));
    EXPECT_EQ(OpenUpdate(folder / "text.mpq", 0x21), nullptr);
    EXPECT_EQ(errno, ENOEXEC);
    EXPECT_EQ(ReadFile(folder / "text.mpq"), Content(50000, 1, true));

    EXPECT_EQ(OpenUpdate(folder / "no-such-folder/a.mpq", 0x21), nullptr);
    EXPECT_EQ(errno, ENOENT);
    // A path ending in a slash names a folder, whether one is there or not.
    for (const std::string& name : {folder.path() + "/", folder / "new-folder/"}) {
        errno = 0;
        EXPECT_EQ(OpenUpdate(name, 0x21), nullptr) << name;
        EXPECT_EQ(errno, EISDIR) << name;
    }
    // A path that leaves no room for its temporary copy's name.
    std::string deep = folder.path();
    while (deep.size() < 4096 - 32) {
        deep += "/d";
    }
    deep.resize(4096 - 32);
    EXPECT_EQ(OpenUpdate(deep, 0x21), nullptr);
    EXPECT_EQ(errno, ENAMETOOLONG);

    // A read-only archive is refused whoever asks, and left alone.
    ASSERT_TRUE(AddFiles(folder / "ro.mpq", {{"a", "a"}}));
    std::string before = ReadFile(folder / "ro.mpq");
    chmod((folder / "ro.mpq").c_str(), 0444);
    EXPECT_EQ(OpenUpdate(folder / "ro.mpq", 0x21), nullptr);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(ReadFile(folder / "ro.mpq"), before);
    EXPECT_EQ(folder.Files(),
              (std::vector<std::string>{"loop.mpq", "new.mpq", "ro.mpq", "text.mpq"}))
        << "no temporary file is left behind";

    // A bare name is an archive in the current folder.
    char* cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    EXPECT_TRUE(AddFiles("bare.mpq", {{"m", "bare"}}));
    EXPECT_EQ(chdir(cwd), 0);
    std::free(cwd);
    EXPECT_EQ(ExtractFrom(folder / "bare.mpq", "m"), "bare");
    EXPECT_EQ(folder.Files(),
              (std::vector<std::string>{"bare.mpq", "loop.mpq", "new.mpq", "ro.mpq", "text.mpq"}));
}

TEST(Update, ReplaceOnlyWithTheReplaceFlagAndReclaimTheSpace) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    std::string big = Content(1 << 20, 1, false);
    ASSERT_TRUE(AddFiles(archive, {{"big", big}, {"keep", "keep"}}));

    MpqHandle h = OpenUpdate(archive, 0x21);
    ASSERT_NE(h, nullptr);
    WriteFile(folder / "src", "other");
    errno = 0;
    EXPECT_FALSE(Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(), "big", 0x10200, 2, 9));
    EXPECT_EQ(errno, EEXIST);
    // The update's own handle reads its members too.
    EXPECT_TRUE(Extract(h, "big") == big);
    EXPECT_EQ(Extract(h, "keep"), "keep");
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    EXPECT_TRUE(ExtractFrom(archive, "big") == big);

    off_t size = SizeOf(archive);
    for (uint32_t round = 2; round < 6; ++round) {
        ASSERT_TRUE(AddFiles(archive, {{"big", Content(1 << 20, round, false)}}, 0x10201, 2));
    }
    EXPECT_TRUE(ExtractFrom(archive, "big") == Content(1 << 20, 5, false));
    EXPECT_EQ(ExtractFrom(archive, "keep"), "keep");
    EXPECT_LT(SizeOf(archive), size + 64 * 1024) << "replaced data is reclaimed";
}

// In formats 1 and 2 alike, which find members through the classic tables.
TEST(Update, MembersOfAnArchiveWithoutANameListAreReplacedAndMoved) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteFile(folder / "src", "new");
    for (uint32_t formatCode : {0u, 1u}) {
        SCOPED_TRACE(formatCode);
        WriteWithStorm(archive, {{"x", "old x"}, {"y", "old y"}, {"y", "alt y", 0x407}}, false, 64,
                       formatCode);
        MpqHandle h = OpenUpdate(archive, 0x04);
        ASSERT_NE(h, nullptr);
        EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(), "x", 0x201, 2, 9));
        Lib().SFileSetLocale(0x407);
        EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(), "y", 0x1, 0, 0));
        Lib().SFileSetLocale(0);
        EXPECT_TRUE(Lib().MpqSetFileLocale(h, "x", 0, 0x409));
        EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
        EXPECT_EQ(ExtractFrom(archive, "x", 0x409), "new");
        EXPECT_EQ(ExtractFrom(archive, "y", 0), "old y");
        EXPECT_EQ(ExtractFrom(archive, "y", 0x407), "new");
        EXPECT_EQ(List(archive, "", kListFromFiles).size(), 3u);
        std::remove(archive.c_str());
    }
}

TEST(Update, DeleteReturnsZeroForMissingMembersAndShrinksTheArchive) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    ASSERT_TRUE(AddFiles(archive, {{"dir\\a", Content(500000, 1, false)}, {"b", "b"}}));
    off_t size = SizeOf(archive);

    MpqHandle h = OpenUpdate(archive, 0x05, 16);
    ASSERT_NE(h, nullptr);
    // A listing through the update shows the deletion at once.
    auto listsA = [&h] {
        std::vector<ListEntry> records(Lib().SFileGetFileInfo(h, kInfoHashTableSize));
        EXPECT_TRUE(Lib().SFileListFiles(h, "dir\\a\nb", records.data(), kListIsText));
        return std::any_of(records.begin(), records.end(), [](const ListEntry& record) {
            return record.exists && std::string(record.name) == "dir\\a";
        });
    };
    EXPECT_TRUE(listsA());
    EXPECT_TRUE(Lib().MpqDeleteFile(h, "dir\\a"));
    EXPECT_FALSE(listsA());
    errno = 0;
    EXPECT_FALSE(Lib().MpqDeleteFile(h, "dir\\a"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(Lib().MpqDeleteFile(h, "*"));
    // An addition after the deletion still leaves its space to be reclaimed.
    WriteFile(folder / "c", "c");
    EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / "c").c_str(), "c", 0x200, 2, 0));
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));

    auto named = Listed(archive);
    EXPECT_EQ(named.count("dir\\a"), 0u);
    EXPECT_EQ(named.count("b"), 1u);
    EXPECT_EQ(named.count("c"), 1u);
    EXPECT_LT(SizeOf(archive), size - 400000);

    // An update handle closed as an archive is finished all the same.
    h = OpenUpdate(archive, 0x05, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(Lib().MpqDeleteFile(h, "b"));
    EXPECT_TRUE(Lib().SFileCloseArchive(h));
    EXPECT_FALSE(Lib().MpqCloseUpdatedArchive(h, 0));
    EXPECT_EQ(Listed(archive).count("b"), 0u);
}

TEST(Update, UnnamedMembersAreDeletedByTheirGeneratedNames) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteWithStorm(archive, {{"secret", "s"}, {"hidden", "h"}, {"other", "o"}}, false);
    std::vector<std::string> generated;
    for (const ListEntry& e : List(archive, "other", kListIsText)) {
        if (std::string(e.name) != "other") {
            generated.push_back(e.name);
        }
    }
    ASSERT_EQ(generated.size(), 2u);
    // Both in one update: each deletion leaves the other's name valid.
    MpqHandle h = OpenUpdate(archive, 0x05, 16);
    ASSERT_NE(h, nullptr);
    for (const std::string& name : generated) {
        ASSERT_EQ(name.rfind("Unknown\\", 0), 0u);
        EXPECT_TRUE(Lib().MpqDeleteFile(h, name.c_str())) << name;
    }
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    auto left = List(archive, "other", kListIsText);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_STREQ(left[0].name, "other");
}

TEST(Update, DeletingBesideEncryptedMembersOfUnknownNameKeepsThemReadable) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    std::vector<StormMember> members = {{"gone", Content(200000, 1, false)},
                                        {"packed", Content(30000, 2, true), 0, 0x10200, 2},
                                        {"stored", Content(30000, 3, false), 0, 0x10000, 0},
                                        {"keyed", Content(30000, 4, true), 0, 0x30200, 2}};
    WriteWithStorm(archive, members, false);
    MpqHandle h = OpenUpdate(archive, 0x05, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(Lib().MpqDeleteFile(h, "gone"));
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"a.mpq"}) << "the refusal leaves nothing";
    for (size_t i = 1; i < members.size(); ++i) {
        EXPECT_TRUE(ReadWithStorm(archive, members[i].name) == members[i].content)
            << members[i].name;
    }
    EXPECT_EQ(List(archive, "", kListFromFiles).size(), 3u);
}

TEST(Update, LocalesOfAdditionsDeletionsAndMoves) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    WriteFile(folder / "de", "deutsch");
    WriteFile(folder / "en", "neutral");
    MpqHandle h = OpenUpdate(archive, 0x21);
    ASSERT_NE(h, nullptr);
    Lib().SFileSetLocale(0x407);
    EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / "de").c_str(), "t", 0x10201, 8, 9));
    EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / "de").c_str(), "moved", 0x201, 2, 9));
    Lib().SFileSetLocale(0);
    EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / "en").c_str(), "t", 0x10201, 8, 9));
    EXPECT_TRUE(Lib().MpqSetFileLocale(h, "moved", 0x407, 0x409));
    EXPECT_FALSE(Lib().MpqSetFileLocale(h, "moved", 0x407, 0)) << "no member of that locale";
    EXPECT_FALSE(Lib().MpqSetFileLocale(h, "t", 0x407, 0)) << "would clash with the neutral one";
    EXPECT_FALSE(Lib().MpqSetFileLocale(h, "t", 0x407, 0x10000)) << "so would 0 in 16 bits";
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));

    EXPECT_EQ(ExtractFrom(archive, "t", 0x407), "deutsch");
    EXPECT_EQ(ExtractFrom(archive, "t", 0), "neutral");
    EXPECT_EQ(ReadWithStorm(archive, "moved", 0x409), "deutsch");

    h = OpenUpdate(archive, 0x05, 16);
    ASSERT_NE(h, nullptr);
    Lib().SFileSetLocale(0x407);
    EXPECT_TRUE(Lib().MpqDeleteFile(h, "t"));
    Lib().SFileSetLocale(0);
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    EXPECT_EQ(ExtractFrom(archive, "t", 0x407), "neutral") << "only the German one was deleted";

    // An update that only moves a member is written.
    h = OpenUpdate(archive, 0x05, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(Lib().MpqSetFileLocale(h, "moved", 0x409, 0x40C));
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    EXPECT_EQ(ReadWithStorm(archive, "moved", 0x40C), "deutsch");

    // A locale beyond 16 bits (a settings value the options saturate) is
    // the 16 bits an archive keeps, for additions and opens alike.
    h = OpenUpdate(archive, 0x05, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Lib().SFileSetLocale(0x7FFFFFFF), 0x7FFFFFFFu) << "as it was given";
    EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / "de").c_str(), "wide", 0x10201, 2, 9));
    EXPECT_TRUE(Lib().MpqSetFileLocale(h, "wide", 0x7FFFFFFF, 0x1FFFF));
    Lib().SFileSetLocale(0);
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    EXPECT_EQ(ExtractFrom(archive, "wide", 0x1FFFF), "deutsch");

    // One name in more locales than a first look at them holds (16): the
    // last of them is found for a replacement and a move, and listed.
    h = OpenUpdate(archive, 0x05, 16);
    ASSERT_NE(h, nullptr);
    for (uint32_t locale = 0x401; locale <= 0x414; ++locale) {
        Lib().SFileSetLocale(locale);
        EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / "en").c_str(), "many", 0x201, 2, 9));
    }
    EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / "de").c_str(), "many", 0x201, 2, 9));
    Lib().SFileSetLocale(0);
    EXPECT_TRUE(Lib().MpqSetFileLocale(h, "many", 0x414, 0x415));
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    EXPECT_EQ(ExtractFrom(archive, "many", 0x415), "deutsch");
    std::set<uint32_t> locales;
    for (const ListEntry& e : List(archive, "many", kListIsText)) {
        if (std::string(e.name) == "many") {
            locales.insert(e.locale);
        }
    }
    EXPECT_EQ(locales.size(), 20u);
    EXPECT_EQ(locales.count(0x415), 1u);
}

TEST(Update, TheMemberLimitIsWhereANewArchiveStartsAndItsTableGrows) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    MpqHandle h = OpenUpdate(archive, 0x21, 8);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Lib().SFileGetFileInfo(h, kInfoHashTableSize), 16u)
        << "8 members and its (listfile) and (attributes), in a power of two";
    WriteFile(folder / "src", "data");
    uint32_t added = 0;
    while (added < 100 &&
           Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(),
                                       ("m" + std::to_string(added)).c_str(), 0x10201, 2, 9)) {
        ++added;
    }
    EXPECT_EQ(added, 100u) << "a full table is enlarged, not a wall";
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    auto named = Listed(archive);
    for (uint32_t i = 0; i < added; ++i) {
        EXPECT_EQ(ExtractFrom(archive, "m" + std::to_string(i)), "data");
    }
    EXPECT_EQ(named.size(), added + 2);
    EXPECT_EQ(ReadWithStorm(archive, "m99"), "data");
    // A new archive is of the first format, which every reader opens: a
    // header of 32 bytes, format 0.
    std::string header = ReadFile(archive).substr(0, 16);
    EXPECT_EQ(header.substr(0, 8), std::string("MPQ\x1A\x20\0\0\0", 8));
    EXPECT_EQ(header.substr(12, 2), std::string(2, '\0'));

    // A limit beyond the most members an archive may have (2^19) gets the
    // table of those, 2^20 slots.
    h = OpenUpdate(folder / "large.mpq", 0x21, UINT32_MAX);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Lib().SFileGetFileInfo(h, kInfoHashTableSize), 1u << 20);
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
}

// Random sessions of changes, each checked against a model of what the
// archive must then hold: in each format, starting from an archive StormLib
// wrote with a small table, every session opens it for update, adds new
// members and adds again under names it has (with and without the replace
// flag), deletes members that are there and ones that are not, moves
// members to another locale (formats 1 and 2), and closes. After each close
// StormLib itself reads exactly the model's members, and the library lists
// as many.
TEST(Update, RandomSessionsOfChangesLeaveWhatAModelSays) {
    std::mt19937 random(1208);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    Folder folder;
    std::vector<std::string> names;
    for (uint32_t i = 0; i < 40; ++i) {
        names.push_back(i % 13 == 0 ? std::string(259 - i / 13, 'a' + i % 26) + std::to_string(i)
                                    : "dir\\m" + std::to_string(i) + ".txt");
        names.back().resize(std::min<size_t>(names.back().size(), 259));
    }
    const uint32_t locales[] = {0, 0x407, 0x409};
    using Key = std::pair<std::string, uint32_t>;
    for (uint32_t format = 0; format < 4; ++format) {
        const bool locales3 = format < 2; // StormLib writes a name once in formats 3 and 4
        const std::string archive = folder / ("f" + std::to_string(format) + ".mpq");
        std::map<Key, std::string> model = {{{names[1], 0}, "first"}, {{names[2], 0}, ""}};
        WriteWithStorm(archive, {{names[1], "first"}, {names[2], ""}}, true, 16, format);
        for (uint32_t session = 0; session < 4; ++session) {
            SCOPED_TRACE("format code " + std::to_string(format) + ", session " +
                         std::to_string(session));
            MpqHandle h = OpenUpdate(archive, 0x04, 16);
            ASSERT_NE(h, nullptr);
            for (uint32_t step = 0; step < 30; ++step) {
                const std::string& name = names[pick(names.size())];
                const uint32_t locale = locales3 ? locales[pick(3)] : 0;
                const Key key = {name, locale};
                const bool present = model.count(key) != 0;
                const std::string what = name.substr(0, 12) + " in locale " +
                                         std::to_string(locale) + ", step " + std::to_string(step);
                Lib().SFileSetLocale(locale);
                uint32_t action = pick(locales3 ? 4 : 3);
                if (action <= 1) {
                    const bool replace = action == 1 || pick(2) == 0;
                    std::string content = Content(pick(3) == 0 ? pick(20000) : pick(300),
                                                  format * 1000 + session * 100 + step, true);
                    WriteFile(folder / "src", content);
                    const uint32_t flags =
                        (replace ? 0x1 : 0) | (pick(2) ? 0x200 : 0) | (pick(3) == 0 ? 0x10000 : 0);
                    const bool added = Lib().MpqAddFileToArchiveEx(
                        h, (folder / "src").c_str(), name.c_str(), flags, pick(2) ? 2 : 8, 0);
                    EXPECT_EQ(added, !present || replace) << "add of " << what;
                    if (added) {
                        model[key] = content;
                    }
                } else if (action == 2) {
                    // A deletion falls back on the neutral member, as opens do.
                    const Key doomed = present ? key : Key(name, 0);
                    EXPECT_EQ(Lib().MpqDeleteFile(h, name.c_str()) != 0, model.count(doomed) != 0)
                        << "deletion of " << what;
                    model.erase(doomed);
                } else {
                    const uint32_t to = locales[pick(3)];
                    const bool free = to == locale || model.count({name, to}) == 0;
                    EXPECT_EQ(Lib().MpqSetFileLocale(h, name.c_str(), locale, to) != 0,
                              present && free)
                        << "move of " << what << " to " << to;
                    if (present && free) {
                        std::string content = model[key];
                        model.erase(key);
                        model[{name, to}] = content;
                    }
                }
                Lib().SFileSetLocale(0);
            }
            ASSERT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
            for (const auto& member : model) {
                EXPECT_TRUE(ReadWithStorm(archive, member.first.first, member.first.second) ==
                            member.second)
                    << member.first.first.substr(0, 12) << " in locale " << member.first.second;
            }
            size_t listed = 0;
            for (const ListEntry& e :
                 List(archive, ReadWithStorm(archive, "(listfile)").c_str(), kListIsText)) {
                listed += e.name[0] != '(';
            }
            EXPECT_EQ(listed, model.size());
        }
    }
}

TEST(Update, AddingFailsCleanlyForBadSourcesNamesAndTypes) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    MpqHandle h = OpenUpdate(archive, 0x21);
    ASSERT_NE(h, nullptr);
    WriteFile(folder / "src", "data");
    errno = 0;
    EXPECT_FALSE(Lib().MpqAddFileToArchiveEx(h, (folder / "none").c_str(), "a", 1, 0, 0));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(Lib().MpqAddFileToArchiveEx(h, folder.path().c_str(), "a", 1, 0, 0));
    EXPECT_EQ(errno, EISDIR);
    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(Lib().MpqAddFileToArchiveEx(h, (folder / "pipe").c_str(), "a", 1, 0, 0))
        << "refused, not waited on";
    EXPECT_EQ(errno, ENOEXEC);
    EXPECT_FALSE(Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(), "", 1, 0, 0));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(Lib().MpqAddFileToArchiveEx(h, nullptr, "a", 1, 0, 0));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(Lib().MpqAddFileToArchiveEx(h, "", "a", 1, 0, 0));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(Lib().MpqAddFileToArchiveEx(h, std::string(4096, 's').c_str(), "a", 1, 0, 0));
    EXPECT_EQ(errno, ENAMETOOLONG);
    // The check of a source's type also gives its size, by which the
    // update's file-size limit grows.
    uint64_t size = 0;
    EXPECT_EQ(sfmpq::CheckRegularFileType((folder / "src").c_str(), &size), 0);
    EXPECT_EQ(size, 4u);
    // Member names have at most 259 characters.
    const std::string longest(259, 'n');
    errno = 0;
    EXPECT_FALSE(
        Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(), (longest + "n").c_str(), 1, 0, 0));
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(), longest.c_str(), 1, 0, 0));
    EXPECT_FALSE(Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(), "a", 0x201, 0x77, 9));
    EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(), "a", 0x201, 0x10, 9))
        << "other types of the engine pass through (bzip2)";
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    EXPECT_EQ(ExtractFrom(archive, "a"), "data");
    EXPECT_EQ(ExtractFrom(archive, longest), "data");
    MpqHandle reader = nullptr;
    MpqHandle member = reinterpret_cast<MpqHandle>(1);
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &reader));
    errno = 0;
    EXPECT_FALSE(Lib().SFileOpenFileEx(reader, (longest + "n").c_str(), 0, &member));
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(member, nullptr);
    Lib().SFileCloseArchive(reader);
    h = OpenUpdate(archive, 0x04);
    ASSERT_NE(h, nullptr);
    errno = 0;
    EXPECT_FALSE(Lib().MpqDeleteFile(h, (longest + "n").c_str()));
    EXPECT_FALSE(Lib().MpqSetFileLocale(h, (longest + "n").c_str(), 0, 0x407));
    EXPECT_FALSE(Lib().MpqSetFileLocale(h, "", 0, 0x407));
    EXPECT_EQ(errno, ENOENT);
    // The archive's own members are not the caller's to replace or delete;
    // the update goes on.
    for (const char* internal : {"(listfile)", "(attributes)", "(signature)"}) {
        errno = 0;
        EXPECT_FALSE(
            Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(), internal, 0x201, 2, 0));
        EXPECT_EQ(errno, EPERM) << internal;
        errno = 0;
        EXPECT_FALSE(Lib().MpqDeleteFile(h, internal));
        EXPECT_EQ(errno, EPERM) << internal;
    }
    EXPECT_TRUE(Lib().MpqSetFileLocale(h, longest.c_str(), 0, 0)) << "to the locale it has";
    EXPECT_TRUE(Lib().MpqDeleteFile(h, longest.c_str()));
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
}

} // namespace

namespace {

// Runs a shell command in `folder`; its exit status.
int Shell(const Folder& folder, const std::string& command) {
    return std::system(("cd '" + folder.path() + "' && " + command + " >/dev/null 2>&1").c_str());
}

// `archive` with a 512-byte user-data header in front, as maps of some games
// carry it: the archive's own offsets stay relative to its header.
std::string BehindUserData(const std::string& archive) {
    std::string user(512, '\0');
    const unsigned char header[16] = {'M', 'P', 'Q', 0x1B, 0, 1, 0, 0, 0, 2, 0, 0, 16, 0, 0, 0};
    user.replace(0, sizeof header, reinterpret_cast<const char*>(header), sizeof header);
    return user + archive;
}

} // namespace

// Archives of every format Debian's smpq writes (1 to 4; 3 and 4 with HET and
// BET tables), and one behind a user-data header, are updated in their own
// format: smpq reads back every byte, and the format stays.
TEST(Update, EveryFormatIsUpdatedInItsOwnFormat) {
    Folder folder;
    std::string a = Content(70000, 1, true);
    std::string b = Content(9000, 2, false);
    WriteFile(folder / "a.txt", a);
    WriteFile(folder / "b.txt", b);
    WriteFile(folder / "c.txt", "c");
    for (const char* version : {"1", "2", "3", "4", "user-data"}) {
        std::string archive = folder / (std::string("v") + version + ".mpq");
        bool userData = std::string(version) == "user-data";
        ASSERT_EQ(Shell(folder, std::string("smpq -c -M ") + (userData ? "1" : version) + " " +
                                    archive + " a.txt b.txt"),
                  0);
        if (userData) {
            WriteFile(archive, BehindUserData(ReadFile(archive)));
        }
        std::string formatBefore = ReadFile(archive).substr(userData ? 512 + 12 : 12, 2);
        MpqHandle h = OpenUpdate(archive, 0x04);
        ASSERT_NE(h, nullptr) << version;
        EXPECT_TRUE(
            Lib().MpqAddFileToArchiveEx(h, (folder / "c.txt").c_str(), "c.txt", 0x10201, 2, 0));
        EXPECT_TRUE(
            Lib().MpqAddFileToArchiveEx(h, (folder / "b.txt").c_str(), "a.txt", 0x10201, 8, 0))
            << version;
        EXPECT_TRUE(Lib().MpqDeleteFile(h, "b.txt")) << version;
        ASSERT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0)) << version;

        EXPECT_EQ(ReadFile(archive).substr(userData ? 512 + 12 : 12, 2), formatBefore) << version;
        std::string out = folder / (std::string("x-") + version);
        ASSERT_EQ(Shell(folder, "mkdir " + out + " && cd " + out + " && smpq -x " + archive), 0)
            << version;
        EXPECT_TRUE(ReadFile(out + "/a.txt") == b) << version;
        EXPECT_EQ(ReadFile(out + "/c.txt"), "c") << version;
        EXPECT_FALSE(Exists(out + "/b.txt")) << version;
        EXPECT_TRUE(ExtractFrom(archive, "a.txt") == b) << version;
    }

    // A header of a format the library does not know: it opens such an
    // archive only for reading, so each change fails with EACCES, and the
    // archive stays as it was.
    const std::string archive = folder / "v1.mpq";
    std::string unknown = ReadFile(archive);
    unknown[12] = 0x20;
    WriteFile(archive, unknown);
    MpqHandle h = OpenUpdate(archive, 0x04);
    ASSERT_NE(h, nullptr);
    errno = 0;
    EXPECT_FALSE(
        Lib().MpqAddFileToArchiveEx(h, (folder / "c.txt").c_str(), "d.txt", 0x10201, 2, 0));
    EXPECT_EQ(errno, EACCES);
    errno = 0;
    EXPECT_FALSE(Lib().MpqDeleteFile(h, "a.txt"));
    EXPECT_EQ(errno, EACCES);
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    EXPECT_TRUE(ReadFile(archive) == unknown);
}

// What a new archive keeps of each member: "(attributes)" with CRC32, MD5 and
// the source's time (which smpq gives back to the files it extracts), a
// checksum per sector of every member compressed in sectors, and the
// encryption asked for.
TEST(Update, ChecksumsAndTimesAreWritten) {
    Folder folder;
    WriteFile(folder / "text.txt", Content(100000, 3, true));
    WriteFile(folder / "small.txt", "small");
    struct timespec times[2] = {{1500000000, 0}, {1500000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (folder / "text.txt").c_str(), times, 0), 0);
    std::string archive = folder / "a.mpq";
    MpqHandle h = OpenUpdate(archive, 0x21);
    ASSERT_NE(h, nullptr);
    for (const char* name : {"text.txt", "small.txt"}) {
        EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(h, (folder / name).c_str(), name, 0x10201, 2, 0));
    }
    ASSERT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    auto named = Listed(archive);
    ASSERT_EQ(named.count("(attributes)"), 1u);
    EXPECT_NE(named["text.txt"].flags & 0x04000000u, 0u) << "sector checksums";
    EXPECT_NE(named["small.txt"].flags & 0x00010000u, 0u) << "encrypted, as asked";
    ASSERT_EQ(Shell(folder, "mkdir x && cd x && smpq -x " + archive), 0);
    struct stat extracted;
    ASSERT_EQ(stat((folder / "x/text.txt").c_str(), &extracted), 0);
    EXPECT_EQ(extracted.st_mtime, 1500000000);
    EXPECT_EQ(Shell(folder, "smpq -l " + archive + " | grep -q small.txt"), 0);

    // The new archive keeps all three checksums, and so does an existing
    // archive whose "(attributes)" keeps fewer (only the MD5, or only the
    // CRC32) after an update.
    for (DWORD kept : {DWORD(0), DWORD(MPQ_ATTRIBUTE_MD5), DWORD(MPQ_ATTRIBUTE_CRC32)}) {
        SCOPED_TRACE(kept);
        std::string older = folder / "older.mpq";
        if (kept) {
            WriteWithStorm(older, {}, false, 16, 0, kept);
            ASSERT_TRUE(AddFiles(older, {{"small.txt", "small"}}));
        }
        HANDLE storm = nullptr;
        ASSERT_TRUE(
            SFileOpenArchive((kept ? older : archive).c_str(), 0, STREAM_FLAG_READ_ONLY, &storm));
        EXPECT_EQ(SFileGetAttributes(storm),
                  DWORD(MPQ_ATTRIBUTE_CRC32 | MPQ_ATTRIBUTE_MD5 | MPQ_ATTRIBUTE_FILETIME));
        SFileCloseArchive(storm);
    }
}

// PackFiles, DeleteFiles and ShowSystemError against the fake archive
// library: the library calls in order, the messages, moves and stops.
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_library/fake_archive_library.h"
#include "platform/platform.h"
#include "plugin/folder_entries.h"
#include "plugin/host_interface.h"
#include "plugin/update.h"
#include "settings/plugin_settings.h"
#include "support/test_support.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A host name list: each name with its zero, then the closing zero.
std::string NameList(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) {
        list += name;
        list += '\0';
    }
    list += '\0';
    return list;
}

ShownMessage Warning(const std::string& text) {
    return {text, "Error", kMessageBoxIconWarning};
}

class UpdateTest : public PluginTest {
  protected:
    // PackFiles with the sources in dir_ (folder with its trailing '/').
    int Pack(const std::vector<std::string>& names, const char* subPath = nullptr, int flags = 0) {
        std::string list = NameList(names);
        std::string folder = dir_.path() + "/";
        return PackFiles(const_cast<char*>("out.mpq"), const_cast<char*>(subPath),
                         const_cast<char*>(folder.c_str()), &list[0], flags);
    }

    int Delete(const std::vector<std::string>& names) {
        std::string list = NameList(names);
        return DeleteFiles(const_cast<char*>("out.mpq"), &list[0]);
    }

    std::string Source(const std::string& name) const { return dir_.path() + "/" + name; }

    TempDir dir_;
};

TEST_F(UpdateTest, PackingCallsInOrder) {
    // The settings file is known and changes between two operations: the
    // archive is opened with the member limit of the previous load.
    std::string ini = dir_.File("settings.ini");
    WriteFileText(ini, "[TarnelPlugin]\nMaxFiles=500\nLocaleID=1031\nAudioQuality=2\n");
    HostDefaults defaults = {};
    std::strcpy(defaults.settingsPath, ini.c_str());
    PackSetDefaultParams(&defaults);
    WriteFileText(ini, "[TarnelPlugin]\nMaxFiles=77\nLocaleID=1031\nAudioQuality=2\n"
                       "NoCompExt=mp3\nAudioExt=wav\n");
    SetProcessDataProc(nullptr, RecordingProgress);

    EXPECT_EQ(Pack({"a.wav", "b.txt", "c.mp3"}), kResultOk);
    const std::string s = dir_.path() + "/";
    EXPECT_THAT(Fake.calls,
                ElementsAre("MpqOpenArchiveForUpdate(out.mpq, 33, 500)", "SFileSetLocale(1031)",
                            "Progress(" + s + "a.wav, 0)",
                            "MpqAddWaveToArchive(update, " + s + "a.wav, a.wav, 66049, 2)",
                            "Progress(" + s + "b.txt, 0)",
                            "MpqAddFileToArchiveEx(update, " + s + "b.txt, b.txt, 66049, 8, 9)",
                            "Progress(" + s + "c.mp3, 0)",
                            "MpqAddFileToArchiveEx(update, " + s + "c.mp3, c.mp3, 1, 0, 0)",
                            "MpqSetFileLocale(update, (listfile), 1031, 0)",
                            "MpqCloseUpdatedArchive(update, 0)"));
    EXPECT_EQ(PluginSettings.MaxFiles, 77);
    EXPECT_THAT(ShownMessages, IsEmpty());
}

TEST_F(UpdateTest, EmptyListStillOpensAndFinishes) {
    SetProcessDataProc(nullptr, RecordingProgress);
    EXPECT_EQ(Pack({}), kResultOk);
    EXPECT_EQ(PackFiles(const_cast<char*>("out.mpq"), nullptr, nullptr, nullptr, 0), kResultOk);
    EXPECT_THAT(Fake.calls,
                ElementsAre("MpqOpenArchiveForUpdate(out.mpq, 33, 1024)", "SFileSetLocale(0)",
                            "MpqSetFileLocale(update, (listfile), 0, 0)",
                            "MpqCloseUpdatedArchive(update, 0)",
                            "MpqOpenArchiveForUpdate(out.mpq, 33, 1024)", "SFileSetLocale(0)",
                            "MpqSetFileLocale(update, (listfile), 0, 0)",
                            "MpqCloseUpdatedArchive(update, 0)"));
}

TEST_F(UpdateTest, ArchiveThatCannotBeOpenedShowsTheSystemText) {
    std::string ini = dir_.File("settings.ini");
    WriteFileText(ini, "[TarnelPlugin]\nLocaleID=1031\n");
    std::strcpy(PluginSettings.SettingsPath, ini.c_str());
    for (intptr_t failure : {0, -1}) {
        SCOPED_TRACE(failure);
        Fake.calls.clear();
        ShownMessages.clear();
        Fake.updateHandle = reinterpret_cast<MpqHandle>(failure);
        Fake.updateOpenError = EACCES;
        EXPECT_EQ(Pack({"a.txt"}), kResultBadArchive);
        EXPECT_EQ(Delete({"a.txt"}), kResultBadArchive);
        EXPECT_THAT(Fake.calls, ElementsAre("MpqOpenArchiveForUpdate(out.mpq, 33, 1024)",
                                            "MpqOpenArchiveForUpdate(out.mpq, 5, 16)"));
        EXPECT_THAT(ShownMessages,
                    ElementsAre(Warning(std::strerror(EACCES)), Warning(std::strerror(EACCES))));
        EXPECT_EQ(PluginSettings.LocaleID, 0); // settings not reloaded
    }
}

TEST_F(UpdateTest, FailedAddIsShownAndPackingGoesOn) {
    Fake.addResult["b.txt"] = 0;
    EXPECT_EQ(Pack({"a.txt", "b.txt", "c.txt"}), kResultOk);
    EXPECT_EQ(Fake.CallsStartingWith("MpqAddFileToArchiveEx").size(), 3u);
    EXPECT_THAT(ShownMessages, ElementsAre(Warning("Cannot Add b.txt to archive!")));
    EXPECT_EQ(Fake.CallsStartingWith("MpqCloseUpdatedArchive").size(), 1u);
}

TEST_F(UpdateTest, StopLeavesEarlierFilesAddedAndFinishes) {
    SetProcessDataProc(nullptr, RecordingProgress);
    for (int stopAt : {1, 2}) {
        SCOPED_TRACE(stopAt);
        Fake.calls.clear();
        ProgressCallCount = 0;
        ProgressStopAt = stopAt;
        EXPECT_EQ(Pack({"a.txt", "b.txt", "c.txt"}, nullptr, kPackMoveFiles), kResultOk);
        EXPECT_EQ(Fake.CallsStartingWith("MpqAddFileToArchiveEx").size(),
                  static_cast<size_t>(stopAt - 1));
        EXPECT_EQ(ProgressCallCount, stopAt);
        EXPECT_EQ(Fake.CallsStartingWith("MpqCloseUpdatedArchive").size(), 1u);
    }
}

TEST_F(UpdateTest, NoProgressCallbackGoesOn) {
    EXPECT_EQ(Pack({"a.txt", "b.txt"}), kResultOk);
    EXPECT_EQ(Fake.CallsStartingWith("MpqAddFileToArchiveEx").size(), 2u);
}

TEST_F(UpdateTest, MoveDeletesAddedSourcesOnlyAfterTheArchiveIsWritten) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        WriteFileText(Source(name), name);
    }
    Fake.addResult["b.txt"] = 0;
    std::vector<bool> presentAtClose;
    Fake.onCall = [&](const std::string& call) {
        if (call.rfind("MpqCloseUpdatedArchive", 0) == 0) {
            presentAtClose = {FileExists(Source("a.txt")), FileExists(Source("c.txt"))};
        }
    };
    EXPECT_EQ(Pack({"a.txt", "b.txt", "c.txt"}, nullptr, kPackMoveFiles | 2), kResultOk);
    EXPECT_THAT(presentAtClose, ElementsAre(true, true));
    EXPECT_FALSE(FileExists(Source("a.txt")));
    EXPECT_TRUE(FileExists(Source("b.txt"))); // its add failed
    EXPECT_FALSE(FileExists(Source("c.txt")));
}

TEST_F(UpdateTest, MoveKeepsEverySourceWhenTheArchiveCannotBeWritten) {
    WriteFileText(Source("a.txt"), "a");
    WriteFileText(Source("b.txt"), "b");
    Fake.closeUpdatedResult = 0;
    Fake.closeUpdatedError = ENOSPC;
    EXPECT_EQ(Pack({"a.txt", "b.txt"}, nullptr, kPackMoveFiles), kResultBadArchive);
    EXPECT_TRUE(FileExists(Source("a.txt")));
    EXPECT_TRUE(FileExists(Source("b.txt")));
    EXPECT_THAT(ShownMessages, ElementsAre(Warning(std::strerror(ENOSPC))));
}

// Every file was added, but the archive was not written: the call fails and
// says why, instead of reporting the lost additions or deletions as done.
TEST_F(UpdateTest, AnArchiveThatCannotBeWrittenFailsTheWholeCall) {
    WriteFileText(Source("a.txt"), "a");
    Fake.closeUpdatedResult = 0;
    Fake.closeUpdatedError = ENOSPC;
    EXPECT_EQ(Pack({"a.txt"}), kResultBadArchive);
    EXPECT_THAT(ShownMessages, ElementsAre(Warning(std::strerror(ENOSPC))));
    EXPECT_TRUE(FileExists(Source("a.txt")));

    ShownMessages.clear();
    Fake.closeUpdatedError = EACCES;
    EXPECT_EQ(Delete({"a.txt"}), kResultBadArchive);
    EXPECT_THAT(ShownMessages, ElementsAre(Warning(std::strerror(EACCES))));
}

TEST_F(UpdateTest, WithoutMoveSourcesStay) {
    WriteFileText(Source("a.txt"), "a");
    EXPECT_EQ(Pack({"a.txt"}, nullptr, 2), kResultOk);
    EXPECT_TRUE(FileExists(Source("a.txt")));
}

TEST_F(UpdateTest, ArchivedNameFromSubPathAndHostSeparators) {
    struct Case {
        const char* subPath;
        const char* name;
        const char* archived;
    };
    const Case cases[] = {
        {nullptr, "a.txt", "a.txt"},
        {"maps", "a.txt", "maps\\a.txt"},
        {"", "a.txt", "\\a.txt"},
        // The Linux host names folders with '/'; members use the backslash.
        {"maps/x", "dir/a.txt", "maps\\x\\dir\\a.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fake.calls.clear();
        EXPECT_EQ(Pack({c.name}, c.subPath), kResultOk);
        EXPECT_THAT(Fake.CallsStartingWith("MpqAddFileToArchiveEx"),
                    ElementsAre("MpqAddFileToArchiveEx(update, " + Source(c.name) + ", " +
                                c.archived + ", 66049, 8, 9)"));
    }
    // Messages show the name as the host gave it.
    Fake.addResult["d\\e.txt"] = 0;
    Pack({"d/e.txt"});
    EXPECT_THAT(ShownMessages, ElementsAre(Warning("Cannot Add d/e.txt to archive!")));
}

// Hosts name a folder before the files in it, ending it with a separator;
// making a new folder sends the folder alone. MPQ archives have no folders:
// there is nothing to add, nothing to report, and no progress to ask about.
TEST_F(UpdateTest, FolderEntriesAddNothingAndReportNothing) {
    SetProcessDataProc(nullptr, RecordingProgress);
    Fake.addResult["maps\\sub\\a.txt"] = 0;
    EXPECT_EQ(Pack({"new/", "sub/", "sub/a.txt", "win\\", "sub/deeper\\", "/", "b.txt"}, "maps"),
              kResultOk);
    const std::string s = dir_.path() + "/";
    EXPECT_THAT(
        Fake.calls,
        ElementsAre(
            "MpqOpenArchiveForUpdate(out.mpq, 33, 1024)", "SFileSetLocale(0)",
            "Progress(" + s + "sub/a.txt, 0)",
            "MpqAddFileToArchiveEx(update, " + s + "sub/a.txt, maps\\sub\\a.txt, 66049, 8, 9)",
            "Progress(" + s + "b.txt, 0)",
            "MpqAddFileToArchiveEx(update, " + s + "b.txt, maps\\b.txt, 66049, 8, 9)",
            "MpqSetFileLocale(update, (listfile), 0, 0)", "MpqCloseUpdatedArchive(update, 0)"));
    EXPECT_THAT(ShownMessages, ElementsAre(Warning("Cannot Add sub/a.txt to archive!")));
}

// Under move, the folders the list named are removed once the archive is
// written and their files are gone, deepest first, and only when empty; no
// other folder is touched.
TEST_F(UpdateTest, MoveRemovesTheListedFoldersThatItEmptied) {
    for (const char* folder : {"sub", "sub/deep", "keep", "empty", "other", "late"}) {
        ASSERT_EQ(mkdir(Source(folder).c_str(), 0755), 0);
    }
    for (const char* file : {"sub/a.txt", "sub/deep/b.txt", "keep/k.txt", "keep/unlisted.txt"}) {
        WriteFileText(Source(file), file);
    }
    Fake.addResult["keep\\k.txt"] = 0;
    std::vector<bool> presentAtClose;
    Fake.onCall = [&](const std::string& call) {
        if (call.rfind("MpqCloseUpdatedArchive", 0) == 0) {
            presentAtClose = {FileExists(Source("sub/deep")), FileExists(Source("empty"))};
        }
    };
    SetProcessDataProc(nullptr, RecordingProgress);
    ProgressStopAt = 4; // stops at "z.txt": "late/" after it is never reached
    // The parent comes first in the list, as hosts send it.
    EXPECT_EQ(Pack({"sub/", "sub/a.txt", "sub/deep/", "sub/deep/b.txt", "keep/", "keep/k.txt",
                    "empty\\", "/", "z.txt", "late/"},
                   nullptr, kPackMoveFiles),
              kResultOk);
    EXPECT_THAT(presentAtClose, ElementsAre(true, true));
    EXPECT_FALSE(FileExists(Source("sub")));
    EXPECT_FALSE(FileExists(Source("empty")));
    EXPECT_TRUE(FileExists(Source("keep/k.txt"))); // its add failed
    EXPECT_TRUE(FileExists(Source("keep/unlisted.txt")));
    EXPECT_TRUE(FileExists(Source("other")));
    EXPECT_TRUE(FileExists(Source("late")));
    EXPECT_TRUE(FileExists(dir_.path()));

    // Without move, or when the archive is not written, every folder stays.
    for (bool move : {false, true}) {
        SCOPED_TRACE(move);
        Fake.closeUpdatedResult = move ? 0 : 1;
        ProgressStopAt = 0;
        EXPECT_EQ(Pack({"other/", "late/"}, nullptr, move ? kPackMoveFiles : 0),
                  move ? kResultBadArchive : kResultOk);
        EXPECT_TRUE(FileExists(Source("other")));
        EXPECT_TRUE(FileExists(Source("late")));
    }

    // A separator alone names the source folder itself, which stays even
    // when the move leaves it empty.
    Fake.closeUpdatedResult = 1;
    WriteFileText(Source("other/c.txt"), "c");
    std::string list = NameList({"/", "c.txt"});
    std::string folder = Source("other") + "/";
    EXPECT_EQ(
        PackFiles(const_cast<char*>("out.mpq"), nullptr, &folder[0], &list[0], kPackMoveFiles),
        kResultOk);
    EXPECT_FALSE(FileExists(Source("other/c.txt")));
    EXPECT_TRUE(FileExists(Source("other")));
}

TEST_F(UpdateTest, NamesTooLongAreRefusedWithoutOverflow) {
    // The folder is dir_ plus '/'; pad names so that the source path is
    // exactly 259 characters, then one more.
    size_t folderLength = dir_.path().size() + 1;
    std::string fits(259 - folderLength, 'f');
    std::string over(260 - folderLength, 'o');
    std::string huge(5000, 'h');
    std::string longSub(256, 's'); // with the backslash and "abc": 260
    EXPECT_EQ(Pack({fits, over, huge}), kResultOk);
    EXPECT_THAT(Fake.CallsStartingWith("MpqAddFileToArchiveEx"),
                ElementsAre("MpqAddFileToArchiveEx(update, " + Source(fits) + ", " + fits +
                            ", 66049, 8, 9)"));
    ASSERT_EQ(ShownMessages.size(), 2u);
    EXPECT_EQ(ShownMessages[0], Warning("Cannot Add " + over + " to archive!"));
    EXPECT_LE(ShownMessages[1].text.size(), 1023u);
    EXPECT_EQ(ShownMessages[1].text.rfind("Cannot Add hhh", 0), 0u);

    // The archived name reaches 259 characters through the sub-path, and
    // then one more.
    Fake.calls.clear();
    ShownMessages.clear();
    std::string fitSub(255, 's'); // with the backslash and "abc": 259
    EXPECT_EQ(Pack({"abc"}, fitSub.c_str()), kResultOk);
    EXPECT_THAT(Fake.CallsStartingWith("MpqAddFileToArchiveEx"),
                ElementsAre("MpqAddFileToArchiveEx(update, " + Source("abc") + ", " + fitSub +
                            "\\abc, 66049, 8, 9)"));
    EXPECT_THAT(ShownMessages, IsEmpty());
    // Longer by one, a sub-path that leaves no room for the backslash, and
    // one that alone does not fit.
    for (const std::string& sub : {longSub, std::string(259, 's'), huge}) {
        SCOPED_TRACE(sub.size());
        Fake.calls.clear();
        ShownMessages.clear();
        EXPECT_EQ(Pack({"abc"}, sub.c_str()), kResultOk);
        EXPECT_THAT(Fake.CallsStartingWith("MpqAdd"), IsEmpty());
        EXPECT_THAT(ShownMessages, ElementsAre(Warning("Cannot Add abc to archive!")));
        EXPECT_EQ(Fake.CallsStartingWith("MpqCloseUpdatedArchive").size(), 1u);
    }
}

TEST_F(UpdateTest, DeletingCallsInOrder) {
    std::string ini = dir_.File("settings.ini");
    WriteFileText(ini, "[TarnelPlugin]\nLocaleID=1031\nMaxFiles=5\n");
    std::strcpy(PluginSettings.SettingsPath, ini.c_str());
    SetProcessDataProc(nullptr, RecordingProgress);
    Fake.deleteResult["missing.txt"] = 0;

    EXPECT_EQ(Delete({"a.txt", "missing.txt", "*.w?v", "dir/b.txt"}), kResultOk);
    EXPECT_THAT(Fake.calls,
                ElementsAre("MpqOpenArchiveForUpdate(out.mpq, 5, 16)", "SFileSetLocale(1031)",
                            "MpqDeleteFile(update, a.txt)", "MpqDeleteFile(update, missing.txt)",
                            "MpqDeleteFile(update, *.w?v)", "MpqDeleteFile(update, dir\\b.txt)",
                            "MpqSetFileLocale(update, (listfile), 1031, 0)",
                            "MpqCloseUpdatedArchive(update, 0)"));
    EXPECT_THAT(ShownMessages, ElementsAre(Warning("Cannot delete missing.txt")));
    Fake.deleteResult["dir\\b.txt"] = 0;
    ShownMessages.clear();
    Delete({"dir/b.txt", std::string(300, 'x')});
    ASSERT_EQ(ShownMessages.size(), 2u);
    EXPECT_EQ(ShownMessages[0], Warning("Cannot delete dir/b.txt"));
    EXPECT_EQ(ShownMessages[1], Warning("Cannot delete " + std::string(300, 'x')));
}

// The archive the folder tests delete from: members below "docs" at three
// depths and in two letter cases, one listed twice (two locales), and
// members that only look as if they were below it.
class FolderDeletionTest : public UpdateTest {
  protected:
    void SetUp() override {
        UpdateTest::SetUp();
        for (const char* name :
             {"docs\\sub\\deeper\\c.txt", "docsx\\d.txt", "docs\\a.txt", "other\\docs\\e.txt",
              "DOCS\\Sub\\b.txt", "docs.txt", "docs\\a.txt"}) {
            Fake.AddMember(name, "x");
        }
        // A record whose name fills its field without a terminating zero,
        // which names no member to delete.
        ListEntry unterminated = {};
        unterminated.exists = 1;
        std::memset(unterminated.name, 'u', sizeof unterminated.name);
        std::memcpy(unterminated.name, "docs\\", 5);
        Fake.listing.push_back(unterminated);
        ListEntry gone = {};
        std::strcpy(gone.name, "docs\\gone.txt"); // a slot without a member
        Fake.listing.push_back(gone);
        Fake.slotCount = static_cast<uint32_t>(Fake.listing.size());
        Fake.deleteResult["docs\\*.*"] = 0; // no such member
    }
    std::vector<std::string> Deleted() const { return Fake.CallsStartingWith("MpqDeleteFile"); }
};

TEST_F(FolderDeletionTest, AFolderEntryDeletesEveryMemberBelowTheFolder) {
    std::string ini = dir_.File("settings.ini");
    WriteFileText(ini, "[TarnelPlugin]\nLocaleID=1031\nFileLists=/l/one.txt,/l/two.txt\n");
    std::strcpy(PluginSettings.SettingsPath, ini.c_str());
    // Both separators, any letter case, and the name list the archive's
    // listing would use: here the configured external lists.
    for (const char* entry : {"docs/*.*", "docs\\*.*", "Docs/*.*"}) {
        SCOPED_TRACE(entry);
        Fake.calls.clear();
        EXPECT_EQ(Delete({entry}), kResultOk);
        EXPECT_THAT(
            Fake.calls,
            ElementsAre("SFileSetLocale(1031)", "SFileOpenArchive(out.mpq, 0, 0)",
                        "SFileGetFileInfo(archive, 2)", "SFileOpenFileEx(archive, (listfile), 0)",
                        "SFileListFiles(archive, /l/one.txt /l/two.txt, 0)",
                        "SFileCloseArchive(archive)", "MpqOpenArchiveForUpdate(out.mpq, 5, 16)",
                        "SFileSetLocale(1031)", "MpqDeleteFile(update, docs\\a.txt)",
                        "MpqDeleteFile(update, DOCS\\Sub\\b.txt)",
                        "MpqDeleteFile(update, docs\\sub\\deeper\\c.txt)",
                        // A member of the entry's very name, if there is one.
                        std::string("MpqDeleteFile(update, ") + entry[0] + "ocs\\*.*)",
                        "MpqSetFileLocale(update, (listfile), 1031, 0)",
                        "MpqCloseUpdatedArchive(update, 0)"));
        EXPECT_EQ(Fake.openArchives, 0);
    }
    // A folder below a folder; a folder with no members; "*.*" alone and
    // other wildcards are names like any other.
    Fake.calls.clear();
    EXPECT_EQ(Delete({"docs/sub/*.*", "empty/*.*", "*.*", "docs*.*"}), kResultOk);
    EXPECT_THAT(Deleted(),
                ElementsAre("MpqDeleteFile(update, DOCS\\Sub\\b.txt)",
                            "MpqDeleteFile(update, docs\\sub\\deeper\\c.txt)",
                            "MpqDeleteFile(update, docs\\sub\\*.*)",
                            "MpqDeleteFile(update, empty\\*.*)", "MpqDeleteFile(update, *.*)",
                            "MpqDeleteFile(update, docs*.*)"));
    EXPECT_THAT(ShownMessages, IsEmpty());

    // Members whose names start with a separator lie in a folder without a
    // name: "/*.*".
    Fake.AddMember("\\lead.txt", "x");
    Fake.deleteResult["\\*.*"] = 0;
    Fake.calls.clear();
    EXPECT_EQ(Delete({"/*.*"}), kResultOk);
    EXPECT_THAT(Deleted(),
                ElementsAre("MpqDeleteFile(update, \\lead.txt)", "MpqDeleteFile(update, \\*.*)"));
    EXPECT_THAT(ShownMessages, IsEmpty());

    // The archive's own name list is what listing it uses when it has one.
    Fake.AddMember("(listfile)", "docs\\a.txt\r\n");
    Fake.calls.clear();
    EXPECT_EQ(Delete({"docs/*.*"}), kResultOk);
    EXPECT_THAT(Fake.CallsStartingWith("SFileListFiles"),
                ElementsAre("SFileListFiles(archive, docs\\a.txt\r\n, 1)"));
    EXPECT_EQ(Fake.openMembers, 0);
}

// Which names are folder entries, each read from the start of a page after
// one that cannot be read: nothing before the name is looked at.
TEST(FolderEntries, OnlyANameEndingInASeparatorAndAllMembersNamesAFolder) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    char* pages = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages, page, PROT_NONE), 0);
    const struct {
        const char* name;
        size_t prefix;
    } cases[] = {{"*.*", 0},     {"\\*.*", 1},  {"a\\*.*", 2},       {"a*.*", 0},
                 {"a\\*.*x", 0}, {"a\\b.*", 0}, {"ab\\sub\\*.*", 7}, {"", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char* name = pages + page;
        std::strcpy(name, c.name);
        EXPECT_EQ(FolderEntryPrefixLength(name), c.prefix);
    }
    munmap(pages, 2 * page);
}

TEST_F(FolderDeletionTest, EachMemberIsDeletedOnceWhateverNamesItInTheList) {
    // Hosts send a folder's files before or after the folder itself; what
    // an earlier name deleted is not tried again, nor reported.
    EXPECT_EQ(Delete({"docs/a.txt", "docs/*.*", "docs/sub/*.*", "docs/Sub/B.txt", "docs.txt"}),
              kResultOk);
    EXPECT_THAT(Deleted(), ElementsAre("MpqDeleteFile(update, docs\\a.txt)",
                                       "MpqDeleteFile(update, DOCS\\Sub\\b.txt)",
                                       "MpqDeleteFile(update, docs\\sub\\deeper\\c.txt)",
                                       "MpqDeleteFile(update, docs\\*.*)",
                                       "MpqDeleteFile(update, docs\\sub\\*.*)",
                                       "MpqDeleteFile(update, docs.txt)"));
    EXPECT_THAT(ShownMessages, IsEmpty());
}

TEST_F(FolderDeletionTest, MembersThatCannotBeDeletedAreShownAndTheRestGoOn) {
    Fake.deleteResult["DOCS\\Sub\\b.txt"] = 0;
    Fake.deleteResult["docs\\a.txt"] = 0;
    EXPECT_EQ(Delete({"docs/*.*", "docs/sub/*.*", "docs/a.txt"}), kResultOk);
    EXPECT_EQ(Deleted().size(), 5u);
    // Shown once each, by the name the host knows it by.
    EXPECT_THAT(ShownMessages, ElementsAre(Warning("Cannot delete docs/a.txt"),
                                           Warning("Cannot delete DOCS/Sub/b.txt")));
}

TEST_F(FolderDeletionTest, AnArchiveThatCannotBeListedLeavesOnlyTheNameItself) {
    // The folder's members are unknown: the entry is tried as a name, and
    // shown when no member bears it, never passed over in silence.
    Fake.openArchiveSucceeds = false;
    EXPECT_EQ(Delete({"docs/*.*", "docs/a.txt"}), kResultOk);
    EXPECT_THAT(Deleted(), ElementsAre("MpqDeleteFile(update, docs\\*.*)",
                                       "MpqDeleteFile(update, docs\\a.txt)"));
    EXPECT_THAT(ShownMessages, ElementsAre(Warning("Cannot delete docs/*.*")));

    // An internal name list that cannot be read says so, as listing does.
    Fake.openArchiveSucceeds = true;
    Fake.AddMember("(listfile)", "docs\\a.txt");
    Fake.sizeOverride["(listfile)"] = 0xFFFFFFFFu;
    Fake.deleteResult["docs\\*.*"] = 1;
    ShownMessages.clear();
    Fake.calls.clear();
    EXPECT_EQ(Delete({"docs/*.*"}), kResultOk);
    EXPECT_THAT(Deleted(), ElementsAre("MpqDeleteFile(update, docs\\*.*)"));
    EXPECT_THAT(ShownMessages,
                ElementsAre(Warning("Cannot retrieve size of file. The archive is probably "
                                    "corrupted")));
    EXPECT_EQ(Fake.openArchives, 0);
    EXPECT_EQ(Fake.openMembers, 0);

    // A library that cannot list archives can still delete by name.
    ArchiveLibrary.SFileListFiles = nullptr;
    Fake.deleteResult["docs\\*.*"] = 0;
    ShownMessages.clear();
    Fake.calls.clear();
    EXPECT_EQ(Delete({"docs/*.*"}), kResultOk);
    EXPECT_THAT(Fake.CallsStartingWith("SFile"), ElementsAre("SFileSetLocale(0)"));
    EXPECT_THAT(ShownMessages, ElementsAre(Warning("Cannot delete docs/*.*")));
}

// The members listed for a folder are given back also when the archive
// then cannot be opened for update.
TEST_F(FolderDeletionTest, AnArchiveThatCannotBeOpenedForUpdateKeepsNoListing) {
    for (int i = 0; i < 2000; ++i) {
        Fake.AddMember("many\\" + std::to_string(i), "x");
    }
    Fake.updateHandle = nullptr;
    Fake.updateOpenError = EACCES;
    size_t before = 0;
    for (int i = 0; i <= 20; ++i) {
        EXPECT_EQ(Delete({"docs/*.*"}), kResultBadArchive);
        Fake.calls.clear();
        ShownMessages.clear();
        before = i == 0 ? HeapBytesInUse() : before;
    }
    EXPECT_LT(HeapBytesInUse(), before + 20000);
    EXPECT_THAT(Deleted(), IsEmpty());
}

TEST_F(UpdateTest, UnboundLibraryFailsWithoutCalls) {
    ArchiveLibrary.MpqSetFileLocale = nullptr;
    EXPECT_EQ(Pack({"a.txt"}), kResultBadArchive);
    EXPECT_EQ(Delete({"a.txt"}), kResultBadArchive);
    EXPECT_THAT(Fake.calls, IsEmpty());
    EXPECT_THAT(ShownMessages, IsEmpty());
}

TEST_F(UpdateTest, AnyEntryPointMissingFailsWithoutCalls) {
    void (*const unbind[])() = {
        [] { ArchiveLibrary.SFileSetLocale = nullptr; },
        [] { ArchiveLibrary.MpqOpenArchiveForUpdate = nullptr; },
        [] { ArchiveLibrary.MpqAddFileToArchiveEx = nullptr; },
        [] { ArchiveLibrary.MpqAddWaveToArchive = nullptr; },
        [] { ArchiveLibrary.MpqDeleteFile = nullptr; },
        [] { ArchiveLibrary.MpqSetFileLocale = nullptr; },
        [] { ArchiveLibrary.MpqCloseUpdatedArchive = nullptr; },
    };
    for (size_t i = 0; i < sizeof unbind / sizeof unbind[0]; ++i) {
        SCOPED_TRACE(i);
        ResetPluginState();
        unbind[i]();
        EXPECT_EQ(Pack({"a.txt"}), kResultBadArchive);
        EXPECT_EQ(Delete({"a.txt"}), kResultBadArchive);
        EXPECT_THAT(Fake.calls, IsEmpty());
    }
}

TEST_F(UpdateTest, SystemErrorWithoutTextShowsTheCode) {
    PlatformSetLastError(ENOENT);
    ShowSystemError();
    PlatformSetLastError(123456);
    ShowSystemError();
    // A library that failed without saying why.
    PlatformSetLastError(0);
    ShowSystemError();
    EXPECT_THAT(ShownMessages, ElementsAre(Warning(std::strerror(ENOENT)),
                                           Warning("Error code 123456"), Warning("Error code 0")));
}

} // namespace

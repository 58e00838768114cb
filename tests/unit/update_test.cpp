// PackFiles, DeleteFiles and ShowSystemError against the fake archive
// library: the library calls in order, the messages, moves and stops.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_library/fake_archive_library.h"
#include "platform/platform.h"
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
        {nullptr, "dir\\", "dir\\"},
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

    // The archived name overflows through the sub-path.
    Fake.calls.clear();
    ShownMessages.clear();
    EXPECT_EQ(Pack({"abc"}, longSub.c_str()), kResultOk);
    EXPECT_THAT(Fake.CallsStartingWith("MpqAdd"), IsEmpty());
    EXPECT_THAT(ShownMessages, ElementsAre(Warning("Cannot Add abc to archive!")));
    EXPECT_EQ(Fake.CallsStartingWith("MpqCloseUpdatedArchive").size(), 1u);
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

TEST_F(UpdateTest, UnboundLibraryFailsWithoutCalls) {
    ArchiveLibrary.MpqSetFileLocale = nullptr;
    EXPECT_EQ(Pack({"a.txt"}), kResultBadArchive);
    EXPECT_EQ(Delete({"a.txt"}), kResultBadArchive);
    EXPECT_THAT(Fake.calls, IsEmpty());
    EXPECT_THAT(ShownMessages, IsEmpty());
}

TEST_F(UpdateTest, SystemErrorWithoutTextShowsTheCode) {
    PlatformSetLastError(ENOENT);
    ShowSystemError();
    PlatformSetLastError(123456);
    ShowSystemError();
    EXPECT_THAT(ShownMessages,
                ElementsAre(Warning(std::strerror(ENOENT)), Warning("Error code 123456")));
}

} // namespace

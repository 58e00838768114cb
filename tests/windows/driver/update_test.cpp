// Packing and deleting through the built plug-in: the exact library calls
// and arguments, the progress reports, moved files on disk, and the boxes -
// among them the system's own text when the archive cannot be opened.
#include "check.h"
#include "message_boxes.h"
#include "plugin_under_test.h"
#include "suites.h"

namespace {

std::string Sources() {
    return JoinPath(Dirs.work, "sources") + "\\";
}

int Pack(const std::string& archive, const char* subPath, const std::vector<std::string>& names,
         int flags) {
    std::string path = archive;
    std::string sub = subPath ? subPath : "";
    std::string folder = Sources();
    std::string list = NameList(names);
    return Entry.packFiles(&path[0], subPath ? &sub[0] : nullptr, &folder[0], &list[0], flags);
}

int Delete(const std::string& archive, const std::vector<std::string>& names) {
    std::string path = archive;
    std::string list = NameList(names);
    return Entry.deleteFiles(&path[0], &list[0]);
}

void PacksEachFileByItsKindWithTheExactCalls() {
    UseSettings("[TarnelPlugin]\r\nLocaleID=1031\r\nMaxFiles=500\r\nAudioQuality=2\r\n"
                "NoCompExt=mp3\r\nAudioExt=wav\r\n");
    // Edited after the host handed the file over: the open still uses the
    // member limit loaded before, the rest comes from the reload.
    WriteWholeFile(JoinPath(Dirs.work, "settings.ini"),
                   "[TarnelPlugin]\r\nLocaleID=1033\r\nMaxFiles=600\r\nAudioQuality=2\r\n"
                   "NoCompExt=mp3\r\nAudioExt=wav\r\n");
    Library.Reset();
    ProgressCalls.clear();
    ProgressStopAt = 0;
    std::string archive = JoinPath(Dirs.work, "new.mpq");
    std::string s = Sources();
    CHECK_EQ(Pack(archive, "maps", {"a.wav", "b.txt", "C.MP3", "sub\\d.txt"}, 0), 0);
    CHECK_EQ(
        Library.Calls(),
        (std::vector<std::string>{
            "MpqOpenArchiveForUpdate(" + archive + ", 33, 500)",
            "SFileSetLocale(1033)",
            "MpqAddWaveToArchive(update, " + s + "a.wav, maps\\a.wav, 66049, 2)",
            "MpqAddFileToArchiveEx(update, " + s + "b.txt, maps\\b.txt, 66049, 8, 9)",
            "MpqAddFileToArchiveEx(update, " + s + "C.MP3, maps\\C.MP3, 1, 0, 0)",
            "MpqAddFileToArchiveEx(update, " + s + "sub\\d.txt, maps\\sub\\d.txt, 66049, 8, 9)",
            "MpqSetFileLocale(update, (listfile), 1033, 0)",
            "MpqCloseUpdatedArchive(update, 0)",
        }));
    CHECK_EQ(ProgressCalls,
             (std::vector<ProgressCall>{
                 {s + "a.wav", 0}, {s + "b.txt", 0}, {s + "C.MP3", 0}, {s + "sub\\d.txt", 0}}));
    // The next call opens with the member limit the last one loaded.
    Library.Reset();
    CHECK_EQ(Pack(archive, nullptr, {}, 0), 0);
    CHECK_EQ(Library.Calls(), (std::vector<std::string>{
                                  "MpqOpenArchiveForUpdate(" + archive + ", 33, 600)",
                                  "SFileSetLocale(1033)",
                                  "MpqSetFileLocale(update, (listfile), 1033, 0)",
                                  "MpqCloseUpdatedArchive(update, 0)",
                              }));
    CHECK_BOXES({});
}

void ArchiveCompressionFollowsTheSettings() {
    std::string s = Sources();
    struct Case {
        const char* settings;
        const char* archive;
        const char* compression;
    };
    const Case cases[] = {
        {"", "maps\\x.W3M", "2"},
        {"", "maps\\x.mpq", "8"},
        {"CompType=8\r\n", "maps\\x.w3m", "8"},
        {"CompType=16\r\n", "maps\\x.mpq", "16"},
    };
    for (const Case& c : cases) {
        UseSettings(std::string("[TarnelPlugin]\r\n") + c.settings);
        Library.Reset();
        std::string archive = JoinPath(Dirs.work, c.archive);
        CHECK_EQ(Pack(archive, nullptr, {"f.txt"}, 0), 0);
        std::vector<std::string> calls = Library.Calls();
        CHECK_EQ(calls.size(), 5u);
        if (calls.size() == 5) {
            CHECK_EQ(calls[2], "MpqAddFileToArchiveEx(update, " + s + "f.txt, f.txt, 66049, " +
                                   c.compression + ", 9)");
        }
    }
    CHECK_BOXES({});
}

void MovedFilesLeaveTheDiskOnlyWhenAdded() {
    UseSettings("");
    MakeEmptyFolder(Sources());
    for (const char* name : {"keep.txt", "go.txt", "later.txt"}) {
        WriteWholeFile(Sources() + name, name);
    }
    Library.Reset();
    Library.setResult("add", "keep.txt", 0);
    ProgressCalls.clear();
    ProgressStopAt = 3;
    std::string archive = JoinPath(Dirs.work, "moved.mpq");
    CHECK_EQ(Pack(archive, nullptr, {"keep.txt", "go.txt", "later.txt"}, 1 | 2), 0);
    CHECK_BOXES({{"Cannot Add keep.txt to archive!", "Error", 0x30}});
    // later.txt was stopped before its add: it stays, like the failed one.
    CHECK_EQ(FilesIn(Sources()), (std::vector<std::string>{"keep.txt", "later.txt"}));
    std::vector<std::string> calls = Library.Calls();
    CHECK_EQ(calls.size(), 6u);
    if (!calls.empty()) {
        CHECK_EQ(calls.back(), "MpqCloseUpdatedArchive(update, 0)");
    }
}

void AMoveKeepsEverySourceWhenTheArchiveIsNotWritten() {
    UseSettings("");
    MakeEmptyFolder(Sources());
    WriteWholeFile(Sources() + "a.txt", "a");
    Library.Reset();
    Library.set("closeUpdatedResult", 0);
    Library.set("closeUpdatedError", ERROR_DISK_FULL);
    ProgressStopAt = 0;
    CHECK_EQ(Pack(JoinPath(Dirs.work, "full.mpq"), nullptr, {"a.txt"}, 1), 13);
    CHECK_EQ(FilesIn(Sources()), std::vector<std::string>{"a.txt"});
    CHECK_BOXES({{SystemText(ERROR_DISK_FULL), "Error", 0x30}});
}

// Names longer than the plug-in's buffers: reported with as much of the name
// as the message holds (1023 characters), never cut into another name.
void OverlongNamesAreReportedNotCut() {
    UseSettings("");
    std::string name(1500, 'n');
    std::string archive = JoinPath(Dirs.work, "long.mpq");

    Library.Reset();
    CHECK_EQ(Pack(archive, nullptr, {name, "b.txt"}, 0), 0);
    std::vector<std::string> calls = Library.Calls();
    CHECK_EQ(calls.size(), 5u);
    if (calls.size() == 5) {
        CHECK_EQ(calls[2],
                 "MpqAddFileToArchiveEx(update, " + Sources() + "b.txt, b.txt, 66049, 8, 9)");
    }
    CHECK_BOXES({{("Cannot Add " + name + " to archive!").substr(0, 1023), "Error", 0x30}});

    Library.Reset();
    CHECK_EQ(Delete(archive, {name}), 0);
    CHECK_EQ(Library.Calls().size(), 4u);
    CHECK_BOXES({{("Cannot delete " + name).substr(0, 1023), "Error", 0x30}});
}

void ArchivesThatCannotBeOpenedShowTheSystemText() {
    UseSettings("");
    std::string archive = JoinPath(Dirs.work, "no-such-folder\\a.mpq");
    struct Case {
        int64_t handle;
        DWORD error;
    };
    for (const Case& c : {Case{0, ERROR_PATH_NOT_FOUND}, Case{-1, ERROR_ACCESS_DENIED}}) {
        std::string text = SystemText(c.error);
        CHECK(!text.empty());

        Library.Reset();
        Library.set("updateHandle", c.handle);
        Library.set("updateOpenError", c.error);
        CHECK_EQ(Pack(archive, nullptr, {"f.txt"}, 0), 13);
        CHECK_EQ(Library.Calls().size(), 1u);
        CHECK_BOXES({{text, "Error", 0x30}});

        Library.Reset();
        Library.set("updateHandle", c.handle);
        Library.set("updateOpenError", c.error);
        CHECK_EQ(Delete(archive, {"f.txt"}), 13);
        CHECK_EQ(Library.Calls(),
                 std::vector<std::string>{"MpqOpenArchiveForUpdate(" + archive + ", 5, 16)"});
        CHECK_BOXES({{text, "Error", 0x30}});
    }
}

void DeletesEachNameWithTheExactCalls() {
    UseSettings("[TarnelPlugin]\r\nLocaleID=1036\r\n");
    Library.Reset();
    Library.setResult("delete", "missing.txt", 0);
    ProgressCalls.clear();
    ProgressStopAt = 0;
    std::string archive = JoinPath(Dirs.work, "old.mpq");
    CHECK_EQ(Delete(archive, {"a.txt", "missing.txt", "units\\*.txt"}), 0);
    CHECK_EQ(Library.Calls(), (std::vector<std::string>{
                                  "MpqOpenArchiveForUpdate(" + archive + ", 5, 16)",
                                  "SFileSetLocale(1036)",
                                  "MpqDeleteFile(update, a.txt)",
                                  "MpqDeleteFile(update, missing.txt)",
                                  "MpqDeleteFile(update, units\\*.txt)",
                                  "MpqSetFileLocale(update, (listfile), 1036, 0)",
                                  "MpqCloseUpdatedArchive(update, 0)",
                              }));
    CHECK_EQ(ProgressCalls.size(), 0u);
    CHECK_BOXES({{"Cannot delete missing.txt", "Error", 0x30}});
}

// A folder of the delete list is "folder\\*.*": the members below it, as the
// archive's listing finds them, one deletion each.
void DeletesEveryMemberBelowAFolderEntry() {
    UseSettings("[TarnelPlugin]\r\nLocaleID=1036\r\nFileLists=C:\\l\\names.txt\r\n");
    Library.Reset();
    for (const char* name :
         {"docs\\sub\\c.txt", "docs\\a.txt", "docsx\\d.txt", "Docs\\B.txt", "keep.txt"}) {
        Library.AddMember(name, "x");
    }
    Library.setResult("delete", "docs\\*.*", 0); // no member of that name
    Library.setResult("delete", "Docs\\B.txt", 0);
    std::string archive = JoinPath(Dirs.work, "old.mpq");
    CHECK_EQ(Delete(archive, {"docs\\*.*", "docs\\a.txt"}), 0);
    CHECK_EQ(Library.Calls(), (std::vector<std::string>{
                                  "SFileSetLocale(1036)",
                                  "SFileOpenArchive(" + archive + ", 0, 0)",
                                  "SFileGetFileInfo(archive, 2)",
                                  "SFileOpenFileEx(archive, (listfile), 0)",
                                  "SFileListFiles(archive, C:\\l\\names.txt, 0)",
                                  "SFileCloseArchive(archive)",
                                  "MpqOpenArchiveForUpdate(" + archive + ", 5, 16)",
                                  "SFileSetLocale(1036)",
                                  "MpqDeleteFile(update, docs\\a.txt)",
                                  "MpqDeleteFile(update, Docs\\B.txt)",
                                  "MpqDeleteFile(update, docs\\sub\\c.txt)",
                                  "MpqDeleteFile(update, docs\\*.*)",
                                  "MpqSetFileLocale(update, (listfile), 1036, 0)",
                                  "MpqCloseUpdatedArchive(update, 0)",
                              }));
    CHECK_BOXES({{"Cannot delete Docs\\B.txt", "Error", 0x30}});
}

// Folders of the add list ("folder\\") add nothing; a move removes the ones
// it emptied, deepest first, once the archive is written.
void FolderEntriesAddNothingAndMovesRemoveTheirFolders() {
    UseSettings("");
    MakeEmptyFolder(Sources());
    for (const char* folder : {"sub", "sub\\deep", "empty", "kept"}) {
        CreateDirectoryA((Sources() + folder).c_str(), nullptr);
    }
    WriteWholeFile(Sources() + "sub\\deep\\a.txt", "a");
    WriteWholeFile(Sources() + "kept\\b.txt", "b");
    Library.Reset();
    Library.setResult("add", "kept\\b.txt", 0);
    ProgressCalls.clear();
    ProgressStopAt = 0;
    std::string archive = JoinPath(Dirs.work, "folders.mpq");
    CHECK_EQ(Pack(archive, nullptr,
                  {"sub\\", "sub\\deep\\", "sub\\deep\\a.txt", "empty\\", "kept\\", "kept\\b.txt"},
                  1),
             0);
    std::vector<std::string> calls = Library.Calls();
    CHECK_EQ(calls.size(), 6u);
    CHECK_EQ(ProgressCalls.size(), 2u);
    CHECK_BOXES({{"Cannot Add kept\\b.txt to archive!", "Error", 0x30}});
    CHECK(!FileExists(Sources() + "sub"));
    CHECK(!FileExists(Sources() + "empty"));
    CHECK(FileExists(Sources() + "kept\\b.txt"));
    DeleteFileA((Sources() + "kept\\b.txt").c_str());
    RemoveDirectoryA((Sources() + "kept").c_str());
}

} // namespace

void RunUpdateTests() {
    Entry.setProcessDataProc(nullptr, RecordProgress);
    RunTest("packing: each file by its kind, with the exact calls",
            PacksEachFileByItsKindWithTheExactCalls);
    RunTest("packing: the archive's compression follows the settings",
            ArchiveCompressionFollowsTheSettings);
    RunTest("packing: moved files leave the disk only when added",
            MovedFilesLeaveTheDiskOnlyWhenAdded);
    RunTest("packing: a move keeps every source when the archive is not written",
            AMoveKeepsEverySourceWhenTheArchiveIsNotWritten);
    RunTest("update: overlong names are reported, not cut", OverlongNamesAreReportedNotCut);
    RunTest("update: an archive that cannot be opened shows the system's text",
            ArchivesThatCannotBeOpenedShowTheSystemText);
    RunTest("deleting: each name, with the exact calls", DeletesEachNameWithTheExactCalls);
    RunTest("deleting: a folder entry deletes every member below it",
            DeletesEveryMemberBelowAFolderEntry);
    RunTest("packing: folder entries add nothing; a move removes the folders it emptied",
            FolderEntriesAddNothingAndMovesRemoveTheirFolders);
}

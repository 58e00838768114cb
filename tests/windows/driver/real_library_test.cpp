// The plug-in on real archives: the scenario real-library loads it beside
// the SFMpq.dll that scripts/test-windows-real builds for Wine (the
// stand-in's client, which starts the native engine). The work folder holds
// what the script made with Debian's smpq: one.mpq (format 1, zlib) and
// four.mpq (format 4, PKWARE, encrypted), and smpq's extraction of each in
// ref\<archive>\. The script reads the archives this scenario writes back
// with smpq (real\packed.mpq against real\expected\).
//
// Two kinds of disk come from the script when it could mount them: a full
// disk as drive F: (TARNEL_FULL_DISK=1) and a read-only file that even root
// cannot replace, locked\readme.txt (TARNEL_LOCKED=1).
#include <algorithm>
#include <cstdlib>

#include "archive_library/archive_library.h"
#include "check.h"
#include "message_boxes.h"
#include "plugin_under_test.h"
#include "suites.h"

namespace {

// "café €.txt" in code page 1252, the ANSI code page of the Wine session.
const char kAccented[] = "caf\xE9 \x80.txt";

bool Switched(const char* variable) {
    const char* value = std::getenv(variable);
    return value && std::string(value) == "1";
}

std::string Work(const std::string& name) {
    return JoinPath(Dirs.work, name);
}

std::string Real(const std::string& name) {
    return JoinPath(Work("real"), name);
}

// The files below `folder`, as relative paths with backslashes, sorted.
std::vector<std::string> FilesBelow(const std::string& folder, const std::string& prefix = "") {
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(JoinPath(folder, "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return found;
    }
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (const std::string& inner :
                 FilesBelow(JoinPath(folder, name), prefix + name + "\\")) {
                found.push_back(inner);
            }
        } else {
            found.push_back(prefix + name);
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(found.begin(), found.end());
    return found;
}

// Makes every folder of `path` that is missing (the last part is a file).
void MakeFoldersOf(const std::string& path) {
    for (size_t slash = path.find('\\', 3); slash != std::string::npos;
         slash = path.find('\\', slash + 1)) {
        CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
    }
}

// Drive F: (3 MiB) holds a copy of one.mpq: room for no copy of it and for
// no member of 2 MB.
void FillFullDisk() {
    if (!FileExists("F:\\driver.mpq")) {
        CHECK(CopyFileA(Work("one.mpq").c_str(), "F:\\driver.mpq", TRUE));
    }
}

// Entry points of the loaded SFMpq.dll, for what the plug-in never does.
struct LibraryCalls {
    MpqOpenArchiveForUpdateFn open = nullptr;
    MpqAddFileToArchiveExFn add = nullptr;
    MpqCloseUpdatedArchiveFn close = nullptr;

    bool Bind() {
        HMODULE library = GetModuleHandleA("SFMpq.dll");
        open = reinterpret_cast<MpqOpenArchiveForUpdateFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "MpqOpenArchiveForUpdate")));
        add = reinterpret_cast<MpqAddFileToArchiveExFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "MpqAddFileToArchiveEx")));
        close = reinterpret_cast<MpqCloseUpdatedArchiveFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "MpqCloseUpdatedArchive")));
        return open && add && close;
    }
};

struct Listed {
    std::string name;
    uint32_t size;
};

// Every member as ReadHeader reports it, in order; each one also handed to
// `each` (with the open handle) before the next ReadHeader.
template <typename Each>
std::vector<Listed> ForEachMember(const std::string& archive, int mode, Each each) {
    std::vector<Listed> members;
    OpenRequest request = {archive.c_str(), mode, 0};
    void* handle = Entry.openArchive(&request);
    if (!handle) {
        ReportFailure(__FILE__, __LINE__,
                      "cannot open " + archive + ": " + std::to_string(request.openResult));
        return members;
    }
    EntryHeader header = {};
    int result;
    while ((result = Entry.readHeader(handle, &header)) == 0) {
        members.push_back({header.fileName, header.unpackSize});
        each(handle, members.back());
    }
    CHECK_EQ(result, 10);
    CHECK_EQ(Entry.closeArchive(handle), 0);
    return members;
}

std::vector<std::string> NamesIn(const std::string& archive) {
    std::vector<std::string> names;
    for (const Listed& member : ForEachMember(archive, 0, [](void*, const Listed&) {})) {
        if (member.name != "(listfile)" && member.name != "(attributes)") {
            names.push_back(member.name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

int Extract(void* handle, const std::string& destination) {
    std::string copy = destination;
    return Entry.processFile(handle, kOpExtract, nullptr, &copy[0]);
}

int Pack(const std::string& archive, const char* subPath, const std::string& sources,
         const std::vector<std::string>& names, int flags) {
    std::string path = archive;
    std::string sub = subPath ? subPath : "";
    std::string folder = sources + "\\";
    std::string list = NameList(names);
    return Entry.packFiles(&path[0], subPath ? &sub[0] : nullptr, &folder[0], &list[0], flags);
}

int Delete(const std::string& archive, const std::vector<std::string>& names) {
    std::string path = archive;
    std::string list = NameList(names);
    return Entry.deleteFiles(&path[0], &list[0]);
}

void EveryMemberExtractsAsSmpqExtractsIt() {
    UseSettings("");
    for (const char* archive : {"one", "four"}) {
        Note(archive + std::string(".mpq"));
        std::string ref = JoinPath(Work("ref"), archive);
        std::string out = JoinPath(Real("extracted"), archive);
        std::vector<std::string> extracted;
        ForEachMember(Work(archive + std::string(".mpq")), kOpenExtract,
                      [&](void* handle, const Listed& member) {
                          std::string destination = JoinPath(out, member.name);
                          MakeFoldersOf(destination);
                          CHECK_EQ(Extract(handle, destination), 0);
                          if (member.name == "(listfile)" || member.name == "(attributes)") {
                              return;
                          }
                          extracted.push_back(member.name);
                          bool found = false;
                          std::string want = ReadWholeFile(JoinPath(ref, member.name), &found);
                          std::string got = ReadWholeFile(destination);
                          CHECK(found);
                          CHECK_EQ(got.size(), want.size());
                          CHECK(got == want);
                          CHECK_EQ(member.size, want.size());
                      });
        std::sort(extracted.begin(), extracted.end());
        CHECK_EQ(extracted, FilesBelow(ref));
        // The test operation reads every member through.
        ForEachMember(Work(archive + std::string(".mpq")), kOpenExtract,
                      [](void* handle, const Listed&) {
                          CHECK_EQ(Entry.processFile(handle, kOpTest, nullptr, nullptr), 0);
                      });
    }
    CHECK_BOXES({});
}

// Extracts `member` of one.mpq to `destination`; the ProcessFile result.
int ExtractOne(const std::string& member, const std::string& destination) {
    int result = -1;
    ForEachMember(Work("one.mpq"), kOpenExtract, [&](void* handle, const Listed& listed) {
        if (listed.name == member) {
            result = Extract(handle, destination);
        } else {
            Entry.processFile(handle, kOpSkip, nullptr, nullptr);
        }
    });
    return result;
}

void DestinationsThatCannotTakeTheMember() {
    std::string readme = ReadWholeFile(JoinPath(Work("ref\\one"), "readme.txt"));
    // An existing file is replaced.
    std::string existing = Real("existing.txt");
    WriteWholeFile(existing, "old");
    CHECK_EQ(ExtractOne("readme.txt", existing), 0);
    CHECK(ReadWholeFile(existing) == readme);
    if (Switched("TARNEL_LOCKED")) {
        // A read-only one is kept as it was, and nothing is left beside it.
        std::string locked = Work("locked\\readme.txt");
        CHECK(GetFileAttributesA(locked.c_str()) & FILE_ATTRIBUTE_READONLY);
        CHECK_EQ(ExtractOne("readme.txt", locked), 16);
        CHECK_EQ(ReadWholeFile(locked), "old");
        for (const std::string& name : FilesBelow(Work("locked"))) {
            CHECK(name.compare(0, 3, "~tn") != 0);
        }
    } else {
        Note("skipped: a read-only destination (no immutable file here)");
    }
    if (Switched("TARNEL_FULL_DISK")) {
        // A full disk: the member fails and leaves nothing behind.
        FillFullDisk();
        CreateDirectoryA("F:\\driver", nullptr);
        CHECK_EQ(ExtractOne("numbers.txt", "F:\\driver\\numbers.txt"), 12);
        CHECK_EQ(FilesBelow("F:\\driver"), std::vector<std::string>{});
    } else {
        Note("skipped: a full disk (no tmpfs here)");
    }
    CHECK_BOXES({});
}

void PacksReplacesMovesAndDeletesOnARealArchive() {
    UseSettings("[TarnelPlugin]\r\nAudioExt=wav\r\nNoCompExt=bin\r\n");
    std::string sources = Real("sources");
    std::string expected = Real("expected");
    std::string archive = Real("packed.mpq");
    std::string big(1500000, '\0');
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    // A wave file that is no sound: added losslessly.
    struct File {
        std::string name;
        std::string content;
    };
    const std::vector<File> files = {
        {"a.txt", "first a\r\n"},   {"with space.txt", "blank in the name\r\n"},
        {kAccented, "accents\r\n"}, {"sub\\b.txt", "b in a folder\r\n"},
        {"big.bin", big},           {"noise.wav", std::string(70000, 'w')},
    };
    std::vector<std::string> names;
    for (const File& file : files) {
        MakeFoldersOf(JoinPath(sources, file.name));
        WriteWholeFile(JoinPath(sources, file.name), file.content);
        MakeFoldersOf(JoinPath(expected, "maps\\" + file.name));
        WriteWholeFile(JoinPath(expected, "maps\\" + file.name), file.content);
        names.push_back(file.name);
    }
    // Moved: the sources are gone once the archive is written.
    CHECK_EQ(Pack(archive, "maps", sources, names, kPackMoveFiles), 0);
    CHECK_BOXES({});
    CHECK_EQ(FilesBelow(sources), std::vector<std::string>{});
    std::vector<std::string> stored;
    for (const std::string& name : names) {
        stored.push_back("maps\\" + name);
    }
    std::sort(stored.begin(), stored.end());
    CHECK_EQ(NamesIn(archive), stored);

    // Replaced: the same name once, with the new content.
    WriteWholeFile(JoinPath(sources, "a.txt"), "second a, longer\r\n");
    WriteWholeFile(JoinPath(expected, "maps\\a.txt"), "second a, longer\r\n");
    CHECK_EQ(Pack(archive, "maps", sources, {"a.txt"}, 0), 0);
    CHECK_EQ(NamesIn(archive), stored);
    CHECK_EQ(FilesBelow(sources), std::vector<std::string>{"a.txt"});

    // A source that is not there, a member that is not there.
    CHECK_EQ(Pack(archive, nullptr, sources, {"missing.txt"}, kPackMoveFiles), 0);
    CHECK_BOXES({{"Cannot Add missing.txt to archive!", "Error", 0x30}});
    CHECK_EQ(Delete(archive, {"maps\\noise.wav", "maps\\missing.txt"}), 0);
    CHECK_BOXES({{"Cannot delete maps\\missing.txt", "Error", 0x30}});
    DeleteFileA(JoinPath(expected, "maps\\noise.wav").c_str());
    stored.erase(std::find(stored.begin(), stored.end(), "maps\\noise.wav"));
    CHECK_EQ(NamesIn(archive), stored);
}

// The archive cannot be opened for update: the box shows the system's text
// for the error the library left.
void UpdatesThatCannotStartShowTheSystemText() {
    UseSettings("");
    std::string sources = Real("sources");
    WriteWholeFile(JoinPath(sources, "a.txt"), "a");
    std::string junk = Real("junk.mpq");
    WriteWholeFile(junk, "no archive at all");
    std::string readOnly = Real("read-only.mpq");
    CopyFileA(Work("one.mpq").c_str(), readOnly.c_str(), FALSE);
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    struct Case {
        const char* what;
        std::string archive;
        bool deleting;
        DWORD error;
    };
    std::vector<Case> cases = {
        {"deleting from a missing archive", Real("missing.mpq"), true, ERROR_FILE_NOT_FOUND},
        {"a file that is no archive", junk, false, ERROR_BAD_FORMAT},
        {"a read-only archive", readOnly, false, ERROR_ACCESS_DENIED},
        {"an archive that another update has open", Real("busy.mpq"), false,
         ERROR_SHARING_VIOLATION},
    };
    LibraryCalls library;
    CHECK(library.Bind());
    CopyFileA(Work("one.mpq").c_str(), Real("busy.mpq").c_str(), FALSE);
    MpqHandle other =
        library.open ? library.open(Real("busy.mpq").c_str(), kUpdateOpenExisting, 16) : nullptr;
    CHECK(other != nullptr);
    if (Switched("TARNEL_FULL_DISK")) {
        FillFullDisk();
        cases.push_back({"a full disk", "F:\\driver.mpq", false, ERROR_DISK_FULL});
    }
    std::vector<std::string> texts;
    for (const Case& c : cases) {
        Note(c.what);
        std::string before = ReadWholeFile(c.archive);
        int result = c.deleting ? Delete(c.archive, {"a.txt"})
                                : Pack(c.archive, nullptr, sources, {"a.txt"}, 0);
        CHECK_EQ(result, 13);
        std::string text = SystemText(c.error);
        CHECK(!text.empty());
        CHECK_BOXES({{text, "Error", 0x30}});
        CHECK(ReadWholeFile(c.archive) == before);
        texts.push_back(text);
    }
    CHECK(!FileExists(Real("missing.mpq")));
    if (other) {
        CHECK(library.close(other, 0));
    }
    // Each failure has a text of its own.
    std::sort(texts.begin(), texts.end());
    CHECK(std::unique(texts.begin(), texts.end()) == texts.end());
    if (Switched("TARNEL_FULL_DISK")) {
        CHECK_EQ(FilesBelow("F:\\"), std::vector<std::string>{"driver.mpq"});
        DeleteFileA("F:\\driver.mpq");
    }
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// An archive without a "(listfile)", made through the library itself (the
// plug-in always keeps one): its names come from the name lists of the
// settings, whose paths hold blanks and are joined by blanks.
void NamesComeFromExternalListsUnderPathsWithBlanks() {
    LibraryCalls library;
    if (!library.Bind()) {
        ReportFailure(__FILE__, __LINE__, "SFMpq.dll lacks an update entry point");
        return;
    }
    std::string lists = Real("name lists");
    CreateDirectoryA(lists.c_str(), nullptr);
    std::string source = JoinPath(lists, "content.txt");
    WriteWholeFile(source, "some content");
    std::string archive = Real("unnamed.mpq");
    MpqHandle update = library.open(archive.c_str(), kUpdateOpenOrCreate, 16);
    CHECK(update != nullptr);
    for (const char* name : {"readme.txt", "docs\\guide.txt", "hidden.dat"}) {
        CHECK(library.add(update, source.c_str(), name, kAddCompress, kCompressionDeflate, 0));
    }
    CHECK(library.close(update, 0));

    std::string first = JoinPath(lists, "unnamed.txt");
    std::string second = JoinPath(lists, "more names.txt");
    WriteWholeFile(first, "readme.txt\r\n");
    WriteWholeFile(second, "docs/guide.txt;not there\r\n");
    auto unknown = [](const std::vector<std::string>& names) {
        return std::count_if(names.begin(), names.end(), [](const std::string& name) {
            return name.compare(0, 8, "Unknown\\") == 0;
        });
    };
    UseSettings("");
    CHECK_EQ(unknown(NamesIn(archive)), 3);
    UseSettings("[TarnelPlugin]\r\nFileLists=" + first + "," + second + "\r\n");
    std::vector<std::string> names = NamesIn(archive);
    CHECK_EQ(names.size(), 3u);
    CHECK(std::count(names.begin(), names.end(), "readme.txt") == 1);
    CHECK(std::count(names.begin(), names.end(), "docs\\guide.txt") == 1);
    CHECK_EQ(unknown(names), 1);
    // Only the list named like the archive.
    UseSettings("[TarnelPlugin]\r\nSimNameFileList=1\r\nFileLists=" + second + "," + first +
                "\r\n");
    names = NamesIn(archive);
    CHECK(std::count(names.begin(), names.end(), "readme.txt") == 1);
    CHECK_EQ(unknown(names), 2);
    CHECK_BOXES({});
}

// Hosts name folders in their lists: "docs\*.*" to delete a folder, "sub\"
// before the files of a folder that is added.
void FolderEntriesOfHosts() {
    UseSettings("");
    std::string archive = Real("folders.mpq");
    CopyFileA(Work("one.mpq").c_str(), archive.c_str(), FALSE);
    CHECK_EQ(Delete(archive, {"docs\\*.*"}), 0);
    CHECK_BOXES({});
    CHECK_EQ(NamesIn(archive),
             (std::vector<std::string>{"big.bin", kAccented, "empty.txt", "numbers.txt",
                                       "readme.txt", "with space.txt"}));
    std::string sources = Real("folder sources");
    MakeFoldersOf(JoinPath(sources, "sub\\deeper\\c.txt"));
    WriteWholeFile(JoinPath(sources, "sub\\deeper\\c.txt"), "c");
    WriteWholeFile(JoinPath(sources, "sub\\b.txt"), "b");
    CHECK_EQ(Pack(archive, nullptr, sources,
                  {"sub\\", "sub\\b.txt", "sub\\deeper\\", "sub\\deeper\\c.txt"}, kPackMoveFiles),
             0);
    CHECK_BOXES({});
    std::vector<std::string> names = NamesIn(archive);
    CHECK(std::count(names.begin(), names.end(), "sub\\b.txt") == 1);
    CHECK(std::count(names.begin(), names.end(), "sub\\deeper\\c.txt") == 1);
    CHECK_EQ(names.size(), 8u);
    // The folders the list named are gone with their files.
    CHECK(!FileExists(JoinPath(sources, "sub")));
    CHECK(FileExists(sources));
}

} // namespace

void RunRealLibraryScenario(const std::string& pluginPath) {
    Dirs.plugin = FolderOf(pluginPath);
    if (!StartWatchingScreen() || !LoadPlugin(pluginPath) || !RecordBoxesOf(Plugin)) {
        ReportFailure(__FILE__, __LINE__, "cannot load " + pluginPath + " with its library");
        return;
    }
    CreateDirectoryA(Work("real").c_str(), nullptr);
    Entry.setProcessDataProc(nullptr, RecordProgress);
    RunTest("real library: every member extracts as smpq extracts it",
            EveryMemberExtractsAsSmpqExtractsIt);
    RunTest("real library: destinations that cannot take the member",
            DestinationsThatCannotTakeTheMember);
    RunTest("real library: packs, replaces, moves and deletes",
            PacksReplacesMovesAndDeletesOnARealArchive);
    RunTest("real library: updates that cannot start show the system's text",
            UpdatesThatCannotStartShowTheSystemText);
    RunTest("real library: names from external lists under paths with blanks",
            NamesComeFromExternalListsUnderPathsWithBlanks);
    RunTest("real library: folder entries of hosts", FolderEntriesOfHosts);
    RunTest("real library: unloading ends every engine", [] {
        CHECK(FreeLibrary(Plugin));
        Plugin = nullptr;
        CHECK(GetModuleHandleA("SFMpq.dll") == nullptr);
    });
}

// Listing through the built plug-in and the recording library: the exact
// library calls of OpenArchive, what ReadHeader writes into the host's
// record, and the two listing failures that show a box.
#include <cstring>

#include "check.h"
#include "message_boxes.h"
#include "plugin_under_test.h"
#include "suites.h"

namespace {

std::string ArchivePath(const char* name) {
    return JoinPath(Dirs.work, name);
}

void ListsFromTheInternalListWithTheExactCalls() {
    UseSettings("[TarnelPlugin]\r\nLocaleID=1031\r\nSimNameFileList=1\r\nFileLists=x.txt\r\n");
    Library.Reset();
    Library.AddMember("(listfile)", "units.txt");
    Library.addEmptySlot();
    Library.addMember("units\\footman.txt", "footman", 7, 5);
    Library.addEmptySlot();
    std::string archive = ArchivePath("war.mpq");
    OpenRequest request = {archive.c_str(), 1, 77};
    void* handle = Entry.openArchive(&request);
    CHECK(handle != nullptr);
    CHECK_EQ(request.openResult, 77);
    CHECK_EQ(Library.Calls(), (std::vector<std::string>{
                                  "SFileSetLocale(1031)",
                                  "SFileOpenArchive(" + archive + ", 0, 0)",
                                  "SFileGetFileInfo(archive, 2)",
                                  "SFileOpenFileEx(archive, (listfile), 0)",
                                  "SFileGetFileSize(member, null)",
                                  "SFileReadFile(member, 9, null)",
                                  "SFileCloseFile(member)",
                                  "SFileListFiles(archive, units.txt, 1)",
                              }));
    if (!handle) {
        return;
    }
    EntryHeader header;
    std::memset(&header, 0xAB, sizeof header);
    CHECK_EQ(Entry.readHeader(handle, &header), 0);
    CHECK_EQ(std::string(header.fileName), "(listfile)");
    CHECK_EQ(Entry.readHeader(handle, &header), 0);
    CHECK_EQ(std::string(header.fileName), "units\\footman.txt");
    CHECK_EQ(header.packSize, 5u);
    CHECK_EQ(header.unpackSize, 7u);
    CHECK_EQ(header.fileTime, 0xFFFFFFFFu);
    // The host's other fields are left as the host set them.
    CHECK_EQ(static_cast<unsigned char>(header.archiveName[0]), 0xABu);
    CHECK_EQ(static_cast<uint32_t>(header.flags), 0xABABABABu);
    CHECK_EQ(header.fileCRC, 0xABABABABu);
    CHECK_EQ(Entry.readHeader(handle, &header), 10);
    CHECK_EQ(Entry.readHeader(handle, &header), 10);
    Library.Reset();
    CHECK_EQ(Entry.closeArchive(handle), 0);
    CHECK_EQ(Library.Calls(), std::vector<std::string>{"SFileCloseArchive(archive)"});
    CHECK_BOXES({});
}

void ListsFromExternalListsWithoutAnInternalOne() {
    Library.Reset();
    Library.AddMember("a.txt", "a");
    std::string archive = ArchivePath("Foo.mpq");
    OpenRequest request = {archive.c_str(), 0, 0};

    UseSettings("[TarnelPlugin]\r\nSimNameFileList=1\r\n"
                "FileLists=C:\\lists\\common.txt,C:\\my.lists\\FOO.txt\r\n");
    void* handle = Entry.openArchive(&request);
    CHECK(handle != nullptr);
    CHECK_EQ(Library.Calls().back(), "SFileListFiles(archive, C:\\my.lists\\FOO.txt, 0)");
    Entry.closeArchive(handle);

    Library.Reset();
    Library.AddMember("a.txt", "a");
    UseSettings("[TarnelPlugin]\r\nSimNameFileList=2\r\n"
                "FileLists=C:\\lists\\common.txt,C:\\my.lists\\FOO.txt\r\n");
    handle = Entry.openArchive(&request);
    CHECK(handle != nullptr);
    CHECK_EQ(Library.Calls().back(),
             "SFileListFiles(archive, C:\\lists\\common.txt C:\\my.lists\\FOO.txt, 0)");
    Entry.closeArchive(handle);
    CHECK_BOXES({});
}

void FailedOpensReturnTheirCodes() {
    UseSettings("");
    std::string archive = ArchivePath("missing.mpq");

    Library.Reset();
    OpenRequest request = {archive.c_str(), 2, 0};
    CHECK(Entry.openArchive(&request) == nullptr);
    CHECK_EQ(request.openResult, 24);
    CHECK_EQ(Library.Calls().size(), 0u);

    Library.set("openArchiveSucceeds", 0);
    request.openMode = 0;
    CHECK(Entry.openArchive(&request) == nullptr);
    CHECK_EQ(request.openResult, 13);
    CHECK_EQ(Library.get("openArchives"), 0);
    CHECK_BOXES({});
}

void UnreadableInternalListsAreReportedInABox() {
    UseSettings("");
    std::string archive = ArchivePath("broken.mpq");
    OpenRequest request = {archive.c_str(), 0, 0};

    Library.Reset();
    Library.AddMember("(listfile)", "a.txt");
    Library.setResult("size", "(listfile)", 0xFFFFFFFF);
    CHECK(Entry.openArchive(&request) == nullptr);
    CHECK_EQ(request.openResult, 13);
    CHECK_EQ(Library.get("openMembers"), 0);
    CHECK_EQ(Library.get("openArchives"), 0);
    CHECK_BOXES(
        {{"Cannot retrieve size of file. The archive is probably corrupted", "Error", 0x30}});

    Library.Reset();
    Library.AddMember("(listfile)", "a.txt");
    Library.set("failReadAt", 1);
    request.openResult = 0;
    CHECK(Entry.openArchive(&request) == nullptr);
    CHECK_EQ(request.openResult, 13);
    CHECK_EQ(Library.get("openMembers"), 0);
    CHECK_EQ(Library.get("openArchives"), 0);
    CHECK_BOXES({{"An error occurred while reading from the archive.", "Error", 0x30}});
}

} // namespace

void RunListingTests() {
    RunTest("listing: the internal list, with the exact calls and header fields",
            ListsFromTheInternalListWithTheExactCalls);
    RunTest("listing: external lists when there is no internal one",
            ListsFromExternalListsWithoutAnInternalOne);
    RunTest("listing: failed opens return 24 and 13 without a box", FailedOpensReturnTheirCodes);
    RunTest("listing: an unreadable internal list is reported in a box",
            UnreadableInternalListsAreReportedInABox);
}

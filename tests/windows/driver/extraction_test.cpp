// Extraction through the built plug-in on the Win32 file functions: the
// exact library calls and progress reports, the bytes that reach the disk,
// and what a failure or a stop leaves in the destination folder.
#include "check.h"
#include "message_boxes.h"
#include "plugin_under_test.h"
#include "suites.h"

namespace {

const uint32_t kMebibyte = 1048576;

std::string Folder() {
    return JoinPath(Dirs.work, "extracted");
}

// Some bytes of every value, zeros included.
std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return data;
}

// Opens an archive holding `name` with `content` and returns the handle
// after the ReadHeader that returned it; the library's record is cleared.
void* OpenAtMember(const std::string& name, const std::string& content) {
    Library.Reset();
    Library.AddMember(name, content);
    std::string archive = JoinPath(Dirs.work, "data.mpq");
    OpenRequest request = {archive.c_str(), 1, 0};
    void* handle = Entry.openArchive(&request);
    EntryHeader header = {};
    if (!handle || Entry.readHeader(handle, &header) != 0) {
        ReportFailure(__FILE__, __LINE__, "cannot open an archive holding " + name);
        return nullptr;
    }
    Library.Reset();
    Library.AddMember(name, content);
    ProgressCalls.clear();
    ProgressStopAt = 0;
    return handle;
}

int Extract(void* handle, const std::string& destination) {
    std::string copy = destination;
    return Entry.processFile(handle, 2, nullptr, &copy[0]);
}

void ExtractsInChunksWithTheExactCalls() {
    UseSettings("");
    MakeEmptyFolder(Folder());
    std::string content = Pattern(kMebibyte + 1);
    void* handle = OpenAtMember("units\\footman.mdx", content);
    if (!handle) {
        return;
    }
    std::string destination = JoinPath(Folder(), "footman.mdx");
    CHECK_EQ(Extract(handle, destination), 0);
    CHECK_EQ(Library.Calls(), (std::vector<std::string>{
                                  "SFileOpenFileEx(archive, units\\footman.mdx, 0)",
                                  "SFileGetFileSize(member, null)",
                                  "SFileReadFile(member, 1048576, null)",
                                  "SFileReadFile(member, 1, null)",
                                  "SFileCloseFile(member)",
                              }));
    CHECK_EQ(ProgressCalls, (std::vector<ProgressCall>{{"units\\footman.mdx", 1048576},
                                                       {"units\\footman.mdx", 1}}));
    bool exists = false;
    CHECK(ReadWholeFile(destination, &exists) == content);
    CHECK(exists);
    CHECK_EQ(FilesIn(Folder()), std::vector<std::string>{"footman.mdx"});

    // Again after the same ReadHeader: the same member, over the first copy.
    Library.Reset();
    Library.AddMember("units\\footman.mdx", "short");
    CHECK_EQ(Extract(handle, destination), 0);
    CHECK_EQ(ReadWholeFile(destination), "short");
    CHECK_EQ(Library.get("openMembers"), 0);
    Entry.closeArchive(handle);
    CHECK_BOXES({});
}

void ShortReadsAndEmptyMembers() {
    MakeEmptyFolder(Folder());
    void* handle = OpenAtMember("a.bin", Pattern(10));
    if (!handle) {
        return;
    }
    Library.set("maxBytesPerRead", 4);
    std::string destination = JoinPath(Folder(), "a.bin");
    CHECK_EQ(Extract(handle, destination), 0);
    CHECK_EQ(ProgressCalls, (std::vector<ProgressCall>{{"a.bin", 10}, {"a.bin", 6}, {"a.bin", 2}}));
    CHECK(ReadWholeFile(destination) == Pattern(10));
    Entry.closeArchive(handle);

    handle = OpenAtMember("empty.txt", "");
    if (!handle) {
        return;
    }
    std::string empty = JoinPath(Folder(), "empty.txt");
    CHECK_EQ(Extract(handle, empty), 0);
    bool exists = false;
    CHECK_EQ(ReadWholeFile(empty, &exists), "");
    CHECK(exists);
    CHECK_EQ(ProgressCalls.size(), 0u);
    Entry.closeArchive(handle);
}

void FailuresAndStopsLeaveNoPartialFile() {
    MakeEmptyFolder(Folder());
    std::string fresh = JoinPath(Folder(), "fresh.bin");
    std::string existing = JoinPath(Folder(), "existing.bin");
    WriteWholeFile(existing, "old content");

    struct Case {
        const char* what;
        const char* key;
        int64_t value;
        int stopAt;
        int result;
    };
    const Case cases[] = {
        {"a failing read", "failReadAt", 2, 0, 12},
        {"a read delivering nothing", "zeroReadAt", 2, 0, 12},
        {"a stop", "failReadAt", 0, 2, 21},
    };
    for (const Case& c : cases) {
        for (const std::string& destination : {fresh, existing}) {
            void* handle = OpenAtMember("m.bin", Pattern(kMebibyte + 100));
            if (!handle) {
                return;
            }
            Library.set(c.key, c.value);
            ProgressStopAt = c.stopAt;
            int result = Extract(handle, destination);
            if (result != c.result) {
                ReportFailure(__FILE__, __LINE__,
                              std::string(c.what) + ": result " + std::to_string(result) +
                                  ", expected " + std::to_string(c.result));
            }
            CHECK_EQ(Library.get("openMembers"), 0);
            Entry.closeArchive(handle);
        }
        // Neither a partial file nor a temporary one; the old file intact.
        CHECK_EQ(FilesIn(Folder()), std::vector<std::string>{"existing.bin"});
        CHECK_EQ(ReadWholeFile(existing), "old content");
    }
}

void OperationsOtherThanExtract() {
    MakeEmptyFolder(Folder());
    std::string destination = JoinPath(Folder(), "t.bin");
    void* handle = OpenAtMember("t.bin", "abc");
    if (!handle) {
        return;
    }
    std::string copy = destination;
    CHECK_EQ(Entry.processFile(handle, 0, nullptr, &copy[0]), 0);
    CHECK_EQ(Entry.processFile(nullptr, 0, nullptr, nullptr), 0);
    CHECK_EQ(Entry.processFile(handle, 3, nullptr, &copy[0]), 24);
    CHECK_EQ(Entry.processFile(handle, -1, nullptr, &copy[0]), 24);
    CHECK_EQ(Library.Calls().size(), 0u);
    // A test reads the member through and writes nothing.
    CHECK_EQ(Entry.processFile(handle, 1, nullptr, &copy[0]), 0);
    CHECK_EQ(Library.get("readCount"), 1);
    CHECK_EQ(FilesIn(Folder()).size(), 0u);

    // A destination in a folder that does not exist, and one far longer than
    // a path can be.
    Library.Reset();
    Library.AddMember("t.bin", "abc");
    CHECK_EQ(Extract(handle, JoinPath(Folder(), std::string(1100, 'd'))), 16);
    CHECK_EQ(Library.get("openMembers"), 0);
    Library.Reset();
    Library.AddMember("t.bin", "abc");
    CHECK_EQ(Extract(handle, JoinPath(Folder(), "no-such-folder\\t.bin")), 16);
    CHECK_EQ(Library.get("openMembers"), 0);
    Entry.closeArchive(handle);
    CHECK_BOXES({});
}

} // namespace

void RunExtractionTests() {
    Entry.setProcessDataProc(reinterpret_cast<void*>(-1), RecordProgress);
    RunTest("extraction: 1 MiB chunks with the exact calls, the bytes on disk",
            ExtractsInChunksWithTheExactCalls);
    RunTest("extraction: short reads and empty members", ShortReadsAndEmptyMembers);
    RunTest("extraction: failures and stops leave no partial file",
            FailuresAndStopsLeaveNoPartialFile);
    RunTest("extraction: skip, test and unknown operations", OperationsOtherThanExtract);
}

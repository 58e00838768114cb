// ProcessFile: skipping, testing and extracting the member that ReadHeader
// returned last, against the fake archive library.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_library/fake_archive_library.h"
#include "platform/platform.h"
#include "plugin/extraction.h"
#include "plugin/host_interface.h"
#include "support/system_call_faults.h"
#include "support/test_support.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const uint32_t MiB = 0x100000;

std::string Bytes(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    }
    return data;
}

class ExtractionTest : public PluginTest {
  protected:
    void TearDown() override {
        if (handle_) {
            CloseArchive(handle_);
        }
        AllocateTransferBuffer = std::malloc;
    }

    // Opens the fake archive (members added to Fake beforehand), moves to
    // its first member, and forgets the calls made so far.
    void OpenAtFirstMember() {
        OpenRequest request = {"data.mpq", kOpenExtract, 0};
        handle_ = OpenArchive(&request);
        ASSERT_NE(handle_, nullptr);
        EntryHeader header = {};
        ASSERT_EQ(ReadHeader(handle_, &header), kResultOk);
        Fake.calls.clear();
    }

    // A fresh plug-in state and archive of one member `name`, opened at it,
    // with `dest` missing or (when `existing`) holding "old content": the
    // start of each run of a sweep.
    void StartOver(const std::string& name, const std::string& data, const std::string& dest,
                   bool existing) {
        if (handle_) {
            CloseArchive(handle_);
            handle_ = nullptr;
        }
        ResetPluginState();
        Fake.AddMember(name, data);
        OpenAtFirstMember();
        std::remove(dest.c_str());
        if (existing) {
            WriteFileText(dest, "old content");
        }
    }

    int Extract(const std::string& dest) {
        char destPath[] = "ignored";
        return ProcessFile(handle_, kOpExtract, destPath, const_cast<char*>(dest.c_str()));
    }

    int Test() { return ProcessFile(handle_, kOpTest, nullptr, nullptr); }

    // The progress calls and reads of a transfer, in order.
    std::vector<std::string> TransferCalls() const {
        std::vector<std::string> calls;
        for (const std::string& call : Fake.calls) {
            if (call.rfind("Progress", 0) == 0 || call.rfind("SFileReadFile", 0) == 0) {
                calls.push_back(call);
            }
        }
        return calls;
    }

    TempDir dir_;
    void* handle_ = nullptr;
};

TEST_F(ExtractionTest, SkipAndUnknownOperationsTouchNothing) {
    EXPECT_EQ(ProcessFile(nullptr, kOpSkip, nullptr, nullptr), kResultOk);
    EXPECT_EQ(ProcessFile(nullptr, 3, nullptr, nullptr), kResultNotSupported);
    EXPECT_EQ(ProcessFile(nullptr, -1, nullptr, nullptr), kResultNotSupported);

    Fake.AddMember("a.txt", "alpha");
    OpenAtFirstMember();
    std::string dest = dir_.File("a.txt");
    EXPECT_EQ(ProcessFile(handle_, kOpSkip, nullptr, const_cast<char*>(dest.c_str())), kResultOk);
    EXPECT_EQ(ProcessFile(handle_, 7, nullptr, const_cast<char*>(dest.c_str())),
              kResultNotSupported);
    EXPECT_THAT(Fake.calls, IsEmpty());
    EXPECT_FALSE(FileExists(dest));
}

TEST_F(ExtractionTest, TestOrExtractWithoutCurrentEntryFails) {
    std::string dest = dir_.File("x");
    EXPECT_EQ(ProcessFile(nullptr, kOpTest, nullptr, nullptr), kResultBadData);
    EXPECT_EQ(ProcessFile(nullptr, kOpExtract, nullptr, const_cast<char*>(dest.c_str())),
              kResultBadData);

    Fake.AddMember("a.txt", "alpha");
    OpenRequest request = {"data.mpq", kOpenExtract, 0};
    handle_ = OpenArchive(&request);
    ASSERT_NE(handle_, nullptr);
    Fake.calls.clear();
    EXPECT_EQ(ProcessFile(handle_, kOpExtract, nullptr, const_cast<char*>(dest.c_str())),
              kResultBadData);
    EXPECT_EQ(ProcessFile(handle_, kOpTest, nullptr, nullptr), kResultBadData);
    EXPECT_THAT(Fake.calls, IsEmpty());
    EXPECT_FALSE(FileExists(dest));
}

TEST_F(ExtractionTest, ExtractsMemberWithExactLibraryCalls) {
    Fake.AddMember("maps\\a.txt", "alpha beta");
    SetProcessDataProc(nullptr, RecordingProgress);
    OpenAtFirstMember();
    std::string dest = dir_.File("a.txt");

    mode_t mask = umask(027); // a new file is as open as the umask lets it be
    EXPECT_EQ(Extract(dest), kResultOk);
    umask(mask);
    struct stat info;
    ASSERT_EQ(stat(dest.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    // Library calls and the progress callback keep the library's name.
    EXPECT_THAT(Fake.calls,
                ElementsAre("SFileOpenFileEx(archive, maps\\a.txt, 0)",
                            "SFileGetFileSize(member, null)", "Progress(maps\\a.txt, 10)",
                            "SFileReadFile(member, 10, null)", "SFileCloseFile(member)"));
    EXPECT_EQ(ReadFileText(dest), "alpha beta");
    EXPECT_THAT(FilesIn(dir_.path()), ElementsAre("a.txt"));
    EXPECT_EQ(Fake.openMembers, 0);
}

TEST_F(ExtractionTest, ChunksAreAtMostOneMebibyte) {
    struct Case {
        size_t size;
        std::vector<std::string> transfer;
    };
    const std::vector<Case> cases = {
        {0, {}},
        {MiB, {"Progress(m, 1048576)", "SFileReadFile(member, 1048576, null)"}},
        {MiB + 1,
         {"Progress(m, 1048576)", "SFileReadFile(member, 1048576, null)", "Progress(m, 1)",
          "SFileReadFile(member, 1, null)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        ResetPluginState();
        SetProcessDataProc(nullptr, RecordingProgress);
        Fake.AddMember("m", Bytes(c.size));
        OpenAtFirstMember();
        std::string dest = dir_.File("m");
        EXPECT_EQ(Extract(dest), kResultOk);
        EXPECT_EQ(TransferCalls(), c.transfer);
        EXPECT_EQ(ReadFileText(dest), Fake.members["m"]);
        CloseArchive(handle_);
        handle_ = nullptr;
    }
}

TEST_F(ExtractionTest, ShortReadsAskAgainForWhatRemains) {
    Fake.AddMember("m", Bytes(MiB + 500000));
    Fake.maxBytesPerRead = 700000;
    SetProcessDataProc(nullptr, RecordingProgress);
    OpenAtFirstMember();
    std::string dest = dir_.File("m");

    EXPECT_EQ(Extract(dest), kResultOk);
    EXPECT_THAT(TransferCalls(),
                ElementsAre("Progress(m, 1048576)", "SFileReadFile(member, 1048576, null)",
                            "Progress(m, 848576)", "SFileReadFile(member, 848576, null)",
                            "Progress(m, 148576)", "SFileReadFile(member, 148576, null)"));
    EXPECT_EQ(ReadFileText(dest), Fake.members["m"]);
}

TEST_F(ExtractionTest, OneBufferOfOneMebibytePerExtraction) {
    static std::vector<size_t> requested;
    requested.clear();
    AllocateTransferBuffer = [](size_t size) {
        requested.push_back(size);
        return std::malloc(size);
    };
    Fake.AddMember("m", Bytes(3 * MiB + 17));
    OpenAtFirstMember();
    const size_t before = HeapBytesInUse();
    EXPECT_EQ(Extract(dir_.File("m")), kResultOk);
    EXPECT_EQ(Test(), kResultOk);
    EXPECT_THAT(requested, ElementsAre(MiB, MiB));
    EXPECT_LT(HeapBytesInUse(), before + MiB / 2) << "each buffer is given back";
}

TEST_F(ExtractionTest, NoTransferBufferGivesOutOfMemoryAndOpensNothing) {
    AllocateTransferBuffer = [](size_t) -> void* { return nullptr; };
    Fake.AddMember("m", "data");
    OpenAtFirstMember();
    std::string dest = dir_.File("m");
    EXPECT_EQ(Extract(dest), kResultNoMemory);
    EXPECT_EQ(Test(), kResultNoMemory);
    EXPECT_THAT(Fake.calls, IsEmpty());
    EXPECT_FALSE(FileExists(dest));
}

TEST_F(ExtractionTest, FailuresLeaveNoFileAndKeepAnExistingOne) {
    struct Case {
        const char* what;
        void (*script)();
    };
    const Case cases[] = {
        {"failed read", [] { Fake.failReadAt = 2; }},
        {"read of nothing", [] { Fake.zeroReadAt = 2; }},
        {"size unknown", [] { Fake.sizeOverride["m"] = 0xFFFFFFFFu; }},
    };
    for (const Case& c : cases) {
        for (bool existing : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (existing ? ", over an existing file" : ""));
            ResetPluginState();
            Fake.AddMember("m", Bytes(2 * MiB + 3));
            c.script();
            OpenAtFirstMember();
            std::string dest = dir_.File("m");
            if (existing) {
                WriteFileText(dest, "old content");
            }
            EXPECT_EQ(Extract(dest), kResultBadData);
            if (existing) {
                EXPECT_EQ(ReadFileText(dest), "old content");
                EXPECT_THAT(FilesIn(dir_.path()), ElementsAre("m"));
            } else {
                EXPECT_THAT(FilesIn(dir_.path()), IsEmpty());
            }
            EXPECT_EQ(Fake.openMembers, 0);
            CloseArchive(handle_);
            handle_ = nullptr;
            std::remove(dest.c_str());
        }
    }
}

TEST_F(ExtractionTest, StopIsReportedAndLeavesNoPartialFile) {
    for (int stopAt : {1, 2}) {
        SCOPED_TRACE(stopAt);
        ResetPluginState();
        Fake.AddMember("m", Bytes(2 * MiB + 3));
        SetProcessDataProc(nullptr, RecordingProgress);
        ProgressStopAt = stopAt;
        OpenAtFirstMember();
        std::string fresh = dir_.File("fresh");
        std::string existing = dir_.File("existing");
        WriteFileText(existing, "old content");

        EXPECT_EQ(Extract(fresh), kResultAborted);
        ProgressCallCount = 0;
        EXPECT_EQ(Extract(existing), kResultAborted);
        EXPECT_EQ(Fake.readCount, 2 * (stopAt - 1)); // no read after a stop
        EXPECT_FALSE(FileExists(fresh));
        EXPECT_EQ(ReadFileText(existing), "old content");
        EXPECT_THAT(FilesIn(dir_.path()), ElementsAre("existing"));
        EXPECT_EQ(Fake.openMembers, 0);
        CloseArchive(handle_);
        handle_ = nullptr;
        std::remove(existing.c_str());
    }
}

TEST_F(ExtractionTest, ReplacesAnExistingFileOnlyWhenComplete) {
    Fake.AddMember("m", Bytes(MiB + 10));
    OpenAtFirstMember();
    std::string dest = dir_.File("m");
    WriteFileText(dest, std::string(5 * MiB, 'x'));
    EXPECT_EQ(Extract(dest), kResultOk);
    EXPECT_EQ(ReadFileText(dest), Fake.members["m"]);
    EXPECT_THAT(FilesIn(dir_.path()), ElementsAre("m"));
}

// The replacement is written under a short name beside the old file, so a
// name that only just fits can still be replaced, and it keeps the old
// file's permissions.
TEST_F(ExtractionTest, ReplacementFitsWhereverTheNameFitsAndKeepsPermissions) {
    Fake.AddMember("m", "new content");
    OpenAtFirstMember();
    std::string dest = dir_.File(std::string(250, 'n'));
    WriteFileText(dest, "old content");
    ASSERT_EQ(chmod(dest.c_str(), 0640), 0);
    SystemCallFaults calls;
    calls.Arm();
    EXPECT_EQ(Extract(dest), kResultOk);
    EXPECT_EQ(ReadFileText(dest), "new content");
    // Beside it, in the same folder: a folder above may be another file
    // system or one this user may not write in.
    int renames = 0;
    for (const SystemCallRecord& call : calls.records()) {
        if (call.name == "rename") {
            ++renames;
            EXPECT_EQ(call.path2, dest);
            EXPECT_EQ(call.path.substr(0, call.path.rfind('/') + 1), dir_.File(""));
        }
    }
    EXPECT_EQ(renames, 1);
    struct stat info;
    ASSERT_EQ(stat(dest.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_THAT(FilesIn(dir_.path()), ElementsAre(std::string(250, 'n')));
}

// A file that nobody may write is read-only for the extraction too, also
// for the superuser, whom the system would let replace it.
TEST_F(ExtractionTest, AFileNobodyMayWriteIsKeptWhoeverExtracts) {
    Fake.AddMember("m", "new content");
    OpenAtFirstMember();
    std::string dest = dir_.File("m");
    WriteFileText(dest, "old content");
    ASSERT_EQ(chmod(dest.c_str(), 0444), 0);
    EXPECT_EQ(Extract(dest), kResultECreate);
    EXPECT_EQ(ReadFileText(dest), "old content");
    EXPECT_THAT(FilesIn(dir_.path()), ElementsAre("m"));
}

TEST_F(ExtractionTest, MemberThatCannotBeOpenedCreatesNothing) {
    Fake.AddMember("m", "data");
    Fake.members.erase("m");
    OpenAtFirstMember();
    std::string dest = dir_.File("m");
    size_t before = HeapBytesInUse();
    EXPECT_EQ(Extract(dest), kResultBadData);
    EXPECT_EQ(Test(), kResultBadData);
    Fake.calls.clear();
    // The transfer buffer of each attempt (1 MiB) is given back.
    EXPECT_LT(HeapBytesInUse(), before + MiB / 2);
    EXPECT_THAT(FilesIn(dir_.path()), IsEmpty());
}

TEST_F(ExtractionTest, DestinationThatCannotBeCreated) {
    Fake.AddMember("m", "data");
    OpenAtFirstMember();
    EXPECT_EQ(Extract(dir_.File("no-such-folder/m")), kResultECreate);
    EXPECT_EQ(ProcessFile(handle_, kOpExtract, nullptr, nullptr), kResultECreate);
    // A folder in the way of the destination.
    std::string folder = dir_.File("taken");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    EXPECT_EQ(Extract(folder), kResultECreate);
    EXPECT_THAT(FilesIn(dir_.path()), ElementsAre("taken"));
    EXPECT_EQ(Fake.openMembers, 0);
}

// Whichever system call of an extraction fails, with whatever the system
// says (a full disk, a broken medium, no permission): the extraction says so
// when the data did not reach its file (a failed write, close or rename),
// leaves no partial or temporary file, and an existing file keeps its
// content; a reported success has every byte in place.
TEST_F(ExtractionTest, AFailingSystemCallLeavesNoPartialFileAndKeepsTheOldOne) {
    const std::string data = Bytes(2 * MiB + 3);
    for (bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "over an existing file" : "a new file");
        std::string dest = dir_.File("m");
        int result = kResultOk;
        auto prepare = [&] { StartOver("m", data, dest, existing); };
        auto check = [&](const SweepStep& step) {
            if (StoresData(step)) {
                EXPECT_NE(result, kResultOk);
            }
            if (StoresData(step) && (step.name == "write" || step.name == "close")) {
                EXPECT_EQ(result, kResultBadData) << "the data could not be written";
            }
            if (step.fired && step.name == "access") {
                EXPECT_EQ(result, kResultECreate) << "a file that may not be written stays";
            }
            if (result == kResultOk) {
                EXPECT_TRUE(ReadFileText(dest) == data);
                EXPECT_THAT(FilesIn(dir_.path()), ElementsAre("m"));
            } else {
                EXPECT_THAT(result, ::testing::AnyOf(kResultBadData, kResultECreate));
                if (existing) {
                    EXPECT_EQ(ReadFileText(dest), "old content");
                    EXPECT_THAT(FilesIn(dir_.path()), ElementsAre("m"));
                } else {
                    EXPECT_THAT(FilesIn(dir_.path()), IsEmpty());
                }
            }
            EXPECT_EQ(Fake.openMembers, 0);
        };
        int runs = SweepSystemCallFailures(
            prepare, [&] { result = Extract(dest); }, check);
        // A create, three writes and a close at least, each failing twice or more.
        EXPECT_GE(runs, 10);
    }
}

// What a caller rides over is tried again, and the extraction succeeds: a
// write that a signal interrupted before it wrote anything (EINTR), and a
// temporary name that another file took between choosing and creating it
// (EEXIST).
TEST_F(ExtractionTest, AnInterruptedWriteAndATakenTemporaryNameAreTriedAgain) {
    const std::string data = Bytes(MiB + 5);
    const std::string dest = dir_.File("m");
    const struct {
        const char* call;
        int error;
        bool existing;
    } cases[] = {{"write", EINTR, false}, {"write", EINTR, true}, {"open", EEXIST, true}};
    SystemCallFaults calls;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.call) + (c.existing ? " over an existing file" : ""));
        auto prepare = [&] { StartOver("m", data, dest, c.existing); };
        // The call to fail: the first write, or the creation of the temporary
        // file (the last open of an extraction over an existing file).
        prepare();
        calls.Arm();
        ASSERT_EQ(Extract(dest), kResultOk);
        int number = 0;
        std::vector<SystemCallRecord> records = calls.records();
        for (size_t i = 0; i < records.size(); ++i) {
            if (records[i].name == c.call && (number == 0 || c.error == EEXIST)) {
                number = static_cast<int>(i) + 1;
            }
        }
        ASSERT_GT(number, 0);
        prepare();
        calls.Arm(number, c.error);
        EXPECT_EQ(Extract(dest), kResultOk);
        EXPECT_TRUE(calls.fired());
        EXPECT_TRUE(ReadFileText(dest) == data);
        EXPECT_THAT(FilesIn(dir_.path()), ElementsAre("m"));
    }
}

TEST_F(ExtractionTest, TestReadsTheWholeMemberWithoutWriting) {
    Fake.AddMember("m", Bytes(MiB + 2));
    SetProcessDataProc(nullptr, RecordingProgress);
    OpenAtFirstMember();
    EXPECT_EQ(Test(), kResultOk);
    EXPECT_THAT(Fake.calls,
                ElementsAre("SFileOpenFileEx(archive, m, 0)", "SFileGetFileSize(member, null)",
                            "Progress(m, 1048576)", "SFileReadFile(member, 1048576, null)",
                            "Progress(m, 2)", "SFileReadFile(member, 2, null)",
                            "SFileCloseFile(member)"));
    EXPECT_THAT(FilesIn(dir_.path()), IsEmpty());
}

TEST_F(ExtractionTest, TestReportsDamageAndStops) {
    Fake.AddMember("m", Bytes(MiB + 2));
    SetProcessDataProc(nullptr, RecordingProgress);
    OpenAtFirstMember();

    Fake.failReadAt = 2;
    EXPECT_EQ(Test(), kResultBadData);
    Fake.failReadAt = 0;
    Fake.zeroReadAt = Fake.readCount + 1;
    EXPECT_EQ(Test(), kResultBadData);
    Fake.zeroReadAt = 0;
    ProgressStopAt = ProgressCallCount + 1;
    EXPECT_EQ(Test(), kResultAborted);
    Fake.sizeOverride["m"] = 0xFFFFFFFFu;
    EXPECT_EQ(Test(), kResultBadData);
    EXPECT_EQ(Fake.openMembers, 0);
}

TEST_F(ExtractionTest, SameMemberTwiceAfterOneReadHeader) {
    Fake.AddMember("first", "1");
    Fake.AddMember("second", "2");
    OpenAtFirstMember();
    EXPECT_EQ(Extract(dir_.File("a")), kResultOk);
    EXPECT_EQ(Extract(dir_.File("b")), kResultOk);
    EXPECT_EQ(ReadFileText(dir_.File("a")), "1");
    EXPECT_EQ(ReadFileText(dir_.File("b")), "1");
    EXPECT_EQ(Fake.CallsStartingWith("SFileOpenFileEx(archive, first").size(), 2u);
}

TEST_F(ExtractionTest, ProgressCallbackSlot) {
    Fake.AddMember("m", "data");
    OpenAtFirstMember();
    // No callback set: the extraction goes on.
    EXPECT_EQ(Extract(dir_.File("a")), kResultOk);
    EXPECT_EQ(ReadFileText(dir_.File("a")), "data");

    // Any handle, -1 included, sets the one callback; the volume callback
    // is ignored.
    SetProcessDataProc(reinterpret_cast<void*>(static_cast<intptr_t>(-1)), RecordingProgress);
    SetChangeVolProc(handle_, nullptr);
    ProgressStopAt = 1;
    EXPECT_EQ(Extract(dir_.File("b")), kResultAborted);
    EXPECT_EQ(ProgressCallCount, 1);
}

TEST_F(ExtractionTest, UnboundLibraryFailsWithoutCalls) {
    Fake.AddMember("m", "data");
    OpenAtFirstMember();
    ArchiveLibrary.SFileReadFile = nullptr;
    EXPECT_EQ(Extract(dir_.File("m")), kResultBadData);
    EXPECT_EQ(Test(), kResultBadData);
    EXPECT_THAT(Fake.calls, IsEmpty());
    Fake.Bind();
}

} // namespace

// The temporary file an extraction writes beside its destination: its name
// (the folder, "~tn", eight hex digits, ".tmp") fits a buffer of exactly
// its length and its end; one byte less is refused with ENAMETOOLONG and an
// empty name, before any file is made; a name taken on every try gives up
// with no file and no name.
TEST_F(ExtractionTest, TheTemporaryNameFitsItsBufferExactlyOrNothingIsMade) {
    const std::string dest = dir_.File("m");
    const size_t needed = dir_.File("").size() + std::strlen("~tn01234567.tmp") + 1;
    for (size_t size : {needed - 1, needed, needed + 1}) {
        SCOPED_TRACE(size);
        std::vector<char> name(size + 1, 'x');
        errno = 0;
        PlatformFile file = PlatformCreateTempFileBeside(dest.c_str(), name.data(), size);
        EXPECT_EQ(name[size], 'x') << "nothing written past the buffer";
        if (size < needed) {
            EXPECT_EQ(file, nullptr);
            EXPECT_EQ(errno, ENAMETOOLONG);
            EXPECT_EQ(name[0], '\0');
            EXPECT_THAT(FilesIn(dir_.path()), ElementsAre());
            continue;
        }
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(PlatformCloseFile(file));
        std::string made = name.data();
        EXPECT_EQ(made.size(), needed - 1);
        EXPECT_EQ(made.rfind(dir_.File("~tn"), 0), 0u) << made;
        EXPECT_EQ(made.substr(made.size() - 4), ".tmp");
        EXPECT_THAT(FilesIn(dir_.path()), ElementsAre(made.substr(made.rfind('/') + 1)));
        EXPECT_EQ(unlink(made.c_str()), 0);
    }
    SystemCallFaults calls;
    calls.Arm();
    calls.FailEvery("open", EEXIST);
    std::vector<char> name(needed, 'x');
    EXPECT_EQ(PlatformCreateTempFileBeside(dest.c_str(), name.data(), needed), nullptr);
    EXPECT_EQ(name[0], '\0');
    EXPECT_GT(calls.count(), 1) << "tried again";
    EXPECT_THAT(FilesIn(dir_.path()), ElementsAre());
    // Any other failure gives up at once, with the system's reason and no
    // name.
    calls.Arm();
    calls.FailEvery("open", EACCES);
    std::fill(name.begin(), name.end(), 'x');
    errno = 0;
    EXPECT_EQ(PlatformCreateTempFileBeside(dest.c_str(), name.data(), needed), nullptr);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(name[0], '\0');
    EXPECT_EQ(calls.count(), 1);
}

// The files an extraction makes are handed on to no program the host starts
// (close-on-exec), and two temporary files made beside one destination in
// the same second get names of their own.
TEST_F(ExtractionTest, FilesMadeForAnExtractionAreNotInheritedAndTemporaryNamesDiffer) {
    const std::string dest = dir_.File("m");
    char first[4096];
    char second[4096];
    const PlatformFile files[] = {
        PlatformCreateNewFile(dest.c_str()),
        PlatformCreateTempFileBeside(dest.c_str(), first, sizeof first),
        PlatformCreateTempFileBeside(dest.c_str(), second, sizeof second)};
    const std::string names[] = {dest, first, second};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(names[i]);
        ASSERT_NE(files[i], nullptr);
        int flags = -1;
        for (const auto& open : DescriptorTargets()) {
            flags = open.second == names[i] ? fcntl(open.first, F_GETFD) : flags;
        }
        EXPECT_EQ(flags, FD_CLOEXEC);
        EXPECT_TRUE(PlatformCloseFile(files[i]));
    }
    EXPECT_STRNE(first, second);
    EXPECT_EQ(FilesIn(dir_.path()).size(), 3u);
}

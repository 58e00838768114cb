// Updates through the stand-in's client with each of its system calls
// failing in turn: the archive is the old one byte for byte, or it holds
// exactly the changes the calls reported, never anything between, no
// temporary file stays beside it and no descriptor stays open.
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "sfmpq/atomic_file.h"
#include "sfmpq/library_calls.h"
#include "sfmpq_test_support.h"
#include "support/descriptors.h"
#include "support/system_call_faults.h"

namespace client = sfmpq::client;

namespace {

using Members = std::map<std::string, std::string>;

// One update: replaces "a", deletes "b" and adds "d", noting which calls
// reported success.
struct Update {
    bool opened = false;
    int openError = 0; // errno when the open failed
    bool replaced = false;
    bool deleted = false;
    bool added = false;
    bool closed = false;
};

Update UpdateArchive(const std::string& archive, const std::string& newA, const std::string& newD) {
    Update update;
    MpqHandle handle = client::OpenForUpdate(archive.c_str(), 0x21, 64);
    update.opened = handle != nullptr;
    if (!handle) {
        update.openError = errno;
        return update;
    }
    update.replaced = client::AddFile(handle, newA.c_str(), "a", 0x10201, 2);
    update.deleted = client::DeleteMember(handle, "b");
    update.added = client::AddFile(handle, newD.c_str(), "d", 0x10201, 2);
    update.closed = client::CloseUpdate(handle);
    return update;
}

// The members the archive holds when exactly the changes of `update` that
// reported success went through.
Members Expected(const Members& before, const Update& update, const std::string& newA,
                 const std::string& newD) {
    Members expected = before;
    if (update.replaced) {
        expected["a"] = newA;
    }
    if (update.deleted) {
        expected.erase("b");
    }
    if (update.added) {
        expected["d"] = newD;
    }
    return expected;
}

class UpdateSweep : public ::testing::Test {
  protected:
    void TearDown() override { client::Destroy(); }

    // Removes what a run left beside the archive, so that every run starts
    // from the same folder (the library leaves the temporary files of a live
    // process, this one, alone).
    void RemoveLeftovers() {
        for (const std::string& name : folder_.Files()) {
            if (name[0] == '.') {
                std::remove((folder_ / name).c_str());
            }
        }
    }

    // The archive as it is before every update: the members of `before_`.
    void WriteArchiveBefore() {
        std::vector<StormMember> members;
        for (const auto& member : before_) {
            members.push_back({member.first, member.second});
        }
        WriteWithStorm(archive_, members);
    }

    // The files of the folder but a temporary file that stayed only because
    // the call that was to remove it was the one that failed.
    std::vector<std::string> FilesAfter(const SweepStep& step) {
        std::vector<std::string> files;
        const SystemCallRecord* failed =
            step.fired ? &step.records[static_cast<size_t>(step.call - 1)] : nullptr;
        for (const std::string& name : folder_.Files()) {
            if (!failed || failed->name != "unlink" || failed->path != folder_ / name) {
                files.push_back(name);
            }
        }
        return files;
    }

    Folder folder_;
    std::string archive_ = folder_ / "a.mpq";
    std::string newA_ = folder_ / "new-a";
    std::string newD_ = folder_ / "new-d";
    // "c", which every update keeps, lies behind the others and holds most
    // of the archive, more than one piece of a copy through a buffer: a copy
    // that misses any part of it shows.
    const Members before_ = {{"a", Content(100000, 1, false)},
                             {"b", Content(50000, 2, true)},
                             {"c", Content(1200000, 5, false)}};
};

// An existing archive: the copy, the changes, the commit.
TEST_F(UpdateSweep, AFailingSystemCallLeavesTheOldArchiveOrTheReportedChanges) {
    WriteFile(newA_, Content(250000, 3, false));
    WriteFile(newD_, Content(100000, 4, true));
    std::string original;
    // Counted once the archive is written: StormLib's create closes descriptor
    // 0, which it never opened, when the file is new.
    size_t descriptors = 0;
    auto prepare = [&] {
        if (original.empty()) {
            WriteArchiveBefore();
            original = ReadFile(archive_);
            descriptors = OpenDescriptorCount();
        }
        WriteFile(archive_, original);
        RemoveLeftovers();
    };
    Update update;
    auto check = [&](const SweepStep& step) {
        if (StoresData(step)) {
            EXPECT_FALSE(update.closed);
        }
        EXPECT_EQ(OpenDescriptorCount(), descriptors) << "none is left open";
        if (!update.opened && step.fired) {
            int error = step.error == kShortWrite ? ENOSPC : step.error;
            EXPECT_EQ(update.openError, error) << "the open says why it failed";
        }
        if (update.closed) {
            EXPECT_EQ(MembersWithStorm(archive_),
                      Expected(before_, update, ReadFile(newA_), ReadFile(newD_)));
        } else {
            EXPECT_TRUE(ReadFile(archive_) == original) << "a failed update changes nothing";
        }
        EXPECT_EQ(FilesAfter(step), (std::vector<std::string>{"a.mpq", "new-a", "new-d"}));
    };
    // The copy is made by the kernel where it can; elsewhere through a buffer.
    for (bool kernelCopy : {true, false}) {
        SCOPED_TRACE(kernelCopy ? "copied by the kernel" : "copied through a buffer");
        AlwaysFailing always;
        if (!kernelCopy) {
            always = {{"ficlone", EOPNOTSUPP}, {"copy_file_range", EXDEV}};
        }
        int runs = SweepSystemCallFailures(
            prepare, [&] { update = UpdateArchive(archive_, newA_, newD_); }, check, always);
        EXPECT_GE(runs, 40);
    }
}

// A copy that a signal interrupts (EINTR) goes on, by the kernel or through
// a buffer (wherever the kernel's copy is not offered, whatever errno says
// so), and the update goes through whole. Where every temporary name is
// taken, a new archive is given up after a hundred tries, with EEXIST; where
// a rename without replacing is not offered, a new archive is linked.
TEST_F(UpdateSweep, InterruptedCopiesGoOnAndTakenTemporaryNamesAreGivenUp) {
    WriteFile(newA_, Content(250000, 3, false));
    WriteFile(newD_, Content(100000, 4, true));
    WriteArchiveBefore();
    const std::string original = ReadFile(archive_);
    const AlwaysFailing noClone = {{"ficlone", EOPNOTSUPP}};
    struct Interrupted {
        std::string call;
        AlwaysFailing always;
    };
    std::vector<Interrupted> interrupted = {{"copy_file_range", noClone}};
    for (int notOffered : {EXDEV, ENOSYS, EINVAL, EOPNOTSUPP}) {
        for (const char* call : {"pread", "pwrite"}) {
            interrupted.push_back(
                {call, {{"ficlone", EOPNOTSUPP}, {"copy_file_range", notOffered}}});
        }
    }
    SystemCallFaults faults;
    for (const Interrupted& test : interrupted) {
        SCOPED_TRACE(test.call + ", copy_file_range: " + std::to_string(test.always.back().second));
        WriteFile(archive_, original);
        auto arm = [&](int number) {
            faults.Arm(number, EINTR);
            for (const auto& call : test.always) {
                faults.FailEvery(call.first, call.second);
            }
        };
        arm(0);
        client::CloseUpdate(client::OpenForUpdate(archive_.c_str(), 0x21, 64));
        std::vector<SystemCallRecord> calls = faults.records();
        // The copy's first call of that name (the header check reads first):
        // the read of the first piece is the one just before its write.
        bool read = test.call == "pread";
        size_t at = 0;
        while (at < calls.size() && calls[at].name != (read ? "pwrite" : test.call)) {
            ++at;
        }
        while (read && at > 0 && at < calls.size() && calls[at].name != "pread") {
            --at;
        }
        ASSERT_LT(at, calls.size());
        arm(int(at) + 1);
        Update update = UpdateArchive(archive_, newA_, newD_);
        EXPECT_TRUE(faults.fired());
        EXPECT_TRUE(update.closed);
        EXPECT_EQ(MembersWithStorm(archive_),
                  Expected(before_, update, ReadFile(newA_), ReadFile(newD_)));
    }

    faults.Arm();
    faults.FailEvery("open", EEXIST);
    errno = 0;
    EXPECT_EQ(client::OpenForUpdate((folder_ / "new.mpq").c_str(), 0x21, 64), nullptr);
    EXPECT_EQ(errno, EEXIST);
    int opens = 0;
    for (const SystemCallRecord& call : faults.records()) {
        opens += call.name == "open";
    }
    EXPECT_EQ(opens, 100);
    EXPECT_EQ(folder_.Files(), (std::vector<std::string>{"a.mpq", "new-a", "new-d"}));

    faults.Arm();
    faults.FailEvery("renameat2", ENOSYS);
    Update update = UpdateArchive(folder_ / "new.mpq", newA_, newD_);
    EXPECT_TRUE(update.closed);
    EXPECT_EQ(MembersWithStorm(folder_ / "new.mpq"),
              Expected({}, update, ReadFile(newA_), ReadFile(newD_)));
    EXPECT_EQ(folder_.Files(), (std::vector<std::string>{"a.mpq", "new-a", "new-d", "new.mpq"}));
}

// Each way of copying an archive copies all of it, past one piece of the
// buffer; a clone alone, where the file system cannot clone, copies nothing
// and says why.
TEST_F(UpdateSweep, EachCopyMethodCopiesAllOrSaysWhyNot) {
    using sfmpq::CopyMethod;
    const std::string content = Content(2500000, 6, false);
    WriteFile(newA_, content);
    {
        // As the file system does it: a whole clone, or the reason it has
        // none; the source stays as it was.
        int in = open(newA_.c_str(), O_RDONLY | O_CLOEXEC);
        int out = open(newD_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        bool reflinked = false;
        int error = sfmpq::CopyFileContent(in, out, CopyMethod::Reflink, &reflinked);
        close(in);
        close(out);
        EXPECT_TRUE(error == 0 || error == EOPNOTSUPP || error == EXDEV || error == EINVAL)
            << std::strerror(error);
        EXPECT_EQ(reflinked, error == 0);
        EXPECT_TRUE(ReadFile(newD_) == (error == 0 ? content : ""));
        EXPECT_TRUE(ReadFile(newA_) == content);
    }
    SystemCallFaults faults;
    for (CopyMethod method :
         {CopyMethod::Best, CopyMethod::Reflink, CopyMethod::KernelCopy, CopyMethod::UserCopy}) {
        SCOPED_TRACE(static_cast<int>(method));
        faults.Arm();
        faults.FailEvery("ficlone", EOPNOTSUPP);
        int in = open(newA_.c_str(), O_RDONLY | O_CLOEXEC);
        int out = open(newD_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        bool reflinked = true;
        int error = sfmpq::CopyFileContent(in, out, method, &reflinked);
        close(in);
        close(out);
        const bool cloneOnly = method == CopyMethod::Reflink;
        EXPECT_FALSE(reflinked);
        EXPECT_EQ(error, cloneOnly ? EOPNOTSUPP : 0);
        EXPECT_TRUE(ReadFile(newD_) == (cloneOnly ? "" : content));
    }
}

// An archive the system will not let this process write (another user's file,
// as far as its mode bits go writable) is refused before anything is copied.
TEST_F(UpdateSweep, AnArchiveTheSystemWillNotLetUsWriteIsNotUpdated) {
    WriteWithStorm(archive_, {{"a", "a"}});
    std::string original = ReadFile(archive_);
    SystemCallFaults faults;
    faults.Arm();
    faults.FailEvery("access", EACCES);
    errno = 0;
    EXPECT_EQ(client::OpenForUpdate(archive_.c_str(), 0x21, 64), nullptr);
    EXPECT_EQ(errno, EACCES);
    EXPECT_TRUE(ReadFile(archive_) == original);
    EXPECT_EQ(folder_.Files(), (std::vector<std::string>{"a.mpq"}));
}

// A new archive appears whole under its name, or not at all; also where the
// file system cannot rename without replacing, and the library links instead.
TEST_F(UpdateSweep, AFailingSystemCallLeavesNoArchiveOrANewOneWhole) {
    WriteFile(newA_, Content(250000, 3, false));
    WriteFile(newD_, Content(100000, 4, true));
    for (bool renameOffered : {true, false}) {
        SCOPED_TRACE(renameOffered ? "renameat2 offered" : "renameat2 not offered");
        Update update;
        auto check = [&](const SweepStep& step) {
            if (StoresData(step)) {
                EXPECT_FALSE(update.closed);
            }
            if (update.closed) {
                EXPECT_EQ(MembersWithStorm(archive_),
                          Expected({}, update, ReadFile(newA_), ReadFile(newD_)));
            } else {
                EXPECT_FALSE(Exists(archive_));
            }
            std::vector<std::string> files = {"new-a", "new-d"};
            if (Exists(archive_)) {
                files.insert(files.begin(), "a.mpq");
            }
            EXPECT_EQ(FilesAfter(step), files);
        };
        AlwaysFailing always;
        if (!renameOffered) {
            always.push_back({"renameat2", EINVAL});
        }
        auto prepare = [&] {
            std::remove(archive_.c_str());
            RemoveLeftovers();
        };
        int runs = SweepSystemCallFailures(
            prepare, [&] { update = UpdateArchive(archive_, newA_, newD_); }, check, always);
        EXPECT_GE(runs, 25);

        // Whatever another writer put at the name meanwhile stays, either way.
        prepare();
        SystemCallFaults faults;
        faults.Arm();
        for (const auto& call : always) {
            faults.FailEvery(call.first, call.second);
        }
        MpqHandle handle = client::OpenForUpdate(archive_.c_str(), 0x21, 64);
        ASSERT_NE(handle, nullptr);
        WriteFile(archive_, "someone else's");
        errno = 0;
        EXPECT_FALSE(client::CloseUpdate(handle));
        EXPECT_EQ(errno, EEXIST);
        EXPECT_EQ(ReadFile(archive_), "someone else's");
    }
}

// The copy is flushed to the disk before it takes the archive's name, and
// the folder after: otherwise a power cut could leave a name that points to
// nothing written.
TEST_F(UpdateSweep, TheCopyReachesTheDiskBeforeItTakesTheArchivesName) {
    WriteFile(newA_, Content(250000, 3, false));
    WriteFile(newD_, Content(100000, 4, true));
    WriteArchiveBefore();
    SystemCallFaults faults;
    faults.Arm();
    ASSERT_TRUE(UpdateArchive(archive_, newA_, newD_).closed);
    std::vector<SystemCallRecord> calls = faults.records();

    size_t rename = calls.size();
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].name == "rename" && calls[i].path2 == archive_) {
            rename = i;
        }
    }
    ASSERT_LT(rename, calls.size()) << "the copy is renamed over the archive";
    const std::string& copy = calls[rename].path;
    // The descriptors open on the copy and on the folder at each point.
    std::map<int, std::string> open;
    bool copyFlushed = false;
    bool folderFlushed = false;
    for (size_t i = 0; i < calls.size(); ++i) {
        const SystemCallRecord& call = calls[i];
        if (call.name == "open" && call.result >= 0) {
            open[static_cast<int>(call.result)] = call.path;
        } else if (call.name == "close") {
            open.erase(call.fd);
        } else if (call.name == "fsync" && call.result == 0) {
            if (i < rename && open[call.fd] == copy) {
                copyFlushed = true;
            }
            if (i > rename && open[call.fd] == folder_.path()) {
                folderFlushed = true;
            }
        }
    }
    EXPECT_TRUE(copyFlushed);
    EXPECT_TRUE(folderFlushed);
}

} // namespace

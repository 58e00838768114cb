// Updates are atomic: a process killed in the middle, a full disk, a second
// updater or an abandoned update never leave a damaged or half-updated
// archive, and no temporary file stays behind.
#include "sfmpq_test_support.h"
#include "tests/support/descriptors.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Every member of `path` as (name, content), read through the library.
std::map<std::string, std::string> Members(const std::string& path) {
    std::map<std::string, std::string> members;
    std::string list = ExtractFrom(path, "(listfile)");
    for (const ListEntry& e : List(path, list.c_str(), kListIsText)) {
        members[e.name] = ExtractFrom(path, e.name);
    }
    return members;
}

std::vector<std::pair<std::string, std::string>> Originals() {
    return {{"a", Content(2 << 20, 1, false)}, {"b", Content(300000, 2, true)}, {"c", "c"}};
}

void Wait(pid_t child, int* status) {
    while (waitpid(child, status, 0) < 0 && errno == EINTR) {
    }
}

TEST(AtomicUpdate, AProcessKilledAtAnyPointLeavesTheOldOrTheNewArchiveWhole) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    ASSERT_TRUE(AddFiles(archive, Originals()));
    pid_t lastChild = 0;
    for (int delayMs : {0, 2, 5, 10, 20, 40, 80, 160}) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        lastChild = child;
        if (child == 0) {
            // Rounds of updates, each replacing "a" and deleting and adding
            // "b", until killed.
            std::string source = folder / "source";
            for (uint32_t round = 100;; ++round) {
                MpqHandle h = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x21, 64);
                if (round == 100 && write(ready[1], "x", 1) != 1) {
                    _exit(2);
                }
                WriteFile(source, Content(2 << 20, round, false));
                Lib().MpqAddFileToArchiveEx(h, source.c_str(), "a", 0x10201, 2, 9);
                Lib().MpqDeleteFile(h, "b");
                WriteFile(source, Content(300000, 2, true));
                Lib().MpqAddFileToArchiveEx(h, source.c_str(), "b", 0x10201, 8, 9);
                Lib().MpqCloseUpdatedArchive(h, 0);
            }
        }
        char byte;
        ssize_t started = read(ready[0], &byte, 1);
        usleep(delayMs * 1000);
        kill(child, SIGKILL);
        int status = 0;
        Wait(child, &status);
        close(ready[0]);
        close(ready[1]);
        ASSERT_EQ(started, 1);

        auto members = Members(archive);
        ASSERT_EQ(members.size(), 5u) << "killed after " << delayMs << " ms";
        EXPECT_EQ(members["b"], Content(300000, 2, true));
        EXPECT_EQ(members["c"], "c");
        EXPECT_EQ(members["a"].size(), size_t(2 << 20));
    }
    // The next update removes what the killed processes left: the copies of
    // this archive whose process is gone, and no other file.
    const std::string gone = std::to_string(lastChild);
    const std::vector<std::string> kept = {
        ".a.mpq.sfmpq--5-keep1", ".a.mpq.sfmpq-1-keep1", ".a.mpq.sfmpq-" + gone + "x-keep1",
        ".a.mpq.sfmpq-x-keep1", ".b.mpq.sfmpq-" + gone + "-keep1"};
    for (const std::string& name : kept) {
        WriteFile(folder / name, "");
    }
    WriteFile(folder / (".a.mpq.sfmpq-" + gone + "-stale1"), "");
    ASSERT_TRUE(AddFiles(archive, {{"d", "d"}}));
    std::vector<std::string> expected = kept;
    expected.insert(expected.end(), {"a.mpq", "source"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folder.Files(), expected);
}

// Runs `update` in a child whose files may not grow beyond `limit` bytes,
// as on a full disk. Returns the child's exit code.
template <typename Update> int WithFileSizeLimit(rlim_t limit, Update update) {
    pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        _exit(update());
    }
    int status = 0;
    Wait(child, &status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(AtomicUpdate, AFullDiskLeavesTheArchiveWholeAndNoTemporaryFile) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    ASSERT_TRUE(AddFiles(archive, Originals()));
    std::string before = ReadFile(archive);
    std::string added = Content(1 << 20, 7, false);
    WriteFile(folder / "new", added);

    // No room for the copy: the open fails and says so.
    int code = WithFileSizeLimit(before.size() / 2, [&] {
        MpqHandle h = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x21, 64);
        return h ? 1 : (errno == EFBIG ? 0 : 2);
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(ReadFile(archive) == before);

    // Room for the copy, but the disk fills while adding, writing or
    // compacting. The archive is then either unchanged or has the new member
    // whole; the old members are always intact.
    for (size_t extra : {size_t(4096), size_t(300000), size_t(900000), size_t(1100000)}) {
        code = WithFileSizeLimit(before.size() + extra, [&] {
            MpqHandle h = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x21, 64);
            if (!h) {
                return 3;
            }
            bool addedOk =
                Lib().MpqAddFileToArchiveEx(h, (folder / "new").c_str(), "new", 0x10201, 2, 9);
            Lib().MpqDeleteFile(h, "c");
            bool closed = Lib().MpqCloseUpdatedArchive(h, 0);
            bool toldWhy = closed || errno == EFBIG || errno == ENOSPC;
            return (addedOk ? 4 : 0) | (closed ? 8 : 0) | (toldWhy ? 0 : 16);
        });
        EXPECT_EQ(code & 16, 0) << "a failed close says the disk is full, " << extra;
        ASSERT_NE(code, 3) << extra;
        auto members = Members(archive);
        EXPECT_EQ(members["a"], Originals()[0].second) << extra;
        EXPECT_EQ(members["b"], Originals()[1].second) << extra;
        if (code & 8) {
            EXPECT_TRUE((code & 4) ? members["new"] == added : members.count("new") == 0);
        } else {
            EXPECT_TRUE(ReadFile(archive) == before) << "a failed close changes nothing";
        }
        EXPECT_EQ(folder.Files(), (std::vector<std::string>{"a.mpq", "new"})) << extra;
        if (code & 8) {
            break; // the update went through; the archive is no longer the one before
        }
    }
}

// The replaced member is removed before its replacement is written: a
// replacement that the disk cannot hold must fail the whole update, or the
// member would be lost while the close reports success.
TEST(AtomicUpdate, AReplacementTheDiskCannotHoldLosesNoMember) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    ASSERT_TRUE(AddFiles(archive, Originals()));
    std::string before = ReadFile(archive);
    std::string replacement = Content(2 << 20, 9, false);
    WriteFile(folder / "new", replacement);
    for (size_t extra : {size_t(4096), size_t(600000), size_t(1500000), size_t(4000000)}) {
        int code = WithFileSizeLimit(before.size() + extra, [&] {
            MpqHandle h = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x21, 64);
            if (!h) {
                return 3;
            }
            bool replaced =
                Lib().MpqAddFileToArchiveEx(h, (folder / "new").c_str(), "a", 0x10201, 2, 9);
            bool closed = Lib().MpqCloseUpdatedArchive(h, 0);
            return (replaced ? 4 : 0) | (closed ? 8 : 0);
        });
        ASSERT_NE(code, 3) << extra;
        auto members = Members(archive);
        EXPECT_EQ(members["b"], Originals()[1].second) << extra;
        EXPECT_EQ(members["c"], "c") << extra;
        if (code & 8) {
            EXPECT_TRUE(members["a"] == ((code & 4) ? replacement : Originals()[0].second))
                << extra;
        } else {
            EXPECT_TRUE(ReadFile(archive) == before) << "a failed close changes nothing";
        }
        EXPECT_EQ(folder.Files(), (std::vector<std::string>{"a.mpq", "new"})) << extra;
        if (code & 8) {
            EXPECT_EQ(extra, size_t(4000000)) << "only with room for the replacement";
            break;
        }
    }
}

// The same when the replacement fails part-way for another reason: here its
// source holds less than its size says (a file of /sys, like a file cut
// short while it is being added).
TEST(AtomicUpdate, AReplacementThatFailsPartWayLeavesTheArchiveAsItWas) {
    const char* shortSource = "/sys/devices/system/cpu/online";
    struct stat info;
    if (stat(shortSource, &info) != 0 || info.st_size <= 64) {
        GTEST_SKIP() << "no file that holds less than its size says";
    }
    Folder folder;
    std::string archive = folder / "a.mpq";
    ASSERT_TRUE(AddFiles(archive, Originals()));
    std::string before = ReadFile(archive);
    MpqHandle h = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x21, 64);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(Lib().MpqAddFileToArchiveEx(h, shortSource, "a", 0x10201, 2, 9));
    EXPECT_FALSE(Lib().MpqCloseUpdatedArchive(h, 0)) << "the member \"a\" is gone";
    EXPECT_TRUE(ReadFile(archive) == before);
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"a.mpq"}));
}

// An update that changes nothing writes nothing: the archive stays the very
// file it was, with its other names and its times.
TEST(AtomicUpdate, AnUpdateThatChangesNothingLeavesTheFileItself) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    ASSERT_TRUE(AddFiles(archive, {{"c", "c"}}));
    struct stat before;
    ASSERT_EQ(stat(archive.c_str(), &before), 0);
    MpqHandle h = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x04, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(Lib().MpqDeleteFile(h, "none"));
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(h, 0));
    struct stat after;
    ASSERT_EQ(stat(archive.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"a.mpq"}));
}

// The temporary file beside an archive is named after it, cut so that an
// archive named near the file system's limit of 255 bytes still has one.
TEST(AtomicUpdate, AnArchiveOfTheLongestNameIsCreatedAndUpdated) {
    Folder folder;
    std::string archive = folder / (std::string(240, 'n') + ".mpq"); // AddFiles adds ".source"
    ASSERT_TRUE(AddFiles(archive, {{"a", "a"}}));
    ASSERT_TRUE(AddFiles(archive, {{"b", "b"}}));
    EXPECT_EQ(ExtractFrom(archive, "a") + ExtractFrom(archive, "b"), "ab");
}

TEST(AtomicUpdate, OneUpdaterAtATimeAndAbandonedUpdatesChangeNothing) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    ASSERT_TRUE(AddFiles(archive, {{"a", "a"}}));
    std::string before = ReadFile(archive);
    WriteFile(folder / "src", "src");
    const size_t unopened = OpenDescriptorCount();

    MpqHandle first = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x21, 64);
    ASSERT_NE(first, nullptr);
    errno = 0;
    EXPECT_EQ(Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x21, 64), nullptr);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(first, (folder / "src").c_str(), "b", 1, 0, 0));
    EXPECT_TRUE(ReadFile(archive) == before) << "nothing reaches the archive before the close";

    // Reading while the update runs sees the archive as it was.
    MpqHandle reader = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &reader));
    EXPECT_EQ(Extract(reader, "a"), "a");

    // Destroy abandons the unfinished update and closes everything.
    EXPECT_TRUE(Lib().SFMpqDestroy());
    EXPECT_FALSE(Lib().MpqCloseUpdatedArchive(first, 0));
    EXPECT_FALSE(Lib().SFileCloseArchive(reader));
    EXPECT_TRUE(ReadFile(archive) == before);
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"a.mpq", "src"}));
    EXPECT_EQ(OpenDescriptorCount(), unopened) << "the engines are ended, their channels closed";

    // The library works again afterwards, and the lock is gone; nor does a
    // written update keep the archive it replaced open.
    const size_t descriptors = OpenDescriptorCount();
    EXPECT_TRUE(AddFiles(archive, {{"b", "b"}}));
    EXPECT_EQ(ExtractFrom(archive, "b"), "b");
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST(AtomicUpdate, AnArchiveReachedThroughALinkIsUpdatedWhereItIs) {
    Folder folder;
    std::string real = folder / "real.mpq";
    ASSERT_TRUE(AddFiles(real, {{"a", "a"}}));
    ASSERT_EQ(symlink(real.c_str(), (folder / "link.mpq").c_str()), 0);
    ASSERT_TRUE(AddFiles(folder / "link.mpq", {{"b", "b"}}));
    char target[256] = {};
    EXPECT_GT(readlink((folder / "link.mpq").c_str(), target, sizeof target - 1), 0)
        << "still a link";
    EXPECT_EQ(ExtractFrom(real, "b"), "b");
}

TEST(AtomicUpdate, OfTwoUpdatesCreatingOneArchiveTheSecondFailsAndLosesNothing) {
    Folder folder;
    std::string archive = folder / "new.mpq";
    WriteFile(folder / "one", "one");
    WriteFile(folder / "two", "two");
    MpqHandle first = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x20, 16);
    MpqHandle second = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x20, 16);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr) << "neither exists yet, so neither is locked";
    EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(first, (folder / "one").c_str(), "one", 0, 0, 0));
    EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(second, (folder / "two").c_str(), "two", 0, 0, 0));
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(first, 0));
    errno = 0;
    EXPECT_FALSE(Lib().MpqCloseUpdatedArchive(second, 0)) << "would replace the first one's";
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ExtractFrom(archive, "one"), "one");
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"new.mpq", "one", "two"}));

    // Any file that appeared at the name meanwhile is kept as well.
    std::string other = folder / "other.mpq";
    MpqHandle update = Lib().MpqOpenArchiveForUpdate(other.c_str(), 0x20, 16);
    ASSERT_NE(update, nullptr);
    WriteFile(other, "someone else's");
    errno = 0;
    EXPECT_FALSE(Lib().MpqCloseUpdatedArchive(update, 0));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadFile(other), "someone else's");
}

TEST(AtomicUpdate, ConcurrentUpdatersInTwoProcessesLoseNoMember) {
    Folder folder;
    std::string archive = folder / "shared.mpq";
    WriteFile(folder / "src", "src");
    Lib();
    const int kEach = 12;
    std::vector<pid_t> children;
    for (int process = 0; process < 2; ++process) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Both begin while there is no archive: each may create it.
            for (int i = 0; i < kEach;) {
                MpqHandle h = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x20, 64);
                if (!h) {
                    if (errno != EBUSY) {
                        _exit(1);
                    }
                    usleep(500);
                    continue;
                }
                std::string name = "p" + std::to_string(process) + "_" + std::to_string(i);
                if (!Lib().MpqAddFileToArchiveEx(h, (folder / "src").c_str(), name.c_str(), 0, 0,
                                                 0)) {
                    _exit(2);
                }
                if (Lib().MpqCloseUpdatedArchive(h, 0)) {
                    ++i;
                } else if (errno != EEXIST) {
                    _exit(3);
                }
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        Wait(child, &status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    MpqHandle reader = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &reader));
    for (int process = 0; process < 2; ++process) {
        for (int i = 0; i < kEach; ++i) {
            std::string name = "p" + std::to_string(process) + "_" + std::to_string(i);
            MpqHandle member = nullptr;
            EXPECT_TRUE(Lib().SFileOpenFileEx(reader, name.c_str(), 0, &member)) << name;
            Lib().SFileCloseFile(member);
        }
    }
    Lib().SFileCloseArchive(reader);
}

TEST(AtomicUpdate, ANewArchiveGetsThePermissionsOfAnyNewFile) {
    Folder folder;
    for (mode_t mask : {mode_t(022), mode_t(027), mode_t(002)}) {
        std::string archive = folder / ("a" + std::to_string(mask) + ".mpq");
        mode_t saved = umask(mask);
        bool added = AddFiles(archive, {{"a", "a"}});
        umask(saved);
        ASSERT_TRUE(added);
        struct stat info;
        ASSERT_EQ(stat(archive.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask) << std::oct << mask;
    }
}

// The copy that replaces an archive is made private (0600) while it is
// written; the archive it replaces keeps its own permissions whatever they
// were, also the set-group-ID bit of a shared folder's files.
TEST(AtomicUpdate, AnUpdatedArchiveKeepsItsPermissions) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    ASSERT_TRUE(AddFiles(archive, {{"a", "a"}}));
    for (mode_t mode : {mode_t(0644), mode_t(0640), mode_t(0664), mode_t(0604), mode_t(02660)}) {
        ASSERT_EQ(chmod(archive.c_str(), mode), 0);
        ASSERT_TRUE(AddFiles(archive, {{"b" + std::to_string(mode), "b"}}));
        struct stat info;
        ASSERT_EQ(stat(archive.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode) << std::oct << mode;
    }
    // And its owner, where this process may hand a file to another.
    if (geteuid() == 0) {
        ASSERT_EQ(chown(archive.c_str(), 1234, 4321), 0);
        ASSERT_TRUE(AddFiles(archive, {{"owned", "b"}}));
        struct stat info;
        ASSERT_EQ(stat(archive.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 1234u);
        EXPECT_EQ(info.st_gid, 4321u);
    }
    MpqHandle update = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x21, 64);
    ASSERT_NE(update, nullptr);
    std::vector<std::string> copies;
    for (const std::string& name : folder.Files()) {
        struct stat info;
        if (name[0] == '.' && stat((folder / name).c_str(), &info) == 0) {
            copies.push_back(name);
            EXPECT_EQ(info.st_mode & 07777, 0600u) << name;
        }
    }
    EXPECT_EQ(copies.size(), 1u);
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(update, 0));
}

std::string ReplacedPath;
std::string ReplacementPath;
void ReplaceArchive() {
    rename(ReplacementPath.c_str(), ReplacedPath.c_str());
}

TEST(AtomicUpdate, AnArchiveReplacedJustBeforeItIsLockedIsUpdatedInItsNewForm) {
    Folder folder;
    ReplacedPath = folder / "a.mpq";
    ReplacementPath = folder / "next.mpq";
    ASSERT_TRUE(AddFiles(ReplacedPath, {{"a", "a"}}));
    // Another updater's finished copy, renamed over the archive after this
    // update opened the old file and before it locked it.
    ASSERT_TRUE(AddFiles(ReplacementPath, {{"a", "a"}, {"theirs", "theirs"}}));
    BeforeNextLock = ReplaceArchive;
    ASSERT_TRUE(AddFiles(ReplacedPath, {{"mine", "mine"}}));
    EXPECT_EQ(BeforeNextLock, nullptr);
    EXPECT_EQ(ExtractFrom(ReplacedPath, "theirs"), "theirs") << "the other update is kept";
    EXPECT_EQ(ExtractFrom(ReplacedPath, "mine"), "mine");
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"a.mpq"});
}

} // namespace

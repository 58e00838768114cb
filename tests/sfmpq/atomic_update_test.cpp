// Updates are atomic: a process killed in the middle, a full disk, a second
// updater or an abandoned update never leave a damaged or half-updated
// archive, and no temporary file stays behind.
#include "sfmpq_test_support.h"

#include <cerrno>
#include <csignal>
#include <map>
#include <sys/resource.h>
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
    for (int delayMs : {0, 2, 5, 10, 20, 40, 80, 160}) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
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
        ASSERT_EQ(members.size(), 4u) << "killed after " << delayMs << " ms";
        EXPECT_EQ(members["b"], Content(300000, 2, true));
        EXPECT_EQ(members["c"], "c");
        EXPECT_EQ(members["a"].size(), size_t(2 << 20));
    }
    // The next update removes what the killed processes left.
    ASSERT_TRUE(AddFiles(archive, {{"d", "d"}}));
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"a.mpq", "source"}));
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
            return (addedOk ? 4 : 0) | (closed ? 8 : 0);
        });
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

TEST(AtomicUpdate, OneUpdaterAtATimeAndAbandonedUpdatesChangeNothing) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    ASSERT_TRUE(AddFiles(archive, {{"a", "a"}}));
    std::string before = ReadFile(archive);
    WriteFile(folder / "src", "src");

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

    // The library works again afterwards, and the lock is gone.
    EXPECT_TRUE(AddFiles(archive, {{"b", "b"}}));
    EXPECT_EQ(ExtractFrom(archive, "b"), "b");
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

} // namespace

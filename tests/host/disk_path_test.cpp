// Taking apart paths on disk: the folder of a path, and which characters
// separate folders on this system.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "host/disk_path.h"
#include "host/host_os.h"
#include "support/system_call_faults.h"

using host::FolderOf;
using host::IsSeparatorOnDisk;

TEST(DiskPath, TheFolderOfAPathWithoutItsLastSeparator) {
    EXPECT_EQ(FolderOf("out/maps/a.txt"), "out/maps");
    EXPECT_EQ(FolderOf("/home/me/.config/tarnel/tarnel.ini"), "/home/me/.config/tarnel");
    EXPECT_EQ(FolderOf("a.txt"), "");
    EXPECT_EQ(FolderOf(""), "");
    // The root keeps its separator, so that it still names the root.
    EXPECT_EQ(FolderOf("/tarnel.ini"), "/");
}

#if defined(_WIN32)
TEST(DiskPath, OnWindowsBothSlashesSeparateAndDrivesKeepTheirRoot) {
    EXPECT_TRUE(IsSeparatorOnDisk('\\'));
    EXPECT_EQ(FolderOf("box/out\\maps\\a.txt"), "box/out\\maps");
    EXPECT_EQ(FolderOf("C:\\tarnel.ini"), "C:\\");
    EXPECT_EQ(FolderOf("C:\\tools\\tarnel.exe"), "C:\\tools");
}
#else
TEST(DiskPath, OnLinuxABackslashIsPartOfAFileName) {
    EXPECT_FALSE(IsSeparatorOnDisk('\\'));
    EXPECT_EQ(FolderOf("out/maps\\a.txt"), "out");
    EXPECT_EQ(FolderOf("maps\\a.txt"), "");
}
#endif

// Whichever system call of making a tree of folders fails, with whatever the
// system says: the folders are there when the call says so, and otherwise
// the failure names a folder of the path and why.
TEST(DiskPath, MakingFoldersFailsOnlyWithAReason) {
    char pattern[] = "/tmp/tarnel-folders-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string root = pattern;
    std::string target = root + "/a/b/c";
    bool made = false;
    std::string error;
    auto prepare = [&] { ASSERT_EQ(std::system(("rm -rf '" + root + "/a'").c_str()), 0); };
    auto check = [&](const SweepStep& step) {
        if (made) {
            EXPECT_EQ(host::StatPath(target), host::PathKind::Folder);
            EXPECT_TRUE(error.empty());
        } else {
            std::string folder = error.substr(0, error.find(": "));
            EXPECT_TRUE(!folder.empty() && target.rfind(folder, 0) == 0) << error;
        }
        if (step.fired && step.name == "mkdir" &&
            step.records[step.call - 1].path.rfind(root + "/a", 0) == 0) {
            EXPECT_FALSE(made);
            EXPECT_NE(error.find(std::strerror(step.error)), std::string::npos) << error;
        }
    };
    int runs = SweepSystemCallFailures(
        prepare, [&] { error.clear(), made = host::MakeFolders(target, error); }, check);
    EXPECT_GE(runs, 6);
    ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
}

// A file where a folder of the path is to be is no folder: making the tree
// fails and names it, whether the file stands in the middle or at the end.
TEST(DiskPath, AFileInTheWayOfAFolderFailsTheMaking) {
    char pattern[] = "/tmp/tarnel-folders-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string root = pattern;
    for (const char* file : {"/a", "/a/b/c"}) {
        SCOPED_TRACE(file);
        ASSERT_EQ(std::system(("rm -rf '" + root + "/a' && mkdir -p '" + root + "/a/b'").c_str()),
                  0);
        ASSERT_EQ(
            std::system(("rm -rf '" + root + file + "' && touch '" + root + file + "'").c_str()),
            0);
        std::string error;
        EXPECT_FALSE(host::MakeFolders(root + "/a/b/c", error));
        EXPECT_EQ(error.rfind(root + "/a", 0), 0u) << error;
    }
    ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
}

// What the system said, by the kind the command tells the user: every way
// of running out of room is a full disk.
TEST(DiskPath, SystemErrorsAreToldByKind) {
    using Kind = host::SystemError;
    const struct {
        int code;
        Kind::Kind kind;
    } cases[] = {{ENOSPC, Kind::NoSpace},    {EDQUOT, Kind::NoSpace}, {EFBIG, Kind::NoSpace},
                 {EROFS, Kind::ReadOnly},    {EACCES, Kind::Denied},  {EPERM, Kind::Denied},
                 {ENOEXEC, Kind::BadFormat}, {EIO, Kind::Other},      {0, Kind::None}};
    for (const auto& c : cases) {
        errno = c.code;
        host::SystemError error = host::TakeSystemError();
        EXPECT_EQ(error.kind, c.kind) << c.code;
        EXPECT_EQ(error.text, c.code ? std::strerror(c.code) : "") << c.code;
    }
}

#if !defined(_WIN32)
// The file layer's questions about paths, answered from what the system
// says, and when a call of it fails.
TEST(DiskPath, TheFileLayerAnswersFromTheSystemAndFailsSafe) {
    char pattern[] = "/tmp/tarnel-paths-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string root = pattern;
    ASSERT_EQ(std::system(("cd '" + root + "' && mkdir d && printf abc >f && chmod 444 f && " +
                           "printf x >w && chmod 002 w && ln -s f link && ln -s nowhere dangling")
                              .c_str()),
              0);
    uint64_t size = 0;
    EXPECT_EQ(host::StatPath(root + "/f", &size), host::PathKind::File);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(host::StatPath(root + "/d"), host::PathKind::Folder);
    EXPECT_EQ(host::StatPath("/dev/null"), host::PathKind::Other);
    EXPECT_EQ(host::StatPath(root + "/dangling"), host::PathKind::Missing);
    EXPECT_TRUE(host::IsLink(root + "/dangling"));
    EXPECT_FALSE(host::IsLink(root + "/f"));
    EXPECT_EQ(host::PathIdentity(root + "/link"), host::PathIdentity(root + "/f"));
    EXPECT_NE(host::PathIdentity(root + "/d"), host::PathIdentity(root + "/f"));
    EXPECT_EQ(host::PathIdentity(root + "/dangling"), "");
    EXPECT_EQ(host::ResolvedPath(root + "/link"), host::ResolvedPath(root) + "/f");
    EXPECT_EQ(host::ResolvedPath(root + "/dangling"), root + "/dangling");
    std::vector<std::string> names;
    EXPECT_TRUE(host::ListFolder(root, names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"d", "dangling", "f", "link", "w"}));
    // Nobody may write the file: refused even to root. The folder may be.
    EXPECT_EQ(host::WriteDenied(root + "/f"), std::strerror(EACCES));
    EXPECT_EQ(host::WriteDenied(root + "/d"), "");
    EXPECT_EQ(host::WriteDenied(root + "/w"), ""); // others may write it
    EXPECT_EQ(host::WriteDenied(root + "/nowhere"), std::strerror(ENOENT));
    EXPECT_TRUE(host::IsAbsolutePath("/a"));
    EXPECT_FALSE(host::IsAbsolutePath("a/b"));
    EXPECT_FALSE(host::IsAbsolutePath(""));
    EXPECT_NE(host::ExecutablePath().find("tarnel_host_unit_tests"), std::string::npos);
    EXPECT_EQ(host::CurrentFolder(), host::ResolvedPath("."));
    // A bare name is looked for in the current folder, not on the library
    // path.
    std::string error;
    EXPECT_EQ(host::LoadModule("no-such-plugin.wcx", error), nullptr);
    EXPECT_EQ(error.rfind("./no-such-plugin.wcx: ", 0), 0u) << error;
    // Folders are made as open as the umask lets them be.
    mode_t umaskBefore = umask(0);
    EXPECT_TRUE(host::MakeFolders(root + "/made/deeper", error)) << error;
    umask(umaskBefore);
    struct stat made;
    ASSERT_EQ(stat((root + "/made/deeper").c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 07777, 0777u);

    SystemCallFaults calls;
    for (const char* call : {"readlink", "getcwd", "realpath", "opendir", "stat", "faccessat"}) {
        SCOPED_TRACE(call);
        calls.Arm();
        calls.FailEvery(call, EIO);
        names.clear();
        EXPECT_EQ(host::ExecutablePath() == "", std::string(call) == "readlink");
        EXPECT_EQ(host::CurrentFolder() == "", std::string(call) == "getcwd");
        EXPECT_EQ(host::ResolvedPath(root + "/link") == root + "/link",
                  std::string(call) == "realpath");
        EXPECT_EQ(host::ListFolder(root, names), std::string(call) != "opendir");
        EXPECT_EQ(host::PathIdentity(root + "/f") == "", std::string(call) == "stat");
        EXPECT_EQ(host::WriteDenied(root + "/d"),
                  std::string(call) == "stat" || std::string(call) == "faccessat"
                      ? std::strerror(EIO)
                      : "");
    }
    ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
}
#endif

// Taking apart paths on disk: the folder of a path, and which characters
// separate folders on this system.
#include <gtest/gtest.h>

#include "host/disk_path.h"

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

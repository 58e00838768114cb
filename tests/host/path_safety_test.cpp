// Which member names may be written below the extraction folder, and the
// relative path they get there.
#include <gtest/gtest.h>

#include "host/path_safety.h"

using host::CheckMemberPath;

namespace {

std::string Relative(const std::string& name, bool windowsRules = false) {
    host::CheckedPath checked = CheckMemberPath(name, '/', windowsRules);
    EXPECT_TRUE(checked.ok) << name << ": " << checked.reason;
    return checked.relative;
}

bool Refused(const std::string& name, bool windowsRules = false) {
    return !CheckMemberPath(name, '/', windowsRules).ok;
}

} // namespace

TEST(MemberPath, NestedNamesBecomePathsWithTheDiskSeparator) {
    EXPECT_EQ(Relative("readme.txt"), "readme.txt");
    EXPECT_EQ(Relative("maps\\sub\\a.txt"), "maps/sub/a.txt");
    EXPECT_EQ(Relative("maps/sub\\a.txt"), "maps/sub/a.txt");
    // Empty parts and "." parts name nothing and are dropped.
    EXPECT_EQ(Relative("a\\\\.\\b.txt"), "a/b.txt");
    EXPECT_EQ(Relative(".\\b.txt"), "b.txt");
    EXPECT_EQ(CheckMemberPath("a\\b", '\\').relative, "a\\b");
}

TEST(MemberPath, NamesThatLeaveTheFolderAreRefused) {
    EXPECT_TRUE(Refused("..\\evil.txt"));
    EXPECT_TRUE(Refused("../evil.txt"));
    EXPECT_TRUE(Refused("a\\..\\..\\evil.txt"));
    EXPECT_TRUE(Refused("a\\b\\.."));
    EXPECT_TRUE(Refused(".."));
    EXPECT_TRUE(Refused("\\abs.txt"));
    EXPECT_TRUE(Refused("/etc/passwd"));
    EXPECT_TRUE(Refused("\\\\server\\share\\x.txt"));
    EXPECT_TRUE(Refused("C:\\windows\\x.txt"));
    EXPECT_TRUE(Refused("c:x.txt"));
    EXPECT_TRUE(Refused("C:")); // a bare drive
    EXPECT_TRUE(Refused("Z:x"));
    // A ".." cannot hide behind "." parts or doubled separators.
    EXPECT_TRUE(Refused("a\\.\\..\\..\\x"));
    EXPECT_TRUE(Refused("a\\\\..\\..\\x"));
}

TEST(MemberPath, NamesWithoutAFileNameAreRefused) {
    EXPECT_TRUE(Refused(""));
    EXPECT_TRUE(Refused("."));
    EXPECT_TRUE(Refused("dir\\"));
    EXPECT_TRUE(Refused("dir/"));
    EXPECT_TRUE(Refused(".\\.\\"));
}

TEST(MemberPath, DotsThatAreNotAParentFolderAreKept) {
    EXPECT_EQ(Relative("..a"), "..a");
    EXPECT_EQ(Relative("a..b\\c.."), "a..b/c..");
    EXPECT_EQ(Relative("...\\x"), ".../x");
    EXPECT_EQ(Relative("ab:c"), "ab:c"); // an ordinary name on Linux
    EXPECT_TRUE(Refused("a:b"));         // but a drive letter everywhere
}

TEST(MemberPath, WindowsRulesAlsoRefuseWhatWindowsWouldReinterpret) {
    // Windows trims trailing dots and blanks: ".. " and "..." are not plain names.
    EXPECT_TRUE(Refused(".. \\evil.txt", true));
    EXPECT_TRUE(Refused("...\\evil.txt", true));
    EXPECT_TRUE(Refused("a\\. .\\x", true));
    // A colon names a drive or an alternate data stream.
    EXPECT_TRUE(Refused("ab:c", true));
    EXPECT_TRUE(Refused("dir\\c:\\x", true));
    EXPECT_EQ(Relative("a..b\\c.txt", true), "a..b/c.txt");
    EXPECT_EQ(Relative("a\\.\\b", true), "a/b");
}

// Profile strings on POSIX behave like the Windows profile functions the
// settings store and the options dialog rely on.
#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/system_call_faults.h"
#include "support/test_support.h"

namespace {

class ProfileStringsTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string ini = dir.File("settings.ini");

    std::string Get(const char* section, const char* key, const char* def = "DEF",
                    uint32_t size = 2000) {
        std::string buffer(size, '#');
        uint32_t n = PlatformGetProfileString(section, key, def, &buffer[0], size, ini.c_str());
        std::string value(buffer.c_str());
        EXPECT_EQ(n, value.size());
        return value;
    }
};

TEST_F(ProfileStringsTest, NamesAreCaseInsensitiveAndBlanksAroundNamesAndValuesIgnored) {
    WriteFileText(ini, "  [ tarnelPLUGIN ]  \n  compTYPE  =   8  \nLocaleID=\t1031\t\n"
                       "Args = -x=1 =2\n");
    EXPECT_EQ(Get("TarnelPlugin", "CompType"), "8");
    EXPECT_EQ(Get("TARNELPLUGIN", "localeid"), "1031");
    EXPECT_EQ(Get("TarnelPlugin", "Args"), "-x=1 =2"); // the first '=' ends the name
}

TEST_F(ProfileStringsTest, TheDefaultStandsInForAMissingFileSectionOrKey) {
    EXPECT_EQ(Get("S", "K"), "DEF");
    WriteFileText(ini, "[Other]\nK=1\n[S]\nJ=2\n");
    EXPECT_EQ(Get("Missing", "K"), "DEF");
    EXPECT_EQ(Get("S", "K"), "DEF");
    EXPECT_EQ(Get("S", "K", ""), "");
    EXPECT_EQ(Get("S", "K", " \tDEF \t"), "DEF"); // without its blanks, as a value
    // A header without its bracket and a line without '=' are neither
    // section nor key.
    WriteFileText(ini, "[S]\n[Other\nK\nK=1\n");
    EXPECT_EQ(Get("S", "K"), "1");
    // Nothing to read into, or nothing to write.
    char buffer[4] = "abc";
    EXPECT_EQ(PlatformGetProfileString("S", "K", "DEF", buffer, 0, ini.c_str()), 0u);
    EXPECT_STREQ(buffer, "abc");
    for (int missing = 0; missing < 4; ++missing) {
        const char* parts[4] = {"S", "K", "2", ini.c_str()};
        parts[missing] = nullptr;
        errno = 0;
        EXPECT_EQ(PlatformWriteProfileString(parts[0], parts[1], parts[2], parts[3]), 0);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(ReadFileText(ini), "[S]\n[Other\nK\nK=1\n");
}

TEST_F(ProfileStringsTest, AnEmptyValueIsTheEmptyTextNotTheDefault) {
    WriteFileText(ini, "[S]\nK=\n");
    EXPECT_EQ(Get("S", "K"), "");
}

TEST_F(ProfileStringsTest, KeysOfOtherSectionsAndCommentsAreNotSeen) {
    WriteFileText(ini, "[A]\nK=a\n[S]\n;K=comment\n# K=comment\nX=1\n[B]\nK=b\n");
    EXPECT_EQ(Get("S", "K"), "DEF");
    EXPECT_EQ(Get("S", "# K"), "DEF");
    EXPECT_EQ(Get("S", ";K"), "DEF");
    EXPECT_EQ(Get("B", "K"), "b");
    // Of a key given twice in its section, and of a section given twice, the
    // first counts, as on Windows.
    WriteFileText(ini, "[S]\nK=first\nk=second\n[s]\nK=third\n");
    EXPECT_EQ(Get("S", "K"), "first");
}

TEST_F(ProfileStringsTest, ValuesAreCutToTheBufferLessOneAndTerminated) {
    WriteFileText(ini, "[S]\nK=abcdefghij\n");
    EXPECT_EQ(Get("S", "K", "DEF", 5), "abcd");
    EXPECT_EQ(Get("S", "missing", "0123456789", 4), "012");
    EXPECT_EQ(Get("S", "K", "DEF", 1), "");
}

TEST_F(ProfileStringsTest, CrlfAndLfFilesReadAlike) {
    WriteFileText(ini, "[S]\r\nK=v\r\nL=w\r\n");
    EXPECT_EQ(Get("S", "K"), "v");
    EXPECT_EQ(Get("S", "L"), "w");
}

TEST_F(ProfileStringsTest, WritingCreatesTheFileSectionAndKey) {
    mode_t mask = umask(027); // a new file is as open as the umask lets it be
    bool written = PlatformWriteProfileString("S", "K", "1", ini.c_str());
    umask(mask);
    ASSERT_TRUE(written);
    struct stat info;
    ASSERT_EQ(stat(ini.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    ASSERT_TRUE(PlatformWriteProfileString("S", "L", "2", ini.c_str()));
    ASSERT_TRUE(PlatformWriteProfileString("T", "K", "3", ini.c_str()));
    EXPECT_EQ(ReadFileText(ini), "[S]\nK=1\nL=2\n\n[T]\nK=3\n");
}

TEST_F(ProfileStringsTest, WritingReplacesAValueInPlaceAndKeepsEveryOtherLine) {
    WriteFileText(ini, "; my settings\r\n[Other]\r\nK=x\r\n\r\n[S]\r\n; the type\r\n"
                       "compType = 2\r\nMaxFiles=10\r\n\r\n[Last]\r\nZ=1\r\n");
    ASSERT_TRUE(PlatformWriteProfileString("s", "CompType", "8", ini.c_str()));
    ASSERT_TRUE(PlatformWriteProfileString("S", "LocaleID", "0", ini.c_str()));
    EXPECT_EQ(ReadFileText(ini),
              "; my settings\r\n[Other]\r\nK=x\r\n\r\n[S]\r\n; the type\r\n"
              "CompType=8\r\nMaxFiles=10\r\nLocaleID=0\r\n\r\n[Last]\r\nZ=1\r\n");
}

TEST_F(ProfileStringsTest, AnEmptyValueIsWrittenAsAKeyWithNothingAfterTheSign) {
    ASSERT_TRUE(PlatformWriteProfileString("S", "FileLists", "", ini.c_str()));
    EXPECT_EQ(ReadFileText(ini), "[S]\nFileLists=\n");
    EXPECT_EQ(Get("S", "FileLists"), "");
}

TEST_F(ProfileStringsTest, APairOfQuotesAroundAValueIsDropped) {
    WriteFileText(ini, "[S]\nA=\"/a b/l.txt\"\nB='wav'\nC=\"x'\nD=\"\nE=\"\"\n");
    EXPECT_EQ(Get("S", "A"), "/a b/l.txt");
    EXPECT_EQ(Get("S", "B"), "wav");
    EXPECT_EQ(Get("S", "C"), "\"x'");
    EXPECT_EQ(Get("S", "D"), "\"");
    EXPECT_EQ(Get("S", "E"), "");
}

TEST_F(ProfileStringsTest, WritingThroughALinkChangesTheLinkedFileAndKeepsItsPermissions) {
    std::string real = dir.File("real.ini");
    ASSERT_EQ(symlink(real.c_str(), ini.c_str()), 0);
    // The set-group-id and sticky bits too.
    for (mode_t mode : {0640, 02640, 01604}) {
        SCOPED_TRACE(mode);
        WriteFileText(real, "[S]\nK=1\n");
        ASSERT_EQ(chmod(real.c_str(), mode), 0);
        const size_t heap = HeapBytesInUse();
        ASSERT_TRUE(PlatformWriteProfileString("S", "K", "2", ini.c_str()));
        if (mode != 0640) { // after a first write has warmed the heap up
            EXPECT_EQ(HeapBytesInUse(), heap) << "the resolved path is given back";
        }
        struct stat info;
        ASSERT_EQ(lstat(ini.c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode));
        ASSERT_EQ(stat(real.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode);
        EXPECT_EQ(ReadFileText(real), "[S]\nK=2\n");
    }
}

// A file nobody may write is refused whoever asks, the superuser too, with
// the reason EACCES, and nothing is left beside it.
TEST_F(ProfileStringsTest, AReadOnlyFileIsNotWritten) {
    WriteFileText(ini, "[S]\nK=1\n");
    ASSERT_EQ(chmod(ini.c_str(), 0444), 0);
    errno = 0;
    EXPECT_FALSE(PlatformWriteProfileString("S", "K", "2", ini.c_str()));
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(ReadFileText(ini), "[S]\nK=1\n");
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
    // A file its group or others may write is written by whoever may write
    // it (the superuser always), its owner's write bit aside.
    for (mode_t mode : {0464, 0446}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(chmod(ini.c_str(), mode), 0);
        const bool mayWrite = access(ini.c_str(), W_OK) == 0;
        EXPECT_EQ(PlatformWriteProfileString("S", "K", "2", ini.c_str()), mayWrite ? 1 : 0);
        EXPECT_EQ(ReadFileText(ini), mayWrite ? "[S]\nK=2\n" : "[S]\nK=1\n");
    }
}

// Whichever system call of a write fails, with whatever the system says:
// the settings file is the old one or the new one, never anything between,
// no temporary file stays beside it nor a descriptor open, and the write
// reports a failure when the new content did not reach the file.
TEST_F(ProfileStringsTest, AFailingSystemCallLeavesTheOldFileOrTheNewOne) {
    const std::string before = "; kept\n[S]\nK=1\nOther=x\n\n[T]\nK=3\n";
    const std::string after = "; kept\n[S]\nK=2\nOther=x\n\n[T]\nK=3\n";
    for (bool existing : {true, false}) {
        SCOPED_TRACE(existing ? "an existing file" : "a new file");
        int result = 0;
        const size_t descriptors = OpenDescriptorCount();
        auto prepare = [&] {
            std::remove(ini.c_str());
            if (existing) {
                WriteFileText(ini, before);
            }
        };
        auto check = [&](const SweepStep& step) {
            if (StoresData(step) || (step.fired && step.name == "access")) {
                EXPECT_EQ(result, 0); // a file that may not be written stays too
            }
            if (result) {
                EXPECT_EQ(ReadFileText(ini), existing ? after : "[S]\nK=2\n");
            } else if (existing) {
                EXPECT_EQ(ReadFileText(ini), before);
            } else {
                EXPECT_FALSE(FileExists(ini));
            }
            EXPECT_EQ(FilesIn(dir.path()).size(), FileExists(ini) ? 1u : 0u);
            EXPECT_EQ(OpenDescriptorCount(), descriptors);
        };
        int runs = SweepSystemCallFailures(
            prepare, [&] { result = PlatformWriteProfileString("S", "K", "2", ini.c_str()); },
            check);
        EXPECT_GE(runs, 10);
    }
}

TEST_F(ProfileStringsTest, AFailedWriteLeavesTheFileAsItWas) {
    std::string missingFolder = dir.File("no/such/folder/settings.ini");
    EXPECT_FALSE(PlatformWriteProfileString("S", "K", "1", missingFolder.c_str()));
    EXPECT_FALSE(FileExists(missingFolder));
}

} // namespace

// The library loader in this process, with the system calls it makes
// through the platform layer redirected: no "tarnel.wcx" is loaded here, so
// it loads from the folder of the program's file, which the redirection
// places where a test wants it.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "archive_library/archive_library.h"
#include "archive_library/library_loader.h"
#include "platform/platform.h"
#include "platform/system_calls.h"
#include "support/test_support.h"

using ::testing::ElementsAre;

namespace {

std::string programFile;                 // where the program's file seems to be
std::vector<std::string> currentFolders; // each change of the current directory

class LibraryLoaderTest : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        currentFolders.clear();
        SystemCalls.readlink = [](const char*, char* buffer, size_t size) -> ssize_t {
            size_t length = std::min(programFile.size(), size);
            std::memcpy(buffer, programFile.data(), length);
            return static_cast<ssize_t>(length);
        };
        SystemCalls.realpath = [](const char* path) { return strdup(path); };
        SystemCalls.chdir = [](const char* path) {
            currentFolders.push_back(path);
            return 0;
        };
        saved_ = ArchiveLibrary;
        ArchiveLibrary = ArchiveLibraryRecord{};
    }
    void TearDown() override {
        SystemCalls = kRealSystemCalls;
        ArchiveLibrary = saved_;
    }

    ArchiveLibraryRecord saved_;
};

// A program in a root folder loads from the root itself, not from the
// current directory that an empty folder name would leave. The folder ends
// at the last separator, a slash or a backslash.
TEST_F(LibraryLoaderTest, AProgramInARootFolderLoadsFromTheRoot) {
    char current[4096];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    const struct {
        const char* file;
        const char* folder;
    } cases[] = {{"/host", "/"},
                 {"/folder/host", "/folder"},
                 {"C:\\host", "C:\\"},
                 {"/a\\b/host", "/a\\b"},
                 {"/a/b\\host", "/a/b"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        programFile = c.file;
        currentFolders.clear();
        { LibraryLoader loader; }
        EXPECT_THAT(currentFolders, ElementsAre(c.folder, current));
    }
}

// The folder is made current only when it can be known whole and the
// current directory put back afterwards: a program path that fills the
// 259-byte buffer (258 characters fit) and a current directory that cannot
// be read (removed under the host) leave the current directory alone.
TEST_F(LibraryLoaderTest, TheProgramsFolderIsMadeCurrentOnlyWhenItAndTheCurrentOneAreKnown) {
    char current[4096];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    const std::string fits = "/" + std::string(252, 'd');    // with "/host", 258 characters
    const std::string tooLong = "/" + std::string(253, 'd'); // 259
    const struct {
        std::string file;
        bool currentReadable;
        std::vector<std::string> changes;
    } cases[] = {
        {fits + "/host", true, {fits, current}},
        {tooLong + "/host", true, {}},
        {"/folder/host", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.size());
        programFile = c.file;
        currentFolders.clear();
        SystemCalls.getcwd = c.currentReadable ? kRealSystemCalls.getcwd : [](char*, size_t) {
            errno = ENOENT;
            return static_cast<char*>(nullptr);
        };
        { LibraryLoader loader; }
        EXPECT_EQ(currentFolders, c.changes);
    }
}

// A loader made while the library is loaded keeps it as it is, and leaves
// the current directory alone.
TEST_F(LibraryLoaderTest, ALibraryLoadedAlreadyIsKept) {
    void* self = dlopen(nullptr, RTLD_NOW);
    ASSERT_NE(self, nullptr);
    ArchiveLibrary.module = self;
    programFile = "/folder/host";
    {
        LibraryLoader loader;
        EXPECT_EQ(ArchiveLibrary.module, self);
        EXPECT_EQ(ArchiveLibrary.SFileOpenArchive, nullptr) << "nothing bound afresh";
    }
    EXPECT_TRUE(currentFolders.empty());
}

// Without the library beside the program nor in the current directory, the
// user is told once, as an error.
TEST_F(LibraryLoaderTest, AMissingLibraryIsReportedAsAnError) {
    char current[4096];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    TempDir dir;
    programFile = dir.File("host");
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    {
        LibraryLoader loader;
        EXPECT_EQ(ArchiveLibrary.module, nullptr);
    }
    ASSERT_EQ(chdir(current), 0);
    EXPECT_THAT(ShownMessages,
                ElementsAre(ShownMessage{"Cannot find SFMpq.dll!", "Error", kMessageBoxIconError}));
}

// Every entry point is bound to the library's function of its own name
// (here the built SFMpq.dll, found in the current directory).
TEST_F(LibraryLoaderTest, EachEntryPointIsBoundToTheFunctionOfItsName) {
    char current[4096];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    programFile = std::string(ARCHIVE_LIBRARY_FOLDER) + "/host";
    ASSERT_EQ(chdir(ARCHIVE_LIBRARY_FOLDER), 0);
    LibraryLoader loader;
    ASSERT_EQ(chdir(current), 0);
    const ArchiveLibraryRecord& l = ArchiveLibrary;
    ASSERT_NE(l.module, nullptr);
    // Its names stay its own: loaded global, they would stand in for the
    // host's functions of the same names in libraries loaded after it.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "SFileOpenArchive"), nullptr);
    const struct {
        void* bound;
        const char* name;
    } cases[] = {
        {reinterpret_cast<void*>(l.SFileSetLocale), "SFileSetLocale"},
        {reinterpret_cast<void*>(l.SFileOpenArchive), "SFileOpenArchive"},
        {reinterpret_cast<void*>(l.SFileGetFileInfo), "SFileGetFileInfo"},
        {reinterpret_cast<void*>(l.SFileListFiles), "SFileListFiles"},
        {reinterpret_cast<void*>(l.SFileOpenFileEx), "SFileOpenFileEx"},
        {reinterpret_cast<void*>(l.SFileGetFileSize), "SFileGetFileSize"},
        {reinterpret_cast<void*>(l.SFileReadFile), "SFileReadFile"},
        {reinterpret_cast<void*>(l.SFileCloseFile), "SFileCloseFile"},
        {reinterpret_cast<void*>(l.SFileCloseArchive), "SFileCloseArchive"},
        {reinterpret_cast<void*>(l.MpqOpenArchiveForUpdate), "MpqOpenArchiveForUpdate"},
        {reinterpret_cast<void*>(l.MpqAddFileToArchiveEx), "MpqAddFileToArchiveEx"},
        {reinterpret_cast<void*>(l.MpqAddWaveToArchive), "MpqAddWaveToArchive"},
        {reinterpret_cast<void*>(l.MpqDeleteFile), "MpqDeleteFile"},
        {reinterpret_cast<void*>(l.MpqSetFileLocale), "MpqSetFileLocale"},
        {reinterpret_cast<void*>(l.MpqCloseUpdatedArchive), "MpqCloseUpdatedArchive"},
        {reinterpret_cast<void*>(l.SFMpqDestroy), "SFMpqDestroy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(c.bound, nullptr);
        EXPECT_EQ(c.bound, dlsym(l.module, c.name));
    }
}

} // namespace

// The platform's module and error calls given nothing to work on, or too
// little room: they refuse, and write nothing they were not given.
TEST_F(LibraryLoaderTest, PlatformCallsRefuseMissingModulesAndBuffers) {
    char name[16] = "keep";
    programFile = "";
    EXPECT_EQ(PlatformGetModuleFileName(nullptr, name, sizeof name), 0u);
    EXPECT_STREQ(name, "");
    std::strcpy(name, "keep");
    programFile = "/opt/x/host";
    EXPECT_EQ(PlatformGetModuleFileName(nullptr, name, 0), 0u);
    EXPECT_STREQ(name, "keep");
    EXPECT_EQ(PlatformGetModuleFileName(nullptr, name, sizeof name), 11u);
    EXPECT_STREQ(name, "/opt/x/host");
    // Through symbolic links, the file they lead to.
    SystemCalls.realpath = [](const char*) { return strdup("/opt/y/real"); };
    EXPECT_EQ(PlatformGetModuleFileName(nullptr, name, sizeof name), 11u);
    EXPECT_STREQ(name, "/opt/y/real");
    EXPECT_NE(PlatformGetModuleHandle(nullptr), nullptr); // the program itself
    EXPECT_EQ(PlatformGetModuleHandle("no-such-module.so"), nullptr);
    EXPECT_EQ(PlatformLoadLibrary(nullptr), nullptr);
    EXPECT_EQ(PlatformLoadLibrary(""), nullptr);
    EXPECT_EQ(PlatformGetProcAddress(nullptr, "main"), nullptr);
    EXPECT_EQ(PlatformGetProcAddress(nullptr, "malloc"), nullptr) << "no search of every module";
    EXPECT_EQ(PlatformFreeLibrary(nullptr), 0);
    EXPECT_EQ(PlatformSetCurrentDirectory(nullptr), 0);
    EXPECT_EQ(PlatformCloseFile(nullptr), 0);
    // The current directory: with no room for it, the size it needs, its
    // zero included; with room, its length.
    char current[4096];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    const uint32_t length = static_cast<uint32_t>(std::strlen(current));
    std::string buffer(length + 1, '#');
    EXPECT_EQ(PlatformGetCurrentDirectory(length, &buffer[0]), length + 1);
    EXPECT_EQ(buffer, std::string(length + 1, '#'));
    EXPECT_EQ(PlatformGetCurrentDirectory(length + 1, &buffer[0]), length);
    EXPECT_STREQ(buffer.c_str(), current);

    std::strcpy(name, "keep");
    EXPECT_FALSE(PlatformErrorText(EACCES, name, 0));
    EXPECT_STREQ(name, "keep");
    EXPECT_FALSE(PlatformErrorText(0, name, sizeof name));
    EXPECT_STREQ(name, "");
    EXPECT_TRUE(PlatformErrorText(EACCES, name, 5));
    EXPECT_STREQ(name, "Perm");
    EXPECT_TRUE(PlatformErrorText(ENOSPC, name, sizeof name));
    EXPECT_STREQ(name, "No space left o");
}

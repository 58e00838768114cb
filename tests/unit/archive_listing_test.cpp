// Archive listing through OpenArchive, ReadHeader and CloseArchive: where
// the member names come from, what reaches the host's records, and how a
// failed open cleans up.
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_library/fake_archive_library.h"
#include "platform/platform.h"
#include "plugin/host_interface.h"
#include "settings/plugin_settings.h"
#include "support/test_support.h"

using ::testing::ElementsAre;

namespace {

class ArchiveListingTest : public PluginTest {
  protected:
    OpenRequest request = {};
    std::string path = "E:\\data\\foo.mpq";

    void* Open(int mode = kOpenList) {
        request.archivePath = path.c_str();
        request.openMode = mode;
        request.openResult = -7;
        return OpenArchive(&request);
    }

    void Configure(const char* fileLists, int simName) {
        PluginSettings.FileLists.count = SplitList(&PluginSettings.FileLists, fileLists);
        JoinList(&PluginSettings.FileLists, ' ', PluginSettings.FileListsJoined,
                 sizeof PluginSettings.FileListsJoined);
        PluginSettings.SimNameFileList = simName;
    }

    std::string ListingCall() {
        auto calls = Fake.CallsStartingWith("SFileListFiles");
        return calls.size() == 1 ? calls[0] : "listed " + std::to_string(calls.size()) + " times";
    }
};

TEST_F(ArchiveListingTest, AnInternalListIsReadWholeAndHandedToTheLibraryAsText) {
    Fake.members["(listfile)"] = "a.txt\r\nb.txt";
    PluginSettings.LocaleID = 1031;
    Configure("D:\\lists\\foo.txt", 1);
    void* handle = Open(kOpenExtract);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(request.openResult, -7); // untouched on success
    EXPECT_THAT(
        Fake.calls,
        ElementsAre("SFileSetLocale(1031)", "SFileOpenArchive(E:\\data\\foo.mpq, 0, 0)",
                    "SFileGetFileInfo(archive, 2)", "SFileOpenFileEx(archive, (listfile), 0)",
                    "SFileGetFileSize(member, null)", "SFileReadFile(member, 12, null)",
                    "SFileCloseFile(member)", "SFileListFiles(archive, a.txt\r\nb.txt, 1)"));
    CloseArchive(handle);
    EXPECT_EQ(Fake.openArchives, 0);
}

TEST_F(ArchiveListingTest, WithoutAnInternalListTheMatchingExternalListIsUsedAlone) {
    Configure("D:\\lists\\common.txt,D:\\lists\\Foo.txt,D:\\other\\foo.lst", 1);
    void* handle = Open();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(ListingCall(), "SFileListFiles(archive, D:\\lists\\Foo.txt, 0)");
    CloseArchive(handle);
}

TEST_F(ArchiveListingTest, WithoutNameMatchingAllExternalListsAreJoinedBySpaces) {
    for (int simName : {0, 2}) {
        ResetPluginState();
        Configure("D:\\lists\\common.txt,D:\\lists\\Foo.txt", simName);
        CloseArchive(Open());
        EXPECT_EQ(ListingCall(),
                  "SFileListFiles(archive, D:\\lists\\common.txt D:\\lists\\Foo.txt, 0)")
            << "SimNameFileList " << simName;
    }
}

TEST_F(ArchiveListingTest, BaseNamesCutOnlyTheLastExtensionAndNeverAtAFolderDot) {
    struct Case {
        const char* archive;
        const char* lists;
        const char* expected;
    } cases[] = {
        {"E:\\data\\a.b.mpq", "D:\\lists\\a.txt,D:\\lists\\a.b.txt", "D:\\lists\\a.b.txt"},
        {"E:\\data\\x.mpq", "D:\\lists\\x", "D:\\lists\\x"},
        {"E:\\data\\FOO.mpq", "D:\\my.lists\\foo", "D:\\my.lists\\foo"},
        {"E:\\data\\foo.mpq", "foo.txt", "foo.txt"},
        {"E:\\data\\foo.mpq", "D:\\l\\foo.txt,D:\\k\\FOO.lst", "D:\\l\\foo.txt"},
        {"E:\\data\\foo.mpq", "D:\\l\\fo.txt,D:\\l\\fooo.txt", "D:\\l\\fo.txt D:\\l\\fooo.txt"},
        {"/srv/maps/foo.mpq", "/lists/foo.txt", "/lists/foo.txt"},
        // One side with a folder, the other without.
        {"E:\\data\\foo.mpq", "D:\\l\\bar.txt,foo.txt", "foo.txt"},
        {"foo.mpq", "D:\\l\\foo.txt,D:\\l\\bar.txt", "D:\\l\\foo.txt"},
    };
    for (const Case& c : cases) {
        ResetPluginState();
        path = c.archive;
        Configure(c.lists, 1);
        CloseArchive(Open());
        EXPECT_EQ(ListingCall(), std::string("SFileListFiles(archive, ") + c.expected + ", 0)")
            << c.archive << " with " << c.lists;
    }
}

TEST_F(ArchiveListingTest, NoListsAtAllStillListWithTheEmptyText) {
    void* handle = Open();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(ListingCall(), "SFileListFiles(archive, , 0)");
    CloseArchive(handle);
}

TEST_F(ArchiveListingTest, ReadHeaderSkipsEmptySlotsAndFillsOnlyItsFourFields) {
    Fake.AddMember("dir\\one.txt", "12345", 3);
    Fake.listing.push_back(ListEntry{}); // an empty slot between members
    Fake.AddMember("two.bin", "xy");
    Fake.slotCount = 4; // and one the library leaves alone
    void* handle = Open();
    ASSERT_NE(handle, nullptr);

    EntryHeader header;
    std::memset(&header, 0x5A, sizeof header);
    EXPECT_EQ(ReadHeader(handle, nullptr), 10) << "and takes no entry";
    EXPECT_EQ(ReadHeader(nullptr, &header), 10);
    ASSERT_EQ(ReadHeader(handle, &header), 0);
    std::string expectedName = std::string("dir") + kHostSeparator + "one.txt";
    EXPECT_STREQ(header.fileName, expectedName.c_str());
    EXPECT_EQ(header.packSize, 3u);
    EXPECT_EQ(header.unpackSize, 5u);
    EXPECT_EQ(header.fileTime, 0xFFFFFFFFu);
    EXPECT_EQ(header.archiveName[0], 0x5A);
    EXPECT_EQ(header.fileName[expectedName.size() + 1], 0x5A);
    EXPECT_EQ(header.flags, 0x5A5A5A5A);
    EXPECT_EQ(header.hostOS, 0x5A5A5A5A);
    EXPECT_EQ(header.fileCRC, 0x5A5A5A5Au);

    ASSERT_EQ(ReadHeader(handle, &header), 0);
    EXPECT_STREQ(header.fileName, "two.bin");
    EXPECT_EQ(ReadHeader(handle, &header), 10);
    EXPECT_EQ(ReadHeader(handle, &header), 10);
    CloseArchive(handle);
}

TEST_F(ArchiveListingTest, AnUnterminatedNameIsCutInsideItsRecord) {
    ListEntry entry;
    std::memset(&entry, 'n', sizeof entry);
    entry.exists = 1;
    Fake.listing.push_back(entry);
    Fake.slotCount = 1;
    void* handle = Open();
    EntryHeader header = {};
    ASSERT_EQ(ReadHeader(handle, &header), 0);
    EXPECT_EQ(std::strlen(header.fileName), 259u);
    CloseArchive(handle);
}

// The records come cleared at every size: small tables from the heap, large
// ones (from 2 MiB: 7,490 slots) from fresh pages.
TEST_F(ArchiveListingTest, SlotsTheLibraryLeavesAloneReadAsEmptyAtEverySize) {
    for (uint32_t slots : {0u, 16u, 7489u, 7490u, 65536u, 1u << 20}) {
        for (bool member : {false, true}) {
            if (member && slots == 0) {
                continue;
            }
            ResetPluginState();
            Fake.slotCount = slots;
            if (member) {
                Fake.AddMember("only.txt", "x");
            }
            void* handle = Open();
            ASSERT_NE(handle, nullptr);
            EntryHeader header = {};
            if (member) {
                ASSERT_EQ(ReadHeader(handle, &header), 0) << slots << " slots";
                EXPECT_STREQ(header.fileName, "only.txt");
            }
            EXPECT_EQ(ReadHeader(handle, &header), 10) << slots << " slots";
            CloseArchive(handle);
        }
    }
}

// The memory behind them, at and around the size from which it is mapped:
// cleared, all of it writable, the mapped ones aligned to the large page
// with nothing of the mapping's spare room left mapped after them, and given
// back the way it was taken.
TEST_F(ArchiveListingTest, LargeBlocksOfEverySizeAroundTheMappedOnesComeClearedAndGoBack) {
    const size_t mapped = size_t(2) << 20;
    for (size_t size : {size_t(0), size_t(1), mapped - 1, mapped, mapped + 1, 2 * mapped}) {
        SCOPED_TRACE(size);
        auto* block = static_cast<unsigned char*>(PlatformAllocateLarge(size));
        ASSERT_NE(block, nullptr);
        if (size >= mapped) { // so that the kernel can back it with large pages
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % mapped, 0u);
            const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
            const uintptr_t after =
                (reinterpret_cast<uintptr_t>(block) + size + page - 1) & ~(page - 1);
            unsigned char resident = 0;
            errno = 0;
            EXPECT_EQ(mincore(reinterpret_cast<void*>(after), page, &resident), -1);
            EXPECT_EQ(errno, ENOMEM) << "the page after the block is not mapped";
        }
        size_t nonZero = 0;
        for (size_t i = 0; i < size; ++i) {
            nonZero += block[i] != 0;
        }
        EXPECT_EQ(nonZero, 0u);
        std::memset(block, 0x5A, size);
        PlatformFreeLarge(block, size);
    }
    // A size the mapping's spare room would carry past SIZE_MAX is refused.
    for (size_t size : {SIZE_MAX, SIZE_MAX - mapped + 1}) {
        EXPECT_EQ(PlatformAllocateLarge(size), nullptr) << size;
    }
}

TEST_F(ArchiveListingTest, OpenModesOtherThanListAndExtractAreRefusedUntouched) {
    TempDir dir;
    WriteFileText(dir.File("s.ini"), "[TarnelPlugin]\nLocaleID=5\n");
    std::strcpy(PluginSettings.SettingsPath, dir.File("s.ini").c_str());
    for (int mode : {2, -1, 100}) {
        EXPECT_EQ(Open(mode), nullptr);
        EXPECT_EQ(request.openResult, 24);
    }
    EXPECT_TRUE(Fake.calls.empty());
    EXPECT_EQ(PluginSettings.LocaleID, 0); // the settings file was not read
}

TEST_F(ArchiveListingTest, AnArchiveTheLibraryCannotOpenFailsWith13AndNoMessage) {
    Fake.openArchiveSucceeds = false;
    EXPECT_EQ(Open(), nullptr);
    EXPECT_EQ(request.openResult, 13);
    EXPECT_TRUE(ShownMessages.empty());
    EXPECT_TRUE(Fake.CallsStartingWith("SFileGetFileInfo").empty());
    // Each failed open gives its handle's memory back.
    size_t before = 0;
    for (int i = 0; i <= 200; ++i) {
        Open();
        Fake.calls.clear();
        before = i == 0 ? HeapBytesInUse() : before;
    }
    EXPECT_LT(HeapBytesInUse(), before + 2000);
}

TEST_F(ArchiveListingTest, AnInternalListThatCannotBeSizedOrReadFailsTheOpen) {
    Fake.members["(listfile)"] = "a.txt";
    Fake.sizeOverride["(listfile)"] = 0xFFFFFFFFu;
    Configure("D:\\lists\\foo.txt", 1);
    EXPECT_EQ(Open(), nullptr);
    EXPECT_EQ(request.openResult, 13);
    EXPECT_THAT(
        ShownMessages,
        ElementsAre(ShownMessage{"Cannot retrieve size of file. The archive is probably corrupted",
                                 "Error", 0x30}));
    EXPECT_TRUE(Fake.CallsStartingWith("SFileListFiles").empty());
    EXPECT_EQ(Fake.openMembers, 0);
    EXPECT_EQ(Fake.openArchives, 0);

    ResetPluginState();
    Fake.members["(listfile)"] = "a.txt";
    Fake.failReadAt = 1;
    EXPECT_EQ(Open(), nullptr);
    EXPECT_EQ(request.openResult, 13);
    EXPECT_THAT(ShownMessages,
                ElementsAre(ShownMessage{"An error occurred while reading from the archive.",
                                         "Error", 0x30}));
    EXPECT_EQ(Fake.openMembers, 0);
    EXPECT_EQ(Fake.openArchives, 0);
}

// A listing the library reports failed (an engine that could not list the
// archive even without guessing) fails the open: shown as empty, or with the
// members written before the failure, the archive would look whole.
TEST_F(ArchiveListingTest, AListingTheLibraryCouldNotMakeFailsTheOpen) {
    for (bool internalList : {true, false}) {
        ResetPluginState();
        Fake.AddMember("a.txt", "a");
        if (internalList) {
            Fake.members["(listfile)"] = "a.txt";
        }
        Fake.listFilesResult = 0;
        EXPECT_EQ(Open(), nullptr) << internalList;
        EXPECT_EQ(request.openResult, 13);
        EXPECT_EQ(ListingCall().rfind("SFileListFiles", 0), 0u) << ListingCall();
        EXPECT_EQ(Fake.openMembers, 0);
        EXPECT_EQ(Fake.openArchives, 0);
    }
}

TEST_F(ArchiveListingTest, TheOpenReloadsTheSettingsAndSetsTheirLocale) {
    TempDir dir;
    WriteFileText(dir.File("s.ini"), "[TarnelPlugin]\nLocaleID=1036\n");
    std::strcpy(PluginSettings.SettingsPath, dir.File("s.ini").c_str());
    CloseArchive(Open());
    EXPECT_EQ(Fake.calls.front(), "SFileSetLocale(1036)");
}

TEST_F(ArchiveListingTest, WithoutALoadedLibraryTheOpenFailsInsteadOfCrashing) {
    ArchiveLibrary = ArchiveLibraryRecord{};
    EXPECT_EQ(Open(), nullptr);
    EXPECT_EQ(request.openResult, 13);
}

// The loader leaves an entry point null when the library lacks it: each one
// that listing and extraction call is needed.
TEST_F(ArchiveListingTest, AnyEntryPointMissingFailsTheOpenWithoutCalls) {
    void (*const unbind[])() = {
        [] { ArchiveLibrary.SFileSetLocale = nullptr; },
        [] { ArchiveLibrary.SFileOpenArchive = nullptr; },
        [] { ArchiveLibrary.SFileGetFileInfo = nullptr; },
        [] { ArchiveLibrary.SFileListFiles = nullptr; },
        [] { ArchiveLibrary.SFileOpenFileEx = nullptr; },
        [] { ArchiveLibrary.SFileGetFileSize = nullptr; },
        [] { ArchiveLibrary.SFileReadFile = nullptr; },
        [] { ArchiveLibrary.SFileCloseFile = nullptr; },
        [] { ArchiveLibrary.SFileCloseArchive = nullptr; },
    };
    for (size_t i = 0; i < sizeof unbind / sizeof unbind[0]; ++i) {
        SCOPED_TRACE(i);
        ResetPluginState();
        unbind[i]();
        EXPECT_EQ(Open(), nullptr);
        EXPECT_EQ(request.openResult, 13);
        EXPECT_TRUE(Fake.calls.empty());
    }
}

TEST_F(ArchiveListingTest, CapsAndANullCloseNeedNoArchive) {
    EXPECT_EQ(GetPackerCaps(), 95);
    EXPECT_EQ(CloseArchive(nullptr), 0);
    EXPECT_EQ(OpenArchive(nullptr), nullptr);
    EXPECT_TRUE(Fake.calls.empty());
}

} // namespace

// The library loader as a host meets it: copies of tarnel.wcx are loaded
// with dlopen, so that the loader runs while the module initialises, and
// unloaded with dlclose. Stand-in libraries named SFMpq.dll record in a log
// file where they were loaded from, which folder was current then, their
// calls and their unloading.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/host_interface.h"

namespace {

using Lines = std::vector<std::string>;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

std::string RealPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    std::string result = resolved ? resolved : path;
    std::free(resolved);
    return result;
}

std::string CurrentDirectory() {
    char buffer[PATH_MAX * 2];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

void CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    ASSERT_TRUE(in.good() && out.good()) << from << " -> " << to;
}

Lines ReadLines(const std::string& path) {
    Lines lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// A library is still loaded when the dynamic linker finds it without loading.
bool IsLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) {
        dlclose(handle);
    }
    return handle != nullptr;
}

// What a step wrote to standard error (where the POSIX message box goes).
class StandardErrorCapture {
  public:
    explicit StandardErrorCapture(const std::string& file) : file_(file) {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    std::string Finish() {
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        std::ifstream in(file_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    std::string file_;
    int saved_;
};

class LibraryLoaderTest : public ::testing::Test {
  protected:
    std::string root;         // everything of this test
    std::string pluginFolder; // the plug-in's copy, with or without a library
    std::string elsewhere;    // the current directory while the host loads it
    std::string log;
    std::string startDirectory = CurrentDirectory();
    std::string loadMessages;
    std::string unloadMessages;

    void SetUp() override {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarnel-loader-XXXXXX";
        ASSERT_TRUE(mkdtemp(&pattern[0])) << pattern;
        root = RealPath(pattern);
        pluginFolder = MakeFolder(root + "/plugin");
        elsewhere = MakeFolder(root + "/elsewhere");
        log = root + "/library.log";
        setenv("TARNEL_LOADER_LOG", log.c_str(), 1);
        ASSERT_EQ(chdir(elsewhere.c_str()), 0);
    }

    void TearDown() override {
        EXPECT_EQ(chdir(startDirectory.c_str()), 0);
        unsetenv("TARNEL_LOADER_LOG");
        nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }

    static std::string MakeFolder(const std::string& path) {
        EXPECT_EQ(mkdir(path.c_str(), 0755), 0) << path;
        return path;
    }

    // A folder whose full path is longer than `length` characters.
    std::string MakeDeepFolder(const std::string& base, size_t length) {
        std::string path = base;
        while (path.size() <= length) {
            path = MakeFolder(path + "/" + std::string(60, 'd'));
        }
        return path;
    }

    // Loads the plug-in as a host does, recording what it said.
    void* Load(const std::string& plugin) {
        StandardErrorCapture capture(root + "/stderr");
        void* handle = dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
        loadMessages = capture.Finish();
        EXPECT_TRUE(handle) << dlerror();
        return handle;
    }

    void Unload(void* plugin) {
        StandardErrorCapture capture(root + "/stderr");
        EXPECT_EQ(dlclose(plugin), 0);
        unloadMessages = capture.Finish();
    }

    // Opens an archive through the plug-in: the library's calls show which
    // entry points were bound.
    int OpenAnArchive(void* plugin, const char* name = "absent.mpq") {
        auto openArchive = reinterpret_cast<void* (*)(OpenRequest*)>(dlsym(plugin, "OpenArchive"));
        EXPECT_TRUE(openArchive);
        std::string path = root + "/" + name;
        OpenRequest request = {path.c_str(), kOpenList, 0};
        EXPECT_EQ(openArchive ? openArchive(&request) : nullptr, nullptr);
        return request.openResult;
    }

    std::string Loaded(const std::string& library, const std::string& current) {
        return "load " + library + " in " + current;
    }
    std::string Unloaded(const std::string& library, const std::string& current) {
        return "unload " + library + " in " + current;
    }
};

TEST_F(LibraryLoaderTest, TheLibraryBesideThePluginIsLoadedThereBoundAndReleasedAtUnload) {
    CopyFile(PLUGIN_FILE, pluginFolder + "/tarnel.wcx");
    CopyFile(COMPLETE_LIBRARY, pluginFolder + "/SFMpq.dll");
    CopyFile(COMPLETE_LIBRARY, elsewhere + "/SFMpq.dll"); // current, but not the plug-in's
    const std::string library = pluginFolder + "/SFMpq.dll";

    void* plugin = Load(pluginFolder + "/tarnel.wcx");
    EXPECT_EQ(loadMessages, "");
    EXPECT_EQ(CurrentDirectory(), elsewhere);
    EXPECT_EQ(ReadLines(log), (Lines{Loaded(library, pluginFolder)}));
    EXPECT_TRUE(IsLoaded(library));

    EXPECT_EQ(OpenAnArchive(plugin), kResultBadArchive);
    EXPECT_EQ(ReadLines(log),
              (Lines{Loaded(library, pluginFolder), "SFileSetLocale", "SFileOpenArchive"}));

    Unload(plugin);
    EXPECT_EQ(unloadMessages, "");
    EXPECT_EQ(ReadLines(log),
              (Lines{Loaded(library, pluginFolder), "SFileSetLocale", "SFileOpenArchive",
                     "SFMpqDestroy", Unloaded(library, elsewhere)}));
    EXPECT_FALSE(IsLoaded(library));
    EXPECT_EQ(CurrentDirectory(), elsewhere);
}

// An archive that opens but cannot be listed is closed again, by the call
// for archives.
TEST_F(LibraryLoaderTest, AnArchiveThatCannotBeListedIsClosedAgain) {
    CopyFile(PLUGIN_FILE, pluginFolder + "/tarnel.wcx");
    CopyFile(COMPLETE_LIBRARY, pluginFolder + "/SFMpq.dll");
    void* plugin = Load(pluginFolder + "/tarnel.wcx");
    EXPECT_EQ(OpenAnArchive(plugin, "present.mpq"), kResultBadArchive);
    EXPECT_EQ(ReadLines(log).back(), "SFileCloseArchive");
    Unload(plugin);
}

TEST_F(LibraryLoaderTest, WithoutALibraryOneMessageAtLoadAndNothingAtUnload) {
    CopyFile(PLUGIN_FILE, pluginFolder + "/tarnel.wcx");

    void* plugin = Load(pluginFolder + "/tarnel.wcx");
    EXPECT_EQ(loadMessages, "Error: Cannot find SFMpq.dll!\n");
    EXPECT_EQ(CurrentDirectory(), elsewhere);
    // The module stays usable; nothing can be opened.
    EXPECT_EQ(OpenAnArchive(plugin), kResultBadArchive);

    Unload(plugin);
    EXPECT_EQ(unloadMessages, "");
    EXPECT_EQ(CurrentDirectory(), elsewhere);
    EXPECT_EQ(ReadLines(log), Lines{});
}

TEST_F(LibraryLoaderTest, ALibraryWithoutSFMpqDestroyIsStillFreed) {
    CopyFile(PLUGIN_FILE, pluginFolder + "/tarnel.wcx");
    CopyFile(LIBRARY_WITHOUT_DESTROY, pluginFolder + "/SFMpq.dll");
    const std::string library = pluginFolder + "/SFMpq.dll";

    void* plugin = Load(pluginFolder + "/tarnel.wcx");
    EXPECT_EQ(loadMessages, "");
    Unload(plugin);
    EXPECT_EQ(unloadMessages, "");
    EXPECT_EQ(ReadLines(log), (Lines{Loaded(library, pluginFolder), Unloaded(library, elsewhere)}));
    EXPECT_FALSE(IsLoaded(library));
}

TEST_F(LibraryLoaderTest, ALibraryLackingAnotherNameLoadsSilentlyAndThatEntryStaysUnbound) {
    CopyFile(PLUGIN_FILE, pluginFolder + "/tarnel.wcx");
    CopyFile(LIBRARY_WITHOUT_LIST_FILES, pluginFolder + "/SFMpq.dll");
    const std::string library = pluginFolder + "/SFMpq.dll";

    void* plugin = Load(pluginFolder + "/tarnel.wcx");
    EXPECT_EQ(loadMessages, "");
    EXPECT_EQ(CurrentDirectory(), elsewhere);
    // Listing needs SFileListFiles: the plug-in refuses to open an archive
    // rather than call an unbound entry point.
    EXPECT_EQ(OpenAnArchive(plugin), kResultBadArchive);
    Unload(plugin);
    EXPECT_EQ(ReadLines(log),
              (Lines{Loaded(library, pluginFolder), "SFMpqDestroy", Unloaded(library, elsewhere)}));
}

TEST_F(LibraryLoaderTest, ARenamedPluginLoadsTheLibraryWithTheHostProgramsFolderCurrent) {
    CopyFile(PLUGIN_FILE, pluginFolder + "/tarnel-copy.wcx");
    CopyFile(COMPLETE_LIBRARY, pluginFolder + "/SFMpq.dll");
    // The test program's folder holds a complete library named SFMpq.dll.
    const std::string hostFolder = FolderOf(RealPath("/proc/self/exe"));
    const std::string library = hostFolder + "/SFMpq.dll";
    ASSERT_EQ(access(library.c_str(), R_OK), 0) << library;

    void* plugin = Load(pluginFolder + "/tarnel-copy.wcx");
    EXPECT_EQ(loadMessages, "");
    EXPECT_EQ(CurrentDirectory(), elsewhere);
    Unload(plugin);
    EXPECT_EQ(ReadLines(log),
              (Lines{Loaded(library, hostFolder), "SFMpqDestroy", Unloaded(library, elsewhere)}));
}

TEST_F(LibraryLoaderTest, APluginPathTooLongForTheBufferLeavesTheCurrentDirectoryAlone) {
    // The module path buffer holds 258 characters and the zero.
    std::string deep = MakeDeepFolder(pluginFolder, 259);
    CopyFile(PLUGIN_FILE, deep + "/tarnel.wcx");
    CopyFile(COMPLETE_LIBRARY, deep + "/SFMpq.dll");
    CopyFile(COMPLETE_LIBRARY, elsewhere + "/SFMpq.dll");
    const std::string library = elsewhere + "/SFMpq.dll";

    void* plugin = Load(deep + "/tarnel.wcx");
    EXPECT_EQ(loadMessages, "");
    EXPECT_EQ(CurrentDirectory(), elsewhere);
    Unload(plugin);
    EXPECT_EQ(ReadLines(log),
              (Lines{Loaded(library, elsewhere), "SFMpqDestroy", Unloaded(library, elsewhere)}));
}

TEST_F(LibraryLoaderTest, ACurrentDirectoryTooLongToSaveIsKeptRatherThanLost) {
    // The saved directory's buffer holds 259 characters and the zero; a
    // longer current directory could not be put back, so it is not left.
    std::string deep = MakeDeepFolder(elsewhere, 260);
    ASSERT_EQ(chdir(deep.c_str()), 0);
    CopyFile(PLUGIN_FILE, pluginFolder + "/tarnel.wcx");
    CopyFile(COMPLETE_LIBRARY, pluginFolder + "/SFMpq.dll");
    CopyFile(COMPLETE_LIBRARY, deep + "/SFMpq.dll");
    const std::string library = deep + "/SFMpq.dll";

    void* plugin = Load(pluginFolder + "/tarnel.wcx");
    EXPECT_EQ(CurrentDirectory(), deep);
    EXPECT_EQ(ReadLines(log), (Lines{Loaded(library, deep)}));
    Unload(plugin);
    EXPECT_EQ(CurrentDirectory(), deep);
}

} // namespace

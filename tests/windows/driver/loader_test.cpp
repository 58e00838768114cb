// The library loader on Windows: SFMpq.dll is loaded with the plug-in's
// folder current (the host program's folder for a renamed plug-in), the
// current directory is restored, a missing library is reported by exactly
// one box while the module loads, and unloading calls SFMpqDestroy and
// frees the library.
#include "check.h"
#include "message_boxes.h"
#include "plugin_under_test.h"
#include "suites.h"

namespace {

std::string ProgramFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    return FolderOf(path);
}

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, sizeof path);
    return path;
}

bool SameFolder(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

void LibraryLoadsWithThePluginsFolderCurrent() {
    CHECK(Library.module != nullptr);
    if (!Library.module) {
        return;
    }
    CHECK_EQ(ModulePath(Library.module), JoinPath(Dirs.plugin, "SFMpq.dll"));
    CHECK_EQ(Library.LoadDirectory(), Dirs.plugin);
    CHECK_EQ(CurrentDirectory(), StartDirectory);
    // Nothing appeared on screen while the plug-in loaded.
    CHECK_EQ(TakeSeenBoxes().size(), 0u);
}

void UnloadingCallsDestroyOnceAndFreesTheLibrary() {
    // Hold the library so that its record can be read after the plug-in
    // let go of it.
    HMODULE held = LoadLibraryA(ModulePath(Library.module).c_str());
    Library.Reset();
    CHECK(FreeLibrary(Plugin));
    Plugin = nullptr;
    std::vector<std::string> calls = Library.Calls();
    CHECK_EQ(calls, std::vector<std::string>{"SFMpqDestroy()"});
    FreeLibrary(held);
    // The plug-in's own reference is gone too.
    CHECK(GetModuleHandleA("SFMpq.dll") == nullptr);
    CHECK_EQ(TakeSeenBoxes().size(), 0u);
}

} // namespace

void RunLoaderTests() {
    RunTest("loader: the library loads with the plug-in's folder current",
            LibraryLoadsWithThePluginsFolderCurrent);
}

void RunUnloadTests() {
    RunTest("loader: unloading calls SFMpqDestroy once and frees the library",
            UnloadingCallsDestroyOnceAndFreesTheLibrary);
}

// The plug-in alone in its folder, no SFMpq.dll anywhere on the search path.
void RunMissingLibraryScenario(const std::string& pluginPath) {
    static std::string path;
    path = pluginPath;
    RunTest("loader: a missing library is reported once, while the module loads", [] {
        CHECK(StartWatchingScreen());
        CHECK(RecordBoxesOfModulesLoadedLater());
        HMODULE plugin = LoadLibraryA(path.c_str());
        CHECK(plugin != nullptr);
        std::vector<RecordedBox> boxes = TakeRecordedBoxes();
        std::vector<SeenBox> seen = TakeSeenBoxes();
        CHECK_EQ(boxes.size(), 1u);
        CHECK_EQ(seen.size(), 1u);
        if (boxes.size() == 1) {
            CHECK(boxes[0].owner == nullptr);
            CHECK_EQ(boxes[0].text, "Cannot find SFMpq.dll!");
            CHECK_EQ(boxes[0].caption, "Error");
            CHECK_EQ(boxes[0].type, 0x10u);
            // Shown while the plug-in's folder was still current.
            CHECK(SameFolder(boxes[0].directory, FolderOf(path)));
        }
        if (seen.size() == 1) {
            CHECK_EQ(seen[0].text, "Cannot find SFMpq.dll!");
            CHECK_EQ(seen[0].caption, "Error");
        }
        CHECK_EQ(CurrentDirectory(), StartDirectory);
        CHECK(GetModuleHandleA("SFMpq.dll") == nullptr);
        if (!plugin) {
            return;
        }
        // The module stays usable: nothing is retried, nothing crashes.
        typedef int(WINAPI * CapsFn)(void);
        CapsFn caps = reinterpret_cast<CapsFn>(
            reinterpret_cast<void*>(GetProcAddress(plugin, "GetPackerCaps")));
        CHECK(caps && caps() == 95);
        auto open = reinterpret_cast<decltype(&OpenArchive)>(
            reinterpret_cast<void*>(GetProcAddress(plugin, "OpenArchive")));
        std::string archive = JoinPath(StartDirectory, "any.mpq");
        OpenRequest request = {archive.c_str(), 0, 0};
        CHECK(open && open(&request) == nullptr);
        CHECK(GetModuleHandleA("SFMpq.dll") == nullptr);
        CHECK(FreeLibrary(plugin));
        CHECK_EQ(TakeRecordedBoxes().size(), 0u);
        CHECK_EQ(TakeSeenBoxes().size(), 0u);
    });
}

// The plug-in under another file name, the recording library in the host
// program's folder.
void RunRenamedPluginScenario(const std::string& pluginPath) {
    static std::string path;
    path = pluginPath;
    RunTest("loader: a renamed plug-in loads the library from the host program's folder", [] {
        CHECK(StartWatchingScreen());
        CHECK(LoadPlugin(path));
        CHECK(Library.Attach());
        CHECK_EQ(TakeSeenBoxes().size(), 0u);
        if (!Library.module) {
            return;
        }
        CHECK(SameFolder(FolderOf(ModulePath(Library.module)), ProgramFolder()));
        CHECK(SameFolder(Library.LoadDirectory(), ProgramFolder()));
        CHECK_EQ(CurrentDirectory(), StartDirectory);
        // Bound: a listing goes through the library.
        Library.Reset();
        Library.AddMember("a.txt", "abc");
        std::string archive = JoinPath(StartDirectory, "renamed.mpq");
        OpenRequest request = {archive.c_str(), 0, 0};
        void* handle = Entry.openArchive(&request);
        CHECK(handle != nullptr);
        EntryHeader header = {};
        CHECK_EQ(Entry.readHeader(handle, &header), 0);
        CHECK_EQ(std::string(header.fileName), "a.txt");
        CHECK_EQ(Entry.closeArchive(handle), 0);
    });
}

// The plug-in beside a library that lacks SFMpqDestroy and MpqDeleteFile.
void RunPartialLibraryScenario(const std::string& pluginPath) {
    static std::string path;
    path = pluginPath;
    RunTest("loader: a library lacking entry points loads silently and is freed", [] {
        CHECK(StartWatchingScreen());
        CHECK(RecordBoxesOfModulesLoadedLater());
        CHECK(LoadPlugin(path));
        CHECK(Library.Attach());
        CHECK_BOXES({});
        if (!Library.module) {
            return;
        }
        CHECK(GetProcAddress(Library.module, "SFMpqDestroy") == nullptr);
        CHECK(GetProcAddress(Library.module, "MpqDeleteFile") == nullptr);

        // Listing needs neither.
        Library.Reset();
        Library.AddMember("a.txt", "abc");
        std::string archive = JoinPath(StartDirectory, "partial.mpq");
        OpenRequest request = {archive.c_str(), 0, 0};
        void* handle = Entry.openArchive(&request);
        CHECK(handle != nullptr);
        EntryHeader header = {};
        CHECK_EQ(Entry.readHeader(handle, &header), 0);
        CHECK_EQ(Entry.closeArchive(handle), 0);

        // Deleting cannot be done: it fails without calling the library.
        Library.Reset();
        std::string list = std::string("a.txt") + '\0' + '\0';
        CHECK_EQ(Entry.deleteFiles(&archive[0], &list[0]), 13);
        CHECK_EQ(Library.Calls().size(), 0u);

        // Unloading calls nothing and frees the library.
        HMODULE held = LoadLibraryA(ModulePath(Library.module).c_str());
        CHECK(FreeLibrary(Plugin));
        Plugin = nullptr;
        CHECK_EQ(Library.Calls().size(), 0u);
        FreeLibrary(held);
        CHECK(GetModuleHandleA("SFMpq.dll") == nullptr);
        CHECK_BOXES({});
    });
}

#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <ftw.h>
#include <malloc.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "fake_library/fake_archive_library.h"
#include "platform/platform.h"
#include "plugin/host_interface.h"
#include "settings/plugin_settings.h"

std::vector<ShownMessage> ShownMessages;
int ProgressStopAt = 0;
int ProgressCallCount = 0;

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarnel-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        ADD_FAILURE() << "cannot create a temporary folder";
    }
    path_ = buffer.data();
}

// Present only when the test is built with --coverage: what a normal exit
// runs to write the counters.
extern "C" void __gcov_exit(void) __attribute__((weak));

void EndChild(int status) {
    if (__gcov_exit) {
        __gcov_exit();
    }
    _exit(status);
}

namespace {

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    return std::remove(path);
}

} // namespace

// Removed without a shell: tests may leave PATH without the usual programs.
TempDir::~TempDir() {
    if (nftw(path_.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS) != 0) {
        std::fprintf(stderr, "cannot remove %s\n", path_.c_str());
    }
}

std::string TempDir::File(const std::string& name) const {
    return path_ + "/" + name;
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFileText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

size_t HeapBytesInUse() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    while (dirent* entry = dir ? readdir(dir) : nullptr) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    if (dir) {
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void PrintTo(const ShownMessage& message, std::ostream* out) {
    *out << "{\"" << message.text << "\", \"" << message.caption << "\", 0x" << std::hex
         << message.type << std::dec << "}";
}

namespace {

int RecordMessageBox(const char* text, const char* caption, uint32_t type) {
    ShownMessages.push_back({text, caption, type});
    return 1;
}

} // namespace

intptr_t TARNEL_STDCALL NeverCloses(PlatformWindow, uint32_t, uintptr_t, intptr_t) {
    return 1;
}

int TARNEL_STDCALL RecordingProgress(char* name, int count) {
    Fake.calls.push_back("Progress(" + std::string(name ? name : "<null>") + ", " +
                         std::to_string(count) + ")");
    return ++ProgressCallCount == ProgressStopAt ? 0 : 1;
}

namespace {

// PluginSettings as the module's start-up left it (constant-initialised, so
// already set when this copy is made).
const Settings SettingsAtModuleLoad = PluginSettings;

} // namespace

void ResetPluginState() {
    ProgressStopAt = 0;
    ProgressCallCount = 0;
    PluginSettings = SettingsAtModuleLoad;
    SetProcessDataProc(nullptr, nullptr);
    Fake.Reset();
    ShownMessages.clear();
    PlatformSetMessageBoxRecorder(RecordMessageBox);
}

// Helpers shared by the unit tests: a private temporary folder, captured
// message boxes, and the plug-in's process-wide state put back to how it is
// when the module loads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/calling_convention.h"
#include "platform/platform.h"
#include "support/descriptors.h"

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string File(const std::string& name) const;

  private:
    std::string path_;
};

std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
// The bytes glibc's malloc has handed out and not had back. Under
// AddressSanitizer, whose allocator it does not see, it stays put; the leak
// check covers that build.
size_t HeapBytesInUse();
// The names in `folder`, sorted, without "." and "..".
std::vector<std::string> FilesIn(const std::string& folder);

// Ends a forked child of a test with `status`, as _exit does; in a build
// with --coverage the child first writes its counters, so that what only a
// child runs counts as run.
[[noreturn]] void EndChild(int status);

// One message box as the plug-in showed it.
struct ShownMessage {
    std::string text;
    std::string caption;
    uint32_t type;
    bool operator==(const ShownMessage& other) const {
        return text == other.text && caption == other.caption && type == other.type;
    }
};
void PrintTo(const ShownMessage& message, std::ostream* out);

// The message boxes shown since the last ResetPluginState().
extern std::vector<ShownMessage> ShownMessages;

// A host progress callback for SetProcessDataProc: records each call in
// Fake.calls as "Progress(name, count)", so that it shows among the library
// calls, and answers 0 (stop) at the call numbered ProgressStopAt (counted
// from 1; 0 never stops).
extern int ProgressStopAt;
extern int ProgressCallCount;
int TARNEL_STDCALL RecordingProgress(char* name, int count);

// A dialog procedure that answers every message with 1: a dialog it runs
// never closes by itself.
intptr_t TARNEL_STDCALL NeverCloses(PlatformWindow, uint32_t, uintptr_t, intptr_t);

// Puts PluginSettings, the progress callback and the fake archive library
// back to their state at module load (the fake bound, nothing recorded), and
// starts capturing message boxes.
void ResetPluginState();

// A fixture that calls ResetPluginState() before each test.
class PluginTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetPluginState(); }
};

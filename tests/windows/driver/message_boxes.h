// Watching the message boxes the plug-in shows, two ways at once:
// - a recorder put in the place of MessageBoxA, which sees the exact owner,
//   text, caption and type (and the current directory at that moment) and
//   then shows the real box;
// - a thread-local WH_CBT hook, which sees each real box appear on screen,
//   reads its text and caption, and dismisses it with OK.
// The hook also hands the options dialog to the dialog robot.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RecordedBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    std::string directory; // the current directory while the box was shown
    int answer;            // what the real MessageBoxA returned
};

struct SeenBox {
    std::string text;
    std::string caption;
};

// Replaces `function` of `dll` in `module`'s import table by `replacement`.
// Returns false when the module does not import it by name.
bool ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement);

// Replaces `function` in `module`'s export table, so that modules loaded
// afterwards bind `replacement`. Returns false when it is not exported.
bool ReplaceExport(HMODULE module, const char* function, void* replacement);

// Records every box of `module` (its import of MessageBoxA replaced).
bool RecordBoxesOf(HMODULE module);

// Records every box of modules loaded from now on (user32's export of
// MessageBoxA replaced); for boxes shown while a module initialises.
bool RecordBoxesOfModulesLoadedLater();

// Installs the hook on the calling thread.
bool StartWatchingScreen();

// The boxes recorded, and seen on screen, since the last call; both lists
// are emptied.
std::vector<RecordedBox> TakeRecordedBoxes();
std::vector<SeenBox> TakeSeenBoxes();

// Checks that exactly the boxes `expected` (text, caption, type, in order)
// were shown since the last take, without an owner, both as recorded and as
// seen on screen.
struct ExpectedBox {
    std::string text;
    std::string caption;
    UINT type;
};
void CheckBoxes(const char* file, int line, const std::vector<ExpectedBox>& expected);
#define CHECK_BOXES(...) CheckBoxes(__FILE__, __LINE__, __VA_ARGS__)

// Called by the hook when a window titled like the options dialog is
// activated; set by the dialog robot.
typedef void (*DialogActivated)(HWND dialog);
void SetDialogHandler(const char* caption, DialogActivated handler);

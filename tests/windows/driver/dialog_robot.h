// Drives the options dialog like a user: once the dialog is on screen, a
// thread timer reads what it shows, clicks buttons (BM_CLICK), types into the
// edits (WM_CHAR) and ends it with OK, Cancel, Escape, Enter or the window's
// close command.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct DialogScript {
    enum class Finish { Ok, Cancel, Escape, Enter, Close };
    std::vector<int> clicks; // buttons clicked, in order, before the edits
    bool typeLocale = false;
    std::string locale; // typed into edit 1004 over its text
    bool typeMaxFiles = false;
    std::string maxFiles; // typed into edit 1006 over its text
    Finish finish = Finish::Ok;
};

// What the dialog showed. `checked` is the id of the one checked radio
// button, 0 when none is and -1 when several are.
struct DialogSeen {
    bool shown = false;
    HWND owner = nullptr;
    std::string caption;
    std::vector<std::string> controls; // "id class text" of each control with an id
    int checkedAtStart = 0;
    std::string localeAtStart;
    std::string maxFilesAtStart;
    int checkedAfterClicks = 0;
    bool closedByScript = true; // false when the robot had to end it itself
};

// Calls ConfigurePacker over `parent` with the plug-in's instance and plays
// `script` on the dialog. Returns ConfigurePacker's result.
int RunOptionsDialog(HWND parent, const DialogScript& script, DialogSeen* seen);

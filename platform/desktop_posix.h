// The desktop's own dialogs on POSIX, shown by a helper program the desktop
// provides (zenity, or kdialog for messages) started as a child process and
// waited for, so that they can be shown from any thread of the host without
// touching the host's toolkit.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// True when the process has a terminal to talk on: standard error is one,
// or the process has a controlling terminal.
bool PosixHasTerminal(void);

// True when a graphical session is there: DISPLAY or WAYLAND_DISPLAY is set
// and not empty.
bool PosixHasGraphicalSession(void);

// Shows a message box with the caption, the text and the icon of `type`
// (error, warning or information) through zenity, else kdialog, and waits
// until the user closes it. False when neither could show it.
bool PosixShowDesktopMessage(const char* text, const char* caption, uint32_t type);

// Runs `dialog` as a zenity form: one choice per group of radio buttons,
// one line per edit, each shown with its current value, which an empty
// answer keeps. The procedure sets the controls up first; OK then sends it
// kDialogOk, Cancel or closing the form kDialogCancel. Returns the dialog's
// result, or -1 when zenity cannot show the form (the procedure then had
// only the opening message).
intptr_t PosixRunDesktopForm(const PlatformDialogTemplate* dialog, PlatformDialogProc procedure,
                             intptr_t param);

// The text as a desktop dialog shows it, into `out` (of `size` bytes): valid
// UTF-8 stays, control characters and bytes that are not UTF-8 become \xNN,
// as on the terminal. Cut at a whole character when it does not fit.
void DesktopText(const char* text, char* out, size_t size);

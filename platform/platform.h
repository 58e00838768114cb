// The operating-system services the plug-in uses, behind one narrow
// interface. platform_win32.cpp implements it with thin calls to the Windows
// API; platform_posix.cpp gives the Windows semantics the plug-in relies on
// with POSIX calls. Nothing outside platform/ includes a system header of its
// own for these services.
//
// Strings are 8-bit, zero-terminated. Every function that fills a buffer
// takes the buffer's size and never writes past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/calling_convention.h"

// ---------------------------------------------------------------------------
// Paths at the host boundary
// ---------------------------------------------------------------------------

// The separator the host uses in names it hands over and expects back:
// the backslash on Windows, '/' for Linux file managers. Archive member
// names always use the backslash.
#if defined(_WIN32)
constexpr char kHostSeparator = '\\';
#else
constexpr char kHostSeparator = '/';
#endif

// True when c ends a folder part of a path on this platform: the backslash
// everywhere, and '/' too where the host's paths use it.
inline bool IsFolderSeparator(char c) {
    return c == '\\' || (kHostSeparator == '/' && c == '/');
}

// ---------------------------------------------------------------------------
// Profile strings (the settings file)
// ---------------------------------------------------------------------------

// Copies the value of `key` in `section` of the INI file `file` into
// `buffer`, cut to size - 1 characters and zero-terminated; copies `def`
// (cut the same way) when the file, section or key is missing. Section and
// key names compare case-insensitively; blanks around names and values are
// ignored. Returns the number of characters copied.
uint32_t PlatformGetProfileString(const char* section, const char* key, const char* def,
                                  char* buffer, uint32_t size, const char* file);

// Sets `key` in `section` of `file` to `value`, creating the file, the
// section and the key as needed and keeping every other line in its place.
// Returns non-zero on success.
int PlatformWriteProfileString(const char* section, const char* key, const char* value,
                               const char* file);

// ---------------------------------------------------------------------------
// Message boxes and errors
// ---------------------------------------------------------------------------

enum : uint32_t {
    kMessageBoxIconError = 0x10,
    kMessageBoxIconWarning = 0x30,
};

// Shows a modal message box without an owner window and waits until the
// user closes it; returns the button pressed (1 for OK). On POSIX, in a
// graphical session (DISPLAY or WAYLAND_DISPLAY) and without a terminal
// (standard error is none, nor is there a controlling terminal), the desktop
// shows it through zenity or kdialog, started as a child process; otherwise,
// or when neither helper can show it, it is one line on standard error,
// "<caption>: <text>", answered as OK. Safe from any thread. The last error
// code is the same afterwards.
int PlatformMessageBox(const char* text, const char* caption, uint32_t type);

// The calling thread's last error code (errno on POSIX), and setting it.
uint32_t PlatformGetLastError(void);
void PlatformSetLastError(uint32_t code);

// Writes the system's text for an error code into `buffer` (bounded and
// terminated). Returns false, leaving `buffer` empty, when the system has
// no text for the code.
bool PlatformErrorText(uint32_t code, char* buffer, size_t size);

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

typedef void* PlatformFile; // null means no file

// Creates `path` for writing only when no file of that name exists yet
// (never opening or replacing an existing one). Returns null on failure.
PlatformFile PlatformCreateNewFile(const char* path);

// Creates a new, empty, uniquely named file in the folder of `path` (beside
// it; the name is short, so that it fits wherever `path` does) and opens it
// for writing; its full name goes to `tempPath`. Returns null on failure, or
// when the name does not fit in `tempPathSize`.
PlatformFile PlatformCreateTempFileBeside(const char* path, char* tempPath, size_t tempPathSize);

// Writes `count` bytes; `*written` receives the number stored. Returns
// non-zero on success.
int PlatformWriteFile(PlatformFile file, const void* data, uint32_t count, uint32_t* written);

// Closes a file from PlatformCreateNewFile or PlatformCreateTempFileBeside.
// Returns non-zero when everything written reached the file.
int PlatformCloseFile(PlatformFile file);

// Deletes a file. Returns non-zero on success.
int PlatformDeleteFile(const char* path);

// Removes the folder `path` if it is empty: never anything in it, and never
// the folder a link points to. Returns non-zero on success.
int PlatformRemoveEmptyFolder(const char* path);

// Moves `from` over `to`, replacing `to` if it exists, as one step where the
// system allows. As on Windows, a read-only `to` is not replaced: on POSIX
// one this process may not write, or that has no write permission at all,
// whoever asks. The replacement takes the permissions of the file it
// replaces. Returns non-zero on success.
int PlatformReplaceFile(const char* from, const char* to);

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

// A zeroed block of `size` bytes for a large table that is filled once and
// then read (an archive's listing: 280 bytes per slot, 18 MiB for 65,536
// slots). From the system's fresh pages, in large pages where it has them,
// so that filling it does not stop at every 4 KiB. Null when there is no
// memory. Freed with PlatformFreeLarge and the same size.
void* PlatformAllocateLarge(size_t size);
void PlatformFreeLarge(void* block, size_t size);

// ---------------------------------------------------------------------------
// Modules and the current directory
// ---------------------------------------------------------------------------

typedef void* PlatformModule; // null means none

// The loaded module whose file is named `name`, or null; null asks for the
// program's own executable.
PlatformModule PlatformGetModuleHandle(const char* name);

// The full path of `module` (null: the executable) into `buffer`, at most
// size - 1 characters and terminated. Returns the length copied; a path that
// does not fit returns `size`.
uint32_t PlatformGetModuleFileName(PlatformModule module, char* buffer, uint32_t size);

// Loads a library; a bare name is looked up in the current directory first,
// then by the system's usual search. Returns null on failure.
PlatformModule PlatformLoadLibrary(const char* name);

// The address of the exported symbol `name`, or null.
void* PlatformGetProcAddress(PlatformModule module, const char* name);

// Unloads a library loaded by PlatformLoadLibrary.
int PlatformFreeLibrary(PlatformModule module);

// The current directory into `buffer` of `size` characters; returns its
// length, or the size needed when it does not fit.
uint32_t PlatformGetCurrentDirectory(uint32_t size, char* buffer);

// Makes `path` the process's current directory. Returns non-zero on success.
int PlatformSetCurrentDirectory(const char* path);

// ---------------------------------------------------------------------------
// Modal dialogs
// ---------------------------------------------------------------------------

typedef void* PlatformWindow; // a window or dialog; null means none

// A dialog's message procedure: the dialog, the message and its two
// parameters. Returns non-zero for a message it handled, 0 otherwise.
typedef intptr_t(TARNEL_STDCALL* PlatformDialogProc)(PlatformWindow dialog, uint32_t message,
                                                     uintptr_t wParam, intptr_t lParam);

// The messages a dialog procedure receives: once before the dialog is
// shown (lParam is the creation value), and for each command, the command
// id in wParam (upper half: the notification code, 0 for a button click).
enum : uint32_t {
    kDialogMessageInit = 0x0110,
    kDialogMessageCommand = 0x0111,
};

// The commands of the two push buttons every modal dialog here has. Enter
// sends kDialogOk, Escape and closing the window kDialogCancel.
enum : int { kDialogOk = 1, kDialogCancel = 2 };

// What a dialog holds, for the text form that stands in for it where there
// is no window system. Items are shown in order: a group item heads a choice
// among the radio buttons that follow it; an edit item is one line of text,
// labelled by its text.
enum PlatformDialogItemKind : int {
    kDialogItemGroup = 1,
    kDialogItemRadioButton = 2,
    kDialogItemEdit = 3,
};
struct PlatformDialogItem {
    PlatformDialogItemKind kind;
    int32_t id; // -1 for a group
    const char* text;
};

// A dialog: its template's resource id in the module (Windows) and its
// caption and items (the text form).
struct PlatformDialogTemplate {
    uint16_t resourceId;
    const char* caption;
    const PlatformDialogItem* items;
    int itemCount;
};

// Runs a dialog modally over `parent` and returns the value its procedure
// handed to PlatformEndDialog; -1 when the dialog cannot be shown, in which
// case the procedure is never called. `param` reaches the procedure with
// kDialogMessageInit. On Windows this is DialogBoxParamA with the template
// of `instance`. On POSIX, with a null parent and a terminal on standard
// input and output the dialog is shown as a text form on the terminal;
// otherwise, in a graphical session, as a zenity form (when zenity cannot
// show it, the procedure has had only kDialogMessageInit); otherwise it
// cannot be shown.
intptr_t PlatformDialogBox(PlatformModule instance, const PlatformDialogTemplate* dialog,
                           PlatformWindow parent, PlatformDialogProc procedure, intptr_t param);

// Sets the check mark of button `id` of `dialog` (BM_SETCHECK with
// BST_CHECKED); the other buttons keep theirs.
void PlatformCheckDialogButton(PlatformWindow dialog, int id);

// 1 when button `id` of `dialog` is checked, 0 when not or when there is no
// such button.
uint32_t PlatformIsDialogButtonChecked(PlatformWindow dialog, int id);

// Replaces the text of item `id` of `dialog`. Returns non-zero on success.
int PlatformSetDialogItemText(PlatformWindow dialog, int id, const char* text);

// Copies the text of item `id` of `dialog` into `buffer`, at most size - 1
// characters and terminated. Returns the length copied (0, with an empty
// buffer, when there is no such item).
uint32_t PlatformGetDialogItemText(PlatformWindow dialog, int id, char* buffer, int size);

// Ends the modal `dialog` once its procedure returns: PlatformDialogBox then
// returns `result`. Returns non-zero on success.
int PlatformEndDialog(PlatformWindow dialog, intptr_t result);

#if !defined(_WIN32)
// ---------------------------------------------------------------------------
// Test support (POSIX backend only)
// ---------------------------------------------------------------------------

// Receives every message box instead of standard error while set; returns
// the button to answer with. Null restores standard error.
typedef int (*PlatformMessageBoxRecorder)(const char* text, const char* caption, uint32_t type);
void PlatformSetMessageBoxRecorder(PlatformMessageBoxRecorder recorder);

// A dialog as the POSIX backend keeps it: the state of its controls and its
// end. PlatformDialogBox builds one from the template for the text form; a
// test builds one to drive a dialog procedure directly. The dialog
// functions above act on the PlatformWindow that points to it.
enum : int { kPosixDialogControlCapacity = 16, kPosixDialogTextSize = 1024 };
struct PosixDialogControl {
    int32_t id;
    PlatformDialogItemKind kind;
    uint32_t checked;                // buttons
    char text[kPosixDialogTextSize]; // edits: longer texts are cut
};
struct PosixDialog {
    PosixDialogControl controls[kPosixDialogControlCapacity];
    int controlCount;
    bool ended;
    intptr_t result;
};

// Fills `state` with one unchecked, empty control per button and edit of
// `dialog`, not yet ended.
void PosixDialogFromTemplate(const PlatformDialogTemplate* dialog, PosixDialog* state);

// Runs `dialog` as a text form over `in` and `out`: the procedure sets the
// controls up, the user answers one prompt per choice and edit (an empty
// answer keeps the shown value), then confirms (kDialogOk) or cancels
// (kDialogCancel); the end of input cancels. Returns the dialog's result.
intptr_t PosixRunTextForm(const PlatformDialogTemplate* dialog, PlatformDialogProc procedure,
                          intptr_t param, FILE* in, FILE* out);
#endif

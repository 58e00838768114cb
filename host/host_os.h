// The operating-system services the tarnel command needs, behind one small
// interface: host_os_posix.cpp implements it for Linux, host_os_win32.cpp for
// Windows. The command is the host, not the plug-in, so it has its own layer
// and links none of the plug-in's platform code but the table of system calls
// (platform/system_calls.h) that its Linux side calls through.
//
// Paths are 8-bit strings in the system's code page, as the plug-in takes
// them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace host {

// What differs between the systems, for the portable code of the command.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
constexpr bool kWindowsPathRules = true;
constexpr bool kNamesAreUtf8 = false;
constexpr const char* kDefaultSettingsShown = "%APPDATA%\\tarnel\\tarnel.ini";
constexpr const char* kOptionsDialogNeeds = "";
#else
constexpr char kPathSeparator = '/';
constexpr bool kWindowsPathRules = false;
constexpr bool kNamesAreUtf8 = true;
constexpr const char* kDefaultSettingsShown = "$XDG_CONFIG_HOME/tarnel/tarnel.ini";
constexpr const char* kOptionsDialogNeeds = " (it needs a terminal on standard input and output)";
#endif
// kPathSeparator: the separator for paths on disk.
// kWindowsPathRules: names on disk follow the Windows rules (no ':', no
//   names of only dots and blanks).
// kNamesAreUtf8: names are shown as UTF-8, where the bytes 0xC2 0x80 to
//   0xC2 0x9F are control characters; Windows shows them in an 8-bit code
//   page, where these bytes are ordinary letters.
// kDefaultSettingsShown: the default settings file, as the help text shows it.
// kOptionsDialogNeeds: what the options dialog needs, when it cannot be shown.

// Where the settings file is when the user names none:
// $XDG_CONFIG_HOME/tarnel/tarnel.ini (else ~/.config/tarnel/tarnel.ini) on
// Linux, %APPDATA%\tarnel\tarnel.ini on Windows; "" when neither is known.
std::string DefaultSettingsPath();

// ---------------------------------------------------------------------------
// Loading the plug-in
// ---------------------------------------------------------------------------

// Loads the module at `path` (a path, never searched for by name). Returns
// null and puts the system's reason into `error` on failure.
void* LoadModule(const std::string& path, std::string& error);

// The address of the exported symbol `name` of `module`, or null.
void* FindSymbol(void* module, const char* name);

// Unloads a module from LoadModule.
void UnloadModule(void* module);

// The full path of the running executable, or "" when it cannot be found.
std::string ExecutablePath();

// ---------------------------------------------------------------------------
// Files and folders
// ---------------------------------------------------------------------------

enum class PathKind { Missing, File, Folder, Other };

// What `path` names, symbolic links followed. `size` receives a file's size.
PathKind StatPath(const std::string& path, uint64_t* size = nullptr);

// True when `path` itself is a symbolic link (on Windows also a junction),
// whatever it points to.
bool IsLink(const std::string& path);

// An identity of the file or folder `path` (device and file number), so that
// a walk can notice a folder it has already entered or the archive itself.
// Empty when it cannot be found.
std::string PathIdentity(const std::string& path);

// The names in folder `path`, without "." and "..", in no particular order.
// Returns false when the folder cannot be read.
bool ListFolder(const std::string& path, std::vector<std::string>& names);

// Creates folder `path` and any missing parents. Returns false, with the
// reason in `error`, when one cannot be made; a folder that exists is fine.
bool MakeFolders(const std::string& path, std::string& error);

// The current folder, or "" when it cannot be found.
std::string CurrentFolder();

// `path` with symbolic links resolved, or `path` itself when it cannot be.
std::string ResolvedPath(const std::string& path);

// True when `path` is absolute on this system (on Windows also a path that
// starts with a drive letter or a separator).
bool IsAbsolutePath(const std::string& path);

// The system's text for the last error of a file operation.
std::string LastErrorText();

// Why this process may not change `path`, in the system's words ("Permission
// denied", "Read-only file system"), or "" when it may. For a folder that
// means creating and removing files in it. A file without any write
// permission counts as one that may not be changed, whoever asks, since the
// archive library refuses to update it.
std::string WriteDenied(const std::string& path);

// What the system said about the last failed call, in a form the command
// can act on. Taken right after a call of the plug-in that failed: the
// plug-in and its archive library leave the system's reason behind.
struct SystemError {
    enum Kind {
        None,      // no reason known
        NoSpace,   // the disk or the user's quota is full, or a file too large
        ReadOnly,  // a read-only file system or medium
        Denied,    // no permission
        BadFormat, // not an archive, or damaged (the library's way of saying so)
        Other,
    };
    Kind kind = None;
    std::string text; // the system's words; empty for None
};

// Forgets the last error, so that the next TakeSystemError reports only what
// happens after this call.
void ClearSystemError();

// The error the system keeps for this thread, classified.
SystemError TakeSystemError();

// The environment variable `name`, or "" when it is unset.
std::string Environment(const char* name);

// ---------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------

// Where the command's own messages and its progress bar go: standard error,
// also while the plug-in's messages are held.
std::FILE* MessageStream();

// Holds back what the plug-in writes to standard error (its message boxes,
// where they are text) until ReleasePluginMessages, which returns it. The
// command then says the same once, in its own words, or passes it on. Where
// the plug-in's messages are windows of their own, nothing is held.
void HoldPluginMessages();
std::string ReleasePluginMessages();

// ---------------------------------------------------------------------------
// Terminal, time and Ctrl+C
// ---------------------------------------------------------------------------

// True when standard error is a terminal.
bool StandardErrorIsTerminal();

// The width of the terminal on standard error in columns, 80 when unknown.
int TerminalColumns();

// A clock in seconds that only goes forward.
double MonotonicSeconds();

// From now on a request to stop does not end the process: Ctrl+C, and on
// Linux SIGINT, SIGTERM, SIGHUP and SIGQUIT (those not ignored when the
// command started), on Windows Ctrl+C, Ctrl+Break and closing the console.
// It only makes InterruptRequested() true, so that the running operation can
// stop at its next progress report and end cleanly. A second request ends
// the process at once, as usual. On Linux a closed output (SIGPIPE: the
// reader of the pipe on standard output or error went away) stops the
// operation the same clean way; since every further write to it signals
// again, it never counts as the first of two requests. A SIGPIPE from any
// other pipe is left to whoever wrote to it.
void CatchInterrupts();

// True once a stop was requested after CatchInterrupts().
bool InterruptRequested();

// True when the stop came from a closed output rather than from the user.
bool OutputClosed();

} // namespace host

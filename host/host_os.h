// The operating-system services the tarnel command needs, behind one small
// interface: host_os_posix.cpp implements it for Linux, host_os_win32.cpp for
// Windows. The command is the host, not the plug-in, so it has its own layer
// and never links the plug-in's platform code.
//
// Paths are 8-bit strings in the system's code page, as the plug-in takes
// them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// The separator for paths on disk: the backslash on Windows, '/' elsewhere.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

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

// True when `path` is absolute on this system (on Windows also a path that
// starts with a drive letter or a separator).
bool IsAbsolutePath(const std::string& path);

// The system's text for the last error of a file operation.
std::string LastErrorText();

// The environment variable `name`, or "" when it is unset.
std::string Environment(const char* name);

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
// the process at once, as usual.
void CatchInterrupts();

// True once a stop was requested after CatchInterrupts().
bool InterruptRequested();

} // namespace host

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
    kMessageBoxOk = 0x00,
    kMessageBoxIconError = 0x10,
    kMessageBoxIconWarning = 0x30,
};

// Shows a modal message box without an owner window and waits until the
// user closes it; returns the button pressed (1 for OK). On POSIX the box is
// one line on standard error, "<caption>: <text>", answered as OK.
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

// Creates `path` for writing, replacing an existing file with an empty one,
// not shared with other openers. Returns null on failure (last error set).
PlatformFile PlatformCreateFile(const char* path);

// Creates a new, empty, uniquely named file in the folder of `path` (beside
// it) and opens it for writing; its full name goes to `tempPath`. Returns
// null on failure, or when the name does not fit in `tempPathSize`.
PlatformFile PlatformCreateTempFileBeside(const char* path, char* tempPath, size_t tempPathSize);

// Writes `count` bytes; `*written` receives the number stored. Returns
// non-zero on success.
int PlatformWriteFile(PlatformFile file, const void* data, uint32_t count, uint32_t* written);

// Closes a file from PlatformCreateFile or PlatformCreateTempFileBeside.
// Returns non-zero when everything written reached the file.
int PlatformCloseFile(PlatformFile file);

// Deletes a file. Returns non-zero on success.
int PlatformDeleteFile(const char* path);

// Moves `from` over `to`, replacing `to` if it exists, as one step where the
// system allows. Returns non-zero on success.
int PlatformReplaceFile(const char* from, const char* to);

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

#if !defined(_WIN32)
// ---------------------------------------------------------------------------
// Test support (POSIX backend only)
// ---------------------------------------------------------------------------

// Receives every message box instead of standard error while set; returns
// the button to answer with. Null restores standard error.
typedef int (*PlatformMessageBoxRecorder)(const char* text, const char* caption, uint32_t type);
void PlatformSetMessageBoxRecorder(PlatformMessageBoxRecorder recorder);
#endif

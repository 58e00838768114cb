// The recording SFMpq.dll for the Windows suite: the fake archive library
// built as a Windows DLL. Besides the 16 library entry points (which the
// plug-in binds) it exports the functions below, through which the test
// driver scripts the fake and reads back the calls it recorded. The driver
// looks them up with GetProcAddress on the SFMpq.dll that the plug-in
// loaded, so both talk to the same fake.
#pragma once

#include <cstdint>

// The names the driver looks the functions up by, and their types. All use
// the C calling convention.
extern "C" {

// Forgets the script and every recorded call; the fake answers as when the
// library was loaded.
typedef void (*RecorderResetFn)(void);

// Adds a member with `size` bytes of `data`, listed as an existing record.
// A `compressedSize` of 0 lists the member's own size.
typedef void (*RecorderAddMemberFn)(const char* name, const char* data, uint32_t size,
                                    uint32_t compressedSize);

// Adds a listing record whose slot holds no member.
typedef void (*RecorderAddEmptySlotFn)(void);

// Sets one value of the script by name: "openArchiveSucceeds", "slotCount",
// "maxBytesPerRead", "failReadAt", "zeroReadAt", "updateHandle",
// "updateOpenError", "closeUpdatedResult", "closeUpdatedError" (the last
// error left by a failed close). Returns 0 for an unknown name.
typedef int (*RecorderSetFn)(const char* key, int64_t value);

// Sets the result of one member's call: kind "add" (both add calls), "delete"
// or "size" (SFileGetFileSize). Returns 0 for an unknown kind.
typedef int (*RecorderSetResultFn)(const char* kind, const char* name, int64_t value);

// Reads one counter by name: "openMembers", "openArchives", "readCount",
// "callCount". Returns -1 for an unknown name.
typedef int64_t (*RecorderGetFn)(const char* key);

// Copies the recorded calls, one per line, each line ended by '\n', into
// `buffer` (cut to size - 1 characters and terminated). Returns the length
// of the whole text.
typedef uint32_t (*RecorderCallsFn)(char* buffer, uint32_t size);

// Copies the current directory as it was while the library was being
// loaded. Returns its length.
typedef uint32_t (*RecorderLoadDirectoryFn)(char* buffer, uint32_t size);

} // extern "C"

// A standing script for hosts that cannot script the library themselves:
// when this environment variable is set while the library loads, its value,
// "name=content" pairs separated by ';', becomes the archive's members.
#define RECORDER_MEMBERS_VARIABLE "TARNEL_RECORDING_MEMBERS"

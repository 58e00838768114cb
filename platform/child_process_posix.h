// Helper programs on POSIX: finding one on PATH, and running it to its end
// from any thread of the host (posix_spawn, no shell, arguments as argv).
#pragma once

#include <cstddef>

// The exit status RunProgram reports when the program ran but its status is
// lost, because the host reaps its children itself (SIGCHLD ignored or
// handled).
enum : int { kProgramStatusUnknown = 256 };

// The full path of the executable regular file `name` in the folders of
// PATH, into `path` (of `size` bytes). False when there is none, or when
// the path does not fit.
bool FindProgramOnPath(const char* name, char* path, size_t size);

// Runs the program argv[0] (a full path) with the arguments argv[1], ...
// (null-terminated) and waits for it. It reads nothing (standard input is
// /dev/null), its standard error is dropped, and its standard output goes
// into `output` (bounded by `outputSize` and terminated; what does not fit
// is read and dropped) or, with a null `output`, is dropped too. It inherits
// no other descriptor, an empty signal mask and the default action of every
// signal a host commonly ignores. Returns its exit status (0 to 255),
// kProgramStatusUnknown, or -1 when it could not be started or was ended by
// a signal.
int RunProgram(const char* const* argv, char* output, size_t outputSize);

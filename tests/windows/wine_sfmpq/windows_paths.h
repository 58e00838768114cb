// Paths as the plug-in hands them to SFMpq.dll under Wine - Windows paths in
// the ANSI code page, absolute or relative to the process's current
// directory - turned into the Unix paths the library's client works with.
#pragma once

#include <cstdint>
#include <string>

namespace wine_sfmpq {

// `path` as a Unix path. 0, or the Win32 error code that says why it has
// none (a drive that is not mapped, a name the code page cannot carry).
uint32_t ToUnixPath(const char* path, std::string* unixPath);

// The name-list argument of a listing: one path, or several joined by single
// spaces, where a path may itself contain spaces. At each point the longest
// run of words that names a readable file is taken, as the library does with
// Unix paths; the result joins the Unix paths of those files by single
// spaces. Words that start no readable file are left out.
std::string ToUnixPathList(const char* paths);

} // namespace wine_sfmpq

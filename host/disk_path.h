// Taking apart paths on disk (the user's files and folders, as opposed to
// member names inside an archive, see path_safety.h).
#pragma once

#include <string>

#include "host/host_os.h"

namespace host {

// True for a character that separates folders in a path on disk: '/'
// everywhere, and on Windows also the backslash. On Linux a backslash is an
// ordinary character of a file name ("a\b" names one file), so it is not a
// separator there.
inline bool IsSeparatorOnDisk(char c) {
    return c == '/' || c == kPathSeparator;
}

// The folder that holds `path`: everything before its last separator, or ""
// when it has none. The root keeps its separator: "/a" gives "/", and on
// Windows "C:\a" gives "C:\".
std::string FolderOf(const std::string& path);

} // namespace host

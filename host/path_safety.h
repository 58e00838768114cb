// Deciding where an archive member may be written, and which relative names
// may go into an archive: nothing an archive holds may put a file outside
// the folder the user extracts into.
#pragma once

#include <string>

#include "host/host_os.h"

namespace host {

// True for a character that separates parts of a member name: the archive
// uses '\', and '/' is taken as the same on every system, in names read
// from an archive and in the member names the user gives.
bool IsNameSeparator(char c);

// The outcome of checking a name: the relative path to use on disk (its
// parts joined by `separator`), or the reason the name is refused.
struct CheckedPath {
    bool ok = false;
    std::string relative;
    std::string reason;
};

// Turns an archive member name into a path relative to the destination
// folder. Both '\' and '/' separate parts; empty parts and "." are dropped.
// Refused: an empty name, a name that ends with a separator (no file name),
// an absolute name, one that starts with a drive letter, and any ".." part.
// Under Windows rules also any ':' (a drive or an alternate data stream) and
// any part made only of dots and blanks, which Windows would trim to ".." or
// to nothing. The command checks the paths it puts into an archive (add,
// --into) by the same rules, so that it never makes a member that another
// extraction would refuse.
CheckedPath CheckMemberPath(const std::string& name, char separator,
                            bool windowsRules = kWindowsPathRules);

} // namespace host

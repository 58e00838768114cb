// Names given in a file (-T FILE) rather than on the command line.
#pragma once

#include <string>
#include <vector>

namespace host {

// Appends the names in `path` to `names`, one a line; "-" reads standard
// input. Lines may end with LF or CR LF, and empty lines are skipped; a name
// is taken as it is, blanks and a leading '-' included. Returns false with
// the reason in `error` when the file cannot be read or a line holds a NUL
// byte (which would end the name early in the plug-in's lists).
bool ReadNameList(const std::string& path, std::vector<std::string>& names, std::string& error);

// The same, from text already read.
bool SplitNameList(const std::string& text, const std::string& path,
                   std::vector<std::string>& names, std::string& error);

} // namespace host

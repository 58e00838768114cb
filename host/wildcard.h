// Choosing archive members by the names and shell-style patterns that the
// user gives on the command line.
#pragma once

#include <string>

namespace host {

// True when `pattern` holds a wildcard character: '*', '?' or '['.
bool HasWildcards(const std::string& pattern);

// Shell-style matching of a whole member name: '*' matches any run of
// characters (separators included, as archive names have no real folders),
// '?' one character, "[abc]", "[a-z]" and "[!abc]" (or "[^abc]") one
// character of (or not of) a set; a '[' without its ']' is an ordinary
// character. There is no escape character, since '\' separates folders in
// member names. '\' and '/' match each other, and ASCII letters match
// without regard to case, as the archive looks members up that way.
bool WildcardMatch(const std::string& pattern, const std::string& name);

// True when `pattern` chooses the member `name`: it matches the whole name,
// or a leading folder part of it (so "maps" chooses "maps\a.txt").
bool PatternSelects(const std::string& pattern, const std::string& name);

} // namespace host

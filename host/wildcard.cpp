#include "host/wildcard.h"

#include "host/path_safety.h"

namespace host {

namespace {

// `c` as names are compared: ASCII letters in lower case, and '/' as the
// archive's separator, the backslash.
char FoldCaseAndSeparator(char c) {
    if (c >= 'A' && c <= 'Z') {
        return static_cast<char>(c - 'A' + 'a');
    }
    if (c == '/') {
        return '\\';
    }
    return c;
}

// Matches one character against the set that starts at pattern[start] (the
// '['). Returns the index after the closing ']' in `end`, or false in `valid`
// when the set is not closed.
bool MatchSet(const std::string& pattern, size_t start, char c, size_t& end, bool& valid) {
    size_t i = start + 1;
    bool negate = false;
    if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
        negate = true;
        ++i;
    }
    bool matched = false;
    bool first = true;
    char folded = FoldCaseAndSeparator(c);
    for (; i < pattern.size(); ++i) {
        if (pattern[i] == ']' && !first) {
            end = i + 1;
            valid = true;
            return matched != negate;
        }
        first = false;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            char low = FoldCaseAndSeparator(pattern[i]);
            char high = FoldCaseAndSeparator(pattern[i + 2]);
            if (low <= folded && folded <= high) {
                matched = true;
            }
            i += 2;
        } else if (FoldCaseAndSeparator(pattern[i]) == folded) {
            matched = true;
        }
    }
    valid = false;
    return false;
}

} // namespace

bool HasWildcards(const std::string& pattern) {
    return pattern.find_first_of("*?[") != std::string::npos;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    size_t p = 0;
    size_t n = 0;
    // Where to resume after the last '*': the pattern index after it and the
    // name index it has consumed up to.
    size_t starPattern = std::string::npos;
    size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size()) {
            char pc = pattern[p];
            if (pc == '*') {
                starPattern = ++p;
                starName = n;
                continue;
            }
            if (pc == '?') {
                ++p;
                ++n;
                continue;
            }
            if (pc == '[') {
                size_t end = 0;
                bool valid = false;
                bool matched = MatchSet(pattern, p, name[n], end, valid);
                if (valid) {
                    if (matched) {
                        p = end;
                        ++n;
                        continue;
                    }
                } else if (FoldCaseAndSeparator(pc) == FoldCaseAndSeparator(name[n])) {
                    ++p;
                    ++n;
                    continue;
                }
            } else if (FoldCaseAndSeparator(pc) == FoldCaseAndSeparator(name[n])) {
                ++p;
                ++n;
                continue;
            }
        }
        if (starPattern == std::string::npos) {
            return false;
        }
        p = starPattern;
        n = ++starName;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool PatternSelects(const std::string& pattern, const std::string& name) {
    if (WildcardMatch(pattern, name)) {
        return true;
    }
    // A trailing separator in the pattern names a folder as well.
    std::string folder = pattern;
    while (!folder.empty() && IsNameSeparator(folder.back())) {
        folder.pop_back();
    }
    if (folder.empty()) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        if (IsNameSeparator(name[i]) && WildcardMatch(folder, name.substr(0, i))) {
            return true;
        }
    }
    return false;
}

} // namespace host

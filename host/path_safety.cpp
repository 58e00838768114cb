#include "host/path_safety.h"

#include <vector>

namespace host {

namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// True for a part made only of dots and blanks with at least one dot more
// than ".": Windows trims trailing dots and blanks, so ".. " or "..." could
// name the parent folder or an empty name.
bool OnlyDotsAndBlanks(const std::string& part) {
    for (char c : part) {
        if (c != '.' && c != ' ') {
            return false;
        }
    }
    return true;
}

CheckedPath Refuse(const char* reason) {
    CheckedPath result;
    result.reason = reason;
    return result;
}

} // namespace

bool IsNameSeparator(char c) {
    return c == '\\' || c == '/';
}

CheckedPath CheckMemberPath(const std::string& name, char separator, bool windowsRules) {
    if (name.empty()) {
        return Refuse("empty name");
    }
    if (IsNameSeparator(name[0])) {
        return Refuse("absolute path");
    }
    if (name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == ':') {
        return Refuse("starts with a drive letter");
    }
    if (windowsRules && name.find(':') != std::string::npos) {
        return Refuse("contains ':'");
    }
    if (IsNameSeparator(name.back())) {
        return Refuse("no file name after the last separator");
    }
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !IsNameSeparator(name[i])) {
            part += name[i];
            continue;
        }
        if (part == "..") {
            return Refuse("contains a \"..\" component");
        }
        if (!part.empty() && part != ".") {
            if (windowsRules && OnlyDotsAndBlanks(part)) {
                return Refuse("contains a component made only of dots and blanks");
            }
            parts.push_back(part);
        }
        part.clear();
    }
    if (parts.empty()) {
        return Refuse("no file name");
    }
    CheckedPath result;
    result.ok = true;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            result.relative += separator;
        }
        result.relative += parts[i];
    }
    return result;
}

} // namespace host

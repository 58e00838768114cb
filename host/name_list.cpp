#include "host/name_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace host {

bool SplitNameList(const std::string& text, const std::string& path,
                   std::vector<std::string>& names, std::string& error) {
    size_t start = 0;
    size_t number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        ++number;
        std::string name = text.substr(start, end - start);
        start = end + 1;
        if (!name.empty() && name.back() == '\r') {
            name.pop_back();
        }
        if (name.find('\0') != std::string::npos) {
            error = path + ": line " + std::to_string(number) + " holds a NUL byte";
            return false;
        }
        if (!name.empty()) {
            names.push_back(name);
        }
    }
    return true;
}

bool ReadNameList(const std::string& path, std::vector<std::string>& names, std::string& error) {
    bool standardInput = path == "-";
    std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot read names from " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    bool failed = std::ferror(file) != 0;
    int reason = errno;
    if (!standardInput) {
        std::fclose(file);
    }
    if (failed) {
        error = "cannot read names from " + path + ": " + std::strerror(reason);
        return false;
    }
    return SplitNameList(text, standardInput ? "standard input" : path, names, error);
}

} // namespace host

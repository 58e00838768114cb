#include "windows_paths.h"

#include <windows.h>

#include <unistd.h>
#include <vector>

namespace wine_sfmpq {

namespace {

// The longest path Windows' wide-character file functions take.
constexpr int kMaxWidePath = 32767;

bool IsReadableFile(const std::string& unixPath) {
    return !unixPath.empty() && unixPath.back() != '/' && access(unixPath.c_str(), R_OK) == 0;
}

} // namespace

uint32_t ToUnixPath(const char* path, std::string* unixPath) {
    unixPath->clear();
    if (!*path) {
        return 0; // no path: the library says so itself
    }
    int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length <= 0) {
        return ERROR_INVALID_NAME;
    }
    if (length > kMaxWidePath) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    std::vector<WCHAR> wide(static_cast<size_t>(length));
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length) != length) {
        return ERROR_INVALID_NAME;
    }
    char* converted = wine_get_unix_file_name(wide.data());
    if (!converted) {
        return ERROR_PATH_NOT_FOUND;
    }
    *unixPath = converted;
    HeapFree(GetProcessHeap(), 0, converted);
    return 0;
}

std::string ToUnixPathList(const char* paths) {
    std::vector<std::string> words;
    for (const char* p = paths;;) {
        const char* space = strchr(p, ' ');
        words.emplace_back(p, space ? static_cast<size_t>(space - p) : strlen(p));
        if (!space) {
            break;
        }
        p = space + 1;
    }
    std::string result;
    size_t first = 0;
    while (first < words.size()) {
        size_t taken = 0;
        std::string unixPath;
        for (size_t last = words.size(); last > first && taken == 0; --last) {
            std::string path = words[first];
            for (size_t i = first + 1; i < last; ++i) {
                path += ' ';
                path += words[i];
            }
            if (!path.empty() && ToUnixPath(path.c_str(), &unixPath) == 0 &&
                IsReadableFile(unixPath)) {
                taken = last - first;
            }
        }
        if (taken == 0) {
            ++first;
            continue;
        }
        if (!result.empty()) {
            result += ' ';
        }
        result += unixPath;
        first += taken;
    }
    return result;
}

} // namespace wine_sfmpq

// Profile strings on POSIX, read and written like the Windows profile
// functions: section and key names compare case-insensitively, blanks around
// names and values are ignored, LF and CRLF files are both understood, and a
// write changes one line while keeping every other line, comment and their
// order.
#include "platform/bounded_text.h"
#include "platform/platform.h"
#include "platform/system_calls.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <vector>

namespace {

// False with errno set when the file cannot be read whole.
bool ReadWholeFile(const char* path, std::string* content) {
    int fd = SystemCalls.open(path, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    char chunk[8192];
    for (;;) {
        ssize_t n = SystemCalls.read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            int error = errno;
            SystemCalls.close(fd);
            errno = error;
            return false;
        }
        if (n == 0) {
            SystemCalls.close(fd);
            return true;
        }
        content->append(chunk, static_cast<size_t>(n));
    }
}

// The file's lines without their line ends.
std::vector<std::string> SplitLines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        size_t stop = end;
        if (stop > start && content[stop - 1] == '\r') {
            --stop;
        }
        lines.push_back(content.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// When `line` is a section header, its name goes to `name`.
bool SectionName(const std::string& line, std::string* name) {
    std::string trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed[0] != '[') {
        return false;
    }
    size_t close = trimmed.find(']');
    if (close == std::string::npos) {
        return false;
    }
    *name = Trim(trimmed.substr(1, close - 1));
    return true;
}

// When `line` is a "key = value" line, its parts go to `key` and `value`.
bool KeyValue(const std::string& line, std::string* key, std::string* value) {
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') {
        return false;
    }
    size_t equals = trimmed.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    *key = Trim(trimmed.substr(0, equals));
    *value = Trim(trimmed.substr(equals + 1));
    return true;
}

// Where a key stands in the file: the line index of its section header and of
// the key itself (-1 when missing), and the last non-blank line of the section.
struct KeyPlace {
    long section = -1;
    long key = -1;
    long sectionEnd = -1;
};

KeyPlace FindKey(const std::vector<std::string>& lines, const char* section, const char* key) {
    KeyPlace place;
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string name;
        if (SectionName(lines[i], &name)) {
            if (inSection) {
                break; // only the first section of that name counts
            }
            if (SameNameNoCase(name.c_str(), section)) {
                inSection = true;
                place.section = static_cast<long>(i);
                place.sectionEnd = static_cast<long>(i);
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (!Trim(lines[i]).empty()) {
            place.sectionEnd = static_cast<long>(i);
        }
        std::string k;
        std::string v;
        if (place.key < 0 && KeyValue(lines[i], &k, &v) && SameNameNoCase(k.c_str(), key)) {
            place.key = static_cast<long>(i);
        }
    }
    return place;
}

uint32_t CopyOut(const std::string& text, char* buffer, uint32_t size) {
    if (size == 0) {
        return 0;
    }
    size_t length = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<uint32_t>(length);
}

} // namespace

uint32_t PlatformGetProfileString(const char* section, const char* key, const char* def,
                                  char* buffer, uint32_t size, const char* file) {
    std::string fallback = Trim(def ? def : "");
    std::string content;
    if (!section || !key || !file || !ReadWholeFile(file, &content)) {
        return CopyOut(fallback, buffer, size);
    }
    std::vector<std::string> lines = SplitLines(content);
    KeyPlace place = FindKey(lines, section, key);
    if (place.key < 0) {
        return CopyOut(fallback, buffer, size);
    }
    std::string k;
    std::string value;
    KeyValue(lines[static_cast<size_t>(place.key)], &k, &value);
    // Like the Windows reader, a value enclosed in a pair of double or single
    // quotes is given without them (a path with blanks is often quoted).
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
        value = value.substr(1, value.size() - 2);
    }
    return CopyOut(value, buffer, size);
}

int PlatformWriteProfileString(const char* section, const char* key, const char* value,
                               const char* file) {
    if (!section || !key || !value || !file) {
        errno = EINVAL;
        return 0;
    }
    // Through a symbolic link, the file it names is the one to change.
    std::string target = file;
    if (char* resolved = SystemCalls.realpath(file)) {
        target = resolved;
        std::free(resolved);
    }
    std::string content;
    if (!ReadWholeFile(target.c_str(), &content) && errno != ENOENT) {
        return 0;
    }
    const char* newline = content.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::vector<std::string> lines = SplitLines(content);
    KeyPlace place = FindKey(lines, section, key);
    std::string entry = std::string(key) + "=" + value;
    if (place.key >= 0) {
        lines[static_cast<size_t>(place.key)] = entry;
    } else if (place.section >= 0) {
        lines.insert(lines.begin() + place.sectionEnd + 1, entry);
    } else {
        if (!lines.empty() && !Trim(lines.back()).empty()) {
            lines.push_back("");
        }
        lines.push_back(std::string("[") + section + "]");
        lines.push_back(entry);
    }
    std::string out;
    for (const std::string& line : lines) {
        out += line;
        out += newline;
    }
    // Written beside the file and moved over it (keeping its permissions, and
    // refusing a read-only file as the Windows writer does), so that a failed
    // write never leaves a half-written settings file.
    char temporary[4096];
    PlatformFile handle = PlatformCreateTempFileBeside(target.c_str(), temporary, sizeof temporary);
    if (!handle) {
        return 0;
    }
    uint32_t written = 0;
    bool ok = out.size() < UINT32_MAX &&
              PlatformWriteFile(handle, out.data(), static_cast<uint32_t>(out.size()), &written);
    ok = PlatformCloseFile(handle) && ok;
    if (!ok || !PlatformReplaceFile(temporary, target.c_str())) {
        int saved = errno;
        SystemCalls.unlink(temporary);
        errno = saved;
        return 0;
    }
    return 1;
}

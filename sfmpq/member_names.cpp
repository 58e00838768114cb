#include "sfmpq/member_names.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sfmpq {

namespace {

const char kUnknownFolder[] = "Unknown";

// Reads a whole regular file. False when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* content) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return false;
    }
    content->clear();
    char buffer[1 << 16];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0) {
            close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        content->append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return true;
}

bool ParseHex(const char** p, int maxDigits, uint32_t* value) {
    uint32_t result = 0;
    int digits = 0;
    for (; digits < maxDigits; ++digits) {
        char c = (*p)[digits];
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            break;
        }
        result = result * 16 + static_cast<uint32_t>(v);
    }
    if (digits == 0) {
        return false;
    }
    *p += digits;
    *value = result;
    return true;
}

} // namespace

void NameBlock::Clear() {
    text_.clear();
    ends_.clear();
}

void NameBlock::Reserve(size_t bytes, size_t count) {
    text_.reserve(text_.size() + bytes);
    ends_.reserve(ends_.size() + count);
}

void NameBlock::Add(const char* name, size_t length) {
    text_.append(name, length);
    text_.push_back('\0');
    ends_.push_back(text_.size());
}

bool NameBlock::Is(size_t index, const char* name) const {
    if (index >= ends_.size()) {
        return false;
    }
    const size_t length = Length(index);
    return std::strlen(name) == length && std::memcmp(At(index), name, length) == 0;
}

void SplitNameList(const char* text, size_t length, NameBlock* names) {
    char name[kMaxMemberName];
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && text[i] != '\r' && text[i] != '\n' && text[i] != ';' && text[i] != '\0') {
            continue;
        }
        size_t size = i - start;
        if (size > 0 && size <= kMaxMemberName) {
            for (size_t k = 0; k < size; ++k) {
                const char c = text[start + k];
                name[k] = c == '/' ? '\\' : c;
            }
            names->Add(name, size);
        }
        start = i + 1;
    }
}

void ReadNameListFiles(const char* paths, NameBlock* names) {
    if (!paths) {
        return;
    }
    std::vector<std::string> words;
    const char* p = paths;
    for (;;) {
        const char* space = std::strchr(p, ' ');
        words.emplace_back(p, space ? static_cast<size_t>(space - p) : std::strlen(p));
        if (!space) {
            break;
        }
        p = space + 1;
    }
    size_t first = 0;
    while (first < words.size()) {
        size_t taken = 0;
        std::string content;
        // The longest run of words, rejoined by their single spaces, that
        // names a readable file.
        for (size_t last = words.size(); last > first && taken == 0; --last) {
            std::string path = words[first];
            for (size_t i = first + 1; i < last; ++i) {
                path += ' ';
                path += words[i];
            }
            if (!path.empty() && ReadWholeFile(path, &content)) {
                taken = last - first;
            }
        }
        if (taken == 0) {
            ++first; // this word starts no readable file: skipped
            continue;
        }
        SplitNameList(content.data(), content.size(), names);
        first += taken;
    }
}

std::string FormatGeneratedName(const GeneratedName& name, const char* extension) {
    char text[64];
    int length =
        std::snprintf(text, sizeof text, "%s\\%08X%08X", kUnknownFolder, name.hashA, name.hashB);
    if (name.locale != 0) {
        length += std::snprintf(text + length, sizeof text - length, "_%X", name.locale);
    }
    if (name.hasSlot) {
        length += std::snprintf(text + length, sizeof text - length, "~%u", name.slot);
    }
    std::snprintf(text + length, sizeof text - length, ".%.8s", extension);
    return text;
}

bool ParseGeneratedName(const char* text, GeneratedName* name) {
    size_t folder = sizeof kUnknownFolder - 1;
    if (!text || strncasecmp(text, kUnknownFolder, folder) != 0 ||
        (text[folder] != '\\' && text[folder] != '/')) {
        return false;
    }
    const char* p = text + folder + 1;
    GeneratedName result;
    const char* hashStart = p;
    if (!ParseHex(&p, 8, &result.hashA) || p - hashStart != 8 || !ParseHex(&p, 8, &result.hashB) ||
        p - hashStart != 16) {
        return false;
    }
    if (*p == '_') {
        ++p;
        if (!ParseHex(&p, 8, &result.locale)) {
            return false;
        }
    }
    if (*p == '~') {
        ++p;
        char* end = nullptr;
        unsigned long slot = std::strtoul(p, &end, 10);
        if (end == p || slot > UINT32_MAX) {
            return false;
        }
        result.hasSlot = true;
        result.slot = static_cast<uint32_t>(slot);
        p = end;
    }
    if (*p != '\0' && (*p != '.' || std::strpbrk(p, "\\/"))) {
        return false;
    }
    *name = result;
    return true;
}

const char* GuessExtension(const unsigned char* head, size_t length) {
    struct Signature {
        const char* bytes;
        size_t offset;
        size_t size;
        const char* extension;
    };
    static const Signature signatures[] = {
        {"WAVE", 8, 4, "wav"},         {"AVI ", 8, 4, "avi"},    {"MPQ\x1A", 0, 4, "mpq"},
        {"MPQ\x1B", 0, 4, "mpq"},      {"SMK2", 0, 4, "smk"},    {"SMK4", 0, 4, "smk"},
        {"BIK", 0, 3, "bik"},          {"MDLX", 0, 4, "mdx"},    {"BLP", 0, 3, "blp"},
        {"DDS ", 0, 4, "dds"},         {"\x89PNG", 0, 4, "png"}, {"GIF8", 0, 4, "gif"},
        {"OggS", 0, 4, "ogg"},         {"ID3", 0, 3, "mp3"},     {"PK\x03\x04", 0, 4, "zip"},
        {"\xFF\xD8\xFF", 0, 3, "jpg"}, {"MZ", 0, 2, "exe"},
    };
    for (const Signature& s : signatures) {
        if (length >= s.offset + s.size && std::memcmp(head + s.offset, s.bytes, s.size) == 0) {
            if (s.offset == 8 && std::memcmp(head, "RIFF", 4) != 0) {
                continue;
            }
            return s.extension;
        }
    }
    return "xxx";
}

} // namespace sfmpq

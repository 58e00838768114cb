// tarnel list: one line per member with size, packed size and name, or one
// JSON array for scripts.
#include <cstdio>
#include <string>

#include "host/commands.h"

namespace host {

namespace {

// Length of the UTF-8 sequence that starts at text[i], or 0 when the bytes
// there are not valid UTF-8.
size_t Utf8SequenceLength(const std::string& text, size_t i) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                    : lead >= 0xE0                 ? 3
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                                                   : 0;
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

} // namespace

// A JSON string for a member name. Names are 8-bit in the system's code
// page: valid UTF-8 passes through, and any other byte is written as the
// character of the same number (Latin-1), so the output is always valid.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (size_t length = Utf8SequenceLength(text, i)) {
            out.append(text, i, length);
            i += length;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
        }
    }
    return out + "\"";
}

int RunList(Plugin& plugin, const CommandLine& line) {
    std::vector<Member> members;
    if (!ReadMembers(plugin, line.archive, members)) {
        return kExitUsage;
    }
    if (line.json) {
        std::printf("[");
        for (size_t i = 0; i < members.size(); ++i) {
            std::printf("%s\n  {\"name\": %s, \"size\": %u, \"packed\": %u}", i ? "," : "",
                        JsonString(members[i].name).c_str(), members[i].size, members[i].packed);
        }
        std::printf("%s]\n", members.empty() ? "" : "\n");
    } else {
        for (const Member& member : members) {
            std::printf("%12u %12u  %s\n", member.size, member.packed, member.name.c_str());
        }
    }
    return std::fflush(stdout) == 0 ? kExitOk : kExitSomeFailed;
}

} // namespace host

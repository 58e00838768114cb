#include "host/terminal_text.h"

#include <cstdio>

namespace host {

namespace {

void AppendEscaped(std::string& out, unsigned char c) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
    out += escaped;
}

} // namespace

std::string Printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            AppendEscaped(out, c);
            continue;
        }
#if !defined(_WIN32)
        // Windows shows names in an 8-bit code page, where these two bytes
        // are ordinary letters.
        unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            AppendEscaped(out, c);
            AppendEscaped(out, next);
            ++i;
            continue;
        }
#endif
        out += static_cast<char>(c);
    }
    return out;
}

} // namespace host

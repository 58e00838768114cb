#include "host/terminal_text.h"

#include <cstdio>

#include "host/host_os.h"

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
    AppendPrintable(out, text);
    return out;
}

void AppendPrintable(std::string& out, const std::string& text) {
    out.reserve(out.size() + text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            AppendEscaped(out, c);
            continue;
        }
        // The C1 control characters of UTF-8.
        unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (kNamesAreUtf8 && c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            AppendEscaped(out, c);
            AppendEscaped(out, next);
            ++i;
            continue;
        }
        out += static_cast<char>(c);
    }
}

} // namespace host

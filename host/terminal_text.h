// Text that came from an archive or the disk, made safe to show on a
// terminal.
#pragma once

#include <string>

namespace host {

// `text` with its control characters written as \xNN: bytes below 0x20 and
// 0x7F, and on Linux also the UTF-8 forms of U+0080..U+009F, which some
// terminals obey as well. A member name then cannot move the cursor, change
// colours, set the window title or forge lines of output. Everything else,
// UTF-8 included, is kept as it is.
std::string Printable(const std::string& text);

// Appends Printable(text) to `out`.
void AppendPrintable(std::string& out, const std::string& text);

} // namespace host

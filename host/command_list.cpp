// tarnel list: one line per member with size, packed size and name, or one
// JSON array for scripts.
#include <cstdint>
#include <cstdio>
#include <string>

#include "host/commands.h"
#include "host/json_text.h"
#include "host/terminal_text.h"

namespace host {

namespace {

// Appends `value` right-aligned in a field of 12 characters, as "%12u".
void AppendNumber(std::string& line, uint32_t value) {
    char digits[12];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    line.append(12 - count, ' ');
    while (count != 0) {
        line += digits[--count];
    }
}

} // namespace

int RunList(Plugin& plugin, const CommandLine& line) {
    // Each member is shown as it is read: a listing that fails part-way
    // still shows the members before it.
    size_t shown = 0;
    std::string text; // one line, "%12u %12u  %s\n" (a large listing is mostly this)
    int status = ListMembers(plugin, line.archive, [&](Member&& member) {
        if (line.json) {
            std::printf("%s\n  {\"name\": %s, \"size\": %u, \"packed\": %u}", shown ? "," : "[",
                        JsonString(member.name).c_str(), member.size, member.packed);
        } else {
            text.clear();
            AppendNumber(text, member.size);
            text += ' ';
            AppendNumber(text, member.packed);
            text += "  ";
            AppendPrintable(text, member.name);
            text += '\n';
            std::fwrite(text.data(), 1, text.size(), stdout);
        }
        ++shown;
    });
    if (status == kExitUsage) {
        return status;
    }
    if (line.json) {
        std::printf("%s]\n", shown ? "\n" : "[");
    }
    return std::fflush(stdout) == 0 ? status : kExitSomeFailed;
}

} // namespace host

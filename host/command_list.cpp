// tarnel list: one line per member with size, packed size and name, or one
// JSON array for scripts.
#include <cstdio>
#include <string>

#include "host/commands.h"
#include "host/json_text.h"
#include "host/terminal_text.h"

namespace host {

int RunList(Plugin& plugin, const CommandLine& line) {
    // Each member is shown as it is read: a listing that fails part-way
    // still shows the members before it.
    size_t shown = 0;
    int status = ListMembers(plugin, line.archive, [&](Member&& member) {
        if (line.json) {
            std::printf("%s\n  {\"name\": %s, \"size\": %u, \"packed\": %u}", shown ? "," : "[",
                        JsonString(member.name).c_str(), member.size, member.packed);
        } else {
            std::printf("%12u %12u  %s\n", member.size, member.packed,
                        Printable(member.name).c_str());
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

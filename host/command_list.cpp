// tarnel list: one line per member with size, packed size and name, or one
// JSON array for scripts.
#include <cstdio>
#include <string>

#include "host/commands.h"
#include "host/json_text.h"
#include "host/terminal_text.h"

namespace host {

int RunList(Plugin& plugin, const CommandLine& line) {
    std::vector<Member> members;
    // A listing that fails part-way still shows the members before it.
    int status = ReadMembers(plugin, line.archive, members);
    if (status == kExitUsage) {
        return status;
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
            std::printf("%12u %12u  %s\n", member.size, member.packed,
                        Printable(member.name).c_str());
        }
    }
    return std::fflush(stdout) == 0 ? status : kExitSomeFailed;
}

} // namespace host

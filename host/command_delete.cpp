// tarnel delete: the chosen members, in one DeleteFiles call. DeleteFiles
// reports single members only in messages, so the archive is listed
// afterwards to find what is still there.
#include <set>

#include "host/commands.h"

namespace host {

int RunDelete(Plugin& plugin, const CommandLine& line) {
    std::vector<Member> members;
    // Nothing is deleted on a listing that failed part-way: a pattern
    // could not be matched against every member.
    int status = ReadMembers(plugin, line.archive, members);
    if (status != kExitOk) {
        return status;
    }
    int failures = 0;
    std::vector<bool> chosen = SelectMembers(members, line.operands, line.archive, failures);
    std::vector<std::string> names;
    std::set<std::string> doomed;
    for (size_t m = 0; m < members.size(); ++m) {
        if (chosen[m] && doomed.insert(members[m].name).second) {
            names.push_back(members[m].name);
        }
    }
    if (names.empty()) {
        return kExitSomeFailed;
    }
    std::vector<char> deleteList = HostNameList(names);
    std::vector<char> archive(line.archive.begin(), line.archive.end());
    archive.push_back('\0');
    int result = plugin.DeleteFiles(archive.data(), deleteList.data());
    if (result != kResultOk) {
        Report(line.archive + ": " + ResultInWords(result));
        return kExitUsage;
    }
    std::vector<Member> after;
    if (ReadMembers(plugin, line.archive, after) != kExitOk) {
        return kExitSomeFailed;
    }
    for (const Member& member : after) {
        if (doomed.count(member.name)) {
            Report(member.name + ": could not be deleted");
            ++failures;
            doomed.erase(member.name);
        }
    }
    return failures ? kExitSomeFailed : kExitOk;
}

} // namespace host

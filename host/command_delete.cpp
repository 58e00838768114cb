// tarnel delete: the chosen members, in one DeleteFiles call. DeleteFiles
// reports single members only in messages, so the archive is listed
// afterwards to find what is still there, unless nothing can be: the
// plug-in showed no message, and no chosen name stands for several members
// (a deletion takes the member of one locale) or for one the format keeps.
#include <set>

#include "host/archive_check.h"
#include "host/commands.h"
#include "host/failure_tally.h"

namespace host {

int RunDelete(Plugin& plugin, const CommandLine& line) {
    std::vector<std::string> patterns;
    if (!GatherNames(line, patterns)) {
        return kExitUsage;
    }
    if (patterns.empty()) {
        Notice("no member names given; nothing to delete");
        return kExitOk;
    }
    std::string problem = ArchiveUpdateProblem(line.archive, false);
    if (!problem.empty()) {
        Report(line.archive + ": " + problem);
        return kExitUsage;
    }
    std::vector<Member> members;
    // Nothing is deleted on a listing that failed part-way: a pattern
    // could not be matched against every member.
    int status = ReadMembers(plugin, line.archive, members);
    if (status != kExitOk) {
        return status;
    }
    int failures = 0;
    std::vector<bool> chosen =
        SelectMembers(members, patterns, line.archive, line.internal, failures);
    std::vector<std::string> names;
    std::set<std::string> doomed;
    bool uncertain = false; // what the plug-in does not report may happen
    for (size_t m = 0; m < members.size(); ++m) {
        if (!chosen[m]) {
            continue;
        }
        if (doomed.insert(members[m].name).second) {
            names.push_back(members[m].name);
            uncertain |= IsInternalMember(members[m].name);
        } else {
            uncertain = true;
        }
    }
    if (names.empty()) {
        return kExitSomeFailed;
    }
    std::vector<char> deleteList = HostNameList(names);
    std::vector<char> archive(line.archive.begin(), line.archive.end());
    archive.push_back('\0');
    HoldPluginMessages();
    ClearSystemError();
    int result = plugin.DeleteFiles(archive.data(), deleteList.data());
    SystemError error = TakeSystemError();
    std::string pluginText = ReleasePluginMessages();
    if (result != kResultOk) {
        ReportUpdateFailure(line.archive, result, error, pluginText);
        return kExitUsage;
    }
    std::set<std::string> left;
    if (uncertain || !pluginText.empty()) {
        std::vector<Member> after;
        if (ReadMembers(plugin, line.archive, after) != kExitOk) {
            return kExitSomeFailed;
        }
        for (const Member& member : after) {
            if (doomed.count(member.name)) {
                left.insert(member.name);
            }
        }
    }
    FailureTally notDeleted("members", "not deleted");
    for (const std::string& name : names) {
        if (left.count(name)) {
            notDeleted.Add(name, "still in the archive after the plug-in's update");
        } else {
            ShowHandled(name);
        }
    }
    ReportTally(notDeleted);
    // The plug-in shows only failures; one the archive does not show is
    // passed on as the plug-in said it.
    if (left.empty() && !pluginText.empty()) {
        PassOn(pluginText);
        ++failures;
    }
    return failures || notDeleted.count() ? kExitSomeFailed : kExitOk;
}

} // namespace host

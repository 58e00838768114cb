// The commands of tarnel, each in a file of its own, and what they share:
// reading an archive's members through the plug-in and choosing members by
// the names the user gave.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/host_os.h"
#include "host/messages.h"
#include "host/plugin_host.h"

namespace host {

// Each command returns the exit status.
int RunList(Plugin& plugin, const CommandLine& line);
int RunExtract(Plugin& plugin, const CommandLine& line);
int RunTest(Plugin& plugin, const CommandLine& line);
int RunAdd(Plugin& plugin, const CommandLine& line);
int RunDelete(Plugin& plugin, const CommandLine& line);
int RunConfig(Plugin& plugin, const CommandLine& line);

// One member as ReadHeader reports it.
struct Member {
    std::string name;
    uint32_t size = 0;
    uint32_t packed = 0;
};

// Checks that `path` fits the plug-in's path limit; reports it when not.
bool FitsPluginPath(const std::string& path, const char* what);

// Lists `archive` (open mode 0), handing each member to `take` as it is
// read. Returns kExitOk when every member was listed; kExitUsage after
// reporting why when the archive cannot be opened; kExitSomeFailed after
// reporting why when the listing failed part-way, after the members before.
int ListMembers(Plugin& plugin, const std::string& archive,
                const std::function<void(Member&&)>& take);

// ListMembers into `members`.
int ReadMembers(Plugin& plugin, const std::string& archive, std::vector<Member>& members);

// Reports a ReadHeader result other than a member or the end of the
// archive, `listed` members into `archive`.
void ReportListingFailure(const std::string& archive, int result, size_t listed);

// Opens `archive` for reading member data (open mode 1). Returns null after
// reporting why when it cannot be opened.
void* OpenForReading(Plugin& plugin, const std::string& archive);

// The member name in a header filled by ReadHeader, bounded by its field.
std::string NameInHeader(const EntryHeader& header);
// NameInHeader into `name`, reusing its room.
void CopyNameInHeader(const EntryHeader& header, std::string* name);

// Chooses members by the user's names and patterns: all members when there
// are none. The archive's internal members ("(listfile)", "(attributes)",
// "(signature)") are chosen only with `internal` or by a name without
// wildcards that is theirs: "*" or no pattern leaves them out. A pattern
// that chooses no member is reported as missing from `archive` and counted
// in `unmatched`.
std::vector<bool> SelectMembers(const std::vector<Member>& members,
                                const std::vector<std::string>& patterns,
                                const std::string& archive, bool internal, int& unmatched);

// True for the members the archive keeps for itself.
bool IsInternalMember(const std::string& name);

// The names the command works on: its operands, then the names of each -T
// file. False after reporting a file that cannot be read.
bool GatherNames(const CommandLine& line, std::vector<std::string>& names);

// Why a member or file failed, in words: the plug-in's result, and the
// system's reason when one is known.
std::string FailureReason(int result, const SystemError& error);

// Reports that PackFiles or DeleteFiles failed as a whole with `result`:
// with the system's reason or what the archive's header tells when either is
// known, else with what the plug-in said itself (`pluginText`, held back).
void ReportUpdateFailure(const std::string& archive, int result, const SystemError& error,
                         const std::string& pluginText);

// The system's reason in words; the library's "not an executable format"
// for an archive or data it cannot read is said as what it means.
std::string SystemReason(const SystemError& error);

// The same name in the archive's form (backslash separators) and with ASCII
// letters folded, for comparing member names.
std::string MemberKey(const std::string& name);

// Names in the host's list form: each zero-terminated, the list ended by an
// empty name.
std::vector<char> HostNameList(const std::vector<std::string>& names);

} // namespace host

// What the commands share: reading members, reporting, choosing members.
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <utility>

#include "host/archive_check.h"
#include "host/commands.h"
#include "host/host_os.h"
#include "host/name_list.h"
#include "host/progress.h"
#include "host/wildcard.h"

namespace host {

bool FitsPluginPath(const std::string& path, const char* what) {
    if (path.size() > kMaxPluginPath) {
        Report(std::string(what) + " " + path + ": longer than " + std::to_string(kMaxPluginPath) +
               " characters");
        return false;
    }
    return true;
}

namespace {

void* OpenArchiveIn(Plugin& plugin, const std::string& archive, int mode) {
    if (!FitsPluginPath(archive, "archive")) {
        return nullptr;
    }
    std::string problem = ArchiveReadProblem(archive);
    if (!problem.empty()) {
        Report(archive + ": " + problem);
        return nullptr;
    }
    std::vector<char> path(archive.begin(), archive.end());
    path.push_back('\0');
    OpenRequest request;
    std::memset(&request, 0, sizeof request);
    request.archivePath = path.data();
    request.openMode = mode;
    ClearSystemError();
    void* handle = plugin.OpenArchive(&request);
    if (!handle) {
        SystemError error = TakeSystemError();
        std::string damaged = DamagedArchiveReason(archive);
        Report(archive + ": " +
               (damaged.empty() ? FailureReason(request.openResult, error) : damaged));
        return nullptr;
    }
    // As a file manager does after each open; the slot is process-wide.
    plugin.SetProcessDataProc(handle, OnProgress);
    return handle;
}

} // namespace

int ListMembers(Plugin& plugin, const std::string& archive,
                const std::function<void(Member&&)>& take) {
    void* handle = OpenArchiveIn(plugin, archive, kOpenList);
    if (!handle) {
        return kExitUsage;
    }
    EntryHeader header;
    std::memset(&header, 0, sizeof header);
    int result;
    size_t listed = 0;
    // One member record for all: a taker that does not keep the member
    // leaves its name's room for the next name.
    Member member;
    while ((result = plugin.ReadHeader(handle, &header)) == kResultOk) {
        CopyNameInHeader(header, &member.name);
        member.size = header.unpackSize;
        member.packed = header.packSize;
        take(std::move(member));
        ++listed;
    }
    plugin.CloseArchive(handle);
    if (result != kResultEndArchive) {
        ReportListingFailure(archive, result, listed);
        return kExitSomeFailed;
    }
    return kExitOk;
}

int ReadMembers(Plugin& plugin, const std::string& archive, std::vector<Member>& members) {
    return ListMembers(plugin, archive,
                       [&members](Member&& member) { members.push_back(std::move(member)); });
}

void ReportListingFailure(const std::string& archive, int result, size_t listed) {
    Report(archive + ": the listing failed after " + std::to_string(listed) +
           (listed == 1 ? " member: " : " members: ") + ResultInWords(result));
}

void* OpenForReading(Plugin& plugin, const std::string& archive) {
    return OpenArchiveIn(plugin, archive, kOpenExtract);
}

std::string NameInHeader(const EntryHeader& header) {
    std::string name;
    CopyNameInHeader(header, &name);
    return name;
}

void CopyNameInHeader(const EntryHeader& header, std::string* name) {
    name->assign(header.fileName, strnlen(header.fileName, sizeof header.fileName));
}

bool GatherNames(const CommandLine& line, std::vector<std::string>& names) {
    names = line.operands;
    for (const std::string& file : line.nameFiles) {
        std::string error;
        if (!ReadNameList(file, names, error)) {
            Report(error);
            return false;
        }
    }
    return true;
}

void ReportUpdateFailure(const std::string& archive, int result, const SystemError& error,
                         const std::string& pluginText) {
    std::string damaged = DamagedArchiveReason(archive);
    if (!damaged.empty()) {
        Report(archive + ": " + damaged);
        return;
    }
    if (error.kind == SystemError::None) {
        PassOn(pluginText);
    }
    Report(archive + ": " + FailureReason(result, error));
}

std::string SystemReason(const SystemError& error) {
    if (error.kind == SystemError::BadFormat) {
        return "damaged, or in a form the archive library cannot read";
    }
    return error.text;
}

std::string FailureReason(int result, const SystemError& error) {
    std::string words = ResultInWords(result);
    return error.kind == SystemError::None ? words : words + ": " + SystemReason(error);
}

std::vector<char> HostNameList(const std::vector<std::string>& names) {
    std::vector<char> list;
    for (const std::string& name : names) {
        list.insert(list.end(), name.begin(), name.end());
        list.push_back('\0');
    }
    // The empty name that ends the list.
    list.push_back('\0');
    return list;
}

} // namespace host

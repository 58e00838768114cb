// What the commands share: reading members, reporting, choosing members.
#include <cstdio>
#include <cstring>

#include "host/commands.h"
#include "host/host_os.h"
#include "host/progress.h"
#include "host/terminal_text.h"
#include "host/wildcard.h"

namespace host {

void Report(const std::string& text) {
    ClearProgressBar();
    // Messages name members and files, which may hold control characters.
    std::fprintf(stderr, "tarnel: %s\n", Printable(text).c_str());
    std::fflush(stderr);
}

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
    if (StatPath(archive) == PathKind::Missing) {
        Report(archive + ": no such file");
        return nullptr;
    }
    std::vector<char> path(archive.begin(), archive.end());
    path.push_back('\0');
    OpenRequest request;
    std::memset(&request, 0, sizeof request);
    request.archivePath = path.data();
    request.openMode = mode;
    void* handle = plugin.OpenArchive(&request);
    if (!handle) {
        Report(archive + ": " + ResultInWords(request.openResult));
        return nullptr;
    }
    // As a file manager does after each open; the slot is process-wide.
    plugin.SetProcessDataProc(handle, OnProgress);
    return handle;
}

} // namespace

int ReadMembers(Plugin& plugin, const std::string& archive, std::vector<Member>& members) {
    void* handle = OpenArchiveIn(plugin, archive, kOpenList);
    if (!handle) {
        return kExitUsage;
    }
    EntryHeader header;
    std::memset(&header, 0, sizeof header);
    int result;
    while ((result = plugin.ReadHeader(handle, &header)) == kResultOk) {
        Member member;
        member.name = NameInHeader(header);
        member.size = header.unpackSize;
        member.packed = header.packSize;
        members.push_back(member);
    }
    plugin.CloseArchive(handle);
    if (result != kResultEndArchive) {
        ReportListingFailure(archive, result, members.size());
        return kExitSomeFailed;
    }
    return kExitOk;
}

void ReportListingFailure(const std::string& archive, int result, size_t listed) {
    Report(archive + ": the listing failed after " + std::to_string(listed) +
           (listed == 1 ? " member: " : " members: ") + ResultInWords(result));
}

void* OpenForReading(Plugin& plugin, const std::string& archive) {
    return OpenArchiveIn(plugin, archive, kOpenExtract);
}

std::string NameInHeader(const EntryHeader& header) {
    return std::string(header.fileName, strnlen(header.fileName, sizeof header.fileName));
}

std::vector<bool> SelectMembers(const std::vector<Member>& members,
                                const std::vector<std::string>& patterns,
                                const std::string& archive, int& unmatched) {
    std::vector<bool> chosen(members.size(), patterns.empty());
    for (const std::string& pattern : patterns) {
        bool used = false;
        for (size_t m = 0; m < members.size(); ++m) {
            if (PatternSelects(pattern, members[m].name)) {
                chosen[m] = true;
                used = true;
            }
        }
        if (!used) {
            Report(pattern + ": no such member in " + archive);
            ++unmatched;
        }
    }
    return chosen;
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

std::string MemberKey(const std::string& name) {
    std::string key = name;
    for (char& c : key) {
        if (c == '/') {
            c = '\\';
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key;
}

} // namespace host

// tarnel extract: all members, or the chosen ones, into a folder. Member
// names are checked before anything is written: one that would land outside
// the folder is refused, reported and skipped.
#include <cstring>
#include <set>

#include "host/commands.h"
#include "host/disk_path.h"
#include "host/host_os.h"
#include "host/path_safety.h"
#include "host/progress.h"

namespace host {

namespace {

// Makes the folders that `destination` needs, remembering those made, so
// that many members in one folder cost one check.
bool MakeParentFolders(const std::string& destination, std::set<std::string>& made) {
    std::string parent = FolderOf(destination);
    if (parent.empty() || made.count(parent)) {
        return true;
    }
    std::string error;
    if (!MakeFolders(parent, error)) {
        Report("cannot create folder " + error);
        return false;
    }
    made.insert(parent);
    return true;
}

// Works out where member `name` goes below `folder` (empty or ending with a
// separator) and makes its folders. Returns false after reporting why the
// member cannot be extracted.
bool PrepareDestination(const std::string& name, const std::string& folder,
                        std::set<std::string>& made, std::string& destination) {
    CheckedPath checked = CheckMemberPath(name, kPathSeparator);
    if (!checked.ok) {
        Report(name + ": refused, " + checked.reason);
        return false;
    }
    destination = folder + checked.relative;
    return FitsPluginPath(destination, "destination") && MakeParentFolders(destination, made);
}

} // namespace

int RunExtract(Plugin& plugin, const CommandLine& line) {
    std::vector<Member> members;
    // When the listing fails part-way (reported there), the members before
    // the failure are still extracted; the loop below then stops at it.
    int listing = ReadMembers(plugin, line.archive, members);
    if (listing == kExitUsage) {
        return listing;
    }
    int failures = listing == kExitOk ? 0 : 1;
    std::vector<bool> chosen = SelectMembers(members, line.operands, line.archive, failures);
    uint64_t total = 0;
    std::set<std::string> chosenNames;
    for (size_t m = 0; m < members.size(); ++m) {
        if (chosen[m]) {
            total += members[m].size;
            chosenNames.insert(members[m].name);
        }
    }

    std::string folder = line.folder;
    std::set<std::string> made;
    if (!folder.empty()) {
        std::string error;
        if (!MakeFolders(folder, error)) {
            Report("cannot create folder " + error);
            return kExitSomeFailed;
        }
        made.insert(folder);
        if (!IsSeparatorOnDisk(folder.back())) {
            folder += kPathSeparator;
        }
    }

    void* handle = OpenForReading(plugin, line.archive);
    if (!handle) {
        return kExitUsage;
    }
    BeginByteProgress(total);
    EntryHeader header;
    std::memset(&header, 0, sizeof header);
    bool stopped = false;
    size_t read = 0;
    int result;
    while ((result = plugin.ReadHeader(handle, &header)) == kResultOk) {
        ++read;
        std::string name = NameInHeader(header);
        bool wanted = chosenNames.count(name) != 0;
        if (InterruptRequested() || ProgressStopped()) {
            stopped = true;
            break;
        }
        if (!wanted) {
            plugin.ProcessFile(handle, kOpSkip, nullptr, nullptr);
            continue;
        }
        std::string destination;
        if (!PrepareDestination(name, folder, made, destination)) {
            ++failures;
            plugin.ProcessFile(handle, kOpSkip, nullptr, nullptr);
            continue;
        }
        std::vector<char> target(destination.begin(), destination.end());
        target.push_back('\0');
        int extracted = plugin.ProcessFile(handle, kOpExtract, nullptr, target.data());
        if (ProgressStopped()) {
            stopped = true;
            break;
        }
        if (extracted != kResultOk) {
            Report(name + ": " + ResultInWords(extracted));
            ++failures;
        }
    }
    if (!stopped && result != kResultEndArchive && listing == kExitOk) {
        ReportListingFailure(line.archive, result, read);
        ++failures;
    }
    plugin.CloseArchive(handle);
    EndProgress();
    if (stopped) {
        Report("stopped by the user; the members not yet extracted were left out");
        return kExitSomeFailed;
    }
    return failures ? kExitSomeFailed : kExitOk;
}

int RunTest(Plugin& plugin, const CommandLine& line) {
    std::vector<Member> members;
    // As for extraction: a listing that fails part-way is reported there,
    // and the members before the failure are still tested.
    int listing = ReadMembers(plugin, line.archive, members);
    if (listing == kExitUsage) {
        return listing;
    }
    uint64_t total = 0;
    for (const Member& member : members) {
        total += member.size;
    }
    void* handle = OpenForReading(plugin, line.archive);
    if (!handle) {
        return kExitUsage;
    }
    BeginByteProgress(total);
    EntryHeader header;
    std::memset(&header, 0, sizeof header);
    int tested = 0;
    int failures = 0;
    bool stopped = false;
    int result;
    while ((result = plugin.ReadHeader(handle, &header)) == kResultOk) {
        if (InterruptRequested()) {
            stopped = true;
            break;
        }
        int checked = plugin.ProcessFile(handle, kOpTest, nullptr, nullptr);
        if (ProgressStopped()) {
            stopped = true;
            break;
        }
        ++tested;
        if (checked != kResultOk) {
            Report(NameInHeader(header) + ": " + ResultInWords(checked));
            ++failures;
        }
    }
    bool unreadable = !stopped && (result != kResultEndArchive || listing != kExitOk);
    if (!stopped && result != kResultEndArchive && listing == kExitOk) {
        ReportListingFailure(line.archive, result, static_cast<size_t>(tested));
    }
    plugin.CloseArchive(handle);
    EndProgress();
    if (stopped) {
        Report("stopped by the user after " + std::to_string(tested) + " members");
        return kExitSomeFailed;
    }
    if (unreadable) {
        std::printf("%d members tested, %d failed; the archive could not be listed to its end\n",
                    tested, failures);
        return kExitSomeFailed;
    }
    if (failures) {
        std::printf("%d of %d members failed the test\n", failures, tested);
        return kExitSomeFailed;
    }
    std::printf("%d members tested, all OK\n", tested);
    return kExitOk;
}

} // namespace host

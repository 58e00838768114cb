// tarnel extract: all members, or the chosen ones, into a folder. Member
// names are checked before anything is written: one that would land outside
// the folder is refused, reported and skipped. The folder itself is made
// only when a member is about to be written into it.
#include <cstring>
#include <set>

#include "host/archive_check.h"
#include "host/commands.h"
#include "host/disk_path.h"
#include "host/failure_tally.h"
#include "host/host_os.h"
#include "host/path_safety.h"
#include "host/progress.h"

namespace host {

namespace {

// Makes the folders that `destination` needs, remembering those made, so
// that many members in one folder cost one check. Returns false with the
// reason in `reason`.
bool MakeParentFolders(const std::string& destination, std::set<std::string>& made,
                       std::string& reason) {
    std::string parent = FolderOf(destination);
    if (parent.empty() || made.count(parent)) {
        return true;
    }
    std::string error;
    if (!MakeFolders(parent, error)) {
        reason = "cannot create folder " + error;
        return false;
    }
    made.insert(parent);
    return true;
}

// Works out where member `name` goes below `folder` (empty or ending with a
// separator). Returns false after reporting a name that would land outside
// it, or one too long for the plug-in.
bool DestinationOf(const std::string& name, const std::string& folder, std::string& destination) {
    CheckedPath checked = CheckMemberPath(name, kPathSeparator);
    if (!checked.ok) {
        Report(name + ": refused, " + checked.reason);
        return false;
    }
    destination = folder + checked.relative;
    return FitsPluginPath(destination, "destination");
}

// Why a member could not be written to `destination`, extracting into
// `root`. A full or read-only disk is said of the folder extracted into, so
// that every member it stops shares the one reason; missing permission is
// said of the folder that refused the new file.
std::string ExtractionReason(int result, const SystemError& error, const std::string& destination,
                             const std::string& root) {
    switch (error.kind) {
    case SystemError::NoSpace:
    case SystemError::ReadOnly:
        return root + ": " + error.text;
    case SystemError::Denied: {
        std::string folder = FolderShown(destination);
        return (WriteDenied(folder).empty() ? destination : folder) + ": " + error.text;
    }
    default:
        return FailureReason(result, error);
    }
}

// What the extraction loop found: the members it could not extract or kept,
// whether it was stopped, and how the listing ended.
struct ExtractionRun {
    FailureTally failed{"members", "not extracted"};
    FailureTally kept{"members", "skipped"};
    std::set<std::string> made; // the folders made so far
    bool stopped = false;
    size_t read = 0;        // the members ReadHeader gave
    int result = kResultOk; // ReadHeader's last result
    int failures = 0;       // names refused as destinations
};

// Walks the open archive `handle` member by member, extracting the chosen
// ones below `folder` (ending with a separator, or empty for the current
// folder, `root` in messages) and skipping the rest.
// Whether the member at `index` of the extraction's listing, named `name`,
// was chosen. The extraction lists the archive in the same order as the
// listing the choice was made on; by name only where it does not (the
// archive changed between the two).
class ChosenMembers {
  public:
    ChosenMembers(const std::vector<Member>& members, const std::vector<bool>& chosen)
        : members_(members), chosen_(chosen) {}

    bool operator()(size_t index, const std::string& name) {
        if (index < members_.size() && members_[index].name == name) {
            return chosen_[index];
        }
        if (!namesKnown_) {
            for (size_t m = 0; m < members_.size(); ++m) {
                if (chosen_[m]) {
                    names_.insert(members_[m].name);
                }
            }
            namesKnown_ = true;
        }
        return names_.count(name) != 0;
    }

  private:
    const std::vector<Member>& members_;
    const std::vector<bool>& chosen_;
    std::set<std::string> names_;
    bool namesKnown_ = false;
};

void ExtractChosen(Plugin& plugin, void* handle, const CommandLine& line, ChosenMembers& isChosen,
                   const std::string& folder, const std::string& root, ExtractionRun& run) {
    EntryHeader header;
    std::memset(&header, 0, sizeof header);
    while ((run.result = plugin.ReadHeader(handle, &header)) == kResultOk) {
        std::string name = NameInHeader(header);
        bool wanted = isChosen(run.read, name);
        ++run.read;
        if (InterruptRequested() || ProgressStopped()) {
            run.stopped = true;
            break;
        }
        std::string destination;
        if (wanted && !DestinationOf(name, folder, destination)) {
            ++run.failures;
            wanted = false;
        }
        if (wanted && line.keepOld && StatPath(destination) != PathKind::Missing) {
            run.kept.Add(name, "a file of its name exists and is kept (--keep-old-files)");
            wanted = false;
        }
        std::string reason;
        if (wanted && !MakeParentFolders(destination, run.made, reason)) {
            run.failed.Add(name, reason);
            wanted = false;
        }
        if (!wanted) {
            plugin.ProcessFile(handle, kOpSkip, nullptr, nullptr);
            continue;
        }
        ShowHandled(name);
        std::vector<char> target(destination.begin(), destination.end());
        target.push_back('\0');
        ClearSystemError();
        int extracted = plugin.ProcessFile(handle, kOpExtract, nullptr, target.data());
        SystemError error = TakeSystemError();
        if (ProgressStopped()) {
            run.stopped = true;
            break;
        }
        if (extracted != kResultOk) {
            run.failed.Add(name, ExtractionReason(extracted, error, destination, root));
        }
    }
}

} // namespace

int RunExtract(Plugin& plugin, const CommandLine& line) {
    std::vector<std::string> patterns;
    if (!GatherNames(line, patterns)) {
        return kExitUsage;
    }
    if (patterns.empty() && !line.nameFiles.empty()) {
        Notice("no member names given; nothing to extract");
        return kExitOk;
    }
    std::vector<Member> members;
    // When the listing fails part-way (reported there), the members before
    // the failure are still extracted; the loop below then stops at it.
    int listing = ReadMembers(plugin, line.archive, members);
    if (listing == kExitUsage) {
        return listing;
    }
    int failures = listing == kExitOk ? 0 : 1;
    std::vector<bool> chosen =
        SelectMembers(members, patterns, line.archive, line.internal, failures);
    uint64_t total = 0;
    for (size_t m = 0; m < members.size(); ++m) {
        if (chosen[m]) {
            total += members[m].size;
        }
    }
    ChosenMembers isChosen(members, chosen);

    std::string folder = line.folder;
    std::string root = folder.empty() ? "." : folder;
    PathKind folderKind = folder.empty() ? PathKind::Folder : StatPath(folder);
    if (folderKind != PathKind::Folder && folderKind != PathKind::Missing) {
        Report(folder + ": not a folder");
        return kExitSomeFailed;
    }
    if (!folder.empty() && !IsSeparatorOnDisk(folder.back())) {
        folder += kPathSeparator;
    }

    void* handle = OpenForReading(plugin, line.archive);
    if (!handle) {
        return kExitUsage;
    }
    BeginByteProgress(total);
    ExtractionRun run;
    ExtractChosen(plugin, handle, line, isChosen, folder, root, run);
    failures += run.failures;
    if (!run.stopped && run.result != kResultEndArchive && listing == kExitOk) {
        ReportListingFailure(line.archive, run.result, run.read);
        ++failures;
    }
    plugin.CloseArchive(handle);
    EndProgress();
    ReportTally(run.kept, true);
    ReportTally(run.failed);
    if (run.stopped) {
        Report(StopText() + "; the members not yet extracted were left out");
        return kExitSomeFailed;
    }
    return failures || run.failed.count() ? kExitSomeFailed : kExitOk;
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
    FailureTally failed("members", "failed the test");
    bool stopped = false;
    int result;
    while ((result = plugin.ReadHeader(handle, &header)) == kResultOk) {
        if (InterruptRequested()) {
            stopped = true;
            break;
        }
        std::string name = NameInHeader(header);
        ShowHandled(name);
        ClearSystemError();
        int checked = plugin.ProcessFile(handle, kOpTest, nullptr, nullptr);
        SystemError error = TakeSystemError();
        if (ProgressStopped()) {
            stopped = true;
            break;
        }
        ++tested;
        if (checked != kResultOk) {
            failed.Add(name, FailureReason(checked, error));
        }
    }
    bool unreadable = !stopped && (result != kResultEndArchive || listing != kExitOk);
    if (!stopped && result != kResultEndArchive && listing == kExitOk) {
        ReportListingFailure(line.archive, result, static_cast<size_t>(tested));
    }
    plugin.CloseArchive(handle);
    EndProgress();
    ReportTally(failed);
    int failures = static_cast<int>(failed.count());
    if (stopped) {
        Report(StopText() + " after " + std::to_string(tested) + " members");
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
    if (!line.quiet) {
        std::printf("%d members tested, all OK\n", tested);
    }
    return kExitOk;
}

} // namespace host

// tarnel add: files and folders, named relative to a source folder, handed
// to PackFiles in one call. Since PackFiles reports single files only in
// messages, the archive is listed afterwards to find what did not arrive,
// and the command says why in its own words, once per reason.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
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

struct FileToAdd {
    std::string name; // relative to the source folder, with the system's separator
    uint64_t size = 0;
};

class AddList {
  public:
    AddList(const std::string& sourceFolder, const std::string& into,
            const std::string& archiveIdentity)
        : sourceFolder_(sourceFolder), into_(into), archiveIdentity_(archiveIdentity) {}

    // Adds the file or folder `relative` (already checked; empty for the
    // source folder itself); returns false when something failed. Links are
    // followed for the user's own operands only: a link found inside a
    // folder that points to a folder is not entered (a link to "/" would
    // walk the whole file system), and one that points to a file adds that
    // file's content under the link's name, since a member cannot be a link.
    bool AddPath(const std::string& relative, bool operand) {
        std::string full = sourceFolder_ + relative;
        uint64_t size = 0;
        PathKind kind = StatPath(full, &size);
        if (!operand && (kind == PathKind::Folder || kind == PathKind::Missing) && IsLink(full)) {
            if (kind == PathKind::Folder) {
                Notice(full + ": a link to a folder; not followed");
                return true;
            }
            Report(full + ": a link to nothing; skipped");
            return false;
        }
        switch (kind) {
        case PathKind::File:
            return AddFile(relative, full, size);
        case PathKind::Folder:
            return AddFolder(relative, full);
        case PathKind::Missing:
            Report(full + ": no such file or folder");
            return false;
        default:
            Report(full + ": not a regular file; skipped");
            return false;
        }
    }

    const std::vector<FileToAdd>& files() const { return files_; }

    // Leaves out every file whose member name another file has too, apart
    // from letter case (names in an archive do not tell case apart, so one
    // would silently replace the other), and reports them. Returns the number
    // of member names refused.
    int RefuseCollisions() {
        std::set<std::string> refused;
        for (const auto& collision : collisions_) {
            const std::vector<std::string>& sources = collision.second;
            std::string list;
            for (size_t i = 0; i < sources.size(); ++i) {
                list += i == 0 ? "" : (i + 1 == sources.size() ? " and " : ", ");
                list += sources[i];
            }
            bool two = sources.size() == 2;
            Report(list + (two ? " would both" : " would all") + " become the member " +
                   memberNames_[collision.first] +
                   ", since member names do not tell letter case apart; " +
                   (two ? "neither is added" : "none of them is added"));
            refused.insert(collision.first);
        }
        auto collides = [&](const FileToAdd& file) {
            return refused.count(MemberKey(ArchivedName(file))) != 0;
        };
        files_.erase(std::remove_if(files_.begin(), files_.end(), collides), files_.end());
        return static_cast<int>(refused.size());
    }

    // The name a file gets in the archive.
    std::string ArchivedName(const FileToAdd& file) const {
        return into_.empty() ? file.name : into_ + kPathSeparator + file.name;
    }

  private:
    bool AddFile(const std::string& relative, const std::string& full, uint64_t size) {
        if (!archiveIdentity_.empty() && PathIdentity(full) == archiveIdentity_) {
            Notice(full + ": the archive itself; skipped");
            return true;
        }
        FileToAdd file{relative, size};
        if (!FitsPluginPath(full, "file") || !FitsPluginPath(ArchivedName(file), "name")) {
            return false;
        }
        if (size > 0xFFFFFFFFu) {
            Report(full + ": larger than 4 GiB, which an archive member cannot be");
            return false;
        }
        std::string key = MemberKey(ArchivedName(file));
        auto first = firstSource_.find(key);
        if (first == firstSource_.end()) {
            firstSource_[key] = relative;
            memberNames_[key] = ArchivedName(file);
            files_.push_back(file);
            return true;
        }
        // Named twice, or once directly and once by its folder; or, on a
        // file system that ignores case, the same file in another spelling.
        std::string firstFull = sourceFolder_ + first->second;
        std::string identity = first->second == relative ? "" : PathIdentity(full);
        if (first->second == relative ||
            (!identity.empty() && identity == PathIdentity(firstFull))) {
            return true;
        }
        std::vector<std::string>& sources = collisions_[key];
        if (sources.empty()) {
            sources.push_back(firstFull);
        }
        sources.push_back(full);
        return true;
    }

    bool AddFolder(const std::string& relative, const std::string& full) {
        std::string identity = PathIdentity(full);
        if (!identity.empty() && !folders_.insert(identity).second) {
            return true; // entered already (also named through a link, or mounted within itself)
        }
        std::vector<std::string> names;
        if (!ListFolder(full, names)) {
            Report(full + ": cannot read the folder: " + LastErrorText());
            return false;
        }
        std::sort(names.begin(), names.end());
        bool ok = true;
        for (const std::string& name : names) {
            // A file name on disk may hold characters that the archive takes
            // as separators; such names are checked like the user's paths.
            std::string child = relative.empty() ? name : relative + kPathSeparator + name;
            CheckedPath checked = CheckMemberPath(child, kPathSeparator);
            if (!checked.ok) {
                Report(sourceFolder_ + child + ": refused, " + checked.reason);
                ok = false;
                continue;
            }
            ok &= AddPath(checked.relative, false);
        }
        return ok;
    }

    std::string sourceFolder_;
    std::string into_;
    std::string archiveIdentity_;
    std::vector<FileToAdd> files_;
    // By member key: the relative name of the first file to claim it, and
    // the full paths of files that claimed it in another spelling.
    std::map<std::string, std::string> firstSource_;
    std::map<std::string, std::vector<std::string>> collisions_;
    std::map<std::string, std::string> memberNames_; // as the first file names it
    std::set<std::string> folders_;
};

// The source folder as an absolute path ending with a separator: PackFiles
// puts the folder and each name together without adding one.
std::string SourceFolder(const std::string& folder) {
    std::string base = folder;
    if (base.empty() || !IsAbsolutePath(base)) {
        std::string current = CurrentFolder();
        if (!current.empty() && !IsSeparatorOnDisk(current.back())) {
            current += kPathSeparator;
        }
        base = current + base;
    }
    if (!base.empty() && !IsSeparatorOnDisk(base.back())) {
        base += kPathSeparator;
    }
    return base;
}

// True for "." and the like ("./.", ".//"): the source folder itself.
bool NamesTheFolderItself(const std::string& path) {
    return !path.empty() && path.find("..") == std::string::npos &&
           path.find_first_not_of(std::string("./") + kPathSeparator) == std::string::npos;
}

std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && IsSeparatorOnDisk(path.back())) {
        path.pop_back();
    }
    return path;
}

// The folder inside the archive that --into names, without separators at
// either end; empty for the archive's root. Returns false after reporting a
// path that would make member names an extraction refuses.
bool ArchiveSubPath(const std::string& given, std::string& into) {
    const char* separators = "/\\";
    size_t first = given.find_first_not_of(separators);
    if (first == std::string::npos) {
        into.clear();
        return true;
    }
    size_t last = given.find_last_not_of(separators);
    CheckedPath checked = CheckMemberPath(given.substr(first, last - first + 1), kPathSeparator);
    if (!checked.ok) {
        Report("--into " + given + ": refused, " + checked.reason);
        return false;
    }
    into = checked.relative;
    return true;
}

// Why `full` did not arrive in the archive, which now holds `members`
// members in a hash table of `capacity` slots.
std::string MissingReason(const std::string& full, size_t members, uint32_t capacity,
                          const std::string& settingsPath) {
    if (capacity && members >= capacity) {
        return "the archive is full: its table holds " + std::to_string(capacity) +
               " members (the MaxFiles setting in " + settingsPath +
               " sets the room of new archives)";
    }
    std::FILE* file = std::fopen(full.c_str(), "rb");
    if (!file) {
        return "cannot read it: " + std::string(std::strerror(errno));
    }
    std::fclose(file);
    return "the plug-in did not add it";
}

// Puts every operand into `list`; returns the number refused.
int ListOperands(const std::vector<std::string>& paths, AddList& list) {
    int failures = 0;
    for (const std::string& operand : paths) {
        std::string path = WithoutTrailingSeparators(operand);
        if (IsAbsolutePath(path)) {
            Report(operand + ": refused, an absolute path; give it relative to -C DIR");
            ++failures;
            continue;
        }
        if (NamesTheFolderItself(path)) {
            failures += list.AddPath("", true) ? 0 : 1;
            continue;
        }
        CheckedPath checked = CheckMemberPath(path, kPathSeparator);
        if (!checked.ok) {
            Report(operand + ": refused, " + checked.reason);
            ++failures;
            continue;
        }
        if (!list.AddPath(checked.relative, true)) {
            ++failures;
        }
    }
    return failures + list.RefuseCollisions();
}

// What PackFiles did, and what the plug-in and the system said meanwhile.
struct PackOutcome {
    int result = kResultOk;
    SystemError error;
    std::string pluginText;
    bool stopped = false;
};

// Hands the files of `list` to the plug-in's PackFiles in one call, with
// the progress shown by file.
PackOutcome PackList(Plugin& plugin, const CommandLine& line, const AddList& list,
                     const std::string& sourceFolder, const std::string& into) {
    std::vector<std::string> names;
    std::vector<std::string> shownNames;
    std::vector<uint64_t> sizes;
    for (const FileToAdd& file : list.files()) {
        names.push_back(file.name);
        shownNames.push_back(list.ArchivedName(file));
        sizes.push_back(file.size);
    }
    std::vector<char> addList = HostNameList(names);
    std::vector<char> archive(line.archive.begin(), line.archive.end());
    archive.push_back('\0');
    std::vector<char> source(sourceFolder.begin(), sourceFolder.end());
    source.push_back('\0');
    std::vector<char> subPath(into.begin(), into.end());
    subPath.push_back('\0');

    BeginFileProgress(sizes, shownNames);
    // The plug-in says "cannot add" once per file; the command says why,
    // once per reason, from the archive it finds afterwards.
    HoldPluginMessages();
    ClearSystemError();
    PackOutcome outcome;
    outcome.result =
        plugin.PackFiles(archive.data(), into.empty() ? nullptr : subPath.data(), source.data(),
                         addList.data(), line.move ? kPackMoveFiles : 0);
    outcome.error = TakeSystemError();
    outcome.pluginText = ReleasePluginMessages();
    EndProgress();
    outcome.stopped = ProgressStopped();
    return outcome;
}

// Reports each file of `list` that the written archive does not hold, and
// each moved one that stayed. Returns the command's exit code, counting
// `failures` from before.
int CheckAdded(Plugin& plugin, const CommandLine& line, const AddList& list,
               const std::string& sourceFolder, const PackOutcome& outcome, int failures) {
    std::vector<Member> members;
    if (ReadMembers(plugin, line.archive, members) != kExitOk) {
        return kExitSomeFailed;
    }
    std::map<std::string, uint32_t> present; // member sizes by name
    for (const Member& member : members) {
        present[MemberKey(member.name)] = member.size;
    }
    MpqHeaderSearch header = FindMpqHeader(line.archive);
    uint32_t capacity = header.outcome == MpqHeaderSearch::Found ? header.hashTableSize : 0;
    FailureTally notAdded("files", "not added to " + line.archive);
    int missing = 0;
    for (const FileToAdd& file : list.files()) {
        std::string full = sourceFolder + file.name;
        auto member = present.find(MemberKey(list.ArchivedName(file)));
        // A member of another size is an older one that was not replaced.
        if (member == present.end() || member->second != file.size) {
            if (!outcome.stopped) {
                notAdded.Add(full,
                             MissingReason(full, members.size(), capacity, line.settingsPath));
            }
            ++missing;
        } else if (line.move && StatPath(full) != PathKind::Missing) {
            Report(full + ": added, but the source could not be deleted");
            ++failures;
        }
    }
    ReportTally(notAdded);
    // The plug-in shows only failures. One the archive does not show (a
    // member of the same size that was not replaced) is passed on as the
    // plug-in said it, and fails the command.
    if (!missing && !outcome.pluginText.empty()) {
        PassOn(outcome.pluginText);
        ++failures;
    }
    if (outcome.stopped) {
        Report(StopText() + "; " + std::to_string(missing) + " files were not added");
    }
    return failures || missing ? kExitSomeFailed : kExitOk;
}

} // namespace

int RunAdd(Plugin& plugin, const CommandLine& line) {
    std::string into;
    if (line.intoGiven && !ArchiveSubPath(line.into, into)) {
        return kExitUsage;
    }
    if (!FitsPluginPath(line.archive, "archive")) {
        return kExitUsage;
    }
    std::vector<std::string> paths;
    if (!GatherNames(line, paths)) {
        return kExitUsage;
    }
    if (paths.empty()) {
        Notice("no paths given; nothing to add");
        return kExitOk;
    }
    std::string problem = ArchiveUpdateProblem(line.archive, true);
    if (!problem.empty()) {
        Report(line.archive + ": " + problem);
        return kExitUsage;
    }
    std::string sourceFolder = SourceFolder(line.folder);
    if (StatPath(sourceFolder) != PathKind::Folder) {
        Report(line.folder + ": no such folder");
        return kExitUsage;
    }
    if (!FitsPluginPath(sourceFolder, "folder")) {
        return kExitUsage;
    }

    AddList list(sourceFolder, into, PathIdentity(line.archive));
    int failures = ListOperands(paths, list);
    if (list.files().empty()) {
        if (!failures) {
            Report("nothing to add");
        }
        return kExitSomeFailed;
    }
    PackOutcome outcome = PackList(plugin, line, list, sourceFolder, into);
    if (outcome.result != kResultOk) {
        ReportUpdateFailure(line.archive, outcome.result, outcome.error, outcome.pluginText);
        return kExitUsage;
    }
    return CheckAdded(plugin, line, list, sourceFolder, outcome, failures);
}

} // namespace host

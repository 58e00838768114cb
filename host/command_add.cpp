// tarnel add: files and folders, named relative to a source folder, handed
// to PackFiles in one call. Since PackFiles reports single files only in
// messages, the archive is listed afterwards to find what did not arrive.
#include <algorithm>
#include <map>
#include <set>

#include "host/commands.h"
#include "host/disk_path.h"
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
                Report(full + ": a link to a folder; not followed");
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

    // The name a file gets in the archive.
    std::string ArchivedName(const FileToAdd& file) const {
        return into_.empty() ? file.name : into_ + kPathSeparator + file.name;
    }

  private:
    bool AddFile(const std::string& relative, const std::string& full, uint64_t size) {
        if (!archiveIdentity_.empty() && PathIdentity(full) == archiveIdentity_) {
            Report(full + ": the archive itself; skipped");
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
        if (!seen_.insert(MemberKey(ArchivedName(file))).second) {
            return true; // named twice, or once directly and once by its folder
        }
        files_.push_back(file);
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
    std::set<std::string> seen_;
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

} // namespace

int RunAdd(Plugin& plugin, const CommandLine& line) {
    std::string into;
    if (line.intoGiven && !ArchiveSubPath(line.into, into)) {
        return kExitUsage;
    }
    if (!FitsPluginPath(line.archive, "archive")) {
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
    int failures = 0;
    for (const std::string& operand : line.operands) {
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
    if (list.files().empty()) {
        if (!failures) {
            Report("nothing to add");
        }
        return kExitSomeFailed;
    }

    std::vector<std::string> names;
    std::vector<uint64_t> sizes;
    for (const FileToAdd& file : list.files()) {
        names.push_back(file.name);
        sizes.push_back(file.size);
    }
    std::vector<char> addList = HostNameList(names);
    std::vector<char> archive(line.archive.begin(), line.archive.end());
    archive.push_back('\0');
    std::vector<char> source(sourceFolder.begin(), sourceFolder.end());
    source.push_back('\0');
    std::vector<char> subPath(into.begin(), into.end());
    subPath.push_back('\0');

    BeginFileProgress(sizes);
    int result = plugin.PackFiles(archive.data(), into.empty() ? nullptr : subPath.data(),
                                  source.data(), addList.data(), line.move ? kPackMoveFiles : 0);
    EndProgress();
    bool stopped = ProgressStopped();
    if (result != kResultOk) {
        Report(line.archive + ": " + ResultInWords(result));
        return kExitUsage;
    }

    std::vector<Member> members;
    if (ReadMembers(plugin, line.archive, members) != kExitOk) {
        return kExitSomeFailed;
    }
    std::map<std::string, uint32_t> present; // member sizes by name
    for (const Member& member : members) {
        present[MemberKey(member.name)] = member.size;
    }
    int missing = 0;
    for (const FileToAdd& file : list.files()) {
        std::string full = sourceFolder + file.name;
        auto member = present.find(MemberKey(list.ArchivedName(file)));
        // A member of another size is an older one that was not replaced.
        if (member == present.end() || member->second != file.size) {
            if (!stopped) {
                Report(full + ": not added to " + line.archive);
            }
            ++missing;
        } else if (line.move && StatPath(full) != PathKind::Missing) {
            Report(full + ": added, but the source could not be deleted");
            ++failures;
        }
    }
    if (stopped) {
        Report("stopped by the user; " + std::to_string(missing) + " files were not added");
    }
    return failures || missing ? kExitSomeFailed : kExitOk;
}

} // namespace host

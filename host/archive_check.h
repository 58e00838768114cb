// What an archive file is before the plug-in opens it. The plug-in says only
// that an archive "cannot be opened or updated"; the command tells the common
// reasons apart itself and says which: no such file, a folder, not an MPQ
// archive, an archive cut short, and missing permission of the archive or of
// its folder.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// An MPQ header, searched for as the archive library does: the first
// "MPQ\x1A" at a multiple of 512 bytes whose header size is at least 32.
struct MpqHeaderSearch {
    enum Outcome { Unreadable, NoHeader, Found };
    Outcome outcome = Unreadable;
    std::string error; // Unreadable: the system's reason
    uint64_t fileSize = 0;
    uint64_t offset = 0;        // Found: where the header starts
    bool headerCut = false;     // Found: the file ends inside the header
    uint16_t format = 0;        // Found: 0 for the classic format
    uint32_t hashTableSize = 0; // Found: the slots of its hash table
    bool tablesPastEnd = false; // Found, classic format: a table ends past the file
};
MpqHeaderSearch FindMpqHeader(const std::string& path);

// Why `archive` cannot be listed or extracted, in words ("a folder, not an
// MPQ archive"), or "" when the plug-in may try it.
std::string ArchiveReadProblem(const std::string& archive);

// Why `archive` cannot be updated: a reason above, or the archive or its
// folder not writable (an update writes the new archive beside the old one
// and renames it over it), or, for a missing archive that `create` allows,
// a missing or unwritable folder. "" when the plug-in may try.
std::string ArchiveUpdateProblem(const std::string& archive, bool create);

// For an archive that passed those checks but that the plug-in could not
// open: what its header tells ("cut short ..."), or "".
std::string DamagedArchiveReason(const std::string& archive);

// The folder that holds `path`, "." when the path names none.
std::string FolderShown(const std::string& path);

} // namespace host

// The library's process-wide state: the current locale and every handle it
// has handed out. A handle is valid only while it is in these sets, so a
// stale or made-up handle is recognised without being dereferenced.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "sfmpq/atomic_file.h"
#include "sfmpq/storm_api.h"

namespace sfmpq {

struct Member;

// How the engine opens archives for reading: as format 1 (archive_header.h),
// read-only, and without its own name list and attributes.
constexpr DWORD kEngineReadFlags =
    MPQ_OPEN_FORCE_MPQ_V1 | MPQ_OPEN_READ_ONLY | MPQ_OPEN_NO_LISTFILE | MPQ_OPEN_NO_ATTRIBUTES;

// What an update handle adds to an archive handle: the temporary copy the
// engine works on, and what is needed to put it in the original's place.
struct UpdateSession {
    AtomicFile file;
    bool changed = false;      // something was added, deleted or moved
    bool needsCompact = false; // a member was deleted or replaced
    int failure = 0;           // an errno when a write failed: nothing is committed
};

// One open archive, read-only or for update.
struct Archive {
    HANDLE storm = nullptr;
    UpdateSession* update = nullptr; // null for a read-only archive
    std::set<Member*> members;       // members opened through this handle

    // The engine's hash and block tables, read once and dropped after a change.
    bool tablesLoaded = false;
    std::vector<TMPQHash> hashes;
    std::vector<TMPQBlock> blocks;
    // Generated-name key -> hash slot, built on the first lookup of such a name.
    bool generatedIndexBuilt = false;
    std::unordered_map<std::string, uint32_t> generatedIndex;
};

struct Member {
    HANDLE storm = nullptr;
    Archive* owner = nullptr;
};

struct LibraryState {
    uint32_t locale = 0; // the current locale for opens, additions, deletions
    std::set<Archive*> archives;
    std::set<Member*> members;
};

extern LibraryState State;

Archive* FindArchive(void* handle);
Archive* FindUpdateArchive(void* handle);
Member* FindMember(void* handle);

// Registers a new member of `owner`; returns it as the caller's handle.
Member* AddMember(Archive* owner, HANDLE storm);
// Closes a member in the engine and forgets it.
void CloseEngineMember(Member* member);
// Closes every member of an archive (the archive handle itself stays).
void CloseMembersOf(Archive* archive);

// Drops the cached tables after the archive changed.
void InvalidateTables(Archive* archive);
// Reads the hash and block tables into the archive's cache. False when the
// archive has no classic hash table.
bool LoadTables(Archive* archive);

// Sets the engine's locale to the library's current one.
void ApplyLocale(const StormApi* storm);

// The hash slot and block of an existing member in slot `slot`; false for an
// empty, deleted or damaged slot.
bool SlotHoldsMember(const Archive* archive, uint32_t slot);

// Checks that `path` names a regular file this process may read. Returns 0 or
// the errno value that says why not (ENOENT, EACCES, EISDIR; ENOEXEC for a
// pipe or device, which the engine is never given).
int CheckRegularFile(const char* path);

// CheckRegularFile, and for an archive header that it is believable
// (archive_header.h). For every archive the engine is given.
int CheckReadableFile(const char* path);

// Opens a member by its name, or by the name the library generated for it,
// under the current locale. False with errno set when there is none.
bool OpenEngineMember(Archive* archive, const char* name, HANDLE* member);

// The name under which the engine finds the member that a generated name
// stands for. False when `name` is not a generated name of a member.
bool EngineNameOfGenerated(Archive* archive, const char* name, std::string* engineName);

// Checks what every addition is given: an update handle whose session has not
// failed, a readable regular source file and a member name that fits.
// Returns the archive, or null with errno set.
Archive* CheckAddArguments(void* handle, const char* source, const char* name);

// Adds `source` as `name` under the current locale with the engine's
// compressions for the first and the following sectors. `flags` are the
// caller's add flags (encrypt, replace); `compress` asks for compression.
int AddWithEngine(Archive* archive, const char* source, const char* name, uint32_t flags,
                  DWORD firstCompression, DWORD nextCompression, bool compress);

} // namespace sfmpq

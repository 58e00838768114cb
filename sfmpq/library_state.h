// The engine's state: the current locale and every handle it has handed out.
// A handle is valid only while it is in these sets, so a stale or made-up
// handle is recognised without being dereferenced.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "sfmpq/list_records.h"
#include "sfmpq/member_check.h"
#include "sfmpq/storm_api.h"

namespace sfmpq {

struct Member;

// How the engine opens archives for reading: in the format StormLib finds,
// read-only, without its own name list (the caller hands the names over),
// with the checksums of "(attributes)" and checking sector checksums.
constexpr DWORD kEngineReadFlags =
    MPQ_OPEN_READ_ONLY | MPQ_OPEN_NO_LISTFILE | MPQ_OPEN_CHECK_SECTOR_CRC;

// What an update handle adds to an archive handle: the temporary copy the
// engine works on (SFMpq.dll puts it in the original's place).
struct UpdateSession {
    std::string temp;          // the temporary copy
    bool created = false;      // a new archive, not a copy of an existing one
    uint32_t formatCode = 0;   // the archive's format field: 0 for format 1
    bool changed = false;      // something was added, deleted or moved
    bool needsCompact = false; // a member was deleted or replaced
    int failure = 0;           // an errno when a write failed: nothing is committed
};

// One open archive, read-only or for update.
struct Archive {
    HANDLE storm = nullptr;
    uint64_t fileSize = 0;           // of a read-only archive's file
    UpdateSession* update = nullptr; // null for a read-only archive
    std::set<Member*> members;       // members opened through this handle

    // The engine's hash and block tables, read once and dropped after a change.
    bool tablesLoaded = false;
    std::vector<TMPQHash> hashes;
    std::vector<TMPQBlock> blocks;
    // Generated-name key -> hash slot, built on the first lookup of such a name.
    bool generatedIndexBuilt = false;
    std::unordered_map<std::string, uint32_t> generatedIndex;
    // The names of the last listing's members, in its order: what the
    // work-ahead stream opens one after the other.
    OrderedNames listedNames;
};

struct Member {
    HANDLE storm = nullptr;
    Archive* owner = nullptr;
    MemberCheck check;
};

struct LibraryState {
    uint32_t locale = 0; // the current locale for opens, additions, deletions
    // Listings guess extensions of unnamed members from their first bytes.
    // Off for a listing that is retried after reading those bytes ended an
    // engine.
    bool guessExtensions = true;
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

// Tells SFMpq.dll, which watches for hangs, that the engine is still working.
void NoteProgress();

// Sets the engine's locale to the library's current one.
void ApplyLocale(const StormApi* storm);

// The hash slot and block of an existing member in slot `slot`; false for an
// empty, deleted or damaged slot.
bool SlotHoldsMember(const Archive* archive, uint32_t slot);

// Opens a member by its name, or by the name the library generated for it,
// under the current locale. False with errno set when there is none, or
// EBADMSG when its data would lie beyond the end of a read-only archive.
bool OpenEngineMember(Archive* archive, const char* name, HANDLE* member);

// The name under which the engine finds the member that a generated name
// stands for. False when `name` is not a generated name of a member.
bool EngineNameOfGenerated(Archive* archive, const char* name, std::string* engineName);

// After an add failed because the archive's hash table is full: doubles the
// table (up to StormLib's largest). False, leaving the add's error in place,
// when the table was not full or cannot grow (ENOSPC: the archive is full).
bool GrowTable(Archive* archive);

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

// The library's 16 operations as SFMpq.dll runs them in the host's process:
// checks of handles, pointers and files, the atomic update of the archive
// file, and everything else handed to the archive handle's engine
// (engine_client.h). Each returns what its entry point returns; on failure
// errno says why. Safe to call from several threads: handles are looked up
// under one lock, and each archive's engine is called under its own.
#pragma once

#include <cstdint>

#include "archive_library/archive_library.h"

namespace sfmpq {
namespace client {

// Every operation fails for a null pointer where one is needed (EINVAL) and
// for a handle it did not hand out, or one of the wrong kind or already
// closed (EBADF). A handle whose engine died fails with EIO from then on.
// Names are member names of at most kMaxMemberName (259) characters, with
// either separator and in any letter case; paths are at most
// engine::kMaxPath - 1 characters (ENAMETOOLONG).

// Makes `locale` the process-wide current locale that later opens,
// additions, deletions and listings' requests carry. Returns it.
uint32_t SetLocale(uint32_t locale);

// Opens the archive at `path` read-only in a new engine. 1, or 0 with errno:
// ENOENT, EACCES, EISDIR, ENOEXEC (no archive, a damaged header, an MPK file,
// a pipe or device), ELIBACC (no engine beside the library), EIO (a read
// error, or the engine died).
int OpenArchive(const char* path, MpqHandle* archive);

// Closes a read-only archive and its members and ends its engine; an update
// handle is finished like CloseUpdate. 1, or 0 (EBADF).
int CloseArchive(MpqHandle archive);

// The number of member slots for kInfoHashTableSize; 0 with EINVAL for any
// other code.
uint32_t GetArchiveInfo(MpqHandle archive, uint32_t infoCode);

// Writes one ListEntry per member slot into `entries` (GetArchiveInfo's
// count of them), names from `list` (kListIsText: its text; kListFromFiles:
// name-list paths joined by blanks) or generated. 1, or 0 with errno (E2BIG
// for a list of 4 GiB or more). A listing that ends its engine while guessing
// extensions is made again by a new engine without guesses.
int ListMembers(MpqHandle archive, const char* list, ListEntry* entries, uint32_t listFlag);

// Opens a member by name under the current locale, falling back to the
// neutral one. 1, or 0 with errno: ENOENT (no such member, or an empty
// name), ENAMETOOLONG.
int OpenMember(MpqHandle archive, const char* name, MpqHandle* member);

// The member's size (its upper half into *high when given);
// kFileSizeUnknown with errno on failure.
uint32_t GetMemberSize(MpqHandle member, uint32_t* high);

// Reads up to `count` bytes, their number into *read: fewer at the end of the
// member, 0 after it, both with 1. 0 with errno: EBADMSG (a checksum does
// not match), EIO.
int ReadMember(MpqHandle member, void* buffer, uint32_t count, uint32_t* read);

// Closes a member. 1, or 0 (EBADF).
int CloseMember(MpqHandle member);

// Starts an update of the archive at `path` (atomic_file.h): kUpdateOpenOrCreate
// opens or creates, kUpdateOpenExisting opens only, neither creates only;
// kUpdateKeepListFile gives a new archive a "(listfile)". A new archive starts
// with `maxFiles` slots (its table grows). The handle, or null with errno:
// ENOENT, EEXIST, EACCES (also a file nobody may write), EISDIR, ENOEXEC (no
// archive, or blocks beyond its end), EBUSY (another update runs), ENOSPC,
// EFBIG, EIO, ENAMETOOLONG.
MpqHandle OpenForUpdate(const char* path, uint32_t flags, uint32_t maxFiles);

// Adds the regular file `source` as `name` under the current locale:
// kAddCompress with `compression` 2 (zlib), 8 (PKWARE), 0x10 (bzip2), 0x12
// (LZMA, zlib in format 1) or 0; kAddEncrypt; kAddReplace replaces a member
// of that name and locale, which otherwise fails the call (EEXIST). 1, or 0
// with errno: ENOENT, EACCES, EISDIR, ENOEXEC (a pipe or device), EINVAL (an
// unknown type), ENAMETOOLONG, ENOSPC (the disk, or the archive's 524,288
// members, are full), EFBIG. A replacement that fails part-way fails the
// whole update: its close then writes nothing.
int AddFile(MpqHandle update, const char* source, const char* name, uint32_t flags,
            uint32_t compression);

// Adds a wave file like AddFile; with kAddCompress `quality` 0 (medium) and 2
// (low) compress PCM sound lossily, every other value losslessly.
int AddWave(MpqHandle update, const char* source, const char* name, uint32_t flags,
            uint32_t quality);

// Deletes the member of the current (or the neutral) locale. 1, or 0 with
// errno: ENOENT when there is none.
int DeleteMember(MpqHandle update, const char* name);

// Moves the member of `oldLocale` to `newLocale`. 1, or 0 with errno: ENOENT
// when there is none, EEXIST when `newLocale` is taken.
int SetMemberLocale(MpqHandle update, const char* name, uint32_t oldLocale, uint32_t newLocale);

// Writes the update and puts it in place of the archive, or leaves the
// archive as it was: 1 when it was replaced (or nothing changed); 0 with
// errno when nothing was written (EEXIST: a new archive's name was taken
// meanwhile; ENOSPC, EIO, ...). No temporary file stays either way.
int CloseUpdate(MpqHandle update);

// Closes every handle and abandons every unfinished update.
int Destroy();

} // namespace client
} // namespace sfmpq

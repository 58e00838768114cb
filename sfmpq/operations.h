// The engine's operations on one archive, run inside sfmpq-engine. Each one
// checks its handles and pointers, and on failure returns 0 (or the value
// named) with errno saying why. SFMpq.dll reaches them through the engine's
// request loop (engine_main.cpp); handles are the engine's own and travel to
// SFMpq.dll only as numbers.
#pragma once

#include <cstdint>

#include "archive_library/archive_library.h"
#include "sfmpq/list_records.h"

namespace sfmpq {

// Handles here are the engine's: a handle it did not hand out, or one of the
// wrong kind, fails with EBADF. Names have at most kMaxMemberName (259)
// characters. StormLib's own failures come as errno through StormErrno():
// ENOEXEC for no archive or a damaged one, EBADMSG for a checksum that does
// not match, EACCES, ENOSPC, EFBIG (the request's write limit), EIO.

// Makes `locale` the engine's current locale, which every later request
// also carries. Returns it.
uint32_t SetLocale(uint32_t locale);

// Reading (reading.cpp).

// Opens `path` read-only in the format StormLib finds, without its name list
// and attributes. 1, or 0 with errno.
int OpenArchive(const char* path, MpqHandle* archive);
// Closes the archive and its members. 1, or 0 (EBADF).
int CloseArchive(MpqHandle archive);
// The number of member slots for kInfoHashTableSize; 0 with EINVAL for any
// other code.
uint32_t GetArchiveInfo(MpqHandle archive, uint32_t infoCode);
// Opens `name` (or the member a generated name stands for) under the current
// locale. A member of a read-only archive whose blocks lie beyond the file
// fails (ENOEXEC). 1, or 0 with errno: ENOENT, ENAMETOOLONG.
int OpenMember(MpqHandle archive, const char* name, MpqHandle* member);
// The member's size; SFILE_INVALID_SIZE with errno on failure.
uint32_t GetMemberSize(MpqHandle member, uint32_t* high);
// Reads up to `count` bytes, checking each sector and, at the end, the whole
// member against its checksums. 1 with *read (0 after the end), or 0 with
// errno: EBADMSG for damage.
int ReadMember(MpqHandle member, void* buffer, uint32_t count, uint32_t* read);
// Closes a member. 1, or 0 (EBADF).
int CloseMember(MpqHandle member);

// Listing (listing.cpp).

// Writes a ListRecord for each member slot (list_records.h), named as
// library_calls.h says for ListEntry arrays; 1, or 0 with errno (EINVAL for
// no writer, ENOMEM when the records do not fit).
int ListMembers(MpqHandle archive, const char* list, uint32_t listFlag, ListRecordWriter* out);

// Updating (updating.cpp, wave.cpp). The engine works on a temporary copy
// that SFMpq.dll made (or on a new file at a temporary name, when `exists` is
// false) and puts in the original's place after FinishUpdate. Once an
// update has failed for good (a replacement that failed part-way), every
// later change fails with that error.

// Whether `path` opens as an archive at all. 1, or 0 with errno.
int ProbeArchive(const char* path);
// Whether a written copy opens again as an archive whose blocks all lie
// within it; 0 with EIO when not (it must then not replace the original).
int VerifyWritten(const char* path);
// Opens the copy `temp` for changes in its own format, or creates a new
// format-1 archive there with `maxFiles` slots (at least 1), "(attributes)"
// and, with kUpdateKeepListFile, "(listfile)". The handle, or null with
// errno: ENOEXEC also for blocks beyond the file's end.
MpqHandle OpenForUpdate(const char* temp, bool exists, uint32_t flags, uint32_t maxFiles);
// Adds `source` as `name` under the current locale (the flags and types of
// client::AddFile; EINVAL for an unknown type, EEXIST for a member of that
// name and locale without kAddReplace). A full table grows, doubling, up to
// HASH_TABLE_SIZE_MAX slots (then ENOSPC). 1, or 0 with errno.
int AddFile(MpqHandle update, const char* source, const char* name, uint32_t flags,
            uint32_t compression);
// Adds a wave file like AddFile, sound after the first sector compressed with
// ADPCM for quality 0 and 2 where the file allows it.
int AddWave(MpqHandle update, const char* source, const char* name, uint32_t flags,
            uint32_t quality);
// Deletes the member of the current (or neutral) locale, or the member a
// generated name stands for. 1, or 0 with errno (ENOENT).
int DeleteMember(MpqHandle update, const char* name);
// Moves the member of `oldLocale` to `newLocale`. 1, or 0 with errno: ENOENT
// when there is none, EEXIST when `newLocale` is taken.
int SetMemberLocale(MpqHandle update, const char* name, uint32_t oldLocale, uint32_t newLocale);
// Writes everything, compacts when members were deleted or replaced, and
// closes the copy. Returns 2 when the copy is complete and changed (to be
// committed), 1 when nothing changed, 0 with errno when the copy must be
// discarded.
int FinishUpdate(MpqHandle update);

} // namespace sfmpq

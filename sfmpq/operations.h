// The engine's operations on one archive, run inside sfmpq-engine. Each one
// checks its handles and pointers, and on failure returns 0 (or the value
// named) with errno saying why. SFMpq.dll reaches them through the engine's
// request loop (engine_main.cpp); handles are the engine's own and travel to
// SFMpq.dll only as numbers.
#pragma once

#include <cstdint>

#include "archive_library/archive_library.h"

namespace sfmpq {

uint32_t SetLocale(uint32_t locale);

// Reading (reading.cpp).
int OpenArchive(const char* path, MpqHandle* archive);
int CloseArchive(MpqHandle archive);
uint32_t GetArchiveInfo(MpqHandle archive, uint32_t infoCode);
int OpenMember(MpqHandle archive, const char* name, MpqHandle* member);
uint32_t GetMemberSize(MpqHandle member, uint32_t* high);
int ReadMember(MpqHandle member, void* buffer, uint32_t count, uint32_t* read);
int CloseMember(MpqHandle member);

// Listing (listing.cpp).
int ListMembers(MpqHandle archive, const char* list, ListEntry* entries, uint32_t listFlag);

// Updating (updating.cpp, wave.cpp). The engine works on a temporary copy
// that SFMpq.dll made (or on a new file at a temporary name, when `exists` is
// false) and puts in the original's place after FinishUpdate.
int ProbeArchive(const char* path);
// Whether a written copy opens again as an archive whose blocks all lie
// within it; 0 with EIO when not (it must then not replace the original).
int VerifyWritten(const char* path);
MpqHandle OpenForUpdate(const char* temp, bool exists, uint32_t flags, uint32_t maxFiles);
int AddFile(MpqHandle update, const char* source, const char* name, uint32_t flags,
            uint32_t compression);
int AddWave(MpqHandle update, const char* source, const char* name, uint32_t flags,
            uint32_t quality);
int DeleteMember(MpqHandle update, const char* name);
int SetMemberLocale(MpqHandle update, const char* name, uint32_t oldLocale, uint32_t newLocale);
// Writes everything, compacts when members were deleted or replaced, and
// closes the copy. Returns 2 when the copy is complete and changed (to be
// committed), 1 when nothing changed, 0 with errno when the copy must be
// discarded.
int FinishUpdate(MpqHandle update);

} // namespace sfmpq

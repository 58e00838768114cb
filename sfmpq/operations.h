// The library's operations behind its exported entry points. Each one checks
// its handles and pointers, and on failure returns 0 (or the value named)
// with errno saying why. The exported functions only take the library's lock
// and call these.
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

// Updating (updating.cpp, wave.cpp).
MpqHandle OpenForUpdate(const char* path, uint32_t flags, uint32_t maxFiles);
int AddFile(MpqHandle update, const char* source, const char* name, uint32_t flags,
            uint32_t compression);
int AddWave(MpqHandle update, const char* source, const char* name, uint32_t flags,
            uint32_t quality);
int DeleteMember(MpqHandle update, const char* name);
int SetMemberLocale(MpqHandle update, const char* name, uint32_t oldLocale, uint32_t newLocale);
int CloseUpdate(MpqHandle update);

// Closes every handle, abandons every unfinished update and unloads the engine.
int Destroy();

} // namespace sfmpq

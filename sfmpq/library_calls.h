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

uint32_t SetLocale(uint32_t locale);
int OpenArchive(const char* path, MpqHandle* archive);
int CloseArchive(MpqHandle archive);
uint32_t GetArchiveInfo(MpqHandle archive, uint32_t infoCode);
int ListMembers(MpqHandle archive, const char* list, ListEntry* entries, uint32_t listFlag);
int OpenMember(MpqHandle archive, const char* name, MpqHandle* member);
uint32_t GetMemberSize(MpqHandle member, uint32_t* high);
int ReadMember(MpqHandle member, void* buffer, uint32_t count, uint32_t* read);
int CloseMember(MpqHandle member);
MpqHandle OpenForUpdate(const char* path, uint32_t flags, uint32_t maxFiles);
int AddFile(MpqHandle update, const char* source, const char* name, uint32_t flags,
            uint32_t compression);
int AddWave(MpqHandle update, const char* source, const char* name, uint32_t flags,
            uint32_t quality);
int DeleteMember(MpqHandle update, const char* name);
int SetMemberLocale(MpqHandle update, const char* name, uint32_t oldLocale, uint32_t newLocale);
int CloseUpdate(MpqHandle update);
// Closes every handle and abandons every unfinished update.
int Destroy();

} // namespace client
} // namespace sfmpq

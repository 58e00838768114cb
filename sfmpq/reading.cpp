// Opening archives for reading and reading their members.
#include "sfmpq/operations.h"

#include "sfmpq/library_state.h"
#include "sfmpq/member_names.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace sfmpq {

uint32_t SetLocale(uint32_t locale) {
    // An archive keeps 16 bits of a member's locale: the rest would make a
    // member added under a larger value one that no open finds again.
    State.locale = locale & 0xFFFF;
    return locale;
}

int OpenArchive(const char* path, MpqHandle* archive) {
    if (!archive) {
        errno = EINVAL;
        return 0;
    }
    *archive = nullptr;
    const StormApi* storm = Storm();
    // Read-only, and without the engine's own name list and attributes: the
    // caller hands the names over when it lists, and nothing else is needed.
    HANDLE handle = nullptr;
    if (!storm->OpenArchive(path, 0, kEngineReadFlags, &handle)) {
        errno = StormErrno();
        return 0;
    }
    Archive* opened = new Archive;
    opened->storm = handle;
    struct stat info;
    opened->fileSize = stat(path, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    State.archives.insert(opened);
    *archive = opened;
    return 1;
}

int CloseArchive(MpqHandle handle) {
    Archive* archive = FindArchive(handle);
    if (!archive) {
        errno = EBADF;
        return 0;
    }
    if (archive->update) {
        // Closing an update handle this way finishes the update.
        return FinishUpdate(handle);
    }
    CloseMembersOf(archive);
    if (const StormApi* storm = Storm()) {
        storm->CloseArchive(archive->storm);
    }
    State.archives.erase(archive);
    delete archive;
    return 1;
}

uint32_t GetArchiveInfo(MpqHandle handle, uint32_t infoCode) {
    Archive* archive = FindArchive(handle);
    if (!archive) {
        errno = EBADF;
        return 0;
    }
    if (infoCode != kInfoHashTableSize) {
        errno = EINVAL;
        return 0;
    }
    LoadTables(archive);
    return static_cast<uint32_t>(archive->hashes.size());
}

namespace {

// The slot of the member that a generated name stands for, or false.
bool FindGeneratedSlot(Archive* archive, const GeneratedName& name, uint32_t* slot) {
    if (!LoadTables(archive)) {
        return false;
    }
    if (name.hasSlot) {
        if (!SlotHoldsMember(archive, name.slot)) {
            return false;
        }
        const TMPQHash& hash = archive->hashes[name.slot];
        *slot = name.slot;
        return hash.dwName1 == name.hashA && hash.dwName2 == name.hashB &&
               hash.lcLocale == name.locale;
    }
    if (!archive->generatedIndexBuilt) {
        archive->generatedIndexBuilt = true;
        for (uint32_t i = 0; i < archive->hashes.size(); ++i) {
            if (SlotHoldsMember(archive, i)) {
                const TMPQHash& hash = archive->hashes[i];
                char key[32];
                std::snprintf(key, sizeof key, "%08X%08X_%X", hash.dwName1, hash.dwName2,
                              hash.lcLocale);
                archive->generatedIndex.emplace(key, i); // the first slot wins
            }
        }
    }
    char key[32];
    std::snprintf(key, sizeof key, "%08X%08X_%X", name.hashA, name.hashB, name.locale);
    auto found = archive->generatedIndex.find(key);
    if (found == archive->generatedIndex.end()) {
        return false;
    }
    *slot = found->second;
    return true;
}

} // namespace

bool EngineNameOfGenerated(Archive* archive, const char* name, std::string* engineName) {
    GeneratedName generated;
    uint32_t slot = 0;
    if (!ParseGeneratedName(name, &generated) || !FindGeneratedSlot(archive, generated, &slot)) {
        return false;
    }
    // The engine opens a member whose name it does not know by the index of
    // its block, written as "File" and eight decimal digits.
    char text[32];
    std::snprintf(text, sizeof text, "File%08u.xxx",
                  archive->hashes[slot].dwBlockIndex & BLOCK_INDEX_MASK);
    *engineName = text;
    return true;
}

namespace {

bool OpenByName(Archive* archive, const char* name, HANDLE* member) {
    const StormApi* storm = Storm();
    ApplyLocale(storm);
    if (storm->OpenFileEx(archive->storm, name, SFILE_OPEN_FROM_MPQ, member)) {
        return true;
    }
    int error = StormErrno();
    std::string engineName;
    if (EngineNameOfGenerated(archive, name, &engineName) &&
        storm->OpenFileEx(archive->storm, engineName.c_str(), SFILE_OPEN_FROM_MPQ, member)) {
        return true;
    }
    errno = error;
    return false;
}

} // namespace

namespace {

// For tests: the engine asked for the member named in SFMPQ_ENGINE_STALL_ON
// stands still without end, busy, as one stuck in a decompressor would.
void StallIfAskedFor(const char* name) {
    static const char* const stallOn = std::getenv("SFMPQ_ENGINE_STALL_ON");
    if (stallOn && std::strcmp(stallOn, name) == 0) {
        for (volatile unsigned long spin = 0;; spin = spin + 1) {
        }
    }
}

} // namespace

bool OpenEngineMember(Archive* archive, const char* name, HANDLE* member) {
    StallIfAskedFor(name);
    if (!OpenByName(archive, name, member)) {
        return false;
    }
    if (!archive->update) {
        if (int error = CheckMemberFits(archive->storm, *member, archive->fileSize)) {
            Storm()->CloseFile(*member);
            *member = nullptr;
            errno = error;
            return false;
        }
    }
    return true;
}

int OpenMember(MpqHandle handle, const char* name, MpqHandle* member) {
    if (!member) {
        errno = EINVAL;
        return 0;
    }
    *member = nullptr;
    Archive* archive = FindArchive(handle);
    if (!archive) {
        errno = EBADF;
        return 0;
    }
    if (!name || !*name) {
        errno = ENOENT;
        return 0;
    }
    if (std::strlen(name) > kMaxMemberName) {
        errno = ENAMETOOLONG;
        return 0;
    }
    HANDLE opened = nullptr;
    if (!OpenEngineMember(archive, name, &opened)) {
        return 0;
    }
    Member* added = AddMember(archive, opened);
    DWORD high = 0;
    DWORD low = Storm()->GetFileSize(opened, &high);
    if (low != SFILE_INVALID_SIZE) {
        BeginCheck(archive->storm, opened, name, (uint64_t(high) << 32) | low, &added->check);
    }
    *member = added;
    return 1;
}

uint32_t GetMemberSize(MpqHandle handle, uint32_t* high) {
    Member* member = FindMember(handle);
    const StormApi* storm = Storm();
    if (!member || !storm) {
        errno = EBADF;
        return SFILE_INVALID_SIZE;
    }
    DWORD sizeHigh = 0;
    DWORD size = storm->GetFileSize(member->storm, &sizeHigh);
    if (size == SFILE_INVALID_SIZE) {
        errno = StormErrno();
    }
    if (high) {
        *high = sizeHigh;
    }
    return size;
}

int ReadMember(MpqHandle handle, void* buffer, uint32_t count, uint32_t* read) {
    if (read) {
        *read = 0;
    }
    Member* member = FindMember(handle);
    const StormApi* storm = Storm();
    if (!member || !storm) {
        errno = EBADF;
        return 0;
    }
    if (!buffer && count != 0) {
        errno = EINVAL;
        return 0;
    }
    DWORD got = 0;
    bool ok = storm->ReadFile(member->storm, buffer, count, &got, nullptr);
    if (read) {
        *read = got;
    }
    // The engine fails a read that meets the end of the member; what it
    // delivered up to the end is a successful, shorter read (0 bytes at the
    // end itself).
    if (ok || storm->LastError() == ERROR_HANDLE_EOF) {
        if (int error = CheckData(member->owner->storm, &member->check, buffer, got)) {
            errno = error;
            return 0;
        }
        return 1;
    }
    errno = StormErrno();
    return 0;
}

int CloseMember(MpqHandle handle) {
    Member* member = FindMember(handle);
    if (!member) {
        errno = EBADF;
        return 0;
    }
    CloseEngineMember(member);
    return 1;
}

} // namespace sfmpq

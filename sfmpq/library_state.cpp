#include "sfmpq/library_state.h"

namespace sfmpq {

LibraryState State;

Archive* FindArchive(void* handle) {
    Archive* archive = static_cast<Archive*>(handle);
    return handle && State.archives.count(archive) ? archive : nullptr;
}

Archive* FindUpdateArchive(void* handle) {
    Archive* archive = FindArchive(handle);
    return archive && archive->update ? archive : nullptr;
}

Member* FindMember(void* handle) {
    Member* member = static_cast<Member*>(handle);
    return handle && State.members.count(member) ? member : nullptr;
}

Member* AddMember(Archive* owner, HANDLE storm) {
    Member* member = new Member;
    member->storm = storm;
    member->owner = owner;
    owner->members.insert(member);
    State.members.insert(member);
    return member;
}

void CloseEngineMember(Member* member) {
    if (const StormApi* storm = Storm()) {
        storm->CloseFile(member->storm);
    }
    member->owner->members.erase(member);
    State.members.erase(member);
    delete member;
}

void CloseMembersOf(Archive* archive) {
    while (!archive->members.empty()) {
        CloseEngineMember(*archive->members.begin());
    }
}

void InvalidateTables(Archive* archive) {
    archive->tablesLoaded = false;
    archive->hashes.clear();
    archive->blocks.clear();
    archive->generatedIndexBuilt = false;
    archive->generatedIndex.clear();
}

namespace {

// The largest table the library reads: far beyond any archive a game wrote,
// and small enough that a damaged header cannot ask for absurd memory.
constexpr DWORD kMaxTableEntries = 1u << 22;

template <typename Entry>
bool ReadTable(const StormApi* storm, HANDLE archive, SFileInfoClass sizeClass,
               SFileInfoClass tableClass, std::vector<Entry>* out) {
    DWORD count = 0;
    if (!storm->GetFileInfo(archive, sizeClass, &count, sizeof count, nullptr) || count == 0 ||
        count > kMaxTableEntries) {
        return false;
    }
    out->assign(count, Entry());
    DWORD needed = 0;
    if (!storm->GetFileInfo(archive, tableClass, out->data(),
                            static_cast<DWORD>(count * sizeof(Entry)), &needed)) {
        out->clear();
        return false;
    }
    return true;
}

} // namespace

bool LoadTables(Archive* archive) {
    if (archive->tablesLoaded) {
        return !archive->hashes.empty();
    }
    const StormApi* storm = Storm();
    if (!storm) {
        return false;
    }
    archive->tablesLoaded = true;
    if (!ReadTable(storm, archive->storm, SFileMpqHashTableSize, SFileMpqHashTable,
                   &archive->hashes)) {
        archive->hashes.clear();
        return false;
    }
    // Without a block table the slots are listed, but none holds a member.
    ReadTable(storm, archive->storm, SFileMpqBlockTableSize, SFileMpqBlockTable, &archive->blocks);
    return true;
}

void ApplyLocale(const StormApi* storm) {
    storm->SetLocale(static_cast<LCID>(State.locale));
}

bool SlotHoldsMember(const Archive* archive, uint32_t slot) {
    if (slot >= archive->hashes.size()) {
        return false;
    }
    const TMPQHash& hash = archive->hashes[slot];
    if (hash.dwBlockIndex == HASH_ENTRY_FREE || hash.dwBlockIndex == HASH_ENTRY_DELETED) {
        return false;
    }
    DWORD block = hash.dwBlockIndex & BLOCK_INDEX_MASK;
    return block < archive->blocks.size() &&
           (archive->blocks[block].dwFlags & MPQ_FILE_EXISTS) != 0;
}

} // namespace sfmpq

// Listing: one record per hash-table slot, named from the caller's name
// lists, the internal members' own names, or a generated name.
#include "sfmpq/operations.h"

#include "sfmpq/library_state.h"
#include "sfmpq/member_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

namespace sfmpq {

namespace {

// Members the archive format itself defines; listed under their own names
// whatever the lists hold.
const char* const kInternalNames[] = {"(listfile)", "(attributes)", "(signature)"};

// Records `name` for every slot that holds a member of that name, in any
// locale.
void NameSlots(const StormApi* storm, Archive* archive, const std::string& name,
               std::vector<const std::string*>* slotNames) {
    LCID locales[16];
    DWORD count = 16;
    std::vector<LCID> more;
    LCID* found = locales;
    int error = storm->EnumLocales(archive->storm, name.c_str(), locales, &count, 0);
    if (error == ERROR_INSUFFICIENT_BUFFER && count > 16 && count <= 0x10000) {
        more.resize(count);
        found = more.data();
        error = storm->EnumLocales(archive->storm, name.c_str(), found, &count, 0);
    }
    if (error != ERROR_SUCCESS) {
        return;
    }
    for (DWORD i = 0; i < count; ++i) {
        storm->SetLocale(found[i]);
        HANDLE member = nullptr;
        if (!storm->OpenFileEx(archive->storm, name.c_str(), SFILE_OPEN_FROM_MPQ, &member)) {
            continue;
        }
        DWORD slot = 0;
        if (storm->GetFileInfo(member, SFileInfoHashIndex, &slot, sizeof slot, nullptr) &&
            slot < slotNames->size()) {
            (*slotNames)[slot] = &name;
        }
        storm->CloseFile(member);
    }
}

// The extension of the member in block `block`, from its first bytes.
const char* ExtensionOfBlock(const StormApi* storm, Archive* archive, DWORD block) {
    char engineName[32];
    std::snprintf(engineName, sizeof engineName, "File%08u.xxx", block);
    HANDLE member = nullptr;
    if (!storm->OpenFileEx(archive->storm, engineName, SFILE_OPEN_FROM_MPQ, &member)) {
        return "xxx";
    }
    unsigned char head[16] = {};
    DWORD got = 0;
    storm->ReadFile(member, head, sizeof head, &got, nullptr);
    storm->CloseFile(member);
    return GuessExtension(head, got);
}

void CopyName(const std::string& name, ListEntry* entry) {
    size_t length = name.size() < kMaxMemberName ? name.size() : kMaxMemberName;
    std::memcpy(entry->name, name.data(), length);
    entry->name[length] = '\0';
}

} // namespace

int ListMembers(MpqHandle handle, const char* list, ListEntry* entries, uint32_t listFlag) {
    Archive* archive = FindArchive(handle);
    if (!archive) {
        errno = EBADF;
        return 0;
    }
    if (!entries) {
        errno = EINVAL;
        return 0;
    }
    const StormApi* storm = Storm();
    if (!storm) {
        return 0;
    }
    LoadTables(archive);
    const uint32_t count = static_cast<uint32_t>(archive->hashes.size());

    std::vector<std::string> names;
    if (listFlag == kListIsText) {
        if (list) {
            SplitNameList(list, std::strlen(list), &names);
        }
    } else {
        ReadNameListFiles(list, &names);
    }
    for (const char* internal : kInternalNames) {
        names.emplace_back(internal);
    }
    std::vector<const std::string*> slotNames(count, nullptr);
    for (const std::string& name : names) {
        NameSlots(storm, archive, name, &slotNames);
    }
    ApplyLocale(storm);

    // Members with the same hashes and locale (damaged archives only): all
    // but the first get their slot in their generated name.
    std::map<std::pair<uint64_t, uint32_t>, uint32_t> firstSlot;
    for (uint32_t i = 0; i < count; ++i) {
        ListEntry& entry = entries[i];
        std::memset(&entry, 0, sizeof entry);
        if (!SlotHoldsMember(archive, i)) {
            continue;
        }
        const TMPQHash& hash = archive->hashes[i];
        DWORD blockIndex = hash.dwBlockIndex & BLOCK_INDEX_MASK;
        const TMPQBlock& block = archive->blocks[blockIndex];
        entry.exists = 1;
        entry.locale = hash.lcLocale;
        entry.compressedSize = block.dwCSize;
        entry.fullSize = block.dwFSize;
        entry.flags = block.dwFlags;
        if (slotNames[i]) {
            CopyName(*slotNames[i], &entry);
            continue;
        }
        GeneratedName generated;
        generated.hashA = hash.dwName1;
        generated.hashB = hash.dwName2;
        generated.locale = hash.lcLocale;
        auto key =
            std::make_pair((uint64_t(hash.dwName1) << 32) | hash.dwName2, uint32_t(hash.lcLocale));
        if (!firstSlot.emplace(key, i).second) {
            generated.hasSlot = true;
            generated.slot = i;
        }
        CopyName(FormatGeneratedName(generated, ExtensionOfBlock(storm, archive, blockIndex)),
                 &entry);
    }
    return 1;
}

} // namespace sfmpq

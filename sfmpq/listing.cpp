// Listing: one record per hash-table slot, named from the caller's name
// lists, the internal members' own names, or a generated name.
#include "sfmpq/operations.h"

#include "sfmpq/library_state.h"
#include "sfmpq/member_names.h"
#include "sfmpq/name_hash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>

namespace sfmpq {

namespace {

// How many names, or slots, ahead of its use the listing asks for the cache
// lines a name's search or a slot's record will need.
constexpr uint32_t kAhead = 8;

// Members the archive format itself defines; listed under their own names
// whatever the lists hold.
const char* const kInternalNames[] = {kListFileName, "(attributes)", "(signature)"};

// The mask that keeps a hash within the archive's hash table; false for a
// table whose size is not a power of two (none, or a damaged one), which
// only the library searches.
bool TableMask(const Archive* archive, uint32_t* mask) {
    const size_t size = archive->hashes.size();
    if (size == 0 || (size & (size - 1)) != 0) {
        return false;
    }
    *mask = static_cast<uint32_t>(size - 1);
    return true;
}

// Finds `name`'s slot straight from the hash table when that is plain: the
// search for the name meets exactly one entry with its hashes, and that
// entry refers to a block of the table and carries no platform. The library
// opens that slot by that name in that slot's locale, so the answer is the
// one NameSlots would get from it, without opening anything. False when the
// table says anything less plain (or the name is not there), for the library
// to decide.
bool FindOnlySlot(const Archive* archive, const NameHashes& hashes, uint32_t* slot) {
    uint32_t mask = 0;
    if (!TableMask(archive, &mask)) {
        return false;
    }
    const uint32_t start = hashes.tableIndex & mask;
    const uint32_t nameA = hashes.nameA;
    const uint32_t nameB = hashes.nameB;
    uint32_t matches = 0;
    uint32_t index = start;
    do {
        const TMPQHash& hash = archive->hashes[index];
        if (hash.dwName1 == nameA && hash.dwName2 == nameB) {
            if (++matches > 1) {
                return false;
            }
            *slot = index;
        }
        if (hash.dwBlockIndex == HASH_ENTRY_FREE) {
            break;
        }
        index = (index + 1) & mask;
    } while (index != start);
    if (matches != 1) {
        return false;
    }
    const TMPQHash& found = archive->hashes[*slot];
    return found.dwBlockIndex != HASH_ENTRY_FREE && found.Platform == 0 &&
           (found.dwBlockIndex & BLOCK_INDEX_MASK) < archive->blocks.size();
}

// Records name `index` of `names`, whose hashes are `hashes`, for every slot
// that holds a member of that name, in any locale: from the hash table where
// it is plain, else as the library opens the name in each locale it knows
// for it.
void NameSlots(const StormApi* storm, Archive* archive, const NameBlock& names, uint32_t index,
               const NameHashes& hashes, std::vector<uint32_t>* slotNames) {
    const char* name = names.At(index);
    uint32_t only = 0;
    if (FindOnlySlot(archive, hashes, &only)) {
        (*slotNames)[only] = index;
        return;
    }
    LCID locales[16];
    DWORD count = 16;
    std::vector<LCID> more;
    LCID* found = locales;
    int error = storm->EnumLocales(archive->storm, name, locales, &count, 0);
    if (error == ERROR_INSUFFICIENT_BUFFER && count > 16 && count <= 0x10000) {
        more.resize(count);
        found = more.data();
        error = storm->EnumLocales(archive->storm, name, found, &count, 0);
    }
    if (error != ERROR_SUCCESS) {
        return;
    }
    for (DWORD i = 0; i < count; ++i) {
        storm->SetLocale(found[i]);
        HANDLE member = nullptr;
        if (!storm->OpenFileEx(archive->storm, name, SFILE_OPEN_FROM_MPQ, &member)) {
            continue;
        }
        DWORD slot = 0;
        if (storm->GetFileInfo(member, SFileInfoHashIndex, &slot, sizeof slot, nullptr) &&
            slot < slotNames->size()) {
            (*slotNames)[slot] = index;
        }
        storm->CloseFile(member);
    }
}

// Extensions guessed from the first bytes of members. A guess opens the
// member and unpacks its first unit (the whole member when it is stored as
// one unit), so a hostile archive could make a listing unpack gigabytes: a
// guess is made once per block, only where that unit is small, and only
// until a listing has spent its budget; every other member gets "xxx".
class ExtensionGuesser {
  public:
    // The most a member's first unit may hold, unpacked, for a guess.
    static constexpr uint64_t kMaxUnit = 64 * 1024;
    // The most bytes all guesses of one listing may unpack or load.
    static constexpr uint64_t kBudget = 64u << 20;

    ExtensionGuesser(const StormApi* storm, Archive* archive) : storm_(storm), archive_(archive) {
        DWORD size = 0;
        if (storm->GetFileInfo(archive->storm, SFileMpqSectorSize, &size, sizeof size, nullptr)) {
            sectorSize_ = size;
        }
    }

    const char* Of(DWORD blockIndex) {
        auto known = guessed_.find(blockIndex);
        if (known != guessed_.end()) {
            return known->second;
        }
        const char* extension = "xxx";
        uint64_t cost = CostOf(archive_->blocks[blockIndex]);
        if (State.guessExtensions && cost <= budget_) {
            budget_ -= cost;
            extension = Read(blockIndex);
        }
        guessed_.emplace(blockIndex, extension);
        return extension;
    }

  private:
    // What reading the first bytes of the member costs, or more than any
    // budget when its first unit is too large to be unpacked for a guess.
    uint64_t CostOf(const TMPQBlock& block) const {
        const uint64_t tooMuch = kBudget + 1;
        const uint64_t full = block.dwFSize;
        if (block.dwFlags & MPQ_FILE_SINGLE_UNIT) {
            return full <= kMaxUnit && block.dwCSize <= kMaxUnit ? full + block.dwCSize : tooMuch;
        }
        if (sectorSize_ == 0) {
            return tooMuch;
        }
        uint64_t unit = full < sectorSize_ ? full : sectorSize_;
        if (unit > kMaxUnit) {
            return tooMuch;
        }
        // A compressed member's table of sector offsets is loaded whole.
        uint64_t table = 0;
        if (block.dwFlags & MPQ_FILE_COMPRESS_MASK) {
            table = (full / sectorSize_ + 2) * 4 * 2;
        }
        return unit + table;
    }

    const char* Read(DWORD blockIndex) {
        char engineName[32];
        std::snprintf(engineName, sizeof engineName, "File%08u.xxx", blockIndex);
        HANDLE member = nullptr;
        if (!storm_->OpenFileEx(archive_->storm, engineName, SFILE_OPEN_FROM_MPQ, &member)) {
            return "xxx";
        }
        NoteProgress();
        unsigned char head[16] = {};
        DWORD got = 0;
        storm_->ReadFile(member, head, sizeof head, &got, nullptr);
        storm_->CloseFile(member);
        return GuessExtension(head, got);
    }

    const StormApi* storm_;
    Archive* archive_;
    uint64_t sectorSize_ = 0;
    uint64_t budget_ = kBudget;
    std::unordered_map<DWORD, const char*> guessed_;
};

} // namespace

int ListMembers(MpqHandle handle, const char* list, uint32_t listFlag, ListRecordWriter* out) {
    Archive* archive = FindArchive(handle);
    if (!archive) {
        errno = EBADF;
        return 0;
    }
    if (!out) {
        errno = EINVAL;
        return 0;
    }
    const StormApi* storm = Storm();
    if (!storm) {
        return 0;
    }
    LoadTables(archive);
    const uint32_t count = static_cast<uint32_t>(archive->hashes.size());

    // The lists' names are kept, in their order, for the work-ahead stream.
    archive->listedNames.Clear();
    NameBlock& names = archive->listedNames.block;
    if (listFlag == kListIsText) {
        if (list) {
            // Names and their zeros take no more than the text, and a name
            // takes at least two bytes of it; the internal names follow.
            const size_t length = std::strlen(list);
            names.Reserve(length + 64, length / 2 + 4);
            SplitNameList(list, length, &names);
        }
    } else {
        ReadNameListFiles(list, &names);
    }
    for (const char* internal : kInternalNames) {
        names.Add(internal, std::strlen(internal));
    }
    // The index of each slot's name in `names`, or kNoName.
    const uint32_t kNoName = UINT32_MAX;
    std::vector<uint32_t> slotNames(count, kNoName);
    // A large table's slots are long out of the cache, one miss per name
    // and per slot: each name is hashed kAhead names before its search, and
    // the slot the search starts at asked for then.
    const uint32_t nameCount = static_cast<uint32_t>(std::min<size_t>(names.Size(), kNoName));
    uint32_t mask = 0;
    const bool masked = TableMask(archive, &mask);
    NameHashes ahead[kAhead];
    for (uint64_t i = 0; i < uint64_t(nameCount) + kAhead; ++i) {
        if (i >= kAhead) {
            const uint32_t index = static_cast<uint32_t>(i - kAhead);
            NameSlots(storm, archive, names, index, ahead[index % kAhead], &slotNames);
            if (index % 256 == 0) {
                NoteProgress(); // a sign of life every few hundred names is plenty
            }
        }
        if (i < nameCount) {
            ahead[i % kAhead] = HashName(names.At(i));
            if (masked) {
                __builtin_prefetch(&archive->hashes[ahead[i % kAhead].tableIndex & mask]);
            }
        }
    }
    ApplyLocale(storm);

    // Members with the same hashes and locale (damaged archives only): all
    // but the first get their slot in their generated name.
    std::map<std::pair<uint64_t, uint32_t>, uint32_t> firstSlot;
    ExtensionGuesser extensions(storm, archive);
    // The work-ahead stream opens the members in this order, by these names.
    archive->listedNames.Reserve(names.Size());
    std::string generatedName;
    for (uint32_t i = 0; i < count; ++i) {
        // The block and name of a slot kAhead on are asked for now: slots
        // lie in hash order, blocks and names in the order they were added.
        if (i + kAhead < count) {
            const uint32_t block = archive->hashes[i + kAhead].dwBlockIndex & BLOCK_INDEX_MASK;
            if (block < archive->blocks.size()) {
                __builtin_prefetch(&archive->blocks[block]);
            }
            if (slotNames[i + kAhead] != kNoName) {
                __builtin_prefetch(names.At(slotNames[i + kAhead]));
            }
        }
        if (!SlotHoldsMember(archive, i)) {
            continue;
        }
        const TMPQHash& hash = archive->hashes[i];
        DWORD blockIndex = hash.dwBlockIndex & BLOCK_INDEX_MASK;
        const TMPQBlock& block = archive->blocks[blockIndex];
        ListRecord record = {};
        record.slot = i;
        record.locale = hash.lcLocale;
        record.compressedSize = block.dwCSize;
        record.fullSize = block.dwFSize;
        record.flags = block.dwFlags;
        uint32_t nameIndex = slotNames[i];
        if (nameIndex == kNoName) {
            GeneratedName generated;
            generated.hashA = hash.dwName1;
            generated.hashB = hash.dwName2;
            generated.locale = hash.lcLocale;
            auto key = std::make_pair((uint64_t(hash.dwName1) << 32) | hash.dwName2,
                                      uint32_t(hash.lcLocale));
            if (!firstSlot.emplace(key, i).second) {
                generated.hasSlot = true;
                generated.slot = i;
            }
            generatedName = FormatGeneratedName(generated, extensions.Of(blockIndex));
            nameIndex = static_cast<uint32_t>(names.Size());
            names.Add(generatedName.data(), generatedName.size());
        }
        if (!out->Put(record, names.At(nameIndex), names.Length(nameIndex))) {
            archive->listedNames.Clear();
            errno = ENOMEM;
            return 0;
        }
        archive->listedNames.Append(nameIndex);
    }
    return 1;
}

} // namespace sfmpq

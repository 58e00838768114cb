// Updating: opening an archive for update on a temporary copy, adding,
// deleting and moving members, and committing the copy at the close.
#include "sfmpq/operations.h"

#include "sfmpq/library_state.h"
#include "sfmpq/member_names.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sfmpq {

namespace {

bool LocalesOf(const StormApi* storm, Archive* archive, const char* name,
               std::vector<LCID>* locales) {
    locales->assign(16, 0);
    DWORD count = 16;
    int error = storm->EnumLocales(archive->storm, name, locales->data(), &count, 0);
    if (error == ERROR_INSUFFICIENT_BUFFER && count > 16 && count <= 0x10000) {
        locales->assign(count, 0);
        error = storm->EnumLocales(archive->storm, name, locales->data(), &count, 0);
    }
    if (error != ERROR_SUCCESS) {
        locales->clear();
        return false;
    }
    locales->resize(count);
    return true;
}

bool HasLocale(const std::vector<LCID>& locales, uint32_t locale) {
    return std::find(locales.begin(), locales.end(), static_cast<LCID>(locale)) != locales.end();
}

// The update behind `handle` while it can still take changes; null with
// errno set (EBADF for no such update, else the error that already failed it).
Archive* FindChangeableUpdate(MpqHandle handle) {
    Archive* archive = FindUpdateArchive(handle);
    if (!archive) {
        errno = EBADF;
        return nullptr;
    }
    if (archive->update->failure) {
        errno = archive->update->failure;
        return nullptr;
    }
    return archive;
}

} // namespace

Archive* CheckAddArguments(MpqHandle handle, const char* source, const char* name) {
    Archive* archive = FindChangeableUpdate(handle);
    if (!archive) {
        return nullptr;
    }
    if (!source || !name || !*name) {
        errno = EINVAL;
        return nullptr;
    }
    if (std::strlen(name) > kMaxMemberName) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    // The source's type is not looked at again here: SFMpq.dll refused all
    // but regular files just before it sent the request (a pipe would block
    // StormLib's open), and a second look would narrow no race, only add a
    // system call to every file.
    return archive;
}

namespace {

DWORD ArchiveValue(HANDLE archive, SFileInfoClass what) {
    DWORD value = 0;
    return Storm()->GetFileInfo(archive, what, &value, sizeof value, nullptr) ? value : 0;
}

} // namespace

bool GrowTable(Archive* archive) {
    const StormApi* storm = Storm();
    DWORD slots = ArchiveValue(archive->storm, SFileMpqMaxFileCount);
    DWORD used = ArchiveValue(archive->storm, SFileMpqFileTableSize);
    // Only a full table grows: a full disk fails the add with the same code.
    if (storm->LastError() != ERROR_DISK_FULL || slots == 0 || used < slots) {
        return false;
    }
    if (slots >= HASH_TABLE_SIZE_MAX) {
        errno = ENOSPC; // the archive is full
        storm->SetLastError(ERROR_DISK_FULL);
        return false;
    }
    DWORD larger = slots * 2 < HASH_TABLE_SIZE_MAX ? slots * 2 : HASH_TABLE_SIZE_MAX;
    if (!storm->SetMaxFileCount(archive->storm, larger)) {
        storm->SetLastError(ERROR_DISK_FULL);
        return false;
    }
    NoteProgress();
    InvalidateTables(archive);
    return true;
}

int AddWithEngine(Archive* archive, const char* source, const char* name, uint32_t flags,
                  DWORD firstCompression, DWORD nextCompression, bool compress) {
    const StormApi* storm = Storm();
    DWORD engineFlags = 0;
    if (compress) {
        // Compressed in sectors, each with its checksum.
        engineFlags |= MPQ_FILE_COMPRESS | MPQ_FILE_SECTOR_CRC;
    }
    if (flags & kAddEncrypt) {
        engineFlags |= MPQ_FILE_ENCRYPTED;
    }
    bool replace = (flags & kAddReplace) != 0;
    std::vector<LCID> locales;
    bool exists = LocalesOf(storm, archive, name, &locales) && HasLocale(locales, State.locale);
    if (exists && !replace) {
        errno = EEXIST;
        return 0;
    }
    ApplyLocale(storm);
    // Archives of format 3 and 4 find members through their HET table, from
    // which StormLib's removal does not take the name: there it replaces the
    // member itself.
    bool hetTable = archive->update->formatCode >= 2;
    if (exists && hetTable) {
        engineFlags |= MPQ_FILE_REPLACEEXISTING;
    } else if (exists) {
        // The member is removed first rather than replaced by the engine,
        // which asserts (and aborts the process) when it replaces a member
        // whose name it does not know, as in an archive without a name list.
        if (!storm->RemoveFile(archive->storm, name, SFILE_OPEN_FROM_MPQ)) {
            int error = StormErrno();
            InvalidateTables(archive);
            errno = error ? error : EIO;
            return 0;
        }
        archive->update->changed = true;
    }
    bool added = storm->AddFileEx(archive->storm, source, name, engineFlags, firstCompression,
                                  nextCompression);
    while (!added && GrowTable(archive)) {
        added = storm->AddFileEx(archive->storm, source, name, engineFlags, firstCompression,
                                 nextCompression);
    }
    if (!added) {
        int error = StormErrno();
        // The replaced member is gone already: a replacement that failed
        // part-way must not be committed.
        if (exists) {
            archive->update->failure = error ? error : EIO;
        }
        InvalidateTables(archive);
        errno = error;
        return 0;
    }
    archive->update->changed = true;
    archive->update->needsCompact |= exists;
    InvalidateTables(archive);
    return 1;
}

namespace {

// What "(attributes)" keeps for each member: CRC32 and MD5 of its data, and
// its source file's modification time.
constexpr DWORD kAttributes = MPQ_ATTRIBUTE_CRC32 | MPQ_ATTRIBUTE_FILETIME | MPQ_ATTRIBUTE_MD5;

// Whether every block of the archive lies within its file.
bool BlocksFit(HANDLE handle, const char* path) {
    struct stat info;
    ULONGLONG headerOffset = 0;
    if (stat(path, &info) != 0 || !Storm()->GetFileInfo(handle, SFileMpqHeaderOffset, &headerOffset,
                                                        sizeof headerOffset, nullptr)) {
        return true;
    }
    Archive probe;
    probe.storm = handle;
    if (!LoadTables(&probe)) {
        return true; // no classic tables to check
    }
    std::vector<USHORT> high(probe.blocks.size(), 0);
    DWORD needed = 0;
    Storm()->GetFileInfo(handle, SFileMpqHiBlockTable, high.data(),
                         static_cast<DWORD>(high.size() * sizeof(USHORT)), &needed);
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (headerOffset > size) {
        return false;
    }
    uint64_t room = size - headerOffset;
    for (size_t i = 0; i < probe.blocks.size(); ++i) {
        const TMPQBlock& block = probe.blocks[i];
        if (!(block.dwFlags & MPQ_FILE_EXISTS)) {
            continue;
        }
        uint64_t offset = (uint64_t(high[i]) << 32) | block.dwFilePos;
        if (offset > room || block.dwCSize > room - offset) {
            return false;
        }
    }
    return true;
}

} // namespace

int VerifyWritten(const char* path) {
    const StormApi* storm = Storm();
    HANDLE written = nullptr;
    if (!storm->OpenArchive(path, 0, kEngineReadFlags, &written)) {
        errno = EIO;
        return 0;
    }
    bool sound = BlocksFit(written, path);
    storm->CloseArchive(written);
    if (!sound) {
        errno = EIO;
        return 0;
    }
    return 1;
}

int ProbeArchive(const char* path) {
    const StormApi* storm = Storm();
    HANDLE probe = nullptr;
    if (!storm->OpenArchive(path, 0, kEngineReadFlags, &probe)) {
        errno = StormErrno();
        return 0;
    }
    storm->CloseArchive(probe);
    return 1;
}

MpqHandle OpenForUpdate(const char* temp, bool exists, uint32_t flags, uint32_t maxFiles) {
    const StormApi* storm = Storm();
    UpdateSession* session = new UpdateSession;
    session->temp = temp;
    session->created = !exists;
    HANDLE handle = nullptr;
    bool opened;
    if (exists) {
        opened = storm->OpenArchive(temp, 0, 0, &handle);
        TMPQHeader header;
        if (opened && storm->GetFileInfo(handle, SFileMpqHeader, &header, sizeof header, nullptr)) {
            session->formatCode = header.wFormatVersion;
        }
        if (opened && !BlocksFit(handle, temp)) {
            // A block whose data lies beyond the end of the file: StormLib
            // would write the archive's new data behind it.
            storm->CloseArchive(handle);
            delete session;
            errno = ENOEXEC;
            return nullptr;
        }
        // An archive that keeps checksums keeps all of them once updated here
        // (StormLib writes "(attributes)" only where the archive had one).
        if (opened && storm->GetAttributes(handle) != kAttributes) {
            storm->SetAttributes(handle, kAttributes);
        }
    } else {
        SFILE_CREATE_MPQ create;
        std::memset(&create, 0, sizeof create);
        create.cbSize = sizeof create;
        create.dwMpqVersion = MPQ_FORMAT_VERSION_1;
        create.dwFileFlags1 = (flags & kUpdateKeepListFile) ? MPQ_FILE_DEFAULT_INTERNAL : 0;
        create.dwFileFlags2 = MPQ_FILE_DEFAULT_INTERNAL;
        create.dwAttrFlags = kAttributes;
        create.dwSectorSize = 0x1000;
        create.dwMaxFileCount =
            std::max<uint32_t>(1, std::min<uint32_t>(maxFiles, HASH_TABLE_SIZE_MAX));
        opened = storm->CreateArchive2(temp, &create, &handle);
        // A new archive is written even when nothing is added to it.
        session->changed = true;
    }
    if (!opened) {
        int error = StormErrno();
        delete session;
        errno = error;
        return nullptr;
    }
    Archive* archive = new Archive;
    archive->storm = handle;
    archive->update = session;
    State.archives.insert(archive);
    return archive;
}

int AddFile(MpqHandle handle, const char* source, const char* name, uint32_t flags,
            uint32_t compression) {
    Archive* archive = CheckAddArguments(handle, source, name);
    if (!archive) {
        return 0;
    }
    DWORD engineCompression = 0;
    switch (compression) {
    case kCompressionNone:
        break;
    case kCompressionDeflate:
        engineCompression = MPQ_COMPRESSION_ZLIB;
        break;
    case kCompressionStandard:
        engineCompression = MPQ_COMPRESSION_PKWARE;
        break;
    case MPQ_COMPRESSION_BZIP2:
        engineCompression = compression;
        break;
    case MPQ_COMPRESSION_LZMA:
        // Format 1 has no LZMA: readers of such an archive could not unpack
        // the member. It gets zlib, which every format holds.
        engineCompression =
            archive->update->formatCode >= 1 ? MPQ_COMPRESSION_LZMA : MPQ_COMPRESSION_ZLIB;
        break;
    default:
        errno = EINVAL;
        return 0;
    }
    bool compress = (flags & kAddCompress) != 0 && engineCompression != 0;
    return AddWithEngine(archive, source, name, flags, engineCompression, MPQ_COMPRESSION_NEXT_SAME,
                         compress);
}

int DeleteMember(MpqHandle handle, const char* name) {
    Archive* archive = FindChangeableUpdate(handle);
    if (!archive) {
        return 0;
    }
    if (!name || !*name || std::strlen(name) > kMaxMemberName) {
        errno = ENOENT;
        return 0;
    }
    const StormApi* storm = Storm();
    ApplyLocale(storm);
    bool removed = storm->RemoveFile(archive->storm, name, SFILE_OPEN_FROM_MPQ);
    int error = removed ? 0 : StormErrno();
    std::string engineName;
    if (!removed && EngineNameOfGenerated(archive, name, &engineName)) {
        removed = storm->RemoveFile(archive->storm, engineName.c_str(), SFILE_OPEN_FROM_MPQ);
    }
    InvalidateTables(archive);
    if (!removed) {
        errno = error;
        return 0;
    }
    archive->update->changed = true;
    archive->update->needsCompact = true;
    return 1;
}

int SetMemberLocale(MpqHandle handle, const char* name, uint32_t oldLocale, uint32_t newLocale) {
    oldLocale &= 0xFFFF; // as SetLocale: an archive keeps 16 bits of a locale
    newLocale &= 0xFFFF;
    Archive* archive = FindChangeableUpdate(handle);
    if (!archive) {
        return 0;
    }
    if (!name || !*name) {
        errno = ENOENT;
        return 0;
    }
    const StormApi* storm = Storm();
    std::vector<LCID> locales;
    if (!LocalesOf(storm, archive, name, &locales) || !HasLocale(locales, oldLocale)) {
        errno = ENOENT;
        return 0;
    }
    if (oldLocale == newLocale) {
        return 1;
    }
    // Two members of one name and one locale could never both be opened.
    if (HasLocale(locales, newLocale)) {
        errno = EEXIST;
        return 0;
    }
    storm->SetLocale(static_cast<LCID>(oldLocale));
    HANDLE member = nullptr;
    bool moved = false;
    int error = 0;
    if (storm->OpenFileEx(archive->storm, name, SFILE_OPEN_FROM_MPQ, &member)) {
        moved = storm->SetFileLocale(member, static_cast<LCID>(newLocale));
        error = moved ? 0 : StormErrno();
        storm->CloseFile(member);
    } else {
        error = StormErrno();
    }
    ApplyLocale(storm);
    InvalidateTables(archive);
    if (!moved) {
        errno = error;
        return 0;
    }
    archive->update->changed = true;
    return 1;
}

int FinishUpdate(MpqHandle handle) {
    Archive* archive = FindUpdateArchive(handle);
    if (!archive) {
        errno = EBADF;
        return 0;
    }
    const StormApi* storm = Storm();
    UpdateSession* session = archive->update;
    CloseMembersOf(archive);
    int error = session->failure;
    bool written = error == 0;
    if (written && session->changed) {
        // Everything is written first, so that the file is complete whatever
        // the compaction below does.
        written = storm->FlushArchive(archive->storm);
        error = written ? 0 : StormErrno();
    }
    if (written && session->changed && session->needsCompact) {
        // Reclaims the space of deleted and replaced members. The engine
        // compacts into "<file>.tmp" and renames that over the file when it
        // succeeds. It refuses at the start when it cannot find the key of
        // an encrypted member whose name is unknown: nothing has changed
        // then, and the archive is written uncompacted. Any other failure
        // may leave its tables pointing into the abandoned copy, so the
        // update is not committed.
        if (!storm->CompactArchive(archive->storm, nullptr, false)) {
            DWORD code = storm->LastError();
            if (code != ERROR_UNKNOWN_FILE_KEY && code != ERROR_UNKNOWN_FILE_NAMES) {
                written = false;
                error = StormErrno();
            }
        }
        unlink((session->temp + ".tmp").c_str());
    }
    bool closed = storm->CloseArchive(archive->storm);
    if (written && session->changed && !closed) {
        written = false;
        error = StormErrno();
    }
    archive->storm = nullptr;
    State.archives.erase(archive);
    bool changed = session->changed;
    delete session;
    delete archive;
    if (!written) {
        errno = error ? error : EIO;
        return 0;
    }
    // 2: written and to be committed; 1: nothing changed.
    return changed ? 2 : 1;
}

} // namespace sfmpq

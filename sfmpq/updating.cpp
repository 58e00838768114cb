// Updating: opening an archive for update on a temporary copy, adding,
// deleting and moving members, and committing the copy at the close.
#include "sfmpq/operations.h"

#include "sfmpq/archive_header.h"
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

// Everything an update handle owns goes; the original archive stays as it was.
void AbandonUpdate(Archive* archive) {
    CloseMembersOf(archive);
    if (const StormApi* storm = Storm()) {
        storm->CloseArchive(archive->storm);
    }
    AbandonAtomicUpdate(&archive->update->file);
    State.archives.erase(archive);
    delete archive->update;
    delete archive;
}

// Archives are read as format 1 (archive_header.h), but the engine writes
// only archives it opened as they are. It reads the checked format-1 header
// then too, unless a user-data header sends it elsewhere. A newer archive
// written back as format 1 would lose what only its newer tables hold.
// Returns 0, ENOEXEC when there is no header, or ENOTSUP.
int CheckUpdatableHeader(const ArchiveHeaderInfo& header) {
    if (!header.found) {
        return ENOEXEC;
    }
    return header.formatCode == 0 && !header.userDataBefore ? 0 : ENOTSUP;
}

// Returns 0 when `path` holds an archive the engine can open, else the
// engine's reason as an errno value.
int CheckIsArchive(const StormApi* storm, const char* path) {
    HANDLE probe = nullptr;
    if (!storm->OpenArchive(path, 0, kEngineReadFlags, &probe)) {
        return StormErrno();
    }
    storm->CloseArchive(probe);
    return 0;
}

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
Archive* OpenUpdate(MpqHandle handle) {
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
    Archive* archive = OpenUpdate(handle);
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
    if (int error = CheckRegularFile(source)) {
        errno = error;
        return nullptr;
    }
    return archive;
}

int AddWithEngine(Archive* archive, const char* source, const char* name, uint32_t flags,
                  DWORD firstCompression, DWORD nextCompression, bool compress) {
    const StormApi* storm = Storm();
    DWORD engineFlags = 0;
    if (compress) {
        engineFlags |= MPQ_FILE_COMPRESS;
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
    if (exists) {
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
    if (!storm->AddFileEx(archive->storm, source, name, engineFlags, firstCompression,
                          nextCompression)) {
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

MpqHandle OpenForUpdate(const char* path, uint32_t flags, uint32_t maxFiles) {
    const StormApi* storm = Storm();
    if (!storm) {
        return nullptr;
    }
    if (!path || !*path) {
        errno = ENOENT;
        return nullptr;
    }
    struct stat info;
    bool exists = stat(path, &info) == 0;
    if (!exists && errno != ENOENT) {
        return nullptr;
    }
    bool mayOpen = (flags & (kUpdateOpenExisting | kUpdateOpenOrCreate)) != 0;
    bool mayCreate = (flags & kUpdateOpenExisting) == 0 || (flags & kUpdateOpenOrCreate) != 0;
    if (exists && !mayOpen) {
        errno = EEXIST;
        return nullptr;
    }
    if (!exists && !mayCreate) {
        errno = ENOENT;
        return nullptr;
    }
    if (exists) {
        ArchiveHeaderInfo header;
        int error = CheckRegularFile(path);
        if (error == 0) {
            error = CheckArchiveHeader(path, &header);
        }
        if (error == 0) {
            error = CheckUpdatableHeader(header);
        }
        if (error != 0) {
            errno = error;
            return nullptr;
        }
        if (int error = CheckIsArchive(storm, path)) {
            errno = error;
            return nullptr;
        }
    }
    UpdateSession* session = new UpdateSession;
    if (int error = BeginAtomicUpdate(path, exists, &session->file)) {
        delete session;
        errno = error;
        return nullptr;
    }
    HANDLE handle = nullptr;
    bool opened;
    if (exists) {
        // The copy is checked again: it is what the engine is given.
        ArchiveHeaderInfo header;
        int error = CheckArchiveHeader(session->file.temp.c_str(), &header);
        if (error == 0) {
            error = CheckUpdatableHeader(header);
        }
        if (error != 0) {
            AbandonAtomicUpdate(&session->file);
            delete session;
            errno = error;
            return nullptr;
        }
        opened = storm->OpenArchive(session->file.temp.c_str(), 0, 0, &handle);
    } else {
        SFILE_CREATE_MPQ create;
        std::memset(&create, 0, sizeof create);
        create.cbSize = sizeof create;
        create.dwMpqVersion = MPQ_FORMAT_VERSION_1;
        create.dwFileFlags1 = (flags & kUpdateKeepListFile) ? MPQ_FILE_DEFAULT_INTERNAL : 0;
        create.dwSectorSize = 0x1000;
        create.dwMaxFileCount =
            std::max<uint32_t>(1, std::min<uint32_t>(maxFiles, HASH_TABLE_SIZE_MAX));
        opened = storm->CreateArchive2(session->file.temp.c_str(), &create, &handle);
        // A new archive is written even when nothing is added to it.
        session->changed = true;
    }
    if (!opened) {
        int error = StormErrno();
        AbandonAtomicUpdate(&session->file);
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
    case MPQ_COMPRESSION_LZMA:
        engineCompression = compression;
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
    Archive* archive = OpenUpdate(handle);
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
    Archive* archive = OpenUpdate(handle);
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

int CloseUpdate(MpqHandle handle) {
    Archive* archive = FindUpdateArchive(handle);
    if (!archive) {
        errno = EBADF;
        return 0;
    }
    const StormApi* storm = Storm();
    UpdateSession* session = archive->update;
    CloseMembersOf(archive);
    if (session->failure) {
        int error = session->failure;
        AbandonUpdate(archive);
        errno = error;
        return 0;
    }
    if (!session->changed) {
        // Nothing to write: the original is left exactly as it was.
        AbandonUpdate(archive);
        return 1;
    }
    // Everything is written first, so that the file is complete whatever
    // the compaction below does.
    bool written = storm->FlushArchive(archive->storm);
    int error = written ? 0 : StormErrno();
    if (written && session->needsCompact) {
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
        unlink((session->file.temp + ".tmp").c_str());
    }
    written = storm->CloseArchive(archive->storm) && written;
    if (!written && error == 0) {
        error = StormErrno();
    }
    archive->storm = nullptr;
    if (written) {
        error = CommitAtomicUpdate(&session->file);
        written = error == 0;
    } else {
        AbandonAtomicUpdate(&session->file);
    }
    State.archives.erase(archive);
    delete session;
    delete archive;
    if (!written) {
        errno = error ? error : EIO;
        return 0;
    }
    return 1;
}

int Destroy() {
    while (!State.archives.empty()) {
        Archive* archive = *State.archives.begin();
        if (archive->update) {
            AbandonUpdate(archive);
        } else {
            CloseArchive(archive);
        }
    }
    UnloadStorm();
    State.locale = 0;
    return 1;
}

} // namespace sfmpq

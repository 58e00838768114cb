#include "in_process_library.h"

#include "archive_library/archive_library.h"
#include "sfmpq/library_calls.h"

namespace client = sfmpq::client;

void BindInProcessLibrary() {
    ArchiveLibraryRecord& l = ArchiveLibrary;
    l = ArchiveLibraryRecord{};
    l.module = &l; // anything but null: a library is loaded
    l.SFileSetLocale = [](uint32_t locale) { return client::SetLocale(locale); };
    l.SFileOpenArchive = [](const char* path, uint32_t, uint32_t, MpqHandle* archive) {
        return client::OpenArchive(path, archive);
    };
    l.SFileGetFileInfo = [](MpqHandle archive, uint32_t code) {
        return client::GetArchiveInfo(archive, code);
    };
    l.SFileListFiles = [](MpqHandle archive, const char* list, ListEntry* entries, uint32_t flag) {
        return client::ListMembers(archive, list, entries, flag);
    };
    l.SFileOpenFileEx = [](MpqHandle archive, const char* name, uint32_t, MpqHandle* member) {
        return client::OpenMember(archive, name, member);
    };
    l.SFileGetFileSize = [](MpqHandle member, uint32_t* high) {
        return client::GetMemberSize(member, high);
    };
    l.SFileReadFile = [](MpqHandle member, void* buffer, uint32_t count, uint32_t* read, void*) {
        return client::ReadMember(member, buffer, count, read);
    };
    l.SFileCloseFile = [](MpqHandle member) { return client::CloseMember(member); };
    l.SFileCloseArchive = [](MpqHandle archive) { return client::CloseArchive(archive); };
    l.MpqOpenArchiveForUpdate = [](const char* path, uint32_t flags, uint32_t maxFiles) {
        return client::OpenForUpdate(path, flags, maxFiles);
    };
    l.MpqAddFileToArchiveEx = [](MpqHandle update, const char* source, const char* name,
                                 uint32_t flags, uint32_t compression, uint32_t) {
        return client::AddFile(update, source, name, flags, compression);
    };
    l.MpqAddWaveToArchive = [](MpqHandle update, const char* source, const char* name,
                               uint32_t flags, uint32_t quality) {
        return client::AddWave(update, source, name, flags, quality);
    };
    l.MpqDeleteFile = [](MpqHandle update, const char* name) {
        return client::DeleteMember(update, name);
    };
    l.MpqSetFileLocale = [](MpqHandle update, const char* name, uint32_t oldLocale,
                            uint32_t newLocale) {
        return client::SetMemberLocale(update, name, oldLocale, newLocale);
    };
    l.MpqCloseUpdatedArchive = [](MpqHandle update, uint32_t) {
        return client::CloseUpdate(update);
    };
    l.SFMpqDestroy = [] { return client::Destroy(); };
}

void UnbindInProcessLibrary() {
    client::Destroy();
    ArchiveLibrary = ArchiveLibraryRecord{};
}

// The library's 16 exported entry points, with C linkage and the contract's
// types. Each calls the operation of the same purpose (library_calls.h),
// which may be called from any thread.
#include <type_traits>

#include "archive_library/archive_library.h"
#include "sfmpq/library_calls.h"

#define SFMPQ_EXPORT extern "C" __attribute__((visibility("default")))

SFMPQ_EXPORT uint32_t SFileSetLocale(uint32_t locale) {
    return sfmpq::client::SetLocale(locale);
}

SFMPQ_EXPORT int SFileOpenArchive(const char* path, uint32_t, uint32_t, MpqHandle* archive) {
    return sfmpq::client::OpenArchive(path, archive);
}

SFMPQ_EXPORT uint32_t SFileGetFileInfo(MpqHandle handle, uint32_t infoCode) {
    return sfmpq::client::GetArchiveInfo(handle, infoCode);
}

SFMPQ_EXPORT int SFileListFiles(MpqHandle archive, const char* list, ListEntry* entries,
                                uint32_t listFlag) {
    return sfmpq::client::ListMembers(archive, list, entries, listFlag);
}

SFMPQ_EXPORT int SFileOpenFileEx(MpqHandle archive, const char* name, uint32_t, MpqHandle* member) {
    return sfmpq::client::OpenMember(archive, name, member);
}

SFMPQ_EXPORT uint32_t SFileGetFileSize(MpqHandle member, uint32_t* high) {
    return sfmpq::client::GetMemberSize(member, high);
}

SFMPQ_EXPORT int SFileReadFile(MpqHandle member, void* buffer, uint32_t count, uint32_t* read,
                               void*) {
    return sfmpq::client::ReadMember(member, buffer, count, read);
}

SFMPQ_EXPORT int SFileCloseFile(MpqHandle member) {
    return sfmpq::client::CloseMember(member);
}

SFMPQ_EXPORT int SFileCloseArchive(MpqHandle archive) {
    return sfmpq::client::CloseArchive(archive);
}

SFMPQ_EXPORT MpqHandle MpqOpenArchiveForUpdate(const char* path, uint32_t flags,
                                               uint32_t maxFiles) {
    return sfmpq::client::OpenForUpdate(path, flags, maxFiles);
}

SFMPQ_EXPORT int MpqAddFileToArchiveEx(MpqHandle update, const char* source, const char* name,
                                       uint32_t flags, uint32_t compression, uint32_t) {
    return sfmpq::client::AddFile(update, source, name, flags, compression);
}

SFMPQ_EXPORT int MpqAddWaveToArchive(MpqHandle update, const char* source, const char* name,
                                     uint32_t flags, uint32_t quality) {
    return sfmpq::client::AddWave(update, source, name, flags, quality);
}

SFMPQ_EXPORT int MpqDeleteFile(MpqHandle update, const char* name) {
    return sfmpq::client::DeleteMember(update, name);
}

SFMPQ_EXPORT int MpqSetFileLocale(MpqHandle update, const char* name, uint32_t oldLocale,
                                  uint32_t newLocale) {
    return sfmpq::client::SetMemberLocale(update, name, oldLocale, newLocale);
}

SFMPQ_EXPORT int MpqCloseUpdatedArchive(MpqHandle update, uint32_t) {
    return sfmpq::client::CloseUpdate(update);
}

SFMPQ_EXPORT int SFMpqDestroy(void) {
    return sfmpq::client::Destroy();
}

// The exports have exactly the types the plug-in binds them with.
#define SFMPQ_SAME_TYPE(name)                                                                      \
    static_assert(std::is_same<decltype(&name), name##Fn>::value, #name " has the contract's "     \
                                                                        "type")
SFMPQ_SAME_TYPE(SFileSetLocale);
SFMPQ_SAME_TYPE(SFileOpenArchive);
SFMPQ_SAME_TYPE(SFileGetFileInfo);
SFMPQ_SAME_TYPE(SFileListFiles);
SFMPQ_SAME_TYPE(SFileOpenFileEx);
SFMPQ_SAME_TYPE(SFileGetFileSize);
SFMPQ_SAME_TYPE(SFileReadFile);
SFMPQ_SAME_TYPE(SFileCloseFile);
SFMPQ_SAME_TYPE(SFileCloseArchive);
SFMPQ_SAME_TYPE(MpqOpenArchiveForUpdate);
SFMPQ_SAME_TYPE(MpqAddFileToArchiveEx);
SFMPQ_SAME_TYPE(MpqAddWaveToArchive);
SFMPQ_SAME_TYPE(MpqDeleteFile);
SFMPQ_SAME_TYPE(MpqSetFileLocale);
SFMPQ_SAME_TYPE(MpqCloseUpdatedArchive);
SFMPQ_SAME_TYPE(SFMpqDestroy);

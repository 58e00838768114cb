// The library's 16 exported entry points, with C linkage and the contract's
// types. Each takes the library's lock (the library may be called from more
// than one thread; the engine and the handle sets are shared) and calls the
// operation of the same purpose.
#include <mutex>
#include <type_traits>

#include "archive_library/archive_library.h"
#include "sfmpq/operations.h"

#define SFMPQ_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex lock;

} // namespace

SFMPQ_EXPORT uint32_t SFileSetLocale(uint32_t locale) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::SetLocale(locale);
}

SFMPQ_EXPORT int SFileOpenArchive(const char* path, uint32_t, uint32_t, MpqHandle* archive) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::OpenArchive(path, archive);
}

SFMPQ_EXPORT uint32_t SFileGetFileInfo(MpqHandle handle, uint32_t infoCode) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::GetArchiveInfo(handle, infoCode);
}

SFMPQ_EXPORT int SFileListFiles(MpqHandle archive, const char* list, ListEntry* entries,
                                uint32_t listFlag) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::ListMembers(archive, list, entries, listFlag);
}

SFMPQ_EXPORT int SFileOpenFileEx(MpqHandle archive, const char* name, uint32_t, MpqHandle* member) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::OpenMember(archive, name, member);
}

SFMPQ_EXPORT uint32_t SFileGetFileSize(MpqHandle member, uint32_t* high) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::GetMemberSize(member, high);
}

SFMPQ_EXPORT int SFileReadFile(MpqHandle member, void* buffer, uint32_t count, uint32_t* read,
                               void*) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::ReadMember(member, buffer, count, read);
}

SFMPQ_EXPORT int SFileCloseFile(MpqHandle member) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::CloseMember(member);
}

SFMPQ_EXPORT int SFileCloseArchive(MpqHandle archive) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::CloseArchive(archive);
}

SFMPQ_EXPORT MpqHandle MpqOpenArchiveForUpdate(const char* path, uint32_t flags,
                                               uint32_t maxFiles) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::OpenForUpdate(path, flags, maxFiles);
}

SFMPQ_EXPORT int MpqAddFileToArchiveEx(MpqHandle update, const char* source, const char* name,
                                       uint32_t flags, uint32_t compression, uint32_t) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::AddFile(update, source, name, flags, compression);
}

SFMPQ_EXPORT int MpqAddWaveToArchive(MpqHandle update, const char* source, const char* name,
                                     uint32_t flags, uint32_t quality) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::AddWave(update, source, name, flags, quality);
}

SFMPQ_EXPORT int MpqDeleteFile(MpqHandle update, const char* name) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::DeleteMember(update, name);
}

SFMPQ_EXPORT int MpqSetFileLocale(MpqHandle update, const char* name, uint32_t oldLocale,
                                  uint32_t newLocale) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::SetMemberLocale(update, name, oldLocale, newLocale);
}

SFMPQ_EXPORT int MpqCloseUpdatedArchive(MpqHandle update, uint32_t) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::CloseUpdate(update);
}

SFMPQ_EXPORT int SFMpqDestroy(void) {
    std::lock_guard<std::mutex> guard(lock);
    return sfmpq::Destroy();
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

// The 16 entry points of SFMpq.dll under Wine: standard-call, with the
// contract's types, each calling the client operation of the same purpose
// (sfmpq/library_calls.h) that the Linux library's exports call. Paths come
// in as Windows paths and are handed on as Unix paths; a failure leaves the
// Win32 error code of its errno value as the thread's last error. Nothing
// thrown inside leaves an entry point.
#include <windows.h>

#include <cerrno>
#include <string>

#include "archive_library/archive_library.h"
#include "sfmpq/library_calls.h"
#include "win32_errors.h"
#include "windows_paths.h"

namespace {

using namespace sfmpq::client;
using wine_sfmpq::ToUnixPath;
using wine_sfmpq::Win32ErrorOf;

// Runs `call`; when it returns `failure`, its errno becomes the last error.
template <typename Result, typename Call> Result Run(Result failure, Call call) {
    try {
        errno = 0;
        Result result = call();
        if (result == failure) {
            SetLastError(Win32ErrorOf(errno));
        }
        return result;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return failure;
    }
}

// A Windows path argument as a Unix path; null stays null.
struct UnixPath {
    explicit UnixPath(const char* path) : given(path != nullptr) {
        error = path ? ToUnixPath(path, &text) : 0;
    }
    const char* get() const { return given ? text.c_str() : nullptr; }

    bool given;
    uint32_t error;
    std::string text;
};

template <typename Result> Result FailWith(uint32_t error, Result failure) {
    SetLastError(error);
    return failure;
}

} // namespace

extern "C" {

uint32_t TARNEL_STDCALL SFileSetLocale(uint32_t locale) {
    return SetLocale(locale);
}

int TARNEL_STDCALL SFileOpenArchive(const char* path, uint32_t, uint32_t, MpqHandle* archive) {
    return Run(0, [&] {
        UnixPath file(path);
        if (file.error) {
            if (archive) {
                *archive = nullptr;
            }
            return FailWith(file.error, 0);
        }
        return OpenArchive(file.get(), archive);
    });
}

uint32_t TARNEL_STDCALL SFileGetFileInfo(MpqHandle handle, uint32_t infoCode) {
    return Run(0u, [&] { return GetArchiveInfo(handle, infoCode); });
}

int TARNEL_STDCALL SFileListFiles(MpqHandle archive, const char* list, ListEntry* entries,
                                  uint32_t listFlag) {
    return Run(0, [&] {
        if (list && listFlag != kListIsText) {
            std::string paths = wine_sfmpq::ToUnixPathList(list);
            return ListMembers(archive, paths.c_str(), entries, listFlag);
        }
        return ListMembers(archive, list, entries, listFlag);
    });
}

int TARNEL_STDCALL SFileOpenFileEx(MpqHandle archive, const char* name, uint32_t,
                                   MpqHandle* member) {
    return Run(0, [&] { return OpenMember(archive, name, member); });
}

uint32_t TARNEL_STDCALL SFileGetFileSize(MpqHandle member, uint32_t* high) {
    return Run(0xFFFFFFFFu, [&] { return GetMemberSize(member, high); });
}

int TARNEL_STDCALL SFileReadFile(MpqHandle member, void* buffer, uint32_t count, uint32_t* read,
                                 void*) {
    return Run(0, [&] { return ReadMember(member, buffer, count, read); });
}

int TARNEL_STDCALL SFileCloseFile(MpqHandle member) {
    return Run(0, [&] { return CloseMember(member); });
}

int TARNEL_STDCALL SFileCloseArchive(MpqHandle archive) {
    return Run(0, [&] { return CloseArchive(archive); });
}

MpqHandle TARNEL_STDCALL MpqOpenArchiveForUpdate(const char* path, uint32_t flags,
                                                 uint32_t maxFiles) {
    return Run(MpqHandle(nullptr), [&] {
        UnixPath file(path);
        if (file.error) {
            return FailWith(file.error, MpqHandle(nullptr));
        }
        return OpenForUpdate(file.get(), flags, maxFiles);
    });
}

int TARNEL_STDCALL MpqAddFileToArchiveEx(MpqHandle update, const char* source, const char* name,
                                         uint32_t flags, uint32_t compression, uint32_t) {
    return Run(0, [&] {
        UnixPath file(source);
        if (file.error) {
            return FailWith(file.error, 0);
        }
        return AddFile(update, file.get(), name, flags, compression);
    });
}

int TARNEL_STDCALL MpqAddWaveToArchive(MpqHandle update, const char* source, const char* name,
                                       uint32_t flags, uint32_t quality) {
    return Run(0, [&] {
        UnixPath file(source);
        if (file.error) {
            return FailWith(file.error, 0);
        }
        return AddWave(update, file.get(), name, flags, quality);
    });
}

int TARNEL_STDCALL MpqDeleteFile(MpqHandle update, const char* name) {
    return Run(0, [&] { return DeleteMember(update, name); });
}

int TARNEL_STDCALL MpqSetFileLocale(MpqHandle update, const char* name, uint32_t oldLocale,
                                    uint32_t newLocale) {
    return Run(0, [&] { return SetMemberLocale(update, name, oldLocale, newLocale); });
}

int TARNEL_STDCALL MpqCloseUpdatedArchive(MpqHandle update, uint32_t) {
    return Run(0, [&] { return CloseUpdate(update); });
}

int TARNEL_STDCALL SFMpqDestroy(void) {
    return Run(0, [&] { return Destroy(); });
}

} // extern "C"

// The exports have exactly the types the plug-in binds them with, calling
// convention included (a pointer of another convention does not convert).
#define SFMPQ_SAME_TYPE(name) [[maybe_unused]] constexpr name##Fn name##Bound = &name
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

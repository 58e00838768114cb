// A stand-in for the archive library that records what happens to it, one
// line per event, in the file named by TARNEL_LOADER_LOG: its loading (with
// its own path and the current directory at that moment), each call, and its
// unloading. Built in variants that lack one export or another.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

#include "archive_library/archive_library.h"

namespace {

void Record(const char* what, bool withPlace = false) {
    const char* logPath = std::getenv("TARNEL_LOADER_LOG");
    if (!logPath || !*logPath) {
        return;
    }
    FILE* log = std::fopen(logPath, "a");
    if (!log) {
        return;
    }
    if (withPlace) {
        Dl_info self = {};
        char directory[4096] = "";
        dladdr(reinterpret_cast<void*>(&Record), &self);
        if (!getcwd(directory, sizeof directory)) {
            directory[0] = '\0';
        }
        std::fprintf(log, "%s %s in %s\n", what, self.dli_fname ? self.dli_fname : "?", directory);
    } else {
        std::fprintf(log, "%s\n", what);
    }
    std::fclose(log);
}

__attribute__((constructor)) void Loaded() {
    Record("load", true);
}
__attribute__((destructor)) void Unloaded() {
    Record("unload", true);
}

} // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT uint32_t SFileSetLocale(uint32_t) {
    Record("SFileSetLocale");
    return 0;
}
// Only an archive named "present.mpq" opens; it lists nothing.
EXPORT int SFileOpenArchive(const char* path, uint32_t, uint32_t, MpqHandle* archive) {
    Record("SFileOpenArchive");
    const char* slash = std::strrchr(path, '/');
    if (archive && std::strcmp(slash ? slash + 1 : path, "present.mpq") == 0) {
        *archive = reinterpret_cast<MpqHandle>(1);
        return 1;
    }
    return 0;
}
EXPORT uint32_t SFileGetFileInfo(MpqHandle, uint32_t) {
    Record("SFileGetFileInfo");
    return 0;
}
#if !defined(WITHOUT_SFILE_LIST_FILES)
EXPORT int SFileListFiles(MpqHandle, const char*, ListEntry*, uint32_t) {
    Record("SFileListFiles");
    return 0;
}
#endif
EXPORT int SFileOpenFileEx(MpqHandle, const char*, uint32_t, MpqHandle*) {
    Record("SFileOpenFileEx");
    return 0;
}
EXPORT uint32_t SFileGetFileSize(MpqHandle, uint32_t*) {
    Record("SFileGetFileSize");
    return UINT32_MAX;
}
EXPORT int SFileReadFile(MpqHandle, void*, uint32_t, uint32_t*, void*) {
    Record("SFileReadFile");
    return 0;
}
EXPORT int SFileCloseFile(MpqHandle) {
    Record("SFileCloseFile");
    return 1;
}
EXPORT int SFileCloseArchive(MpqHandle) {
    Record("SFileCloseArchive");
    return 1;
}
EXPORT MpqHandle MpqOpenArchiveForUpdate(const char*, uint32_t, uint32_t) {
    Record("MpqOpenArchiveForUpdate");
    return nullptr;
}
EXPORT int MpqAddFileToArchiveEx(MpqHandle, const char*, const char*, uint32_t, uint32_t,
                                 uint32_t) {
    Record("MpqAddFileToArchiveEx");
    return 0;
}
EXPORT int MpqAddWaveToArchive(MpqHandle, const char*, const char*, uint32_t, uint32_t) {
    Record("MpqAddWaveToArchive");
    return 0;
}
EXPORT int MpqDeleteFile(MpqHandle, const char*) {
    Record("MpqDeleteFile");
    return 0;
}
EXPORT int MpqSetFileLocale(MpqHandle, const char*, uint32_t, uint32_t) {
    Record("MpqSetFileLocale");
    return 0;
}
EXPORT int MpqCloseUpdatedArchive(MpqHandle, uint32_t) {
    Record("MpqCloseUpdatedArchive");
    return 0;
}
#if !defined(WITHOUT_SFMPQ_DESTROY)
EXPORT int SFMpqDestroy() {
    Record("SFMpqDestroy");
    return 1;
}
#endif

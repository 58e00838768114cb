#include "archive_library/library_loader.h"

#include <cstring>

#include "archive_library/archive_library.h"
#include "platform/platform.h"

namespace {

// The module path buffer holds 259 characters, the terminating zero
// included; the saved current directory 260.
constexpr uint32_t kModulePathSize = 259;
constexpr uint32_t kDirectorySize = 260;

template <typename Function> void Bind(Function* slot, const char* name) {
    *slot = reinterpret_cast<Function>(PlatformGetProcAddress(ArchiveLibrary.module, name));
}

void BindAll() {
    ArchiveLibraryRecord& l = ArchiveLibrary;
    Bind(&l.SFileOpenArchive, "SFileOpenArchive");
    Bind(&l.SFileCloseArchive, "SFileCloseArchive");
    Bind(&l.SFileOpenFileEx, "SFileOpenFileEx");
    Bind(&l.SFileCloseFile, "SFileCloseFile");
    Bind(&l.SFileGetFileSize, "SFileGetFileSize");
    Bind(&l.SFileReadFile, "SFileReadFile");
    Bind(&l.SFileSetLocale, "SFileSetLocale");
    Bind(&l.SFileGetFileInfo, "SFileGetFileInfo");
    Bind(&l.SFileListFiles, "SFileListFiles");
    Bind(&l.MpqOpenArchiveForUpdate, "MpqOpenArchiveForUpdate");
    Bind(&l.MpqCloseUpdatedArchive, "MpqCloseUpdatedArchive");
    Bind(&l.MpqAddWaveToArchive, "MpqAddWaveToArchive");
    Bind(&l.MpqDeleteFile, "MpqDeleteFile");
    Bind(&l.MpqAddFileToArchiveEx, "MpqAddFileToArchiveEx");
    Bind(&l.MpqSetFileLocale, "MpqSetFileLocale");
    Bind(&l.SFMpqDestroy, "SFMpqDestroy");
}

} // namespace

LibraryLoader::LibraryLoader() {
    if (ArchiveLibrary.module) {
        return;
    }
    char modulePath[kModulePathSize] = "";
    char savedDirectory[kDirectorySize] = "";
    PlatformModule self = PlatformGetModuleHandle("tarnel.wcx");
    uint32_t length = PlatformGetModuleFileName(self, modulePath, kModulePathSize);
    // A path that does not fit the buffer is treated as having no folder:
    // the current directory stays as it is.
    if (length >= kModulePathSize) {
        modulePath[0] = '\0';
    }
    char* lastSeparator = std::strrchr(modulePath, '\\');
    if (kHostSeparator == '/') {
        char* slash = std::strrchr(modulePath, '/');
        if (slash && (!lastSeparator || slash > lastSeparator)) {
            lastSeparator = slash;
        }
    }
    bool switched = false;
    if (lastSeparator) {
        // A root folder keeps its separator: without it "/" would name no
        // folder and "C:" the drive's current folder instead of its root.
        if (lastSeparator == modulePath || lastSeparator[-1] == ':') {
            lastSeparator[1] = '\0';
        } else {
            *lastSeparator = '\0';
        }
        // The current directory is only changed when it can be put back: one
        // that does not fit the buffer stays as it is, like a module path
        // that does not fit.
        uint32_t saved = PlatformGetCurrentDirectory(kDirectorySize, savedDirectory);
        if (saved > 0 && saved < kDirectorySize) {
            PlatformSetCurrentDirectory(modulePath);
            switched = true;
        }
    }
    ArchiveLibrary.module = PlatformLoadLibrary("SFMpq.dll");
    if (!ArchiveLibrary.module) {
        PlatformMessageBox("Cannot find SFMpq.dll!", "Error", kMessageBoxIconError);
    }
    if (switched) {
        PlatformSetCurrentDirectory(savedDirectory);
    }
    if (ArchiveLibrary.module) {
        BindAll();
    }
}

LibraryLoader::~LibraryLoader() {
    SFMpqDestroyFn destroy = ArchiveLibrary.SFMpqDestroy;
    void* module = ArchiveLibrary.module;
    ArchiveLibrary = ArchiveLibraryRecord{};
    ArchiveLibrary.module = module;
    ArchiveLibrary.SFMpqDestroy = destroy;
    if (!ArchiveLibrary.module) {
        return;
    }
    if (ArchiveLibrary.SFMpqDestroy) {
        ArchiveLibrary.SFMpqDestroy();
    }
    ArchiveLibrary.SFMpqDestroy = nullptr;
    PlatformFreeLibrary(ArchiveLibrary.module);
    ArchiveLibrary.module = nullptr;
}

#include "sfmpq/storm_api.h"

#include <cerrno>
#include <dlfcn.h>

namespace sfmpq {

namespace {

void* module = nullptr;
StormApi api;

template <typename Function> bool Resolve(Function* slot, const char* name) {
    *slot = reinterpret_cast<Function>(dlsym(module, name));
    return *slot != nullptr;
}

bool ResolveAll() {
    return Resolve(&api.SetLocale, "SFileSetLocale") &&
           Resolve(&api.OpenArchive, "SFileOpenArchive") &&
           Resolve(&api.CreateArchive2, "SFileCreateArchive2") &&
           Resolve(&api.FlushArchive, "SFileFlushArchive") &&
           Resolve(&api.CompactArchive, "SFileCompactArchive") &&
           Resolve(&api.CloseArchive, "SFileCloseArchive") &&
           Resolve(&api.GetFileInfo, "SFileGetFileInfo") &&
           Resolve(&api.EnumLocales, "SFileEnumLocales") &&
           Resolve(&api.OpenFileEx, "SFileOpenFileEx") &&
           Resolve(&api.GetFileSize, "SFileGetFileSize") &&
           Resolve(&api.ReadFile, "SFileReadFile") && Resolve(&api.CloseFile, "SFileCloseFile") &&
           Resolve(&api.AddFileEx, "SFileAddFileEx") &&
           Resolve(&api.RemoveFile, "SFileRemoveFile") &&
           Resolve(&api.SetFileLocale, "SFileSetFileLocale") &&
           Resolve(&api.LastError, "GetLastError") && Resolve(&api.SetLastError, "SetLastError");
}

// True when this library's own exports are what the global scope finds for
// a name StormLib calls: this library was loaded with RTLD_GLOBAL (or linked
// into the program), and StormLib loaded now would call us instead of itself.
bool OurExportsAreGlobal() {
    // The program's handle searches the global scope only; RTLD_DEFAULT
    // would also search this library's own scope and always find us.
    void* program = dlopen(nullptr, RTLD_LAZY);
    void* global = program ? dlsym(program, "SFileOpenFileEx") : nullptr;
    if (program) {
        dlclose(program);
    }
    Dl_info found;
    Dl_info self;
    return global && dladdr(global, &found) &&
           dladdr(reinterpret_cast<void*>(&OurExportsAreGlobal), &self) &&
           found.dli_fbase == self.dli_fbase;
}

} // namespace

const StormApi* Storm() {
    if (module) {
        return &api;
    }
    if (OurExportsAreGlobal()) {
        errno = ELIBBAD;
        return nullptr;
    }
    // RTLD_LOCAL: StormLib's names stay out of the global scope, and its own
    // calls resolve within its scope, to itself.
    module = dlopen(SFMPQ_STORM_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        errno = ELIBACC;
        return nullptr;
    }
    if (!ResolveAll()) {
        dlclose(module);
        module = nullptr;
        errno = ELIBBAD;
        return nullptr;
    }
    return &api;
}

void UnloadStorm() {
    if (module) {
        dlclose(module);
        module = nullptr;
        api = StormApi();
    }
}

int StormErrno() {
    if (!module) {
        return ELIBACC;
    }
    DWORD code = api.LastError();
    switch (code) {
    case ERROR_SUCCESS:
    case ERROR_HANDLE_EOF:
    case ERROR_CAN_NOT_COMPLETE:
        return EIO;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_NO_MORE_FILES:
        return ENOENT;
    case ERROR_BAD_FORMAT:
    case ERROR_FILE_CORRUPT:
    case ERROR_AVI_FILE:
        return ENOEXEC;
    case ERROR_INTERNAL_FILE:
        return EPERM;
    default:
        // StormLib's other codes on Linux are errno values already; its own
        // codes above 1000 have no errno of their own.
        return code < 1000 ? static_cast<int>(code) : EIO;
    }
}

} // namespace sfmpq

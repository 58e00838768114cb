// The POSIX backend: message boxes, errors, files and modules with the
// Windows semantics the plug-in relies on. Profile strings live in
// profile_posix.cpp, dialogs in dialog_posix.cpp, and what the desktop shows
// in desktop_*_posix.cpp.
#include "platform/bounded_text.h"
#include "platform/desktop_posix.h"
#include "platform/platform.h"
#include "platform/system_calls.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

PlatformMessageBoxRecorder messageBoxRecorder = nullptr;

// Files are handed out as their descriptor plus one, so that 0 stays free
// for "no file".
PlatformFile FileFromDescriptor(int fd) {
    return reinterpret_cast<PlatformFile>(static_cast<intptr_t>(fd) + 1);
}

int DescriptorOf(PlatformFile file) {
    return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
}

} // namespace

void PlatformSetMessageBoxRecorder(PlatformMessageBoxRecorder recorder) {
    messageBoxRecorder = recorder;
}

namespace {

// Writes `text` to standard error with control characters shown as \xNN: a
// message can carry a member name, and an archive must not be able to send
// escape sequences to the user's terminal. Names are UTF-8 here, whose C1
// controls (U+0080-U+009F, CSI among them) are two bytes, both shown.
void WritePrintable(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x20 || *p == 0x7F) {
            std::fprintf(stderr, "\\x%02X", *p);
        } else if (*p == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F) {
            std::fprintf(stderr, "\\x%02X\\x%02X", p[0], p[1]);
            ++p;
        } else {
            std::fputc(*p, stderr);
        }
    }
}

} // namespace

namespace {

int ShowMessage(const char* text, const char* caption, uint32_t type) {
    if (messageBoxRecorder) {
        return messageBoxRecorder(text ? text : "", caption ? caption : "", type);
    }
    // A graphical file manager shows nothing written to standard error: with
    // no terminal to write to, the desktop shows the box.
    if (!PosixHasTerminal() && PosixHasGraphicalSession() &&
        PosixShowDesktopMessage(text ? text : "", caption ? caption : "", type)) {
        return 1; // the one button, OK
    }
    WritePrintable(caption ? caption : "");
    std::fputs(": ", stderr);
    WritePrintable(text ? text : "");
    std::fputc('\n', stderr);
    std::fflush(stderr);
    return 1; // as if OK was pressed
}

} // namespace

int PlatformMessageBox(const char* text, const char* caption, uint32_t type) {
    // Showing a message is no failure of its own: the caller's error code
    // (what failed, and why) stays as it was.
    int saved = errno;
    int button = ShowMessage(text, caption, type);
    errno = saved;
    return button;
}

uint32_t PlatformGetLastError(void) {
    return static_cast<uint32_t>(errno);
}

void PlatformSetLastError(uint32_t code) {
    errno = static_cast<int>(code);
}

bool PlatformErrorText(uint32_t code, char* buffer, size_t size) {
    if (size == 0) {
        return false;
    }
    buffer[0] = '\0';
    char text[256];
    // The GNU strerror_r returns its text, which may or may not be `text`.
    const char* message = strerror_r(static_cast<int>(code), text, sizeof text);
    if (code == 0 || !message || std::strncmp(message, "Unknown error", 13) == 0) {
        return false;
    }
    CopyBounded(buffer, size, message);
    return true;
}

PlatformFile PlatformCreateNewFile(const char* path) {
    int fd = SystemCalls.open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd < 0 ? nullptr : FileFromDescriptor(fd);
}

PlatformFile PlatformCreateTempFileBeside(const char* path, char* tempPath, size_t tempPathSize) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned tag = (static_cast<unsigned>(getpid()) * 2654435761u) ^
                       static_cast<unsigned>(std::time(nullptr)) ^ (++counter * 40503u);
        const char* slash = std::strrchr(path, '/');
        int folderLength = slash ? static_cast<int>(slash - path + 1) : 0;
        int length =
            std::snprintf(tempPath, tempPathSize, "%.*s~tn%08x.tmp", folderLength, path, tag);
        if (length < 0 || static_cast<size_t>(length) >= tempPathSize) {
            if (tempPathSize > 0) {
                tempPath[0] = '\0';
            }
            errno = ENAMETOOLONG;
            return nullptr;
        }
        // O_EXCL: a new file of our own, never one that happens to exist.
        int fd = SystemCalls.open(tempPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return FileFromDescriptor(fd);
        }
        if (errno != EEXIST) {
            tempPath[0] = '\0';
            return nullptr;
        }
    }
    tempPath[0] = '\0';
    return nullptr;
}

int PlatformWriteFile(PlatformFile file, const void* data, uint32_t count, uint32_t* written) {
    const char* bytes = static_cast<const char*>(data);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = SystemCalls.write(DescriptorOf(file), bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    if (written) {
        *written = done;
    }
    return done == count;
}

int PlatformCloseFile(PlatformFile file) {
    if (!file) {
        return 0;
    }
    return SystemCalls.close(DescriptorOf(file)) == 0;
}

int PlatformDeleteFile(const char* path) {
    return SystemCalls.unlink(path) == 0;
}

int PlatformRemoveEmptyFolder(const char* path) {
    return SystemCalls.rmdir(path) == 0;
}

int PlatformReplaceFile(const char* from, const char* to) {
    struct stat existing;
    if (SystemCalls.stat(to, &existing) == 0 && S_ISREG(existing.st_mode)) {
        // A file nobody may write is read-only whoever asks, as on Windows,
        // where an administrator does not replace it either.
        if ((existing.st_mode & 0222) == 0) {
            errno = EACCES;
            return 0;
        }
        if (SystemCalls.access(to, W_OK) != 0) {
            return 0;
        }
        SystemCalls.chmod(from, existing.st_mode & 07777);
    }
    return SystemCalls.rename(from, to) == 0;
}

namespace {

struct ModuleSearch {
    const char* name;
    std::string path;
};

int FindLoadedObject(struct dl_phdr_info* info, size_t, void* data) {
    ModuleSearch* search = static_cast<ModuleSearch*>(data);
    const char* path = info->dlpi_name;
    if (!path || !*path) {
        return 0;
    }
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    if (std::strcmp(base, search->name) == 0) {
        search->path = path;
        return 1;
    }
    return 0;
}

} // namespace

PlatformModule PlatformGetModuleHandle(const char* name) {
    if (!name) {
        return dlopen(nullptr, RTLD_LAZY | RTLD_NOLOAD);
    }
    ModuleSearch search = {name, std::string()};
    dl_iterate_phdr(FindLoadedObject, &search);
    if (search.path.empty()) {
        return nullptr;
    }
    // Like the Windows call, this hands out the module without keeping a
    // reference: the object stays loaded by whoever loaded it.
    void* handle = dlopen(search.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) {
        dlclose(handle);
    }
    return handle;
}

uint32_t PlatformGetModuleFileName(PlatformModule module, char* buffer, uint32_t size) {
    if (size == 0) {
        return 0;
    }
    std::string path;
    struct link_map* map = nullptr;
    if (module && dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name &&
        map->l_name[0]) {
        path = map->l_name;
    } else {
        char exe[4096];
        ssize_t n = SystemCalls.readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) {
            buffer[0] = '\0';
            return 0;
        }
        exe[n] = '\0';
        path = exe;
    }
    char* resolved = SystemCalls.realpath(path.c_str());
    if (resolved) {
        path = resolved;
        std::free(resolved);
    }
    uint32_t copied = static_cast<uint32_t>(CopyBounded(buffer, size, path.c_str()));
    return path.size() >= size ? size : copied;
}

PlatformModule PlatformLoadLibrary(const char* name) {
    if (!name || !*name) {
        return nullptr;
    }
    // A bare name is looked up in the current directory first, as the
    // Windows loader does, then by the dynamic linker's usual search. The
    // current directory's file is opened by its full path, not "./name": the
    // dynamic linker hands out a loaded object whose recorded name equals the
    // one asked for, so "./name" would find a library loaded from another
    // folder earlier.
    if (!std::strchr(name, '/')) {
        char directory[4096];
        if (SystemCalls.getcwd(directory, sizeof directory)) {
            std::string local = directory;
            if (local.back() != '/') {
                local += '/';
            }
            local += name;
            if (SystemCalls.access(local.c_str(), F_OK) == 0) {
                return dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
            }
        }
    }
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* PlatformGetProcAddress(PlatformModule module, const char* name) {
    return module ? dlsym(module, name) : nullptr;
}

int PlatformFreeLibrary(PlatformModule module) {
    return module && dlclose(module) == 0;
}

uint32_t PlatformGetCurrentDirectory(uint32_t size, char* buffer) {
    char path[4096];
    if (!SystemCalls.getcwd(path, sizeof path)) {
        return 0;
    }
    size_t length = std::strlen(path);
    if (length >= size) {
        return static_cast<uint32_t>(length + 1);
    }
    std::memcpy(buffer, path, length + 1);
    return static_cast<uint32_t>(length);
}

int PlatformSetCurrentDirectory(const char* path) {
    return path && SystemCalls.chdir(path) == 0;
}

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

namespace {

// Blocks from this size on are mapped on their own, aligned to the large
// page size, and the kernel is asked for large pages; smaller ones come
// from the heap.
constexpr size_t kLargePage = size_t(2) << 20;

} // namespace

void* PlatformAllocateLarge(size_t size) {
    if (size < kLargePage) {
        return std::calloc(size ? size : 1, 1);
    }
    if (size > SIZE_MAX - kLargePage) {
        return nullptr;
    }
    // Mapped with a large page's worth to spare, then trimmed to an aligned
    // block of exactly `size` bytes, which PlatformFreeLarge unmaps.
    const size_t mapped = size + kLargePage;
    void* map = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        return nullptr;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(map);
    const uintptr_t aligned = (start + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
    if (aligned > start) {
        munmap(map, aligned - start);
    }
    // The tail goes from the end of the block's last page on: munmap takes
    // whole pages only (it refuses an address inside one), and
    // PlatformFreeLarge's munmap(block, size) takes that last page too.
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t blockEnd = (aligned + size + page - 1) & ~(page - 1);
    const uintptr_t end = start + mapped;
    if (end > blockEnd) {
        munmap(reinterpret_cast<void*>(blockEnd), end - blockEnd);
    }
    void* block = reinterpret_cast<void*>(aligned);
    madvise(block, size, MADV_HUGEPAGE); // a wish: without large pages it still works
    return block;
}

void PlatformFreeLarge(void* block, size_t size) {
    if (!block) {
        return;
    }
    if (size < kLargePage) {
        std::free(block);
    } else {
        munmap(block, size);
    }
}

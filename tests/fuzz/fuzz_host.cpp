#include "fuzz_host.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz {

namespace {

// The standard error the process started with (libFuzzer's -close_fd_mask
// closes descriptor 2 to hide the plug-in's messages).
int reportFd = 2;

LoadedPlugin plugin;
std::string runFolder;
std::string keptFolder;
std::string workFolder;

// A listing of more headers than the largest hash table the library
// accepts (2^20 slots) does not end.
constexpr size_t kMostHeaders = size_t{1} << 21;
// How much an update may grow an archive: a small file, a new name list
// and rewritten tables of at most 2^20 slots each fit in far less.
constexpr long long kMostGrowth = 64ll << 20;
// No file the plug-in writes for a fuzz input may grow past this: a runaway
// write fails (EFBIG) instead of filling the disk of a shared machine.
constexpr rlim_t kLargestFile = rlim_t{4} << 30;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW* where) {
    if (where->level > 0) {
        remove(path);
    }
    return 0;
}

// Removes everything below `folder`, never the folder itself.
void RemoveBelow(const std::string& folder) {
    nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void RemoveWork() {
    RemoveBelow(workFolder);
    rmdir(workFolder.c_str());
}

std::string WorkBase() {
    const char* own = std::getenv("TARNEL_FUZZ_TMPDIR");
    if (own && *own) {
        return own;
    }
    // Archives are small and updates sync them: memory is the place.
    if (access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    const char* temp = std::getenv("TMPDIR");
    return temp && *temp ? temp : "/tmp";
}

void MakeWork() {
    std::string pattern = WorkBase() + "/tarnel-fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        Fail("cannot create a folder like %s: %s", pattern.c_str(), std::strerror(errno));
    }
    workFolder = buffer.data();
    runFolder = workFolder + "/run";
    keptFolder = workFolder + "/kept";
    if (mkdir(runFolder.c_str(), 0700) != 0 || mkdir(keptFolder.c_str(), 0700) != 0) {
        Fail("cannot create folders in %s", workFolder.c_str());
    }
    std::atexit(RemoveWork);
}

void LimitFileSize() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur > kLargestFile) {
        limit.rlim_cur = kLargestFile;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    signal(SIGXFSZ, SIG_IGN);
}

// The progress callback: counts the bytes of the member being processed
// and stops it once they pass the cap.
uint64_t memberBytes = 0;
uint64_t memberCap = UINT64_MAX;
volatile size_t lastNameLength = 0;

int TARNEL_STDCALL OnProgress(char* name, int size) {
    if (name) {
        // The name must be terminated (a sanitizer build checks the read).
        lastNameLength = std::strlen(name);
    }
    memberBytes += size > 0 ? static_cast<uint64_t>(size) : 0;
    return memberBytes > memberCap ? 0 : 1;
}

} // namespace

LoadedPlugin& Plugin() {
    return plugin;
}

void Fail(const char* format, ...) {
    char text[2048];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    std::string line = std::string("fuzz host check failed: ") + text + "\n";
    ssize_t written = write(reportFd, line.data(), line.size());
    (void)written;
    std::abort();
}

std::string RunPath(const std::string& name) {
    return name.empty() ? runFolder : runFolder + "/" + name;
}

std::string KeptPath(const std::string& name) {
    return keptFolder + "/" + name;
}

void ClearRun() {
    RemoveBelow(runFolder);
}

void WriteFile(const std::string& path, const void* data, size_t size) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0700);
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const char* bytes = static_cast<const char*>(data);
    while (fd >= 0 && size > 0) {
        ssize_t done = write(fd, bytes, size);
        if (done <= 0) {
            break;
        }
        bytes += done;
        size -= static_cast<size_t>(done);
    }
    if (fd < 0 || size > 0 || close(fd) != 0) {
        Fail("cannot write %s: %s", path.c_str(), std::strerror(errno));
    }
}

void WriteFile(const std::string& path, const std::string& content) {
    WriteFile(path, content.data(), content.size());
}

bool ReadFile(const std::string& path, std::string* content) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    content->clear();
    char buffer[1 << 16];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        content->append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return got == 0;
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

void MakeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        Fail("cannot create %s: %s", path.c_str(), std::strerror(errno));
    }
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void UseSettings(const std::string& path) {
    // Heap records of their exact size: a sanitizer build sees any access
    // past them.
    HostDefaults* defaults = new HostDefaults();
    defaults->size = sizeof *defaults;
    path.copy(defaults->settingsPath, sizeof defaults->settingsPath - 1);
    plugin.PackSetDefaultParams(defaults);
    delete defaults;
}

std::string NameList(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) {
        list += name;
        list += '\0';
    }
    list += '\0';
    return list;
}

bool BeginWalk(const std::string& archive, int mode, void** handle, EntryHeader** header) {
    OpenRequest* request = new OpenRequest{archive.c_str(), mode, 0};
    *handle = plugin.OpenArchive(request);
    int result = request->openResult;
    delete request;
    if (!*handle) {
        if (result == kResultOk) {
            Fail("OpenArchive failed without a result code");
        }
        return false;
    }
    plugin.SetProcessDataProc(*handle, OnProgress);
    *header = new EntryHeader();
    return true;
}

bool NextHeader(void* handle, EntryHeader* header, size_t index, Listing* listing) {
    int result = plugin.ReadHeader(handle, header);
    if (result != kResultOk) {
        listing->complete = result == kResultEndArchive;
        return false;
    }
    if (index >= kMostHeaders) {
        Fail("ReadHeader reports more than %zu members", kMostHeaders);
    }
    if (!std::memchr(header->fileName, 0, sizeof header->fileName)) {
        Fail("ReadHeader left the name of member %zu unterminated", index);
    }
    listing->names.push_back(header->fileName);
    return true;
}

void EndWalk(void* handle, EntryHeader* header) {
    plugin.CloseArchive(handle);
    delete header;
}

Listing List(const std::string& archive) {
    return Walk(archive, kOpenList, [](void* handle, size_t, const std::string&) { Skip(handle); });
}

void Skip(void* handle) {
    plugin.ProcessFile(handle, kOpSkip, nullptr, nullptr);
}

int Process(void* handle, int operation, const std::string& dest, uint64_t byteCap) {
    memberBytes = 0;
    memberCap = byteCap;
    // A test names no destination.
    std::vector<char> name(dest.begin(), dest.end());
    name.push_back('\0');
    int result =
        plugin.ProcessFile(handle, operation, nullptr, dest.empty() ? nullptr : name.data());
    memberCap = UINT64_MAX;
    return result;
}

void CheckUnchanged(const std::string& archive, const std::string& before, const char* update) {
    std::string after;
    if (!ReadFile(archive, &after)) {
        Fail("%s failed and the archive is gone", update);
    }
    if (after != before) {
        size_t at = std::mismatch(before.begin(), before.end(), after.begin(), after.end()).first -
                    before.begin();
        Fail("%s failed and changed the archive (%zu bytes, was %zu; first change at %zu)", update,
             after.size(), before.size(), at);
    }
}

void CheckUpdated(const std::string& archive, size_t sizeBefore, bool listedBefore,
                  const char* update) {
    struct stat info;
    if (stat(archive.c_str(), &info) != 0) {
        Fail("%s succeeded and the archive is gone", update);
    }
    if (info.st_size > static_cast<long long>(sizeBefore) + kMostGrowth) {
        Fail("%s grew the archive from %zu to %lld bytes", update, sizeBefore,
             static_cast<long long>(info.st_size));
    }
    if (listedBefore && !List(archive).complete) {
        Fail("%s succeeded and the archive can no longer be listed", update);
    }
}

void CheckOnlyFiles(const std::string& folder, const std::vector<std::string>& expected,
                    const char* after) {
    std::vector<std::string> found = FilesIn(folder);
    for (const std::string& name : found) {
        if (!std::binary_search(expected.begin(), expected.end(), name)) {
            Fail("%s left %s/%s behind", after, folder.c_str(), name.c_str());
        }
    }
}

} // namespace fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int copy = fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (copy >= 0) {
        fuzz::reportFd = copy;
    }
    fuzz::LimitFileSize();
    fuzz::MakeWork();
    const char* path = std::getenv("TARNEL_FUZZ_PLUGIN");
    if (!path || !*path) {
        path = TARNEL_PLUGIN_PATH;
    }
    std::string failure = fuzz::plugin.Load(path);
    if (!failure.empty()) {
        fuzz::Fail("cannot load %s: %s", path, failure.c_str());
    }
    fuzz::plugin.SetProcessDataProc(nullptr, fuzz::OnProgress);
    return 0;
}

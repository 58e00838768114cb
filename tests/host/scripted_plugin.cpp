// A stand-in plug-in for tests of how tarnel copes with what a plug-in
// reports: its members, and where its listing fails, come from the
// environment variable TARNEL_SCRIPTED_MEMBERS, entries separated by '|':
//   NAME=SIZE   a member (NAME may hold any byte but '|', '=' and NUL)
//   NAME=SIZE@MS  the same, whose extraction or test takes MS milliseconds
//               before it reports its SIZE bytes to the host's progress
//               callback
//   !CODE       ReadHeader returns CODE here instead of a member
//   ?CODE       the same, in the first opening of an archive only
//   ?NAME=SIZE  a member in the first opening only
//   ~MS         ReadHeader takes MS milliseconds more here
// A name of 260 bytes or more fills the header's field without a
// terminating zero. Extracting a member writes SIZE bytes of 'x' to the
// destination, or fails with the errno in TARNEL_SCRIPTED_EXTRACT_ERRNO when
// that is set (leaving errno as it is when it is empty); testing
// and skipping succeed, but extracting or testing in an archive opened for
// listing fails, as the interface allows. The archive file itself is never
// read. PackFiles and DeleteFiles are not supported, unless
// TARNEL_SCRIPTED_PACK_MESSAGE is set: then they show that message (none
// when empty) as the plug-in shows its message boxes on Linux and return
// success, changing nothing. Each opening of an archive shows the message in
// TARNEL_SCRIPTED_OPEN_MESSAGE, if set, the same way. ConfigurePacker returns
// the number in TARNEL_SCRIPTED_CONFIG (1 for OK, 2 for Cancel), or 0.
// PackSetDefaultParams writes the interface version and settings path it is
// given, as "HIGH.LOW PATH", to the file TARNEL_SCRIPTED_DEFAULTS names, if
// any.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "plugin/host_interface.h"

namespace {

struct Entry {
    std::string name;
    uint32_t size = 0;
    int code = kResultOk; // what ReadHeader returns for this entry
    int pause = 0;        // milliseconds its extraction takes
    int wait = 0;         // milliseconds the listing takes here (an entry of its own)
};

std::vector<Entry> entries;
size_t next = 0;
ProgressCallback progress = nullptr;
int archiveHandle = 0; // its address is the one archive handle
int openings = 0;      // archives opened so far
int openMode = kOpenList;

void ReadScript() {
    entries.clear();
    const char* script = std::getenv("TARNEL_SCRIPTED_MEMBERS");
    std::string text = script ? script : "";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('|', start);
        std::string item = text.substr(start, end == std::string::npos ? end : end - start);
        Entry entry;
        bool kept = true;
        if (!item.empty() && item[0] == '?') {
            kept = openings == 1;
            item[0] = '!';
            if (item.find('=') != std::string::npos) {
                item.erase(0, 1);
            }
        }
        if (!item.empty() && item[0] == '~') {
            entry.wait = std::atoi(item.c_str() + 1);
        } else if (!item.empty() && item[0] == '!') {
            entry.code = std::atoi(item.c_str() + 1);
        } else {
            size_t equals = item.rfind('=');
            entry.name = item.substr(0, equals);
            char* rest = nullptr;
            entry.size =
                equals == std::string::npos
                    ? 0
                    : static_cast<uint32_t>(std::strtoul(item.c_str() + equals + 1, &rest, 10));
            if (rest && *rest == '@') {
                entry.pause = std::atoi(rest + 1);
            }
        }
        if (kept) {
            entries.push_back(entry);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
}

// Takes the current member's milliseconds, if it has any, then reports its
// `bytes` to the host.
void TakeTime(size_t bytes) {
    if (next > 0 && entries[next - 1].pause > 0) {
        usleep(static_cast<useconds_t>(entries[next - 1].pause) * 1000);
        if (progress) {
            std::string name = entries[next - 1].name;
            progress(&name[0], static_cast<int>(bytes));
        }
    }
}

} // namespace

extern "C" {

TARNEL_EXPORT void* TARNEL_STDCALL OpenArchive(OpenRequest* request) {
    ++openings;
    openMode = request->openMode;
    if (const char* message = std::getenv("TARNEL_SCRIPTED_OPEN_MESSAGE")) {
        std::fprintf(stderr, "%s\n", message);
    }
    ReadScript();
    next = 0;
    progress = nullptr; // kept with each archive: the host hands it over after the open
    return &archiveHandle;
}

TARNEL_EXPORT int TARNEL_STDCALL ReadHeader(void*, EntryHeader* header) {
    for (; next < entries.size() && entries[next].wait > 0; ++next) {
        usleep(static_cast<useconds_t>(entries[next].wait) * 1000);
    }
    if (next >= entries.size()) {
        return kResultEndArchive;
    }
    const Entry& entry = entries[next++];
    if (entry.code != kResultOk) {
        return entry.code;
    }
    size_t length = std::min(entry.name.size(), sizeof header->fileName);
    std::memcpy(header->fileName, entry.name.data(), length);
    if (length < sizeof header->fileName) {
        header->fileName[length] = '\0';
    }
    header->packSize = entry.size;
    header->unpackSize = entry.size;
    return kResultOk;
}

TARNEL_EXPORT int TARNEL_STDCALL ProcessFile(void*, int operation, char* destPath, char* destName) {
    if (operation != kOpSkip && openMode != kOpenExtract) {
        return kResultNotSupported;
    }
    if (operation == kOpTest) {
        TakeTime(next > 0 ? entries[next - 1].size : 0);
    }
    if (operation != kOpExtract) {
        return kResultOk;
    }
    if (const char* error = std::getenv("TARNEL_SCRIPTED_EXTRACT_ERRNO")) {
        if (*error) {
            errno = std::atoi(error);
        }
        return kResultEWrite;
    }
    std::string path = destPath ? std::string(destPath) + destName : std::string(destName);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        return kResultECreate;
    }
    std::string content(next > 0 ? entries[next - 1].size : 0, 'x');
    bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    TakeTime(content.size());
    return std::fclose(file) == 0 && ok ? kResultOk : kResultEWrite;
}

TARNEL_EXPORT int TARNEL_STDCALL CloseArchive(void*) {
    return kResultOk;
}

TARNEL_EXPORT int TARNEL_STDCALL GetPackerCaps(void) {
    return kCapsMultiple;
}

TARNEL_EXPORT void TARNEL_STDCALL SetProcessDataProc(void*, ProgressCallback callback) {
    progress = callback;
}

TARNEL_EXPORT void TARNEL_STDCALL SetChangeVolProc(void*, ChangeVolumeCallback) {}

// What PackFiles and DeleteFiles do: show the message, or refuse.
int ShowPackMessage() {
    const char* message = std::getenv("TARNEL_SCRIPTED_PACK_MESSAGE");
    if (!message) {
        return kResultNotSupported;
    }
    if (*message) {
        std::fprintf(stderr, "Error: %s\n", message);
    }
    return kResultOk;
}

TARNEL_EXPORT int TARNEL_STDCALL PackFiles(char*, char*, char*, char*, int) {
    return ShowPackMessage();
}

TARNEL_EXPORT int TARNEL_STDCALL DeleteFiles(char*, char*) {
    return ShowPackMessage();
}

TARNEL_EXPORT void TARNEL_STDCALL PackSetDefaultParams(HostDefaults* defaults) {
    const char* record = std::getenv("TARNEL_SCRIPTED_DEFAULTS");
    if (FILE* file = record ? std::fopen(record, "w") : nullptr) {
        std::fprintf(file, "%u.%u %s", defaults->versionHigh, defaults->versionLow,
                     defaults->settingsPath);
        std::fclose(file);
    }
}

TARNEL_EXPORT int TARNEL_STDCALL ConfigurePacker(void*, void*) {
    const char* result = std::getenv("TARNEL_SCRIPTED_CONFIG");
    return result ? std::atoi(result) : 0;
}

} // extern "C"

// The host side of the fuzz targets: the built tarnel.wcx (with SFMpq.dll
// and whatever else lies beside it) loaded by path and driven through its
// exports as a file manager drives it, in a private folder of the process.
//
// The plug-in must survive any input: a failure is a result code or a
// message. What a host can see going wrong besides a crash or a hang is
// checked here, and stops the process (abort) with a message naming the
// broken promise: a record left unterminated, a listing without end, a
// failed update that changed the archive, a file that an extraction should
// have kept or removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "e2e/loaded_plugin.h"

namespace fuzz {

// The plug-in of this process, loaded by LLVMFuzzerInitialize (which the
// fuzz targets and the replay driver call before the first input).
LoadedPlugin& Plugin();

// Reports a broken promise of the plug-in, with printf-style text, and
// aborts. Reports go to the standard error the process started with, even
// when libFuzzer hides the plug-in's own messages.
[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Paths in the folder for one input, which is emptied at the start of
// every input (ClearRun; the folder itself for an empty name), and in a
// folder for what lives as long as the process (Kept).
std::string RunPath(const std::string& name);
std::string KeptPath(const std::string& name);
void ClearRun();

// Files on disk. WriteFile makes missing folders.
void WriteFile(const std::string& path, const void* data, size_t size);
void WriteFile(const std::string& path, const std::string& content);
bool ReadFile(const std::string& path, std::string* content);
bool Exists(const std::string& path);
void MakeFolder(const std::string& path);
// The names in `folder`, sorted; not recursive.
std::vector<std::string> FilesIn(const std::string& folder);

// PackSetDefaultParams with `path` (which need not exist).
void UseSettings(const std::string& path);

// A host name list: each name and its zero, then the closing zero.
std::string NameList(const std::vector<std::string>& names);

// What ReadHeader reported for an archive opened with OpenArchive.
struct Listing {
    bool opened = false;   // OpenArchive gave a handle
    bool complete = false; // ReadHeader ended with "no more members"
    std::vector<std::string> names;
};

// Opens `archive` in `mode` and calls `each(handle, index, name)` after every
// header; `each` makes the ProcessFile call that follows (Skip, Process).
// Checks every header the plug-in fills, and that the listing ends.
template <typename Each> Listing Walk(const std::string& archive, int mode, Each each);
Listing List(const std::string& archive);

void Skip(void* handle);
// Runs ProcessFile with `operation` on the member just listed, extracting to
// `dest` (none when empty); returns its result. Stops (through the progress callback) once a
// member has passed `byteCap` bytes, as a user stops a runaway extraction.
int Process(void* handle, int operation, const std::string& dest, uint64_t byteCap);

// The archive after an update the plug-in reported as failed: byte for byte
// what it was.
void CheckUnchanged(const std::string& archive, const std::string& before, const char* update);
// The archive after an update that succeeded: not much larger than before,
// and still listed to its end when it was before.
void CheckUpdated(const std::string& archive, size_t sizeBefore, bool listedBefore,
                  const char* update);
// Only `expected` (sorted) lies in `folder`: nothing a failed or finished
// update or extraction left behind.
void CheckOnlyFiles(const std::string& folder, const std::vector<std::string>& expected,
                    const char* after);

// Implementation of Walk.
bool BeginWalk(const std::string& archive, int mode, void** handle, EntryHeader** header);
bool NextHeader(void* handle, EntryHeader* header, size_t index, Listing* listing);
void EndWalk(void* handle, EntryHeader* header);

template <typename Each> Listing Walk(const std::string& archive, int mode, Each each) {
    Listing listing;
    void* handle = nullptr;
    EntryHeader* header = nullptr;
    if (!BeginWalk(archive, mode, &handle, &header)) {
        return listing;
    }
    listing.opened = true;
    for (size_t index = 0; NextHeader(handle, header, index, &listing); ++index) {
        each(handle, index, listing.names.back());
    }
    EndWalk(handle, header);
    return listing;
}

} // namespace fuzz

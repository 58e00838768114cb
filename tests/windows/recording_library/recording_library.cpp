// The recording SFMpq.dll: the 16 library entry points, each forwarding to
// the fake archive library (which records the call and answers from its
// script), and the Recorder* functions through which the test driver
// scripts the fake and reads its record.
#include "recording_library.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "fake_library/fake_archive_library.h"

namespace {

// The current directory while the library was being loaded.
char loadDirectory[MAX_PATH] = "";

uint32_t CopyOut(const std::string& text, char* buffer, uint32_t size) {
    if (buffer && size > 0) {
        size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<uint32_t>(text.size());
}

// Members from the environment: "name=content;name=content".
void AddMembersFromEnvironment() {
    char value[4096];
    DWORD length = GetEnvironmentVariableA(RECORDER_MEMBERS_VARIABLE, value, sizeof value);
    if (length == 0 || length >= sizeof value) {
        return;
    }
    std::string script(value, length);
    size_t start = 0;
    while (start <= script.size()) {
        size_t end = script.find(';', start);
        if (end == std::string::npos) {
            end = script.size();
        }
        std::string pair = script.substr(start, end - start);
        size_t equals = pair.find('=');
        if (equals != std::string::npos && equals > 0) {
            Fake.AddMember(pair.substr(0, equals), pair.substr(equals + 1));
        }
        start = end + 1;
    }
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        GetCurrentDirectoryA(sizeof loadDirectory, loadDirectory);
        Fake.Reset();
        AddMembersFromEnvironment();
    }
    return TRUE;
}

// ---- the library entry points the plug-in binds ---------------------------

extern "C" {

uint32_t WINAPI SFileSetLocale(uint32_t locale) {
    return ArchiveLibrary.SFileSetLocale(locale);
}

int WINAPI SFileOpenArchive(const char* path, uint32_t priority, uint32_t flags,
                            MpqHandle* archive) {
    return ArchiveLibrary.SFileOpenArchive(path, priority, flags, archive);
}

uint32_t WINAPI SFileGetFileInfo(MpqHandle handle, uint32_t code) {
    return ArchiveLibrary.SFileGetFileInfo(handle, code);
}

int WINAPI SFileListFiles(MpqHandle archive, const char* list, ListEntry* entries, uint32_t flag) {
    return ArchiveLibrary.SFileListFiles(archive, list, entries, flag);
}

int WINAPI SFileOpenFileEx(MpqHandle archive, const char* name, uint32_t scope, MpqHandle* member) {
    return ArchiveLibrary.SFileOpenFileEx(archive, name, scope, member);
}

uint32_t WINAPI SFileGetFileSize(MpqHandle member, uint32_t* high) {
    return ArchiveLibrary.SFileGetFileSize(member, high);
}

int WINAPI SFileReadFile(MpqHandle member, void* buffer, uint32_t count, uint32_t* read,
                         void* overlapped) {
    return ArchiveLibrary.SFileReadFile(member, buffer, count, read, overlapped);
}

int WINAPI SFileCloseFile(MpqHandle member) {
    return ArchiveLibrary.SFileCloseFile(member);
}

int WINAPI SFileCloseArchive(MpqHandle archive) {
    return ArchiveLibrary.SFileCloseArchive(archive);
}

MpqHandle WINAPI MpqOpenArchiveForUpdate(const char* path, uint32_t flags, uint32_t maxFiles) {
    return ArchiveLibrary.MpqOpenArchiveForUpdate(path, flags, maxFiles);
}

int WINAPI MpqAddFileToArchiveEx(MpqHandle update, const char* source, const char* name,
                                 uint32_t flags, uint32_t compression, uint32_t level) {
    return ArchiveLibrary.MpqAddFileToArchiveEx(update, source, name, flags, compression, level);
}

int WINAPI MpqAddWaveToArchive(MpqHandle update, const char* source, const char* name,
                               uint32_t flags, uint32_t quality) {
    return ArchiveLibrary.MpqAddWaveToArchive(update, source, name, flags, quality);
}

int WINAPI MpqDeleteFile(MpqHandle update, const char* name) {
    return ArchiveLibrary.MpqDeleteFile(update, name);
}

int WINAPI MpqSetFileLocale(MpqHandle update, const char* name, uint32_t oldLocale,
                            uint32_t newLocale) {
    return ArchiveLibrary.MpqSetFileLocale(update, name, oldLocale, newLocale);
}

int WINAPI MpqCloseUpdatedArchive(MpqHandle update, uint32_t reserved) {
    return ArchiveLibrary.MpqCloseUpdatedArchive(update, reserved);
}

int WINAPI SFMpqDestroy(void) {
    return ArchiveLibrary.SFMpqDestroy();
}

// ---- scripting and reading the record ----------------------------------

void RecorderReset(void) {
    Fake.Reset();
}

void RecorderAddMember(const char* name, const char* data, uint32_t size, uint32_t compressedSize) {
    Fake.AddMember(name, std::string(data, size), compressedSize);
}

void RecorderAddEmptySlot(void) {
    ListEntry empty = {};
    std::strcpy(empty.name, "(empty slot)");
    Fake.listing.push_back(empty);
    if (Fake.slotCount < Fake.listing.size()) {
        Fake.slotCount = static_cast<uint32_t>(Fake.listing.size());
    }
}

int RecorderSet(const char* key, int64_t value) {
    std::string k = key;
    uint32_t u = static_cast<uint32_t>(value);
    if (k == "openArchiveSucceeds") {
        Fake.openArchiveSucceeds = value != 0;
    } else if (k == "slotCount") {
        Fake.slotCount = u;
    } else if (k == "maxBytesPerRead") {
        Fake.maxBytesPerRead = u;
    } else if (k == "failReadAt") {
        Fake.failReadAt = static_cast<int>(value);
    } else if (k == "zeroReadAt") {
        Fake.zeroReadAt = static_cast<int>(value);
    } else if (k == "updateHandle") {
        Fake.updateHandle = reinterpret_cast<MpqHandle>(static_cast<intptr_t>(value));
    } else if (k == "updateOpenError") {
        Fake.updateOpenError = u;
    } else if (k == "closeUpdatedResult") {
        Fake.closeUpdatedResult = static_cast<int>(value);
    } else if (k == "closeUpdatedError") {
        Fake.closeUpdatedError = u;
    } else {
        return 0;
    }
    return 1;
}

int RecorderSetResult(const char* kind, const char* name, int64_t value) {
    std::string k = kind;
    if (k == "add") {
        Fake.addResult[name] = static_cast<int>(value);
    } else if (k == "delete") {
        Fake.deleteResult[name] = static_cast<int>(value);
    } else if (k == "size") {
        Fake.sizeOverride[name] = static_cast<uint32_t>(value);
    } else {
        return 0;
    }
    return 1;
}

int64_t RecorderGet(const char* key) {
    std::string k = key;
    if (k == "openMembers") {
        return Fake.openMembers;
    }
    if (k == "openArchives") {
        return Fake.openArchives;
    }
    if (k == "readCount") {
        return Fake.readCount;
    }
    if (k == "callCount") {
        return static_cast<int64_t>(Fake.calls.size());
    }
    return -1;
}

uint32_t RecorderCalls(char* buffer, uint32_t size) {
    std::string text;
    for (const std::string& call : Fake.calls) {
        text += call;
        text += '\n';
    }
    return CopyOut(text, buffer, size);
}

uint32_t RecorderLoadDirectory(char* buffer, uint32_t size) {
    return CopyOut(loadDirectory, buffer, size);
}

} // extern "C"

#include "fake_archive_library.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

FakeArchiveLibrary Fake;

namespace {

struct OpenMember {
    std::string name;
    size_t position;
};
std::vector<OpenMember> openMemberTable;

std::string HandleText(MpqHandle handle) {
    intptr_t value = reinterpret_cast<intptr_t>(handle);
    if (handle == FAKE_ARCHIVE_HANDLE) {
        return "archive";
    }
    if (value >= 0x2000 && value < 0x3000) {
        return "member";
    }
    if (handle == Fake.updateHandle && value != 0 && value != -1) {
        return "update";
    }
    return value == 0 ? "null" : std::to_string(value);
}

std::string Text(const char* s) {
    return s ? std::string(s) : std::string("<null>");
}

void Record(const std::string& call) {
    Fake.calls.push_back(call);
    if (Fake.onCall) {
        Fake.onCall(call);
    }
}

OpenMember* MemberOf(MpqHandle handle) {
    intptr_t index = reinterpret_cast<intptr_t>(handle) - 0x2000;
    if (index < 0 || static_cast<size_t>(index) >= openMemberTable.size()) {
        return nullptr;
    }
    return &openMemberTable[static_cast<size_t>(index)];
}

uint32_t TARNEL_STDCALL FakeSetLocale(uint32_t locale) {
    Record("SFileSetLocale(" + std::to_string(locale) + ")");
    return 0;
}

int TARNEL_STDCALL FakeOpenArchive(const char* path, uint32_t priority, uint32_t flags,
                                   MpqHandle* archive) {
    Record("SFileOpenArchive(" + Text(path) + ", " + std::to_string(priority) + ", " +
           std::to_string(flags) + ")");
    if (!Fake.openArchiveSucceeds) {
        return 0;
    }
    *archive = FAKE_ARCHIVE_HANDLE;
    ++Fake.openArchives;
    return 1;
}

uint32_t TARNEL_STDCALL FakeGetFileInfo(MpqHandle handle, uint32_t code) {
    Record("SFileGetFileInfo(" + HandleText(handle) + ", " + std::to_string(code) + ")");
    return Fake.slotCount;
}

int TARNEL_STDCALL FakeListFiles(MpqHandle archive, const char* list, ListEntry* entries,
                                 uint32_t flag) {
    Record("SFileListFiles(" + HandleText(archive) + ", " + Text(list) + ", " +
           std::to_string(flag) + ")");
    size_t n = std::min<size_t>(Fake.listing.size(), Fake.slotCount);
    for (size_t i = 0; i < n; ++i) {
        entries[i] = Fake.listing[i];
    }
    return Fake.listFilesResult;
}

int TARNEL_STDCALL FakeOpenFileEx(MpqHandle archive, const char* name, uint32_t scope,
                                  MpqHandle* member) {
    Record("SFileOpenFileEx(" + HandleText(archive) + ", " + Text(name) + ", " +
           std::to_string(scope) + ")");
    if (!name || Fake.members.find(name) == Fake.members.end()) {
        return 0;
    }
    openMemberTable.push_back({name, 0});
    *member =
        reinterpret_cast<MpqHandle>(static_cast<intptr_t>(0x2000 + openMemberTable.size() - 1));
    ++Fake.openMembers;
    return 1;
}

uint32_t TARNEL_STDCALL FakeGetFileSize(MpqHandle member, uint32_t* high) {
    Record("SFileGetFileSize(" + HandleText(member) + ", " + (high ? "ptr" : "null") + ")");
    OpenMember* open = MemberOf(member);
    if (!open) {
        return 0xFFFFFFFFu;
    }
    auto over = Fake.sizeOverride.find(open->name);
    if (over != Fake.sizeOverride.end()) {
        return over->second;
    }
    return static_cast<uint32_t>(Fake.members[open->name].size());
}

int TARNEL_STDCALL FakeReadFile(MpqHandle member, void* buffer, uint32_t count, uint32_t* read,
                                void* overlapped) {
    Record("SFileReadFile(" + HandleText(member) + ", " + std::to_string(count) + ", " +
           (overlapped ? "ptr" : "null") + ")");
    ++Fake.readCount;
    Fake.readSizes.push_back(count);
    if (read) {
        *read = 0;
    }
    OpenMember* open = MemberOf(member);
    if (!open || Fake.readCount == Fake.failReadAt) {
        return 0;
    }
    if (Fake.readCount == Fake.zeroReadAt) {
        return 1;
    }
    const std::string& data = Fake.members[open->name];
    size_t left = data.size() > open->position ? data.size() - open->position : 0;
    size_t n = std::min<size_t>({left, count, Fake.maxBytesPerRead});
    std::memcpy(buffer, data.data() + open->position, n);
    open->position += n;
    if (read) {
        *read = static_cast<uint32_t>(n);
    }
    return 1;
}

int TARNEL_STDCALL FakeCloseFile(MpqHandle member) {
    Record("SFileCloseFile(" + HandleText(member) + ")");
    --Fake.openMembers;
    return 1;
}

int TARNEL_STDCALL FakeCloseArchive(MpqHandle archive) {
    Record("SFileCloseArchive(" + HandleText(archive) + ")");
    --Fake.openArchives;
    return 1;
}

MpqHandle TARNEL_STDCALL FakeOpenForUpdate(const char* path, uint32_t flags, uint32_t maxFiles) {
    Record("MpqOpenArchiveForUpdate(" + Text(path) + ", " + std::to_string(flags) + ", " +
           std::to_string(maxFiles) + ")");
    intptr_t value = reinterpret_cast<intptr_t>(Fake.updateHandle);
    if (value == 0 || value == -1) {
        PlatformSetLastError(Fake.updateOpenError);
    }
    return Fake.updateHandle;
}

int ResultFor(const std::map<std::string, int>& results, const char* name) {
    auto found = results.find(Text(name));
    return found == results.end() ? 1 : found->second;
}

int TARNEL_STDCALL FakeAddFile(MpqHandle update, const char* source, const char* name,
                               uint32_t flags, uint32_t type, uint32_t level) {
    Record("MpqAddFileToArchiveEx(" + HandleText(update) + ", " + Text(source) + ", " + Text(name) +
           ", " + std::to_string(flags) + ", " + std::to_string(type) + ", " +
           std::to_string(level) + ")");
    return ResultFor(Fake.addResult, name);
}

int TARNEL_STDCALL FakeAddWave(MpqHandle update, const char* source, const char* name,
                               uint32_t flags, uint32_t quality) {
    Record("MpqAddWaveToArchive(" + HandleText(update) + ", " + Text(source) + ", " + Text(name) +
           ", " + std::to_string(flags) + ", " + std::to_string(quality) + ")");
    return ResultFor(Fake.addResult, name);
}

int TARNEL_STDCALL FakeDeleteFile(MpqHandle update, const char* name) {
    Record("MpqDeleteFile(" + HandleText(update) + ", " + Text(name) + ")");
    return ResultFor(Fake.deleteResult, name);
}

int TARNEL_STDCALL FakeSetFileLocale(MpqHandle update, const char* name, uint32_t oldLocale,
                                     uint32_t newLocale) {
    Record("MpqSetFileLocale(" + HandleText(update) + ", " + Text(name) + ", " +
           std::to_string(oldLocale) + ", " + std::to_string(newLocale) + ")");
    return 1;
}

int TARNEL_STDCALL FakeCloseUpdated(MpqHandle update, uint32_t reserved) {
    Record("MpqCloseUpdatedArchive(" + HandleText(update) + ", " + std::to_string(reserved) + ")");
    if (!Fake.closeUpdatedResult) {
        PlatformSetLastError(Fake.closeUpdatedError);
    }
    return Fake.closeUpdatedResult;
}

int TARNEL_STDCALL FakeDestroy(void) {
    Record("SFMpqDestroy()");
    return 1;
}

} // namespace

void FakeArchiveLibrary::Bind() {
    ArchiveLibraryRecord& l = ArchiveLibrary;
    l.module = reinterpret_cast<void*>(static_cast<intptr_t>(0x10));
    l.SFileSetLocale = FakeSetLocale;
    l.SFileOpenArchive = FakeOpenArchive;
    l.SFileGetFileInfo = FakeGetFileInfo;
    l.SFileListFiles = FakeListFiles;
    l.SFileOpenFileEx = FakeOpenFileEx;
    l.SFileGetFileSize = FakeGetFileSize;
    l.SFileReadFile = FakeReadFile;
    l.SFileCloseFile = FakeCloseFile;
    l.SFileCloseArchive = FakeCloseArchive;
    l.MpqOpenArchiveForUpdate = FakeOpenForUpdate;
    l.MpqAddFileToArchiveEx = FakeAddFile;
    l.MpqAddWaveToArchive = FakeAddWave;
    l.MpqDeleteFile = FakeDeleteFile;
    l.MpqSetFileLocale = FakeSetFileLocale;
    l.MpqCloseUpdatedArchive = FakeCloseUpdated;
    l.SFMpqDestroy = FakeDestroy;
}

void FakeArchiveLibrary::Reset() {
    *this = FakeArchiveLibrary();
    openMemberTable.clear();
    Bind();
}

void FakeArchiveLibrary::AddMember(const std::string& name, const std::string& content,
                                   uint32_t compressedSize) {
    members[name] = content;
    ListEntry entry = {};
    entry.exists = 1;
    entry.compressedSize = compressedSize ? compressedSize : static_cast<uint32_t>(content.size());
    entry.fullSize = static_cast<uint32_t>(content.size());
    std::strncpy(entry.name, name.c_str(), sizeof entry.name - 1);
    listing.push_back(entry);
    if (slotCount < listing.size()) {
        slotCount = static_cast<uint32_t>(listing.size());
    }
}

std::vector<std::string> FakeArchiveLibrary::CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& call : calls) {
        if (call.compare(0, prefix.size(), prefix) == 0) {
            found.push_back(call);
        }
    }
    return found;
}

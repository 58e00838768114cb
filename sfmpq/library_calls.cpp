#include "sfmpq/library_calls.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system_calls.h"
#include "sfmpq/archive_header.h"
#include "sfmpq/atomic_file.h"
#include "sfmpq/engine_client.h"
#include "sfmpq/file_checks.h"
#include "sfmpq/list_records.h"
#include "sfmpq/member_names.h"
#include "sfmpq/stream_reader.h"

namespace sfmpq {
namespace client {

namespace {

using engine::Op;
using engine::Reply;
using engine::Request;

// What an update may write beyond the data it is given: tables, sector
// offsets, the name list, and a compaction's rewrite of the tables. A write
// past the limit fails in the engine (EFBIG), so a hostile archive cannot
// make an update grow without end.
constexpr uint64_t kWriteMargin = 256ull << 20;
// What one added file may write beyond its data and an eighth of it.
constexpr uint64_t kAddOverhead = 4096;

struct Archive;

struct Member {
    std::shared_ptr<Archive> owner;
    bool streamed = false;
    StreamedMember stream; // when streamed
    uint64_t engineId = 0; // otherwise: the engine's member
};

// One archive handle: its engine, and for an update the temporary copy.
struct Archive {
    std::mutex lock; // held while the engine is called
    EngineConnection engine;
    std::string path; // a read-only archive's path
    bool update = false;
    AtomicFile file;
    // An update: the most its copy can hold by now, from the copy's size and
    // what was added since (data is written over the old tables at the end,
    // so the copy grows by no more than that).
    uint64_t sizeBound = 0;
    std::set<Member*> members;
};

std::atomic<uint32_t> currentLocale{0};

std::mutex registryLock;
std::set<Archive*> archives;              // the handles handed out
std::set<Member*> members;                // the member handles handed out
std::set<std::shared_ptr<Archive>> owned; // keeps each archive alive

std::shared_ptr<Archive> FindArchive(void* handle, bool update) {
    std::lock_guard<std::mutex> guard(registryLock);
    Archive* archive = static_cast<Archive*>(handle);
    if (!handle || !archives.count(archive) || archive->update != update) {
        return nullptr;
    }
    for (const std::shared_ptr<Archive>& held : owned) {
        if (held.get() == archive) {
            return held;
        }
    }
    return nullptr;
}

std::shared_ptr<Archive> FindAnyArchive(void* handle) {
    std::shared_ptr<Archive> archive = FindArchive(handle, false);
    return archive ? archive : FindArchive(handle, true);
}

Member* FindMember(void* handle, std::shared_ptr<Archive>* owner) {
    std::lock_guard<std::mutex> guard(registryLock);
    Member* member = static_cast<Member*>(handle);
    if (!handle || !members.count(member)) {
        return nullptr;
    }
    *owner = member->owner;
    return member;
}

// Whether a member found before its archive's lock was taken is still open.
bool StillOpen(Member* member) {
    std::lock_guard<std::mutex> guard(registryLock);
    return members.count(member) != 0;
}

void Register(const std::shared_ptr<Archive>& archive) {
    std::lock_guard<std::mutex> guard(registryLock);
    archives.insert(archive.get());
    owned.insert(archive);
}

// Takes the handle out of the registry; false when another call did first.
bool Unregister(Archive* archive) {
    std::lock_guard<std::mutex> guard(registryLock);
    if (!archives.erase(archive)) {
        return false;
    }
    for (Member* member : archive->members) {
        members.erase(member);
        delete member;
    }
    archive->members.clear();
    for (auto held = owned.begin(); held != owned.end(); ++held) {
        if (held->get() == archive) {
            owned.erase(held);
            break;
        }
    }
    return true;
}

// Calls the archive's engine in the current locale (with `meanwhile` as
// CallEngineMeanwhile does it).
int Call(Archive* archive, Request* request, Reply* reply,
         void (*meanwhile)(void* context) = nullptr, void* context = nullptr) {
    request->locale = currentLocale.load();
    return CallEngineMeanwhile(&archive->engine, request, reply, meanwhile, context);
}

int Fail(int error) {
    errno = error;
    return 0;
}

// Discards an update's copy (and what a compaction in a dead engine left).
void Discard(Archive* archive) {
    if (!archive->file.temp.empty()) {
        SystemCalls.unlink((archive->file.temp + ".tmp").c_str());
    }
    AbandonAtomicUpdate(&archive->file);
}

uint64_t FileSize(const std::string& path) {
    struct stat info;
    return SystemCalls.stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

// Archives of every format are updated in their own format, also behind a
// user-data header; a file without a believable header is not. 0 or ENOEXEC.
int CheckUpdatable(const char* path) {
    ArchiveHeaderInfo header;
    int error = CheckArchiveHeader(path, &header);
    if (error) {
        return error;
    }
    return header.found ? 0 : ENOEXEC;
}

} // namespace

uint32_t SetLocale(uint32_t locale) {
    // An archive keeps 16 bits of a locale; the engine uses just those.
    currentLocale.store(locale & 0xFFFF);
    return locale;
}

int OpenArchive(const char* path, MpqHandle* handle) {
    if (!handle) {
        return Fail(EINVAL);
    }
    *handle = nullptr;
    if (int error = CheckArchiveFile(path)) {
        return Fail(error);
    }
    if (std::strlen(path) >= engine::kMaxPath) {
        return Fail(ENAMETOOLONG);
    }
    auto archive = std::make_shared<Archive>();
    if (int error = StartEngine(EngineKind::Reader, &archive->engine)) {
        return Fail(error);
    }
    Request request = NewRequest(Op::OpenArchive);
    Reply reply;
    SetField(request.path, sizeof request.path, path);
    if (!Call(archive.get(), &request, &reply)) {
        int error = errno;
        StopEngine(&archive->engine);
        return Fail(error);
    }
    archive->path = path;
    Register(archive);
    *handle = archive.get();
    return 1;
}

int CloseArchive(MpqHandle handle) {
    std::shared_ptr<Archive> archive = FindArchive(handle, false);
    if (!archive) {
        return FindArchive(handle, true) ? CloseUpdate(handle) : Fail(EBADF);
    }
    std::lock_guard<std::mutex> guard(archive->lock);
    if (!Unregister(archive.get())) {
        return Fail(EBADF);
    }
    StopEngine(&archive->engine);
    return 1;
}

uint32_t GetArchiveInfo(MpqHandle handle, uint32_t infoCode) {
    std::shared_ptr<Archive> archive = FindAnyArchive(handle);
    if (!archive) {
        return Fail(EBADF);
    }
    if (infoCode != kInfoHashTableSize) {
        return Fail(EINVAL);
    }
    std::lock_guard<std::mutex> guard(archive->lock);
    Request request = NewRequest(Op::GetInfo);
    Reply reply;
    request.value = infoCode;
    return Call(archive.get(), &request, &reply) ? reply.value : 0;
}

namespace {

struct ClearedEntries {
    ListEntry* entries;
    uint64_t count;
    const SharedArea* area; // the name list, sent, in its staging area
    uint64_t listBytes;
};

// While the engine lists: this side's pages of the name list it was sent
// are given back (the engine has its own), and the entries are cleared.
void ClearEntries(void* context) {
    const ClearedEntries* clearing = static_cast<const ClearedEntries*>(context);
    ReleaseStaging(clearing->area, 0, clearing->listBytes);
    std::memset(clearing->entries, 0, clearing->count * sizeof(ListEntry));
}

// A listing's records are read a window at a time: the window's pages are
// mapped in one step, all before it given back (pages given back already
// cost the system a look at an empty page table). The records of a large
// table are megabytes beside the caller's entries, which would otherwise
// hold all of them at once in the host's memory.
void MoveRecordWindow(size_t consumed, void* context) {
    const SharedArea* area = static_cast<const SharedArea*>(context);
    ReleaseStaging(area, 0, consumed);
    PrefaultStaging(area, consumed, kSpreadStep);
}

// One listing by the archive's engine, into `entries`.
int ListOnce(Archive* archive, const char* list, ListEntry* entries, uint32_t listFlag,
             bool guessExtensions) {
    EngineConnection* engine = &archive->engine;
    Request request = NewRequest(Op::GetInfo);
    Reply reply;
    request.value = kInfoHashTableSize;
    if (!Call(archive, &request, &reply)) {
        return 0;
    }
    const uint64_t count = reply.value;
    const uint64_t listLength = list ? std::strlen(list) : 0;
    if (listLength >= UINT32_MAX) {
        return Fail(E2BIG);
    }
    uint64_t needed = count * kMaxListRecord;
    if (needed < listLength + 1) {
        needed = listLength + 1;
    }
    if (int error = GrowStaging(&engine->area, needed)) {
        return Fail(error);
    }
    if (list) {
        std::memcpy(engine->area.staging.base, list, listLength + 1);
    }
    request = NewRequest(Op::List);
    request.flags = listFlag;
    request.value = list != nullptr;
    request.value2 = !guessExtensions;
    request.stagingBytes = static_cast<uint32_t>(listLength);
    ResetStream(engine);
    ReleaseRing(&engine->area);
    engine->listed.Clear();
    // The entries are cleared while the engine lists: for a large table that
    // is most of this side's work before the records come (the memory is
    // usually fresh, and the system clears each of its pages first).
    ClearedEntries clearing = {entries, count, &engine->area, list ? listLength + 1 : 0};
    if (!Call(archive, &request, &reply, ClearEntries, &clearing)) {
        return 0;
    }
    PrefaultStaging(&engine->area, 0, kSpreadStep);
    // The work-ahead stream follows the records' order.
    bool spread = reply.value <= engine->area.staging.size &&
                  SpreadListRecords(engine->area.staging.base, reply.value, entries,
                                    static_cast<uint32_t>(count), &engine->listed, true,
                                    MoveRecordWindow, &engine->area);
    ShrinkStaging(&engine->area);
    if (!spread) {
        engine->listed.Clear();
        return Fail(EIO);
    }
    return 1;
}

// A new engine for a read-only archive whose engine died, with the archive
// opened again. 0 or an errno value; then the handle has no engine, and its
// calls fail with EIO as after the death (a later listing tries again).
int ReplaceEngine(Archive* archive) {
    StopEngine(&archive->engine);
    archive->engine = EngineConnection();
    int error = StartEngine(EngineKind::Reader, &archive->engine);
    if (!error) {
        Request request = NewRequest(Op::OpenArchive);
        Reply reply;
        SetField(request.path, sizeof request.path, archive->path.c_str());
        error = Call(archive, &request, &reply) ? 0 : errno;
    }
    if (error) {
        StopEngine(&archive->engine);
        archive->engine.failure = EIO;
    }
    return error;
}

} // namespace

int ListMembers(MpqHandle handle, const char* list, ListEntry* entries, uint32_t listFlag) {
    std::shared_ptr<Archive> archive = FindAnyArchive(handle);
    if (!archive) {
        return Fail(EBADF);
    }
    if (!entries) {
        return Fail(EINVAL);
    }
    std::lock_guard<std::mutex> guard(archive->lock);
    if (ListOnce(archive.get(), list, entries, listFlag, true)) {
        return 1;
    }
    // Guessing an extension unpacks the first bytes of unnamed members, which
    // can end an engine on a damaged archive. The names and sizes do not
    // depend on it: a fresh engine lists again without guessing.
    bool engineDied = archive->engine.failure != 0;
    if (!engineDied || archive->update || archive->members.size() != 0) {
        return 0;
    }
    if (int error = ReplaceEngine(archive.get())) {
        return Fail(error);
    }
    return ListOnce(archive.get(), list, entries, listFlag, false);
}

int OpenMember(MpqHandle handle, const char* name, MpqHandle* memberHandle) {
    if (!memberHandle) {
        return Fail(EINVAL);
    }
    *memberHandle = nullptr;
    std::shared_ptr<Archive> archive = FindAnyArchive(handle);
    if (!archive) {
        return Fail(EBADF);
    }
    if (!name || !*name) {
        return Fail(ENOENT);
    }
    if (std::strlen(name) > kMaxMemberName) {
        return Fail(ENAMETOOLONG);
    }
    std::lock_guard<std::mutex> guard(archive->lock);
    std::unique_ptr<Member> member(new Member);
    member->owner = archive;
    EngineConnection* engine = &archive->engine;
    if (!archive->update && !engine->streamedOpen) {
        // The common case: members read one after the other.
        if (!TakeStreamedMember(engine, name, currentLocale.load(), &member->stream)) {
            return 0;
        }
        member->streamed = true;
        engine->streamedOpen = true;
    } else {
        Request request = NewRequest(Op::OpenMember);
        Reply reply;
        SetField(request.name, sizeof request.name, name);
        if (!Call(archive.get(), &request, &reply)) {
            return 0;
        }
        member->engineId = reply.member;
    }
    std::lock_guard<std::mutex> registry(registryLock);
    archive->members.insert(member.get());
    members.insert(member.get());
    *memberHandle = member.release();
    return 1;
}

uint32_t GetMemberSize(MpqHandle handle, uint32_t* high) {
    std::shared_ptr<Archive> archive;
    Member* member = FindMember(handle, &archive);
    if (!member) {
        errno = EBADF;
        return kFileSizeUnknown;
    }
    std::lock_guard<std::mutex> guard(archive->lock);
    if (!StillOpen(member)) {
        errno = EBADF;
        return kFileSizeUnknown;
    }
    uint64_t size;
    if (member->streamed) {
        size = member->stream.size;
    } else {
        Request request = NewRequest(Op::MemberSize);
        Reply reply;
        request.member = member->engineId;
        if (!Call(archive.get(), &request, &reply)) {
            return kFileSizeUnknown;
        }
        size = (uint64_t(reply.high) << 32) | reply.value;
    }
    if (high) {
        *high = static_cast<uint32_t>(size >> 32);
    }
    return static_cast<uint32_t>(size);
}

int ReadMember(MpqHandle handle, void* buffer, uint32_t count, uint32_t* read) {
    if (read) {
        *read = 0;
    }
    std::shared_ptr<Archive> archive;
    Member* member = FindMember(handle, &archive);
    if (!member) {
        return Fail(EBADF);
    }
    if (!buffer && count != 0) {
        return Fail(EINVAL);
    }
    std::lock_guard<std::mutex> guard(archive->lock);
    if (!StillOpen(member)) {
        return Fail(EBADF);
    }
    uint32_t got = 0;
    int ok;
    if (member->streamed) {
        ok = ReadStreamedMember(&archive->engine, &member->stream, buffer, count, &got);
    } else {
        ok = 1;
        // Through the staging area, in pieces it holds.
        EngineConnection* engine = &archive->engine;
        while (ok && got < count) {
            uint32_t piece = count - got;
            if (piece > (16u << 20)) {
                piece = 16u << 20;
            }
            if (int error = engine->failure ? engine->failure : GrowStaging(&engine->area, piece)) {
                ok = Fail(error);
                break;
            }
            Request request = NewRequest(Op::ReadMember);
            Reply reply;
            request.member = member->engineId;
            request.value = piece;
            ok = Call(archive.get(), &request, &reply);
            uint32_t delivered = reply.value <= piece ? reply.value : 0;
            if (!ok && engine->failure) {
                delivered = 0;
            }
            std::memcpy(static_cast<unsigned char*>(buffer) + got, engine->area.staging.base,
                        delivered);
            got += delivered;
            if (delivered < piece) {
                break;
            }
        }
    }
    if (read) {
        *read = got;
    }
    return ok;
}

int CloseMember(MpqHandle handle) {
    std::shared_ptr<Archive> archive;
    Member* member = FindMember(handle, &archive);
    if (!member) {
        return Fail(EBADF);
    }
    std::lock_guard<std::mutex> guard(archive->lock);
    {
        std::lock_guard<std::mutex> registry(registryLock);
        if (!members.erase(member)) {
            return Fail(EBADF);
        }
        archive->members.erase(member);
    }
    if (member->streamed) {
        // What is left of it in the ring is passed over at the next open.
        archive->engine.streamedOpen = false;
    } else if (!archive->engine.failure) {
        Request request = NewRequest(Op::CloseMember);
        Reply reply;
        request.member = member->engineId;
        Call(archive.get(), &request, &reply);
    }
    delete member;
    return 1;
}

namespace {

// Whether `path` may be opened for an update with `flags`: 0, with *exists
// telling whether there is an archive to update, or an errno value.
int CheckUpdateTarget(const char* path, uint32_t flags, bool* exists) {
    if (!path || !*path) {
        return ENOENT;
    }
    if (std::strlen(path) >= engine::kMaxPath - 32) {
        return ENAMETOOLONG;
    }
    struct stat info;
    *exists = SystemCalls.stat(path, &info) == 0;
    if (!*exists && errno != ENOENT) {
        return errno;
    }
    bool mayOpen = (flags & (kUpdateOpenExisting | kUpdateOpenOrCreate)) != 0;
    bool mayCreate = (flags & kUpdateOpenExisting) == 0 || (flags & kUpdateOpenOrCreate) != 0;
    if (*exists && !mayOpen) {
        return EEXIST;
    }
    if (!*exists && !mayCreate) {
        return ENOENT;
    }
    if (!*exists) {
        return 0;
    }
    int error = CheckRegularFile(path);
    return error ? error : CheckUpdatable(path);
}

// Has the update's engine open a copy of the archive at `path`, or a new
// archive when it does not exist: the archive is probed, copied, and the
// copy checked again, since it is what the engine is given. 0, or an errno
// value with no copy left behind.
int OpenCopyInEngine(Archive* archive, const char* path, bool exists, uint32_t flags,
                     uint32_t maxFiles) {
    Request request = NewRequest(Op::Probe);
    Reply reply;
    if (exists) {
        // Only an archive is copied.
        SetField(request.path, sizeof request.path, path);
        if (!Call(archive, &request, &reply)) {
            return errno;
        }
    }
    if (int error = BeginAtomicUpdate(path, exists, &archive->file)) {
        return error;
    }
    int error = exists ? CheckUpdatable(archive->file.temp.c_str()) : 0;
    if (!error) {
        request = NewRequest(Op::OpenForUpdate);
        SetField(request.path, sizeof request.path, archive->file.temp.c_str());
        request.exists = exists;
        request.flags = flags;
        request.value = maxFiles;
        archive->sizeBound = FileSize(archive->file.temp);
        request.fileSizeLimit = archive->sizeBound + kWriteMargin;
        error = Call(archive, &request, &reply) ? 0 : errno;
    }
    if (error) {
        Discard(archive);
    }
    return error;
}

} // namespace

MpqHandle OpenForUpdate(const char* path, uint32_t flags, uint32_t maxFiles) {
    bool exists = false;
    if (int error = CheckUpdateTarget(path, flags, &exists)) {
        errno = error;
        return nullptr;
    }
    auto archive = std::make_shared<Archive>();
    archive->update = true;
    if (int error = StartEngine(EngineKind::Updater, &archive->engine)) {
        errno = error;
        return nullptr;
    }
    if (int error = OpenCopyInEngine(archive.get(), path, exists, flags, maxFiles)) {
        StopEngine(&archive->engine);
        errno = error;
        return nullptr;
    }
    Register(archive);
    return archive.get();
}

namespace {

int Add(Op op, MpqHandle handle, const char* source, const char* name, uint32_t flags,
        uint32_t value) {
    std::shared_ptr<Archive> archive = FindArchive(handle, true);
    if (!archive) {
        return Fail(EBADF);
    }
    if (!source || !name || !*name) {
        return Fail(EINVAL);
    }
    if (std::strlen(name) > kMaxMemberName) {
        return Fail(ENAMETOOLONG);
    }
    if (std::strlen(source) >= engine::kMaxPath) {
        return Fail(ENAMETOOLONG);
    }
    // The engine opens the file next, which says whether it may be read.
    uint64_t size = 0;
    if (int error = CheckRegularFileType(source, &size)) {
        return Fail(error);
    }
    std::lock_guard<std::mutex> guard(archive->lock);
    Request request = NewRequest(op);
    Reply reply;
    SetField(request.path, sizeof request.path, source);
    SetField(request.name, sizeof request.name, name);
    request.flags = flags;
    request.value = value;
    // Packed data may come out slightly larger than the file, with its
    // sector offsets and checksums.
    archive->sizeBound += size + size / 8 + kAddOverhead;
    request.fileSizeLimit = archive->sizeBound + kWriteMargin;
    return Call(archive.get(), &request, &reply);
}

int NamedChange(Op op, MpqHandle handle, const char* name, uint32_t value, uint32_t value2) {
    std::shared_ptr<Archive> archive = FindArchive(handle, true);
    if (!archive) {
        return Fail(EBADF);
    }
    if (!name || !*name || std::strlen(name) > kMaxMemberName) {
        return Fail(ENOENT);
    }
    std::lock_guard<std::mutex> guard(archive->lock);
    Request request = NewRequest(op);
    Reply reply;
    SetField(request.name, sizeof request.name, name);
    request.value = value;
    request.value2 = value2;
    request.fileSizeLimit = archive->sizeBound + kWriteMargin;
    return Call(archive.get(), &request, &reply);
}

} // namespace

int AddFile(MpqHandle handle, const char* source, const char* name, uint32_t flags,
            uint32_t compression) {
    return Add(Op::AddFile, handle, source, name, flags, compression);
}

int AddWave(MpqHandle handle, const char* source, const char* name, uint32_t flags,
            uint32_t quality) {
    return Add(Op::AddWave, handle, source, name, flags, quality);
}

int DeleteMember(MpqHandle handle, const char* name) {
    return NamedChange(Op::DeleteMember, handle, name, 0, 0);
}

int SetMemberLocale(MpqHandle handle, const char* name, uint32_t oldLocale, uint32_t newLocale) {
    return NamedChange(Op::SetMemberLocale, handle, name, oldLocale, newLocale);
}

int CloseUpdate(MpqHandle handle) {
    std::shared_ptr<Archive> archive = FindArchive(handle, true);
    if (!archive) {
        return Fail(EBADF);
    }
    std::lock_guard<std::mutex> guard(archive->lock);
    if (!Unregister(archive.get())) {
        return Fail(EBADF);
    }
    Request request = NewRequest(Op::FinishUpdate);
    Reply reply;
    request.fileSizeLimit = FileSize(archive->file.temp) + kWriteMargin;
    int result = Call(archive.get(), &request, &reply) ? static_cast<int>(reply.value) : 0;
    int error = errno;
    if (result == 2) {
        // StormLib can write a damaged archive's copy into one that no longer
        // opens: what replaces the original must open again, whole.
        request = NewRequest(Op::VerifyWritten);
        SetField(request.path, sizeof request.path, archive->file.temp.c_str());
        if (!Call(archive.get(), &request, &reply)) {
            result = 0;
            error = errno;
        }
    }
    StopEngine(&archive->engine);
    if (result == 2) {
        error = CommitAtomicUpdate(&archive->file);
        return error ? Fail(error) : 1;
    }
    // Nothing changed, or the copy is not to be trusted: the original stays.
    Discard(archive.get());
    return result == 1 ? 1 : Fail(error ? error : EIO);
}

int Destroy() {
    for (;;) {
        std::shared_ptr<Archive> archive;
        {
            std::lock_guard<std::mutex> guard(registryLock);
            if (owned.empty()) {
                break;
            }
            archive = *owned.begin();
        }
        std::lock_guard<std::mutex> guard(archive->lock);
        if (Unregister(archive.get())) {
            StopEngine(&archive->engine);
            if (archive->update) {
                Discard(archive.get());
            }
        }
    }
    currentLocale.store(0);
    return 1;
}

} // namespace client
} // namespace sfmpq

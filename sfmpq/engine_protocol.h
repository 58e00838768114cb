// The private channel between SFMpq.dll (the client, in the host's process)
// and its engine (sfmpq-engine, one process per archive handle).
//
// Three things connect them:
// - a SOCK_SEQPACKET socket pair: one Request message, one Reply message;
// - shared memory (shared_area.h): a control block and the work-ahead ring,
//   and a staging segment for bulk data (name lists in, listing records and
//   member data out);
// - two eventfds that wake a side sleeping on the ring.
// The socket and the eventfds wait at fixed descriptors in the engine.
//
// Every layout here is made of fixed-width fields, so a 32-bit client can
// talk to a 64-bit engine.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace sfmpq {
namespace engine {

// The descriptors the engine finds its channel at.
enum : int {
    kSocketFd = 3,
    kDataReadyFd = 4,  // the client sleeps on it: the ring has new records
    kSpaceReadyFd = 5, // the engine sleeps on it: the ring has room again
};

enum class Op : uint32_t {
    Probe = 1,       // path: whether the engine can open it as an archive
    OpenArchive,     // path: opens it read-only
    OpenForUpdate,   // path (the temporary copy), flags, value (maxFiles), exists
    GetInfo,         // value: info code
    List,            // flags: list flag; staging: the list text; reply: records
    OpenMember,      // name
    MemberSize,      // member
    ReadMember,      // member, value: count; reply: data in staging
    CloseMember,     // member
    StreamFrom,      // name: restart the work-ahead stream at this member
    AddFile,         // path (source), name, flags, value (compression)
    AddWave,         // path (source), name, flags, value (quality)
    DeleteMember,    // name
    SetMemberLocale, // name, value (old locale), value2 (new locale)
    FinishUpdate,    // flushes, compacts and closes the temporary copy
    VerifyWritten,   // path: the closed copy opens again, and is whole
};

constexpr uint32_t kMaxPath = 4096;
constexpr uint32_t kMaxName = 260;

struct Request {
    Op op;
    uint32_t locale; // the client's current locale
    uint32_t flags;
    uint32_t value;
    uint32_t value2;
    uint32_t exists;   // OpenForUpdate: the copy holds an existing archive
    uint64_t member;   // the engine's member id
    int32_t stagingId; // the staging segment now in use
    uint32_t reserved2;
    uint64_t stagingSize;   // and its size
    uint64_t fileSizeLimit; // RLIMIT_FSIZE for this request (0: none may be written)
    uint32_t stagingBytes;  // bytes of input in the staging area
    uint32_t reserved;
    char path[kMaxPath];
    char name[kMaxName];
    uint32_t reserved3; // the size stays a multiple of 8 for every compiler
};
static_assert(sizeof(Request) == 4424 && offsetof(Request, member) == 24 &&
                  offsetof(Request, stagingSize) == 40 && offsetof(Request, path) == 64,
              "one request layout for 32-bit and 64-bit builds");

struct Reply {
    int32_t ok;      // the operation's result: non-zero for success
    int32_t error;   // errno on failure
    uint32_t value;  // GetInfo, MemberSize (low part), ReadMember (bytes read)
    uint32_t high;   // MemberSize (high part)
    uint64_t member; // OpenMember: the member's id
};
static_assert(sizeof(Reply) == 24 && offsetof(Reply, member) == 16, "one reply layout");

// The control block at the start of the channel segment. Positions count bytes
// ever written to / consumed from the ring; the ring offset is the position
// modulo kRingSize.
struct Control {
    std::atomic<uint64_t> ringWritten;    // engine
    std::atomic<uint64_t> ringRead;       // client
    std::atomic<uint32_t> clientWaiting;  // the client sleeps on kDataReadyFd
    std::atomic<uint32_t> engineWaiting;  // the engine sleeps on kSpaceReadyFd
    std::atomic<uint32_t> requestPending; // a request is on its way
    std::atomic<uint32_t> streamDone;     // the stream has nothing more to produce
    std::atomic<uint64_t> progress;       // bumped by the engine as it works
};
static_assert(std::atomic<uint64_t>::is_always_lock_free, "shared 64-bit counters");
static_assert(sizeof(Control) == 40 && offsetof(Control, clientWaiting) == 16 &&
                  offsetof(Control, progress) == 32,
              "one control block layout for 32-bit and 64-bit builds");

constexpr uint64_t kControlSize = 4096;
// The work-ahead ring. Both processes touch all of it in a long extraction,
// so it counts twice in memory; 2 MiB keeps the engine a few members or
// pieces ahead, and 4 MiB extracted no faster.
constexpr uint64_t kRingSize = 2u << 20;
constexpr uint64_t kRingOffset = kControlSize;
constexpr uint64_t kInitialStaging = 1u << 20;

// The records of the work-ahead ring. Every record starts at a multiple of
// 32 bytes (the header's size) and never wraps: a Pad record fills the rest of the ring when the
// next one does not fit before its end.
enum class RecordType : uint32_t { Pad = 1, Begin, Data, End };

struct RecordHeader {
    RecordType type;
    uint32_t length;  // payload bytes after the header (Begin: the name)
    uint32_t locale;  // Begin: the locale the member was opened under
    int32_t error;    // Begin: the open failed; End: the read failed
    uint32_t sizeLow; // Begin: the member's size
    uint32_t sizeHigh;
    uint32_t sequence; // Begin: the member's index in the listing order
    uint32_t reserved;
};
static_assert(sizeof(RecordHeader) == 32, "ring record header");

inline uint64_t RecordSpan(uint32_t payload) {
    return (sizeof(RecordHeader) + uint64_t(payload) + 31) & ~uint64_t(31);
}

// "No such sequence": a member opened by a name the listing does not hold.
constexpr uint32_t kNoSequence = 0xFFFFFFFFu;

} // namespace engine
} // namespace sfmpq

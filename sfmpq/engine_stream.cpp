#include "sfmpq/engine_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sfmpq/engine_protocol.h"

namespace sfmpq {

using engine::kRingSize;
using engine::RecordHeader;
using engine::RecordSpan;
using engine::RecordType;

namespace {

// The most one Data record carries: what the host reads at a time.
constexpr uint64_t kMaxChunk = 1u << 20;
// A Data record smaller than this is not written where the ring's end is
// near; the ring wraps first.
constexpr uint64_t kMinChunk = 64u << 10;

} // namespace

void WorkAhead::RestartAt(Archive* archive, const char* name) {
    Stop();
    engine::Control* control = area_->control();
    control->ringWritten.store(0);
    control->ringRead.store(0);
    control->streamDone.store(0);
    archive_ = archive;
    uint32_t sequence = engine::kNoSequence;
    const OrderedNames& names = archive->listedNames;
    for (uint32_t i = 0; i < names.Size(); ++i) {
        if (names.Is(i, name)) {
            sequence = i;
            break;
        }
    }
    Start(name, sequence);
    next_ = sequence == engine::kNoSequence ? static_cast<uint32_t>(names.Size()) : sequence + 1;
}

void WorkAhead::Start(const char* name, uint32_t sequence) {
    HANDLE member = nullptr;
    int error = 0;
    uint64_t size = 0;
    if (OpenEngineMember(archive_, name, &member)) {
        DWORD high = 0;
        DWORD low = Storm()->GetFileSize(member, &high);
        size = (uint64_t(high) << 32) | low;
        if (low == SFILE_INVALID_SIZE) {
            error = StormErrno();
            Storm()->CloseFile(member);
            member = nullptr;
        }
    } else {
        error = errno ? errno : ENOENT;
    }
    WriteBegin(name, sequence, error, size);
    if (member) {
        BeginCheck(archive_->storm, member, name, size, &check_);
    }
    member_ = member;
    remaining_ = size;
    endPending_ = member != nullptr;
    endError_ = 0;
}

void WorkAhead::Stop() {
    if (member_) {
        Storm()->CloseFile(member_);
        member_ = nullptr;
    }
    archive_ = nullptr;
    endPending_ = false;
    area_->control()->streamDone.store(1);
}

uint64_t WorkAhead::Free() const {
    engine::Control* control = area_->control();
    return kRingSize - (control->ringWritten.load(std::memory_order_relaxed) -
                        control->ringRead.load(std::memory_order_acquire));
}

unsigned char* WorkAhead::Reserve(uint64_t span) {
    engine::Control* control = area_->control();
    uint64_t written = control->ringWritten.load(std::memory_order_relaxed);
    uint64_t offset = written % kRingSize;
    uint64_t toEnd = kRingSize - offset;
    uint64_t free = Free();
    if (toEnd < span) {
        // A Pad record to the end, then the record at the ring's start.
        if (free < toEnd + span) {
            return nullptr;
        }
        RecordHeader pad = {};
        pad.type = RecordType::Pad;
        pad.length = static_cast<uint32_t>(toEnd - sizeof pad);
        std::memcpy(area_->ring() + offset, &pad, sizeof pad);
        Publish(toEnd);
        return area_->ring();
    }
    return free >= span ? area_->ring() + offset : nullptr;
}

void WorkAhead::Publish(uint64_t span) {
    engine::Control* control = area_->control();
    control->ringWritten.fetch_add(span, std::memory_order_seq_cst);
    control->progress.fetch_add(1, std::memory_order_relaxed);
    if (control->clientWaiting.load(std::memory_order_seq_cst)) {
        SignalEvent(engine::kDataReadyFd);
    }
}

void WorkAhead::WriteBegin(const char* name, uint32_t sequence, int error, uint64_t size) {
    uint32_t length = static_cast<uint32_t>(strnlen(name, engine::kMaxName - 1));
    // Called only on an emptied ring or after Step found room.
    unsigned char* at = Reserve(RecordSpan(length));
    RecordHeader begin = {};
    begin.type = RecordType::Begin;
    begin.length = length;
    begin.locale = State.locale;
    begin.error = error;
    begin.sizeLow = static_cast<uint32_t>(size);
    begin.sizeHigh = static_cast<uint32_t>(size >> 32);
    begin.sequence = sequence;
    std::memcpy(at, &begin, sizeof begin);
    std::memcpy(at + sizeof begin, name, length);
    Publish(RecordSpan(length));
}

bool WorkAhead::WriteEnd(int error) {
    unsigned char* at = Reserve(RecordSpan(0));
    if (!at) {
        return false;
    }
    RecordHeader end = {};
    end.type = RecordType::End;
    end.error = error;
    std::memcpy(at, &end, sizeof end);
    Publish(RecordSpan(0));
    endPending_ = false;
    return true;
}

bool WorkAhead::WriteData() {
    engine::Control* control = area_->control();
    uint64_t offset = control->ringWritten.load(std::memory_order_relaxed) % kRingSize;
    uint64_t want = std::min(remaining_, kMaxChunk);
    uint64_t room = std::min(kRingSize - offset, Free());
    uint64_t chunk;
    if (room >= RecordSpan(static_cast<uint32_t>(std::min(want, kMinChunk)))) {
        chunk = std::min(want, room - sizeof(RecordHeader));
    } else {
        // Too near the end (or too full): wrap, or wait for room.
        chunk = std::min(want, kMinChunk);
    }
    unsigned char* at = Reserve(RecordSpan(static_cast<uint32_t>(chunk)));
    if (!at) {
        return false;
    }
    DWORD got = 0;
    Storm()->SetLastError(ERROR_SUCCESS);
    bool ok = Storm()->ReadFile(member_, at + sizeof(RecordHeader), static_cast<DWORD>(chunk), &got,
                                nullptr);
    int error = 0;
    if (!ok && Storm()->LastError() != ERROR_HANDLE_EOF) {
        error = StormErrno();
    }
    if (got > 0) {
        // A member that does not match its checksum fails with its last piece.
        if (int bad = CheckData(archive_->storm, &check_, at + sizeof(RecordHeader), got)) {
            error = bad;
        }
        RecordHeader data = {};
        data.type = RecordType::Data;
        data.length = got;
        data.error = error;
        std::memcpy(at, &data, sizeof data);
        Publish(RecordSpan(got));
    }
    remaining_ = got < chunk || error ? 0 : remaining_ - got;
    if (remaining_ == 0) {
        Storm()->CloseFile(member_);
        member_ = nullptr;
        endError_ = error;
    }
    return true;
}

void WorkAhead::OpenNext() {
    const OrderedNames& names = archive_->listedNames;
    if (next_ >= names.Size()) {
        Stop();
        return;
    }
    Start(names.At(next_), next_);
    ++next_;
}

bool WorkAhead::Step() {
    if (!archive_) {
        return false;
    }
    if (member_) {
        return WriteData();
    }
    if (endPending_) {
        return WriteEnd(endError_);
    }
    // A Begin record of the longest name must fit.
    if (Free() < RecordSpan(engine::kMaxName) * 2) {
        return false;
    }
    OpenNext();
    return true;
}

} // namespace sfmpq

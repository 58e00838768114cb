#include "sfmpq/stream_reader.h"

#include <cerrno>
#include <cstring>

namespace sfmpq {

using engine::kRingSize;
using engine::RecordHeader;
using engine::RecordSpan;
using engine::RecordType;

namespace {

// About 50 microseconds of polling before a side goes to sleep.
constexpr int kSpinRounds = 2000;

inline void CpuRelax() {
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#endif
}

// The record at the read position, or null when the engine has published
// nothing more.
const RecordHeader* Peek(EngineConnection* engine) {
    engine::Control* control = engine->area.control();
    uint64_t read = control->ringRead.load(std::memory_order_relaxed);
    if (read == control->ringWritten.load(std::memory_order_acquire)) {
        return nullptr;
    }
    return reinterpret_cast<const RecordHeader*>(engine->area.ring() + read % kRingSize);
}

void Consume(EngineConnection* engine, uint64_t span) {
    engine::Control* control = engine->area.control();
    control->ringRead.fetch_add(span, std::memory_order_seq_cst);
    if (control->engineWaiting.load(std::memory_order_seq_cst)) {
        SignalEvent(engine->spaceReady);
    }
}

// Waits for the engine's next record. False (errno set) when it is gone.
// The engine is usually a few microseconds from publishing it: a short spin
// finds it without the cost of sleeping and being woken across cores.
bool AwaitRecord(EngineConnection* engine) {
    for (int spin = 0; spin < kSpinRounds; ++spin) {
        if (Peek(engine)) {
            return true;
        }
        CpuRelax();
    }
    engine::Control* control = engine->area.control();
    control->clientWaiting.store(1, std::memory_order_seq_cst);
    bool ok = Peek(engine) != nullptr || WaitForStream(engine);
    control->clientWaiting.store(0, std::memory_order_relaxed);
    return ok;
}

bool SameName(const RecordHeader* begin, const char* name) {
    const char* listed = reinterpret_cast<const char*>(begin + 1);
    return std::strlen(name) == begin->length && std::memcmp(listed, name, begin->length) == 0;
}

int Restart(EngineConnection* engine, const char* name, uint32_t locale) {
    engine::Request request = NewRequest(engine::Op::StreamFrom);
    engine::Reply reply;
    request.locale = locale;
    if (!SetField(request.name, sizeof request.name, name)) {
        errno = ENAMETOOLONG;
        return 0;
    }
    ResetStream(engine);
    if (!CallEngine(engine, &request, &reply)) {
        return 0;
    }
    engine->streaming = true;
    return 1;
}

} // namespace

void ResetStream(EngineConnection* engine) {
    engine->streaming = false;
    engine->nextSequence = 0;
    engine->inMember = false;
    engine->dataOffset = 0;
}

int TakeStreamedMember(EngineConnection* engine, const char* name, uint32_t locale,
                       StreamedMember* member) {
    if (engine->failure) {
        errno = engine->failure;
        return 0;
    }
    bool restarted = false;
    if (!engine->streaming) {
        if (!Restart(engine, name, locale)) {
            return 0;
        }
        restarted = true;
    }
    for (;;) {
        const RecordHeader* record = Peek(engine);
        if (!record) {
            // Wait only for the member that comes next, at a member boundary;
            // anything else is quicker to ask for.
            bool next = !engine->inMember && engine->listed.MayBe(engine->nextSequence, name);
            if (next || restarted) {
                if (!AwaitRecord(engine)) {
                    return 0;
                }
                continue;
            }
            if (!Restart(engine, name, locale)) {
                return 0;
            }
            restarted = true;
            continue;
        }
        switch (record->type) {
        case RecordType::Pad:
        case RecordType::Data:
            Consume(engine, RecordSpan(record->length));
            engine->dataOffset = 0;
            continue;
        case RecordType::End:
            Consume(engine, RecordSpan(0));
            engine->inMember = false;
            continue;
        case RecordType::Begin:
            break;
        default:
            errno = EIO;
            return 0;
        }
        RecordHeader begin = *record;
        bool match = begin.locale == locale && SameName(record, name);
        engine->nextSequence = begin.sequence == engine::kNoSequence
                                   ? static_cast<uint32_t>(engine->listed.Size())
                                   : begin.sequence + 1;
        engine->inMember = begin.error == 0;
        engine->dataOffset = 0;
        Consume(engine, RecordSpan(begin.length));
        if (!match) {
            if (restarted) {
                // What the engine started with must be what was asked for.
                errno = EIO;
                return 0;
            }
            continue;
        }
        if (begin.error) {
            errno = begin.error;
            return 0;
        }
        member->size = (uint64_t(begin.sizeHigh) << 32) | begin.sizeLow;
        member->ended = false;
        member->endError = 0;
        return 1;
    }
}

int ReadStreamedMember(EngineConnection* engine, StreamedMember* member, void* buffer,
                       uint32_t count, uint32_t* read) {
    uint32_t copied = 0;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    while (copied < count && !member->ended) {
        const RecordHeader* record = Peek(engine);
        if (!record) {
            if (!AwaitRecord(engine)) {
                *read = copied;
                return 0;
            }
            continue;
        }
        if (record->type == RecordType::Data) {
            uint32_t available = record->length - engine->dataOffset;
            uint32_t take = count - copied < available ? count - copied : available;
            std::memcpy(out + copied,
                        reinterpret_cast<const unsigned char*>(record + 1) + engine->dataOffset,
                        take);
            copied += take;
            engine->dataOffset += take;
            if (engine->dataOffset == record->length) {
                int error = record->error;
                engine->dataOffset = 0;
                Consume(engine, RecordSpan(record->length));
                if (error) {
                    // The read that delivers the last byte of a damaged
                    // member fails.
                    member->ended = true;
                    member->endError = error;
                    *read = copied;
                    errno = error;
                    return 0;
                }
            }
        } else if (record->type == RecordType::Pad) {
            Consume(engine, RecordSpan(record->length));
        } else if (record->type == RecordType::End) {
            member->ended = true;
            member->endError = record->error;
            engine->inMember = false;
            Consume(engine, RecordSpan(0));
        } else {
            member->ended = true; // the next member's Begin: this one is over
        }
    }
    *read = copied;
    if (member->ended && member->endError && copied < count) {
        errno = member->endError;
        return 0;
    }
    return 1;
}

} // namespace sfmpq

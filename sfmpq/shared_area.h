// The shared memory between SFMpq.dll and its engine (engine_protocol.h): a
// fixed channel segment (the control block and the work-ahead ring) and a
// staging segment that the client replaces by a larger one when a request
// needs more room.
//
// The segments are System V shared memory, marked for removal as soon as the
// client has attached them (Linux lets the engine attach them after that), so
// that they go away with the last process that uses them. Unlike a memfd,
// their size does not count against the host's file-size limit
// (RLIMIT_FSIZE), which a host may have set low for its own reasons.
#pragma once

#include <cstdint>

#include "sfmpq/engine_protocol.h"

namespace sfmpq {

struct Segment {
    int id = -1;
    unsigned char* base = nullptr;
    uint64_t size = 0;
};

struct SharedArea {
    Segment channel; // control block and ring
    Segment staging; // bulk data of single requests

    engine::Control* control() const { return reinterpret_cast<engine::Control*>(channel.base); }
    unsigned char* ring() const { return channel.base + engine::kRingOffset; }
};

// Client: creates both segments. 0 or an errno value.
int CreateArea(SharedArea* area);

// Client: makes the staging segment hold at least `bytes`. 0 or an errno value.
int GrowStaging(SharedArea* area, uint64_t bytes);

// Client: replaces a staging segment grown beyond its initial size by one of
// that size, so that the room a listing's records took (tens of MiB for the
// largest tables) is not kept while the host goes on. Keeps the larger one
// when a new one cannot be made.
void ShrinkStaging(SharedArea* area);

// Client: maps `bytes` of the staging area from `offset` into this process
// in one step, for a reader about to go through them (a wish: without it
// each page comes at its fault).
void PrefaultStaging(const SharedArea* area, uint64_t offset, uint64_t bytes);

// Client: gives back this process's pages of the staging area that lie
// wholly within `bytes` from `offset`. Their contents stay in the segment
// (the engine's, and this side's at its next look); only this process's
// memory shrinks. A reader of many megabytes keeps the piece it is on.
void ReleaseStaging(const SharedArea* area, uint64_t offset, uint64_t bytes);

// Client: gives back this process's pages of the work-ahead ring, as
// ReleaseStaging does, between streams: a listing follows the reading of
// its name list through the ring, and an extraction maps them again.
void ReleaseRing(const SharedArea* area);

// Engine: attaches the segment `id` of `size` bytes in place of `segment`'s.
// 0 or an errno value.
int AttachSegment(Segment* segment, int id, uint64_t size);

// Detaches both segments.
void ReleaseArea(SharedArea* area);

// Wakes the side sleeping on the eventfd `fd`; empties it after a wake-up.
void SignalEvent(int fd);
void DrainEvent(int fd);

} // namespace sfmpq
